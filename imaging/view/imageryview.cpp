#include "imageryview.h"

#include <algorithm>

#include "iebackground.h"
#include "iebitmap.h"
#include "iebitmaprender.h"
#include "iegdiplus.h"
#include "ielayer.h"
#include "iemask.h"
#include "ieplatformbitmap.h"
#include "ieviewglobals.h"
#include "ieviewprops.h"
#include "imageryio.h"
#include "imageryproc.h"
#include "ieresample.h"
#include "ietransitions.h"
#include "ioparams.h"
#include "uibitmap.h"
#include "uifiler.h"
#include "uipicture.h"

const std::vector<std::string>& ieprops::ResampleFilterNames() {
  static const std::vector<std::string> names = {"rfNone",     "rfTriangle", "rfHermite",   "rfBell",       "rfBSpline",
                                                 "rfLanczos3", "rfMitchell", "rfNearest",   "rfLinear",     "rfFastLinear",
                                                 "rfBilinear", "rfBicubic",  "rfProjectBW", "rfProjectWB"};
  return names;
}

static std::vector<ui::TPropInfo> ImageryViewProps() {
  using T = TImageryView;
  using namespace ieprops;
  const TIESelectionOptions defaultSelection =
      IESelOpt(iesoAnimated) | IESelOpt(iesoSizeable) | IESelOpt(iesoMoveable) | IESelOpt(iesoCanScroll);
  return {ui::prop::Bool("LegacyBitmap", &T::GetLegacyBitmap, &T::SetLegacyBitmapValue, true),
          ui::prop::Bool("DoubleBuffer", &T::GetDoubleBuffer, &T::SetDoubleBuffer, true),
          ui::prop::Enum("ZoomFilter", &T::GetZoomFilter, &T::SetZoomFilterValue, ResampleFilterNames(), true, rfNone),
          ui::prop::Enum("ScrollBars", &T::GetScrollBars, &T::SetScrollBarsValue,
                         {"ssNone", "ssHorizontal", "ssVertical", "ssBoth"}, true, ssBoth),
          Event("OnViewChange", &T::OnViewChange),
          Event("OnViewChanging", &T::OnViewChanging),
          ui::prop::Event("OnImageChange", &T::OnImageChange),
          ui::prop::Set("SelectionOptions", &T::GetSelectionOptions, &T::SetSelectionOptions,
                        {"iesoAnimated", "iesoSizeable", "iesoMoveable", "iesoFilled", "iesoCutBorders", "iesoMarkOuter",
                         "iesoCanScroll", "iesoSelectTranspLayers", "iesoRightButtonSelectLayers",
                         "iesoRightButtonTerminatePolySelect"},
                        true, defaultSelection),
          ui::prop::Bool("Center", &T::GetCenter, &T::SetCenterValue, true),
          ui::prop::Set("MouseInteract", &T::GetMouseInteract, &T::SetMouseInteractValue,
                        {"miZoom", "miScroll", "miSelect", "miSelectPolygon", "miSelectCircle", "miSelectZoom",
                         "miSelectMagicWand", "miSelectLasso", "miMoveLayers", "miResizeLayers", "miRotateLayers",
                         "miMovingScroll"},
                        true, TIEMouseInteract(0)),
          ui::prop::Bool("AutoFit", &T::GetAutoFit, &T::SetAutoFit, false),
          ui::prop::Enum("SelectionBase", &T::GetSelectionBase, &T::SetSelectionBase, {"iesbClientArea", "iesbBitmap"},
                         true, iesbClientArea),
          ui::prop::Enum("BackgroundStyle", &T::GetBackgroundStyle, &T::SetBackgroundStyleValue,
                         {"iebsSolid", "iebsHorizontal", "iebsVertical", "iebsFDiagonal", "iebsBDiagonal", "iebsCross",
                          "iebsDiagCross", "iebsChessboard", "iebsDiagonals", "iebsCropped", "iebsCropShadow",
                          "iebsGradient", "iebsSoftShadow", "iebsPhotoLike"},
                         true, iebsSolid),
          ui::prop::Event("OnSelectionChange", &T::OnSelectionChange),
          ui::prop::Event("OnSelectionChanging", &T::OnSelectionChanging),
          ui::prop::Event("OnMouseInSel", &T::OnMouseInSel),
          Field("DelayZoomFilter", &T::DelayZoomFilter, false),
          ui::prop::Event("OnPaint", &T::OnPaint),
          ui::prop::Bool("EnableAlphaChannel", &T::GetEnableAlphaChannel, &T::SetEnableAlphaChannel, true),
          Event("OnMouseInResizingGrip", &T::OnMouseInResizingGrip),
          Event("OnZoomIn", &T::OnZoomIn),
          Event("OnZoomOut", &T::OnZoomOut),
          EventVia<T, TIEProgressEvent>("OnProgress", &T::GetOnProgressValue, &T::SetOnProgressValue),
          EventVia<T, T::TIENotify>("OnFinishWork", &T::GetOnFinishWorkValue, &T::SetOnFinishWorkValue),
          ui::prop::Bool("AutoStretch", &T::GetAutoStretch, &T::SetAutoStretch, false),
          ui::prop::Bool("AutoShrink", &T::GetAutoShrink, &T::SetAutoShrink, false),
          ui::prop::Event("OnBeforeSelectionChange", &T::OnBeforeSelectionChange),
          ui::prop::Bool("DrawVersion", &T::GetDrawVersion, &T::SetDrawVersionValue, false),
          ui::prop::Event("OnDrawBackBuffer", &T::OnDrawBackBuffer),
          Event("OnLayerNotify", &T::OnLayerNotify),
          Event("OnSpecialKey", &T::OnSpecialKey),
          ui::prop::Str("ImageryVersion", &T::GetImageryVersion, &T::SetImageryVersion),
          Event("OnDrawBackground", &T::OnDrawBackground),
          Event("OnDrawCanvas", &T::OnDrawCanvas),
          ui::prop::Object<T, ui::TPicture>("WallPaper", &T::GetWallPaper, nullptr),
          ui::prop::Enum("WallPaperStyle", &T::GetWallPaperStyle, &T::SetWallPaperStyle,
                         {"iewoNormal", "iewoStretch", "iewoTile"}, true, iewoNormal),
          EventVia<T, ui::TNotifyEvent>("OnTransitionStop", &T::GetOnTransitionStop, &T::SetOnTransitionStop),
          EventVia<T, TIETransitionStepEvent>("OnTransitionStep", &T::GetOnTransitionStep, &T::SetOnTransitionStep),
          EventVia<T, TIEOnTransitionPaint>("OnTransitionPaint", &T::GetOnTransitionPaint, &T::SetOnTransitionPaint),
          Event("OnDrawLayerBox", &T::OnDrawLayerBox),
          Event("OnDrawLayerGrip", &T::OnDrawLayerGrip),
          Event("OnDrawPolygon", &T::OnDrawPolygon),
          EventVia<T, T::TIESaveUndoEvent>("OnSaveUndo", &T::GetOnSaveUndoValue, &T::SetOnSaveUndoValue),
          ui::prop::Event("OnDShowNewFrame", &T::OnDShowNewFrame),
          ui::prop::Event("OnDShowEvent", &T::OnDShowEvent),
          Event("OnVirtualKey", &T::OnVirtualKey),
          Field("EnableInteractionHints", &T::EnableInteractionHints, true),
          ui::prop::Int("Cursor", &T::GetViewCursor, &T::SetCursorValue, true, 1785),
          ui::prop::Bool("FlatScrollBars", &T::GetFlatScrollBars, &T::SetFlatScrollBarsValue, false),
          Event("OnMouseWheel", &T::OnMouseWheel)};
}
UI_IMPLEMENT_CLASS(TImageryView, TIEView, ui::DefaultFactory<TImageryView>, ImageryViewProps, nullptr, nullptr)

