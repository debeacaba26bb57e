// Image lists: equally sized images kept in one native image list, each with its mask.
#pragma once
#include <windows.h>

#include <commctrl.h>

#include "uibitmap.h"

namespace ui {

class TCustomImageList : public TComponent {
  UI_DECLARE_CLASS(TCustomImageList, TComponent)
 public:
  TCustomImageList() = default;
  void BeforeDestruction() override;
  ~TCustomImageList() override;

  int GetWidth() const { return width_; }
  void SetWidth(int w);  // a new size empties the list
  int GetHeight() const { return height_; }
  void SetHeight(int h);
  int Count() const;
  HIMAGELIST GetHandle();  // made on first use
  bool HandleAllocated() const { return handle_ != nullptr; }
  // Adds the images of `image` (a strip of Width-wide images) with `mask` (null: no transparency);
  // returns the index of the first one added.
  int Add(TBitmap* image, TBitmap* mask);
  // The same, with every pixel of colour `maskColor` transparent.
  int AddMasked(TBitmap* image, TColor maskColor);
  void Delete(int index);
  void Clear();
  // Draws image `index` at (x, y); a disabled image is drawn embossed. Nothing for a bad index.
  void Draw(TCanvas* canvas, int x, int y, int index, bool enabled = true);
  TNotifyEvent OnChange;

 protected:
  virtual void Change();

 private:
  void FreeHandle();
  int width_ = 16, height_ = 16;
  HIMAGELIST handle_ = nullptr;
};

class TImageList : public TCustomImageList {
  UI_DECLARE_CLASS(TImageList, TCustomImageList)
};

// Makes `dst` an embossed (disabled-looking) copy of `src`: the dark, non-transparent pixels of `src`
// become a button-highlight copy moved one pixel down-right under a button-shadow copy; every other
// pixel gets colour `key`, which the caller draws as transparent.
void MakeEmbossedImage(TBitmap* src, COLORREF transparent, TBitmap* dst, COLORREF key);

}  // namespace ui
