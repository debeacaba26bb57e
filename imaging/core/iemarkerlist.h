// TIEMarkerList: the JPEG application (APP0..APP15) and comment markers a JPEG reader kept, so that a
// JPEG writer can put them back, in a sensible order, into the file it writes.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "iestreams.h"

class TIEMarkerList {
 public:
  // A JPEG marker payload has a 16-bit length field that counts itself: at most this many bytes.
  static constexpr int32_t kMaxMarkerPayload = 65533;

  TIEMarkerList() = default;
  TIEMarkerList(const TIEMarkerList&) = delete;
  TIEMarkerList& operator=(const TIEMarkerList&) = delete;

  int Count() const { return static_cast<int>(types_.size()); }
  uint8_t GetMarkerType(int i) const { return types_.at(i); }
  const uint8_t* GetMarkerData(int i) const;  // the payload (the bytes after the length field)
  int32_t GetMarkerLength(int i) const;
  int FindMarkerIndex(uint8_t type) const;  // -1 when none
  // Appends a copy of the payload; returns its index, or -1 (nothing stored) when the length is
  // negative or longer than a marker can carry.
  int AddMarker(uint8_t type, const void* data, int32_t length);
  // Replaces marker i; false (marker i unchanged) for a length AddMarker would refuse.
  bool SetMarker(int i, uint8_t type, const void* data, int32_t length);
  void Delete(int i);
  void Clear();
  void Assign(const TIEMarkerList* source);  // nullptr does nothing
  // Type byte ascending (ICC_PROFILE chunks of APP2 by sequence number), keeping the order of equal
  // markers; then the EXIF APP1 markers move in front of the other APP1 markers.
  void Sort();

 private:
  int CompareMarkers(int a, int b) const;
  void SwapMarkers(int a, int b);
  static bool ValidLength(int32_t length) { return length >= 0 && length <= kMaxMarkerPayload; }
  std::vector<uint8_t> types_;
  std::vector<std::unique_ptr<TIEMemoryStream>> data_;
};