namespace {
// Layouts may name the view; the pictures it publishes (WallPaper, the vector editor's grip image)
// are stored with their graphic's class, which the reader finds by name.
const struct ViewClassRegistration {
  ViewClassRegistration() { ui::RegisterClasses({&TImageryView::StaticClassInfo, &ui::TBitmap::StaticClassInfo}); }
} g_viewClassRegistration;

// The drawing area of a view that has no window to measure.
constexpr int kWindowlessViewport = 50;
}  // namespace

TImageryView::TImageryView() = default;

void TImageryView::Create(ui::TComponent* owner) {
  SuspendUpdates();
  LegacyBitmap = true;
  Bitmap = new ui::TBitmap();
  Bitmap->SetPixelFormat(ui::pf24bit);
  Bitmap->SetSize(GetWidth(), GetHeight());
  inherited::Create(owner);
  IEGdiPlusLoad();
  HasGdiPlusUse = true;
  auto* adapter = new TIETBitmapAdapter(Bitmap);
  IEBitmap = new TIEBitmap();
  IEBitmap->AttachTBitmap(adapter, false);
  // layer 0 shares the view's first bitmap and frees it, with the platform bitmap behind it
  auto* layer0 = new TIELayer(this, IEBitmap, true);
  layer0->AdoptPlatformBitmap(Bitmap, adapter);
  layer0->BoxVisible = false;
  layer0->Locked = true;
  Layers.push_back(layer0);
  CurrentLayer = 0;
  ImageWidth = IEBitmap->GetImageWidth();
  ImageHeight = IEBitmap->GetImageHeight();

  HasOwner = owner != nullptr;
  SetBounds(GetLeft(), GetTop(), 105, 105);
  Cursor = crIEDefaultCross;
  SetCursor(Cursor);
  SetDpi(IEDefaultDPIX, IEDefaultDPIY);
  IELoadViewCursors();

  if (!InState(ui::csDesigning)) {
    BackBuffer = new TIEBitmap();
    BackBuffer->SetLocation(ieTBitmap);
    BackBuffer->Allocate(10, 10, ie24RGB);
  }
  SelectionMask = new TIEMask();
  SelectionMask->Allocate(ImageWidth, ImageHeight, MaskDepth);
  WallPaper = new ui::TPicture();  // layouts read the wallpaper into it
  LayerBoxPen = new ui::TPen();
  LayerBoxPen->SetStyle(ui::psDot);
  LayerBoxPen->SetWidth(1);
  LayerBoxPen->SetMode(ui::pmNot);
  SelectionPolygon = CreatePolygonStore(0, 0xFFFFFF, true, true);
  if (!InState(ui::csDesigning)) SelectionPolygon->Shown = false;
  SetSelectionColor1(0);
  SetSelectionColor2(0xFFFFFF);
  ResumeUpdates();
}

