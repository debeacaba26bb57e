#include "slide_painter.h"

#include <objidl.h>
#include <gdiplus.h>
#include <shlwapi.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "gdi_handles.h"

namespace presenter {
namespace {

// Pictures with more pixels than this are left out instead of decoded; so are pictures that are
// neither PNG nor JPEG.
constexpr uint64_t kMaxPicturePixels = 16u << 20;
// Pixel coordinates are clamped to this, far outside any export but safe for GDI's 32-bit maths.
constexpr double kMaxPixelCoordinate = 1 << 26;
// The default insets of a text body: 0.1 inch left and right, 0.05 inch top and bottom.
constexpr double kTextInsetX = 91440, kTextInsetY = 45720;
// Default font sizes (points) of titles and other text, before autofit scaling.
constexpr double kTitlePoints = 44, kBodyPoints = 18;
// The default corner of a rounded rectangle: 1/6 of the shorter side (the preset's 16667/100000).
constexpr double kRoundCornerRatio = 1.0 / 6.0;

LONG Pixel(double v) {
  if (!std::isfinite(v)) return 0;
  return LONG(std::lround(std::max(-kMaxPixelCoordinate, std::min(kMaxPixelCoordinate, v))));
}

class ComStream {
 public:
  explicit ComStream(IStream* s) : s_(s) {}
  ~ComStream() {
    if (s_) s_->Release();
  }
  ComStream(const ComStream&) = delete;
  ComStream& operator=(const ComStream&) = delete;
  IStream* get() const { return s_; }

