// Code pages, the UTF-7 and UTF-8 codecs and resource strings of the Unicode layer.
#include "VelSystem.h"

#include <cstring>

#include "VelSysUtils.h"
#include "VelWindows.h"

namespace {

constexpr UINT kCodePageUtf7 = 65000;
constexpr UINT kCodePageUtf8 = 65001;
// A string-table resource holds at most 4096 characters when read through WideLoadResString.
constexpr int kResStringBufferChars = 4097;
constexpr wchar_t kReplacementChar = 0xFFFD;

// Zero before any dynamic initializer runs, so the counter works whatever the initialization order.
int velSystemModuleCount;
UINT velSystemSavedCodePage;

UINT ChooseDefaultAnsiCodePage() {
  OSVERSIONINFOW info = {};
  info.dwOSVersionInfoSize = sizeof(info);
  if (GetVersionExW(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion > 4)
    return CP_THREAD_ACP;
  return LocaleAnsiCodePage(GetThreadLocale());
}

// ---- UTF-7 character classes ----------------------------------------------------------------

const char kUtf7Direct[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789'(),-./:?";
const char kUtf7OptionalDirect[] = "!\"#$%&*;<=>@[]^_`{|}";
const char kUtf7WhiteSpace[] = "\t\r\n ";
const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

struct Utf7Tables {
  bool mustEncode[128];
  signed char base64Value[256];
  Utf7Tables() {
    for (bool& m : mustEncode) m = true;
    for (const char* set : {kUtf7Direct, kUtf7OptionalDirect, kUtf7WhiteSpace})
      for (const char* c = set; *c; ++c) mustEncode[static_cast<unsigned char>(*c)] = false;
    for (signed char& v : base64Value) v = -1;
    for (int i = 0; i < 64; ++i) base64Value[static_cast<unsigned char>(kBase64[i])] = static_cast<signed char>(i);
  }
};

const Utf7Tables& Utf7() {
  static const Utf7Tables tables;
  return tables;
}

bool IsBase64Char(wchar_t c) { return c < 128 && Utf7().base64Value[c] >= 0; }

std::wstring MultiByteToWide(const std::string& s, UINT codePage, DWORD flags) {
  if (s.empty()) return std::wstring();
  int n = MultiByteToWideChar(codePage, flags, s.data(), static_cast<int>(s.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring out(static_cast<size_t>(n), L'\0');
  n = MultiByteToWideChar(codePage, flags, s.data(), static_cast<int>(s.size()), &out[0], n);
  out.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return out;
}

std::string WideToMultiByte(const std::wstring& s, UINT codePage) {
  if (s.empty()) return std::string();
  int n = WideCharToMultiByte(codePage, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  n = WideCharToMultiByte(codePage, 0, s.data(), static_cast<int>(s.size()), &out[0], n, nullptr, nullptr);
  out.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return out;
}

void AppendCodePoint(std::wstring& out, uint32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out.push_back(static_cast<wchar_t>(cp));
  }
}

}  // namespace

UINT DefaultAnsiCodePage;

VelSystemModule::VelSystemModule() {
  if (velSystemModuleCount++ == 0) {
    velSystemSavedCodePage = DefaultAnsiCodePage;
    DefaultAnsiCodePage = ChooseDefaultAnsiCodePage();
  }
}

VelSystemModule::~VelSystemModule() {
  if (--velSystemModuleCount == 0) DefaultAnsiCodePage = velSystemSavedCodePage;
}

UINT LocaleAnsiCodePage(LCID locale) {
  // Zeroed so that a failing call leaves an empty text, which is no number.
  char text[7] = {};
  GetLocaleInfoA(locale, LOCALE_IDEFAULTANSICODEPAGE, text, 6);
  UINT value = 0;
  bool digits = false;
  for (char c : text) {
    if (c == '\0') break;
    if (c < '0' || c > '9') return GetACP();
    value = value * 10 + static_cast<UINT>(c - '0');
    digits = true;
  }
  return digits ? value : GetACP();
}

UINT KeyboardCodePage() {
  HKL layout = GetKeyboardLayout(0);
  return LocaleAnsiCodePage(static_cast<LCID>(reinterpret_cast<uintptr_t>(layout) & 0xFFFF));
}

wchar_t KeyCharToWide(unsigned code) {
  if (code >= 256) return static_cast<wchar_t>(code);
  char byte = static_cast<char>(code);
  wchar_t wide = 0;
  if (MultiByteToWideChar(KeyboardCodePage(), MB_USEGLYPHCHARS, &byte, 1, &wide, 1) != 1)
    return static_cast<wchar_t>(code);
  return wide;
}

std::wstring CodePageToWide(const std::string& s, UINT codePage) {
  if (codePage == kCodePageUtf7) return Utf7ToWide(s);
  if (codePage == kCodePageUtf8) return Utf8ToWide(s);
  return MultiByteToWide(s, codePage, 0);
}

std::string WideToCodePage(const std::wstring& s, UINT codePage) {
  if (codePage == kCodePageUtf7) return WideToUtf7(s);
  if (codePage == kCodePageUtf8) return WideToUtf8(s);
  return WideToMultiByte(s, codePage);
}

std::string WideToAnsi(const std::wstring& s) { return WideToMultiByte(s, CP_ACP); }
std::wstring AnsiToWide(const std::string& s) { return MultiByteToWide(s, CP_ACP, 0); }

void SwapUtf16ByteOrder(wchar_t* buffer) {
  if (!buffer) return;
  for (wchar_t* p = buffer; *p; ++p) *p = static_cast<wchar_t>(((*p & 0xFF) << 8) | ((*p >> 8) & 0xFF));
}

// ---- UTF-8 ----------------------------------------------------------------------------------

std::string WideToUtf8(const std::wstring& s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t cp = s[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = kReplacementChar;  // a surrogate without its partner has no UTF-8 form
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

std::wstring Utf8ToWide(const std::string& s) {
  std::wstring out;
  out.reserve(s.size());
  const size_t n = s.size();
  size_t i = 0;
  while (i < n) {
    const unsigned char lead = static_cast<unsigned char>(s[i]);
    if (lead < 0x80) {
      out.push_back(lead);
      ++i;
      continue;
    }
    // The ranges of the standard's table of well-formed sequences: the second byte's range depends
    // on the lead byte (no overlong forms, no surrogates, nothing above U+10FFFF).
    int trail;
    uint32_t cp;
    unsigned char lo = 0x80, hi = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      trail = 1, cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      trail = 2, cp = lead & 0x0F;
      if (lead == 0xE0) lo = 0xA0;
      if (lead == 0xED) hi = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      trail = 3, cp = lead & 0x07;
      if (lead == 0xF0) lo = 0x90;
      if (lead == 0xF4) hi = 0x8F;
    } else {
      out.push_back(kReplacementChar);
      ++i;
      continue;
    }
    size_t j = i + 1;
    int got = 0;
    while (got < trail && j < n) {
      const unsigned char c = static_cast<unsigned char>(s[j]);
      if (c < lo || c > hi) break;
      cp = (cp << 6) | (c & 0x3F);
      lo = 0x80, hi = 0xBF;
      ++got, ++j;
    }
    if (got < trail)
      out.push_back(kReplacementChar);  // the maximal ill-formed subpart s[i, j) becomes one U+FFFD
    else
      AppendCodePoint(out, cp);
    i = j;
  }
  return out;
}

// ---- UTF-7 ----------------------------------------------------------------------------------

std::string WideToUtf7(const std::wstring& s) {
  const Utf7Tables& t = Utf7();
  std::string out;
  out.reserve(s.size() * 3);
  bool inRun = false;
  uint32_t bits = 0;  // pending bits, right-aligned
  int bitCount = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    const wchar_t c = s[i];
    const bool direct = c < 128 && !t.mustEncode[c];
    if (direct) {
      if (inRun) {
        if (bitCount > 0) {
          out.push_back(kBase64[(bits << (6 - bitCount)) & 0x3F]);
          bits = 0, bitCount = 0;
        }
        inRun = false;
        // Only a character that a reader would take as part of the run needs the closing "-".
        if (IsBase64Char(c) || c == L'-') out.push_back('-');
      }
      out.push_back(static_cast<char>(c));
      continue;
    }
    if (!inRun) {
      if (c == L'+') {
        out += "+-";
        continue;
      }
      out.push_back('+');
      inRun = true;
    }
    bits = (bits << 16) | c;
    bitCount += 16;
    while (bitCount >= 6) {
      bitCount -= 6;
      out.push_back(kBase64[(bits >> bitCount) & 0x3F]);
    }
    bits &= (1u << bitCount) - 1;
  }
  if (inRun && bitCount > 0) out.push_back(kBase64[(bits << (6 - bitCount)) & 0x3F]);
  return out;
}

std::wstring Utf7ToWide(const std::string& s) {
  const Utf7Tables& t = Utf7();
  std::wstring out;
  out.reserve(s.size());
  bool invalid = false;
  bool inRun = false, firstByte = false, emitted = false;
  uint32_t bits = 0;
  int bitCount = 0;
  // Closes a run; the leftover bits (fewer than 16) must be zero padding.
  auto endRun = [&]() {
    if (bitCount > 0 && (bits & ((1u << bitCount) - 1)) != 0) invalid = true;
    bits = 0, bitCount = 0;
    inRun = false;
  };
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char b = static_cast<unsigned char>(s[i]);
    if (inRun) {
      const int v = t.base64Value[b];
      if (v >= 0) {
        bits = (bits << 6) | static_cast<uint32_t>(v);
        bitCount += 6;
        firstByte = false;
        if (bitCount >= 16) {
          bitCount -= 16;
          out.push_back(static_cast<wchar_t>((bits >> bitCount) & 0xFFFF));
          bits &= (1u << bitCount) - 1;
          emitted = true;
        }
        continue;
      }
      if (b == '-') {
        if (firstByte)
          out.push_back(L'+');  // "+-" is the plus sign itself
        else if (!emitted)
          invalid = true;
        endRun();
        continue;
      }
      if (!emitted) invalid = true;
      endRun();
      // The byte that ended the run is an ordinary byte: fall through.
    }
    if (b == '+') {
      inRun = true, firstByte = true, emitted = false;
      continue;
    }
    if (b > 127) invalid = true;
    out.push_back(static_cast<wchar_t>(b));
  }
  if (inRun) {
    if (!emitted) invalid = true;
    endRun();
  }
  if (invalid) throw EVelGeneralError("Invalid UTF7");
  return out;
}

// ---- Resource strings -----------------------------------------------------------------------

std::wstring WideLoadResString(const ResStringRef* ref) {
  if (!ref) return std::wstring();
  if (ref->Identifier < 0x10000) {
    std::wstring buffer(kResStringBufferChars, L'\0');
    int n = WideLoadString(ref->Module, static_cast<UINT>(ref->Identifier), &buffer[0], kResStringBufferChars);
    buffer.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return buffer;
  }
  const char* text = reinterpret_cast<const char*>(ref->Identifier);
  const size_t len = std::strlen(text);
  if (len > 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0) return Utf8ToWide(std::string(text + 3, len - 3));
  return AnsiToWide(std::string(text, len));
}
