// The component's dispatch: extension and type tables, the common load and save wrapper, content
// detection, and the I/O threads of the asynchronous mode.
#include "imageryio.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "bmpfilt.h"
#include "giffilter.h"
#include "iecodeccommon.h"
#include "ieds.h"
#include "iedicom.h"
#include "ieexifglue.h"
#include "ieico.h"
#include "ienetdownload.h"
#include "iej2000.h"
#include "ieview.h"
#include "ieviewservices.h"
#include "iemetafile.h"
#include "iepdf.h"
#include "iepnm.h"
#include "iepsfilt.h"
#include "iepsd.h"
#include "iereplacingfile.h"
#include "ieraw.h"
#include "ierawbitmap.h"
#include "iewbmp.h"
#include "ietextutils.h"
#include "ietwain.h"
#include "iewia.h"
#include "iewic.h"
#include "uigraphics.h"
#include "ietgafil.h"
#include "ieresample.h"
#include "ieresamplers.h"
#include "tifcontainer.h"
#include "tifdecode.h"
#include "tifencode.h"
#include "jpegfilt.h"
#include "pcxfilter.h"
#include "pngfilt.h"
#include "pngfiltw.h"

// One asynchronous run of a component operation on a platform thread. Registered with its owner
// before it starts; removes itself, and frees itself, when the operation has returned.
class TIEIOThread {
 public:
  TIEIOThread(TImageryIO* owner, std::function<void()> job) : owner_(owner), job_(std::move(job)) {}
  bool Start() {
    EnterCriticalSection(&owner_->ThreadLock);
    owner_->Threads.push_back(this);
    ResetEvent(owner_->ThreadEvent);
    LeaveCriticalSection(&owner_->ThreadLock);
    HANDLE h = CreateThread(nullptr, 0, &TIEIOThread::Run, this, 0, nullptr);
    if (!h) {
      Unregister();
      return false;
    }
    CloseHandle(h);
    return true;
  }
  DWORD ThreadID = 0;

 private:
  static DWORD WINAPI Run(LPVOID p) {
    auto* t = static_cast<TIEIOThread*>(p);
    t->ThreadID = GetCurrentThreadId();
    try {
      t->job_();
    } catch (...) {
      t->owner_->Aborting = true;
    }
    t->Unregister();
    return 0;
  }
  void Unregister() {
    TImageryIO* o = owner_;
    EnterCriticalSection(&o->ThreadLock);
    for (auto it = o->Threads.begin(); it != o->Threads.end(); ++it)
      if (*it == this) {
        o->Threads.erase(it);
        break;
      }
    const bool empty = o->Threads.empty();
    delete this;
    if (empty) SetEvent(o->ThreadEvent);
    LeaveCriticalSection(&o->ThreadLock);
  }
  TImageryIO* owner_;
  std::function<void()> job_;
};

namespace {

constexpr int kStreamHeaderSize = 12;

// The NUL-terminated magic of the stream header of a format that has one, else nullptr.
const char* StreamHeaderMagic(TIEFileFormatCode type) {
  switch (type) {
    case iffJPEG: return "JFIF";
    case iffPCX: return "PCX2";
    case iffTIFF: return "TIFF";
    default: return nullptr;
  }
}

std::wstring LowerExtension(const std::wstring& name) {
  const size_t slash = name.find_last_of(L"\\/:");
  const size_t dot = name.rfind(L'.');
  if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash)) return std::wstring();
  std::wstring e = name.substr(dot);
  for (wchar_t& c : e)
    if (c >= L'A' && c <= L'Z') c = wchar_t(c - L'A' + L'a');
  return e;
}

std::string Narrow(const std::wstring& s) {
  std::string r;
  for (wchar_t c : s) r += c < 128 ? char(c) : '?';
  return r;
}

struct TExtensionRoute {
  const wchar_t* ext;
  TIEFileFormatCode type;
};
// Saving by extension: first match wins.
const TExtensionRoute kSaveRoutes[] = {
    {L".jpg", iffJPEG}, {L".jpeg", iffJPEG}, {L".jpe", iffJPEG}, {L".jif", iffJPEG},
    {L".jp2", iffJP2},
    {L".j2k", iffJ2K}, {L".jpc", iffJ2K}, {L".j2c", iffJ2K},
    {L".pcx", iffPCX},
    {L".dcx", iffDCX},
    {L".gif", iffGIF},
    {L".tif", iffTIFF}, {L".tiff", iffTIFF}, {L".fax", iffTIFF}, {L".g3f", iffTIFF}, {L".g3n", iffTIFF},
    {L".png", iffPNG},
    {L".bmp", iffBMP}, {L".dib", iffBMP}, {L".rle", iffBMP},
    {L".tga", iffTGA}, {L".targa", iffTGA}, {L".vda", iffTGA}, {L".icb", iffTGA}, {L".vst", iffTGA}, {L".win", iffTGA},
    {L".pxm", iffPXM}, {L".pbm", iffPXM}, {L".pgm", iffPXM}, {L".ppm", iffPXM},
    {L".ico", iffICO},
    {L".wbmp", iffWBMP},
    {L".ps", iffPS}, {L".eps", iffPS},
    {L".pdf", iffPDF},
    {L".psd", iffPSD},
    {L".hdp", iffHDP}, {L".wdp", iffHDP},
};

// Bytes at the stream's position, the position restored.
bool Peek(TIEStream& s, void* buf, int n) {
  const int64_t pos = s.GetPosition();
  const bool ok = s.Read(buf, n) == n;
  s.SetPosition(pos);
  return ok;
}

}  // namespace

bool IEAVITest(TIEStream& s) {
  uint8_t b[12];
  return Peek(s, b, 12) && std::memcmp(b, "RIFF", 4) == 0 && std::memcmp(b + 8, "AVI ", 4) == 0;
}

bool IECanReadFileType(TIEFileFormatCode t) {
  return t == iffBMP || t == iffTGA || t == iffPCX || t == iffDCX || t == iffJP2 || t == iffJ2K ||
         t == iffJPEG || t == iffGIF || t == iffPNG || t == iffPXM || t == iffWBMP || t == iffRawBitmap ||
         t == iffICO || t == iffCUR || t == iffTIFF || t == iffIEV || t == iffDICOM || t == iffPSD || t == iffRAW ||
         t == iffLYR || t == iffALL || (t == iffHDP && IEWICAvailable());
}
bool IECanWriteFileType(TIEFileFormatCode t) {
  switch (t) {
    case iffHDP: return IEWICHDPEncoderAvailable();  // the component may decode and not encode
    case iffPS: case iffPDF: return true;
    case iffRawBitmap: case iffCUR: case iffIEV: case iffDICOM: case iffRAW: case iffLYR: case iffALL: return false;
    default: return IECanReadFileType(t);
  }
}

