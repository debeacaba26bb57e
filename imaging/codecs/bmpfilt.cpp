// Windows bitmap reading and writing, and the RLE4/RLE8 coders.
#include "bmpfilt.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "iebmprle.h"
#include "iecodeccommon.h"
#include "ieutils.h"

namespace {

constexpr int kFileHeaderSize = 14;
constexpr int kCoreHeaderSize = 12;
constexpr int kInfoHeaderSize = 40;
constexpr int kMaxHeaderRead = 64;
constexpr int kMaxPaletteEntries = 256;
constexpr uint64_t kMaxBMPFileSize = 0xFFFFFFFF;  // the file header states the size in 32 bits
// A run code of two bytes gives at most 255 pixels, an end-of-line code ends a row: a compressed
// block of n bytes cannot describe more rows than n / 2 + 1 or more pixels than 128 per byte. Larger
// claims are refused before the bitmap is allocated.
constexpr uint64_t kMaxRLEPixelsPerByte = 128;

int DpiFromPixelsPerMetre(int32_t ppm) { return IERound(ppm / 100.0 * 2.54); }
int32_t PixelsPerMetreFromDpi(int dpi) { return IERound(dpi / 2.54 * 100.0); }

// The decoders' write position: row |top - y|, column x. Pixels beyond the right edge are dropped in
// both codings: writers pad rows to whole bytes or words, and laying the padding over the row's last
// pixel would corrupt it.
enum TRLEForm { rleIndex, rleRGB };

template <TRLEForm Form>
struct TRLERowSink {
  TIEBitmap& bmp;
  int top, w, h;
  TIECodecProgress& progress;
  const TIERGB* palette;
  uint8_t* row;
  // the walker counts rows up from the first data row; the decoders count down from the last
  int RowOf(int y) const { return h - 1 - y; }
  bool Pixel(int x, int, uint8_t index) {
    if (x < w) {
      if (Form == rleIndex) row[x] = index;
      else std::memcpy(row + size_t(x) * 3, &palette[index], 3);
    }
    return true;
  }
  bool NewLine(int y) {
    if (RowOf(y) < 0) return false;
    row = bmp.GetRowAddress(std::abs(top - RowOf(y)));
    if (progress.OnProgress) progress.Report(int((h - RowOf(y)) * progress.Per1));
    return !progress.Aborted();
  }
  bool Move(int x, int y) {  // a move outside the bitmap ends the decoding
    if (RowOf(y) < 0 || x > w) return false;
    row = bmp.GetRowAddress(std::abs(top - RowOf(y)));
    return true;
  }
};

template <bool Four, TRLEForm Form>
void DecodeRLE(TIEBitmap& bmp, const uint8_t* data, int64_t size, int top, TIECodecProgress& progress,
               const TIERGB* palette) {
  const int w = bmp.GetImageWidth(), h = bmp.GetImageHeight();
  if (w <= 0 || h <= 0 || !data || size <= 0) return;
  TRLERowSink<Form> sink{bmp, top, w, h, progress, palette, bmp.GetRowAddress(std::abs(top - (h - 1)))};
  IEWalkBMPRLE<Four>(data, size_t(size), sink);
}

// Literal flush and row scan of the RLE encoders.
template <bool Four>
int EncodeRow(const uint8_t* ix, int count, uint8_t* out) {
  int o = 0;
  auto flush = [&](int from, int to) {
    while (from < to) {
      const int m = IEMin(255, to - from);
      const uint8_t* s = ix + from;
      if (m == 1) {
        out[o++] = 1;
        out[o++] = Four ? uint8_t(s[0] << 4) : s[0];
      } else if (m == 2) {
        if (Four) {
          out[o++] = 2;
          out[o++] = uint8_t((s[0] << 4) | (s[1] & 15));
        } else {
          out[o++] = 1; out[o++] = s[0];
          out[o++] = 1; out[o++] = s[1];
        }
      } else {
        out[o++] = 0;
        out[o++] = uint8_t(m);
        if (Four) {
          const int bytes = (m + 1) / 2;
          for (int i = 0; i < bytes; ++i) {
            uint8_t b = uint8_t(s[2 * i] << 4);
            if (2 * i + 1 < m) b |= s[2 * i + 1] & 15;
            out[o++] = b;
          }
          if (bytes & 1) out[o++] = 0;
        } else {
          std::memcpy(out + o, s, size_t(m));
          o += m;
          if (m & 1) out[o++] = 0;
        }
      }
      from += m;
    }
  };
  int lit = 0, p = 0;
  while (p < count) {
    if (p - lit > 255) {
      flush(lit, lit + 255);
      lit += 255;
    }
    if (p < count - 1 && ix[p] == ix[p + 1]) {
      flush(lit, p);
      int run = 1;
      while (p + run < count && run < 255 && ix[p + run] == ix[p]) ++run;
      out[o++] = uint8_t(run);
      out[o++] = Four ? uint8_t((ix[p] << 4) | (ix[p] & 15)) : ix[p];
      p += run;
      lit = p;
    } else {
      ++p;
    }
  }
  flush(lit, count);
  out[o++] = 0;
  out[o++] = 0;
  return o;
}

// A 16-bit pixel's channel scaled to 8 bits from its (contiguous) mask.
uint8_t MaskChannel(uint32_t pixel, uint32_t mask) {
  if (!mask) return 0;
  int low = 0;
  while (!((mask >> low) & 1)) ++low;
  const int n = IEBitFieldWidth(mask);
  uint32_t v = (pixel & mask) >> low;
  if (n < 8) return uint8_t(v << (8 - n));
  return uint8_t(v >> (n - 8));
}

}  // namespace

