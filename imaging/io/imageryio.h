// TImageryIO, the image library's input/output component: loads its bitmap from, and saves it to,
// files and streams through the codecs, chosen by extension, by file type or by content. With
// Asynchronous on and a bitmap it does not own, each load or save reruns itself on an I/O thread;
// such threads never call the component's handlers: they post the private messages below to
// NotifyWindow (the window of the view the component serves) or stay silent.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include "iebitmap.h"
#include "ieformats.h"
#include "iestreams.h"
#include "iewords.h"
#include "ioparams.h"

// Messages posted from I/O threads to NotifyWindow.
constexpr UINT IEM_UPDATEVIEW = 8024;  // a load finished: update and repaint
constexpr UINT IEM_DSHOWNEWFRAME = 8025;   // DirectShow: a new frame
constexpr UINT IEM_DSHOWGRAPHEVENT = 8026; // DirectShow: a graph event
constexpr UINT IEM_PROGRESS = 8027;    // wParam: percentage
constexpr UINT IEM_FINISHWORK = 8028;  // the operation ended
// Messages of the video object to the view's window; lParam: the video object.

struct IAVIFile;
struct IAVIStream;
struct IGetFrame;
class TIEDirectShow;
class TIEIOThread;
class TIETWainParams;
class TIEWia;
namespace ui {
class TFont;
class TForm;
class TMetafile;
}  // namespace ui
class TIEView;
struct TIEViewHandlerRecord;

enum : uint8_t { ioppDefaultLockPreview = 1, ioppApplyButton = 2 };

using TIEDoPreviewsEvent = std::function<void(void* sender, bool& handled)>;
using TIEIOPreviewEvent = std::function<void(void* sender, ui::TForm* dialog)>;

class TImageryIO {
 public:
  TImageryIO();                             // with a bitmap of its own (always synchronous)
  explicit TImageryIO(TIEBitmap* bitmap);   // CreateForBitmap: works on the caller's bitmap
  ~TImageryIO();                            // waits for running I/O threads, serving messages meanwhile
  TImageryIO(const TImageryIO&) = delete;
  TImageryIO& operator=(const TImageryIO&) = delete;

  // Works on `bitmap` (not owned) from now on; nullptr changes nothing.
  void AttachBitmap(TIEBitmap* bitmap);
  TIEBitmap* GetIEBitmap() const { return IEBitmap; }

  // ---- attached view ----
  // Works on the view's pixel buffer from now on and follows it through the view's bitmap-change
  // handler; nullptr returns to a bitmap of the component's own. Threads report to the view's window.
  void SetAttachedImageryValue(TIEView* view);
  TIEView* GetAttachedImagery() const { return AttachedImagery; }
  // The view's callback: its image object changed (take it again, with its resolution), or the view
  // goes (forget it).
  void ViewBitmapChanged(bool destroying);

  // ---- dispatch ----
  void SaveByExtension(const std::wstring& fileName);
  void LoadByExtension(const std::wstring& fileName);
  void LoadByContent(const std::wstring& fileName);
  void LoadAsFileType(const std::wstring& fileName, TIEFileFormatCode fileType);
  void LoadStreamByContent(TIEStream& stream);
  void LoadStreamAsFileType(TIEStream& stream, TIEFileFormatCode fileType);
  void SaveStreamAsFileType(TIEStream& stream, TIEFileFormatCode fileType);
  void ReadStreamParamsAsFileType(TIEStream& stream, TIEFileFormatCode fileType);
  void ReadStreamParams(TIEStream& stream);  // by content
  // Parameters of a file without loading it; any failure leaves Params.FileType 0.
  void ReadParamsAsFileType(const std::wstring& fileName, TIEFileFormatCode fileType);
  void ReadParamsByExtension(const std::wstring& fileName);
  // A block in memory, read in place (not copied); file type 0 detects it. A null block or size 0
  // sets Aborting and does nothing else.
  void LoadFromMemoryBlock(const void* block, int64_t size, TIEFileFormatCode fileType);
  void ReadParamsFromMemoryBlock(const void* block, int64_t size, TIEFileFormatCode fileType);
  // Writes the image as source text: mode 0 a Pascal byte array, 1 a C byte list, 2 Base64 of the
  // image encoded as fileType; mode 3 a text picture of an ie24RGB image. Raises when the text file
  // cannot be created or written.
  void SaveAsSourceCode(const std::wstring& fileName, TIEFileFormatCode fileType, uint8_t mode);
  // The image at an http, https or ftp address, fetched whole into memory and loaded by content. Any
  // failure of the transfer (see IEDownload) or content no reader knows sets Aborting.
  void DownloadAndLoad(const std::wstring& url);

