// TIFF directories read through a stream: bounds-checked reads in the file's byte order, one
// directory's entries by tag, and the page chain. Nothing is copied but what is asked for, so a
// large file costs the memory of the directories and values actually read.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TIEStream;
class TIEMemStream;

// A TIFF structure inside a stream: offsets count from `base`, the structure ending at the
// stream's end. Every read outside it gives 0 (or false); the stream's position is left anywhere.
class TIETIFFFile {
 public:
  TIETIFFFile();
  ~TIETIFFFile();
  TIETIFFFile(const TIETIFFFile&) = delete;
  TIETIFFFile& operator=(const TIETIFFFile&) = delete;

  // Reads through `stream` (not owned, must outlive the file).
  void Open(TIEStream& stream, int64_t base);
  // A structure held in memory (the bytes must outlive the file).
  void OpenMemory(const uint8_t* data, size_t size);

  bool bigEndian = false;
  uint64_t Size() const { return size_; }
  bool Has(uint64_t off, uint64_t n) const { return off <= size_ && n <= size_ - off; }
  // n bytes at off into dst; false when they lie outside the structure or the stream delivers less.
  bool Read(uint64_t off, void* dst, uint64_t n) const;
  uint32_t U16(uint64_t off) const;
  uint32_t U32(uint64_t off) const;
  TIEStream* Stream() const { return stream_; }
  int64_t Base() const { return base_; }

 private:
  TIEStream* stream_ = nullptr;
  std::unique_ptr<TIEMemStream> memory_;
  int64_t base_ = 0;
  uint64_t size_ = 0;
  // Small reads (tags, directory values) come from a window of the stream read ahead.
  mutable std::vector<uint8_t> window_;
  mutable uint64_t windowAt_ = 0;
};

struct TIETIFFEntry {
  uint16_t type = 0;
  uint32_t count = 0;
  uint64_t valueOffset = 0;  // where element 0 is
  uint8_t inlineBytes[4] = {0, 0, 0, 0};  // the value field, for values of 4 bytes or less
  bool Inline() const;
};

// One directory: its entries by tag, values bounds-checked when read.
struct TIETIFFDirectory {
  const TIETIFFFile* file = nullptr;
  std::vector<std::pair<uint16_t, TIETIFFEntry>> entries;
  // Tags whose values lay outside the file; their entries were dropped.
  std::vector<uint16_t> dropped;
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
  // The first n integer elements in one read (n not above the count); empty when absent or unreadable.
  std::vector<uint32_t> Values(uint16_t tag, uint32_t n) const;
  // Rational element i (RATIONAL or SRATIONAL) as a double; 0 when absent or with a zero denominator.
  double Rational(uint16_t tag, uint32_t i = 0) const;
  // The entry's bytes as they stand in the file (count elements); empty when absent.
  std::string Bytes(uint16_t tag) const;
};

// Reads the directory at `off`; false when its entry table lies outside the file. Entries whose
// values do not fit in the file are dropped.
bool IETIFFReadDirectory(const TIETIFFFile& f, uint64_t off, TIETIFFDirectory& ifd, uint64_t& next);
// Only the next-directory offset of the directory at `off` (the page chain's walk); false when the
// directory lies outside the file.
bool IETIFFNextDirectory(const TIETIFFFile& f, uint64_t off, uint64_t& next);
