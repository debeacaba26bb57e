#include "iecmyk.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ieicc.h"
#include "ioparams.h"
#include "ieutils.h"
#include "iezlib.h"

namespace {
#include "iecmykprofile.inc"

bool gProfileFailed = false;

// Converts a packed 4-byte-pixel CMYK row through the profiles, a whole row per platform call.
bool ProfileCMYKRow(const uint8_t* src, uint8_t* dst, int n) {
  return IECMSEnabled && IELoadCMYKProfile() &&
         IECMYKProfile->Transform(IESRGBProfile, iccCMYKInv, iccBGR, 0, 0, src, dst, n);
}

void FormulaCMYK(const uint8_t* p, TIERGB& rgb) {
  const int k = p[3];
  rgb.r = uint8_t(p[0] * k / 255);
  rgb.g = uint8_t(p[1] * k / 255);
  rgb.b = uint8_t(p[2] * k / 255);
}
}  // namespace

TIEICC* IECMYKProfile = nullptr;
TIEICC* IESRGBProfile = nullptr;
bool IECMSEnabled = true;
bool IEApplyICCProfiles = false;

bool IELoadCMYKProfile() {
  if (gProfileFailed) return false;
  if (IECMYKProfile && IESRGBProfile) return IECMYKProfile->IsValid() && IESRGBProfile->IsValid();
  void* raw = nullptr;
  int rawSize = 0;
  try {
    IEZDecompressBuffer(kCMYKProfileZ, kCMYKProfileZSize, raw, rawSize, kCMYKProfileSize);
  } catch (...) {
    gProfileFailed = true;
    return false;
  }
  auto* cmyk = new TIEICC;
  cmyk->LoadFromBuffer(raw, rawSize);
  std::free(raw);
  auto* srgb = new TIEICC;
  if (!cmyk->IsValid() || !srgb->LoadSRGB()) {
    delete cmyk;
    delete srgb;
    gProfileFailed = true;
    return false;
  }
  IECMYKProfile = cmyk;
  IESRGBProfile = srgb;
  // prepare both transforms with one pixel each
  uint8_t in[4] = {255, 255, 255, 255}, out[4];
  IECMYKProfile->Transform(IESRGBProfile, iccCMYKInv, iccBGR, 0, 0, in, out, 1);
  IESRGBProfile->Transform(IECMYKProfile, iccBGR, iccCMYKInv, 0, 0, in, out, 1);
  return true;
}

void IEFreeCMYKProfile() {
  delete IECMYKProfile;
  delete IESRGBProfile;
  IECMYKProfile = IESRGBProfile = nullptr;
}

void IECMYKToRGB(uint32_t cmyk, TIERGB& rgb) {
  uint8_t p[4];
  std::memcpy(p, &cmyk, 4);
  if (ProfileCMYKRow(p, &rgb.b, 1)) return;
  FormulaCMYK(p, rgb);
}

uint32_t IERGBToCMYK(uint32_t v) {
  const uint8_t bgr[3] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16)};
  uint8_t out[4];
  if (IECMSEnabled && IELoadCMYKProfile() &&
      IESRGBProfile->Transform(IECMYKProfile, iccBGR, iccCMYKInv, 0, 0, bgr, out, 1)) {
    uint32_t r;
    std::memcpy(&r, out, 4);
    return r;
  }
  int k = std::max(bgr[0], std::max(bgr[1], bgr[2]));
  if (k == 0) k = 1;
  const uint32_t c = uint32_t(bgr[2] * 255 / k), m = uint32_t(bgr[1] * 255 / k), y = uint32_t(bgr[0] * 255 / k);
  return c | (m << 8) | (y << 16) | (uint32_t(k) << 24);
}

void IECMYKRowToRGB(const uint8_t* src, TIERGB* dst, int n) {
  if (n <= 0 || ProfileCMYKRow(src, &dst->b, n)) return;
  for (int x = 0; x < n; ++x) FormulaCMYK(src + 4 * x, dst[x]);
}

void IECMYKRowsToRGB(const uint8_t* src, ptrdiff_t srcStride, TIERGB* dst, ptrdiff_t dstStride, int n, int rows) {
  if (n <= 0 || rows <= 0) return;
  if (IECMSEnabled && IELoadCMYKProfile() &&
      IECMYKProfile->TransformRows(IESRGBProfile, iccCMYKInv, iccBGR, 0, 0, src, srcStride, dst, dstStride, n, rows))
    return;
  auto* d = reinterpret_cast<uint8_t*>(dst);
  for (int y = 0; y < rows; ++y) {
    const uint8_t* s = src + y * srcStride;
    auto* row = reinterpret_cast<TIERGB*>(d + y * dstStride);
    for (int x = 0; x < n; ++x) FormulaCMYK(s + 4 * x, row[x]);
  }
}

