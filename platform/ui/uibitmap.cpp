#include "uibitmap.h"

#include <algorithm>
#include <cstring>

namespace ui {

UI_IMPLEMENT_CLASS(TBitmapCanvas, TCanvas, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TBitmap, TGraphic, DefaultFactory<TBitmap>, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TIcon, TGraphic, DefaultFactory<TIcon>, nullptr, nullptr, nullptr)

// A side above this is not a picture anybody draws, and the pixel memory stays well inside what a
// 32-bit process can map.
constexpr int64_t kMaxBitmapDimension = 32768;
constexpr int64_t kMaxBitmapBytes = 512LL * 1024 * 1024;
constexpr uint32_t kMaxIconFileSize = 16 * 1024 * 1024;

namespace {

uint16_t ReadU16LE(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t ReadU32LE(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void PutU32LE(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

[[noreturn]] void Invalid() { throw EInvalidGraphic(SInvalidBitmap); }

// Palettes of new bitmaps: every one ends in white, so an all-ones fill is white in every format.
std::vector<RGBQUAD> DefaultColors(int bits) {
  std::vector<RGBQUAD> c;
  auto add = [&](int r, int g, int b) { c.push_back(RGBQUAD{uint8_t(b), uint8_t(g), uint8_t(r), 0}); };
  if (bits == 1) {
    add(0, 0, 0);
    add(255, 255, 255);
  } else if (bits == 4) {
    static const int kVga[16][3] = {{0, 0, 0},     {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                                    {0, 0, 128},   {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                                    {128, 128, 128}, {255, 0, 0}, {0, 255, 0},   {255, 255, 0},
                                    {0, 0, 255},   {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
    for (auto& v : kVga) add(v[0], v[1], v[2]);
  } else if (bits == 8) {
    for (int r = 0; r < 6; ++r)
      for (int g = 0; g < 6; ++g)
        for (int b = 0; b < 6; ++b) add(r * 51, g * 51, b * 51);
    for (int i = 216; i < 255; ++i) {
      int v = (i - 216) * 255 / 39;
      add(v, v, v);
    }
    add(255, 255, 255);
  }
  return c;
}

// The entry of a colour table nearest to white: what fills the new area of a resized indexed bitmap.
int NearestWhite(const RGBQUAD* colors, int count) {
  int best = 0, bestDistance = 3 * 255 * 255 + 1;
  for (int i = 0; i < count; ++i) {
    int dr = 255 - colors[i].rgbRed, dg = 255 - colors[i].rgbGreen, db = 255 - colors[i].rgbBlue;
    int d = dr * dr + dg * dg + db * db;
    if (d < bestDistance) bestDistance = d, best = i;
  }
  return best;
}

// Copies the first `bitCount` bits of a row; pixels of fewer than 8 bits are packed from the high bit.
void CopyRowBits(uint8_t* dst, const uint8_t* src, int64_t bitCount) {
  size_t whole = static_cast<size_t>(bitCount / 8);
  std::memcpy(dst, src, whole);
  if (int rest = static_cast<int>(bitCount % 8)) {
    uint8_t mask = static_cast<uint8_t>(0xFF00 >> rest);
    dst[whole] = static_cast<uint8_t>((dst[whole] & ~mask) | (src[whole] & mask));
  }
}

}  // namespace

// ---- TBitmapCanvas ----

TBitmapCanvas::~TBitmapCanvas() { FreeContext(); }

void TBitmapCanvas::CreateHandle() {
  FreeContext();
  memDC_ = CreateCompatibleDC(nullptr);
  if (!memDC_) throw EOutOfResources("Out of system resources");
  if (bitmap_->dib_) oldBitmap_ = SelectObject(memDC_, bitmap_->dib_);
  if (HPALETTE pal = bitmap_->GetPalette()) {
    oldPalette_ = SelectPalette(memDC_, pal, TRUE);
    RealizePalette(memDC_);
  }
  SetHandle(memDC_);
}

void TBitmapCanvas::FreeContext() {
  if (!memDC_) return;
  SetHandle(nullptr);
  if (oldBitmap_) SelectObject(memDC_, oldBitmap_);
  if (oldPalette_) SelectPalette(memDC_, static_cast<HPALETTE>(oldPalette_), TRUE);
  DeleteDC(memDC_);
  memDC_ = nullptr;
  oldBitmap_ = oldPalette_ = nullptr;
}

// ---- TBitmap ----

TBitmap::TBitmap() = default;

// The canvas outlives the DIB: FreeDib takes the DIB out of the canvas's DC, and the canvas itself
// goes with the members, after this body.
TBitmap::~TBitmap() { FreeDib(); }

void TBitmap::FreeMask() {
  if (mask_) DeleteObject(mask_);
  mask_ = nullptr;
}

void TBitmap::Changed() {
  FreeMask();
  TGraphic::Changed();
}

void TBitmap::FreeDib() {
  FreeMask();
  if (canvas_) canvas_->FreeContext();
  if (dib_) DeleteObject(dib_);
  if (palette_) DeleteObject(palette_);
  dib_ = nullptr;
  palette_ = nullptr;
  bits_ = nullptr;
  stride_ = 0;
}

int TBitmap::BitCount() const {
  switch (pixelFormat_) {
    case pf1bit:
      return 1;
    case pf4bit:
      return 4;
    case pf8bit:
      return 8;
    case pf15bit:
    case pf16bit:
      return 16;
    case pf24bit:
      return 24;
    default:
      return 32;  // pfDevice and pf32bit: the depth of today's screens
  }
}

void TBitmap::BuildHeader(int w, int h, int bits, const RGBQUAD* colors, int ncolors, bool bitfields565) {
  size_t extra = bitfields565 ? 3 * sizeof(DWORD) : size_t(ncolors) * sizeof(RGBQUAD);
  info_.assign(sizeof(BITMAPINFOHEADER) + extra, 0);
  auto* bih = reinterpret_cast<BITMAPINFOHEADER*>(info_.data());
  bih->biSize = sizeof(BITMAPINFOHEADER);
  bih->biWidth = w;
  bih->biHeight = h;  // bottom-up, as files store them
  bih->biPlanes = 1;
  bih->biBitCount = static_cast<WORD>(bits);
  bih->biCompression = bitfields565 ? BI_BITFIELDS : BI_RGB;
  bih->biClrUsed = static_cast<DWORD>(ncolors);
  uint8_t* tail = info_.data() + sizeof(BITMAPINFOHEADER);
  if (bitfields565) {
    PutU32LE(tail, 0xF800);
    PutU32LE(tail + 4, 0x07E0);
    PutU32LE(tail + 8, 0x001F);
  } else if (ncolors) {
    std::memcpy(tail, colors, size_t(ncolors) * sizeof(RGBQUAD));
  }
}

void TBitmap::CreateDibFromInfo() {
  const auto* bih = reinterpret_cast<const BITMAPINFOHEADER*>(info_.data());
  void* p = nullptr;
  dib_ = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(info_.data()), DIB_RGB_COLORS, &p, nullptr, 0);
  if (!dib_) throw EOutOfResources("Not enough memory for the bitmap");
  bits_ = static_cast<uint8_t*>(p);
  stride_ = static_cast<int>(((int64_t(bih->biWidth) * bih->biBitCount + 31) / 32) * 4);
}

void TBitmap::SetColorTable(const RGBQUAD* colors, int count) {
  int bits = BitCount();
  if (!dib_ || bits > 8) throw EInvalidGraphicOperation("Only 1, 4 and 8-bit bitmaps have a colour table");
  if (!colors || count < 1 || count > (1 << bits)) throw EInvalidGraphicOperation("Invalid colour table size");
  GdiFlush();
  // A fresh DIB section with the new table: the section's own table then has exactly `count` entries,
  // as the header that Info, Draw and SaveToStream hand out says.
  std::vector<uint8_t> oldInfo = info_;
  HBITMAP oldDib = dib_;
  uint8_t* oldBits = bits_;
  if (canvas_) canvas_->FreeContext();
  BuildHeader(width_, height_, bits, colors, count, false);
  try {
    CreateDibFromInfo();
  } catch (...) {
    info_ = oldInfo;
    dib_ = oldDib;
    bits_ = oldBits;
    throw;
  }
  std::memcpy(bits_, oldBits, static_cast<size_t>(stride_) * static_cast<size_t>(height_));
  DeleteObject(oldDib);
  if (palette_) DeleteObject(palette_);
  palette_ = nullptr;
  Changed();
}

void TBitmap::Recreate(int w, int h, TPixelFormat pf, bool keep) {
  if (w < 0 || h < 0 || w > kMaxBitmapDimension || h > kMaxBitmapDimension) throw EInvalidGraphicOperation(SInvalidBitmap);
  TPixelFormat oldPf = pixelFormat_;
  pixelFormat_ = pf;
  int bits = BitCount();
  int64_t stride = ((int64_t(w) * bits + 31) / 32) * 4;
  if (stride * h > kMaxBitmapBytes) {
    pixelFormat_ = oldPf;
    throw EOutOfResources("Not enough memory for the bitmap");
  }
  HBITMAP oldDib = dib_;
  std::vector<uint8_t> oldInfo = info_;
  int oldW = width_, oldH = height_;
  uint8_t* oldBits = bits_;
  const int oldStride = stride_;
  // An indexed bitmap that keeps its depth keeps its indices and its own colour table: a blit would
  // map the pixels through the default table instead.
  const bool keepIndices = keep && oldDib && bits <= 8 && oldPf == pf && oldInfo.size() > sizeof(BITMAPINFOHEADER);
  if (oldDib) GdiFlush();
  if (canvas_) canvas_->FreeContext();
  dib_ = nullptr;
  if (palette_) DeleteObject(palette_);
  palette_ = nullptr;
  width_ = w;
  height_ = h;
  bits_ = nullptr;
  stride_ = static_cast<int>(stride);
  if (w > 0 && h > 0) {
    std::vector<RGBQUAD> colors;
    if (keepIndices) {
      const auto* oldBih = reinterpret_cast<const BITMAPINFOHEADER*>(oldInfo.data());
      const auto* oldColors = reinterpret_cast<const RGBQUAD*>(oldInfo.data() + sizeof(BITMAPINFOHEADER));
      colors.assign(oldColors, oldColors + oldBih->biClrUsed);
    } else {
      colors = DefaultColors(bits);
    }
    BuildHeader(w, h, bits, colors.data(), static_cast<int>(colors.size()), pf == pf16bit);
    void* p = nullptr;
    dib_ = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(info_.data()), DIB_RGB_COLORS, &p, nullptr, 0);
    if (!dib_) {
      if (oldDib) DeleteObject(oldDib);
      width_ = height_ = 0;
      throw EOutOfResources("Not enough memory for the bitmap");
    }
    bits_ = static_cast<uint8_t*>(p);
    if (keepIndices) {
      // The new area takes the entry nearest white; every default table ends in white, so for those
      // this is the same all-ones fill as below.
      int white = NearestWhite(colors.data(), static_cast<int>(colors.size()));
      uint8_t fill = 0;
      for (int shift = 0; shift < 8; shift += bits) fill = static_cast<uint8_t>(fill | white << shift);
      std::memset(bits_, fill, static_cast<size_t>(stride * h));
      const int rows = std::min(h, oldH);
      const int64_t rowBits = int64_t(std::min(w, oldW)) * bits;
      for (int row = 0; row < rows; ++row)  // top rows: the rows are stored bottom-up
        CopyRowBits(bits_ + int64_t(h - 1 - row) * stride, oldBits + int64_t(oldH - 1 - row) * oldStride, rowBits);
    } else {
      std::memset(bits_, 0xFF, static_cast<size_t>(stride * h));  // white
    }
    if (keep && oldDib && !keepIndices) {
      HDC src = CreateCompatibleDC(nullptr), dst = CreateCompatibleDC(nullptr);
      HGDIOBJ o1 = SelectObject(src, oldDib), o2 = SelectObject(dst, dib_);
      BitBlt(dst, 0, 0, std::min(w, oldW), std::min(h, oldH), src, 0, 0, SRCCOPY);
      SelectObject(src, o1);
      SelectObject(dst, o2);
      DeleteDC(src);
      DeleteDC(dst);
    }
  } else {
    info_.clear();
  }
  if (oldDib) DeleteObject(oldDib);
  (void)oldInfo;
}

void TBitmap::SetSize(int w, int h) {
  if (w == width_ && h == height_) return;
  Recreate(w, h, pixelFormat_, true);
  Changed();
}

void TBitmap::SetPixelFormat(TPixelFormat pf) {
  if (pf == pixelFormat_) return;
  if (pf == pfCustom) throw EInvalidGraphicOperation("Custom pixel format is not supported");
  Recreate(width_, height_, pf, true);
  Changed();
}

TCanvas* TBitmap::Canvas() {
  if (!canvas_) {
    canvas_.reset(new TBitmapCanvas(this));
    canvas_->OnChange = TNotifyEvent(this, &TBitmap::CanvasChanged);
  }
  return canvas_.get();
}

HBITMAP TBitmap::GetHandle() { return dib_; }

void TBitmap::SetHandle(HBITMAP h) {
  if (h == dib_) return;
  if (!h) {
    FreeDib();
    width_ = height_ = 0;
    info_.clear();
    Changed();
    return;
  }
  BITMAP bm{};
  if (!GetObjectA(h, sizeof bm, &bm)) throw EInvalidGraphic(SInvalidBitmap);
  TPixelFormat pf = bm.bmBitsPixel == 1 ? pf1bit : bm.bmBitsPixel == 4 ? pf4bit : bm.bmBitsPixel == 8 ? pf8bit
                    : bm.bmBitsPixel == 16 ? pf15bit : bm.bmBitsPixel == 24 ? pf24bit : pf32bit;
  Recreate(bm.bmWidth, std::abs(bm.bmHeight), pf, false);
  HDC screen = GetDC(nullptr);
  HDC src = CreateCompatibleDC(screen), dst = CreateCompatibleDC(screen);
  HGDIOBJ o1 = SelectObject(src, h), o2 = SelectObject(dst, dib_);
  BitBlt(dst, 0, 0, width_, height_, src, 0, 0, SRCCOPY);
  SelectObject(src, o1);
  SelectObject(dst, o2);
  DeleteDC(src);
  DeleteDC(dst);
  ReleaseDC(nullptr, screen);
  DeleteObject(h);  // the bitmap owns what it was given
  Changed();
}

HBITMAP TBitmap::ReleaseHandle() {
  if (canvas_) canvas_->FreeContext();
  HBITMAP h = dib_;
  dib_ = nullptr;
  bits_ = nullptr;
  FreeDib();
  width_ = height_ = 0;
  info_.clear();
  return h;
}

HPALETTE TBitmap::GetPalette() {
  if (palette_ || info_.empty()) return palette_;
  auto* bih = reinterpret_cast<BITMAPINFOHEADER*>(info_.data());
  if (bih->biBitCount > 8 || bih->biClrUsed == 0) return nullptr;
  std::vector<uint8_t> buf(sizeof(LOGPALETTE) + 256 * sizeof(PALETTEENTRY));
  auto* lp = reinterpret_cast<LOGPALETTE*>(buf.data());
  lp->palVersion = 0x300;
  lp->palNumEntries = static_cast<WORD>(bih->biClrUsed);
  auto* colors = reinterpret_cast<RGBQUAD*>(info_.data() + sizeof(BITMAPINFOHEADER));
  for (DWORD i = 0; i < bih->biClrUsed; ++i)
    lp->palPalEntry[i] = PALETTEENTRY{colors[i].rgbRed, colors[i].rgbGreen, colors[i].rgbBlue, 0};
  palette_ = CreatePalette(lp);
  return palette_;
}

void* TBitmap::ScanLine(int row) {
  if (!dib_ || row < 0 || row >= height_) throw EInvalidGraphicOperation("Scan line index out of range");
  GdiFlush();  // drawing through GDI may still be queued
  FreeMask();  // the caller may write the pixels
  return bits_ + static_cast<size_t>(height_ - 1 - row) * static_cast<size_t>(stride_);
}

void TBitmap::SaveToStream(TStream* s) {
  if (!dib_) return;
  GdiFlush();
  uint64_t pixelBytes = uint64_t(stride_) * uint64_t(height_);
  uint64_t offBits = 14 + info_.size();
  uint8_t fh[14] = {'B', 'M'};
  PutU32LE(fh + 2, static_cast<uint32_t>(offBits + pixelBytes));
  PutU32LE(fh + 10, static_cast<uint32_t>(offBits));
  s->WriteBuffer(fh, 14);
  // Files carry the size of the pixel data; the in-memory header leaves it 0.
  std::vector<uint8_t> header = info_;
  PutU32LE(header.data() + 20, static_cast<uint32_t>(pixelBytes));
  PutU32LE(header.data() + 24, 2835);  // 72 dpi in pixels per metre
  PutU32LE(header.data() + 28, 2835);
  s->WriteBuffer(header.data(), static_cast<int32_t>(header.size()));
  s->WriteBuffer(bits_, static_cast<int32_t>(pixelBytes));
}

void TBitmap::LoadFromStream(TStream* s) {
  const int64_t start = s->GetPosition();
  const int64_t avail = s->GetSize() - start;
  auto need = [&](uint64_t upto) {
    if (avail < 0 || upto > static_cast<uint64_t>(avail)) Invalid();
  };
  need(18);
  uint8_t fh[14];
  s->ReadBuffer(fh, 14);
  if (fh[0] != 'B' || fh[1] != 'M') Invalid();
  uint32_t offBits = ReadU32LE(fh + 10);
  uint8_t sizeBytes[4];
  s->ReadBuffer(sizeBytes, 4);
  uint32_t hdrSize = ReadU32LE(sizeBytes);
  if (hdrSize != 12 && (hdrSize < 40 || hdrSize > 124)) Invalid();
  need(14ull + hdrSize);
  std::vector<uint8_t> hdr(hdrSize);
  std::memcpy(hdr.data(), sizeBytes, 4);
  s->ReadBuffer(hdr.data() + 4, static_cast<int32_t>(hdrSize - 4));
  int64_t w, h;
  unsigned planes, bits, compression = BI_RGB, clrUsed = 0;
  bool core = hdrSize == 12;
  if (core) {
    w = ReadU16LE(&hdr[4]);
    h = ReadU16LE(&hdr[6]);
    planes = ReadU16LE(&hdr[8]);
    bits = ReadU16LE(&hdr[10]);
  } else {
    w = static_cast<int32_t>(ReadU32LE(&hdr[4]));
    h = static_cast<int32_t>(ReadU32LE(&hdr[8]));
    planes = ReadU16LE(&hdr[12]);
    bits = ReadU16LE(&hdr[14]);
    compression = ReadU32LE(&hdr[16]);
    clrUsed = ReadU32LE(&hdr[32]);
  }
  bool topDown = h < 0;
  if (topDown) h = -h;
  if (planes != 1 || w <= 0 || h <= 0 || w > kMaxBitmapDimension || h > kMaxBitmapDimension) Invalid();
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) Invalid();
  // Colour masks: in the header from version 4 on, else right after a 40-byte header.
  uint32_t masks[3] = {0, 0, 0};
  uint64_t pos = 14ull + hdrSize;
  if (compression == BI_BITFIELDS) {
    if (bits != 16 && bits != 32) Invalid();
    if (hdrSize >= 52) {
      for (int i = 0; i < 3; ++i) masks[i] = ReadU32LE(&hdr[40 + 4 * i]);
    } else {
      need(pos + 12);
      uint8_t m[12];
      s->ReadBuffer(m, 12);
      pos += 12;
      for (int i = 0; i < 3; ++i) masks[i] = ReadU32LE(m + 4 * i);
    }
  } else if (compression != BI_RGB) {
    Invalid();  // run-length and embedded JPEG/PNG data are not bitmaps this class holds
  }
  TPixelFormat pf;
  bool is565 = false;
  switch (bits) {
    case 1: pf = pf1bit; break;
    case 4: pf = pf4bit; break;
    case 8: pf = pf8bit; break;
    case 16:
      if (compression == BI_BITFIELDS && masks[0] == 0xF800 && masks[1] == 0x07E0 && masks[2] == 0x001F) {
        pf = pf16bit;
        is565 = true;
      } else if (compression == BI_RGB || (masks[0] == 0x7C00 && masks[1] == 0x03E0 && masks[2] == 0x001F)) {
        pf = pf15bit;
      } else {
        Invalid();
      }
      break;
    case 24: pf = pf24bit; break;
    default:
      if (compression == BI_BITFIELDS && !(masks[0] == 0xFF0000 && masks[1] == 0xFF00 && masks[2] == 0xFF)) Invalid();
      pf = pf32bit;
      break;
  }
  std::vector<RGBQUAD> colors;
  if (bits <= 8) {
    uint32_t n = clrUsed ? clrUsed : (1u << bits);
    if (n > (1u << bits)) Invalid();
    unsigned entry = core ? 3 : 4;
    need(pos + uint64_t(n) * entry);
    std::vector<uint8_t> raw(size_t(n) * entry);
    if (n) s->ReadBuffer(raw.data(), static_cast<int32_t>(raw.size()));
    pos += raw.size();
    for (uint32_t i = 0; i < n; ++i) colors.push_back(RGBQUAD{raw[i * entry], raw[i * entry + 1], raw[i * entry + 2], 0});
  }
  uint64_t stride = ((uint64_t(w) * bits + 31) / 32) * 4;
  uint64_t pixelBytes = stride * uint64_t(h);
  if (pixelBytes > uint64_t(kMaxBitmapBytes) || offBits < pos) Invalid();
  need(uint64_t(offBits) + pixelBytes);

  // Everything checked: now replace the current picture.
  Recreate(static_cast<int>(w), static_cast<int>(h), pf, false);
  if (bits <= 8) {
    // The file's own colours replace the default palette.
    FreeDib();
    BuildHeader(static_cast<int>(w), static_cast<int>(h), static_cast<int>(bits), colors.data(),
                static_cast<int>(colors.size()), false);
    void* p = nullptr;
    dib_ = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(info_.data()), DIB_RGB_COLORS, &p, nullptr, 0);
    if (!dib_) throw EOutOfResources("Not enough memory for the bitmap");
    bits_ = static_cast<uint8_t*>(p);
    stride_ = static_cast<int>(stride);
    width_ = static_cast<int>(w);
    height_ = static_cast<int>(h);
  }
  (void)is565;
  s->SetPosition(start + offBits);
  if (topDown) {
    for (int64_t row = 0; row < h; ++row)
      s->ReadBuffer(bits_ + (h - 1 - row) * static_cast<int64_t>(stride), static_cast<int32_t>(stride));
  } else {
    s->ReadBuffer(bits_, static_cast<int32_t>(pixelBytes));
  }
  Changed();
}

void TBitmap::Assign(TPersistent* source) {
  if (auto* b = As<TBitmap>(source)) {
    if (b == this) return;
    if (b->Empty()) {
      TPixelFormat pf = b->pixelFormat_;
      Recreate(0, 0, pf, false);
      Changed();
      return;
    }
    TMemoryStream ms;
    b->SaveToStream(&ms);
    ms.SetPosition(0);
    LoadFromStream(&ms);
    pixelFormat_ = b->pixelFormat_;  // pfDevice reads back as 32 bits per pixel
    transparentColor_ = b->transparentColor_;
    transparentMode_ = b->transparentMode_;
    SetTransparent(b->GetTransparent());
    return;
  }
  TGraphic::Assign(source);
}

TColor TBitmap::GetTransparentColor() {
  if (!dib_) return clDefault;
  if (transparentMode_ == tmFixed) return transparentColor_;
  return Canvas()->GetPixel(0, height_ - 1);
}

void TBitmap::SetTransparentColor(TColor c) {
  if (c == transparentColor_ && (c == clDefault) == (transparentMode_ == tmAuto)) return;
  transparentColor_ = c;
  transparentMode_ = c == clDefault ? tmAuto : tmFixed;
  Changed();
}

void TBitmap::SetTransparentMode(TTransparentMode m) {
  if (m == transparentMode_) return;
  if (m == tmAuto)
    SetTransparentColor(clDefault);
  else
    SetTransparentColor(GetTransparentColor());
}

HBITMAP TBitmap::MaskHandle() {
  if (mask_ || !dib_) return mask_;
  COLORREF key = ColorToRGB(GetTransparentColor()) & 0xFFFFFF;
  GdiFlush();
  if (canvas_) canvas_->FreeContext();  // a bitmap is selected into one DC at a time
  HBITMAP mask = CreateBitmap(width_, height_, 1, 1, nullptr);
  if (!mask) throw EOutOfResources("Out of system resources");
  HDC src = CreateCompatibleDC(nullptr), dst = CreateCompatibleDC(nullptr);
  HGDIOBJ o1 = SelectObject(src, dib_), o2 = SelectObject(dst, mask);
  // Colour to monochrome: pixels of the background colour become 1 (white), all others 0.
  SetBkColor(src, key);
  BitBlt(dst, 0, 0, width_, height_, src, 0, 0, SRCCOPY);
  SelectObject(src, o1);
  SelectObject(dst, o2);
  DeleteDC(src);
  DeleteDC(dst);
  mask_ = mask;
  return mask_;
}

void TBitmap::SaveToClipboardFormat(UINT& format, HANDLE& data, HPALETTE& palette) {
  format = CF_BITMAP;
  data = nullptr;
  palette = nullptr;
  if (!dib_) return;
  GdiFlush();
  if (canvas_) canvas_->FreeContext();
  data = CopyImage(dib_, IMAGE_BITMAP, 0, 0, 0);
  if (!data) throw EOutOfResources("Out of system resources");
  if (HPALETTE own = GetPalette()) {
    WORD n = 0;
    GetObjectA(own, sizeof n, &n);
    std::vector<uint8_t> buf(sizeof(LOGPALETTE) + 256 * sizeof(PALETTEENTRY));
    auto* lp = reinterpret_cast<LOGPALETTE*>(buf.data());
    lp->palVersion = 0x300;
    lp->palNumEntries = static_cast<WORD>(GetPaletteEntries(own, 0, std::min<WORD>(n, 256), lp->palPalEntry));
    palette = CreatePalette(lp);
  }
}

void TBitmap::LoadFromClipboardFormat(UINT format, HANDLE data, HPALETTE palette) {
  if (format != CF_BITMAP) {
    TGraphic::LoadFromClipboardFormat(format, data, palette);
    return;
  }
  if (!data) throw EInvalidGraphic(SInvalidBitmap);
  // The clipboard keeps its handle: work on a copy.
  auto copy = static_cast<HBITMAP>(CopyImage(data, IMAGE_BITMAP, 0, 0, 0));
  if (!copy) throw EInvalidGraphic(SInvalidBitmap);
  SetHandle(copy);
}

void TBitmap::Draw(TCanvas* canvas, const RECT& r) {
  if (!dib_) return;
  GdiFlush();
  HDC dc = canvas->GetHandle();
  if (GetTransparent()) {
    DrawTransparent(dc, r);
    return;
  }
  int oldMode = SetStretchBltMode(dc, COLORONCOLOR);
  StretchDIBits(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, 0, 0, width_, height_, bits_,
                reinterpret_cast<BITMAPINFO*>(info_.data()), DIB_RGB_COLORS, SRCCOPY);
  SetStretchBltMode(dc, oldMode);
}

void TBitmap::DrawTransparent(HDC dc, const RECT& r) {
  HBITMAP mask = MaskHandle();
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return;
  HDC maskDC = CreateCompatibleDC(dc), tmpDC = CreateCompatibleDC(dc);
  HBITMAP tmp = CreateCompatibleBitmap(dc, width_, height_);
  HGDIOBJ o1 = SelectObject(maskDC, mask), o3 = SelectObject(tmpDC, tmp);
  // The source with its transparent pixels black: mask bits 1 (transparent) -> black, 0 -> white, ANDed.
  SetDIBitsToDevice(tmpDC, 0, 0, width_, height_, 0, 0, 0, height_, bits_, Info(), DIB_RGB_COLORS);
  SetTextColor(tmpDC, RGB(255, 255, 255));
  SetBkColor(tmpDC, RGB(0, 0, 0));
  BitBlt(tmpDC, 0, 0, width_, height_, maskDC, 0, 0, SRCAND);
  // The target keeps its pixels under the transparent ones and goes black under the rest; then the
  // masked source is ORed in.
  COLORREF oldText = SetTextColor(dc, RGB(0, 0, 0)), oldBk = SetBkColor(dc, RGB(255, 255, 255));
  int oldMode = SetStretchBltMode(dc, COLORONCOLOR);
  StretchBlt(dc, r.left, r.top, w, h, maskDC, 0, 0, width_, height_, SRCAND);
  StretchBlt(dc, r.left, r.top, w, h, tmpDC, 0, 0, width_, height_, SRCPAINT);
  SetStretchBltMode(dc, oldMode);
  SetTextColor(dc, oldText);
  SetBkColor(dc, oldBk);
  SelectObject(maskDC, o1);
  SelectObject(tmpDC, o3);
  DeleteObject(tmp);
  DeleteDC(maskDC);
  DeleteDC(tmpDC);
}

// ---- TIcon ----

TIcon::~TIcon() { Clear(); }

void TIcon::Clear() {
  if (handle_) DestroyIcon(handle_);
  handle_ = nullptr;
  width_ = height_ = 0;
  data_.clear();
}

void TIcon::SetWidth(int) { throw EInvalidGraphicOperation("Cannot change the size of an icon"); }
void TIcon::SetHeight(int) { throw EInvalidGraphicOperation("Cannot change the size of an icon"); }

void TIcon::SetHandle(HICON h) {
  if (h == handle_) return;
  Clear();
  handle_ = h;
  ICONINFO ii{};
  if (h && GetIconInfo(h, &ii)) {
    BITMAP bm{};
    GetObjectA(ii.hbmColor ? ii.hbmColor : ii.hbmMask, sizeof bm, &bm);
    width_ = bm.bmWidth;
    height_ = ii.hbmColor ? bm.bmHeight : bm.bmHeight / 2;
    if (ii.hbmColor) DeleteObject(ii.hbmColor);
    if (ii.hbmMask) DeleteObject(ii.hbmMask);
  }
  Changed();
}

HICON TIcon::ReleaseHandle() {
  HICON h = handle_;
  handle_ = nullptr;
  Clear();
  return h;
}

void TIcon::LoadFromStream(TStream* s) {
  int64_t avail = s->GetSize() - s->GetPosition();
  if (avail < 6 || avail > kMaxIconFileSize) throw EInvalidGraphic("Icon image is not valid");
  std::vector<uint8_t> data(static_cast<size_t>(avail));
  s->ReadBuffer(data.data(), static_cast<int32_t>(avail));
  if (ReadU16LE(&data[0]) != 0 || ReadU16LE(&data[2]) != 1) throw EInvalidGraphic("Icon image is not valid");
  unsigned count = ReadU16LE(&data[4]);
  if (count == 0 || 6ull + 16ull * count > data.size()) throw EInvalidGraphic("Icon image is not valid");
  // The largest image with the most colours is the one shown.
  int best = -1, bestW = 0, bestBits = 0;
  for (unsigned i = 0; i < count; ++i) {
    const uint8_t* e = &data[6 + 16 * i];
    int w = e[0] ? e[0] : 256;
    int bitsPer = ReadU16LE(e + 6);
    uint64_t size = ReadU32LE(e + 8), off = ReadU32LE(e + 12);
    if (size == 0 || off + size > data.size()) continue;
    if (w > bestW || (w == bestW && bitsPer > bestBits)) {
      best = static_cast<int>(i);
      bestW = w;
      bestBits = bitsPer;
    }
  }
  if (best < 0) throw EInvalidGraphic("Icon image is not valid");
  const uint8_t* e = &data[6 + 16 * static_cast<unsigned>(best)];
  int w = e[0] ? e[0] : 256, h = e[1] ? e[1] : 256;
  HICON icon = CreateIconFromResourceEx(&data[ReadU32LE(e + 12)], ReadU32LE(e + 8), TRUE, 0x00030000, w, h, LR_DEFAULTCOLOR);
  if (!icon) throw EInvalidGraphic("Icon image is not valid");
  Clear();
  handle_ = icon;
  width_ = w;
  height_ = h;
  data_.swap(data);
  Changed();
}

void TIcon::SaveToStream(TStream* s) {
  if (data_.empty()) {
    if (handle_) throw EInvalidGraphicOperation("Cannot save an icon that was not loaded from a file");
    return;
  }
  s->WriteBuffer(data_.data(), static_cast<int32_t>(data_.size()));
}

void TIcon::Assign(TPersistent* source) {
  if (auto* i = As<TIcon>(source)) {
    if (i == this) return;
    Clear();
    if (!i->data_.empty()) {
      TMemoryStream ms;
      ms.WriteBuffer(i->data_.data(), static_cast<int32_t>(i->data_.size()));
      ms.SetPosition(0);
      LoadFromStream(&ms);
    } else if (i->handle_) {
      SetHandle(CopyIcon(i->handle_));
    }
    return;
  }
  TGraphic::Assign(source);
}

void TIcon::Draw(TCanvas* canvas, const RECT& r) {
  if (handle_) DrawIconEx(canvas->GetHandle(), r.left, r.top, handle_, r.right - r.left, r.bottom - r.top, 0, nullptr, DI_NORMAL);
}

}  // namespace ui
