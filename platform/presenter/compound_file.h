// Reads streams out of a compound file (the container of binary Office documents) held in memory:
// header, DIFAT, FAT, directory, mini FAT and mini stream. Every chain is bounded and checked, so a
// damaged or hostile file gives an error, never a loop or an oversized allocation.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace presenter {

class CompoundFile {
 public:
  // Reads the header, the allocation tables and the directory of `data` (which must outlive this).
  bool Open(const std::string& data, std::string& error);
  // The whole stream whose name matches (case-insensitively); false with an error text otherwise.
  bool ReadStream(const std::wstring& name, std::string& out, std::string& error) const;

 private:
  struct DirectoryEntry {
    std::wstring name;
    uint8_t type;  // 1 storage, 2 stream, 5 root
    uint32_t start;
    uint64_t size;
  };
  bool Chain(uint32_t start, const std::vector<uint32_t>& table, uint64_t limitBytes, bool mini, std::string& out,
             std::string& error) const;

  const std::string* data_ = nullptr;
  uint32_t sectorShift_ = 9;
  uint32_t miniShift_ = 6;
  uint32_t miniCutoff_ = 4096;
  uint64_t sectorCount_ = 0;  // whole or partial sectors present after the header
  std::vector<uint32_t> fat_, miniFat_;
  std::string miniStream_;
  std::vector<DirectoryEntry> directory_;
};

}  // namespace presenter
