// The processing component. Image snapshots are plain TIEBitmap copies whose threshold is 0, so that
// at the temporary-file location they never move back into memory.
#include "imageryproc.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <cstring>

#include <windows.h>

#include <cmath>
#include <cstdio>

#include "iebitmapservices.h"
#include "iecolorconv.h"
#include "iecolorreduction.h"
#include "iemask.h"
#include "iestreams.h"
#include "ieresample.h"
#include "ieresamplers.h"
#include "ierotate.h"
#include "ieview.h"
#include "uibuttons.h"
#include "uigraphics.h"
#include "vodevovur.h"

const TIEPixelFormat IEFormatCandidates[kIEPixelFormatCount][7] = {
    /* ieNoFormat */ {ieNoFormat, ieNoFormat, ieNoFormat, ieNoFormat, ieNoFormat, ieNoFormat, ieNoFormat},
    /* ie1g */ {ie8g, ie16g, ie32f, ie24RGB, ieNoFormat, ieNoFormat, ieNoFormat},
    /* ie8p */ {ie24RGB, ieCMYK, ieRGB48, ieCIELab, ieNoFormat, ieNoFormat, ieNoFormat},
    /* ie8g */ {ie16g, ie32f, ie24RGB, ieCMYK, ieRGB48, ieNoFormat, ieNoFormat},
    /* ie16g */ {ie32f, ie8g, ieRGB48, ie24RGB, ieCMYK, ieNoFormat, ieNoFormat},
    /* ie24RGB */ {ieCMYK, ieCIELab, ieRGB48, ie8p, ie16g, ie8g, ieNoFormat},
    /* ie32f */ {ie16g, ie8g, ie24RGB, ieRGB48, ieCIELab, ieNoFormat, ieNoFormat},
    /* ieCMYK */ {ie24RGB, ieRGB48, ieCIELab, ie8g, ieNoFormat, ieNoFormat, ieNoFormat},
    /* ieRGB48 */ {ie24RGB, ieCMYK, ieCIELab, ie16g, ieNoFormat, ieNoFormat, ieNoFormat},
    /* ieCIELab */ {ie24RGB, ieCMYK, ieRGB48, ie8g, ieNoFormat, ieNoFormat, ieNoFormat},
    /* ie32RGB */ {ie24RGB, ieCMYK, ieRGB48, ie8g, ieNoFormat, ieNoFormat, ieNoFormat},
};

uint8_t IEExpand1To24Table[256][24];
std::vector<TIEFilter3x3> IEPredefinedFilters;
std::vector<std::string> IEPredefinedFilterNames;
unsigned IERawClipboardFormat = 0;

namespace {

const TIEStaticStepRegistrar g_staticStep(iessProc, IEProcStaticInit, IEProcStaticFini);

struct NamedFilter {
  const char* Name;
  TIEFilter3x3 Filter;
};
const NamedFilter kPredefinedFilters[] = {
    {"None", {{{0, 0, 0}, {0, 1, 0}, {0, 0, 0}}, 0}},
    {"Blur", {{{1, 1, 1}, {1, 1, 1}, {1, 1, 1}}, 9}},
    {"Edges", {{{1, 1, 1}, {1, -8, 1}, {1, 1, 1}}, 1}},
    {"Emboss", {{{-1, 0, 1}, {-1, 1, 1}, {-1, 0, 1}}, 1}},
    {"High Pass 1", {{{0, -1, 0}, {-1, 5, -1}, {0, -1, 0}}, 1}},
    {"High Pass 2", {{{-1, -1, -1}, {-1, 9, -1}, {-1, -1, -1}}, 1}},
    {"High Pass 3", {{{1, -2, 1}, {-2, 5, -2}, {1, -2, 1}}, 1}},
    {"Low Pass 1", {{{1, 1, 1}, {1, 1, 1}, {1, 1, 1}}, 10}},
    {"Low Pass 2", {{{1, 2, 1}, {2, 4, 2}, {1, 2, 1}}, 16}},
};

bool InSet(TIEPixelFormatSet set, int f) { return f >= 0 && f < 16 && (set >> f) & 1; }

bool RowsEqual(TIEBitmap* a, TIEBitmap* b) {
  const int w = a->GetImageWidth(), bits = a->GetBitCount();
  const int fullBytes = int(int64_t(w) * bits / 8), restBits = int(int64_t(w) * bits % 8);
  std::vector<uint8_t> ra(static_cast<size_t>(a->GetRowLength()));
  for (int y = 0; y < a->GetImageHeight(); ++y) {
    // a copy: at a temporary file the second row view may replace the first
    std::memcpy(ra.data(), a->GetRowAddress(y), ra.size());
    const uint8_t* rb = b->GetRowAddress(y);
    if (std::memcmp(ra.data(), rb, size_t(fullBytes)) != 0) return false;
    if (restBits) {
      const uint8_t mask = uint8_t(0xFF << (8 - restBits));
      if ((ra[fullBytes] & mask) != (rb[fullBytes] & mask)) return false;
    }
  }
  return true;
}

}  // namespace

