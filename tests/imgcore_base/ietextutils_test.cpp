#include "ietextutils.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "hostenv.h"
#include "iestreams.h"

namespace {

std::vector<uint8_t> Noise(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = (rng() % 5 == 0) ? 0 : uint8_t(rng());
  return v;
}

std::string Ascii85(const std::vector<uint8_t>& data, int* result = nullptr, int* total = nullptr) {
  std::vector<char> out(size_t(IEASCII85EncodeBound(int(data.size()))));
  const uint8_t* src = data.data();
  char* dst = out.data();
  int t = 0;
  int n = IEASCII85Encode(src, int(data.size()), dst, t);
  EXPECT_EQ(dst - out.data(), n);
  EXPECT_EQ(src, data.data() + data.size());
  if (result) *result = n;
  if (total) *total = t;
  return std::string(out.data(), size_t(n));
}

}  // namespace

TEST(IETextUtils, Strings) {
  EXPECT_EQ(IETrim("  a b \t\r\n"), "a b");
  EXPECT_EQ(IEUpperCase("abc\xE9z"), "ABC\xE9Z");  // ASCII letters only
  EXPECT_EQ(IELowerCase("ABC"), "abc");
  EXPECT_EQ(IEIntToStr(-42), "-42");
  struct Case { const char* s; int v; } const kInts[] = {{"12", 12}, {" -7 ", -7}, {"$1F", 31}, {"0x10", 16}, {"1a", -1},
                                                        {"", -1}, {"99999999999", -1}, {"-2147483648", INT32_MIN}};
  for (const Case& c : kInts) EXPECT_EQ(IEStrToIntDef(c.s, -1), c.v) << c.s;
  EXPECT_EQ(IEIntToHex(255, 4), "00FF");
  EXPECT_EQ(IEIntToHex(0x7FFFFFFE, 8), "7FFFFFFE");
  EXPECT_EQ(IECopy("abcdef", 2, 3), "bcd");
  EXPECT_EQ(IECopy("abc", 3, 10), "c");
  EXPECT_EQ(IECopy("abc", 5, 1), "");
  EXPECT_EQ(IEPos("cd", "abcdef"), 3);
  EXPECT_EQ(IEPos("x", "abc"), 0);
  char* p = IEStrNew("hello");
  EXPECT_STREQ(p, "hello");
  delete[] p;
  EXPECT_EQ(IEStrNew(nullptr), nullptr);
  EXPECT_EQ(IEFloatToStrDot(1.5), "1.5");
  EXPECT_EQ(IEFloatToStrDot(-0.25), "-0.25");
  LOGFONTA lf = {};
  lf.lfWeight = 700;
  lf.lfUnderline = 1;
  EXPECT_EQ(IELogFontToStyleBits(&lf), 5);
  EXPECT_EQ(IELogFontToStyleBits(nullptr), 0);
  GUID a = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}}, b = a;
  EXPECT_TRUE(IESameGUID(&a, &b));
  b.Data4[7] = 0;
  EXPECT_FALSE(IESameGUID(&a, &b));
}

TEST(IETextUtils, FilesAndURLs) {
  EXPECT_EQ(IEGetFileExt("C:\\pics\\Photo.JPG", false), "jpg");
  EXPECT_EQ(IEGetFileExt("C:\\pics\\Photo.JPG", true), ".jpg");
  EXPECT_EQ(IEGetFileExt("C:\\pics.d\\noext", false), "");
  EXPECT_EQ(IEGetFileExtW(L"a.TIFF", true), L".tiff");
  EXPECT_EQ(IEGetURLType(L"HTTPS://example/x.png"), 2);
  EXPECT_EQ(IEGetURLType(L"http://x"), 1);
  EXPECT_EQ(IEGetURLType(L"Ftp://x"), 3);
  EXPECT_EQ(IEGetURLType(L"file://x"), 0);
  EXPECT_EQ(IEGetURLType(L"http:/x"), 0);

  const std::string dir = tq::WorkDir() + "\\";
  std::string name;
  IEUniqueTempFileName("iet", dir, name);
  ASSERT_EQ(name.size(), dir.size() + 3 + 1 + 8 + 4);
  EXPECT_EQ(name.substr(dir.size(), 4), "iet-");
  EXPECT_EQ(name.substr(name.size() - 4), ".tmp");
  EXPECT_FALSE(IEFileExists(name));
  ASSERT_TRUE(tq::WriteFileBytes(name, "x", 1));
  EXPECT_TRUE(IEFileExists(name));
  EXPECT_TRUE(IEFileExistsW(IEAnsiToWide(name)));
  IEUseRTLFileExists = true;
  EXPECT_TRUE(IEFileExists(name));
  IEUseRTLFileExists = false;
  EXPECT_FALSE(IEFileExists(tq::WorkDir()));  // a folder is not a file
  EXPECT_FALSE(IEFileExistsW(IEAnsiToWide(tq::WorkDir())));
  std::string other;
  IEUniqueTempFileName("iet", dir, other);
  EXPECT_NE(other, name);
  DeleteFileA(name.c_str());
}

