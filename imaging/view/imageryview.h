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

#include "ietransitions.h"
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
class TIEMemoryStream;
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

// ---- mouse interaction ----
// Bit numbers of TIEMouseInteract: what the mouse does in the view.
enum TIEMouseInteractItems : uint8_t {
  miZoom, miScroll, miSelect, miSelectPolygon, miSelectCircle, miSelectZoom, miSelectMagicWand, miSelectLasso,
  miMoveLayers, miResizeLayers, miRotateLayers, miMovingScroll
};
using TIEMouseInteract = uint16_t;  // a set of TIEMouseInteractItems bits
constexpr TIEMouseInteract IEMouseBit(TIEMouseInteractItems i) { return TIEMouseInteract(1u << i); }
// Grips of a selection rectangle (1..8) and of a layer (1..9).
enum TIEGrip : uint8_t {
  ieNone, ieTopLeft, ieTopRight, ieBottomRight, ieBottomLeft, ieLeftSide, ieRightSide, ieTopSide, ieBottomSide,
  ieRotationCenter
};
enum TIELayerEvent : uint8_t {
  ielSelected, ielBeginMoving, ielMoving, ielMoved, ielBeginResizing, ielResizing, ielResized, ielRotating,
  ielRotated
};
// (Sender, layer index, event)
using TIELayerNotify = std::function<void(void* Sender, int layer, TIELayerEvent event)>;
// (Sender, grip under the mouse, 0 none)
using TIEMouseInResizingGripEvent = std::function<void(void* Sender, int grip)>;
// (Sender, the back buffer, layer index)
using TIEDrawLayerBoxEvent = std::function<void(void* Sender, TIEBitmap* ABitmap, int layer)>;
// (Sender, the back buffer, layer index, grip 0..8 (8 the rotation centre), its rectangle)
using TIEDrawLayerGripEvent =
    std::function<void(void* Sender, TIEBitmap* ABitmap, int layer, int grip, const RECT& rect)>;

// (Sender, canvas, rectangle to paint, handled: set True to skip the view's own background)
using TIEOnDrawBackground = std::function<void(void* Sender, ui::TCanvas* canvas, const RECT& rect, bool& handled)>;
// (Sender, canvas, the viewport's rectangle)
using TIEOnDrawCanvas = std::function<void(void* Sender, ui::TCanvas* canvas, const RECT& rect)>;
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

// ---- selection ----
// Bit numbers of TIESelectionOptions.
enum TIESelectionOption : uint8_t {
  iesoAnimated, iesoSizeable, iesoMoveable, iesoFilled, iesoCutBorders, iesoMarkOuter, iesoCanScroll,
  iesoSelectTranspLayers, iesoRightButtonSelectLayers, iesoRightButtonTerminatePolySelect
};
using TIESelectionOptions = uint16_t;  // a set of TIESelectionOption bits
constexpr TIESelectionOptions IESelOpt(TIESelectionOption o) { return TIESelectionOptions(1u << o); }
// iesbClientArea: coordinates given to the selection operations are client coordinates (converted to
// image pixels of the current layer); iesbBitmap: already image pixels.
enum TIESelectionBase : uint8_t { iesbClientArea, iesbBitmap };
// (Sender, index of the store, index of the point, canvas, its client x, y)
using TIEOnDrawPolygon = std::function<void(void* Sender, int storeIndex, int pointIndex, ui::TCanvas* canvas, int x, int y)>;

// One selection outline: polygons of image-pixel points, separated by kIEPolygonSeparator points.
struct TIEPolygonStore {
  std::vector<POINT> Points;  // size() is the capacity; Count of them are in use
  int Count = 0;
  ui::TColor Colour1 = 0, Colour2 = 0xFFFFFF;  // the two dash colours
  bool Animated = false;
  int AntsPhase = 0;    // 0..9
  int DashCounter = 0;  // while an outline is drawn
  int X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;  // bounds of all points, corners ordered
  bool Shown = true;
  bool Sizeable = false;
};

// Cuts a rectangle that leaves 0..width, 0..height back along its aspect: it shrinks towards its
// fixed corner, width and height by the same factor, until its other corner lies inside.
// r is ordered; fixedCorner (1 top-left, 2 top-right, 3 bottom-right, 4 bottom-left) stays where it is.
RECT IEClipRectKeepAspect(const RECT& r, int fixedCorner, int width, int height);

