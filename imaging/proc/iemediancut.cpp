#include "iemediancut.h"

#include <cstring>

#include "iebitmap.h"
#include "ieutils.h"

namespace {

// An axis that cannot be split scores this; no real split reaches it.
constexpr double kNoSplit = 17523.6;

inline int Cell(int r5, int g5, int b5) { return (r5 << 10) | (g5 << 5) | b5; }

void ComputeStats(TIEMedianCutState::Box& box, uint64_t pixelCount) {
  box.Score = 0;
  if (box.Count == 0) return;
  for (int a = 0; a < 3; ++a) {
    double s1 = 0, s2 = 0;
    for (int j = box.Lower[a]; j < box.Upper[a]; ++j) {
      double c = box.Projection[a][j];
      s1 += j * c;
      s2 += double(j) * j * c;
    }
    double mean = s1 / box.Count;
    box.Mean[a] = mean;
    box.Score += s2 - mean * mean * box.Count;
  }
  box.Score /= double(pixelCount);
}

// Shrinks the bounds to the cells that hold pixels.
void ShrinkBounds(TIEMedianCutState::Box& box) {
  for (int a = 0; a < 3; ++a) {
    int lo = box.Lower[a], hi = box.Upper[a];
    while (lo < hi && box.Projection[a][lo] == 0) ++lo;
    while (hi > lo && box.Projection[a][hi - 1] == 0) --hi;
    box.Lower[a] = lo;
    box.Upper[a] = hi;
  }
}

// Splits `box` along `axis` into `lower` and `upper`; the sum of their scores, or kNoSplit.
double SplitAxis(const TIEMedianCutState& st, const TIEMedianCutState::Box& box, int axis,
                 TIEMedianCutState::Box& lower, TIEMedianCutState::Box& upper) {
  const int lo = box.Lower[axis], hi = box.Upper[axis];
  if (lo + 1 >= hi) return kNoSplit;
  const double m = box.Mean[axis];
  const double n = box.Count;
  const uint64_t* count = box.Projection[axis];
  int start = IERound((lo + m) * 0.5), end = IERound((hi + m) * 0.5);
  if (start < lo) start = lo;
  if (end > hi - 1) end = hi - 1;  // the projection has no cell at the upper bound
  uint64_t below = 0;
  for (int j = lo; j < start; ++j) below += count[j];
  double best = -1, partial = 0;
  int bestPos = start;
  uint64_t bestCount = box.Count;
  for (int e = start; e <= end; ++e) {
    below += count[e];
    if (below == box.Count) break;
    partial += count[e] * double(e) / n;
    double score = double(below) / double(box.Count - below) * (m - partial) * (m - partial);
    if (score > best) {
      best = score;
      bestPos = e;
      bestCount = below;
    }
  }
  if (bestCount == 0 || bestCount >= box.Count) return kNoSplit;
  lower = box;
  upper = box;
  lower.Count = bestCount;
  upper.Count = box.Count - bestCount;
  lower.Upper[axis] = bestPos + 1;
  upper.Lower[axis] = bestPos + 1;
  std::memset(lower.Projection, 0, sizeof lower.Projection);
  for (int r = lower.Lower[0]; r < lower.Upper[0]; ++r)
    for (int g = lower.Lower[1]; g < lower.Upper[1]; ++g)
      for (int b = lower.Lower[2]; b < lower.Upper[2]; ++b) {
        const uint64_t c = st.Histogram[size_t(Cell(r, g, b))];
        if (!c) continue;
        lower.Projection[0][r] += c;
        lower.Projection[1][g] += c;
        lower.Projection[2][b] += c;
        upper.Projection[0][r] -= c;
        upper.Projection[1][g] -= c;
        upper.Projection[2][b] -= c;
      }
  ShrinkBounds(lower);
  ShrinkBounds(upper);
  ComputeStats(lower, st.PixelCount);
  ComputeStats(upper, st.PixelCount);
  return lower.Score + upper.Score;
}

bool SplitBox(const TIEMedianCutState& st, const TIEMedianCutState::Box& box, TIEMedianCutState::Box& lower,
              TIEMedianCutState::Box& upper) {
  if (box.Score == 0 || box.Count == 0) return false;
  TIEMedianCutState::Box lo[3], up[3];
  double s[3];
  for (int a = 0; a < 3; ++a) s[a] = SplitAxis(st, box, a, lo[a], up[a]);
  int axis;
  if (s[0] < kNoSplit && s[0] <= s[1] && s[0] <= s[2]) axis = 0;
  else if (s[1] < kNoSplit && s[1] <= s[2]) axis = 1;
  else if (s[2] < kNoSplit) axis = 2;
  else return false;
  lower = lo[axis];
  upper = up[axis];
  return true;
}

}  // namespace

