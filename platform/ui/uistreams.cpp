#include "uistreams.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace ui {

UI_IMPLEMENT_CLASS(TStream, TObject, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(THandleStream, TStream, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TFileStream, THandleStream, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TCustomMemoryStream, TStream, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TMemoryStream, TCustomMemoryStream, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TResourceStream, TCustomMemoryStream, nullptr, nullptr, nullptr, nullptr)

// Memory streams keep within what a 32-bit process can address; a larger request is refused.
constexpr int64_t kMaxMemoryStreamSize = 0x7FFFFFFF;

void TStream::SetSize(int64_t) { throw EStreamError("Stream size cannot be changed"); }

int64_t TStream::GetSize() {
  int64_t pos = Seek(0, soCurrent);
  int64_t size = Seek(0, soEnd);
  Seek(pos, soBeginning);
  return size;
}

void TStream::ReadBuffer(void* buffer, int32_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError(SReadError);
}

void TStream::WriteBuffer(const void* buffer, int32_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EWriteError(SWriteError);
}

int64_t TStream::CopyFrom(TStream* source, int64_t count) {
  if (count == 0) {
    source->SetPosition(0);
    count = source->GetSize();
  }
  const int64_t total = count;
  std::vector<uint8_t> buf(static_cast<size_t>(std::min<int64_t>(count, 0xF000)) + 1);
  while (count > 0) {
    int32_t n = static_cast<int32_t>(std::min<int64_t>(count, static_cast<int64_t>(buf.size())));
    source->ReadBuffer(buf.data(), n);
    WriteBuffer(buf.data(), n);
    count -= n;
  }
  return total;
}

// ---- THandleStream ----

int32_t THandleStream::Read(void* buffer, int32_t count) {
  DWORD got = 0;
  if (count <= 0 || !ReadFile(handle_, buffer, static_cast<DWORD>(count), &got, nullptr)) return 0;
  return static_cast<int32_t>(got);
}

int32_t THandleStream::Write(const void* buffer, int32_t count) {
  DWORD put = 0;
  if (count <= 0 || !WriteFile(handle_, buffer, static_cast<DWORD>(count), &put, nullptr)) return 0;
  return static_cast<int32_t>(put);
}

int64_t THandleStream::Seek(int64_t offset, TSeekOrigin origin) {
  LARGE_INTEGER d, out;
  d.QuadPart = offset;
  DWORD how = origin == soBeginning ? FILE_BEGIN : origin == soCurrent ? FILE_CURRENT : FILE_END;
  if (!SetFilePointerEx(handle_, d, &out, how)) return -1;
  return out.QuadPart;
}

void THandleStream::SetSize(int64_t newSize) {
  Seek(newSize, soBeginning);
  if (!SetEndOfFile(handle_)) RaiseLastOSError();
}

// ---- TFileStream ----

TFileStream::TFileStream(const std::string& fileName, uint16_t mode)
    : THandleStream(INVALID_HANDLE_VALUE), fileName_(fileName) {
  static const DWORD kShare[] = {FILE_SHARE_READ | FILE_SHARE_WRITE, 0, FILE_SHARE_READ, FILE_SHARE_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE};
  static const DWORD kAccess[] = {GENERIC_READ, GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE};
  if (mode == fmCreate || (mode & 0xFF00) == fmCreate) {
    handle_ = CreateFileA(fileName.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) {
      DWORD err = GetLastError();
      throw EFCreateError(Format(SFCreateError, fileName.c_str(), SysErrorMessage(err).c_str()));
    }
    return;
  }
  unsigned access = mode & 3, share = (mode & 0xF0) >> 4;
  if (access > 2 || share > 4) throw EFOpenError(Format(SFOpenError, fileName.c_str(), "Invalid mode"));
  handle_ = CreateFileA(fileName.c_str(), kAccess[access], kShare[share], nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle_ == INVALID_HANDLE_VALUE) {
    DWORD err = GetLastError();
    throw EFOpenError(Format(SFOpenError, fileName.c_str(), SysErrorMessage(err).c_str()));
  }
}

TFileStream::~TFileStream() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
}

// ---- memory streams ----

int32_t TCustomMemoryStream::Read(void* buffer, int32_t count) {
  if (count <= 0 || position_ >= size_) return 0;
  int64_t n = std::min<int64_t>(count, size_ - position_);
  std::memcpy(buffer, memory_ + position_, static_cast<size_t>(n));
  position_ += n;
  return static_cast<int32_t>(n);
}

int64_t TCustomMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? position_ : size_;
  int64_t p = base + offset;
  if (p < 0) p = 0;
  position_ = p;
  return position_;
}

void TCustomMemoryStream::SaveToStream(TStream* s) {
  if (size_ > 0) s->WriteBuffer(memory_, static_cast<int32_t>(size_));
}

void TCustomMemoryStream::SaveToFile(const std::string& fileName) {
  TFileStream f(fileName, fmCreate);
  SaveToStream(&f);
}

TMemoryStream::~TMemoryStream() { std::free(memory_); }

void TMemoryStream::Reserve(int64_t capacity) {
  if (capacity <= capacity_) return;
  if (capacity > kMaxMemoryStreamSize) throw EStreamError("Out of memory while expanding memory stream");
  // Grow in steps of a quarter so that many small writes stay linear.
  int64_t want = std::max<int64_t>(capacity, std::min<int64_t>(kMaxMemoryStreamSize, capacity_ + capacity_ / 4));
  want = (want + 0x1FFF) & ~int64_t(0x1FFF);
  if (want > kMaxMemoryStreamSize) want = kMaxMemoryStreamSize;
  void* p = std::realloc(memory_, static_cast<size_t>(want));
  if (!p) throw EStreamError("Out of memory while expanding memory stream");
  memory_ = static_cast<uint8_t*>(p);
  capacity_ = want;
}

int32_t TMemoryStream::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  int64_t end = position_ + count;
  if (end > capacity_) Reserve(end);
  if (position_ > size_) std::memset(memory_ + size_, 0, static_cast<size_t>(position_ - size_));
  std::memcpy(memory_ + position_, buffer, static_cast<size_t>(count));
  position_ = end;
  if (end > size_) size_ = end;
  return count;
}

void TMemoryStream::SetSize(int64_t newSize) {
  if (newSize < 0) newSize = 0;
  Reserve(newSize);
  if (newSize > size_) std::memset(memory_ + size_, 0, static_cast<size_t>(newSize - size_));
  size_ = newSize;
  if (position_ > size_) position_ = size_;
}

void TMemoryStream::Clear() {
  std::free(memory_);
  memory_ = nullptr;
  size_ = capacity_ = position_ = 0;
}

void TMemoryStream::LoadFromStream(TStream* s) {
  s->SetPosition(0);
  int64_t n = s->GetSize();
  SetSize(n);
  if (n) s->ReadBuffer(memory_, static_cast<int32_t>(n));
  position_ = 0;
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
  TFileStream f(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(&f);
}

TResourceStream::TResourceStream(HINSTANCE instance, const std::string& name, const char* type) {
  HRSRC res = FindResourceA(instance, name.c_str(), type);
  HGLOBAL data = res ? LoadResource(instance, res) : nullptr;
  if (!data) throw EResNotFound(Format(SResNotFound, name.c_str()));
  // Resources stay mapped for the life of the module; nothing to free.
  SetPointer(LockResource(data), SizeofResource(instance, res));
}

int32_t TResourceStream::Write(const void*, int32_t) { throw EStreamError("Cannot write to a resource stream"); }

}  // namespace ui
