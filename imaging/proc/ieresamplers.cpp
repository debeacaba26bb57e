// The resamplers of the calling thread. Column and row maps are computed once per call in integer
// arithmetic (trunc(s x i / d) exactly), so that exact ratios never fall a pixel short.
#include "ieresamplers.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#define IE_RESAMPLERS_SSE2 1
#endif

bool IEResamplersUseSimd = true;

namespace {

// 17-bit fractions of the linear resamplers.
constexpr int kFracBits = 17;
constexpr int kFracOne = 1 << kFracBits;
// A source border this close to a destination border counts as lying on it.
constexpr double kBorderTolerance = 1e-4;

int MapIndex(int i, int src, int dst) { return int(int64_t(i) * src / dst); }

struct ChangeReporter {
  void* Sender;
  const TIEProgressEvent& Event;
  int Last = -1;
  void Report(int p) {
    if (Event && p != Last) {
      Last = p;
      Event(Sender, p);
    }
  }
  void Always(int p) {
    if (Event) Event(Sender, p);
  }
};

// One axis of the linear resampler: interpolation fractions when enlarging, half-open boxes otherwise
// (an unchanged axis is then a plain copy).
struct LinearAxis {
  bool Enlarge = false;
  std::vector<int> Lo, Hi, Frac;  // enlarging: Lo = a, Hi = b, Frac; else the box [Lo, Hi)
  LinearAxis(int src, int dst) : Enlarge(dst > src), Lo(dst), Hi(dst), Frac(dst) {
    const double scale = double(dst) / src;
    for (int i = 0; i < dst; ++i) {
      if (Enlarge) {
        const double g = i / scale;
        Lo[i] = int(g);
        Hi[i] = IEMin(Lo[i] + 1, src - 1);
        Frac[i] = int((g - Lo[i]) * kFracOne);
      } else {
        Lo[i] = MapIndex(i, src, dst);
        Hi[i] = IEMax(MapIndex(i + 1, src, dst), Lo[i] + 1);
      }
    }
  }
};

inline int Lerp(int a, int b, int f) { return a + ((b - a) * f >> kFracBits); }  // >> floors

#ifdef IE_RESAMPLERS_SSE2
inline __m128i Load32(const uint8_t* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return _mm_cvtsi32_si128(v);
}
#endif

// floor(x / n) by a multiplication, exact for 0 <= x <= 255 x n when n is below kExactReciprocalLimit:
// with m = floor(2^32 / n) + 1 the excess of x m / 2^32 over x / n stays below 1 / n.
constexpr uint32_t kExactReciprocalLimit = 4104;
struct ByteMeanDivisor {
  uint32_t N;
  uint64_t M;  // 0: divide
  explicit ByteMeanDivisor(uint32_t n) : N(n), M(n < kExactReciprocalLimit ? (uint64_t(1) << 32) / n + 1 : 0) {}
  uint32_t operator()(uint32_t x) const { return M ? uint32_t(x * M >> 32) : x / N; }
};

#ifdef IE_RESAMPLERS_SSE2
// The box sums of the first `count` destination pixels of a 24-bit row, each source pixel read as four
// bytes (the caller keeps the boxes clear of the row's last pixel); the sums are the portable ones,
// added in another order, and pass through the same divisors.
void BoxRowRgbSse2(const uint8_t* s, const LinearAxis& ax, const std::vector<ByteMeanDivisor>& boxes, int count,
                   uint8_t* o) {
  const __m128i zero = _mm_setzero_si128();
  for (int i = 0; i < count; ++i, o += 3) {
    __m128i sum = zero;
    const uint8_t* p = s + size_t(ax.Lo[i]) * 3;
    const int n = ax.Hi[i] - ax.Lo[i];
    if (n <= 257) {  // 16-bit lanes hold 257 x 255
      for (int x = 0; x < n; ++x, p += 3) sum = _mm_add_epi16(sum, _mm_unpacklo_epi8(Load32(p), zero));
      sum = _mm_unpacklo_epi16(sum, zero);
    } else {
      for (int x = 0; x < n; ++x, p += 3)
        sum = _mm_add_epi32(sum, _mm_unpacklo_epi16(_mm_unpacklo_epi8(Load32(p), zero), zero));
    }
    uint32_t v[4];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(v), sum);
    for (int c = 0; c < 3; ++c) o[c] = uint8_t(boxes[i](v[c]));
  }
}

// acc[x] += row[x] for x below n.
void AddRowSse2(const uint8_t* row, uint32_t* acc, size_t n) {
  const __m128i zero = _mm_setzero_si128();
  size_t x = 0;
  for (; x + 16 <= n; x += 16) {
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
    const __m128i lo = _mm_unpacklo_epi8(b, zero), hi = _mm_unpackhi_epi8(b, zero);
    __m128i* a = reinterpret_cast<__m128i*>(acc + x);
    _mm_storeu_si128(a, _mm_add_epi32(_mm_loadu_si128(a), _mm_unpacklo_epi16(lo, zero)));
    _mm_storeu_si128(a + 1, _mm_add_epi32(_mm_loadu_si128(a + 1), _mm_unpackhi_epi16(lo, zero)));
    _mm_storeu_si128(a + 2, _mm_add_epi32(_mm_loadu_si128(a + 2), _mm_unpacklo_epi16(hi, zero)));
    _mm_storeu_si128(a + 3, _mm_add_epi32(_mm_loadu_si128(a + 3), _mm_unpackhi_epi16(hi, zero)));
  }
  for (; x < n; ++x) acc[x] += row[x];
}
#endif