void IEBMPDecodeRLE4ToRGB(TIEBitmap& b, const uint8_t* d, int64_t n, int top, TIECodecProgress& p, const TIERGB* pal) {
  DecodeRLE<true, rleRGB>(b, d, n, top, p, pal);
}
void IEBMPDecodeRLE8ToRGB(TIEBitmap& b, const uint8_t* d, int64_t n, int top, TIECodecProgress& p, const TIERGB* pal) {
  DecodeRLE<false, rleRGB>(b, d, n, top, p, pal);
}
void IEBMPDecodeRLE4ToIndex(TIEBitmap& b, const uint8_t* d, int64_t n, int top, TIECodecProgress& p) {
  DecodeRLE<true, rleIndex>(b, d, n, top, p, nullptr);
}
void IEBMPDecodeRLE8ToIndex(TIEBitmap& b, const uint8_t* d, int64_t n, int top, TIECodecProgress& p) {
  DecodeRLE<false, rleIndex>(b, d, n, top, p, nullptr);
}
int IEBMPEncodeRLE4Row(const uint8_t* ix, int count, uint8_t* out) { return EncodeRow<true>(ix, count, out); }
int IEBMPEncodeRLE8Row(const uint8_t* ix, int count, uint8_t* out) { return EncodeRow<false>(ix, count, out); }

namespace {

// What the info (or core) header says of the pixels.
struct TBMPInfo {
  int64_t width = 0, height = 0;
  int bitCount = 0;
  uint32_t compression = 0, imageSize = 0;
  bool topDown = false;
  int paletteCount = 0, paletteEntrySize = 4;
  uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};  // 16-bit channels; BI_BITFIELDS replaces them
};

// Reads the info or core header (and the bit-field masks behind a short one) into info, and the
// version and resolution into Params; false, with the abort flag set, for a header the stream cannot
// hold or a negative width.
bool ReadBMPInfoHeader(TIEStream& Stream, int64_t streamEnd, TIOParamsVals& Params, TIECodecProgress& Progress,
                       TBMPInfo& info) {
  uint8_t hs[4];
  if (!IEReadExact(Stream, Progress, hs, 4)) return false;
  Stream.Seek(-4, soFromCurrent);
  const uint32_t headerSize = IEReadU32LE(hs);
  Params.FreeColorMap();

  if (headerSize == kCoreHeaderSize) {
    uint8_t ch[kCoreHeaderSize];
    if (!IEReadExact(Stream, Progress, ch, sizeof ch)) return false;
    Params.BMPVersion = 2;
    info.width = IEReadU16LE(ch + 4);
    info.height = IEReadU16LE(ch + 6);
    info.bitCount = IEReadU16LE(ch + 10);
    Params.SetDpiX(IEDefaultDPIX);
    Params.SetDpiY(IEDefaultDPIY);
    if (info.bitCount <= 8) {
      info.paletteCount = 1 << info.bitCount;
      info.paletteEntrySize = 3;
    }
  } else {
    if (headerSize < 16 || headerSize > uint64_t(streamEnd - Stream.GetPosition())) {
      Progress.Abort();
      return false;
    }
    uint8_t ih[kMaxHeaderRead] = {};
    const int take = int(IEMin(int(headerSize), kMaxHeaderRead));
    if (!IEReadExact(Stream, Progress, ih, take)) return false;
    if (headerSize > kMaxHeaderRead) Stream.Seek(int64_t(headerSize) - kMaxHeaderRead, soFromCurrent);
    Params.BMPVersion = headerSize == 40 ? 1 : headerSize == 64 ? 3 : 0;
    info.width = int32_t(IEReadU32LE(ih + 4));
    info.height = int32_t(IEReadU32LE(ih + 8));
    if (info.height < 0) {
      info.height = -info.height;
      info.topDown = true;
    }
    info.bitCount = IEReadU16LE(ih + 14);
    info.compression = IEReadU32LE(ih + 16);
    info.imageSize = IEReadU32LE(ih + 20);
    int dx = DpiFromPixelsPerMetre(int32_t(IEReadU32LE(ih + 24)));
    int dy = DpiFromPixelsPerMetre(int32_t(IEReadU32LE(ih + 28)));
    Params.SetDpiX(dx > 0 ? dx : IEDefaultDPIX);
    Params.SetDpiY(dy > 0 ? dy : IEDefaultDPIY);
    uint32_t used = IEReadU32LE(ih + 32);
    if (used > kMaxPaletteEntries) used = 0;
    if (used == 0 && info.bitCount <= 8 && info.bitCount >= 1) used = 1u << info.bitCount;
    info.paletteCount = int(used);
    if (info.compression == 3) {
      if (headerSize >= 52) {
        for (int i = 0; i < 3; ++i) info.masks[i] = IEReadU32LE(ih + 40 + 4 * i);
      } else {
        uint8_t m[12];
        if (!IEReadExact(Stream, Progress, m, sizeof m)) return false;
        for (int i = 0; i < 3; ++i) info.masks[i] = IEReadU32LE(m + 4 * i);
      }
    }
  }
  if (info.width < 0) {
    Progress.Abort();
    return false;
  }
  return true;
}

