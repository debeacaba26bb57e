// TIEBitmap: moving the storage, relocation, row alignment, size changes and canvas resizing.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "iebitmap.h"
#include "uigraphics.h"

void TIEBitmap::MoveStorageTo(TIEBitmap* t) {
  if (!t || t == this) return;
  t->FreeStorage(true);
  t->Width = Width;
  t->Height = Height;
  t->BitCount = BitCount;
  t->ChannelCount = ChannelCount;
  t->CurrentRowView = CurrentRowView;
  t->RowLength = RowLength;
  t->PixelFormat = PixelFormat;
  t->Palette.swap(Palette);
  t->AlphaChannel = AlphaChannel;
  t->IsAlpha = IsAlpha;
  t->AlignedBlock = AlignedBlock;
  t->RawBlock = RawBlock;
  t->PlatformBitmap = PlatformBitmap;
  t->Location = Location;
  t->IsAll255 = IsAll255;
  t->PlatformBitmapNotOwned = PlatformBitmapNotOwned;
  t->RowTable.swap(RowTable);
  t->SegmentCount = SegmentCount;
  t->RowsPerSegment = RowsPerSegment;
  t->Segments.swap(Segments);
  t->FileBuffer.swap(FileBuffer);
  t->AcquiredViews.swap(AcquiredViews);
  t->AcquiredRows.swap(AcquiredRows);
  t->BlackWhiteMethod = BlackWhiteMethod;
  t->RowAlignment = RowAlignment;

  FileBuffer.reset(new TIEFileBuffer());
  AcquiredViews.clear();
  AcquiredRows.clear();
  RowTable.clear();
  Segments.clear();
  Palette.clear();
  Width = Height = BitCount = ChannelCount = RowLength = 0;
  SegmentCount = RowsPerSegment = 0;
  CurrentRowView = nullptr;
  PixelFormat = ieNoFormat;
  AlphaChannel = nullptr;
  AlignedBlock = nullptr;
  RawBlock = nullptr;
  PlatformBitmap = nullptr;
  IsAll255 = false;
  PlatformBitmapNotOwned = false;
  ReallocPending = true;
}

// Copies every row that both have from `source` (the smaller row length); the bytes of this bitmap
// beyond the source's rows and row length are cleared, so a grown image holds no stale memory.
void TIEBitmap::CopyRowsFrom(TIEBitmap* source) {
  TIEScopedRowAccess read(source, iraRead), write(this, iraWrite);
  int n = std::min(RowLength, source->RowLength), rows = std::min(Height, source->Height);
  for (int y = 0; y < Height; ++y) {
    uint8_t* d = GetRowAddress(y);
    if (y < rows) {
      std::memcpy(d, source->GetRowAddress(y), size_t(n));
      if (RowLength > n) std::memset(d + n, 0, size_t(RowLength - n));
    } else {
      std::memset(d, 0, size_t(RowLength));
    }
  }
}

void TIEBitmap::SetLocation(TIELocation location) {
  if (location == Location) return;
  ReallocPending = true;
  TIEBitmap tmp;
  MoveStorageTo(&tmp);
  Location = location;
  TIEPixelFormat f = tmp.PixelFormat;
  if (location == ieTBitmap && IEPlatformHeldFormat(f) != f) {
    // a platform bitmap cannot hold the samples: they are converted, not moved as raw bytes
    tmp.ConvertPixelFormat(IEPlatformHeldFormat(f));
    f = tmp.PixelFormat;
  }
  RowAlignment = location == ieTBitmap ? 32 : tmp.RowAlignment;
  BlackWhiteMethod = tmp.BlackWhiteMethod;
  if (!Allocate(tmp.Width, tmp.Height, f)) return;
  CopyRowsFrom(&tmp);
  if (!tmp.Palette.empty()) {
    Palette = tmp.Palette;
    UpdateTBitmapPalette();
  }
  IsAlpha = tmp.IsAlpha;
  AlphaChannel = tmp.DetachAlphaChannel();
}

void TIEBitmap::ResetPlatformTransform() {
  // a client that drew with a world transform must not leave it to the next one
  HDC dc = PlatformBitmap ? PlatformBitmap->GetDC() : nullptr;
  if (dc && GetGraphicsMode(dc) == GM_ADVANCED) ModifyWorldTransform(dc, nullptr, MWT_IDENTITY);
}

TIEPlatformBitmap* TIEBitmap::GetTBitmap() {
  SetLocation(ieTBitmap);
  ResetPlatformTransform();
  return PlatformBitmap;
}

ui::TCanvas* TIEBitmap::GetCanvas() {
  if (Location != ieTBitmap) SetLocation(ieTBitmap);
  auto* adapter = dynamic_cast<TIETBitmapAdapter*>(PlatformBitmap);
  if (Location != ieTBitmap || !adapter || IsEmpty()) return nullptr;
  ResetPlatformTransform();
  return adapter->GetCanvas();
}

