// The kernel resampler works in two separable passes: horizontally from the source into 16-bit
// rows of dW values per channel (7 fractional bits, so the vertical pass does not pile up rounding),
// then vertically into the destination. Each worker takes a band of destination rows and keeps only
// the filtered source rows its next row needs, in a ring: a whole dW x sH intermediate would be
// fresh memory on every call, whose first touch costs more than the filtering (and under wine far
// more), and the ring stays in cache between the passes. Weights are 14-bit and normalised per list to an exact total, which
// keeps flat images flat and keeps large shrinks (10000 -> 20 columns) from losing every weight.
#include "ieresample.h"

#include <windows.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <new>

#include "ieresamplers.h"
#include "iethreadpool.h"
#include "vodevovur.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define IE_RESAMPLE_SSE2 1
#endif

bool IEResampleUseSimd = true;

namespace {

constexpr double kPi = 3.14159265358979323846;
// The intermediate holds each value x 128; its largest value is 255 x 128.
constexpr int kWorkShift = 7;
constexpr int kWorkMax = 255 << kWorkShift;
// How often the waiting caller looks at the workers' row count to report progress.
constexpr DWORD kProgressPollMs = 10;

int ReflectIndex(int j, int n) {
  if (j < 0) j = -j;
  if (j >= n) j = 2 * n - 1 - j;
  return IEClamp(j, 0, n - 1);
}

// Where the rows of the horizontal pass come from and how the vertical pass writes its rows.
enum class RowSource { Rgb24, Gray8, Bits };
enum class RowSink { Rgb24, Gray8, GrayToRgb24 };

// What every worker of one resampling call reads: the source, its kind and the horizontal weights.
struct TIEResampleJob {
  TIEBitmap* Source = nullptr;
  RowSource Kind = RowSource::Rgb24;
  int Channels = 3;
  int SrcWidth = 0, SrcHeight = 0, DstWidth = 0;
  const TIEContributorLists* Horiz = nullptr;
  const struct TSpanLists* HorizSpans = nullptr;  // set when the SSE2 rows run
};

// The SSE2 vertical pass multiply-adds two taps at once (pmaddwd on 16-bit pairs), so each list is
// regrouped into pairs of taps; an odd list ends with a pair whose second tap has weight 0. Exact
// integer arithmetic in the same 32-bit sums gives the same bytes as the portable rows.
struct TIETapPair {
  int32_t A, B;    // source rows
  int32_t Weights; // the two 16-bit weights, A's in the low half
};
struct TPairedLists {
  std::vector<int32_t> First;
  std::vector<TIETapPair> Items;
};

// False when a weight does not fit 16 bits (then the portable rows run).
bool PairLists(const TIEContributorLists& L, TPairedLists& out) {
  const size_t n = L.First.size() - 1;
  out.First.assign(n + 1, 0);
  out.Items.clear();
  for (size_t i = 0; i < n; ++i) {
    out.First[i] = int32_t(out.Items.size());
    for (int32_t k = L.First[i], e = L.First[i + 1]; k < e; k += 2) {
      const TIEContributor& a = L.Items[k];
      const TIEContributor b = k + 1 < e ? L.Items[k + 1] : TIEContributor{a.Pixel, 0};
      if (a.Weight < -32768 || a.Weight > 32767 || b.Weight < -32768 || b.Weight > 32767) return false;
      out.Items.push_back({a.Pixel, b.Pixel, int32_t(uint32_t(uint16_t(a.Weight)) | uint32_t(uint16_t(b.Weight)) << 16)});
    }
  }
  out.First[n] = int32_t(out.Items.size());
  return true;
}

// The SSE2 horizontal pass reads each channel of a source row as its own run of 16-bit samples, so
// that a pmaddwd takes eight neighbouring taps. Every list becomes a span of Len weights from pixel
// Start[i] on (Len, a multiple of 8, is the widest list's reach; pixels a list does not read weigh 0,
// and a pixel a reflected edge reads twice weighs the sum of its weights, which gives the same sums).
struct TSpanLists {
  int Len = 0;
  std::vector<int32_t> Start;
  std::vector<int16_t> Store;  // Weights() is Store's first 16-byte boundary
  const int16_t* Weights() const {
    return reinterpret_cast<const int16_t*>((reinterpret_cast<uintptr_t>(Store.data()) + 15) & ~uintptr_t(15));
  }
};

// False when a weight does not fit 16 bits or the spans would not fit memory (then the portable rows run).
bool SpanLists(const TIEContributorLists& L, TSpanLists& out) {
  const size_t n = L.First.size() - 1;
  out.Start.assign(n, 0);
  int reach = 1;
  for (size_t i = 0; i < n; ++i) {
    int lo = INT32_MAX, hi = -1;
    for (int32_t k = L.First[i]; k < L.First[i + 1]; ++k) {
      lo = IEMin(lo, int(L.Items[k].Pixel));
      hi = IEMax(hi, int(L.Items[k].Pixel));
    }
    out.Start[i] = hi < 0 ? 0 : lo;
    reach = IEMax(reach, hi - lo + 1);
  }
  out.Len = (reach + 7) & ~7;
  std::vector<int32_t> sums(size_t(out.Len));
  if (!IEAllocWorkBuffer(out.Store, uint64_t(n) * uint64_t(out.Len) + 8)) return false;
  int16_t* w = const_cast<int16_t*>(out.Weights());
  for (size_t i = 0; i < n; ++i) {
    std::fill(sums.begin(), sums.end(), 0);
    for (int32_t k = L.First[i]; k < L.First[i + 1]; ++k) sums[size_t(L.Items[k].Pixel - out.Start[i])] += L.Items[k].Weight;
    for (int j = 0; j < out.Len; ++j) {
      if (sums[j] < -32768 || sums[j] > 32767) return false;
      w[i * size_t(out.Len) + j] = int16_t(sums[j]);
    }
  }
  return true;
}

// A sum of the horizontal pass on the intermediate's scale, rounded. Ringing kernels may go below 0
// or above 255: clamp before the shift, never wrap.
inline uint16_t WorkValue(int32_t s) {
  const int32_t v = s <= 0 ? 0 : (s + (1 << (kIEWeightBits - kWorkShift - 1))) >> (kIEWeightBits - kWorkShift);
  return uint16_t(v > kWorkMax ? kWorkMax : v);
}

template <int C>
void HorizontalRow(const TIEResampleJob& p, const uint8_t* src, uint16_t* out) {
  const TIEContributorLists& L = *p.Horiz;
  for (int i = 0; i < p.DstWidth; ++i) {
    int32_t s[C] = {};
    for (int32_t k = L.First[i], e = L.First[i + 1]; k < e; ++k) {
      const uint8_t* px = src + size_t(L.Items[k].Pixel) * C;
      int32_t w = L.Items[k].Weight;
      for (int c = 0; c < C; ++c) s[c] += w * px[c];
    }
    for (int c = 0; c < C; ++c) out[size_t(i) * C + c] = WorkValue(s[c]);
  }
}

#ifdef IE_RESAMPLE_SSE2
// The three channels of `n` RGB pixels into three runs of 16-bit samples (red at r, green at g, blue
// at b). Four rounds of interleaving the low half of one register with the high half of another sort
// 48 bytes into sixteen reds, greens and blues.
void SplitRgb(const uint8_t* src, int n, uint16_t* r, uint16_t* g, uint16_t* b) {
  const __m128i zero = _mm_setzero_si128();
  int x = 0;
  for (; x + 16 <= n; x += 16) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * x));
    __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * x + 16));
    __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * x + 32));
    for (int round = 0; round < 4; ++round) {
      const __m128i na = _mm_unpacklo_epi8(a, _mm_unpackhi_epi64(m, m));
      const __m128i nm = _mm_unpacklo_epi8(_mm_unpackhi_epi64(a, a), c);
      c = _mm_unpacklo_epi8(m, _mm_unpackhi_epi64(c, c));
      a = na;
      m = nm;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(r + x), _mm_unpacklo_epi8(a, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(r + x + 8), _mm_unpackhi_epi8(a, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(g + x), _mm_unpacklo_epi8(m, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(g + x + 8), _mm_unpackhi_epi8(m, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(b + x), _mm_unpacklo_epi8(c, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(b + x + 8), _mm_unpackhi_epi8(c, zero));
  }
  for (; x < n; ++x) {
    r[x] = src[3 * x];
    g[x] = src[3 * x + 1];
    b[x] = src[3 * x + 2];
  }
}

// `n` grey bytes into 16-bit samples.
void WidenGray(const uint8_t* src, int n, uint16_t* out) {
  const __m128i zero = _mm_setzero_si128();
  int x = 0;
  for (; x + 16 <= n; x += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_unpacklo_epi8(v, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x + 8), _mm_unpackhi_epi8(v, zero));
  }
  for (; x < n; ++x) out[x] = src[x];
}

// One pixel's three sums (and a fourth lane to drop) into the 16-bit row, lane by lane as WorkValue.
inline void StoreSums(__m128i s, uint16_t* o, bool last) {
  const __m128i zero = _mm_setzero_si128();
  s = _mm_and_si128(s, _mm_cmpgt_epi32(s, zero));
  s = _mm_srai_epi32(_mm_add_epi32(s, _mm_set1_epi32(1 << (kIEWeightBits - kWorkShift - 1))), kIEWeightBits - kWorkShift);
  s = _mm_min_epi16(_mm_packs_epi32(s, s), _mm_set1_epi16(kWorkMax));
  if (!last) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(o), s);  // the fourth value is overwritten next
  } else {
    o[0] = uint16_t(_mm_extract_epi16(s, 0));
    o[1] = uint16_t(_mm_extract_epi16(s, 1));
    o[2] = uint16_t(_mm_extract_epi16(s, 2));
  }
}

