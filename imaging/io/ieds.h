// TIEDirectShow, the video object of the input/output component: it would hold a DirectShow graph
// rendering windowless into an image view. This library builds no graph, so the object stays
// disconnected: it keeps its notification window and flags, and its forwarding calls do nothing.
#pragma once
#include <windows.h>

class TIEDirectShow {
 public:
  TIEDirectShow();
  ~TIEDirectShow();
  TIEDirectShow(const TIEDirectShow&) = delete;
  TIEDirectShow& operator=(const TIEDirectShow&) = delete;

  bool Connected() const { return false; }  // no graph is ever built
  int GetGraphState() const { return 0; }    // 0 stopped, 1 paused, 2 running
  // Where new-frame and graph-event notices go (posted with this object as lParam).
  void SetNotifyWindow(HWND window, UINT newFrameMessage, UINT eventMessage);
  HWND GetNotifyWindow() const { return NotifyWindow; }
  // Forwarded to the windowless renderer; without one they leave their arguments alone.
  void SetVideoPosition(const RECT& source, const RECT& destination);
  void GetNativeVideoSize(int& width, int& height);
  void RepaintVideo(HWND window, HDC dc);

  bool RenderIntoView = false;  // the video is drawn in the view's current layer
  bool NewFrame = true;         // a frame may be announced (cleared while the view handles one)

 private:
  bool OleStarted = false;
  HWND NotifyWindow = nullptr;
  UINT NewFrameMessage = 0, EventMessage = 0;
};