void TImageryView::BeforeDestruction() {
  // Marked as going first: messages served below (a component waiting for its I/O thread pumps the
  // queue, the window is destroyed after the buffers) must not update a view whose bitmap is gone.
  if (!InState(ui::csDestroying)) Destroying();
  SetNavigator(nullptr, 0);
  // The components go first: each unregisters its change handler while the view is whole.
  delete Transition;
  Transition = nullptr;
  delete IO;
  IO = nullptr;
  delete Proc;
  Proc = nullptr;
  // Components a caller attached are told while the bitmap they share is still alive, so none of them
  // holds the view's bitmap once it is freed.
  ReleaseBitmapChangeHandlers();
  delete BackBuffer;
  BackBuffer = nullptr;
  delete NavigatorShade;
  NavigatorShade = nullptr;
  delete LayerBoxPen;
  LayerBoxPen = nullptr;
  delete SelectionMask;
  SelectionMask = nullptr;
  FreeSelectionState();
  ClearFilterCache();
  for (TIELayer* layer : Layers) delete layer;  // each frees its bitmap and platform bitmap
  Layers.clear();
  IEBitmap = nullptr;
  Bitmap = nullptr;
  delete WallPaper;
  WallPaper = nullptr;
  if (DrawDibHandle) {
    IEDrawDibClose(DrawDibHandle);
    DrawDibHandle = nullptr;
  }
  if (HasGdiPlusUse) {
    IEGdiPlusUnload();
    HasGdiPlusUse = false;
  }
  inherited::BeforeDestruction();
}

