#include "iestreams.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "ieutils.h"
#include "iezlib.h"
#include "vodevovur.h"

namespace {

constexpr int64_t kCopyBufferMax = 0x2FFFF;  // the copy moves at most this many bytes per transfer
constexpr int32_t kMinReadBuffer = 16;       // a smaller read-ahead buffer would only add source calls
constexpr int64_t kMemoryDoublingLimit = int64_t(64) << 20;  // memory streams double up to this capacity

std::string SystemErrorText(DWORD code) {
  char* msg = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<LPSTR>(&msg), 0, nullptr);
  std::string s = n && msg ? std::string(msg, n) : std::string();
  if (msg) LocalFree(msg);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s;
}

std::string ExpandedName(const std::wstring& name) {
  DWORD n = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
  if (n == 0) return IEWideToAnsi(name);
  std::wstring full(n, L'\0');
  n = GetFullPathNameW(name.c_str(), n, &full[0], nullptr);
  full.resize(n);
  return IEWideToAnsi(full);
}

}  // namespace

// ---- TIEStream ----

int64_t TIEStream::GetSize() {
  int64_t pos = Seek(0, soFromCurrent);
  int64_t size = Seek(0, soFromEnd);
  Seek(pos, soFromBeginning);
  return size;
}

void TIEStream::SetSize(int64_t) { throw EStreamError("Stream size cannot be changed"); }

