// Owners of single GDI handles, released in their destructors.
#pragma once
#include <windows.h>

#include <utility>

namespace presenter {

// A pen, brush, font or bitmap made by this program (stock objects are never wrapped).
template <typename Handle>
class GdiObject {
 public:
  explicit GdiObject(Handle h = nullptr) : h_(h) {}
  ~GdiObject() {
    if (h_) DeleteObject(h_);
  }
  GdiObject(GdiObject&& o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
  GdiObject& operator=(GdiObject&& o) noexcept {
    std::swap(h_, o.h_);
    return *this;
  }
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;
  Handle get() const { return h_; }

 private:
  Handle h_;
};

// Selects an object into a DC for the lifetime of this value.
class SelectedObject {
 public:
  SelectedObject(HDC dc, HGDIOBJ obj) : dc_(dc), old_(SelectObject(dc, obj)) {}
  ~SelectedObject() {
    if (old_ && old_ != HGDI_ERROR) SelectObject(dc_, old_);
  }
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// The screen's DC, the reference device of the metafiles.
class ScreenDC {
 public:
  ScreenDC() : dc_(GetDC(nullptr)) {}
  ~ScreenDC() {
    if (dc_) ReleaseDC(nullptr, dc_);
  }
  ScreenDC(const ScreenDC&) = delete;
  ScreenDC& operator=(const ScreenDC&) = delete;
  HDC get() const { return dc_; }

 private:
  HDC dc_;
};

class EnhMetafile {
 public:
  explicit EnhMetafile(HENHMETAFILE h = nullptr) : h_(h) {}
  ~EnhMetafile() {
    if (h_) DeleteEnhMetaFile(h_);
  }
  EnhMetafile(const EnhMetafile&) = delete;
  EnhMetafile& operator=(const EnhMetafile&) = delete;
  HENHMETAFILE get() const { return h_; }

 private:
  HENHMETAFILE h_;
};

}  // namespace presenter