TImageryView::~TImageryView() {
  // deleted without Free: the same releases, so nothing leaks and the GDI+ use is given back
  delete Transition;
  delete IO;
  delete Proc;
  delete BackBuffer;
  delete NavigatorShade;
  delete LayerBoxPen;
  delete SelectionMask;
  FreeSelectionState();
  ClearFilterCache();
  for (TIELayer* layer : Layers) delete layer;
  delete WallPaper;
  if (DrawDibHandle) IEDrawDibClose(DrawDibHandle);
  if (HasGdiPlusUse) IEGdiPlusUnload();
}

// ---- transitions ----

TIETransitionEffects* TImageryView::GetTransitionEffects() {
  if (!Transition) Transition = new TIETransitionEffects(this);
  return Transition;
}

void TImageryView::StopTransition() {
  if (Transition && Transition->GetRunning()) Transition->Stop();
}

void TImageryView::SetOnTransitionStop(ui::TNotifyEvent e) { GetTransitionEffects()->OnTransitionStop = std::move(e); }
ui::TNotifyEvent TImageryView::GetOnTransitionStop() const {
  return Transition ? Transition->OnTransitionStop : ui::TNotifyEvent();
}
void TImageryView::SetOnTransitionStep(TIETransitionStepEvent e) {
  GetTransitionEffects()->OnTransitionStep = std::move(e);
}
TIETransitionStepEvent TImageryView::GetOnTransitionStep() const {
  return Transition ? Transition->OnTransitionStep : TIETransitionStepEvent();
}
void TImageryView::SetOnTransitionPaint(TIEOnTransitionPaint e) {
  GetTransitionEffects()->SetOnTransitionPaint(std::move(e));
}
TIEOnTransitionPaint TImageryView::GetOnTransitionPaint() const {
  return Transition ? Transition->GetOnTransitionPaint() : TIEOnTransitionPaint();
}

// ---- assignment ----

void TImageryView::Assign(ui::TPersistent* source) {
  if (!source) {
    Blank();
    return;
  }
  if (auto* view = ui::As<TImageryView>(source)) {
    IEBitmap->Assign(view->IEBitmap);
    Background = view->Background;  // without the writer's update: one update follows
    SetDpi(view->DpiX, view->DpiY);
    UpdateView();
    ImageChange();
    return;
  }
  if (auto* bitmap = ui::As<ui::TBitmap>(source)) AssignPlatformBitmap(bitmap);
  // any other source is ignored
}

void TImageryView::AssignPlatformBitmap(ui::TBitmap* source) {
  // The pixels are copied through a borrowed adapter: the caller's bitmap keeps its format and pixels
  // whatever format the view ends in (the conversion below works on the view's own copy).
  {
    TIETBitmapAdapter borrowed(source);
    IEBitmap->AssignTBitmap(&borrowed);
  }
  const TIEPixelFormat f = IEBitmap->GetPixelFormat();
  if (f != ie1g && f != ie24RGB) IEBitmap->SetPixelFormat(ie24RGB);
  UpdateView();
  ImageChange();
}

void TImageryView::Blank() {
  IEBitmap->Fill(double(ui::ColorToRGB(Background)));
  DropAlphaBlended(false);
  UpdateView();
}

void TImageryView::ClearImage() {
  StopTransition();
  IEBitmap->SetImageWidth(1);
  IEBitmap->SetImageHeight(1);
  Blank();
}

bool TImageryView::IsEmpty() { return IEBitmap->GetImageWidth() < 2 && IEBitmap->GetImageHeight() < 2; }

// ---- components ----

