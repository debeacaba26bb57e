#include "ievect.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "iebitmap.h"
#include "ieplatformbitmap.h"
#include "ieresample.h"
#include "ieviewprops.h"
#include "imageryproc.h"
#include "uifiler.h"
#include "uipicture.h"

using namespace ui;

static std::vector<ui::TPropInfo> ImageryVectProps() {
  using T = TImageryVect;
  using namespace ieprops;
  return {ui::prop::Enum("MUnit", &T::GetMUnit, &T::SetMUnit,
                         {"ieuPIXELS", "ieuINCHES", "ieuKM", "ieuMETERS", "ieuCENTIMETERS", "ieuMILLIMETERS",
                          "ieuMICRONS", "ieuNANOMETERS", "ieuFEET", "ieuYARDS", "ieuMILES"},
                         true, ieuPIXELS),
          ui::prop::Int("FloatDigits", &T::GetFloatDigits, &T::SetFloatDigits, true, 2),
          ui::prop::Int("FloatPrecision", &T::GetFloatPrecision, &T::SetFloatPrecision, true, 15),
          ui::prop::Bool("ShareBitmaps", &T::GetShareBitmaps, &T::SetShareBitmaps, true),
          ui::prop::Bool("ZoomObjectsWidth", &T::GetZoomObjectsWidth, &T::SetZoomObjectsWidth, true),
          ui::prop::Bool("ObjAntialias", &T::GetObjAntialias, &T::SetObjAntialias, true),
          Field("SelectOnMouseDown", &T::SelectOnMouseDown, true),
          Field("ObjUndoLimit", &T::ObjUndoLimit, 1),
          Field("ObjAutoUndo", &T::ObjAutoUndo, false),
          Field("ObjUndoMode", &T::ObjUndoMode, ieumSeparated, {"ieumSeparated", "ieumShared"}),
          ui::prop::Enum("BitmapResampleFilter", &T::GetBitmapResampleFilter, &T::SetBitmapResampleFilter,
                         ResampleFilterNames(), true, rfNone),
          ui::prop::Object<T, TPicture>("ObjGripImage", &T::GetObjGripImage, nullptr),
          ui::prop::Event("OnVectorialChanged", &T::OnVectorialChanged),
          ui::prop::Event("OnBeforeVectorialChanged", &T::OnBeforeVectorialChanged),
          Event("OnNewObject", &T::OnNewObject),
          ui::prop::Event("OnSelectObject", &T::OnSelectObject),
          Event("OnUserSelectObject", &T::OnUserSelectObject),
          Event("OnUserDeselectObject", &T::OnUserDeselectObject),
          Event("OnObjectMoveResize", &T::OnObjectMoveResize),
          Event("OnObjectClick", &T::OnObjectClick),
          Event("OnObjectDblClick", &T::OnObjectDblClick),
          Event("OnObjectOver", &T::OnObjectOver),
          Event("OnBeforeDrawObject", &T::OnBeforeDrawObject),
          Event("OnAfterDrawObject", &T::OnAfterDrawObject),
          Event("OnMeasureHint", &T::OnMeasureHint),
          Event("OnPresentMeasure", &T::OnPresentMeasure),
          Event("OnDragLenEnd", &T::OnDragLenEnd),
          ui::prop::Event("OnActivateTextEdit", &T::OnActivateTextEdit),
          ui::prop::Event("OnDeactivateTextEdit", &T::OnDeactivateTextEdit),
          Event("OnTextKeyDown", &T::OnTextKeyDown),
          EventVia<T, ui::TNotifyEvent>("OnTextEditCursorMoved", &T::GetOnTextEditCursorMoved,
                                        &T::SetOnTextEditCursorMoved)};
}
UI_IMPLEMENT_CLASS(TImageryVect, TImageryView, ui::DefaultFactory<TImageryVect>, ImageryVectProps, nullptr, nullptr)

