// The layer's system utilities: the platform flags, the layer's exceptions, wide file names, files
// and folders named by wide strings, system error messages as wide text, a wide search-and-replace
// and the splitting of zero-separated string arrays. File-name positions are 1-based.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "VelSystem.h"
#include "uisysutils.h"

// Process-wide platform flags, set at start-up by VelPlatformInitialize. Tests clear
// IsUnicodePlatform to drive the ANSI road, which Windows of the NT family never takes by itself.
extern bool IsUnicodePlatform;   // the platform is of the NT family (W entry points accept UTF-16)
extern bool IsVersion51OrLater;  // the platform's version is 5.1 or later
void VelPlatformInitialize();

// True when the character converts to DefaultAnsiCodePage without its default character.
bool IsAnsiRepresentable(wchar_t c);

// A layer exception with a wide message over one of the user-interface library's exceptions; the
// library's message (Message(), what()) is its form in the system ANSI code page.
template <class Base>
class TWideMessageException : public Base {
 public:
  explicit TWideMessageException(const std::wstring& message)
      : Base(WideToAnsi(message)), wideMessage_(message) {}
  const std::wstring& WideMessage() const { return wideMessage_; }

 private:
  std::wstring wideMessage_;
};
class WideException : public TWideMessageException<ui::Exception> {
 public:
  using TWideMessageException::TWideMessageException;
  const char* ClassName() const override { return "WideException"; }
};
// File errors are stream errors of the library, so its handlers treat them alike.
class EWideFileStreamError : public TWideMessageException<ui::EStreamError> {
 public:
  using TWideMessageException::TWideMessageException;
  const char* ClassName() const override { return "EWideFileStreamError"; }
};
UI_EXCEPTION(EWideFCreateError, EWideFileStreamError)
UI_EXCEPTION(EWideFOpenError, EWideFileStreamError)
// Bad data given to the layer.
class EVelGeneralError : public ui::Exception {
 public:
  using ui::Exception::Exception;
  const char* ClassName() const override { return "EVelGeneralError"; }
};
// A broken assumption inside the layer.
class EVelInternalError : public ui::Exception {
 public:
  using ui::Exception::Exception;
  const char* ClassName() const override { return "EVelInternalError"; }
};

int WideLastDelimiter(const std::wstring& delimiters, const std::wstring& s);
bool WideIsDelimiter(const std::wstring& delimiters, const std::wstring& s, int index);
bool WideIsPathDelimiter(const std::wstring& s, int index);
std::wstring WideAddTrailingBackslash(const std::wstring& path);
std::wstring WideReplaceFileExt(const std::wstring& name, const std::wstring& extension);
std::wstring WideFileNameOfPath(const std::wstring& path);
// The extension with its dot, or empty.
std::wstring WideExtractFileExt(const std::wstring& name);
// The full path; empty when the system cannot form it.
std::wstring WideExpandFileName(const std::wstring& name);

// Creates (or truncates) a file for reading and writing without sharing; INVALID_HANDLE_VALUE on
// failure.
HANDLE WideFileCreate(const std::wstring& name);
// Opens an existing file: mode & 3 is the access (0 read, 1 write, 2 both), (mode & 0xF0) >> 4 the
// sharing (0 and 1 none, 2 others may read, 3 others may write, 4 both). Other modes fail with
// ERROR_INVALID_PARAMETER.
HANDLE WideFileOpen(const std::wstring& name, unsigned mode);
// True for an existing entry that is not a folder.
bool WideIsExistingFile(const std::wstring& name);
bool WideFolderExists(const std::wstring& name);
DWORD WideFileGetAttributes(const std::wstring& name);
bool WideRemoveFile(const std::wstring& name);

// The system's text for an error code (closing line break kept), or "Unspecified error (code) from
// library." when the system has none.
std::wstring WideSysErrorMessage(DWORD code);
std::wstring WideLibraryErrorMessage(const std::wstring& libraryName, HMODULE module, DWORD code);
// Raises the library's EOSError with the last system error when value is 0; returns value otherwise.
DWORD WideWin32Check(DWORD value);

// True for character 0 and for blanks and punctuation of the thread's locale.
bool IsWideWordDelimiter(wchar_t c);
std::wstring WideUpperCaseCopy(const std::wstring& s);
enum : unsigned { wrfReplaceAll = 1, wrfIgnoreCase = 2 };
// Replaces the first (or every, with wrfReplaceAll) occurrence of oldPattern; with wholeWord only
// occurrences between word delimiters count.
std::wstring WideStringReplace(const std::wstring& s, const std::wstring& oldPattern,
                               const std::wstring& newPattern, unsigned flags, bool wholeWord);

// Takes the string at `position` up to `separator` (0: up to the next zero) and moves `position` past
// the separator, or onto the terminating zero when the separator does not occur.
std::wstring ExtractStringFromStringArray(const wchar_t*& position, wchar_t separator);
// All strings of a list ended by an empty string (with separator 0: a double-zero-terminated list).
std::vector<std::wstring> ExtractStringsFromStringArray(const wchar_t* buffer, wchar_t separator);

// Start-up (the platform flags) runs once per process before any file including this header runs
// its own static initializers; it comes after VelSystem's.
struct VelSysUtilsModule {
  VelSysUtilsModule();
};
static VelSysUtilsModule velSysUtilsModuleInstance;