// Installs the view's services for the input/output component (ieviewservices.h). Every program that
// links the view runs it before main (ieviewinstall.cpp).
void IEInstallViewServices();

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
  void SetImageDpiX(int value) override {
    SuspendUpdates();
    SetDpiX(value);
    ResumeUpdatesQuietly();
  }
  void SetImageDpiY(int value) override {
    SuspendUpdates();
    SetDpiY(value);
    ResumeUpdatesQuietly();
  }
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
  void PaintBackgroundTo(ui::TCanvas* canvas, int, int) override { PaintBackgroundTo(canvas); }
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
  TIEMask* GetSelectionMask() override { return SelectionMask; }
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
  void Loaded() override;
  // Kept for layouts: the view always paints through its back buffer.
  bool GetDoubleBuffer() const { return DoubleBuffer; }
  void SetDoubleBuffer(bool v) { DoubleBuffer = v; }

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
  // The layer whose display caches (combined mask alpha, kept filtered part) the next UpdateView
  // drops, when only its pixels changed; -1, where every update comes back to: all layers'.
  int LayerCacheToDrop = -1;
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
  TIEOnDrawBackground OnDrawBackground;

  // ---- layer stream ----
  // formatCode: -1 zlib-compressed raw dumps, -2 raw dumps, else the file type each image is stored
  // in (1 is stored as 8).
  void SaveLayersToStream(TIEStream& stream, int formatCode);
  // False when the stream is not a layer stream; a damaged one raises. Either way the view keeps its
  // layers unless every layer of the stream was read whole.
  bool LoadLayersFromStream(TIEStream& stream);
  bool LoadLayersFromFile(const std::wstring& fileName);

  // ---- undo state ----
  // The selection state (ieuSelection), layer records (ieuLayer, ieuFullLayer) and whole layer streams of raw images (ieuObjectsAndLayers).
  // Restoring layer records matches them to the layers by Id: records of layers that are gone are
  // skipped, layers without a record keep their state, and the walk ends at a record whose stored
  // length is shorter than its header or runs past the stream.
  bool WriteUndoState(TIEUndoSource kind, TIEStream& stream) override;
  void ReadUndoState(TIEUndoSource kind, TIEStream& stream) override;
  int UndoLayerIndex() override { return CurrentLayer; }
  TIEBitmap* UndoLayerBitmap(int index) override;
  // ---- selection ----
  // A new empty store, appended to the view's list (the view frees it).
  TIEPolygonStore* CreatePolygonStore(ui::TColor colour1, ui::TColor colour2, bool sizeable, bool animated);
  void ClearPolygon(TIEPolygonStore* store);
  void AddSelectionPointRaw(TIEPolygonStore* store, int x, int y);
  void AddPolygonSeparator(TIEPolygonStore* store);
  void RemoveLastPoint(TIEPolygonStore* store);
  void RemoveLastPolygon(TIEPolygonStore* store);
  void MovePolygon(TIEPolygonStore* store, int dx, int dy, bool cutBorders, int imageWidth, int imageHeight);
  static bool IsRectanglePolygon(const POINT* points, int count);
  TIEPolygonStore* GetSelectionPolygonStore() { return SelectionPolygon; }

  // operation 0 replaces the selection, 1 adds to it
  virtual void SelectRect(int x1, int y1, int x2, int y2, int operation);
  void SelectRectInternal(int x1, int y1, int x2, int y2, int operation, bool square, bool keepInside);
  // An ellipse of centre (cx, cy) and radii rx, ry in image pixels appended as a new polygon.
  void AddEllipsePolygon(int cx, int cy, int rx, int ry);
  // The same ellipse as a whole selection (SelectionBase applies to the centre and the radii).
  void SelectEllipse(int cx, int cy, int rx, int ry, int operation);
  virtual void AddSelectionPoint(int x, int y);
  virtual void EndSelection();
  void BeginNewPolygon();
  void EndPolygonSelection(bool add, bool dropLastPoint);
  void Deselect();
  void SelectMagicWand(int x, int y, int operation);
  // Returns the new move state.
  int MoveSelection(int state, int dx, int dy, bool cutBorders);
  void MoveSelectionBy(int dx, int dy);
  // Returns the grip now dragged (a side grip can become a corner one, a drag across flips it).
  int ResizeSelectionByGrip(int grip, int x, int y, bool keepAspect);
  // A grip drag begins: the grip is remembered with the selection's bounds (the keep-aspect rules
  // measure from them).
  void BeginSelectionGripDrag(int grip);
  void ZoomSelection(bool keepAspect, bool ask);
  int SelectedLeft();
  int SelectedTop();
  int SelectedRight();
  int SelectedBottom();
  const POINT* GetSelectionPolygon() const;
  int GetSelectionPolygonCount() const;
  bool GetSelected() const { return SelectionPresent; }  // a selection is present
  bool GetPolygonSelecting() const { return PolygonSelecting; }  // a polygon or lasso is being drawn
  void SetSelectionColor1(ui::TColor c);
  void SetSelectionColor2(ui::TColor c);
  ui::TColor GetSelectionColor1() const { return SelectionColour1; }
  ui::TColor GetSelectionColor2() const { return SelectionColour2; }
  TIESelectionOptions GetSelectionOptions() const { return SelectionOptions; }
  void SetSelectionOptions(TIESelectionOptions options);
  double GetSelectionAspectRatio() const { return SelectionAspectRatio; }
  void SetSelectionAspectRatio(double r);
  TIESelectionBase GetSelectionBase() const { return SelectionBase; }
  void SetSelectionBase(TIESelectionBase base) { SelectionBase = base; }
  void ShowSelection(bool draw);
  void HideSelection(bool paint);
  void DoSelectionChanging();
  void DoBeforeSelectionChange();
  void DoSelectionChange();
  // sender: the view from PaintView, the animation timer from its tick; honourCanvasLock False only
  // from PaintView.
  void DrawSelections(void* sender, bool honourCanvasLock);
  virtual void DrawSelectionGrid(int x1, int y1, int x2, int y2);
  void DrawPolygonRubberBand();
  // 1..4 corners, 5 left, 6 right, 7 top, 8 bottom side; 0 none (client coordinates).
  int GetGripAt(int x, int y);
  int GetGripAtUnlessShift(int x, int y, bool shift);
  // 0 when the (client) point lies on a moveable selection, else -1.
  int HitSelection(int x, int y, bool shift);
  bool GetSelectionMoving() const { return SelectionMoving; }
  RECT GetNavigatorRect() const { return NavigatorRect; }
  // The animation timer's interval, 0 while the view has no timer.
  int GetAntsTimerInterval() const;
  // Milliseconds for timing the ants' border; replaceable so that the interval rule can be checked.
  std::function<double()> AntsClock;
  int FixedSelectionWidth = 100, FixedSelectionHeight = 100;
  bool ShiftAddsSelection = true;
  bool ConstrainAlways = false;
  bool MagicWandMaxFilter = false;
  int MagicWandTolerance = 15;
  uint8_t MagicWandMode = 0;  // 0 outline to polygon, 1 flood fill into the mask, 2 all similar colours
  ui::TColor SelectionGripPenColour = 0, SelectionGripBrushColour = 0xBAFFFF;
  ui::TBrushStyle SelectionGripBrushStyle = ui::bsSolid;
  int SelectionGripSize = 5;
  uint8_t SelectionGripShape = 1;  // 0 rectangle, 1 ellipse
  bool SelectionMidGrips = true;
  int SelectionGridSize = 1;
  int AntsTimeBudget = -20;
  // Animation-timer ticks after a zoom or scroll: until the zoom filter is applied (with
  // DelayZoomFilter), and during which the ants pause; each countdown restarts from its reload value.
  int FilterCountdown = 0, AntsPauseCountdown = 0;
  int FilterDelayTicks = 4, AntsPauseTicks = 2;
  bool PauseAntsOnViewChange = true;
  bool DrawSelectionsEnabled = true;  // the DrawSelections switch: selections are drawn at all
  bool ZoomSelectionKeepsAspect = true;
  ui::TNotifyEvent OnSelectionChanging, OnSelectionChange, OnBeforeSelectionChange, OnMouseInSel;
  TIEOnDrawPolygon OnDrawPolygon;

  // ---- selection state stream and stack ----
  void WriteSelectionStream(TIEStream& stream);
  // mode 0 keeps the mask where it was, 1 moves it back inside a smaller image, 2 re-anchors it from
  // the layer position it was written with to the current layer. False (nothing changed) for a
  // record that is damaged or does not fit.
  bool ReadSelectionStream(TIEStream& stream, int mode);
  void PushSelection();
  bool PopSelection(bool remove, int mode);
  int GetSelectionStackCount() const { return int(SelectionStack.size()); }

  // ---- painting ----
  bool UseDrawDib = false;  // transfer with DrawDib whatever the screen depth
  bool GetDrawVersion() const { return DrawVersion; }
  void SetDrawVersionValue(bool value);
  // Marks the back buffer for recomposition and invalidates r (nullptr: all) without erasing: for what
  // is drawn over the layers. New pixels in a layer bitmap are shown through UpdateView.
  void InvalidateRectDirty(const RECT* r);
  // The system palette changed (foreground: this application's window is the active one): the
  // DrawDib palette is realized into the main form's device context and the view repainted when that
  // changed anything, or always when the application has no main form. Reached through
  // WM_QUERYNEWPALETTE (foreground) and WM_PALETTECHANGED sent to the view, which answer 1.
  bool PaletteChanged(bool foreground);
  ui::TBitmap* GetBackBufferBitmap();
  TIEBitmap* GetBackBuffer() { return BackBuffer; }
  ui::TNotifyEvent OnDrawBackBuffer;
  TIEOnDrawCanvas OnDrawCanvas;
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

  // ---- mouse interaction ----
  TIEMouseInteract GetMouseInteract() const { return MouseInteract; }
  // Reduces the set to one mode (a mode new to the set wins), bakes or crops layer rotations for the
  // rotation mode and stores it.
  virtual void SetMouseInteractValue(TIEMouseInteract value);
  // Scrolls while the mouse is outside the drawn image area; True when it scrolled.
  bool AutoScroll();
  // The stored drag positions follow an automatic scroll of (dx, dy).
  virtual void OffsetDragPositions(int dx, int dy);
  // Rubber bands from the selection start point to the client point (x, y).
  void SelectRectTo(int x, int y, int shift);
  void SelectCircleTo(int x, int y, int shift);
  // Resizes the current layer by the dragged layer grip to the client point.
  void ResizeLayerByGrip(int x, int y, bool keepAspect);
  virtual void DoLayerNotify(int layer, TIELayerEvent event);
  void DoZoomIn(double& z);
  void DoZoomOut(double& z);
  void DoMouseInResizingGrip(int grip);
  void DoMouseInSel();
  // The information box shown while layers are moved, resized and rotated: text at (x, y), sized
  // by the template.
  using TIEView::SetHint;
  void SetHint(const std::string& text, int x, int y, const std::string& measure);
  const std::string& GetHintText() const { return HintText; }
  bool EnableInteractionHints = true;
  double MouseScrollSpeed = 1.0;
  int RotationSnap = 45;          // degrees of a Shift-held rotation step; 0 no snapping
  uint8_t LayerResizeAspect = 1;  // 0 free, 1 with Alt (or ConstrainAlways), 2 always, 3 corner grips only
  double LayerResizeRatio = 1;    // height / width kept by an aspect-keeping layer resize
  bool LayerUndo = false;         // push an undo entry before the first step of a layer drag
  bool CropOnRotateMode = true;
  // The zoom filter waits while a mouse button is down and for a few timer ticks after each zoom or
  // scroll, so that these draw fast.
  bool DelayZoomFilter = false;
  TIELayerNotify OnLayerNotify;
  TIEMouseInResizingGripEvent OnMouseInResizingGrip;

  // ---- layer frames, grips and overlays ----
  // The current layer's grip holding the client point (edges included); the rotation centre only
  // under miRotateLayers.
  TIEGrip FindLayerGrip(int x, int y);
  // The nine grip squares of a layer, rectangle k being grip k + 1.
  void GetLayerGripRects(int layer, RECT rects[9]);
  void DrawLayerBox(TIEBitmap* bitmap, int layer);
  void DrawLayerGrips(TIEBitmap* bitmap, int layer);
  void DrawRotationGrip(TIEBitmap* bitmap, int layer);
  void DimOutsideLayer(TIEBitmap* bitmap, int layer);
  void DrawSelectionOverlays(TIEBitmap* bitmap);
  void DrawPixelGrid(TIEBitmap* bitmap);
  // How iesoMarkOuter marks the unselected area: opacity 0..255 of the colour, -1 a grey checker.
  int MarkOuterOpacity = -1;
  ui::TColor MarkOuterColour = 0xFFFFFF;
  ui::TPen* GetLayerBoxPen() const { return LayerBoxPen; }  // dotted, drawn inverting
  int LayerGripSize = 5;
  ui::TColor LayerGripPenColour = 0, LayerGripBrushColour = 0xBAFFFF;
  ui::TBrushStyle LayerGripBrushStyle = ui::bsSolid;
  uint8_t LayerGripShape = 1;  // 0 rectangle, 1 ellipse
  bool ShowPixelGrid = false;
  POINT HighlightedGridPixel{-1, -1};  // image pixel framed over the grid; (-1, -1) none
  TIEDrawLayerBoxEvent OnDrawLayerBox;
  TIEDrawLayerGripEvent OnDrawLayerGrip;

  // ---- navigator and scroll bars ----
  // Links (or with nullptr unlinks) a view that shows this view's image fitted and steers it by its
  // rectangle. options: bit 0 its wheel zooms this view, bit 1 it shades what this view does not show.
  void SetNavigator(TImageryView* view, uint8_t options);
  TImageryView* GetNavigatorView() const { return NavigatorView; }
  uint8_t GetNavigatorOptions() const { return NavigatorOptions; }
  bool GetIsNavigator() const { return IsNavigator; }
  void SyncNavigator();
  // Makes a bitmap owned elsewhere the current layer's image; nullptr gives the layer an empty one of
  // its own again.
  void SetExternalBitmap(TIEBitmap* bitmap);
  // (Sender, shift state, wheel delta, mouse position in client pixels, handled: True skips the view's
  // own wheel handling)
  using TIEMouseWheelEvent = std::function<void(void* Sender, int shift, int delta, POINT mouse, bool& handled)>;
  TIEMouseWheelEvent OnMouseWheel;
  bool GetFlatScrollBars() const { return FlatScrollBars; }
  void SetFlatScrollBarsValue(bool value);

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
  virtual void DoViewChange(int change);  // fires OnViewChange (0 origin, 1 zoom)
  void DoViewChanging(int change, double value);
  void PaintView();  // schedules a repaint unless painting is suspended
  // The mouse operations: each runs the inherited one (which fires the mouse event) first.
  void DoMouseDown(ui::TMouseButton button, int shift, int x, int y) override;
  void DoMouseUp(ui::TMouseButton button, int shift, int x, int y) override;
  virtual void DoMouseMove(int shift, int x, int y);
  void Notification(ui::TComponent* c, ui::TOperation op) override;
  // Shift held or let go over a view that adds selections with Shift swaps the add and plain crosses.
  bool DoKeyDown(ui::TMessage& m) override;
  bool DoKeyUp(ui::TMessage& m) override;
  void PaintNavigatorShaded(const RECT& r);

 private:
  // the zoom setters' shared tail; zoomed: the zoom in effect before is not 100 %; holdNavigator:
  // a linked navigator does not paint meanwhile
  void RezoomWith(void (TImageryView::*apply)(double), double z, bool zoomed, bool holdNavigator);
  // A zoom or scroll starts the countdowns: the zoom filter waits when it is delayed and the view
  // was zoomed, the ants pause.
  void RestartViewCountdowns(bool zoomed);
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
                    bool drawBackground, bool drawBoxes);
  void PrepareMaskedAlpha(TIELayer* layer, TIELayer* mask);
  void DrawLayerDecorations(int index, TIEBitmap* dest);
  // the kept filtered parts of layer bitmaps, or nullptr for a source that must not be kept
  TIEFilterCache* FilterCacheFor(bool transient);
  void ClearFilterCache();
  void DropLayerCache(TIELayer* layer);  // its combined mask alpha and its kept filtered part
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
  // mouse interaction
  void ClampToLayer(int& x, int& y);
  void MouseDownLayers(ui::TMouseButton button, int rawX, int rawY);
  void MouseMoveLayers(int shift, int rawX, int rawY);
  void MouseUpLayers(int rawX, int rawY);
  void HoverCursor(int shift, int rawX, int rawY);
  void FollowMouseScroll(int rawX, int rawY);
  void PushLayerUndoOnce(TIEUndoSource source);
  int GripCursor(int grip) const;
  // the selection modes' share of the machine; the first two return True when a mode took the event
  void MouseInteractChanging(TIEMouseInteract old);
  bool MouseDownSelection(ui::TMouseButton button, int shift, int x, int y);
  bool MouseMoveSelection(int shift, int x, int y, int rawX, int rawY);
  bool MouseHoverSelection(int shift, int x, int y, int rawX, int rawY);
  void MouseUpSelection(ui::TMouseButton button, int shift, int x, int y, int rawX, int rawY, bool& changed);
  void MouseUpSelectionEnd();
  void FinishRubberBand(int shift);
  bool ShiftAdds(int shift) const;
  void SnapToLastPolygonPoint(int& x, int& y);
  TIEMouseInteract MouseInteract = 0;
  TResampleFilter SavedZoomFilter{};
  int DownX = 0, DownY = 0;            // raw
  int DownClampX = 0, DownClampY = 0;  // clamped to the drawn image area
  int StartX = 0, StartY = 0;          // clamped to the current layer: the selection start
  int PrevX = 0, PrevY = 0;            // previous clamped point
  int PrevRawX = 0, PrevRawY = 0;
  int LastX = 0, LastY = 0;
  int DragStartOriginX = 0, DragStartOriginY = 0;
  int DownPointCount = 0;  // the selection store's points at mouse-down
  int MovingLayer = -1, RotatingLayer = -1, CentreLayer = -1;
  int LayerGrip = 0;
  bool LayerMoved = false, LayerUndoSaved = false, LayerResizeStarted = false;
  double RotationAngle = 0;
  RECT LayerDragRect{0, 0, 0, 0};
  POINT LayerDragCorners[4]{};
  bool AutoScrolling = false;
  bool MouseButtonDown = false;
  std::string HintText, HintTemplate;
  int HintX = 0, HintY = 0;
  ui::TPen* LayerBoxPen = nullptr;
  // navigator
  TImageryView* NavigatorView = nullptr;
  uint8_t NavigatorOptions = 0;
  bool NavigatorSyncing = false;
  bool IsNavigator = false;
  TIEBitmap* NavigatorShade = nullptr;
  TIEViewHandlerRecord* NavigatorHandler = nullptr;  // the main view's bitmap changes reach the navigator
  void NavigatorSelectionChanging(void* Sender);
  void NavigatorMouseWheel(int delta, int x, int y, bool& handled);
  void AttachNavigatorBitmap();
  bool FlatScrollBars = false;
  bool LegacyBitmap = true;
  bool DoubleBuffer = true;
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
  // selection state
  void DrawPolygonOutline(TIEPolygonStore* store, int storeIndex);
  void DrawDashedLine(TIEPolygonStore* store, int x1, int y1, int x2, int y2);
  void PaintSelectionChange();  // back buffer dirty and paint
  void DrawGrips(TIEPolygonStore* store);
  void EnsureAntsTimer();
  // One tick of the animation timer: the countdowns of the delayed zoom filter and of the ants'
  // pause run down, whatever is drawn; the timer stops once nothing needs it.
  void CountDownViewTimers();
  bool AnimatedStoreShown() const;
  void FreeSelectionState();  // the stores and the saved states
  void FitMaskToBitmap();     // the mask takes the working bitmap's size
  int SelectionToClientX(int x);  // image pixels of the current layer to client
  int SelectionToClientY(int y);
  void SelectionPointToImage(int& x, int& y);  // by SelectionBase
  bool InteractiveSelectionRuns() const;
  std::vector<TIEPolygonStore*> PolygonStores;  // owned
  TIEPolygonStore* SelectionPolygon = nullptr;
  std::vector<TIEMemoryStream*> SelectionStack;  // owned
  ui::TTimer* AntsTimer = nullptr;
  TIESelectionOptions SelectionOptions = IESelOpt(iesoAnimated) | IESelOpt(iesoSizeable) |
                                         IESelOpt(iesoMoveable) | IESelOpt(iesoCanScroll);
  TIESelectionBase SelectionBase = iesbClientArea;
  TIESelectionBase SavedSelectionBase = iesbClientArea;
  double SelectionAspectRatio = -1.0;
  ui::TColor SelectionColour1 = 0, SelectionColour2 = 0xFFFFFF;
  bool SelectionPresent = false;
  bool PolygonSelecting = false, LassoSelecting = false, RectSelecting = false, CircleSelecting = false;
  int SelectionGrip = 0;         // grip being dragged, 0 none
  int SelectionMoveState = -1;   // -1 no move
  bool SelectionMoving = false;  // a rectangle selection is being moved (its mask rebuilt at the end)
  int GripStartX1 = 0, GripStartY1 = 0, GripStartX2 = 0, GripStartY2 = 0;  // bounds when a grip drag began
  int AntsPhaseCounter = 0;  // view-wide, advanced by the animation timer
  int MaskValue = 1;
  RECT NavigatorRect{0, 0, 0, 0};
  POINT RubberBandPoint{0, 0};  // last mouse position of a running polygon selection (client)
  TIEProgressEvent OnProgress;
  TIENotify OnFinishWork;
  TIESaveUndoEvent OnSaveUndo;
};