// The uncompressed rows, bottom row first in the file, into Bitmap (allocated); 32-bit alpha into
// mask when given. Returns whether any alpha value was not 0.
bool ReadBMPRows(TIEStream& Stream, TIEBitmap& Bitmap, const TBMPInfo& info, const TIERGB* palette, bool mono,
                 bool native, int top, int64_t rowBytes, TIEBitmap* mask, TIECodecProgress& Progress) {
  const int w = Bitmap.GetImageWidth(), h = Bitmap.GetImageHeight();
  const int bitCount = info.bitCount;
  const uint32_t* masks = info.masks;
  std::vector<uint8_t> rowBuf(static_cast<size_t>(rowBytes));
  bool anyAlpha = false;
  int lastPer = -1;
  for (int y = h - 1; y >= 0; --y) {
    const int per = int((h - 1 - y) * Progress.Per1);
    if (Progress.OnProgress && per != lastPer) {
      lastPer = per;
      Progress.Report(per);
    }
    if (Progress.Aborted()) break;
    const int by = std::abs(top - y);
    uint8_t* dst = Bitmap.GetRowAddress(by);
    if (mono || bitCount == 24) {
      const int n = Bitmap.GetRowLength() < rowBytes ? Bitmap.GetRowLength() : int(rowBytes);
      if (!IEReadExact(Stream, Progress, rowBuf.data(), rowBytes)) break;
      std::memcpy(dst, rowBuf.data(), size_t(n));
      continue;
    }
    if (!IEReadExact(Stream, Progress, rowBuf.data(), rowBytes)) break;
    const uint8_t* s = rowBuf.data();
    switch (bitCount) {
      case 1:
        for (int x = 0; x < w; ++x) std::memcpy(dst + 3 * x, &palette[(s[x >> 3] >> (7 - (x & 7))) & 1], 3);
        break;
      case 4:
        for (int x = 0; x < w; ++x) {
          const uint8_t ix = (x & 1) ? (s[x >> 1] & 15) : (s[x >> 1] >> 4);
          if (native) dst[x] = ix;
          else std::memcpy(dst + 3 * x, &palette[ix], 3);
        }
        break;
      case 8:
        if (native) std::memcpy(dst, s, size_t(w));
        else for (int x = 0; x < w; ++x) std::memcpy(dst + 3 * x, &palette[s[x]], 3);
        break;
      case 16:
        for (int x = 0; x < w; ++x) {
          const uint32_t px = IEReadU16LE(s + 2 * x);
          dst[3 * x + 2] = MaskChannel(px, masks[0]);
          dst[3 * x + 1] = MaskChannel(px, masks[1]);
          dst[3 * x + 0] = MaskChannel(px, masks[2]);
        }
        break;
      case 32: {
        uint8_t* a = mask ? mask->GetRowAddress(by) : nullptr;
        for (int x = 0; x < w; ++x) {
          std::memcpy(dst + 3 * x, s + 4 * x, 3);
          if (a) {
            a[x] = s[4 * x + 3];
            anyAlpha |= s[4 * x + 3] != 0;
          }
        }
        break;
      }
    }
  }
  return anyAlpha;
}

