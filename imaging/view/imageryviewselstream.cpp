// The state of the view's selection as a stream record (mask size, polygon store, where the current
// layer stood, the mask's rows), written for the undo stack and for the stack of saved states that
// carries a selection over a change of the current layer.
//
// Record, every integer int32 little-endian: mask width, height; n; n points (x, y); polygon bounds
// x1, y1, x2, y2; selection-present byte; layer PosX, PosY; mask bits per pixel (1 or 8); mask box
// x1, y1, x2, y2; all-set byte; then height rows of the mask's row length, in the order the mask
// keeps them (bottom row first).
#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "iebitmap.h"
#include "ielayer.h"
#include "iemask.h"
#include "iestreams.h"
#include "imageryview.h"

namespace {
// A selection is never larger than an image the library can hold.
constexpr int64_t kMaxSelectionDimension = 1 << 20;

void WriteI32(TIEStream& s, int32_t v) {
  const uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(uint32_t(v) >> 24)};
  s.WriteBuffer(b, 4);
}

void WriteU8(TIEStream& s, bool v) {
  const uint8_t b = v ? 1 : 0;
  s.WriteBuffer(&b, 1);
}

// Reads from the stream, counting down what it still holds; false once a read comes up short.
struct RecordReader {
  TIEStream& s;
  int64_t left;
  bool ok = true;
  int32_t I32() {
    uint8_t b[4] = {};
    if (!Bytes(b, 4)) return 0;
    return int32_t(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24);
  }
  bool U8() {
    uint8_t b = 0;
    Bytes(&b, 1);
    return b != 0;
  }
  bool Bytes(void* p, int64_t n) {
    if (!ok || n > left || n > INT32_MAX || s.Read(p, int32_t(n)) != int32_t(n)) {
      ok = false;
      return false;
    }
    left -= n;
    return true;
  }
};

int64_t MaskRowLength(int64_t width, int bitsPerPixel) { return (width * bitsPerPixel + 31) / 32 * 4; }

// The mask's rows in storage order: GetRowAddress(height - 1) first.
void CopyRowsOut(TIEMask* mask, std::vector<uint8_t>& out) {
  out.resize(size_t(mask->RowLength) * size_t(mask->Height));
  for (int i = 0; i < mask->Height; ++i)
    std::memcpy(out.data() + size_t(i) * size_t(mask->RowLength), mask->GetRowAddress(mask->Height - 1 - i),
                size_t(mask->RowLength));
}
}  // namespace

void TImageryView::WriteSelectionStream(TIEStream& stream) {
  TIEMask* mask = SelectionMask;
  TIEPolygonStore* store = SelectionPolygon;
  WriteI32(stream, mask->Width);
  WriteI32(stream, mask->Height);
  WriteI32(stream, store->Count);
  for (int i = 0; i < store->Count; ++i) {
    WriteI32(stream, store->Points[size_t(i)].x);
    WriteI32(stream, store->Points[size_t(i)].y);
  }
  WriteI32(stream, store->X1);
  WriteI32(stream, store->Y1);
  WriteI32(stream, store->X2);
  WriteI32(stream, store->Y2);
  WriteU8(stream, SelectionPresent);
  TIELayer* layer = GetCurrentLayer();
  WriteI32(stream, layer->PosX);
  WriteI32(stream, layer->PosY);
  WriteI32(stream, mask->MaskBitDepth);
  WriteI32(stream, mask->BoxX1);
  WriteI32(stream, mask->BoxY1);
  WriteI32(stream, mask->BoxX2);
  WriteI32(stream, mask->BoxY2);
  WriteU8(stream, mask->AllSet());
  std::vector<uint8_t> rows;
  CopyRowsOut(mask, rows);
  if (!rows.empty()) stream.WriteBuffer(rows.data(), int32_t(rows.size()));
}

