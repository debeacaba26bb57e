#include "ieicc.h"

#include <windows.h>
#include <icm.h>

#include <atomic>
#include <cstring>

#include "iebands.h"
#include "iebitmap.h"
#include "iestreams.h"
#include "vodevovur.h"

// The colour records of the calls on one transform, grown to the longest row seen. Records are
// zeroed when allocated, and only the samples of their layout are ever written.
struct TIEColorScratch {
  std::vector<COLOR> src, dst;
};

namespace {

using PFOpenColorProfileA = HPROFILE(WINAPI*)(PPROFILE, DWORD, DWORD, DWORD);
using PFCloseColorProfile = BOOL(WINAPI*)(HPROFILE);
using PFCreateMultiProfileTransform = HTRANSFORM(WINAPI*)(PHPROFILE, DWORD, PDWORD, DWORD, DWORD, DWORD);
using PFDeleteColorTransform = BOOL(WINAPI*)(HTRANSFORM);
using PFTranslateColors = BOOL(WINAPI*)(HTRANSFORM, PCOLOR, DWORD, COLORTYPE, PCOLOR, COLORTYPE);

PFOpenColorProfileA pOpenColorProfileA = nullptr;
PFCloseColorProfile pCloseColorProfile = nullptr;
PFCreateMultiProfileTransform pCreateMultiProfileTransform = nullptr;
PFDeleteColorTransform pDeleteColorTransform = nullptr;
PFTranslateColors pTranslateColors = nullptr;

// Best mode with relative colorimetric black point handling.
constexpr DWORD kTransformFlags = 0x20003;
// Threads of one banded conversion, so that a large image does not take every core.
constexpr int kMaxConvertThreads = 4;
// Each further band needs a transform of its own, a few milliseconds to create (some 20,000 pixels'
// worth of converting): images below this many pixels are converted in the calling thread.
constexpr int64_t kMinBandedPixels = 256 * 1024;

COLORTYPE ColorTypeOf(int code) {
  switch (code) {
    case iccCMYKInv: case iccCMYK: return COLOR_CMYK;
    case iccLab: return COLOR_Lab;
    case iccGray: return COLOR_GRAY;
    case iccThreeChannel: return COLOR_3_CHANNEL;
    default: return COLOR_RGB;
  }
}

// The 16-bit samples of every platform colour record come first and in channel order.
inline WORD* Words(COLOR& c) { return reinterpret_cast<WORD*>(&c); }

void Widen(int code, const uint8_t* in, COLOR* rec, int n) {
  for (int i = 0; i < n; ++i) {
    WORD* w = Words(rec[i]);
    switch (code) {
      case iccBGR:
        w[0] = WORD(in[2] * 257); w[1] = WORD(in[1] * 257); w[2] = WORD(in[0] * 257);
        in += 3;
        break;
      case iccCMYKInv:
        for (int k = 0; k < 4; ++k) w[k] = WORD((255 - in[k]) * 257);
        in += 4;
        break;
      case iccCMYK:
        for (int k = 0; k < 4; ++k) w[k] = WORD(in[k] * 257);
        in += 4;
        break;
      case iccGray:
        w[0] = WORD(in[0] * 257);
        in += 1;
        break;
      case iccRGB48:
        for (int k = 0; k < 3; ++k) { uint16_t v; std::memcpy(&v, in + 2 * k, 2); w[k] = v; }
        in += 6;
        break;
      case iccRGB48BE:
        for (int k = 0; k < 3; ++k) w[k] = WORD((in[2 * k] << 8) | in[2 * k + 1]);
        in += 6;
        break;
      default:  // RGB, Lab, three-channel bytes
        for (int k = 0; k < 3; ++k) w[k] = WORD(in[k] * 257);
        in += 3;
        break;
    }
  }
}

// High byte of a 16-bit sample, rounded.
inline uint8_t Hi(WORD v) { return uint8_t((unsigned(v) * 255 + 32895) / 65535); }

void Narrow(int code, const COLOR* rec, uint8_t* out, int n) {
  for (int i = 0; i < n; ++i) {
    const WORD* w = reinterpret_cast<const WORD*>(&rec[i]);
    switch (code) {
      case iccBGR:
        out[0] = Hi(w[2]); out[1] = Hi(w[1]); out[2] = Hi(w[0]);
        out += 3;
        break;
      case iccCMYKInv:
        for (int k = 0; k < 4; ++k) out[k] = uint8_t(255 - Hi(w[k]));
        out += 4;
        break;
      case iccCMYK:
        for (int k = 0; k < 4; ++k) out[k] = Hi(w[k]);
        out += 4;
        break;
      case iccGray:
        out[0] = Hi(w[0]);
        out += 1;
        break;
      case iccRGB48:
        for (int k = 0; k < 3; ++k) { uint16_t v = w[k]; std::memcpy(out + 2 * k, &v, 2); }
        out += 6;
        break;
      case iccRGB48BE:
        for (int k = 0; k < 3; ++k) { out[2 * k] = uint8_t(w[k] >> 8); out[2 * k + 1] = uint8_t(w[k]); }
        out += 6;
        break;
      default:
        for (int k = 0; k < 3; ++k) out[k] = Hi(w[k]);
        out += 3;
        break;
    }
  }
}

// n pixels through the transform, one platform call.
bool TranslateRun(HTRANSFORM xf, int inCode, int outCode, const uint8_t* in, uint8_t* out, int n,
                  TIEColorScratch& scratch) {
  if (scratch.src.size() < size_t(n)) {
    scratch.src.resize(size_t(n));
    scratch.dst.resize(size_t(n));
  }
  Widen(inCode, in, scratch.src.data(), n);
  if (!pTranslateColors(xf, scratch.src.data(), DWORD(n), ColorTypeOf(inCode), scratch.dst.data(),
                        ColorTypeOf(outCode)))
    return false;
  Narrow(outCode, scratch.dst.data(), out, n);
  return true;
}

int CodeOfFormat(TIEPixelFormat f) {
  switch (f) {
    case ie8g: return iccGray;
    case ie24RGB: return iccBGR;
    case ieCMYK: return iccCMYKInv;
    case ieRGB48: return iccRGB48;
    case ieCIELab: return iccLab;
    default: return -1;
  }
}

struct TTransformDeleter {
  void operator()(void* h) const { pDeleteColorTransform(static_cast<HTRANSFORM>(h)); }
};
using TTransformHandle = std::unique_ptr<void, TTransformDeleter>;

HTRANSFORM NewTransform(void* from, void* to) {
  if (!from || !to) return nullptr;
  HPROFILE profiles[2] = {static_cast<HPROFILE>(from), static_cast<HPROFILE>(to)};
  DWORD intents[2] = {INTENT_PERCEPTUAL, INTENT_PERCEPTUAL};
  return pCreateMultiProfileTransform(profiles, 2, intents, 2, kTransformFlags, 0);
}

// The rows of a bitmap in one memory block lie a fixed distance apart and stay put, so bands of them
// can be converted on other threads; rows in segments or mapped from a file are fetched one by one.
bool InOneBlock(TIEBitmap* b) { return b->GetLocation() == ieMemory && b->GetSegmentCount() == 0; }

uint32_t BE32(const uint8_t* p) { return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]; }

