// Reader: the block loop walks the whole file to count frames and reads the wanted one on the way.
// Everything taken from the file is bounded before use: palette indices (pixels, background and
// transparent index) by the colour table, the frame size by the data the stream still holds.
//
// Writer: a quantized (or 1-bit) index buffer, then the fixed layout header, global table, graphic
// control extension, image descriptor, LZW data, comment extension, trailer.
#include "giffilter.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "iecodeccommon.h"
#include "iecolorreduction.h"
#include "iequantizer.h"

namespace {

constexpr uint8_t kExtension = 0x21, kImage = 0x2C, kTrailer = 0x3B;
constexpr uint8_t kGraphicControl = 0xF9, kComment = 0xFE;
constexpr int kHeaderSize = 13;
constexpr int kDescriptorSize = 9;
constexpr int kMaxSubBlock = 255;
constexpr int64_t kMaxGIFSide = 65535;  // the screen and frame sizes and positions are 16-bit fields
// One LZW code yields at most this many pixels (a string of the full 4096-entry table); codes are at
// least 3 bits. A frame larger than its data could ever fill is refused before it is allocated.
constexpr uint64_t kMaxPixelsPerDataByte = 4096 * 8 / 3;

bool ReadByte(TIEStream& s, uint8_t& b) { return s.Read(&b, 1) == 1; }

// Skips data sub-blocks up to the terminator or the end of the stream.
void SkipSubBlocks(TIEStream& s) {
  uint8_t n = 0;
  while (ReadByte(s, n) && n != 0) s.Seek(n, soFromCurrent);
}

// The image data at the position (code-size byte, sub-blocks): how many data bytes its sub-blocks
// hold and whether it reaches its terminator inside the stream. The position is restored.
struct TDataExtent {
  int64_t bytes = 0;
  bool whole = false;
};
TDataExtent MeasureData(TIEStream& s) {
  const int64_t start = s.GetPosition(), size = s.GetSize();
  TDataExtent e;
  uint8_t n = 0;
  for (int64_t at = start + 1; at < size; at += 1 + n) {
    s.SetPosition(at);
    if (!ReadByte(s, n)) break;
    if (n == 0) {
      e.whole = true;
      break;
    }
    e.bytes += std::min<int64_t>(n, size - at - 1);
  }
  s.SetPosition(start);
  return e;
}

// Reads a colour table of `count` entries into B, G, R order; false when the stream ends first.
bool ReadColorTable(TIEStream& s, int count, std::vector<TIERGB>& table) {
  std::vector<uint8_t> raw(size_t(count) * 3);
  if (s.Read(raw.data(), int32_t(raw.size())) != int32_t(raw.size())) return false;
  table.resize(size_t(count));
  for (int i = 0; i < count; ++i) table[size_t(i)] = TIERGB{raw[3 * i + 2], raw[3 * i + 1], raw[3 * i]};
  return true;
}

TIERGB Entry(const std::vector<TIERGB>& table, int index) {
  return index >= 0 && size_t(index) < table.size() ? table[size_t(index)] : TIERGB{0, 0, 0};
}

// The graphic control values that apply to the next frame.
struct TGraphicControl {
  bool transparent = false;
  int disposal = 0;
  int delay = 0;
  int transparentIndex = 0;
};

// Fills the bitmap (and the mask) from the frame's index buffer.
void StoreFrame(TIEBitmap& bitmap, const uint8_t* index, int w, int h, const std::vector<TIERGB>& map,
                int paletteSize, TIEBitmap* mask, int transparentIndex) {
  const TIEPixelFormat f = bitmap.GetPixelFormat();
  if (f == ie8p)
    for (int i = 0; i < paletteSize; ++i) bitmap.SetPaletteEntry(i, Entry(map, i));
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = index + size_t(y) * w;
    uint8_t* row = bitmap.GetRowAddress(y);
    if (f == ie8p) {
      std::memcpy(row, src, size_t(w));
    } else if (f == ie24RGB) {
      TIERGB* out = reinterpret_cast<TIERGB*>(row);
      for (int x = 0; x < w; ++x) out[x] = Entry(map, src[x]);
    } else {  // ie1g: the lowest bit of each index, first pixel in the most significant bit
      std::memset(row, 0, size_t((w + 7) / 8));
      for (int x = 0; x < w; ++x)
        if (src[x] & 1) row[x >> 3] |= uint8_t(0x80 >> (x & 7));
    }
    if (mask) {
      uint8_t* m = mask->GetRowAddress(y);
      for (int x = 0; x < w; ++x)
        if (src[x] == transparentIndex) m[x] = 0;
    }
  }
}