TImageryIO::TImageryIO() : Params(this), TWainParams(new TIETWainParams(this)) {
  InitializeCriticalSection(&ThreadLock);
  ThreadEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  IEBitmap = new TIEBitmap();
  OwnsBitmap = true;
  PreviewFont = new ui::TFont();
  FreeNotifier.reset(new TIEFreeNotifier(
      [this](ui::TComponent* c, ui::TOperation op) { HandleFreeNotification(c, op); }));
  // an I/O thread leaves the view to its own thread: the load hands the resolution over at its end
  Params.OwnerViewSource = [this]() -> TIEView* { return InsideIOThread() ? nullptr : AttachedImagery; };
}

TIEWia* TImageryIO::GetWia() {
  if (!Wia) Wia.reset(new TIEWia(this));
  return Wia.get();
}

TIEDirectShow* TImageryIO::GetDirectShow() {
  if (!DirectShow) {
    DirectShow.reset(new TIEDirectShow());
    if (AttachedImagery && AttachedImagery->HasParentWindow())
      DirectShow->SetNotifyWindow(AttachedImagery->GetHandle(), IEM_DSHOWNEWFRAME, IEM_DSHOWGRAPHEVENT);
  }
  return DirectShow.get();
}

TImageryIO::TImageryIO(TIEBitmap* bitmap) : TImageryIO() { AttachBitmap(bitmap); }

TImageryIO::~TImageryIO() {
  WaitForIOThreads(false);
  CloseAVIFile();
  RemoveViewHandler();
  DirectShow.reset();
  Wia.reset();
  CloseHandle(ThreadEvent);
  if (OwnsBitmap) delete IEBitmap;
  PreviewFont->Free();
  DeleteCriticalSection(&ThreadLock);
}

HWND TImageryIO::ViewWindow() const {
  if (!AttachedImagery || !AttachedImagery->HandleAllocated()) return nullptr;
  return AttachedImagery->GetHandle();
}

void TImageryIO::UpdateDShowNotifyWindow() {
  if (DirectShow && AttachedImagery) DirectShow->SetNotifyWindow(ViewWindow(), IEM_DSHOWNEWFRAME, IEM_DSHOWGRAPHEVENT);
}

void TImageryIO::AttachBitmap(TIEBitmap* bitmap) {
  if (!bitmap) return;
  RemoveViewHandler();
  AttachedImagery = nullptr;
  ReplaceBitmap(bitmap);
}

void TImageryIO::RemoveViewHandler() {
  if (AttachedImagery && ViewHandler) AttachedImagery->RemoveBitmapChangeHandler(ViewHandler);
  ViewHandler = nullptr;
}

void TImageryIO::SetAttachedImageryValue(TIEView* view) {
  RemoveViewHandler();
  if (AttachedImagery != view) FreeNotifier->Unwatch(AttachedImagery);
  AttachedImagery = view;
  FreeNotifier->Watch(view);
  TImageLink.Unlink(OwnsBitmap ? IEBitmap : nullptr);
  if (!view) {
    if (!OwnsBitmap) {
      // never keep naming a bitmap the view may free
      IEBitmap = new TIEBitmap();
      OwnsBitmap = true;
    }
    return;
  }
  if (TIEBitmap* b = view->GetPixelBuffer()) {
    if (OwnsBitmap) delete IEBitmap;
    IEBitmap = b;
    OwnsBitmap = false;
  }
  ViewHandler = view->AddBitmapChangeHandler([this](TIEView*, bool destroying) { ViewBitmapChanged(destroying); });
}

namespace {
// File types whose loads keep the image as read: no resolution fitting after them.
bool AdjustsDpiAfterLoad(TIEFileFormatCode type) {
  switch (type) {
    case iffWBMP: case iffDICOM: case iffRawBitmap: case iffWMF: case iffEMF: case iffIEV: case iffLYR: case iffALL:
      return false;
    default:
      return true;
  }
}
}  // namespace

void TImageryIO::FixDefaultDpi() {
  if (Params.DpiX < 2) Params.SetDpiX(IEDefaultDPIX);
  if (Params.DpiY < 2) Params.SetDpiY(IEDefaultDPIY);
}

void TImageryIO::AdjustDPI() {
  if (!PrepareBitmap()) return;
  const int dx = Params.DpiX, dy = Params.DpiY;
  if (dx < 1 || dy < 1 || dx == dy) return;
  int w = Params.Width, h = Params.Height;
  if (w < 1 || h < 1 || IEBitmap->GetImageWidth() < 1 || IEBitmap->GetImageHeight() < 1) return;
  if (h < w) {
    h = int(double(h) / dy * dx);
    Params.SetDpiY(dx);
  } else {
    w = int(double(w) / dx * dy);
    Params.SetDpiX(dy);
  }
  Params.Width = w;
  Params.Height = h;
  if (w < 1 || h < 1) return;
  std::unique_ptr<TIEBitmap> alpha;
  if (IEBitmap->AlphaPresent()) {
    alpha.reset(new TIEBitmap);
    alpha->Assign(IEBitmap->GetAlphaChannel());
  }
  TIEBitmap resized;
  if (FilteredAdjustDPI) {
    TIEBitmap rgb;
    rgb.Assign(IEBitmap);
    rgb.SetPixelFormat(ie24RGB);
    resized.Allocate(w, h, ie24RGB);
    IEResampleRGB24(&rgb, &resized, rfFastLinear, nullptr, nullptr);
  } else {
    resized.Allocate(w, h, IEBitmap->GetPixelFormat());
    IEStretchNearest(IEBitmap, &resized, nullptr, nullptr);
  }
  IEBitmap->Assign(&resized);
  if (alpha) {
    TIEBitmap* a = IEBitmap->GetAlphaChannel();
    a->Allocate(w, h, ie8g);
    IEStretchNearest(alpha.get(), a, nullptr, nullptr);
  }
}

void TImageryIO::ApplyParamsDpiToView() {
  if (AttachedImagery) AttachedImagery->SetDpi(Params.DpiX, Params.DpiY);
}

void TImageryIO::ViewBitmapChanged(bool destroying) {
  if (destroying) {
    // the view frees the registration itself right after this call
    ViewHandler = nullptr;
    AttachedImagery = nullptr;
    NotifyWindow = nullptr;
    if (!OwnsBitmap) {
      IEBitmap = new TIEBitmap();
      OwnsBitmap = true;
    }
    return;
  }
  if (!AttachedImagery) return;
  if (TIEBitmap* b = AttachedImagery->GetPixelBuffer()) {
    if (OwnsBitmap) delete IEBitmap;
    IEBitmap = b;
    OwnsBitmap = false;
  }
  Params.SetDpiX(AttachedImagery->GetDpiX());
  Params.SetDpiY(AttachedImagery->GetDpiY());
}