// Rows of `channels` bytes per pixel in, rows out; `readRow` gives source row r as bytes. The
// horizontal pass of each source row runs when the vertical pass first needs it and goes straight
// into the sums of a shrunk height or into a two-row cache of an enlarged one, so no intermediate of
// the whole height is made. Progress is reported in the order of the two whole passes: every source
// row, then every destination row (the rows finished before the last source row's report wait for it).
template <typename ReadRow, typename WriteRow>
void FastLinear(int sW, int sH, int dW, int dH, int channels, ReadRow readRow, WriteRow writeRow, ChangeReporter& rep) {
  LinearAxis ax(sW, dW), ay(sH, dH);
  const size_t stride = size_t(dW) * channels;
  std::vector<ByteMeanDivisor> boxes;
  if (!ax.Enlarge)
    for (int i = 0; i < dW; ++i) boxes.emplace_back(uint32_t(ax.Hi[i] - ax.Lo[i]));
  const double factor = 100.0 / (sH + dH + 0.5);
  int reported = 0, written = 0, waiting = 0;  // source rows reported; destination rows written, not reported
  auto reportSources = [&](int upTo) {
    for (; reported < upTo; ++reported) rep.Always(int(factor * reported));
    if (reported < sH) return;
    for (; waiting > 0; --waiting) rep.Always(int(factor * (sH + written - waiting)));
  };
  // the leading destination pixels the SSE2 box sums take: their boxes end before the last source pixel
  int vectorBoxes = 0;
#ifdef IE_RESAMPLERS_SSE2
  if (IEResamplersUseSimd && channels == 3 && !ax.Enlarge)
    while (vectorBoxes < dW && ax.Hi[vectorBoxes] < sW) ++vectorBoxes;
#endif
  auto horizontal = [&](int r, uint8_t* o) {
    const uint8_t* s = readRow(r);
#ifdef IE_RESAMPLERS_SSE2
    if (vectorBoxes) BoxRowRgbSse2(s, ax, boxes, vectorBoxes, o);
#endif
    for (int i = vectorBoxes; i < dW; ++i)
      for (int c = 0; c < channels; ++c) {
        if (ax.Enlarge) {
          o[i * channels + c] = uint8_t(Lerp(s[ax.Lo[i] * channels + c], s[ax.Hi[i] * channels + c], ax.Frac[i]));
        } else {
          uint32_t sum = 0;
          for (int x = ax.Lo[i]; x < ax.Hi[i]; ++x) sum += s[x * channels + c];
          o[i * channels + c] = uint8_t(boxes[i](sum));
        }
      }
    reportSources(r + 1);
  };
  auto finished = [&] {
    ++written;
    if (reported < sH)
      ++waiting;
    else
      rep.Always(int(factor * (sH + written - 1)));
  };
  std::vector<uint8_t> out(stride), work(stride);
  if (ay.Enlarge) {
    // work rows cached[0] and cached[1] hold the horizontal pass of source rows at[0] and at[1]
    std::vector<uint8_t> cached[2] = {std::vector<uint8_t>(stride), std::vector<uint8_t>(stride)};
    int at[2] = {-1, -1};
    auto workRow = [&](int r) -> const uint8_t* {
      for (int k = 0; k < 2; ++k)
        if (at[k] == r) return cached[k].data();
      const int k = at[0] < at[1] ? 0 : 1;  // rows rise: the lower one is not needed again
      horizontal(r, cached[k].data());
      at[k] = r;
      return cached[k].data();
    };
    for (int j = 0; j < dH; ++j) {
      const uint8_t* a = workRow(ay.Lo[j]);
      const uint8_t* b = workRow(ay.Hi[j]);
      for (size_t x = 0; x < stride; ++x) out[x] = uint8_t(Lerp(a[x], b[x], ay.Frac[j]));
      writeRow(j, out.data());
      finished();
    }
  } else {
    std::vector<uint32_t> acc(stride);
    for (int j = 0; j < dH; ++j) {
      std::fill(acc.begin(), acc.end(), 0);
      for (int y = ay.Lo[j]; y < ay.Hi[j]; ++y) {
        horizontal(y, work.data());
#ifdef IE_RESAMPLERS_SSE2
        if (IEResamplersUseSimd) {
          AddRowSse2(work.data(), acc.data(), stride);
          continue;
        }
#endif
        for (size_t x = 0; x < stride; ++x) acc[x] += work[x];
      }
      const ByteMeanDivisor n(uint32_t(ay.Hi[j] - ay.Lo[j]));
      for (size_t x = 0; x < stride; ++x) out[x] = uint8_t(n(acc[x]));
      writeRow(j, out.data());
      finished();
    }
  }
  reportSources(sH);
}

void FastLinearAny(TIEBitmap* source, TIEBitmap* dest, int channels, void* Sender, const TIEProgressEvent& progress) {
  const int sW = source->GetImageWidth(), sH = source->GetImageHeight();
  const int dW = dest->GetImageWidth(), dH = dest->GetImageHeight();
  if (sW < 1 || sH < 1 || dW < 1 || dH < 1) return;
  if (sW == dW && sH == dH) {
    dest->Assign(source);
    return;
  }
  TIEScopedRowAccess ra(source, iraRead), wa(dest, iraWrite);
  ChangeReporter rep{Sender, progress};
  const size_t rowBytes = size_t(dW) * channels;
  FastLinear(
      sW, sH, dW, dH, channels, [&](int r) { return const_cast<const uint8_t*>(source->GetRowAddress(r)); },
      [&](int j, const uint8_t* row) { std::memcpy(dest->GetRowAddress(j), row, rowBytes); }, rep);
}