// Reads the file header, unless the stream starts with the bitmap header, into the image's data size
// (when the caller gave none) and the offset of its pixels; false, with the abort flag set, for a
// stream that holds no bitmap.
bool ReadBMPFileHeader(TIEStream& Stream, bool noFileHeader, int64_t start, int64_t streamEnd,
                       TIECodecProgress& Progress, int32_t& dataSize, uint32_t& pixelOffset) {
  pixelOffset = 0;
  if (noFileHeader) {
    if (dataSize <= 0) dataSize = int32_t(streamEnd - start > 0x7FFFFFFF ? 0x7FFFFFFF : streamEnd - start);
    return true;
  }
  uint8_t fh[kFileHeaderSize];
  if (!IEReadExact(Stream, Progress, fh, sizeof fh)) return false;
  if (IEReadU16LE(fh) != 0x4D42) {
    Progress.Abort();
    return false;
  }
  const uint32_t fileSize = IEReadU32LE(fh + 2);
  if (fileSize != 0 && dataSize <= 0 && fileSize <= 0x7FFFFFFF) dataSize = int32_t(fileSize);
  pixelOffset = IEReadU32LE(fh + 10);
  return true;
}

// The colour table behind the headers into palette and Params.
bool ReadBMPPalette(TIEStream& Stream, const TBMPInfo& info, TIOParamsVals& Params, TIECodecProgress& Progress,
                    TIERGB* palette) {
  if (info.paletteCount <= 0) return true;
  std::vector<uint8_t> raw(size_t(info.paletteCount) * info.paletteEntrySize);
  if (!IEReadExact(Stream, Progress, raw.data(), int64_t(raw.size()))) return false;
  for (int i = 0; i < info.paletteCount; ++i) std::memcpy(&palette[i], &raw[size_t(i) * info.paletteEntrySize], 3);
  Params.SetColorMap(palette, info.paletteCount);
  return true;
}

// The image's size, samples and coding into Params; false, with the abort flag set, for a depth no
// bitmap has.
bool StoreBMPParams(const TBMPInfo& info, TIOParamsVals& Params, TIECodecProgress& Progress) {
  Params.SetImageCount(1);
  Params.BMPCompression = (info.compression == 1 || info.compression == 2) ? 1 : 0;
  Params.Width = int(IEMin(int(info.width), 0x7FFFFFFF));
  Params.Height = int(info.height);
  Params.StoredWidth = Params.Width;
  Params.StoredHeight = Params.Height;
  if (!IESetStoredDepth(Params, info.bitCount)) {
    Progress.Abort();  // no such depth
    return false;
  }
  return true;
}

// Where the pixels are and how they are stored and delivered, settled before anything is allocated.
struct TBMPLayout {
  int64_t dataStart = 0;
  int64_t compressedSize = 0;  // bytes of run-length data the stream holds
  int64_t rowBytes = 0;        // a stored uncompressed row, padded to 32 bits
  bool rle = false;
  bool native = false;  // 4- and 8-bit indices kept as ie8p
  bool mono = false;    // 1-bit black and white kept as ie1g
  int top = 0;          // the decoders' TopRow: height - 1 for a top-down file, 0 for a bottom-up one
};

// Moves to the pixels (the file header's offset when it gave one) and sizes their block by the data
// size or the info header, within the stream.
bool LocateBMPData(TIEStream& Stream, int64_t start, int64_t streamEnd, uint32_t pixelOffset, int32_t dataSize,
                   const TBMPInfo& info, TIECodecProgress& Progress, TBMPLayout& layout) {
  if (pixelOffset != 0) {
    if (int64_t(pixelOffset) > streamEnd - start) {
      Progress.Abort();
      return false;
    }
    Stream.SetPosition(start + pixelOffset);
  }
  layout.dataStart = Stream.GetPosition();
  layout.compressedSize = dataSize > 0 ? dataSize - (layout.dataStart - start) : info.imageSize;
  if (layout.compressedSize > streamEnd - layout.dataStart) layout.compressedSize = streamEnd - layout.dataStart;
  return true;
}

