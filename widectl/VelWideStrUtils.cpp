// Zero-terminated wide character buffers.
#include "VelWideStrUtils.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// The header holds the block size as 32 bits, so no block may be larger than that.
constexpr size_t kHeaderBytes = 4;
constexpr uint64_t kMaxBlockBytes = 0xFFFFFFFFu;

unsigned char* BlockOf(const wchar_t* buffer) {
  return reinterpret_cast<unsigned char*>(const_cast<wchar_t*>(buffer)) - kHeaderBytes;
}

}  // namespace

wchar_t* WideStrAllocBuffer(size_t count) {
  const uint64_t bytes = uint64_t(count) * 2 + kHeaderBytes;
  if (count > (kMaxBlockBytes - kHeaderBytes) / 2 || bytes > SIZE_MAX) throw std::bad_alloc();
  unsigned char* block = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(bytes)));
  if (!block) throw std::bad_alloc();
  const uint32_t size32 = static_cast<uint32_t>(bytes);
  std::memcpy(block, &size32, kHeaderBytes);
  return reinterpret_cast<wchar_t*>(block + kHeaderBytes);
}

void WideStrFreeBuffer(wchar_t* buffer) {
  if (buffer) std::free(BlockOf(buffer));
}

size_t WideStrBufferSize(const wchar_t* buffer) {
  uint32_t size32 = 0;
  std::memcpy(&size32, BlockOf(buffer), kHeaderBytes);
  return size32;
}

wchar_t* WideStrMoveChars(wchar_t* destination, const wchar_t* source, size_t count) {
  if (count) std::memmove(destination, source, count * sizeof(wchar_t));
  return destination;
}

wchar_t* WideStrDuplicate(const wchar_t* buffer) {
  if (!buffer) return nullptr;
  const size_t len = WideStrLength(buffer);
  wchar_t* copy = WideStrAllocBuffer(len + 1);
  WideStrMoveChars(copy, buffer, len + 1);
  return copy;
}

size_t WideStrLength(const wchar_t* buffer) {
  size_t n = 0;
  while (buffer[n]) ++n;
  return n;
}

wchar_t* WideStrEndPointer(wchar_t* buffer) { return buffer + WideStrLength(buffer); }

wchar_t* WideStrLCopy(wchar_t* destination, const wchar_t* source, size_t maximum) {
  size_t n = 0;
  while (n < maximum && source[n]) {
    destination[n] = source[n];
    ++n;
  }
  destination[n] = 0;
  return destination;
}

wchar_t* WideStrCopyFromString(wchar_t* destination, const std::wstring& s) {
  return WideStrLCopy(destination, s.c_str(), s.size());
}

wchar_t* WideStrScan(const wchar_t* buffer, wchar_t c) {
  for (const wchar_t* p = buffer;; ++p) {
    if (*p == c) return const_cast<wchar_t*>(p);
    if (*p == 0) return nullptr;
  }
}

wchar_t* WideLastChar(std::wstring& s) { return s.empty() ? nullptr : &s[s.size() - 1]; }