namespace {
const struct VectClassRegistration {
  VectClassRegistration() { ui::RegisterClass(&TImageryVect::StaticClassInfo); }
} g_vectClassRegistration;

constexpr int kErrorIcon = 32513;
constexpr int kTemplateIconSize = 64;
constexpr int kFastDrawingInterval = 50;  // ms between looks at the primary button while drawing fast

bool KindHasText(TIEVKind k) { return k == ievkTEXT || k == ievkLINELABEL || k == ievkEXTENDED; }
bool KindUsesBitmap(const TIEVObjectFields& r) {
  return r.Kind == ievkBITMAP || (r.Kind == ievkMEMO && r.MemoHasBitmap);
}
// Kinds whose two points are end points rather than a box.
bool KindKeepsPointOrder(TIEVKind k) {
  return k == ievkLINE || k == ievkRULER || k == ievkPOLYLINE || k == ievkLINELABEL;
}
std::unique_ptr<LOGFONTA> CopyFont(const std::unique_ptr<LOGFONTA>& f) {
  return f ? std::make_unique<LOGFONTA>(*f) : nullptr;
}
}  // namespace

// ---- records ----

TIEVObjectRecord::~TIEVObjectRecord() { FreeUserData(); }

void TIEVObjectRecord::FreeUserData() {
  if (UserDataLength > 0) std::free(UserData);
  UserData = nullptr;
  UserDataLength = 0;
}

// ---- construction ----

TImageryVect::TImageryVect() = default;

void TImageryVect::Create(TComponent* owner) {
  // the hidden in-place editors, owned by the view
  inherited::Create(owner);
  TextEdit = New<TIEEdit>(this);
  TextEdit->SetAutoSize(false);  // it covers the object's box, whatever its font's height
  TextEdit->SetVisible(false);
  TextControl = New<TIETextControl>(this);
  TextControl->SetVisible(false);
  TextEdit->OnKeyDown = ui::TKeyEvent(this, &TImageryVect::TextEditKeyDown);
  TextEdit->OnChange = ui::TNotifyEvent(this, &TImageryVect::TextEditChange);
  TextControl->OnKeyDown = ui::TKeyEvent(this, &TImageryVect::MemoKeyDown);
  ObjGripImage = new TPicture();
  FastDrawingTimer = New<TTimer>(this);
  FastDrawingTimer->SetEnabled(false);
  FastDrawingTimer->SetInterval(kFastDrawingInterval);
  FastDrawingTimer->OnTimer = ui::TNotifyEvent(this, &TImageryVect::FastDrawingTick);
  TFont font;
  font.Assign(GetCanvas()->Font());
  font.SetName("Arial");
  SetObjFont(IEV_TEMPLATE, &font);
  Template.RulerUnit = MUnit;
  SetObjBitmapFromIcon(IEV_TEMPLATE, MAKEINTRESOURCEA(kErrorIcon), kTemplateIconSize, kTemplateIconSize);
  RecomputeUnitFactors();
  InitMeasureHint();
}

void TImageryVect::BeforeDestruction() {
  Destroying = true;
  if (EditIndex >= 0) {
    EndTextEdit();
    EditIndex = -1;
  }
  ClearUndoSnapshots();
  delete ObjGripImage;
  ObjGripImage = nullptr;
  for (auto& r : Records)
    if (r) FreeObjectData(*r);
  Records.clear();
  ObjectList.clear();
  SelectionList.clear();
  FreeObjectData(Template);
  SharedBitmaps.clear();
  inherited::BeforeDestruction();
}

TImageryVect::~TImageryVect() = default;

void TImageryVect::Assign(TPersistent* source) {
  inherited::Assign(source);
  if (!source) {
    CancelInteract();
    RemoveAllObjects();
    return;
  }
  if (auto* v = As<TImageryVect>(source)) {
    if (v == this) return;
    CancelInteract();
    RemoveAllObjects();
    v->CopyObjectsTo(this);
    MeasureScale = v->MeasureScale;
    RecomputeUnitFactors();
    DoVectorialChanged();
    Repaint();
  }
}

// ---- handles ----

int TImageryVect::Resolve(int hobj, bool allowTemplate) const {
  if (hobj == IEV_TEMPLATE && allowTemplate) return hobj;
  if (hobj == IEV_LAST) {
    if (Records.empty()) throw EIEVectError("No object was created");
    hobj = int(Records.size()) - 1;
  }
  if (hobj < 0 || hobj >= int(Records.size()) || !Records[size_t(hobj)])
    throw EIEVectError("Invalid object handle " + std::to_string(hobj));
  return hobj;
}

