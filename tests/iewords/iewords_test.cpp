// The word table: what start-up stores, the lookup's fallbacks, the rows msSystem picks under real
// process locales, and that every word survives its row's code page.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "hostenv.h"
#include "ieutils.h"
#include "iewords.h"
#include "vodevovur.h"

namespace {

class WordTable : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { IELibraryStaticInit(); }
  static void TearDownTestSuite() { IELibraryStaticFini(); }
};

TMsgLanguage Lang(int i) { return TMsgLanguage(i); }

TEST_F(WordTable, StartUpFillsEveryRowButPolishSlot123) {
  int stored = 0;
  for (int lang = msEnglish; lang <= msHungarian; ++lang)
    for (int slot = 0; slot < kIEWordCount; ++slot) {
      const bool hole = lang == msPolish && slot == 123;
      EXPECT_EQ(IEStoredWord(Lang(lang), uint8_t(slot)).empty(), hole) << "language " << lang << " slot " << slot;
      stored += !IEStoredWord(Lang(lang), uint8_t(slot)).empty();
    }
  EXPECT_EQ(stored, 3065);
  for (int slot = 0; slot < kIEWordCount; ++slot) {
    EXPECT_TRUE(IEStoredWord(msSystem, uint8_t(slot)).empty());
    EXPECT_TRUE(IEStoredWord(msUser, uint8_t(slot)).empty());
  }
  // A second start-up cycle leaves the same table.
  IELibraryStaticFini();
  IELibraryStaticInit();
  EXPECT_EQ(IEGetLocalizedWord(0, msGerman), L"Vorschau");
}

TEST_F(WordTable, EnglishWordsAndPolishFallback) {
  EXPECT_EQ(IEGetLocalizedWord(11, msEnglish), L"Value");
  EXPECT_EQ(IEGetLocalizedWord(103, msEnglish), L"Value");
  EXPECT_EQ(IEGetLocalizedWord(0, msEnglish), L"Preview");
  EXPECT_EQ(IEGetLocalizedWord(145, msEnglish), L"Fit");
  EXPECT_EQ(IEGetLocalizedWord(123, msPolish), L"Rate");
  EXPECT_EQ(IEGetLocalizedWord(122, msPolish), L"Jednostki");
}

TEST_F(WordTable, UserRowFallsBackSlotBySlot) {
  for (int slot = 0; slot < kIEWordCount; ++slot)
    EXPECT_EQ(IEGetLocalizedWord(uint8_t(slot), msUser), IEGetLocalizedWord(uint8_t(slot), msEnglish)) << slot;
  IESetLocalizedWord(msUser, 3, "Go");
  EXPECT_EQ(IEGetLocalizedWord(3, msUser), L"Go");
  EXPECT_EQ(IEGetLocalizedWord(4, msUser), L"Cancel");
  IESetLocalizedWord(msUser, 3, "");
  EXPECT_EQ(IEGetLocalizedWord(3, msUser), L"OK");
}

TEST_F(WordTable, SlotsOutsideTheTable) {
  EXPECT_THROW(IESetLocalizedWord(msUser, 146, "x"), EIEError);
  EXPECT_THROW(IESetLocalizedWord(TMsgLanguage(23), 0, "x"), EIEError);
  EXPECT_EQ(IEGetLocalizedWord(146, msUser), L"");
  EXPECT_EQ(IEGetLocalizedWord(255, msEnglish), L"");
  EXPECT_EQ(IEGetLocalizedWord(0, TMsgLanguage(200)), L"");
}

TEST_F(WordTable, StoringEnglishChangesTheFallbackOfEveryLanguage) {
  const std::string saved = IEStoredWord(msEnglish, 123);
  IESetLocalizedWord(msEnglish, 123, "Ratio");
  EXPECT_EQ(IEGetLocalizedWord(123, msPolish), L"Ratio");
  EXPECT_EQ(IEGetLocalizedWord(123, msUser), L"Ratio");
  EXPECT_EQ(IEGetLocalizedWord(123, msGerman), L"Rate");  // German's own word, unaffected
  IESetLocalizedWord(msEnglish, 123, saved);
}

// The words come back through their row's code page whatever the process's ANSI code page is.
TEST_F(WordTable, WordsKeepTheirScript) {
  struct Case {
    TMsgLanguage language;
    uint8_t slot;
    const wchar_t* word;
  };
  const Case kCases[] = {
      {msRussian, 4, L"\u041E\u0442\u043C\u0435\u043D\u0430"},                 // Отмена
      {msGreek, 4, L"\u0386\u03BA\u03C5\u03C1\u03BF"},                          // Άκυρο
      {msPolish, 0, L"Podgl\u0105d"},
      {msCzech, 0, L"N\u00E1hled"},
      {msHungarian, 0, L"El\u0151n\u00E9zet"},
      {msTurkish, 4, L"\u0130ptal"},
      {msFarsi, 4, L"\u0627\u0646\u0635\u0631\u0627\u0641"},                   // انصراف
      {msJapanese, 4, L"\u30AD\u30E3\u30F3\u30BB\u30EB"},                       // キャンセル
      {msChinese, 0, L"\u9884\u89C8"},                                          // 预览
      {msChineseTraditional, 0, L"\u9810\u89BD"},                               // 預覽
      {msKorean, 4, L"\uCDE8\uC18C"},                                           // 취소
      {msGerman, 120, L"\u00DCbernehmen"},
  };
  for (const Case& c : kCases) EXPECT_EQ(IEGetLocalizedWord(c.slot, c.language), c.word) << int(c.language);
}