// Asks for the source rows the next call reads while this one computes, a few cache lines per
// destination pixel, so that splitting them does not wait on memory.
struct RowPrefetch {
  const uint8_t* Rows[2] = {};
  int Count = 0;
  size_t Bytes = 0, Pos = 0, PerStep = 64;
  int Row = 0;
  void Step() {
    for (size_t n = 0; n < PerStep && Row < Count; n += 64) {
      _mm_prefetch(reinterpret_cast<const char*>(Rows[Row] + Pos), _MM_HINT_T0);
      Pos += 64;
      if (Pos >= Bytes) {
        Pos = 0;
        ++Row;
      }
    }
  }
};

inline __m128i MulAdd(__m128i acc, const uint16_t* p, __m128i w) {
  return _mm_add_epi32(acc, _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), w));
}

// The four partial sums of each channel, added across into (r, g, b, 0).
inline __m128i AddAcross(__m128i r, __m128i g, __m128i b) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i rg = _mm_add_epi32(_mm_unpacklo_epi32(r, g), _mm_unpackhi_epi32(r, g));
  const __m128i bz = _mm_add_epi32(_mm_unpacklo_epi32(b, zero), _mm_unpackhi_epi32(b, zero));
  return _mm_add_epi32(_mm_unpacklo_epi64(rg, bz), _mm_unpackhi_epi64(rg, bz));
}