TEST(IETextUtils, ClipboardRetryGivesUp) {
  // Another thread holds the clipboard open for the whole time: ten attempts, then false.
  HANDLE opened = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::thread holder([&] {
    HWND owner = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    OpenClipboard(owner);
    SetEvent(opened);
    WaitForSingleObject(release, INFINITE);
    CloseClipboard();
    DestroyWindow(owner);
  });
  WaitForSingleObject(opened, INFINITE);
  EXPECT_FALSE(IEOpenClipboardRetry());
  SetEvent(release);
  holder.join();
  EXPECT_TRUE(IEOpenClipboardRetry());
  CloseClipboard();
  CloseHandle(opened);
  CloseHandle(release);
}

TEST(IETextUtils, ScrollBarsPlainAndFlat) {
  HWND w = CreateWindowExA(0, "STATIC", "", WS_OVERLAPPEDWINDOW | WS_HSCROLL | WS_VSCROLL, 0, 0, 200, 200, nullptr,
                           nullptr, nullptr, nullptr);
  ASSERT_NE(w, nullptr);
  for (bool flat : {false, true}) {
    IESetScrollInfo(w, SB_HORZ, 0, 500, 50, 120, false, flat);
    IESetScrollPos(w, SB_HORZ, 130, false, flat);
    EXPECT_EQ(IESetScrollRange(w, SB_VERT, 0, 99, false, flat), -1);
    if (!flat) {  // the flat functions keep their own state when the window has flat bars
      SCROLLINFO si = {};
      si.cbSize = sizeof(si);
      si.fMask = SIF_ALL;
      ASSERT_TRUE(GetScrollInfo(w, SB_HORZ, &si));
      EXPECT_EQ(si.nMax, 500);
      EXPECT_EQ(si.nPage, 50u);
      EXPECT_EQ(si.nPos, 130);
    }
    IEShowScrollBar(w, SB_VERT, true, flat);
    IEEnableScrollBar(w, SB_HORZ, ESB_ENABLE_BOTH, flat);
  }
  DestroyWindow(w);
}

TEST(IETextUtils, Ascii85) {
  int result = 0, total = 0;
  EXPECT_EQ(Ascii85({0, 0, 0, 0}, &result, &total), "z~>\r\n");
  EXPECT_EQ(result, 5);
  EXPECT_EQ(total, 1);
  EXPECT_EQ(Ascii85({255}, &result, &total), "rr~>\r\n");
  EXPECT_EQ(total, 2);
  // Against the host's own encoder on a larger buffer (line breaks and terminator removed).
  const std::vector<uint8_t> data = Noise(1001, 3);
  std::string ours = Ascii85(data);
  ASSERT_EQ(ours.substr(ours.size() - 4), "~>\r\n");
  std::string body;
  size_t longest = 0, line = 0;
  for (char c : ours.substr(0, ours.size() - 4)) {
    if (c == '\r' || c == '\n') {
      longest = std::max(longest, line);
      line = 0;
      continue;
    }
    body += c;
    ++line;
  }
  EXPECT_LE(longest, 80u);
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("a85.bin"), data.data(), data.size()));
  std::string host;
  ASSERT_EQ(tq::RunHost("/usr/bin/python3 -c \"import base64,sys; sys.stdout.write(base64.a85encode(open('a85.bin','rb').read()).decode())\"", &host), 0);
  EXPECT_EQ(body, host);
}

TEST(IETextUtils, RunLength) {
  struct Case { std::vector<uint8_t> in, out; } const kCases[] = {
      {{5, 5, 5, 5, 5}, {0xFC, 5, 128}},
      {{1, 2, 3}, {2, 1, 2, 3, 128}},
      {{1, 2, 2}, {1, 1, 2, 0, 2, 128}},
      {{}, {128}},
      {{7}, {0, 7, 128}},
  };
  for (const Case& c : kCases) {
    std::vector<uint8_t> out(size_t(IERunLengthEncodeBound(int(c.in.size()))));
    int n = IERunLengthEncode(c.in.data(), int(c.in.size()), out.data());
    out.resize(size_t(n));
    EXPECT_EQ(out, c.out);
  }
  // Long runs and stretches are split at 128; decoding gives the input back.
  std::vector<uint8_t> in(300, 9);
  std::vector<uint8_t> noise = Noise(400, 8);
  in.insert(in.end(), noise.begin(), noise.end());
  std::vector<uint8_t> out(size_t(IERunLengthEncodeBound(int(in.size()))));
  out.resize(size_t(IERunLengthEncode(in.data(), int(in.size()), out.data())));
  std::vector<uint8_t> dec;
  for (size_t i = 0; i < out.size();) {
    uint8_t len = out[i++];
    if (len == 128) break;
    if (len < 128) {
      dec.insert(dec.end(), out.begin() + long(i), out.begin() + long(i) + len + 1);
      i += len + 1u;
    } else {
      dec.insert(dec.end(), size_t(257 - len), out[i++]);
    }
  }
  EXPECT_EQ(dec, in);
}

