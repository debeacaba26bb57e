// A slide's output file written without harm to what is there: the writer fills a temporary file in
// the output's folder, which takes the output's name only once it is complete. A write that fails
// midway (memory, disk, a vanished folder) leaves the earlier file or none, never a truncated one,
// and no temporary file. Every failure is raised as ui::EFCreateError in the form
// "Cannot create file "<output>". <the system's reason>".
#pragma once
#include <windows.h>

#include <functional>
#include <string>

#include "uistreams.h"

namespace app {

class TOutputFile : public ui::THandleStream {
 public:
  // Creates the empty temporary file. Raises when the folder takes no file, or when the output
  // exists but could not be replaced (held open by another program, read-only, a folder): such a
  // write fails before anything is written.
  explicit TOutputFile(const std::wstring& outputPath);
  // Removes the temporary file unless Commit succeeded.
  ~TOutputFile() override;
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;

  // Writes all of `count` bytes or raises with the system's reason.
  int32_t Write(const void* buffer, int32_t count) override;
  // For writers that open the file by its name themselves: closes this stream's handle.
  const std::wstring& TemporaryNameForWriter();
  // Moves the complete temporary file over the output; raises when the move fails.
  void Commit();
  // Raises the failure with `reason` (the temporary file goes with the object).
  [[noreturn]] void Fail(const std::string& reason) const;
  [[noreturn]] void FailWithSystemError(DWORD error) const { Fail(SystemReason(error)); }

  static std::string SystemReason(DWORD error);

 private:
  void CloseHandleOnce();
  std::wstring output_, temporary_;
};

// Runs `write` on a new TOutputFile of `outputPath` and commits it once `write` has returned. What
// `write` raises reaches the caller naming the output: running out of memory with the system's text
// for it, any other error with its own message as the reason.
void WriteOutputFile(const std::wstring& outputPath, const std::function<void(TOutputFile&)>& write);

}  // namespace app