void TIEStream::ReadBuffer(void* buffer, int32_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TIEStream::WriteBuffer(const void* buffer, int32_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

int64_t TIEStream::CopyFrom(TIEStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.GetSize();
  }
  int64_t chunk = std::min<int64_t>(std::max<int64_t>(count, 1), kCopyBufferMax);
  std::vector<uint8_t> buf(static_cast<size_t>(chunk));
  for (int64_t left = count; left > 0;) {
    int32_t n = static_cast<int32_t>(std::min<int64_t>(left, chunk));
    source.ReadBuffer(buf.data(), n);
    WriteBuffer(buf.data(), n);
    left -= n;
  }
  return count;
}

// ---- Memory streams ----

int32_t TIECustomMemoryStream::Read(void* buffer, int32_t count) {
  if (count <= 0 || position_ < 0 || position_ >= size_) return 0;
  int64_t n = std::min<int64_t>(count, size_ - position_);
  std::memcpy(buffer, memory_ + position_, static_cast<size_t>(n));
  position_ += n;
  return static_cast<int32_t>(n);
}

int64_t TIECustomMemoryStream::Seek(int64_t offset, int origin) {
  switch (origin) {
    case soFromBeginning: position_ = offset; break;
    case soFromCurrent: position_ += offset; break;
    case soFromEnd: position_ = size_ + offset; break;
    default: break;
  }
  return position_;
}

TIEMemoryStream::~TIEMemoryStream() { std::free(memory_); }

void TIEMemoryStream::Reserve(int64_t capacity) {
  if (capacity <= capacity_) return;
  // Grow by a quarter at least, so that row-by-row writers cause few reallocations; a small block
  // doubles, since every reallocation copies the block into fresh pages, which costs more than the
  // spare room. Large blocks keep to a quarter, so that a 32-bit process still finds the space.
  const int64_t step = capacity_ < kMemoryDoublingLimit ? capacity_ : capacity_ / 4;
  int64_t want = std::max<int64_t>(capacity, capacity_ + step);
  want = (want + 0xFFF) & ~int64_t(0xFFF);
  if (uint64_t(want) > std::numeric_limits<size_t>::max()) throw EStreamError("Out of memory while expanding memory stream");
  void* p = std::realloc(memory_, static_cast<size_t>(want));
  if (!p) throw EStreamError("Out of memory while expanding memory stream");
  memory_ = static_cast<uint8_t*>(p);
  capacity_ = want;
}

void TIEMemoryStream::SetSize(int64_t newSize) {
  if (newSize < 0) newSize = 0;
  Reserve(newSize);
  size_ = newSize;
  if (position_ > size_) position_ = size_;
}

int32_t TIEMemoryStream::Write(const void* buffer, int32_t count) {
  if (count <= 0 || position_ < 0) return 0;
  int64_t end = position_ + count;
  if (end > size_) {
    Reserve(end);
    if (position_ > size_) std::memset(memory_ + size_, 0, static_cast<size_t>(position_ - size_));
    size_ = end;
  }
  std::memcpy(memory_ + position_, buffer, static_cast<size_t>(count));
  position_ = end;
  return count;
}

void TIEMemoryStream::Clear() {
  std::free(memory_);
  memory_ = nullptr;
  size_ = position_ = capacity_ = 0;
}

// ---- Handle and file streams ----

int32_t TIEHandleStream::Read(void* buffer, int32_t count) {
  DWORD done = 0;
  if (count <= 0 || !ReadFile(handle_, buffer, static_cast<DWORD>(count), &done, nullptr)) return 0;
  return static_cast<int32_t>(done);
}

int32_t TIEHandleStream::Write(const void* buffer, int32_t count) {
  DWORD done = 0;
  if (count <= 0 || !WriteFile(handle_, buffer, static_cast<DWORD>(count), &done, nullptr)) return 0;
  return static_cast<int32_t>(done);
}

int64_t TIEHandleStream::Seek(int64_t offset, int origin) {
  LARGE_INTEGER dist, pos;
  dist.QuadPart = offset;
  DWORD method = origin == soFromCurrent ? FILE_CURRENT : (origin == soFromEnd ? FILE_END : FILE_BEGIN);
  if (!SetFilePointerEx(handle_, dist, &pos, method)) return -1;
  return pos.QuadPart;
}

void TIEHandleStream::SetSize(int64_t newSize) {
  int64_t pos = Seek(0, soFromCurrent);
  Seek(newSize, soFromBeginning);
  if (!SetEndOfFile(handle_)) throw EStreamError("Stream size cannot be changed: " + SystemErrorText(GetLastError()));
  if (pos < newSize) Seek(pos, soFromBeginning);
}

TIEWideFileStream::TIEWideFileStream(const std::wstring& fileName, uint16_t mode)
    : TIEHandleStream(INVALID_HANDLE_VALUE) {
  if (mode == fmCreate) {
    handle_ = IEFileCreateW(fileName);
    if (handle_ == INVALID_HANDLE_VALUE)
      throw EFCreateError("Cannot create file \"" + ExpandedName(fileName) + "\". " + SystemErrorText(GetLastError()));
  } else {
    SetLastError(ERROR_INVALID_PARAMETER);  // what a refused mode reports
    handle_ = IEFileOpenW(fileName, mode);
    if (handle_ == INVALID_HANDLE_VALUE)
      throw EFOpenError("Cannot open file \"" + ExpandedName(fileName) + "\". " + SystemErrorText(GetLastError()));
  }
}

TIEWideFileStream::~TIEWideFileStream() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
}

// ---- TNulStream ----

int32_t TNulStream::Read(void*, int32_t count) { return Write(nullptr, count); }

int32_t TNulStream::Write(const void*, int32_t count) {
  position_ += count;
  if (position_ >= size_) size_ = position_;
  return count;
}

int64_t TNulStream::Seek(int64_t offset, int origin) {
  switch (origin) {
    case soFromBeginning: position_ = static_cast<int32_t>(offset); break;
    case soFromCurrent: position_ += static_cast<int32_t>(offset); break;
    case soFromEnd: position_ = static_cast<int32_t>(IESeekTargetBackFromEnd(size_, offset)); return position_;
    default: return position_;
  }
  if (position_ >= size_) size_ = position_;
  return position_;
}

// ---- TIEBufferedReadStream ----

TIEBufferedReadStream::TIEBufferedReadStream(TIEStream& source, int32_t bufferSize, bool relative)
    : source_(source) {
  int64_t pos = source.GetPosition();
  base_ = relative ? pos : 0;
  sourceSize_ = source.GetSize();
  position_ = pos;
  SetBufferSize(bufferSize);
}

