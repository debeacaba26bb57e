// TImageryView, the library's image view: a TIEView that owns a pixel buffer (TIEBitmap, kept in the
// view's own 24-bit platform bitmap), shows it through a back buffer over its background, and is the
// image holder of an I/O component and a processing component that it creates on first use and frees
// with itself. Created with no owner and never given a window it does all its bookkeeping on a 50 x 50
// viewport and paints nothing: that is how a program saves a platform bitmap through the library's
// writers (Create(nullptr), Assign, GetIO, SaveByExtension, Free).
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "ieutils.h"
#include "ieview.h"
#include "ieviewsettings.h"

class TIEBitmap;
class TIEMask;
class TIETBitmapAdapter;
class TImageryIO;
class TImageryProc;
class TIETransitionEffects;
enum TIEUndoSource : uint8_t;
namespace ui {
class TPicture;
class TTimer;
}

enum TScrollStyle : uint8_t { ssNone, ssHorizontal, ssVertical, ssBoth };
enum TIEBackgroundStyle : uint8_t {
  iebsSolid, iebsHorizontal, iebsVertical, iebsFDiagonal, iebsBDiagonal, iebsCross, iebsDiagCross,
  iebsChessboard, iebsDiagonals, iebsCropped, iebsCropShadow, iebsGradient, iebsSoftShadow, iebsPhotoLike
};
enum TIEWallPaperStyle : uint8_t { iewoNormal, iewoStretch, iewoTile };

// (Sender, change: 0 origin, 1 zoom)
using TViewChangeEvent = std::function<void(void* Sender, int change)>;
// (Sender, change: 0 origin x, 1 origin y, 2 zoom, new value)
using TViewChangingEvent = std::function<void(void* Sender, int change, double value)>;
// (Sender, zoom to apply: the handler may change it)
using TIEZoomEvent = std::function<void(void* Sender, double& zoom)>;
// (Sender: the view, position of the frame about to be painted, 0..1024)
using TIETransitionStepEvent = ui::TEvent<void(ui::TObject* Sender, int step)>;
// (Sender: the view, the frame shown, the engine, its position)
using TIEOnTransitionPaint =
    ui::TEvent<void(ui::TObject* Sender, ui::TBitmap* Bitmap, TIETransitionEffects* Transition, int Step)>;

class TImageryView : public TIEView {
  UI_DECLARE_CLASS(TImageryView, TIEView)
 public:
  using TIESaveUndoEvent = std::function<void(void* Sender, TIEUndoSource source)>;
  using TIENotify = std::function<void(void* Sender)>;

  TImageryView();
  void Create(ui::TComponent* owner) override;
  void BeforeDestruction() override;
  ~TImageryView() override;

  // nullptr blanks the image; a TImageryView copies its image, background and resolution; a platform
  // TBitmap is copied (the caller's bitmap is never changed) and made 24-bit unless it is 1-bit
  // black and white or 24-bit already; any other source is ignored.
  void Assign(ui::TPersistent* source) override;

  TImageryIO* GetIO();      // created on first use, attached to this view
  TImageryProc* GetProc();  // likewise
  bool HasIO() const { return IO != nullptr; }
  bool HasProc() const { return Proc != nullptr; }
  // The transition engine, created on first use and freed with the view. The view stops a running
  // transition when it is resized and when its image is cleared.
  TIETransitionEffects* GetTransitionEffects();
  bool HasTransitionEffects() const { return Transition != nullptr; }
  // The transition events live in the engine: the writers create it, the readers give an empty event
  // while there is none.
  void SetOnTransitionStop(ui::TNotifyEvent e);
  ui::TNotifyEvent GetOnTransitionStop() const;
  void SetOnTransitionStep(TIETransitionStepEvent e);
  TIETransitionStepEvent GetOnTransitionStep() const;
  void SetOnTransitionPaint(TIEOnTransitionPaint e);
  TIEOnTransitionPaint GetOnTransitionPaint() const;

  // Fills the image with Background, drops its alpha channel without blending and updates.
  void Blank();
  // A 1 x 1 image of the Background colour.
  void ClearImage();
  // Width and height both below 2.
  virtual bool IsEmpty();

  // The drawing area: the client size with a window on a parent, otherwise 50 x 50.
  virtual int GetViewportWidth();
  virtual int GetViewportHeight();

