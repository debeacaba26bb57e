#include "gifgraphic.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "gifcolorreduction.h"
#include "gifextension.h"
#include "gifpainter.h"
#include "uibitmap.h"
#include "uiclipbrd.h"
#include "uimetafile.h"
#include "uipicture.h"
#include "uistreams.h"
#include "uisysutils.h"

UI_IMPLEMENT_CLASS(TGIFImage, ui::TGraphic, ui::DefaultFactory<TGIFImage>, nullptr, nullptr, nullptr)

bool GIFScreenIsPaletted = false;

namespace {

size_t RowBytes24(int width) { return (size_t(width) * 3 + 3) & ~size_t(3); }

// A DIB section of `bits` bits per pixel with top-down rows, and the memory DC it is selected into.
class TDib {
 public:
  TDib(int width, int height, int bits, const RGBQUAD* colors, int colorCount) {
    struct {
      BITMAPINFOHEADER header;
      RGBQUAD colors[2];
    } info = {};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = width;
    info.header.biHeight = -height;
    info.header.biPlanes = 1;
    info.header.biBitCount = WORD(bits);
    info.header.biCompression = BI_RGB;
    info.header.biClrUsed = DWORD(colorCount);
    for (int i = 0; i < colorCount && i < 2; ++i) info.colors[i] = colors[i];
    handle_ = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits_, nullptr, 0);
    if (!handle_) RaiseGIFError("Out of system resources");
    dc_ = CreateCompatibleDC(nullptr);
    if (!dc_) {
      DeleteObject(handle_);
      RaiseGIFError("Out of system resources");
    }
    old_ = SelectObject(dc_, handle_);
  }
  ~TDib() {
    SelectObject(dc_, old_);
    DeleteDC(dc_);
    DeleteObject(handle_);
  }
  TDib(const TDib&) = delete;
  TDib& operator=(const TDib&) = delete;
  uint8_t* Bits() const { return static_cast<uint8_t*>(bits_); }
  HDC DC() const { return dc_; }

 private:
  HBITMAP handle_ = nullptr;
  void* bits_ = nullptr;
  HDC dc_ = nullptr;
  HGDIOBJ old_ = nullptr;
};

// Draws `picture` (w x h) stretched into `d`, leaving the target as it was where `mask` is set: the
// target is ANDed with the mask (white where transparent) and ORed with the picture, whose masked
// pixels are black.
void TransparentBlit(HDC dc, const RECT& d, const TDib& picture, const TDib& mask, int w, int h) {
  const int dw = d.right - d.left, dh = d.bottom - d.top;
  StretchBlt(dc, d.left, d.top, dw, dh, mask.DC(), 0, 0, w, h, SRCAND);
  StretchBlt(dc, d.left, d.top, dw, dh, picture.DC(), 0, 0, w, h, SRCPAINT);
}

// The frame's pixels as BGR rows `stride` bytes apart in its active map's colours (an index beyond the
// map shows its first colour), dithered to the 216-colour cube when asked. Pixels of index `clear` are
// black (so that a masked picture ORs nothing onto a canvas there), left out of the dithering and
// marked in `skip` (one byte per pixel); true when there are any.
bool ColorRows(TGIFSubImage& frame, int clear, bool dither, uint8_t* rows, size_t stride, std::vector<uint8_t>& skip) {
  const int w = frame.Width(), h = frame.Height();
  const TGIFPalette& colors = frame.ActiveColorMap().Entries();
  skip.assign(clear >= 0 ? size_t(w) * size_t(h) : 0, 0);
  bool anyClear = false;
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = &frame.Pixels()[size_t(y) * size_t(w)];
    uint8_t* dst = rows + stride * size_t(y);
    for (int x = 0; x < w; ++x) {
      uint8_t* p = dst + 3 * size_t(x);
      if (src[x] == clear) {
        p[0] = p[1] = p[2] = 0;
        skip[size_t(y) * size_t(w) + size_t(x)] = 1;
        anyClear = true;
        continue;
      }
      const TGIFColor c = colors.empty() ? TGIFColor{0, 0, 0} : colors[src[x] < colors.size() ? src[x] : 0];
      p[0] = c.Blue;
      p[1] = c.Green;
      p[2] = c.Red;
    }
  }
  if (dither) DitherToWebSafe(rows, stride, w, h, anyClear ? skip.data() : nullptr);
  return anyClear;
}

}  // namespace

