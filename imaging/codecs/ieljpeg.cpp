#include "ieljpeg.h"

#include <climits>
#include <cstring>
#include <vector>

#include "ieutils.h"

namespace {

constexpr int64_t kMinFrameBytes = 32;  // a smaller frame cannot hold the headers of one
constexpr int kMaxTables = 4;           // Huffman table identifiers 0 .. 3
constexpr int kMaxSymbols = 17;         // difference categories 0 .. 16
constexpr int kLookupBits = 8;          // codes up to this length are decoded by one table look-up

// One Huffman table of difference categories, with its canonical codes (T.81 Annex C).
struct THuffTable {
  bool defined = false;
  uint8_t values[kMaxSymbols] = {};
  int32_t minCode[17] = {};
  int32_t maxCode[17] = {};  // -1: no code of this length
  int valPtr[17] = {};
  uint16_t lookup[1 << kLookupBits] = {};  // (length << 8) | symbol; 0: code longer than kLookupBits

  // False for counts that do not form a prefix code.
  bool Build(const uint8_t* counts) {
    int code = 0, k = 0;
    std::memset(lookup, 0, sizeof(lookup));
    for (int len = 1; len <= 16; ++len) {
      valPtr[len] = k;
      minCode[len] = code;
      for (int i = 0; i < counts[len - 1]; ++i, ++k, ++code) {
        if (code >= (1 << len)) return false;
        if (len <= kLookupBits) {
          const int shift = kLookupBits - len;
          for (int j = 0; j < (1 << shift); ++j) lookup[(code << shift) | j] = uint16_t((len << 8) | values[k]);
        }
      }
      maxCode[len] = counts[len - 1] ? code - 1 : -1;
      code <<= 1;
    }
    defined = true;
    return true;
  }
};

// Bits of the entropy-coded data, most significant first, with stuffed zero bytes removed. At a
// marker (or the end of the data) it feeds zero bits and counts them: consuming one means the data
// ran out, which the decoder treats as corruption.
class TBitReader {
 public:
  TBitReader(const uint8_t* p, const uint8_t* end) : p_(p), end_(end) {}

  uint32_t Peek16() {
    if (nbits_ < 16) Fill();
    return uint32_t(acc_ >> 48);
  }
  void Skip(int n) {
    acc_ <<= n;
    nbits_ -= n;
    realBits_ -= n;
  }
  uint32_t Get(int n) {
    if (n == 0) return 0;
    if (nbits_ < n) Fill();
    const uint32_t v = uint32_t(acc_ >> (64 - n));
    Skip(n);
    return v;
  }
  bool Overrun() const { return realBits_ < 0; }
  const uint8_t* Position() const { return p_; }

  // Drops the buffered bits and moves past the next restart marker. False when there is none.
  bool Restart() {
    acc_ = 0;
    nbits_ = realBits_ = 0;
    atMarker_ = false;
    for (const uint8_t* q = p_; q + 1 < end_; ++q)
      if (q[0] == 0xFF && q[1] >= 0xD0 && q[1] <= 0xD7) {
        p_ = q + 2;
        return true;
      }
    return false;
  }

 private:
  void Fill() {
    while (nbits_ <= 56) {
      uint32_t b = 0;
      if (!atMarker_ && p_ < end_) {
        b = *p_;
        if (b == 0xFF) {
          if (p_ + 1 < end_ && p_[1] == 0) {
            p_ += 2;
          } else {
            atMarker_ = true;  // a marker (or fill bytes before one): the data of this run ends
            b = 0;
          }
        } else {
          ++p_;
        }
        if (!atMarker_) realBits_ += 8;
      }
      acc_ |= uint64_t(b) << (56 - nbits_);
      nbits_ += 8;
    }
  }

