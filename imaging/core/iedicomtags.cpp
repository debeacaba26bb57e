#include "iedicomtags.h"

#include <cstdlib>
#include <cstring>
#include <new>

TIEDICOMTags::~TIEDICOMTags() { Clear(); }

void TIEDICOMTags::Clear() {
  for (TIEDICOMTag& t : tags_) std::free(t.Data);
  tags_.clear();
}

int TIEDICOMTags::AddTag(uint16_t group, uint16_t element, const std::string& vr, void* data, int length) {
  TIEDICOMTag t;
  std::memset(&t, 0, sizeof(t));
  t.Group = group;
  t.Element = element;
  if (vr.size() == 2) std::memcpy(t.VR, vr.data(), 2);
  if (length < 0) {
    std::free(data);
  } else {
    t.Data = data;
    t.DataLen = length;
  }
  tags_.push_back(t);
  return int(tags_.size()) - 1;
}

void TIEDICOMTags::Assign(const TIEDICOMTags& source) {
  if (&source == this) return;
  Clear();
  tags_.reserve(source.tags_.size());
  for (const TIEDICOMTag& s : source.tags_) {
    TIEDICOMTag t = s;
    t.Data = nullptr;
    if (s.DataLen > 0 && s.Data) {
      t.Data = std::malloc(size_t(s.DataLen) + 1);
      if (!t.Data) throw std::bad_alloc();
      std::memcpy(t.Data, s.Data, size_t(s.DataLen) + 1);
    } else {
      t.DataLen = 0;
    }
    tags_.push_back(t);
  }
}

int TIEDICOMTags::IndexOf(uint16_t group, uint16_t element) const {
  for (size_t i = 0; i < tags_.size(); ++i)
    if (tags_[i].Group == group && tags_[i].Element == element) return int(i);
  return -1;
}