void IEProcAddPredefinedFilter(const TIEFilter3x3& filter, const std::string& name) {
  IEPredefinedFilters.push_back(filter);
  IEPredefinedFilterNames.push_back(name);
}

void IEProcStaticInit() {
  for (int b = 0; b < 256; ++b)
    for (int j = 0; j < 8; ++j) std::memset(IEExpand1To24Table[b] + 3 * j, (b >> (7 - j)) & 1 ? 255 : 0, 3);
  IEPredefinedFilters.clear();
  IEPredefinedFilterNames.clear();
  for (const NamedFilter& f : kPredefinedFilters) IEProcAddPredefinedFilter(f.Filter, f.Name);
  IERawClipboardFormat = RegisterClipboardFormatW(L"IMAGERY RAW FORMAT");
  // the pixel buffer's conversions to ie1g and ie8p go through this unit's colour reduction
  IEInstallColorReductionServices();
  // and its filtered rendering through this unit's resamplers
  IEResampleServices.ResampleBW = IEResampleBW;
  IEResampleServices.ResampleRGB24 = [](TIEBitmap* s, TIEBitmap* d, TResampleFilter f) {
    IEResampleRGB24(s, d, f, nullptr, TIEProgressEvent());
  };
  IEResampleServices.ResampleGray8 = IEResampleGray8;
  IEResampleServices.ShrinkBWToGray = IEShrinkBWToGray;
}

void IEProcStaticFini() {
  IEPredefinedFilters.clear();
  IEPredefinedFilterNames.clear();
}

TIEPixelFormatSet IEFormatSet(std::initializer_list<TIEPixelFormat> formats) {
  TIEPixelFormatSet s = 0;
  for (TIEPixelFormat f : formats)
    if (int(f) < 16) s = TIEPixelFormatSet(s | (1u << f));
  return s;
}

bool IEBitmapsEqual(TIEBitmap* a, TIEBitmap* b) {
  if (a == b) return true;
  if (!a || !b) return false;
  if (a->GetImageWidth() != b->GetImageWidth() || a->GetImageHeight() != b->GetImageHeight()) return false;
  // the formats first: equal row bytes of two formats are not equal images
  if (a->GetPixelFormat() != b->GetPixelFormat() || a->AlphaPresent() != b->AlphaPresent()) return false;
  if (a->GetPixelFormat() == ie8p) {
    for (int i = 0; i < 256; ++i)
      if (!IESameRGB(a->GetPaletteEntry(i), b->GetPaletteEntry(i))) return false;
  }
  if (!RowsEqual(a, b)) return false;
  return !a->AlphaPresent() || RowsEqual(a->GetAlphaChannel(), b->GetAlphaChannel());
}

TImageryProc::TImageryProc(bool withOwner)
    : AutoUndo(withOwner),
      WorkingBitmap(new TIEBitmap()),
      FreeNotifier(new TIEFreeNotifier(
          [this](ui::TComponent* c, ui::TOperation op) { ForgetRemovedComponent(c, op); })),
      PreviewFont(new ui::TFont()),
      DialogParams(new TIPDialogParams()) {}

