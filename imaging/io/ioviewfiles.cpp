// Loading the image view's own files: vector objects, layers, and both together. An attached view of
// the kind a file needs takes what it holds; otherwise a temporary vector view loads it and the image
// becomes its merged picture.
#include <algorithm>
#include <exception>
#include <memory>

#include "ievect.h"
#include "imageryio.h"
#include "imageryview.h"
#include "uicomponent.h"

namespace {

struct TFreeView {
  void operator()(TImageryVect* v) const { v->Free(); }
};

// The objects' extent as a white canvas, fully transparent: the objects themselves are drawn on it by
// the view.
void MakeObjectsCanvas(TImageryVect* vect, TIEBitmap* image) {
  const RECT extent = vect->GetObjectsExtent();
  image->Allocate(std::max<int>(1, extent.right), std::max<int>(1, extent.bottom), ie24RGB);
  image->Fill(0xFFFFFF);
  image->GetAlphaChannel()->Fill(0);
}

}  // namespace

void TImageryIO::LoadViewFile(const std::wstring& fileName, TIEFileFormatCode fileType) {
  Aborting = true;
  Params.ClearImageInfo();
  // views, their layers and objects belong to the window thread
  if (InsideIOThread() || !IEBitmap) return;
  auto* vect = ui::As<TImageryVect>(AttachedImagery);
  auto* view = dynamic_cast<TImageryView*>(AttachedImagery);
  bool ok = false;
  try {
    if (fileType == iffIEV && vect) {
      ok = vect->LoadObjectsFromFile(fileName);
      if (ok) MakeObjectsCanvas(vect, IEBitmap);
    } else if (fileType == iffLYR && view) {
      ok = view->LoadLayersFromFile(fileName);
    } else if (fileType == iffALL && vect) {
      ok = vect->LoadLayersAndObjectsFromFile(fileName);
    } else if (fileType == iffIEV || fileType == iffLYR || fileType == iffALL) {
      std::unique_ptr<TImageryVect, TFreeView> temp(ui::New<TImageryVect>(nullptr));
      temp->SetLegacyBitmapValue(false);
      if (fileType == iffIEV) {
        ok = temp->LoadObjectsFromFile(fileName);
        if (ok) MakeObjectsCanvas(temp.get(), temp->GetIEBitmap());
      } else {
        ok = fileType == iffLYR ? temp->LoadLayersFromFile(fileName) : temp->LoadLayersAndObjectsFromFile(fileName);
        if (ok) temp->MergeAllLayers();
      }
      if (ok && fileType != iffLYR) temp->RenderObjectsIntoImage(true);
      if (ok) IEBitmap->Assign(temp->GetIEBitmap());
    }
  } catch (const std::exception&) {
    ok = false;
  }
  Aborting = !ok;
  Params.FileType = fileType;
  if (!ok) return;
  Params.FileName = fileName;
  UpdateAfterIO();
}
