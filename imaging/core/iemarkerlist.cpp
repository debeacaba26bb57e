#include "iemarkerlist.h"

#include <algorithm>
#include <cstring>
#include <numeric>

namespace {
constexpr uint8_t kAPP1 = 0xE1, kAPP2 = 0xE2;
// "ICC_PROFILE" NUL, then the chunk sequence number at byte 12 and the chunk count at byte 13.
constexpr char kICCSignature[] = "ICC_PROFILE";
constexpr int32_t kICCHeader = 14;
constexpr int32_t kICCSequenceByte = 12;
constexpr char kExifSignature[] = "Exif\0";  // "Exif" NUL NUL

std::unique_ptr<TIEMemoryStream> CopyPayload(const void* data, int32_t length) {
  auto s = std::make_unique<TIEMemoryStream>();
  if (length > 0) s->WriteBuffer(data, length);
  return s;
}

bool IsICCChunk(const uint8_t* p, int32_t n) {
  return n >= kICCHeader && std::memcmp(p, kICCSignature, sizeof kICCSignature) == 0;
}

bool IsExifPayload(const uint8_t* p, int32_t n) { return n >= 6 && std::memcmp(p, kExifSignature, 6) == 0; }
}  // namespace

const uint8_t* TIEMarkerList::GetMarkerData(int i) const {
  return static_cast<const uint8_t*>(data_.at(i)->Memory());
}

int32_t TIEMarkerList::GetMarkerLength(int i) const { return static_cast<int32_t>(data_.at(i)->GetSize()); }

int TIEMarkerList::FindMarkerIndex(uint8_t type) const {
  auto it = std::find(types_.begin(), types_.end(), type);
  return it == types_.end() ? -1 : static_cast<int>(it - types_.begin());
}

int TIEMarkerList::AddMarker(uint8_t type, const void* data, int32_t length) {
  // A longer payload cannot be written back as one marker; cutting it would corrupt it silently.
  if (!ValidLength(length)) return -1;
  data_.push_back(CopyPayload(data, length));
  types_.push_back(type);
  return Count() - 1;
}

bool TIEMarkerList::SetMarker(int i, uint8_t type, const void* data, int32_t length) {
  if (!ValidLength(length)) return false;
  data_.at(i) = CopyPayload(data, length);
  types_.at(i) = type;
  return true;
}

void TIEMarkerList::Delete(int i) {
  (void)data_.at(i);  // range check
  data_.erase(data_.begin() + i);
  types_.erase(types_.begin() + i);
}

void TIEMarkerList::Clear() {
  data_.clear();
  types_.clear();
}

void TIEMarkerList::Assign(const TIEMarkerList* source) {
  if (!source || source == this) return;
  Clear();
  for (int i = 0; i < source->Count(); ++i)
    AddMarker(source->GetMarkerType(i), source->GetMarkerData(i), source->GetMarkerLength(i));
}

int TIEMarkerList::CompareMarkers(int a, int b) const {
  if (types_[a] != types_[b]) return types_[a] < types_[b] ? -1 : 1;
  if (types_[a] == kAPP2) {
    const uint8_t* pa = GetMarkerData(a);
    const uint8_t* pb = GetMarkerData(b);
    if (IsICCChunk(pa, GetMarkerLength(a)) && IsICCChunk(pb, GetMarkerLength(b)))
      return int(pa[kICCSequenceByte]) - int(pb[kICCSequenceByte]);
  }
  return 0;
}

void TIEMarkerList::SwapMarkers(int a, int b) {
  std::swap(types_[a], types_[b]);
  std::swap(data_[a], data_[b]);
}

void TIEMarkerList::Sort() {
  // A stable sort: two COM or two XMP markers keep the order in which the file had them.
  std::vector<int> order(types_.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [this](int a, int b) { return CompareMarkers(a, b) < 0; });
  std::vector<uint8_t> types(order.size());
  std::vector<std::unique_ptr<TIEMemoryStream>> data(order.size());
  for (size_t k = 0; k < order.size(); ++k) {
    types[k] = types_[order[k]];
    data[k] = std::move(data_[order[k]]);
  }
  types_.swap(types);
  data_.swap(data);

  // Readers expect the EXIF APP1 ahead of an XMP APP1.
  int first = FindMarkerIndex(kAPP1);
  if (first < 0) return;
  for (int i = first + 1; i < Count(); ++i)
    if (types_[i] == kAPP1 && IsExifPayload(GetMarkerData(i), GetMarkerLength(i))) SwapMarkers(i, first);
}
