// Code pages, UTF-7, UTF-8 and resource strings. The codecs are checked against the host's Python
// codecs as well as against tables.
#include <windows.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "VelSysUtils.h"
#include "VelSystem.h"
#include "hostenv.h"
#include "road.h"

namespace {

std::string Hex(const std::string& bytes) {
  std::string out;
  char b[3];
  for (unsigned char c : bytes) {
    std::snprintf(b, sizeof b, "%02x", c);
    out += b;
  }
  return out;
}

std::string Utf16LE(const std::wstring& s) {
  std::string out;
  for (wchar_t c : s) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>((c >> 8) & 0xFF));
  }
  return out;
}

// Runs a Python snippet on the host with the work folder as current folder; returns its output.
std::string HostPython(const std::string& code) {
  std::string out;
  EXPECT_EQ(tq::RunHost("/usr/bin/python3 -c " + tq::ShellQuote(code), &out), 0) << out;
  return out;
}

const wchar_t kSample[] =
    L"Hi Mom -\u263A-! A+B ~\\ tab\there\r\n\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC "
    L"\u4E2D\u6587 x\U0001F600y+-+ end.";

}  // namespace

TEST(VelSystem, DefaultAnsiCodePageIsTheThreadCodePageOnNt) {
  // Wine reports NT 6 or later.
  EXPECT_EQ(DefaultAnsiCodePage, static_cast<UINT>(CP_THREAD_ACP));
}

TEST(VelSystem, LocaleAnsiCodePage) {
  EXPECT_EQ(LocaleAnsiCodePage(MAKELCID(0x0408, SORT_DEFAULT)), 1253u);  // Greek
  EXPECT_EQ(LocaleAnsiCodePage(MAKELCID(0x0419, SORT_DEFAULT)), 1251u);  // Russian
  EXPECT_EQ(LocaleAnsiCodePage(MAKELCID(0x0411, SORT_DEFAULT)), 932u);   // Japanese
  // A locale the system does not know gives no number: the system ANSI code page.
  EXPECT_EQ(LocaleAnsiCodePage(0x7F7F), GetACP());
}

TEST(VelSystem, KeyCharToWide) {
  EXPECT_EQ(KeyCharToWide(0x263A), L'\u263A');
  EXPECT_EQ(KeyCharToWide(0x100), L'\u0100');
  EXPECT_EQ(KeyCharToWide('A'), L'A');
  // Bytes below 256 are read in the keyboard's code page.
  const UINT keyboard = KeyboardCodePage();
  if (keyboard == 1252) {
    EXPECT_EQ(KeyCharToWide(0xE9), L'\u00E9');
  } else if (keyboard == 1253) {
    EXPECT_EQ(KeyCharToWide(0xE1), L'\u03B1');
  }
}

// Representable means the character survives the round trip: a best-fit stand-in (alpha as "a" in
// the Western code page) does not count.
TEST(VelSystem, IsAnsiRepresentableFollowsTheLayersCodePage) {
  const UINT saved = DefaultAnsiCodePage;
  DefaultAnsiCodePage = 1253;
  EXPECT_TRUE(IsAnsiRepresentable(L'\u03B1'));
  EXPECT_TRUE(IsAnsiRepresentable(L'a'));
  EXPECT_FALSE(IsAnsiRepresentable(L'\u263A'));
  EXPECT_FALSE(IsAnsiRepresentable(L'\u00E9'));
  DefaultAnsiCodePage = 1252;
  EXPECT_TRUE(IsAnsiRepresentable(L'\u00E9'));
  EXPECT_FALSE(IsAnsiRepresentable(L'\u03B1'));
  DefaultAnsiCodePage = saved;
}

TEST(VelSystem, CodePageConversions) {
  const std::wstring greek = L"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC";
  // 'Ελληνικά'.encode('cp1253') on the host.
  const std::string cp1253 = "\xc5\xeb\xeb\xe7\xed\xe9\xea\xdc";
  EXPECT_EQ(WideToCodePage(greek, 1253), cp1253);
  EXPECT_EQ(CodePageToWide(cp1253, 1253), greek);
  // Characters the code page lacks (and has no best fit for) become its default character.
  EXPECT_EQ(WideToCodePage(L"a\u4E2Db", 1253), "a?b");
  EXPECT_EQ(WideToCodePage(L"", 1253), "");
  EXPECT_EQ(CodePageToWide("", 1253), L"");
  // Embedded zeros survive.
  EXPECT_EQ(CodePageToWide(std::string("a\0b", 3), 1252), std::wstring(L"a\0b", 3));
  // 65000 and 65001 reach the layer's own codecs.
  EXPECT_EQ(WideToCodePage(L"~A", 65000), "+AH4-A");
  EXPECT_EQ(CodePageToWide("+AH4-A", 65000), L"~A");
  EXPECT_EQ(WideToCodePage(L"\u263A", 65001), "\xe2\x98\xba");
  EXPECT_EQ(CodePageToWide("\xe2\x98\xba", 65001), L"\u263A");
}