TImageryProc::~TImageryProc() {
  RemoveViewHandler();
  UndoStack.clear();
  RedoStack.clear();
  if (OwnsBitmap) delete WorkingBitmap;
  PreviewFont->Free();
}

void TImageryProc::SetPreviewFontValue(ui::TFont* font) { PreviewFont->Assign(font); }

void TIPDialogParams::Reset() {
  A = B = C = D = -1;
  std::fill(std::begin(Values), std::end(Values), 0);
  UserFilter = TIEFilter3x3{{{0, 0, 0}, {0, 1, 0}, {0, 0, 0}}, 0};
  const TIERGB black{0, 0, 0}, white{255, 255, 255};
  Colors[0] = black;
  Colors[1] = white;
  Colors[2] = black;
  Colors[3] = white;
  FlagA = false;
  const int kRect[4] = {0, 0, 150, 150};
  std::copy(std::begin(kRect), std::end(kRect), RectA);
  Color = white;
  Value = 0;
  FlagB = true;
  std::copy(std::begin(kRect), std::end(kRect), RectB);
  Factor = 1.7;
  FlagC = true;
  ValuesC[0] = 10;
  ValuesC[1] = 10;
  ValuesC[2] = 0;
  FlagD = false;
  ValuesD[0] = 0;
  ValuesD[1] = 1;
  Factors[0] = 0.0;
  Factors[1] = 1.0;
  ValuesE[0] = 1;
  ValuesE[1] = 4;
  FlagE = true;
  Preview.Clear();
}

void TIPDialogParams::Store(int& param, int v) {
  param = v;
  Preview.Clear();
}

void TIPDialogParams::SetParamA(int v) { Store(A, v); }
void TIPDialogParams::SetParamB(int v) { Store(B, v); }
void TIPDialogParams::SetParamC(int v) { Store(C, v); }
void TIPDialogParams::SetParamD(int v) { Store(D, v); }

void TImageryProc::ReplaceWorkingBitmap(TIEBitmap* bitmap) {
  if (OwnsBitmap) delete WorkingBitmap;
  TImageLink.Unlink(nullptr);
  OwnsBitmap = false;
  WorkingBitmap = bitmap;
}

void TImageryProc::SetAttachedTImageValue(ui::TImage* image) {
  RemoveViewHandler();
  if (TImageLink.GetImage() != image) FreeNotifier->Unwatch(TImageLink.GetImage());
  FreeNotifier->Watch(image);
  if (!image) {
    TImageLink.Unlink(WorkingBitmap);
    return;
  }
  AttachedImagery = nullptr;
  if (!OwnsBitmap || !WorkingBitmap) {
    // a view's or a caller's bitmap stays theirs: the control's picture needs one of our own
    WorkingBitmap = new TIEBitmap();
    OwnsBitmap = true;
  }
  TImageLink.Link(image, WorkingBitmap);
}

TColor TImageryProc::GetBackgroundValue() const {
  return AttachedImagery ? TColor(AttachedImagery->GetBackground()) : BackgroundColor;
}

void TImageryProc::SetBackgroundValue(TColor c) {
  if (AttachedImagery) AttachedImagery->SetBackground(c);
  else BackgroundColor = c;
}

void TImageryProc::SetAttachedIEBitmap(TIEBitmap* bitmap) {
  if (!bitmap && (AttachedImagery || TImageLink.GetImage())) return;  // an attachment's bitmap stays until detached
  RemoveViewHandler();
  AttachedImagery = nullptr;
  if (bitmap) {
    ReplaceWorkingBitmap(bitmap);
    return;
  }
  // back to a bitmap of its own: never keep naming a bitmap the caller may free
  ReplaceWorkingBitmap(new TIEBitmap());
  OwnsBitmap = true;
}

bool TImageryProc::PrepareImage(TIEPixelFormatSet allowed) {
  if (!WorkingBitmap) return false;
  TImageLink.Refresh(WorkingBitmap);
  return EnsurePixelFormat(allowed);
}

