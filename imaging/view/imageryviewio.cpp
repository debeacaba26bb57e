// The view's side of the input/output component: the services it calls (ieviewservices.h) for the
// view's own files and streams, PSD layers and the parameters preview dialog, done by TImageryView,
// TImageryVect and TfIOPreviews.
#include <algorithm>
#include <memory>

#include "iebitmap.h"
#include "ielayer.h"
#include "ielayerstream.h"
#include "ievect.h"
#include "ieviewservices.h"
#include "imageryio.h"
#include "imageryview.h"
#include "iopreviews.h"

namespace {

struct TFreeView {
  void operator()(TImageryVect* v) const { v->Free(); }
};

// An objects file has no picture size of its own: its canvas reaches the objects' far corner. One
// object far out in a small file would ask for a canvas no drawing needs, so the canvas stops at a
// side and an area that a drawing of objects can fill; what lies beyond is cut by the canvas edge,
// as an object beyond any picture's edge is.
constexpr int64_t kMaxObjectsCanvasSide = 16384;
constexpr int64_t kMaxObjectsCanvasPixels = int64_t(1) << 26;

// The objects' extent as a white canvas, fully transparent: the objects themselves are drawn on it by
// the view.
void MakeObjectsCanvas(TImageryVect* vect, TIEBitmap* image) {
  const RECT extent = vect->GetObjectsExtent();
  const int64_t width = std::min<int64_t>(std::max<int64_t>(1, extent.right), kMaxObjectsCanvasSide);
  int64_t height = std::min<int64_t>(std::max<int64_t>(1, extent.bottom), kMaxObjectsCanvasSide);
  height = std::min(height, kMaxObjectsCanvasPixels / width);
  image->Allocate(int(width), int(height), ie24RGB);
  image->Fill(0xFFFFFF);
  image->GetAlphaChannel()->Fill(0);
}

// Copies a PSD layer record into a view's layer (the bitmap is taken over).
void TakePSDLayer(TIEPSDLayer& from, TIELayer* to) {
  to->Bitmap->Assign(from.Bitmap.get());
  to->PosX = from.PosX;
  to->PosY = from.PosY;
  to->Width = from.Width;
  to->Height = from.Height;
  to->Transparency = from.Transparency;
  to->Visible = from.Visible;
  to->ClipToImage = from.ClipToImage;
  to->IsMask = from.IsMask;
  to->UseResampleFilter = from.UseResampleFilter;
  to->ResampleFilter = from.ResampleFilter;
  to->Name = from.Name;
}

TImageryView* Layered(TIEView* view) { return dynamic_cast<TImageryView*>(view); }

class TViewServices final : public TIEViewServices {
 public:
  bool IsViewStream(TIEFileFormatCode type, TIEStream& stream) override {
    switch (type) {
      case iffLYR: return IELayersStreamTest(stream);
      case iffIEV: return IEObjectsStreamTest(stream);
      case iffALL: return IELayersAndObjectsStreamTest(stream);
      default: return false;
    }
  }

  bool LoadViewStream(TIEView* view, TIEFileFormatCode type, TIEStream& stream) override {
    if (type == iffLYR) {
      TImageryView* layered = Layered(view);
      return layered && layered->LoadLayersFromStream(stream);
    }
    auto* vect = ui::As<TImageryVect>(view);
    if (type == iffIEV) return vect && vect->LoadObjectsFromStream(stream);
    return type == iffALL && vect && vect->LoadLayersAndObjectsFromStream(stream);
  }

  bool LoadViewFile(TIEView* view, TIEFileFormatCode type, const std::wstring& fileName, TIEBitmap* image) override {
    auto* vect = ui::As<TImageryVect>(view);
    TImageryView* layered = Layered(view);
    bool ok = false;
    if (type == iffIEV && vect) {
      ok = vect->LoadObjectsFromFile(fileName);
      if (ok) MakeObjectsCanvas(vect, image);
    } else if (type == iffLYR && layered) {
      ok = layered->LoadLayersFromFile(fileName);
    } else if (type == iffALL && vect) {
      ok = vect->LoadLayersAndObjectsFromFile(fileName);
    } else if (type == iffIEV || type == iffLYR || type == iffALL) {
      std::unique_ptr<TImageryVect, TFreeView> temp(ui::New<TImageryVect>(nullptr));
      temp->SetLegacyBitmapValue(false);
      if (type == iffIEV) {
        ok = temp->LoadObjectsFromFile(fileName);
        if (ok) MakeObjectsCanvas(temp.get(), temp->GetIEBitmap());
      } else {
        ok = type == iffLYR ? temp->LoadLayersFromFile(fileName) : temp->LoadLayersAndObjectsFromFile(fileName);
        if (ok) temp->MergeAllLayers();
      }
      if (ok && type != iffLYR) temp->RenderObjectsIntoImage(true);
      if (ok) image->Assign(temp->GetIEBitmap());
    }
    return ok;
  }

  bool HasLayers(TIEView* view) override { return Layered(view) != nullptr; }

  void ClearLayers(TIEView* view) override { Layered(view)->ClearLayers(); }

  void AddPSDLayers(TIEView* view, TIEPSDLayerList& layers, bool replace, int width, int height) override {
    TImageryView* layered = Layered(view);
    int target = 0;
    if (!replace) target = layered->AddLayer();
    TIELayer* t = layered->GetLayer(target);
    if (layers[0].PosX != 0 || layers[0].PosY != 0) {
      t->SetDefaults();
      t->Bitmap->Allocate(width, height, ie24RGB);
      t->Bitmap->GetAlphaChannel()->Fill(0);
      t = layered->GetLayer(layered->AddLayer());
    }
    TakePSDLayer(layers[0], t);
    for (size_t i = 1; i < layers.size(); ++i) TakePSDLayer(layers[i], layered->GetLayer(layered->AddLayer()));
    layered->UpdateView();
  }

  void GetPSDLayers(TIEView* view, TIEPSDLayerList& layers, TIEBitmap& merged) override {
    TImageryView* layered = Layered(view);
    layered->SyncLayers();
    for (int i = 0; i < layered->GetLayerCount(); ++i) {
      TIELayer* l = layered->GetLayer(i);
      TIEPSDLayer r;
      r.Bitmap.reset(new TIEBitmap);
      r.Bitmap->Assign(l->Bitmap);
      r.PosX = l->PosX;
      r.PosY = l->PosY;
      r.Width = l->Width;
      r.Height = l->Height;
      r.Transparency = l->Transparency;
      r.Visible = l->Visible;
      r.ClipToImage = l->ClipToImage;
      r.IsMask = l->IsMask;
      r.UseResampleFilter = l->UseResampleFilter;
      r.ResampleFilter = l->ResampleFilter;
      r.Name = l->Name;
      layers.push_back(std::move(r));
    }
    layered->DrawLayersTo(&merged);
    merged.SetPixelFormat(layered->GetLayer(0)->Bitmap->GetPixelFormat());
  }

  bool ExecutePreviews(TImageryIO& io, uint16_t pages) override { return TfIOPreviews::Execute(io, pages); }
};

}  // namespace

void IEInstallViewServices() {
  static TViewServices services;
  IESetViewServices(&services);
}
