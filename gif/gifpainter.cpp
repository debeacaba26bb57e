#include "gifpainter.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

#include "gifcolorreduction.h"
#include "gifextension.h"
#include "gifgraphic.h"
#include "gifimage.h"
#include "uibitmap.h"

UI_IMPLEMENT_CLASS(TGIFPainter, ui::TThread, nullptr, nullptr, nullptr, nullptr)

uint16_t GIFDefaultDrawOptions = 0x060F;

namespace {

size_t RowBytes(int width) { return (size_t(width) * 3 + 3) & ~size_t(3); }

// Bytes of the BGR rows of a screen, refused beyond the painting bound before anything is allocated.
size_t ScreenBytes(int width, int height) {
  const uint64_t bytes = uint64_t(RowBytes(width)) * uint64_t(height);
  if (uint64_t(width) * uint64_t(height) > TGIFImage::kMaxPaintPixels || bytes > SIZE_MAX)
    RaiseGIFError("Image too large to paint");
  return size_t(bytes);
}

// Reads the rectangle of a canvas into BGR rows of width x height (stretched, or at its own size from
// the top-left corner when tiling).
std::vector<uint8_t> ReadCanvas(ui::TCanvas* canvas, const RECT& r, int width, int height, bool tile) {
  ui::TBitmap copy;
  copy.SetPixelFormat(ui::pf24bit);
  copy.SetSize(width, height);
  HDC dst = copy.Canvas()->GetHandle();
  canvas->Lock();
  HDC src = canvas->GetHandle();
  if (tile)
    BitBlt(dst, 0, 0, width, height, src, r.left, r.top, SRCCOPY);
  else {
    SetStretchBltMode(dst, COLORONCOLOR);
    StretchBlt(dst, 0, 0, width, height, src, r.left, r.top, r.right - r.left, r.bottom - r.top, SRCCOPY);
  }
  canvas->Unlock();
  GdiFlush();
  std::vector<uint8_t> rows(ScreenBytes(width, height));
  for (int y = 0; y < height; ++y)
    std::memcpy(&rows[RowBytes(width) * size_t(y)], copy.ScanLine(y), size_t(width) * 3);
  return rows;
}

// Holds a thread list's lock for a scope.
class TListLock {
 public:
  explicit TListLock(ui::TThreadList& list) : list_(list), items_(list.LockList()) {}
  ~TListLock() { list_.UnlockList(); }
  TListLock(const TListLock&) = delete;
  TListLock& operator=(const TListLock&) = delete;
  ui::TList* operator->() const { return items_; }

 private:
  ui::TThreadList& list_;
  ui::TList* items_;
};

}  // namespace

int GIFFrameWait(int units, int64_t lateMs, int speed) {
  const int64_t wait = (int64_t(units) * GIFDelayScale - lateMs / 2) * 100 / speed;
  return int(std::min<int64_t>(std::max<int64_t>(wait, INT_MIN), INT_MAX - 1));
}

// --- the painter ---

