#include "zip_reader.h"

#include <zlib.h>

#include "byte_order.h"

namespace presenter {
namespace {

// A slide part or picture larger than this is not something a deck needs; it is refused rather
// than allocated.
constexpr uint32_t kMaxMemberSize = 64u << 20;
// All members read from one archive together (the same picture may be read for many slides).
constexpr uint64_t kMaxInflatedTotal = 512ull << 20;
constexpr uint32_t kEndRecordSize = 22;
constexpr uint32_t kMaxCommentSize = 0xFFFF;
constexpr uint32_t kCentralHeaderSize = 46;
constexpr uint32_t kLocalHeaderSize = 30;

constexpr uint32_t kSigLocal = 0x04034b50;
constexpr uint32_t kSigCentral = 0x02014b50;
constexpr uint32_t kSigEnd = 0x06054b50;
constexpr uint32_t kSigZip64Locator = 0x07064b50;
constexpr uint16_t kZip64ExtraId = 0x0001;
constexpr uint16_t kFlagEncrypted = 0x0001;

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

}  // namespace

bool ZipReader::Open(const std::string& data, std::string& error) {
  data_ = &data;
  entries_.clear();
  inflatedTotal_ = 0;
  const uint64_t size = data.size();
  const uint8_t* d = Bytes(data);
  if (size < kEndRecordSize) {
    error = "not a ZIP archive (too short)";
    return false;
  }
  // The end record sits in the last 22 + comment bytes; search backwards for its signature.
  const uint64_t lowest = size > kEndRecordSize + kMaxCommentSize ? size - kEndRecordSize - kMaxCommentSize : 0;
  uint64_t end = UINT64_MAX;
  for (uint64_t p = size - kEndRecordSize + 1; p-- > lowest;) {
    if (ReadU32LE(d + p) == kSigEnd && p + kEndRecordSize + ReadU16LE(d + p + 20) == size) {
      end = p;
      break;
    }
  }
  if (end == UINT64_MAX) {
    error = "not a ZIP archive (no end of central directory)";
    return false;
  }
  if (end >= 20 && ReadU32LE(d + end - 20) == kSigZip64Locator) {
    error = "ZIP64 archives are not supported";
    return false;
  }
  const uint16_t disk = ReadU16LE(d + end + 4), cdDisk = ReadU16LE(d + end + 6);
  const uint16_t countHere = ReadU16LE(d + end + 8), count = ReadU16LE(d + end + 10);
  const uint32_t cdSize = ReadU32LE(d + end + 12), cdOffset = ReadU32LE(d + end + 16);
  if (count == 0xFFFF || cdSize == 0xFFFFFFFF || cdOffset == 0xFFFFFFFF) {
    error = "ZIP64 archives are not supported";
    return false;
  }
  if (disk != 0 || cdDisk != 0 || countHere != count) {
    error = "multi-disk ZIP archives are not supported";
    return false;
  }
  if (uint64_t(cdOffset) + cdSize > end) {
    error = "ZIP central directory lies outside the file";
    return false;
  }
  centralDirOffset_ = cdOffset;
  uint64_t p = cdOffset;
  const uint64_t cdEnd = uint64_t(cdOffset) + cdSize;
  for (uint32_t i = 0; i < count; i++) {
    if (p + kCentralHeaderSize > cdEnd || ReadU32LE(d + p) != kSigCentral) {
      error = "ZIP central directory is damaged";
      return false;
    }
    const uint16_t flags = ReadU16LE(d + p + 8);
    Entry e{ReadU16LE(d + p + 10), ReadU32LE(d + p + 16), ReadU32LE(d + p + 20), ReadU32LE(d + p + 24),
            ReadU32LE(d + p + 42)};
    const uint16_t nameLen = ReadU16LE(d + p + 28), extraLen = ReadU16LE(d + p + 30),
                   commentLen = ReadU16LE(d + p + 32), startDisk = ReadU16LE(d + p + 34);
    const uint64_t next = p + kCentralHeaderSize + nameLen + extraLen + commentLen;
    if (next > cdEnd || nameLen == 0) {
      error = "ZIP central directory is damaged";
      return false;
    }
    std::string name(data, size_t(p + kCentralHeaderSize), nameLen);
    if (e.compressedSize == 0xFFFFFFFF || e.size == 0xFFFFFFFF || e.localOffset == 0xFFFFFFFF) {
      error = "ZIP64 member \"" + name + "\" is not supported";
      return false;
    }
    for (uint64_t x = p + kCentralHeaderSize + nameLen; x + 4 <= p + kCentralHeaderSize + nameLen + extraLen;) {
      const uint16_t id = ReadU16LE(d + x), len = ReadU16LE(d + x + 2);
      if (id == kZip64ExtraId) {
        error = "ZIP64 member \"" + name + "\" is not supported";
        return false;
      }
      x += 4ull + len;
    }
    if (flags & kFlagEncrypted) {
      error = "ZIP member \"" + name + "\" is encrypted";
      return false;
    }
    if (startDisk != 0) {
      error = "multi-disk ZIP archives are not supported";
      return false;
    }
    if (name.find('\0') != std::string::npos || !entries_.emplace(name, e).second) {
      error = "ZIP member name \"" + name + "\" is invalid or repeated";
      return false;
    }
    p = next;
  }
  return true;
}

bool ZipReader::Read(const std::string& name, std::string& out, std::string& error) const {
  out.clear();
  auto it = entries_.find(name);
  if (it == entries_.end() || !data_) {
    error = "package part \"" + name + "\" is missing";
    return false;
  }
  const Entry& e = it->second;
  const uint8_t* d = Bytes(*data_);
  const uint64_t lh = e.localOffset;
  if (lh + kLocalHeaderSize > centralDirOffset_ || ReadU32LE(d + lh) != kSigLocal) {
    error = "ZIP member \"" + name + "\" has no valid local header";
    return false;
  }
  const uint64_t extra = lh + kLocalHeaderSize + ReadU16LE(d + lh + 26);
  const uint64_t start = extra + ReadU16LE(d + lh + 28);
  if (start > centralDirOffset_) {
    error = "ZIP member \"" + name + "\" has no valid local header";
    return false;
  }
  // A writer may mark only the local header as ZIP64 when it did not know the size in advance.
  bool zip64 = ReadU32LE(d + lh + 18) == 0xFFFFFFFF || ReadU32LE(d + lh + 22) == 0xFFFFFFFF;
  for (uint64_t x = extra; x + 4 <= start; x += 4ull + ReadU16LE(d + x + 2))
    zip64 |= ReadU16LE(d + x) == kZip64ExtraId;
  if (zip64) {
    error = "ZIP64 member \"" + name + "\" is not supported";
    return false;
  }
  if (start + e.compressedSize > centralDirOffset_) {
    error = "ZIP member \"" + name + "\" runs past the end of its data";
    return false;
  }
  if (e.size > kMaxMemberSize || inflatedTotal_ + e.size > kMaxInflatedTotal) {
    error = "ZIP member \"" + name + "\" is too large (" + std::to_string(e.size) + " bytes)";
    return false;
  }
  if (e.method == 0) {
    if (e.compressedSize != e.size) {
      error = "ZIP member \"" + name + "\" has inconsistent sizes";
      return false;
    }
    out.assign(*data_, size_t(start), e.size);
  } else if (e.method == 8) {
    out.assign(e.size, '\0');
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) {
      error = "zlib could not start";
      return false;
    }
    z.next_in = const_cast<Bytef*>(d + start);
    z.avail_in = e.compressedSize;
    // One spare byte so that data longer than declared shows up as output left over.
    Bytef spare = 0;
    z.next_out = e.size ? reinterpret_cast<Bytef*>(&out[0]) : &spare;
    z.avail_out = e.size ? e.size : 1;
    const int r = inflate(&z, Z_FINISH);
    const uLong produced = z.total_out;
    inflateEnd(&z);
    if (r != Z_STREAM_END || produced != e.size) {
      out.clear();
      error = "ZIP member \"" + name + "\" has damaged compressed data";
      return false;
    }
  } else {
    error = "ZIP member \"" + name + "\" uses unsupported compression method " + std::to_string(e.method);
    return false;
  }
  if (crc32(0, reinterpret_cast<const Bytef*>(out.data()), uInt(out.size())) != e.crc) {
    out.clear();
    error = "ZIP member \"" + name + "\" fails its CRC check";
    return false;
  }
  inflatedTotal_ += e.size;
  return true;
}

}  // namespace presenter
