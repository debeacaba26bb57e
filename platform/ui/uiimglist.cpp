#include "uiimglist.h"

#include <algorithm>
#include <memory>

#include "uifiler.h"

namespace ui {

static std::vector<TPropInfo> ImageListProps() {
  using T = TCustomImageList;
  return {prop::Int("Width", &T::GetWidth, &T::SetWidth, true, 16),
          prop::Int("Height", &T::GetHeight, &T::SetHeight, true, 16), prop::Event("OnChange", &T::OnChange)};
}
UI_IMPLEMENT_CLASS(TCustomImageList, TComponent, nullptr, ImageListProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TImageList, TCustomImageList, DefaultFactory<TImageList>, nullptr, nullptr, nullptr)

namespace {
struct Registered {
  Registered() { RegisterClasses({&TImageList::StaticClassInfo}); }
} registered;

// A 24-bit copy of `src`, so that the native list gets one known pixel format.
std::unique_ptr<TBitmap> Copy24(TBitmap* src) {
  auto b = std::make_unique<TBitmap>();
  b->SetPixelFormat(pf24bit);
  b->SetSize(src->GetWidth(), src->GetHeight());
  BitBlt(b->Canvas()->GetHandle(), 0, 0, src->GetWidth(), src->GetHeight(), src->Canvas()->GetHandle(), 0, 0, SRCCOPY);
  // A bitmap still selected into its canvas cannot be selected by the image list to copy it.
  static_cast<TBitmapCanvas*>(b->Canvas())->FreeContext();
  return b;
}
}  // namespace

void TCustomImageList::BeforeDestruction() {
  OnChange = nullptr;
  TComponent::BeforeDestruction();
}

TCustomImageList::~TCustomImageList() { FreeHandle(); }

void TCustomImageList::FreeHandle() {
  if (handle_) ImageList_Destroy(handle_);
  handle_ = nullptr;
}

void TCustomImageList::SetWidth(int w) {
  if (w == width_ || w <= 0) return;
  width_ = w;
  FreeHandle();
  Change();
}

void TCustomImageList::SetHeight(int h) {
  if (h == height_ || h <= 0) return;
  height_ = h;
  FreeHandle();
  Change();
}

HIMAGELIST TCustomImageList::GetHandle() {
  if (!handle_) {
    handle_ = ImageList_Create(width_, height_, ILC_COLOR24 | ILC_MASK, 4, 4);
    if (!handle_) RaiseLastOSError();
  }
  return handle_;
}

int TCustomImageList::Count() const { return handle_ ? ImageList_GetImageCount(handle_) : 0; }

int TCustomImageList::Add(TBitmap* image, TBitmap* mask) {
  if (!image || image->Empty()) return -1;
  auto img = Copy24(image);
  std::unique_ptr<TBitmap> monoMask;
  HBITMAP hm = nullptr;
  if (mask && !mask->Empty()) {
    monoMask = std::make_unique<TBitmap>();
    monoMask->SetPixelFormat(pf1bit);
    monoMask->SetSize(mask->GetWidth(), mask->GetHeight());
    BitBlt(monoMask->Canvas()->GetHandle(), 0, 0, mask->GetWidth(), mask->GetHeight(), mask->Canvas()->GetHandle(), 0, 0,
           SRCCOPY);
    static_cast<TBitmapCanvas*>(monoMask->Canvas())->FreeContext();
    hm = monoMask->GetHandle();
  }
  int first = ImageList_Add(GetHandle(), img->GetHandle(), hm);
  if (first < 0) RaiseLastOSError();
  Change();
  return first;
}

int TCustomImageList::AddMasked(TBitmap* image, TColor maskColor) {
  if (!image || image->Empty()) return -1;
  auto img = Copy24(image);
  int first = ImageList_AddMasked(GetHandle(), img->GetHandle(), ColorToRGB(maskColor));
  if (first < 0) RaiseLastOSError();
  Change();
  return first;
}

void TCustomImageList::Delete(int index) {
  if (!handle_ || index < 0 || index >= Count()) throw EListError(Format(SListIndexError, index));
  ImageList_Remove(handle_, index);
  Change();
}

void TCustomImageList::Clear() {
  if (handle_) ImageList_Remove(handle_, -1);
  Change();
}

void TCustomImageList::Draw(TCanvas* canvas, int x, int y, int index, bool enabled) {
  if (!handle_ || index < 0 || index >= Count()) return;
  HDC dc = canvas->GetHandle();
  if (enabled) {
    ImageList_DrawEx(handle_, index, dc, x, y, 0, 0, CLR_NONE, CLR_NONE, ILD_TRANSPARENT);
    return;
  }
  // Disabled: the image is drawn onto a keyed bitmap, embossed and blended in through the key.
  const COLORREF key = RGB(255, 0, 255);
  TBitmap src, out;
  src.SetPixelFormat(pf24bit);
  src.SetSize(width_, height_);
  HBRUSH b = CreateSolidBrush(key);
  RECT r{0, 0, width_, height_};
  ::FillRect(src.Canvas()->GetHandle(), &r, b);
  DeleteObject(b);
  ImageList_DrawEx(handle_, index, src.Canvas()->GetHandle(), 0, 0, 0, 0, CLR_NONE, CLR_NONE, ILD_TRANSPARENT);
  MakeEmbossedImage(&src, key, &out, key);
  GdiTransparentBlt(dc, x, y, width_, height_, out.Canvas()->GetHandle(), 0, 0, width_, height_, key);
}

void TCustomImageList::Change() {
  if (OnChange) OnChange(this);
}

void MakeEmbossedImage(TBitmap* src, COLORREF transparent, TBitmap* dst, COLORREF key) {
  int w = src->GetWidth(), h = src->GetHeight();
  auto in = Copy24(src);
  dst->SetPixelFormat(pf24bit);
  dst->SetSize(w, h);
  std::vector<uint8_t> dark(static_cast<size_t>(w) * static_cast<size_t>(h));
  for (int y = 0; y < h; ++y) {
    auto* p = static_cast<const uint8_t*>(in->ScanLine(y));
    for (int x = 0; x < w; ++x, p += 3) {
      COLORREF c = RGB(p[2], p[1], p[0]);
      // Light pixels vanish like the background: only the drawing's outline and dark areas remain.
      int lum = (p[2] * 30 + p[1] * 59 + p[0] * 11) / 100;
      dark[static_cast<size_t>(y) * w + x] = c != transparent && lum < 192;
    }
  }
  COLORREF hi = ColorToRGB(clBtnHighlight), sh = ColorToRGB(clBtnShadow);
  auto put = [](uint8_t* p, COLORREF c) {
    p[0] = GetBValue(c);
    p[1] = GetGValue(c);
    p[2] = GetRValue(c);
  };
  for (int y = 0; y < h; ++y) {
    auto* p = static_cast<uint8_t*>(dst->ScanLine(y));
    for (int x = 0; x < w; ++x, p += 3) {
      bool self = dark[static_cast<size_t>(y) * w + x];
      bool shifted = x > 0 && y > 0 && dark[static_cast<size_t>(y - 1) * w + (x - 1)];
      put(p, self ? sh : shifted ? hi : key);
    }
  }
}

}  // namespace ui