// HorizontalRow<3> over the channel runs of R (1 or 2) source rows at once, which share each span's
// weights: eight taps of a channel per pmaddwd. Run c of row r starts at planes + (r * 3 + c) * pitch
// and is zero-padded to reach every span's end.
template <int R>
void HorizontalRowsRgbSse2(const TSpanLists& S, int dstWidth, const uint16_t* planes, size_t pitch,
                           uint16_t* const* out, RowPrefetch& ahead) {
  const int16_t* w = S.Weights();
  const int len = S.Len;
  for (int i = 0; i < dstWidth; ++i, w += len) {
    ahead.Step();
    const uint16_t* p = planes + S.Start[i];
    __m128i r0 = _mm_setzero_si128(), g0 = r0, b0 = r0, r1 = r0, g1 = r0, b1 = r0;
    for (int k = 0; k < len; k += 8, p += 8) {
      const __m128i wk = _mm_load_si128(reinterpret_cast<const __m128i*>(w + k));
      r0 = MulAdd(r0, p, wk);
      g0 = MulAdd(g0, p + pitch, wk);
      b0 = MulAdd(b0, p + 2 * pitch, wk);
      if (R == 2) {
        r1 = MulAdd(r1, p + 3 * pitch, wk);
        g1 = MulAdd(g1, p + 4 * pitch, wk);
        b1 = MulAdd(b1, p + 5 * pitch, wk);
      }
    }
    const bool last = i + 1 == dstWidth;
    StoreSums(AddAcross(r0, g0, b0), out[0] + size_t(i) * 3, last);
    if (R == 2) StoreSums(AddAcross(r1, g1, b1), out[1] + size_t(i) * 3, last);
  }
}

// HorizontalRow<1> over the runs of R (1 or 2) source rows at once (row r's at planes + r * pitch).
template <int R>
void HorizontalRowsGraySse2(const TSpanLists& S, int dstWidth, const uint16_t* planes, size_t pitch,
                            uint16_t* const* out, RowPrefetch& ahead) {
  const int16_t* w = S.Weights();
  const int len = S.Len;
  for (int i = 0; i < dstWidth; ++i, w += len) {
    ahead.Step();
    const uint16_t* p = planes + S.Start[i];
    __m128i a0 = _mm_setzero_si128(), a1 = a0;
    for (int k = 0; k < len; k += 8, p += 8) {
      const __m128i wk = _mm_load_si128(reinterpret_cast<const __m128i*>(w + k));
      a0 = MulAdd(a0, p, wk);
      if (R == 2) a1 = MulAdd(a1, p + pitch, wk);
    }
    for (int r = 0; r < R; ++r) {
      __m128i s = r == 0 ? a0 : a1;
      s = _mm_add_epi32(s, _mm_srli_si128(s, 8));
      s = _mm_add_epi32(s, _mm_srli_si128(s, 4));
      out[r][i] = WorkValue(_mm_cvtsi128_si32(s));
    }
  }
}
#endif

