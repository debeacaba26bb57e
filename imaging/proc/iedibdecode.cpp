// Packed DIB loader and YUV layout decoders.
//
// The DIB may come from a file (TIFF annotations carry them), so nothing in it is trusted: every
// offset and size is checked in 64 bits against the bytes the caller handed over before it is used,
// and the destination is only allocated once the whole DIB is known to be decodable.
#include "iedibdecode.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "iebitmap.h"
#include "iebmprle.h"
#include "iecolorconv.h"

namespace {

// Dimensions beyond what the platform's own DIB functions accept are refused.
constexpr int64_t kMaxDIBDimension = 65535;
// A run-length DIB names its size in the header only; its pixels are bounded here instead of by the
// data (64 M pixels, 192 MB at 24 bits).
constexpr int64_t kMaxDIBPixels = int64_t(1) << 26;
constexpr uint32_t kMinHeaderSize = 40;   // BITMAPINFOHEADER
constexpr uint32_t kMaxHeaderSize = 124;  // BITMAPV5HEADER
constexpr uint32_t kMaxPaletteEntries = 256;

uint16_t ReadU16LE(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t ReadU32LE(const uint8_t* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24); }
constexpr uint32_t FourCC(char a, char b, char c, char d) {
  return uint32_t(uint8_t(a)) | (uint32_t(uint8_t(b)) << 8) | (uint32_t(uint8_t(c)) << 16) | (uint32_t(uint8_t(d)) << 24);
}

// A run of bits of a 32-bit mask: its lowest bit and its width (0 when the mask is not one run).
struct MaskField {
  int shift = 0, width = 0;
  uint32_t max = 0;
  bool Set(uint32_t mask) {
    if (mask == 0) return false;
    shift = 0;
    while (!(mask & 1)) { mask >>= 1; ++shift; }
    width = 0;
    while (mask & 1) { mask >>= 1; ++width; }
    if (mask != 0) return false;  // a second run
    max = width >= 32 ? 0xFFFFFFFFu : (1u << width) - 1;
    return true;
  }
  // The field of `pixel` scaled to 0..255.
  uint8_t Get(uint32_t pixel) const {
    uint64_t v = (pixel >> shift) & max;
    return uint8_t((v * 255 + max / 2) / max);
  }
};

// The packed YUV layouts: per pixel of a group the byte offsets of its Y, U and V samples.
struct PackedLayout {
  int groupPixels, groupBytes;
  int8_t y[8], u[8], v[8];
};
constexpr PackedLayout kIYU2 = {1, 3, {1}, {0}, {2}};
constexpr PackedLayout kUYVY = {2, 4, {1, 3}, {0, 0}, {2, 2}};
constexpr PackedLayout kYUY2 = {2, 4, {0, 2}, {1, 1}, {3, 3}};
constexpr PackedLayout kYVYU = {2, 4, {0, 2}, {3, 3}, {1, 1}};
constexpr PackedLayout kIYU1 = {4, 6, {1, 2, 4, 5}, {0, 0, 0, 0}, {3, 3, 3, 3}};
constexpr PackedLayout kY211 = {4, 4, {0, 0, 2, 2}, {1, 1, 1, 1}, {3, 3, 3, 3}};
constexpr PackedLayout kY41P = {8, 12, {1, 3, 5, 7, 8, 9, 10, 11}, {0, 0, 0, 0, 4, 4, 4, 4}, {2, 2, 2, 2, 6, 6, 6, 6}};

bool DestReady(TIEBitmap* dest) {
  return dest && dest->GetPixelFormat() == ie24RGB && !dest->IsEmpty();
}

// Bytes of `rows` rows of `groups` groups of `groupBytes`, or 0 when it does not fit size_t.
uint64_t PackedSize(int width, int height, int groupPixels, int groupBytes) {
  uint64_t groups = (uint64_t(width) + groupPixels - 1) / groupPixels;
  return groups * groupBytes * uint64_t(height);
}

bool DecodePacked(const PackedLayout& L, const uint8_t* data, size_t size, TIEBitmap* dest, bool topDown) {
  if (!DestReady(dest) || !data) return false;
  const int w = dest->GetImageWidth(), h = dest->GetImageHeight();
  const uint64_t stride = PackedSize(w, 1, L.groupPixels, L.groupBytes);
  if (stride * uint64_t(h) > size) return false;
  for (int r = 0; r < h; ++r) {
    const uint8_t* src = data + stride * uint64_t(r);
    TIERGB* out = reinterpret_cast<TIERGB*>(dest->AcquireRow(topDown ? r : h - 1 - r));
    for (int x = 0; x < w; ++x) {
      const uint8_t* g = src + (x / L.groupPixels) * L.groupBytes;
      const int i = x % L.groupPixels;
      IEYUVToRGB(g[L.y[i]], g[L.u[i]], g[L.v[i]], out[x]);
    }
    dest->ReleaseRow(topDown ? r : h - 1 - r);
  }
  return true;
}

bool DecodePlanar(int sub, bool uFirst, const uint8_t* data, size_t size, TIEBitmap* dest, bool topDown) {
  if (!DestReady(dest) || !data) return false;
  const int w = dest->GetImageWidth(), h = dest->GetImageHeight();
  const uint64_t cw = (uint64_t(w) + sub - 1) / sub, ch = (uint64_t(h) + sub - 1) / sub;
  const uint64_t lumaSize = uint64_t(w) * h, chromaSize = cw * ch;
  if (lumaSize + 2 * chromaSize > size) return false;
  const uint8_t* first = data + lumaSize;
  const uint8_t* second = first + chromaSize;
  const uint8_t* uPlane = uFirst ? first : second;
  const uint8_t* vPlane = uFirst ? second : first;
  for (int r = 0; r < h; ++r) {
    const uint8_t* yRow = data + uint64_t(r) * w;
    const uint64_t c = uint64_t(r / sub) * cw;
    TIERGB* out = reinterpret_cast<TIERGB*>(dest->AcquireRow(topDown ? r : h - 1 - r));
    for (int x = 0; x < w; ++x) IEYUVToRGB(yRow[x], uPlane[c + x / sub], vPlane[c + x / sub], out[x]);
    dest->ReleaseRow(topDown ? r : h - 1 - r);
  }
  return true;
}

// Scales an n-bit field to 8 bits by repeating its high bits below it (31 -> 255, 0 -> 0).
int Widen(uint32_t v, int bits) { return int((v << (8 - bits)) | (v >> (2 * bits - 8))); }

// ---- DIB decoding ----

struct DibInfo {
  uint32_t headerSize;
  int32_t width, height;  // height negative: rows top-down
  int bitCount;
  uint32_t compression, colorsUsed;
};

class Refusal {
 public:
  explicit Refusal(std::string* error) : Error(error) {}
  int operator()(const char* why) const {
    if (Error) *Error = why;
    return 0;
  }
 private:
  std::string* Error;
};

// Run-length DIB rows into palette indices (index 0 where the data skips or ends early).
// False when a run would leave the image or the data ends inside a code.
struct TIndexSink {
  int w, h;
  std::vector<uint8_t>& idx;
  bool Pixel(int x, int y, uint8_t v) {
    if (x >= w || y >= h) return false;
    idx[size_t(y) * w + x] = v;
    return true;
  }
  bool NewLine(int) { return true; }
  bool Move(int x, int y) { return x <= w && y <= h; }
};

bool DecodeRLE(const uint8_t* p, size_t size, bool four, int w, int h, std::vector<uint8_t>& idx) {
  idx.assign(size_t(w) * size_t(h), 0);
  TIndexSink sink{w, h, idx};
  const TIEBMPRLEEnd end = four ? IEWalkBMPRLE<true>(p, size, sink) : IEWalkBMPRLE<false>(p, size, sink);
  // data that ends without an end-of-bitmap code keeps what was decoded
  return end == ireEndOfBitmap || end == ireDataEnd;
}

int DecodeDIB(const uint8_t* dib, size_t dibSize, TIEBitmap* dest, const uint8_t* bits, size_t bitsSize,
              std::string* error) {
  const Refusal refuse(error);
  if (!dib || !dest) return refuse("no DIB or no destination");
  if (dibSize < kMinHeaderSize) return refuse("DIB header truncated");
  DibInfo d;
  d.headerSize = ReadU32LE(dib);
  d.width = int32_t(ReadU32LE(dib + 4));
  d.height = int32_t(ReadU32LE(dib + 8));
  d.bitCount = ReadU16LE(dib + 14);
  d.compression = ReadU32LE(dib + 16);
  d.colorsUsed = ReadU32LE(dib + 32);
  if (d.headerSize < kMinHeaderSize || d.headerSize > kMaxHeaderSize || d.headerSize > dibSize)
    return refuse("DIB header size out of range");
  const int64_t w = d.width, absH = d.height < 0 ? -int64_t(d.height) : int64_t(d.height);
  if (w < 1 || absH < 1 || w > kMaxDIBDimension || absH > kMaxDIBDimension)
    return refuse("DIB dimensions out of range");
  if (w * absH > kMaxDIBPixels) return refuse("DIB too large");
  const int h = int(absH);
  const bool topDownRows = d.height < 0;
  uint64_t offset = d.headerSize;  // of the next part behind the header

  // YUV layouts named by their four-character code.
  struct YuvCode {
    uint32_t code;
    bool (*decode)(const uint8_t*, size_t, TIEBitmap*, bool);
    bool topDownWhenNegative;
  };
  static const YuvCode kYuv[] = {
      {FourCC('I', '4', '2', '0'), IEDecodeI420, false}, {FourCC('I', 'Y', 'U', 'V'), IEDecodeI420, false},
      {FourCC('Y', 'V', '1', '2'), IEDecodeYV12, false}, {FourCC('Y', 'V', 'U', '9'), IEDecodeYVU9, false},
      {FourCC('I', 'Y', 'U', '1'), IEDecodeIYU1, false}, {FourCC('I', 'Y', 'U', '2'), IEDecodeIYU2, false},
      {FourCC('Y', 'U', 'Y', '2'), IEDecodeYUY2, false}, {FourCC('Y', 'U', 'N', 'V'), IEDecodeYUY2, false},
      {FourCC('Y', 'V', 'Y', 'U'), IEDecodeYVYU, false}, {FourCC('U', 'Y', 'V', 'Y'), IEDecodeUYVY, false},
      {FourCC('U', 'Y', 'N', 'V'), IEDecodeUYVY, false}, {FourCC('Y', '2', '1', '1'), IEDecodeY211, false},
      {FourCC('Y', '4', '1', 'P'), IEDecodeY41P, true},  {FourCC('C', 'L', 'J', 'R'), IEDecodeCLJR, false},
      {FourCC('c', 'y', 'u', 'v'), IEDecodeUYVY, true},
  };
  for (const YuvCode& y : kYuv) {
    if (y.code != d.compression) continue;
    const uint8_t* data = bits ? bits : dib + offset;
    const size_t size = bits ? bitsSize : dibSize - size_t(offset);
    TIEBitmap tmp(int(w), h, ie24RGB);
    if (tmp.IsEmpty()) return refuse("out of memory");
    const bool topDown = y.topDownWhenNegative ? d.height < 0 : d.height > 0;
    if (!y.decode(data, size, &tmp, topDown)) return refuse("YUV data shorter than the image");
    dest->Assign(&tmp);
    // The caller tells success by a non-zero result.
    return d.bitCount > 0 ? d.bitCount : 24;
  }

  if (d.compression > BI_BITFIELDS) return refuse("unknown DIB compression");
  const int bc = d.bitCount;
  if (bc != 1 && bc != 4 && bc != 8 && bc != 16 && bc != 24 && bc != 32) return refuse("unsupported DIB bit count");
  if ((d.compression == BI_RLE8 && bc != 8) || (d.compression == BI_RLE4 && bc != 4))
    return refuse("run-length compression does not match the bit count");
  if (d.compression == BI_BITFIELDS && bc != 16 && bc != 32) return refuse("bit fields need 16 or 32 bits");
  if ((d.compression == BI_RLE8 || d.compression == BI_RLE4) && topDownRows)
    return refuse("run-length DIBs cannot be top-down");

  // Bit-field masks: inside a header of 52 bytes or more, else the 12 bytes behind it.
  uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
  if (bc == 32) { masks[0] = 0xFF0000; masks[1] = 0xFF00; masks[2] = 0xFF; }
  if (d.compression == BI_BITFIELDS) {
    if (uint64_t(kMinHeaderSize) + 12 > dibSize) return refuse("bit-field masks truncated");
    for (int i = 0; i < 3; ++i) masks[i] = ReadU32LE(dib + kMinHeaderSize + 4 * i);
    if (d.headerSize < kMinHeaderSize + 12) offset = kMinHeaderSize + 12;
  }
  MaskField fields[3];
  if (bc == 16 || bc == 32)
    for (int i = 0; i < 3; ++i)
      if (!fields[i].Set(bc == 16 ? masks[i] & 0xFFFF : masks[i])) return refuse("bit-field mask not one run of bits");

  // Colour table.
  std::vector<TIERGB> palette;
  uint64_t entries = d.colorsUsed;
  if (bc <= 8 && entries == 0) entries = uint64_t(1) << bc;
  if (entries > kMaxPaletteEntries) return refuse("colour count out of range");
  if (offset + entries * 4 > dibSize) return refuse("colour table truncated");
  for (uint64_t i = 0; i < entries; ++i) {
    const uint8_t* e = dib + offset + 4 * i;
    palette.push_back(TIERGB{e[0], e[1], e[2]});
  }
  offset += entries * 4;
  const TIERGB black = {0, 0, 0};
  auto lookup = [&](unsigned i) { return i < palette.size() ? palette[i] : black; };

  const uint8_t* data = bits ? bits : dib + offset;
  const uint64_t dataSize = bits ? bitsSize : dibSize - offset;
  const uint64_t rowLen = (uint64_t(w) * bc + 31) / 32 * 4;
  const bool rle = d.compression == BI_RLE8 || d.compression == BI_RLE4;
  if (!data) return refuse("no pixel data");
  if (!rle && rowLen * uint64_t(h) > dataSize) return refuse("pixel data truncated");

  std::vector<uint8_t> indices;
  if (rle && !DecodeRLE(data, size_t(dataSize), d.compression == BI_RLE4, int(w), h, indices))
    return refuse("run-length data leaves the image");

  // A two-entry black and white table stays 1-bit (white where the table says white).
  auto isWhite = [](TIERGB c) { return c.r == 255 && c.g == 255 && c.b == 255; };
  auto isBlack = [](TIERGB c) { return c.r == 0 && c.g == 0 && c.b == 0; };
  const bool bilevel = bc == 1 && palette.size() >= 2 &&
                       ((isBlack(palette[0]) && isWhite(palette[1])) || (isWhite(palette[0]) && isBlack(palette[1])));
  TIEBitmap tmp(int(w), h, bilevel ? ie1g : ie24RGB);
  if (tmp.IsEmpty()) return refuse("out of memory");
  for (int r = 0; r < h; ++r) {
    const int destRow = topDownRows ? r : h - 1 - r;
    uint8_t* out = tmp.GetRowAddress(destRow);
    TIERGB* rgb = reinterpret_cast<TIERGB*>(out);
    if (rle) {
      const uint8_t* ix = indices.data() + size_t(r) * size_t(w);
      for (int x = 0; x < w; ++x) rgb[x] = lookup(ix[x]);
      continue;
    }
    const uint8_t* src = data + rowLen * uint64_t(r);
    switch (bc) {
      case 1:
        if (bilevel) {
          const size_t n = size_t((w + 7) / 8);
          std::memcpy(out, src, n);
          if (isWhite(palette[0])) IEInvertBytes(out, n);
        } else {
          for (int x = 0; x < w; ++x) rgb[x] = lookup((src[x >> 3] >> (7 - (x & 7))) & 1);
        }
        break;
      case 4:
        for (int x = 0; x < w; ++x) rgb[x] = lookup((x & 1) ? src[x >> 1] & 15 : src[x >> 1] >> 4);
        break;
      case 8:
        for (int x = 0; x < w; ++x) rgb[x] = lookup(src[x]);
        break;
      case 16:
        for (int x = 0; x < w; ++x) {
          const uint32_t p = ReadU16LE(src + 2 * x);
          rgb[x] = TIERGB{fields[2].Get(p), fields[1].Get(p), fields[0].Get(p)};
        }
        break;
      case 24:
        std::memcpy(out, src, size_t(w) * 3);
        break;
      case 32:
        for (int x = 0; x < w; ++x) {
          const uint32_t p = ReadU32LE(src + 4 * x);
          rgb[x] = TIERGB{fields[2].Get(p), fields[1].Get(p), fields[0].Get(p)};
        }
        break;
    }
  }
  dest->Assign(&tmp);
  return bc;
}

}  // namespace

