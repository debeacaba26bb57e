// The word table's store, its lookup and its start-up filler.
//
// The words are kept in the source as UTF-8 (iewords.inc, one line per slot, one column per language)
// so that every row can be read and edited in one place; start-up converts each word once into its
// row's code page, which is the form the table stores. Lookups convert back through the same code
// page, so a row reads correctly whatever the system's ANSI code page is.
#include "iewords.h"

#include <windows.h>

#include <vector>

#include "ieutils.h"
#include "vodevovur.h"

namespace {

constexpr int kFilledRows = msHungarian - msEnglish + 1;  // the rows the library fills itself

// Polish has no word for this slot; its lookups fall back to the English one.
constexpr int kPolishEmptySlot = 123;

// The words, UTF-8, [slot][language - msEnglish].
#include "iewords.inc"

// The word table, row after row: entry language x kIEWordCount + word index; empty: no word.
std::string IEWordTable[kIEMsgLanguageCount * kIEWordCount];

// Language identifier of the thread locale, recorded when the table is filled; 0 until then.
uint16_t g_systemLangId = 0;

std::wstring ToWide(const std::string& text, unsigned codePage) {
  if (text.empty()) return std::wstring();
  int n = MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring w(size_t(n), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), &w[0], n);
  return w;
}

// No best-fit mapping: a character the code page lacks becomes '?' instead of a look-alike, so a
// faulty word shows up (the tests look for it) rather than being silently altered.
std::string FromWide(const std::wstring& text, unsigned codePage) {
  if (text.empty()) return std::string();
  const DWORD flags = WC_NO_BEST_FIT_CHARS;
  int n = WideCharToMultiByte(codePage, flags, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string s(size_t(n), '\0');
  WideCharToMultiByte(codePage, flags, text.data(), int(text.size()), &s[0], n, nullptr, nullptr);
  return s;
}

bool InTable(TMsgLanguage language, uint8_t index) {
  return language < kIEMsgLanguageCount && index < kIEWordCount;
}

const std::string& Entry(TMsgLanguage language, uint8_t index) {
  static const std::string kNoWord;
  return InTable(language, index) ? IEWordTable[size_t(language) * kIEWordCount + index] : kNoWord;
}

}  // namespace

void IESetLocalizedWord(TMsgLanguage language, uint8_t index, const std::string& text) {
  // A slot outside the table would overwrite whatever lies after it.
  if (!InTable(language, index)) throw EIEError("IESetLocalizedWord: no such word slot");
  IEWordTable[size_t(language) * kIEWordCount + index] = text;
}

const std::string& IEStoredWord(TMsgLanguage language, uint8_t index) { return Entry(language, index); }

unsigned IEWordCodePage(TMsgLanguage language) {
  switch (language) {
    case msPolish:
    case msCzech:
    case msHungarian:
      return 1250;
    case msRussian:
      return 1251;
    case msGreek:
      return 1253;
    case msTurkish:
      return 1254;
    case msFarsi:
      return 1256;
    case msJapanese:
      return 932;
    case msChinese:
    case msChineseTraditional:
      return 936;  // the traditional row too: GBK holds the traditional characters
    case msKorean:
      return 949;
    case msSystem:
    case msUser:
      return CP_ACP;  // the application's own words come in the system's code page
    default:
      return 1252;
  }
}

TMsgLanguage IEWordRowForLangId(uint16_t langId) {
  const unsigned primary = langId & 0x3FF, sub = langId >> 10;
  switch (primary) {
    case 4:
      // Taiwan, Hong Kong and Macao write traditional characters; the PRC and Singapore simplified.
      return (sub == 1 || sub == 3 || sub == 5) ? msChineseTraditional : msChinese;
    case 5: return msCzech;
    case 6: return msDanish;
    case 7: return msGerman;
    case 8: return msGreek;
    case 10: return msSpanish;
    case 11: return msFinnish;
    case 12: return msFrench;
    case 14: return msHungarian;
    case 16: return msItalian;
    case 17: return msJapanese;
    case 18: return msKorean;
    case 19: return msDutch;
    case 21: return msPolish;
    case 22: return msPortuguese;
    case 25: return msRussian;
    case 29: return msSwedish;
    case 31: return msTurkish;
    case 41: return msFarsi;
    default: return msEnglish;
  }
}

std::wstring IEGetLocalizedWord(uint8_t index, TMsgLanguage language) {
  if (!InTable(language, index)) return std::wstring();
  if (language == msSystem) {
    // Before start-up has recorded the locale the platform default stands, as with no locale at all.
    const uint16_t langId = g_systemLangId ? g_systemLangId : MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    language = IEWordRowForLangId(langId);
  }
  std::wstring word = ToWide(Entry(language, index), IEWordCodePage(language));
  if (word.empty() && language != msEnglish) word = ToWide(Entry(msEnglish, index), IEWordCodePage(msEnglish));
  return word;
}

void IEInitWordTable() {
  const uint16_t langId = LANGIDFROMLCID(GetThreadLocale());
  g_systemLangId = langId ? langId : MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
  for (int row = 0; row < kFilledRows; ++row) {
    const TMsgLanguage language = TMsgLanguage(msEnglish + row);
    const unsigned codePage = IEWordCodePage(language);
    for (int slot = 0; slot < kIEWordCount; ++slot) {
      if (language == msPolish && slot == kPolishEmptySlot) continue;
      IESetLocalizedWord(language, uint8_t(slot), FromWide(ToWide(kWordsUtf8[slot][row], CP_UTF8), codePage));
    }
  }
}

namespace {
// Plugs the filler into the library's shared start-up.
struct WordTableRegistrar {
  WordTableRegistrar() { IERegisterWordTableInit(IEInitWordTable); }
} g_registrar;
}  // namespace