std::vector<uint8_t> MaskFromMonochrome(HBITMAP bitmap, int width, int height) {
  std::vector<uint8_t> mask;
  BITMAP bm = {};
  if (!bitmap || width <= 0 || height <= 0 || !GetObjectA(bitmap, sizeof bm, &bm) || bm.bmWidth < width ||
      bm.bmHeight < height)
    return mask;
  struct {
    BITMAPINFOHEADER header;
    RGBQUAD colors[2];
  } info = {};
  info.header.biSize = sizeof(BITMAPINFOHEADER);
  info.header.biWidth = bm.bmWidth;
  info.header.biHeight = -bm.bmHeight;
  info.header.biPlanes = 1;
  info.header.biBitCount = 1;
  info.header.biCompression = BI_RGB;
  const size_t stride = (size_t(bm.bmWidth) + 31) / 32 * 4;
  std::vector<uint8_t> bits(stride * size_t(bm.bmHeight));
  HDC screen = GetDC(nullptr);
  const int rows =
      GetDIBits(screen, bitmap, 0, UINT(bm.bmHeight), bits.data(), reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  if (rows <= 0) return mask;
  // The bits index the colour table GetDIBits filled in: the set pixels are the white ones.
  const bool oneIsSet = info.colors[1].rgbRed + info.colors[1].rgbGreen + info.colors[1].rgbBlue >=
                        info.colors[0].rgbRed + info.colors[0].rgbGreen + info.colors[0].rgbBlue;
  mask.resize(size_t(width) * size_t(height));
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = &bits[stride * size_t(y)];
    for (int x = 0; x < width; ++x) {
      const bool one = ((row[x >> 3] >> (7 - (x & 7))) & 1) != 0;
      mask[size_t(y) * size_t(width) + size_t(x)] = one == oneIsSet ? 1 : 0;
    }
  }
  return mask;
}

bool GIFDitherWanted(uint16_t drawOptions) {
  if (!(drawOptions & goDither)) return false;
  return (drawOptions & goAutoDither) ? GIFScreenIsPaletted : true;
}

bool TGIFImage::DitherWanted() const { return GIFDitherWanted(DrawOptions); }

// --- drawing one frame ---