void IEConvertPixelRow(const void* srcRow, int srcCode, void* dstRow, int n, int dstCode) {
  if (n <= 0) return;
  const auto* s = static_cast<const uint8_t*>(srcRow);
  auto* d = static_cast<uint8_t*>(dstRow);
  auto* rgb = static_cast<TIERGB*>(dstRow);
  if (dstCode == iccBGR) {
    switch (srcCode) {
      case iccRGB: IECopySwapRB(d, s, n); return;
      case iccBGR: std::memmove(d, s, size_t(n) * 3); return;
      case iccCMYKInv: IECMYKRowToRGB(s, rgb, n); return;
      case iccCMYK: {
        // the caller's row stays as it is: the inverted copy is ours
        std::vector<uint8_t> inv(size_t(n) * 4);
        for (size_t i = 0; i < inv.size(); ++i) inv[i] = uint8_t(255 - s[i]);
        IECMYKRowToRGB(inv.data(), rgb, n);
        return;
      }
      case iccLab: {
        std::vector<TIECIELab> lab(static_cast<size_t>(n));
        std::memcpy(lab.data(), s, size_t(n) * 3);
        for (int x = 0; x < n; ++x) IECIELabToRGB(rgb[x], lab[size_t(x)]);
        return;
      }
      case iccRGB48:
        for (int x = 0; x < n; ++x, s += 6) {
          uint16_t w[3];
          std::memcpy(w, s, 6);
          rgb[x].r = uint8_t(w[0] >> 8);
          rgb[x].g = uint8_t(w[1] >> 8);
          rgb[x].b = uint8_t(w[2] >> 8);
        }
        return;
      case iccRGB48BE:
        for (int x = 0; x < n; ++x, s += 6) {
          const uint8_t r = s[0], g = s[2], b = s[4];
          rgb[x].r = r;
          rgb[x].g = g;
          rgb[x].b = b;
        }
        return;
      case iccThreeChannel: {
        std::vector<uint8_t> ycc(s, s + size_t(n) * 3);
        for (int x = 0; x < n; ++x) IEYCbCrToRGB(rgb[x], ycc[3 * size_t(x)], ycc[3 * size_t(x) + 1], ycc[3 * size_t(x) + 2]);
        return;
      }
      default: return;
    }
  }
  if (srcCode != iccBGR) return;
  // the destination may be the source row: read every pixel before writing its result
  switch (dstCode) {
    case iccCMYKInv:
      // a whole row per platform call (the transform reads all input before writing)
      if (IECMSEnabled && IELoadCMYKProfile() &&
          IESRGBProfile->Transform(IECMYKProfile, iccBGR, iccCMYKInv, 0, 0, s, d, n))
        return;
      if (d + size_t(n) * 4 > s && d < s + size_t(n) * 3) {
        std::vector<uint8_t> copy(s, s + size_t(n) * 3);
        IEConvertPixelRow(copy.data(), srcCode, d, n, dstCode);
        return;
      }
      for (int x = 0; x < n; ++x) {
        const uint32_t v = IERGBToCMYK((uint32_t(s[3 * x + 2]) << 16) | (uint32_t(s[3 * x + 1]) << 8) | s[3 * x]);
        std::memcpy(d + 4 * x, &v, 4);
      }
      return;
    case iccLab:
      for (int x = 0; x < n; ++x) {
        TIERGB c{s[3 * x], s[3 * x + 1], s[3 * x + 2]};
        TIECIELab lab;
        IERGBToCIELab(lab, c);
        std::memcpy(d + 3 * x, &lab, 3);
      }
      return;
    case iccGray:
      for (int x = 0; x < n; ++x)
        d[x] = uint8_t((s[3 * x + 2] * IEGrayWeightRed + s[3 * x + 1] * IEGrayWeightGreen + s[3 * x] * IEGrayWeightBlue) / 100);
      return;
    default: return;
  }
}

TIEColorConversionHook IEColorConversionHook = IEConvertPixelRow;

void IEConvertPixelRow(const void* src, int srcCode, void* dst, TIOParamsVals* params, int n, int dstCode) {
  if (IEApplyICCProfiles && params && n > 0) {
    // a file without a usable profile of its own is taken as the application's default profile says
    TIEICC& in = (params->DefaultICCProfile && !params->InputICCProfile.IsValid()) ? *params->DefaultICCProfile
                                                                                  : params->InputICCProfile;
    if (in.IsValid() && !in.Applied) {
      TIEICC* out = params->GetOutputICCProfile();
      if (out->IsValid() && in.Transform(out, srcCode, dstCode, 0, 0, src, dst, n)) return;
    }
  }
  IEConvertPixelRow(src, srcCode, dst, n, dstCode);
}