 private:
  IStream* s_;
};

class GdipImage {
 public:
  GdipImage() = default;
  ~GdipImage() {
    if (bitmap) Gdiplus::DllExports::GdipDisposeImage(bitmap);
  }
  GdipImage(const GdipImage&) = delete;
  GdipImage& operator=(const GdipImage&) = delete;
  Gdiplus::GpBitmap* bitmap = nullptr;
};

// Draws an encoded picture stretched into `r`. Transparent pixels are blended over `under`
// (metafile playback of per-pixel alpha is not dependable, so the blend is done here).
uint32_t ReadU32BE(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint16_t ReadU16BE(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }

// The pixel size a PNG or JPEG header declares, read before the decoder sees the picture, so that
// a header claiming a huge image is refused instead of allocated. False when it is neither.
bool DeclaredPictureSize(const std::string& bytes, uint64_t& width, uint64_t& height) {
  const uint8_t* b = reinterpret_cast<const uint8_t*>(bytes.data());
  const size_t n = bytes.size();
  if (n >= 24 && memcmp(b, "\x89PNG\r\n\x1A\n", 8) == 0 && memcmp(b + 12, "IHDR", 4) == 0) {
    width = ReadU32BE(b + 16);
    height = ReadU32BE(b + 20);
    return true;
  }
  if (n < 4 || b[0] != 0xFF || b[1] != 0xD8) return false;
  for (size_t o = 2; o + 4 <= n;) {
    if (b[o] != 0xFF) return false;
    const uint8_t marker = b[o + 1];
    if (marker == 0xFF) {  // fill byte
      o++;
      continue;
    }
    const uint16_t length = ReadU16BE(b + o + 2);
    const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frame) {
      if (o + 9 > n) return false;
      height = ReadU16BE(b + o + 5);
      width = ReadU16BE(b + o + 7);
      return true;
    }
    if (length < 2) return false;
    o += 2u + length;
  }
  return false;
}

void DrawPicture(HDC dc, const ShapeModel& m, const RECT& r, COLORREF under) {
  const std::string& bytes = *m.image;
  using namespace Gdiplus;
  if (bytes.empty() || bytes.size() > UINT_MAX) return;
  uint64_t declaredW = 0, declaredH = 0;
  if (!DeclaredPictureSize(bytes, declaredW, declaredH) || declaredW == 0 || declaredH == 0 ||
      declaredW * declaredH > kMaxPicturePixels)
    return;
  ComStream stream(SHCreateMemStream(reinterpret_cast<const BYTE*>(bytes.data()), UINT(bytes.size())));
  if (!stream.get()) return;
  GdipImage image;
  if (DllExports::GdipCreateBitmapFromStream(stream.get(), &image.bitmap) != Ok) return;
  UINT w = 0, h = 0;
  DllExports::GdipGetImageWidth(image.bitmap, &w);
  DllExports::GdipGetImageHeight(image.bitmap, &h);
  if (w == 0 || h == 0 || uint64_t(w) * h > kMaxPicturePixels) return;
  // Only the part the crop keeps is copied, so the whole DIB is the source rectangle (how a
  // source offset into a top-down DIB is counted differs between implementations).
  const UINT sx = std::min(w - 1, UINT(std::lround(m.cropLeft * w)));
  const UINT sy = std::min(h - 1, UINT(std::lround(m.cropTop * h)));
  const UINT sw = std::max(1u, std::min(w - sx, UINT(std::lround((1 - m.cropLeft - m.cropRight) * w))));
  const UINT sh = std::max(1u, std::min(h - sy, UINT(std::lround((1 - m.cropTop - m.cropBottom) * h))));
  const GpRect kept{INT(sx), INT(sy), INT(sw), INT(sh)};
  BitmapData bd{};
  if (DllExports::GdipBitmapLockBits(image.bitmap, &kept, ImageLockModeRead, PixelFormat32bppARGB, &bd) != Ok) return;
  const size_t stride = (size_t(sw) * 3 + 3) & ~size_t(3);
  std::vector<BYTE> rows(stride * sh);
  const int ub[3] = {GetBValue(under), GetGValue(under), GetRValue(under)};
  for (UINT y = 0; y < sh; y++) {
    const BYTE* src = static_cast<const BYTE*>(bd.Scan0) + ptrdiff_t(y) * bd.Stride;
    BYTE* dst = &rows[y * stride];
    for (UINT x = 0; x < sw; x++, src += 4, dst += 3)
      for (int c = 0; c < 3; c++) dst[c] = BYTE((src[c] * src[3] + ub[c] * (255 - src[3]) + 127) / 255);
  }
  DllExports::GdipBitmapUnlockBits(image.bitmap, &bd);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = LONG(sw);
  bi.bmiHeader.biHeight = -LONG(sh);
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  bi.bmiHeader.biCompression = BI_RGB;
  SetStretchBltMode(dc, HALFTONE);
  StretchDIBits(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, 0, 0, int(sw), int(sh), rows.data(), &bi,
                DIB_RGB_COLORS, SRCCOPY);
}

// The character set a paragraph's East Asian text needs, as the application's separate East Asian
// font would give it: Arial holds none of these characters, and the font mapper picks a face that
// does only when the character set asks for it. Kana mark Japanese and Hangul Korean; other Han
// text is taken for Chinese.
BYTE CharsetOf(const std::wstring& text) {
  bool han = false;
  for (wchar_t c : text) {
    if ((c >= 0x3040 && c <= 0x30FF) || (c >= 0x31F0 && c <= 0x31FF)) return SHIFTJIS_CHARSET;
    if ((c >= 0xAC00 && c <= 0xD7AF) || (c >= 0x1100 && c <= 0x11FF) || (c >= 0x3130 && c <= 0x318F))
      return HANGUL_CHARSET;
    han = han || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF) || (c >= 0xF900 && c <= 0xFAFF) ||
          (c >= 0x3000 && c <= 0x303F) || (c >= 0xFF00 && c <= 0xFFEF);
  }
  return han ? GB2312_CHARSET : DEFAULT_CHARSET;
}

class ParagraphFont {
 public:
  ParagraphFont(const ShapeModel& m, const TextParagraph& p, double pixelsPerPoint) {
    const double points =
        (p.sizeHundredthPt ? p.sizeHundredthPt / 100.0 : m.isTitle ? kTitlePoints : kBodyPoints) * m.fontScale;
    const int pixels = std::max(1, int(std::min(kMaxPixelCoordinate, points * pixelsPerPoint)));
    font_ = GdiObject<HFONT>(CreateFontW(-pixels, 0, 0, 0, p.bold || m.isTitle ? FW_BOLD : FW_NORMAL, FALSE, FALSE,
                                         FALSE, CharsetOf(p.text), OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                         ANTIALIASED_QUALITY, DEFAULT_PITCH, L"Arial"));
  }
  HFONT get() const { return font_.get(); }