TIEVObjectRecord* TImageryVect::ObjectRecord(int hobj) {
  if (hobj == IEV_ALL || hobj == IEV_NONE) return nullptr;
  int h = Resolve(hobj);
  return h == IEV_TEMPLATE ? &Template : Records[size_t(h)].get();
}

int TImageryVect::GetObjectHandle(int index) const {
  if (index < 0 || index >= int(ObjectList.size())) throw EIEVectError("Object index out of range");
  return ObjectList[size_t(index)];
}

// ---- the object list ----

int TImageryVect::AddObject(const TIEVObjectRecord& t) {
  const int h = int(Records.size());
  Records.push_back(std::make_unique<TIEVObjectRecord>());
  ObjectList.push_back(h);
  TIEVObjectRecord& r = *Records.back();
  static_cast<TIEVObjectFields&>(r) = t;
  r.BitmapIndex = -1;
  r.Shadow = t.Shadow;
  if (r.Kind == ievkEXTENDED && t.Extended) {
    r.Extended.reset(t.Extended->Clone());
    r.Extended->Owner = this;
    r.Extended->Record = &r;
    r.Extended->SetHandle(h);
  }
  if (KindUsesBitmap(r)) SetObjBitmapIndex(h, t.BitmapIndex);
  if (KindHasText(r.Kind)) {
    r.Text = t.Text;
    r.Font = CopyFont(t.Font);
    r.CurvePoints = t.CurvePoints;
  } else if (r.Kind == ievkMEMO) {
    r.Text = t.Text;
    r.Font = CopyFont(t.Font);
    if (!t.MemoCharFormats.empty()) {
      r.MemoCharFormats.assign(r.Text.size() + 1, 0);
      std::copy_n(t.MemoCharFormats.begin(), std::min(t.MemoCharFormats.size(), r.Text.size()), r.MemoCharFormats.begin());
      r.MemoFormats = t.MemoFormats;
    }
  } else if (r.Kind == ievkRULER || r.Kind == ievkANGLE) {
    r.Font = CopyFont(t.Font);
  }
  r.Name = t.Name;
  if (!KindKeepsPointOrder(r.Kind)) {
    if (r.X1 > r.X2) std::swap(r.X1, r.X2);
    if (r.Y1 > r.Y2) std::swap(r.Y1, r.Y2);
  }
  if (r.Kind == ievkPOLYLINE) {
    r.PolyPoints = t.PolyPoints;
  } else {
    r.PolyBounds = RECT{0, 0, 0, 0};
    r.PolyClosed = false;
  }
  return h;
}

void TImageryVect::FreeObjectData(TIEVObjectRecord& r) {
  if (r.BitmapIndex >= 0 && r.BitmapIndex < int(SharedBitmaps.size())) ReleaseSharedBitmap(r.BitmapIndex);
  r.BitmapIndex = -1;
  r.Name.clear();
  r.Font.reset();
  r.Text.clear();
  r.MemoCharFormats.clear();
  r.MemoFormats.clear();
  r.CurvePoints.clear();
  r.PolyPoints.clear();
  r.PolyBounds = RECT{0, 0, 0, 0};
  r.PolyClosed = false;
  r.DrawnPoints.clear();
  r.Extended.reset();
  r.FreeUserData();
}

void TImageryVect::RemoveAllObjects() {
  if (EditIndex >= 0) {
    EndTextEdit();
    EditIndex = -1;
  }
  if (ObjAutoUndo) PushObjectsUndo();
  CreateState = ievkNONE;
  DragGrip = 0;
  BuildHandle = -1;
  HoveredExtended = -1;
  for (int h : ObjectList) FreeObjectData(*Records[size_t(h)]);
  Records.clear();
  ObjectList.clear();
  SelectionList.clear();
  // The template keeps its bitmap: it is taken out before the table goes and given back after.
  std::unique_ptr<TIEBitmap> kept;
  if (Template.BitmapIndex >= 0 && Template.BitmapIndex < int(SharedBitmaps.size()))
    kept = std::move(SharedBitmaps[size_t(Template.BitmapIndex)].Bitmap);
  SharedBitmaps.clear();
  Template.BitmapIndex = -1;
  if (kept) SetObjBitmap(IEV_TEMPLATE, kept.get());
  DoVectorialChanged();
  Repaint();
}

