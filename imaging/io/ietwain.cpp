// The TWAIN tear-down and its debug log.
#include "ietwain.h"

#include <cstdio>

#include "ieutils.h"

std::string IETWainLogFileName;

namespace {
FILE* gLog = nullptr;  // open from one write to the next
}  // namespace

TIETWainParams::~TIETWainParams() {
  try {
    IETWainTeardown(Record);
  } catch (...) {
  }
}

void IETWainTeardown(TIETWainRecord& record) {
  if (record.ProxyWindow) {
    IETWainLogWrite("DestroyProxyWindow");
    if (IsWindow(record.ProxyWindow)) DestroyWindow(record.ProxyWindow);
    record.ProxyWindow = nullptr;
    IETWainLogWrite("  DestroyProxyWindow : destroyed");
  }
  if (record.LibraryHandle) {
    IETWainLogWrite("IETW_UnloadSourceManager");
    FreeLibrary(record.LibraryHandle);
    record.LibraryHandle = nullptr;
    record.EntryPoint = nullptr;
    IETWainLogWrite("  IETW_UnloadSourceManager : Unload OK");
  }
}

void IETWainLogClose() {
  if (gLog) fclose(gLog);
  gLog = nullptr;
}

void IETWainLogWrite(const std::string& message) {
  if (IETWainLogFileName.empty()) return;
  IETWainLogClose();
  gLog = fopen(IETWainLogFileName.c_str(), "ab");
  if (!gLog) throw EIEError("Cannot open the TWAIN log " + IETWainLogFileName);
  char date[64] = {}, time[64] = {};
  GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, date, sizeof date);
  GetTimeFormatA(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, time, sizeof time);
  const std::string line = std::string(date) + " " + time + " : " + message + "\r\n";
  if (fwrite(line.data(), 1, line.size(), gLog) != line.size() || fflush(gLog) != 0)
    throw EIEError("Cannot write the TWAIN log " + IETWainLogFileName);
}
