// Icon and cursor reading, icon writing.
#include "ieico.h"

#include <cstring>
#include <memory>

#include "bmpfilt.h"
#include "iecodeccommon.h"
#include "iequantizer.h"
#include "ieresample.h"
#include "ieutils.h"
#include "pngfilt.h"

namespace {

constexpr int kDirectoryHeaderSize = 6;
constexpr int kEntrySize = 16;
constexpr int kInfoHeaderSize = 40;
constexpr int kMinTestSize = 23;  // a header and one entry, and at least one byte of image
constexpr uint16_t kTypeIcon = 1;
constexpr uint16_t kTypeCursor = 2;
constexpr uint16_t kBitmapMagic = 0x4D42;  // "BM"
const uint8_t kPNGSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
// A header that disagrees with its directory entry wins below this size.
constexpr int kMaxTrustedHeaderSide = 2048;
constexpr int kMaxPaletteEntries = 256;
constexpr int kMaxIconSide = 256;

struct TEntry {
  int width, height, colours, reserved, planesOrHotX, bitsOrHotY;
  uint32_t bytes, offset;
};

TEntry ParseEntry(const uint8_t* e) {
  return TEntry{e[0], e[1], e[2], e[3], IEReadU16LE(e + 4), IEReadU16LE(e + 6), IEReadU32LE(e + 8), IEReadU32LE(e + 12)};
}

bool DirectoryTest(TIEStream& s, uint16_t type) {
  const int64_t pos = s.GetPosition();
  bool ok = false;
  const int64_t size = s.GetSize() - pos;
  uint8_t h[kDirectoryHeaderSize];
  if (size >= kMinTestSize && s.Read(h, kDirectoryHeaderSize) == kDirectoryHeaderSize && IEReadU16LE(h) == 0 &&
      IEReadU16LE(h + 2) == type && IEReadU16LE(h + 4) > 0) {
    const int count = IEReadU16LE(h + 4);
    std::vector<uint8_t> raw;
    if (kDirectoryHeaderSize + int64_t(count) * kEntrySize <= size) {
      raw.resize(size_t(count) * kEntrySize);
      ok = s.Read(raw.data(), int32_t(raw.size())) == int32_t(raw.size());
    }
    for (int i = 0; i < count && ok; ++i) {
      const TEntry en = ParseEntry(&raw[size_t(i) * kEntrySize]);
      ok = en.reserved == 0 && en.bytes > 0 && en.offset >= uint32_t(kDirectoryHeaderSize + (i + 1) * kEntrySize);
    }
  }
  s.SetPosition(pos);
  return ok;
}

// The directory after its header: every entry must be in the stream.
bool ReadEntries(TIEStream& s, TIECodecProgress& p, int count, std::vector<TEntry>& out) {
  if (int64_t(count) * kEntrySize > s.GetSize() - s.GetPosition()) {
    p.Abort();
    return false;
  }
  std::vector<uint8_t> raw(size_t(count) * kEntrySize);
  if (!IEReadExact(s, p, raw.data(), int64_t(raw.size()))) return false;
  out.clear();
  for (int i = 0; i < count; ++i) out.push_back(ParseEntry(&raw[size_t(i) * kEntrySize]));
  return true;
}

// To the entry's image; an image cut short by the end of the stream is a truncated file.
bool SeekToImage(TIEStream& s, TIECodecProgress& p, int64_t start, const TEntry& e) {
  if (int64_t(e.offset) + e.bytes > s.GetSize() - start) {
    p.Abort();
    return false;
  }
  s.SetPosition(start + e.offset);
  return true;
}

int BitsForColours(int n) { return n > 0 ? IEBitsForCount(uint32_t(n)) : 0; }

int DpiOf(int32_t ppm, int fallback) { return ppm > 0 ? IERound(ppm / 100.0 * 2.54) : fallback; }

// What the image reader is told by the icon or cursor reader.
struct TImageSetup {
  int width, height, bits, paletteEntries;
  bool native;
  bool cursor;       // every bitmap is ie1g or ie24RGB, and the alpha mask is always kept
  TIERGB background;  // of transparent pixels of palette images read into colours
  bool paramsOnly, ignoreAlpha;
};

bool IsBlack(TIERGB c) { return c.r == 0 && c.g == 0 && c.b == 0; }
bool IsWhite(TIERGB c) { return c.r == 255 && c.g == 255 && c.b == 255; }

// The bitmap part of an icon or cursor image, from just after its information header.
void ReadImage(TIEStream& s, TIEBitmap& bmp, TIOParamsVals& params, TIECodecProgress& progress,
               const TImageSetup& is, TIEBitmap*& alphaMask) {
  const int w = is.width, h = is.height, bits = is.bits;
  std::vector<TIERGB> palette(kMaxPaletteEntries, IEMakeRGB(0, 0, 0));
  params.FreeColorMap();
  if (bits <= 8) {
    std::vector<uint8_t> quads(size_t(is.paletteEntries) * 4);
    if (!IEReadExact(s, progress, quads.data(), int64_t(quads.size()))) return;
    for (int i = 0; i < is.paletteEntries; ++i)
      palette[size_t(i)] = IEMakeRGB(quads[size_t(4 * i + 2)], quads[size_t(4 * i + 1)], quads[size_t(4 * i)]);
    params.SetColorMap(palette.data(), is.paletteEntries);
  }
  params.Width = params.StoredWidth = w;
  params.Height = params.StoredHeight = h;
  if (is.paramsOnly) return;

  const int64_t colourRow = ((int64_t(w) * bits + 31) / 32) * 4;
  const int64_t andRow = ((int64_t(w) + 31) / 32) * 4;
  const int64_t left = s.GetSize() - s.GetPosition();
  const bool indexed = bits <= 8;
  // palette images need their AND rows; deeper ones use them when they are there
  if (!IEImageSizeAllowed(w, h) || colourRow * h + (indexed ? andRow * h : 0) > left) {
    progress.Abort();
    return;
  }
  const bool hasAnd = colourRow * h + andRow * h <= left;
  // two colours black and white stay 1-bit (inverted when white comes first)
  const bool blackWhite = bits == 1 && is.paletteEntries == 2 &&
                          ((IsBlack(palette[0]) && IsWhite(palette[1])) || (IsWhite(palette[0]) && IsBlack(palette[1])));
  const bool invert = blackWhite && IsWhite(palette[0]);
  TIEPixelFormat format = ie24RGB;
  if (blackWhite) format = ie1g;
  else if (is.native && indexed && !is.cursor) format = ie8p;
  if (!bmp.Allocate(w, h, format)) {
    progress.Abort();
    return;
  }
  if (format == ie8p) {
    bmp.PaletteColorTarget = 1 << bits;
    for (int i = 0; i < (1 << bits); ++i) bmp.SetPaletteEntry(i, palette[size_t(i)]);
  }
  std::unique_ptr<TIEBitmap> mask;
  if (!is.ignoreAlpha) {
    mask.reset(new TIEBitmap(w, h, ie8g));
    mask->Fill(255);
  }
  std::vector<uint8_t> colour(size_t(colourRow * h)), andBits;
  if (!IEReadExact(s, progress, colour.data(), int64_t(colour.size()))) return;
  if (hasAnd && (indexed || !is.ignoreAlpha)) {
    andBits.resize(size_t(andRow * h));
    if (!IEReadExact(s, progress, andBits.data(), int64_t(andBits.size()))) return;
  }
  auto transparent = [&](int x, int fileRow) {
    return !andBits.empty() && IEGetRowBit(&andBits[size_t(fileRow * andRow)], x);
  };
  const bool overWhite = IsWhite(is.background);
  bool allAlphaZero = true;
  for (int k = 0; k < h; ++k) {
    const int y = h - 1 - k;
    const uint8_t* src = &colour[size_t(k * colourRow)];
    uint8_t* row = bmp.GetRowAddress(y);
    uint8_t* a = mask ? mask->GetRowAddress(y) : nullptr;
    if (format == ie1g) {
      const size_t n = size_t((w + 7) / 8);
      for (size_t i = 0; i < n; ++i) row[i] = invert ? uint8_t(~src[i]) : src[i];
      for (int x = 0; x < w; ++x)
        if (transparent(x, k)) {
          if (a) a[x] = 0;
          // the icon as drawn over the background: a transparent pixel shows it, inverted where set
          IESetRowBit(row, x, IEGetRowBit(row, x) != overWhite);
        }
    } else if (indexed) {
      for (int x = 0; x < w; ++x) {
        int ix;
        if (bits == 8) ix = src[x];
        else if (bits == 4) ix = (x & 1) ? src[x / 2] & 15 : src[x / 2] >> 4;
        else if (bits == 2) ix = (src[x / 4] >> (6 - 2 * (x & 3))) & 3;
        else ix = IEGetRowBit(src, x) ? 1 : 0;
        const bool t = transparent(x, k);
        if (format == ie8p) {
          row[x] = uint8_t(ix);
        } else {
          const TIERGB c = t ? is.background : ix < is.paletteEntries ? palette[size_t(ix)] : IEMakeRGB(0, 0, 0);
          std::memcpy(row + 3 * x, &c, 3);
        }
        if (t && a) a[x] = 0;
      }
    } else if (bits == 24) {
      std::memcpy(row, src, size_t(w) * 3);
      if (a)
        for (int x = 0; x < w; ++x) a[x] = transparent(x, k) ? 0 : 255;
    } else if (bits == 32) {
      for (int x = 0; x < w; ++x) {
        row[3 * x] = src[4 * x];
        row[3 * x + 1] = src[4 * x + 1];
        row[3 * x + 2] = src[4 * x + 2];
        if (a) a[x] = src[4 * x + 3];
        if (src[4 * x + 3]) allAlphaZero = false;
      }
    }
    // other depths: the bitmap stays as allocated
  }
  if (bits == 32 && allAlphaZero && mask) {
    // no alpha in the fourth bytes: the AND rows, or an opaque image when there are none
    for (int k = 0; k < h; ++k) {
      uint8_t* a = mask->GetRowAddress(h - 1 - k);
      for (int x = 0; x < w; ++x) a[x] = transparent(x, k) ? 0 : 255;
    }
  }
  if (!mask) return;
  bool opaque = true;
  for (int y = 0; y < h && opaque; ++y) {
    const uint8_t* a = mask->GetRowAddress(y);
    for (int x = 0; x < w; ++x)
      if (a[x] != 255) {
        opaque = false;
        break;
      }
  }
  mask->IsAll255 = opaque;
  if (opaque && !is.cursor) return;
  delete alphaMask;
  alphaMask = mask.release();
}

// The 40-byte information header's fields used here.
struct TInfoHeader {
  int32_t width, height;
  int bits;
  int32_t ppmX, ppmY;
};

TInfoHeader ParseInfo(const uint8_t* b) {
  return TInfoHeader{int32_t(IEReadU32LE(b + 4)), int32_t(IEReadU32LE(b + 8)), IEReadU16LE(b + 14),
                     int32_t(IEReadU32LE(b + 24)), int32_t(IEReadU32LE(b + 28))};
}

}  // namespace

