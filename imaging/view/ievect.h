// TImageryVect, the vector object editor: an image view that keeps, over its image, an ordered list of
// vector objects addressed by integer handles (lines, boxes, ellipses, arcs, bitmaps, texts, rulers,
// polylines, angles, memos, line labels and extended objects), a selection list, a table of bitmaps
// shared between objects by reference count, per-view defaults, measuring in real units, and the
// objects stream ("IEV").
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ieutils.h"
#include "ietextcontrol.h"
#include "imageryview.h"

class TIEBitmap;
class TIEStream;
class TIEPlatformBitmap;
class TIECanvas;
class TImageryVect;
struct TIEVObjectRecord;

class EIEVectError : public EIEError {
 public:
  using EIEError::EIEError;
};

enum TIEVKind : uint8_t {
  ievkNONE = 0, ievkLINE = 1, ievkBOX = 2, ievkELLIPSE = 3, ievkARC = 4, ievkBITMAP = 5, ievkTEXT = 6,
  ievkRULER = 7, ievkPOLYLINE = 8, ievkANGLE = 9, ievkMEMO = 10, ievkLINELABEL = 11, ievkEXTENDED = 12
};
constexpr TIEVKind ievkGROUP = ievkNONE;  // in streams only

// What the mouse does over the objects (bit numbers of TIEVectInteract).
enum TIEVectInteraction : uint8_t {
  iviAreaMeasure, iviLengthMeasure, iviCreateLine, iviCreateBox, iviCreateEllipse, iviCreateBitmap,
  iviCreateText, iviEditObjects, iviDragLength, iviCreateRuler, iviCreatePolyline, iviCreateAngle,
  iviCreateMemo, iviCreateLineLabel, iviEditPolylinePoints,
  iviDragToCreate,  // option: a click that does not move the mouse creates nothing
  iviCreateExtended
};
using TIEVectInteract = uint32_t;
constexpr TIEVectInteract IEVI(TIEVectInteraction i) { return TIEVectInteract(1) << i; }

// Where mouse edits keep their undo snapshots: the view's own list, or the processing component's stack.
enum TIEVUndoMode : uint8_t { ieumSeparated, ieumShared };

// Grip codes of the move and resize grips.
enum : int {
  ievgNone, ievgFirst, ievgSecond, ievgMove, ievgTopRight, ievgBottomLeft, ievgLeft, ievgRight, ievgTop, ievgBottom,
  ievgAngle1, ievgAngle2, ievgAngle3
};

enum TIEUnits : uint8_t {
  ieuPIXELS, ieuINCHES, ieuKM, ieuMETERS, ieuCENTIMETERS, ieuMILLIMETERS, ieuMICRONS, ieuNANOMETERS,
  ieuFEET, ieuYARDS, ieuMILES
};
extern const char* const IEUnitNames[11];
enum TIEVValType : uint8_t { ievtAREA, ievtLENGTH };
// The shape at an end of a line or line label: 0 none, 1 triangle with its base on the end point, 2 arrow
// head with its tip on the end point (other values draw nothing).
using TIEVLineEnd = uint8_t;

// Special handles.
constexpr int IEV_TEMPLATE = -1;  // the defaults the next object copies
constexpr int IEV_LAST = -2;      // the most recently created object
constexpr int IEV_ALL = -3;
constexpr int IEV_NONE = -4;
constexpr int IEV_POINT_UNSET = -1000000;  // x of an angle point not set yet

enum TIEVFlag : uint8_t { ievfSelectable = 1, ievfMovable = 2, ievfResizable = 4, ievfVisible = 8 };

struct TIEVSoftShadow {
  bool Enabled = false;
  double Radius = 3.0;
  int32_t OffsetX = 0, OffsetY = 0;
  int32_t Intensity = 100;
  TIERGB Color{0, 0, 0};
};

struct TIEVSharedBitmap {
  std::unique_ptr<TIEBitmap> Bitmap;  // nullptr: a free slot
  int RefCount = 0;
};

