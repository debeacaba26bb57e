// The wide wrappers: the W entry point on the Unicode platform, the A entry point with conversions
// through the system ANSI code page otherwise. This is the one place that chooses between them.
#include "VelWindows.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "VelSysUtils.h"
#include "VelSystem.h"

namespace {

// GetFullPathNameA's first buffer; a longer path is fetched again with the size the call asks for.
constexpr DWORD kAnsiPathBufferBytes = 520;
// DT_MODIFYSTRING may append up to four characters (an ellipsis) to the text it is given.
constexpr size_t kDrawTextModifyRoom = 4;
constexpr UINT kStringTableType = 6;  // RT_STRING
constexpr UINT kStringsPerBlock = 16;

uint16_t ReadU16LE(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// The ANSI road of WideCharUpper for one character: only a character the layer's code page can hold
// goes through CharUpperA, and only a one-character result replaces it.
wchar_t UpperCharAnsiRoad(wchar_t c) {
  if (!IsAnsiRepresentable(c)) return c;
  std::string ansi = WideToAnsi(std::wstring(1, c));
  if (ansi.empty()) return c;
  CharUpperA(&ansi[0]);
  std::wstring wide = AnsiToWide(ansi);
  return wide.size() == 1 ? wide[0] : c;
}

// Widens a fixed-size ANSI name array up to its terminator (or its end) into a fixed-size wide
// array, always zero-terminated.
template <size_t AnsiSize, size_t WideSize>
void WidenNameArray(const char (&ansi)[AnsiSize], wchar_t (&wide)[WideSize]) {
  const size_t len = strnlen(ansi, AnsiSize);
  std::wstring w = AnsiToWide(std::string(ansi, len));
  const size_t n = std::min(w.size(), WideSize - 1);
  std::copy(w.begin(), w.begin() + static_cast<std::ptrdiff_t>(n), wide);
  wide[n] = 0;
}

}  // namespace

BOOL WideSetWindowText(HWND window, const wchar_t* text) {
  if (IsUnicodePlatform) return SetWindowTextW(window, text);
  return SetWindowTextA(window, text ? WideToAnsi(text).c_str() : nullptr);
}

DWORD WideGetFullPathName(const wchar_t* fileName, DWORD bufferChars, wchar_t* buffer, wchar_t** filePart) {
  if (IsUnicodePlatform) return GetFullPathNameW(fileName, bufferChars, buffer, filePart);
  const std::string ansiName = WideToAnsi(fileName ? fileName : L"");
  std::vector<char> ansi(kAnsiPathBufferBytes);
  char* ansiPart = nullptr;
  DWORD n = GetFullPathNameA(ansiName.c_str(), static_cast<DWORD>(ansi.size()), ansi.data(), &ansiPart);
  if (n >= ansi.size()) {
    // The path did not fit: n is the size needed. Ask once more rather than read past the buffer.
    ansi.resize(n);
    n = GetFullPathNameA(ansiName.c_str(), static_cast<DWORD>(ansi.size()), ansi.data(), &ansiPart);
    if (n >= ansi.size()) n = 0;
  }
  if (n == 0) {
    if (filePart) *filePart = nullptr;
    return 0;
  }
  const DWORD result = StorePathLengthResult(AnsiToWide(std::string(ansi.data(), n)), bufferChars, buffer);
  if (filePart) {
    if (ansiPart && bufferChars >= result) {
      const std::string beforePart(ansi.data(), static_cast<size_t>(ansiPart - ansi.data()));
      *filePart = buffer + AnsiToWide(beforePart).size();
    } else {
      *filePart = nullptr;
    }
  }
  return result;
}

HANDLE WideCreateFile(const wchar_t* fileName, DWORD access, DWORD shareMode, SECURITY_ATTRIBUTES* security,
                      DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile) {
  if (IsUnicodePlatform)
    return CreateFileW(fileName, access, shareMode, security, creationDisposition, flagsAndAttributes, templateFile);
  return CreateFileA(WideToAnsi(fileName ? fileName : L"").c_str(), access, shareMode, security,
                     creationDisposition, flagsAndAttributes, templateFile);
}

HANDLE WideFindFirstFile(const wchar_t* fileName, WIN32_FIND_DATAW* findData) {
  if (IsUnicodePlatform) return FindFirstFileW(fileName, findData);
  WIN32_FIND_DATAA ansi = {};
  HANDLE h = FindFirstFileA(WideToAnsi(fileName ? fileName : L"").c_str(), &ansi);
  if (h != INVALID_HANDLE_VALUE && findData) ConvertFindDataToWide(ansi, *findData);
  return h;
}

DWORD WideGetFileAttributes(const wchar_t* fileName) {
  if (IsUnicodePlatform) return GetFileAttributesW(fileName);
  return GetFileAttributesA(WideToAnsi(fileName ? fileName : L"").c_str());
}

BOOL WideDeleteFile(const wchar_t* fileName) {
  if (IsUnicodePlatform) return DeleteFileW(fileName);
  return DeleteFileA(WideToAnsi(fileName ? fileName : L"").c_str());
}

int WideDrawText(HDC dc, const wchar_t* text, int count, RECT* rect, UINT format) {
  if (IsUnicodePlatform) return DrawTextW(dc, text, count, rect, format);
  // The copy has room for what DT_MODIFYSTRING may write; the modified text stays in the copy.
  std::string ansi = WideToAnsi(WideStringFromBuffer(text, count));
  std::vector<char> buffer(ansi.size() + 1 + kDrawTextModifyRoom, '\0');
  std::memcpy(buffer.data(), ansi.data(), ansi.size());
  return DrawTextA(dc, buffer.data(), -1, rect, format);
}

wchar_t* WideCharUpper(wchar_t* textOrChar) {
  if (IsUnicodePlatform) return CharUpperW(textOrChar);
  if (IsIntResourceName(textOrChar)) {
    const wchar_t c = static_cast<wchar_t>(reinterpret_cast<uintptr_t>(textOrChar) & 0xFFFF);
    return reinterpret_cast<wchar_t*>(static_cast<uintptr_t>(UpperCharAnsiRoad(c)));
  }
  for (wchar_t* p = textOrChar; *p; ++p) *p = UpperCharAnsiRoad(*p);
  return textOrChar;
}

DWORD WideCharUpperBuff(wchar_t* buffer, DWORD length) {
  if (IsUnicodePlatform) return CharUpperBuffW(buffer, length);
  for (DWORD i = 0; i < length; ++i) buffer[i] = UpperCharAnsiRoad(buffer[i]);
  return length;
}

BOOL WideGetStringTypeEx(LCID locale, DWORD infoType, const wchar_t* text, int count, WORD* charTypes) {
  if (IsUnicodePlatform) return GetStringTypeExW(locale, infoType, text, count, charTypes);
  // A character may take two bytes in the ANSI code page, so the A call yields one type word per
  // byte: collect them in a buffer of our own and give each wide character the type of its first
  // byte, instead of letting the A call write more words than the caller's array holds.
  // A zero-terminated text also gets the terminator's type word, as on the W road.
  std::wstring wide = WideStringFromBuffer(text, count);
  if (count < 0) wide.push_back(L'\0');
  std::string ansi;
  std::vector<size_t> firstByte(wide.size());
  for (size_t i = 0; i < wide.size(); ++i) {
    firstByte[i] = ansi.size();
    std::string one = WideToAnsi(std::wstring(1, wide[i]));
    ansi += one.empty() ? std::string(1, '?') : one;
  }
  std::vector<WORD> types(ansi.size() + 1);
  if (!GetStringTypeExA(locale, infoType, ansi.c_str(), static_cast<int>(ansi.size()), types.data())) return FALSE;
  for (size_t i = 0; i < wide.size(); ++i) charTypes[i] = types[firstByte[i]];
  return TRUE;
}

int WideLoadString(HINSTANCE module, UINT id, wchar_t* buffer, int bufferChars) {
  if (IsUnicodePlatform) return LoadStringW(module, id, buffer, bufferChars);
  return WideLoadStringFromTable(module, id, buffer, bufferChars);
}

bool IsIntResourceName(const void* name) { return (reinterpret_cast<uintptr_t>(name) >> 16) == 0; }

std::wstring WideStringFromBuffer(const wchar_t* buffer, int count) {
  if (!buffer) return std::wstring();
  if (count < 0) return std::wstring(buffer);
  int n = 0;
  while (n < count && buffer[n]) ++n;
  return std::wstring(buffer, static_cast<size_t>(n));
}

void ConvertFindDataToWide(const WIN32_FIND_DATAA& ansi, WIN32_FIND_DATAW& wide) {
  wide.dwFileAttributes = ansi.dwFileAttributes;
  wide.ftCreationTime = ansi.ftCreationTime;
  wide.ftLastAccessTime = ansi.ftLastAccessTime;
  wide.ftLastWriteTime = ansi.ftLastWriteTime;
  wide.nFileSizeHigh = ansi.nFileSizeHigh;
  wide.nFileSizeLow = ansi.nFileSizeLow;
  wide.dwReserved0 = ansi.dwReserved0;
  wide.dwReserved1 = ansi.dwReserved1;
  WidenNameArray(ansi.cFileName, wide.cFileName);
  WidenNameArray(ansi.cAlternateFileName, wide.cAlternateFileName);
}

DWORD StorePathLengthResult(const std::wstring& path, DWORD bufferChars, wchar_t* buffer) {
  const DWORD len = static_cast<DWORD>(path.size());
  if (bufferChars > len) {
    std::copy(path.begin(), path.end(), buffer);
    buffer[len] = 0;
    return len;
  }
  if (bufferChars != 0 && buffer) buffer[0] = 0;
  return len + 1;
}

int WideLoadStringFromTable(HINSTANCE module, UINT id, wchar_t* buffer, int bufferChars) {
  if ((id & 0xFFFF0000u) == 0xFFFF0000u) id = 0u - id;
  const UINT block = ((id >> 4) & 0xFFFF) + 1;
  const UINT entry = id & (kStringsPerBlock - 1);
  // Block 0x10000 cannot be named by an integer identifier: as a pointer it would be dereferenced.
  if (block > 0xFFFF) return 0;
  HRSRC res = FindResourceA(module, MAKEINTRESOURCEA(block), MAKEINTRESOURCEA(kStringTableType));
  if (!res) return 0;
  HGLOBAL loaded = LoadResource(module, res);
  if (!loaded) return 0;
  const unsigned char* data = static_cast<const unsigned char*>(LockResource(loaded));
  if (!data) return 0;
  // Every count is checked against the block's size, so a damaged table cannot make us read past it.
  const uint64_t size = SizeofResource(module, res);
  uint64_t pos = 0;
  for (UINT i = 0; i < entry; ++i) {
    if (pos + 2 > size) return 0;
    pos += 2 + 2 * uint64_t(ReadU16LE(data + pos));
  }
  if (pos + 2 > size) return 0;
  const int count = ReadU16LE(data + pos);
  pos += 2;
  if (pos + 2 * uint64_t(count) > size) return 0;
  if (!buffer || bufferChars <= 0) return count;
  const int n = std::min(bufferChars - 1, count);
  for (int i = 0; i < n; ++i) buffer[i] = static_cast<wchar_t>(ReadU16LE(data + pos + 2 * uint64_t(i)));
  buffer[n] = 0;
  return n;
}