RECT TImageryVect::GetObjectsExtent() {
  RECT r{0, 0, 0, 0};
  for (int h : ObjectList) {
    const TIEVObjectRecord& o = *Records[size_t(h)];
    // in 64 bits: a corner at INT_MAX reaches no further than INT_MAX rather than wrapping
    r.right = LONG(std::max<int64_t>(r.right, std::min<int64_t>(int64_t(std::max(o.X1, o.X2)) + 1, INT_MAX)));
    r.bottom = LONG(std::max<int64_t>(r.bottom, std::min<int64_t>(int64_t(std::max(o.Y1, o.Y2)) + 1, INT_MAX)));
  }
  return r;
}

void TImageryVect::SetObjUserData(int hobj, void* data) {
  ObjectRecord(hobj)->UserData = data;
  if (hobj != IEV_TEMPLATE) Repaint();
}

void TImageryVect::SetObjUserDataLength(int hobj, int length) {
  ObjectRecord(hobj)->UserDataLength = length;
  if (hobj != IEV_TEMPLATE) Repaint();
}

void TImageryVect::SetObjFont(int hobj, TFont* font) {
  TIEVObjectRecord* r = ObjectRecord(hobj);
  if (!r) return;
  if (!r->Font) r->Font = std::make_unique<LOGFONTA>();
  *r->Font = LOGFONTA{};
  GetObjectA(font->GetHandle(), sizeof(LOGFONTA), r->Font.get());
  r->PenColor = font->GetColor();
  if (hobj != IEV_TEMPLATE) Repaint();
}

int TImageryVect::GetObjFontStyles(int hobj) {
  TIEVObjectRecord* r = ObjectRecord(hobj);
  if (!r || !r->Font) return 0;
  const LOGFONTA& f = *r->Font;
  return (f.lfWeight >= FW_BOLD ? fsBold : 0) | (f.lfItalic ? fsItalic : 0) | (f.lfUnderline ? fsUnderline : 0) |
         (f.lfStrikeOut ? fsStrikeOut : 0);
}

void TImageryVect::AddPolylinePoint(int hobj, int x, int y) {
  TIEVObjectRecord* r = ObjectRecord(hobj);
  if (!r) return;
  if (!r->PolyPoints.empty() && r->PolyPoints.back().x == x && r->PolyPoints.back().y == y) return;
  if (r->PolyPoints.empty()) {
    r->X1 = r->X2 = x;
    r->Y1 = r->Y2 = y;
  }
  r->PolyPoints.push_back(POINT{x, y});
  r->X1 = std::min(r->X1, x);
  r->Y1 = std::min(r->Y1, y);
  r->X2 = std::max(r->X2, x);
  r->Y2 = std::max(r->Y2, y);
  r->PolyBounds = RECT{r->X1, r->Y1, r->X2, r->Y2};
}

int TImageryVect::AnglePointCount(int hobj) {
  TIEVObjectRecord* r = ObjectRecord(hobj);
  int n = 0;
  while (r && n < 3 && r->AnglePoints[n].x != IEV_POINT_UNSET) ++n;
  return n;
}

void TImageryVect::CopyObjectsTo(TImageryVect* dest) {
  for (int h : ObjectList) CopyObjectTo(h, dest);
  dest->Repaint();
}

int TImageryVect::CopyObjectTo(int hobj, TImageryVect* dest) {
  TIEVObjectRecord* r = ObjectRecord(hobj);
  if (!r) throw EIEVectError("No object to copy");
  // The destination gets a slot of its own for the bitmap; AddObject must not look into this view's table.
  int slot = -1;
  if (KindUsesBitmap(*r) && SharedBitmap(r->BitmapIndex)) {
    slot = dest->NewSharedSlot();
    auto copy = std::make_unique<TIEBitmap>();
    copy->Assign(SharedBitmap(r->BitmapIndex));
    dest->SharedBitmaps[size_t(slot)].Bitmap = std::move(copy);
    dest->SharedBitmaps[size_t(slot)].RefCount = 0;
  }
  const int saved = r->BitmapIndex;
  r->BitmapIndex = -1;
  int h;
  try {
    h = dest->AddObject(*r);
  } catch (...) {
    r->BitmapIndex = saved;
    throw;
  }
  r->BitmapIndex = saved;
  TIEVObjectRecord* n = dest->Records[size_t(h)].get();
  if (slot >= 0) {
    n->BitmapIndex = slot;
    dest->SharedBitmaps[size_t(slot)].RefCount = 1;
  }
  n->Shadow = r->Shadow;
  if (r->UserDataLength > 0 && r->UserData) {
    n->UserData = std::malloc(size_t(r->UserDataLength));
    std::memcpy(n->UserData, r->UserData, size_t(r->UserDataLength));
    n->UserDataLength = r->UserDataLength;
  } else {
    n->UserData = r->UserData;
  }
  return h;
}