TGIFPainter::TGIFPainter(TGIFImage* image, uint16_t drawOptions, const RECT& rect, ui::TCanvas* canvas,
                         TGIFPainter** ref)
    : ui::TThread(true),
      PaintStartEvent(image->PaintStartEvent),
      PaintEvent(image->PaintEvent),
      AfterPaintEvent(image->AfterPaintEvent),
      LoopEvent(image->LoopEvent),
      PaintEndEvent(image->PaintEndEvent),
      list_(image->painters_),
      image_(image),
      canvas_(canvas),
      rect_(rect),
      options_(drawOptions),
      speed_(image->AnimationSpeed),
      ref_(ref),
      width_(image->Width()),
      height_(image->Height()) {
  const size_t screenBytes = ScreenBytes(width_, height_);
  if (options_ & goAsync) {
    event_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!event_) ui::RaiseLastOSError();
  }
  if (options_ & goValidateCanvas) validDC_ = canvas_->GetHandle();
  // What shows where no frame has painted: the image's background colour, or with goTransparent
  // whatever the canvas held.
  if (options_ & goTransparent) {
    backdrop_ = ReadCanvas(canvas_, rect_, width_, height_, (options_ & goTile) != 0);
  } else {
    COLORREF bg = GetSysColor(COLOR_WINDOW);
    const TGIFPalette& global = image->GlobalColorMap().Entries();
    if (image->DrawBackgroundColor != ui::clNone) {
      bg = ui::ColorToRGB(image->DrawBackgroundColor);
    } else if (!global.empty()) {
      const size_t i = image->Header().Screen().BackgroundIndex;
      const TGIFColor& c = global[i < global.size() ? i : 0];
      bg = RGB(c.Red, c.Green, c.Blue);
    }
    backdrop_.assign(screenBytes, 0);
    for (int y = 0; y < height_; ++y)
      for (int x = 0; x < width_; ++x) {
        uint8_t* p = &backdrop_[RowBytes(width_) * size_t(y) + size_t(x) * 3];
        p[0] = GetBValue(bg);
        p[1] = GetGValue(bg);
        p[2] = GetRValue(bg);
      }
  }
}

TGIFPainter::~TGIFPainter() {
  if (event_) CloseHandle(event_);
  // Last of all: once off the list the image may go at any moment. An image freed already has taken
  // the painter off its list and forgotten it.
  TListLock list(*list_);
  if (!image_) return;
  if (ref_ && *ref_ == this) *ref_ = nullptr;
  list->Remove(this);
}

bool TGIFPainter::Attached() {
  TListLock list(*list_);
  return image_ != nullptr;
}

void TGIFPainter::Detach() {
  image_ = nullptr;
  ref_ = nullptr;
  Terminate();
}

void TGIFPainter::Launch() {
  if (Asynchronous()) Resume();
}

void TGIFPainter::StopPainting() {
  Terminate();
  if (Asynchronous()) {
    SetEvent(event_);
    // The thread may be ending already: a refusal here changes nothing.
    SetThreadPriority(Handle(), THREAD_PRIORITY_NORMAL);
    Resume();
  }
}

void TGIFPainter::CallMain(const std::function<void()>& call) {
  if (!Asynchronous()) {
    call();
    return;
  }
  Synchronize(ui::TThreadMethod([this, &call] {
    inMainCall_ = true;
    try {
      call();
    } catch (...) {
      inMainCall_ = false;
      throw;
    }
    inMainCall_ = false;
  }));
}

void TGIFPainter::Fire(const ui::TNotifyEvent& e) {
  // Asked in the main thread, where the image is freed: a painter whose image is gone is silent.
  if (e) CallMain([this, &e] {
    if (Attached()) e(this);
  });
}

TGIFPainter::TFrameFacts TGIFPainter::Facts(int index) {
  TFrameFacts facts;
  TListLock lock(*list_);
  if (!image_) return facts;
  TGIFImageList& frames = image_->Images();
  if (index < 0 || index >= frames.Count()) return facts;
  TGIFSubImage& frame = frames[index];
  facts.Present = true;
  facts.Empty = frame.Empty();
  if (const TGIFGraphicControlExtension* gce = frame.GraphicControlExtension()) facts.Delay = gce->Delay();
  for (const auto& extension : frame.Extensions())
    if (auto* loop = dynamic_cast<const TGIFAppExtNSLoop*>(extension.get())) {
      facts.HasLoop = true;
      facts.Loops = loop->Loops;
      break;
    }
  return facts;
}

