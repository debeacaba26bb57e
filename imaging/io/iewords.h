// The library's word table: the words of its dialogs in 21 languages plus a row the application fills.
//
// 23 rows of 146 slots, each entry an 8-bit string in its row's Windows code page (empty = no word).
// The rows msEnglish..msHungarian are filled once by the library's shared start-up; msUser starts empty.
// The table has no lock: it is written at start-up (and by the application before it opens a dialog)
// and read afterwards from the user-interface thread.
#pragma once
#include <cstdint>
#include <string>

#include "iemsglanguage.h"

constexpr int kIEWordCount = 146;

// Stores text (8-bit, in the row's code page; see IEWordCodePage) at (language, index), replacing what
// was there. Any row may be written. A slot outside the table (index above 145, language above msUser)
// raises EIEError.
void IESetLocalizedWord(TMsgLanguage language, uint8_t index, const std::string& text);

// The word of a slot as wide text, converted through its row's code page. An empty entry gives the
// English word of the same slot, for every language including msSystem and msUser. A slot outside the
// table gives an empty word.
std::wstring IEGetLocalizedWord(uint8_t index, TMsgLanguage language);

// Fills the rows msEnglish..msHungarian (every slot but Polish 123) and records the thread locale that
// msSystem follows. Run by the library's shared start-up.
void IEInitWordTable();

// The entry exactly as stored (8-bit, no fallback); empty when nothing was stored.
const std::string& IEStoredWord(TMsgLanguage language, uint8_t index);

// Windows code page of a row's entries; msSystem and msUser use the process's ANSI code page (CP_ACP).
unsigned IEWordCodePage(TMsgLanguage language);

// The row msSystem reads under a language identifier (primary language in the low 10 bits).
TMsgLanguage IEWordRowForLangId(uint16_t langId);
