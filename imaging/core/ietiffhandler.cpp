#include "ietiffhandler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>

namespace {
constexpr uint16_t kCompression = 259, kStripOffsets = 273, kStripByteCounts = 279;
constexpr uint16_t kJPEGInterchange = 513, kJPEGInterchangeLength = 514;
constexpr uint16_t kJPEGTables[] = {519, 520, 521};
constexpr uint16_t kOldJPEG = 6;
constexpr uint16_t kTypeLong = 4, kTypeASCII = 2;
constexpr uint16_t kMagicHDPhoto = 444;
constexpr int64_t kMaxStreamSize = 0x7FFFFFFF;
// Data blocks may overlap in a hostile file; more than this many times the file's size in total is
// refused instead of allocated.
constexpr uint64_t kMaxReadFactor = 4;

uint16_t Get16(const uint8_t* p, bool be) { return be ? IEReadU16BE(p) : IEReadU16LE(p); }
uint32_t Get32(const uint8_t* p, bool be) { return be ? IEReadU32BE(p) : IEReadU32LE(p); }
void Put16(uint8_t* p, uint16_t v, bool be) {
  if (be) { p[0] = uint8_t(v >> 8); p[1] = uint8_t(v); } else IEWriteU16LE(p, v);
}
void Put32(uint8_t* p, uint32_t v, bool be) {
  if (be) { p[0] = uint8_t(v >> 24); p[1] = uint8_t(v >> 16); p[2] = uint8_t(v >> 8); p[3] = uint8_t(v); }
  else IEWriteU32LE(p, v);
}
uint64_t ValueSize(const TIETIFFTag& e) { return uint64_t(e.count) * IETIFFTypeSize(e.type); }

void SortList(TIETIFFTagList& list) {
  std::stable_sort(list.begin(), list.end(), [](const TIETIFFTag& a, const TIETIFFTag& b) { return a.tag < b.tag; });
}
}  // namespace

uint32_t IETIFFTypeSize(uint16_t type) {
  static const uint8_t kSizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};  // 13: IFD, as LONG
  return type < sizeof kSizes ? kSizes[type] : 0;
}

bool TIETIFFHandler::IsSubIFDTag(uint16_t tag) { return tag == 34665 || tag == 34853 || tag == 40965; }

std::vector<std::pair<uint16_t, uint16_t>> TIETIFFHandler::GetOffsetsTags() const {
  std::vector<std::pair<uint16_t, uint16_t>> r = {{273, 279}, {324, 325}, {513, 514}};
  if (magic_ == kMagicHDPhoto) {
    r.push_back({48320, 48321});
    r.push_back({48322, 48323});
  }
  return r;
}

// ---------------------------------------------------------------- reading
// The reader works on the whole stream in memory, so every offset and size is checked against one
// known end before a byte is copied.
struct TIETIFFHandler::Reader {
  explicit Reader(TIETIFFHandler& handler) : h(handler) {}
  TIETIFFHandler& h;
  std::vector<uint8_t> file;
  std::set<uint32_t> visited;  // directory offsets already read: a chain never loops
  uint64_t budget = 0;         // bytes still allowed for value and data blocks

  bool Has(uint64_t offset, uint64_t size) const { return offset <= file.size() && size <= file.size() - offset; }
  bool Take(uint64_t size) {
    if (size > budget) return false;
    budget -= size;
    return true;
  }

  // Reads the directory at `offset` into `list`; false when it cannot be read at all.
  bool ReadIFD(uint32_t offset, TIETIFFTagList& list, int depth, uint32_t* next) {
    if (!visited.insert(offset).second || !Has(offset, 2)) return false;
    const bool be = h.bigEndian_;
    const uint32_t n = Get16(&file[offset], be);
    if (!Has(uint64_t(offset) + 2, uint64_t(n) * 12 + (next ? 4 : 0))) return false;
    for (uint32_t k = 0; k < n; ++k) {
      const uint8_t* p = &file[offset + 2 + 12 * k];
      TIETIFFTag e;
      e.tag = Get16(p, be);
      e.type = Get16(p + 2, be);
      e.count = Get32(p + 4, be);
      std::memcpy(e.inlineValue, p + 8, 4);
      if (IETIFFTypeSize(e.type) == 0) continue;  // an unknown type cannot be sized: dropped
      const uint64_t size = ValueSize(e);
      if (size > 4) {
        const uint32_t at = Get32(p + 8, be);
        if (!Has(at, size) || !Take(size)) continue;
        e.block.assign(file.begin() + at, file.begin() + at + size);
      }
      if (IsSubIFDTag(e.tag)) {
        if (depth >= kMaxSubIFDDepth || size != 4) continue;
        auto sub = std::make_shared<TIETIFFTagList>();
        if (!ReadIFD(Get32(e.inlineValue, be), *sub, depth + 1, nullptr)) continue;
        e.subIFD = sub;
      }
      list.push_back(std::move(e));
    }
    ReadDataBlocks(list);
    DropOldJPEGStrips(list);
    SortList(list);
    if (next) *next = Get32(&file[offset + 2 + 12 * n], be);
    return true;
  }