TImageryIO* TImageryView::GetIO() {
  if (!IO) {
    IO = new TImageryIO();
    IO->SetAttachedImageryValue(this);
    IO->OnProgress = OnProgress;
    IO->OnFinishWork = OnFinishWork;
  }
  return IO;
}

TImageryProc* TImageryView::GetProc() {
  if (!Proc) {
    Proc = new TImageryProc(true);
    Proc->SetAttachedImageryValue(this);
    Proc->OnProgress = OnProgress;
    Proc->OnFinishWork = OnFinishWork;
    Proc->OnSaveUndo = OnSaveUndo;
  }
  return Proc;
}

void TImageryView::SetOnProgressValue(TIEProgressEvent e) {
  OnProgress = std::move(e);
  if (IO) IO->OnProgress = OnProgress;
  if (Proc) Proc->OnProgress = OnProgress;
}

void TImageryView::SetOnFinishWorkValue(TIENotify e) {
  OnFinishWork = std::move(e);
  if (IO) IO->OnFinishWork = OnFinishWork;
  if (Proc) Proc->OnFinishWork = OnFinishWork;
}

void TImageryView::SetOnSaveUndoValue(TIESaveUndoEvent e) {
  OnSaveUndo = std::move(e);
  if (Proc) Proc->OnSaveUndo = OnSaveUndo;
}

// ---- image ----

TIEBitmap* TImageryView::GetAlphaChannel() { return IEBitmap->GetAlphaChannel(); }

bool TImageryView::QueryAlphaPresent() { return IEBitmap->AlphaPresent(); }

void TImageryView::DropAlphaBlended(bool merge) {
  if (!IEBitmap->AlphaPresent()) return;
  IEBitmap->DiscardAlphaChannel(merge, TColor(ui::ColorToRGB(Background)));
  UpdateView();
}

void TImageryView::SetEnableAlphaChannel(bool v) {
  EnableAlphaChannel = v;
  UpdateView();
}

void TImageryView::SetLegacyBitmapValue(bool value) {
  if (value == LegacyBitmap) return;
  TIELayer* layer = GetCurrentLayer();
  if (!value) {
    // the pixels move out of the platform bitmap (to memory, or a temporary file when large), which goes
    layer->DropPlatformBitmap(ieTempFile);
  } else {
    layer->MakePlatformBitmap();
  }
  Bitmap = layer->GetPlatformBitmap();
  LegacyBitmap = value;
  NotifyBitmapChangeHandlers();
  UpdateView();
}

void TImageryView::SetBounds(int left, int top, int width, int height) {
  inherited::SetBounds(left, top, width, height);
  if (IEBitmap && InState(ui::csReading | ui::csLoading | ui::csDesigning)) {
    IEBitmap->SetImageWidth(width);
    IEBitmap->SetImageHeight(height);
    Blank();
  }
}

void TImageryView::Loaded() {
  inherited::Loaded();
  UpdateView();  // the updates skipped while the layout was read
}

std::string TImageryView::GetImageryVersion() const { return IEImageryVersion; }

void TImageryView::SetBackgroundValue(ui::TColor value) {
  Background = value;
  if (InState(ui::csDesigning)) Blank();
  UpdateReason = 4;
  UpdateView();
  ImageChange();
}

void TImageryView::ImageChange() {
  if (OnImageChange) OnImageChange(this);
}

// ---- geometry ----

int TImageryView::GetViewportWidth() {
  if (HasParentWindow() && HandleAllocated()) return GetClientWidth();
  return kWindowlessViewport;
}

int TImageryView::GetViewportHeight() {
  if (HasParentWindow() && HandleAllocated()) return GetClientHeight();
  return kWindowlessViewport;
}

void TImageryView::ResumeUpdates() {
  if (UpdateLock > 0) --UpdateLock;
  if (UpdateLock == 0) UpdateView();
}

void TImageryView::ResumeUpdatesQuietly() {
  if (UpdateLock > 0) --UpdateLock;
}