bool TImageryProc::PrepareWithUndo(TIEPixelFormatSet allowed, const std::string& caption) {
  if (!WorkingBitmap) return false;
  const int f = WorkingBitmap->GetPixelFormat();
  if (allowed != 0 && !InSet(allowed, f) && !AutoConvertFormat) return false;
  // the snapshot before the gate converts: undo gives back the image in its own format
  if (AutoUndo) PushUndoCaptioned(caption, ieuImage);
  return PrepareImage(allowed);
}

bool TImageryProc::EnsurePixelFormat(TIEPixelFormatSet allowed) {
  const int f = WorkingBitmap->GetPixelFormat();
  if (allowed == 0 || InSet(allowed, f)) return true;
  if (!AutoConvertFormat) return false;
  for (TIEPixelFormat c : IEFormatCandidates[f])
    if (c != ieNoFormat && InSet(allowed, c)) {
      WorkingBitmap->SetPixelFormat(c);
      return true;
    }
  for (int c = kIEPixelFormatCount - 1; c >= 0; --c)
    if (InSet(allowed, c)) {
      WorkingBitmap->SetPixelFormat(TIEPixelFormat(c));
      return true;
    }
  return false;
}

void TImageryProc::RemoveViewHandler() {
  if (AttachedImagery && ViewHandler) AttachedImagery->RemoveBitmapChangeHandler(ViewHandler);
  ViewHandler = nullptr;
}

void TImageryProc::SetAttachedImageryValue(TIEView* view) {
  RemoveViewHandler();
  if (AttachedImagery != view) FreeNotifier->Unwatch(AttachedImagery);
  AttachedImagery = view;
  FreeNotifier->Watch(view);
  TImageLink.Unlink(OwnsBitmap ? WorkingBitmap : nullptr);
  if (!view) {
    if (!OwnsBitmap) {
      ReplaceWorkingBitmap(new TIEBitmap());
      OwnsBitmap = true;
    }
    return;
  }
  if (TIEBitmap* b = view->GetPixelBuffer()) ReplaceWorkingBitmap(b);
  ViewHandler = view->AddBitmapChangeHandler([this](TIEView*, bool destroying) { ViewBitmapChanged(destroying); });
}

void TImageryProc::ViewBitmapChanged(bool destroying) {
  if (destroying) {
    // the view frees the registration itself; its bitmap goes with it, so fall back to one of our own
    ViewHandler = nullptr;
    AttachedImagery = nullptr;
    if (!OwnsBitmap) {
      WorkingBitmap = new TIEBitmap();
      OwnsBitmap = true;
    }
    return;
  }
  if (!AttachedImagery) return;
  if (TIEBitmap* b = AttachedImagery->GetPixelBuffer()) ReplaceWorkingBitmap(b);
}

void TImageryProc::ForgetRemovedComponent(ui::TComponent* component, ui::TOperation operation) {
  if (operation != ui::opRemove || !component) return;
  if (AttachedImagery && component == AttachedImagery) {
    // told before the view's own farewell through the handler: take the handler back now
    RemoveViewHandler();
    ViewBitmapChanged(true);
  }
  TImageLink.ForgetRemoved(component, WorkingBitmap);  // the bitmap is left empty
}

void TImageryProc::ImageChanged() {
  TImageLink.Changed(WorkingBitmap);
  if (!AttachedImagery) return;
  AttachedImagery->UpdateView();
  AttachedImagery->ImageChange();
}

void TImageryProc::FinishWork() {
  if (OnProgress) OnProgress(this, 100);
  if (OnFinishWork) OnFinishWork(this);
}

void TImageryProc::Clear() {
  if (!PrepareImage(0)) return;
  if (AutoUndo) PushUndoCaptioned("Clear", ieuImage);
  WorkingBitmap->Fill(GetBackgroundValue());
  ImageChanged();
  FinishWork();
}

void TImageryProc::ResampleToBitmap(TIEBitmap* dest, int w, int h, TResampleFilter filter) {
  if (ResampleInto(dest, w, h, filter)) FinishWork();
}