  // Replaces every offsets tag by the blocks it points to; a tag whose blocks do not lie inside the
  // file (or whose byte counts are missing) is dropped.
  void ReadDataBlocks(TIETIFFTagList& list) {
    for (auto [offTag, lenTag] : h.GetOffsetsTags()) {
      int oi = FindTagInList(list, offTag);
      if (oi < 0) continue;
      int li = FindTagInList(list, lenTag);
      TIETIFFTag& e = list[oi];
      bool ok = li >= 0 && list[li].count >= e.count && e.count > 0;
      std::vector<std::vector<uint8_t>> blocks;
      for (uint32_t i = 0; ok && i < e.count; ++i) {
        uint64_t at = uint64_t(h.GetTagValueAt(list, oi, i));
        uint64_t len = uint64_t(h.GetTagValueAt(list, li, i));
        ok = Has(at, len) && Take(len);
        if (ok) blocks.emplace_back(file.begin() + at, file.begin() + at + len);
      }
      if (!ok) {
        list.erase(list.begin() + oi);
        continue;
      }
      e.dataBlocks = std::move(blocks);
      e.block.clear();
      e.type = kTypeLong;
      std::memset(e.inlineValue, 0, 4);
    }
  }

  // An old-style JPEG page keeps its image as the JPEG interchange block only.
  void DropOldJPEGStrips(TIETIFFTagList& list) {
    if (h.GetTagValue(list, kCompression, 0) != kOldJPEG) return;
    int s = FindTagInList(list, kStripOffsets);
    if (s < 0 || FindTagInList(list, kJPEGInterchange) < 0) return;
    list.erase(list.begin() + s);
    for (uint16_t t : kJPEGTables) {
      int i = FindTagInList(list, t);
      if (i >= 0) list.erase(list.begin() + i);
    }
  }
};

bool TIETIFFHandler::ReadStream(TIEStream& stream) {
  Clear();
  const int64_t start = stream.GetPosition();
  const int64_t size = stream.GetSize();
  // The header is read at the stream's position, but every offset of the structure is an absolute
  // stream position: the whole stream is taken into memory.
  if (size < 8 || size > kMaxStreamSize || start < 0 || start > size - 8) return false;
  Reader r(*this);
  r.file.resize(size_t(size));
  stream.SetPosition(0);
  int64_t got = 0;
  while (got < size) {
    int32_t n = stream.Read(r.file.data() + got, int32_t(std::min<int64_t>(size - got, 1 << 20)));
    if (n <= 0) break;
    got += n;
  }
  r.file.resize(size_t(got));
  if (!r.Has(uint64_t(start), 8)) return false;
  const uint8_t* hdr = &r.file[size_t(start)];
  if (!((hdr[0] == 'I' && hdr[1] == 'I') || (hdr[0] == 'M' && hdr[1] == 'M'))) return false;
  bigEndian_ = hdr[0] == 'M';
  magic_ = Get16(hdr + 2, bigEndian_);
  r.budget = kMaxReadFactor * r.file.size() + 65536;
  uint32_t offset = Get32(hdr + 4, bigEndian_);
  while (offset != 0 && offset < r.file.size() && int(pages_.size()) < kMaxPages) {
    auto list = std::make_shared<TIETIFFTagList>();
    uint32_t next = 0;
    if (!r.ReadIFD(offset, *list, 0, &next)) break;
    pages_.push_back(list);
    offset = next;
  }
  return true;
}