  // ---- update lock and paint lock ----
  void SuspendUpdates() { ++UpdateLock; }
  void ResumeUpdates();         // updates when the lock reaches 0
  void ResumeUpdatesQuietly();  // never updates
  int GetUpdateLock() const { return UpdateLock; }
  void SuspendPainting() override { ++PaintLock; }
  int ResumePainting() override;
  int ResumePaintingQuietly() override;
  int GetPaintLock() const { return PaintLock; }
  void UpdateView() override;
  int GetUpdateCount() const { return UpdateCount; }  // completed UpdateView runs
  void SetUpdateReason(uint8_t reason) { UpdateReason = reason; }  // 0 general .. 4 size/background

  // ---- zoom, scrolling and coordinate mapping ----
  double GetZoomX() const { return ZoomX; }
  double GetZoomY() const { return ZoomY; }
  double GetZoom() const { return ZoomX; }
  void SetZoom(double z);   // about the viewport centre; both axes
  void SetZoomX(double z);
  void SetZoomY(double z);
  // Store the zoom keeping the viewport centre on the same image point; no repaint.
  virtual void ApplyZoom(double z);
  virtual void ApplyZoomX(double z);
  virtual void ApplyZoomY(double z);
  // Zoom about a client point: centre True moves it to the middle, False keeps it under the mouse.
  void ZoomAt(int x, int y, double z, bool centre);
  void ZoomToFit();
  double GetFitZoom();
  double GetAutoZoom(int width, int height, bool mayShrink, bool mayStretch, int availWidth, int availHeight);
  int GetViewOriginX() const { return ViewOriginX; }
  int GetViewOriginY() const { return ViewOriginY; }
  void SetViewOrigin(int x, int y);
  void SetViewOriginX(int x);
  void SetViewOriginY(int y);
  void GetMaxViewOrigin(int& maxX, int& maxY);
  bool CanScroll();
  // action: 0 line back, 1 line on, 2 page back, 3 page on, 4 start, 5 end, 6 to value (origin)
  void ScrollHorizontal(int action, int value);
  void ScrollVertical(int action, int value);
  void SmoothScrollTo(int x, int y);
  void StopSmoothScroll();
  bool IsSmoothScrolling() const;
  int ClientToImageX(int x);
  int ClientToImageY(int y);
  int ImageToClientX(int x);
  int ImageToClientY(int y);
  int SnapOriginX(int v);
  int SnapOriginY(int v);
  virtual void UpdateViewExtents();
  virtual void UpdateSourceRect();
  virtual void UpdateCoordinateTables();
  int GetZoomedWidth() const { return ZoomedWidth; }
  int GetZoomedHeight() const { return ZoomedHeight; }
  int GetExtentWidth() const { return ExtentWidth; }
  int GetExtentHeight() const { return ExtentHeight; }
  int GetCenterOffsetX() const { return CenterOffsetX; }
  int GetCenterOffsetY() const { return CenterOffsetY; }
  RECT GetSourceRect() const { return RECT{SrcX, SrcY, SrcW, SrcH}; }  // x, y, width, height
  int GetDrawnWidth() const { return DrawnWidth; }
  int GetDrawnHeight() const { return DrawnHeight; }
  bool GetCenter() const { return Center; }
  void SetCenterValue(bool value);
  TScrollStyle GetScrollBars() const { return ScrollBars; }
  void SetScrollBarsValue(TScrollStyle style);
  bool GetKeepScrollBars() const { return KeepScrollBars; }
  void SetKeepScrollBars(bool v) { KeepScrollBars = v; }
  bool GetAutoFit() const { return AutoFit; }
  void SetAutoFit(bool v);
  bool GetAutoShrink() const { return AutoShrink; }
  void SetAutoShrink(bool v);
  bool GetAutoStretch() const { return AutoStretch; }
  void SetAutoStretch(bool v);
  TIEBackgroundStyle GetBackgroundStyle() const { return BackgroundStyle; }
  void SetBackgroundStyleValue(TIEBackgroundStyle style);
  ui::TPicture* GetWallPaper() const { return WallPaper; }
  void SetWallPaper(ui::TPicture* picture);  // copied; nullptr empties the wallpaper
  TIEWallPaperStyle GetWallPaperStyle() const { return WallPaperStyle; }
  void SetWallPaperStyle(TIEWallPaperStyle style);
  int GetChessboardSize() const { return ChessboardSize; }
  ui::TBrushStyle GetChessboardBrushStyle() const { return ChessboardBrushStyle; }
  void SetChessboardParams(int size, ui::TBrushStyle brushStyle);  // a size below 1 counts as 1
  ui::TColor GetGradientEndColor() const { return GradientEndColor; }
  void SetGradientEndColor(ui::TColor c) { GradientEndColor = c; }
  // The view's background over the whole control, without an image, onto any canvas.
  void PaintBackgroundTo(ui::TCanvas* canvas);
  TIEScrollBarParams HScrollBarParams, VScrollBarParams;
  TIEMouseWheelParams MouseWheelParams;
  TViewChangeEvent OnViewChange;
  TViewChangingEvent OnViewChanging;
  TIEZoomEvent OnZoomIn, OnZoomOut;

