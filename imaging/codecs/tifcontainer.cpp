// Tests of TIFF-structured streams and the metadata rewrite.
#include "tifcontainer.h"

#include <memory>
#include <vector>

#include "ieexifglue.h"
#include "ietiffhandler.h"

namespace {

// The entries of a first directory as they stand: tag, type, count and the 4 value bytes.
struct TDirectory {
  struct TEntry {
    uint16_t tag, type;
    uint32_t count;
    uint8_t value[4];
  };
  bool bigEndian = false;
  std::vector<TEntry> entries;

  uint32_t U16(const uint8_t* p) const { return bigEndian ? uint32_t(p[0] << 8 | p[1]) : uint32_t(p[1] << 8 | p[0]); }
  uint32_t U32(const uint8_t* p) const {
    return bigEndian ? uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]
                     : uint32_t(p[3]) << 24 | p[2] << 16 | p[1] << 8 | p[0];
  }
  const TEntry* Find(uint16_t tag) const {
    for (const TEntry& e : entries)
      if (e.tag == tag) return &e;
    return nullptr;
  }
  bool Has(uint16_t tag) const { return Find(tag) != nullptr; }
  // A single SHORT or LONG value; -1 when absent or of another form.
  int64_t Value(uint16_t tag) const {
    const TEntry* e = Find(tag);
    if (!e || e->count != 1) return -1;
    if (e->type == 3) return U16(e->value);
    if (e->type == 4) return U32(e->value);
    return -1;
  }
};

// The header at the stream's position: byte order and first-directory offset; false for anything
// but "II" or "MM".
bool ReadHeader(TIEStream& s, bool& bigEndian, uint32_t& offset) {
  uint8_t h[8];
  if (s.Read(h, 8) != 8) return false;
  if (h[0] == 'I' && h[1] == 'I') bigEndian = false;
  else if (h[0] == 'M' && h[1] == 'M') bigEndian = true;
  else return false;
  offset = bigEndian ? uint32_t(h[4]) << 24 | h[5] << 16 | h[6] << 8 | h[7]
                     : uint32_t(h[7]) << 24 | h[6] << 16 | h[5] << 8 | h[4];
  return true;
}

// Loads the directory at absolute position `offset`; false when its entry table is not all there.
bool LoadDirectory(TIEStream& s, uint32_t offset, bool bigEndian, TDirectory& d) {
  d.bigEndian = bigEndian;
  const int64_t size = s.GetSize();
  if (int64_t(offset) + 2 > size) return false;
  s.SetPosition(offset);
  uint8_t c[2];
  if (s.Read(c, 2) != 2) return false;
  const uint32_t n = d.U16(c);
  if (int64_t(offset) + 2 + int64_t(n) * 12 > size) return false;
  std::vector<uint8_t> table(size_t(n) * 12);
  if (n && s.Read(table.data(), int32_t(table.size())) != int32_t(table.size())) return false;
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t* e = &table[size_t(i) * 12];
    TDirectory::TEntry t;
    t.tag = uint16_t(d.U16(e));
    t.type = uint16_t(d.U16(e + 2));
    t.count = d.U32(e + 4);
    for (int k = 0; k < 4; ++k) t.value[k] = e[8 + k];
    d.entries.push_back(t);
  }
  return true;
}

// Restores a stream position on every way out.
struct TPositionGuard {
  TIEStream& s;
  int64_t pos;
  explicit TPositionGuard(TIEStream& stream) : s(stream), pos(stream.GetPosition()) {}
  ~TPositionGuard() { s.SetPosition(pos); }
};

// The 23 tags the metadata rewrite takes from the EXIF block, in the order they are copied.
const uint16_t kUpdatedTags[] = {271, 272, 306, 274, 282, 283, 296, 305, 315, 318, 531, 319,
                                 529, 532, 33432, 18246, 40091, 40092, 40093, 40094, 40095, 34665, 34853};

}  // namespace

bool IETIFFTest(TIEStream& Stream) {
  TPositionGuard guard(Stream);
  TIEBufferedReadStream s(Stream, 1024, false);
  const int64_t size = s.GetSize();
  if (size <= 8) return false;
  const int64_t start = s.GetPosition();
  uint8_t h[8], at8 = 0;
  if (s.Read(h, 8) != 8) return false;
  s.SetPosition(8);
  if (s.Read(&at8, 1) != 1) return false;
  s.SetPosition(start);
  bool bigEndian = false;
  uint32_t offset = 0;
  if (!ReadHeader(s, bigEndian, offset) || int64_t(offset) >= size) return false;
  if (bigEndian && at8 == 0xBA) return false;
  TDirectory d;
  return LoadDirectory(s, offset, bigEndian, d) && d.Has(256) && d.Has(257);
}

bool IETIFFCameraRAWTest(TIEStream& Stream) {
  TPositionGuard guard(Stream);
  bool bigEndian = false;
  uint32_t offset = 0;
  TDirectory d;
  if (!ReadHeader(Stream, bigEndian, offset) || !LoadDirectory(Stream, offset, bigEndian, d)) return false;
  const TDirectory::TEntry* dng = d.Find(50706);
  if (dng && dng->type == 1 && dng->count == 4) return true;
  const int64_t photometric = d.Value(262);
  if (d.Find(262) && d.Find(262)->type == 3 && (photometric == 32803 || photometric == 34892)) return true;
  const int64_t w = d.Value(256), h = d.Value(257);
  return d.Has(330) && d.Has(37398) && d.Has(256) && d.Has(257) && w < 200 && h < 200;
}

bool IEHDPhotoTest(TIEStream& Stream) {
  TPositionGuard guard(Stream);
  TIEBufferedReadStream s(Stream, 1024, false);
  if (s.GetSize() <= 8) return false;
  bool bigEndian = false;
  uint32_t offset = 0;
  TDirectory d;
  if (!ReadHeader(s, bigEndian, offset) || bigEndian || !LoadDirectory(s, offset, bigEndian, d)) return false;
  for (uint16_t tag : {0xBC80, 0xBC81, 0xBC01, 0xBCC0, 0xBCC1})
    if (!d.Has(tag)) return false;
  return true;
}

bool IETIFFUpdateTags(TIEStream* InStream, TIEStream* OutStream, const std::wstring& InFileName,
                      const TIOParamsVals& Params, int PageIndex, const std::wstring& OutFileName) {
  uint8_t* block = nullptr;
  size_t length = 0;
  IESaveExifToBuffer(&Params, block, length, false);
  std::unique_ptr<uint8_t[]> hold(block);
  TIEMemStream exifStream(block, int64_t(length));
  TIETIFFHandler source;
  if (!source.ReadStream(exifStream)) return false;

  TIETIFFHandler target;
  const int64_t inPosition = InStream ? InStream->GetPosition() : 0;
  const bool read = InStream ? target.ReadStream(*InStream) : target.LoadFromFile(InFileName);
  // the EXIF block is little-endian: tags copy only into a structure of the same byte order
  if (!read || target.BigEndian() || !target.Page(PageIndex)) return false;
  for (uint16_t tag : kUpdatedTags) {
    const int index = source.FindTag(0, tag);
    if (index >= 0) target.CopyTag(0, index, source, PageIndex);
  }
  target.SortPage(PageIndex);
  if (OutStream) {
    if (OutStream == InStream) OutStream->SetPosition(inPosition);
    return target.WriteStream(*OutStream, -1);
  }
  target.WriteFile(OutFileName, -1);
  return true;
}