bool TImageryProc::ResampleInto(TIEBitmap* dest, int w, int h, TResampleFilter filter) {
  if (!dest || !PrepareImage(0)) return false;
  const int W = WorkingBitmap->GetImageWidth(), H = WorkingBitmap->GetImageHeight();
  if (W == 0 || H == 0 || (w < 0 && h < 0)) return false;
  int nw = w == -1 ? int(int64_t(h) * W / H) : w == 0 ? W : w < 0 ? -w : w;
  nw = IEMax(nw, 1);
  int nh = h == -1 ? int(int64_t(nw) * H / W) : h == 0 ? H : h < 0 ? -h : h;
  nh = IEMax(nh, 1);
  if (!dest->Allocate(nw, nh, WorkingBitmap->GetPixelFormat())) return false;
  IEResample(WorkingBitmap, dest, filter, this, OnProgress);
  return true;
}

void TImageryProc::Resample(int w, int h, TResampleFilter filter) {
  if (!PrepareImage(0)) return;
  const int W = WorkingBitmap->GetImageWidth(), H = WorkingBitmap->GetImageHeight();
  if (W == 0 || H == 0 || (w == W && h == H)) return;
  // both negative is refused before anything changes: there would be no size to scale to
  if (w < 0 && h < 0) return;
  if (AutoUndo) PushUndoCaptioned("Resample " + std::to_string(w) + "," + std::to_string(h), ieuImage);
  TIEBitmap scaled;
  if (!ResampleInto(&scaled, w, h, filter) || scaled.IsEmpty()) return;
  WorkingBitmap->Assign(&scaled);
  ImageChanged();
  FinishWork();
}

void TImageryProc::ImageResize(int w, int h, uint8_t hPlace, uint8_t vPlace, int fillAlpha) {
  if (!PrepareImage(0) || w <= 0 || h <= 0) return;
  if (w == WorkingBitmap->GetImageWidth() && h == WorkingBitmap->GetImageHeight()) return;
  if (AutoUndo) PushUndoCaptioned("ImageResize " + std::to_string(w) + "," + std::to_string(h), ieuImage);
  if (WorkingBitmap->GetImageWidth() < 2 && WorkingBitmap->GetImageHeight() < 2) Clear();
  if (fillAlpha < 255) WorkingBitmap->GetAlphaChannel();
  WorkingBitmap->ResizeCanvas(w, h, GetBackgroundValue(), IEClamp(fillAlpha, 0, 255), hPlace, vPlace);
  ImageChanged();
  FinishWork();
}

void TImageryProc::Rotate(bool antialias, int quality, TColor background, double angle) {
  if (angle == 0 || !std::isfinite(angle) || quality < 0 || quality > 2) return;
  if (!PrepareImage(0)) return;
  if (AutoUndo) {
    char caption[64];
    std::snprintf(caption, sizeof caption, "Rotate %.15g", angle);
    PushUndoCaptioned(caption, ieuImage);
  }
  if (background == -1) background = GetBackgroundValue();
  IERotateBitmap(WorkingBitmap, antialias, quality, background, angle, this, OnProgress);
  ImageChanged();
  FinishWork();
}

void TImageryProc::ConvertToGray() {
  TIEBitmap* work;
  int x1, y1, x2, y2;
  TIEMask* mask;
  if (!BeginSelectionOp(IEFormatSet({ie24RGB}), "ConvertToGray", work, x1, y1, x2, y2, mask)) return;
  IEConvertToGrayRect(work, x1, y1, x2, y2, this, OnProgress);
  EndSelectionOp(work, mask);
  FinishWork();
}

void TImageryProc::Fill(TIERGB color) {
  TIEBitmap* work;
  int x1, y1, x2, y2;
  TIEMask* mask;
  if (!BeginSelectionOp(0, "Fill", work, x1, y1, x2, y2, mask)) return;
  TIERect r;
  r.Left = x1;
  r.Top = y1;
  r.Right = x2 - 1;
  r.Bottom = y2 - 1;
  IEFillRect(work, r, color, this, OnProgress);
  EndSelectionOp(work, mask);
  FinishWork();
}