// Waits `units` delay units from the previous frame's start `started`, less half of how late that frame
// was against its computed wait `previousWait` (ms).
void TGIFPainter::Pause(int units, DWORD& started, int& previousWait) {
  if (units <= 0) {
    Sleep(0);
    return;
  }
  const DWORD now = GetTickCount();
  int64_t wait;
  if (speed_ > 0) {
    wait = GIFFrameWait(units, int64_t(now - started) - previousWait, speed_);
    previousWait = int(wait);
  } else {
    wait = Asynchronous() ? -1 : int64_t(GIFMaximumDelay) * GIFDelayScale;
    previousWait = 0;
  }
  started = now;
  if (Asynchronous()) {
    if (wait > 0 || speed_ <= 0) {
      if (WaitForSingleObject(event_, wait < 0 ? INFINITE : DWORD(wait)) == WAIT_OBJECT_0) {
        previousWait = 0;
        started = GetTickCount();
      }
    }
    return;
  }
  // In the caller's thread: keep its messages flowing while the time passes.
  int64_t left = std::max<int64_t>(wait, 1);
  while (left > 0 && !Terminated()) {
    const DWORD before = GetTickCount();
    Sleep(DWORD(std::min<int64_t>(left, 100)));
    left -= std::max<int64_t>(int64_t(GetTickCount() - before), 1);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        // The program is ending: the quit stays for the loop that waits for it, and we stop.
        PostQuitMessage(int(msg.wParam));
        Terminate();
        break;
      }
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
}

void TGIFPainter::ApplyDisposal() {
  if (lastDisposal_ == 3) {
    if (saved_.size() == screen_.size()) screen_ = saved_;
    return;
  }
  if (lastDisposal_ != 2 || lastArea_.right <= lastArea_.left) return;
  const size_t stride = RowBytes(width_);
  for (int y = lastArea_.top; y < lastArea_.bottom; ++y)
    std::memcpy(&screen_[stride * size_t(y) + size_t(lastArea_.left) * 3],
                &backdrop_[stride * size_t(y) + size_t(lastArea_.left) * 3], size_t(lastArea_.right - lastArea_.left) * 3);
}

// Paints the active frame over what the previous one left (its disposal applied) and shows the
// result. In the main thread when the painter has a thread of its own; the frames are read under the
// painter list's lock, and an active frame that is gone by now paints nothing.
void TGIFPainter::PaintFrame() {
  if (Terminated()) return;
  if ((options_ & goValidateCanvas) && (!validDC_ || GetObjectType(validDC_) == 0)) {
    Terminate();
    return;
  }
  {
    TListLock lock(*list_);
    if (!image_) return;
    const int index = activeFrame_;
    if (index < 0 || index >= image_->Images().Count()) return;
    if (clearNext_ || screen_.empty()) {
      screen_ = backdrop_;
      lastDisposal_ = 0;
      clearNext_ = false;
    }
    ApplyDisposal();
    TGIFSubImage& frame = image_->Images()[index];
    const TGIFGraphicControlExtension* gce = frame.GraphicControlExtension();
    const int disposal = gce ? gce->Disposal() : 0;
    if (disposal == 3) saved_ = screen_;
    const int transparent = frame.Transparent() && gce ? gce->TransparentColorIndex() : -1;
    const TGIFPalette& colors = frame.ActiveColorMap().Entries();
    const int left = std::min(width_, frame.Left()), top = std::min(height_, frame.Top());
    const int right = std::min(width_, frame.Left() + frame.Width());
    const int bottom = std::min(height_, frame.Top() + frame.Height());
    const size_t stride = RowBytes(width_);
    if (!colors.empty() && frame.Pixels().size() >= size_t(frame.Width()) * size_t(frame.Height())) {
      for (int y = top; y < bottom; ++y) {
        const uint8_t* src = frame.Pixels().data() + size_t(y - frame.Top()) * size_t(frame.Width());
        uint8_t* dst = &screen_[stride * size_t(y)];
        for (int x = left; x < right; ++x) {
          const uint8_t colorIndex = src[x - frame.Left()];
          if (colorIndex == transparent) continue;
          const TGIFColor& c = colors[colorIndex < colors.size() ? colorIndex : 0];
          uint8_t* p = dst + size_t(x) * 3;
          p[0] = c.Blue;
          p[1] = c.Green;
          p[2] = c.Red;
        }
      }
    }
    lastArea_ = RECT{left, top, std::max(left, right), std::max(top, bottom)};
    lastDisposal_ = disposal;
  }
  Present();
  started_ = true;
}