  // ---- image ----
  ui::TBitmap* GetBitmap() override { return Bitmap; }
  TIEBitmap* GetPixelBuffer() override { return IEBitmap; }
  TIEBitmap* GetIEBitmap() { return IEBitmap; }
  TIEBitmap* GetAlphaChannel() override;  // created on first use
  bool QueryAlphaPresent() override;
  void DropAlphaBlended(bool merge) override;
  bool GetLegacyBitmap() const { return LegacyBitmap; }
  // False: the pixels move out of the view's platform bitmap (to memory, or a temporary file when
  // large) and GetBitmap gives nullptr; True: back into a platform bitmap of the view's own.
  virtual void SetLegacyBitmapValue(bool value);
  TIEMask* GetSelectionMask() { return SelectionMask; }
  int GetImageWidth() const { return ImageWidth; }
  int GetImageHeight() const { return ImageHeight; }
  bool GetEnableAlphaChannel() const { return EnableAlphaChannel; }
  void SetEnableAlphaChannel(bool v);
  std::string GetImageryVersion() const;
  void SetImageryVersion(const std::string&) {}  // the version is the library's: writing keeps it

  void SetBackgroundValue(ui::TColor value) override;
  void ImageChange() override;
  // While the view is read from a layout or designed, the image takes the control's size (blank).
  void SetBounds(int left, int top, int width, int height) override;

  // ---- events handed to the I/O and processing components ----
  virtual void SetOnProgressValue(TIEProgressEvent e);
  virtual void SetOnFinishWorkValue(TIENotify e);
  void SetOnSaveUndoValue(TIESaveUndoEvent e);
  virtual TIEProgressEvent GetOnProgressValue() { return OnProgress; }
  virtual TIENotify GetOnFinishWorkValue() { return OnFinishWork; }
  TIESaveUndoEvent GetOnSaveUndoValue() const { return OnSaveUndo; }
  ui::TNotifyEvent OnImageChange;
  ui::TNotifyEvent OnPaint;

  // ---- cursors ----
  int GetViewCursor() const { return Cursor; }
  int GetBaseCursor() const { return BaseCursor; }
  void SetCursorValue(int id);       // the application's cursor; shown at once
  void ShowTemporaryCursor(int id);  // only on a view with an owner
  void RestoreBaseCursor() { ShowTemporaryCursor(BaseCursor); }
  bool GetHasOwner() const { return HasOwner; }

 protected:
  void WndProc(ui::TMessage& m) override;
  void Paint() override;
  // Paints the back buffer's rectangle r onto the window, recomposing the buffer when it is dirty.
  void DrawBackBufferToScreen(const RECT& r);
  void ComposeBackBuffer();
  void DoViewChange(int change);
  void DoViewChanging(int change, double value);
  void PaintView();  // schedules a repaint unless painting is suspended

 private:
  void RezoomWith(void (TImageryView::*apply)(double), double z);  // the zoom setters' shared tail
  void AssignPlatformBitmap(ui::TBitmap* source);
  void SetZoomFactors();
  void ApplyAutoZoom();
  void SyncLayers();
  void ClampOriginAndSetScrollBars();
  void SetUpScrollBar(int bar, int max, int viewport);
  void ScrollAxis(bool horizontal, int action, int value);
  void HandleScrollMessage(bool horizontal, ui::TMessage& m);
  void HandleMouseWheel(ui::TMessage& m);
  void SmoothScrollStep(void* Sender);
  bool ScrollBarIncludes(int bar) const;
  void ShowScrollBarMarked(int bar, bool show);

