// Targa reading and writing.
#include "ietgafil.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "iecodeccommon.h"
#include "ieutils.h"

namespace {

constexpr int kHeaderSize = 18;
constexpr int kFooterSize = 26;
constexpr int kExtensionSize = 495;
constexpr int kInputBufferSize = 8192;
constexpr int kPaletteSize = 256;
// One run packet of two bytes (depth 8) repeats a pixel at most 128 times.
constexpr uint64_t kMaxRLEPixelsPerByte = 64;
const char kSignature[] = "TRUEVISION-XFILE.";

// Reads the image data through an 8 KB buffer; a read past the end sets `eof`.
class TByteSource {
 public:
  explicit TByteSource(TIEStream& s) : stream_(s), buffer_(kInputBufferSize) {}
  bool Read(uint8_t* dst, int n) {
    while (n > 0) {
      if (pos_ == fill_) {
        fill_ = stream_.Read(buffer_.data(), kInputBufferSize);
        pos_ = 0;
        if (fill_ <= 0) {
          fill_ = 0;
          eof = true;
          return false;
        }
      }
      const int k = IEMin(n, fill_ - pos_);
      std::memcpy(dst, &buffer_[size_t(pos_)], size_t(k));
      pos_ += k;
      dst += k;
      n -= k;
    }
    return true;
  }
  bool eof = false;

 private:
  TIEStream& stream_;
  std::vector<uint8_t> buffer_;
  int fill_ = 0, pos_ = 0;
};

bool ValidType(int t) { return (t >= 1 && t <= 3) || (t >= 9 && t <= 11); }
bool ValidDepth(int d) { return d == 1 || d == 4 || d == 8 || d == 16 || d == 24 || d == 32; }

TIERGB From16(uint16_t v) {
  return IEMakeRGB(uint8_t(((v >> 10) & 31) * 8), uint8_t(((v >> 5) & 31) * 8), uint8_t((v & 31) * 8));
}

void DateFromDays(double dt, int& y, int& m, int& d, int& hh, int& mm, int& ss) {
  int64_t days = int64_t(std::floor(dt));
  double frac = dt - double(days);
  int64_t z = days - 25569 + 719468;  // to days since 0000-03-01
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = int(doy - (153 * mp + 2) / 5 + 1);
  m = int(mp < 10 ? mp + 3 : mp - 9);
  y = int(yoe + era * 400 + (m <= 2));
  int secs = int(frac * 86400.0 + 1e-6);
  hh = secs / 3600;
  mm = secs / 60 % 60;
  ss = secs % 60;
}

bool DateExists(int y, int m, int d) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return d <= kDays[m - 1] + (m == 2 && leap ? 1 : 0);
}

double DaysFromDate(int y, int m, int d, int hh, int mm, int ss) {
  y -= m <= 2;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return double(int64_t(era) * 146097 + doe - 719468 + 25569) + (hh * 3600.0 + mm * 60.0 + ss) / 86400.0;
}

std::string FieldText(const uint8_t* p, int n) {
  int len = 0;
  while (len < n && p[len]) ++len;
  return std::string(reinterpret_cast<const char*>(p), size_t(len));
}

// State of the row decoder: one pending run-length packet may carry over into the next row.
struct TDecoder {
  int depth;
  bool rle;
  int pendingHeader = -1;  // packet header byte; -1: none pending
  int pendingCount = 0;    // pixels of the pending packet still to produce
  uint8_t runValue[4] = {};
};

}  // namespace

bool IETGATest(TIEStream& Stream) {
  const int64_t pos = Stream.GetPosition();
  uint8_t h[kHeaderSize];
  bool ok = false;
  if (Stream.Read(h, kHeaderSize) == kHeaderSize)
    ok = ValidType(h[2]) && ValidDepth(h[16]) && h[1] < 2 && IEReadU16LE(h + 12) != 0 && IEReadU16LE(h + 14) != 0;
  Stream.SetPosition(pos);
  return ok;
}

