// Writes small ZIP archives for the reader tests: stored or deflated members, with hooks to break
// the archive in chosen ways.
#pragma once
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace presenter_test {

struct ZipMember {
  std::string name;
  std::string data;
  bool deflate = true;
};

inline void PutU16(std::string& s, uint32_t v) {
  s += char(v & 255);
  s += char((v >> 8) & 255);
}
inline void PutU32(std::string& s, uint32_t v) {
  PutU16(s, v & 0xFFFF);
  PutU16(s, v >> 16);
}

inline std::string RawDeflate(const std::string& in) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, uLong(in.size())) + 16, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = uInt(in.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = uInt(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// Layout of one member as written, so tests can patch fields afterwards.
struct ZipLayout {
  std::vector<size_t> localOffsets, centralOffsets;
  size_t endOffset = 0;
};

inline std::string BuildZip(const std::vector<ZipMember>& members, ZipLayout* layout = nullptr) {
  std::string zip, central;
  ZipLayout l;
  for (const ZipMember& m : members) {
    const std::string body = m.deflate ? RawDeflate(m.data) : m.data;
    const uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(m.data.data()), uInt(m.data.size())));
    const uint32_t offset = uint32_t(zip.size());
    l.localOffsets.push_back(offset);
    PutU32(zip, 0x04034b50);
    PutU16(zip, 20);
    PutU16(zip, 0);
    PutU16(zip, m.deflate ? 8 : 0);
    PutU32(zip, 0);
    PutU32(zip, crc);
    PutU32(zip, uint32_t(body.size()));
    PutU32(zip, uint32_t(m.data.size()));
    PutU16(zip, uint32_t(m.name.size()));
    PutU16(zip, 0);
    zip += m.name + body;
    std::string c;
    PutU32(c, 0x02014b50);
    PutU16(c, 20);
    PutU16(c, 20);
    PutU16(c, 0);
    PutU16(c, m.deflate ? 8 : 0);
    PutU32(c, 0);
    PutU32(c, crc);
    PutU32(c, uint32_t(body.size()));
    PutU32(c, uint32_t(m.data.size()));
    PutU16(c, uint32_t(m.name.size()));
    PutU16(c, 0);
    PutU16(c, 0);
    PutU16(c, 0);
    PutU16(c, 0);
    PutU32(c, 0);
    PutU32(c, offset);
    l.centralOffsets.push_back(central.size());
    central += c + m.name;
  }
  const uint32_t cdOffset = uint32_t(zip.size());
  for (size_t& o : l.centralOffsets) o += cdOffset;
  zip += central;
  l.endOffset = zip.size();
  PutU32(zip, 0x06054b50);
  PutU16(zip, 0);
  PutU16(zip, 0);
  PutU16(zip, uint32_t(members.size()));
  PutU16(zip, uint32_t(members.size()));
  PutU32(zip, uint32_t(central.size()));
  PutU32(zip, cdOffset);
  PutU16(zip, 0);
  if (layout) *layout = l;
  return zip;
}

inline void PatchU16(std::string& s, size_t at, uint32_t v) {
  s[at] = char(v & 255);
  s[at + 1] = char((v >> 8) & 255);
}
inline void PatchU32(std::string& s, size_t at, uint32_t v) {
  PatchU16(s, at, v & 0xFFFF);
  PatchU16(s, at + 2, v >> 16);
}

}  // namespace presenter_test
