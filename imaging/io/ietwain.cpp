// The TWAIN tear-down and its debug log.
#include "ietwain.h"

#include "ieutils.h"

std::string IETWainLogFileName;

namespace {
TIELogFile& TWainLog() {
  static TIELogFile log;
  return log;
}
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

void IETWainLogClose() { TWainLog().Close(); }

void IETWainLogWrite(const std::string& message) {
  if (IETWainLogFileName.empty()) return;
  TWainLog().Write(IETWainLogFileName, message);
}