namespace {

// The colours that 1-, 4- and 8-bit pixels stand for: the file's colour map, the grey ramp of an
// 8-bit grey file, black and white at 1 bit, or else a default ramp.
struct TTGAPalette {
  TIERGB colour[kPaletteSize];
  uint8_t alpha[kPaletteSize];
  bool hasAlpha = false;  // a 32-bit map entry carried alpha
};

// The extension area the footer points at (author, name, date, background, aspect ratio, gamma), or
// the defaults for a file without one.
void ReadTGAExtension(TIEStream& Stream, int64_t start, int64_t size, TIOParamsVals& Params) {
  Params.TGAAuthor.clear();
  Params.TGAImageName.clear();
  Params.TGADate = IENowAsDateTime();
  Params.TGABackground = TIERGB{0, 0, 0};
  Params.TGAAspectRatio = 1.0;
  Params.TGAGamma = 2.2;
  if (size >= kHeaderSize + kFooterSize) {
    uint8_t f[kFooterSize];
    Stream.SetPosition(start + size - kFooterSize);
    if (Stream.Read(f, kFooterSize) == kFooterSize && FieldText(f + 8, 18) == kSignature) {
      const uint32_t ext = IEReadU32LE(f);
      uint8_t e[kExtensionSize];
      if (ext != 0 && int64_t(ext) + kExtensionSize <= size) {
        Stream.SetPosition(start + ext);
        if (Stream.Read(e, kExtensionSize) == kExtensionSize) {
          Params.TGAAuthor = FieldText(e + 2, 41);
          const int mo = IEReadU16LE(e + 367), da = IEReadU16LE(e + 369), yr = IEReadU16LE(e + 371);
          const int hh = IEReadU16LE(e + 373), mi = IEReadU16LE(e + 375), se = IEReadU16LE(e + 377);
          if (yr >= 1 && yr <= 2499 && mo >= 1 && mo <= 12 && da >= 1 && da <= 31 && hh < 24 && mi < 60 && se < 60 &&
              DateExists(yr, mo, da))
            Params.TGADate = DaysFromDate(yr, mo, da, hh, mi, se);
          Params.TGAImageName = FieldText(e + 379, 41);
          Params.TGABackground = IEMakeRGB(e[471], e[472], e[473]);
          const int an = IEReadU16LE(e + 474), ad = IEReadU16LE(e + 476);
          if (an && ad) Params.TGAAspectRatio = double(an) / ad;
          const int gn = IEReadU16LE(e + 478), gd = IEReadU16LE(e + 480);
          if (gn && gd) Params.TGAGamma = double(gn) / gd;
        }
      }
    }
  }
}

// The colour map behind the image id, or the palette the pixel depth implies; false when the map
// claims more than the file holds or ends early.
bool ReadTGAColourMap(TByteSource& in, const uint8_t* h, int depth, int64_t size, TIOParamsVals& Params,
                      TTGAPalette& pal) {
  for (int i = 0; i < kPaletteSize; ++i) {
    pal.colour[i] = IEMakeRGB(uint8_t((i >> 5) * 32 + 28), uint8_t(((i >> 2) & 7) * 32 + 28), uint8_t((i & 3) * 64 + 60));
    pal.alpha[i] = 255;
  }
  const int mapFirst = IEReadU16LE(h + 3), mapLength = IEReadU16LE(h + 5), mapEntryBits = h[7];
  if (h[1] == 1) {
    const int entryBytes = (mapEntryBits + 7) / 8;
    if (entryBytes == 0 || int64_t(mapLength) * entryBytes > size) {
      return false;
    }
    // entries are stored from the first-entry index on; those past the 256 the library keeps are
    // read and dropped
    uint8_t e[4];
    for (int i = 0; i < mapLength; ++i) {
      if (entryBytes > 4) {
        std::vector<uint8_t> skip(static_cast<size_t>(entryBytes));
        if (!in.Read(skip.data(), entryBytes)) return false;
        continue;
      }
      if (!in.Read(e, entryBytes)) {
        return false;
      }
      const int ix = mapFirst + i;
      if (ix >= kPaletteSize) continue;
      switch (mapEntryBits) {
        case 15: case 16: pal.colour[ix] = From16(IEReadU16LE(e)); break;
        case 24: pal.colour[ix] = IEMakeRGB(e[2], e[1], e[0]); break;
        case 32:
          pal.colour[ix] = IEMakeRGB(e[2], e[1], e[0]);
          pal.alpha[ix] = e[3];
          pal.hasAlpha = true;
          break;
        default: break;  // an entry size the library does not decode: the default ramp stays
      }
    }
    const int keep = IEMin(mapLength, kPaletteSize);
    Params.SetColorMap(pal.colour, keep);
    Params.TGAGrayLevel = false;
  } else if (depth == 8) {
    for (int i = 0; i < kPaletteSize; ++i) pal.colour[i] = IEMakeRGB(uint8_t(i), uint8_t(i), uint8_t(i));
    Params.TGAGrayLevel = true;
  } else if (depth == 1) {
    pal.colour[0] = IEMakeRGB(0, 0, 0);
    pal.colour[1] = IEMakeRGB(255, 255, 255);
  }
  return true;
}

// The pixel rows into Bitmap (ie1g or ie24RGB, allocated) and their alpha into mask (when given),
// turned and mirrored as the descriptor says. Data that ends early sets the abort flag and keeps the
// rows read so far.
void ReadTGARows(TByteSource& in, TIEBitmap& Bitmap, TIEBitmap* mask, const TTGAPalette& pal, int depth,
                 bool rle, int descriptor, TIECodecProgress& Progress) {
  const int width = Bitmap.GetImageWidth(), height = Bitmap.GetImageHeight();
  const int64_t rowBytes = (int64_t(width) * depth + 7) / 8;
  std::vector<uint8_t> raw(size_t(rowBytes) + 4);
  std::vector<uint8_t> alphaRow(size_t(width), 255);
  const int pixelBytes = depth / 8;
  TDecoder dec{depth, rle};
  const bool topDown = (descriptor & 0x20) != 0;
  const bool mirror = (descriptor & 0x10) != 0 && depth >= 8;
  TIERowProgress progress(Progress, height);

  auto storePixel = [&](uint8_t* dst, int x, const uint8_t* v) {
    uint8_t* p = dst + 3 * x;
    switch (depth) {
      case 8:
        std::memcpy(p, &pal.colour[v[0]], 3);
        alphaRow[size_t(x)] = pal.alpha[v[0]];
        break;
      case 16: {
        TIERGB c = From16(IEReadU16LE(v));
        std::memcpy(p, &c, 3);
        break;
      }
      case 24: std::memcpy(p, v, 3); break;
      case 32:
        std::memcpy(p, v, 3);
        alphaRow[size_t(x)] = v[3];
        break;
    }
  };

  for (int r = 0; r < height; ++r) {
    const int by = topDown ? r : height - 1 - r;
    uint8_t* dst = Bitmap.GetRowAddress(by);
    if (!rle) {
      if (!in.Read(raw.data(), int(rowBytes))) {
        Progress.Abort();
        break;
      }
      if (depth == 1) {
        std::memcpy(dst, raw.data(), size_t(IEMin(int(rowBytes), Bitmap.GetRowLength())));
      } else if (depth == 4) {
        for (int x = 0; x < width; ++x) {
          const uint8_t ix = (x & 1) ? (raw[size_t(x >> 1)] & 15) : (raw[size_t(x >> 1)] >> 4);
          std::memcpy(dst + 3 * x, &pal.colour[ix], 3);
          alphaRow[size_t(x)] = pal.alpha[ix];
        }
      } else {
        for (int x = 0; x < width; ++x) storePixel(dst, x, &raw[size_t(x) * pixelBytes]);
      }
    } else {
      int x = 0;
      bool bad = false;
      while (x < width) {
        if (dec.pendingHeader < 0) {
          uint8_t hb;
          if (!in.Read(&hb, 1)) { bad = true; break; }
          dec.pendingHeader = hb;
          dec.pendingCount = (hb & 127) + 1;
          if (hb & 128) {
            if (!in.Read(dec.runValue, pixelBytes)) { bad = true; break; }
          }
        }
        const int take = IEMin(dec.pendingCount, width - x);
        for (int i = 0; i < take; ++i, ++x) {
          if (dec.pendingHeader & 128) {
            storePixel(dst, x, dec.runValue);
          } else {
            uint8_t v[4];
            if (!in.Read(v, pixelBytes)) { bad = true; break; }
            storePixel(dst, x, v);
          }
        }
        if (bad) break;
        dec.pendingCount -= take;
        if (dec.pendingCount == 0) dec.pendingHeader = -1;
      }
      if (bad) {
        Progress.Abort();
        break;
      }
    }
    if (mirror) {
      for (int a = 0, b = width - 1; a < b; ++a, --b) {
        uint8_t t[3];
        std::memcpy(t, dst + 3 * a, 3);
        std::memcpy(dst + 3 * a, dst + 3 * b, 3);
        std::memcpy(dst + 3 * b, t, 3);
        std::swap(alphaRow[size_t(a)], alphaRow[size_t(b)]);
      }
    }
    if (mask) std::memcpy(mask->GetRowAddress(by), alphaRow.data(), size_t(width));
    progress.Step();
    if (Progress.Aborted()) break;
  }
}

}  // namespace