// ---- selection ----

void TImageryVect::SelectObject(int hobj) {
  const int h = Resolve(hobj, false);
  if (Records[size_t(h)]->Flags & ievfSelectable) SelectionList.push_back(h);
}

void TImageryVect::SelectObjectNotify(int hobj) {
  SelectObject(hobj);
  if (OnSelectObject) OnSelectObject(this);
}

bool TImageryVect::IsSelected(int hobj) {
  const int h = Resolve(hobj, false);
  return std::find(SelectionList.begin(), SelectionList.end(), h) != SelectionList.end();
}

void TImageryVect::DeselectObject(int hobj) {
  const int h = Resolve(hobj, false);
  auto it = std::find(SelectionList.begin(), SelectionList.end(), h);
  if (it == SelectionList.end()) return;
  SelectionList.erase(it);
  if (OnSelectObject) OnSelectObject(this);
}

void TImageryVect::UnselectObjects() {
  SelectionList.clear();
  if (OnSelectObject) OnSelectObject(this);
}

void TImageryVect::UnselectObjectsAndRepaint() {
  UnselectObjects();
  Repaint();
}

void TImageryVect::SelectInRect(int hobj, int x1, int y1, int x2, int y2) {
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  auto consider = [&](int h) {
    const TIEVObjectRecord& r = *Records[size_t(h)];
    const int ox1 = std::min(r.X1, r.X2), ox2 = std::max(r.X1, r.X2);
    const int oy1 = std::min(r.Y1, r.Y2), oy2 = std::max(r.Y1, r.Y2);
    if (ox1 >= x1 && ox2 <= x2 && oy1 >= y1 && oy2 <= y2 && !IsSelected(h)) SelectObject(h);
  };
  if (hobj == IEV_ALL) {
    for (int h : ObjectList) consider(h);
  } else {
    consider(Resolve(hobj, false));
  }
}

// ---- shared bitmaps ----

int TImageryVect::CheckedSlot(int index) const {
  if (index < 0 || index >= int(SharedBitmaps.size()))
    throw EIEVectError("Invalid shared bitmap index " + std::to_string(index));
  return index;
}

TIEBitmap* TImageryVect::SharedBitmap(int index) {
  if (index < 0) return nullptr;
  return SharedBitmaps[size_t(CheckedSlot(index))].Bitmap.get();
}

int TImageryVect::SharedBitmapRefCount(int index) const { return SharedBitmaps[size_t(CheckedSlot(index))].RefCount; }

int TImageryVect::FindSharedBitmap(TIEBitmap* bitmap) {
  for (int i = int(SharedBitmaps.size()) - 1; i >= 0; --i) {
    TIEBitmap* b = SharedBitmaps[size_t(i)].Bitmap.get();
    if (b && IEBitmapsEqual(b, bitmap)) return i;
  }
  return -1;
}

int TImageryVect::NewSharedSlot() {
  for (size_t i = 0; i < SharedBitmaps.size(); ++i)
    if (!SharedBitmaps[i].Bitmap) return int(i);
  SharedBitmaps.emplace_back();
  return int(SharedBitmaps.size()) - 1;
}

void TImageryVect::ReleaseSharedBitmap(int index) {
  if (index < 0) return;
  TIEVSharedBitmap& s = SharedBitmaps[size_t(CheckedSlot(index))];
  if (s.RefCount <= 1) {
    s.Bitmap.reset();
    s.RefCount = 0;
  } else {
    --s.RefCount;
  }
}