// Copies the screen to the canvas: stretched over the rectangle, or tiled at the image's size.
void TGIFPainter::Present() {
  const bool dither = GIFDitherWanted(options_);
  std::vector<uint8_t> dithered;
  if (dither) {
    dithered = screen_;
    DitherToWebSafe(dithered.data(), RowBytes(width_), width_, height_, nullptr);
  }
  const uint8_t* rows = dither ? dithered.data() : screen_.data();
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width_;
  info.bmiHeader.biHeight = -height_;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  canvas_->Lock();
  HDC dc = canvas_->GetHandle();
  const int saved = SaveDC(dc);
  IntersectClipRect(dc, rect_.left, rect_.top, rect_.right, rect_.bottom);
  HPALETTE cube = dither ? GIFMakePalette(CreateWebSafePalette()) : nullptr;
  if (cube) {
    SelectPalette(dc, cube, FALSE);
    RealizePalette(dc);
  }
  SetStretchBltMode(dc, COLORONCOLOR);
  if (options_ & goTile) {
    ForEachTile(dc, rect_, width_, height_, [&](int x, int y) {
      StretchDIBits(dc, x, y, width_, height_, 0, 0, width_, height_, rows, &info, DIB_RGB_COLORS, SRCCOPY);
    });
  } else {
    StretchDIBits(dc, rect_.left, rect_.top, rect_.right - rect_.left, rect_.bottom - rect_.top, 0, 0, width_,
                  height_, rows, &info, DIB_RGB_COLORS, SRCCOPY);
  }
  RestoreDC(dc, saved);
  if (cube) DeleteObject(cube);
  GdiFlush();
  canvas_->Unlock();
}

void TGIFPainter::Execute() {
  std::exception_ptr failure;
  try {
    const bool async = Asynchronous();
    activeFrame_ = 0;
    Fire(PaintStartEvent);
    int loops = 1, loopPoint = 0;
    bool loopSeen = false;
    int wait = async ? 0 : 1;  // units before the next frame: on a thread the first shows at once
    DWORD started = GetTickCount();
    int previousWait = 0;
    do {
      activeFrame_ = loopPoint;
      if (started_) {
        Fire(LoopEvent);
        if (options_ & goClearOnLoop) clearNext_ = true;
      }
      // No frame is held between the steps below: each looks its frame up again, since the frames
      // may change whenever the painter waits or an event runs.
      for (bool first = true; !Terminated() && (first || (options_ & goAnimate)); first = false) {
        const int index = activeFrame_;
        TFrameFacts facts = Facts(index);
        if (!facts.Present || facts.Empty) break;
        Pause(wait, started, previousWait);
        if (Terminated()) break;
        Fire(PaintEvent);
        if (Terminated()) break;
        facts = Facts(activeFrame_);
        if (!facts.Present) break;
        if (facts.HasLoop && !loopSeen) {
          loopSeen = true;
          loops = facts.Loops;
          if ((async && loops == 0) || (options_ & goLoopForever)) loops = -1;  // endless
          loopPoint = activeFrame_;
        }
        CallMain([this] { PaintFrame(); });
        if (Terminated()) break;
        wait = facts.Delay > 0 ? facts.Delay : GIFDefaultDelay;
        wait = std::max(wait, GIFMinimumDelay);
        if (!async) wait = std::min(wait, GIFMaximumDelay);
        const int shown = activeFrame_;
        Fire(AfterPaintEvent);
        if (activeFrame_ == shown) activeFrame_ = shown + 1;
      }
      if (loops > 0) --loops;
    } while (!Terminated() && (options_ & goAnimate) && (options_ & goLoop) &&
             (loops != 0 || (options_ & goLoopForever)));
  } catch (...) {
    failure = std::current_exception();
    Terminate();
  }
  activeFrame_ = -1;
  try {
    Fire(PaintEndEvent);
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  if (!failure) return;
  if (!Asynchronous()) std::rethrow_exception(failure);
  // Nobody waits for a painter thread's result: the failure goes to the image's warnings.
  std::string message = "Animation stopped";
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& e) {
    message += ": ";
    message += e.what();
  } catch (...) {
  }
  try {
    Synchronize(ui::TThreadMethod([this, &message] {
      if (Attached()) image_->ReportWarning(this, 2, message);
    }));
  } catch (...) {
  }
}