void IETGARead(TIEStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, TIECodecProgress& Progress,
               bool ParamsOnly, TIEBitmap*& AlphaMask, bool IgnoreAlpha) {
  const int64_t start = Stream.GetPosition();
  const int64_t size = Stream.GetSize() - start;
  // footer and extension area
  ReadTGAExtension(Stream, start, size, Params);
  Stream.SetPosition(start);
  TByteSource in(Stream);
  uint8_t h[kHeaderSize];
  if (!in.Read(h, kHeaderSize)) {
    Progress.Abort();
    return;
  }
  Params.TGAXPos = IEReadU16LE(h + 8);
  Params.TGAYPos = IEReadU16LE(h + 10);
  const int type = h[2], depth = h[16], descriptor = h[17];
  if (!ValidType(type) || !ValidDepth(depth)) {
    Progress.Abort();
    return;
  }
  std::vector<uint8_t> id(h[0]);
  if (!id.empty() && !in.Read(id.data(), int(id.size()))) {
    Progress.Abort();
    return;
  }
  Params.TGADescriptor.assign(id.begin(), id.end());
  if (!Params.TGADescriptor.empty() && Params.TGADescriptor.back() == '\0')
    Params.TGADescriptor = FieldText(id.data(), int(id.size()));

  TTGAPalette pal;
  if (!ReadTGAColourMap(in, h, depth, size, Params, pal)) {
    Progress.Abort();
    return;
  }
  const bool rle = type >= 9;
  Params.TGACompressed = rle;
  const int width = IEReadU16LE(h + 12), height = IEReadU16LE(h + 14);
  Params.Width = Params.StoredWidth = width;
  Params.Height = Params.StoredHeight = height;
  Params.SetDpiX(IEDefaultDPIX);
  Params.SetDpiY(IEDefaultDPIY);
  Params.SetImageCount(1);
  IESetStoredDepth(Params, depth);
  if (ParamsOnly) return;
  if (width == 0 || height == 0 || (rle && (depth == 1 || depth == 4))) {
    Progress.Abort();  // run-length packets of 1- and 4-bit pixels have no defined layout
    return;
  }
  const int64_t rowBytes = (int64_t(width) * depth + 7) / 8;
  const uint64_t remaining = uint64_t(size);
  if ((!rle && uint64_t(rowBytes) * height > remaining) ||
      (rle && uint64_t(width) * height > remaining * kMaxRLEPixelsPerByte)) {
    Progress.Abort();  // the file cannot hold what its header claims
    return;
  }
  const bool oneBit = depth == 1;
  if (!Bitmap.Allocate(width, height, oneBit ? ie1g : ie24RGB)) {
    Progress.Abort();
    return;
  }
  TIEBitmap* mask = nullptr;
  if (!IgnoreAlpha && (depth == 32 || (h[1] == 1 && h[7] == 32 && pal.hasAlpha))) {
    mask = new TIEBitmap();
    if (!mask->Allocate(width, height, ie8g)) {
      delete mask;
      mask = nullptr;
    } else {
      mask->Fill(255);
    }
  }
  ReadTGARows(in, Bitmap, mask, pal, depth, rle, descriptor, Progress);
  if (mask) {
    bool anyNonZero = false;
    for (int y = 0; y < height && !anyNonZero; ++y) {
      const uint8_t* a = mask->GetRowAddress(y);
      for (int x = 0; x < width; ++x) if (a[x]) { anyNonZero = true; break; }
    }
    if (!anyNonZero) {
      delete mask;
      mask = nullptr;
    } else {
      delete AlphaMask;
      AlphaMask = mask;
    }
  }
}

