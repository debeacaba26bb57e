// DirectShow forwarding: each call checks the interface it needs.
#include "ieds.h"

namespace {

template <typename T>
void ReleaseAndClear(T*& p) {
  if (p) p->Release();
  p = nullptr;
}

}  // namespace

TIEDirectShow::TIEDirectShow() { OleInitialized_ = SUCCEEDED(OleInitialize(nullptr)); }

TIEDirectShow::~TIEDirectShow() {
  Disconnect();
  if (OleInitialized_) OleUninitialize();
}

uint8_t TIEDirectShow::GetGraphState() {
  if (!MediaControl_) return 0;
  OAFilterState state = State_Stopped;
  MediaControl_->GetState(100, &state);
  return state == State_Running ? 2 : state == State_Paused ? 1 : 0;
}

void TIEDirectShow::Disconnect() {
  if (MediaControl_ && GetGraphState() != 0) MediaControl_->Stop();
  ReleaseAndClear(Windowless_);
  ReleaseAndClear(MediaEvent_);
  ReleaseAndClear(MediaControl_);
  ReleaseAndClear(Graph_);
}

void TIEDirectShow::SetNotifyWindow(HWND window, UINT newFrameMessage, UINT graphEventMessage) {
  NotifyWindow = window;
  NewFrameMessage = newFrameMessage;
  GraphEventMessage = graphEventMessage;
  if (Connected() && MediaEvent_)
    MediaEvent_->SetNotifyWindow(reinterpret_cast<OAHWND>(window), long(graphEventMessage),
                                 reinterpret_cast<LONG_PTR>(this));
}

void TIEDirectShow::SetVideoPosition(const RECT& source, const RECT& dest) {
  if (!Windowless_) return;
  RECT s = source, d = dest;  // the platform declares them writable
  Windowless_->SetVideoPosition(&s, &d);
}

void TIEDirectShow::GetNativeVideoSize(int& width, int& height) {
  if (!Windowless_) return;
  LONG w = 0, h = 0;
  if (SUCCEEDED(Windowless_->GetNativeVideoSize(&w, &h, nullptr, nullptr))) {
    width = int(w);
    height = int(h);
  }
}

void TIEDirectShow::RepaintVideo(HWND window, HDC dc) {
  if (Windowless_) Windowless_->RepaintVideo(window, dc);
}
