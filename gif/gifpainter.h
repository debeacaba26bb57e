// Playing an animated GIF: a TGIFPainter shows the frames of an image in turn on a canvas, honouring
// each frame's delay and disposal, the loop-count extension and the image's animation speed. On its
// own thread (asynchronous) the painter only waits and counts: every frame is painted and every paint
// event fired in the main thread through Synchronize. Synchronously it runs inside the draw call and
// keeps the thread's message queue served while it waits between frames.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "uithreads.h"

namespace ui {
class TCanvas;
class TBitmap;
}  // namespace ui
class TGIFImage;

// TGIFImage::DrawOptions bits.
enum : uint16_t {
  goAsync = 0x0001,          // the painter runs on its own thread
  goTransparent = 0x0002,    // the image shows what lay under it where no frame paints
  goAnimate = 0x0004,        // play the frames in turn; else only one frame is drawn
  goLoop = 0x0008,           // play again after the last frame (with goAnimate)
  goLoopForever = 0x0010,    // ignore the loop count
  goValidateCanvas = 0x0020, // stop as soon as the canvas's device context is no longer valid
  goDirectDraw = 0x0040,     // paint on the caller's canvas instead of the image's own bitmap
  goClearOnLoop = 0x0080,    // clear the screen before each pass after the first
  goTile = 0x0100,           // repeat the image over the rectangle at its own size instead of stretching
  goDither = 0x0200,         // drawn dithered to the 216-colour cube
  goAutoDither = 0x0400,     // with goDither: only when the screen is paletted
};

// Frame delays are in hundredths of a second.
constexpr int GIFDelayScale = 10;       // milliseconds per delay unit
constexpr int GIFDefaultDelay = 10;     // units, for frames without a delay
constexpr int GIFMinimumDelay = 3;      // units
constexpr int GIFMaximumDelay = 1000;   // units, synchronous painting only

// Milliseconds to wait for a frame of `units` delay units at `speed` percent (above 0), taking off half
// of `lateMs`, how late the previous frame came against its own wait.
int GIFFrameWait(int units, int64_t lateMs, int speed);

class TGIFPainter : public ui::TThread {
  UI_DECLARE_CLASS(TGIFPainter, ui::TThread)
 public:
  // Made suspended, in the main thread; with goAsync it runs on its own thread, else RunHere plays
  // it. `ref`, when given, is cleared when the painter ends.
  TGIFPainter(TGIFImage* image, uint16_t drawOptions, const RECT& rect, ui::TCanvas* canvas,
              TGIFPainter** ref = nullptr);
  ~TGIFPainter() override;
  // Starts the thread of an asynchronous painter.
  void Launch();
  // Ends painting at the next check; an asynchronous painter is woken from its wait.
  void StopPainting();
  // The frame being shown, -1 when idle. An after-paint handler may set the next frame to show.
  int ActiveFrame() const { return activeFrame_; }
  void SetActiveFrame(int frame) { activeFrame_ = frame; }
  uint16_t DrawOptions() const { return options_; }
  ui::TCanvas* Canvas() const { return canvas_; }
  const RECT& Rect() const { return rect_; }
  bool Asynchronous() const { return event_ != nullptr; }
  // A frame has been painted.
  bool Started() const { return started_; }
  // Runs the whole animation in the calling thread (synchronous painting); the painter stays the
  // caller's to free.
  void RunHere() { Execute(); }
  // The painter's thread waits while the main thread paints a frame or runs one of its events for it.
  bool InMainThreadCall() const { return inMainCall_; }

  ui::TNotifyEvent PaintStartEvent, PaintEvent, AfterPaintEvent, LoopEvent, PaintEndEvent;

 protected:
  void Execute() override;

 private:
  // What the painter's own thread needs of a frame, read under the painter list's lock: frames may
  // change or go whenever that lock is free.
  struct TFrameFacts {
    bool Present = false;   // the index names a frame
    bool Empty = true;
    int Delay = 0;          // delay units, 0 without a graphic control extension
    bool HasLoop = false;   // a loop-count extension
    int Loops = 0;
  };
  TFrameFacts Facts(int frame);
  // The image still holds the painter (it lets go of its painters when it is freed).
  bool Attached();
  // Called by the image being freed, under the painter list's lock: the painter forgets the image and
  // the owner's reference, and ends without touching either again.
  void Detach();
  // Runs `call` in the main thread (or at once when painting synchronously).
  void CallMain(const std::function<void()>& call);
  void Fire(const ui::TNotifyEvent& e);
  void Pause(int units, DWORD& started, int& previousWait);
  void PaintFrame();
  void ApplyDisposal();
  void Present();

  friend class TGIFImage;
  // The image's painter list, shared so that its lock outlives an image freed while the painter runs.
  std::shared_ptr<ui::TThreadList> list_;
  TGIFImage* image_;  // null once the image has let go; read and cleared under list_'s lock
  ui::TCanvas* canvas_;
  RECT rect_;
  uint16_t options_;
  int speed_;
  volatile int activeFrame_ = -1;
  volatile bool started_ = false;
  TGIFPainter** ref_;
  HANDLE event_ = nullptr;  // auto-reset; signalled by StopPainting
  HDC validDC_ = nullptr;
  int width_ = 0, height_ = 0;
  // The picture as shown (BGR rows of the logical screen), what lies beneath the image, and the copy
  // a restore-to-previous frame returns to.
  std::vector<uint8_t> screen_, backdrop_, saved_;
  // The area and disposal of the frame painted last (its area clipped to the screen); a copy, so that
  // nothing refers to a frame that may have gone since.
  RECT lastArea_ = {0, 0, 0, 0};
  int lastDisposal_ = 0;
  bool clearNext_ = false;
  volatile bool inMainCall_ = false;
};