std::unique_ptr<TIEMedianCutState> IEMedianCutPalette(TIEBitmap* bitmap, TIERGB* palette, int colorCount) {
  if (!bitmap || !palette || colorCount < 1 || bitmap->GetPixelFormat() != ie24RGB || bitmap->IsEmpty()) return nullptr;
  auto st = std::make_unique<TIEMedianCutState>();
  const int w = bitmap->GetImageWidth(), h = bitmap->GetImageHeight();
  st->PixelCount = uint64_t(w) * uint64_t(h);
  st->MaxColors = colorCount < kIEMedianCutMaxBoxes ? colorCount : kIEMedianCutMaxBoxes;
  st->Histogram.assign(32768, 0);
  st->Sums.assign(32768 * 3, 0);
  st->InverseMap.assign(32768, 0);
  st->Boxes.resize(size_t(st->MaxColors));

  TIEMedianCutState::Box& box0 = st->Boxes[0];
  TIEScopedRowAccess saved(bitmap, iraRead);
  for (int y = 0; y < h; ++y) {
    const uint8_t* p = bitmap->GetRowAddress(y);
    for (int x = 0; x < w; ++x, p += 3) {
      int b5 = p[0] >> 3, g5 = p[1] >> 3, r5 = p[2] >> 3;
      size_t c = size_t(Cell(r5, g5, b5));
      ++st->Histogram[c];
      st->Sums[3 * c] += p[2];
      st->Sums[3 * c + 1] += p[1];
      st->Sums[3 * c + 2] += p[0];
      ++box0.Projection[0][r5];
      ++box0.Projection[1][g5];
      ++box0.Projection[2][b5];
    }
  }
  box0.Count = st->PixelCount;
  for (int a = 0; a < 3; ++a) {
    box0.Lower[a] = 0;
    box0.Upper[a] = 32;
  }
  ComputeStats(box0, st->PixelCount);

  int i = 1;
  while (i < st->MaxColors) {
    int pick = -1;
    double bestScore = 0;
    for (int b = 0; b < i; ++b)
      if (st->Boxes[size_t(b)].Score > bestScore) {
        bestScore = st->Boxes[size_t(b)].Score;
        pick = b;
      }
    if (pick < 0) break;
    TIEMedianCutState::Box lower, upper;
    if (SplitBox(*st, st->Boxes[size_t(pick)], lower, upper)) {
      st->Boxes[size_t(pick)] = lower;
      st->Boxes[size_t(i)] = upper;
      ++i;
    } else {
      st->Boxes[size_t(pick)].Score = 0;
    }
  }
  st->BoxCount = i;

  // Inverse map and the true mean colour of every box's pixels.
  std::vector<uint8_t> covered(32768, 0);
  std::vector<uint64_t> sum(size_t(i) * 4, 0);
  for (int b = 0; b < i; ++b) {
    const TIEMedianCutState::Box& bx = st->Boxes[size_t(b)];
    for (int r = bx.Lower[0]; r < bx.Upper[0]; ++r)
      for (int g = bx.Lower[1]; g < bx.Upper[1]; ++g)
        for (int bl = bx.Lower[2]; bl < bx.Upper[2]; ++bl) {
          size_t c = size_t(Cell(r, g, bl));
          st->InverseMap[c] = uint8_t(b);
          covered[c] = 1;
          sum[size_t(b) * 4] += st->Sums[3 * c];
          sum[size_t(b) * 4 + 1] += st->Sums[3 * c + 1];
          sum[size_t(b) * 4 + 2] += st->Sums[3 * c + 2];
          sum[size_t(b) * 4 + 3] += st->Histogram[c];
        }
  }
  for (int b = 0; b < i; ++b) {
    uint64_t n = sum[size_t(b) * 4 + 3];
    // every box holds pixels: a split never leaves a part empty
    auto mean = [&](int k) { return uint8_t((sum[size_t(b) * 4 + size_t(k)] + n / 2) / n); };
    palette[b] = IEMakeRGB(mean(0), mean(1), mean(2));
  }
  // Cells outside every box (colours the picture does not hold) take the entry nearest to the
  // cell's centre.
  for (int c = 0; c < 32768; ++c) {
    if (covered[size_t(c)]) continue;
    int r = ((c >> 10) << 3) + 4, g = (((c >> 5) & 31) << 3) + 4, bl = ((c & 31) << 3) + 4;
    int best = 0, bestD = INT32_MAX;
    for (int b = 0; b < i; ++b) {
      int dr = palette[b].r - r, dg = palette[b].g - g, db = palette[b].b - bl;
      int d = dr * dr + dg * dg + db * db;
      if (d < bestD) {
        bestD = d;
        best = b;
      }
    }
    st->InverseMap[size_t(c)] = uint8_t(best);
  }
  return st;
}

int IEMedianCutIndex(const TIEMedianCutState& st, uint32_t color) {
  int r5 = int((color >> 16) & 255) >> 3, g5 = int((color >> 8) & 255) >> 3, b5 = int(color & 255) >> 3;
  return st.InverseMap[size_t(Cell(r5, g5, b5))];
}