// An application-defined object kind: draws itself, stores itself in the objects stream and reacts
// to the mouse and keys. Registered by name (IERegisterExtendedClass) so that streams can re-create it.
class TIEVExtendedObject {
 public:
  virtual ~TIEVExtendedObject() = default;
  TImageryVect* Owner = nullptr;
  TIEVObjectRecord* Record = nullptr;
  int Handle = -1;

  virtual void Initialise() {}
  virtual void SetHandle(int hobj) { Handle = hobj; }
  virtual void SaveToStream(TIEStream& stream) = 0;
  virtual void LoadFromStream(TIEStream& stream) = 0;
  virtual TIEVExtendedObject* Clone() const = 0;
  virtual void MouseDown(int button, int shift, int x, int y) { (void)button, (void)shift, (void)x, (void)y; }
  virtual void MouseUp(int button, int shift, int x, int y) { (void)button, (void)shift, (void)x, (void)y; }
  virtual void MouseMove(int shift, int x, int y) { (void)shift, (void)x, (void)y; }
  virtual void MouseEnter() {}
  virtual void MouseLeave() {}
  virtual void KeyPress(WORD key, int shift) { (void)key, (void)shift; }
  virtual void Draw(ui::TBitmap* target, int x1, int y1, int x2, int y2, double zoomX, double zoomY, bool alphaPass) = 0;
};

// The plain (copyable) fields of an object record; the owned data is in TIEVObjectRecord.
struct TIEVObjectFields {
  int32_t X1 = 0, Y1 = 0, X2 = 63, Y2 = 63;
  TIEVKind Kind = ievkNONE;
  int32_t Transparency = 255;
  bool KeepAspectRatio = false;
  uint8_t BlendOperation = 0;
  TIEVLineEnd StartShape = 0, EndShape = 0;
  int32_t ShapeWidth = 10, ShapeHeight = 20;
  ui::TColor LabelBrushColor = 0xFFFFFF;
  uint8_t LabelBrushStyle = 0;
  uint8_t LabelAtEnd = 1;
  uint8_t LabelBorder = 1;
  RECT LabelBox{0, 0, 0, 0};
  ui::TColor PenColor = 0xFFFFFF;
  uint8_t PenStyle = 0;
  int32_t PenWidth = 1;
  ui::TColor BrushColor = 0xFFFFFF;
  uint8_t BrushStyle = 1;
  bool Highlight = false;
  double ArcStart = 0.0, ArcEnd = 6.283185307179586;
  int32_t BitmapIndex = -1;
  bool BitmapBorder = false;
  uint8_t TextQuality = 0;
  uint8_t TextAlign = 0;
  bool AutoSize = false;
  bool MemoUniformFormat = true;
  int32_t CurveEscapement = -10;
  bool TextEditable = true;
  int32_t MemoLineSpacing = 0;
  ui::TColor MemoBorderColor = 0xFFFFFF;
  uint8_t MemoBorderStyle = 0;
  int32_t MemoLineHeight = 0;
  bool MemoHasBitmap = false;
  double MemoMargins[4] = {0, 0, 0, 0};
  uint8_t MemoBackgroundStyle = 0;
  uint8_t Tag[4] = {0, 0, 0, 0};
  uint8_t Flags = 15;
  TIEUnits RulerUnit = ieuPIXELS;
  uint8_t RulerType = 2;
  RECT PolyBounds{0, 0, 0, 0};  // min x, min y, max x, max y of the raw vertices
  bool PolyClosed = false;
  POINT AnglePoints[3] = {{0, 0}, {50, 0}, {50, 50}};
  RECT SavedBox{0, 0, 0, 0};
  RECT DrawnBox{0, 0, 0, 0};
  int32_t DrawnMargin = 0;
};

struct TIEVObjectRecord : TIEVObjectFields {
  std::string Text;
  std::string Name;
  std::unique_ptr<LOGFONTA> Font;
  std::vector<std::pair<double, double>> CurvePoints;
  std::vector<int32_t> MemoCharFormats;
  std::vector<TIETextFormat> MemoFormats;
  std::vector<POINT> PolyPoints;
  std::vector<POINT> DrawnPoints;
  TIEVSoftShadow Shadow;
  std::unique_ptr<TIEVExtendedObject> Extended;
  // Application data; when UserDataLength > 0 the object owns a block of that many bytes.
  void* UserData = nullptr;
  int32_t UserDataLength = 0;

