// TIFF directories of a file held in memory: bounds-checked reads in the file's byte order, one
// directory's entries by tag, and the page chain.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// The file's bytes with reads in its byte order; every read outside the data gives 0.
struct TIETIFFFile {
  std::vector<uint8_t> data;
  bool bigEndian = false;
  bool Has(uint64_t off, uint64_t n) const { return off <= data.size() && n <= data.size() - off; }
  uint32_t U16(uint64_t off) const {
    if (!Has(off, 2)) return 0;
    const uint8_t* p = &data[size_t(off)];
    return bigEndian ? (p[0] << 8 | p[1]) : (p[1] << 8 | p[0]);
  }
  uint32_t U32(uint64_t off) const {
    if (!Has(off, 4)) return 0;
    const uint8_t* p = &data[size_t(off)];
    return bigEndian ? (uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3])
                     : (uint32_t(p[3]) << 24 | p[2] << 16 | p[1] << 8 | p[0]);
  }
};

struct TIETIFFEntry {
  uint16_t type = 0;
  uint32_t count = 0;
  uint64_t valueOffset = 0;  // where element 0 is
};

// One directory: its entries by tag, values bounds-checked when read.
struct TIETIFFDirectory {
  const TIETIFFFile* file = nullptr;
  std::vector<std::pair<uint16_t, TIETIFFEntry>> entries;
  bool damaged = false;  // an entry's values lay outside the file and were dropped
  const TIETIFFEntry* Find(uint16_t tag) const {
    for (auto& e : entries)
      if (e.first == tag) return &e.second;
    return nullptr;
  }
  uint32_t Count(uint16_t tag) const {
    const TIETIFFEntry* e = Find(tag);
    return e ? e->count : 0;
  }
  // Integer element i (BYTE, SHORT, LONG and their signed kinds), `def` when absent.
  uint32_t Value(uint16_t tag, uint32_t i = 0, uint32_t def = 0) const;
  // Rational element i (RATIONAL or SRATIONAL) as a double; 0 when absent or with a zero denominator.
  double Rational(uint16_t tag, uint32_t i = 0) const;
  // The entry's bytes as they stand in the file (count elements); empty when absent.
  std::string Bytes(uint16_t tag) const;
};

// Reads the directory at `off`; false when its entry table lies outside the file. Entries whose
// values do not fit in the file are dropped.
bool IETIFFReadDirectory(const TIETIFFFile& f, uint64_t off, TIETIFFDirectory& ifd, uint64_t& next);