// Refuses, before allocating, a coding the depth cannot carry, an image over the library's limit,
// and rows or runs the stream cannot hold.
bool CheckBMPSizes(const TBMPInfo& info, int64_t streamEnd, TIECodecProgress& Progress, TBMPLayout& layout) {
  const int64_t width = info.width, height = info.height;
  const uint32_t compression = info.compression;
  layout.rle = (compression == 1 && info.bitCount == 8) || (compression == 2 && info.bitCount == 4);
  if ((compression == 1 || compression == 2) && !layout.rle) {
    Progress.Abort();  // a compression this depth cannot carry
    return false;
  }
  if (!IEImageSizeAllowed(width, height)) {
    Progress.Abort();
    return false;
  }
  layout.rowBytes = ((width * info.bitCount + 31) / 32) * 4;
  const uint64_t compressed = uint64_t(layout.compressedSize);
  if (!layout.rle) {
    if (uint64_t(layout.rowBytes) * uint64_t(height) > uint64_t(streamEnd - layout.dataStart)) {
      Progress.Abort();  // the file cannot hold the rows its header claims
      return false;
    }
  } else if (layout.compressedSize <= 0 || uint64_t(height) > compressed / 2 + 1 ||
             uint64_t(width) * uint64_t(height) > compressed * kMaxRLEPixelsPerByte) {
    Progress.Abort();
    return false;
  }
  return true;
}

// Chooses the pixel format (4- and 8-bit indices as ie8p when the caller asks for the native format;
// 1-bit black and white as ie1g; the rest as ie24RGB) and allocates the bitmap.
bool AllocateBMPBitmap(TIEBitmap& Bitmap, const TBMPInfo& info, const TIERGB* palette, bool nativeFormat,
                       TIECodecProgress& Progress, TBMPLayout& layout) {
  const int bitCount = info.bitCount, paletteCount = info.paletteCount;
  layout.native = (bitCount == 4 || bitCount == 8) && nativeFormat;
  // 1-bit images are ie1g when their two colours are black and white (either order); other colour
  // pairs are kept by decoding through the palette
  auto isBlack = [](TIERGB c) { return c.r == 0 && c.g == 0 && c.b == 0; };
  auto isWhite = [](TIERGB c) { return c.r == 255 && c.g == 255 && c.b == 255; };
  layout.mono = bitCount == 1 && (paletteCount < 2 || (isBlack(palette[0]) && isWhite(palette[1])) ||
                                  (isWhite(palette[0]) && isBlack(palette[1])));
  const TIEPixelFormat pf = layout.mono ? ie1g : layout.native ? ie8p : ie24RGB;
  if (!Bitmap.Allocate(int(info.width), int(info.height), pf)) {
    Progress.Abort();
    return false;
  }
  if (layout.native) {
    for (int i = 0; i < paletteCount; ++i) Bitmap.SetPaletteEntry(i, palette[i]);
    Bitmap.PaletteColorTarget = bitCount == 4 ? 16 : 256;
  }
  layout.top = info.topDown ? int(info.height) - 1 : 0;
  return true;
}

// The run-length block, read whole, into the allocated bitmap.
void DecodeBMPRLE(TIEStream& Stream, TIEBitmap& Bitmap, const TBMPInfo& info, const TBMPLayout& layout,
                  const TIERGB* palette, TIECodecProgress& Progress) {
  const int64_t n = layout.compressedSize;
  std::vector<uint8_t> data(static_cast<size_t>(n));
  if (!IEReadExact(Stream, Progress, data.data(), n)) return;
  if (info.bitCount == 4) {
    if (layout.native) IEBMPDecodeRLE4ToIndex(Bitmap, data.data(), n, layout.top, Progress);
    else IEBMPDecodeRLE4ToRGB(Bitmap, data.data(), n, layout.top, Progress, palette);
  } else {
    if (layout.native) IEBMPDecodeRLE8ToIndex(Bitmap, data.data(), n, layout.top, Progress);
    else IEBMPDecodeRLE8ToRGB(Bitmap, data.data(), n, layout.top, Progress, palette);
  }
}

// A w x h mask for a 32-bit image's fourth bytes, opaque until they are read; nullptr when it
// cannot be had.
TIEBitmap* NewBMPAlphaMask(int w, int h) {
  TIEBitmap* mask = new TIEBitmap();
  if (!mask->Allocate(w, h, ie8g)) {
    delete mask;
    return nullptr;
  }
  mask->Fill(255);
  return mask;
}