namespace {

// What a save writes, chosen from the parameters (whose TGACompressed is cleared for the depths that
// are never run-length coded).
struct TTGAWritePlan {
  int w = 0, h = 0;
  int depth = 24;
  int colours = 0;  // colour map entries; 0 without one
  bool compressed = false;  // run-length packets (TGACompressed, where the depth has them)
};

// False when the bitmap cannot be stored: the header holds 16-bit sizes. Four bits per pixel is no
// TGA pixel size other programs read: 16 colours go out as 8-bit indexes into a 16-entry map.
bool PlanTGAWrite(TIEBitmap& Bitmap, const TIOParamsVals& Params, TIEBitmap* AlphaMask, TTGAWritePlan& plan) {
  plan.w = Bitmap.GetImageWidth();
  plan.h = Bitmap.GetImageHeight();
  if (plan.w <= 0 || plan.h <= 0 || plan.w > 65535 || plan.h > 65535) return false;
  plan.compressed = Params.TGACompressed;
  if (Params.SamplesPerPixel == 1 && Params.BitsPerSample == 1) {
    plan.depth = 1;
    plan.colours = 2;
    plan.compressed = false;
  } else if (Params.SamplesPerPixel == 1 && Params.BitsPerSample == 4) {
    plan.depth = 8;
    plan.colours = 16;
    plan.compressed = false;
  } else if (Params.SamplesPerPixel == 1 && Params.BitsPerSample == 8) {
    plan.depth = 8;
    plan.colours = 256;
  } else if (AlphaMask) {
    plan.depth = 32;
    plan.compressed = false;
  } else {
    plan.depth = 24;
  }
  return true;
}

// One row as run packets of up to 128 equal pixels and raw packets of pixels that differ from their
// successor; returns the bytes written to `out`.
size_t PackTGARow(const std::vector<uint8_t>& row, int w, int pb, std::vector<uint8_t>& out) {
  auto eq = [&](int a, int b) { return std::memcmp(&row[size_t(a) * pb], &row[size_t(b) * pb], size_t(pb)) == 0; };
  size_t o = 0;
  int p = 0;
  while (p < w) {
    int c = 1;
    while (p + c < w && c < 128 && eq(p + c, p)) ++c;
    if (c >= 2) {
      out[o++] = uint8_t(0x80 | (c - 1));
      std::memcpy(&out[o], &row[size_t(p) * pb], size_t(pb));
      o += size_t(pb);
      p += c;
      continue;
    }
    int n = 0;
    while (p + n < w - 1 && n < 127 && !eq(p + n, p + n + 1)) ++n;
    if (p + n == w - 1) ++n;
    out[o++] = uint8_t(n - 1);
    std::memcpy(&out[o], &row[size_t(p) * pb], size_t(n) * pb);
    o += size_t(n) * pb;
    p += n;
  }
  return o;
}

// The rows, top row first, plain or run-length coded.
void WriteTGARows(TIEStream& Stream, const TTGAWritePlan& plan, TIEBitmap* src, TIEBitmap* AlphaMask,
                  const std::vector<TIERGB>& pal, bool grey8, bool compressed, TIECodecProgress& Progress,
                  std::atomic<bool>& abort) {
  const int w = plan.w, h = plan.h, depth = plan.depth;
  const int pb = depth == 32 ? 4 : depth == 24 ? 3 : 1;
  const int64_t rowBytes = depth == 1 ? (w + 7) / 8 : int64_t(w) * pb;
  std::vector<uint8_t> row(static_cast<size_t>(rowBytes));
  std::vector<uint8_t> out(size_t(w) * (pb + 1) + 16);
  TIERowProgress progress(Progress, h);
  for (int y = 0; y < h && !abort; ++y) {
    const uint8_t* s = src->GetRowAddress(y);
    switch (depth) {
      case 1: std::memcpy(row.data(), s, size_t(rowBytes)); break;
      case 8:
        if (grey8) for (int x = 0; x < w; ++x) row[size_t(x)] = uint8_t(IERGBToGray(pal[s[x]]));
        else std::memcpy(row.data(), s, size_t(w));
        break;
      case 24: std::memcpy(row.data(), s, size_t(rowBytes)); break;
      case 32: {
        const uint8_t* a = AlphaMask->GetImageHeight() > y ? AlphaMask->GetRowAddress(y) : nullptr;
        for (int x = 0; x < w; ++x) {
          std::memcpy(&row[size_t(x) * 4], s + 3 * x, 3);
          row[size_t(x) * 4 + 3] = (a && x < AlphaMask->GetImageWidth()) ? a[x] : 255;
        }
        break;
      }
    }
    if (!compressed) IEStreamWriteCheck(Stream, abort, row.data(), int32_t(rowBytes));
    else IEStreamWriteCheck(Stream, abort, out.data(), int32_t(PackTGARow(row, w, pb, out)));
    progress.Step();
  }
}

// The extension area (author, name, date, background, aspect ratio, gamma) and the footer that points
// at it from the file's start.
void WriteTGAExtensionAndFooter(TIEStream& Stream, const TIOParamsVals& Params, int64_t start,
                                std::atomic<bool>& abort) {
  uint8_t e[kExtensionSize] = {};
  IEWriteU16LE(e, kExtensionSize);
  std::strncpy(reinterpret_cast<char*>(e + 2), Params.TGAAuthor.substr(0, 40).c_str(), 41);
  std::strncpy(reinterpret_cast<char*>(e + 379), Params.TGAImageName.substr(0, 40).c_str(), 41);
  int yr, mo, da, hh, mi, se;
  DateFromDays(Params.TGADate, yr, mo, da, hh, mi, se);
  IEWriteU16LE(e + 367, uint16_t(mo));
  IEWriteU16LE(e + 369, uint16_t(da));
  IEWriteU16LE(e + 371, uint16_t(yr));
  IEWriteU16LE(e + 373, uint16_t(hh));
  IEWriteU16LE(e + 375, uint16_t(mi));
  IEWriteU16LE(e + 377, uint16_t(se));
  e[470] = 0;
  e[471] = Params.TGABackground.r;
  e[472] = Params.TGABackground.g;
  e[473] = Params.TGABackground.b;
  // ratios that do not fit the 16-bit numerator are capped rather than wrapped
  auto ratio = [](double v) { double n = std::trunc(v * 10000); return uint16_t(n < 0 ? 0 : n > 65535 ? 65535 : n); };
  IEWriteU16LE(e + 474, ratio(Params.TGAAspectRatio));
  IEWriteU16LE(e + 476, 10000);
  IEWriteU16LE(e + 478, ratio(Params.TGAGamma));
  IEWriteU16LE(e + 480, 10000);
  const int64_t extPos = Stream.GetPosition();
  IEStreamWriteCheck(Stream, abort, e, kExtensionSize);
  uint8_t f[kFooterSize] = {};
  IEWriteU32LE(f, uint32_t(extPos - start));
  std::memcpy(f + 8, kSignature, 18);
  IEStreamWriteCheck(Stream, abort, f, kFooterSize);
}

}  // namespace

