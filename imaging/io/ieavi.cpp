// TImageryIO's AVI members: the first video stream of a file read frame by frame through the
// platform's AVI library and its default frame decoder.
#include "ieavi.h"

#include <windows.h>
#include <vfw.h>

#include <climits>

#include "iedibbitmap.h"
#include "iedibroutines.h"
#include "imageryio.h"

bool IEAVIFileInitialized = false;

void IEAVIFileEnsureInit() {
  if (IEAVIFileInitialized) return;
  AVIFileInit();
  IEAVIFileInitialized = true;
}

void IEAVIFileFini() {
  if (!IEAVIFileInitialized) return;
  AVIFileExit();
  IEAVIFileInitialized = false;
}

namespace {

// Milliseconds per frame of a stream running at rate / scale frames per second; 0 when the stream
// states no rate (a zero rate or scale).
int FrameDelay(uint32_t rate, uint32_t scale) {
  if (rate == 0 || scale == 0) return 0;
  const double ms = 1000.0 * double(scale) / double(rate);
  return ms >= double(INT_MAX) ? INT_MAX : int(ms);
}

}  // namespace

void TImageryIO::SetAVIFrameParams() {
  Params.AVIFrameCount = AVILength > uint32_t(INT_MAX) ? INT_MAX : int(AVILength);
  Params.AVIFrameDelay = FrameDelay(AVIRate, AVIScale);
}

int TImageryIO::OpenAVIFile(const std::wstring& fileName) {
  Aborting = false;
  CloseAVIFile();
  Params.AVIFrameCount = 0;
  Params.FileName = fileName;
  Params.FileType = 0;
  IEAVIFileEnsureInit();
  AVISTREAMINFOW info{};
  if (AVIFileOpenW(&AVIFile, fileName.c_str(), OF_READ, nullptr) != 0) AVIFile = nullptr;
  if (AVIFile && AVIFileGetStream(AVIFile, &AVIStream, streamtypeVIDEO, 0) != 0) AVIStream = nullptr;
  if (AVIStream && AVIStreamInfoW(AVIStream, &info, sizeof info) == 0) AVIGetFrame = AVIStreamGetFrameOpen(AVIStream, nullptr);
  if (!AVIGetFrame) {
    if (AVIStream) AVIStreamRelease(AVIStream);
    if (AVIFile) AVIFileRelease(AVIFile);
    AVIStream = nullptr;
    AVIFile = nullptr;
    Aborting = true;
    return 0;
  }
  AVIScale = info.dwScale;
  AVIRate = info.dwRate;
  AVILength = info.dwLength;
  SetAVIFrameParams();
  return Params.AVIFrameCount;
}

void TImageryIO::CloseAVIFile() {
  if (!AVIGetFrame) return;
  AVIStreamGetFrameClose(AVIGetFrame);
  AVIStreamRelease(AVIStream);
  AVIFileRelease(AVIFile);
  AVIGetFrame = nullptr;
  AVIStream = nullptr;
  AVIFile = nullptr;
}

void TImageryIO::LoadAVIFrame(int n) {
  if (RestartAsync([this, n] { LoadAVIFrame(n); })) return;
  if (PrepareBitmap() && AVIGetFrame && n >= 0 && uint32_t(n) < AVILength) {
    Aborting = false;
    void* dib = AVIStreamGetFrame(AVIGetFrame, n);
    TIEDibbitmap frame;
    const int bitCount = dib ? IEDrawDIBToDibbitmap(dib, &frame, nullptr, true) : 0;
    if (bitCount == 0 || !frame.GetBits()) {
      Aborting = true;  // the decoder gave no frame, or one whose header does not hold together
    } else {
      Params.ClearImageInfo();
      SetAVIFrameParams();
      IEBitmap->TakeFromDIB(&frame);
      switch (bitCount) {
        case 1: case 4: case 8: Params.BitsPerSample = bitCount; Params.SamplesPerPixel = 1; break;
        case 15: Params.BitsPerSample = 5; Params.SamplesPerPixel = 3; break;
        default: Params.BitsPerSample = 8; Params.SamplesPerPixel = 3; break;
      }
      Params.SetDpiX(IEDefaultDPIX);
      Params.SetDpiY(IEDefaultDPIY);
      Params.Width = Params.StoredWidth = frame.GetImageWidth();
      Params.Height = Params.StoredHeight = frame.GetImageHeight();
      Params.FreeColorMap();
      UpdateAfterIO();
    }
  }
  DoFinishWork();
}