// The library's 1-bit images hold white as 1: a file whose palette says white, black has its bits
// inverted.
void InvertWhiteOnBlack(TIEBitmap& Bitmap, const TBMPInfo& info, const TIERGB* palette) {
  if (!(info.paletteCount == 2 && palette[0].r == 255 && palette[0].g == 255 && palette[0].b == 255 &&
        palette[1].r == 0 && palette[1].g == 0 && palette[1].b == 0))
    return;
  for (int y = 0; y < Bitmap.GetImageHeight(); ++y) {
    uint8_t* r = Bitmap.GetRowAddress(y);
    for (int i = 0; i < Bitmap.GetRowLength(); ++i) r[i] = uint8_t(~r[i]);
  }
}

// Hands the mask to the caller's AlphaMask when its fourth bytes said something (not all 0, not all
// 255); else drops it.
void KeepBMPAlphaMask(TIEBitmap* mask, bool anyAlpha, TIEBitmap*& AlphaMask) {
  if (!mask) return;
  bool all255 = true;
  const int w = mask->GetImageWidth(), h = mask->GetImageHeight();
  for (int y = 0; y < h && all255; ++y) {
    const uint8_t* a = mask->GetRowAddress(y);
    for (int x = 0; x < w; ++x) if (a[x] != 255) { all255 = false; break; }
  }
  if (!anyAlpha || all255) {
    delete mask;
    return;
  }
  delete AlphaMask;
  AlphaMask = mask;
}

}  // namespace

void IEBMPRead(TIEStream& Stream, TIEBitmap& Bitmap, int32_t DataSize, TIOParamsVals& Params,
               TIECodecProgress& Progress, bool ParamsOnly, bool NoFileHeader, TIEBitmap*& AlphaMask,
               bool IgnoreAlpha) {
  const int64_t start = Stream.GetPosition();
  const int64_t streamEnd = Stream.GetSize();
  uint32_t pixelOffset = 0;
  if (!ReadBMPFileHeader(Stream, NoFileHeader || Params.IsResourceImage, start, streamEnd, Progress, DataSize,
                         pixelOffset))
    return;
  TBMPInfo info;
  TIERGB palette[kMaxPaletteEntries] = {};
  if (!ReadBMPInfoHeader(Stream, streamEnd, Params, Progress, info) ||
      !ReadBMPPalette(Stream, info, Params, Progress, palette) || !StoreBMPParams(info, Params, Progress))
    return;
  TBMPLayout layout;
  if (!LocateBMPData(Stream, start, streamEnd, pixelOffset, DataSize, info, Progress, layout)) return;
  if (info.width == 0 || info.height == 0 || ParamsOnly) return;
  if (!CheckBMPSizes(info, streamEnd, Progress, layout) ||
      !AllocateBMPBitmap(Bitmap, info, palette, Params.IsNativePixelFormat, Progress, layout))
    return;
  Progress.Per1 = 100.0 / int(info.height);
  Progress.Val = 0;

  if (layout.rle) {
    DecodeBMPRLE(Stream, Bitmap, info, layout, palette, Progress);
    return;
  }
  TIEBitmap* mask = info.bitCount == 32 && !IgnoreAlpha ? NewBMPAlphaMask(int(info.width), int(info.height)) : nullptr;
  const bool anyAlpha = ReadBMPRows(Stream, Bitmap, info, palette, layout.mono, layout.native, layout.top,
                                    layout.rowBytes, mask, Progress);
  if (layout.mono) InvertWhiteOnBlack(Bitmap, info, palette);
  KeepBMPAlphaMask(mask, anyAlpha, AlphaMask);
}