// An entry point of a loaded library as the function type it has (nullptr when missing).
template <class F>
F EntryPoint(HMODULE module, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

bool IELoadMSCMS() {
  if (!IEMSCMSHandle) {
    HMODULE h = LoadLibraryA("mscms.dll");
    if (!h) return false;
    pOpenColorProfileA = EntryPoint<PFOpenColorProfileA>(h, "OpenColorProfileA");
    pCloseColorProfile = EntryPoint<PFCloseColorProfile>(h, "CloseColorProfile");
    pCreateMultiProfileTransform = EntryPoint<PFCreateMultiProfileTransform>(h, "CreateMultiProfileTransform");
    pDeleteColorTransform = EntryPoint<PFDeleteColorTransform>(h, "DeleteColorTransform");
    pTranslateColors = EntryPoint<PFTranslateColors>(h, "TranslateColors");
    if (!pOpenColorProfileA || !pCloseColorProfile || !pCreateMultiProfileTransform || !pDeleteColorTransform ||
        !pTranslateColors) {
      FreeLibrary(h);
      return false;
    }
    IEMSCMSHandle = h;
  }
  return true;
}

TIEICC::TIEICC() = default;
TIEICC::~TIEICC() { Clear(); }

bool TIEICC::LoadFromBuffer(const void* data, int64_t length) {
  Clear();
  if (data && length > 0) {
    const auto* p = static_cast<const uint8_t*>(data);
    RawData.assign(p, p + length);
  }
  OpenProfile();
  return IsValid();
}

void TIEICC::Assign(const TIEICC* source) {
  if (source == this) return;
  Clear();
  if (source) RawData = source->RawData;
  OpenProfile();
}

void TIEICC::SaveToStream(TIEStream* stream, bool rawOnly) {
  if (!rawOnly) {
    int32_t len = int32_t(RawData.size());
    stream->Write(&len, 4);
  }
  if (!RawData.empty()) stream->Write(RawData.data(), int32_t(RawData.size()));
}

bool TIEICC::LoadSRGB() {
  Clear();
  if (!IELoadMSCMS()) return false;
  static char name[] = "sRGB Color Space Profile.icm";
  PROFILE prof;
  prof.dwType = PROFILE_FILENAME;
  prof.pProfileData = name;
  prof.cbDataSize = DWORD(sizeof(name) - 1);
  Profile = pOpenColorProfileA(&prof, PROFILE_READ, FILE_SHARE_READ, OPEN_EXISTING);
  return IsValid();
}

void TIEICC::OpenProfile() {
  // Anything shorter than a header and a tag count is no profile.
  if (RawData.size() >= 132 && RawData.size() <= 0x7FFFFFFF && IELoadMSCMS()) {
    PROFILE prof;
    prof.dwType = PROFILE_MEMBUFFER;
    prof.pProfileData = RawData.data();
    prof.cbDataSize = DWORD(RawData.size());
    Profile = pOpenColorProfileA(&prof, PROFILE_READ, FILE_SHARE_READ, OPEN_EXISTING);
  }
  ReadTagTexts();
}

void TIEICC::FreeTransform() {
  if (Xform) {
    pDeleteColorTransform(static_cast<HTRANSFORM>(Xform));
    Xform = nullptr;
  }
  Scratch.reset();
  Applied = true;
}

void TIEICC::FreeProfile() {
  FreeTransform();
  if (Profile) {
    pCloseColorProfile(static_cast<HPROFILE>(Profile));
    Profile = nullptr;
  }
  XformIn = XformOut = XformIntent = XformFlags = -1;
}

void TIEICC::Clear() {
  FreeProfile();
  RawData.clear();
  RawData.shrink_to_fit();
  Applied = false;
}

bool TIEICC::Prepare(TIEICC* dest, int inCode, int outCode, int intent, int flags) {
  if (inCode < 0 || inCode > 8 || outCode < 0 || outCode > 8) return false;
  if (Xform && (XformIn != inCode || XformOut != outCode || XformIntent != intent || XformFlags != flags)) {
    pDeleteColorTransform(static_cast<HTRANSFORM>(Xform));
    Xform = nullptr;
  }
  if (!Xform) {
    if (!dest) return false;
    Xform = NewTransform(Profile, dest->Profile);
    if (!Xform) return false;
    XformIn = inCode;
    XformOut = outCode;
    XformIntent = intent;
    XformFlags = flags;
  }
  return true;
}

bool TIEICC::Transform(TIEICC* dest, int inCode, int outCode, int intent, int flags, const void* in, void* out,
                       int n) {
  if (n < 0 || !Prepare(dest, inCode, outCode, intent, flags)) return false;
  if (n == 0) return true;
  if (!Scratch) Scratch = std::make_unique<TIEColorScratch>();
  return TranslateRun(static_cast<HTRANSFORM>(Xform), inCode, outCode, static_cast<const uint8_t*>(in),
                      static_cast<uint8_t*>(out), n, *Scratch);
}

bool TIEICC::TransformRows(TIEICC* dest, int inCode, int outCode, int intent, int flags, const void* in,
                           ptrdiff_t inStride, void* out, ptrdiff_t outStride, int n, int rows) {
  if (n < 0 || rows < 0 || !Prepare(dest, inCode, outCode, intent, flags)) return false;
  if (n == 0 || rows == 0) return true;
  const auto* src = static_cast<const uint8_t*>(in);
  auto* dst = static_cast<uint8_t*>(out);
  const int bands = int64_t(n) * rows >= kMinBandedPixels ? IEBandCount(rows, kMaxConvertThreads) : 1;
  // The first band runs on the prepared transform; every other band gets its own, created here, since
  // a transform handle is not safe to use from two threads at once.
  std::vector<TTransformHandle> extra;
  for (int k = 1; k < bands; ++k) {
    TTransformHandle h(NewTransform(Profile, dest->Profile));
    if (!h.get()) break;
    extra.push_back(std::move(h));
  }
  if (!Scratch) Scratch = std::make_unique<TIEColorScratch>();
  std::atomic<int> next{0};
  std::atomic<bool> ok{true};
  auto convertBand = [&](int first, int count) {
    const int band = next++;
    HTRANSFORM xf = band == 0 ? static_cast<HTRANSFORM>(Xform) : extra[size_t(band - 1)].get();
    TIEColorScratch own;
    TIEColorScratch& scratch = band == 0 ? *Scratch : own;
    for (int y = first; y < first + count && ok; ++y)
      if (!TranslateRun(xf, inCode, outCode, src + y * inStride, dst + y * outStride, n, scratch)) ok = false;
  };
  IEForBands(rows, convertBand, int(extra.size()) + 1);
  return ok;
}

bool TIEICC::ConvertBitmap(TIEBitmap* bitmap, TIEPixelFormat target, TIEICC* dest) {
  if (!bitmap) return false;
  int sc = CodeOfFormat(bitmap->GetPixelFormat()), tc = CodeOfFormat(target);
  if (sc < 0 || tc < 0) return false;
  int w = bitmap->GetImageWidth(), h = bitmap->GetImageHeight();
  TIEBitmap converted(w, h, target);
  // an empty bitmap, or no memory for the converted copy: nothing to write into
  if (converted.IsEmpty()) return false;
  if (h > 1 && InOneBlock(bitmap) && InOneBlock(&converted)) {
    uint8_t *s0 = bitmap->GetRowAddress(0), *d0 = converted.GetRowAddress(0);
    if (!TransformRows(dest, sc, tc, 0, 0, s0, bitmap->GetRowAddress(1) - s0, d0, converted.GetRowAddress(1) - d0, w,
                       h))
      return false;
  } else {
    for (int y = 0; y < h; ++y)
      if (!Transform(dest, sc, tc, 0, 0, bitmap->GetRowAddress(y), converted.GetRowAddress(y), w)) return false;
  }
  FreeTransform();
  TIEBitmap* alpha = bitmap->AlphaPresent() ? bitmap->DetachAlphaChannel() : nullptr;
  bitmap->Assign(&converted);
  if (alpha) bitmap->AttachAlphaChannel(alpha);
  return true;
}

void TIEICC::ReadTagTexts() {
  Copyright.clear();
  Description.clear();
  const size_t len = RawData.size();
  if (len <= 132) return;
  const uint8_t* d = RawData.data();
  uint32_t count = BE32(d + 128);
  if (count > 1000) return;
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t e = 132 + uint64_t(i) * 12;
    if (e + 12 > len) return;
    uint64_t off = BE32(d + e + 4), size = BE32(d + e + 8);
    if (off > len || size > len || off + size > len) return;
    bool cprt = std::memcmp(d + e, "cprt", 4) == 0, desc = std::memcmp(d + e, "desc", 4) == 0;
    if ((!cprt && !desc) || size >= 1000) continue;
    uint64_t start = off + (cprt ? 8 : 12);
    uint64_t end = off + size;
    if (start >= end) continue;
    // the text stops at its NUL or at the end of its tag
    const char* p = reinterpret_cast<const char*>(d + start);
    size_t n = 0;
    while (start + n < end && p[n] != 0) ++n;
    if (n >= 1000) continue;
    (cprt ? Copyright : Description).assign(p, n);
  }
}