 private:
  GdiObject<HFONT> font_;
};

UINT FormatOf(const TextParagraph& p) {
  return DT_WORDBREAK | DT_NOPREFIX |
         (p.align == TextParagraph::Center ? DT_CENTER : p.align == TextParagraph::Right ? DT_RIGHT : DT_LEFT);
}

// The paragraphs one under the other inside the box's insets, placed at the top, middle or
// bottom as the shape's anchor says.
void DrawParagraphs(HDC dc, const ShapeModel& m, const RECT& box, double pixelsPerPoint, double kx, double ky) {
  RECT area = {box.left + Pixel(kTextInsetX * kx), box.top + Pixel(kTextInsetY * ky),
               box.right - Pixel(kTextInsetX * kx), box.bottom - Pixel(kTextInsetY * ky)};
  if (area.right <= area.left || area.bottom <= area.top) return;
  std::vector<LONG> heights;
  LONG total = 0;
  for (const TextParagraph& p : m.paragraphs) {
    ParagraphFont font(m, p, pixelsPerPoint);
    SelectedObject selected(dc, font.get());
    RECT measure = area;
    DrawTextW(dc, p.text.c_str(), int(std::min<size_t>(p.text.size(), INT_MAX)), &measure, FormatOf(p) | DT_CALCRECT);
    heights.push_back(std::max<LONG>(measure.bottom - measure.top, 1));
    total += heights.back();
    if (total > area.bottom - area.top) break;
  }
  const LONG spare = std::max<LONG>(0, area.bottom - area.top - total);
  area.top += m.anchor == ShapeModel::Middle ? spare / 2 : m.anchor == ShapeModel::Bottom ? spare : 0;
  SetBkMode(dc, TRANSPARENT);
  for (size_t i = 0; i < heights.size() && area.top < area.bottom; i++) {
    const TextParagraph& p = m.paragraphs[i];
    ParagraphFont font(m, p, pixelsPerPoint);
    SelectedObject selected(dc, font.get());
    SetTextColor(dc, p.hasColor ? p.color : RGB(0, 0, 0));
    DrawTextW(dc, p.text.c_str(), int(std::min<size_t>(p.text.size(), INT_MAX)), &area, FormatOf(p));
    area.top += heights[i];
  }
}

}  // namespace

void PaintSlide(const Deck& deck, size_t index, HDC dc, int width, int height) {
  if (index >= deck.slides.size() || width <= 0 || height <= 0 || deck.cx <= 0 || deck.cy <= 0) return;
  const SlideModel& slide = deck.slides[index];
  const double kx = double(width) / deck.cx, ky = double(height) / deck.cy;  // EMU -> pixels
  const double pixelsPerPoint = ky * kEmuPerPoint;
  RECT all = {0, 0, width, height};
  GdiObject<HBRUSH> background(CreateSolidBrush(slide.background));
  FillRect(dc, &all, background.get());
  for (const ShapeModel& m : slide.shapes) {
    const RECT r = {Pixel(m.x * kx), Pixel(m.y * ky), Pixel((m.x + m.cx) * kx), Pixel((m.y + m.cy) * ky)};
    const bool outline = m.hasLine || m.kind == ShapeModel::TableCell;
    const COLORREF lineColor = m.hasLine ? m.line : RGB(0, 0, 0);
    const int penWidth = std::max(1, int(std::min(kMaxPixelCoordinate, m.lineWidth * kx)));
    GdiObject<HPEN> pen(outline ? CreatePen(PS_SOLID, m.kind == ShapeModel::TableCell ? 1 : penWidth, lineColor)
                                : nullptr);
    GdiObject<HBRUSH> brush(m.hasFill ? CreateSolidBrush(m.fill) : nullptr);
    {
      SelectedObject p(dc, pen.get() ? HGDIOBJ(pen.get()) : GetStockObject(NULL_PEN));
      SelectedObject b(dc, brush.get() ? HGDIOBJ(brush.get()) : GetStockObject(NULL_BRUSH));
      // Without a pen GDI leaves the right and bottom edges out: extend by one pixel there.
      const LONG grow = outline ? 0 : 1;
      switch (m.kind) {
        case ShapeModel::Ellipse:
          Ellipse(dc, r.left, r.top, r.right + grow, r.bottom + grow);
          break;
        case ShapeModel::RoundRectangle: {
          const LONG corner = Pixel(std::min(r.right - r.left, r.bottom - r.top) * 2 * kRoundCornerRatio);
          RoundRect(dc, r.left, r.top, r.right + grow, r.bottom + grow, corner, corner);
          break;
        }
        case ShapeModel::Line:
          if (m.hasLine) {
            MoveToEx(dc, m.flipH ? r.right : r.left, m.flipV ? r.bottom : r.top, nullptr);
            LineTo(dc, m.flipH ? r.left : r.right, m.flipV ? r.top : r.bottom);
          }
          break;
        case ShapeModel::Picture:
          if (m.image) DrawPicture(dc, m, r, slide.background);
          break;
        case ShapeModel::Rectangle:
        case ShapeModel::TableCell:
          if (m.hasFill || outline) Rectangle(dc, r.left, r.top, r.right + grow, r.bottom + grow);
          break;
      }
    }
    if (!m.paragraphs.empty()) DrawParagraphs(dc, m, r, pixelsPerPoint, kx, ky);
  }
}

