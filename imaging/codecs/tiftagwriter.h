// The directory builder of the TIFF writer: tags are collected while their value blocks are written
// to the stream, then written as one directory sorted by tag, in the file's byte order (little-endian
// "II" or big-endian "MM"); offsets are stream positions and must stay below 4 GiB.
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
  TIETIFFTagWriter(TIEStream& stream, std::atomic<bool>& aborting, bool bigEndian = false)
      : stream_(stream), aborting_(aborting), bigEndian_(bigEndian) {}

  TIEStream& Stream() { return stream_; }
  bool BigEndian() const { return bigEndian_; }
  // A 16- or 32-bit value in the file's byte order.
  void PutU16(uint8_t* p, uint32_t v) const;
  void PutU32(uint8_t* p, uint32_t v) const;
  std::atomic<bool>& Aborting() { return aborting_; }
  void Write(const void* data, size_t count);
  // A zero byte when the position is odd; returns the (even) position as a 32-bit offset.
  uint32_t AlignEven();
  // The position as a 32-bit offset (aborting past 4 GiB).
  uint32_t Offset();

  void AddShort(uint16_t tag, uint32_t value);
  void AddLong(uint16_t tag, uint32_t value) { Add(tag, kTIFFLong, 1, value); }
  void AddByte(uint16_t tag, uint8_t value, uint16_t type = kTIFFByte);
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
  // An entry whose values the caller wrote at the offset `at`.
  void AddEntry(uint16_t tag, uint16_t type, uint32_t count, uint32_t at) { Add(tag, type, count, at); }

  // Writes the directory at the next even position and returns that position: the entry count,
  // the entries by ascending tag and `next`. Nothing is written once aborting is set.
  uint32_t WriteDirectory(uint32_t next);

 private:
  struct TEntry {
    uint16_t tag, type;
    uint32_t count;
    uint8_t field[4];  // the value field as it goes to the file
  };
  // An entry whose value field holds a 32-bit value (a LONG, or an offset).
  void Add(uint16_t tag, uint16_t type, uint32_t count, uint32_t value);
  // An entry whose value field holds these bytes (up to 4, padded with zeros).
  void AddInline(uint16_t tag, uint16_t type, uint32_t count, const void* bytes, size_t n);

  TIEStream& stream_;
  std::atomic<bool>& aborting_;
  bool bigEndian_ = false;
  std::vector<TEntry> entries_;
};