bool IEICOTest(TIEStream& Stream) { return DirectoryTest(Stream, kTypeIcon); }
bool IECURTest(TIEStream& Stream) { return DirectoryTest(Stream, kTypeCursor); }

void IEICORead(TIEStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, bool ParamsOnly,
               TIECodecProgress& Progress, TIEBitmap*& AlphaMask, bool IgnoreAlpha) {
  const int64_t start = Stream.GetPosition();
  TEntry entry{};
  if (!Params.IsResourceImage) {
    uint8_t h[kDirectoryHeaderSize];
    if (!IEReadExact(Stream, Progress, h, kDirectoryHeaderSize)) return;
    if (IEReadU16LE(h) == kBitmapMagic) {
      Stream.SetPosition(start);
      const int64_t size = Stream.GetSize() - start;
      IEBMPRead(Stream, Bitmap, int32_t(size > 0x7FFFFFFF ? 0x7FFFFFFF : size), Params, Progress, ParamsOnly, false,
                AlphaMask, IgnoreAlpha);
      return;
    }
    const int count = IEReadU16LE(h + 4);
    if (Params.ICOImageIndex < 0 || Params.ICOImageIndex >= count) return;
    std::vector<TEntry> entries;
    if (!ReadEntries(Stream, Progress, count, entries)) return;
    for (int i = 0; i < kIEICOMaxSizes; ++i) {
      Params.ICOSizes[i] = TIEICOSize();
      Params.ICOBitCount[i] = 0;
    }
    for (int i = 0; i < count && i < kIEICOMaxSizes; ++i) {
      const TEntry& e = entries[size_t(i)];
      if (!e.width || !e.height) continue;
      Params.ICOSizes[i].Width = e.width;
      Params.ICOSizes[i].Height = e.height;
      int b = e.bitsOrHotY ? e.bitsOrHotY : BitsForColours(e.colours);
      Params.ICOBitCount[i] = b ? b : 24;
    }
    entry = entries[size_t(Params.ICOImageIndex)];
    if (!SeekToImage(Stream, Progress, start, entry)) return;
  }
  uint8_t ih[kInfoHeaderSize];
  if (!IEReadExact(Stream, Progress, ih, kInfoHeaderSize)) return;
  if (std::memcmp(ih, kPNGSignature, sizeof kPNGSignature) == 0) {
    Stream.Seek(-kInfoHeaderSize, soFromCurrent);
    IEPNGRead(Stream, Bitmap, Params, Progress, ParamsOnly);
    if (!ParamsOnly && Bitmap.AlphaPresent()) {
      TIEBitmap* a = Bitmap.DetachAlphaChannel();
      if (IgnoreAlpha) {
        delete a;
      } else {
        delete AlphaMask;
        AlphaMask = a;
      }
    }
    return;
  }
  const TInfoHeader info = ParseInfo(ih);
  if (Params.IsResourceImage) {
    Params.SetImageIndexValue(0);
    Params.ICOSizes[0].Width = entry.width = info.width;
    Params.ICOSizes[0].Height = entry.height = info.height / 2;
  }
  Params.SetDpiX(DpiOf(info.ppmX, IEDefaultDPIX));
  Params.SetDpiY(DpiOf(info.ppmY, IEDefaultDPIY));
  int bits = entry.bitsOrHotY;
  if (info.bits) bits = info.bits;
  if (!bits) bits = BitsForColours(entry.colours);
  if (bits <= 0 || bits > 32) {
    Progress.Abort();
    return;
  }
  Params.BitsPerSample = bits <= 8 ? bits : 8;
  Params.SamplesPerPixel = bits <= 8 ? 1 : bits == 32 ? 4 : 3;
  int width = entry.width ? entry.width : info.width;
  int height = entry.height ? entry.height : info.height / 2;
  if (info.width && entry.width != info.width && info.width > 0 && info.height > 0 &&
      info.width < kMaxTrustedHeaderSide && info.height < kMaxTrustedHeaderSide) {
    width = info.width;
    height = info.height / 2;
  }
  const bool supported = bits == 1 || bits == 4 || bits == 8 || bits == 24 || bits == 32;
  if (width <= 0 || height <= 0 || (Params.IsNativePixelFormat && !supported)) {
    Progress.Abort();
    return;
  }
  const TImageSetup is{width, height, bits, bits <= 8 ? 1 << bits : 0, Params.IsNativePixelFormat, false,
                       Params.ICOBackground, ParamsOnly, IgnoreAlpha};
  ReadImage(Stream, Bitmap, Params, Progress, is, AlphaMask);
}

