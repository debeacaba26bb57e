// Small containers of the image library: TIEList (a growable array of fixed-size items) with its
// descendants TIEDoubleList, TIEIntegerList and TIERecordList; THash1, a set of 32-bit keys in chained
// buckets (distinct-colour counts); TIEByteArray, a growable byte buffer; and IEQuickSort, an
// index-based quicksort driven by caller functions.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

class TIEStream;

// Items of `ItemSize()` bytes in one heap block. Count <= capacity always; the block holds exactly
// capacity items. GetItemPtr is not range-checked.
class TIEList {
 public:
  TIEList();
  virtual ~TIEList();
  virtual void SetCount(int n);   // grows the capacity to max(2 x capacity, n); marks changed
  virtual void Delete(int i);     // outside 0..count-1 does nothing; reallocates to count - 1 items
  virtual void Clear();           // frees the block; capacity, count and flags 0; item size kept
  virtual void Assign(const TIEList* source);  // nil does nothing; capacity becomes the count
  int AppendItem(const void* item);  // returns the new index
  void* GetItemPtr(int i) const { return data_ + int64_t(i) * itemSize_; }
  int Count() const { return count_; }
  int Capacity() const { return capacity_; }
  int ItemSize() const { return itemSize_; }
  bool Changed() const { return (flags_ & 1) != 0; }

 protected:
  explicit TIEList(int itemSize);
  void MarkChanged() { flags_ |= 1; }
  int capacity_ = 0;
  int count_ = 0;
  int itemSize_ = 0;
  uint8_t* data_ = nullptr;
  uint8_t flags_ = 0;  // bit 0: changed

 private:
  TIEList(const TIEList&) = delete;
  TIEList& operator=(const TIEList&) = delete;
};

// Doubles, with four values that travel with the list.
class TIEDoubleList : public TIEList {
 public:
  TIEDoubleList();
  void Clear() override;
  void Assign(const TIEList* source) override;
  double& operator[](int i) { return *static_cast<double*>(GetItemPtr(i)); }
  int Add(double v) { return AppendItem(&v); }
  double Values[4] = {0, 0, 0, 0};
};

// 32-bit integers, with four values that travel with the list.
class TIEIntegerList : public TIEList {
 public:
  TIEIntegerList();
  void Clear() override;
  void Assign(const TIEList* source) override;
  int32_t& operator[](int i) { return *static_cast<int32_t*>(GetItemPtr(i)); }
  int Add(int32_t v) { return AppendItem(&v); }
  int32_t Values[4] = {0, 0, 0, 0};
};

// Records of a size fixed at creation.
class TIERecordList : public TIEList {
 public:
  explicit TIERecordList(int recordSize) : TIEList(recordSize) {}
  void* GetRecord(int i) const { return GetItemPtr(i); }
  int AddRecord(const void* record) { return AppendItem(record); }
};

// A set of 32-bit keys in 2^bits chained buckets; a key is kept without allocating until a second key
// falls into its bucket.
class THash1 {
 public:
  explicit THash1(int bits);  // the two-colour test uses 13 bits
  ~THash1();
  bool Add(uint32_t key);  // true when the key was new
  int Count() const { return count_; }
  int BucketCount() const { return bucketCount_; }

 private:
  struct THash1Item {
    uint32_t key;
    THash1Item* next;
    void* data;
  };
  enum : uint8_t { kEmpty = 0, kOneKey = 1, kChain = 2 };
  THash1(const THash1&) = delete;
  THash1& operator=(const THash1&) = delete;
  std::vector<uintptr_t> keys_;    // the key itself (state 1) or the chain's first THash1Item* (state 2)
  std::vector<uint8_t> states_;
  std::vector<void*> data_;
  int bits_;
  int bucketCount_;
  int count_ = 0;
};

// A growable byte buffer; `block` is the growth step and the initial capacity.
class TIEByteArray {
 public:
  explicit TIEByteArray(int block);
  ~TIEByteArray();
  void AddByte(uint8_t b);
  // Growing keeps the bytes; shrinking releases memory only when more than one block would lie unused.
  void SetUsedSize(int n);
  // Appends up to n bytes from the stream; returns the bytes read (the size grows by that much).
  int AppendFromStream(TIEStream& stream, int n);
  int Size() const { return size_; }
  int Capacity() const { return capacity_; }
  uint8_t* Data() const { return data_; }

 private:
  TIEByteArray(const TIEByteArray&) = delete;
  TIEByteArray& operator=(const TIEByteArray&) = delete;
  void Reallocate(int capacity, int keep);
  int size_ = 0;
  int capacity_ = 0;
  int block_ = 0;
  uint8_t* data_ = nullptr;
};

// Sorts positions 0..count-1 of any container (not stable). compare(i, j) < 0, 0, > 0; swap(i, j).
using TIECompareFunction = std::function<int(int i, int j)>;
using TIESwapFunction = std::function<void(int i, int j)>;
void IEQuickSort(int count, const TIECompareFunction& compare, const TIESwapFunction& swap);