// A worker's scratch rows for the horizontal pass.
struct HorizontalScratch {
  std::vector<uint8_t> Expanded;  // a 1-bit row as bytes
  std::vector<uint16_t> Planes;   // the channel runs of the SSE2 rows
};

// The bytes of source row r (a 1-bit row expanded to 0 and 255).
const uint8_t* SourceRow(const TIEResampleJob& p, int r, HorizontalScratch& scratch) {
  const uint8_t* row = p.Source->GetRowAddress(r);
  if (p.Kind != RowSource::Bits) return row;
  scratch.Expanded.resize(size_t(p.SrcWidth));
  for (int x = 0; x < p.SrcWidth; ++x) scratch.Expanded[x] = IEGetRowBit(row, x) ? 255 : 0;
  return scratch.Expanded.data();
}

// Source rows r .. r + count - 1 through the horizontal pass into out[0 ..] (DstWidth x Channels
// values each); `count` is 1, or 2 when the SSE2 rows run.
void HorizontalRows(const TIEResampleJob& p, int r, int count, uint16_t* const* out, HorizontalScratch& scratch) {
#ifdef IE_RESAMPLE_SSE2
  if (p.HorizSpans) {
    // each run reaches Len samples past its last pixel's start, which stay 0
    const size_t pitch = size_t(p.SrcWidth) + size_t(p.HorizSpans->Len);
    const size_t size = pitch * p.Channels * 2;
    if (scratch.Planes.size() != size) scratch.Planes.assign(size, 0);
    uint16_t* planes = scratch.Planes.data();
    for (int k = 0; k < count; ++k) {
      // each row is split at once: a row view of a temporary file lasts until the next is taken
      const uint8_t* row = SourceRow(p, r + k, scratch);
      uint16_t* runs = planes + k * p.Channels * pitch;
      if (p.Channels == 3)
        SplitRgb(row, p.SrcWidth, runs, runs + pitch, runs + 2 * pitch);
      else
        WidenGray(row, p.SrcWidth, runs);
    }
    const TSpanLists& S = *p.HorizSpans;
    RowPrefetch ahead;
    if (p.Kind != RowSource::Bits && p.Source->GetLocation() != ieTempFile) {
      ahead.Count = IEMin(count, p.SrcHeight - (r + count));
      for (int k = 0; k < ahead.Count; ++k) ahead.Rows[k] = p.Source->GetRowAddress(r + count + k);
      ahead.Bytes = size_t(p.SrcWidth) * p.Channels;
      const size_t lines = (ahead.Bytes + 63) / 64 * size_t(IEMax(ahead.Count, 0));
      ahead.PerStep = 64 * ((lines + size_t(p.DstWidth) - 1) / size_t(p.DstWidth));
    }
    if (p.Channels == 3 && count == 2)
      HorizontalRowsRgbSse2<2>(S, p.DstWidth, planes, pitch, out, ahead);
    else if (p.Channels == 3)
      HorizontalRowsRgbSse2<1>(S, p.DstWidth, planes, pitch, out, ahead);
    else if (count == 2)
      HorizontalRowsGraySse2<2>(S, p.DstWidth, planes, pitch, out, ahead);
    else
      HorizontalRowsGraySse2<1>(S, p.DstWidth, planes, pitch, out, ahead);
    return;
  }
#endif
  const uint8_t* row = SourceRow(p, r, scratch);
  if (p.Channels == 3)
    HorizontalRow<3>(p, row, out[0]);
  else
    HorizontalRow<1>(p, row, out[0]);
}

// `rows[k]` is the filtered source row of items[k].
template <int C>
void VerticalRow(const uint16_t* const* rows, const TIEContributor* items, int n, int32_t* acc, uint8_t* out,
                 int dstWidth, RowSink sink) {
  const size_t m = size_t(dstWidth) * C;
  std::memset(acc, 0, m * sizeof(int32_t));
  for (int k = 0; k < n; ++k) {
    const uint16_t* row = rows[k];
    const int32_t w = items[k].Weight;
    for (size_t x = 0; x < m; ++x) acc[x] += w * row[x];
  }
  const int shift = kIEWeightBits + kWorkShift;
  for (size_t x = 0; x < m; ++x) {
    int32_t v = acc[x] <= 0 ? 0 : (acc[x] + (1 << (shift - 1))) >> shift;
    uint8_t b = uint8_t(v > 255 ? 255 : v);
    if (sink == RowSink::GrayToRgb24) {
      out[x * 3] = out[x * 3 + 1] = out[x * 3 + 2] = b;
    } else {
      out[x] = b;
    }
  }
}

