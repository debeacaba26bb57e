#include "gifgraphic.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "uibitmap.h"
#include "uiclipbrd.h"
#include "uipicture.h"
#include "uistreams.h"

UI_IMPLEMENT_CLASS(TGIFImage, ui::TGraphic, ui::DefaultFactory<TGIFImage>, nullptr, nullptr, nullptr)

bool GIFScreenIsPaletted = false;

// --- bitmap as a picture of the codec ---

TBitmapPixelSource::TBitmapPixelSource(ui::TBitmap* bitmap) : bitmap_(bitmap) {
  if (!bitmap || bitmap->Empty()) {
    bitmap_ = nullptr;
    return;
  }
  switch (bitmap->GetPixelFormat()) {
    case ui::pf1bit: bits_ = 1; break;
    case ui::pf4bit: bits_ = 4; break;
    case ui::pf8bit: bits_ = 8; break;
    case ui::pf24bit: bits_ = 24; break;
    default:
      // 15-, 16- and 32-bit rows are not what the codec reads: GDI converts a copy to 24 bits.
      copy_ = new ui::TBitmap;
      try {
        copy_->Assign(bitmap);
        copy_->SetPixelFormat(ui::pf24bit);
      } catch (...) {
        ui::FreeAndNil(copy_);
        throw;
      }
      bitmap_ = copy_;
      bits_ = 24;
  }
  width_ = bitmap_->GetWidth();
  height_ = bitmap_->GetHeight();
  if (bits_ <= 8) {
    const BITMAPINFOHEADER& h = bitmap_->Info()->bmiHeader;
    const uint32_t most = 1u << bits_;
    const uint32_t count = h.biClrUsed == 0 ? most : std::min<uint32_t>(h.biClrUsed, most);
    const RGBQUAD* table = bitmap_->Info()->bmiColors;
    palette_.reserve(count);
    for (uint32_t i = 0; i < count; ++i) palette_.push_back({table[i].rgbRed, table[i].rgbGreen, table[i].rgbBlue});
  }
}

TBitmapPixelSource::~TBitmapPixelSource() { ui::FreeAndNil(copy_); }

const uint8_t* TBitmapPixelSource::Row(int y) const { return static_cast<const uint8_t*>(bitmap_->ScanLine(y)); }

// --- stream bridge ---

size_t TGIFStreamAdapter::Read(void* buffer, size_t count) {
  auto* p = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < count) {
    const int32_t want = int32_t(std::min<size_t>(count - done, size_t(std::numeric_limits<int32_t>::max())));
    const int32_t got = stream_->Read(p + done, want);
    if (got <= 0) break;
    done += size_t(got);
  }
  return done;
}

void TGIFStreamAdapter::Write(const void* buffer, size_t count) {
  const auto* p = static_cast<const uint8_t*>(buffer);
  while (count > 0) {
    const int32_t n = int32_t(std::min<size_t>(count, size_t(std::numeric_limits<int32_t>::max())));
    stream_->WriteBuffer(p, n);
    p += n;
    count -= size_t(n);
  }
}

uint64_t TGIFStreamAdapter::Position() const { return uint64_t(stream_->GetPosition()); }
void TGIFStreamAdapter::SetPosition(uint64_t position) { stream_->SetPosition(int64_t(position)); }
uint64_t TGIFStreamAdapter::Size() const { return uint64_t(stream_->GetSize()); }

// --- the image as a graphic ---

void TGIFImage::DropComposite() {
  // What is about to change must not be on show.
  HaltAllPainters();
  ui::FreeAndNil(composite_);
}

void TGIFImage::LoadFromStream(ui::TStream* stream) {
  TGIFStreamAdapter adapter(stream);
  LoadFromStream(adapter);
  Changed();
}

void TGIFImage::SaveToStream(ui::TStream* stream) {
  TGIFStreamAdapter adapter(stream);
  SaveToStream(adapter);
}

void TGIFImage::Assign(ui::TPersistent* source) {
  if (source == this) return;
  if (!source) {
    Clear();
    Changed();
    return;
  }
  if (auto* gif = ui::As<TGIFImage>(source)) {
    Assign(*gif);
    Changed();
    return;
  }
  if (auto* picture = ui::As<ui::TPicture>(source)) {
    Assign(picture->GetGraphic());
    return;
  }
  if (auto* bitmap = ui::As<ui::TBitmap>(source)) {
    TBitmapPixelSource pixels(bitmap);
    Assign(pixels);
    Changed();
    return;
  }
  if (auto* graphic = ui::As<ui::TGraphic>(source)) {
    // Other graphics (icons) are drawn into a 24-bit bitmap of their size, which then becomes the frame.
    ui::TBitmap drawn;
    drawn.SetPixelFormat(ui::pf24bit);
    if (!graphic->Empty()) {
      drawn.SetSize(graphic->GetWidth(), graphic->GetHeight());
      drawn.Canvas()->Draw(0, 0, graphic);
    }
    TBitmapPixelSource pixels(&drawn);
    Assign(pixels);
    Changed();
    return;
  }
  inherited::Assign(source);
}

void TGIFImage::AssignTo(ui::TPersistent* dest) {
  if (auto* bitmap = ui::As<ui::TBitmap>(dest)) {
    if (ui::TBitmap* composite = CompositeBitmap()) {
      bitmap->Assign(composite);
    } else {
      ui::TBitmap empty;
      bitmap->Assign(&empty);
    }
    return;
  }
  inherited::AssignTo(dest);
}

