// GDI+ started for the lifetime of this value; the painter decodes pictures with it.
#pragma once
#include <windows.h>

#include <cstdint>

namespace presenter {

class GdiplusSession {
 public:
  GdiplusSession();
  ~GdiplusSession();
  GdiplusSession(const GdiplusSession&) = delete;
  GdiplusSession& operator=(const GdiplusSession&) = delete;
  bool ok() const { return token_ != 0; }

 private:
  ULONG_PTR token_ = 0;
};

}  // namespace presenter
