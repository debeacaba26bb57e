// TImageryIO, the image library's input/output component: loads its bitmap from, and saves it to,
// files and streams through the codecs, chosen by extension, by file type or by content. With
// Asynchronous on and a bitmap it does not own, each load or save reruns itself on an I/O thread;
// such threads never call the component's handlers: they post the private messages below to
// NotifyWindow (the window of the view the component serves) or stay silent.
#pragma once
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include "iebitmap.h"
#include "ieformatmembers.h"
#include "iefreenotifier.h"
#include "ieimagecontrollink.h"
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
class TBitmap;
class TFont;
class TForm;
class TImage;
class TMetafile;
}  // namespace ui
class TIEView;
struct TIEViewHandlerRecord;

enum : uint8_t { ioppDefaultLockPreview = 1, ioppApplyButton = 2 };
// Page set bits of the parameters preview dialog (DoPreviews; also TIEFileFormatInfo::DialogPages).
enum : uint16_t {
  ieppAll = 1, ieppFileType = 2, ieppJPEG = 4, ieppTIFF = 8, ieppGIF = 16, ieppBMP = 32, ieppPCX = 64,
  ieppPNG = 128, ieppTGA = 256, ieppJ2000 = 512
};

// Unit of the measures shown by the dialogs.
enum TIEDialogsMeasureUnit : uint8_t { ieduInches, ieduCm, ieduSelectedUnit };

