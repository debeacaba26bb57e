// The languages of the image library's dialogs: both non-visual components carry one.
#pragma once
#include <cstdint>

// The language of a dialog. msSystem follows the running system's locale; msUser is the application's.
enum TMsgLanguage : uint8_t {
  msSystem,
  msEnglish,
  msItalian,
  msGerman,
  msSpanish,
  msFrench,
  msPortuguese,
  msGreek,
  msRussian,
  msDutch,
  msSwedish,
  msPolish,
  msJapanese,
  msCzech,
  msFinnish,
  msFarsi,
  msChinese,
  msChineseTraditional,
  msDanish,
  msTurkish,
  msKorean,
  msHungarian,
  msUser,
};
constexpr int kIEMsgLanguageCount = 23;
