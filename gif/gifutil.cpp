#include "gifutil.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "uisysutils.h"

void RaiseGIFError(const std::string& message) { throw GIFException(message); }

size_t TGIFMemoryStream::Read(void* buffer, size_t count) {
  if (position_ >= data_.size()) return 0;
  size_t n = static_cast<size_t>(std::min<uint64_t>(count, data_.size() - position_));
  std::memcpy(buffer, data_.data() + position_, n);
  position_ += n;
  return n;
}

void TGIFMemoryStream::Write(const void* buffer, size_t count) {
  uint64_t end = position_ + count;
  if (end > data_.size()) data_.resize(static_cast<size_t>(end));
  if (count) std::memcpy(data_.data() + position_, buffer, count);
  position_ = end;
}

namespace {
std::string AnsiName(const std::wstring& name) {
  const int n = WideCharToMultiByte(CP_ACP, 0, name.c_str(), int(name.size()), nullptr, 0, nullptr, nullptr);
  std::string out(size_t(std::max(n, 0)), '\0');
  if (n > 0) WideCharToMultiByte(CP_ACP, 0, name.c_str(), int(name.size()), &out[0], n, nullptr, nullptr);
  return out;
}
}  // namespace

TGIFFileStream::TGIFFileStream(const std::wstring& fileName, Mode mode) : fileName_(fileName), mode_(mode) {
  if (mode == Mode::Read)
    handle_ = CreateFileW(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  else
    handle_ = CreateFileW(fileName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle_ == INVALID_HANDLE_VALUE) RaiseFileError(GetLastError());
}

void TGIFFileStream::RaiseFileError(unsigned long error) const {
  RaiseGIFError(std::string(mode_ == Mode::Read ? "Cannot open file \"" : "Cannot create file \"") +
                AnsiName(fileName_) + "\". " + ui::SysErrorMessage(error));
}

TGIFFileStream::~TGIFFileStream() { CloseHandle(handle_); }

size_t TGIFFileStream::Read(void* buffer, size_t count) {
  size_t total = 0;
  while (total < count) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(count - total, 1u << 30)), got = 0;
    if (!ReadFile(handle_, static_cast<char*>(buffer) + total, chunk, &got, nullptr) || got == 0) break;
    total += got;
  }
  return total;
}

void TGIFFileStream::Write(const void* buffer, size_t count) {
  size_t total = 0;
  while (total < count) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(count - total, 1u << 30)), put = 0;
    if (!WriteFile(handle_, static_cast<const char*>(buffer) + total, chunk, &put, nullptr))
      RaiseFileError(GetLastError());
    if (put == 0) RaiseFileError(ERROR_WRITE_FAULT);
    total += put;
  }
}

uint64_t TGIFFileStream::Position() const {
  LARGE_INTEGER zero{}, pos{};
  SetFilePointerEx(handle_, zero, &pos, FILE_CURRENT);
  return static_cast<uint64_t>(pos.QuadPart);
}

void TGIFFileStream::SetPosition(uint64_t position) {
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(position);
  SetFilePointerEx(handle_, to, nullptr, FILE_BEGIN);
}

uint64_t TGIFFileStream::Size() const {
  LARGE_INTEGER size{};
  GetFileSizeEx(handle_, &size);
  return static_cast<uint64_t>(size.QuadPart);
}

uint32_t AlignedRowBytes(uint32_t pixels, uint32_t bits, uint32_t alignment) {
  uint64_t v = (uint64_t(pixels) * bits + alignment - 1) & ~uint64_t(alignment - 1);
  return static_cast<uint32_t>(v >> 3);
}

int BitsForColors(int n) {
  if (n <= 0) return 0;
  int b = 1;
  while ((1 << b) < n) ++b;
  return b;
}

void WriteStreamByte(TGIFByteStream& stream, uint8_t value) { stream.Write(&value, 1); }

int ReadStreamByte(TGIFByteStream& stream) {
  uint8_t b;
  return stream.Read(&b, 1) == 1 ? b : -1;
}

void ReadStreamExact(TGIFByteStream& stream, void* buffer, size_t count) {
  if (stream.Read(buffer, count) != count) RaiseGIFError("Premature end of data");
}

bool SkipSubBlocks(TGIFByteStream& stream) {
  for (;;) {
    int n = ReadStreamByte(stream);
    if (n <= 0) return n == 0;
    uint64_t target = stream.Position() + static_cast<uint64_t>(n);
    if (target > stream.Size()) {
      stream.SetPosition(stream.Size());
      return false;
    }
    stream.SetPosition(target);
  }
}

void WriteSubBlockLines(TGIFByteStream& stream, const TGIFLines& lines) {
  for (const std::string& line : lines) {
    size_t done = 0;
    while (done < line.size()) {
      size_t n = std::min<size_t>(255, line.size() - done);
      WriteStreamByte(stream, static_cast<uint8_t>(n));
      stream.Write(line.data() + done, n);
      done += n;
    }
  }
  WriteStreamByte(stream, 0);
}

void ReadSubBlockLines(TGIFByteStream& stream, TGIFLines& lines) {
  lines.clear();
  char buffer[255];
  for (int n = ReadStreamByte(stream); n > 0; n = ReadStreamByte(stream)) {
    ReadStreamExact(stream, buffer, static_cast<size_t>(n));
    lines.emplace_back(buffer, strnlen(buffer, static_cast<size_t>(n)));
  }
}