#ifdef IE_RESAMPLE_SSE2
// VerticalRow into bytes (Rgb24 or Gray8 sinks), sixteen values at a time over pairs of taps; rows[2k]
// and rows[2k + 1] are the filtered source rows of pairs[k].
void VerticalRowSse2(const uint16_t* const* rows, const TIETapPair* pairs, int n, uint8_t* out, size_t m) {
  const __m128i zero = _mm_setzero_si128();
  const int shift = kIEWeightBits + kWorkShift;
  const __m128i half = _mm_set1_epi32(1 << (shift - 1));
  auto finish = [&](__m128i lo, __m128i hi) {
    lo = _mm_srai_epi32(_mm_add_epi32(_mm_and_si128(lo, _mm_cmpgt_epi32(lo, zero)), half), shift);
    hi = _mm_srai_epi32(_mm_add_epi32(_mm_and_si128(hi, _mm_cmpgt_epi32(hi, zero)), half), shift);
    return _mm_packs_epi32(lo, hi);
  };
  size_t x = 0;
  for (; x + 16 <= m; x += 16) {
    __m128i s0 = zero, s1 = zero, s2 = zero, s3 = zero;
    for (int k = 0; k < n; ++k) {
      const uint16_t* a = rows[2 * k] + x;
      const uint16_t* b = rows[2 * k + 1] + x;
      const __m128i w = _mm_set1_epi32(pairs[k].Weights);
      const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
      const __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
      const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 8));
      const __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 8));
      s0 = _mm_add_epi32(s0, _mm_madd_epi16(_mm_unpacklo_epi16(a0, b0), w));
      s1 = _mm_add_epi32(s1, _mm_madd_epi16(_mm_unpackhi_epi16(a0, b0), w));
      s2 = _mm_add_epi32(s2, _mm_madd_epi16(_mm_unpacklo_epi16(a1, b1), w));
      s3 = _mm_add_epi32(s3, _mm_madd_epi16(_mm_unpackhi_epi16(a1, b1), w));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(finish(s0, s1), finish(s2, s3)));
  }
  for (; x < m; ++x) {
    int32_t acc = 0;
    for (int k = 0; k < n; ++k) {
      const int32_t w = pairs[k].Weights;
      acc += int16_t(w & 0xFFFF) * rows[2 * k][x] + int16_t(uint32_t(w) >> 16) * rows[2 * k + 1][x];
    }
    const int32_t v = acc <= 0 ? 0 : (acc + (1 << (shift - 1))) >> shift;
    out[x] = uint8_t(v > 255 ? 255 : v);
  }
}
#endif

// Runs rows first .. first + count - 1 of one pass on its own thread; signals `finished` when it is
// the last of the batch to end.
class TResampleBandThread : public TIEPoolThread {
 public:
  using Body = std::function<void(int first, int count)>;
  TResampleBandThread(int firstRow, int rowCount, const Body& body, std::atomic<int>* workersDone, HANDLE finished,
                      int workerCount)
      : FirstRow(firstRow), RowCount(rowCount), Run(body), WorkersDone(workersDone), Finished(finished),
        WorkerCount(workerCount) {}

 protected:
  void Execute() override {
    struct Signal {
      TResampleBandThread* t;
      ~Signal() {
        if (t->WorkersDone->fetch_add(1) + 1 == t->WorkerCount) SetEvent(t->Finished);
      }
    } signal{this};
    Run(FirstRow, RowCount);
  }

 private:
  int FirstRow, RowCount;
  Body Run;
  std::atomic<int>* WorkersDone;
  HANDLE Finished;
  int WorkerCount;
};