void TImageryIO::HandleFreeNotification(ui::TComponent* component, ui::TOperation operation) {
  if (operation != ui::opRemove || !component) return;
  if (AttachedImagery && component == AttachedImagery) {
    // told before the view's own farewell through the handler: take the handler back now
    RemoveViewHandler();
    ViewBitmapChanged(true);
  }
  TImageLink.ForgetRemoved(component, IEBitmap);  // the bitmap is left empty
}

bool TImageryIO::InsideIOThread() {
  const DWORD me = GetCurrentThreadId();
  EnterCriticalSection(&ThreadLock);
  bool inside = false;
  for (TIEIOThread* t : Threads)
    if (t->ThreadID == me) inside = true;
  LeaveCriticalSection(&ThreadLock);
  return inside;
}

void TImageryIO::WaitForIOThreads(bool abort) {
  for (;;) {
    EnterCriticalSection(&ThreadLock);
    if (abort) Aborting = true;
    const size_t count = Threads.size();
    LeaveCriticalSection(&ThreadLock);
    if (count == 0) return;
    // a thread may be waiting on a call that this thread's message queue serves: keep serving it
    if (MsgWaitForMultipleObjects(1, &ThreadEvent, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
      MSG m;
      while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
      }
    }
  }
}

bool TImageryIO::RestartAsync(std::function<void()> job) {
  if (OwnsBitmap || !Asynchronous || InsideIOThread()) return false;
  InterlockedExchange(&LastPostedPercent, -1);
  // The thread reports to the attached view's window, whose handle is made here, on the view's own
  // thread, before the thread could need it.
  if (AttachedImagery) NotifyWindow = AttachedImagery->HasParentWindow() ? AttachedImagery->GetHandle() : nullptr;
  auto* t = new TIEIOThread(this, std::move(job));
  if (!t->Start()) Aborting = true;  // the thread object has unregistered and freed itself
  return true;
}

void TImageryIO::DoProgress(void* sender, int per) {
  if (!OnProgress) return;
  if (InsideIOThread()) {
    if (NotifyWindow && InterlockedExchange(&LastPostedPercent, per) != per)
      PostMessageW(NotifyWindow, IEM_PROGRESS, WPARAM(per), 0);
    return;
  }
  OnProgress(sender, per);
}

void TImageryIO::SetBlackWhiteMethod(uint8_t method) {
  BlackWhiteMethod = method;
  if (IEBitmap) IEBitmap->BlackWhiteMethod = method;
}

void TImageryIO::DoFinishWork() {
  DoProgress(this, 100);
  if (!OnFinishWork) return;
  if (InsideIOThread()) {
    if (NotifyWindow) PostMessageW(NotifyWindow, IEM_FINISHWORK, 0, 0);
    return;
  }
  OnFinishWork(this);
}

void TImageryIO::UpdateAfterIO() {
  if (InsideIOThread()) {
    if (NotifyWindow) PostMessageW(NotifyWindow, IEM_UPDATEVIEW, 0, 0);
    return;
  }
  // an I/O thread never touches the view: its posted message has the view update on its own thread
  if (AttachedImagery) {
    AttachedImagery->UpdateView();
    AttachedImagery->ImageChange();
  }
  if (IEBitmap) TImageLink.Changed(IEBitmap);
}

TIECodecProgress TImageryIO::MakeProgress() {
  TIECodecProgress p;
  p.OnProgress = [this](void* s, int per) { DoProgress(s, per); };
  p.Sender = this;
  p.Aborting = &Aborting;
  return p;
}

bool TImageryIO::RunCodec(TIEBitmap* keep, const std::function<void()>& codec) {
  std::unique_ptr<TIEBitmap> before;
  try {
    if (keep) {
      before.reset(new TIEBitmap);
      before->SetMemoryThreshold(keep->GetMemoryThreshold());
      before->Assign(keep);
      if (before->IsEmpty() != keep->IsEmpty()) {
        Aborting = true;  // no room for the copy: the load does not start
        return false;
      }
    }
    codec();
    return true;
  } catch (...) {
    Aborting = true;
  }
  if (keep && before) {
    try {
      if (before->IsEmpty())
        keep->FreeStorage(true);
      else
        keep->Assign(before.get());
    } catch (...) {
      keep->FreeStorage(true);  // never half a picture
    }
  }
  return false;
}