TIEBufferedReadStream::~TIEBufferedReadStream() { delete[] buffer_; }

void TIEBufferedReadStream::SetBufferSize(int32_t n) {
  delete[] buffer_;
  buffer_ = nullptr;
  bufferSize_ = std::max(n, kMinReadBuffer);
  buffer_ = new uint8_t[bufferSize_];
  FillBuffer();
}

void TIEBufferedReadStream::FillBuffer() {
  source_.SetPosition(position_);
  bufferFill_ = std::max(0, source_.Read(buffer_, bufferSize_));
  bufferOffset_ = 0;
}

int32_t TIEBufferedReadStream::Read(void* destination, int32_t count) {
  endOfData_ = false;
  if (sourceSize_ - position_ < count) {
    endOfData_ = true;
    count = static_cast<int32_t>(std::max<int64_t>(0, sourceSize_ - position_));
  }
  if (count <= 0) return 0;
  auto* dst = static_cast<uint8_t*>(destination);
  if (count == 1) {
    if (bufferOffset_ >= bufferFill_) FillBuffer();
    if (bufferOffset_ >= bufferFill_) {  // the source delivered less than its size promised
      endOfData_ = true;
      return 0;
    }
    *dst = buffer_[bufferOffset_++];
    ++position_;
    return 1;
  }
  int32_t result = 0;
  for (;;) {
    if (bufferOffset_ >= bufferFill_) {
      FillBuffer();
      if (bufferFill_ == 0) {
        endOfData_ = true;
        return result;
      }
    }
    int32_t chunk = std::min(count, bufferFill_ - bufferOffset_);
    std::memcpy(dst, buffer_ + bufferOffset_, static_cast<size_t>(chunk));
    bufferOffset_ += chunk;
    position_ += chunk;
    result += chunk;
    if (chunk == count) return result;
    count -= chunk;
    dst += chunk;
  }
}

int32_t TIEBufferedReadStream::Write(const void*, int32_t) { throw EIEError("TIEBufferedReadStream cannot write!"); }

int64_t TIEBufferedReadStream::Seek(int64_t offset, int origin) {
  endOfData_ = false;
  int64_t target;
  switch (origin) {
    case soFromBeginning: target = base_ + offset; break;
    case soFromCurrent: target = position_ + offset; break;
    case soFromEnd: target = IESeekTargetBackFromEnd(sourceSize_, offset); break;
    default: target = position_; break;
  }
  if (target < 0) target = 0;
  if (target >= sourceSize_) {
    target = sourceSize_;
    endOfData_ = true;
  }
  int64_t newOffset = bufferOffset_ + target - position_;
  if (newOffset >= 0 && newOffset < bufferFill_) {
    bufferOffset_ = static_cast<int32_t>(newOffset);
    position_ = target;
  } else {
    position_ = target;
    FillBuffer();
  }
  return position_ - base_;
}

// ---- File handles ----

