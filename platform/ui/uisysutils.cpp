#include "uisysutils.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace ui {

const char* const SListIndexError = "List index out of bounds (%d)";
const char* const SDuplicateString = "String list does not allow duplicates";
const char* const SSortedListError = "Operation not allowed on sorted list";
const char* const SDuplicateName = "A component named %s already exists";
const char* const SInvalidName = "\"%s\" is not a valid component name";
const char* const SInvalidPropertyValue = "Invalid property value";
const char* const SReadError = "Stream read error";
const char* const SWriteError = "Stream write error";
const char* const SFCreateError = "Cannot create file \"%s\". %s";
const char* const SFOpenError = "Cannot open file \"%s\". %s";
const char* const SInvalidImage = "Invalid layout stream format";
const char* const SResNotFound = "Resource %s not found";
const char* const SClassNotFound = "Class %s not found";
const char* const SUnresolvedReference = "Unresolved reference to %s";
const char* const SParentRequired = "Control \"%s\" has no parent window";
const char* const SCannotFocus = "Cannot focus a disabled or invisible window";
const char* const SVisibleChanged = "Cannot show a visible window modally";
const char* const SInvalidBitmap = "Bitmap image is not valid";
const char* const SUnknownExtension = "Unknown picture file extension (.%s)";

std::string Format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  va_list ap2;
  va_copy(ap2, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, ap);
  va_end(ap);
  std::string s;
  if (n > 0) {
    std::vector<char> buf(static_cast<size_t>(n) + 1);
    std::vsnprintf(buf.data(), buf.size(), fmt, ap2);
    s.assign(buf.data(), static_cast<size_t>(n));
  }
  va_end(ap2);
  return s;
}

void Abort() { throw EAbort("Operation aborted"); }

std::string SysErrorMessage(unsigned long code) {
  char* buf = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<char*>(&buf), 0, nullptr);
  std::string s;
  if (n && buf) s.assign(buf, n);
  if (buf) LocalFree(buf);
  while (!s.empty() && (s.back() == '\r' || s.back() == '\n' || s.back() == ' ' || s.back() == '.')) s.pop_back();
  return s;
}

void RaiseOSError(unsigned long code) {
  std::string text = SysErrorMessage(code);
  throw EOSError(code ? Format("System Error.  Code: %lu.\r\n%s", code, text.c_str())
                      : std::string("A call to an OS function failed"));
}

void RaiseLastOSError() { RaiseOSError(GetLastError()); }

int Win32Platform = 0;
int Win32MajorVersion = 0;
int Win32MinorVersion = 0;
int Win32BuildNumber = 0;
bool SysLocaleFarEast = false;
bool SysLocaleMiddleEast = false;
unsigned SysLocalePriLangID = 0;
unsigned SysLocaleSubLangID = 0;

namespace {
struct PlatformInit {
  PlatformInit() {
    OSVERSIONINFOA vi{};
    vi.dwOSVersionInfoSize = sizeof vi;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (GetVersionExA(&vi)) {
#pragma GCC diagnostic pop
      Win32Platform = static_cast<int>(vi.dwPlatformId);
      Win32MajorVersion = static_cast<int>(vi.dwMajorVersion);
      Win32MinorVersion = static_cast<int>(vi.dwMinorVersion);
      Win32BuildNumber = static_cast<int>(Win32Platform == VER_PLATFORM_WIN32_WINDOWS ? vi.dwBuildNumber & 0xFFFF
                                                                                       : vi.dwBuildNumber);
    }
    LANGID lang = GetSystemDefaultLangID();
    SysLocalePriLangID = PRIMARYLANGID(lang);
    SysLocaleSubLangID = SUBLANGID(lang);
    SysLocaleFarEast = GetSystemMetrics(SM_DBCSENABLED) != 0;
    SysLocaleMiddleEast = GetSystemMetrics(SM_MIDEASTENABLED) != 0;
  }
} platformInit;
}  // namespace

}  // namespace ui