bool TImageryIO::ReadFormat(TIEFileFormatCode type, TIEStream& stream, bool paramsOnly, int64_t dataSize) {
  if (dataSize < 0) dataSize = stream.GetSize() - stream.GetPosition();
  TIECodecProgress progress = MakeProgress();
  if (paramsOnly) progress.OnProgress = nullptr;
  TIEBitmap* alpha = nullptr;
  TIEBitmap scratch;
  TIEBitmap& bmp = paramsOnly ? scratch : *IEBitmap;
  // These readers state the size of what they loaded, and none reads it as a request: a size left
  // at 0 tells a load that yielded nothing even when the bitmap still holds an earlier picture.
  const bool sizeTold = !paramsOnly && (type == iffBMP || type == iffICO || type == iffCUR || type == iffGIF);
  if (sizeTold) Params.Width = Params.Height = 0;
  bool known = true;
  // a load's bitmap loses its alpha channel here, after RunCodec has kept a copy of the whole; the
  // view's pixels stay untouched until a file for its layers has been read
  auto read = [&]() -> bool {
    if (!paramsOnly && (type != iffPSD || !PSDLayersIntoView())) bmp.DiscardAlphaChannel(false);
    switch (type) {
      case iffBMP:
        IEBMPRead(stream, bmp, 0, Params, progress, paramsOnly, false, alpha, !Params.BMPHandleAlpha || paramsOnly);
        break;
      case iffTGA: IETGARead(stream, bmp, Params, progress, paramsOnly, alpha, paramsOnly); break;
      case iffTIFF: IETIFFRead(stream, bmp, Params, progress, paramsOnly); break;
      case iffPCX: IEPCXRead(stream, bmp, Params, dataSize, progress, paramsOnly); break;
      case iffDCX: IEDCXRead(stream, bmp, Params, progress, paramsOnly); break;
      case iffJP2:
      case iffJ2K: IEJ2000Read(stream, bmp, Params, progress, paramsOnly); break;
      case iffJPEG:
        IEJPEGRead(stream, nullptr, bmp, Params, progress, paramsOnly, false, true, false, true, true, -1,
                   Params.IsNativePixelFormat);
        break;
      case iffGIF: {
        if (!paramsOnly) {
          ReadGIF(stream, progress);
          break;
        }
        int frames = 0;
        IEGIFRead(stream, bmp, frames, Params, progress, paramsOnly, alpha, paramsOnly);
        break;
      }
      case iffPNG: IEPNGRead(stream, bmp, Params, progress, paramsOnly); break;
      case iffPXM: IEPNMRead(stream, bmp, Params, progress, paramsOnly); break;
      case iffWBMP: IEWBMPRead(stream, bmp, Params, progress, paramsOnly); break;
      case iffICO: IEICORead(stream, bmp, Params, paramsOnly, progress, alpha, paramsOnly); break;
      case iffCUR: IECURRead(stream, bmp, Params, paramsOnly, progress, alpha, paramsOnly); break;
      case iffHDP: IEHDPRead(stream, bmp, Params, paramsOnly, progress); break;
      case iffWMF:
      case iffEMF:
        if (!paramsOnly) return false;  // loaded by LoadMetafileFile and LoadMetafileStream
        ReadMetafileParams(stream);
        break;
      case iffDICOM: IEDICOMRead(stream, Params, paramsOnly ? nullptr : &bmp, progress, paramsOnly); break;
      case iffRawBitmap:  // the attached bitmap's size and pixel format describe the data
        if (!paramsOnly) IERawBitmapRead(stream, bmp, Params, progress);
        break;
      case iffPSD: ReadPSD(stream, paramsOnly ? nullptr : &bmp, progress); break;
      case iffRAW: IECameraRAWRead(stream, bmp, Params, progress, paramsOnly); break;
      case iffLYR:
      case iffALL: {
        // the layers (and, iffALL, objects) replace those of the attached view (a vector view for
        // iffALL); a component of its own has none to fill
        TIEViewServices* services = IEViewServices();
        if (paramsOnly) {
          if (!services || !services->IsViewStream(type, stream)) Aborting = true;
          break;
        }
        if (InsideIOThread()) {  // the view and its layers belong to the window's thread
          Aborting = true;
          break;
        }
        if (!services || !services->LoadViewStream(AttachedImagery, type, stream)) Aborting = true;
        break;
      }
      default:
        Aborting = true;  // no reader for this format in this library yet
        return false;
    }
    return true;
  };
  if (!RunCodec(paramsOnly ? nullptr : &bmp, [&] { known = read(); })) {
    delete alpha;
    return true;
  }
  if (!known) return false;
  // Some readers end quietly on a file that holds no picture (a GIF whose frames never came, a
  // bitmap 0 pixels wide, an icon directory without entries): a load that leaves no image failed.
  // Layer streams fill the view's layers rather than this bitmap. The bitmap is asked for again: PSD
  // layers that replace a view's may have replaced the layer whose bitmap the read began with.
  if (!paramsOnly && !Aborting && type != iffLYR && type != iffALL &&
      (IEBitmap->IsEmpty() || (sizeTold && (Params.Width <= 0 || Params.Height <= 0))))
    Aborting = true;
  if (alpha) {
    if (!paramsOnly && alpha->GetImageWidth() == bmp.GetImageWidth() && alpha->GetImageHeight() == bmp.GetImageHeight()) {
      alpha->UpdateOpaqueFlag();  // whatever the codec's fills and writes left the flag at
      bmp.AttachAlphaChannel(alpha);
    }
    else
      delete alpha;
  }
  return true;
}

bool TImageryIO::PSDLayersIntoView() {
  // Layers go into an attached view that keeps layers, on the view's own thread only (its layers
  // belong to its window).
  TIEViewServices* services = IEViewServices();
  return services && services->HasLayers(AttachedImagery) && Params.PSDLoadLayers && !InsideIOThread();
}

void TImageryIO::ReadPSD(TIEStream& stream, TIEBitmap* bitmap, TIECodecProgress& progress) {
  TIEViewServices* services = IEViewServices();
  TIEPSDLayerList layers;
  if (bitmap && PSDLayersIntoView()) {
    // The file is read whole before the view changes: a damaged one leaves its layers and pixels as
    // they were. The merged image comes only from a file that delivers no layers.
    TIEBitmap merged;
    IEPSDRead(stream, &merged, Params, progress, true, &layers);
    if (Aborting) return;
    if (Params.PSDReplaceLayers) services->ClearLayers(AttachedImagery);
    if (!layers.empty()) {
      services->AddPSDLayers(AttachedImagery, layers, Params.PSDReplaceLayers, std::max(Params.Width, 1),
                             std::max(Params.Height, 1));
    } else {
      AttachedImagery->GetPixelBuffer()->Assign(&merged);
    }
    return;
  }
  IEPSDRead(stream, bitmap, Params, progress, false, &layers);
  // A single layer read along with the merged image gives the image its transparency, placed at the
  // layer's position.
  if (!bitmap || layers.size() != 1 || Params.ReadThumbnail || !layers[0].Bitmap->AlphaPresent()) return;
  TIEPSDLayer& l = layers[0];
  TIEBitmap* src = l.Bitmap->GetAlphaChannel();
  TIEBitmap* alpha = bitmap->GetAlphaChannel();
  alpha->Fill(0);
  const int w = bitmap->GetImageWidth(), h = bitmap->GetImageHeight();
  for (int y = 0; y < src->GetImageHeight(); ++y) {
    const int ty = y + l.PosY;
    if (ty < 0 || ty >= h) continue;
    const uint8_t* s = src->GetRowAddress(y);
    uint8_t* d = alpha->GetRowAddress(ty);
    for (int x = 0; x < src->GetImageWidth(); ++x) {
      const int tx = x + l.PosX;
      if (tx >= 0 && tx < w) d[tx] = s[x];
    }
  }
}

void TImageryIO::WritePSD(TIEStream& stream, TIECodecProgress& progress) {
  TIEViewServices* services = IEViewServices();
  TIEPSDLayerList layers;
  if (!services || !services->HasLayers(AttachedImagery) || InsideIOThread()) {
    IEPSDWrite(stream, Params, progress, IEBitmap, layers);
    return;
  }
  // Copies of the layers (the writer converts and resizes them) and all of them drawn together.
  TIEBitmap merged;
  services->GetPSDLayers(AttachedImagery, layers, merged);
  IEPSDWrite(stream, Params, progress, &merged, layers);
}

