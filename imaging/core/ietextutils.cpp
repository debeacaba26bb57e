#include "ietextutils.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>

#include "iestreams.h"
#include "vodevovur.h"

bool IEUseRTLFileExists = false;

namespace {

constexpr int kClipboardAttempts = 10;
constexpr DWORD kClipboardRetryMs = 20;
constexpr int kASCII85LineMax = 74;

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }
char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; }

bool StartsWithNoCase(const std::string& s, const char* prefix) {
  size_t n = std::strlen(prefix);
  if (s.size() < n) return false;
  for (size_t i = 0; i < n; ++i)
    if (AsciiLower(s[i]) != prefix[i]) return false;
  return true;
}

// The flat scroll-bar functions of the common controls, looked up once (absent: the plain ones serve).
struct FlatSB {
  BOOL(WINAPI* setInfo)(HWND, int, LPSCROLLINFO, BOOL) = nullptr;
  BOOL(WINAPI* enable)(HWND, int, UINT) = nullptr;
  BOOL(WINAPI* show)(HWND, int, BOOL) = nullptr;
};

const FlatSB& FlatScrollBars() {
  static const FlatSB fsb = [] {
    FlatSB f;
    HMODULE cc = LoadLibraryA("comctl32.dll");  // kept for the process: the pointers stay in use
    if (cc) {
      f.setInfo = reinterpret_cast<decltype(f.setInfo)>(reinterpret_cast<void*>(GetProcAddress(cc, "FlatSB_SetScrollInfo")));
      f.enable = reinterpret_cast<decltype(f.enable)>(reinterpret_cast<void*>(GetProcAddress(cc, "FlatSB_EnableScrollBar")));
      f.show = reinterpret_cast<decltype(f.show)>(reinterpret_cast<void*>(GetProcAddress(cc, "FlatSB_ShowScrollBar")));
    }
    return f;
  }();
  return fsb;
}

void SetScroll(HWND wnd, int bar, SCROLLINFO& si, bool redraw, bool flat) {
  si.cbSize = sizeof(si);
  if (flat && FlatScrollBars().setInfo)
    FlatScrollBars().setInfo(wnd, bar, &si, redraw ? TRUE : FALSE);
  else
    SetScrollInfo(wnd, bar, &si, redraw ? TRUE : FALSE);
}

}  // namespace

// ---- Text and numbers ----