bool MaskAllOpaque(TIEBitmap& mask) {
  const int w = mask.GetImageWidth(), h = mask.GetImageHeight();
  for (int y = 0; y < h; ++y) {
    const uint8_t* m = mask.GetRowAddress(y);
    for (int x = 0; x < w; ++x)
      if (m[x] != 255) return false;
  }
  return true;
}

}  // namespace

namespace {

// The block loop behind both entry points: decodes the frames first..last (pixels unless ParamsOnly)
// into Bitmap and AlphaMask, handing each to the sink when there is one, and counts every frame.
void WalkGIF(TIEStream& Stream, TIEBitmap& Bitmap, int& ImageCount, TIOParamsVals& Params,
             TIECodecProgress& Progress, bool ParamsOnly, TIEBitmap*& AlphaMask, bool IgnoreAlpha, int first,
             int last, const TIEGIFFrameSink& sink) {
  ImageCount = 0;
  Params.GIFWarning.clear();
  Progress.Report(0);
  if (Progress.Aborted()) return;
  TGraphicControl gce;

  uint8_t header[kHeaderSize];
  if (Stream.Read(header, kHeaderSize) != kHeaderSize || std::memcmp(header, "GIF", 3) != 0) {
    Progress.Abort();
    return;
  }
  Params.GIFVersion.assign(reinterpret_cast<const char*>(header), 6);
  Params.GIFWinWidth = IEReadU16LE(header + 6);
  Params.GIFWinHeight = IEReadU16LE(header + 8);
  Params.GIFRatio = header[12];
  Params.SetDpiX(IEDefaultDPIX);
  Params.SetDpiY(IEDefaultDPIY);
  Params.SamplesPerPixel = 1;
  const int globalBits = (header[10] & 7) + 1;
  std::vector<TIERGB> global;
  if (header[10] & 0x80) {
    if (!ReadColorTable(Stream, 1 << globalBits, global)) {
      Progress.Abort();
      return;
    }
    Params.GIFBackground = Entry(global, header[11]);
  }

  int frame = 0;
  bool running = true;
  while (running && !Progress.Aborted()) {
    uint8_t block = 0;
    if (!ReadByte(Stream, block)) break;  // the end of the stream ends the file like a trailer
    if (block == kTrailer) break;
    if (block == kExtension) {
      uint8_t label = 0;
      if (!ReadByte(Stream, label)) break;
      if (label == kGraphicControl) {
        uint8_t size = 0, b[kMaxSubBlock];
        if (!ReadByte(Stream, size)) break;
        const int32_t got = Stream.Read(b, size);
        if (got == size && size >= 4) {
          gce.transparent = (b[0] & 1) != 0;
          gce.disposal = (b[0] >> 2) & 7;
          gce.delay = IEReadU16LE(b + 1);
          gce.transparentIndex = b[3];
        }
        SkipSubBlocks(Stream);
      } else if (label == kComment) {
        uint8_t n = 0;
        char text[kMaxSubBlock + 1];
        while (ReadByte(Stream, n) && n != 0) {
          const int32_t got = Stream.Read(text, n);
          if (got <= 0) break;
          text[got] = 0;
          Params.GIFComments.push_back(std::string(text));
        }
      } else {
        SkipSubBlocks(Stream);
      }
      continue;
    }
    if (block != kImage) continue;  // stray bytes between blocks are skipped

    uint8_t d[kDescriptorSize];
    if (Stream.Read(d, kDescriptorSize) != kDescriptorSize) break;
    const int left = IEReadU16LE(d), top = IEReadU16LE(d + 2);
    const int w = IEReadU16LE(d + 4), h = IEReadU16LE(d + 6);
    const bool hasLocal = (d[8] & 0x80) != 0, interlaced = (d[8] & 0x40) != 0;
    const int localBits = (d[8] & 7) + 1;
    std::vector<TIERGB> local;
    if (hasLocal && !ReadColorTable(Stream, 1 << localBits, local)) break;
    const TGraphicControl control = gce;
    gce = TGraphicControl();  // a graphic control extension applies to the next frame only
    const int current = frame++;
    if (current < first || current > last) {
      uint8_t codeSize = 0;
      if (!ReadByte(Stream, codeSize)) break;
      SkipSubBlocks(Stream);
      continue;
    }

    Progress.Report(30);
    if (Progress.Aborted()) break;
    Params.GIFTranspColor = Entry(hasLocal ? local : global, control.transparentIndex);
    Params.GIFXPos = left;
    Params.GIFYPos = top;
    Params.Width = Params.StoredWidth = w;
    Params.Height = Params.StoredHeight = h;
    Params.GIFDelayTime = control.delay;
    Params.GIFFlagTranspColor = control.transparent;
    Params.GIFInterlaced = interlaced;
    Params.GIFAction = control.disposal;

    std::unique_ptr<uint8_t[]> index;
    if (ParamsOnly) {
      uint8_t codeSize = 0;
      if (!ReadByte(Stream, codeSize)) break;
      SkipSubBlocks(Stream);
    } else {
      const int64_t dataStart = Stream.GetPosition();
      const int64_t rest = Stream.GetSize() - dataStart;
      const uint64_t dataLeft = rest > 0 ? uint64_t(rest) : 0;
      if (!IEImageSizeAllowed(w, h) || uint64_t(w) * uint64_t(h) > dataLeft * kMaxPixelsPerDataByte) {
        Progress.Abort();
        break;
      }
      index.reset(new (std::nothrow) uint8_t[size_t(w) * size_t(h)]());
      if (!index) {
        Progress.Abort();
        break;
      }
      // data without a byte gives no pixel; a file cut inside the data keeps the rows it holds,
      // with a warning
      const TDataExtent extent = MeasureData(Stream);
      if (extent.bytes == 0) {
        Progress.Abort();
        break;
      }
      TIEGIFLZWDecompressor decode = Params.GIFLZWDecompress ? Params.GIFLZWDecompress : IEGIFLZWDecompress;
      decode(Stream, h, w, interlaced, index.get());
      if (Stream.GetPosition() == dataStart) {
        Progress.Abort();
        break;
      }
      if (!extent.whole) Params.GIFWarning = "Premature end of data";
      Progress.Report(70);
      if (Progress.Aborted()) break;
    }

    const int bits = hasLocal ? localBits : globalBits;
    const std::vector<TIERGB>& map = hasLocal ? local : global;
    Params.FreeColorMap();
    Params.BitsPerSample = bits;
    if (!map.empty()) Params.SetColorMap(map.data(), int(map.size()));
    if (ParamsOnly) continue;

    const bool mono = bits == 1 && map.size() == 2 && map[0].r == 0 && map[0].g == 0 && map[0].b == 0 &&
                      map[1].r == 255 && map[1].g == 255 && map[1].b == 255;
    const TIEPixelFormat format = mono ? ie1g : (Params.IsNativePixelFormat ? ie8p : ie24RGB);
    if (!Bitmap.Allocate(w, h, format)) {
      Progress.Abort();
      break;
    }
    TIEBitmap* mask = nullptr;
    if (!IgnoreAlpha && Params.GIFFlagTranspColor) {
      if (!AlphaMask) AlphaMask = new TIEBitmap();
      if (AlphaMask->Allocate(w, h, ie8g)) {
        AlphaMask->Fill(255);
        mask = AlphaMask;
      }
    }
    StoreFrame(Bitmap, index.get(), w, h, map, 1 << bits, mask, control.transparentIndex);
    if (AlphaMask && (!mask || MaskAllOpaque(*AlphaMask))) {
      delete AlphaMask;
      AlphaMask = nullptr;
    }
    if (sink && !sink(current)) running = false;
  }
  ImageCount = frame;
  Params.SetImageCount(frame);
  if (!Progress.Aborted()) Progress.Report(100);
}

}  // namespace

