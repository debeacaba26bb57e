// Streams of the image library: the abstract stream every reader and writer works through, the
// memory, handle and wide-name file streams, a counting stream that stores nothing (TNulStream), a
// read-only view of a caller's block (TIEMemStream), a read-ahead buffer over any stream
// (TIEBufferedReadStream), and the helpers around them (checked writes that set an abort flag,
// length-prefixed strings, line writers, a bounded stream copy). The zlib streams are in iezlib.h.
//
// Seek origins: 0 from the beginning, 1 from the current position, 2 from the end. From the end the
// platform-style streams (memory, handle, file) add the offset to the size (so it is 0 or negative);
// TNulStream and TIEBufferedReadStream count it backwards, size MINUS offset (IESeekTargetBackFromEnd).
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "ieutils.h"

enum : int { soFromBeginning = 0, soFromCurrent = 1, soFromEnd = 2 };
constexpr uint16_t fmCreate = 0xFFFF;
constexpr uint16_t fmOpenRead = 0x0000, fmOpenWrite = 0x0001, fmOpenReadWrite = 0x0002;
constexpr uint16_t fmShareCompat = 0x0000, fmShareExclusive = 0x0010, fmShareDenyWrite = 0x0020,
                   fmShareDenyRead = 0x0030, fmShareDenyNone = 0x0040;

class EStreamError : public EIEError {
 public:
  using EIEError::EIEError;
};
class EReadError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

// The abstract stream. Read and Write return the bytes moved; ReadBuffer and WriteBuffer raise
// EReadError / EWriteError on a short transfer.
class TIEStream {
 public:
  virtual ~TIEStream() = default;
  virtual int32_t Read(void* buffer, int32_t count) = 0;
  virtual int32_t Write(const void* buffer, int32_t count) = 0;
  virtual int64_t Seek(int64_t offset, int origin) = 0;
  virtual int64_t GetSize();  // by seeking to the end and back
  virtual void SetSize(int64_t newSize);  // raises: a stream that cannot change its size
  int64_t GetPosition() { return Seek(0, soFromCurrent); }
  void SetPosition(int64_t pos) { Seek(pos, soFromBeginning); }
  void ReadBuffer(void* buffer, int32_t count);
  void WriteBuffer(const void* buffer, int32_t count);
  // Copies count bytes from source (0: all of it from its start) with ReadBuffer/WriteBuffer.
  int64_t CopyFrom(TIEStream& source, int64_t count);

 protected:
  TIEStream() = default;
  TIEStream(const TIEStream&) = delete;
  TIEStream& operator=(const TIEStream&) = delete;
};

// The one place of the "from the end counts backwards" rule of TNulStream and TIEBufferedReadStream.
inline int64_t IESeekTargetBackFromEnd(int64_t size, int64_t offset) { return size - offset; }

// Read/seek over a block of memory; the position may lie beyond the end (reads there return 0).
class TIECustomMemoryStream : public TIEStream {
 public:
  int32_t Read(void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, int origin) override;
  int64_t GetSize() override { return size_; }
  int64_t Size() const { return size_; }  // GetSize of a stream that is only looked at
  void* Memory() const { return memory_; }

 protected:
  void SetPointer(void* p, int64_t size) { memory_ = static_cast<uint8_t*>(p); size_ = size; }
  uint8_t* memory_ = nullptr;
  int64_t size_ = 0;
  int64_t position_ = 0;
};

// A growable memory stream that owns its block.
class TIEMemoryStream : public TIECustomMemoryStream {
 public:
  TIEMemoryStream() = default;
  ~TIEMemoryStream() override;
  int32_t Write(const void* buffer, int32_t count) override;
  void SetSize(int64_t newSize) override;  // raises EStreamError when memory runs out
  void Clear();

 private:
  void Reserve(int64_t capacity);
  int64_t capacity_ = 0;
};

// A read-only view of a caller's block (neither copied nor freed): writes store nothing and return 0,
// size changes do nothing, so a writer given one ends with its abort flag set.
class TIEMemStream : public TIECustomMemoryStream {
 public:
  TIEMemStream(const void* block, int64_t size) { SetPointer(const_cast<void*>(block), size); }
  int32_t Write(const void*, int32_t) override { return 0; }
  void SetSize(int64_t) override {}
};

