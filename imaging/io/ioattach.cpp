// The component's attachment to an image control of the user-interface library, and the bitmap
// hand-over members.
#include "ieplatformbitmap.h"
#include "ieview.h"
#include "imageryio.h"
#include "uibitmap.h"
#include "uibuttons.h"
#include "uipicture.h"

void TImageryIO::ReplaceBitmap(TIEBitmap* bitmap) {
  if (OwnsBitmap) delete IEBitmap;
  TImageBitmap.reset();
  OwnsBitmap = false;
  IEBitmap = bitmap;
}

ui::TBitmap* TImageryIO::GetBitmap() {
  if (IEBitmap && IEBitmap->GetLocation() == ieTBitmap)
    if (auto* a = dynamic_cast<TIETBitmapAdapter*>(IEBitmap->GetTBitmap())) return a->GetBitmap();
  return TImageBitmap ? TImageBitmap->GetBitmap() : nullptr;
}

void TImageryIO::SetAttachedTImageValue(ui::TImage* image) {
  RemoveViewHandler();
  AttachedTImage = image;
  if (!image) {
    if (IEBitmap) IEBitmap->FreeStorage(true);
    TImageBitmap.reset();
    return;
  }
  AttachedImagery = nullptr;
  if (!IEBitmap || !OwnsBitmap) {
    // the view's (or the caller's) bitmap stays theirs: the control's picture needs one of our own
    IEBitmap = new TIEBitmap();
    OwnsBitmap = true;
  }
  TImageBitmap.reset(new TIETBitmapAdapter(image->GetPicture()->Bitmap()));
  IEBitmap->AttachTBitmap(TImageBitmap.get(), true);
}

bool TImageryIO::PrepareBitmap() {
  if (!IEBitmap) return false;
  // the control's picture may have been changed, or replaced, outside the component
  if (AttachedTImage) {
    ui::TBitmap* b = AttachedTImage->GetPicture()->Bitmap();
    if (!TImageBitmap || TImageBitmap->GetBitmap() != b) TImageBitmap.reset(new TIETBitmapAdapter(b));
    IEBitmap->AttachTBitmap(TImageBitmap.get(), false);
  }
  return true;
}

void TImageryIO::ShowInTImage() {
  if (!AttachedTImage || !IEBitmap) return;
  // the control's picture has no alpha channel: what a load brought along is dropped
  IEBitmap->DiscardAlphaChannel(false);
  if (ui::TBitmap* b = GetBitmap()) b->Modified = true;
  AttachedTImage->Invalidate();
}