TEST_F(WordTable, RussianIsCyrillicUnderCodePage1252) {
  if (GetACP() != 1252) GTEST_SKIP() << "ANSI code page is " << GetACP();
  const std::string& stored = IEStoredWord(msRussian, 0);
  wchar_t viaAnsi[64] = {};
  MultiByteToWideChar(CP_ACP, 0, stored.data(), int(stored.size()), viaAnsi, 63);
  EXPECT_NE(std::wstring(viaAnsi), L"\u041F\u0440\u043E\u0441\u043C\u043E\u0442\u0440");  // the system's reading
  EXPECT_EQ(IEGetLocalizedWord(0, msRussian), L"\u041F\u0440\u043E\u0441\u043C\u043E\u0442\u0440");  // Просмотр
}

// Each stored word is exactly what its wide word gives in the row's code page, with no character
// replaced along the way (start-up turns an unencodable character into '?').
TEST_F(WordTable, NoWordLosesACharacterToItsCodePage) {
  for (int lang = msEnglish; lang <= msHungarian; ++lang) {
    const unsigned cp = IEWordCodePage(Lang(lang));
    for (int slot = 0; slot < kIEWordCount; ++slot) {
      const std::string& stored = IEStoredWord(Lang(lang), uint8_t(slot));
      if (stored.empty()) continue;
      const std::wstring word = IEGetLocalizedWord(uint8_t(slot), Lang(lang));
      EXPECT_EQ(word.find(L'?'), std::wstring::npos) << "language " << lang << " slot " << slot;
      BOOL usedDefault = FALSE;
      char back[512] = {};
      const int n = WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, word.data(), int(word.size()), back,
                                        sizeof back, nullptr, &usedDefault);
      EXPECT_FALSE(usedDefault) << "language " << lang << " slot " << slot;
      EXPECT_EQ(std::string(back, size_t(n > 0 ? n : 0)), stored) << "language " << lang << " slot " << slot;
    }
  }
}

TEST(WordTableRows, LanguageIdentifiersPickRows) {
  struct Case {
    unsigned primary, sub;
    TMsgLanguage row;
  };
  const Case kCases[] = {
      {4, 1, msChineseTraditional}, {4, 2, msChinese}, {4, 3, msChineseTraditional}, {4, 4, msChinese},
      {4, 5, msChineseTraditional}, {5, 1, msCzech},   {7, 1, msGerman},             {7, 3, msGerman},
      {9, 1, msEnglish},            {9, 2, msEnglish}, {21, 1, msPolish},            {25, 1, msRussian},
      {41, 1, msFarsi},             {17, 1, msJapanese}, {18, 1, msKorean},          {31, 1, msTurkish},
      {1, 1, msEnglish},            {13, 1, msEnglish}, {0, 0, msEnglish},           {0x3FF, 0x3F, msEnglish},
  };
  for (const Case& c : kCases)
    EXPECT_EQ(IEWordRowForLangId(uint16_t(MAKELANGID(c.primary, c.sub))), c.row) << c.primary << "/" << c.sub;
}

std::string HexWord(const std::wstring& w) {
  std::string s;
  char buf[8];
  for (wchar_t c : w) {
    std::snprintf(buf, sizeof buf, "%04x", unsigned(c));
    s += buf;
  }
  return s;
}

// msSystem in processes started under other locales: the probe prints its language identifier and
// every msSystem word; they must be the words of the row the locale selects (English where that row
// has no word, which is Polish slot 123).
TEST_F(WordTable, SystemRowFollowsTheProcessLocale) {
  if (!tq::UnderWine()) GTEST_SKIP() << "needs the host to start processes under a chosen locale";
  const char* binary = std::getenv("TQ_BINARY_DIR");
  ASSERT_NE(binary, nullptr);
  const std::string wine = sizeof(void*) == 8 ? "/usr/lib/wine/wine64" : "wine";
  struct Case {
    const char* locale;
    unsigned langId;
    TMsgLanguage row;
  };
  const Case kCases[] = {
      {"pl_PL.UTF-8", 0x0415, msPolish},  {"de_DE.UTF-8", 0x0407, msGerman},
      {"zh_TW.UTF-8", 0x0404, msChineseTraditional}, {"zh_CN.UTF-8", 0x0804, msChinese},
      {"zh_HK.UTF-8", 0x0C04, msChineseTraditional}, {"zh_SG.UTF-8", 0x1004, msChinese},
      {"zh_MO.UTF-8", 0x1404, msChineseTraditional},
      {"ar_SA.UTF-8", 0x0401, msEnglish}, {"he_IL.UTF-8", 0x040D, msEnglish},
      {"ru_RU.UTF-8", 0x0419, msRussian},
  };
  for (const Case& c : kCases) {
    std::string out;
    const std::string cmd = std::string("LC_ALL=") + c.locale + " WINEPREFIX=" + tq::ShellQuote(std::string(binary) + "/wine") +
                            " WINEDEBUG=-all " + wine + " " + tq::ShellQuote(IEWORDS_PROBE);
    ASSERT_EQ(tq::RunHost(cmd, &out), 0) << c.locale << ": " << out;
    std::istringstream lines(out);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(std::strtoul(line.c_str(), nullptr, 16), c.langId) << c.locale;
    for (int slot = 0; slot < kIEWordCount; ++slot) {
      ASSERT_TRUE(std::getline(lines, line)) << c.locale << " slot " << slot;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      EXPECT_EQ(line, HexWord(IEGetLocalizedWord(uint8_t(slot), c.row))) << c.locale << " slot " << slot;
    }
  }
}

}  // namespace