  const uint8_t* p_;
  const uint8_t* end_;
  uint64_t acc_ = 0;
  int nbits_ = 0;
  int64_t realBits_ = 0;  // bits in acc_ that came from the data
  bool atMarker_ = false;
};

// The difference category of the next code; -1 for a code the table does not hold.
int DecodeSymbol(TBitReader& bits, const THuffTable& t) {
  const uint32_t look = bits.Peek16();
  const uint16_t e = t.lookup[look >> (16 - kLookupBits)];
  if (e) {
    bits.Skip(e >> 8);
    return e & 0xFF;
  }
  for (int len = kLookupBits + 1; len <= 16; ++len) {
    const int32_t code = int32_t(look >> (16 - len));
    if (t.maxCode[len] >= 0 && code <= t.maxCode[len] && code >= t.minCode[len]) {
      bits.Skip(len);
      return t.values[t.valPtr[len] + code - t.minCode[len]];
    }
  }
  return -1;
}

// T.81 H.1.2.2: the difference of category s and the s bits that follow.
int32_t DecodeDifference(TBitReader& bits, int s) {
  if (s == 0) return 0;
  if (s == 16) return 32768;
  const int32_t v = int32_t(bits.Get(s));
  return v >= (1 << (s - 1)) ? v : v - ((1 << s) - 1);
}

// The predictors 1 to 7 from the sample to the left (ra), above (rb) and above left (rc).
inline int32_t Predict(int sv, int32_t ra, int32_t rb, int32_t rc) {
  switch (sv) {
    case 1: return ra;
    case 2: return rb;
    case 3: return rc;
    case 4: return ra + rb - rc;
    case 5: return ra + ((rb - rc) >> 1);
    case 6: return rb + ((ra - rc) >> 1);
    default: return (ra + rb) / 2;
  }
}

// The samples of a line after its first pixel, away from restarts: predictor SV throughout.
template <int SV>
bool DecodeInterior(TBitReader& bits, const THuffTable* const* use, const uint16_t* prev, uint16_t* cur,
                    int rowSamples, int comps) {
  for (int i = comps, c = 0; i < rowSamples; ++i) {
    const int32_t ra = cur[i - comps], rb = prev[i], rc = prev[i - comps];
    const int32_t pred = Predict(SV, ra, rb, rc);
    const int s = DecodeSymbol(bits, *use[c]);
    if (s < 0) return false;
    cur[i] = uint16_t(pred + DecodeDifference(bits, s));
    if (++c == comps) c = 0;
  }
  return true;
}

struct TFrame {
  int precision = 0, lines = 0, samplesPerLine = 0, components = 0;
  bool lossless = false;
  int restartInterval = 0;
  int predictor = 0, pointTransform = 0;
  int scanComponents = 0;
  int tableOf[3] = {};  // the scan's table selector per component
  bool scanSeen = false;
};

}  // namespace

bool IEDecodeLosslessJPEG(TIEStream& Stream, uint16_t* Out16, uint8_t* Out8, int64_t Size, int Width,
                          int Height, int Components, TIECodecProgress& Progress) {
  if (Size < kMinFrameBytes || (Out16 == nullptr) == (Out8 == nullptr)) return false;
  if (Width <= 0 || Height <= 0) return false;
  if (Size > Stream.GetSize() - Stream.GetPosition() || Size > INT32_MAX) return false;
  std::vector<uint8_t> data(static_cast<size_t>(Size));
  if (Stream.Read(data.data(), int32_t(Size)) != int32_t(Size)) return false;
  const int64_t rowSamples = int64_t(Width) * Components;
  return IEDecodeLosslessJPEGBlock(
      data.data(), Size, Out16 != nullptr, Width, Height, Components,
      [&](int y) -> void* {
        return Out16 ? static_cast<void*>(Out16 + y * rowSamples) : static_cast<void*>(Out8 + y * rowSamples);
      },
      Progress);
}