void IETGAWrite(TIEStream& Stream, TIEBitmap& Bitmap, const TIOParamsVals& Params, TIECodecProgress& Progress,
                TIEBitmap* AlphaMask) {
  std::atomic<bool>& abort = *Progress.Aborting;
  const int64_t start = Stream.GetPosition();
  TTGAWritePlan plan;
  if (!PlanTGAWrite(Bitmap, Params, AlphaMask, plan)) {
    Progress.Abort();
    return;
  }
  const int w = plan.w, h = plan.h, depth = plan.depth;
  int colours = plan.colours;
  const TIEPixelFormat fmt = depth == 1 ? ie1g : depth == 8 ? ie8p : ie24RGB;
  TIEWriterSource src(Bitmap, fmt, colours ? colours : 256);
  if (src->GetImageWidth() != w || src->GetImageHeight() != h) {
    Progress.Abort();
    return;
  }
  // a palette bitmap passed through as it is may index beyond the colours asked for
  if (depth == 8 && src->GetPaletteCount() > colours) colours = 256;
  const bool grey8 = depth == 8 && Params.TGAGrayLevel;
  const bool mapped = depth == 8 && !grey8;
  const bool compressed = plan.compressed && (depth == 8 || depth == 24);
  std::vector<TIERGB> pal(size_t(colours), TIERGB{0, 0, 0});
  for (int i = 0; i < colours && i < src->GetPaletteCount(); ++i) pal[size_t(i)] = src->GetPaletteEntry(i);

  const std::string id = Params.TGADescriptor.substr(0, 254);
  uint8_t hd[kHeaderSize] = {};
  hd[0] = uint8_t(id.size() + 1);
  if (mapped) {
    hd[1] = 1;
    hd[2] = compressed ? 9 : 1;
    IEWriteU16LE(hd + 5, uint16_t(colours));
    hd[7] = 24;
  } else {
    hd[2] = (depth == 1 || grey8) ? (compressed ? 11 : 3) : (compressed ? 10 : 2);
  }
  IEWriteU16LE(hd + 8, uint16_t(Params.TGAXPos));
  IEWriteU16LE(hd + 10, uint16_t(Params.TGAYPos));
  IEWriteU16LE(hd + 12, uint16_t(w));
  IEWriteU16LE(hd + 14, uint16_t(h));
  hd[16] = uint8_t(depth);
  hd[17] = uint8_t(0x20 | (depth == 32 ? 8 : 0));
  IEStreamWriteCheck(Stream, abort, hd, kHeaderSize);
  IEStreamWriteCheck(Stream, abort, id.c_str(), int32_t(id.size() + 1));
  if (mapped)
    for (const TIERGB& c : pal) IEStreamWriteCheck(Stream, abort, &c, 3);

  WriteTGARows(Stream, plan, src.get(), AlphaMask, pal, grey8, compressed, Progress, abort);
  WriteTGAExtensionAndFooter(Stream, Params, start, abort);
}