// Owns one event handle.
class TEventHandle {
 public:
  TEventHandle() : h_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~TEventHandle() {
    if (h_) CloseHandle(h_);
  }
  TEventHandle(const TEventHandle&) = delete;
  TEventHandle& operator=(const TEventHandle&) = delete;
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

// Reports p when it differs from the last value reported.
struct ProgressReporter {
  void* Sender;
  const TIEProgressEvent& Event;
  int Last = -1;
  void Report(int p) {
    if (Event && p != Last) {
      Last = p;
      Event(Sender, p);
    }
  }
};

// The two passes; `workers` > 1 runs them in bands of destination rows on that many threads, 0 or 1
// in the calling thread.
void RunKernel(TIEBitmap* source, RowSource kind, TIEBitmap* dest, RowSink sink, TResampleFilter filter, void* Sender,
               const TIEProgressEvent& progress, int workers) {
  const int sW = source->GetImageWidth(), sH = source->GetImageHeight();
  const int dW = dest->GetImageWidth(), dH = dest->GetImageHeight();
  if (sW < 1 || sH < 1 || dW < 1 || dH < 1) return;
  const TIEResampleKernel& K = IEResampleKernels[filter >= rfTriangle && filter <= rfLinear ? filter : rfTriangle];
  TIEContributorLists horiz, vert;
  IEBuildContributors(horiz, sW, dW, K.Kernel, K.Radius);
  IEBuildContributors(vert, sH, dH, K.Kernel, K.Radius);

  TIEResampleJob job;
  job.Source = source;
  job.Kind = kind;
  job.Channels = kind == RowSource::Rgb24 ? 3 : 1;
  job.SrcWidth = sW;
  job.SrcHeight = sH;
  job.DstWidth = dW;
  job.Horiz = &horiz;
  const size_t stride = size_t(dW) * job.Channels;
  TSpanLists horizSpans;
  TPairedLists vertPairs;
  [[maybe_unused]] bool vertSimd = false;
#ifdef IE_RESAMPLE_SSE2
  if (IEResampleUseSimd) {
    if (SpanLists(horiz, horizSpans)) job.HorizSpans = &horizSpans;
    vertSimd = sink != RowSink::GrayToRgb24 && PairLists(vert, vertPairs);
  }
#endif
  // the source rows each destination row reads lie in lowest[k] .. highest[k]
  std::vector<int> lowest(size_t(dH), sH), highest(size_t(dH), -1);
  for (int k = 0; k < dH; ++k)
    for (int32_t t = vert.First[k]; t < vert.First[k + 1]; ++t) {
      lowest[k] = IEMin(lowest[k], vert.Items[t].Pixel);
      highest[k] = IEMax(highest[k], vert.Items[t].Pixel);
    }

  ProgressReporter rep{Sender, progress};
  const double factor = 100.0 / (sH + dH + 0.5);
  // both passes' rows are counted as destination rows are finished
  auto progressAt = [&](int done) { return int(double(sH + dH) * done / dH * factor); };
  TIEScopedRowAccess sourceAccess(source, iraRead), destAccess(dest, iraWrite);

  // Row views of a temporary file are not safe for concurrent use: a source or destination there is
  // read and written by this thread alone. One worker is this thread too: starting a thread to wait
  // for it costs more than a small image's whole work.
  const bool inThisThread = IEMin(workers, dH) <= 1 || source->GetLocation() == ieTempFile || dest->GetLocation() == ieTempFile;
  std::atomic<int> rowsDone{0};
  // Destination rows first .. first + count - 1: the source rows they need go through the
  // horizontal pass once each, into a ring just large enough to hold every row the band's next
  // destination row reads.
  auto band = [&](int first, int count) {
    int next = sH, ring = 1;
    for (int k = first; k < first + count; ++k) next = IEMin(next, lowest[k]);
    const int start = next;
    for (int k = first; k < first + count; ++k) {
      next = IEMax(next, highest[k] + 1);
      ring = IEMax(ring, next - lowest[k]);
    }
    std::vector<uint16_t> rows(size_t(ring) * stride);
    HorizontalScratch scratch;
    std::vector<const uint16_t*> taps;
    std::vector<int32_t> acc(stride);
    auto slot = [&](int r) { return rows.data() + size_t(r % ring) * stride; };
    next = start;
    for (int k = first; k < first + count; ++k) {
      while (next <= highest[k]) {
        const int count = job.HorizSpans && next < highest[k] ? 2 : 1;
        uint16_t* const out[2] = {slot(next), slot(next + 1)};
        HorizontalRows(job, next, count, out, scratch);
        next += count;
      }
      uint8_t* out = dest->GetRowAddress(k);
#ifdef IE_RESAMPLE_SSE2
      if (vertSimd) {
        const TIETapPair* pairs = vertPairs.Items.data() + vertPairs.First[k];
        const int n = vertPairs.First[k + 1] - vertPairs.First[k];
        taps.clear();
        for (int t = 0; t < n; ++t) {
          taps.push_back(slot(pairs[t].A));
          taps.push_back(slot(pairs[t].B));
        }
        VerticalRowSse2(taps.data(), pairs, n, out, stride);
      } else
#endif
      {
        const TIEContributor* items = vert.Items.data() + vert.First[k];
        const int n = vert.First[k + 1] - vert.First[k];
        taps.clear();
        for (int t = 0; t < n; ++t) taps.push_back(slot(items[t].Pixel));
        if (job.Channels == 3)
          VerticalRow<3>(taps.data(), items, n, acc.data(), out, dW, sink);
        else
          VerticalRow<1>(taps.data(), items, n, acc.data(), out, dW, sink);
      }
      if (inThisThread)
        rep.Report(progressAt(k + 1));
      else
        rowsDone.fetch_add(1, std::memory_order_relaxed);
    }
  };

  if (inThisThread) {
    band(0, dH);
    return;
  }
  // Bands of dH div N rows (the last takes the rest) on N workers; meanwhile this thread reports
  // progress from the finished rows.
  const int n = IEMin(workers, dH);
  std::atomic<int> workersDone{0};
  TEventHandle finished;
  if (!finished.get()) throw EIEError("cannot create the resampler's event");
  TIEThreadPool pool;
  const int rowsPerBand = dH / n;
  for (int k = 0; k < n; ++k) {
    const int first = k * rowsPerBand, count = k == n - 1 ? dH - first : rowsPerBand;
    pool.Add(new TResampleBandThread(first, count, band, &workersDone, finished.get(), n));
  }
  while (WaitForSingleObject(finished.get(), kProgressPollMs) == WAIT_TIMEOUT)
    rep.Report(progressAt(rowsDone.load(std::memory_order_relaxed)));
  pool.WaitForAll();  // raises a worker's failure here, in the caller's thread
  rep.Report(progressAt(dH));
}

}  // namespace

