// TIFF directories read through a stream.
#include "tifdirectory.h"

#include <algorithm>
#include <cstring>

#include "iestreams.h"
#include "ietiffhandler.h"

namespace {

// Reads of this size or less go through the read-ahead window, which holds this much.
constexpr uint64_t kSmallRead = 256;
constexpr uint64_t kWindowBytes = 4096;
// A directory holds at most 65535 entries; its table is read in one go.
constexpr uint64_t kEntryBytes = 12;

}  // namespace

TIETIFFFile::TIETIFFFile() = default;
TIETIFFFile::~TIETIFFFile() = default;

void TIETIFFFile::Open(TIEStream& stream, int64_t base) {
  stream_ = &stream;
  base_ = base;
  const int64_t size = stream.GetSize() - base;
  size_ = size > 0 ? uint64_t(size) : 0;
  window_.clear();
  windowAt_ = 0;
}

void TIETIFFFile::OpenMemory(const uint8_t* data, size_t size) {
  memory_.reset(new TIEMemStream(data, int64_t(size)));
  Open(*memory_, 0);
}

bool TIETIFFFile::Read(uint64_t off, void* dst, uint64_t n) const {
  if (!stream_ || !Has(off, n)) return false;
  if (n == 0) return true;
  if (n <= kSmallRead) {
    if (off < windowAt_ || off + n > windowAt_ + window_.size()) {
      const uint64_t len = std::min(kWindowBytes, size_ - off);
      window_.resize(size_t(len));
      windowAt_ = off;
      stream_->SetPosition(base_ + int64_t(off));
      int32_t got = 0;
      while (uint64_t(got) < len) {
        const int32_t k = stream_->Read(window_.data() + got, int32_t(len) - got);
        if (k <= 0) break;
        got += k;
      }
      window_.resize(size_t(got));
      if (off + n > windowAt_ + window_.size()) return false;
    }
    std::memcpy(dst, window_.data() + (off - windowAt_), size_t(n));
    return true;
  }
  stream_->SetPosition(base_ + int64_t(off));
  auto* d = static_cast<uint8_t*>(dst);
  while (n > 0) {
    const int32_t want = int32_t(std::min<uint64_t>(n, uint64_t(1) << 30));
    const int32_t k = stream_->Read(d, want);
    if (k <= 0) return false;
    d += k;
    n -= uint64_t(k);
  }
  return true;
}

uint32_t TIETIFFFile::U16(uint64_t off) const {
  uint8_t p[2];
  if (!Read(off, p, 2)) return 0;
  return bigEndian ? uint32_t(p[0] << 8 | p[1]) : uint32_t(p[1] << 8 | p[0]);
}

uint32_t TIETIFFFile::U32(uint64_t off) const {
  uint8_t p[4];
  if (!Read(off, p, 4)) return 0;
  return bigEndian ? (uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3])
                   : (uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]);
}

bool TIETIFFEntry::Inline() const { return uint64_t(count) * IETIFFTypeSize(type) <= 4; }

namespace {

// Element i of an integer entry from its bytes `p` (the element's first byte).
uint32_t Element(const uint8_t* p, uint16_t type, bool big) {
  switch (type) {
    case 1: case 6: case 7: return p[0];
    case 3: case 8: return big ? uint32_t(p[0] << 8 | p[1]) : uint32_t(p[1] << 8 | p[0]);
    default:
      return big ? (uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3])
                 : (uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]);
  }
}

bool IntegerType(uint16_t type) {
  switch (type) {
    case 1: case 6: case 7: case 3: case 8: case 4: case 9: case 13: return true;
    default: return false;
  }
}

}  // namespace

uint32_t TIETIFFDirectory::Value(uint16_t tag, uint32_t i, uint32_t def) const {
  const TIETIFFEntry* e = Find(tag);
  if (!e || i >= e->count || !IntegerType(e->type)) return def;
  const uint32_t size = IETIFFTypeSize(e->type);
  uint8_t p[4];
  if (e->Inline()) {
    std::memcpy(p, e->inlineBytes + size_t(i) * size, size);
  } else if (!file->Read(e->valueOffset + uint64_t(i) * size, p, size)) {
    return def;
  }
  return Element(p, e->type, file->bigEndian);
}