void TGIFSubImage::DrawInto(ui::TCanvas* canvas, const RECT& target, bool tiled, bool transparent) {
  TGIFImage* image = Image();
  const int w = Width(), h = Height();
  if (!image || Empty() || image->Width() <= 0 || image->Height() <= 0 || pixels_.size() < size_t(w) * size_t(h))
    return;
  const int clear = transparent && transparent_ && graphicControl_ ? graphicControl_->TransparentColorIndex() : -1;
  const RGBQUAD monochrome[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
  TDib picture(w, h, 24, nullptr, 0);
  std::vector<uint8_t> skip;
  const size_t stride = RowBytes24(w);
  const bool dither = image->DitherWanted();
  const bool anyClear = ColorRows(*this, clear, dither, picture.Bits(), stride, skip);
  std::unique_ptr<TDib> mask;
  if (anyClear) {
    mask = std::make_unique<TDib>(w, h, 1, monochrome, 2);
    const size_t maskStride = (size_t(w) + 31) / 32 * 4;
    std::memset(mask->Bits(), 0, maskStride * size_t(h));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (skip[size_t(y) * size_t(w) + size_t(x)]) mask->Bits()[maskStride * size_t(y) + size_t(x >> 3)] |= uint8_t(0x80 >> (x & 7));
  }
  GdiFlush();

  canvas->Lock();
  HDC dc = canvas->GetHandle();
  const int saved = SaveDC(dc);
  if (tiled) IntersectClipRect(dc, target.left, target.top, target.right, target.bottom);
  HPALETTE cube = dither ? GIFMakePalette(CreateWebSafePalette()) : nullptr;
  if (cube) {
    SelectPalette(dc, cube, FALSE);
    RealizePalette(dc);
  }
  SetStretchBltMode(dc, COLORONCOLOR);
  auto blit = [&](const RECT& d) {
    if (mask)
      TransparentBlit(dc, d, picture, *mask, w, h);
    else
      StretchBlt(dc, d.left, d.top, d.right - d.left, d.bottom - d.top, picture.DC(), 0, 0, w, h, SRCCOPY);
  };
  const int screenW = image->Width(), screenH = image->Height();
  if (!tiled) {
    const int tw = target.right - target.left, th = target.bottom - target.top;
    blit(RECT{target.left + MulDiv(Left(), tw, screenW), target.top + MulDiv(Top(), th, screenH),
              target.left + MulDiv(Left() + w, tw, screenW), target.top + MulDiv(Top() + h, th, screenH)});
  } else {
    ForEachTile(dc, target, screenW, screenH,
                [&](int tx, int ty) { blit(RECT{tx + Left(), ty + Top(), tx + Left() + w, ty + Top() + h}); });
  }
  RestoreDC(dc, saved);
  if (cube) DeleteObject(cube);
  GdiFlush();
  canvas->Unlock();
}

void TGIFSubImage::RenderBitmap(ui::TBitmap* bitmap) {
  TGIFImage* image = Image();
  const int w = Width(), h = Height();
  const bool dither = image && image->DitherWanted();
  const int clear = transparent_ && graphicControl_ ? graphicControl_->TransparentColorIndex() : -1;
  TGIFPalette colors = dither ? CreateWebSafePalette() : ActiveColorMap().Entries();
  if (colors.empty()) colors.push_back({0, 0, 0});
  // The transparent pixels get an entry of their own, of a colour no other entry has: the bitmap's
  // transparency goes by colour.
  int key = -1;
  if (clear >= 0 && !Empty()) {
    key = dither ? int(colors.size()) : clear;
    if (size_t(key) >= colors.size()) colors.resize(size_t(key) + 1, TGIFColor{0, 0, 0});
    auto taken = [&](const TGIFColor& c) {
      for (size_t i = 0; i < colors.size(); ++i)
        if (int(i) != key && colors[i] == c) return true;
      return false;
    };
    uint32_t value = GIFColorValue(colors[size_t(key)].Red, colors[size_t(key)].Green, colors[size_t(key)].Blue);
    while (taken(colors[size_t(key)])) {
      value = (value + 1) & 0xFFFFFF;
      colors[size_t(key)] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16)};
    }
  }
  std::vector<RGBQUAD> table;
  for (const TGIFColor& c : colors) table.push_back(RGBQUAD{c.Blue, c.Green, c.Red, 0});
  bitmap->SetHandle(nullptr);
  bitmap->SetPixelFormat(ui::pf8bit);
  bitmap->SetSize(w, h);
  if (w <= 0 || h <= 0) return;
  bitmap->SetColorTable(table.data(), int(table.size()));
  if (Empty()) return;
  auto report = [&](ui::TProgressStage stage, int percent) {
    if (image) image->ReportProgress(stage, percent, false, "Rendering...");
  };
  try {
    report(ui::psStarting, 0);
    std::vector<uint8_t> rows, skip;
    const size_t stride = RowBytes24(w);
    if (dither) {
      rows.resize(stride * size_t(h));
      ColorRows(*this, clear, true, rows.data(), stride, skip);
    }
    const uint8_t count = uint8_t(std::min<size_t>(colors.size(), 256) - 1);
    for (int y = 0; y < h; ++y) {
      const uint8_t* src = &pixels_[size_t(y) * size_t(w)];
      auto* dst = static_cast<uint8_t*>(bitmap->ScanLine(y));
      for (int x = 0; x < w; ++x) {
        if (src[x] == clear) {
          dst[x] = uint8_t(key);
        } else if (dither) {
          const uint8_t* p = &rows[stride * size_t(y) + 3 * size_t(x)];
          dst[x] = uint8_t(36 * (p[2] / 51) + 6 * (p[1] / 51) + p[0] / 51);
        } else {
          dst[x] = src[x] <= count ? src[x] : 0;
        }
      }
      if ((y + 1) % 32 == 0) report(ui::psRunning, int((y + 1) * 100LL / h));
    }
    if (key >= 0) {
      const TGIFColor& c = colors[size_t(key)];
      bitmap->SetTransparentColor(ui::TColor(GIFColorValue(c.Red, c.Green, c.Blue)));
      bitmap->SetTransparent(true);
    }
    report(ui::psEnding, 100);
  } catch (const ui::EAbort&) {
    bitmap->SetHandle(nullptr);
    report(ui::psEnding, 0);
  } catch (...) {
    report(ui::psEnding, 0);
    throw;
  }
}

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
  // A transparent bitmap's transparent colour is read off the bitmap itself, not the 24-bit copy.
  if (bitmap->GetTransparent()) mask_ = MaskFromMonochrome(bitmap->MaskHandle(), width_, height_);
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

