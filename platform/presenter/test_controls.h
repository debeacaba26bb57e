// Controls that tests set in the server's own registry key (HKCU\Software\Tevarnic\PresenterStandIn),
// read afresh at every call so a running server follows changes:
//   Journal        REG_SZ    file that receives one line per call, with argument types and values
//   FailOpen       REG_DWORD non-zero: every Presentations.Open fails
//   FailExportAt   REG_DWORD n: Slide.Export of slide n fails
//   ExportDelayMs  REG_DWORD milliseconds to wait in every Slide.Export
#pragma once
#include <windows.h>

#include <string>

namespace presenter {

extern const wchar_t kTestControlsKey[];

DWORD TestControl(const wchar_t* name, DWORD fallback = 0);
// Appends one line (UTF-8, prefixed with the process id) to the journal file, if one is set.
void Journal(const std::wstring& line);

}  // namespace presenter
