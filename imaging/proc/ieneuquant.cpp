#include "ieneuquant.h"

#include <cmath>

#include "iebitmap.h"
#include "ieutils.h"

namespace {

// Fixed-point scales of the learning: channels in 1/16, frequency and bias in 1/65536.
constexpr int kNetBiasShift = 4;
constexpr int kIntBias = 1 << 16;
constexpr int kBetaShift = 10;
constexpr int kBeta = kIntBias >> kBetaShift;           // 64
constexpr int kBetaGamma = kIntBias << (10 - kBetaShift);  // 65536
constexpr int kInitAlpha = 1 << 10;
constexpr int kRadiusBiasShift = 6;
constexpr int kRadiusDecrease = 30;
constexpr int kAlphaRadBias = 1 << 18;
// Strides through the picture: primes, so that a stride not dividing the sample length still walks
// every pixel before coming back to the first one.
constexpr int kPrimes[4] = {499, 491, 487, 503};

void NeuQuantInit(TIENeuQuantNet& n, int64_t pixels, int colorCount, int quality) {
  n.NetSize = colorCount;
  n.SamplingFactor = NeuQuantSampleFactor(quality, pixels);
  n.AlphaDecrement = 30 + (n.SamplingFactor - 1) / 3;
  n.InitialRadius = colorCount / 8;
  n.Network.resize(size_t(colorCount));
  n.Bias.assign(size_t(colorCount), 0);
  n.Frequency.assign(size_t(colorCount), kIntBias / colorCount);
  n.RadiusPower.assign(size_t(n.InitialRadius) + 1, 0);
  for (int i = 0; i < colorCount; ++i) {
    int v = int(int64_t(i) * (256 << kNetBiasShift) / colorCount);
    n.Network[size_t(i)] = {v, v, v, 0};
  }
}

void ComputeRadiusPowers(TIENeuQuantNet& n, int alpha, int rad) {
  for (int k = 0; k < rad; ++k)
    n.RadiusPower[size_t(k)] = alpha * (((rad * rad - k * k) * 256) / (rad * rad));
}

int NeuQuantContest(TIENeuQuantNet& n, int b, int g, int r) {
  int bestd = INT32_MAX, bestbiasd = INT32_MAX, bestpos = 0, bestbiaspos = 0;
  for (int j = 0; j < n.NetSize; ++j) {
    const TIENeuQuantNet::Neuron& p = n.Network[size_t(j)];
    int dist = std::abs(p.b - b) + std::abs(p.g - g) + std::abs(p.r - r);
    if (dist < bestd) {
      bestd = dist;
      bestpos = j;
    }
    // arithmetic shift: the bias is divided rounding toward minus infinity
    int biasdist = dist - (n.Bias[size_t(j)] >> (16 - kNetBiasShift));
    if (biasdist < bestbiasd) {
      bestbiasd = biasdist;
      bestbiaspos = j;
    }
    int betafreq = n.Frequency[size_t(j)] >> kBetaShift;
    n.Frequency[size_t(j)] -= betafreq;
    n.Bias[size_t(j)] += betafreq << 10;
  }
  n.Frequency[size_t(bestpos)] += kBeta;
  n.Bias[size_t(bestpos)] -= kBetaGamma;
  return bestbiaspos;
}

void NeuQuantMoveNeuron(TIENeuQuantNet::Neuron& p, int alpha, int b, int g, int r) {
  p.b -= (p.b - b) * alpha / kInitAlpha;
  p.g -= (p.g - g) * alpha / kInitAlpha;
  p.r -= (p.r - r) * alpha / kInitAlpha;
}

void NeuQuantMoveNeighbours(TIENeuQuantNet& n, int rad, int i, int b, int g, int r) {
  int lo = i - rad < -1 ? -1 : i - rad;
  int hi = i + rad > n.NetSize ? n.NetSize : i + rad;
  int j = i + 1, k = i - 1, m = 1;
  while (j < hi || k > lo) {
    // the products stay below 2^31: |channel difference| < 4096 and a power <= 1024 * 256
    int64_t a = n.RadiusPower[size_t(m++)];
    auto move = [&](TIENeuQuantNet::Neuron& p) {
      p.b -= int32_t(int64_t(p.b - b) * a / kAlphaRadBias);
      p.g -= int32_t(int64_t(p.g - g) * a / kAlphaRadBias);
      p.r -= int32_t(int64_t(p.r - r) * a / kAlphaRadBias);
    };
    if (j < hi) move(n.Network[size_t(j++)]);
    if (k > lo) move(n.Network[size_t(k--)]);
  }
}

void NeuQuantLearn(TIENeuQuantNet& n, TIEBitmap* bitmap) {
  const int w = bitmap->GetImageWidth(), h = bitmap->GetImageHeight();
  const int64_t pixels = int64_t(w) * h;
  const int64_t sampleLength = pixels * 3;
  const int64_t samples = sampleLength / (3 * int64_t(n.SamplingFactor));
  int64_t delta = samples / 100;
  if (delta < 1) delta = 1;
  int alpha = kInitAlpha;
  int radius = n.InitialRadius << kRadiusBiasShift;
  int rad = radius >= (1 << kRadiusBiasShift) * 2 ? radius >> kRadiusBiasShift : 0;
  ComputeRadiusPowers(n, alpha, rad);
  int64_t step = kPrimes[3];
  for (int k = 0; k < 3; ++k)
    if (sampleLength % kPrimes[k] != 0) {
      step = kPrimes[k];
      break;
    }
  // The stride is reduced modulo the pixel count: a picture smaller than the stride still visits
  // its pixels in turn rather than stepping outside the image.
  int64_t pos = 0;
  int cachedRow = -1;
  const uint8_t* row = nullptr;
  TIEScopedRowAccess saved(bitmap, iraRead);
  for (int64_t i = 0; i < samples;) {
    int y = int(pos / w), x = int(pos % w);
    if (y != cachedRow) {
      row = bitmap->GetRowAddress(y);
      cachedRow = y;
    }
    const uint8_t* px = row + 3 * x;
    int b = px[0] << kNetBiasShift, g = px[1] << kNetBiasShift, r = px[2] << kNetBiasShift;
    int j = NeuQuantContest(n, b, g, r);
    NeuQuantMoveNeuron(n.Network[size_t(j)], alpha, b, g, r);
    if (rad > 0) NeuQuantMoveNeighbours(n, rad, j, b, g, r);
    pos = (pos + step) % pixels;
    ++i;
    if (i % delta == 0) {
      alpha -= alpha / n.AlphaDecrement;
      radius -= radius / kRadiusDecrease;
      rad = radius >= (1 << kRadiusBiasShift) * 2 ? radius >> kRadiusBiasShift : 0;
      ComputeRadiusPowers(n, alpha, rad);
    }
  }
}

void NeuQuantUnbias(TIENeuQuantNet& n) {
  for (int j = 0; j < n.NetSize; ++j) {
    TIENeuQuantNet::Neuron& p = n.Network[size_t(j)];
    auto fix = [](int32_t c) { c = (c + 8) >> kNetBiasShift; return c > 255 ? 255 : (c < 0 ? 0 : c); };
    p.b = fix(p.b);
    p.g = fix(p.g);
    p.r = fix(p.r);
    p.index = j;
  }
}

// Neuron j's colour into palette[j], before the index sorts the neurons.
void NeuQuantWritePalette(const TIENeuQuantNet& n, TIERGB* palette) {
  for (int j = 0; j < n.NetSize; ++j) {
    const TIENeuQuantNet::Neuron& p = n.Network[size_t(j)];
    palette[j] = IEMakeRGB(uint8_t(p.r), uint8_t(p.g), uint8_t(p.b));
  }
}

void NeuQuantBuildIndex(TIENeuQuantNet& n) {
  int previous = 0, start = 0;
  const int last = n.NetSize - 1;
  for (int i = 0; i < n.NetSize; ++i) {
    int smallPos = i, smallVal = n.Network[size_t(i)].g;
    for (int j = i + 1; j < n.NetSize; ++j)
      if (n.Network[size_t(j)].g < smallVal) {
        smallPos = j;
        smallVal = n.Network[size_t(j)].g;
      }
    if (smallPos != i) std::swap(n.Network[size_t(i)], n.Network[size_t(smallPos)]);
    if (smallVal != previous) {
      n.GreenIndex[previous] = (start + i) >> 1;
      for (int j = previous + 1; j < smallVal; ++j) n.GreenIndex[j] = i;
      previous = smallVal;
      start = i;
    }
  }
  n.GreenIndex[previous] = (start + last) >> 1;
  for (int j = previous + 1; j < 256; ++j) n.GreenIndex[j] = last;
}

}  // namespace