bool TImageryIO::WriteFormat(TIEFileFormatCode type, TIEStream& stream, bool toFile) {
  TIECodecProgress progress = MakeProgress();
  TIEBitmap& bmp = *IEBitmap;
  // the writers encode copies in their own pixel format; the caller's bitmap is never converted
  bool known = true;
  RunCodec(nullptr, [&] {
    switch (type) {
      case iffBMP: IEBMPWrite(stream, bmp, Params, progress, Params.BMPHandleAlpha); break;
      case iffTGA: IETGAWrite(stream, bmp, Params, progress, bmp.AlphaPresent() ? bmp.GetAlphaChannel() : nullptr); break;
      case iffPCX: IEPCXWrite(stream, bmp, Params, progress); break;
      case iffDCX: IEDCXInsertPage(stream, bmp, Params, progress); break;
      case iffJP2: IEJ2000Write(stream, bmp, Params, progress, 0); break;
      case iffJ2K: IEJ2000Write(stream, bmp, Params, progress, 1); break;
      case iffJPEG:
        PatchAPP13Resolution();
        StoreIPTCMarker();
        IEStoreExifMarker(&Params);
        IEStoreXMPMarker(&Params);
        IEJPEGWrite(stream, bmp, Params, progress);
        break;
      case iffGIF: IEGIFWrite(stream, bmp, Params, progress); break;
      case iffPNG: IEPNGWrite(stream, bmp, Params, progress, bmp.AlphaPresent() ? bmp.GetAlphaChannel() : nullptr); break;
      case iffPS: IEPSWrite(stream, bmp, Params, progress); break;
      case iffPDF: IEPDFWrite(stream, bmp, Params, progress); break;
      case iffHDP: IEHDPWrite(stream, bmp, Params, progress); break;
      case iffPSD: WritePSD(stream, progress); break;
      case iffTIFF: IETIFFWrite(stream, false, &bmp, Params, progress); break;
      case iffPXM:
      case iffWBMP:
      case iffICO: {
        const TIEPixelFormat f = bmp.GetPixelFormat();
        const bool keeps48 = type == iffPXM && toFile && f == ieRGB48;
        TIEWriterSource src(bmp, f == ie1g ? ie1g : keeps48 ? ieRGB48 : ie24RGB);
        if (type == iffPXM) {
          IEPNMWrite(stream, *src.get(), Params, progress);
        } else if (type == iffWBMP) {
          IEWBMPWrite(stream, *src.get(), Params, progress);
        } else {  // the leading sizes with a width, each with its depth
          std::vector<TIEICOSize> sizes;
          std::vector<int> bits;
          for (int i = 0; i < kIEICOMaxSizes && Params.ICOSizes[i].Width > 0; ++i) {
            sizes.push_back(Params.ICOSizes[i]);
            bits.push_back(Params.ICOBitCount[i]);
          }
          IEICOWrite(stream, *src.get(), Params, progress, sizes, bits);
        }
        break;
      }
      default:
        Aborting = true;
        known = false;
    }
  });
  return known;
}

void TImageryIO::SaveFile(const std::wstring& fileName, TIEFileFormatCode type) {
  if (RestartAsync([this, fileName, type] { SaveFile(fileName, type); })) return;
  Aborting = true;
  if (!PrepareBitmap()) {
    DoFinishWork();
    return;
  }
  if (!IECanWriteFileType(type)) {
    DoFinishWork();  // no writer: no file is created, the failure stands
    return;
  }
  TIEFinishWorkGuard finish{this};
  // A writer that refuses the image or fails half-way leaves neither a stub nor a broken file.
  TIEReplacingFileStream file(fileName);
  Aborting = false;
  WriteFormat(type, file, true);
  if (!Aborting) file.Commit();
  Params.FileName = fileName;
  Params.FileType = type;
}

int TImageryIO::LoadFile(const std::wstring& fileName, TIEFileFormatCode type) {
  if (type == iffRAW && RawHandOverType()) {
    LoadAsFileType(fileName, RawHandOverType());
    return Params.ImageCount;
  }
  if (RestartAsync([this, fileName, type] { LoadFile(fileName, type); })) return -1;
  Aborting = true;
  if (!PrepareBitmap()) {
    DoFinishWork();
    return 0;
  }
  TIEFinishWorkGuard finish{this};
  if (type == iffIEV || type == iffLYR || type == iffALL) {
    LoadViewFile(fileName, type);
    return 0;
  }
  std::unique_ptr<TIEWideFileStream> file(new TIEWideFileStream(fileName, fmOpenRead | fmShareDenyWrite));  // read, deny write
  Aborting = false;
  TIEBufferedReadStream buffered(*file, 8192, false);
  Params.ClearImageInfo();
  if (type == iffPNG) Params.PNGBackground = IEColorToRGB(GetBackground());  // a file without bKGD keeps it
  ReadFormat(type, buffered, false);
  TakeLoadedBackground(type);
  FixDefaultDpi();
  if (AutoAdjustDPI && !Aborting && AdjustsDpiAfterLoad(type)) AdjustDPI();
  Params.FileName = fileName;
  Params.FileType = type;
  if (!Aborting) ApplyParamsDpiToView();
  UpdateAfterIO();
  return Params.ImageCount;
}

int TImageryIO::LoadStream(TIEStream& stream, TIEFileFormatCode type) {
  TIEStream* s = &stream;
  if (RestartAsync([this, s, type] { LoadStream(*s, type); })) return -1;
  return LoadStreamWork(stream, type);
}

int TImageryIO::LoadStreamWork(TIEStream& stream, TIEFileFormatCode type) {
  if (type == iffRAW && RawHandOverType()) {
    LoadStreamAsFileType(stream, RawHandOverType());
    return Params.ImageCount;
  }
  Aborting = false;
  if (!PrepareBitmap()) {
    DoFinishWork();
    return 0;
  }
  TIEFinishWorkGuard finish{this};
  if (type == iffIEV) {  // only into an attached vector view
    Params.ClearImageInfo();
    TIEViewServices* services = IEViewServices();
    RunCodec(nullptr, [&] { Aborting = !services || !services->LoadViewStream(AttachedImagery, type, stream); });
    Params.FileType = type;
    return 0;
  }
  int64_t dataSize = -1, dataStart = -1;
  // a JPEG stream may carry its header whatever StreamHeaders says; a TIFF stream carries it when asked
  if (type == iffJPEG || (type == iffTIFF && StreamHeaders)) {
    const int64_t start = stream.GetPosition();
    uint8_t h[kStreamHeaderSize];
    const bool read = stream.Read(h, kStreamHeaderSize) == kStreamHeaderSize;
    if (read && std::memcmp(h, StreamHeaderMagic(type), 5) == 0) {
      dataStart = start + kStreamHeaderSize;
      dataSize = IEReadU32LE(h + 8);
    } else if (type == iffTIFF) {
      Aborting = true;
      return 0;
    } else {
      stream.SetPosition(start);
    }
  }
  if (type == iffPCX && StreamHeaders) {
    const int64_t start = stream.GetPosition();
    uint8_t h[kStreamHeaderSize];
    if (stream.Read(h, kStreamHeaderSize) != kStreamHeaderSize || std::memcmp(h, "PCX", 3) != 0) {
      Aborting = true;
      return 0;
    }
    if (std::memcmp(h, "PCX2", 5) == 0) {
      dataStart = start + kStreamHeaderSize;
      dataSize = IEReadU32LE(h + 8);
    } else {  // the older 4-byte header: no length, the image runs to the end
      dataStart = start + 4;
      stream.SetPosition(dataStart);
    }
  }
  // a TIFF behind a header is read on its own, its offsets counting from its first byte
  std::unique_ptr<TIEMemoryStream> tiff;
  if (type == iffTIFF && dataStart >= 0) {
    tiff.reset(new TIEMemoryStream);
    const int64_t n = std::max<int64_t>(0, std::min(dataSize, stream.GetSize() - dataStart));
    tiff->SetSize(n);
    tiff->SetSize(stream.Read(tiff->Memory(), int32_t(n)));
    tiff->SetPosition(0);
  }
  Params.ClearImageInfo();
  ReadFormat(type, tiff ? *tiff : stream, false, type == iffPCX ? dataSize : -1);
  TakeLoadedBackground(type);
  // after the image as the header measures it, never past the end however long it claims to be
  if (dataSize >= 0) stream.SetPosition(std::min(dataStart + dataSize, stream.GetSize()));
  FixDefaultDpi();
  if (AutoAdjustDPI && !Aborting && AdjustsDpiAfterLoad(type)) AdjustDPI();
  Params.FileName.clear();
  Params.FileType = type;
  if (!Aborting) ApplyParamsDpiToView();
  UpdateAfterIO();
  return Params.ImageCount;
}

