// Text, file-name, platform and encoding helpers of the image library: run-time-library-style string
// wrappers, file extensions and existence tests by 8-bit and wide name, unique temporary file names,
// URL classification, mouse-button, clipboard and scroll-bar calls (the flat scroll-bar functions when
// a view uses them), and the ASCII85, run-length and Base64 encoders of the PostScript/PDF writers and
// the image-to-source export.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

class TIEStream;

// ---- Text and numbers (8-bit strings; case changes touch ASCII letters only) ----
std::string IETrim(const std::string& s);  // removes characters <= ' ' at both ends
std::string IETrim(const std::string& s, const std::string& chars);  // removes those of `chars` at both ends
std::string IEUpperCase(const std::string& s);
std::string IELowerCase(const std::string& s);
std::string IEIntToStr(int64_t v);
int IEStrToIntDef(const std::string& s, int def);  // decimal or $hex / 0x hex; def when not a number
std::string IEIntToHex(int64_t v, int digits);      // upper-case, at least `digits` digits
std::string IECopy(const std::string& s, int from, int count);  // 1-based
int IEPos(const std::string& sub, const std::string& s);        // 1-based, 0 when absent
char* IEStrNew(const char* p);  // copy in a new[] block; nullptr for nullptr (free with delete[])
std::string IEFloatToStrDot(double v);  // 15 significant digits, always with '.' as the separator
void IEFloatToStrDotVar(double v, std::string& out);
// The run-time library's float formats: general (the shorter of plain and scientific), scientific,
// fixed decimals, fixed with thousands separators, and the locale's currency form.
enum TIEFloatFormat { ieffGeneral, ieffExponent, ieffFixed, ieffNumber, ieffCurrency };
// `value` rounded to `precision` significant digits (2..18; a double holds 17) and written in
// `format` with the locale's separators: `digits` is the number of decimals for fixed, number and
// currency, and the minimum number of exponent digits (0..4) for general and scientific. Fixed and
// number forms of a value with more integer digits than `precision` are written as general.
std::string IEFloatToStrF(double value, TIEFloatFormat format, int precision, int digits);
int IELogFontToStyleBits(const LOGFONTA* font);  // 1 bold (>= 700), 2 italic, 4 underline, 8 strike-out
bool IESameGUID(const void* a, const void* b);  // 16 bytes equal

// ---- Files and URLs ----
// When set, IEFileExists uses the run-time library's rule (a find of the name) instead of the attributes.
// The input/output module owns the switch; it is false after that module's start-up.
extern bool IEUseRTLFileExists;
std::string IEGetFileExt(const std::string& name, bool withDot);  // lower case; "" when none
std::wstring IEGetFileExtW(const std::wstring& name, bool withDot);
bool IEFileExists(const std::string& name);    // an existing file, not a folder
bool IEFileExistsW(const std::wstring& name);  // W call on the NT family, A with the code page otherwise
// folder + prefix + "-" + 8 hex digits + ".tmp", drawn again while such a file exists.
void IEUniqueTempFileName(const std::string& prefix, const std::string& folder, std::string& name);
int IEGetURLType(const std::wstring& text);  // 1 http://, 2 https://, 3 ftp://, else 0 (any case)

// ---- Platform user interface ----
bool IEIsPrimaryButtonDown();  // honours swapped mouse buttons
bool IEOpenClipboardRetry();   // up to 10 attempts 20 ms apart
void IESetScrollInfo(HWND wnd, int bar, int min, int max, int page, int position, bool redraw, bool flat);
int IESetScrollRange(HWND wnd, int bar, int min, int max, bool redraw, bool flat);  // returns -1
void IESetScrollPos(HWND wnd, int bar, int position, bool redraw, bool flat);
void IEEnableScrollBar(HWND wnd, int bar, UINT arrows, bool flat);
void IEShowScrollBar(HWND wnd, int bar, bool show, bool flat);

// ---- Encoders ----
// ASCII85 of `count` bytes from `source` into `dest`; both pointers advance. Lines break with CR LF
// when longer than 74 characters; the data ends with "~>" CR LF. Returns every byte written; `total`
// grows by the characters of the groups only.
int IEASCII85Encode(const uint8_t*& source, int count, char*& dest, int& total);
constexpr int IEASCII85EncodeBound(int count) {
  return (count / 4 * 5 + 5) + 2 * ((count / 4 * 5 + 5) / 75 + 1) + 4;  // groups, line breaks, "~>" CR LF
}
// PostScript RunLengthDecode format, ending with 128. Returns the output length.
int IERunLengthEncode(const uint8_t* source, int length, uint8_t* dest);
constexpr int IERunLengthEncodeBound(int length) { return length + length / 2 + 2; }
// Base64 of the rest of the stream, lines of lineLength / 4 groups, each line ended by CR LF.
void IEBase64EncodeStream(TIEStream& stream, std::string& text, int lineLength);
