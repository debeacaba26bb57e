// Temporary-file backing store of pixel buffers: a private, uniquely named file that the platform
// deletes when its handle closes, reached through row views (heap copies of byte ranges that are
// read from the file when made and written back when released, as the view's access says).
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>
#include "iedefs.h"
#include "iestreams.h"

// A handle stream on a file created for this process alone, which the platform deletes when the
// handle closes.
class TIETemporaryFileStream : public TIEHandleStream {
 public:
  // Creates the file; raises EFCreateError "Unable to create <name>" when it cannot.
  explicit TIETemporaryFileStream(const std::string& name);
  ~TIETemporaryFileStream() override;
};

class TIEFileBuffer {
 public:
  TIEFileBuffer() = default;
  ~TIEFileBuffer();
  TIEFileBuffer(const TIEFileBuffer&) = delete;
  TIEFileBuffer& operator=(const TIEFileBuffer&) = delete;

  bool IsOpen() const { return Store != nullptr; }
  // Opens a new store of `size` bytes: a temporary file named folder + prefix + "-XXXXXXXX.tmp",
  // or a memory block when useFile is false. False when it cannot be had (never throws).
  bool AllocateFile(const std::string& prefix, bool useFile, int64_t size);
  // A heap copy of `size` bytes at `offset`, read from the store when access holds iraRead (else zeros).
  uint8_t* MapView(TIERowAccess access, int64_t size, int64_t offset);
  // Writes the view back when its access holds iraWrite, then frees it.
  void ReleaseView(void* address);
  void ReleaseAllViews();  // last first
  // Copies `size` bytes from `offset` into the same place of `dest`, 1 MB at a time.
  void CopyTo(TIEFileBuffer& dest, int64_t size, int64_t offset);
  void Close();  // releases the views, closes (and so deletes) the file
  const std::string& GetFileName() const { return FileName; }
  int ViewCount() const { return int(Views.size()); }

 private:
  struct View {
    int64_t Offset;
    int64_t Size;
    std::unique_ptr<uint8_t[]> Buffer;
    TIERowAccess Access;
  };
  void WriteBack(View& v);
  void ReadAt(int64_t offset, void* dst, int64_t n);
  void WriteAt(int64_t offset, const void* src, int64_t n);
  std::unique_ptr<TIEStream> Store;  // a TIETemporaryFileStream or a TIEMemoryStream
  std::string FileName;
  std::vector<View> Views;
};

// The platform's temporary path, with a trailing backslash.
std::string IEDefaultTempFolder();
// Folder of new temporary files, used as given (so it ends with a backslash); empty: the platform's
// temporary path. The I/O module's start-up empties it.
extern std::string IETempFolder;