void TImageryIO::TakeLoadedBackground(TIEFileFormatCode type) {
  // the view's background belongs to the view's thread
  if (Aborting || InsideIOThread()) return;
  if (type == iffPNG) SetBackground(IERGBToColor(Params.PNGBackground));
  if (type == iffGIF)
    SetBackground(IERGBToColor(Params.GIFFlagTranspColor ? Params.GIFTranspColor : Params.GIFBackground));
}

void TImageryIO::SaveByExtension(const std::wstring& fileName) {
  if (fileName.empty()) return;
  const std::wstring ext = LowerExtension(fileName);
  for (const TExtensionRoute& r : kSaveRoutes)
    if (ext == r.ext) {
      SaveFile(fileName, r.type);
      return;
    }
  // an extension only the registry knows: a built-in format is written by its own member, a format
  // added by an application by its write procedure; anything else fails without creating a file
  TIEFileFormatInfo* e = IEFileFormatByExtension(Narrow(ext));
  if (!e || (e->BuiltIn ? !e->CanWrite : !e->WriteProc)) {
    Aborting = true;
    return;
  }
  if (e->BuiltIn) {
    SaveFile(fileName, e->FileType);
    return;
  }
  if (RestartAsync([this, fileName] { SaveByExtension(fileName); })) return;
  Aborting = true;
  if (!PrepareBitmap()) {
    DoFinishWork();
    return;
  }
  TIEFinishWorkGuard finish{this};
  TIEReplacingFileStream file(fileName);
  Aborting = false;
  Params.FileName = fileName;
  Params.FileType = e->FileType;
  TIECodecProgress progress = MakeProgress();
  RunCodec(nullptr, [&] {
    TIEWriterSource src(*IEBitmap, IEBitmap->GetPixelFormat() == ie1g ? ie1g : ie24RGB);
    e->WriteProc(file, *src.get(), Params, progress);
  });
  if (!Aborting) file.Commit();
}

void TImageryIO::LoadByExtension(const std::wstring& fileName) {
  if (!PrepareBitmap()) return;
  if (fileName.empty()) {
    Aborting = true;
    DoFinishWork();
    return;
  }
  if (IEGetURLType(fileName)) {
    DownloadAndLoad(fileName);
    return;
  }
  if (LowerExtension(fileName) == L".avi") {
    // the whole sequence on one thread: the file must stay open while its frame is read
    if (RestartAsync([this, fileName] { LoadByExtension(fileName); })) return;
    OpenAVIFile(fileName);
    if (Aborting) {
      DoFinishWork();
      return;
    }
    LoadAVIFrame(Params.ImageIndex);
    CloseAVIFile();
    Params.FileName = fileName;
    Params.FileType = iffAVI;
    return;
  }
  TIEFileFormatInfo* e = IEFileFormatByExtension(Narrow(LowerExtension(fileName)));
  if (!e) {
    Aborting = true;
    DoFinishWork();
    return;
  }
  LoadAsFileType(fileName, e->FileType);
}

void TImageryIO::LoadByContent(const std::wstring& fileName) {
  const TIEFileFormatCode t = DetectFileType(fileName, false);
  if (t) LoadAsFileType(fileName, t);
  else LoadByExtension(fileName);
}

void TImageryIO::LoadAsFileType(const std::wstring& fileName, TIEFileFormatCode fileType) {
  TIEFileFormatInfo* e = IEFileFormatByType(fileType);
  if (!e) return;
  if (fileType == iffWMF || fileType == iffEMF) {
    LoadMetafileFile(fileName, -1, -1, true);
    return;
  }
  if (e->BuiltIn) {
    if (!IECanReadFileType(fileType)) {
      Aborting = true;  // no reader for this format in this library yet
      DoFinishWork();
      return;
    }
    LoadFile(fileName, fileType);
    return;
  }
  Params.FileName.clear();
  Params.FileType = 0;
  Params.ClearImageInfo();
  if (!e->ReadProc) {
    Aborting = true;
    DoFinishWork();
    return;
  }
  if (RestartAsync([this, fileName, fileType] { LoadAsFileType(fileName, fileType); })) return;
  Aborting = true;
  if (!PrepareBitmap()) return;
  TIEFinishWorkGuard finish{this};
  TIEWideFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
  Aborting = false;
  Params.FileName = fileName;
  Params.FileType = fileType;
  TIECodecProgress progress = MakeProgress();
  RunCodec(IEBitmap, [&] { e->ReadProc(file, *IEBitmap, Params, false, progress); });
  if (AutoAdjustDPI && !Aborting) AdjustDPI();
  UpdateAfterIO();
}

void TImageryIO::LoadStreamByContent(TIEStream& stream) {
  const int64_t pos = stream.GetPosition();
  const TIEFileFormatCode t = DetectStreamType(stream);
  if (!t || !IEFileFormatByType(t)) return;
  stream.SetPosition(pos);
  LoadStreamAsFileType(stream, t);
}

void TImageryIO::LoadStreamAsFileType(TIEStream& stream, TIEFileFormatCode fileType) {
  if (fileType == 0) {
    LoadStreamByContent(stream);
    return;
  }
  TIEFileFormatInfo* e = IEFileFormatByType(fileType);
  if (!e) return;
  if (fileType == iffWMF || fileType == iffEMF) {
    LoadMetafileStream(stream, -1, -1, true);
    return;
  }
  if (e->BuiltIn) {
    if (!IECanReadFileType(fileType)) {
      Aborting = true;
      DoFinishWork();
      return;
    }
    LoadStream(stream, fileType);
    return;
  }
  Params.FileName.clear();
  Params.FileType = 0;
  Params.ClearImageInfo();
  if (!e->ReadProc || !PrepareBitmap()) {
    Aborting = true;
    DoFinishWork();
    return;
  }
  Aborting = false;
  TIECodecProgress progress = MakeProgress();
  RunCodec(IEBitmap, [&] { e->ReadProc(stream, *IEBitmap, Params, false, progress); });
  if (AutoAdjustDPI && !Aborting) AdjustDPI();
  UpdateAfterIO();
  DoFinishWork();
}