// Projection of any source given as a per-pixel test: hit[x] of a source row tells whether the pixel
// turns the destination pixel over (white for white on black, black otherwise). Destination pixel k
// covers the source pixels from m(k) up to m(k + 1) (exclusive, at least one), so that every source
// pixel of a shrink reaches the result: a thin line at the right or bottom edge is not lost.
template <typename LoadRow>
void Project(int sW, int sH, TIEBitmap* dest, bool whiteOnBlack, LoadRow loadRow, ChangeReporter* rep) {
  const int dW = dest->GetImageWidth(), dH = dest->GetImageHeight();
  std::vector<int> m(size_t(dW) + 1);
  for (int i = 0; i <= dW; ++i) m[i] = MapIndex(i, sW, dW);
  std::vector<uint8_t> hit(sW), any(dW);
  const double factor = 100.0 / (dH + 0.5);
  for (int j = 0; j < dH; ++j) {
    const int y0 = MapIndex(j, sH, dH), y1 = IEMax(MapIndex(j + 1, sH, dH), y0 + 1);
    std::fill(any.begin(), any.end(), 0);
    for (int y = y0; y < y1 && y < sH; ++y) {
      loadRow(y, hit.data());
      for (int k = 0; k < dW; ++k) {
        const int x1 = IEMax(m[k + 1], m[k] + 1);
        for (int x = m[k]; x < x1 && x < sW && !any[k]; ++x) any[k] = hit[x];
      }
    }
    uint8_t* row = dest->GetRowAddress(j);
    std::memset(row, 0, size_t(dest->GetRowLength()));
    for (int k = 0; k < dW; ++k) IESetRowBit(row, k, any[k] ? whiteOnBlack : !whiteOnBlack);
    if (rep) rep->Always(int(factor * j));
  }
}

}  // namespace

void IEStretchNearest(TIEBitmap* source, TIEBitmap* dest, void* Sender, const TIEProgressEvent& progress) {
  const int sW = source->GetImageWidth(), sH = source->GetImageHeight();
  int dW = dest->GetImageWidth(), dH = dest->GetImageHeight();
  const TIEPixelFormat f = source->GetPixelFormat();
  if (sW < 1 || sH < 1 || dW < 1 || dH < 1 || f == ieNoFormat) return;
  if (dest->GetPixelFormat() != f && !dest->Allocate(dW, dH, f)) return;
  if (f == ie8p) source->CopyPaletteTo(dest);
  TIEScopedRowAccess ra(source, iraRead), wa(dest, iraWrite);
  ChangeReporter rep{Sender, progress};
  std::vector<int> m(dW);
  for (int i = 0; i < dW; ++i) m[i] = MapIndex(i, sW, dW);
  const int bytes = source->GetBitCount() / 8;
  std::vector<uint8_t> srow(static_cast<size_t>(source->GetRowLength()));
  for (int j = 0; j < dH; ++j) {
    // a copy of the source row: at a temporary file the destination's view may replace it
    std::memcpy(srow.data(), source->GetRowAddress(MapIndex(j, sH, dH)), srow.size());
    uint8_t* d = dest->GetRowAddress(j);
    if (f == ie1g) {
      for (int i = 0; i < dW; ++i) IESetRowBit(d, i, IEGetRowBit(srow.data(), m[i]));
    } else {
      for (int i = 0; i < dW; ++i) std::memcpy(d + size_t(i) * bytes, srow.data() + size_t(m[i]) * bytes, size_t(bytes));
    }
    rep.Report(int(j * 100 / (dH + 0.5)));
  }
}

void IEResampleGray8(TIEBitmap* source, TIEBitmap* dest, TResampleFilter filter) {
  switch (filter) {
    case rfNone:
      IEStretchNearest(source, dest, nullptr, TIEProgressEvent());
      break;
    case rfFastLinear:
    case rfBilinear:
    case rfBicubic:
    case rfProjectBW:
    case rfProjectWB:
      IEResampleFastLinear8(source, dest, nullptr, TIEProgressEvent());
      break;
    default:
      IEKernelResample8(source, dest, filter);
      break;
  }
}

void IEResampleBW(TIEBitmap* source, TIEBitmap* dest, TResampleFilter filter) {
  switch (filter) {
    case rfFastLinear:
    case rfBilinear:
    case rfBicubic:
      IEResampleBWLinear(source, dest, nullptr, TIEProgressEvent());
      break;
    case rfProjectBW:
    case rfProjectWB:
      IEResampleProjectBW(source, dest, filter == rfProjectWB, nullptr, TIEProgressEvent());
      break;
    default:
      IEKernelResample8(source, dest, filter);
      break;
  }
}

void IEResampleFastLinear(TIEBitmap* source, TIEBitmap* dest, void* Sender, const TIEProgressEvent& progress) {
  if (source->GetPixelFormat() != ie24RGB || dest->GetPixelFormat() != ie24RGB) return;
  FastLinearAny(source, dest, 3, Sender, progress);
}

void IEResampleFastLinear8(TIEBitmap* source, TIEBitmap* dest, void* Sender, const TIEProgressEvent& progress) {
  if (source->GetBitCount() != 8 || dest->GetBitCount() != 8) return;
  FastLinearAny(source, dest, 1, Sender, progress);
}

void IEResampleProject24(TIEBitmap* source, TIEBitmap* dest, bool whiteOnBlack, void* Sender, const TIEProgressEvent& progress) {
  const int sW = source->GetImageWidth(), sH = source->GetImageHeight();
  const int dW = dest->GetImageWidth(), dH = dest->GetImageHeight();
  if (source->GetPixelFormat() != ie24RGB || sW < 1 || sH < 1 || dW < 1 || dH < 1) return;
  if (dest->GetPixelFormat() != ie1g && !dest->Allocate(dW, dH, ie1g)) return;
  TIEScopedRowAccess ra(source, iraRead), wa(dest, iraWrite);
  ChangeReporter rep{Sender, progress};
  std::vector<uint8_t> copy(size_t(sW) * 3);
  Project(sW, sH, dest, whiteOnBlack,
          [&](int y, uint8_t* hit) {
            std::memcpy(copy.data(), source->GetRowAddress(y), copy.size());
            for (int x = 0; x < sW; ++x) {
              const uint8_t* p = copy.data() + x * 3;
              hit[x] = whiteOnBlack ? (p[0] > 128 && p[1] > 128 && p[2] > 128) : (p[0] < 128 && p[1] < 128 && p[2] < 128);
            }
          },
          &rep);
}

