#include "iefilebuffer.h"

#include <windows.h>

#include <cstring>
#include <stdexcept>

#include "ietextutils.h"

namespace {

// File-to-file copies move this much at a time, without views.
constexpr int64_t kCopyChunk = 1048576;

class TIEMemoryStore : public TIEByteStore {
 public:
  bool SetSize(int64_t size) override {
    if (size < 0 || uint64_t(size) > SIZE_MAX) return false;
    Data.resize(size_t(size));
    return true;
  }
  int64_t Size() const override { return int64_t(Data.size()); }
  bool ReadAt(int64_t offset, void* dst, int64_t n) override {
    if (offset < 0 || n < 0 || offset > Size() || n > Size() - offset) return false;
    std::memcpy(dst, Data.data() + offset, size_t(n));
    return true;
  }
  bool WriteAt(int64_t offset, const void* src, int64_t n) override {
    if (offset < 0 || n < 0 || offset > Size() || n > Size() - offset) return false;
    std::memcpy(Data.data() + offset, src, size_t(n));
    return true;
  }

 private:
  std::vector<uint8_t> Data;
};

bool SeekTo(HANDLE h, int64_t offset) {
  LARGE_INTEGER li;
  li.QuadPart = offset;
  return SetFilePointerEx(h, li, nullptr, FILE_BEGIN) != 0;
}

}  // namespace

TIETemporaryFileStream::TIETemporaryFileStream(const std::string& name) {
  Handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                       FILE_FLAG_DELETE_ON_CLOSE | FILE_ATTRIBUTE_TEMPORARY, nullptr);
  if (Handle == INVALID_HANDLE_VALUE) throw std::runtime_error("Unable to create " + name);
}

TIETemporaryFileStream::~TIETemporaryFileStream() {
  if (Handle != INVALID_HANDLE_VALUE) CloseHandle(Handle);
}

bool TIETemporaryFileStream::SetSize(int64_t size) {
  return size >= 0 && SeekTo(Handle, size) && SetEndOfFile(Handle) != 0;
}

int64_t TIETemporaryFileStream::Size() const {
  LARGE_INTEGER li;
  return GetFileSizeEx(Handle, &li) ? int64_t(li.QuadPart) : 0;
}

bool TIETemporaryFileStream::ReadAt(int64_t offset, void* dst, int64_t n) {
  if (!SeekTo(Handle, offset)) return false;
  auto* p = static_cast<uint8_t*>(dst);
  while (n > 0) {
    DWORD chunk = DWORD(n > 0x40000000 ? 0x40000000 : n), got = 0;
    if (!ReadFile(Handle, p, chunk, &got, nullptr) || got != chunk) return false;
    p += got;
    n -= got;
  }
  return true;
}

bool TIETemporaryFileStream::WriteAt(int64_t offset, const void* src, int64_t n) {
  if (!SeekTo(Handle, offset)) return false;
  auto* p = static_cast<const uint8_t*>(src);
  while (n > 0) {
    DWORD chunk = DWORD(n > 0x40000000 ? 0x40000000 : n), put = 0;
    if (!WriteFile(Handle, p, chunk, &put, nullptr) || put != chunk) return false;
    p += put;
    n -= put;
  }
  return true;
}

std::string IEDefaultTempFolder() {
  char path[MAX_PATH + 1] = {};
  DWORD n = GetTempPathA(sizeof(path), path);
  std::string s = (n > 0 && n < sizeof(path)) ? std::string(path, n) : std::string(".\\");
  if (s.back() != '\\') s += '\\';
  return s;
}

TIEFileBuffer::~TIEFileBuffer() {
  try {
    Close();
  } catch (...) {
    // a failed write-back during destruction has nowhere to go
  }
}

bool TIEFileBuffer::AllocateFile(const std::string& prefix, bool useFile, int64_t size) {
  if (Store) Close();
  try {
    IEUniqueTempFileName(prefix, IEDefaultTempFolder(), FileName);
    if (useFile)
      Store.reset(new TIETemporaryFileStream(FileName));
    else
      Store.reset(new TIEMemoryStore());
    if (!Store->SetSize(size)) {
      Store.reset();
      return false;
    }
    return true;
  } catch (...) {
    Store.reset();
    return false;
  }
}

uint8_t* TIEFileBuffer::MapView(TIERowAccess access, int64_t size, int64_t offset) {
  if (size < 0 || uint64_t(size) > SIZE_MAX) throw std::length_error("row view too large");
  View v;
  v.Offset = offset;
  v.Size = size;
  // cleared: a write-only view that the caller fills in part never writes heap leftovers to the file
  v.Buffer.reset(new uint8_t[size_t(size ? size : 1)]());
  v.Access = access;
  if (Store && (access & iraRead) && !Store->ReadAt(offset, v.Buffer.get(), size))
    throw std::runtime_error("Temporary file read error");
  uint8_t* p = v.Buffer.get();
  Views.push_back(std::move(v));
  return p;
}

void TIEFileBuffer::WriteBack(View& v) {
  if (Store && (v.Access & iraWrite) && !Store->WriteAt(v.Offset, v.Buffer.get(), v.Size))
    throw std::runtime_error("Temporary file write error");
}

void TIEFileBuffer::ReleaseView(void* address) {
  for (size_t i = 0; i < Views.size(); ++i) {
    if (Views[i].Buffer.get() == address) {
      View v = std::move(Views[i]);
      Views.erase(Views.begin() + i);
      WriteBack(v);
      return;
    }
  }
}

void TIEFileBuffer::ReleaseAllViews() {
  if (!Store) return;
  while (!Views.empty()) {
    View v = std::move(Views.back());
    Views.pop_back();
    WriteBack(v);
  }
}

void TIEFileBuffer::CopyTo(TIEFileBuffer& dest, int64_t size, int64_t offset) {
  if (!Store || !dest.Store) return;
  ReleaseAllViews();
  dest.ReleaseAllViews();
  std::unique_ptr<uint8_t[]> buf(new uint8_t[kCopyChunk]);
  while (size > 0) {
    int64_t n = size < kCopyChunk ? size : kCopyChunk;
    if (!Store->ReadAt(offset, buf.get(), n) || !dest.Store->WriteAt(offset, buf.get(), n))
      throw std::runtime_error("Temporary file copy error");
    offset += n;
    size -= n;
  }
}

void TIEFileBuffer::Close() {
  if (!Store) return;
  ReleaseAllViews();
  bool wasFile = dynamic_cast<TIETemporaryFileStream*>(Store.get()) != nullptr;
  Store.reset();
  // delete-on-close already removed it; this covers a platform that ignored the flag
  if (wasFile) DeleteFileA(FileName.c_str());
}
