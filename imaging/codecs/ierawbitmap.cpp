// Raw pixel data reading.
#include "ierawbitmap.h"

#include <cstring>
#include <string>
#include <vector>

#include "iecodeccommon.h"
#include "ietextutils.h"
#include "ieutils.h"
#include "vodevovur.h"

namespace {

constexpr int32_t kBufferSize = 8192;
constexpr int kMaxDigits = 34;

enum TDataFormat : uint8_t { dfBinary = 0, dfDecimal = 1, dfHex = 2 };
// How a sample is stored in the bitmap row.
enum TSampleKind { skByte, skWord, skFloat, skBit };

bool IsDigit(uint8_t c, TDataFormat f) {
  return (c >= '0' && c <= '9') || (f == dfHex && c >= 'A' && c <= 'F');
}

// The next number of the ASCII data: bytes up to its first digit are skipped, then at most 34 digits
// are taken (a float may hold a decimal point); the byte after them is consumed. False at the end.
bool ReadNumber(TIEStream& s, TDataFormat f, bool fraction, std::string& text) {
  text.clear();
  uint8_t c;
  do {
    if (s.Read(&c, 1) != 1) return false;
  } while (!IsDigit(c, f));
  text += char(c);
  while (text.size() < size_t(kMaxDigits) && s.Read(&c, 1) == 1 && (IsDigit(c, f) || (fraction && c == '.')))
    text += char(c);
  return true;
}

// `count` ASCII samples into a row of samples of `kind`, `step` samples apart from `first`.
bool ReadASCIIRow(TIEStream& s, TDataFormat f, TSampleKind kind, uint8_t* row, int count, int first, int step) {
  std::string t;
  for (int i = 0; i < count; ++i) {
    if (!ReadNumber(s, f, kind == skFloat, t)) return false;
    const int at = first + i * step;
    if (kind == skFloat) {
      const float v = float(IEStrToFloatDef(t, 0));
      std::memcpy(row + size_t(at) * 4, &v, 4);
      continue;
    }
    const int v = f == dfHex ? IEStrToIntDef("$" + t, 0) : IEStrToIntDef(t, 0);
    if (kind == skBit) IESetRowBit(row, at, v != 0);
    else if (kind == skWord) reinterpret_cast<uint16_t*>(row)[at] = uint16_t(v);
    else row[at] = uint8_t(v);
  }
  return true;
}

}  // namespace

void IERawBitmapRead(TIEStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, TIECodecProgress& Progress) {
  const int w = Bitmap.GetImageWidth(), h = Bitmap.GetImageHeight();
  const TIEPixelFormat pf = Bitmap.GetPixelFormat();
  const TDataFormat df = TDataFormat(Params.RawBitmapDataFormat);
  const bool planarFormat = pf == ie24RGB || pf == ieCMYK || pf == ieRGB48;
  const bool planar = planarFormat && Params.RawBitmapPlanar != 0;
  const int64_t storedRow = IERowLength(w, Bitmap.GetBitCount(), Params.RawBitmapRowAlign);
  if (w <= 0 || h <= 0 || pf == ieCIELab || pf == ie32RGB || pf == ieNoFormat || storedRow <= 0 ||
      df > dfHex || Params.RawBitmapHeaderSize < 0 || (df == dfHex && pf == ie32f)) {
    Progress.Abort();
    return;
  }
  const int channels = Bitmap.GetChannelCount();
  const TSampleKind kind = pf == ie1g ? skBit : pf == ie16g || pf == ieRGB48 ? skWord : pf == ie32f ? skFloat : skByte;
  const int sampleBytes = kind == skWord ? 2 : kind == skFloat ? 4 : 1;

  TIEBufferedReadStream s(Stream, kBufferSize, true);
  const int64_t left = s.GetSize() - Params.RawBitmapHeaderSize;
  // binary rows must all be there; an ASCII sample takes at least one byte
  const uint64_t need = df == dfBinary ? uint64_t(storedRow) * uint64_t(h)
                                       : uint64_t(w) * uint64_t(h) * uint64_t(channels);
  if (left <= 0 || need > uint64_t(left)) {
    Progress.Abort();
    return;
  }
  s.Seek(Params.RawBitmapHeaderSize, soFromBeginning);
  Progress.Per1 = 100.0 / h;
  int lastReported = -1;
  const int planes = planar ? channels : 1;
  std::vector<uint8_t> raw;
  for (int p = 0; p < planes; ++p) {
    // a plane holds one sample of every pixel; interleaved data is one plane of every sample
    const int64_t planeRow = planar ? IERowLength(w, sampleBytes * 8, Params.RawBitmapRowAlign) : storedRow;
    if (planar && planes > 1) Progress.Report(p * 100 / planes);
    raw.resize(size_t(planeRow));
    for (int y = 0; y < h; ++y) {
      uint8_t* row = Bitmap.GetRowAddress(y);
      const int rowLength = Bitmap.GetRowLength();
      if (df == dfBinary) {
        if (!IEReadExact(s, Progress, raw.data(), planeRow)) return;
        if (!planar) {
          std::memcpy(row, raw.data(), size_t(IEMin(int(planeRow), rowLength)));
        } else {
          for (int x = 0; x < w; ++x)
            std::memcpy(row + size_t(x) * channels * sampleBytes + size_t(p) * sampleBytes, &raw[size_t(x) * sampleBytes],
                        size_t(sampleBytes));
        }
      } else {
        const int count = planar ? w : w * channels;
        if (!ReadASCIIRow(s, df, kind, row, count, planar ? p : 0, planar ? channels : 1)) {
          Progress.Abort();
          return;
        }
      }
      if (!planar) {
        const int per = int(y * Progress.Per1);
        if (per != lastReported) {
          lastReported = per;
          Progress.Report(per);
        }
      }
      if (Progress.Aborted()) return;
    }
  }
  if (planar && planes > 1) Progress.Report(100);
  if (Params.RawBitmapChannelOrder == 0 && (pf == ie24RGB || pf == ieRGB48))
    for (int y = 0; y < h; ++y) {
      if (pf == ie24RGB) IESwapRowRB(Bitmap.GetRowAddress(y), w);
      else IESwapRow48RB(Bitmap.GetRowAddress(y), w);
    }
}
