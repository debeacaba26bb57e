// TIEIPTCInfoList: IPTC Information Interchange Model records, read from and written as bare IIM
// datasets (TIFF tag 33723, the PSD resource) or as a Photoshop image resource block (JPEG APP13).
#pragma once
#include <cstdint>
#include <vector>

class TIEIPTCInfoList {
 public:
  TIEIPTCInfoList() = default;
  TIEIPTCInfoList(const TIEIPTCInfoList&) = delete;
  TIEIPTCInfoList& operator=(const TIEIPTCInfoList&) = delete;

  int Count() const { return static_cast<int>(records_.size()); }
  int GetRecordNumber(int i) const { return records_.at(i).record; }
  int GetDataSet(int i) const { return records_.at(i).dataset; }
  const uint8_t* GetData(int i) const { return records_.at(i).data.data(); }
  int32_t GetLength(int i) const { return static_cast<int32_t>(records_.at(i).data.size()); }
  // Appends a copy; returns the new index, or -1 for a negative length.
  int AddRecord(int record, int dataset, const void* data, int32_t length);
  void Clear();
  void Assign(const TIEIPTCInfoList* source);  // nullptr does nothing
  // True once the records were changed through this list since the last LoadFromBuffer.
  bool Changed() const { return changed_; }
  void SetChanged(bool v) { changed_ = v; }

  // Serialises every record (not 2:00, not empty ones) into a new block the caller frees with
  // std::free; withHeader gives the Photoshop "8BIM" resource 0x0404 wrapping for APP13. No records:
  // buffer nullptr and length 0. False (nothing returned) when the result would exceed 2 GB.
  bool SaveToBuffer(void*& buffer, int32_t& length, bool withHeader) const;
  // Replaces the list by the records found; true when at least one was read. Stops quietly at the
  // first byte that is not a dataset tag or at a dataset that does not fit in the buffer.
  bool LoadFromBuffer(const void* buffer, int32_t length);

 private:
  struct Record {
    int record = 0;
    int dataset = 0;
    std::vector<uint8_t> data;
  };
  std::vector<Record> records_;
  bool changed_ = false;
};
