// Small TIFF files put together by the tests themselves.
#pragma once
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "hostenv.h"

namespace tifftest {

// A little-endian TIFF put together entry by entry: data blocks first, then the directories.
class TinyTiff {
 public:
  struct Entry {
    uint16_t tag, type;  // 3 SHORT, 4 LONG, 1 BYTE, 2 ASCII, 5 RATIONAL (pairs)
    std::vector<uint32_t> values;
  };
  uint32_t Block(const std::vector<uint8_t>& d) {
    if (bytes_.size() & 1) bytes_.push_back(0);
    const uint32_t at = uint32_t(bytes_.size());
    bytes_.insert(bytes_.end(), d.begin(), d.end());
    return at;
  }
  uint32_t Dir(std::vector<Entry> es, uint32_t next = 0) {
    std::sort(es.begin(), es.end(), [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
    std::vector<std::vector<uint8_t>> data;
    for (const Entry& e : es) {
      std::vector<uint8_t> v;
      const int size = e.type == 3 ? 2 : e.type == 4 || e.type == 5 ? 4 : 1;
      for (uint32_t x : e.values)
        for (int k = 0; k < size; ++k) v.push_back(uint8_t(x >> (8 * k)));
      data.push_back(v);
    }
    std::vector<uint32_t> field(es.size());
    for (size_t i = 0; i < es.size(); ++i) {
      if (data[i].size() > 4) {
        field[i] = Block(data[i]);
      } else {
        data[i].resize(4, 0);
        field[i] = uint32_t(data[i][0]) | data[i][1] << 8 | data[i][2] << 16 | uint32_t(data[i][3]) << 24;
      }
    }
    if (bytes_.size() & 1) bytes_.push_back(0);
    const uint32_t at = uint32_t(bytes_.size());
    Put(uint32_t(es.size()), 2);
    for (size_t i = 0; i < es.size(); ++i) {
      const uint32_t count = es[i].type == 5 ? uint32_t(es[i].values.size() / 2) : uint32_t(es[i].values.size());
      Put(es[i].tag, 2);
      Put(es[i].type, 2);
      Put(count, 4);
      Put(field[i], 4);
    }
    Put(next, 4);
    return at;
  }
  void First(uint32_t ifd) {
    for (int k = 0; k < 4; ++k) bytes_[size_t(4 + k)] = uint8_t(ifd >> (8 * k));
  }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }
  bool Save(const std::string& name) const {
    return tq::WriteFileBytes(tq::WorkFile(name), bytes_.data(), bytes_.size());
  }

 private:
  void Put(uint32_t v, int n) {
    for (int k = 0; k < n; ++k) bytes_.push_back(uint8_t(v >> (8 * k)));
  }
  std::vector<uint8_t> bytes_{'I', 'I', 42, 0, 0, 0, 0, 0};
};

// The tags of a single-strip, chunky image.
inline std::vector<TinyTiff::Entry> ImageTags(uint32_t w, uint32_t h, uint32_t spp, uint32_t photometric, uint32_t strip,
                                       uint32_t count, uint32_t compression = 1) {
  return {{256, 4, {w}},           {257, 4, {h}},
          {258, 3, std::vector<uint32_t>(spp, 8)}, {259, 3, {compression}},
          {262, 3, {photometric}}, {273, 4, {strip}},
          {277, 3, {spp}},         {278, 4, {h}},
          {279, 4, {count}}};
}

}  // namespace tifftest
