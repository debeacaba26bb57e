// The component's attachment to an image control of the user-interface library, and the bitmap
// hand-over members.
#include "ieplatformbitmap.h"
#include "ieview.h"
#include "imageryio.h"
#include "uibuttons.h"

void TImageryIO::ReplaceBitmap(TIEBitmap* bitmap) {
  if (OwnsBitmap) delete IEBitmap;
  TImageLink.Unlink(nullptr);
  OwnsBitmap = false;
  IEBitmap = bitmap;
}

ui::TBitmap* TImageryIO::GetBitmap() {
  if (IEBitmap && IEBitmap->GetLocation() == ieTBitmap)
    if (auto* a = dynamic_cast<TIETBitmapAdapter*>(IEBitmap->GetTBitmap())) return a->GetBitmap();
  return TImageLink.GetPictureBitmap();
}

void TImageryIO::SetAttachedTImageValue(ui::TImage* image) {
  RemoveViewHandler();
  if (TImageLink.GetImage() != image) FreeNotifier->Unwatch(TImageLink.GetImage());
  FreeNotifier->Watch(image);
  if (!image) {
    TImageLink.Unlink(IEBitmap);
    return;
  }
  AttachedImagery = nullptr;
  if (!IEBitmap || !OwnsBitmap) {
    // the view's (or the caller's) bitmap stays theirs: the control's picture needs one of our own
    IEBitmap = new TIEBitmap();
    OwnsBitmap = true;
  }
  TImageLink.Link(image, IEBitmap);
}

bool TImageryIO::PrepareBitmap() {
  if (!IEBitmap) return false;
  TImageLink.Refresh(IEBitmap);
  return true;
}