double IESinc(double x) {
  if (x == 0) return 1;
  x *= kPi;
  return std::sin(x) / x;
}

double IEKernelTriangle(double x) {
  double a = std::fabs(x);
  return a < 1 ? 1 - a : 0;
}

double IEKernelHermite(double x) {
  double a = std::fabs(x);
  return a < 1 ? (2 * a - 3) * a * a + 1 : 0;
}

double IEKernelBell(double x) {
  double a = std::fabs(x);
  if (a < 0.5) return 0.75 - a * a;
  if (a < 1.5) return 0.5 * (a - 1.5) * (a - 1.5);
  return 0;
}

double IEKernelBSpline(double x) {
  double a = std::fabs(x);
  if (a < 1) return 0.5 * a * a * a - a * a + 2.0 / 3.0;
  if (a < 2) return (2 - a) * (2 - a) * (2 - a) / 6;
  return 0;
}

double IEKernelLanczos3(double x) {
  return std::fabs(x) < 3 ? IESinc(x) * IESinc(x / 3) : 0;
}

double IEKernelMitchell(double x) {
  double a = std::fabs(x);
  if (a < 1) return (7 * a * a * a - 12 * a * a + 16.0 / 3.0) / 6;
  if (a < 2) return (-7.0 / 3.0 * a * a * a + 12 * a * a - 20 * a + 32.0 / 3.0) / 6;
  return 0;
}

double IEKernelBox(double x) {
  return x > -0.5 && x <= 0.5 ? 1 : 0;
}

double IEKernelLinear(double x) {
  if (x >= -1 && x < 0) return x + 1;
  if (x >= 0 && x < 1) return 1 - x;
  return 0;
}

const TIEResampleKernel IEResampleKernels[9] = {
    {nullptr, 0},        {IEKernelTriangle, 1.0}, {IEKernelHermite, 1.0}, {IEKernelBell, 1.5}, {IEKernelBSpline, 2.0},
    {IEKernelLanczos3, 3.0}, {IEKernelMitchell, 2.0}, {IEKernelBox, 1.0},   {IEKernelLinear, 1.0},
};

void IEBuildContributors(TIEContributorLists& lists, int srcSize, int dstSize, double (*kernel)(double), double radius) {
  lists.First.assign(size_t(dstSize) + 1, 0);
  lists.Items.clear();
  if (srcSize < 1 || dstSize < 1) return;
  const double scale = srcSize == 1 || dstSize == 1 ? double(dstSize) / srcSize : double(dstSize - 1) / (srcSize - 1);
  const double width = scale >= 1 ? radius : radius / scale;
  const double kscale = scale >= 1 ? 1.0 : scale;
  std::vector<double> k;
  for (int i = 0; i < dstSize; ++i) {
    lists.First[i] = int32_t(lists.Items.size());
    const double c = i / scale;
    const int lo = IEFloor(c - width), hi = IECeil(c + width);
    k.assign(size_t(hi - lo + 1), 0.0);
    double total = 0;
    for (int j = lo; j <= hi; ++j) total += k[j - lo] = kernel((c - j) * kscale);
    if (total == 0) {
      // no weight at all (cannot happen with the library's kernels): take the nearest pixel
      lists.Items.push_back({ReflectIndex(IERound(c), srcSize), kIEWeightOne});
      continue;
    }
    // Cumulative rounding: every prefix of the list stays within half a unit of its exact share, and
    // the list sums to exactly kIEWeightOne.
    double cum = 0;
    int32_t prev = 0;
    for (int j = lo; j <= hi; ++j) {
      cum += k[j - lo] / total * kIEWeightOne;
      int32_t now = int32_t(std::lround(cum));
      if (j == hi) now = kIEWeightOne;
      if (now != prev) lists.Items.push_back({ReflectIndex(j, srcSize), now - prev});
      prev = now;
    }
  }
  lists.First[dstSize] = int32_t(lists.Items.size());
}

