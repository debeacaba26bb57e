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
struct TIEFilterCache;
class TIELayer;
class TIEMask;
class TIEStream;
struct TIERenderTables;
class TIETBitmapAdapter;
class TImageryIO;
class TImageryProc;
class TIETransitionEffects;
enum TIEUndoSource : uint8_t;
enum TResampleFilter : uint8_t;
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

// (Sender, canvas, rectangle to paint, handled: set True to skip the view's own background)
using TIEDrawBackgroundEvent = std::function<void(void* Sender, ui::TCanvas* canvas, const RECT& rect, bool& handled)>;
// (Sender, canvas, the viewport's rectangle)
using TIEDrawCanvasEvent = std::function<void(void* Sender, ui::TCanvas* canvas, const RECT& rect)>;
// (Sender, character code, shift state, handled: True takes the key for the control)
using TIESpecialKeyEvent = std::function<void(void* Sender, int charCode, int shift, bool& handled)>;
// (Sender, virtual key, key data, key down)
using TIEVirtualKeyEvent = std::function<void(void* Sender, unsigned virtualKey, LPARAM keyData, bool keyDown)>;
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

  // ---- layers ----
  // Layer 0 is the image; the working bitmap (GetIEBitmap, what the I/O and processing components
  // work on) is always the current layer's bitmap.
  int GetLayerCount() const { return int(Layers.size()); }
  TIELayer* GetLayer(int index);  // std::out_of_range outside 0 .. count - 1
  TIELayer* GetCurrentLayer() { return Layers[size_t(CurrentLayer)]; }
  int GetCurrentLayerIndex() const { return CurrentLayer; }
  // Out of range or already current: nothing. A layer that may not be selected passes the choice down
  // to the nearest selectable one (layer 0 at last).
  virtual void SetCurrentLayer(int index);
  // A new current layer of the working bitmap's size, format and location, filled with Background,
  // appended; returns its index.
  int AddLayer();
  // Removes the layer, and the mask layer right above it; layer 0 and bad indexes are left alone
  // while only one layer exists / the index is out of range.
  void RemoveLayer(int index);
  // Only layer 0 stays, with its defaults (no frame, locked), filled with Background.
  void ClearLayers();
  // Stores the working bitmap into its layer and takes the image size from layer 0 (with
  // SyncLayerSizes, enlarges every layer to the largest, the new area transparent).
  void SyncLayers();
  // The topmost visible layer whose drawn rectangle holds the client point and whose pixel there is
  // not fully transparent; -1 for none.
  int FindLayerAt(int x, int y, bool honourSelectable);
  bool IsPointInLayer(int x, int y, int index);
  // index -1: every layer. Bake the display size, crop to the opaque area, bake the rotation.
  void ApplyLayerSizes(int index);
  void CropLayersToOpaque(int index);
  void ApplyLayerRotations(int index);
  bool SelectableLayersOnly = true;
  bool SyncLayerSizes = false;
  bool ShowAllLayerBoxes = false;
  // The area outside layer 0: 0 shown normally; 1 upper layers at opacity OutsideImageValue there;
  // 2 a grey checker over it; 3 lightened by OutsideImageValue.
  uint8_t OutsideImageMode = 0;
  int OutsideImageValue = 60;
  bool LayersRotationAntialias = false;
  uint8_t LayersRotationAntialiasMode = 0;

  // ---- compositing ----
  // Composes the layers into `dest` (24-bit) at the view's zoom and origin: background (when asked),
  // each visible layer through its alpha, mask, opacity and blend operation. tables: the row table of
  // dest or nullptr; clip: the rectangle to refresh or nullptr.
  virtual void DrawLayers(TIEBitmap* dest, TIERenderTables* tables, const RECT* clip, bool drawBackground,
                          bool drawBoxes);
  // Sizes dest to hold every layer (layers left of or above layer 0 move it right and down) and
  // composes them at 100 %.
  void DrawLayersTo(TIEBitmap* dest);
  // All layers become layer 0's pixels (24-bit).
  void MergeAllLayers();
  TResampleFilter GetZoomFilter() const { return ZoomFilter; }
  void SetZoomFilterValue(TResampleFilter filter);
  TIEDrawBackgroundEvent OnDrawBackground;

  // ---- layer stream ----
  // formatCode: -1 zlib-compressed raw dumps, -2 raw dumps, else the file type each image is stored
  // in (1 is stored as 8).
  void SaveLayersToStream(TIEStream& stream, int formatCode);
  // False when the stream is not a layer stream; a damaged one raises after keeping the layers read.
  bool LoadLayersFromStream(TIEStream& stream);
  bool LoadLayersFromFile(const std::wstring& fileName);

  // ---- undo state ----
  // Layer records (ieuLayer, ieuFullLayer) and whole layer streams of raw images (ieuObjectsAndLayers).
  // Restoring layer records matches them to the layers by Id: records of layers that are gone are
  // skipped, layers without a record keep their state, and the walk ends at a record whose stored
  // length is shorter than its header or runs past the stream.
  bool WriteUndoState(TIEUndoSource kind, TIEStream& stream) override;
  void ReadUndoState(TIEUndoSource kind, TIEStream& stream) override;
  int UndoLayerIndex() override { return CurrentLayer; }
  TIEBitmap* UndoLayerBitmap(int index) override;

  // ---- painting ----
  bool UseDrawDib = false;  // transfer with DrawDib whatever the screen depth
  bool GetDrawVersion() const { return DrawVersion; }
  void SetDrawVersionValue(bool value);
  // Marks the back buffer for recomposition and invalidates r (nullptr: all) without erasing: for what
  // is drawn over the layers. New pixels in a layer bitmap are shown through UpdateView.
  void InvalidateRectDirty(const RECT* r);
  ui::TBitmap* GetBackBufferBitmap();
  TIEBitmap* GetBackBuffer() { return BackBuffer; }
  ui::TNotifyEvent OnDrawBackBuffer;
  TIEDrawCanvasEvent OnDrawCanvas;
  ui::TNotifyEvent OnDShowNewFrame;
  ui::TNotifyEvent OnDShowEvent;
  TIESpecialKeyEvent OnSpecialKey;
  TIEVirtualKeyEvent OnVirtualKey;

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
  // Drawn over the composed layers whenever the back buffer is recomposed (before OnDrawBackBuffer);
  // clip: the part recomposed, nullptr for all of it. The vector view draws its objects and grips here.
  virtual void PaintOverLayers(TIEBitmap* backBuffer, const RECT* clip) {
    (void)backBuffer;
    (void)clip;
  }
  void DrawVersionText();
  void DoViewChange(int change);
  void DoViewChanging(int change, double value);
  void PaintView();  // schedules a repaint unless painting is suspended

 private:
  void RezoomWith(void (TImageryView::*apply)(double), double z);  // the zoom setters' shared tail
  void AssignPlatformBitmap(ui::TBitmap* source);
  void SetZoomFactors();
  void ApplyAutoZoom();
  void ClampOriginAndSetScrollBars();
  // the working bitmap becomes the layer's, and the view's platform bitmap the one behind it
  void TakeLayerBitmap(TIELayer* layer);
  void ReadLayerRecords(TIEStream& stream);
  // a video is shown in the current layer's place: the I/O component's video object renders into the
  // view and its graph runs
  bool VideoShown();
  void DrawBackground(TIEBitmap* dest, const RECT* clip);
  void DrawOneLayer(int index, TIEBitmap* dest, TIERenderTables* tables, const RECT* clip, bool& first,
                    bool drawBackground);
  void PrepareMaskedAlpha(TIELayer* layer, TIELayer* mask);
  // the kept filtered parts of layer bitmaps, or nullptr for a source that must not be kept
  TIEFilterCache* FilterCacheFor(bool transient);
  void ClearFilterCache();
  void ShadeOutsideImage(TIEBitmap* dest);
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
  void MoveOrigin(bool horizontal, int x, bool vertical, int y);
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

  ui::TBitmap* Bitmap = nullptr;  // the platform bitmap behind the working bitmap, or nullptr
  TIEBitmap* IEBitmap = nullptr;  // the working bitmap: the current layer's
  std::vector<TIELayer*> Layers;  // owned; never empty once created
  int CurrentLayer = 0;
  TResampleFilter ZoomFilter{};
  TIEFilterCache* FilterCache = nullptr;
  bool DrawVersion = false;
  HANDLE DrawDibHandle = nullptr;
  HWND DShowWindow = nullptr;
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