namespace {

// The window extent a converted metafile sets for itself (META_SETWINDOWEXT), in its own units.
bool WindowExtentOf(const std::vector<BYTE>& wmf, int& extX, int& extY) {
  constexpr size_t kHeaderBytes = 18;
  constexpr uint16_t kSetWindowExt = 0x020C;
  for (size_t o = kHeaderBytes; o + 6 <= wmf.size();) {
    const uint64_t words = uint64_t(wmf[o]) | uint64_t(wmf[o + 1]) << 8 | uint64_t(wmf[o + 2]) << 16 |
                           uint64_t(wmf[o + 3]) << 24;
    const uint16_t function = uint16_t(wmf[o + 4] | wmf[o + 5] << 8);
    if (words < 3 || words * 2 > wmf.size() - o) return false;
    if (function == kSetWindowExt && words >= 5) {
      extY = int16_t(wmf[o + 6] | wmf[o + 7] << 8);
      extX = int16_t(wmf[o + 8] | wmf[o + 9] << 8);
      return extX > 0 && extY > 0;
    }
    o += size_t(words * 2);
  }
  return false;
}

// A Windows metafile with the placeable header that tells readers its size: the bounding box is
// the window the metafile sets up, and "units per inch" makes that box width x height pixels of
// the reference device.
bool WriteWmf(HENHMETAFILE emf, HDC reference, const std::wstring& path, int width, int height, std::string& error) {
  const UINT size = GetWinMetaFileBits(emf, 0, nullptr, MM_ANISOTROPIC, reference);
  if (size == 0) {
    error = "the metafile could not be converted";
    return false;
  }
  std::vector<BYTE> bits(size);
  if (GetWinMetaFileBits(emf, size, bits.data(), MM_ANISOTROPIC, reference) != size) {
    error = "the metafile could not be converted";
    return false;
  }
  const int dpi = GetDeviceCaps(reference, LOGPIXELSX);
  int extX = width, extY = height;
  if (!WindowExtentOf(bits, extX, extY)) {
    extX = width;
    extY = height;
  }
  const long unitsPerInch = std::lround(double(extX) * dpi / width);
  if (extX > 32767 || extY > 32767 || unitsPerInch < 1 || unitsPerInch > 65535) {
    error = "the size is too large for a Windows metafile";
    return false;
  }
  BYTE header[22] = {};
  auto put16 = [&](int at, uint32_t v) {
    header[at] = BYTE(v & 255);
    header[at + 1] = BYTE((v >> 8) & 255);
  };
  put16(0, 0xCDD7);  // key 0x9AC6CDD7
  put16(2, 0x9AC6);
  put16(10, uint32_t(extX));
  put16(12, uint32_t(extY));
  put16(14, uint32_t(unitsPerInch));
  uint16_t sum = 0;
  for (int i = 0; i < 20; i += 2) sum ^= uint16_t(header[i] | header[i + 1] << 8);
  put16(20, sum);
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) {
    error = "the file cannot be written";
    return false;
  }
  DWORD w1 = 0, w2 = 0;
  const bool ok = WriteFile(f, header, sizeof header, &w1, nullptr) && WriteFile(f, bits.data(), size, &w2, nullptr) &&
                  w1 == sizeof header && w2 == size;
  CloseHandle(f);
  if (!ok) {
    DeleteFileW(path.c_str());
    error = "the file could not be written completely";
  }
  return ok;
}

}  // namespace

bool ExportSlide(const Deck& deck, size_t index, const std::wstring& path, MetafileFormat format, int width,
                 int height, std::string& error) {
  if (index >= deck.slides.size()) {
    error = "there is no such slide";
    return false;
  }
  if (width < 1 || height < 1 || width > kMaxExportSide || height > kMaxExportSide) {
    error = "the size is out of range";
    return false;
  }
  ScreenDC reference;
  if (!reference.get()) {
    error = "no reference device";
    return false;
  }
  // The frame is in 0.01 mm, rounded up: readers that convert it back to pixels truncate, so
  // rounding to nearest would make most sizes one pixel short. Strictly up, even when the value is
  // whole: readers compute in floating point and land just below an exact integer. One unit is far
  // less than a pixel, so the result never reaches the next pixel.
  auto frameUnits = [&](int pixels, int sizeCap, int resCap) {
    return LONG(std::floor(pixels * double(GetDeviceCaps(reference.get(), sizeCap)) * 100.0 /
                           GetDeviceCaps(reference.get(), resCap))) + 1;
  };
  const RECT frame = {0, 0, frameUnits(width, HORZSIZE, HORZRES), frameUnits(height, VERTSIZE, VERTRES)};
  const bool emf = format == MetafileFormat::Emf;
  HDC dc = CreateEnhMetaFileW(reference.get(), emf ? path.c_str() : nullptr, &frame, L"Tevarnic presenter\0Slide\0");
  if (!dc) {
    error = "the file cannot be written";
    return false;
  }
  PaintSlide(deck, index, dc, width, height);
  EnhMetafile done(CloseEnhMetaFile(dc));
  if (!done.get()) {
    if (emf) DeleteFileW(path.c_str());
    error = "the metafile could not be completed";
    return false;
  }
  return emf || WriteWmf(done.get(), reference.get(), path, width, height, error);
}

}  // namespace presenter