// A stream over a platform file handle (not owned; see TIEWideFileStream).
class TIEHandleStream : public TIEStream {
 public:
  explicit TIEHandleStream(HANDLE handle) : handle_(handle) {}
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, int origin) override;
  void SetSize(int64_t newSize) override;
  HANDLE Handle() const { return handle_; }

 protected:
  HANDLE handle_;
};

// A file opened by a wide name: mode fmCreate creates (or truncates) it, any other mode is an open
// mode (access in the low two bits, share mode in bits 4..6). Raises EFCreateError / EFOpenError with
// the expanded name and the system's message. Closes the handle on destruction.
class TIEWideFileStream : public TIEHandleStream {
 public:
  TIEWideFileStream(const std::wstring& fileName, uint16_t mode);
  ~TIEWideFileStream() override;
};

// Counts what is written or read and stores nothing.
class TNulStream : public TIEStream {
 public:
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, int origin) override;  // origin 2 counts backwards

 private:
  int32_t position_ = 0;
  int32_t size_ = 0;
};

// Read-ahead over a source stream (not owned), for readers that take one or two bytes at a time.
// Reading past the end never raises: it delivers what remains and sets EndOfData. A relative stream
// reports positions from the source position at creation. Seek origin 2 counts backwards.
class TIEBufferedReadStream : public TIEStream {
 public:
  TIEBufferedReadStream(TIEStream& source, int32_t bufferSize, bool relative);
  ~TIEBufferedReadStream() override;
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;  // raises EIEError
  int64_t Seek(int64_t offset, int origin) override;
  void SetBufferSize(int32_t n);  // new buffer, refilled from the current position
  void FillBuffer();
  bool EndOfData() const { return endOfData_; }

 private:
  TIEStream& source_;
  uint8_t* buffer_ = nullptr;
  int32_t bufferSize_ = 0;
  int32_t bufferFill_ = 0;    // valid bytes in the buffer (less than its size near the end)
  int64_t position_ = 0;      // absolute source position of the next byte
  int32_t bufferOffset_ = 0;  // index of that byte in the buffer
  int64_t sourceSize_ = 0;
  int64_t base_ = 0;
  bool endOfData_ = false;
};

// ---- File handles by wide name (W entry points on the NT family, A with the code page otherwise) ----
HANDLE IECreateFileW(const std::wstring& name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES sa,
                     DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
HANDLE IEFileCreateW(const std::wstring& name);
HANDLE IEFileOpenW(const std::wstring& name, uint16_t mode);  // INVALID_HANDLE_VALUE for a bad mode
std::string IEWideToAnsi(const std::wstring& s);  // system code page
std::wstring IEAnsiToWide(const std::string& s);

// ---- Stream helpers ----
// Writes through stream.Write; a short write sets abort (never clears it).
void IEStreamWriteCheck(TIEStream& stream, std::atomic<bool>& abort, const void* buffer, int32_t count);
void IEWriteAnsiString(TIEStream& stream, const std::string& s);  // Int32 LE length, then the bytes
// Reads what IEWriteAnsiString wrote. A negative length or one beyond what the stream delivers is
// refused (false, s empty) instead of trusted: memory grows only with the bytes actually read.
bool IEReadAnsiString(TIEStream& stream, std::string& s);
void IEWriteLineCRLF(TIEStream& stream, const std::string& s);
void IEWriteLineLF(TIEStream& stream, const std::string& s);
void IEWriteText(TIEStream& stream, const std::string& s);
// The offset, counted from the stream's position, of the first TIFF header ("II" or "MM", the magic
// 42, 0x4F52 or 0x5352 in that byte order, and a first-directory offset below the stream's size)
// within the next 128 KB; -1 when there is none. The stream's position is restored.
int64_t IEFindTIFFHeader(TIEStream& stream);
// Copies count bytes (0: the whole source from its start), cut to what the source still holds unless
// its size is unknown (zlib streams). Raises on a short transfer. Returns the count.
int64_t IECopyStream(TIEStream& dest, TIEStream& source, int64_t count);
