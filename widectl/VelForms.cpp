// Unicode forms and the application's wide text.
#include "VelForms.h"

#include <windows.h>

#include "VelSystem.h"

namespace {

// The character after the last single "&" of a caption ("&&" is a literal ampersand, a final "&"
// marks nothing); 0 when there is none.
wchar_t CaptionHotKey(const std::wstring& caption) {
  wchar_t key = 0;
  for (size_t i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != L'&') continue;
    if (caption[i + 1] != L'&') key = caption[i + 1];
    ++i;
  }
  return key;
}

}  // namespace

bool IsWideCharAccel(unsigned charCode, const std::wstring& caption) {
  const wchar_t key = CaptionHotKey(caption);
  if (key == 0) return false;
  const wchar_t pressed = KeyCharToWide(charCode);
  return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, &pressed, 1, &key, 1) == CSTR_EQUAL;
}