TEST(VelSystem, SwapUtf16ByteOrder) {
  wchar_t text[] = {0x1234, 0x00FF, 0xFE00, 0, 0x1234};
  SwapUtf16ByteOrder(text);
  EXPECT_EQ(text[0], 0x3412);
  EXPECT_EQ(text[1], 0xFF00);
  EXPECT_EQ(text[2], 0x00FE);
  EXPECT_EQ(text[4], 0x1234);  // after the terminator: untouched
}

// ---- UTF-7 --------------------------------------------------------------------------------------

TEST(VelSystemUtf7, Encode) {
  struct Case {
    const wchar_t* wide;
    const char* utf7;
  };
  const Case kCases[] = {
      {L"", ""},
      {L"A+B", "A+-B"},
      {L"~", "+AH4"},            // no closing minus at the end of the input
      {L"~A", "+AH4-A"},         // a base64 character after the run needs the minus
      {L"~.", "+AH4."},          // a character outside the base64 alphabet does not
      {L"~-", "+AH4--"},         // nor does a minus sign, which needs one of its own
      {L"!\"#$%&*;<=>@[]^_`{|}", "!\"#$%&*;<=>@[]^_`{|}"},  // the optional direct set
      {L"a \t\r\nb", "a \t\r\nb"},
      {L"\\", "+AFw"},
      {L"~+", "+AH4AKw"},        // a plus sign inside a run is encoded like any other character
      {L"\u263A\u263A", "+JjomOg"},
      {L"Hi Mom -\u263A-!", "Hi Mom -+Jjo--!"},
      {L"\u65E5\u672C\u8A9E", "+ZeVnLIqe"},
  };
  for (const Case& c : kCases) EXPECT_EQ(WideToUtf7(c.wide), c.utf7) << "input #" << (&c - kCases);
}

TEST(VelSystemUtf7, Decode) {
  struct Case {
    const char* utf7;
    const wchar_t* wide;  // null: "Invalid UTF7"
  };
  const Case kCases[] = {
      {"", L""},
      {"+-", L"+"},
      {"A+-B", L"A+B"},
      {"+AH4-A", L"~A"},
      {"+AH4", L"~"},
      {"+AH4.", L"~."},
      {"+AH4--", L"~-"},
      {"+JjomOg", L"\u263A\u263A"},
      {"Hi Mom -+Jjo--!", L"Hi Mom -\u263A-!"},
      {"~\\", L"~\\"},         // bytes that should have been encoded are still taken as they are
      {"+", nullptr},          // a run that ends before it emits anything
      {"a+", nullptr},
      {"+ ", nullptr},
      {"+A-", nullptr},
      {"+AH5", nullptr},       // leftover bits that are not zero padding
      {"+AH5-", nullptr},
      {"+AH4-\x80", nullptr},  // a byte above 127 outside a run
      {"+AH\xC0", nullptr},    // and inside one
      {"caf\xE9", nullptr},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string("input ") + c.utf7);
    if (c.wide) {
      EXPECT_EQ(Utf7ToWide(c.utf7), c.wide);
    } else {
      try {
        Utf7ToWide(c.utf7);
        ADD_FAILURE() << "no error";
      } catch (const EVelGeneralError& e) {
        EXPECT_STREQ(e.what(), "Invalid UTF7");
      }
    }
  }
}

TEST(VelSystemUtf7, AgreesWithThePythonCodec) {
  const std::wstring sample = kSample;
  // Ours -> Python.
  const std::string ours = WideToUtf7(sample);
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("ours.utf7"), ours.data(), ours.size()));
  std::string out = HostPython("print(open('ours.utf7','rb').read().decode('utf-7').encode('utf-16-le').hex())");
  EXPECT_EQ(out, Hex(Utf16LE(sample)) + "\n");
  // Python -> ours.
  std::string pyHex = HostPython("import binascii; print(bytes.fromhex('" + Hex(Utf16LE(sample)) +
                                 "').decode('utf-16-le').encode('utf-7').hex())");
  ASSERT_GE(pyHex.size(), 2u);
  std::string py;
  for (size_t i = 0; i + 1 < pyHex.size(); i += 2) py.push_back(static_cast<char>(std::stoi(pyHex.substr(i, 2), nullptr, 16)));
  EXPECT_EQ(Utf7ToWide(py), sample) << py;
}

// ---- UTF-8 --------------------------------------------------------------------------------------

TEST(VelSystemUtf8, RoundTripAndPythonAgreeOnValidText) {
  const std::wstring sample = kSample;
  const std::string utf8 = WideToUtf8(sample);
  EXPECT_EQ(Utf8ToWide(utf8), sample);
  std::string out = HostPython("print(bytes.fromhex('" + Hex(Utf16LE(sample)) + "').decode('utf-16-le').encode('utf-8').hex())");
  EXPECT_EQ(out, Hex(utf8) + "\n");
}