namespace {

// Reads the marker segments from the start of image up to the scan header into f and tables; returns
// where the scan's data begins, or nullptr for segments that are damaged or end early.
const uint8_t* ReadLosslessJPEGMarkers(const uint8_t* begin, const uint8_t* end, THuffTable* tables, TFrame& f) {
  const uint8_t* p = begin + 2;  // start of image
  while (!f.scanSeen) {
    if (p >= end || *p != 0xFF) return nullptr;
    while (p < end && *p == 0xFF) ++p;  // fill bytes
    if (p >= end) return nullptr;
    const uint8_t code = *p++;
    if (code == 0x00 || code == 0x01 || (code >= 0xD0 && code <= 0xD7)) continue;
    if (code == 0xD9) return nullptr;  // end of image before any scan
    if (end - p < 2) return nullptr;
    const int len = IEReadU16BE(p);
    if (len < 2 || len > end - p) return nullptr;
    const uint8_t* seg = p + 2;
    const uint8_t* segEnd = p + len;
    p = segEnd;
    if ((code >= 0xC0 && code <= 0xC3) || (code >= 0xC5 && code <= 0xC7) || (code >= 0xC9 && code <= 0xCB) ||
        (code >= 0xCD && code <= 0xCF) || code == 0xC8) {
      if (code == 0xC8) continue;  // reserved for extensions: not a frame header
      if (segEnd - seg < 6) return nullptr;
      f.precision = seg[0];
      f.lines = IEReadU16BE(seg + 1);
      f.samplesPerLine = IEReadU16BE(seg + 3);
      f.components = seg[5];
      f.lossless = code == 0xC3;
    } else if (code == 0xC4) {
      while (seg < segEnd) {
        if (segEnd - seg < 17) return nullptr;
        const int cls = seg[0] >> 4, id = seg[0] & 15;
        const uint8_t* counts = seg + 1;
        int total = 0;
        for (int i = 0; i < 16; ++i) total += counts[i];
        if (total > kMaxSymbols || segEnd - seg < 17 + total) return nullptr;
        seg += 17;
        if (cls != 0 || id >= kMaxTables) return nullptr;  // the lossless process has only these
        THuffTable& t = tables[id];
        for (int i = 0; i < total; ++i) {
          if (seg[i] > 16) return nullptr;
          t.values[i] = seg[i];
        }
        if (!t.Build(counts)) return nullptr;
        seg += total;
      }
    } else if (code == 0xDD) {
      if (segEnd - seg < 2) return nullptr;
      f.restartInterval = IEReadU16BE(seg);
    } else if (code == 0xDA) {
      if (segEnd - seg < 1) return nullptr;
      f.scanComponents = seg[0];
      if (f.scanComponents < 1 || f.scanComponents > 3 || segEnd - seg < 1 + 2 * f.scanComponents + 3)
        return nullptr;
      for (int c = 0; c < f.scanComponents; ++c) f.tableOf[c] = seg[2 + 2 * c] >> 4;
      const uint8_t* q = seg + 1 + 2 * f.scanComponents;
      f.predictor = q[0];
      f.pointTransform = q[2] & 15;
      f.scanSeen = true;
      p = segEnd;
    }
  }
  return p;
}

// Whether the frame is a lossless one of what the caller's buffer holds; sets the table each component
// decodes with (the first defined table for a component whose own is missing).
bool SelectLosslessJPEGTables(const TFrame& f, const THuffTable* tables, bool Sixteen, int Width, int Height,
                              int Components, const THuffTable* use[3]) {
  if (!f.lossless || f.precision < 2 || f.precision > 16 || f.pointTransform >= f.precision) return false;
  if (f.predictor < 1 || f.predictor > 7) return false;
  if (f.samplesPerLine != Width || f.lines != Height || f.components != Components ||
      f.scanComponents != Components)
    return false;
  if (!Sixteen && f.precision > 8) return false;
  const THuffTable* first = nullptr;
  for (int i = 0; i < kMaxTables && !first; ++i)
    if (tables[i].defined) first = &tables[i];
  if (!first) return false;
  for (int c = 0; c < Components; ++c) {
    const int id = f.tableOf[c];
    use[c] = id < kMaxTables && tables[id].defined ? &tables[id] : first;
  }
  return true;
}

// Where a line's decoding stands between lines: the restart interval's countdown and the row in
// which the current interval started.
struct TLineState {
  int untilRestart = 0;
  bool runStart = true;  // the next pixel starts a restart interval
  int restartRow = 0;
};

// One line of a scan without restart intervals, past the first line: the line's first samples are
// predicted from the line above, the rest by the scan's predictor.
bool DecodeLineUnbroken(TBitReader& bits, const THuffTable* const* use, int predictor, const uint16_t* prev,
                        uint16_t* cur, int rowSamples, int comps) {
  for (int c = 0; c < comps; ++c) {
    const int s = DecodeSymbol(bits, *use[c]);
    if (s < 0) return false;
    cur[c] = uint16_t(prev[c] + DecodeDifference(bits, s));
  }
  switch (predictor) {
    case 1: return DecodeInterior<1>(bits, use, prev, cur, rowSamples, comps);
    case 2: return DecodeInterior<2>(bits, use, prev, cur, rowSamples, comps);
    case 3: return DecodeInterior<3>(bits, use, prev, cur, rowSamples, comps);
    case 4: return DecodeInterior<4>(bits, use, prev, cur, rowSamples, comps);
    case 5: return DecodeInterior<5>(bits, use, prev, cur, rowSamples, comps);
    case 6: return DecodeInterior<6>(bits, use, prev, cur, rowSamples, comps);
    default: return DecodeInterior<7>(bits, use, prev, cur, rowSamples, comps);
  }
}

// One line pixel by pixel: the first line, and every line of a scan with restart intervals (a pixel
// that starts an interval is predicted from the initial value, the rest of its line from the left).
bool DecodeLineByPixel(TBitReader& bits, const THuffTable* const* use, const TFrame& f, int y, int Width,
                       int comps, const uint16_t* prev, uint16_t* cur, TLineState& st) {
  const int32_t initial = 1 << (f.precision - f.pointTransform - 1);
  for (int x = 0; x < Width; ++x) {
    if (f.restartInterval) {
      if (st.untilRestart == 0) {
        if (!bits.Restart()) return false;
        st.untilRestart = f.restartInterval;
        st.runStart = true;
      }
      --st.untilRestart;
    }
    if (st.runStart) st.restartRow = y;
    for (int c = 0; c < comps; ++c) {
      const int i = x * comps + c;
      int32_t pred;
      if (st.runStart) {
        pred = initial;
      } else if (y == st.restartRow) {
        pred = x > 0 ? cur[i - comps] : prev[i];
      } else if (x == 0) {
        pred = prev[i];
      } else {
        pred = Predict(f.predictor, cur[i - comps], prev[i], prev[i - comps]);
      }
      const int s = DecodeSymbol(bits, *use[c]);
      if (s < 0) return false;  // a code the table does not hold: the data is corrupt
      cur[i] = uint16_t(pred + DecodeDifference(bits, s));
    }
    st.runStart = false;
  }
  return true;
}

// A decoded line into the caller's row, shifted back by the point transform.
void StoreLosslessLine(void* place, const uint16_t* line, int rowSamples, bool Sixteen, int pt) {
  if (!Sixteen) {
    uint8_t* o = static_cast<uint8_t*>(place);
    for (int i = 0; i < rowSamples; ++i) o[i] = uint8_t(line[i] << pt);
  } else {
    uint16_t* o = static_cast<uint16_t*>(place);
    for (int i = 0; i < rowSamples; ++i) o[i] = uint16_t(line[i] << pt);
  }
}

}  // namespace