  TIEVObjectRecord() = default;
  ~TIEVObjectRecord();
  TIEVObjectRecord(const TIEVObjectRecord&) = delete;
  TIEVObjectRecord& operator=(const TIEVObjectRecord&) = delete;
  void FreeUserData();
  int CurveCount() const { return int(CurvePoints.size()); }
  int PolyCount() const { return int(PolyPoints.size()); }
};

// (Sender, object handle)
using TIEVObjectEvent = std::function<void(void* Sender, int hobj)>;
using TIEVNewObject = TIEVObjectEvent;
using TIEUserSelectObject = TIEVObjectEvent;
using TIEVObjectClickEvent = TIEVObjectEvent;
// (Sender, object handle, grip, step the application may change, in image pixels)
using TIEVObjectMoveResizeEvent = std::function<void(void* Sender, int hobj, int grip, int& offsetX, int& offsetY)>;
// (Sender, the measured length)
using TIEVDragLenEndEvent = std::function<void(void* Sender, double length)>;
// (Sender, the hint text the application may change, the measured value)
using TIEVMeasureHintEvent = std::function<void(void* Sender, std::string& text, double value)>;
// (Sender, var text, the value, area or length)
using TIEOnPresentMeasure = std::function<void(void* Sender, std::string& text, double value, TIEVValType type)>;
// (Sender, object handle, destination, the object's box in the destination's pixels, drawing the alpha
// channel, var handled: skips the object's own drawing)
using TIEDrawObjectEvent = std::function<void(void* Sender, int hobj, TIEBitmap* destination, const RECT& destRect,
                                              bool drawingAlpha, bool& handled)>;
// (Sender: the editor, key, shift state): a key set to 0 is consumed
using TIEVTextKeyEvent = std::function<void(void* Sender, WORD& key, int shift)>;

class TImageryVect : public TImageryView {
  UI_DECLARE_CLASS(TImageryVect, TImageryView)
 public:
  TImageryVect();
  void Create(ui::TComponent* owner) override;
  void BeforeDestruction() override;
  ~TImageryVect() override;

  // nullptr removes all objects; a TImageryVect source's objects are copied; any other source leaves
  // the objects. The image and view settings are assigned first in every case.
  void Assign(ui::TPersistent* source) override;

  // ---- records and the object list ----
  // The record of a handle (-1 the template, -2 the last created); nullptr for -3 and -4. A handle that
  // names no object raises EIEVectError.
  TIEVObjectRecord* ObjectRecord(int hobj);
  int AddObject(const TIEVObjectRecord& templ);  // returns the new handle
  void RemoveAllObjects();
  int ObjectsCount() const { return int(ObjectList.size()); }
  int GetObjectHandle(int index) const;  // by position in drawing order
  RECT GetObjectsExtent();
  void SetObjUserData(int hobj, void* data);
  void SetObjUserDataLength(int hobj, int length);
  void SetObjFont(int hobj, ui::TFont* font);
  int GetObjFontStyles(int hobj);  // ui::TFontStyle bits
  void AddPolylinePoint(int hobj, int x, int y);
  void CopyObjectsTo(TImageryVect* dest);
  int CopyObjectTo(int hobj, TImageryVect* dest);
  int AnglePointCount(int hobj);

  // ---- selection ----
  void SelectObject(int hobj);
  void SelectObjectNotify(int hobj);
  bool IsSelected(int hobj);
  void DeselectObject(int hobj);
  void UnselectObjects();
  void UnselectObjectsAndRepaint();
  void SelectInRect(int hobj, int x1, int y1, int x2, int y2);
  int SelectedObjectsCount() const { return int(SelectionList.size()); }
  int SelectedObject(int index) const { return SelectionList.at(size_t(index)); }
  ui::TNotifyEvent OnSelectObject;