void IEKernelResample24(TIEBitmap* source, TIEBitmap* dest, TResampleFilter filter, void* Sender,
                        const TIEProgressEvent& progress, int workers) {
  if (source->GetPixelFormat() != ie24RGB || dest->GetPixelFormat() != ie24RGB) return;
  if (workers <= 0) workers = IEProcessorCount();
  RunKernel(source, RowSource::Rgb24, dest, RowSink::Rgb24, filter, Sender, progress, IEMax(workers, 1));
}

void IEKernelResample8(TIEBitmap* source, TIEBitmap* dest, TResampleFilter filter) {
  if (source->GetPixelFormat() == ie1g) {
    if (dest->GetPixelFormat() != ie24RGB) return;
    RunKernel(source, RowSource::Bits, dest, RowSink::GrayToRgb24, filter, nullptr, TIEProgressEvent(), 0);
  } else {
    if (source->GetBitCount() != 8 || dest->GetBitCount() != 8) return;
    RunKernel(source, RowSource::Gray8, dest, RowSink::Gray8, filter, nullptr, TIEProgressEvent(), 0);
  }
}

void IEResampleRGB24(TIEBitmap* source, TIEBitmap* dest, TResampleFilter filter, void* Sender, const TIEProgressEvent& progress) {
  const int sW = source->GetImageWidth(), sH = source->GetImageHeight();
  if (sW < 1 || sH < 1 || dest->GetImageWidth() < 1 || dest->GetImageHeight() < 1) return;
  const TIEPixelFormat f = source->GetPixelFormat();
  if (filter == rfBilinear || filter == rfBicubic) {
    if (f == ie24RGB || f == ie8g) {
      dest->Allocate(dest->GetImageWidth(), dest->GetImageHeight(), f);
      IEResampleBilinearBicubic8(source, dest, filter == rfBicubic ? 1 : 0, Sender, progress);
      return;
    }
    if (f == ieRGB48 || f == ie16g) {
      dest->Allocate(dest->GetImageWidth(), dest->GetImageHeight(), f);
      IEResampleBilinearBicubic16(source, dest, filter == rfBicubic ? 1 : 0, Sender, progress);
      return;
    }
    filter = rfTriangle;
  }
  if (f == ie8g) {
    dest->Allocate(dest->GetImageWidth(), dest->GetImageHeight(), ie8g);
    IEResampleGray8(source, dest, filter);
    return;
  }
  std::unique_ptr<TIEBitmap> converted;
  TIEBitmap* src = source;
  if (f != ie24RGB) {
    converted.reset(new TIEBitmap(sW, sH, ie24RGB));
    converted->ConvertFrom(source);
    src = converted.get();
  }
  if (dest->GetPixelFormat() != ie24RGB) dest->Allocate(dest->GetImageWidth(), dest->GetImageHeight(), ie24RGB);
  switch (filter) {
    case rfFastLinear:
      IEResampleFastLinear(src, dest, Sender, progress);
      break;
    case rfProjectBW:
    case rfProjectWB:
      IEResampleProject24(src, dest, filter == rfProjectWB, Sender, progress);
      break;
    default:
      IEKernelResample24(src, dest, filter, Sender, progress, 0);
      break;
  }
}

void IEResample(TIEBitmap* source, TIEBitmap* dest, TResampleFilter filter, void* Sender, const TIEProgressEvent& progress) {
  const int dW = dest->GetImageWidth(), dH = dest->GetImageHeight();
  if (source->GetImageWidth() == dW && source->GetImageHeight() == dH) {
    dest->Assign(source);
    return;
  }
  if (filter == rfNone) {
    IEStretchNearest(source, dest, Sender, progress);
  } else if (source->GetPixelFormat() == ie1g) {
    const TIEPixelFormat f = filter == rfProjectBW || filter == rfProjectWB ? ie1g : ie24RGB;
    if (dest->GetPixelFormat() != f) dest->Allocate(dW, dH, f);
    IEResampleBW(source, dest, filter);
  } else {
    IEResampleRGB24(source, dest, filter, Sender, progress);
  }
  if (source->AlphaPresent() && dest->GetImageWidth() > 0 && dest->GetImageHeight() > 0) {
    TIEBitmap* sa = source->GetAlphaChannel();
    TIEBitmap* da = dest->GetAlphaChannel();
    if (sa && da) {
      if (filter == rfNone)
        IEStretchNearest(sa, da, nullptr, TIEProgressEvent());
      else
        IEResampleGray8(sa, da, filter);
      da->IsAll255 = sa->IsAll255;
    }
  }
}