TEST(IETextUtils, Base64) {
  struct Case { std::vector<uint8_t> in; std::string out; } const kCases[] = {
      {{'M', 'a', 'n'}, "TWFu\r\n"}, {{'M'}, "TQ==\r\n"}, {{'M', 'a'}, "TWE=\r\n"}, {{}, ""}};
  for (const Case& c : kCases) {
    TIEMemStream s(c.in.data(), int64_t(c.in.size()));
    std::string text;
    IEBase64EncodeStream(s, text, 76);
    EXPECT_EQ(text, c.out);
  }
  // 3k + 1 bytes over several lines, against the host's encoder (76-character lines).
  const std::vector<uint8_t> data = Noise(3 * 100 + 1, 4);
  TIEMemStream s(data.data(), int64_t(data.size()));
  std::string text;
  IEBase64EncodeStream(s, text, 76);
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("b64.bin"), data.data(), data.size()));
  std::string host;
  ASSERT_EQ(tq::RunHost("/usr/bin/python3 -c \"import base64,sys; sys.stdout.write(base64.encodebytes(open('b64.bin','rb').read()).decode().replace(chr(10), chr(13)+chr(10)))\"", &host), 0);
  EXPECT_EQ(text, host);
  EXPECT_EQ(text.substr(text.size() - 4), "==\r\n");
}

// The run-time library's float formats, with the user locale's separators.
TEST(IETextUtils, FloatToStrF) {
  struct Case {
    double v;
    TIEFloatFormat f;
    int precision, digits;
    const char* expected;
  };
  const Case cases[] = {
      {1234.5678, ieffFixed, 15, 2, "1234.57"},
      {123.456, ieffFixed, 4, 2, "123.50"},  // four significant digits, then two decimals
      {-1.5, ieffFixed, 15, 1, "-1.5"},
      {-0.001, ieffFixed, 15, 1, "0.0"},
      {1e20, ieffFixed, 15, 2, "1E20"},  // more integer digits than the precision: general
      {1234567.891, ieffNumber, 15, 2, "1,234,567.89"},
      {0.5, ieffGeneral, 15, 0, "0.5"},
      {100, ieffGeneral, 15, 0, "100"},
      {1e20, ieffGeneral, 15, 0, "1E20"},
      {1.5e20, ieffGeneral, 4, 2, "1.5E20"},
      {0.00005, ieffGeneral, 15, 0, "0.00005"},
      {0.000001, ieffGeneral, 15, 0, "1E-6"},
      {1.0 / 3, ieffGeneral, 5, 0, "0.33333"},
      {0, ieffGeneral, 15, 0, "0"},
      {12345.678, ieffExponent, 4, 2, "1.235E+04"},
      {-0.00012, ieffExponent, 3, 0, "-1.20E-4"},
  };
  // The cases are written with '.' and ','; the user's locale may have others (a test that runs wine
  // under another language leaves its settings in the shared prefix).
  auto localeChar = [](LCTYPE type, char fallback) {
    char buf[8] = {};
    return GetLocaleInfoA(LOCALE_USER_DEFAULT, type, buf, sizeof buf) > 1 ? buf[0] : fallback;
  };
  const char dec = localeChar(LOCALE_SDECIMAL, '.'), thousand = localeChar(LOCALE_STHOUSAND, ',');
  auto local = [&](std::string text) {
    for (char& ch : text) ch = ch == '.' ? dec : ch == ',' ? thousand : ch;
    return text;
  };
  for (const Case& c : cases)
    EXPECT_EQ(IEFloatToStrF(c.v, c.f, c.precision, c.digits), local(c.expected))
        << c.v << " format " << int(c.f) << " " << c.precision << " " << c.digits;
  EXPECT_NE(IEFloatToStrF(1234.5, ieffCurrency, 15, 2).find(local("1,234.50")), std::string::npos);
}