  // ---- AVI frames ----
  // Opens the first video stream of an AVI file (an open one is closed first); returns its frame
  // count and sets Params.AVIFrameCount and AVIFrameDelay, or 0 with Aborting set.
  int OpenAVIFile(const std::wstring& fileName);
  void CloseAVIFile();
  // Frame n of the open AVI: 1-bit frames stay ie1g, others become ie24RGB. No AVI open or n out of
  // range leave the bitmap and Aborting as they are.
  void LoadAVIFrame(int n);

  // ---- acquisition ----
  // Created on first use and kept until the component goes.
  TIEWia* GetWia();
  // With an attached view, the view's window receives the graph's notifications.
  TIEDirectShow* GetDirectShow();

  // ---- metafiles ----
  // The attached view's background colour, else the component's own (black at creation).
  TColor GetBackground() const;
  void SetBackground(TColor c);
  // Plays the metafile into the bitmap over Background at (width, height): -1 for a side keeps the
  // aspect ratio from the other, both -1 the metafile's own size, 0 does nothing; a side above
  // IEMetafileMaxSize scales both down. withAlpha: alpha 0 where the metafile drew nothing. An empty
  // metafile sets Aborting.
  void ImportMetafile(ui::TMetafile& mf, int width, int height, bool withAlpha);
  // Both raise what the platform metafile reader raises for data that is no metafile (after the
  // finish notification).
  void LoadMetafileFile(const std::wstring& fileName, int width, int height, bool withAlpha);
  void LoadMetafileStream(TIEStream& stream, int width, int height, bool withAlpha);
  void ReadMetafileParams(TIEStream& stream);

  // ---- detection ----
  // The stream's format from its content, tests in a fixed order; the position is restored.
  TIEFileFormatCode DetectStreamType(TIEStream& stream);
  // 0 for a missing file; strict: the content must agree with the name's extension.
  TIEFileFormatCode DetectFileType(const std::wstring& fileName, bool strict);

  // ---- video ----
  bool HasDirectShow() const { return DirectShow != nullptr; }
  // The attached view's window was re-created: the video object reports to the new one.
  void UpdateDShowNotifyWindow();

  // ---- threads ----
  // Waits until every I/O thread of this component has ended (abort: set Aborting first).
  void WaitForIOThreads(bool abort);
  bool InsideIOThread();

  void DoProgress(void* sender, int per);
  void DoFinishWork();

  // ---- parameters preview dialog ----
  // Opens the dialog on the pages of `pages` (bits of ieppAll.. in iopreviews.h) to edit Params; True
  // when the user closed it with OK. The bitmap becomes ie24RGB first unless it is ie24RGB or ie1g.
  bool DoPreviews(uint16_t pages);
  uint8_t GetBlackWhiteMethod() const { return BlackWhiteMethod; }
  // Also the bitmap's conversions to ie1g: 0 ordered dither, 1 threshold at the mean grey.
  void SetBlackWhiteMethod(uint8_t method);
  TMsgLanguage MsgLanguage = msSystem;
  uint8_t PreviewsParams = 0;  // ioppDefaultLockPreview, ioppApplyButton
  bool SimplifiedParamsDialogs = true;
  ui::TFont* PreviewFont = nullptr;  // owned; the dialog's font
  // Replaces the dialog: a handler that sets Handled makes DoPreviews return True at once.
  TIEDoPreviewsEvent OnDoPreviews;
  // Fired with the dialog just before it is shown.
  TIEIOPreviewEvent OnIOPreview;