void TGIFImage::LoadFromClipboardFormat(UINT format, HANDLE data, HPALETTE palette) {
  if (!data) data = ui::Clipboard()->GetAsHandle(format);
  if (format == CF_GIF && format != 0 && data) {
    // The block stays the clipboard's: its bytes are copied before they are read.
    const SIZE_T size = GlobalSize(data);
    const void* bytes = GlobalLock(data);
    if (!bytes) RaiseGIFError("Unsupported clipboard format");
    ui::TMemoryStream stream;
    try {
      stream.SetSize(static_cast<int64_t>(size));
      std::memcpy(stream.Memory(), bytes, size);
    } catch (...) {
      GlobalUnlock(data);
      throw;
    }
    GlobalUnlock(data);
    stream.Seek(0, ui::soBeginning);
    LoadFromStream(&stream);
    return;
  }
  if (format == CF_BITMAP && data) {
    ui::TBitmap bitmap;
    bitmap.LoadFromClipboardFormat(format, data, palette);
    Assign(&bitmap);
    return;
  }
  inherited::LoadFromClipboardFormat(format, data, palette);
}

void TGIFImage::SaveToClipboardFormat(UINT& format, HANDLE& data, HPALETTE& palette) {
  if (Empty()) return;
  // The picture as a bitmap goes out through the arguments; the GIF data itself is put on the
  // clipboard under its own format (the caller holds the clipboard open).
  CompositeBitmap()->SaveToClipboardFormat(format, data, palette);
  HGLOBAL block = nullptr;
  try {
    ui::TMemoryStream stream;
    SaveToStream(&stream);
    block = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, static_cast<SIZE_T>(stream.GetSize()));
    void* p = block ? GlobalLock(block) : nullptr;
    if (!p) RaiseGIFError("Failed to store GIF on clipboard");
    std::memcpy(p, stream.Memory(), static_cast<size_t>(stream.GetSize()));
    GlobalUnlock(block);
    if (!SetClipboardData(CF_GIF, block)) RaiseGIFError("Failed to store GIF on clipboard");
  } catch (...) {
    if (block) GlobalFree(block);
    // Nothing half-given: the bitmap handed out above is taken back too.
    if (data) DeleteObject(data);
    if (palette) DeleteObject(palette);
    data = nullptr;
    palette = nullptr;
    throw;
  }
}

ui::TBitmap* TGIFImage::CompositeBitmap() {
  if (composite_ || Empty() || Width() <= 0 || Height() <= 0) return composite_;
  auto* bitmap = new ui::TBitmap;  // white when made
  try {
    bitmap->SetPixelFormat(ui::pf24bit);
    bitmap->SetSize(Width(), Height());
    TGIFSubImage& frame = images_[0];
    const TGIFPalette& colors = frame.ActiveColorMap().Entries();
    const int left = frame.Left(), top = frame.Top();
    const int right = std::min(Width(), left + frame.Width());
    const int bottom = std::min(Height(), top + frame.Height());
    const bool hasPixels = frame.Pixels().size() >= size_t(frame.Width()) * size_t(frame.Height());
    if (hasPixels && !colors.empty()) {
      for (int y = top; y < bottom; ++y) {
        const uint8_t* src = frame.Pixels().data() + size_t(y - top) * size_t(frame.Width());
        auto* dst = static_cast<uint8_t*>(bitmap->ScanLine(y));
        for (int x = left; x < right; ++x) {
          // An index beyond the map shows its first colour, as the map's own lookup does.
          const uint8_t index = src[x - left];
          const TGIFColor& c = colors[index < colors.size() ? index : 0];
          uint8_t* p = dst + 3 * size_t(x);
          p[0] = c.Blue;
          p[1] = c.Green;
          p[2] = c.Red;
        }
      }
    }
  } catch (...) {
    bitmap->Free();
    throw;
  }
  composite_ = bitmap;
  return composite_;
}

// --- registration ---

static int initCount = 0;
UINT CF_GIF = 0;

void GIFImageInitialize() {
  if (initCount++ > 0) return;
  ui::TPicture::RegisterFileFormat("gif", "GIF Image", &TGIFImage::StaticClassInfo);
  CF_GIF = RegisterClipboardFormatA("GIF Image");
  if (CF_GIF) ui::TPicture::RegisterClipboardFormat(CF_GIF, &TGIFImage::StaticClassInfo);
  HDC dc = GetDC(nullptr);
  if (dc) {
    GIFScreenIsPaletted = GetDeviceCaps(dc, BITSPIXEL) * GetDeviceCaps(dc, PLANES) < 9;
    ReleaseDC(nullptr, dc);
  }
}

void GIFImageFinalize() {
  if (initCount == 0 || --initCount > 0) return;
  ui::TPicture::UnregisterGraphicClass(&TGIFImage::StaticClassInfo);
}

namespace {
// Start-up and shut-down of the unit: any program that uses TGIFImage links this file (it holds the
// class information), so the format is registered before main runs.
struct TGIFUnit {
  TGIFUnit() { GIFImageInitialize(); }
  ~TGIFUnit() { GIFImageFinalize(); }
} gifUnit;
}  // namespace