void IEResampleProjectBW(TIEBitmap* source, TIEBitmap* dest, bool whiteOnBlack, void* Sender, const TIEProgressEvent& progress) {
  const int sW = source->GetImageWidth(), sH = source->GetImageHeight();
  const int dW = dest->GetImageWidth(), dH = dest->GetImageHeight();
  if (source->GetPixelFormat() != ie1g || sW < 1 || sH < 1 || dW < 1 || dH < 1) return;
  if (dest->GetPixelFormat() != ie1g && !dest->Allocate(dW, dH, ie1g)) return;
  TIEScopedRowAccess ra(source, iraRead), wa(dest, iraWrite);
  ChangeReporter rep{Sender, progress};
  std::vector<uint8_t> copy(static_cast<size_t>(source->GetRowLength()));
  Project(sW, sH, dest, whiteOnBlack,
          [&](int y, uint8_t* hit) {
            std::memcpy(copy.data(), source->GetRowAddress(y), copy.size());
            for (int x = 0; x < sW; ++x) hit[x] = IEGetRowBit(copy.data(), x) == whiteOnBlack;
          },
          &rep);
}

void IEResampleBWLinear(TIEBitmap* source, TIEBitmap* dest, void* Sender, const TIEProgressEvent& progress) {
  const int sW = source->GetImageWidth(), sH = source->GetImageHeight();
  const int dW = dest->GetImageWidth(), dH = dest->GetImageHeight();
  if (source->GetPixelFormat() != ie1g || sW < 1 || sH < 1 || dW < 1 || dH < 1) return;
  if (dest->GetPixelFormat() != ie24RGB && !dest->Allocate(dW, dH, ie24RGB)) return;
  if (sW == dW && sH == dH) {
    dest->ConvertFrom(source);
    return;
  }
  if (dW < sW && dH < sH) {
    IEShrinkBWToGray(source, 0, 0, sW - 1, sH - 1, dest);
    return;
  }
  // interpolation along both axes (also along a shrunk one), the bits read as 0 and 255
  TIEScopedRowAccess ra(source, iraRead), wa(dest, iraWrite);
  ChangeReporter rep{Sender, progress};
  const double sx = double(dW) / sW, sy = double(dH) / sH;
  std::vector<int> q(dW), fq(dW);
  for (int i = 0; i < dW; ++i) {
    const double g = i / sx;
    q[i] = int(g);
    fq[i] = int((g - q[i]) * kFracOne);
  }
  std::vector<uint8_t> work;
  if (!IEAllocWorkBuffer(work, uint64_t(dW) * uint64_t(sH))) return;
  const double factor = 100.0 / (sH + dH + 0.5);
  for (int r = 0; r < sH; ++r) {
    const uint8_t* s = source->GetRowAddress(r);
    for (int i = 0; i < dW; ++i) {
      const int a = IEGetRowBit(s, q[i]) ? 255 : 0, b = IEGetRowBit(s, IEMin(q[i] + 1, sW - 1)) ? 255 : 0;
      work[size_t(dW) * r + i] = uint8_t(Lerp(a, b, fq[i]));
    }
    rep.Always(int(factor * r));
  }
  for (int j = 0; j < dH; ++j) {
    const double g = j / sy;
    const int l = int(g), l1 = IEMin(l + 1, sH - 1), f = int((g - l) * kFracOne);
    const uint8_t *a = work.data() + size_t(dW) * l, *b = work.data() + size_t(dW) * l1;
    uint8_t* d = dest->GetRowAddress(j);
    for (int i = 0; i < dW; ++i) d[i * 3] = d[i * 3 + 1] = d[i * 3 + 2] = uint8_t(Lerp(a[i], b[i], f));
    rep.Always(int(factor * (sH + j)));
  }
}

void IEShrinkBWToGray(TIEBitmap* source, int x1, int y1, int x2, int y2, TIEBitmap* dest) {
  const int sW = source->GetImageWidth(), sH = source->GetImageHeight();
  const int dW = dest->GetImageWidth(), dH = dest->GetImageHeight();
  if (source->GetPixelFormat() != ie1g || dest->GetPixelFormat() != ie24RGB) return;
  if (sW < 1 || sH < 1 || dW < 1 || dH < 1) return;
  IEOrderCorners(x1, y1, x2, y2);
  const double fx = double(x2 - x1 + 1) / dW, fy = double(y2 - y1 + 1) / dH;
  TIEScopedRowAccess wa(dest, iraWrite);
  std::vector<std::vector<uint8_t>> rows;  // the source rows of one destination row, copied
  for (int i = 0; i < dH; ++i) {
    const int a = IEClamp(y1 + int(fy * i - fy / 2), 0, sH - 1), b = IEClamp(y1 + int(int(fy) / 2 + fy * i), 0, sH - 1);
    rows.clear();
    for (int y = a; y <= b; ++y) {
      const uint8_t* s = source->GetRowAddress(y);
      rows.emplace_back(s, s + source->GetRowLength());
    }
    uint8_t* d = dest->GetRowAddress(i);
    for (int j = 0; j < dW; ++j) {
      const int c0 = IEClamp(x1 + int(fx * j - fx / 2), 0, sW - 1), c1 = IEClamp(x1 + int(fx / 2 + fx * j), 0, sW - 1);
      int set = 0, n = 0;
      for (const auto& row : rows)
        for (int x = c0; x <= c1; ++x, ++n) set += IEGetRowBit(row.data(), x);
      d[j * 3] = d[j * 3 + 1] = d[j * 3 + 2] = uint8_t(n ? 255 * set / n : 0);
    }
  }
}