  // ---- shared bitmaps ----
  TIEBitmap* SharedBitmap(int index);  // nullptr for a negative index or a free slot
  int SharedBitmapRefCount(int index) const;
  int SharedBitmapsCount() const { return int(SharedBitmaps.size()); }
  int FindSharedBitmap(TIEBitmap* bitmap);
  int NewSharedSlot();
  void ReleaseSharedBitmap(int index);
  void SetObjBitmap(int hobj, TIEBitmap* bitmap);
  void SetObjBitmapIndex(int hobj, int index);
  void SetObjBitmapFromIcon(int hobj, LPCSTR icon, int width, int height);
  void CompactSharedBitmaps();
  bool GetShareBitmaps() const { return ShareBitmaps; }
  void SetShareBitmaps(bool v) { ShareBitmaps = v; }

  // ---- objects stream ----
  void SaveObjectsToStream(TIEStream& stream);
  bool LoadObjectsFromStream(TIEStream& stream);  // false: not an objects stream of a known version
  bool LoadObjectsFromFile(const std::wstring& fileName);
  void SaveObjectToStream(TIEStream& stream, int hobj);  // -3: every object in list order
  int LoadObjectFromStream(TIEStream& stream, uint8_t version);  // the handle added, -4 for a group

  // ---- layers-and-objects stream ----
  // An int32 offset O, the layer stream (images in formatCode, as SaveLayersToStream), then the
  // objects stream at O. O counts from the format's first byte, so the format may start anywhere in
  // a stream. Loading checks O and the objects stream's magic before any layer changes: false then,
  // and false for a layer stream that does not load (objects untouched); a damaged part raises.
  void SaveLayersAndObjectsToStream(TIEStream& stream, int formatCode);
  bool LoadLayersAndObjectsFromStream(TIEStream& stream);
  bool LoadLayersAndObjectsFromFile(const std::wstring& fileName);  // false for an empty name

  // ---- undo state: the objects (ieuObject), layers and objects (ieuObjectsAndLayers) ----
  bool WriteUndoState(TIEUndoSource kind, TIEStream& stream) override;
  void ReadUndoState(TIEUndoSource kind, TIEStream& stream) override;

  // ---- measuring ----
  TIEUnits GetMUnit() const { return MUnit; }
  void SetMUnit(TIEUnits u);
  int GetFloatDigits() const { return FloatDigits; }
  void SetFloatDigits(int v);
  int GetFloatPrecision() const { return FloatPrecision; }
  void SetFloatPrecision(int v);
  double GetMeasureScale() const { return MeasureScale; }
  void SetMeasureScale(double v);
  void SetDpiX(int value) override;
  void SetDpiY(int value) override;
  // Units per image pixel along x and y for a unit, with this view's resolution and MeasureScale.
  void ComputeUnitFactors(TIEUnits unit, double& perPixelX, double& perPixelY) const;
  double GetUnitsPerPixelX() const { return UnitsPerPixelX; }
  double GetUnitsPerPixelY() const { return UnitsPerPixelY; }
  // The length and area of a polygon of image points (x = 0xFFFFF separates sub-polygons), closed.
  double PolygonLength(const std::vector<POINT>& points) const;
  double PolygonArea(const std::vector<POINT>& points) const;
  // A drag in client pixels from (x0, y0) to (x, y), as the length hint measures it.
  double DragLength(int x0, int y0, int x, int y) const;
  // The measures of the view's selection: its outline (with IncludeCursorInLength, a polygon still
  // being drawn measures up to the mouse) and its area (the polygon's, or the set pixels of a mask
  // without one).
  double SelectionLength();
  double SelectionArea();
  // The hint text of a value: number, a space, the unit name of MUnit (and the superscript two for
  // areas); a value of 0 shows LastMeasure, which takes the value shown. OnMeasureHint and then
  // OnPresentMeasure may change it.
  std::string MeasureText(double value, TIEVValType type);
  std::string FormatMeasure(double value) const;
  // Rulers and angles, drawn in client pixels at zoom zoomX, zoomY (1 = 100%); fonts scale with zoomY. A ruler's RulerType 0
  // is a scale (a tick every tenth of a unit), 1 to 3 a measure with its length written at the first
  // point, centred or at the far end; length -1 measures the line. Each returns the box it covered.
  RECT DrawRuler(TIECanvas* canvas, POINT a, POINT b, const LOGFONTA* font, double zoomX, double zoomY,
                 uint8_t rulerType, int penWidth, ui::TColor penColor, TIEUnits unit, double length = -1);
  RECT DrawAngle(TIECanvas* canvas, const POINT points[3], const LOGFONTA* font, double zoomY, int penWidth,
                 ui::TColor penColor);
  // The length text of a measuring ruler (OnPresentMeasure may change it).
  std::string RulerText(POINT a, POINT b, double zoomX, double zoomY, TIEUnits unit, double length = -1);
  // The angle at the second point in degrees, and its text; ReflexAngles shows 360 - a for a >= 180.
  double AngleDegrees(const POINT points[3]) const;
  std::string AngleText(const POINT points[3]) const;
  bool UprightRulerText = true;
  bool ReflexAngles = false;
  int RulerTicksDrawn = 0;  // ticks of the last scale ruler drawn
  double LastMeasure = 0;
  TIEOnPresentMeasure OnPresentMeasure;
  TIEVMeasureHintEvent OnMeasureHint;
  bool IncludeCursorInLength = true;

