// The link of a component's bitmap to an image control of the user-interface library: the control's
// picture bitmap becomes the bitmap's platform storage, so that what the component does shows in the
// control. The link does not follow the control's lifetime itself: its user hears of the control's
// freeing (TIEFreeNotifier) and unlinks while the picture still exists.
#pragma once
#include <memory>

class TIEBitmap;
class TIETBitmapAdapter;
namespace ui {
class TBitmap;
class TComponent;
class TImage;
}  // namespace ui

class TIEImageControlLink {
 public:
  TIEImageControlLink();
  ~TIEImageControlLink();
  TIEImageControlLink(const TIEImageControlLink&) = delete;
  TIEImageControlLink& operator=(const TIEImageControlLink&) = delete;

  ui::TImage* GetImage() const { return Image; }
  ui::TBitmap* GetPictureBitmap() const;  // nullptr while unlinked
  // `bitmap` works on the control's picture from now on (its present storage freed).
  void Link(ui::TImage* image, TIEBitmap* bitmap);
  // Forgets the control; with `bitmap`, that bitmap's storage (the picture) is let go first.
  void Unlink(TIEBitmap* bitmap);
  // The free notification of `removed`: when it is the linked control, Unlink(bitmap) while its
  // picture still exists.
  void ForgetRemoved(ui::TComponent* removed, TIEBitmap* bitmap);
  // The picture may have been changed, or replaced, outside: the bitmap takes it again.
  void Refresh(TIEBitmap* bitmap);
  // After the bitmap changed: the alpha channel (which the picture cannot hold) is dropped, the
  // picture marked modified and the control repainted.
  void Changed(TIEBitmap* bitmap);

 private:
  ui::TImage* Image = nullptr;
  std::unique_ptr<TIETBitmapAdapter> Adapter;
};