const uint8_t* TBitmapPixelSource::MaskRow(int y) const {
  return mask_.empty() ? nullptr : mask_.data() + size_t(y) * size_t(width_);
}

void TBitmapPixelSource::SetMask(std::vector<uint8_t> mask) {
  if (!mask.empty() && mask.size() != size_t(width_) * size_t(height_)) RaiseGIFError("Invalid mask size");
  mask_ = std::move(mask);
}

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

void TGIFImage::LoadFromStream(ui::TStream* stream) {
  TGIFStreamAdapter adapter(stream);
  LoadFromStream(adapter);
  Changed();
}

void TGIFImage::SaveToStream(ui::TStream* stream) {
  TGIFStreamAdapter adapter(stream);
  SaveToStream(adapter);
}

// Where `graphic`, drawn on white into `onWhite`, leaves the background: drawn again on black, those
// pixels come out different. Empty when it leaves none.
static std::vector<uint8_t> UndrawnMask(ui::TGraphic* graphic, ui::TBitmap& onWhite) {
  const int w = onWhite.GetWidth(), h = onWhite.GetHeight();
  ui::TBitmap onBlack;
  onBlack.SetPixelFormat(ui::pf24bit);
  onBlack.SetSize(w, h);
  onBlack.Canvas()->Brush()->SetColor(ui::clBlack);
  onBlack.Canvas()->FillRect(RECT{0, 0, w, h});
  onBlack.Canvas()->Draw(0, 0, graphic);
  GdiFlush();
  std::vector<uint8_t> mask(size_t(w) * size_t(h));
  bool any = false;
  for (int y = 0; y < h; ++y) {
    const auto* a = static_cast<const uint8_t*>(onWhite.ScanLine(y));
    const auto* b = static_cast<const uint8_t*>(onBlack.ScanLine(y));
    for (int x = 0; x < w; ++x)
      if (std::memcmp(a + 3 * x, b + 3 * x, 3) != 0) {
        mask[size_t(y) * size_t(w) + size_t(x)] = 1;
        any = true;
      }
  }
  if (!any) mask.clear();
  return mask;
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
  if (auto* graphic = ui::As<ui::TGraphic>(source)) {
    {
      TFrameChange change(*this);
      Clear();
      AppendFrame(graphic);
    }
    Changed();
    return;
  }
  inherited::Assign(source);
}