  TIOParamsVals Params;
  std::unique_ptr<TIETWainParams> TWainParams;
  std::atomic<bool> Aborting{false};  // outcome of the last operation; codecs set it through the progress record
  bool Asynchronous = false;
  // PCX stream savers write, and PCX stream loaders expect, a 12-byte header: "PCX2", a NUL, three
  // bytes of padding and the 32-bit length of the image that follows.
  bool StreamHeaders = false;
  // After each load, resample the image so that both resolutions are equal (the lower one rises to
  // the other's); FilteredAdjustDPI resamples through the filtered 24-bit resampler.
  bool AutoAdjustDPI = false;
  bool FilteredAdjustDPI = false;
  void AdjustDPI();
  HWND NotifyWindow = nullptr;
  TIEProgressEvent OnProgress;
  std::function<void(void* sender)> OnFinishWork;

 private:
  friend class TIEIOThread;
  bool RestartAsync(std::function<void()> job);
  bool PrepareBitmap() const { return IEBitmap != nullptr; }
  TIECodecProgress MakeProgress();
  void UpdateAfterIO();
  // dataSize: bytes of the image from the stream's position (-1: to the end of the stream)
  bool ReadFormat(TIEFileFormatCode type, TIEStream& stream, bool paramsOnly, int64_t dataSize = -1);
  bool WriteFormat(TIEFileFormatCode type, TIEStream& stream);
  // The merged image (nullptr: parameters only); a single layer's transparency goes to its alpha.
  void ReadPSD(TIEStream& stream, TIEBitmap* bitmap, TIECodecProgress& progress);
  void WritePSD(TIEStream& stream, TIECodecProgress& progress);
  void LoadFile(const std::wstring& fileName, TIEFileFormatCode type);
  void SaveFile(const std::wstring& fileName, TIEFileFormatCode type);
  void LoadStream(TIEStream& stream, TIEFileFormatCode type);
  void LoadObjectsFile(const std::wstring& fileName);  // type 25 into an attached vector view

  void SetAVIFrameParams();
  // GIF load worker: frame Params.GIFImageIndex as shown (composited over the frames before it);
  // returns the file's frame count.
  int ReadGIF(TIEStream& stream, TIECodecProgress& progress);

  void RemoveViewHandler();
  void ApplyParamsDpiToView();  // a loaded image's resolution becomes the attached view's
  HWND ViewWindow() const;  // the attached view's window, when it has one
  TIEBitmap* IEBitmap = nullptr;
  bool OwnsBitmap = true;
  TIEView* AttachedImagery = nullptr;
  TIEViewHandlerRecord* ViewHandler = nullptr;  // registration with AttachedImagery
  std::vector<TIEIOThread*> Threads;
  HANDLE ThreadEvent = nullptr;  // auto-reset; set when the thread list becomes empty
  CRITICAL_SECTION ThreadLock;
  // last percentage posted from an I/O thread: a codec may report every row, the window's queue gets
  // one message per change
  volatile LONG LastPostedPercent = -1;
  // the open AVI, all nil while closed, and its video stream's scale, rate and length
  IAVIFile* AVIFile = nullptr;
  IAVIStream* AVIStream = nullptr;
  IGetFrame* AVIGetFrame = nullptr;
  uint32_t AVIScale = 0, AVIRate = 0, AVILength = 0;
  TColor OwnBackground = 0;  // Background while no view is attached
  uint8_t BlackWhiteMethod = 1;
  std::unique_ptr<TIEWia> Wia;
  std::unique_ptr<TIEDirectShow> DirectShow;
};

// Ends an operation with DoFinishWork on every way out, exceptions included.
struct TIEFinishWorkGuard {
  TImageryIO* io;
  ~TIEFinishWorkGuard() { io->DoFinishWork(); }
};

// Pixels per side of an imported metafile.
extern int IEMetafileMaxSize;

// A RIFF file of form "AVI " at the stream's position; the position is restored.
bool IEAVITest(TIEStream& Stream);

// True when this library has a reader (or a writer) for the file type.
bool IECanReadFileType(TIEFileFormatCode type);
bool IECanWriteFileType(TIEFileFormatCode type);
