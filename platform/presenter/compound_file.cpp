#include "compound_file.h"

#include <algorithm>
#include <cstring>
#include <cwctype>

#include "byte_order.h"

namespace presenter {
namespace {

constexpr uint32_t kHeaderSize = 512;
constexpr uint32_t kHeaderDifatEntries = 109;
constexpr uint32_t kDirectoryEntrySize = 128;
// Sector ids at and above this are markers (free, end of chain, FAT, DIFAT), not sectors.
constexpr uint32_t kMaxRegularSector = 0xFFFFFFFA;
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kNoStream = 0xFFFFFFFF;
// A directory with more entries than this is not a document this reader needs.
constexpr uint64_t kMaxDirectoryEntries = 1u << 16;

const uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

bool SameName(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); i++)
    if (towlower(a[i]) != towlower(b[i])) return false;
  return true;
}

}  // namespace

// Follows a chain from `start` through `table`, appending whole sectors, until the end marker or
// `limitBytes`. Each sector may be visited once: a chain longer than the table loops.
bool CompoundFile::Chain(uint32_t start, const std::vector<uint32_t>& table, uint64_t limitBytes, bool mini,
                         std::string& out, std::string& error) const {
  out.clear();
  const uint32_t shift = mini ? miniShift_ : sectorShift_;
  const uint64_t sectorSize = uint64_t(1) << shift;
  const std::string& base = mini ? miniStream_ : *data_;
  const uint64_t baseOffset = mini ? 0 : sectorSize;  // regular sector 0 follows the header sector
  uint64_t steps = 0;
  for (uint32_t s = start; s != kEndOfChain && out.size() < limitBytes;) {
    if (s >= kMaxRegularSector || s >= table.size()) {
      error = "a sector chain points outside the file";
      return false;
    }
    if (++steps > table.size()) {
      error = "a sector chain loops";
      return false;
    }
    const uint64_t offset = baseOffset + (uint64_t(s) << shift);
    if (offset >= base.size()) {
      error = "a sector lies beyond the end of the file";
      return false;
    }
    // The last sector of a file may be cut short; the missing bytes would be padding.
    const uint64_t take = std::min<uint64_t>(sectorSize, base.size() - offset);
    out.append(base, size_t(offset), size_t(take));
    s = table[s];
  }
  if (out.size() > limitBytes) out.resize(size_t(limitBytes));
  return true;
}

