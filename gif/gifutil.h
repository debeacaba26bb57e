// Shared pieces of the GIF unit: the codec's exception, the byte streams it reads and writes, exact
// reads, data sub-block lines and small bit-count helpers.
#pragma once
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// The error raised by the whole codec.
class GIFException : public std::runtime_error {
 public:
  explicit GIFException(const std::string& message) : std::runtime_error(message) {}
};

[[noreturn]] void RaiseGIFError(const std::string& message);

// Byte stream the codec reads from and writes to. Reads return the number of bytes delivered (fewer
// at the end); writes raise on failure.
class TGIFByteStream {
 public:
  virtual ~TGIFByteStream() = default;
  virtual size_t Read(void* buffer, size_t count) = 0;
  virtual void Write(const void* buffer, size_t count) = 0;
  virtual uint64_t Position() const = 0;
  virtual void SetPosition(uint64_t position) = 0;
  virtual uint64_t Size() const = 0;
  uint64_t Remaining() const { return Size() > Position() ? Size() - Position() : 0; }
};

// A growable stream in memory.
class TGIFMemoryStream : public TGIFByteStream {
 public:
  TGIFMemoryStream() = default;
  explicit TGIFMemoryStream(std::vector<uint8_t> data) : data_(std::move(data)) {}
  TGIFMemoryStream(const void* data, size_t size)
      : data_(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size) {}
  size_t Read(void* buffer, size_t count) override;
  void Write(const void* buffer, size_t count) override;
  uint64_t Position() const override { return position_; }
  void SetPosition(uint64_t position) override { position_ = position; }
  uint64_t Size() const override { return data_.size(); }
  const std::vector<uint8_t>& Data() const { return data_; }

 private:
  std::vector<uint8_t> data_;
  uint64_t position_ = 0;
};

// A file opened for reading (deny write) or created for writing; owns the file handle.
class TGIFFileStream : public TGIFByteStream {
 public:
  enum class Mode { Read, Create };
  TGIFFileStream(const std::wstring& fileName, Mode mode);
  ~TGIFFileStream() override;
  TGIFFileStream(const TGIFFileStream&) = delete;
  TGIFFileStream& operator=(const TGIFFileStream&) = delete;
  size_t Read(void* buffer, size_t count) override;
  void Write(const void* buffer, size_t count) override;
  uint64_t Position() const override;
  void SetPosition(uint64_t position) override;
  uint64_t Size() const override;

 private:
  // Raises "Cannot open file "<name>". <reason>" (reading) or "Cannot create file ..." (writing).
  [[noreturn]] void RaiseFileError(unsigned long error) const;
  std::wstring fileName_;
  Mode mode_;
  void* handle_;
};

inline uint16_t ReadU16LE(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t ReadU32LE(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void WriteU16LE(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void WriteU32LE(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

// Row size in bytes of `pixels` pixels of `bits` bits, padded to `alignment` bits.
uint32_t AlignedRowBytes(uint32_t pixels, uint32_t bits, uint32_t alignment);
// 0 for 0 colours, else the smallest b >= 1 with 2^b >= n.
int BitsForColors(int n);

void WriteStreamByte(TGIFByteStream& stream, uint8_t value);
// One byte, or -1 at the end of the stream.
int ReadStreamByte(TGIFByteStream& stream);
// Raises "Premature end of data" when fewer than `count` bytes are there.
void ReadStreamExact(TGIFByteStream& stream, void* buffer, size_t count);
// Skips data sub-blocks up to and including the 0 terminator; false when the stream ended first.
bool SkipSubBlocks(TGIFByteStream& stream);

using TGIFLines = std::vector<std::string>;
// Each line as sub-blocks of at most 255 bytes (empty lines write nothing), then one 0 byte.
void WriteSubBlockLines(TGIFByteStream& stream, const TGIFLines& lines);
// Each sub-block becomes one line cut at its first NUL, up to a 0 length or the end of the stream.
void ReadSubBlockLines(TGIFByteStream& stream, TGIFLines& lines);