TEST(VelSystemUtf8, UnpairedSurrogatesEncodeAsReplacement) {
  EXPECT_EQ(WideToUtf8(std::wstring(1, wchar_t(0xD800)) + L"a"), "\xEF\xBF\xBD" "a");
  EXPECT_EQ(WideToUtf8(std::wstring(1, wchar_t(0xDC00))), "\xEF\xBF\xBD");
}

// Malformed input decodes like the host's Python decoder with errors='replace' (one U+FFFD per
// maximal ill-formed subpart).
TEST(VelSystemUtf8, MalformedInputMatchesPython) {
  const std::vector<std::string> kCases = {
      "\x80",              "a\xC0\xAF" "b",   "\xE0\x80\x80",     "\xED\xA0\x80",  // surrogate
      "\xF0\x9F\x98",      "\xF0\x9F\x98" "A", "\xF4\x90\x80\x80", "\xF5",
      "\xC2",              "\xE2\x98",        "\xFF\xFE",         "\xE2\x98\xBA\x80",
  };
  std::string hexList;
  for (const std::string& c : kCases) hexList += (hexList.empty() ? "" : ",") + std::string("'") + Hex(c) + "'";
  std::string out = HostPython("for h in [" + hexList +
                               "]: print(bytes.fromhex(h).decode('utf-8','replace').encode('utf-16-le').hex())");
  std::istringstream lines(out);
  for (const std::string& c : kCases) {
    std::string expected;
    ASSERT_TRUE(std::getline(lines, expected));
    EXPECT_EQ(Hex(Utf16LE(Utf8ToWide(c))), expected) << "input " << Hex(c);
  }
  EXPECT_EQ(Utf8ToWide("\xE0\x80\x80"), L"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98" "A"), L"\uFFFD" L"A");
}

// ---- Resource strings ---------------------------------------------------------------------------

INSTANTIATE_TEST_SUITE_P(Roads, BothRoads, ::testing::Bool(), RoadName);

TEST_P(BothRoads, WideLoadResStringFromTheStringTable) {
  const ResStringRef ref = {GetModuleHandleW(nullptr), 101};
  EXPECT_EQ(WideLoadResString(&ref), L"Smile \u263A \u0395\u03BB");
  const ResStringRef missing = {GetModuleHandleW(nullptr), 99};
  EXPECT_EQ(WideLoadResString(&missing), L"");
}

TEST(VelSystem, WideLoadResStringFromText) {
  EXPECT_EQ(WideLoadResString(nullptr), L"");
  static const char kMarked[] = "\xEF\xBB\xBF" "\xE2\x98\xBA ok";
  ResStringRef ref = {nullptr, reinterpret_cast<uintptr_t>(kMarked)};
  EXPECT_EQ(WideLoadResString(&ref), L"\u263A ok");
  // Exactly the mark and nothing after it: the three bytes are widened, not decoded.
  static const char kMarkOnly[] = "\xEF\xBB\xBF";
  ref.Identifier = reinterpret_cast<uintptr_t>(kMarkOnly);
  EXPECT_EQ(WideLoadResString(&ref), AnsiToWide(kMarkOnly));
  EXPECT_EQ(WideLoadResString(&ref).size(), 3u);
  static const char kPlain[] = "plain";
  ref.Identifier = reinterpret_cast<uintptr_t>(kPlain);
  EXPECT_EQ(WideLoadResString(&ref), L"plain");
}

// Random text of every kind of character survives both codecs, and random bytes never break the
// decoders: they either decode or (UTF-7) raise the layer's error.
TEST(VelSystem, CodecsRoundTripAndSurviveRandomBytes) {
  uint32_t seed = 12345;
  auto next = [&seed]() { return seed = seed * 1664525u + 1013904223u; };
  for (int round = 0; round < 500; ++round) {
    std::wstring text;
    const int len = static_cast<int>(next() % 24);
    for (int i = 0; i < len; ++i) {
      const uint32_t kind = next() % 4;
      wchar_t c = kind == 0 ? wchar_t(next() % 128) : kind == 1 ? wchar_t(0x80 + next() % 0x780)
                                                    : wchar_t(0x800 + next() % 0xD000);
      if (kind == 3) {  // a surrogate pair
        text += wchar_t(0xD800 + next() % 0x400);
        c = wchar_t(0xDC00 + next() % 0x400);
      }
      text += c;
    }
    ASSERT_EQ(Utf7ToWide(WideToUtf7(text)), text) << round;
    ASSERT_EQ(Utf8ToWide(WideToUtf8(text)), text) << round;

    std::string bytes;
    // Half the rounds draw from the bytes that drive the UTF-7 decoder's states.
    static const char kUtf7Bytes[] = "+-AQgw09/. ~";
    for (int i = 0; i < len; ++i)
      bytes.push_back(round % 2 ? kUtf7Bytes[next() % (sizeof kUtf7Bytes - 1)] : static_cast<char>(next() & 0xFF));
    EXPECT_LE(Utf8ToWide(bytes).size(), bytes.size());
    try {
      EXPECT_LE(Utf7ToWide(bytes).size(), bytes.size());
    } catch (const EVelGeneralError&) {
    }
  }
}