  // ---- the measure hint ----
  // A framed box on the screen by the mouse with the selection's area (iviAreaMeasure), its outline's
  // length (iviLengthMeasure) or the length dragged (iviDragLength). It is drawn over the window, with
  // the screen under it kept to be put back; a repaint draws it again. A length drag shows it while
  // the mouse moves and hides it when released.
  bool MeasureHintVisible = false;
  // (x, y) in client pixels; kLastHintPosition for either takes the position of the last hint.
  void DrawMeasureHint(int x, int y);
  void EraseMeasureHint();  // puts the screen under the hint back
  void RefreshMeasureHint();  // erased and drawn again at its position, with the current measure
  static constexpr int kLastHintPosition = -1000000;
  ui::TFont* GetMeasureHintFont() { return &MeasureHintFont; }
  ui::TBrush* GetMeasureHintBrush() { return &MeasureHintBrush; }
  ui::TColor MeasureHintFrame1 = 0x808080, MeasureHintFrame2 = 0xFFFFFF;  // top-left, bottom-right


  // ---- drawing ----
  // Draws one object or all (-3) into `bitmap` at image coordinates; antialias smooths through a 2x
  // intermediate where the canvas cannot. A bitmap that is not 24-bit at the platform-bitmap location
  // is drawn through a 24-bit copy and keeps its pixel format (its alpha channel is left as it was).
  void DrawObjectsToBitmap(TIEBitmap* bitmap, bool antialias, int hobj = IEV_ALL);
  // Draws every object into the view's own image (the objects stay) and reports the image change.
  void RenderObjectsIntoImage(bool antialias);
  // The compositing loop: into `target` (ie24RGB at the platform-bitmap location) in image coordinates
  // (toImage) or in the view's client coordinates, clipped to the visible image.
  void DrawObjectsTo(TIEBitmap* target, bool toImage, int hobj, bool antialias);
  // The grips of the selected objects, in client coordinates.
  void DrawSelectionGrips(ui::TCanvas* canvas);
  bool PointInGrip(int gx, int gy, int x, int y) const;
  int GetDrawnCount() const { return DrawnCount; }
  bool GetObjAntialias() const { return ObjAntialias; }
  void SetObjAntialias(bool v) { ObjAntialias = v; }
  bool GetSoftAntialias() const { return SoftAntialias; }
  void SetSoftAntialias(bool v) { SoftAntialias = v; }
  bool GetZoomObjectsWidth() const { return ZoomObjectsWidth; }
  void SetZoomObjectsWidth(bool v) { ZoomObjectsWidth = v; }
  bool AllowFastDrawing = true;
  bool FastDrawing = false;
  bool SuspendDrawing = false;
  bool HideObjects = false;
  bool NoResampleWhileDragging = false;
  bool CenterGrip = false;
  int GripSize = 5;
  int GripShape = 1;  // 0 square, 1 circle
  ui::TColor GripPenColor = 0x000000;
  ui::TColor GripBrushColor = 0xBAFFFF;
  TIEDrawObjectEvent OnBeforeDrawObject, OnAfterDrawObject;
  // The cached intermediate (nullptr until an object needed one).
  TIEBitmap* GetIntermediate() const { return Intermediate.get(); }