namespace {

// What a save writes, chosen from the parameters and the bitmap.
struct TBMPWritePlan {
  int w = 0, h = 0;
  int bitCount = 0;
  bool core = false;  // the 12-byte header of the oldest version
  int headerSize = 0;
  bool rle = false;
  uint32_t compression = 0;
  int colours = 0;  // palette entries; 0 for 24 and 32 bits
};

// False when the bitmap cannot be stored as the parameters ask.
bool PlanBMPWrite(TIEBitmap& Bitmap, const TIOParamsVals& Params, TBMPWritePlan& plan) {
  plan.w = Bitmap.GetImageWidth();
  plan.h = Bitmap.GetImageHeight();
  if (plan.w <= 0 || plan.h <= 0) return false;
  if (Params.BitsPerSample == 1 || Params.BitsPerSample == 4) plan.bitCount = Params.BitsPerSample;
  else if (Params.SamplesPerPixel == 1) plan.bitCount = 8;
  else plan.bitCount = Bitmap.AlphaPresent() ? 32 : 24;
  plan.core = Params.BMPVersion == 2;
  if (plan.core && (plan.w > 65535 || plan.h > 65535)) return false;  // the core header holds 16-bit sizes
  plan.headerSize = plan.core ? kCoreHeaderSize : Params.BMPVersion == 3 ? 64 : kInfoHeaderSize;
  plan.rle = !plan.core && Params.BMPCompression == 1 && (plan.bitCount == 4 || plan.bitCount == 8);
  plan.compression = plan.rle ? (plan.bitCount == 4 ? 2 : 1) : 0;
  plan.colours = plan.bitCount <= 8 ? 1 << plan.bitCount : 0;
  // the file, run-length coding at its worst (an escape pair per two pixels) included, must fit the
  // 32-bit sizes of its header
  const uint64_t stride = (uint64_t(plan.w) * plan.bitCount + 31) / 32 * 4;
  const uint64_t rows = plan.rle ? uint64_t(plan.w) * 2 + 4 : stride;
  const uint64_t fileSize = uint64_t(plan.headerSize) + kFileHeaderSize + 4 * uint64_t(plan.colours) + 2 +
                            rows * uint64_t(plan.h);
  return fileSize <= kMaxBMPFileSize;
}

// The pixels to encode, in the writer's format: 4-bit files go through a 16-colour palette.
class TBMPWriteSource {
 public:
  TBMPWriteSource(TIEBitmap& Bitmap, const TBMPWritePlan& plan)
      : first_(Bitmap, SourceFormat(Bitmap, plan), plan.colours) {
    src_ = first_.get();
    if (plan.bitCount == 4 && src_->GetPixelFormat() != ie8p) {
      second_.reset(new TIEWriterSource(*src_, ie8p, 16));
      src_ = second_->get();
    }
  }
  // nullptr, or a bitmap of another size, when the conversion failed
  TIEBitmap* get() const { return src_; }

 private:
  static TIEPixelFormat SourceFormat(TIEBitmap& Bitmap, const TBMPWritePlan& plan) {
    if (plan.bitCount == 4 && Bitmap.GetPixelFormat() == ie8p && Bitmap.GetPaletteCount() > 16) return ie24RGB;
    return plan.bitCount == 1 ? ie1g : plan.bitCount <= 8 ? ie8p : ie24RGB;
  }
  TIEWriterSource first_;
  std::unique_ptr<TIEWriterSource> second_;
  TIEBitmap* src_ = nullptr;
};

// The file header and the info (or core) header; sizes and offsets are 0 until the data is written.
struct TBMPHeaders {
  uint8_t file[kFileHeaderSize] = {'B', 'M'};
  uint8_t info[64] = {};

