#include "iereplacingfile.h"

#include <windows.h>

#include <cwchar>

#include "uisysutils.h"

namespace {

// Temporary names tried before the folder is taken as full.
constexpr DWORD kTemporaryAttempts = 65536;

[[noreturn]] void RaiseCreateError(const std::wstring& target, DWORD error) {
  throw EFCreateError("Cannot create file \"" + IEWideToAnsi(target) + "\". " + ui::SysErrorMessage(error));
}

// The target's full name, and the folder that holds it.
std::wstring FullName(const std::wstring& name) {
  const DWORD n = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
  if (n == 0) return name;
  std::wstring full(n, L'\0');
  full.resize(GetFullPathNameW(name.c_str(), n, &full[0], nullptr));
  return full;
}

}  // namespace

std::wstring IEFolderOfFile(const std::wstring& fullName) {
  const size_t cut = fullName.find_last_of(L"\\/");
  if (cut == std::wstring::npos) return L".";
  // A drive root keeps its backslash.
  return fullName.substr(0, cut > 0 && fullName[cut - 1] == L':' ? cut + 1 : cut);
}

// The name handed to the platform: a full name too long for the classic calls goes through the
// long-name form ("\\?\C:\..." or "\\?\UNC\server\share\..."), which takes the name as it is. Names
// already in a device or long form, and relative ones, stay as they are.
std::wstring IEPlatformFileName(const std::wstring& fullName) {
  if (fullName.size() < MAX_PATH) return fullName;
  if (fullName.size() >= 3 && fullName[1] == L':' && fullName[2] == L'\\') return L"\\\\?\\" + fullName;
  if (fullName.compare(0, 2, L"\\\\") == 0 && fullName.compare(0, 4, L"\\\\?\\") != 0 &&
      fullName.compare(0, 4, L"\\\\.\\") != 0)
    return L"\\\\?\\UNC\\" + fullName.substr(2);
  return fullName;
}

// The name is made here, sized from the folder, rather than by the platform's temporary-name call,
// whose fixed buffer a deep folder overflows.
HANDLE IECreateTemporaryFileIn(const std::wstring& folder, const wchar_t* namePrefix, std::wstring& name,
                               DWORD& error) {
  std::wstring prefix = folder;
  if (!prefix.empty() && prefix.back() != L'\\' && prefix.back() != L'/') prefix += L'\\';
  prefix += namePrefix;
  // Any start will do; time and process keep two programs saving into one folder apart.
  const DWORD seed = (GetTickCount() ^ (GetCurrentProcessId() << 16)) & 0xFFFFFFu;
  error = ERROR_FILE_EXISTS;
  for (DWORD i = 0; i < kTemporaryAttempts; ++i) {
    wchar_t hex[16];
    swprintf(hex, 16, L"%X.tmp", unsigned((seed + i) & 0xFFFFFFu));
    name = prefix + hex;
    HANDLE h = CreateFileW(IEPlatformFileName(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) return h;
    error = GetLastError();
    // a folder of that name answers "access denied": taken as well
    const DWORD attributes = GetFileAttributesW(IEPlatformFileName(name).c_str());
    const bool taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ||
                       (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
                        (attributes & FILE_ATTRIBUTE_DIRECTORY));
    if (!taken) break;
  }
  name.clear();
  return INVALID_HANDLE_VALUE;
}

TIEReplacingFileStream::TIEReplacingFileStream(const std::wstring& fileName)
    : TIEHandleStream(INVALID_HANDLE_VALUE), target_(FullName(fileName)) {
  // An existing target that could not be overwritten fails the save now, as creating it over the old
  // one would have, instead of after the whole image was encoded.
  if (GetFileAttributesW(IEPlatformFileName(target_).c_str()) != INVALID_FILE_ATTRIBUTES) {
    HANDLE probe = CreateFileW(IEPlatformFileName(target_).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) RaiseCreateError(target_, GetLastError());
    CloseHandle(probe);
  }
  // The same folder, so that the final move is a rename on the same volume.
  DWORD error = 0;
  handle_ = IECreateTemporaryFileIn(IEFolderOfFile(target_), L"~ie", temporary_, error);
  if (handle_ == INVALID_HANDLE_VALUE) RaiseCreateError(target_, error);
}

TIEReplacingFileStream::~TIEReplacingFileStream() { Discard(); }

void TIEReplacingFileStream::Discard() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
  if (!temporary_.empty()) DeleteFileW(IEPlatformFileName(temporary_).c_str());
  temporary_.clear();
}

void TIEReplacingFileStream::Commit() {
  CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
  if (MoveFileExW(IEPlatformFileName(temporary_).c_str(), IEPlatformFileName(target_).c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    temporary_.clear();
    return;
  }
  const DWORD error = GetLastError();
  Discard();
  RaiseCreateError(target_, error);
}