  TResampleFilter GetBitmapResampleFilter() const { return BitmapResampleFilter; }
  void SetBitmapResampleFilter(TResampleFilter f);  // repaints
  ui::TPicture* GetObjGripImage() const { return ObjGripImage; }
  // Copied; with a graphic the grips are that picture and GripSize half its larger side.
  void SetObjGripImage(ui::TPicture* picture);
  void Loaded() override;

  TIETextControl* GetTextControl() const { return TextControl; }
  TIEEdit* GetTextEdit() const { return TextEdit; }

  // ---- mouse ----
  TIEVectInteract GetObjectInteract() const { return ObjectInteract; }
  void SetObjectInteract(TIEVectInteract v);  // cancels any interaction in progress
  // The nearest object at an image point (visible ones, selectable ones only when asked), -3 when none
  // or when it lies further than HitTolerance; distance receives its distance in image pixels.
  int HitTest(int x, int y, bool selectableOnly, double* distance = nullptr);
  int ObjectAtClient(int x, int y, double& distance);
  // The grip of a selected object under a client point; index receives its place in the selection.
  int FindGrip(int x, int y, int* index = nullptr);
  void MoveObject(int hobj, int dx, int dy);
  void ResizeObject(int hobj, int dx1, int dy1, int dx2, int dy2, int grip, bool keepAspect);
  // Forgets the hovered object, the creation and the grip drag, and ends text editing.
  void CancelInteract();
  TIEVKind GetCreateState() const { return CreateState; }
  int GetDragGrip() const { return DragGrip; }
  bool GetModified() const { return Modified; }
  bool SelectOnMouseDown = true;
  bool CenterNewObjects = false;
  bool EditNewText = true;
  bool AllowMoveOutside = true;
  bool AllowRectSelect = true;
  int HitTolerance = -1;  // image pixels at 100 %; -1 no limit
  int MoveTolerance = 1;
  bool HitInsideBoxes = false;
  bool AlphaHitTest = true;
  int PolylineMode = 0;  // 0 a double click ends a polyline, 2 the release, other values neither
  bool PolylineOutside = false;
  TIEVDragLenEndEvent OnDragLenEnd;

  // ---- in-place text editing ----
  void StartTextEdit();  // of the object at the edit index
  void EndTextEdit();
  bool IsEditingText() const { return EditIndex >= 0; }
  int GetEditIndex() const { return EditIndex; }
  // Starts editing a text or memo object (false: not editable, or no font record to edit with).
  bool EditText(int hobj);
  virtual void UpdateTextEditorBounds();
  void UpdateView() override;
  ui::TNotifyEvent OnActivateTextEdit, OnDeactivateTextEdit;
  TIEVTextKeyEvent OnTextKeyDown;
  ui::TNotifyEvent GetOnTextEditCursorMoved() const;
  void SetOnTextEditCursorMoved(ui::TNotifyEvent e);

  // ---- undo and change events ----
  TIEVUndoMode ObjUndoMode = ieumSeparated;
  int ObjUndoLimit = 1;
  bool ObjAutoUndo = false;
  void PushObjectsUndo();
  void DropUnusedUndo();  // the mouse-up clean-up
  void SaveUndoSnapshot();
  void DropLastUndoSnapshot();
  void ClearUndoSnapshots();
  int UndoSnapshotCount() const { return int(UndoSnapshots.size()); }
  // The objects stream of a snapshot, oldest first.
  const std::vector<uint8_t>& UndoSnapshot(int index) const { return UndoSnapshots.at(size_t(index)); }
  ui::TNotifyEvent OnVectorialChanged, OnBeforeVectorialChanged;
  TIEVNewObject OnNewObject;
  TIEUserSelectObject OnUserSelectObject, OnUserDeselectObject;
  TIEVObjectMoveResizeEvent OnObjectMoveResize;
  TIEVObjectClickEvent OnObjectClick, OnObjectDblClick, OnObjectOver;

