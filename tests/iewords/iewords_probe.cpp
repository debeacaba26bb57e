// Prints the thread locale's language identifier, then the msSystem word of every slot as hex UTF-16
// code units, one line each (plain ASCII, so nothing depends on the console's code page).
#include <windows.h>

#include <cstdio>

#include "iewords.h"
#include "vodevovur.h"

int main() {
  IELibraryStaticInit();
  std::printf("%04x\n", unsigned(LANGIDFROMLCID(GetThreadLocale())));
  for (int slot = 0; slot < kIEWordCount; ++slot) {
    for (wchar_t c : IEGetLocalizedWord(uint8_t(slot), msSystem)) std::printf("%04x", unsigned(c));
    std::printf("\n");
  }
  IELibraryStaticFini();
  return 0;
}