int NeuQuantAutoSampleFactor(int64_t pixels) {
  if (pixels < 2000) return 1;
  int f = IERound(double(pixels - 2000) * 13.0 / 148000.0 + 2.0);
  return IEClamp(f, 1, 30);
}

int NeuQuantSampleFactor(int quality, int64_t pixels) {
  if (quality == -1) return NeuQuantAutoSampleFactor(pixels);
  quality = IEClamp(quality, 0, 100);
  return int((100 - quality) / 100.0 * 29) + 1;
}

std::unique_ptr<TIENeuQuantNet> IENeuQuantPalette(TIEBitmap* bitmap, TIERGB* palette, int colorCount, int quality) {
  if (!bitmap || !palette || colorCount < 1 || bitmap->GetPixelFormat() != ie24RGB || bitmap->IsEmpty()) return nullptr;
  auto n = std::make_unique<TIENeuQuantNet>();
  NeuQuantInit(*n, int64_t(bitmap->GetImageWidth()) * bitmap->GetImageHeight(), colorCount, quality);
  NeuQuantLearn(*n, bitmap);
  NeuQuantUnbias(*n);
  NeuQuantWritePalette(*n, palette);
  NeuQuantBuildIndex(*n);
  return n;
}

int NeuQuantIndexOf(const TIENeuQuantNet& n, uint32_t color) {
  return NeuQuantSearch(n, int(color & 255), int((color >> 8) & 255), int((color >> 16) & 255));
}

int NeuQuantSearch(const TIENeuQuantNet& n, int b, int g, int r) {
  int bestd = 1000, best = 0;  // 1000 exceeds any distance (3 x 255), so some neuron always wins
  int i = n.GreenIndex[g], j = i - 1;
  while (i < n.NetSize || j >= 0) {
    if (i < n.NetSize) {
      const TIENeuQuantNet::Neuron& p = n.Network[size_t(i)];
      int dist = p.g - g;
      if (dist >= bestd) {
        i = n.NetSize;
      } else {
        ++i;
        dist = std::abs(dist) + std::abs(p.b - b);
        if (dist < bestd) {
          dist += std::abs(p.r - r);
          if (dist < bestd) {
            bestd = dist;
            best = p.index;
          }
        }
      }
    }
    if (j >= 0) {
      const TIENeuQuantNet::Neuron& p = n.Network[size_t(j)];
      int dist = g - p.g;
      if (dist >= bestd) {
        j = -1;
      } else {
        --j;
        dist = std::abs(dist) + std::abs(p.b - b);
        if (dist < bestd) {
          dist += std::abs(p.r - r);
          if (dist < bestd) {
            bestd = dist;
            best = p.index;
          }
        }
      }
    }
  }
  return best;
}
