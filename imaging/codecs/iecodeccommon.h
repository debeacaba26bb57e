// Pieces every codec of this folder shares: the limits on sizes taken from files, the row-progress
// step and the conversion of a writer's input into the pixel format the writer encodes.
#pragma once
#include <cstdint>
#include <memory>

#include "iebitmap.h"
#include "ioparams.h"

// No image of this library is larger; a header that claims more is refused before anything is
// allocated (2^28 pixels is 768 MB at 24 bits).
constexpr uint64_t kIEMaxImagePixels = uint64_t(1) << 28;
constexpr int64_t kIEMaxImageDimension = 1 << 20;

inline bool IEImageSizeAllowed(int64_t width, int64_t height) {
  return width > 0 && height > 0 && width <= kIEMaxImageDimension && height <= kIEMaxImageDimension &&
         uint64_t(width) * uint64_t(height) <= kIEMaxImagePixels;
}

// Progress after a row: counter + 1, percentage Trunc(counter x factor) when it changed.
struct TIERowProgress {
  explicit TIERowProgress(TIECodecProgress& p, int rows) : progress(p) {
    p.Val = 0;
    p.Per1 = rows > 0 ? 100.0 / rows : 0;
  }
  void Step() {
    ++progress.Val;
    const int per = int(progress.Val * progress.Per1);
    if (per != last) {
      last = per;
      progress.Report(per);
    }
  }
  TIECodecProgress& progress;
  int last = -1;
};

// The bitmap to encode in `format`: the caller's own when it already has it, else a converted copy
// that the holder frees. The caller's bitmap is never converted. For ie8p, `paletteColours` is the
// colour count of the conversion.
class TIEWriterSource {
 public:
  TIEWriterSource(TIEBitmap& source, TIEPixelFormat format, int paletteColours = 256) {
    if (source.GetPixelFormat() == format) {
      bitmap_ = &source;
      return;
    }
    copy_.reset(new TIEBitmap());
    copy_->Assign(&source);
    copy_->PaletteColorTarget = paletteColours;
    copy_->SetPixelFormat(format);
    bitmap_ = copy_.get();
  }
  TIEBitmap* get() const { return bitmap_; }
  TIEBitmap* operator->() const { return bitmap_; }
  bool Valid() const {
    return bitmap_->GetImageWidth() > 0 && bitmap_->GetImageHeight() > 0;
  }

 private:
  std::unique_ptr<TIEBitmap> copy_;
  TIEBitmap* bitmap_ = nullptr;
};

// The samples of a stored colour depth of the bitmap and targa files (1, 4, 8: indices; 16: 5-bit RGB;
// 24: RGB; 32: RGB and alpha) into Params; false, leaving them as they were, for any other depth.
inline bool IESetStoredDepth(TIOParamsVals& Params, int depth) {
  switch (depth) {
    case 1: case 4: case 8: Params.BitsPerSample = depth; Params.SamplesPerPixel = 1; return true;
    case 16: Params.BitsPerSample = 5; Params.SamplesPerPixel = 3; return true;
    case 24: Params.BitsPerSample = 8; Params.SamplesPerPixel = 3; return true;
    case 32: Params.BitsPerSample = 8; Params.SamplesPerPixel = 4; return true;
    default: return false;
  }
}

// Reads exactly `count` bytes; false (and abort set) when the stream holds fewer.
bool IEReadExact(TIEStream& stream, TIECodecProgress& progress, void* buffer, int64_t count);