  void Fill(const TBMPWritePlan& plan, const TIOParamsVals& Params, uint32_t fileSize, uint32_t offset,
            uint32_t imageSize) {
    IEWriteU32LE(file + 2, fileSize);
    IEWriteU32LE(file + 10, offset);
    IEWriteU32LE(info, uint32_t(plan.headerSize));
    if (plan.core) {
      IEWriteU16LE(info + 4, uint16_t(plan.w));
      IEWriteU16LE(info + 6, uint16_t(plan.h));
      IEWriteU16LE(info + 8, 1);
      IEWriteU16LE(info + 10, uint16_t(plan.bitCount));
    } else {
      IEWriteU32LE(info + 4, uint32_t(plan.w));
      IEWriteU32LE(info + 8, uint32_t(plan.h));
      IEWriteU16LE(info + 12, 1);
      IEWriteU16LE(info + 14, uint16_t(plan.bitCount));
      IEWriteU32LE(info + 16, plan.compression);
      IEWriteU32LE(info + 20, imageSize);
      IEWriteU32LE(info + 24, uint32_t(PixelsPerMetreFromDpi(Params.DpiX)));
      IEWriteU32LE(info + 28, uint32_t(PixelsPerMetreFromDpi(Params.DpiY)));
      IEWriteU32LE(info + 32, uint32_t(plan.colours));
      IEWriteU32LE(info + 36, plan.bitCount == 24   ? 16777216u
                              : plan.bitCount == 32 ? 1u
                                                    : uint32_t(plan.colours));
    }
  }
  void Write(TIEStream& Stream, std::atomic<bool>& abort, int headerSize) {
    IEStreamWriteCheck(Stream, abort, file, kFileHeaderSize);
    IEStreamWriteCheck(Stream, abort, info, headerSize);
  }
};

// The rows, bottom row first, each packed to 32 bits or run-length coded; with RLE the end-of-bitmap
// code follows.
void WriteBMPRows(TIEStream& Stream, const TBMPWritePlan& plan, TIEBitmap* src, TIEBitmap* alpha,
                  TIECodecProgress& Progress, std::atomic<bool>& abort) {
  const int w = plan.w, h = plan.h, bitCount = plan.bitCount;
  const bool rle = plan.rle;
  const int64_t rowBytes = ((int64_t(w) * bitCount + 31) / 32) * 4;
  std::vector<uint8_t> row(size_t(rowBytes), 0);
  std::vector<uint8_t> coded(rle ? size_t(w) * 10 + 16 : 0);
  std::vector<uint8_t> idx(rle ? size_t(w) : 0);
  Progress.Per1 = 100.0 / h;
  for (int y = h - 1; y >= 0 && !abort; --y) {
    Progress.Report(int((h - 1 - y) * Progress.Per1));
    const uint8_t* s = src->GetRowAddress(y);
    switch (bitCount) {
      case 1:
      case 24:
        std::memcpy(row.data(), s, size_t(IEMin(src->GetRowLength(), int(rowBytes))));
        break;
      case 8:
        if (rle) std::memcpy(idx.data(), s, size_t(w));
        else std::memcpy(row.data(), s, size_t(w));
        break;
      case 4:
        if (rle) {
          for (int x = 0; x < w; ++x) idx[size_t(x)] = s[x] & 15;
        } else {
          std::memset(row.data(), 0, row.size());
          for (int x = 0; x < w; ++x) row[size_t(x >> 1)] |= uint8_t((s[x] & 15) << ((x & 1) ? 0 : 4));
        }
        break;
      case 32: {
        const uint8_t* a = alpha ? alpha->GetRowAddress(y) : nullptr;
        for (int x = 0; x < w; ++x) {
          std::memcpy(&row[size_t(x) * 4], s + 3 * x, 3);
          row[size_t(x) * 4 + 3] = a ? a[x] : 255;
        }
        break;
      }
    }
    if (rle) {
      const int n = bitCount == 4 ? IEBMPEncodeRLE4Row(idx.data(), w, coded.data())
                                  : IEBMPEncodeRLE8Row(idx.data(), w, coded.data());
      IEStreamWriteCheck(Stream, abort, coded.data(), n);
    } else {
      IEStreamWriteCheck(Stream, abort, row.data(), int32_t(rowBytes));
    }
  }
  if (rle && !abort) {
    const uint8_t eob[2] = {0, 1};
    IEStreamWriteCheck(Stream, abort, eob, 2);
  }
}

}  // namespace

void IEBMPWrite(TIEStream& Stream, TIEBitmap& Bitmap, const TIOParamsVals& Params, TIECodecProgress& Progress,
                bool SaveAlpha) {
  std::atomic<bool>& abort = *Progress.Aborting;
  const int64_t start = Stream.GetPosition();
  TBMPWritePlan plan;
  if (!PlanBMPWrite(Bitmap, Params, plan)) {
    Progress.Abort();
    return;
  }
  const TBMPWriteSource source(Bitmap, plan);
  TIEBitmap* src = source.get();
  if (!src || src->GetImageWidth() != plan.w || src->GetImageHeight() != plan.h) {
    Progress.Abort();
    return;
  }

  std::vector<TIERGB> pal;
  if (plan.bitCount == 1) {
    pal = {TIERGB{0, 0, 0}, TIERGB{255, 255, 255}};
  } else if (plan.bitCount <= 8) {
    pal.assign(size_t(plan.colours), TIERGB{0, 0, 0});
    for (int i = 0; i < plan.colours && i < src->GetPaletteCount(); ++i) pal[size_t(i)] = src->GetPaletteEntry(i);
  }

  TBMPHeaders headers;
  headers.Fill(plan, Params, 0, 0, 0);
  headers.Write(Stream, abort, plan.headerSize);
  for (const TIERGB& c : pal) {
    const uint8_t q[4] = {c.b, c.g, c.r, 0};
    IEStreamWriteCheck(Stream, abort, q, plan.core ? 3 : 4);
  }
  const int64_t pixelStart = Stream.GetPosition();
  TIEBitmap* alpha = (plan.bitCount == 32 && SaveAlpha) ? Bitmap.GetAlphaChannel() : nullptr;
  WriteBMPRows(Stream, plan, src, alpha, Progress, abort);
  if (abort) return;
  const int64_t end = Stream.GetPosition();
  headers.Fill(plan, Params, uint32_t(end - start), uint32_t(pixelStart - start), uint32_t(end - pixelStart));
  Stream.SetPosition(start);
  headers.Write(Stream, abort, plan.headerSize);
  Stream.SetPosition(end);
}