void TImageryIO::SaveStreamAsFileType(TIEStream& stream, TIEFileFormatCode fileType) {
  TIEStream* s = &stream;
  if (RestartAsync([this, s, fileType] { SaveStreamAsFileType(*s, fileType); })) return;
  SaveStreamWork(stream, fileType);
}

void TImageryIO::SaveStreamWork(TIEStream& stream, TIEFileFormatCode fileType) {
  Aborting = false;
  if (!PrepareBitmap()) {
    DoFinishWork();
    return;
  }
  TIEFinishWorkGuard finish{this};
  TIEFileFormatInfo* e = IEFileFormatByType(fileType);
  if (e && !e->BuiltIn) {
    if (!e->WriteProc) {
      Aborting = true;
      return;
    }
    Params.FileType = fileType;
    TIECodecProgress progress = MakeProgress();
    RunCodec(nullptr, [&] {
      TIEWriterSource src(*IEBitmap, IEBitmap->GetPixelFormat() == ie1g ? ie1g : ie24RGB);
      e->WriteProc(stream, *src.get(), Params, progress);
    });
    return;
  }
  if (fileType == iffDCX) {
    // one page from the stream's position; what precedes it is the caller's and stays
    stream.SetSize(stream.GetPosition());
  }
  if (StreamHeaderMagic(fileType) && StreamHeaders) {
    const int64_t start = stream.GetPosition();
    uint8_t h[kStreamHeaderSize] = {};
    IEStreamWriteCheck(stream, Aborting, h, kStreamHeaderSize);  // placeholder
    if (fileType == iffTIFF) {
      // a TIFF's offsets count from its own first byte: written alone, then put behind the header
      TIEMemoryStream tiff;
      WriteFormat(fileType, tiff, false);
      IEStreamWriteCheck(stream, Aborting, tiff.Memory(), int32_t(tiff.GetSize()));
    } else {
      WriteFormat(fileType, stream, false);
    }
    if (Aborting && fileType == iffPCX) return;  // the placeholder stays without the magic
    const int64_t end = stream.GetPosition();
    std::memcpy(h, StreamHeaderMagic(fileType), 5);
    IEWriteU32LE(h + 8, uint32_t(end - start - kStreamHeaderSize));
    stream.SetPosition(start);
    IEStreamWriteCheck(stream, Aborting, h, kStreamHeaderSize);
    stream.SetPosition(end);
    return;
  }
  WriteFormat(fileType, stream, false);
}

void TImageryIO::ReadStreamParams(TIEStream& stream) {
  TIEFileFormatCode t = 0;
  try {
    t = DetectStreamType(stream);
  } catch (...) {
  }
  if (!t) {
    Params.FileType = 0;
    return;
  }
  ReadStreamParamsAsFileType(stream, t);
}

void TImageryIO::ReadParamsAsFileType(const std::wstring& fileName, TIEFileFormatCode fileType) {
  Params.FileType = fileType;
  Params.ClearImageInfo();
  Aborting = true;
  bool ok = false;
  try {
    TIEWideFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
    Aborting = false;
    TIEBufferedReadStream buffered(file, 8192, false);
    ok = ReadFormat(fileType, buffered, true) && !Aborting;
  } catch (...) {
    ok = false;
  }
  if (!ok) Params.FileType = 0;
  Params.FileName = fileName;
  DoFinishWork();
}

void TImageryIO::ReadParamsByExtension(const std::wstring& fileName) {
  TIEFileFormatCode t = 0;
  try {
    t = DetectFileType(fileName, true);
  } catch (...) {
  }
  if (!t) {
    Params.FileType = 0;
    return;
  }
  ReadParamsAsFileType(fileName, t);
}

void TImageryIO::LoadFromMemoryBlock(const void* block, int64_t size, TIEFileFormatCode fileType) {
  if (!block || size <= 0) {
    Aborting = true;
    return;
  }
  TIEMemStream s(block, size);
  if (fileType == 0) LoadStreamByContent(s);
  else LoadStreamAsFileType(s, fileType);
  // an asynchronous load must not outlive the wrapper of the caller's block
  if (!OwnsBitmap && Asynchronous && !InsideIOThread()) WaitForIOThreads(false);
}

void TImageryIO::ReadParamsFromMemoryBlock(const void* block, int64_t size, TIEFileFormatCode fileType) {
  if (!block || size <= 0) {
    Aborting = true;
    return;
  }
  TIEMemStream s(block, size);
  if (fileType == 0) ReadStreamParams(s);
  else ReadStreamParamsAsFileType(s, fileType);
}

void TImageryIO::ReadStreamParamsAsFileType(TIEStream& stream, TIEFileFormatCode fileType) {
  Params.FileType = fileType;
  Params.ClearImageInfo();
  Aborting = false;
  bool ok = false;
  try {
    TIEBufferedReadStream buffered(stream, 8192, false);
    ok = ReadFormat(fileType, buffered, true) && !Aborting;
  } catch (...) {
    ok = false;
  }
  if (!ok) Params.FileType = 0;
  DoFinishWork();
}

