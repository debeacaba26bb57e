// Saving without harm to what is there: the component writes into a temporary file beside the
// target and puts it in the target's place only when the writer has finished without failing.
#pragma once
#include <string>

#include "iestreams.h"

class TIEReplacingFileStream : public TIEHandleStream {
 public:
  // Creates the temporary file in the target's folder. Raises EFCreateError naming the target when
  // the folder takes no file, or when the target exists but could not be replaced (held open by
  // another program, read-only, a folder): such a save fails before anything is written.
  explicit TIEReplacingFileStream(const std::wstring& fileName);
  // Removes the temporary file unless Commit succeeded: the target stays as it was, or absent.
  ~TIEReplacingFileStream() override;
  TIEReplacingFileStream(const TIEReplacingFileStream&) = delete;
  TIEReplacingFileStream& operator=(const TIEReplacingFileStream&) = delete;

  // Closes the temporary file and moves it over the target; raises EFCreateError naming the target
  // when the move fails (the temporary file is then removed).
  void Commit();

 private:
  void Discard();
  std::wstring target_, temporary_;
};

// Shared with other savers that write beside their target:
// The folder that holds a full file name (a drive root keeps its backslash).
std::wstring IEFolderOfFile(const std::wstring& fullName);
// The name handed to the platform: a full name too long for the classic calls in the long-name form
// ("\\?\C:\..." or "\\?\UNC\..."); other names as they are.
std::wstring IEPlatformFileName(const std::wstring& fullName);
// Creates a new, empty file "<namePrefix><hex>.tmp" in `folder`; returns its handle and full name, or
// INVALID_HANDLE_VALUE with the system's error when the folder takes no file.
HANDLE IECreateTemporaryFileIn(const std::wstring& folder, const wchar_t* namePrefix, std::wstring& name,
                               DWORD& error);