namespace {

double CubicWeight(double t) {
  t = std::fabs(t);
  if (t < 1) return t * t * t - 2 * t * t + 1;
  if (t < 2) return -t * t * t + 5 * t * t - 8 * t + 4;
  return 0;
}

// One piece of an axis cut at every source and destination border.
struct AreaPiece {
  double Width;
  int Src;        // the source pixel the piece lies in
  double Frac;    // the piece's end inside that pixel (1 on a source border)
  bool EndsDst;   // the piece closes a destination pixel
  bool EndsSrc;   // the piece closes a source pixel
};

std::vector<AreaPiece> CutAxis(int src, int dst) {
  std::vector<AreaPiece> pieces;
  pieces.reserve(size_t(src) + size_t(dst));
  double pos = 0;
  int s = 0, d = 0;
  while (d < dst) {
    const double nextSrc = s + 1, nextDst = double(int64_t(d + 1) * src) / dst;
    AreaPiece p;
    p.Src = IEMin(s, src - 1);
    if (nextSrc > nextDst - kBorderTolerance) {
      const bool both = nextSrc < nextDst + kBorderTolerance;
      p.Width = nextDst - pos;
      p.Frac = both ? 1.0 : nextDst - s;
      p.EndsDst = true;
      p.EndsSrc = both;
      pos = nextDst;
      ++d;
      if (both) ++s;
    } else {
      p.Width = nextSrc - pos;
      p.Frac = 1.0;
      p.EndsDst = false;
      p.EndsSrc = true;
      pos = nextSrc;
      ++s;
    }
    pieces.push_back(p);
  }
  return pieces;
}

// A horizontal piece as the plain and bilinear rows use it: offsets of the piece's source pixel and
// of the one after it (the last pixel again at the right edge).
struct AreaColumn {
  double Width, Q, Q1;  // Q1 = 1 - Q
  int At, Next;
  bool EndsDst;
};

// One vertical piece of the plain area average: every horizontal piece adds its area x the current
// row's pixel to its destination pixel's sums. `first` .. `last` are the pieces of whole destination
// pixels, `acc` the first one's sums.
template <typename T, int C>
void AreaRowPlain(const AreaColumn* first, const AreaColumn* last, double height, const T* row, double* acc) {
  double s[C];
  for (int c = 0; c < C; ++c) s[c] = acc[c];
  for (const AreaColumn* h = first; h != last; ++h) {
    const double area = h->Width * height;
    const T* p = row + h->At;
    for (int c = 0; c < C; ++c) s[c] += area * double(p[c]);
    if (h->EndsDst) {
      for (int c = 0; c < C; ++c) acc[c] = s[c];
      acc += C;
      for (int c = 0; c < C; ++c) s[c] = h + 1 != last ? acc[c] : 0;
    }
  }
}

// The plain and bilinear rows of 24-bit images by SSE2, two destination pixels at once, one in each
// lane. Every pixel's pieces are padded to the longest pixel's count with pieces of width 0 (adding
// 0 x a value leaves a sum unchanged), so both lanes take the same steps; each lane does the same
// operations in the same order as AreaRowPlain and AreaRowLinear, which makes the sums the same to
// the last bit. The pairs cover the leading pixels whose samples can be read as four bytes without
// passing the row's end; the portable rows take the rest.
struct ColumnPairs {
  int Pairs = 0, Steps = 0;
  std::vector<int32_t> At, Next;  // per pair and step: the two pieces' byte offsets, and of the pixels after
  std::vector<double> W, Q, Q1;   // the pieces' widths and fractions
  size_t Rest = 0;                // index of the first piece the portable rows take
};

#ifdef IE_RESAMPLERS_SSE2
// `withNext`: the rows read the pixels after the pieces too.
ColumnPairs PairColumns(const std::vector<AreaColumn>& columns, int rowBytes, bool withNext) {
  ColumnPairs t;
  std::vector<size_t> first(1, 0);  // pieces of destination pixel i: first[i] .. first[i + 1] - 1
  for (size_t k = 0; k < columns.size(); ++k)
    if (columns[k].EndsDst) first.push_back(k + 1);
  auto inBounds = [&](const AreaColumn& h) { return (withNext ? IEMax(h.At, h.Next) : h.At) + 4 <= rowBytes; };
  int whole = 0;  // leading pixels whose last piece is read in bounds
  while (whole + 1 < int(first.size()) && inBounds(columns[first[whole + 1] - 1])) ++whole;
  t.Pairs = whole / 2;
  for (int i = 0; i < 2 * t.Pairs; ++i) t.Steps = IEMax(t.Steps, int(first[i + 1] - first[i]));
  const size_t n = size_t(t.Pairs) * t.Steps * 2, m = withNext ? n : 0;
  t.At.resize(n);
  t.W.resize(n);
  t.Next.resize(m);
  t.Q.resize(m);
  t.Q1.resize(m);
  for (int p = 0; p < t.Pairs; ++p)
    for (int lane = 0; lane < 2; ++lane) {
      const size_t b = first[2 * p + lane], count = first[2 * p + lane + 1] - b;
      for (int k = 0; k < t.Steps; ++k) {
        const size_t at = (size_t(p) * t.Steps + k) * 2 + lane;
        const AreaColumn& h = columns[b + (size_t(k) < count ? k : 0)];
        t.At[at] = h.At;
        t.W[at] = size_t(k) < count ? h.Width : 0.0;
        if (!withNext) continue;
        t.Next[at] = h.Next;
        t.Q[at] = h.Q;
        t.Q1[at] = h.Q1;
      }
    }
  t.Rest = first[2 * t.Pairs];
  return t;
}

// The samples of both lanes' pixels at row + a[0] and row + a[1] as doubles, one pixel per lane.
struct LanePixels {
  __m128d R, G, B;
};
inline LanePixels LoadLanes(const uint8_t* row, const int32_t* a) {
  const __m128i zero = _mm_setzero_si128();
  // R0 R1 G0 G1 B0 B1 as 16-bit values
  const __m128i px = _mm_unpacklo_epi8(_mm_unpacklo_epi8(Load32(row + a[0]), Load32(row + a[1])), zero);
  const __m128i rg = _mm_unpacklo_epi16(px, zero);
  return {_mm_cvtepi32_pd(rg), _mm_cvtepi32_pd(_mm_shuffle_epi32(rg, 0xEE)),
          _mm_cvtepi32_pd(_mm_unpackhi_epi16(px, zero))};
}

// `acc` holds per pair the sums R, G and B of both pixels, lane by lane.
void AreaRowPlainPairsSse2(const ColumnPairs& t, double height, const uint8_t* row, double* acc) {
  const __m128d h = _mm_set1_pd(height);
  const int32_t* at = t.At.data();
  const double* w = t.W.data();
  for (int p = 0; p < t.Pairs; ++p, acc += 6) {
    __m128d r = _mm_loadu_pd(acc), g = _mm_loadu_pd(acc + 2), b = _mm_loadu_pd(acc + 4);
    for (int k = 0; k < t.Steps; ++k, at += 2, w += 2) {
      const LanePixels px = LoadLanes(row, at);
      const __m128d area = _mm_mul_pd(_mm_loadu_pd(w), h);
      r = _mm_add_pd(r, _mm_mul_pd(area, px.R));
      g = _mm_add_pd(g, _mm_mul_pd(area, px.G));
      b = _mm_add_pd(b, _mm_mul_pd(area, px.B));
    }
    _mm_storeu_pd(acc, r);
    _mm_storeu_pd(acc + 2, g);
    _mm_storeu_pd(acc + 4, b);
  }
}

// The horizontal interpolation of one row at every step of the pairs (when the width is enlarged,
// else the plain samples), laid out as the sums are: per step R, G and B of both lanes. It depends on
// the row alone, so it is made once per source row rather than once per vertical piece.
void LinearLanesSse2(const ColumnPairs& t, const uint8_t* row, bool interpolate, double* out) {
  const size_t n = size_t(t.Pairs) * t.Steps * 2;
  for (size_t k = 0; k < n; k += 2, out += 6) {
    LanePixels a = LoadLanes(row, &t.At[k]);
    if (interpolate) {
      const LanePixels b = LoadLanes(row, &t.Next[k]);
      const __m128d q = _mm_loadu_pd(&t.Q[k]), q1 = _mm_loadu_pd(&t.Q1[k]);
      a.R = _mm_add_pd(_mm_mul_pd(q1, a.R), _mm_mul_pd(q, b.R));
      a.G = _mm_add_pd(_mm_mul_pd(q1, a.G), _mm_mul_pd(q, b.G));
      a.B = _mm_add_pd(_mm_mul_pd(q1, a.B), _mm_mul_pd(q, b.B));
    }
    _mm_storeu_pd(out, a.R);
    _mm_storeu_pd(out + 2, a.G);
    _mm_storeu_pd(out + 4, a.B);
  }
}

// AreaRowLinear<uint8_t, 3> on the pairs from the LinearLanesSse2 values of the current row (`upper`)
// and of the next (`lower`), which `Blend` (an enlarged height) mixes at P; the sums laid out as
// AreaRowPlainPairsSse2 keeps them.
template <bool Blend>
void AreaRowLinearPairsSse2(const ColumnPairs& t, double height, double P, const double* upper, const double* lower,
                            double* acc) {
  const __m128d h = _mm_set1_pd(height), p = _mm_set1_pd(P), p1 = _mm_set1_pd(1 - P);
  const double* w = t.W.data();
  for (int pair = 0; pair < t.Pairs; ++pair, acc += 6) {
    __m128d s[3] = {_mm_loadu_pd(acc), _mm_loadu_pd(acc + 2), _mm_loadu_pd(acc + 4)};
    for (int step = 0; step < t.Steps; ++step, w += 2, upper += 6, lower += 6) {
      const __m128d area = _mm_mul_pd(_mm_loadu_pd(w), h);
      for (int c = 0; c < 3; ++c) {
        __m128d value = _mm_loadu_pd(upper + 2 * c);
        if (Blend) value = _mm_add_pd(_mm_mul_pd(p1, value), _mm_mul_pd(p, _mm_loadu_pd(lower + 2 * c)));
        s[c] = _mm_add_pd(s[c], _mm_mul_pd(area, value));
      }
    }
    for (int c = 0; c < 3; ++c) _mm_storeu_pd(acc + 2 * c, s[c]);
  }
}

// The finished sums of the pairs into their pixels' bytes, as the portable rows round and limit them,
// and cleared. round(sum / norm) is taken from sum x (1 / norm): below kQuotientBound that product
// lies within 4e-10 of the quotient (three roundings of at most 2^-53 each), so wherever it is
// farther than kQuotientMargin from a half, the quotient rounds to the same integer; elsewhere the
// lane pair divides, as the portable rows do. Rounding is IERound's addition and subtraction of
// 1.5 x 2^52, lane by lane.
constexpr double kQuotientMargin = 1e-9, kQuotientBound = 1 << 20;
void FinishPairsSse2(const ColumnPairs& t, double norm, double* acc, uint8_t* out) {
  const __m128d n = _mm_set1_pd(norm), inv = _mm_set1_pd(1 / norm), magic = _mm_set1_pd(6755399441055744.0);
  const __m128d zero = _mm_setzero_pd(), sign = _mm_set1_pd(-0.0);
  const __m128d nearHalf = _mm_set1_pd(0.5 - kQuotientMargin), bound = _mm_set1_pd(kQuotientBound);
  for (int p = 0; p < t.Pairs; ++p, acc += 6, out += 6)
    for (int c = 0; c < 3; ++c) {
      const __m128d x = _mm_loadu_pd(acc + 2 * c), q = _mm_mul_pd(x, inv);
      __m128d r = _mm_sub_pd(_mm_add_pd(q, magic), magic);
      const __m128d off = _mm_andnot_pd(sign, _mm_sub_pd(q, r));
      if (_mm_movemask_pd(_mm_or_pd(_mm_cmpnlt_pd(off, nearHalf), _mm_cmpnlt_pd(q, bound))))
        r = _mm_sub_pd(_mm_add_pd(_mm_div_pd(x, n), magic), magic);
      const __m128i v = _mm_cvttpd_epi32(r);
      out[c] = uint8_t(IEClamp(_mm_cvtsi128_si32(v), 0, 255));
      out[3 + c] = uint8_t(IEClamp(_mm_cvtsi128_si32(_mm_srli_si128(v, 4)), 0, 255));
      _mm_storeu_pd(acc + 2 * c, zero);
    }
}
#endif

// One vertical piece of bilinear area sampling, interpolating in the directions asked.
template <typename T, int C>
void AreaRowLinear(const AreaColumn* first, const AreaColumn* last, double height, double P, bool ix, bool iy,
                   const T* row, const T* below, double* acc) {
  const double P1 = 1 - P;
  double s[C];
  for (int c = 0; c < C; ++c) s[c] = acc[c];
  for (const AreaColumn* it = first; it != last; ++it) {
    const AreaColumn& h = *it;
    const double area = h.Width * height;
    for (int c = 0; c < C; ++c) {
      const double A = row[h.At + c], B = row[h.Next + c], Cv = below[h.At + c], D = below[h.Next + c];
      double val;
      if (ix && iy)
        val = P1 * (h.Q1 * A + h.Q * B) + P * (h.Q1 * Cv + h.Q * D);
      else if (ix)
        val = h.Q1 * A + h.Q * B;
      else
        val = P1 * A + P * Cv;
      s[c] += area * val;
    }
    if (h.EndsDst) {
      for (int c = 0; c < C; ++c) acc[c] = s[c];
      acc += C;
      for (int c = 0; c < C; ++c) s[c] = it + 1 != last ? acc[c] : 0;
    }
  }
}

template <typename T, int C>
void AreaResample(TIEBitmap* source, TIEBitmap* dest, int mode, double maximum, void* Sender, const TIEProgressEvent& progress) {
  const int sW = source->GetImageWidth(), sH = source->GetImageHeight();
  const int dW = dest->GetImageWidth(), dH = dest->GetImageHeight();
  if (sW < 1 || sH < 1 || dW < 1 || dH < 1) return;
  const double gx = double(sW) / dW, gy = double(sH) / dH;
  const bool ix = gx < 1, iy = gy < 1;
  const std::vector<AreaPiece> hp = CutAxis(sW, dW), vp = CutAxis(sH, dH);
  TIEScopedRowAccess ra(source, iraRead), wa(dest, iraWrite);
  ChangeReporter rep{Sender, progress};

  const bool plain = !ix && !iy, linear = !plain && mode == 0;
  // rows[0..3]: previous, current, next and the one after, clamped at the top and bottom; the plain
  // average reads only the current row, straight from a source in memory
  const bool direct = plain && source->GetLocation() == ieMemory;
  std::vector<std::vector<T>> rows(direct ? 0 : 4, std::vector<T>(size_t(sW) * C));
  auto load = [&](std::vector<T>& buf, int y) {
    std::memcpy(buf.data(), source->GetRowAddress(IEClamp(y, 0, sH - 1)), buf.size() * sizeof(T));
  };
  int cur = 0;
  if (!plain)
    for (int k = 0; k < 4; ++k) load(rows[k], cur - 1 + k);
  else if (!direct)
    load(rows[1], cur);
  auto current = [&] { return direct ? reinterpret_cast<const T*>(source->GetRowAddress(cur)) : rows[1].data(); };
  auto at = [&](int r, int x, int c) { return double(rows[r][size_t(IEClamp(x, 0, sW - 1)) * C + c]); };
  // The plain average and the bilinear modes take the pieces' constants from a table made once and
  // keep the open destination pixel's sums in registers, with the same operations in the same
  // order as below, so the sums are the same to the last bit.
  std::vector<AreaColumn> columns;
  if (plain || linear) {
    columns.reserve(hp.size());
    for (const AreaPiece& h : hp)
      columns.push_back({h.Width, h.Frac, 1 - h.Frac, h.Src * C, IEMin(h.Src + 1, sW - 1) * C, h.EndsDst});
  }
  ColumnPairs pairs;
#ifdef IE_RESAMPLERS_SSE2
  if (std::is_same<T, uint8_t>::value && C == 3 && (plain || linear) && IEResamplersUseSimd)
    pairs = PairColumns(columns, sW * C, linear);
#endif
  std::vector<double> pairAcc(size_t(pairs.Pairs) * 6, 0.0);
#ifdef IE_RESAMPLERS_SSE2
  // the LinearLanesSse2 values of rows[1] and (with an enlarged height) rows[2]
  std::vector<double> lanes[2];
  auto makeLanes = [&](int k) {
    if constexpr (std::is_same<T, uint8_t>::value && C == 3) {
      lanes[k].resize(size_t(pairs.Pairs) * pairs.Steps * 6);
      LinearLanesSse2(pairs, rows[size_t(k) + 1].data(), ix, lanes[k].data());
    }
  };
  if (linear && pairs.Pairs) {
    makeLanes(0);
    if (iy) makeLanes(1);
  }
#endif
  // The cubic weights depend only on a piece's fraction: computed once per piece, not per pixel.
  struct CubicWeights {
    double W[4];
  };
  auto weightsAt = [](double x) {
    return CubicWeights{{CubicWeight(x + 1), CubicWeight(x), CubicWeight(x - 1), CubicWeight(x - 2)}};
  };
  auto limited = [maximum](double v) { return v > maximum ? maximum : v < 0 ? 0.0 : v; };
  std::vector<CubicWeights> hw(mode != 0 ? hp.size() : 0);
  for (size_t k = 0; k < hw.size(); ++k) hw[k] = weightsAt(hp[k].Frac);
  auto cubicRow = [&](int r, int x, int c, const CubicWeights& w) {
    return limited(at(r, x - 1, c) * w.W[0] + at(r, x, c) * w.W[1] + at(r, x + 1, c) * w.W[2] + at(r, x + 2, c) * w.W[3]);
  };

  // The horizontal cubic of a loaded row at each horizontal piece changes only when the rows move:
  // computed once per row and piece (rounded when the vertical cubic takes it up), not per pixel.
  const bool cubicH = mode != 0 && ix;
  std::vector<std::vector<double>> hc(cubicH ? 4 : 0);
  auto horiz = [&](int r) {
    std::vector<double>& o = hc[size_t(r)];
    o.resize(hp.size() * C);
    for (size_t hk = 0; hk < hp.size(); ++hk)
      for (int c = 0; c < C; ++c) {
        const double v = cubicRow(r, hp[hk].Src, c, hw[hk]);
        o[hk * C + c] = iy ? double(IERound(v)) : v;
      }
  };
  for (int r = 0; r < int(hc.size()); ++r) horiz(r);

  std::vector<double> acc(size_t(dW) * C, 0.0);
  std::vector<T> out(size_t(dW) * C);
  int row = 0;
  for (const AreaPiece& v : vp) {
    const double P = v.Frac;
    const CubicWeights vw = weightsAt(P);
    int dx = 0;
    if (plain) {
      const T* r = current();
#ifdef IE_RESAMPLERS_SSE2
      if constexpr (std::is_same<T, uint8_t>::value && C == 3) AreaRowPlainPairsSse2(pairs, v.Width, r, pairAcc.data());
#endif
      AreaRowPlain<T, C>(columns.data() + pairs.Rest, columns.data() + columns.size(), v.Width, r,
                         acc.data() + size_t(pairs.Pairs) * 2 * C);
    } else if (linear) {
      const T *r = rows[1].data(), *below = rows[2].data();
#ifdef IE_RESAMPLERS_SSE2
      if (iy)
        AreaRowLinearPairsSse2<true>(pairs, v.Width, P, lanes[0].data(), lanes[1].data(), pairAcc.data());
      else
        AreaRowLinearPairsSse2<false>(pairs, v.Width, P, lanes[0].data(), lanes[1].data(), pairAcc.data());
#endif
      AreaRowLinear<T, C>(columns.data() + pairs.Rest, columns.data() + columns.size(), v.Width, P, ix, iy, r, below,
                          acc.data() + size_t(pairs.Pairs) * 2 * C);
    }
    for (size_t hk = 0; hk < hp.size() && !plain && !linear; ++hk) {
      const AreaPiece& h = hp[hk];
      const double area = h.Width * v.Width, Q = h.Frac;
      const int x = h.Src;
      for (int c = 0; c < C; ++c) {
        double val;
        if (!ix && !iy) {
          val = at(1, x, c);
        } else if (mode == 0) {
          const double A = at(1, x, c), B = at(1, x + 1, c), Cv = at(2, x, c), D = at(2, x + 1, c);
          if (ix && iy)
            val = (1 - P) * ((1 - Q) * A + Q * B) + P * ((1 - Q) * Cv + Q * D);
          else if (ix)
            val = (1 - Q) * A + Q * B;
          else
            val = (1 - P) * A + P * Cv;
        } else if (ix && iy) {
          const size_t k = hk * C + size_t(c);
          val = limited(hc[0][k] * vw.W[0] + hc[1][k] * vw.W[1] + hc[2][k] * vw.W[2] + hc[3][k] * vw.W[3]);
        } else if (ix) {
          val = hc[1][hk * C + size_t(c)];
        } else {
          val = limited(at(0, x, c) * vw.W[0] + at(1, x, c) * vw.W[1] + at(2, x, c) * vw.W[2] + at(3, x, c) * vw.W[3]);
        }
        acc[size_t(dx) * C + c] += area * val;
      }
      if (h.EndsDst) ++dx;
    }
    if (v.EndsDst) {
      const double norm = gx * gy;
#ifdef IE_RESAMPLERS_SSE2
      if constexpr (std::is_same<T, uint8_t>::value && C == 3) FinishPairsSse2(pairs, norm, pairAcc.data(), out.data());
#endif
      for (size_t k = size_t(pairs.Pairs) * 2 * C; k < acc.size(); ++k) {
        out[k] = T(IEClamp(IERound(acc[k] / norm), 0, int(maximum)));
        acc[k] = 0;
      }
      std::memcpy(dest->GetRowAddress(row), out.data(), out.size() * sizeof(T));
      ++row;
      rep.Report(int(double(row) / dH * 100));
    }
    if (v.EndsSrc && cur + 1 < sH && plain) {
      ++cur;
      if (!direct) load(rows[1], cur);
    } else if (v.EndsSrc && cur + 1 < sH) {
      ++cur;
      std::rotate(rows.begin(), rows.begin() + 1, rows.end());
      load(rows[3], cur + 2);
#ifdef IE_RESAMPLERS_SSE2
      if (linear && pairs.Pairs) {
        if (iy) {
          std::swap(lanes[0], lanes[1]);  // the rows moved up by one
          makeLanes(1);
        } else {
          makeLanes(0);
        }
      }
#endif
      if (cubicH) {
        std::rotate(hc.begin(), hc.begin() + 1, hc.end());
        horiz(3);
      }
    }
  }
}

}  // namespace

