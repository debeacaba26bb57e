#include "gdiplus_runtime.h"

#include <objidl.h>
#include <gdiplus.h>

namespace app {

GdiplusRuntime::GdiplusRuntime() {
  Gdiplus::GdiplusStartupInput input;  // version 1, no debug callback, background thread on
  if (Gdiplus::GdiplusStartup(&token_, &input, nullptr) != Gdiplus::Ok) token_ = 0;
}

GdiplusRuntime::~GdiplusRuntime() {
  if (token_) Gdiplus::GdiplusShutdown(token_);
}

}  // namespace app
