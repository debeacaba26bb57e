// Byte streams: the abstract TStream and its handle, file, memory and resource streams.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "uisysutils.h"

namespace ui {

enum TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream : public TObject {
  UI_DECLARE_CLASS(TStream, TObject)
 public:
  // Read/Write move up to `count` bytes and return how many moved.
  virtual int32_t Read(void* buffer, int32_t count) = 0;
  virtual int32_t Write(const void* buffer, int32_t count) = 0;
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  virtual void SetSize(int64_t newSize);
  int64_t GetPosition() { return Seek(0, soCurrent); }
  void SetPosition(int64_t pos) { Seek(pos, soBeginning); }
  virtual int64_t GetSize();
  // Exactly `count` bytes or EReadError / EWriteError.
  void ReadBuffer(void* buffer, int32_t count);
  void WriteBuffer(const void* buffer, int32_t count);
  // Copies `count` bytes from `source` (0: the whole source from its start); returns the count.
  int64_t CopyFrom(TStream* source, int64_t count);
};

// File access modes of TFileStream (share flags may be or-ed in).
enum : uint16_t {
  fmCreate = 0xFF00,
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmShareCompat = 0x0000,
  fmShareExclusive = 0x0010,
  fmShareDenyWrite = 0x0020,
  fmShareDenyRead = 0x0030,
  fmShareDenyNone = 0x0040,
};

// A stream over a file handle it does not own.
class THandleStream : public TStream {
  UI_DECLARE_CLASS(THandleStream, TStream)
 public:
  explicit THandleStream(HANDLE h) : handle_(h) {}
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t newSize) override;
  HANDLE Handle() const { return handle_; }

 protected:
  HANDLE handle_;
};

// A stream over a file it opens (8-bit name) and closes.
class TFileStream : public THandleStream {
  UI_DECLARE_CLASS(TFileStream, THandleStream)
 public:
  TFileStream(const std::string& fileName, uint16_t mode);
  ~TFileStream() override;
  const std::string& FileName() const { return fileName_; }

 private:
  std::string fileName_;
};

// Memory streams: the read side over a block, writing and growth in TMemoryStream.
class TCustomMemoryStream : public TStream {
  UI_DECLARE_CLASS(TCustomMemoryStream, TStream)
 public:
  int32_t Read(void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t GetSize() override { return size_; }
  void* Memory() const { return memory_; }
  void SaveToStream(TStream* s);
  void SaveToFile(const std::string& fileName);

 protected:
  void SetPointer(void* p, int64_t size) {
    memory_ = static_cast<uint8_t*>(p);
    size_ = size;
  }
  uint8_t* memory_ = nullptr;
  int64_t size_ = 0;
  int64_t position_ = 0;
};

class TMemoryStream : public TCustomMemoryStream {
  UI_DECLARE_CLASS(TMemoryStream, TCustomMemoryStream)
 public:
  TMemoryStream() = default;
  ~TMemoryStream() override;
  int32_t Write(const void* buffer, int32_t count) override;
  void SetSize(int64_t newSize) override;
  void Clear();
  void LoadFromStream(TStream* s);
  void LoadFromFile(const std::string& fileName);

 private:
  void Reserve(int64_t capacity);
  int64_t capacity_ = 0;
};

// A read-only view of a resource of a module; EResNotFound when it is missing.
class TResourceStream : public TCustomMemoryStream {
  UI_DECLARE_CLASS(TResourceStream, TCustomMemoryStream)
 public:
  TResourceStream(HINSTANCE instance, const std::string& name, const char* type);
  int32_t Write(const void*, int32_t) override;
};

}  // namespace ui