double IECubicInterpolate(double pm1, double p0, double p1, double p2, double maximum, double minimum, double x) {
  double v = pm1 * CubicWeight(x + 1) + p0 * CubicWeight(x) + p1 * CubicWeight(x - 1) + p2 * CubicWeight(x - 2);
  if (v > maximum) v = maximum;
  if (v < minimum) v = minimum;
  return v;
}

void IEResampleBilinearBicubic8(TIEBitmap* source, TIEBitmap* dest, int mode, void* Sender, const TIEProgressEvent& progress) {
  const TIEPixelFormat f = source->GetPixelFormat();
  if (dest->GetPixelFormat() != f) return;
  if (f == ie8g)
    AreaResample<uint8_t, 1>(source, dest, mode, 255, Sender, progress);
  else if (f == ie24RGB)
    AreaResample<uint8_t, 3>(source, dest, mode, 255, Sender, progress);
}

void IEResampleBilinearBicubic16(TIEBitmap* source, TIEBitmap* dest, int mode, void* Sender, const TIEProgressEvent& progress) {
  const TIEPixelFormat f = source->GetPixelFormat();
  if (dest->GetPixelFormat() != f) return;
  if (f == ie16g)
    AreaResample<uint16_t, 1>(source, dest, mode, 65535, Sender, progress);
  else if (f == ieRGB48)
    AreaResample<uint16_t, 3>(source, dest, mode, 65535, Sender, progress);
}