// --- the image's side ---

TGIFPainter* TGIFImage::RunPainter(TGIFPainter*& ref, ui::TCanvas* canvas, uint16_t drawOptions, const RECT& r) {
  ref = nullptr;
  if (frameChanges_ > 0 || Empty() || !PaintableScreen() || Width() <= 0 || Height() <= 0 || r.right <= r.left ||
      r.bottom <= r.top)
    return nullptr;
  if (images_.Count() == 1) drawOptions &= uint16_t(~(goAsync | goAnimate));
  auto* painter = new TGIFPainter(this, drawOptions, r, canvas, &ref);
  ref = painter;
  painters_->Add(painter);
  if (painter->Asynchronous()) {
    painter->FreeOnTerminate = true;
    painter->SetPriority(ThreadPriority);
    return painter;
  }
  // From here on the image may be freed by a paint event: only the painter is touched.
  try {
    painter->RunHere();
  } catch (...) {
    painter->Free();
    throw;
  }
  painter->Free();
  return nullptr;
}

bool TGIFImage::StopPainters(bool all) {
  const std::shared_ptr<bool> alive = alive_;
  const bool mainThread = GetCurrentThreadId() == ui::MainThreadID();
  for (;;) {
    bool waiting = false;
    {
      TListLock list(*painters_);
      for (int i = list->Count() - 1; i >= 0; --i) {
        auto* painter = static_cast<TGIFPainter*>(list->Get(i));
        if (!all && painter != drawPainter_) continue;
        painter->StopPainting();
        // A synchronous painter is further up this thread's stack and ends when control returns to
        // it. A painter whose event handler is the caller cannot end before the handler returns; it
        // finds itself stopped then, and looks at no frame again.
        waiting = waiting || (painter->Asynchronous() && !(mainThread && painter->InMainThreadCall()));
      }
    }
    if (!waiting) break;
    if (mainThread) {
      ui::CheckSynchronize();
      if (!*alive) return false;
    }
    Sleep(0);
  }
  // Every painter left is stopped and paints no more: what Draw's painter painted into goes, so that
  // the next draw plays again rather than show a picture nobody updates.
  ui::FreeAndNil(animation_);
  return true;
}

void TGIFImage::HaltOwnPainter() {
  if (!StopPainters(false)) RaiseGIFError("Image freed while its painter stopped");
}

void TGIFImage::HaltAllPainters() {
  if (!StopPainters(true)) RaiseGIFError("Image freed while its painters stopped");
}

TGIFImage::TFrameChange::TFrameChange(TGIFImage* image) : image_(image) {
  if (!image_) return;
  // Once the lock is ours, a count above 0 can only be a change of this thread further up the stack.
  image_->painters_->LockList();
  if (image_->frameChanges_ == 0) {
    // Painters end only while their list is free.
    image_->painters_->UnlockList();
    image_->HaltAllPainters();
    image_->painters_->LockList();
    ui::FreeAndNil(image_->composite_);
  }
  // A painter started now would wait for the lock, and a draw that waits for its first frame with it.
  ++image_->frameChanges_;
}

TGIFImage::TFrameChange::~TFrameChange() {
  if (!image_) return;
  if (--image_->frameChanges_ == 0) {
    ui::FreeAndNil(image_->composite_);
    image_->DropPalettes();
  }
  image_->painters_->UnlockList();
}

int TGIFImage::PainterCount() { return TListLock(*painters_)->Count(); }