TIEFileFormatCode TImageryIO::DetectStreamType(TIEStream& stream) {
  const int64_t pos = stream.GetPosition();
  TIEFileFormatCode result = 0;
  try {
    const int64_t size = stream.GetSize() - pos;
    uint8_t b[16] = {};
    Peek(stream, b, int(size < 16 ? size : 16));
    auto magic = [&](const char* m) { return std::memcmp(b, m, std::strlen(m) + 1) == 0; };
    // the view's own streams are known to the view only
    TIEViewServices* services = IEViewServices();
    auto viewStream = [&](TIEFileFormatCode t) { return services && services->IsViewStream(t, stream); };
    struct TTest {
      TIEFileFormatCode type;
      std::function<bool()> test;
    };
    // first match wins; formats whose codecs this library lacks yet are found by their registry tests
    const TTest tests[] = {
        {iffLYR, [&] { return viewStream(iffLYR); }},
        {iffJPEG, [&] { return size > 12 && magic("JFIF"); }},
        {iffGIF, [&] { return size > 13 && std::memcmp(b, "GIF", 3) == 0; }},
        {iffPCX, [&] { return size > 12 && magic("PCX2"); }},
        {iffPCX, [&] { return size > 4 && magic("PCX"); }},
        {iffBMP, [&] { return size > 14 && b[0] == 'B' && b[1] == 'M'; }},
        {iffPCX, [&] { return size > 128 && b[0] == 10 && b[1] <= 5; }},
        {iffTIFF, [&] { return size > 12 && magic("TIFF"); }},
        {iffHDP, [&] { return IEHDPhotoTest(stream); }},
        {iffTIFF, [&] { return IETIFFTest(stream) && !IETIFFCameraRAWTest(stream); }},
        {iffPNG, [&] { return size > 8 && IEPNGTest(stream); }},
        {iffDICOM, [&] { return IEDICOMTest(stream); }},
        {iffICO, [&] { return IEICOTest(stream); }},
        {iffCUR, [&] { return IECURTest(stream); }},
        {iffTGA, [&] { return IETGATest(stream); }},
        {iffPXM, [&] { return IEPNMTest(stream); }},
        {iffJP2, [&] { return IEJP2Test(stream); }},
        {iffJ2K, [&] { return IEJ2KTest(stream); }},
        {iffAVI, [&] { return IEAVITest(stream); }},
        {iffDCX, [&] { return IEDCXTest(stream); }},
        {iffPSD, [&] { return IEPSDTest(stream); }},
        {iffWMF, [&] { return IEWMFTest(stream); }},
        {iffEMF, [&] { return IEEMFTest(stream); }},
        {iffIEV, [&] { return viewStream(iffIEV); }},
        {iffALL, [&] { return viewStream(iffALL); }},
        {iffJPEG, [&] { return IEJPEGFindSOI(stream, true) >= 0; }},
    };
    for (const TTest& t : tests) {
      stream.SetPosition(pos);
      if (t.test()) {
        result = t.type;
        break;
      }
    }
    if (!result)
      for (auto& e : IEFileFormatRegistry()) {
        stream.SetPosition(pos);
        if (e->TestProc && e->TestProc(stream, e->FileType)) {
          result = e->FileType;
          break;
        }
      }
    if (!result) {  // last: the raw decoder's identification reads the whole stream
      stream.SetPosition(pos);
      if (IECameraRAWTest(stream)) result = iffRAW;
    }
  } catch (...) {
  }
  stream.SetPosition(pos);
  return result;
}

TIEFileFormatCode TImageryIO::DetectFileType(const std::wstring& fileName, bool strict) {
  if (fileName.empty() || GetFileAttributesW(fileName.c_str()) == INVALID_FILE_ATTRIBUTES) return 0;
  TIEFileFormatCode result = 0;
  try {
    TIEWideFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
    result = DetectStreamType(file);
  } catch (...) {
  }
  TIEFileFormatInfo* e = IEFileFormatByExtension(Narrow(LowerExtension(fileName)));
  if (e && e->FileType == iffRAW && result == iffTIFF) return iffRAW;
  if (e && !e->BuiltIn) return e->FileType;
  if (strict && result) {
    if (!e) return 0;
    if (result == iffICO || result == iffCUR) return e->FileType;
    if (result != e->FileType) return 0;
  }
  return result;
}

void TImageryIO::DownloadAndLoad(const std::wstring& url) {
  // cleared before the thread starts, so that an abort asked for once the call returned is never lost
  if (!InsideIOThread()) Aborting = false;
  if (RestartAsync([this, url] { DownloadAndLoad(url); })) return;
  TIEMemoryStream data;
  std::string typeText;  // the codec is chosen by content
  if (!IEDownload(url, data, &Aborting, [this](void* s, int per) { DoProgress(s, per); }, this, typeText)) {
    Aborting = true;
    DoFinishWork();
    return;
  }
  data.SetPosition(0);
  const TIEFileFormatCode type = DetectStreamType(data);
  if (!type || !IEFileFormatByType(type)) {
    // an answer that is no image (a server's text page, say) must not pass for a load
    Aborting = true;
    DoFinishWork();
    return;
  }
  LoadStreamByContent(data);
}

void TImageryIO::SaveAsSourceCode(const std::wstring& fileName, TIEFileFormatCode fileType, uint8_t mode) {
  TIEMemoryStream encoded;
  if (mode <= 2) {
    SaveStreamAsFileType(encoded, fileType);
    if (Aborting) return;  // an image the writer refused: the text file stays as it was
  }
  std::string id = Narrow(fileName);
  const size_t dot = id.find('.');
  if (dot != std::string::npos) id[dot] = '_';
  const std::string sizeId = id + "_Size";
  TIEReplacingFileStream out(fileName);
  const uint8_t* bytes = static_cast<const uint8_t*>(encoded.Memory());
  const int64_t count = encoded.GetSize();
  auto hex = [](uint8_t b) {
    static const char kDigits[] = "0123456789ABCDEF";
    return std::string{kDigits[b >> 4], kDigits[b & 15]};
  };
  if (mode == 0 || mode == 1) {
    std::string buffer;
    if (mode == 0) {
      IEWriteLineCRLF(out, "const");
      IEWriteLineCRLF(out, "  " + sizeId + " = " + std::to_string(count) + ";");
      IEWriteLineCRLF(out, "  " + id + " : array [0.." + sizeId + "-1] of byte = (");
    } else {
      IEWriteLineCRLF(out, "\\\\ Size=" + std::to_string(count));
    }
    const std::string prefix = mode == 0 ? "$" : "0x", indent = mode == 0 ? "    " : "";
    for (int64_t i = 0; i + 1 < count; ++i) {
      buffer += prefix + hex(bytes[i]) + ",";
      if (buffer.size() > 70) {
        IEWriteLineCRLF(out, indent + buffer);
        buffer.clear();
      }
    }
    std::string last = indent + buffer;
    if (count > 0) last += prefix + hex(bytes[count - 1]);
    if (mode == 0) last += ");";
    IEWriteLineCRLF(out, last);
  } else if (mode == 2) {
    std::string text;
    encoded.SetPosition(0);
    IEBase64EncodeStream(encoded, text, 76);
    IEWriteText(out, text);
  } else if (mode == 3 && IEBitmap && IEBitmap->GetPixelFormat() == ie24RGB) {
    static const char kShades[] = "W@#*+:., ";  // darkest first
    for (int y = 0; y < IEBitmap->GetImageHeight(); ++y) {
      const uint8_t* r = IEBitmap->GetRowAddress(y);
      std::string line;
      for (int x = 0; x < IEBitmap->GetImageWidth(); ++x) {
        const int g = (r[3 * x + 2] * 21 + r[3 * x + 1] * 71 + r[3 * x] * 8) / 100;
        line += kShades[IEMin(int(g / 255.0 * 9), 8)];
      }
      IEWriteLineCRLF(out, line);
    }
  }
  out.Commit();
  Params.FileName = fileName;
}
