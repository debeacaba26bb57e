// Platform flags, exceptions, wide file names, files, system messages and text helpers of the layer.
#include "VelSysUtils.h"


#include "VelWideStrUtils.h"
#include "VelWindows.h"

namespace {

// FormatMessage fills at most this many characters; system messages are far shorter.
constexpr DWORD kErrorMessageChars = 256;
// WideExpandFileName's first buffer; a longer path is fetched again with the size the call asks for.
constexpr DWORD kExpandBufferChars = MAX_PATH;
constexpr DWORD kDirectoryAttribute = FILE_ATTRIBUTE_DIRECTORY;  // 0x10

int velSysUtilsModuleCount;

}  // namespace

bool IsUnicodePlatform;
bool IsVersion51OrLater;

void VelPlatformInitialize() {
  OSVERSIONINFOW info = {};
  info.dwOSVersionInfoSize = sizeof(info);
  if (!GetVersionExW(&info)) return;
  IsUnicodePlatform = info.dwPlatformId == VER_PLATFORM_WIN32_NT;
  IsVersion51OrLater = (info.dwMajorVersion == 5 && info.dwMinorVersion >= 1) || info.dwMajorVersion > 5;
}

VelSysUtilsModule::VelSysUtilsModule() {
  if (velSysUtilsModuleCount++ == 0) VelPlatformInitialize();
}

bool IsAnsiRepresentable(wchar_t c) {
  // Without WC_NO_BEST_FIT_CHARS the conversion would stand in a look-alike (alpha as "a") without
  // using the default character, and such a character would count as representable.
  BOOL usedDefault = FALSE;
  WideCharToMultiByte(DefaultAnsiCodePage, WC_NO_BEST_FIT_CHARS, &c, 1, nullptr, 0, nullptr, &usedDefault);
  return !usedDefault;
}

// ---- File names -----------------------------------------------------------------------------

int WideLastDelimiter(const std::wstring& delimiters, const std::wstring& s) {
  for (size_t i = s.size(); i > 0; --i) {
    const wchar_t c = s[i - 1];
    if (c != 0 && delimiters.find(c) != std::wstring::npos) return static_cast<int>(i);
  }
  return 0;
}

bool WideIsDelimiter(const std::wstring& delimiters, const std::wstring& s, int index) {
  if (index < 1 || static_cast<size_t>(index) > s.size()) return false;
  const wchar_t c = s[static_cast<size_t>(index) - 1];
  return c == 0 || delimiters.find(c) != std::wstring::npos;
}

bool WideIsPathDelimiter(const std::wstring& s, int index) {
  return index >= 1 && static_cast<size_t>(index) <= s.size() && s[static_cast<size_t>(index) - 1] == L'\\';
}

std::wstring WideAddTrailingBackslash(const std::wstring& path) {
  if (!path.empty() && path.back() == L'\\') return path;
  return path + L'\\';
}

std::wstring WideReplaceFileExt(const std::wstring& name, const std::wstring& extension) {
  const int i = WideLastDelimiter(L".\\:", name);
  if (i > 0 && name[static_cast<size_t>(i) - 1] == L'.') return name.substr(0, static_cast<size_t>(i) - 1) + extension;
  return name + extension;
}

std::wstring WideFileNameOfPath(const std::wstring& path) {
  return path.substr(static_cast<size_t>(WideLastDelimiter(L"\\:", path)));
}

std::wstring WideExtractFileExt(const std::wstring& name) {
  const int i = WideLastDelimiter(L".\\:", name);
  if (i > 0 && name[static_cast<size_t>(i) - 1] == L'.') return name.substr(static_cast<size_t>(i) - 1);
  return std::wstring();
}

std::wstring WideExpandFileName(const std::wstring& name) {
  std::wstring buffer(kExpandBufferChars, L'\0');
  wchar_t* filePart = nullptr;
  DWORD n = WideGetFullPathName(name.c_str(), kExpandBufferChars, &buffer[0], &filePart);
  if (n >= kExpandBufferChars) {
    // Longer than MAX_PATH: n is the size needed, terminator included.
    buffer.assign(n, L'\0');
    n = WideGetFullPathName(name.c_str(), static_cast<DWORD>(buffer.size()), &buffer[0], &filePart);
    if (n >= buffer.size()) n = 0;
  }
  buffer.resize(n);
  return buffer;
}

// ---- Files and folders ----------------------------------------------------------------------

