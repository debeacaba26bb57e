#include "output_file.h"

#include <new>

#include "VelSysUtils.h"
#include "VelSystem.h"
#include "iereplacingfile.h"
#include "uisysutils.h"

namespace app {

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
  if (GetFileAttributesW(IEPlatformFileName(output_).c_str()) != INVALID_FILE_ATTRIBUTES) {
    HANDLE probe = CreateFileW(IEPlatformFileName(output_).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) FailWithSystemError(GetLastError());
    CloseHandle(probe);
  }
  // In the output's folder, so that the final move stays a rename within it.
  DWORD error = 0;
  handle_ = IECreateTemporaryFileIn(IEFolderOfFile(output_), L"~tq", temporary_, error);
  if (handle_ == INVALID_HANDLE_VALUE) FailWithSystemError(error);
}

TOutputFile::~TOutputFile() {
  CloseHandleOnce();
  if (!temporary_.empty()) DeleteFileW(IEPlatformFileName(temporary_).c_str());
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
  if (!MoveFileExW(IEPlatformFileName(temporary_).c_str(), IEPlatformFileName(output_).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
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