bool TIETIFFHandler::LoadFromFile(const std::wstring& fileName) {
  Clear();
  if (GetFileAttributesW(fileName.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
  TIEWideFileStream f(fileName, fmOpenRead | fmShareDenyWrite);
  return ReadStream(f);
}

std::unique_ptr<TIETIFFHandler> TIETIFFHandler::CreateFromFile(const std::wstring& fileName) {
  auto h = std::make_unique<TIETIFFHandler>();
  h->LoadFromFile(fileName);
  return h;
}

std::unique_ptr<TIETIFFHandler> TIETIFFHandler::CreateFromStream(TIEStream& stream) {
  auto h = std::make_unique<TIETIFFHandler>();
  h->ReadStream(stream);
  return h;
}

void TIETIFFHandler::Clear() {
  pages_.clear();
  bigEndian_ = false;
  magic_ = 42;
}

// ---------------------------------------------------------------- tag access
TIETIFFTagList* TIETIFFHandler::Page(int page) {
  return page >= 0 && page < PagesCount() ? pages_[page].get() : nullptr;
}

int TIETIFFHandler::FindTagInList(const TIETIFFTagList& list, uint16_t tag) {
  for (size_t i = 0; i < list.size(); ++i)
    if (list[i].tag == tag) return int(i);
  return -1;
}

int TIETIFFHandler::FindTag(int page, uint16_t tag) {
  TIETIFFTagList* l = Page(page);
  return l ? FindTagInList(*l, tag) : -1;
}

const uint8_t* TIETIFFHandler::GetElementPtr(const TIETIFFTag& e, uint32_t i) const {
  const uint32_t sz = IETIFFTypeSize(e.type);
  if (sz == 0 || i >= e.count || !e.dataBlocks.empty() || e.subIFD) return nullptr;
  const uint64_t at = uint64_t(i) * sz;
  if (ValueSize(e) <= 4) return e.inlineValue + at;
  return at + sz <= e.block.size() ? e.block.data() + at : nullptr;
}

int64_t TIETIFFHandler::GetTagValueAt(const TIETIFFTagList& list, int index, uint32_t i) const {
  if (index < 0 || index >= int(list.size())) return 0;
  const TIETIFFTag& e = list[index];
  const uint8_t* p = GetElementPtr(e, i);
  if (!p) return 0;
  switch (e.type) {
    case 1: case 2: case 7: return p[0];
    case 6: return int8_t(p[0]);
    case 3: case 8: return Get16(p, bigEndian_);
    case 4: case 9: case 13: return Get32(p, bigEndian_);
    default: return 0;
  }
}

int64_t TIETIFFHandler::GetTagValue(const TIETIFFTagList& list, uint16_t tag, uint32_t i) const {
  return GetTagValueAt(list, FindTagInList(list, tag), i);
}

bool TIETIFFHandler::SetTagValue(TIETIFFTagList& list, uint16_t tag, uint16_t type, double value) {
  TIETIFFTag e;
  e.tag = tag;
  e.type = type;
  e.count = 1;
  uint8_t v[8] = {};
  const bool be = bigEndian_;
  switch (type) {
    case 1: case 6: case 7: v[0] = uint8_t(int64_t(value)); break;
    case 3: case 8: Put16(v, uint16_t(int64_t(value)), be); break;
    case 4: case 9: Put32(v, uint32_t(int64_t(value)), be); break;
    case 5: case 10: Put32(v, uint32_t(int64_t(std::trunc(value * 10000))), be); Put32(v + 4, 10000, be); break;
    case 11: { float f = float(value); uint32_t b; std::memcpy(&b, &f, 4); Put32(v, b, be); break; }
    case 12: {
      uint64_t b;
      std::memcpy(&b, &value, 8);
      if (be) { Put32(v, uint32_t(b >> 32), true); Put32(v + 4, uint32_t(b), true); }
      else { Put32(v, uint32_t(b), false); Put32(v + 4, uint32_t(b >> 32), false); }
      break;
    }
    default: return false;
  }
  const uint32_t sz = IETIFFTypeSize(type);
  if (sz <= 4) std::memcpy(e.inlineValue, v, 4);
  else e.block.assign(v, v + sz);
  int old = FindTagInList(list, tag);
  if (old >= 0) list.erase(list.begin() + old);
  list.push_back(std::move(e));
  return true;
}

void TIETIFFHandler::SetTagValue(TIETIFFTagList& list, uint16_t tag, const std::string& text) {
  TIETIFFTag e;
  e.tag = tag;
  e.type = kTypeASCII;
  e.count = uint32_t(text.size() + 1);
  std::vector<uint8_t> bytes(text.begin(), text.end());
  bytes.push_back(0);
  if (bytes.size() <= 4) std::memcpy(e.inlineValue, bytes.data(), bytes.size());
  else e.block = std::move(bytes);
  int old = FindTagInList(list, tag);
  if (old >= 0) list.erase(list.begin() + old);
  list.push_back(std::move(e));
}

void TIETIFFHandler::DeleteTag(TIETIFFTagList& list, int index) {
  if (index >= 0 && index < int(list.size())) list.erase(list.begin() + index);
}

void TIETIFFHandler::DeleteTag(int page, int index) {
  if (TIETIFFTagList* l = Page(page)) DeleteTag(*l, index);
}

void TIETIFFHandler::DeletePage(int page) {
  if (Page(page)) pages_.erase(pages_.begin() + page);
}

void TIETIFFHandler::SortPage(int page) {
  if (TIETIFFTagList* l = Page(page)) SortList(*l);
}

namespace {
TIETIFFTag DeepCopy(const TIETIFFTag& e) {
  TIETIFFTag c = e;
  if (e.subIFD) {
    c.subIFD = std::make_shared<TIETIFFTagList>();
    for (const TIETIFFTag& t : *e.subIFD) c.subIFD->push_back(DeepCopy(t));
  }
  return c;
}
}  // namespace

void TIETIFFHandler::CopyTag(int srcPage, int index, const TIETIFFHandler& source, int dstPage) {
  TIETIFFTagList* dst = Page(dstPage);
  if (!dst || srcPage < 0 || srcPage >= source.PagesCount() || index < 0) return;
  const TIETIFFTagList& src = *source.pages_[srcPage];
  if (index >= int(src.size()) || source.bigEndian_ != bigEndian_) return;
  TIETIFFTag copy = DeepCopy(src[index]);
  int old = FindTagInList(*dst, copy.tag);
  if (old >= 0) dst->erase(dst->begin() + old);
  dst->push_back(std::move(copy));
}

// ---------------------------------------------------------------- writing
struct TIETIFFHandler::Writer {
  Writer(TIETIFFHandler& handler, TIEStream& stream) : h(handler), s(stream) {}
  TIETIFFHandler& h;
  TIEStream& s;
  std::atomic<bool> abort{false};

  void Put(const void* p, size_t n) { IEStreamWriteCheck(s, abort, p, int32_t(n)); }
  void IEAlignStreamWord() {
    if (s.GetPosition() & 1) {
      uint8_t z = 0;
      Put(&z, 1);
    }
  }
  uint32_t Pos() { return uint32_t(s.GetPosition()); }

  // Writes the entry's blocks at the current position and returns the entry as it goes in the file.
  TIETIFFTag WriteTagData(const TIETIFFTag& e) {
    const bool be = h.bigEndian_;
    TIETIFFTag out;
    out.tag = e.tag;
    out.type = e.type;
    out.count = e.count;
    std::memcpy(out.inlineValue, e.inlineValue, 4);
    if (!e.dataBlocks.empty()) {
      std::vector<uint8_t> offsets(4 * e.dataBlocks.size());
      for (size_t i = 0; i < e.dataBlocks.size(); ++i) {
        Put32(&offsets[4 * i], Pos(), be);
        if (!e.dataBlocks[i].empty()) Put(e.dataBlocks[i].data(), e.dataBlocks[i].size());
      }
      out.count = uint32_t(e.dataBlocks.size());
      out.type = kTypeLong;
      if (offsets.size() == 4) {
        std::memcpy(out.inlineValue, offsets.data(), 4);
      } else {
        IEAlignStreamWord();
        Put32(out.inlineValue, Pos(), be);
        Put(offsets.data(), offsets.size());
      }
    } else if (e.subIFD) {
      IEAlignStreamWord();
      Put32(out.inlineValue, Pos(), be);
      uint32_t dataEnd = 0;
      uint32_t nextAt = WriteIFD(*e.subIFD, dataEnd);
      s.SetPosition(nextAt);
      const uint8_t zero[4] = {};
      Put(zero, 4);
      s.SetPosition(dataEnd);
    } else if (ValueSize(e) > 4) {
      IEAlignStreamWord();
      Put32(out.inlineValue, Pos(), be);
      Put(e.block.data(), e.block.size());
    }
    return out;
  }

  // Writes a directory at the current position; dataEnd receives where its data ends. Returns the
  // position of its next-directory field (left for the caller to fill).
  uint32_t WriteIFD(TIETIFFTagList& list, uint32_t& dataEnd) {
    const bool be = h.bigEndian_;
    const uint32_t start = Pos();
    const bool addStrip = FindTagInList(list, kJPEGInterchange) >= 0 && FindTagInList(list, kStripOffsets) < 0;
    const size_t n = list.size() + (addStrip ? 1 : 0);
    uint8_t cnt[2];
    Put16(cnt, uint16_t(n), be);
    Put(cnt, 2);
    uint32_t dataPos = start + 2 + uint32_t(12 * n) + 4;
    size_t added = SIZE_MAX;
    for (size_t k = 0; k < list.size(); ++k) {  // the added entry is visited as well
      const uint32_t entryPos = start + 2 + uint32_t(12 * k);
      s.SetPosition(dataPos);
      const uint32_t blockAt = dataPos;
      TIETIFFTag out = WriteTagData(list[k]);
      if (list[k].tag == kJPEGInterchange && addStrip && added == SIZE_MAX && list[k].dataBlocks.size() == 1) {
        // The image of an old-style JPEG page starts at its start-of-scan marker.
        const std::vector<uint8_t>& b = list[k].dataBlocks[0];
        size_t sos = b.size();
        for (size_t i = 0; i + 1 < b.size(); ++i)
          if (b[i] == 0xFF && b[i + 1] == 0xDA) { sos = i; break; }
        h.SetTagValue(list, kStripOffsets, kTypeLong, double(blockAt + uint32_t(sos)));
        added = list.size() - 1;
      }
      dataPos = Pos();
      uint8_t raw[12];
      Put16(raw, out.tag, be);
      Put16(raw + 2, out.type, be);
      Put32(raw + 4, out.count, be);
      std::memcpy(raw + 8, out.inlineValue, 4);
      s.SetPosition(entryPos);
      Put(raw, 12);
    }
    if (added != SIZE_MAX) list.erase(list.begin() + added);
    // Directories start on a word boundary.
    s.SetPosition(dataPos);
    IEAlignStreamWord();
    dataEnd = Pos();
    return start + 2 + uint32_t(12 * n);
  }
};

bool TIETIFFHandler::WriteStream(TIEStream& stream, int page) {
  Writer w(*this, stream);
  uint8_t hdr[8] = {uint8_t(bigEndian_ ? 'M' : 'I'), uint8_t(bigEndian_ ? 'M' : 'I')};
  Put16(hdr + 2, magic_, bigEndian_);
  Put32(hdr + 4, uint32_t(stream.GetPosition() + 8), bigEndian_);
  w.Put(hdr, 8);
  std::vector<int> which;
  if (Page(page)) which.push_back(page);
  else for (int i = 0; i < PagesCount(); ++i) which.push_back(i);
  uint32_t nextAt = 0, dataEnd = w.Pos();
  for (size_t k = 0; k < which.size(); ++k) {
    SortList(*pages_[which[k]]);
    if (k > 0) {
      uint8_t v[4];
      Put32(v, dataEnd, bigEndian_);
      stream.SetPosition(nextAt);
      w.Put(v, 4);
      stream.SetPosition(dataEnd);
    }
    nextAt = w.WriteIFD(*pages_[which[k]], dataEnd);
  }
  if (!which.empty()) {
    stream.SetPosition(nextAt);
    const uint8_t zero[4] = {};
    w.Put(zero, 4);
    stream.SetPosition(dataEnd);
  } else {
    // No page: the header points at an empty directory, so the file stays readable.
    const uint8_t empty[6] = {};
    w.Put(empty, 6);
  }
  return !w.abort;
}

void TIETIFFHandler::WriteFile(const std::wstring& fileName, int page) {
  TIEWideFileStream f(fileName, fmCreate);
  WriteStream(f, page);
}
