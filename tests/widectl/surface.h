// A white memory bitmap to paint controls into, and what was painted on it.
#pragma once
#include <windows.h>

#include <algorithm>
#include <vector>

class MemorySurface {
 public:
  MemorySurface(int width, int height) : width_(width), height_(height) {
    HDC screen = GetDC(nullptr);
    dc_ = CreateCompatibleDC(screen);
    bitmap_ = CreateCompatibleBitmap(screen, width, height);
    ReleaseDC(nullptr, screen);
    old_ = SelectObject(dc_, bitmap_);
    RECT all = {0, 0, width, height};
    FillRect(dc_, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  }
  ~MemorySurface() {
    SelectObject(dc_, old_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  MemorySurface(const MemorySurface&) = delete;
  MemorySurface& operator=(const MemorySurface&) = delete;

  HDC dc() const { return dc_; }
  std::vector<COLORREF> Pixels() const {
    std::vector<COLORREF> p;
    for (int y = 0; y < height_; ++y)
      for (int x = 0; x < width_; ++x) p.push_back(GetPixel(dc_, x, y));
    return p;
  }
  // The bounding box of the pixels that `match` accepts, at least `inset` pixels inside the edges
  // (empty: right < left).
  template <class Match>
  RECT Box(Match match, int inset = 0) const {
    RECT box = {width_, height_, -1, -1};
    for (int y = inset; y < height_ - inset; ++y)
      for (int x = inset; x < width_ - inset; ++x)
        if (match(GetPixel(dc_, x, y))) {
          box.left = std::min<LONG>(box.left, x);
          box.top = std::min<LONG>(box.top, y);
          box.right = std::max<LONG>(box.right, x + 1);
          box.bottom = std::max<LONG>(box.bottom, y + 1);
        }
    return box;
  }

 private:
  int width_, height_;
  HDC dc_;
  HBITMAP bitmap_;
  HGDIOBJ old_;
};

inline bool IsDark(COLORREF c) { return GetRValue(c) < 80 && GetGValue(c) < 80 && GetBValue(c) < 80; }
