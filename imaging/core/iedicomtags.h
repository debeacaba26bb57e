// The data elements a DICOM reader met while parsing a file, kept so that a program can inspect them
// after loading. The list stores what it is given and interprets nothing.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct TIEDICOMTag {
  uint16_t Group;
  uint16_t Element;
  char VR[2];      // value representation; both zero when not given
  void* Data;      // owned std::malloc block of DataLen + 1 bytes (a terminating zero), or nullptr
  int DataLen;     // value bytes
};

class TIEDICOMTags {
 public:
  TIEDICOMTags() = default;
  ~TIEDICOMTags();
  void Clear();
  // Appends an element and returns its index. The VR is kept only when it has exactly 2 characters.
  // The record takes over `data` (std::malloc'ed with length + 1 bytes); a negative length stores
  // length 0 and no data (the block, if any, is freed).
  int AddTag(uint16_t group, uint16_t element, const std::string& vr, void* data, int length);
  void Assign(const TIEDICOMTags& source);  // deep copy
  int Count() const { return int(tags_.size()); }
  const TIEDICOMTag& GetTag(int index) const { return tags_.at(size_t(index)); }
  int IndexOf(uint16_t group, uint16_t element) const;  // first such element, -1 when absent

 private:
  TIEDICOMTags(const TIEDICOMTags&) = delete;
  TIEDICOMTags& operator=(const TIEDICOMTags&) = delete;
  std::vector<TIEDICOMTag> tags_;
};
