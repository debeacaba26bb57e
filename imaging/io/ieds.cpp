#include "ieds.h"

#include <ole2.h>

TIEDirectShow::TIEDirectShow() { OleStarted = SUCCEEDED(OleInitialize(nullptr)); }

TIEDirectShow::~TIEDirectShow() {
  if (OleStarted) OleUninitialize();
}

void TIEDirectShow::SetNotifyWindow(HWND window, UINT newFrameMessage, UINT eventMessage) {
  NotifyWindow = window;
  NewFrameMessage = newFrameMessage;
  EventMessage = eventMessage;
}

void TIEDirectShow::SetVideoPosition(const RECT&, const RECT&) {}
void TIEDirectShow::GetNativeVideoSize(int&, int&) {}
void TIEDirectShow::RepaintVideo(HWND, HDC) {}
