#include "iezlib.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr int kSkipChunk = 8192;  // the decompression stream skips forward in chunks of this size
const char kInvalidOp[] = "Invalid ZStream operation!";

int CCheck(int code) {
  if (code < 0) throw EZCompressionError(IEZLibErrorText(code));
  return code;
}

int DCheck(int code) {
  if (code < 0) throw EZDecompressionError(IEZLibErrorText(code));
  return code;
}

int ZLevel(TZCompressionLevel level) {
  switch (level) {
    case zcNone: return 0;
    case zcFastest: return 1;
    case zcMax: return 9;
    default: return Z_DEFAULT_COMPRESSION;
  }
}

}  // namespace

const char* IEZLibErrorText(int code) {
  static const char* const kTexts[] = {"file error", "stream error", "data error", "insufficient memory",
                                       "buffer error", "incompatible version"};
  if (code <= -1 && code >= -6) return kTexts[-1 - code];
  return "unknown zlib error";
}

// ---- TCustomZStream ----

TCustomZStream::TCustomZStream(TIEStream& stream) : strm_(stream), strmPos_(stream.GetPosition()) {
  std::memset(&zs_, 0, sizeof(zs_));
}

void TCustomZStream::Progress() {
  if (OnProgress) OnProgress(this);
}

void TCustomZStream::SyncUnderlyingPosition() {
  if (strm_.GetPosition() != strmPos_) strm_.SetPosition(strmPos_);
}

// ---- TZCompressionStream ----

TZCompressionStream::TZCompressionStream(TIEStream& dest, TZCompressionLevel level) : TCustomZStream(dest) {
  zs_.next_out = buffer_;
  zs_.avail_out = kBufferSize;
  CCheck(deflateInit(&zs_, ZLevel(level)));
}

TZCompressionStream::~TZCompressionStream() {
  try {
    Finish();
  } catch (...) {
    // A destructor cannot report; callers that need to know call Finish first.
  }
}

void TZCompressionStream::Finish() {
  if (finished_) return;
  finished_ = true;
  try {
    zs_.next_in = nullptr;
    zs_.avail_in = 0;
    SyncUnderlyingPosition();
    while (CCheck(deflate(&zs_, Z_FINISH)) != Z_STREAM_END) {
      strm_.WriteBuffer(buffer_, kBufferSize - int32_t(zs_.avail_out));
      zs_.next_out = buffer_;
      zs_.avail_out = kBufferSize;
    }
    if (zs_.avail_out < uInt(kBufferSize)) strm_.WriteBuffer(buffer_, kBufferSize - int32_t(zs_.avail_out));
    strmPos_ = strm_.GetPosition();
  } catch (...) {
    deflateEnd(&zs_);
    throw;
  }
  deflateEnd(&zs_);
}

int32_t TZCompressionStream::Read(void*, int32_t) { throw EZCompressionError(kInvalidOp); }

int32_t TZCompressionStream::Write(const void* buffer, int32_t count) {
  if (finished_) throw EZCompressionError(kInvalidOp);
  if (count <= 0) return 0;
  zs_.next_in = static_cast<Bytef*>(const_cast<void*>(buffer));
  zs_.avail_in = uInt(count);
  SyncUnderlyingPosition();
  while (zs_.avail_in > 0) {
    CCheck(deflate(&zs_, Z_NO_FLUSH));
    if (zs_.avail_out == 0) {
      strm_.WriteBuffer(buffer_, kBufferSize);
      zs_.next_out = buffer_;
      zs_.avail_out = kBufferSize;
      strmPos_ = strm_.GetPosition();
      Progress();
    }
  }
  return count;
}

int64_t TZCompressionStream::Seek(int64_t, int) { return int64_t(zs_.total_in); }

// ---- TZDecompressionStream ----

TZDecompressionStream::TZDecompressionStream(TIEStream& source) : TCustomZStream(source), startPos_(strmPos_) {
  zs_.next_in = buffer_;
  zs_.avail_in = 0;
  DCheck(inflateInit(&zs_));
}

TZDecompressionStream::~TZDecompressionStream() { inflateEnd(&zs_); }

int32_t TZDecompressionStream::Write(const void*, int32_t) { throw EZDecompressionError(kInvalidOp); }

