// Wide wrappers around system entry points. Each takes wide (UTF-16) arguments; on the Unicode
// platform (IsUnicodePlatform, VelSysUtils.h) it calls the W entry point unchanged, otherwise it
// converts to the system ANSI code page, calls the A entry point and converts what comes back.
// Failures are reported exactly as the system call reports them; nothing here throws.
#pragma once
#include <windows.h>

#include <string>

BOOL WideSetWindowText(HWND window, const wchar_t* text);
// Off the Unicode platform the result is the wide length (not the ANSI length), and the file part
// points into `buffer` at the wide position of the ANSI file part.
DWORD WideGetFullPathName(const wchar_t* fileName, DWORD bufferChars, wchar_t* buffer, wchar_t** filePart);
HANDLE WideCreateFile(const wchar_t* fileName, DWORD access, DWORD shareMode, SECURITY_ATTRIBUTES* security,
                      DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
HANDLE WideFindFirstFile(const wchar_t* fileName, WIN32_FIND_DATAW* findData);
DWORD WideGetFileAttributes(const wchar_t* fileName);
BOOL WideDeleteFile(const wchar_t* fileName);
// count -1: zero-terminated text.
int WideDrawText(HDC dc, const wchar_t* text, int count, RECT* rect, UINT format);
// Upper-cases a zero-terminated string in place (returns it) or, when the high word of the pointer
// value is 0, one character held in the low word (returns it upper-cased as a pointer value).
wchar_t* WideCharUpper(wchar_t* textOrChar);
DWORD WideCharUpperBuff(wchar_t* buffer, DWORD length);
// count -1: zero-terminated text. `charTypes` receives one type word per wide character.
BOOL WideGetStringTypeEx(LCID locale, DWORD infoType, const wchar_t* text, int count, WORD* charTypes);
int WideLoadString(HINSTANCE module, UINT id, wchar_t* buffer, int bufferChars);

// True when the pointer value is an integer resource identifier (below 65536).
bool IsIntResourceName(const void* name);

// The first `count` characters of `buffer` (fewer when it ends earlier); -1: up to the terminator.
std::wstring WideStringFromBuffer(const wchar_t* buffer, int count);
// Copies the fixed fields and widens both names of an ANSI find record.
void ConvertFindDataToWide(const WIN32_FIND_DATAA& ansi, WIN32_FIND_DATAW& wide);
// Stores `path` in a caller's buffer with the GetFullPathName convention: its length when it fits
// with its terminator, else the size needed (and an empty string in a non-empty buffer).
DWORD StorePathLengthResult(const std::wstring& path, DWORD bufferChars, wchar_t* buffer);
// Reads a string from the RT_STRING table of `module` without LoadStringW (which the 9x family
// lacks). Returns the characters copied, or the string's length when `buffer` is null or
// `bufferChars` is 0 or less; 0 when the string is missing.
int WideLoadStringFromTable(HINSTANCE module, UINT id, wchar_t* buffer, int bufferChars);