HANDLE WideFileCreate(const std::wstring& name) {
  return WideCreateFile(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE WideFileOpen(const std::wstring& name, unsigned mode) {
  static const DWORD kAccess[] = {GENERIC_READ, GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE};
  static const DWORD kShare[] = {0, 0, FILE_SHARE_READ, FILE_SHARE_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE};
  const unsigned access = mode & 3, share = (mode & 0xF0) >> 4;
  if (access >= sizeof(kAccess) / sizeof(kAccess[0]) || share >= sizeof(kShare) / sizeof(kShare[0])) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  return WideCreateFile(name.c_str(), kAccess[access], kShare[share], nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool WideIsExistingFile(const std::wstring& name) {
  WIN32_FIND_DATAW data = {};
  HANDLE h = WideFindFirstFile(name.c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  return (data.dwFileAttributes & kDirectoryAttribute) == 0;
}

bool WideFolderExists(const std::wstring& name) {
  const DWORD attributes = WideGetFileAttributes(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & kDirectoryAttribute) != 0;
}

DWORD WideFileGetAttributes(const std::wstring& name) { return WideGetFileAttributes(name.c_str()); }

bool WideRemoveFile(const std::wstring& name) { return WideDeleteFile(name.c_str()) != FALSE; }

// ---- System messages ------------------------------------------------------------------------

std::wstring WideSysErrorMessage(DWORD code) { return WideLibraryErrorMessage(L"system", nullptr, code); }

std::wstring WideLibraryErrorMessage(const std::wstring& libraryName, HMODULE module, DWORD code) {
  DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ARGUMENT_ARRAY;
  if (module) flags |= FORMAT_MESSAGE_FROM_HMODULE;
  std::wstring message;
  if (IsUnicodePlatform) {
    wchar_t buffer[kErrorMessageChars];
    const DWORD n = FormatMessageW(flags, module, code, 0, buffer, kErrorMessageChars, nullptr);
    message.assign(buffer, n < kErrorMessageChars ? n : 0);
  } else {
    char buffer[kErrorMessageChars];
    const DWORD n = FormatMessageA(flags, module, code, 0, buffer, kErrorMessageChars, nullptr);
    message = AnsiToWide(std::string(buffer, n < kErrorMessageChars ? n : 0));
  }
  for (wchar_t c : message)
    if (c > L' ') return message;
  return L"Unspecified error (" + std::to_wstring(static_cast<int>(code)) + L") from " + libraryName + L".";
}

DWORD WideWin32Check(DWORD value) {
  if (value == 0) ui::RaiseLastOSError();
  return value;
}

// ---- Text -----------------------------------------------------------------------------------

bool IsWideWordDelimiter(wchar_t c) {
  if (c == 0) return true;
  WORD type = 0;
  if (!WideGetStringTypeEx(GetThreadLocale(), CT_CTYPE1, &c, 1, &type))
    ui::RaiseLastOSError();
  return (type & (C1_SPACE | C1_PUNCT)) != 0;
}

std::wstring WideUpperCaseCopy(const std::wstring& s) {
  std::wstring copy = s;
  if (!copy.empty()) WideCharUpperBuff(&copy[0], static_cast<DWORD>(copy.size()));
  return copy;
}

std::wstring WideStringReplace(const std::wstring& s, const std::wstring& oldPattern,
                               const std::wstring& newPattern, unsigned flags, bool wholeWord) {
  const bool ignoreCase = (flags & wrfIgnoreCase) != 0;
  // The search text runs in step with the remaining text; only the search text is upper-cased, so
  // what is kept comes from the original.
  std::wstring search = ignoreCase ? WideUpperCaseCopy(s) : s;
  const std::wstring pattern = ignoreCase ? WideUpperCaseCopy(oldPattern) : oldPattern;
  std::wstring remaining = s;
  std::wstring result;
  while (!search.empty()) {
    const size_t found = pattern.empty() ? std::wstring::npos : search.find(pattern);
    if (found == std::wstring::npos) {
      result += remaining;
      break;
    }
    const size_t matchEnd = found + oldPattern.size();
    if (wholeWord) {
      const wchar_t before = found == 0 ? (result.empty() ? L'\0' : result.back()) : remaining[found - 1];
      const wchar_t after = matchEnd < remaining.size() ? remaining[matchEnd] : L'\0';
      if (!IsWideWordDelimiter(before) || !IsWideWordDelimiter(after)) {
        result.append(remaining, 0, matchEnd);
        remaining.erase(0, matchEnd);
        search.erase(0, matchEnd);
        continue;
      }
    }
    result.append(remaining, 0, found);
    result += newPattern;
    remaining.erase(0, matchEnd);
    if (!(flags & wrfReplaceAll)) {
      result += remaining;
      break;
    }
    search.erase(0, found + pattern.size());
  }
  return result;
}

std::wstring ExtractStringFromStringArray(const wchar_t*& position, wchar_t separator) {
  if (!position) return std::wstring();
  const wchar_t* start = position;
  if (const wchar_t* found = WideStrScan(start, separator)) {
    position = found + 1;
    return std::wstring(start, static_cast<size_t>(found - start));
  }
  const size_t len = WideStrLength(start);
  position = start + len;
  return std::wstring(start, len);
}

std::vector<std::wstring> ExtractStringsFromStringArray(const wchar_t* buffer, wchar_t separator) {
  std::vector<std::wstring> strings;
  const wchar_t* position = buffer;
  while (position) {
    std::wstring s = ExtractStringFromStringArray(position, separator);
    if (s.empty()) break;
    strings.push_back(std::move(s));
  }
  return strings;
}
