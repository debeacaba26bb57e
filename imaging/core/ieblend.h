// Layer blend operations: how a layer pixel S combines with the destination pixel D when layers are
// composed into one buffer, and the library's one rule for moving a value toward another by an alpha.
#pragma once
#include <cstdint>

#include "iedefs.h"

// The library's alpha rule: d moved toward v by m / 255, rounded (m = 255 gives v, m = 0 leaves d).
// m x (v - d) / 255 is never exactly half-way (255 is odd), so rounding away from zero is the same as
// rounding to even.
inline int IEAlphaMixInt(int d, int v, int m) {
  int p = m * (v - d);
  return d + (p >= 0 ? (p + 127) / 255 : -((-p + 127) / 255));
}
inline uint8_t IEAlphaMix(uint8_t d, uint8_t v, int m) { return uint8_t(IEAlphaMixInt(d, v, m)); }

enum TIEBlendOperation : uint8_t {
  ieboNormal = 0,
  ieboAdd,
  ieboDifference,
  ieboDivide,
  ieboMultiply,
  ieboOr,
  ieboAnd,
  ieboXor,
  ieboLighten,
  ieboDarken,
  ieboAverage,
  ieboScreen,
  ieboNegation,
  ieboExclusion,
  ieboOverlay,
  ieboHardLight,
  ieboSoftLight,
  ieboSoftLight2,
  ieboColorDodge,
  ieboColorBurn,
  ieboInverseDodge,
  ieboInverseBurn,
  ieboSoftDodge,
  ieboSoftBurn,
  ieboReflect,
  ieboGlow,
  ieboFreeze,
  ieboHeat,
  ieboSubtract,
  ieboCosine,
  ieboLinearLight,
  ieboRedOnly,
  ieboGreenOnly,
  ieboBlueOnly,
  ieboHue,
  ieboSaturation,
  ieboColor,
  ieboHueLightness,
  ieboGrayMix,
  ieboCyanFromLayer,
  ieboAnaglyph,
  ieboEvenRows,
  ieboOddRows,  // 42; values above leave the destination unchanged
};

// Replaces `dest` by the combination of the layer pixel and it; `destRow` (the destination row) is
// used only by ieboEvenRows and ieboOddRows.
void IEBlendPixel(TIERGB layer, TIERGB& dest, TIEBlendOperation op, int destRow);