 protected:
  void PaintOverLayers(TIEBitmap* backBuffer, const RECT* clip) override;
  void WndProc(ui::TMessage& m) override;
  void Paint() override;
  void DoMouseDown(ui::TMouseButton b, int shift, int x, int y) override;
  void DoMouseUp(ui::TMouseButton b, int shift, int x, int y) override;
  void DoMouseMove(int shift, int x, int y) override;
  void DoViewChange(int change) override;  // the text editor follows the object

 public:
  // Clears the object interactions (but iviDragToCreate and the measures) when the view's own set is
  // not empty, and cancels any interaction in progress.
  void SetMouseInteractValue(TIEMouseInteract value) override;
  void OffsetDragPositions(int dx, int dy) override;

 protected:
  virtual void DrawLinePreview(bool erase);
  virtual void DrawBoxPreview(bool erase);
  virtual void DrawEllipsePreview(bool erase);
  virtual void DrawRulerPreview();
  virtual void DrawAnglePreview();
  virtual void DoVectorialChanged();
  virtual void DoObjectMoveResize(int hobj, int grip, int& offsetX, int& offsetY);
  virtual void DoObjectClick(int hobj);
  virtual void DoObjectDblClick(int hobj);
  virtual void DoObjectOver(int hobj);
  virtual void DoBeforeVectorialChanged();
  virtual void DoNewObject(int hobj);
  virtual void DoUserSelectObject(int hobj);
  virtual void DoUserDeselectObject(int hobj);

 private:
  void FitGripsToImage();  // a grip image sets the grip size to half its larger side
  // mouse
  void VectMouseDown(ui::TMouseButton b, int shift, int x, int y);
  void VectMouseMove(int shift, int x, int y);
  void VectMouseUp(ui::TMouseButton b, int shift, int x, int y);
  void TrackExtended(int shift, int x, int y);
  void ShowPreview(int kind, bool erase);
  std::vector<POINT> MappedVertices(const TIEVObjectRecord& r) const;
  void RepaintNow();  // Repaint, and the window painted at once (before a preview is drawn over it)
  void VectKeyDown(WORD key, int shift);
  POINT ClampToVisible(int x, int y);
  double ObjectDistance(TIEVObjectRecord& r, int x, int y);
  void SelectAtPoint(int shift, int x, int y, bool onMouseDown);
  void DragGripTo(int shift, int x, int y);
  void RefitPolyline(TIEVObjectRecord& r);
  void GetPolylineScale(const TIEVObjectRecord& r, double& sx, double& sy) const;
  void CreationMove(int shift, int x, int y, int rawX, int rawY);
  void EndCreation(bool click, int x, int y);
  void EndPolylineVertexEdit(int shift, int x, int y);
  void AngleClick(int shift, int x, int y);
  void PolylineClick(int shift, int x, int y);
  void PolylineVertexHit(int x, int y);
  void DoubleClickEdit(int x, int y);
  void SetHoverCursor(int shift, int x, int y);
  void XorPreview(int kind, POINT a, POINT b);  // 1 line, 2 rectangle, 3 ellipse
  void Repaint();  // objects and grips drawn again
  TIEVectInteract ObjectInteract = 0;
  TIEVKind CreateState = ievkNONE;
  int DragGrip = 0;
  bool Captured = false;
  POINT Down{0, 0};      // the mouse-down point, clamped (follows a creation of a fixed size)
  POINT RawDown{0, 0};   // as the view received it
  POINT Current{0, 0};
  int AppliedX = 0, AppliedY = 0;  // image pixels of the grip drag already applied
  int BuildHandle = -1;            // the polyline or angle being built
  POINT LastVertex{0, 0};          // client
  int VertexIndex = -1, SegmentIndex = -1;
  bool DoubleClickFlag = false;
  bool PressedOnSelected = false;
  int HoveredExtended = -1;
  int PreviewKind = 0;  // what is XOR-drawn on the screen now: 0 none, 1 line, 2 rectangle, 3 ellipse
  POINT PreviewA{0, 0}, PreviewB{0, 0};
  TResampleFilter BitmapResampleFilter{};
  ui::TPicture* ObjGripImage = nullptr;
  // text editing
  int EditIndex = -1;
  std::string EditStartText;  // the text object's text when its editing began
  void TextEditKeyDown(ui::TObject* Sender, WORD& key, int shift);
  void MemoKeyDown(ui::TObject* Sender, WORD& key, int shift);
  void TextEditChange(ui::TObject* Sender);
  // undo and events
  bool UndoPushed = false;
  bool Modified = false;
  bool BeforeChangedSent = false;
  std::vector<std::vector<uint8_t>> UndoSnapshots;
  bool Destroying = false;
  ui::TTimer* FastDrawingTimer = nullptr;  // created disabled; runs while the primary button is held
  void FastDrawingTick(ui::TObject* Sender);

