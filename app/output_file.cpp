#include "output_file.h"

#include <new>

#include "VelSysUtils.h"
#include "VelSystem.h"
#include "uisysutils.h"

namespace app {

namespace {

// Tries at most this many temporary names before giving up on a folder.
constexpr int kMaxTemporaryNameTries = 64;

// The folder part with its trailing separator; empty for a bare name.
std::wstring FolderPart(const std::wstring& fullName) {
  const size_t cut = fullName.find_last_of(L"\\/");
  return cut == std::wstring::npos ? std::wstring() : fullName.substr(0, cut + 1);
}

}  // namespace

std::string TOutputFile::SystemReason(DWORD error) {
  const std::string text = ui::SysErrorMessage(error);
  return text.empty() ? "System error " + std::to_string(error) : text;
}

void TOutputFile::Fail(const std::string& reason) const {
  throw ui::EFCreateError("Cannot create file \"" + WideToAnsi(output_) + "\". " + reason);
}

TOutputFile::TOutputFile(const std::wstring& outputPath)
    : ui::THandleStream(INVALID_HANDLE_VALUE), output_(WideExpandFileName(outputPath)) {
  // An output that could not be overwritten fails now, not after the whole slide was encoded.
  if (GetFileAttributesW(output_.c_str()) != INVALID_FILE_ATTRIBUTES) {
    HANDLE probe = CreateFileW(output_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) FailWithSystemError(GetLastError());
    CloseHandle(probe);
  }
  // A short name of our own rather than the platform's temporary-name service: the final move stays
  // a rename within the folder, and the name is no longer than it must be in a deep folder.
  const std::wstring folder = FolderPart(output_);
  DWORD seed = GetTickCount() ^ (GetCurrentProcessId() << 16) ^ DWORD(reinterpret_cast<uintptr_t>(this));
  DWORD error = ERROR_FILE_EXISTS;
  for (int i = 0; i < kMaxTemporaryNameTries && error == ERROR_FILE_EXISTS; ++i) {
    seed = seed * 1664525u + 1013904223u;
    wchar_t name[16];
    swprintf(name, 16, L"~tq%08X.tmp", unsigned(seed));
    temporary_ = folder + name;
    handle_ = CreateFileW(temporary_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    error = handle_ == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
  }
  if (handle_ == INVALID_HANDLE_VALUE) {
    temporary_.clear();
    FailWithSystemError(error);
  }
}

TOutputFile::~TOutputFile() {
  CloseHandleOnce();
  if (!temporary_.empty()) DeleteFileW(temporary_.c_str());
}

void TOutputFile::CloseHandleOnce() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
}

int32_t TOutputFile::Write(const void* buffer, int32_t count) {
  const auto* p = static_cast<const char*>(buffer);
  for (int32_t left = count; left > 0;) {
    DWORD put = 0;
    if (!WriteFile(handle_, p, DWORD(left), &put, nullptr)) FailWithSystemError(GetLastError());
    if (put == 0) FailWithSystemError(ERROR_WRITE_FAULT);
    p += put;
    left -= int32_t(put);
  }
  return count < 0 ? 0 : count;
}

const std::wstring& TOutputFile::TemporaryNameForWriter() {
  CloseHandleOnce();
  return temporary_;
}

void TOutputFile::Commit() {
  CloseHandleOnce();
  if (!MoveFileExW(temporary_.c_str(), output_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    FailWithSystemError(GetLastError());
  temporary_.clear();
}

void WriteOutputFile(const std::wstring& outputPath, const std::function<void(TOutputFile&)>& write) {
  TOutputFile file(outputPath);
  try {
    write(file);
  } catch (const ui::EFCreateError&) {
    throw;  // names the output already
  } catch (const std::bad_alloc&) {
    file.FailWithSystemError(ERROR_NOT_ENOUGH_MEMORY);
  } catch (const std::exception& e) {
    file.Fail(e.what());
  }
  file.Commit();
}

}  // namespace app
