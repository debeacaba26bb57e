// GDI+ for the lifetime of the program: the entry owns one of these before any slide is rendered.
#pragma once
#include <windows.h>

namespace app {

class GdiplusRuntime {
 public:
  // Starts GDI+ version 1; ok() tells whether it started.
  GdiplusRuntime();
  ~GdiplusRuntime();
  GdiplusRuntime(const GdiplusRuntime&) = delete;
  GdiplusRuntime& operator=(const GdiplusRuntime&) = delete;
  bool ok() const { return token_ != 0; }

 private:
  ULONG_PTR token_ = 0;
};

}  // namespace app
