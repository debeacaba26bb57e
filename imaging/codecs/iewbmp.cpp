// WBMP reading and writing.
#include "iewbmp.h"

#include <memory>
#include <vector>

#include "iecodeccommon.h"
#include "ieresample.h"
#include "ieutils.h"

namespace {

constexpr int kMaxMultiByteLength = 4;
// The writer's largest side: a side of 128 and more already takes two header bytes, and devices
// that read these files take no more.
constexpr int kMaxWrittenSide = 255;

void WriteMultiByte(TIEStream& s, std::atomic<bool>& abort, uint32_t v) {
  uint8_t b[5];
  int n = 0;
  do {
    b[n++] = uint8_t(v & 0x7F);
    v >>= 7;
  } while (v);
  uint8_t out[5];
  for (int i = 0; i < n; ++i) out[i] = uint8_t(b[n - 1 - i] | (i < n - 1 ? 0x80 : 0));
  IEStreamWriteCheck(s, abort, out, n);
}

}  // namespace

int32_t IEWBMPReadMultiByte(TIEStream& Stream) {
  int32_t v = 0;
  for (int i = 0; i < kMaxMultiByteLength; ++i) {
    uint8_t c;
    if (Stream.Read(&c, 1) != 1) return -1;
    v = (v << 7) | (c & 0x7F);
    if (!(c & 0x80)) break;
  }
  return v;
}

void IEWBMPRead(TIEStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, TIECodecProgress& Progress,
                bool ParamsOnly) {
  const int32_t type = IEWBMPReadMultiByte(Stream);
  const int32_t fixed = IEWBMPReadMultiByte(Stream);
  const int32_t w = IEWBMPReadMultiByte(Stream);
  const int32_t h = IEWBMPReadMultiByte(Stream);
  if (type != 0 || fixed != 0 || w <= 0 || h <= 0) {
    Progress.Abort();
    return;
  }
  Params.BitsPerSample = 1;
  Params.SamplesPerPixel = 1;
  Params.Width = Params.StoredWidth = w;
  Params.Height = Params.StoredHeight = h;
  Params.SetDpiX(IEDefaultDPIX);
  Params.SetDpiY(IEDefaultDPIY);
  Params.FreeColorMap();
  if (ParamsOnly) return;
  const int64_t rowBytes = (int64_t(w) + 7) / 8;
  const int64_t left = Stream.GetSize() - Stream.GetPosition();
  if (!IEImageSizeAllowed(w, h) || rowBytes * h > left) {
    Progress.Abort();
    return;
  }
  if (!Bitmap.Allocate(w, h, ie1g)) {
    Progress.Abort();
    return;
  }
  Progress.Per1 = 100.0 / h;
  for (int y = 0; y < h; ++y) {
    if (!IEReadExact(Stream, Progress, Bitmap.GetRowAddress(y), rowBytes)) return;
    Progress.Report(int(y * Progress.Per1));
    if (Progress.Aborted()) return;
  }
}

void IEWBMPWrite(TIEStream& Stream, TIEBitmap& Bitmap, const TIOParamsVals&, TIECodecProgress& Progress) {
  std::atomic<bool> localAbort{false};
  std::atomic<bool>& abort = Progress.Aborting ? *Progress.Aborting : localAbort;
  if (Bitmap.GetImageWidth() <= 0 || Bitmap.GetImageHeight() <= 0) {
    abort = true;
    return;
  }
  TIEWriterSource src(Bitmap, ie1g);
  TIEBitmap* work = src.get();
  std::unique_ptr<TIEBitmap> scaled;
  const int sw = work->GetImageWidth(), sh = work->GetImageHeight();
  if (sw > kMaxWrittenSide || sh > kMaxWrittenSide) {
    int w = kMaxWrittenSide, h = kMaxWrittenSide;
    if (sw > sh) h = IEMax(1, int(int64_t(sh) * kMaxWrittenSide / sw));
    else w = IEMax(1, int(int64_t(sw) * kMaxWrittenSide / sh));
    scaled.reset(new TIEBitmap(w, h, ie1g));
    IEResample(work, scaled.get(), rfNone, nullptr, TIEProgressEvent());
    work = scaled.get();
  }
  const int w = work->GetImageWidth(), h = work->GetImageHeight();
  const uint8_t zero[2] = {0, 0};
  IEStreamWriteCheck(Stream, abort, zero, 2);
  WriteMultiByte(Stream, abort, uint32_t(w));
  WriteMultiByte(Stream, abort, uint32_t(h));
  const int32_t rowBytes = (w + 7) / 8;
  const double factor = 100.0 / h;
  for (int y = 0; y < h && !abort; ++y) {
    IEStreamWriteCheck(Stream, abort, work->GetRowAddress(y), rowBytes);
    Progress.Report(int(y * factor));
  }
}
