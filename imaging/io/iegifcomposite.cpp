// TImageryIO's GIF load worker: frame n of an animated GIF as it is shown, the frames before it drawn
// one over the other on a screen-sized canvas as their disposal methods say.
#include <memory>

#include "giffilter.h"
#include "iebitmaprender.h"
#include "iecodeccommon.h"
#include "imageryio.h"

namespace {

// The canvas is screen-sized and the screen's size comes from the file: a larger one is refused
// rather than allocated (24-bit pixels and an alpha byte each).
constexpr uint64_t kMaxGIFCompositePixels = uint64_t(1) << 26;

TColor ColorOf(TIERGB c) { return TColor(c.r | (c.g << 8) | (c.b << 16)); }

}  // namespace

int TImageryIO::ReadGIF(TIEStream& stream, TIECodecProgress& progress) {
  const int target = Params.GIFImageIndex;
  IEBitmap->DiscardAlphaChannel(false);
  const int64_t start = stream.GetPosition();
  std::unique_ptr<TIEBitmap> composite;
  int prevDisposal = 0;
  int prevX = 0, prevY = 0, prevW = 0, prevH = 0;
  // the codec reports its own progress only when it reads the one frame asked for
  TIECodecProgress frameProgress = progress;
  if (target >= 1) frameProgress.OnProgress = nullptr;
  int frameCount = 0;
  TIEBitmap frame;
  TIEBitmap* mask = nullptr;
  bool shown = false;  // a frame reached the composite (or is the picture, alone in its file)
  TIEPixelFormat shownFormat = ie24RGB;
  // Draws the frame just decoded (in `frame` and `mask`) over the composite; false stops the walk.
  auto show = [&](int i) -> bool {
    std::unique_ptr<TIEBitmap> maskOwner(mask);
    mask = nullptr;
    if (progress.Aborted()) return false;  // the last good frame stays in the bitmap
    const TIEPixelFormat frameFormat = frame.GetPixelFormat();
    const int fw = frame.GetImageWidth(), fh = frame.GetImageHeight();
    const int screenW = IEMax(Params.GIFWinWidth, fw), screenH = IEMax(Params.GIFWinHeight, fh);
    if (maskOwner) {
      maskOwner->UpdateOpaqueFlag();  // the codec fills it opaque first, then clears the transparent pixels
      frame.AttachAlphaChannel(maskOwner.release());
    }
    if (frameCount > 1) {
      if (!IEImageSizeAllowed(screenW, screenH) || uint64_t(screenW) * uint64_t(screenH) > kMaxGIFCompositePixels) {
        progress.Abort();
        return false;
      }
      const double bg = double(ColorOf(Params.GIFBackground));
      if (composite && prevDisposal == 2 && prevW > 0 && prevH > 0) {
        composite->FillRect(prevX, prevY, prevX + prevW - 1, prevY + prevH - 1, bg);
        composite->GetAlphaChannel()->FillRect(prevX, prevY, prevX + prevW - 1, prevY + prevH - 1, 0);
      }
      if (!composite) {
        composite.reset(new TIEBitmap());
        composite->SetLocation(ieMemory);
        if (!composite->Allocate(screenW, screenH, ie24RGB)) {
          progress.Abort();
          return false;
        }
        composite->Fill(bg);
        composite->GetAlphaChannel()->Fill(0);
      }
      if (composite->GetPixelFormat() != ie24RGB) composite->ConvertPixelFormat(ie24RGB);
      if (composite->GetImageWidth() < screenW || composite->GetImageHeight() < screenH)
        composite->ResizeCanvas(IEMax(composite->GetImageWidth(), screenW), IEMax(composite->GetImageHeight(), screenH),
                                bg, 255, 0, 0);
      IERenderZoomedInto(&frame, composite.get(), nullptr, nullptr, Params.GIFXPos, Params.GIFYPos, fw, fh, 0, 0, fw,
                         fh, true, false, 255, ieboNormal);
      frame.CombineAlphaRectTo(composite.get(), 0, 0, Params.GIFXPos, Params.GIFYPos, fw, fh);
      composite->GetAlphaChannel()->IsAll255 = false;
      prevX = Params.GIFXPos;
      prevY = Params.GIFYPos;
      prevW = fw;
      prevH = fh;
      prevDisposal = Params.GIFAction;
      Params.GIFAction = 2;
      Params.GIFXPos = Params.GIFYPos = 0;  // the parameters now describe the composite
      frame.DiscardAlphaChannel(false);  // the next frame brings its own transparency, if any
    }
    shown = true;
    shownFormat = frameFormat;
    if (target >= 1 && frameCount > 0) progress.Report(int(i * (100.0 / frameCount)));
    return true;
  };
  // The first frame tells how many there are; the later ones come in one more walk over the file, so
  // frame n costs one decode of each frame before it rather than a walk per frame.
  Params.SetImageIndexValue(0);
  IEGIFRead(stream, frame, frameCount, Params, frameProgress, false, mask, false);
  if (show(0) && frameCount > 1 && target >= 1) {
    const int last = IEMin(target, frameCount - 1);
    int count = 0;
    stream.SetPosition(start);
    IEGIFReadFrames(stream, frame, count, Params, frameProgress, mask, false, 1, last,
                    [&](int i) { return show(i) && i < last; });
  }
  delete mask;
  // the last frame that came whole, even when a later one failed
  if (shown) {
    IEBitmap->Assign(composite ? composite.get() : &frame);
    if (IEBitmap->GetPixelFormat() != shownFormat) IEBitmap->ConvertPixelFormat(shownFormat);
  }
  Params.SetImageCount(frameCount);
  Params.SetImageIndexValue(target);
  return frameCount;
}
