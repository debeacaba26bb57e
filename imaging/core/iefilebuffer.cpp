#include "iefilebuffer.h"

#include <windows.h>

#include <cstring>
#include <stdexcept>

#include "ietextutils.h"

namespace {

// File-to-file copies move this much at a time, without views.
constexpr int64_t kCopyChunk = 1048576;

}  // namespace

TIETemporaryFileStream::TIETemporaryFileStream(const std::string& name)
    : TIEHandleStream(CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_FLAG_DELETE_ON_CLOSE | FILE_ATTRIBUTE_TEMPORARY, nullptr)) {
  if (handle_ == INVALID_HANDLE_VALUE) throw EFCreateError("Unable to create " + name);
}

TIETemporaryFileStream::~TIETemporaryFileStream() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
}

// Whole transfers at an offset; a short one raises the stream's read or write error.
void TIEFileBuffer::ReadAt(int64_t offset, void* dst, int64_t n) {
  Store->Seek(offset, soFromBeginning);
  auto* p = static_cast<uint8_t*>(dst);
  for (; n > 0;) {
    int32_t chunk = int32_t(n > 0x40000000 ? 0x40000000 : n);
    Store->ReadBuffer(p, chunk);
    p += chunk;
    n -= chunk;
  }
}

void TIEFileBuffer::WriteAt(int64_t offset, const void* src, int64_t n) {
  Store->Seek(offset, soFromBeginning);
  auto* p = static_cast<const uint8_t*>(src);
  for (; n > 0;) {
    int32_t chunk = int32_t(n > 0x40000000 ? 0x40000000 : n);
    Store->WriteBuffer(p, chunk);
    p += chunk;
    n -= chunk;
  }
}

std::string IETempFolder;

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
    IEUniqueTempFileName(prefix, IETempFolder.empty() ? IEDefaultTempFolder() : IETempFolder, FileName);
    if (useFile)
      Store.reset(new TIETemporaryFileStream(FileName));
    else
      Store.reset(new TIEMemoryStream());
    Store->SetSize(size);
    if (Store->GetSize() == size) return true;
  } catch (const std::exception&) {
  }
  Store.reset();  // a store that could not take the size is not kept open
  return false;
}

uint8_t* TIEFileBuffer::MapView(TIERowAccess access, int64_t size, int64_t offset) {
  if (size < 0 || uint64_t(size) > SIZE_MAX) throw std::length_error("row view too large");
  View v;
  v.Offset = offset;
  v.Size = size;
  // cleared: a write-only view that the caller fills in part never writes heap leftovers to the file
  v.Buffer.reset(new uint8_t[size_t(size ? size : 1)]());
  v.Access = access;
  if (Store && (access & iraRead)) ReadAt(offset, v.Buffer.get(), size);
  uint8_t* p = v.Buffer.get();
  Views.push_back(std::move(v));
  return p;
}

void TIEFileBuffer::WriteBack(View& v) {
  if (Store && (v.Access & iraWrite)) WriteAt(v.Offset, v.Buffer.get(), v.Size);
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
    ReadAt(offset, buf.get(), n);
    dest.WriteAt(offset, buf.get(), n);
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