  // zoom, origin and the geometry derived from them
  double ZoomX = 100, ZoomY = 100;
  double FX = 1, IX = 1, FY = 1, IY = 1;  // ZoomX / 100, 100 / ZoomX, likewise for Y
  int ViewOriginX = 0, ViewOriginY = 0;   // zoomed image pixels from the image's left / top edge
  int CenterOffsetX = 0, CenterOffsetY = 0;
  int ZoomedWidth = 0, ZoomedHeight = 0;
  int ExtentWidth = 0, ExtentHeight = 0;
  int SrcX = 0, SrcY = 0, SrcW = 0, SrcH = 0;
  int DrawnWidth = 0, DrawnHeight = 0;
  // Client-to-image (XS, YS) and image-to-client (XB, YB) lookup tables and the part they cover.
  std::vector<int> XS, YS, XB, YB;
  int TableScreenCols = 0, TableScreenRows = 0, TableImageCols = 0, TableImageRows = 0;
  const int* XSWin = nullptr;
  const int* YSWin = nullptr;
  const int* XBWin = nullptr;
  const int* YBWin = nullptr;
  double KeyZoomX = -1, KeyZoomY = -1;
  int KeyDrawnW = -1, KeyDrawnH = -1, KeyImageW = -1, KeyImageH = -1;
  double HScrollScale = 1, VScrollScale = 1;
  TScrollStyle ScrollBars = ssBoth;
  bool HScrollBarShown = false, VScrollBarShown = false;
  // What each scroll bar of the window was last given: the bars are set only where it changes, as
  // every call costs the window system a round trip and a repaint of the bar.
  struct TScrollBarState {
    HWND Wnd = nullptr;
    int Page = -1, Pos = -1;
    bool Enabled = false, Disabled = false, Shown = false;
  };
  TScrollBarState HBarState, VBarState;
  TScrollBarState& BarState(int bar);
  void PutScrollPos(int bar, int pos);
  bool KeepScrollBars = false;
  bool AutoFit = false, AutoShrink = false, AutoStretch = false;
  bool UpdateReentered = false;
  TIEBackgroundStyle BackgroundStyle = iebsSolid;
  ui::TPicture* WallPaper = nullptr;
  TIEWallPaperStyle WallPaperStyle = iewoNormal;
  int ChessboardSize = 16;
  ui::TBrushStyle ChessboardBrushStyle = ui::bsSolid;
  ui::TColor GradientEndColor = 0xFF0000;
  ui::TTimer* SmoothTimer = nullptr;
  int SmoothTargetX = 0, SmoothTargetY = 0;

  ui::TBitmap* Bitmap = nullptr;               // the view's own 24-bit bitmap (legacy storage)
  TIETBitmapAdapter* BitmapAdapter = nullptr;  // puts Bitmap behind IEBitmap
  TIEBitmap* IEBitmap = nullptr;
  TIEBitmap* BackBuffer = nullptr;
  TIEMask* SelectionMask = nullptr;
  TImageryIO* IO = nullptr;
  TImageryProc* Proc = nullptr;
  TIETransitionEffects* Transition = nullptr;
  void StopTransition();  // a running transition only
  bool LegacyBitmap = true;
  bool EnableAlphaChannel = true;
  bool Center = true;
  int ImageWidth = 0, ImageHeight = 0;
  int LastImageWidth = 0, LastImageHeight = 0;
  int UpdateLock = 0;
  int PaintLock = 0;
  int UpdateCount = 0;
  uint8_t UpdateReason = 0;
  bool Updating = false;
  bool BackBufferDirty = true;
  bool FullRepaintPending = true;
  bool InvalidateOnUpdate = true;
  bool HasOwner = false;
  bool HasGdiPlusUse = false;  // this view holds one use of the GDI+ binding
  bool CursorPending = true;
  int Cursor = 1785;
  int BaseCursor = 0;
  int MaskDepth = 1;
  TIEProgressEvent OnProgress;
  TIENotify OnFinishWork;
  TIESaveUndoEvent OnSaveUndo;
};