void TImageryProc::Crop(int x1, int y1, int x2, int y2) {
  TIERect r;
  r.Left = x1;
  r.Top = y1;
  r.Right = x2;
  r.Bottom = y2;
  CropRect(r);
}

void TImageryProc::CropRect(const TIERect& rect) {
  if (!PrepareImage(0)) return;
  const int W = WorkingBitmap->GetImageWidth(), H = WorkingBitmap->GetImageHeight();
  // a rectangle reaching outside is limited to the image; one with nothing inside changes nothing
  const TIERect r = IEClipRect(rect, W, H);
  if (r.IsEmpty() || (r.Left == 0 && r.Top == 0 && r.Right + 1 == W && r.Bottom + 1 == H)) return;
  if (AutoUndo) PushUndoCaptioned("Crop", ieuImage);
  IECropBitmap(WorkingBitmap, r);
  ImageChanged();
  FinishWork();
}

void TImageryProc::CropToOpaqueArea() {
  if (!PrepareImage(0)) return;
  const TIERect r = IEFindOpaqueBounds(WorkingBitmap);
  if (r.IsEmpty()) return;  // fully transparent: nothing to keep, the image stays
  const bool saved = AutoUndo;
  AutoUndo = false;
  CropRect(r);
  AutoUndo = saved;
}

void TImageryProc::ConvertTo(int numColors, bool threshold) {
  if (!PrepareWithUndo(IEFormatSet({ie24RGB}), "ConvertTo " + std::to_string(numColors))) return;
  TIEReductionProgress progress;
  progress.Sender = this;
  progress.OnProgress = OnProgress;
  IEConvertToColors(WorkingBitmap, numColors, threshold, progress);
  ImageChanged();
  FinishWork();
}

void TImageryProc::ConvertToPalette(int numColors, TIERGB* palette, bool threshold) {
  if (numColors == 0 || !palette) return;
  if (!PrepareWithUndo(IEFormatSet({ie24RGB}), "ConvertToPalette")) return;
  TIEReductionProgress progress;
  progress.Sender = this;
  progress.OnProgress = OnProgress;
  IEConvertToPaletteColors(WorkingBitmap, numColors, palette, threshold, progress);
  ImageChanged();
  FinishWork();
}

// ---- selection-aware operations ----

bool TImageryProc::GetSelectionInfo(int& x1, int& y1, int& x2, int& y2, TIEMask*& mask) {
  x1 = y1 = 0;
  x2 = WorkingBitmap ? WorkingBitmap->GetImageWidth() : 0;
  y2 = WorkingBitmap ? WorkingBitmap->GetImageHeight() : 0;
  mask = nullptr;
  if (!AttachedImagery) return false;
  mask = AttachedImagery->GetSelectionMask();
  if (!mask || mask->IsEmpty()) return false;
  // the box limited to the image: a mask left from a larger image must not reach outside it
  x1 = IEMax(mask->BoxX1, 0);
  y1 = IEMax(mask->BoxY1, 0);
  x2 = IEMin(mask->BoxX2 + 1, x2);
  y2 = IEMin(mask->BoxY2 + 1, y2);
  return x1 < x2 && y1 < y2;
}

