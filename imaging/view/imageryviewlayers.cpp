// The image view's layer list: the current-layer rule, adding and removing layers, hit tests, and
// baking display sizes and rotations into the layers' pixels.
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "ieareaops.h"
#include "iebitmap.h"
#include "iegeom.h"
#include "ielayer.h"
#include "imageryproc.h"
#include "imageryview.h"

TIELayer* TImageryView::GetLayer(int index) {
  if (index < 0 || index >= int(Layers.size())) throw std::out_of_range("List index out of bounds");
  return Layers[size_t(index)];
}

void TImageryView::TakeLayerBitmap(TIELayer* layer) {
  IEBitmap = layer->Bitmap;
  Bitmap = layer->GetPlatformBitmap();
}

void TImageryView::SetCurrentLayer(int index) {
  const int count = int(Layers.size());
  if (index < 0 || index >= count || index == CurrentLayer) return;
  if (CurrentLayer >= 0 && CurrentLayer < count) Layers[size_t(CurrentLayer)]->Bitmap = IEBitmap;
  // the selection stays on the same image area: it moves by the difference of the layers' places
  const bool carrySelection = SelectionPresent;
  if (carrySelection) PushSelection();
  while (SelectableLayersOnly && !Layers[size_t(index)]->Selectable && index > 0) --index;
  CurrentLayer = index;
  TakeLayerBitmap(Layers[size_t(index)]);
  if (carrySelection) PopSelection(true, 2);
  NotifyBitmapChangeHandlers();
  UpdateView();
}

int TImageryView::AddLayer() {
  Layers[size_t(CurrentLayer)]->Bitmap = IEBitmap;
  auto* layer = new TIELayer(this, IEBitmap, false);
  Layers.push_back(layer);
  CurrentLayer = int(Layers.size()) - 1;
  TakeLayerBitmap(layer);
  IEBitmap->Fill(double(ui::ColorToRGB(Background)));
  IEBitmap->DiscardAlphaChannel(false);
  NotifyBitmapChangeHandlers();
  UpdateView();
  return CurrentLayer;
}

void TImageryView::RemoveLayer(int index) {
  const int count = int(Layers.size());
  if (count < 2 || index < 0 || index >= count) return;
  Layers[size_t(CurrentLayer)]->Bitmap = IEBitmap;
  int removed = 1;
  if (index + 1 < count && Layers[size_t(index) + 1]->IsMask) {
    delete Layers[size_t(index) + 1];
    Layers.erase(Layers.begin() + index + 1);
    removed = 2;
  }
  delete Layers[size_t(index)];
  Layers.erase(Layers.begin() + index);
  int current = CurrentLayer;
  if (current >= index && current < index + removed)
    current = std::min(index, int(Layers.size()) - 1);
  else if (current >= index + removed)
    current -= removed;
  CurrentLayer = current;
  TakeLayerBitmap(Layers[size_t(current)]);
  NotifyBitmapChangeHandlers();
  UpdateView();
}

void TImageryView::ClearLayers() {
  Layers[size_t(CurrentLayer)]->Bitmap = IEBitmap;
  while (Layers.size() > 1) {
    delete Layers.back();
    Layers.pop_back();
  }
  CurrentLayer = 0;
  TIELayer* layer0 = Layers[0];
  TakeLayerBitmap(layer0);
  layer0->SetDefaults();
  layer0->BoxVisible = false;
  layer0->Locked = true;
  IEBitmap->Fill(double(ui::ColorToRGB(Background)));
  IEBitmap->DiscardAlphaChannel(false);
  NotifyBitmapChangeHandlers();
  UpdateView();
}

void TImageryView::SyncLayers() {
  if (Layers.empty()) return;
  // a platform bitmap changed behind the view's back (size, format) is seen again
  if (LegacyBitmap && Bitmap && IEBitmap->GetLocation() == ieTBitmap)
    IEBitmap->AttachTBitmap(IEBitmap->GetTBitmap(), false);
  Layers[size_t(CurrentLayer)]->Bitmap = IEBitmap;
  ImageWidth = Layers[0]->Bitmap->GetImageWidth();
  ImageHeight = Layers[0]->Bitmap->GetImageHeight();
  if (!SyncLayerSizes || Layers.size() < 2) return;
  for (TIELayer* layer : Layers) {
    ImageWidth = std::max(ImageWidth, layer->Bitmap->GetImageWidth());
    ImageHeight = std::max(ImageHeight, layer->Bitmap->GetImageHeight());
  }
  for (TIELayer* layer : Layers) {
    TIEBitmap* b = layer->Bitmap;
    if (b->GetImageWidth() == ImageWidth && b->GetImageHeight() == ImageHeight) continue;
    b->GetAlphaChannel();  // made fully opaque when missing, so the new area alone is transparent
    b->ResizeCanvas(ImageWidth, ImageHeight, double(ui::ColorToRGB(Background)), 0, 0, 0);
  }
}