namespace {

template <typename Pred>
std::string TrimIf(const std::string& s, Pred trimmed) {
  size_t b = 0, e = s.size();
  while (b < e && trimmed(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && trimmed(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

}  // namespace

std::string IETrim(const std::string& s) {
  return TrimIf(s, [](unsigned char c) { return c <= ' '; });
}

std::string IETrim(const std::string& s, const std::string& chars) {
  return TrimIf(s, [&](unsigned char c) { return chars.find(char(c)) != std::string::npos; });
}

std::string IEUpperCase(const std::string& s) {
  std::string r = s;
  std::transform(r.begin(), r.end(), r.begin(), AsciiUpper);
  return r;
}

std::string IELowerCase(const std::string& s) {
  std::string r = s;
  std::transform(r.begin(), r.end(), r.begin(), AsciiLower);
  return r;
}

std::string IEIntToStr(int64_t v) { return std::to_string(v); }

int IEStrToIntDef(const std::string& s, int def) {
  std::string t = IETrim(s);
  if (t.empty()) return def;
  bool neg = false;
  size_t i = 0;
  if (t[0] == '-' || t[0] == '+') {
    neg = t[0] == '-';
    i = 1;
  }
  int base = 10;
  if (i < t.size() && t[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < t.size() && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= t.size()) return def;
  int64_t v = 0;
  for (; i < t.size(); ++i) {
    char c = AsciiLower(t[i]);
    int d = (c >= '0' && c <= '9') ? c - '0' : (base == 16 && c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
    if (d < 0) return def;
    v = v * base + d;
    if (v > int64_t(INT32_MAX) + 1) return def;
  }
  if (neg) v = -v;
  if (v > INT32_MAX || v < INT32_MIN) return def;
  return int(v);
}

std::string IEIntToHex(int64_t v, int digits) {
  char buf[32];
  std::snprintf(buf, sizeof(buf), "%0*llX", std::clamp(digits, 0, 16), static_cast<unsigned long long>(v));
  return buf;
}

std::string IECopy(const std::string& s, int from, int count) {
  if (from < 1) from = 1;
  if (count <= 0 || size_t(from) > s.size()) return std::string();
  return s.substr(size_t(from - 1), size_t(count));
}

int IEPos(const std::string& sub, const std::string& s) {
  if (sub.empty()) return 0;
  size_t p = s.find(sub);
  return p == std::string::npos ? 0 : int(p) + 1;
}

char* IEStrNew(const char* p) {
  if (!p) return nullptr;
  size_t n = std::strlen(p);
  char* r = new char[n + 1];
  std::memcpy(r, p, n + 1);
  return r;
}

void IEFloatToStrDotVar(double v, std::string& out) {
  char buf[64];
  std::snprintf(buf, sizeof(buf), "%.15g", v);
  out = buf;
  char sep[8] = {0};
  char localeSep = GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, sep, sizeof(sep)) > 1 ? sep[0] : '.';
  for (char& c : out)
    if (c == ',' || c == localeSep) c = '.';
}

std::string IEFloatToStrDot(double v) {
  std::string s;
  IEFloatToStrDotVar(v, s);
  return s;
}

namespace {

// The locale's character for a LOCALE_S* item, `def` when it has none.
char LocaleChar(LCTYPE item, char def) {
  char buf[8] = {0};
  return GetLocaleInfoA(LOCALE_USER_DEFAULT, item, buf, sizeof(buf)) > 1 ? buf[0] : def;
}

// The integer part's digits grouped by three with `sep` (no grouping when sep is 0).
std::string Grouped(const std::string& digits, char sep) {
  if (!sep) return digits;
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += sep;
    out += digits[i];
  }
  return out;
}

// |value| as `precision` significant digits d0 d1 ... and the decimal exponent of d0.
void SignificantDigits(double value, int precision, std::string& digits, int& exponent) {
  char buf[64];
  std::snprintf(buf, sizeof(buf), "%.*e", precision - 1, std::fabs(value));
  digits.clear();
  const char* p = buf;
  for (; *p && *p != 'e'; ++p)
    if (*p >= '0' && *p <= '9') digits += *p;
  exponent = *p == 'e' ? std::atoi(p + 1) : 0;
}

std::string ExponentText(int exponent, int minDigits, bool plus) {
  std::string e = std::to_string(std::abs(exponent));
  while (int(e.size()) < minDigits) e.insert(e.begin(), '0');
  return std::string("E") + (exponent < 0 ? "-" : plus ? "+" : "") + e;
}

}  // namespace

std::string IEFloatToStrF(double value, TIEFloatFormat format, int precision, int digits) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  precision = std::min(std::max(precision, 2), 18);
  const int prec = std::min(precision, 17);  // what a double holds
  const char dec = LocaleChar(LOCALE_SDECIMAL, '.');
  const bool neg = std::signbit(value) && value != 0;
  std::string d;
  int e = 0;
  SignificantDigits(value, prec, d, e);
  const bool zero = value == 0;
  if ((format == ieffFixed || format == ieffNumber) && !zero && e + 1 > precision) format = ieffGeneral;
  std::string out;
  switch (format) {
    case ieffExponent: {
      digits = std::min(std::max(digits, 0), 4);
      out = d.substr(0, 1);
      if (d.size() > 1) out += dec + d.substr(1);
      out += ExponentText(zero ? 0 : e, digits, true);
      break;
    }
    case ieffGeneral: {
      digits = std::min(std::max(digits, 0), 4);
      while (d.size() > 1 && d.back() == '0') d.pop_back();
      if (zero) return "0";
      if (e + 1 > precision || std::fabs(value) < 1e-5) {
        out = d.substr(0, 1);
        if (d.size() > 1) out += dec + d.substr(1);
        out += ExponentText(e, digits, false);
      } else if (e < 0) {
        out = std::string("0") + dec + std::string(size_t(-e - 1), '0') + d;
      } else {
        std::string ip = d.substr(0, std::min(d.size(), size_t(e + 1)));
        while (int(ip.size()) < e + 1) ip += '0';
        out = ip;
        if (d.size() > size_t(e + 1)) out += dec + d.substr(size_t(e + 1));
      }
      break;
    }
    default: {  // fixed, number, currency
      digits = std::min(std::max(digits, 0), 18);
      // the value as rounded to its significant digits, then to the decimals asked for
      const double rounded = zero ? 0 : std::strtod(("0." + d + "e" + std::to_string(e + 1)).c_str(), nullptr);
      char buf[400];
      std::snprintf(buf, sizeof(buf), "%.*f", digits, rounded);
      std::string text = buf;
      const size_t point = text.find('.');
      std::string ip = text.substr(0, point), fp = point == std::string::npos ? "" : text.substr(point + 1);
      const char thousands = format == ieffFixed ? 0 : LocaleChar(LOCALE_STHOUSAND, ',');
      out = Grouped(ip, thousands);
      if (!fp.empty()) out += dec + fp;
      if (format == ieffCurrency) {
        char sym[16] = {0};
        if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SCURRENCY, sym, sizeof(sym)) <= 0) sym[0] = 0;
        // LOCALE_ICURRENCY: 0 "$1", 1 "1$", 2 "$ 1", 3 "1 $"
        const int place = LocaleChar(LOCALE_ICURRENCY, '0') - '0';
        const std::string symbol = sym;
        out = place == 1 ? out + symbol : place == 2 ? symbol + " " + out : place == 3 ? out + " " + symbol
                                                                                         : symbol + out;
      }
      const bool allZero = out.find_first_of("123456789") == std::string::npos;
      return neg && !allZero ? "-" + out : out;
    }
  }
  return neg ? "-" + out : out;
}

int IELogFontToStyleBits(const LOGFONTA* font) {
  if (!font) return 0;
  int bits = 0;
  if (font->lfWeight >= FW_BOLD) bits |= 1;
  if (font->lfItalic) bits |= 2;
  if (font->lfUnderline) bits |= 4;
  if (font->lfStrikeOut) bits |= 8;
  return bits;
}

bool IESameGUID(const void* a, const void* b) { return std::memcmp(a, b, 16) == 0; }

// ---- Files and URLs ----

std::string IEGetFileExt(const std::string& name, bool withDot) {
  size_t p = name.find_last_of(".\\:");
  if (p == std::string::npos || name[p] != '.') return std::string();
  return IELowerCase(name.substr(withDot ? p : p + 1));
}

std::wstring IEGetFileExtW(const std::wstring& name, bool withDot) {
  return IEAnsiToWide(IEGetFileExt(IEWideToAnsi(name), withDot));
}

bool IEFileExists(const std::string& name) {
  if (IEUseRTLFileExists) {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(name.c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return false;
    FindClose(h);
    return (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  }
  DWORD a = GetFileAttributesA(name.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool IEFileExistsW(const std::wstring& name) {
  DWORD a = IEUseWideAPI ? GetFileAttributesW(name.c_str()) : GetFileAttributesA(IEWideToAnsi(name).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void IEUniqueTempFileName(const std::string& prefix, const std::string& folder, std::string& name) {
  // One generator for the process, seeded from the clock and the process id so that two processes
  // sharing a temporary folder draw different names; the lock serves the pixel buffers of several threads.
  static std::mutex lock;
  static std::mt19937 rng = [] {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return std::mt19937(uint32_t(t.QuadPart) ^ (GetCurrentProcessId() << 16));
  }();
  do {
    uint32_t r;
    {
      std::lock_guard<std::mutex> g(lock);
      r = rng() % 2147483647u;
    }
    name = folder + prefix + "-" + IEIntToHex(r, 8) + ".tmp";
  } while (IEFileExists(name));
}

int IEGetURLType(const std::wstring& text) {
  std::string s = IEWideToAnsi(text);
  if (StartsWithNoCase(s, "http://")) return 1;
  if (StartsWithNoCase(s, "https://")) return 2;
  if (StartsWithNoCase(s, "ftp://")) return 3;
  return 0;
}

// ---- Platform user interface ----

bool IEIsPrimaryButtonDown() {
  bool swapped = GetSystemMetrics(SM_SWAPBUTTON) != 0;
  if (!swapped && (GetAsyncKeyState(VK_LBUTTON) & 0x8000)) return true;
  return swapped && (GetAsyncKeyState(VK_RBUTTON) & 0x8000);
}

bool IEOpenClipboardRetry() {
  for (int i = 0; i < kClipboardAttempts; ++i) {
    if (OpenClipboard(nullptr)) return true;
    Sleep(kClipboardRetryMs);
  }
  return false;
}

void IESetScrollInfo(HWND wnd, int bar, int min, int max, int page, int position, bool redraw, bool flat) {
  SCROLLINFO si;
  std::memset(&si, 0, sizeof(si));
  si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
  si.nMin = min;
  si.nMax = max;
  si.nPage = UINT(page);
  si.nPos = position;
  SetScroll(wnd, bar, si, redraw, flat);
}

int IESetScrollRange(HWND wnd, int bar, int min, int max, bool redraw, bool flat) {
  SCROLLINFO si;
  std::memset(&si, 0, sizeof(si));
  si.fMask = SIF_RANGE;
  si.nMin = min;
  si.nMax = max;
  SetScroll(wnd, bar, si, redraw, flat);
  return -1;
}

void IESetScrollPos(HWND wnd, int bar, int position, bool redraw, bool flat) {
  SCROLLINFO si;
  std::memset(&si, 0, sizeof(si));
  si.fMask = SIF_POS;
  si.nPos = position;
  SetScroll(wnd, bar, si, redraw, flat);
}

void IEEnableScrollBar(HWND wnd, int bar, UINT arrows, bool flat) {
  if (flat && FlatScrollBars().enable)
    FlatScrollBars().enable(wnd, bar, arrows);
  else
    EnableScrollBar(wnd, UINT(bar), arrows);
}

void IEShowScrollBar(HWND wnd, int bar, bool show, bool flat) {
  if (flat && FlatScrollBars().show)
    FlatScrollBars().show(wnd, bar, show ? TRUE : FALSE);
  else
    ShowScrollBar(wnd, bar, show ? TRUE : FALSE);
}

// ---- Encoders ----

int IEASCII85Encode(const uint8_t*& source, int count, char*& dest, int& total) {
  static const uint32_t kDiv[5] = {52200625u, 614125u, 7225u, 85u, 1u};
  int written = 0, line = 0;
  while (count > 0) {
    int n = std::min(4, count);
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | (i < n ? source[i] : 0u);
    source += n;
    count -= n;
    int chars;
    if (n == 4 && v == 0) {
      *dest++ = 'z';
      chars = 1;
    } else {
      chars = n + 1;
      for (int i = 0; i < chars; ++i) *dest++ = char((v / kDiv[i]) % 85 + 33);
    }
    written += chars;
    total += chars;
    line += chars;
    if (line > kASCII85LineMax) {
      *dest++ = '\r';
      *dest++ = '\n';
      written += 2;
      line = 0;
    }
  }
  std::memcpy(dest, "~>\r\n", 4);
  dest += 4;
  return written + 4;
}

int IERunLengthEncode(const uint8_t* source, int length, uint8_t* dest) {
  int out = 0, j = 0;
  while (j < length) {
    int run = 1;
    while (j + run < length && run < 128 && source[j + run] == source[j]) ++run;
    if (run >= 2) {
      dest[out++] = uint8_t(257 - run);
      dest[out++] = source[j];
      j += run;
      continue;
    }
    // A literal stretch ends before the second byte of an equal pair; encoding goes on at that byte.
    int n = 1;
    while (j + n < length && n < 128 && source[j + n] != source[j + n - 1]) ++n;
    dest[out++] = uint8_t(n - 1);
    std::memcpy(dest + out, source + j, size_t(n));
    out += n;
    j += n;
  }
  dest[out++] = 128;
  return out;
}

void IEBase64EncodeStream(TIEStream& stream, std::string& text, int lineLength) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  int64_t size = stream.GetSize();
  int groupsPerLine = std::max(1, lineLength / 4);
  while (stream.GetPosition() < size) {
    int groups = 0;
    do {
      uint8_t b[3] = {0, 0, 0};
      int counted = 0;
      for (int i = 0; i < 3; ++i)
        if (stream.GetPosition() < size && stream.Read(&b[i], 1) == 1) ++counted;
      if (counted == 0) break;
      uint32_t v = (uint32_t(b[0]) << 16) | (uint32_t(b[1]) << 8) | b[2];
      text += kAlphabet[(v >> 18) & 63];
      text += kAlphabet[(v >> 12) & 63];
      text += counted >= 2 ? kAlphabet[(v >> 6) & 63] : '=';
      text += counted >= 3 ? kAlphabet[v & 63] : '=';
      ++groups;
    } while (groups < groupsPerLine && stream.GetPosition() < size);
    if (groups > 0) text += "\r\n";
  }
}
