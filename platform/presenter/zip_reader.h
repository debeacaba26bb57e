// Reads the members of a ZIP archive held in memory. Only what presentation packages use is
// accepted: one disk, stored or deflated members, no encryption, no ZIP64. Anything else, and any
// damage, is refused with an error text.
#pragma once
#include <cstdint>
#include <map>
#include <string>

namespace presenter {

class ZipReader {
 public:
  // Indexes the central directory of `data`, which must outlive the reader.
  bool Open(const std::string& data, std::string& error);
  bool Has(const std::string& name) const { return entries_.count(name) != 0; }
  // Extracts one member, checking its sizes and CRC.
  bool Read(const std::string& name, std::string& out, std::string& error) const;
  size_t EntryCount() const { return entries_.size(); }

 private:
  struct Entry {
    uint16_t method;
    uint32_t crc;
    uint32_t compressedSize;
    uint32_t size;
    uint32_t localOffset;
  };
  const std::string* data_ = nullptr;
  uint64_t centralDirOffset_ = 0;     // members' data must end before it
  mutable uint64_t inflatedTotal_ = 0;  // bytes handed out so far, bounded per archive
  std::map<std::string, Entry> entries_;
};

}  // namespace presenter
