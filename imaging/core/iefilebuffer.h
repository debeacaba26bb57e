// Temporary-file backing store of pixel buffers: a private, uniquely named file that the platform
// deletes when its handle closes, reached through row views (heap copies of byte ranges that are
// read from the file when made and written back when released, as the view's access says).
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>
#include "iedefs.h"

// Random-access byte store behind a TIEFileBuffer: a temporary file or a memory block.
class TIEByteStore {
 public:
  virtual ~TIEByteStore() = default;
  virtual bool SetSize(int64_t size) = 0;
  virtual int64_t Size() const = 0;
  // Read/Write exactly `n` bytes at `offset`; false on a short transfer.
  virtual bool ReadAt(int64_t offset, void* dst, int64_t n) = 0;
  virtual bool WriteAt(int64_t offset, const void* src, int64_t n) = 0;
};

// A handle on a file created for this process alone, deleted by the platform when the handle closes.
class TIETemporaryFileStream : public TIEByteStore {
 public:
  // Creates the file; throws std::runtime_error "Unable to create <name>" when it cannot.
  explicit TIETemporaryFileStream(const std::string& name);
  ~TIETemporaryFileStream() override;
  TIETemporaryFileStream(const TIETemporaryFileStream&) = delete;
  TIETemporaryFileStream& operator=(const TIETemporaryFileStream&) = delete;
  bool SetSize(int64_t size) override;
  int64_t Size() const override;
  bool ReadAt(int64_t offset, void* dst, int64_t n) override;
  bool WriteAt(int64_t offset, const void* src, int64_t n) override;

 private:
  void* Handle;
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
  std::unique_ptr<TIEByteStore> Store;
  std::string FileName;
  std::vector<View> Views;
};

// Folder of new temporary files: the platform's temporary path, with a trailing backslash.
std::string IEDefaultTempFolder();