int IECopyDIBToBitmap(const void* dib, size_t dibSize, TIEBitmap* dest, const void* bits, size_t bitsSize,
                      std::string* error) {
  return DecodeDIB(static_cast<const uint8_t*>(dib), dibSize, dest, static_cast<const uint8_t*>(bits), bitsSize, error);
}

int IECopyDIBToBitmap(HGLOBAL dib, TIEBitmap* dest, const void* bits, size_t bitsSize, std::string* error) {
  const void* p = dib ? GlobalLock(dib) : nullptr;
  if (!p) {
    if (error) *error = "the DIB handle cannot be locked";
    return 0;
  }
  const int result = DecodeDIB(static_cast<const uint8_t*>(p), GlobalSize(dib), dest,
                               static_cast<const uint8_t*>(bits), bitsSize, error);
  GlobalUnlock(dib);
  return result;
}

bool IEDecodeIYU1(const uint8_t* d, size_t n, TIEBitmap* b, bool t) { return DecodePacked(kIYU1, d, n, b, t); }
bool IEDecodeIYU2(const uint8_t* d, size_t n, TIEBitmap* b, bool t) { return DecodePacked(kIYU2, d, n, b, t); }
bool IEDecodeUYVY(const uint8_t* d, size_t n, TIEBitmap* b, bool t) { return DecodePacked(kUYVY, d, n, b, t); }
bool IEDecodeYUY2(const uint8_t* d, size_t n, TIEBitmap* b, bool t) { return DecodePacked(kYUY2, d, n, b, t); }
bool IEDecodeYVYU(const uint8_t* d, size_t n, TIEBitmap* b, bool t) { return DecodePacked(kYVYU, d, n, b, t); }
bool IEDecodeY41P(const uint8_t* d, size_t n, TIEBitmap* b, bool t) { return DecodePacked(kY41P, d, n, b, t); }
bool IEDecodeY211(const uint8_t* d, size_t n, TIEBitmap* b, bool t) { return DecodePacked(kY211, d, n, b, t); }
bool IEDecodeYVU9(const uint8_t* d, size_t n, TIEBitmap* b, bool t) { return DecodePlanar(4, false, d, n, b, t); }
bool IEDecodeYV12(const uint8_t* d, size_t n, TIEBitmap* b, bool t) { return DecodePlanar(2, false, d, n, b, t); }
bool IEDecodeI420(const uint8_t* d, size_t n, TIEBitmap* b, bool t) { return DecodePlanar(2, true, d, n, b, t); }

bool IEDecodeCLJR(const uint8_t* data, size_t size, TIEBitmap* dest, bool topDown) {
  if (!DestReady(dest) || !data) return false;
  const int w = dest->GetImageWidth(), h = dest->GetImageHeight();
  const uint64_t stride = PackedSize(w, 1, 4, 4);
  if (stride * uint64_t(h) > size) return false;
  for (int r = 0; r < h; ++r) {
    const uint8_t* src = data + stride * uint64_t(r);
    TIERGB* out = reinterpret_cast<TIERGB*>(dest->AcquireRow(topDown ? r : h - 1 - r));
    for (int x = 0; x < w; ++x) {
      const uint32_t word = ReadU32LE(src + 4 * (x / 4));
      const int v = Widen(word & 63, 6), u = Widen((word >> 6) & 63, 6);
      const int y = Widen((word >> (12 + 5 * (x % 4))) & 31, 5);
      IEYUVToRGB(y, u, v, out[x]);
    }
    dest->ReleaseRow(topDown ? r : h - 1 - r);
  }
  return true;
}