int TImageryView::FindLayerAt(int x, int y, bool honourSelectable) {
  Layers[size_t(CurrentLayer)]->Bitmap = IEBitmap;
  for (int i = int(Layers.size()) - 1; i >= 0; --i) {
    TIELayer* layer = Layers[size_t(i)];
    if (honourSelectable && SelectableLayersOnly && !layer->Selectable) continue;
    if (!layer->Visible) continue;
    const RECT& r = layer->ClientRect;
    if (!IEPointInRect(x, y, r.left, r.top, r.right, r.bottom)) continue;
    TIEBitmap* b = layer->Bitmap;
    if (!b->AlphaPresent() || b->IsEmpty()) return i;
    const int bx = std::clamp(layer->ClientToBitmapX(x), 0, b->GetImageWidth() - 1);
    const int by = std::clamp(layer->ClientToBitmapY(y), 0, b->GetImageHeight() - 1);
    if (b->GetAlphaAt(bx, by) != 0) return i;
  }
  return -1;
}

bool TImageryView::IsPointInLayer(int x, int y, int index) {
  if (index < 0 || index >= int(Layers.size())) return false;
  TIELayer* layer = Layers[size_t(index)];
  if (!layer->Visible) return false;
  if (layer->GetRotation() != 0) {
    POINT corners[4];
    for (int k = 0; k < 4; ++k) corners[k] = POINT{layer->DrawInfo[8 + 2 * k], layer->DrawInfo[9 + 2 * k]};
    return IEPointInPolygon(x, y, corners, 3);
  }
  const RECT& r = layer->ClientRect;
  return IEPointInRect(x, y, r.left, r.top, r.right, r.bottom);
}

namespace {
// A processor of its own on one bitmap, without undo: the view's layers are baked in place.
struct LayerProc {
  explicit LayerProc(TIEBitmap* bitmap) {
    proc.AutoUndo = false;
    proc.SetAttachedIEBitmap(bitmap);
  }
  ~LayerProc() { proc.SetAttachedIEBitmap(nullptr); }
  TImageryProc proc{false};
};
}  // namespace

void TImageryView::ApplyLayerSizes(int index) {
  Layers[size_t(CurrentLayer)]->Bitmap = IEBitmap;
  for (int i = 0; i < int(Layers.size()); ++i) {
    if (index != -1 && i != index) continue;
    TIELayer* layer = Layers[size_t(i)];
    if (layer->Width == 0 && layer->Height == 0) continue;
    LayerProc p(layer->Bitmap);
    p.proc.Resample(layer->GetDisplayWidth(), layer->GetDisplayHeight(),
                    layer->UseResampleFilter ? layer->ResampleFilter : ZoomFilter);
    layer->Width = layer->Height = 0;
  }
  UpdateView();
}

void TImageryView::CropLayersToOpaque(int index) {
  Layers[size_t(CurrentLayer)]->Bitmap = IEBitmap;
  for (int i = 0; i < int(Layers.size()); ++i) {
    if (index != -1 && i != index) continue;
    LayerProc p(Layers[size_t(i)]->Bitmap);
    p.proc.CropToOpaqueArea();
  }
  UpdateView();
}

void TImageryView::ApplyLayerRotations(int index) {
  Layers[size_t(CurrentLayer)]->Bitmap = IEBitmap;
  for (int i = 0; i < int(Layers.size()); ++i) {
    if (index != -1 && i != index) continue;
    TIELayer* layer = Layers[size_t(i)];
    if (layer->GetRotation() == 0) continue;
    ApplyLayerSizes(i);
    const int w = layer->GetDisplayWidth(), h = layer->GetDisplayHeight();
    POINT corners[4] = {{0, 0}, {w, 0}, {w, h}, {0, h}};
    layer->Bitmap->GetAlphaChannel();  // the corners outside the turned image come out transparent
    {
      LayerProc p(layer->Bitmap);
      p.proc.SetBackgroundValue(TColor(ui::ColorToRGB(Background)));
      p.proc.Rotate(LayersRotationAntialias, LayersRotationAntialiasMode, TColor(-1), layer->GetRotation());
    }
    IERotatePoints(corners, 3, layer->GetRotation(), int(w * layer->RotationCenterX),
                   int(h * layer->RotationCenterY));
    LONG minX = corners[0].x, minY = corners[0].y;
    for (const POINT& c : corners) {
      minX = std::min(minX, c.x);
      minY = std::min(minY, c.y);
    }
    layer->PosX += minX;
    layer->PosY += minY;
    layer->Width = layer->Height = 0;
    layer->SetRotation(0);
    const TIERect bounds = IEFindOpaqueBounds(layer->Bitmap);
    if (!bounds.IsEmpty() && IECropBitmap(layer->Bitmap, bounds)) {
      layer->PosX += bounds.Left;
      layer->PosY += bounds.Top;
    }
  }
  UpdateView();
}