void TImageryVect::SetObjBitmap(int hobj, TIEBitmap* bitmap) {
  TIEVObjectRecord* r = ObjectRecord(hobj);
  if (!r) return;
  const int old = r->BitmapIndex;
  r->BitmapIndex = -1;
  if (old >= 0 && old < int(SharedBitmaps.size())) ReleaseSharedBitmap(old);
  if (!bitmap) return;
  int slot = ShareBitmaps ? FindSharedBitmap(bitmap) : -1;
  if (slot >= 0) {
    ++SharedBitmaps[size_t(slot)].RefCount;
  } else {
    auto copy = std::make_unique<TIEBitmap>();
    copy->Assign(bitmap);
    slot = NewSharedSlot();
    SharedBitmaps[size_t(slot)].Bitmap = std::move(copy);
    SharedBitmaps[size_t(slot)].RefCount = 1;
  }
  r->BitmapIndex = slot;
}

void TImageryVect::SetObjBitmapIndex(int hobj, int index) {
  TIEVObjectRecord* r = ObjectRecord(hobj);
  if (!r) return;
  if (index >= 0) CheckedSlot(index);
  const int old = r->BitmapIndex;
  r->BitmapIndex = -1;
  // Releasing first could free the very slot being set: a shared index keeps its bitmap alive.
  if (index >= 0 && ShareBitmaps && SharedBitmaps[size_t(index)].Bitmap) {
    ++SharedBitmaps[size_t(index)].RefCount;
    r->BitmapIndex = index;
  } else if (index >= 0 && SharedBitmaps[size_t(index)].Bitmap) {
    auto copy = std::make_unique<TIEBitmap>();
    copy->Assign(SharedBitmaps[size_t(index)].Bitmap.get());
    const int slot = NewSharedSlot();
    SharedBitmaps[size_t(slot)].Bitmap = std::move(copy);
    SharedBitmaps[size_t(slot)].RefCount = 1;
    r->BitmapIndex = slot;
  } else if (index >= 0) {
    throw EIEVectError("Shared bitmap slot " + std::to_string(index) + " is empty");
  }
  if (old >= 0 && old < int(SharedBitmaps.size())) ReleaseSharedBitmap(old);
  if (index < 0) r->BitmapIndex = index;
}

void TImageryVect::SetObjBitmapFromIcon(int hobj, LPCSTR icon, int width, int height) {
  HICON h = HICON(LoadImageA(nullptr, icon, IMAGE_ICON, width, height, LR_SHARED));
  TIEDIBSectionBitmap dib;
  dib.SetPixelFormat(iepf24bit);
  dib.SetSize(width, height);
  for (int y = 0; y < height; ++y) std::memset(dib.ScanLine(y), 0, size_t(width) * 3);
  if (h) DrawIconEx(dib.GetDC(), 0, 0, h, width, height, 0, nullptr, DI_NORMAL);
  GdiFlush();
  TIEBitmap b;
  b.AssignTBitmap(&dib);
  SetObjBitmap(hobj, &b);
  if (hobj != IEV_TEMPLATE) Repaint();
}

void TImageryVect::CompactSharedBitmaps() {
  std::vector<int> newIndex(SharedBitmaps.size(), -1);
  std::vector<TIEVSharedBitmap> kept;
  for (size_t i = 0; i < SharedBitmaps.size(); ++i) {
    if (!SharedBitmaps[i].Bitmap) continue;
    newIndex[i] = int(kept.size());
    kept.push_back(std::move(SharedBitmaps[i]));
  }
  SharedBitmaps = std::move(kept);
  auto renumber = [&](TIEVObjectRecord& r) {
    if (r.BitmapIndex >= 0 && r.BitmapIndex < int(newIndex.size())) r.BitmapIndex = newIndex[size_t(r.BitmapIndex)];
  };
  renumber(Template);
  for (int h : ObjectList) renumber(*Records[size_t(h)]);
}

// ---- drawing settings ----

void TImageryVect::SetBitmapResampleFilter(TResampleFilter f) {
  BitmapResampleFilter = f;
  Repaint();
}

void TImageryVect::SetObjGripImage(TPicture* picture) {
  ObjGripImage->Assign(picture);
  FitGripsToImage();
  Repaint();
}

void TImageryVect::FitGripsToImage() {
  if (ObjGripImage->GetGraphic() && !ObjGripImage->GetGraphic()->Empty())
    GripSize = std::max(ObjGripImage->Width(), ObjGripImage->Height()) / 2;
}

void TImageryVect::Loaded() {
  FitGripsToImage();  // a layout reads the picture in place
  inherited::Loaded();
}