bool TImageryProc::BeginSelectionOp(TIEPixelFormatSet allowed, const std::string& caption, TIEBitmap*& work,
                                    int& x1, int& y1, int& x2, int& y2, TIEMask*& mask) {
  work = nullptr;
  // every refusal comes before the undo entry, so a refused operation leaves the stack as it was
  if (!WorkingBitmap) return false;
  if (allowed != 0 && !InSet(allowed, WorkingBitmap->GetPixelFormat()) && !AutoConvertFormat) return false;
  const bool selected = GetSelectionInfo(x1, y1, x2, y2, mask);
  int bx = 0, by = 0, bw = 0, bh = 0;
  if (selected) {
    // the box of the mask: CopyMaskedPixels places the copy at the mask's own box on the way back
    bx = mask->BoxX1;
    by = mask->BoxY1;
    bw = mask->BoxX2 - bx + 1;
    bh = mask->BoxY2 - by + 1;
    // a box reaching outside the image (a mask of another size) cannot be put back: refused
    if (bx != x1 || by != y1 || bw != x2 - x1 || bh != y2 - y1) return false;
  }
  if (AutoUndo) PushUndoCaptioned(caption, ieuImage);
  if (!PrepareImage(allowed)) return false;
  work = WorkingBitmap;
  if (!selected) {
    mask = nullptr;  // no selection: the whole image
    x1 = y1 = 0;
    x2 = WorkingBitmap->GetImageWidth();
    y2 = WorkingBitmap->GetImageHeight();
    return true;
  }
  auto temp = std::make_unique<TIEBitmap>();
  if (!temp->Allocate(bw, bh, WorkingBitmap->GetPixelFormat())) {
    work = nullptr;
    return false;
  }
  if (WorkingBitmap->GetPixelFormat() == ie8p)
    for (int i = 0; i < 256; ++i) temp->SetPaletteEntry(i, WorkingBitmap->GetPaletteEntry(i));
  WorkingBitmap->CopyRectTo(temp.get(), bx, by, 0, 0, bw, bh);
  if (WorkingBitmap->AlphaPresent())
    WorkingBitmap->GetAlphaChannel()->CopyRectTo(temp->GetAlphaChannel(), bx, by, 0, 0, bw, bh);
  work = temp.release();
  x1 = y1 = 0;
  x2 = bw;
  y2 = bh;
  return true;
}

void TImageryProc::EndSelectionOp(TIEBitmap* work, TIEMask* mask) {
  if (work && work != WorkingBitmap) {
    std::unique_ptr<TIEBitmap> temp(work);
    if (mask) {
      mask->CopyMaskedPixels(WorkingBitmap, temp.get(), false, true, false);
      if (temp->AlphaPresent() && !temp->GetAlphaChannel()->IsAll255) {
        TIEBitmap* alpha = WorkingBitmap->GetAlphaChannel();
        mask->CopyMaskedPixels(alpha, temp->GetAlphaChannel(), false, true, false);
        alpha->IsAll255 = false;
      }
    }
  }
  ImageChanged();
}

// ---- undo and redo ----

bool TImageryProc::MakeSnapshot(TIEUndoSource kind, UndoEntry& entry) {
  if (kind == ieuImage) {
    if (WorkingBitmap->GetImageWidth() < 2 || WorkingBitmap->GetImageHeight() < 2) return false;
    std::unique_ptr<TIEBitmap> copy(new TIEBitmap());
    copy->SetMemoryThreshold(UndoStorage == ieTempFile ? 0 : INT64_MAX);
    copy->SetLocation(UndoStorage);
    copy->Assign(WorkingBitmap);
    copy->SpareInteger = AttachedImagery ? AttachedImagery->UndoLayerIndex() : -1;  // -1: no layers
    entry.Image = std::move(copy);
    entry.Kind = kind;
    return true;
  }
  // the other kinds are the attached view's state, made by the view when it keeps that kind
  if (kind < ieuSelection || kind > ieuObjectsAndLayers || !AttachedImagery) return false;
  auto stream = std::make_unique<TIEMemoryStream>();
  try {
    if (!AttachedImagery->WriteUndoState(kind, *stream)) return false;
  } catch (const std::exception&) {
    return false;  // a state that cannot be written makes no entry
  }
  entry.Stream = std::move(stream);
  entry.Kind = kind;
  return true;
}

bool TImageryProc::PushEntry(Stack& stack, TIEUndoSource kind, bool fireEvent) {
  const int limit = EffectiveLimit();
  if (limit == 0) return false;
  if (kind == ieuImage && !PrepareImage(0)) return false;
  UndoEntry entry;
  const bool made = MakeSnapshot(kind, entry);
  if (made) {
    while (int(stack.size()) >= limit) stack.erase(stack.begin());
    stack.push_back(std::move(entry));
  }
  if (fireEvent && OnSaveUndo) OnSaveUndo(this, kind);
  return made;
}