int TImageryView::ResumePainting() {
  if (PaintLock > 0) --PaintLock;
  if (PaintLock == 0) UpdateView();
  return PaintLock;
}

int TImageryView::ResumePaintingQuietly() {
  if (PaintLock > 0) --PaintLock;
  return PaintLock;
}

void TImageryView::UpdateView() {
  if (UpdateLock > 0 || InState(ui::csDesigning) || !IEBitmap) return;
  if ((ComponentState() & ~uint32_t(ui::csFreeNotification)) != 0) return;
  Updating = true;
  try {
    SyncLayers();
    // the display caches follow the pixels and places the update reports: of one layer when the
    // caller named it, else of all
    if (LayerCacheToDrop < 0) {
      for (TIELayer* layer : Layers) DropLayerCache(layer);
      ClearFilterCache();
    } else if (LayerCacheToDrop < int(Layers.size())) {
      DropLayerCache(Layers[size_t(LayerCacheToDrop)]);
      // the layer below combines its alpha with this one when this is its mask
      if (LayerCacheToDrop > 0) {
        TIELayer* below = Layers[size_t(LayerCacheToDrop) - 1];
        delete below->MaskedAlpha;
        below->MaskedAlpha = nullptr;
      }
    }
    LayerCacheToDrop = -1;
    if ((AutoStretch || AutoShrink || AutoFit) && ImageWidth != 0 && ImageHeight != 0) ApplyAutoZoom();
    // the working bitmap's size: the selection mask and the alpha channel belong to the current layer
    const int width = IEBitmap->GetImageWidth(), height = IEBitmap->GetImageHeight();
    if (width != LastImageWidth || height != LastImageHeight) {
      LastImageWidth = width;
      LastImageHeight = height;
      // a selection keeps what lies within the new size; without one the mask follows empty
      if (SelectionMask->Width != width || SelectionMask->Height != height) {
        if (SelectionPresent && SelectionMask->Width > 0) {
          SelectionMask->Resize(width, height);
          SelectionMask->RecomputeBoundingBox();
          SelectionMask->CheckAllSet();
        } else {
          SelectionMask->Allocate(width, height, MaskDepth);
        }
      }
      if (IEBitmap->AlphaPresent()) {
        TIEBitmap* alpha = IEBitmap->GetAlphaChannel();
        if (alpha->GetImageWidth() != width || alpha->GetImageHeight() != height) {
          alpha->Allocate(width, height, ie8g);
          alpha->Fill(255);
        }
      }
    }
    if (HandleAllocated()) {
      if (HasParentWindow()) {
        const int vw = GetViewportWidth(), vh = GetViewportHeight();
        ClampOriginAndSetScrollBars();
        // a scroll bar appeared or vanished: the geometry follows the new viewport once
        if ((vw != GetViewportWidth() || vh != GetViewportHeight()) && !UpdateReentered) {
          UpdateReentered = true;
          try {
            UpdateView();
          } catch (...) {
            UpdateReentered = false;
            throw;
          }
          UpdateReentered = false;
          Updating = true;
        }
      }
      UpdateViewExtents();
      BackBufferDirty = true;
      FullRepaintPending = true;
      if (HasParentWindow() && InvalidateOnUpdate) Invalidate();
    }
  } catch (...) {
    UpdateReason = 0;
    Updating = false;
    throw;
  }
  UpdateReason = 0;
  Updating = false;
  ++UpdateCount;
  if (NavigatorView && NavigatorView->GetPaintLock() == 0) SyncNavigator();
}

// ---- cursors ----

void TImageryView::SetCursorValue(int id) {
  BaseCursor = id;
  SetCursor(id);
  Cursor = id;
  if (ui::Screen) ::SetCursor(ui::Screen->GetCursors(id));
}

void TImageryView::ShowTemporaryCursor(int id) {
  if (!HasOwner) return;
  SetCursor(id);
  Cursor = id;
  if (ui::Screen) ::SetCursor(ui::Screen->GetCursors(id));
}