void TIEBitmap::SetRowAlignment(int bits) {
  if (bits == RowAlignment) return;
  ReallocPending = true;
  if (Location != ieMemory) return;
  // row lengths are whole bytes: alignments that are not a positive multiple of 8 are refused
  if (bits <= 0 || bits % 8 != 0) return;
  TIEBitmap tmp;
  MoveStorageTo(&tmp);
  RowAlignment = bits;
  BlackWhiteMethod = tmp.BlackWhiteMethod;
  if (tmp.PixelFormat == ieNoFormat || tmp.Width == 0) return;
  if (!Allocate(tmp.Width, tmp.Height, tmp.PixelFormat)) return;
  CopyRowsFrom(&tmp);
  Palette = tmp.Palette;
  IsAll255 = tmp.IsAll255;
  if (tmp.AlphaChannel) GetAlphaChannel()->Assign(tmp.AlphaChannel);
}

void TIEBitmap::ResizeKeeping(int w, int h) {
  TIEBitmap tmp;
  MoveStorageTo(&tmp);
  RowAlignment = tmp.RowAlignment;
  BlackWhiteMethod = tmp.BlackWhiteMethod;
  bool ok = Allocate(w, h, tmp.PixelFormat);
  if (ok) {
    CopyRowsFrom(&tmp);
    if (!tmp.Palette.empty()) {
      Palette = tmp.Palette;
      UpdateTBitmapPalette();
    }
  }
  if (tmp.AlphaChannel) {
    // the alpha channel was resized first: it is taken back as it is
    AlphaChannel = tmp.DetachAlphaChannel();
  }
  IsAll255 = false;
}

void TIEBitmap::SetImageWidth(int w) {
  SyncWithTBitmap();
  if (w == Width) return;
  if (AlphaChannel) AlphaChannel->SetImageWidth(w);
  if (Location == ieTBitmap || (PixelFormat != ieNoFormat && Height > 0))
    ResizeKeeping(w, Height);
  else
    Width = w;
}

void TIEBitmap::SetImageHeight(int h) {
  SyncWithTBitmap();
  if (h == Height) return;
  if (AlphaChannel) AlphaChannel->SetImageHeight(h);
  if (Location == ieTBitmap || (PixelFormat != ieNoFormat && Width > 0))
    ResizeKeeping(Width, h);
  else
    Height = h;
}

void TIEBitmap::MoveRect(int x1, int y1, int x2, int y2, int destX, int destY, double fill, bool fillFirst) {
  int w = x2 - x1 + 1, h = y2 - y1 + 1;
  if (w <= 0 || h <= 0) return;
  TIEBitmap tmp;
  tmp.Location = ieMemory;
  if (!tmp.Allocate(w, h, GetPixelFormat())) return;
  CopyRectTo(&tmp, x1, y1, 0, 0, w, h);
  if (fillFirst) FillRect(x1, y1, x2, y2, fill);
  tmp.CopyRectTo(this, 0, 0, destX, destY, w, h);
}

void TIEBitmap::ResizeCanvas(int newWidth, int newHeight, double fill, int alphaFill, uint8_t hPlace, uint8_t vPlace) {
  SyncWithTBitmap();
  const int W = Width, H = Height;
  TIEBitmap* alpha = AlphaChannel;
  // 1. shrinking: the kept part moves to the top left first
  if (newWidth < W && (hPlace == 1 || hPlace == 2)) {
    int from = hPlace == 1 ? (W - newWidth) / 2 : W - newWidth;
    MoveRect(from, 0, from + newWidth - 1, H - 1, 0, 0, fill, true);
    if (alpha) alpha->MoveRect(from, 0, from + newWidth - 1, H - 1, 0, 0, alphaFill, true);
  }
  if (newHeight < H && (vPlace == 1 || vPlace == 2)) {
    int from = vPlace == 1 ? (H - newHeight) / 2 : H - newHeight;
    MoveRect(0, from, W - 1, from + newHeight - 1, 0, 0, fill, true);
    if (alpha) alpha->MoveRect(0, from, W - 1, from + newHeight - 1, 0, 0, alphaFill, true);
  }
  // 2. the content stays at the top left
  SetImageWidth(newWidth);
  SetImageHeight(newHeight);
  alpha = AlphaChannel;
  // 3. growing: fill the new part, then move the old content into place
  auto grow = [&](TIEBitmap* b, double value) {
    if (!b) return;
    if (W < newWidth) {
      b->FillRect(W, 0, newWidth - 1, newHeight - 1, value);
      if (hPlace == 1 || hPlace == 2) {
        int shift = hPlace == 1 ? (newWidth - W) / 2 : newWidth - W;
        b->MoveRect(0, 0, W - 1, std::min(H, newHeight) - 1, shift, 0, value, true);
      }
    }
    if (H < newHeight) {
      b->FillRect(0, H, newWidth - 1, newHeight - 1, value);
      if (vPlace == 1 || vPlace == 2) {
        int shift = vPlace == 1 ? (newHeight - H) / 2 : newHeight - H;
        b->MoveRect(0, 0, newWidth - 1, H - 1, 0, shift, value, true);
      }
    }
  };
  grow(this, fill);
  grow(alpha, alphaFill);
}
