// The directory builder of the TIFF writer: tags are collected while their value blocks are written
// to the stream, then written as one directory sorted by tag. Little-endian throughout; offsets are
// stream positions and must stay below 4 GiB.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "iestreams.h"

enum : uint16_t {
  kTIFFByte = 1, kTIFFAscii = 2, kTIFFShort = 3, kTIFFLong = 4, kTIFFRational = 5, kTIFFUndefined = 7,
  kTIFFSRational = 10,
};

class TIETIFFTagWriter {
 public:
  // Writes go to `stream`; a short write or an offset past 4 GiB sets `aborting`.
  TIETIFFTagWriter(TIEStream& stream, std::atomic<bool>& aborting) : stream_(stream), aborting_(aborting) {}

  TIEStream& Stream() { return stream_; }
  std::atomic<bool>& Aborting() { return aborting_; }
  void Write(const void* data, size_t count);
  // A zero byte when the position is odd; returns the (even) position as a 32-bit offset.
  uint32_t AlignEven();
  // The position as a 32-bit offset (aborting past 4 GiB).
  uint32_t Offset();

  void AddShort(uint16_t tag, uint32_t value) { Add(tag, kTIFFShort, 1, value & 0xFFFF); }
  void AddLong(uint16_t tag, uint32_t value) { Add(tag, kTIFFLong, 1, value); }
  void AddByte(uint16_t tag, uint8_t value, uint16_t type = kTIFFByte) { Add(tag, type, 1, value); }
  void AddShorts(uint16_t tag, const std::vector<uint16_t>& values);
  void AddLongs(uint16_t tag, const std::vector<uint32_t>& values);
  void AddRational(uint16_t tag, double value) { AddRationals(tag, &value, 1); }
  // RATIONAL, or SRATIONAL when a value is negative.
  void AddRationals(uint16_t tag, const double* values, int count);
  // Values of `type` (1-byte elements): inline up to 4 bytes, else a block at an even position.
  void AddBlock(uint16_t tag, uint16_t type, uint32_t count, const void* data, size_t bytes);
  // An ASCII text: nothing when empty; 1 to 4 characters inline with count = length; longer ones at
  // an offset with their NUL (count = length + 1).
  void AddAscii(uint16_t tag, const std::string& text);
  // A fixed-width ASCII field (references, versions): the text as it stands, count = its length;
  // inline up to 4 characters, at an offset beyond.
  void AddAsciiRaw(uint16_t tag, const std::string& text);
  bool Has(uint16_t tag) const;
  // An entry whose value (or the offset of its values) the caller wrote.
  void AddEntry(uint16_t tag, uint16_t type, uint32_t count, uint32_t value) { Add(tag, type, count, value); }

  // Writes the directory at the next even position and returns that position: the entry count,
  // the entries by ascending tag and `next`. Nothing is written once aborting is set.
  uint32_t WriteDirectory(uint32_t next);

 private:
  struct TEntry {
    uint16_t tag, type;
    uint32_t count, value;
  };
  void Add(uint16_t tag, uint16_t type, uint32_t count, uint32_t value) { entries_.push_back({tag, type, count, value}); }

  TIEStream& stream_;
  std::atomic<bool>& aborting_;
  std::vector<TEntry> entries_;
};