bool CompoundFile::Open(const std::string& data, std::string& error) {
  data_ = &data;
  fat_.clear();
  miniFat_.clear();
  miniStream_.clear();
  directory_.clear();
  const uint8_t* d = Bytes(data);
  if (data.size() < kHeaderSize || memcmp(d, kSignature, 8) != 0) {
    error = "not a compound file";
    return false;
  }
  sectorShift_ = ReadU16LE(d + 0x1E);
  miniShift_ = ReadU16LE(d + 0x20);
  miniCutoff_ = ReadU32LE(d + 0x38);
  if (ReadU16LE(d + 0x1C) != 0xFFFE || (sectorShift_ != 9 && sectorShift_ != 12) || miniShift_ != 6 ||
      miniCutoff_ != 4096) {
    error = "the compound file header is invalid";
    return false;
  }
  const uint64_t sectorSize = uint64_t(1) << sectorShift_;
  const uint32_t perSector = uint32_t(sectorSize / 4);
  sectorCount_ = data.size() > sectorSize ? (data.size() - sectorSize + sectorSize - 1) / sectorSize : 0;

  // DIFAT: 109 entries in the header, then a chain of DIFAT sectors whose last entry links on.
  const uint32_t fatSectors = ReadU32LE(d + 0x2C);
  if (fatSectors > sectorCount_) {
    error = "the compound file claims more FAT sectors than it has";
    return false;
  }
  std::vector<uint32_t> difat;
  for (uint32_t i = 0; i < kHeaderDifatEntries && difat.size() < fatSectors; i++) difat.push_back(ReadU32LE(d + 0x4C + 4 * i));
  uint32_t next = ReadU32LE(d + 0x44);
  for (uint64_t hops = 0; difat.size() < fatSectors; hops++) {
    if (next >= sectorCount_ || hops >= sectorCount_) {
      error = "the compound file's DIFAT is damaged";
      return false;
    }
    const uint64_t o = sectorSize + uint64_t(next) * sectorSize;
    if (o + sectorSize > data.size()) {
      error = "the compound file's DIFAT is damaged";
      return false;
    }
    for (uint32_t i = 0; i + 1 < perSector && difat.size() < fatSectors; i++) difat.push_back(ReadU32LE(d + o + 4 * i));
    next = ReadU32LE(d + o + 4 * (perSector - 1));
  }
  for (uint32_t s : difat) {
    const uint64_t o = sectorSize + uint64_t(s) * sectorSize;
    if (s >= sectorCount_ || o + sectorSize > data.size()) {
      error = "a FAT sector lies beyond the end of the file";
      return false;
    }
    for (uint32_t i = 0; i < perSector; i++) fat_.push_back(ReadU32LE(d + o + 4 * i));
  }

  std::string dir;
  if (!Chain(ReadU32LE(d + 0x30), fat_, kMaxDirectoryEntries * kDirectoryEntrySize, false, dir, error)) return false;
  for (size_t o = 0; o + kDirectoryEntrySize <= dir.size(); o += kDirectoryEntrySize) {
    const uint8_t* e = Bytes(dir) + o;
    DirectoryEntry entry;
    const uint16_t nameBytes = ReadU16LE(e + 0x40);
    if (nameBytes > 64 || nameBytes % 2) continue;  // damaged entry: not one we can name
    for (uint16_t i = 0; i + 2 < nameBytes; i += 2) entry.name += wchar_t(ReadU16LE(e + i));
    entry.type = e[0x42];
    entry.start = ReadU32LE(e + 0x74);
    // Version 3 files may leave garbage in the high half of the size.
    entry.size = ReadU32LE(e + 0x78) | (sectorShift_ == 12 ? uint64_t(ReadU32LE(e + 0x7C)) << 32 : 0);
    directory_.push_back(entry);
  }
  if (directory_.empty() || directory_[0].type != 5) {
    error = "the compound file has no root entry";
    return false;
  }
  // The mini stream is the root entry's stream; the mini FAT describes its 64-byte sectors.
  const DirectoryEntry& root = directory_[0];
  if (root.size > data.size()) {
    error = "the compound file's mini stream is larger than the file";
    return false;
  }
  if (root.size && !Chain(root.start, fat_, root.size, false, miniStream_, error)) return false;
  std::string miniFat;
  const uint64_t miniFatSectors = ReadU32LE(d + 0x40);
  if (miniFatSectors > sectorCount_) {
    error = "the compound file claims more mini FAT sectors than it has";
    return false;
  }
  if (miniFatSectors && !Chain(ReadU32LE(d + 0x3C), fat_, miniFatSectors * sectorSize, false, miniFat, error))
    return false;
  for (size_t o = 0; o + 4 <= miniFat.size(); o += 4) miniFat_.push_back(ReadU32LE(Bytes(miniFat) + o));
  return true;
}

bool CompoundFile::ReadStream(const std::wstring& name, std::string& out, std::string& error) const {
  out.clear();
  for (const DirectoryEntry& e : directory_) {
    if (e.type != 2 || !SameName(e.name, name)) continue;
    if (e.size > data_->size()) {
      error = "the stream is larger than the file";
      return false;
    }
    if (e.size == 0 || e.start == kNoStream) return e.size == 0;
    const bool mini = e.size < miniCutoff_;
    if (!Chain(e.start, mini ? miniFat_ : fat_, e.size, mini, out, error)) return false;
    if (out.size() != e.size) {
      out.clear();
      error = "the stream is shorter than its directory entry says";
      return false;
    }
    return true;
  }
  error = "the compound file has no stream named \"";
  for (wchar_t c : name) error += c < 128 ? char(c) : '?';
  error += "\"";
  return false;
}

}  // namespace presenter