bool IEDecodeLosslessJPEGBlock(const uint8_t* Data, int64_t Size, bool Sixteen, int Width, int Height,
                               int Components, const std::function<void*(int row)>& Row,
                               TIECodecProgress& Progress) {
  if (!Data || Size < kMinFrameBytes || Width <= 0 || Height <= 0) return false;
  if ((Components != 1 && Components != 3) || (Sixteen && Components != 1)) return false;
  const uint8_t* const begin = Data;
  const uint8_t* const end = begin + Size;

  // marker segments up to the scan, then the frame must be what the caller's buffer holds
  THuffTable tables[kMaxTables];
  TFrame f;
  const uint8_t* p = ReadLosslessJPEGMarkers(begin, end, tables, f);
  if (!p) return false;
  const THuffTable* use[3] = {};
  if (!SelectLosslessJPEGTables(f, tables, Sixteen, Width, Height, Components, use)) return false;

  // samples (T.81 H.1.2), a line at a time
  const int rowSamples = Width * Components;
  std::vector<uint16_t> prevRow(size_t(rowSamples), 0), curRow(size_t(rowSamples), 0);
  TBitReader bits(p, end);
  TLineState st;
  st.untilRestart = f.restartInterval;
  int lastPercent = -1;
  for (int y = 0; y < Height; ++y) {
    const bool ok = !f.restartInterval && y > 0
                        ? DecodeLineUnbroken(bits, use, f.predictor, prevRow.data(), curRow.data(), rowSamples, Components)
                        : DecodeLineByPixel(bits, use, f, y, Width, Components, prevRow.data(), curRow.data(), st);
    if (!ok || bits.Overrun()) return false;
    void* place = Row(y);
    if (!place) return false;
    StoreLosslessLine(place, curRow.data(), rowSamples, Sixteen, f.pointTransform);
    curRow.swap(prevRow);
    if (Progress.OnProgress) {
      const int per = int((bits.Position() - begin) * 100 / Size);
      if (per != lastPercent) {
        lastPercent = per;
        Progress.Report(per);
      }
    }
  }
  return true;
}