void IEGIFRead(TIEStream& Stream, TIEBitmap& Bitmap, int& ImageCount, TIOParamsVals& Params,
               TIECodecProgress& Progress, bool ParamsOnly, TIEBitmap*& AlphaMask, bool IgnoreAlpha) {
  const int wanted = Params.GIFImageIndex;
  WalkGIF(Stream, Bitmap, ImageCount, Params, Progress, ParamsOnly, AlphaMask, IgnoreAlpha, wanted, wanted, nullptr);
}

void IEGIFReadFrames(TIEStream& Stream, TIEBitmap& Bitmap, int& ImageCount, TIOParamsVals& Params,
                     TIECodecProgress& Progress, TIEBitmap*& AlphaMask, bool IgnoreAlpha, int First, int Last,
                     const TIEGIFFrameSink& Sink) {
  WalkGIF(Stream, Bitmap, ImageCount, Params, Progress, false, AlphaMask, IgnoreAlpha, First, Last, Sink);
}

void IEGIFWrite(TIEStream& Stream, TIEBitmap& Bitmap, const TIOParamsVals& Params, TIECodecProgress& Progress) {
  std::atomic<bool> localAbort{false};
  std::atomic<bool>& aborting = Progress.Aborting ? *Progress.Aborting : localAbort;
  Progress.Report(0);
  if (aborting) return;
  // The logical screen holds the frame where it is placed; what a 16-bit field cannot hold is refused
  // before anything is written.
  const int64_t screenW = std::max<int64_t>(Params.GIFWinWidth, int64_t(Params.GIFXPos) + Bitmap.GetImageWidth());
  const int64_t screenH = std::max<int64_t>(Params.GIFWinHeight, int64_t(Params.GIFYPos) + Bitmap.GetImageHeight());
  if (Bitmap.GetImageWidth() <= 0 || Bitmap.GetImageHeight() <= 0 || Params.GIFXPos < 0 || Params.GIFYPos < 0 ||
      screenW > kMaxGIFSide || screenH > kMaxGIFSide) {
    aborting = true;
    return;
  }
  const int b = IEMax(1, IEMin(Params.BitsPerSample, 8));
  const bool alpha = Bitmap.AlphaPresent();
  TIEBitmap* alphaChannel = alpha ? Bitmap.GetAlphaChannel() : nullptr;
  const int w = Bitmap.GetImageWidth(), h = Bitmap.GetImageHeight();

  // The image to encode: 1-bit for b = 1, else a palette or 24-bit image.
  std::unique_ptr<TIEBitmap> converted;
  TIEBitmap* image = &Bitmap;
  if (b == 1 && Bitmap.GetPixelFormat() != ie1g) {
    TIERGB c0, c1;
    converted = IEConvertTwoColorTo1Bit(&Bitmap, c0, c1);
    if (!converted) {
      converted.reset(new TIEBitmap(w, h, ie1g));
      converted->ConvertFrom(&Bitmap);
    }
    image = converted.get();
  } else if (b > 1 && Bitmap.GetPixelFormat() != ie8p && Bitmap.GetPixelFormat() != ie24RGB) {
    converted.reset(new TIEBitmap());
    converted->Assign(&Bitmap);
    converted->SetPixelFormat(ie24RGB);
    image = converted.get();
  }

  const int slots = 1 << b;
  const int n = alpha ? slots - 1 : slots;  // with alpha the last index marks transparent pixels
  const bool transparent = alpha || Params.GIFFlagTranspColor;
  std::vector<TIERGB> palette(size_t(slots), TIERGB{0, 0, 0});
  std::vector<uint8_t> index(size_t(w) * size_t(h));
  std::unique_ptr<TIEQuantizer> quantizer;
  if (b == 1) {
    palette[1] = TIERGB{255, 255, 255};
    for (int y = 0; y < h; ++y) {
      const uint8_t* row = image->GetRowAddress(y);
      uint8_t* out = &index[size_t(y) * w];
      for (int x = 0; x < w; ++x) out[x] = (row[x >> 3] >> (7 - (x & 7))) & 1;
    }
  } else {
    quantizer.reset(new TIEQuantizer(image, palette.data(), n));
    const bool ownIndex = image->GetPixelFormat() == ie8p && quantizer->Method() == TIEQuantizer::qmBitmapPalette;
    for (int y = 0; y < h; ++y) {
      const uint8_t* row = image->GetRowAddress(y);
      uint8_t* out = &index[size_t(y) * w];
      if (image->GetPixelFormat() == ie8p) {
        for (int x = 0; x < w; ++x)
          out[x] = ownIndex ? row[x] : uint8_t(quantizer->RGBToIndex(image->GetPaletteEntry(row[x])));
      } else {
        const TIERGB* px = reinterpret_cast<const TIERGB*>(row);
        for (int x = 0; x < w; ++x) out[x] = uint8_t(quantizer->RGBToIndex(px[x]));
      }
    }
  }
  if (alpha)
    for (int y = 0; y < h; ++y) {
      const uint8_t* a = alphaChannel->GetRowAddress(y);
      uint8_t* out = &index[size_t(y) * w];
      for (int x = 0; x < w; ++x)
        if (a[x] != 255) out[x] = uint8_t(n);
    }

  Progress.Report(30);
  if (aborting) return;

  auto paletteIndex = [&](TIERGB c) {
    if (quantizer && image->GetPixelFormat() == ie24RGB) return quantizer->RGBToIndex(c);
    return IENearestPaletteIndex(palette.data(), n, (uint32_t(c.r) << 16) | (uint32_t(c.g) << 8) | c.b);
  };
  std::vector<uint8_t> out;
  auto put16 = [&](int v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
  };
  std::string version = Params.GIFVersion;
  version.resize(6, ' ');
  out.insert(out.end(), version.begin(), version.end());
  put16(int(screenW));
  put16(int(screenH));
  out.push_back(uint8_t((b - 1) | ((b - 1) << 4) | 0x80));
  out.push_back(uint8_t(paletteIndex(Params.GIFBackground)));
  out.push_back(0);
  for (const TIERGB& c : palette) {
    out.push_back(c.r);
    out.push_back(c.g);
    out.push_back(c.b);
  }
  out.insert(out.end(), {kExtension, kGraphicControl, 4});
  out.push_back(uint8_t(((Params.GIFAction & 7) << 2) | (transparent ? 1 : 0)));
  put16(Params.GIFDelayTime);
  out.push_back(uint8_t(alpha ? n : paletteIndex(Params.GIFTranspColor)));
  out.push_back(0);
  out.push_back(kImage);
  put16(Params.GIFXPos);
  put16(Params.GIFYPos);
  put16(w);
  put16(h);
  out.push_back(Params.GIFInterlaced ? 0x40 : 0);
  IEStreamWriteCheck(Stream, aborting, out.data(), int32_t(out.size()));

  Progress.Report(70);
  if (aborting) return;
  TIEGIFLZWCompressor encode = Params.GIFLZWCompress ? Params.GIFLZWCompress : IEGIFLZWCompress;
  if (!encode(Stream, h, w, Params.GIFInterlaced, index.data(), b)) aborting = true;

  // Comment lines longer than a sub-block continue in the next ones.
  out.assign({kExtension, kComment});
  for (const std::string& line : Params.GIFComments)
    for (size_t p = 0; p < line.size(); p += kMaxSubBlock) {
      const size_t len = IEMin(int(line.size() - p), kMaxSubBlock);
      out.push_back(uint8_t(len));
      out.insert(out.end(), line.begin() + p, line.begin() + p + len);
    }
  out.push_back(0);
  out.push_back(kTrailer);
  IEStreamWriteCheck(Stream, aborting, out.data(), int32_t(out.size()));
  if (!aborting) Progress.Report(100);
}