void TGIFImage::DrawTiled(ui::TCanvas* canvas, const RECT& r, ui::TBitmap* bitmap) {
  if (!(DrawOptions & goTile)) {
    bitmap->Draw(canvas, r);
    return;
  }
  canvas->Lock();
  HDC dc = canvas->GetHandle();
  const int saved = SaveDC(dc);
  IntersectClipRect(dc, r.left, r.top, r.right, r.bottom);
  ForEachTile(dc, r, Width(), Height(),
              [&](int x, int y) { bitmap->Draw(canvas, RECT{x, y, x + Width(), y + Height()}); });
  RestoreDC(dc, saved);
  canvas->Unlock();
}

void TGIFImage::Draw(ui::TCanvas* canvas, const RECT& r) {
  if (drawing_ || Empty() || Width() <= 0 || Height() <= 0) return;
  if (frameChanges_ > 0) {
    // No painter may start now; the still picture made during the change (a load makes it as soon as
    // frame 0 is read, with GIFBuildBitmapsOnLoad) is what there is to show.
    if (composite_) DrawTiled(canvas, r, composite_);
    return;
  }
  // A paint event run by this draw may free the image: then nothing of it is touched any more.
  const std::shared_ptr<bool> alive = alive_;
  drawing_ = true;
  try {
    const uint16_t options = DrawOptions;
    if (images_.Count() == 1 || !(options & goAnimate) || !PaintableScreen()) {
      const int still = ForceFrame >= 0 && ForceFrame < images_.Count() ? ForceFrame : 0;
      images_[still].DrawInto(canvas, r, (options & goTile) != 0, (options & goTransparent) != 0);
    } else if (!animation_ || (options & goDirectDraw)) {
      DrawAnimated(canvas, r, alive);
    } else {
      DrawTiled(canvas, r, animation_);
    }
  } catch (...) {
    if (*alive) drawing_ = false;
    throw;
  }
  if (*alive) drawing_ = false;
}

void TGIFImage::DrawAnimated(ui::TCanvas* canvas, const RECT& r, const std::shared_ptr<bool>& alive) {
  const uint16_t options = DrawOptions;
  bool same;
  {
    TListLock list(*painters_);
    const TGIFPainter* running = drawPainter_;
    same = running && !running->Terminated() && running->Canvas() == canvas && EqualRect(&running->Rect(), &r);
  }
  if (same) return;
  if (!StopPainters(false)) return;
  ui::TCanvas* target = canvas;
  RECT area = r;
  if (!(options & goDirectDraw)) {
    // The painter paints into a bitmap of the image's size that starts as what lies under it.
    animation_ = new ui::TBitmap;
    animation_->SetPixelFormat(ui::pf24bit);
    animation_->SetSize(Width(), Height());
    HDC dc = animation_->Canvas()->GetHandle();
    canvas->Lock();
    if (options & goTile) {
      BitBlt(dc, 0, 0, Width(), Height(), canvas->GetHandle(), r.left, r.top, SRCCOPY);
    } else {
      SetStretchBltMode(dc, COLORONCOLOR);
      StretchBlt(dc, 0, 0, Width(), Height(), canvas->GetHandle(), r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SRCCOPY);
    }
    canvas->Unlock();
    target = animation_->Canvas();
    area = RECT{0, 0, Width(), Height()};
  }
  TGIFPainter* painter = RunPainter(drawPainter_, target, uint16_t(options & ~goTile), area);
  if (!*alive) return;
  if (painter) painter->Launch();
  if (options & goDirectDraw) return;
  // Show the first frame now: wait until the painter has painted it (or has ended).
  for (;;) {
    bool wait;
    {
      TListLock list(*painters_);
      wait = drawPainter_ && !drawPainter_->Started();
    }
    if (!wait) break;
    if (GetCurrentThreadId() != ui::MainThreadID()) {
      Sleep(0);
    } else {
      const bool served = ui::CheckSynchronize();
      if (!*alive) return;
      if (!served) Sleep(0);
    }
  }
  if (animation_) DrawTiled(canvas, r, animation_);
}
