#include "ieimagecontrollink.h"

#include "iebitmap.h"
#include "ieplatformbitmap.h"
#include "uibitmap.h"
#include "uibuttons.h"
#include "uipicture.h"

TIEImageControlLink::TIEImageControlLink() = default;
TIEImageControlLink::~TIEImageControlLink() = default;

ui::TBitmap* TIEImageControlLink::GetPictureBitmap() const { return Adapter ? Adapter->GetBitmap() : nullptr; }

void TIEImageControlLink::Link(ui::TImage* image, TIEBitmap* bitmap) {
  Image = image;
  Adapter.reset(new TIETBitmapAdapter(image->GetPicture()->Bitmap()));
  bitmap->AttachTBitmap(Adapter.get(), true);
}

void TIEImageControlLink::Unlink(TIEBitmap* bitmap) {
  if (bitmap && Adapter) bitmap->FreeStorage(true);
  Image = nullptr;
  Adapter.reset();
}

void TIEImageControlLink::ForgetRemoved(ui::TComponent* removed, TIEBitmap* bitmap) {
  if (removed && removed == Image) Unlink(bitmap);
}

void TIEImageControlLink::Refresh(TIEBitmap* bitmap) {
  if (!Image) return;
  ui::TBitmap* b = Image->GetPicture()->Bitmap();
  if (!Adapter || Adapter->GetBitmap() != b) Adapter.reset(new TIETBitmapAdapter(b));
  bitmap->AttachTBitmap(Adapter.get(), false);
}

void TIEImageControlLink::Changed(TIEBitmap* bitmap) {
  if (!Image) return;
  bitmap->DiscardAlphaChannel(false);
  if (ui::TBitmap* b = GetPictureBitmap()) b->Modified = true;
  Image->Invalidate();
}