bool TImageryView::ReadSelectionStream(TIEStream& stream, int mode) {
  // Everything is read and checked before anything of the view changes: a damaged or hostile record
  // leaves the selection as it was.
  RecordReader in{stream, std::max<int64_t>(0, stream.GetSize() - stream.GetPosition())};
  const int32_t w = in.I32(), h = in.I32(), n = in.I32();
  if (!in.ok || w < 0 || h < 0 || w > kMaxSelectionDimension || h > kMaxSelectionDimension || n < 0 ||
      int64_t(n) * 8 > in.left)
    return false;
  std::vector<POINT> points(static_cast<size_t>(n));
  for (POINT& p : points) {
    p.x = in.I32();
    p.y = in.I32();
  }
  int32_t bounds[4];
  for (int32_t& v : bounds) v = in.I32();
  const bool present = in.U8();
  const int32_t px = in.I32(), py = in.I32(), bits = in.I32();
  int32_t box[4];
  for (int32_t& v : box) v = in.I32();
  in.U8();  // the all-set flag: recounted from the rows
  if (!in.ok || (bits != 1 && bits != 8)) return false;
  const int64_t rowLength = MaskRowLength(w, bits);
  if (rowLength * h > in.left) return false;
  std::vector<uint8_t> rows(size_t(rowLength * h));
  if (!rows.empty() && !in.Bytes(rows.data(), int64_t(rows.size()))) return false;
  (void)box;  // the box is recomputed from the rows, which it must describe

  TIEPolygonStore* store = SelectionPolygon;
  store->Points = std::move(points);
  store->Count = n;
  store->X1 = bounds[0];
  store->Y1 = bounds[1];
  store->X2 = bounds[2];
  store->Y2 = bounds[3];
  SelectionPresent = present;
  // the mask object stays the same: the processing component holds it
  TIEMask* mask = SelectionMask;
  if (w > 0 && h > 0 && mask->Allocate(w, h, bits)) {
    for (int i = 0; i < h; ++i)
      std::memcpy(mask->GetRowAddress(h - 1 - i), rows.data() + size_t(i) * size_t(rowLength), size_t(rowLength));
    mask->RecomputeBoundingBox();
    mask->CheckAllSet();
  } else {
    mask->Free();
    mask->Width = mask->Height = 0;
    mask->BoxX1 = INT_MAX;
  }
  rows.clear();
  SuspendUpdates();

  const int bw = IEBitmap->GetImageWidth(), bh = IEBitmap->GetImageHeight();
  if (mode == 2) {
    // re-anchored: what lay at (x, y) of the layer the record was written on lies at
    // (x + px - PosX, y + py - PosY) of the current one
    ClearPolygon(store);
    TIELayer* layer = GetCurrentLayer();
    const int64_t dx = int64_t(px) - layer->PosX, dy = int64_t(py) - layer->PosY;
    TIEMask moved;
    moved.Allocate(bw, bh, bits);
    if (!mask->IsEmpty())
      for (int y = mask->BoxY1; y <= mask->BoxY2; ++y) {
        const int64_t ty = y + dy;
        if (ty < 0 || ty >= bh) continue;
        for (int x = mask->BoxX1; x <= mask->BoxX2; ++x) {
          const int64_t tx = x + dx;
          if (tx < 0 || tx >= bw) continue;
          const int v = mask->GetPixel(x, y);
          if (v) moved.SetPixel(int(tx), int(ty), bits == 1 ? 1 : v);
        }
      }
    mask->Allocate(bw, bh, bits);
    for (int y = 0; y < bh; ++y) std::memcpy(mask->GetRowAddress(y), moved.GetRowAddress(y), size_t(mask->RowLength));
    mask->RecomputeBoundingBox();
    mask->CheckAllSet();
  } else if (bw != w || bh != h) {
    if (SelectionMask->IsEmpty() || w == 0 || h == 0) {
      SelectionMask->Allocate(bw, bh, bits);
    } else {
      if (mode == 1) {
        // brought back inside a smaller image: the right (bottom) edge lands on the last column (row)
        int mx = 0, my = 0;
        if (bw <= SelectionMask->BoxX2) mx = bw - SelectionMask->BoxX2 - 1;
        if (bh <= SelectionMask->BoxY2) my = bh - SelectionMask->BoxY2 - 1;
        if (mx != 0 || my != 0) SelectionMask->Translate(mx, my, true);
      }
      SelectionMask->Resize(bw, bh);
      SelectionMask->RecomputeBoundingBox();
      SelectionMask->CheckAllSet();
    }
  }

  if (SelectionMask->IsEmpty()) {
    Deselect();
  } else {
    SelectionPresent = true;
    ShowSelection(true);
  }
  ResumeUpdates();
  return true;
}

void TImageryView::PushSelection() {
  auto* stream = new TIEMemoryStream();
  try {
    WriteSelectionStream(*stream);
  } catch (...) {
    delete stream;
    throw;
  }
  SelectionStack.push_back(stream);
}

bool TImageryView::PopSelection(bool remove, int mode) {
  if (SelectionStack.empty()) return false;
  TIEMemoryStream* stream = SelectionStack.back();
  stream->SetPosition(0);
  const bool ok = ReadSelectionStream(*stream, mode);
  if (remove) {
    SelectionStack.pop_back();
    delete stream;
  }
  return ok;
}
