#include "iereplacingfile.h"

#include <windows.h>

#include "uisysutils.h"

namespace {

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

std::wstring FolderOf(const std::wstring& fullName) {
  const size_t cut = fullName.find_last_of(L"\\/");
  if (cut == std::wstring::npos) return L".";
  // A drive root keeps its backslash.
  return fullName.substr(0, cut > 0 && fullName[cut - 1] == L':' ? cut + 1 : cut);
}

}  // namespace

TIEReplacingFileStream::TIEReplacingFileStream(const std::wstring& fileName)
    : TIEHandleStream(INVALID_HANDLE_VALUE), target_(FullName(fileName)) {
  // An existing target that could not be overwritten fails the save now, as creating it over the old
  // one would have, instead of after the whole image was encoded.
  if (GetFileAttributesW(target_.c_str()) != INVALID_FILE_ATTRIBUTES) {
    HANDLE probe = CreateFileW(target_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) RaiseCreateError(target_, GetLastError());
    CloseHandle(probe);
  }
  wchar_t temporary[MAX_PATH + 1] = {};
  // The same folder, so that the final move is a rename on the same volume.
  if (!GetTempFileNameW(FolderOf(target_).c_str(), L"~ie", 0, temporary)) RaiseCreateError(target_, GetLastError());
  temporary_ = temporary;
  handle_ = CreateFileW(temporary_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle_ == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    DeleteFileW(temporary_.c_str());
    RaiseCreateError(target_, error);
  }
}

TIEReplacingFileStream::~TIEReplacingFileStream() { Discard(); }

void TIEReplacingFileStream::Discard() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
  if (!temporary_.empty()) DeleteFileW(temporary_.c_str());
  temporary_.clear();
}

void TIEReplacingFileStream::Commit() {
  CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
  if (MoveFileExW(temporary_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    temporary_.clear();
    return;
  }
  const DWORD error = GetLastError();
  Discard();
  RaiseCreateError(target_, error);
}
