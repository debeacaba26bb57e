#include "test_controls.h"

#include <vector>

namespace presenter {

const wchar_t kTestControlsKey[] = L"Software\\Tevarnic\\PresenterStandIn";

namespace {

// A journal path longer than this is ignored.
constexpr DWORD kMaxJournalPathBytes = 4096;

std::wstring JournalPath() {
  std::vector<wchar_t> buf(kMaxJournalPathBytes / sizeof(wchar_t) + 1);
  DWORD bytes = kMaxJournalPathBytes;
  if (RegGetValueW(HKEY_CURRENT_USER, kTestControlsKey, L"Journal", RRF_RT_REG_SZ, nullptr, buf.data(), &bytes) !=
      ERROR_SUCCESS)
    return std::wstring();
  return buf.data();
}

}  // namespace

DWORD TestControl(const wchar_t* name, DWORD fallback) {
  DWORD value = 0, size = sizeof value;
  return RegGetValueW(HKEY_CURRENT_USER, kTestControlsKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size) ==
                 ERROR_SUCCESS
             ? value
             : fallback;
}

void Journal(const std::wstring& line) {
  const std::wstring path = JournalPath();
  if (path.empty()) return;
  const std::wstring text = std::to_wstring(GetCurrentProcessId()) + L" " + line + L"\r\n";
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return;
  std::string utf8(size_t(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &utf8[0], n, nullptr, nullptr);
  HANDLE f = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(f, utf8.data(), DWORD(utf8.size()), &written, nullptr);
  CloseHandle(f);
}

}  // namespace presenter
