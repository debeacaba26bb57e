// The DirectShow side of a TImageryIO: the interfaces of a video graph and the windowless-rendering
// calls the image view forwards to it. This library builds no graph, so the object stays
// disconnected and every forwarding call finds nothing to forward to.
#pragma once
#include <windows.h>
#include <control.h>
#include <strmif.h>

#include <cstdint>

class TIEDirectShow {
 public:
  TIEDirectShow();
  ~TIEDirectShow();
  TIEDirectShow(const TIEDirectShow&) = delete;
  TIEDirectShow& operator=(const TIEDirectShow&) = delete;

  bool Connected() const { return Graph_ != nullptr; }
  // Stops a running or paused graph and releases every interface taken from it.
  void Disconnect();
  // 0 stopped, 1 paused, 2 running (the media control's state within 100 ms); 0 without one.
  uint8_t GetGraphState();
  // Stores the window and its two messages; a connected graph with a media event interface posts
  // its events there.
  void SetNotifyWindow(HWND window, UINT newFrameMessage, UINT graphEventMessage);
  // Forwarded to the windowless renderer when there is one, else nothing (out arguments untouched).
  void SetVideoPosition(const RECT& source, const RECT& dest);
  void GetNativeVideoSize(int& width, int& height);
  void RepaintVideo(HWND window, HDC dc);

  HWND GetNotifyWindow() const { return NotifyWindow; }

  HWND NotifyWindow = nullptr;
  UINT NewFrameMessage = 0;
  UINT GraphEventMessage = 0;
  bool RenderIntoView = false;  // the video is drawn in the view's current layer
  bool NewFrame = true;         // a frame may be announced (cleared while the view handles one)

 private:
  bool OleInitialized_ = false;
  IGraphBuilder* Graph_ = nullptr;
  IMediaControl* MediaControl_ = nullptr;
  IMediaEventEx* MediaEvent_ = nullptr;
  IVMRWindowlessControl* Windowless_ = nullptr;
};
