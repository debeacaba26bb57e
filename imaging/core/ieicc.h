// ICC colour profiles and pixel transforms through the platform's colour-management module
// (mscms.dll, loaded by name on first use).
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "iedefs.h"

class TIEBitmap;
class TIEStream;
struct TIEColorScratch;

// Pixel layouts of TIEICC::Transform.
enum IEICCFormatCode {
  iccRGB = 0,         // 3 bytes R, G, B
  iccBGR = 1,         // 3 bytes B, G, R (ie24RGB)
  iccCMYKInv = 2,     // 4 bytes C, M, Y, K stored inverted (255 = no ink, ieCMYK)
  iccCMYK = 3,        // 4 bytes C, M, Y, K
  iccLab = 4,         // 3 bytes L, a, b (ieCIELab)
  iccGray = 5,        // 1 byte (ie8g)
  iccRGB48 = 6,       // three 16-bit samples R, G, B (ieRGB48)
  iccRGB48BE = 7,     // three big-endian 16-bit samples
  iccThreeChannel = 8 // 3 bytes of a three-channel space
};

// Loads mscms.dll into IEMSCMSHandle on the first call that finds it empty; true when loaded.
bool IELoadMSCMS();

class TIEICC {
 public:
  TIEICC();
  ~TIEICC();
  TIEICC(const TIEICC&) = delete;
  TIEICC& operator=(const TIEICC&) = delete;

  // Keeps a copy of the bytes and opens them as a profile; true when the profile is valid.
  bool LoadFromBuffer(const void* data, int64_t length);
  void Assign(const TIEICC* source);
  // The length as 32 bits (unless rawOnly), then the raw bytes.
  void SaveToStream(TIEStream* stream, bool rawOnly);
  // The system sRGB profile, opened by file name; keeps no raw bytes.
  bool LoadSRGB();

  bool IsValid() const { return Profile != nullptr; }
  bool HasTransform() const { return Xform != nullptr; }
  const std::vector<uint8_t>& Raw() const { return RawData; }

  void FreeTransform();
  void FreeProfile();
  void Clear();

  // Converts n pixels of layout inCode at `in` into layout outCode at `out` from this profile to
  // `dest`'s. The prepared transform is kept while inCode, outCode, intent and flags stay the same.
  // The input is never changed. False (and nothing written) without a transform or for a code
  // outside 0..8.
  bool Transform(TIEICC* dest, int inCode, int outCode, int intent, int flags, const void* in, void* out,
                 int n);
  // As Transform for `rows` rows of n pixels, each row `inStride` / `outStride` bytes after the one
  // before. Large images are converted in bands of rows on a few threads, each on a transform of its
  // own; the bytes written are the same as row by row through Transform.
  bool TransformRows(TIEICC* dest, int inCode, int outCode, int intent, int flags, const void* in,
                     ptrdiff_t inStride, void* out, ptrdiff_t outStride, int n, int rows);
  // Converts the bitmap in place into `target` (ie8g, ie24RGB, ieCMYK, ieRGB48, ieCIELab) through
  // `dest`; false and the bitmap unchanged for other formats, an empty bitmap, a copy that cannot be
  // allocated, or without a transform.
  bool ConvertBitmap(TIEBitmap* bitmap, TIEPixelFormat target, TIEICC* dest);

  bool Applied = false;  // a prepared transform was deleted after use
  std::string Copyright;
  std::string Description;

 private:
  void OpenProfile();
  // Makes Xform the transform to `dest` for these codes, keeping the one already made for them.
  bool Prepare(TIEICC* dest, int inCode, int outCode, int intent, int flags);
  void ReadTagTexts();

  std::vector<uint8_t> RawData;
  void* Profile = nullptr;
  void* Xform = nullptr;
  int XformIn = -1, XformOut = -1, XformIntent = -1, XformFlags = -1;
  std::unique_ptr<TIEColorScratch> Scratch;  // colour records of the calls on Xform, kept between rows
};