void TImageryProc::PushCaptioned(Stack& stack, const std::string& caption, TIEUndoSource kind, bool fireEvent) {
  if (!PrepareImage(0)) return;
  if (WorkingBitmap->GetImageWidth() < 2 || WorkingBitmap->GetImageHeight() < 2) return;
  if (PushEntry(stack, kind, fireEvent)) stack.back().Caption = caption;
}

void TImageryProc::PushUndo(TIEUndoSource kind) { PushEntry(UndoStack, kind, true); }
void TImageryProc::PushRedo(TIEUndoSource kind) { PushEntry(RedoStack, kind, false); }
void TImageryProc::PushUndoCaptioned(const std::string& caption, TIEUndoSource kind) {
  PushCaptioned(UndoStack, caption, kind, true);
}
void TImageryProc::PushRedoCaptioned(const std::string& caption, TIEUndoSource kind) {
  PushCaptioned(RedoStack, caption, kind, false);
}

void TImageryProc::RestoreEntry(const UndoEntry& entry, uint8_t kind) {
  if (kind == ieuImage) {
    if (!entry.Image) return;
    // into the layer the snapshot was taken of (the index limited to the layers left)
    TIEBitmap* target = WorkingBitmap;
    if (AttachedImagery && entry.Image->SpareInteger >= 0)
      if (TIEBitmap* layer = AttachedImagery->UndoLayerBitmap(entry.Image->SpareInteger)) target = layer;
    target->Assign(entry.Image.get());
    ImageChanged();
    return;
  }
  if (!entry.Stream || !AttachedImagery) return;
  entry.Stream->SetPosition(0);
  AttachedImagery->ReadUndoState(TIEUndoSource(kind), *entry.Stream);
}

void TImageryProc::UndoToPosition(int position, bool saveRedo) {
  if (!PrepareImage(0) || position < 0 || position >= int(UndoStack.size())) return;
  const size_t index = UndoStack.size() - size_t(position) - 1;
  const uint8_t kind = UndoStack[index].Kind;
  if (saveRedo) PushRedo(TIEUndoSource(kind));
  RestoreEntry(UndoStack[index], kind);
}

void TImageryProc::RedoToPosition(int position) {
  if (!PrepareImage(0) || position < 0 || position >= int(RedoStack.size())) return;
  const UndoEntry& e = RedoStack[RedoStack.size() - size_t(position) - 1];
  RestoreEntry(e, uint8_t(e.Kind & 0x7F));
}

std::string TImageryProc::UndoCaptionOf(int position) {
  if (position < 0 || position >= int(UndoStack.size())) return std::string();
  return UndoStack[UndoStack.size() - size_t(position) - 1].Caption;
}

std::string TImageryProc::RedoCaptionOf(int position) {
  if (position < 0 || position >= int(RedoStack.size())) return std::string();
  return RedoStack[RedoStack.size() - size_t(position) - 1].Caption;
}

TIEUndoSource TImageryProc::UndoSourceOf(int index) {
  if (index < 0 || index >= int(UndoStack.size())) return ieuUnknown;
  return TIEUndoSource(UndoStack[size_t(index)].Kind);
}

TIEBitmap* TImageryProc::UndoSnapshotOf(int position) {
  if (position < 0 || position >= int(UndoStack.size())) return nullptr;
  return UndoStack[UndoStack.size() - size_t(position) - 1].Image.get();
}

void TImageryProc::DiscardNewestUndo() {
  if (!UndoStack.empty()) UndoStack.pop_back();
}

void TImageryProc::DiscardNewestRedo() {
  if (!RedoStack.empty()) RedoStack.pop_back();
}

void TImageryProc::DiscardUndoEntry(int position) {
  if (position < 0 || position >= int(UndoStack.size())) return;
  UndoStack.erase(UndoStack.begin() + (int(UndoStack.size()) - position - 1));
}
