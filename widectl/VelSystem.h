// Code pages of the Unicode layer and the conversions between wide (UTF-16) strings and 8-bit text:
// any Windows code page, the layer's own UTF-7 codec (65000) and UTF-8 (65001), and resource strings
// loaded as wide text.
//
// The layer keeps all text as std::wstring (UTF-16 on Windows, copied on assignment) and 8-bit text
// as std::string.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

// The code page the layer converts with where it does not use the system ANSI code page: the ANSI
// view of a wide string list without a code page of its own, and IsAnsiRepresentable. Set once at
// start-up (CP_THREAD_ACP on NT 5 and later, else the thread locale's ANSI code page).
extern UINT DefaultAnsiCodePage;

// ANSI code page of a locale, read from its LOCALE_IDEFAULTANSICODEPAGE; GetACP() when the locale
// gives no number.
UINT LocaleAnsiCodePage(LCID locale);
// ANSI code page of the current keyboard layout's language.
UINT KeyboardCodePage();
// A character code from a key message as a wide character: codes below 256 are one byte of the
// keyboard's code page, larger codes are already wide. A byte the code page cannot convert is
// returned unchanged.
wchar_t KeyCharToWide(unsigned code);

// 8-bit text in `codePage` to wide; 65000 and 65001 use the layer's UTF-7 and UTF-8 codecs.
std::wstring CodePageToWide(const std::string& s, UINT codePage);
// Wide text to `codePage`; unmappable characters become the code page's default character.
std::string WideToCodePage(const std::wstring& s, UINT codePage);

// The run-time library's default conversions: wide to the system ANSI code page (unmappable
// characters become its default character) and back.
std::string WideToAnsi(const std::wstring& s);
std::wstring AnsiToWide(const std::string& s);

// Exchanges the two bytes of every character before the terminating zero.
void SwapUtf16ByteOrder(wchar_t* buffer);

// UTF-8. Unpaired surrogates are encoded as U+FFFD; every malformed or overlong sequence and every
// encoded surrogate decodes to one U+FFFD per maximal ill-formed subpart (the Unicode standard's
// recommended practice), so decoding never fails.
std::string WideToUtf8(const std::wstring& s);
std::wstring Utf8ToWide(const std::string& s);

// UTF-7 as the layer writes and reads it (optional direct characters written directly, a run closed
// with "-" only where a reader needs it). Utf7ToWide raises EVelGeneralError "Invalid UTF7" for
// malformed input, after decoding all of it.
std::string WideToUtf7(const std::wstring& s);
std::wstring Utf7ToWide(const std::string& s);

// A reference to a resource string: either a string-table identifier (below 65536) in Module, or the
// address of a zero-terminated 8-bit text (UTF-8 when it starts with the byte-order mark EF BB BF).
struct ResStringRef {
  HMODULE Module;
  uintptr_t Identifier;
};
// The referenced string as wide text (at most 4096 characters from a string table); a null
// reference gives an empty string.
std::wstring WideLoadResString(const ResStringRef* ref);

// Start-up and shut-down of this module run once per process, before any file that includes this
// header runs its own static initializers (a counter shared by those files).
struct VelSystemModule {
  VelSystemModule();
  ~VelSystemModule();
};
static VelSystemModule velSystemModuleInstance;