std::vector<uint32_t> TIETIFFDirectory::Values(uint16_t tag, uint32_t n) const {
  std::vector<uint32_t> out;
  const TIETIFFEntry* e = Find(tag);
  if (!e || n > e->count || !IntegerType(e->type)) return out;
  const uint32_t size = IETIFFTypeSize(e->type);
  std::vector<uint8_t> bytes(size_t(n) * size);
  if (e->Inline()) {
    if (!bytes.empty()) std::memcpy(bytes.data(), e->inlineBytes, bytes.size());
  } else if (!file->Read(e->valueOffset, bytes.data(), bytes.size())) {
    return out;
  }
  out.resize(n);
  for (uint32_t i = 0; i < n; ++i) out[i] = Element(&bytes[size_t(i) * size], e->type, file->bigEndian);
  return out;
}

double TIETIFFDirectory::Rational(uint16_t tag, uint32_t i) const {
  const TIETIFFEntry* e = Find(tag);
  if (!e || i >= e->count || (e->type != 5 && e->type != 10)) return 0;
  const uint64_t off = e->valueOffset + uint64_t(i) * 8;
  const uint32_t n = file->U32(off), d = file->U32(off + 4);
  if (!d) return 0;
  return e->type == 10 ? double(int32_t(n)) / double(int32_t(d)) : double(n) / d;
}

std::string TIETIFFDirectory::Bytes(uint16_t tag) const {
  const TIETIFFEntry* e = Find(tag);
  if (!e) return std::string();
  const uint64_t n = uint64_t(e->count) * IETIFFTypeSize(e->type);
  if (e->Inline()) return std::string(reinterpret_cast<const char*>(e->inlineBytes), size_t(n));
  if (!file->Has(e->valueOffset, n)) return std::string();
  std::string s(size_t(n), '\0');
  if (!file->Read(e->valueOffset, &s[0], n)) return std::string();
  return s;
}

bool IETIFFReadDirectory(const TIETIFFFile& f, uint64_t off, TIETIFFDirectory& ifd, uint64_t& next) {
  ifd.file = &f;
  if (!f.Has(off, 2)) return false;
  const uint32_t n = f.U16(off);
  std::vector<uint8_t> table(size_t(n) * kEntryBytes + 4);
  if (!f.Read(off + 2, table.data(), table.size())) return false;
  const bool big = f.bigEndian;
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t* p = &table[size_t(i) * kEntryBytes];
    TIETIFFEntry t;
    t.type = uint16_t(Element(p + 2, 3, big));
    t.count = Element(p + 4, 4, big);
    if (IETIFFTypeSize(t.type) == 0) continue;
    const uint64_t size = uint64_t(t.count) * IETIFFTypeSize(t.type);
    const uint64_t at = off + 2 + uint64_t(i) * kEntryBytes + 8;
    std::memcpy(t.inlineBytes, p + 8, 4);
    t.valueOffset = size <= 4 ? at : Element(p + 8, 4, big);
    const uint16_t tag = uint16_t(Element(p, 3, big));
    if (!f.Has(t.valueOffset, size)) {
      ifd.dropped.push_back(tag);
      continue;
    }
    ifd.entries.emplace_back(tag, t);
  }
  next = Element(&table[size_t(n) * kEntryBytes], 4, big);
  return true;
}

bool IETIFFNextDirectory(const TIETIFFFile& f, uint64_t off, uint64_t& next) {
  if (!f.Has(off, 2)) return false;
  const uint64_t at = off + 2 + uint64_t(f.U16(off)) * kEntryBytes;
  if (!f.Has(at, 4)) return false;
  next = f.U32(at);
  return true;
}
