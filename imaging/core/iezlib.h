// zlib in the library's stream model: a compressing stream that deflates what is written to it into
// a destination stream, a decompressing stream that inflates a source stream as it is read, and a
// one-shot inflate of a memory block. Both streams move data through one 64 KB buffer of their own.
#pragma once
#include <zlib.h>

#include <cstdint>
#include <functional>

#include "iestreams.h"

class EZLibError : public EIEError {
 public:
  using EIEError::EIEError;
};
class EZCompressionError : public EZLibError {
 public:
  using EZLibError::EZLibError;
};
class EZDecompressionError : public EZLibError {
 public:
  using EZLibError::EZLibError;
};

// Compression levels and the zlib level each means: none 0, fastest 1, default -1, best 9.
enum TZCompressionLevel : uint8_t { zcNone = 0, zcFastest = 1, zcDefault = 2, zcMax = 3 };

// zlib's text for a negative result code ("data error", "buffer error", ...).
const char* IEZLibErrorText(int code);

class TCustomZStream : public TIEStream {
 public:
  static constexpr int kBufferSize = 65536;
  ~TCustomZStream() override = default;
  std::function<void(void* sender)> OnProgress;  // after every buffer moved to or from the underlying stream

 protected:
  explicit TCustomZStream(TIEStream& stream);
  virtual void Progress();
  void SyncUnderlyingPosition();  // puts the underlying stream where the next transfer belongs

  TIEStream& strm_;
  int64_t strmPos_;  // where the underlying stream must stand for the next transfer
  z_stream zs_;
  uint8_t buffer_[kBufferSize];
};

// Write-only. Its position (Seek, any arguments) is the number of bytes written. The compressed data
// is complete after Finish (the destructor finishes too, but can only swallow an error there).
class TZCompressionStream : public TCustomZStream {
 public:
  TZCompressionStream(TIEStream& dest, TZCompressionLevel level);
  ~TZCompressionStream() override;
  int32_t Read(void* buffer, int32_t count) override;         // raises "Invalid ZStream operation!"
  int32_t Write(const void* buffer, int32_t count) override;  // consumes everything; returns count
  int64_t Seek(int64_t offset, int origin) override;          // total in; moves nothing
  void Finish();  // flushes the deflate stream into the destination and ends it; raises on errors

 private:
  bool finished_ = false;
};

// Read-only. Its position is the number of bytes inflated. After the end of the compressed data the
// source stands right behind it, even though the stream reads ahead. A source that ends early gives a
// short read, corrupt data EZDecompressionError.
class TZDecompressionStream : public TCustomZStream {
 public:
  explicit TZDecompressionStream(TIEStream& source);
  ~TZDecompressionStream() override;
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;  // raises "Invalid ZStream operation!"
  // Rewind (0 from the beginning: back to where the compressed data started), forward skips (from the
  // current position, or from the beginning beyond the position), or 0 from the end (reads to the end).
  // Anything else raises "Invalid ZStream operation!". Returns total out.
  int64_t Seek(int64_t offset, int origin) override;

 private:
  void Skip(int64_t count);
  int64_t startPos_;  // the source position at creation: a rewind goes back there
  int lastResult_ = Z_OK;
};

// Inflates a whole memory block into a new std::malloc block (the caller frees it with std::free).
// `estimate` is the first output size (0: the input size rounded up to 256), the block then grows by
// that rounded size. Raises EZDecompressionError (nothing stays allocated) for corrupt or truncated
// data and for output beyond kIEZMaxInflatedSize.
constexpr int64_t kIEZMaxInflatedSize = int64_t(512) * 1024 * 1024;
void IEZDecompressBuffer(const void* input, int inputSize, void*& output, int& outputSize, int estimate);