int32_t TZDecompressionStream::Read(void* buffer, int32_t count) {
  if (count <= 0) return 0;
  zs_.next_out = static_cast<Bytef*>(buffer);
  zs_.avail_out = uInt(count);
  SyncUnderlyingPosition();
  while (zs_.avail_out > 0 && lastResult_ != Z_STREAM_END) {
    if (zs_.avail_in == 0) {
      int32_t n = strm_.Read(buffer_, kBufferSize);
      if (n <= 0) return count - int32_t(zs_.avail_out);
      zs_.next_in = buffer_;
      zs_.avail_in = uInt(n);
      strmPos_ = strm_.GetPosition();
      Progress();
    }
    lastResult_ = DCheck(inflate(&zs_, Z_NO_FLUSH));
    // A preset dictionary is never used by this library's data; without one inflate would make no
    // progress and the loop would never end.
    if (lastResult_ == Z_NEED_DICT) throw EZDecompressionError(IEZLibErrorText(Z_DATA_ERROR));
  }
  if (lastResult_ == Z_STREAM_END && zs_.avail_in > 0) {
    strm_.Seek(-int64_t(zs_.avail_in), soFromCurrent);
    strmPos_ = strm_.GetPosition();
    zs_.avail_in = 0;
  }
  return count - int32_t(zs_.avail_out);
}

void TZDecompressionStream::Skip(int64_t count) {
  uint8_t scratch[kSkipChunk];
  while (count >= kSkipChunk) {
    ReadBuffer(scratch, kSkipChunk);
    count -= kSkipChunk;
  }
  if (count > 0) ReadBuffer(scratch, int32_t(count));
}

int64_t TZDecompressionStream::Seek(int64_t offset, int origin) {
  int64_t totalOut = int64_t(zs_.total_out);
  if (offset == 0 && origin == soFromBeginning) {
    DCheck(inflateReset(&zs_));
    zs_.next_in = buffer_;
    zs_.avail_in = 0;
    lastResult_ = Z_OK;
    // Back to where the compressed data began (not the source's byte 0, which would read whatever
    // precedes the data in a container stream).
    strm_.SetPosition(startPos_);
    strmPos_ = startPos_;
  } else if ((origin == soFromCurrent && offset >= 0) || (origin == soFromBeginning && offset > totalOut)) {
    Skip(origin == soFromCurrent ? offset : offset - totalOut);
  } else if (origin == soFromEnd && offset == 0) {
    uint8_t scratch[kSkipChunk];
    while (Read(scratch, kSkipChunk) != 0) {
    }
  } else {
    throw EZDecompressionError(kInvalidOp);
  }
  return int64_t(zs_.total_out);
}

// ---- One-shot inflate ----

void IEZDecompressBuffer(const void* input, int inputSize, void*& output, int& outputSize, int estimate) {
  output = nullptr;
  outputSize = 0;
  if (inputSize < 0) throw EZDecompressionError(IEZLibErrorText(Z_BUF_ERROR));
  int64_t step = (int64_t(inputSize) + 255) & ~int64_t(255);
  if (step == 0) step = 256;
  int64_t size = estimate > 0 ? estimate : step;
  uint8_t* out = static_cast<uint8_t*>(std::malloc(size_t(size)));
  if (!out) throw EZDecompressionError(IEZLibErrorText(Z_MEM_ERROR));
  z_stream zs;
  std::memset(&zs, 0, sizeof(zs));
  zs.next_in = static_cast<Bytef*>(const_cast<void*>(input));
  zs.avail_in = uInt(inputSize);
  zs.next_out = out;
  zs.avail_out = uInt(size);
  try {
    DCheck(inflateInit(&zs));
    try {
      for (;;) {
        int r = DCheck(inflate(&zs, Z_NO_FLUSH));
        if (r == Z_STREAM_END) break;
        if (r == Z_NEED_DICT) throw EZDecompressionError(IEZLibErrorText(Z_DATA_ERROR));
        if (size + step > kIEZMaxInflatedSize) throw EZDecompressionError(IEZLibErrorText(Z_MEM_ERROR));
        size += step;
        uint8_t* grown = static_cast<uint8_t*>(std::realloc(out, size_t(size)));
        if (!grown) throw EZDecompressionError(IEZLibErrorText(Z_MEM_ERROR));
        out = grown;
        zs.next_out = out + zs.total_out;
        zs.avail_out = uInt(step);
      }
    } catch (...) {
      inflateEnd(&zs);
      throw;
    }
    DCheck(inflateEnd(&zs));
  } catch (...) {
    std::free(out);
    throw;
  }
  int total = int(zs.total_out);
  void* shrunk = std::realloc(out, size_t(total > 0 ? total : 1));
  output = shrunk ? shrunk : out;
  outputSize = total;
}
