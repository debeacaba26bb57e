// Layer blend operations, channel by channel in integer arithmetic unless stated.
#include "ieblend.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "iecolorconv.h"
#include "ieutils.h"
#include "vodevovur.h"

namespace {

int Channel(int D, int S, TIEBlendOperation op) {
  switch (op) {
    case ieboAdd: return std::min(D + S, 255);
    case ieboDifference: return std::abs(D - S);
    case ieboDivide: return D / std::max(S, 1);
    // rounded division by 255 rather than a shift by 8, so that white leaves the destination as it is
    case ieboMultiply: return (S * D + 127) / 255;
    case ieboOr: return D | S;
    case ieboAnd: return D & S;
    case ieboXor: return D ^ S;
    case ieboLighten: return std::max(D, S);
    case ieboDarken: return std::min(D, S);
    case ieboAverage: return (D + S) >> 1;
    case ieboScreen: return int(255 - (255 - D) * (255 - S) / 255.0);
    case ieboNegation: return 255 - std::abs(255 - S - D);
    // 2 S D / 255 rounded rather than S D div 128, so that white over white gives black (not 2)
    case ieboExclusion: return D + S - (2 * S * D + 127) / 255;
    case ieboOverlay: return D >= 128 ? 255 - (((255 - D) * (255 - S)) >> 7) : (S * D) >> 7;
    case ieboHardLight: return S >= 128 ? 255 - (((255 - D) * (255 - S)) >> 7) : (S * D) >> 7;
    case ieboSoftLight: {
      double s = S / 255.0, d = D / 255.0;
      double v = s >= 0.5 ? std::sqrt(d) * (2 * s - 1) + 2 * d * (1 - s) : d * d * (1 - 2 * s) + 2 * s * d;
      return int(v * 255);
    }
    case ieboSoftLight2: {
      int m = (S * D) >> 8;
      int c = 255 - (((255 - D) * (255 - S)) >> 8) - m;
      return m + ((D * c) >> 8);
    }
    case ieboColorDodge: return S == 255 ? 255 : std::min((D * 256) / (255 - S), 255);
    case ieboColorBurn: return S == 0 ? 0 : std::max(255 - ((255 - D) << 8) / S, 0);
    case ieboInverseDodge: return D == 255 ? 255 : std::min((S * 256) / (255 - D), 255);
    case ieboInverseBurn: return D == 0 ? 0 : std::max(255 - ((255 - S) << 8) / D, 0);
    case ieboSoftDodge:
      if (S + D < 256) return S == 255 ? 255 : std::min((D * 128) / (255 - S), 255);
      return std::max(255 - ((255 - S) << 7) / D, 0);
    case ieboSoftBurn:
      if (S + D < 256) return D == 255 ? 255 : std::min((S * 128) / (255 - D), 255);
      return std::max(255 - ((255 - D) << 7) / S, 0);
    case ieboReflect: return S == 255 ? 255 : std::min(D * D / (255 - S), 255);
    case ieboGlow: return D == 255 ? 255 : std::min(S * S / (255 - D), 255);
    case ieboFreeze: return S == 0 ? 0 : std::max(255 - (255 - D) * (255 - D) / S, 0);
    case ieboHeat: return D == 0 ? 0 : std::max(255 - (255 - S) * (255 - S) / D, 0);
    case ieboSubtract: return D + S - 256;
    case ieboCosine: return std::min(IECosineTable[S] + IECosineTable[D], 255);
    case ieboLinearLight: return D + 2 * S - 256;
    default: return D;
  }
}

uint32_t Packed(TIERGB c) { return (uint32_t(c.r) << 16) | (uint32_t(c.g) << 8) | c.b; }

}  // namespace

void IEBlendPixel(TIERGB layer, TIERGB& dest, TIEBlendOperation op, int destRow) {
  const TIERGB S = layer, D = dest;
  switch (op) {
    case ieboNormal: dest = S; return;
    case ieboRedOnly: dest.r = S.r; return;
    case ieboGreenOnly: dest.g = S.g; return;
    case ieboBlueOnly: dest.b = S.b; return;
    case ieboCyanFromLayer: dest.g = S.g; dest.b = S.b; return;
    case ieboEvenRows: if ((destRow & 1) == 0) dest = S; return;
    case ieboOddRows: if ((destRow & 1) != 0) dest = S; return;
    case ieboGrayMix: {
      uint8_t gd = uint8_t(IERGBToGray(D)), gs = uint8_t(IERGBToGray(S));
      dest.r = gd;
      dest.g = dest.b = gs;
      return;
    }
    case ieboAnaglyph: {
      double dr = D.r, dg = D.g, db = D.b, sr = S.r, sg = S.g, sb = S.b;
      dest.r = uint8_t(IEClampToByte(IERound(0.4561 * dr + 0.500484 * dg + 0.176381 * db - 0.0434706 * sr -
                                             0.0879388 * sg - 0.00155529 * sb)));
      dest.g = uint8_t(IEClampToByte(IERound(-0.0400822 * dr - 0.0378246 * dg - 0.0157589 * db + 0.378476 * sr +
                                             0.73364 * sg - 0.0184503 * sb)));
      dest.b = uint8_t(IEClampToByte(IERound(-0.0152161 * dr - 0.0205971 * dg - 0.00546856 * db -
                                             0.0721527 * sr - 0.112961 * sg + 1.2264 * sb)));
      return;
    }
    case ieboHue:
    case ieboSaturation:
    case ieboColor:
    case ieboHueLightness: {
      double hs, ss, ls, hd, sd, ld;
      IERGBToHSL(hs, ss, ls, Packed(S));
      IERGBToHSL(hd, sd, ld, Packed(D));
      if (op == ieboHue) IEHSLToRGB(dest, hs, sd, ld);
      else if (op == ieboSaturation) IEHSLToRGB(dest, hd, ss, ld);
      else if (op == ieboColor) IEHSLToRGB(dest, hs, ss, ld);
      else IEHSLToRGB(dest, hs, sd, ls);
      return;
    }
    default:
      if (op > ieboOddRows) return;
      dest.r = uint8_t(IEClampToByte(Channel(D.r, S.r, op)));
      dest.g = uint8_t(IEClampToByte(Channel(D.g, S.g, op)));
      dest.b = uint8_t(IEClampToByte(Channel(D.b, S.b, op)));
      return;
  }
}