 private:
  int Resolve(int hobj, bool allowTemplate = true) const;  // checked; -2 resolved
  void FreeObjectData(TIEVObjectRecord& r);
  void RecomputeUnitFactors();
  int CheckedSlot(int index) const;  // raises for an index that names no slot

  struct TDrawContext;
  bool DrawObject(TIEVObjectRecord& r, int hobj, bool alphaPass, int F, TIEBitmap* intermediate, bool viewCoords,
                  bool clip, TIEBitmap* target);
  void DrawKind(TDrawContext& c);
  // Fills in the context's zoom, box and pen width in the destination's pixels from its record.
  void PlaceObject(TDrawContext& c);
  bool InView(const TDrawContext& c);  // the box grown by the pen meets the visible image area
  bool ReachesView(TIEVObjectRecord& r, int F);  // the same for a record drawn in client coordinates
  void DrawLineEnd(TDrawContext& c, int shape, POINT tip, POINT other);
  void DrawLineLabel(TDrawContext& c);
  void DrawPlainText(TDrawContext& c);
  void DrawBitmapObject(TDrawContext& c);
  void DrawMemo(TDrawContext& c);
  void DrawThroughIntermediate(TIEVObjectRecord& r, int hobj, TIEBitmap* target, bool toImage, int F);
  TIEBitmap* IntermediateOfSize(int width, int height);
  RECT VisibleImageArea();
  void DrawGrip(TIECanvas* canvas, ui::TCanvas* plain, int shape, int x, int y);

  std::unique_ptr<TIEBitmap> Intermediate;
  int DrawnCount = 0;
  bool ObjAntialias = true;
  bool SoftAntialias = false;
  bool ZoomObjectsWidth = true;
  TIEVObjectRecord Template;
  std::vector<std::unique_ptr<TIEVObjectRecord>> Records;
  std::vector<int> ObjectList;
  std::vector<int> SelectionList;
  std::vector<TIEVSharedBitmap> SharedBitmaps;
  TIETextControl* TextControl = nullptr;
  TIEEdit* TextEdit = nullptr;
  bool ShareBitmaps = true;
  TIEUnits MUnit = ieuPIXELS;
  int FloatDigits = 2;
  int FloatPrecision = 15;
  double MeasureScale = 1.0;
  double UnitsPerPixelX = 1.0, UnitsPerPixelY = 1.0;
  // the measure hint
  void InitMeasureHint();
  void PaintMeasureHint();  // after the window painted
  ui::TFont MeasureHintFont;
  ui::TBrush MeasureHintBrush;
  ui::TBitmap MeasureHintSaved;  // the screen under the hint shown; narrower than 2 pixels: none
  POINT HintPosition{0, 0};  // asked for
  POINT HintBoxAt{0, 0};     // where the box went, kept inside the viewport
  POINT LastMouse{0, 0};     // client, unclamped
};

// True when the stream holds "IEV" and a version byte from '1' to 'R'; the position is restored.
bool IEObjectsStreamTest(TIEStream& stream);
// True when the stream holds an offset within it, a layer stream header after the offset and an
// objects stream header at it; the position is restored.
bool IELayersAndObjectsStreamTest(TIEStream& stream);