void IECURRead(TIEStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, bool ParamsOnly,
               TIECodecProgress& Progress, TIEBitmap*& AlphaMask, bool IgnoreAlpha) {
  const int64_t start = Stream.GetPosition();
  TEntry entry{};
  if (Params.IsResourceImage) {
    uint8_t hot[4];
    if (!IEReadExact(Stream, Progress, hot, 4)) return;
    Params.CURHotSpotX = IEReadU16LE(hot);
    Params.CURHotSpotY = IEReadU16LE(hot + 2);
  } else {
    uint8_t h[kDirectoryHeaderSize];
    if (!IEReadExact(Stream, Progress, h, kDirectoryHeaderSize)) return;
    const int count = IEReadU16LE(h + 4);
    if (Params.CURImageIndex < 0 || Params.CURImageIndex >= count) return;
    std::vector<TEntry> entries;
    if (!ReadEntries(Stream, Progress, count, entries)) return;
    entry = entries[size_t(Params.CURImageIndex)];
    if (!entry.width) entry.width = 256;
    if (!entry.height) entry.height = 256;
    Params.CURHotSpotX = entry.planesOrHotX;
    Params.CURHotSpotY = entry.bitsOrHotY;
    if (!SeekToImage(Stream, Progress, start, entry)) return;
  }
  uint8_t ih[kInfoHeaderSize];
  if (!IEReadExact(Stream, Progress, ih, kInfoHeaderSize)) return;
  const TInfoHeader info = ParseInfo(ih);
  if (Params.IsResourceImage) {
    Params.SetImageIndexValue(0);
    entry.width = info.width;
    entry.height = info.height / 2;
  }
  Params.SetDpiX(DpiOf(info.ppmX, IEDefaultDPIX));
  Params.SetDpiY(DpiOf(info.ppmY, IEDefaultDPIY));
  const int colours = entry.colours == 255 ? 256 : entry.colours;
  int bits = info.bits ? info.bits : BitsForColours(colours);
  if (bits <= 0 || bits > 32 || entry.width <= 0 || entry.height <= 0) {
    Progress.Abort();
    return;
  }
  Params.BitsPerSample = bits;
  Params.SamplesPerPixel = 1;
  int entries = colours ? colours : bits <= 8 ? 1 << bits : 0;
  if (bits > 8 || entries > kMaxPaletteEntries) entries = 0;
  if (bits <= 8 && entries == 0) entries = 1 << bits;
  const TImageSetup is{entry.width, entry.height, bits, entries, false, true, Params.CURBackground, ParamsOnly,
                       IgnoreAlpha};
  ReadImage(Stream, Bitmap, Params, Progress, is, AlphaMask);
}