// The state of a print preview dialog, kept between its uses.
struct TIOPrintPreviewParams {
  double MarginLeft = 1.0, MarginTop = 1.0, MarginRight = 1.0, MarginBottom = 1.0;
  // 0 top-left, 1 top-centre, 2 top-right, 3 centre-left, 4 centre, 5 centre-right, 6 bottom-left,
  // 7 bottom-centre, 8 bottom-right
  uint8_t Position = 4;
  uint8_t Size = 1;  // 0 normal, 1 fit to page, 2 stretch to page, 3 the specified size
  double SpecWidth = -1, SpecHeight = -1;
  double GammaCorrection = 1.0;
};
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
  // Takes `bitmap` (not owned, nullptr allowed) as the bitmap, freeing an own one; an image control's
  // link ends, a view's registration stays.
  void ReplaceBitmap(TIEBitmap* bitmap);
  // The platform bitmap of the present attachment: the attached image control's picture, or the one
  // the bitmap lives in (nullptr without either).
  ui::TBitmap* GetBitmap();

  // ---- attached image control ----
  // Works on the control's picture bitmap from now on (a view attachment ends); loads show in it.
  // nullptr frees the bitmap's storage. A control that is freed while attached detaches itself
  // (HandleFreeNotification).
  void SetAttachedTImageValue(ui::TImage* image);
  ui::TImage* GetAttachedTImage() const { return TImageLink.GetImage(); }

  // ---- attached view ----
  // Works on the view's pixel buffer from now on and follows it through the view's bitmap-change
  // handler; nullptr returns to a bitmap of the component's own. Threads report to the view's window.
  void SetAttachedImageryValue(TIEView* view);
  TIEView* GetAttachedImagery() const { return AttachedImagery; }
  // The view's callback: its image object changed (take it again, with its resolution), or the view
  // goes (forget it).
  void ViewBitmapChanged(bool destroying);
  // An attached view or image control is being freed: the component forgets it and falls back to a
  // bitmap of its own, which is empty after an image control.
  void HandleFreeNotification(ui::TComponent* component, ui::TOperation operation);

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

  // ---- per-format members: thin entries over the common wrappers (tables in ieformatmembers.h) ----
  // Load<F>Stream / Load<F>File
  void LoadJPEGStream(TIEStream& stream);
  void LoadJPEGFile(const std::wstring& fileName);
  void LoadPCXStream(TIEStream& stream);
  void LoadPCXFile(const std::wstring& fileName);
  void LoadBMPStream(TIEStream& stream);
  void LoadBMPFile(const std::wstring& fileName);
  void LoadICOStream(TIEStream& stream);
  void LoadICOFile(const std::wstring& fileName);
  void LoadCURStream(TIEStream& stream);
  void LoadCURFile(const std::wstring& fileName);
  void LoadPNGStream(TIEStream& stream);
  void LoadPNGFile(const std::wstring& fileName);
  void LoadTGAStream(TIEStream& stream);
  void LoadTGAFile(const std::wstring& fileName);
  void LoadPXMStream(TIEStream& stream);
  void LoadPXMFile(const std::wstring& fileName);
  void LoadJP2Stream(TIEStream& stream);
  void LoadJP2File(const std::wstring& fileName);
  void LoadJ2KStream(TIEStream& stream);
  void LoadJ2KFile(const std::wstring& fileName);
  void LoadWBMPStream(TIEStream& stream);
  void LoadWBMPFile(const std::wstring& fileName);
  void LoadDCXStream(TIEStream& stream);
  void LoadDCXFile(const std::wstring& fileName);
  void LoadCameraRAWStream(TIEStream& stream);
  void LoadCameraRAWFile(const std::wstring& fileName);
  void LoadRawBitmapStream(TIEStream& stream);
  void LoadRawBitmapFile(const std::wstring& fileName);
  void LoadPSDStream(TIEStream& stream);
  void LoadPSDFile(const std::wstring& fileName);
  void LoadDICOMStream(TIEStream& stream);
  void LoadDICOMFile(const std::wstring& fileName);
  void LoadHDPStream(TIEStream& stream);
  void LoadHDPFile(const std::wstring& fileName);
  // multi-image formats: the file's image count, -1 when the load went to an I/O thread
  int LoadTIFFStream(TIEStream& stream);
  int LoadTIFFFile(const std::wstring& fileName);
  int LoadGIFStream(TIEStream& stream);
  int LoadGIFFile(const std::wstring& fileName);
  // Save<F>Stream / Save<F>File
  void SaveTIFFStream(TIEStream& stream);
  void SaveTIFFFile(const std::wstring& fileName);
  void SaveGIFStream(TIEStream& stream);
  void SaveGIFFile(const std::wstring& fileName);
  void SaveJPEGStream(TIEStream& stream);
  void SaveJPEGFile(const std::wstring& fileName);
  void SavePCXStream(TIEStream& stream);
  void SavePCXFile(const std::wstring& fileName);
  void SaveBMPStream(TIEStream& stream);
  void SaveBMPFile(const std::wstring& fileName);
  void SaveICOStream(TIEStream& stream);
  void SaveICOFile(const std::wstring& fileName);
  void SavePNGStream(TIEStream& stream);
  void SavePNGFile(const std::wstring& fileName);
  void SaveTGAStream(TIEStream& stream);
  void SaveTGAFile(const std::wstring& fileName);
  void SavePXMStream(TIEStream& stream);
  void SavePXMFile(const std::wstring& fileName);
  void SaveJP2Stream(TIEStream& stream);
  void SaveJP2File(const std::wstring& fileName);
  void SaveJ2KStream(TIEStream& stream);
  void SaveJ2KFile(const std::wstring& fileName);
  void SaveWBMPStream(TIEStream& stream);
  void SaveWBMPFile(const std::wstring& fileName);
  void SavePSStream(TIEStream& stream);
  void SavePSFile(const std::wstring& fileName);
  void SavePDFStream(TIEStream& stream);
  void SavePDFFile(const std::wstring& fileName);
  void SaveDCXStream(TIEStream& stream);
  void SaveDCXFile(const std::wstring& fileName);
  void SavePSDStream(TIEStream& stream);
  void SavePSDFile(const std::wstring& fileName);
  void SaveHDPStream(TIEStream& stream);
  void SaveHDPFile(const std::wstring& fileName);
  // workers: the stream loader's or saver's work on the calling thread
  void ReadPCX(TIEStream& stream);
  void ReadBMP(TIEStream& stream);
  void ReadICO(TIEStream& stream);
  void ReadCUR(TIEStream& stream);
  void ReadDCX(TIEStream& stream);
  void ReadRawBitmap(TIEStream& stream);
  void ReadHDP(TIEStream& stream);
  void WriteBMP(TIEStream& stream);
  void WritePS(TIEStream& stream);
  void WritePDF(TIEStream& stream);
  void WriteDCX(TIEStream& stream);
  void WriteHDP(TIEStream& stream);
  int ReadTIFF(TIEStream& stream);  // the page count
  int ReadGIF(TIEStream& stream);   // the frame count
  void ReadJ2000(TIEStream& stream);  // JP2 files and code streams alike
  void ReadPSD(TIEStream& stream);
  // A format an application registered for the "raw" extension takes camera RAW data in its place.
  void ReadCameraRAW(TIEStream& stream);
  void WriteJ2000(TIEStream& stream, int codeStream);  // 0 a JP2 file, 1 a code stream
  void WritePSD(TIEStream& stream);
  // The image view's own files (iffIEV objects, iffLYR layers, iffALL both), loaded by the view's
  // services (ieviewservices.h). Without an attached view of the kind they need, a temporary one loads
  // them and the image becomes its merged picture; without the view in the program, they fail.
  void LoadViewFile(const std::wstring& fileName, TIEFileFormatCode fileType);
  // Streams load into an attached view of the kind they need only.
  void LoadViewStream(TIEStream& stream, TIEFileFormatCode fileType);
  bool GetNativePixelFormatValue() const { return Params.IsNativePixelFormat; }
  void SetNativePixelFormatValue(bool v) { Params.IsNativePixelFormat = v; }
  // Before a JPEG save: the resolution resource of the first APP13 marker takes DpiX and DpiY.
  void PatchAPP13Resolution();

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
  // Opens the dialog (the view's: iopreviews.h) on the pages of `pages` (bits of ieppAll..) to edit
  // Params; True when the user closed it with OK, False at once in a program without the view. The
  // bitmap becomes ie24RGB first unless it is ie24RGB or ie1g.
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
  // The JPEG, PCX and TIFF stream savers write, and the PCX and TIFF stream loaders expect, a 12-byte
  // header: "JFIF", "PCX2" or "TIFF", a NUL, three bytes of padding and the 32-bit length of the image
  // that follows. The JPEG stream loader takes a stream with or without it.
  bool StreamHeaders = false;
  TIEDialogsMeasureUnit DialogsMeasureUnit = ieduInches;
  TIOPrintPreviewParams PrintPreviewParams;
  // After each load, resample the image so that both resolutions are equal (the lower one rises to
  // the other's); FilteredAdjustDPI resamples through the filtered 24-bit resampler.
  bool AutoAdjustDPI = false;
  bool FilteredAdjustDPI = false;
  void AdjustDPI();
  void FixDefaultDpi();  // a loaded resolution below 2 becomes the library's default one
  HWND NotifyWindow = nullptr;
  TIEProgressEvent OnProgress;
  std::function<void(void* sender)> OnFinishWork;

 private:
  friend class TIEIOThread;
  bool RestartAsync(std::function<void()> job);
  // False without a bitmap; an attached image control's picture is taken again first (it may have
  // been changed outside the component).
  bool PrepareBitmap();
  void StoreIPTCMarker();  // before a JPEG save: IPTCInfo into APP13
  // The stream loader's work after the hand-over test; the image count of multi-image formats.
  int LoadStreamWork(TIEStream& stream, TIEFileFormatCode type);
  void SaveStreamWork(TIEStream& stream, TIEFileFormatCode type);
  // The file type an application registered for camera RAW data in place of the library's reader
  // (0 when the library's own serves it).
  TIEFileFormatCode RawHandOverType() const;
  TIECodecProgress MakeProgress();
  // Runs a reader or a writer. Whatever it throws (memory refused, a length the library cannot
  // hold, any other failure) ends the operation as a failed one, with Aborting set, and never
  // leaves the component. `keep`: the bitmap a load fills, copied first and put back as it was when
  // the call throws. False when the call threw (or no copy of `keep` could be made).
  bool RunCodec(TIEBitmap* keep, const std::function<void()>& codec);
  void UpdateAfterIO();
  // dataSize: bytes of the image from the stream's position (-1: to the end of the stream)
  bool ReadFormat(TIEFileFormatCode type, TIEStream& stream, bool paramsOnly, int64_t dataSize = -1);
  // `toFile`: a file save, which keeps 48-bit samples for PXM (a stream save writes them in 24 bits).
  bool WriteFormat(TIEFileFormatCode type, TIEStream& stream, bool toFile);
  // The merged image (nullptr: parameters only); a single layer's transparency goes to its alpha.
  void ReadPSD(TIEStream& stream, TIEBitmap* bitmap, TIECodecProgress& progress);
  // True when a PSD read now puts its layers into the attached view rather than into the bitmap.
  bool PSDLayersIntoView();
  void WritePSD(TIEStream& stream, TIECodecProgress& progress);
  // The loaders return the image count (-1: handed to an I/O thread).
  int LoadFile(const std::wstring& fileName, TIEFileFormatCode type);
  void SaveFile(const std::wstring& fileName, TIEFileFormatCode type);
  int LoadStream(TIEStream& stream, TIEFileFormatCode type);
  // After a PNG or GIF load: Background takes the file's background (GIF: its transparent colour).
  void TakeLoadedBackground(TIEFileFormatCode type);

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
  TIEImageControlLink TImageLink;  // the attached image control
  std::unique_ptr<TIEFreeNotifier> FreeNotifier;  // watches the attached view and image control
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

// Ends an operation with DoFinishWork on every way out. An exception passing through (a writer that
// raises, a final move that fails) is a failure: Aborting is set before OnFinishWork hears of it.
struct TIEFinishWorkGuard {
  TImageryIO* io;
  int exceptionsBefore = std::uncaught_exceptions();
  ~TIEFinishWorkGuard() {
    if (std::uncaught_exceptions() > exceptionsBefore) io->Aborting = true;
    io->DoFinishWork();
  }
};

// Pixels per side of an imported metafile.
extern int IEMetafileMaxSize;

// A RIFF file of form "AVI " at the stream's position; the position is restored.
bool IEAVITest(TIEStream& Stream);

// True when this library has a reader (or a writer) for the file type.
bool IECanReadFileType(TIEFileFormatCode type);
bool IECanWriteFileType(TIEFileFormatCode type);