int TGIFImage::AddFrame(ui::TPersistent* source) {
  if (auto* picture = ui::As<ui::TPicture>(source)) return AddFrame(picture->GetGraphic());
  auto* graphic = ui::As<ui::TGraphic>(source);
  if (!graphic) RaiseGIFError("Object type not supported for operation");
  return AddFrameFrom(graphic);
}

void TGIFSubImage::Assign(ui::TGraphic* graphic) {
  TGIFImage::TFrameChange change(Image());
  if (!graphic || graphic->Empty()) {
    Clear();
    return;
  }
  if (auto* bitmap = ui::As<ui::TBitmap>(graphic)) {
    TBitmapPixelSource pixels(bitmap);
    Assign(pixels);
    return;
  }
  if (auto* gif = ui::As<TGIFImage>(graphic)) {
    // Its still picture: drawn, an animation would start a painter on a bitmap about to go.
    TBitmapPixelSource pixels(gif->CompositeBitmap());
    Assign(pixels);
    return;
  }
  // Other graphics (icons, metafiles) are drawn into a 24-bit bitmap of their size, which then becomes
  // the frame; what they leave undrawn becomes transparent.
  ui::TBitmap drawn;
  drawn.SetPixelFormat(ui::pf24bit);
  const int w = graphic->GetWidth(), h = graphic->GetHeight();
  drawn.SetSize(w, h);
  drawn.Canvas()->Draw(0, 0, graphic);
  std::vector<uint8_t> mask;
  if (auto* icon = ui::As<ui::TIcon>(graphic)) {
    ICONINFO info = {};
    if (GetIconInfo(icon->GetHandle(), &info)) {
      mask = MaskFromMonochrome(info.hbmMask, w, h);
      if (info.hbmMask) DeleteObject(info.hbmMask);
      if (info.hbmColor) DeleteObject(info.hbmColor);
    }
  }
  // Icons with an alpha channel often leave their mask empty: what they leave undrawn counts then.
  if (std::none_of(mask.begin(), mask.end(), [](uint8_t m) { return m != 0; })) mask = UndrawnMask(graphic, drawn);
  TBitmapPixelSource pixels(&drawn);
  pixels.SetMask(std::move(mask));
  Assign(pixels);
}

void TGIFImage::WriteData(ui::TStream* stream) {
  if (GIFOptimizeOnStore) OptimizeFrames(kGIFAllOptimizeOptions, gpNone, 8, gdNearest);
  SaveToStream(stream);
}

void TGIFImage::DropPalettes() {
  if (palette_) DeleteObject(palette_);
  if (framePalette_) DeleteObject(framePalette_);
  palette_ = framePalette_ = nullptr;
}

HPALETTE TGIFImage::GetPalette() {
  if (insidePalette_) RaiseGIFError("No global or local color table defined");
  if (composite_)
    if (HPALETTE own = composite_->GetPalette()) return own;
  if (palette_) return palette_;
  insidePalette_ = true;
  struct Leave {
    bool& flag;
    ~Leave() { flag = false; }
  } leave{insidePalette_};
  if (DitherWanted()) {
    palette_ = GIFMakePalette(CreateWebSafePalette());
  } else if (GlobalColorMap().Count() > 0) {
    palette_ = GlobalColorMap().MakePalette();
  } else if (!Empty()) {
    // Frame 0's colours serve until the image has colours of its own; they are made afresh each time.
    if (framePalette_) DeleteObject(framePalette_);
    framePalette_ = images_[0].ColorMap().MakePalette();
    if (!framePalette_) RaiseGIFError("No global or local color table defined");
    return framePalette_;
  }
  return palette_;
}

void TGIFImage::SetPalette(HPALETTE palette) {
  if (palette == palette_) return;
  if (palette_) DeleteObject(palette_);
  palette_ = palette;
  if (composite_ && composite_->GetPalette() != palette) {
    ui::FreeAndNil(composite_);
    Changed();
  }
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
  if (!PaintableScreen()) RaiseGIFError("Image too large to paint");
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
  FreeExtensionRegistries();
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