namespace {

// One icon image's bitmap part at `bits` from the work image (already at its size).
void WriteIconImage(TIEStream& s, std::atomic<bool>& abort, TIEBitmap& work, int bits, const TIOParamsVals& params,
                    std::vector<TIERGB>& colorMap) {
  const int w = work.GetImageWidth(), h = work.GetImageHeight();
  const int64_t colourRow = ((int64_t(w) * bits + 31) / 32) * 4;
  const int64_t andRow = ((int64_t(w) + 31) / 32) * 4;
  TIEBitmap* alpha = work.AlphaPresent() ? work.GetAlphaChannel() : nullptr;
  uint8_t ih[kInfoHeaderSize] = {};
  IEWriteU32LE(ih, kInfoHeaderSize);
  IEWriteU32LE(ih + 4, uint32_t(w));
  IEWriteU32LE(ih + 8, uint32_t(2 * h));
  IEWriteU16LE(ih + 12, 1);
  IEWriteU16LE(ih + 14, uint16_t(bits));
  IEWriteU32LE(ih + 20, bits > 8 ? 0 : uint32_t((colourRow + andRow) * h));
  IEWriteU32LE(ih + 24, uint32_t(IERound(params.DpiX / 2.54 * 100)));
  IEWriteU32LE(ih + 28, uint32_t(IERound(params.DpiY / 2.54 * 100)));
  IEStreamWriteCheck(s, abort, ih, kInfoHeaderSize);

  // palette and the index of each pixel
  std::unique_ptr<TIEQuantizer> quantizer;
  const bool ownPalette = work.GetPixelFormat() == ie8p;
  if (bits <= 8) {
    const int entries = 1 << bits;
    std::vector<uint8_t> quads(size_t(entries) * 4, 0);
    if (bits == 1) {
      quads[4] = quads[5] = quads[6] = 255;
    } else if (ownPalette) {
      for (int i = 0; i < entries; ++i) {
        const TIERGB c = work.GetPaletteEntry(i);
        quads[size_t(4 * i)] = c.b;
        quads[size_t(4 * i + 1)] = c.g;
        quads[size_t(4 * i + 2)] = c.r;
      }
    } else {
      // entry 0 is black and takes the transparent pixels; the image's colours follow
      std::vector<TIERGB> colours(size_t(entries - 1));
      quantizer.reset(new TIEQuantizer(&work, colours.data(), entries - 1));
      colorMap.assign(size_t(kMaxPaletteEntries), IEMakeRGB(0, 0, 0));
      for (int i = 1; i < entries; ++i) {
        const TIERGB c = colours[size_t(i - 1)];
        colorMap[size_t(i - 1)] = c;
        quads[size_t(4 * i)] = c.b;
        quads[size_t(4 * i + 1)] = c.g;
        quads[size_t(4 * i + 2)] = c.r;
      }
    }
    IEStreamWriteCheck(s, abort, quads.data(), int32_t(quads.size()));
  }
  std::vector<uint8_t> out(static_cast<size_t>(colourRow));
  for (int y = h - 1; y >= 0 && !abort; --y) {
    std::fill(out.begin(), out.end(), 0);
    const uint8_t* r = work.GetRowAddress(y);
    const uint8_t* a = alpha ? alpha->GetRowAddress(y) : nullptr;
    if (bits == 1 || bits == 24) {
      std::memcpy(out.data(), r, size_t(bits == 1 ? (w + 7) / 8 : w * 3));
    } else if (bits == 32) {
      for (int x = 0; x < w; ++x) {
        std::memcpy(&out[size_t(4 * x)], r + 3 * x, 3);
        out[size_t(4 * x + 3)] = a ? a[x] : 255;
      }
    } else {
      for (int x = 0; x < w; ++x) {
        int ix;
        if (ownPalette) ix = r[x];
        else ix = a && a[x] < 255 ? 0 : quantizer->RGBToIndex(reinterpret_cast<const TIERGB*>(r)[x]) + 1;
        if (bits == 8) out[size_t(x)] = uint8_t(ix);
        else out[size_t(x / 2)] |= uint8_t((ix & 15) << ((x & 1) ? 0 : 4));
      }
    }
    IEStreamWriteCheck(s, abort, out.data(), int32_t(colourRow));
  }
  std::vector<uint8_t> andOut(static_cast<size_t>(andRow));
  for (int y = h - 1; y >= 0 && !abort; --y) {
    std::fill(andOut.begin(), andOut.end(), 0);
    if (alpha) {
      const uint8_t* a = alpha->GetRowAddress(y);
      for (int x = 0; x < w; ++x)
        if (a[x] != 255) IESetRowBit(andOut.data(), x, true);
    }
    IEStreamWriteCheck(s, abort, andOut.data(), int32_t(andRow));
  }
}

// The entry's depth from its bit count: 0 takes the image's (samples, bits) depth.
int EntryBits(int bitCount, int imageSamples, int imageBits) {
  int samples, bits;
  switch (bitCount) {
    case 0: samples = imageSamples; bits = imageBits; break;
    case 1: samples = 1; bits = 1; break;
    case 4: samples = 1; bits = 4; break;
    case 8: samples = 1; bits = 8; break;
    case 32: samples = 4; bits = 8; break;
    default: samples = 3; bits = 8; break;
  }
  if (samples == 3 && bits == 8) return 24;
  if (samples == 4 && bits == 8) return 32;
  if (samples == 1 && bits == 1) return 1;
  if (samples == 1 && bits == 4) return 4;
  return 8;
}

// The work image of one entry in the format its depth is written from.
void PrepareWork(TIEBitmap& work, int bits) {
  const TIEPixelFormat f = work.GetPixelFormat();
  if (bits == 1) {
    if (f != ie1g) work.SetPixelFormat(ie1g);
    return;
  }
  bool keep = f == ie24RGB;
  if (f == ie8p && bits <= 8) {
    keep = true;
    if (bits == 4)  // its own palette only when every index fits 4 bits
      for (int y = 0; y < work.GetImageHeight() && keep; ++y) {
        const uint8_t* r = work.GetRowAddress(y);
        for (int x = 0; x < work.GetImageWidth(); ++x)
          if (r[x] > 15) {
            keep = false;
            break;
          }
      }
  }
  if (!keep) work.SetPixelFormat(ie24RGB);
}

}  // namespace