std::string IEWideToAnsi(const std::wstring& s) {
  if (s.empty()) return std::string();
  int n = WideCharToMultiByte(CP_ACP, 0, s.data(), int(s.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, s.data(), int(s.size()), &out[0], n, nullptr, nullptr);
  return out;
}

std::wstring IEAnsiToWide(const std::string& s) {
  if (s.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_ACP, 0, s.data(), int(s.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, s.data(), int(s.size()), &out[0], n);
  return out;
}

HANDLE IECreateFileW(const std::wstring& name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES sa,
                     DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile) {
  if (IEUseWideAPI)
    return CreateFileW(name.c_str(), access, shareMode, sa, creationDisposition, flagsAndAttributes, templateFile);
  return CreateFileA(IEWideToAnsi(name).c_str(), access, shareMode, sa, creationDisposition, flagsAndAttributes,
                     templateFile);
}

HANDLE IEFileCreateW(const std::wstring& name) {
  return IECreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE IEFileOpenW(const std::wstring& name, uint16_t mode) {
  static const DWORD kAccess[3] = {GENERIC_READ, GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE};
  static const DWORD kShare[5] = {0, 0, FILE_SHARE_READ, FILE_SHARE_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE};
  if ((mode & 3) > 2 || (mode & 0xF0) > 0x40) return INVALID_HANDLE_VALUE;
  return IECreateFileW(name, kAccess[mode & 3], kShare[(mode & 0xF0) >> 4], nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// ---- Helpers ----

void IEStreamWriteCheck(TIEStream& stream, std::atomic<bool>& abort, const void* buffer, int32_t count) {
  if (stream.Write(buffer, count) < count) abort = true;
}

void IEWriteAnsiString(TIEStream& stream, const std::string& s) {
  uint8_t len[4];
  uint32_t n = static_cast<uint32_t>(s.size());
  len[0] = uint8_t(n); len[1] = uint8_t(n >> 8); len[2] = uint8_t(n >> 16); len[3] = uint8_t(n >> 24);
  stream.WriteBuffer(len, 4);
  stream.WriteBuffer(s.data(), static_cast<int32_t>(s.size()));
}

bool IEReadAnsiString(TIEStream& stream, std::string& s) {
  s.clear();
  uint8_t b[4];
  if (stream.Read(b, 4) != 4) return false;
  int32_t len = static_cast<int32_t>(uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24));
  if (len < 0) return false;
  // Grow with what actually arrives instead of trusting the length: the stream may be a zlib stream,
  // whose size cannot be asked without inflating it all.
  constexpr int32_t kChunk = 65536;
  while (int32_t(s.size()) < len) {
    int32_t want = std::min(kChunk, len - int32_t(s.size()));
    size_t at = s.size();
    s.resize(at + size_t(want));
    if (stream.Read(&s[at], want) != want) {
      s.clear();
      return false;
    }
  }
  return true;
}

void IEWriteText(TIEStream& stream, const std::string& s) {
  stream.WriteBuffer(s.data(), static_cast<int32_t>(s.size()));
}

void IEWriteLineCRLF(TIEStream& stream, const std::string& s) { IEWriteText(stream, s + "\r\n"); }

void IEWriteLineLF(TIEStream& stream, const std::string& s) { IEWriteText(stream, s + "\n"); }

int64_t IECopyStream(TIEStream& dest, TIEStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.GetSize();
  }
  // A zlib stream's size is only known by inflating it all, so its count is taken as asked.
  if (!dynamic_cast<TCustomZStream*>(&source)) {
    int64_t left = source.GetSize() - source.GetPosition();
    count = std::max<int64_t>(0, std::min(count, left));
  }
  if (count > 0) dest.CopyFrom(source, count);
  return count;
}

int64_t IEFindTIFFHeader(TIEStream& stream) {
  // Camera raw files put their own header ahead of the TIFF structure; nothing that far in is theirs.
  constexpr int32_t kSearch = 0x20000;
  const int64_t pos = stream.GetPosition();
  const int64_t size = stream.GetSize();
  std::vector<uint8_t> d(size_t(std::max<int64_t>(0, std::min<int64_t>(kSearch, size - pos))));
  int64_t found = -1;
  try {
    int32_t got = 0;
    while (got < int32_t(d.size())) {
      const int32_t k = stream.Read(d.data() + got, int32_t(d.size()) - got);
      if (k <= 0) break;
      got += k;
    }
    for (int32_t i = 0; i + 8 <= got && found < 0; ++i) {
      const bool ii = d[i] == 'I' && d[i + 1] == 'I', mm = d[i] == 'M' && d[i + 1] == 'M';
      if (!ii && !mm) continue;
      const uint16_t magic = ii ? IEReadU16LE(&d[i + 2]) : IEReadU16BE(&d[i + 2]);
      const uint32_t first = ii ? IEReadU32LE(&d[i + 4]) : IEReadU32BE(&d[i + 4]);
      if ((magic == 42 || magic == 0x4F52 || magic == 0x5352) && int64_t(first) < size) found = i;
    }
  } catch (...) {
    stream.SetPosition(pos);
    throw;
  }
  stream.SetPosition(pos);
  return found;
}