void IEICOWrite(TIEStream& Stream, TIEBitmap& Bitmap, const TIOParamsVals& Params, TIECodecProgress& Progress,
                const std::vector<TIEICOSize>& Sizes, const std::vector<int>& BitCounts) {
  std::atomic<bool> localAbort{false};
  std::atomic<bool>& abort = Progress.Aborting ? *Progress.Aborting : localAbort;
  const int count = int(Sizes.size());
  bool valid = count > 0 && count <= 0xFFFF && Bitmap.GetImageWidth() > 0 && Bitmap.GetImageHeight() > 0;
  for (const TIEICOSize& sz : Sizes)
    if (sz.Width < 1 || sz.Height < 1 || sz.Width > kMaxIconSide || sz.Height > kMaxIconSide) valid = false;
  if (!valid) {
    abort = true;  // a directory byte holds 1 .. 256 (256 as 0)
    return;
  }
  const int64_t start = Stream.GetPosition();
  uint8_t header[kDirectoryHeaderSize] = {0, 0, uint8_t(kTypeIcon), 0, 0, 0};
  IEWriteU16LE(header + 4, uint16_t(count));
  IEStreamWriteCheck(Stream, abort, header, kDirectoryHeaderSize);
  const int64_t directory = Stream.GetPosition();
  std::vector<uint8_t> entries(size_t(count) * kEntrySize, 0);
  IEStreamWriteCheck(Stream, abort, entries.data(), int32_t(entries.size()));
  // entries without a depth of their own: a bilevel image stays 1-bit, others take the parameters'
  const bool bilevel = Bitmap.GetPixelFormat() != ie24RGB;
  const int imageSamples = bilevel ? 1 : Params.SamplesPerPixel, imageBits = bilevel ? 1 : Params.BitsPerSample;
  const double factor = 100.0 / count;
  int written = 0;
  std::vector<TIERGB> colorMap;
  for (int i = 0; i < count && !abort; ++i) {
    Progress.Report(int(i * factor));
    if (abort) break;
    const bool bw = Bitmap.GetPixelFormat() == ie1g;
    TIEBitmap work(Sizes[size_t(i)].Width, Sizes[size_t(i)].Height, bw ? ie1g : ie24RGB);
    IEResample(&Bitmap, &work, bw ? rfNone : rfFastLinear, nullptr, TIEProgressEvent());
    const int bits = EntryBits(size_t(i) < BitCounts.size() ? BitCounts[size_t(i)] : 0, imageSamples, imageBits);
    PrepareWork(work, bits);
    const int64_t imageStart = Stream.GetPosition();
    WriteIconImage(Stream, abort, work, bits, Params, colorMap);
    const int64_t imageEnd = Stream.GetPosition();
    if (abort) break;
    uint8_t* e = &entries[size_t(written) * kEntrySize];
    e[0] = uint8_t(work.GetImageWidth() & 255);  // 256 is written as 0
    e[1] = uint8_t(work.GetImageHeight() & 255);
    e[2] = uint8_t(bits > 8 ? 0 : IEMin(1 << bits, 255));
    IEWriteU16LE(e + 4, uint16_t(bits > 8 ? 1 : 0));
    IEWriteU16LE(e + 6, uint16_t(bits > 8 ? bits : 0));
    IEWriteU32LE(e + 8, uint32_t(imageEnd - imageStart));
    IEWriteU32LE(e + 12, uint32_t(imageStart - start));
    ++written;
  }
  // the directory lists the images written, also when an abort stopped the loop early
  const int64_t end = Stream.GetPosition();
  std::atomic<bool> directoryAbort{false};
  IEWriteU16LE(header + 4, uint16_t(written));
  Stream.SetPosition(start);
  IEStreamWriteCheck(Stream, directoryAbort, header, kDirectoryHeaderSize);
  Stream.SetPosition(directory);
  IEStreamWriteCheck(Stream, directoryAbort, entries.data(), int32_t(entries.size()));
  Stream.SetPosition(end);
  if (directoryAbort) abort = true;
}
