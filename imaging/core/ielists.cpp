#include "ielists.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "iestreams.h"

namespace {

uint8_t* AllocItems(int64_t bytes) {
  if (bytes <= 0) return nullptr;
  if (uint64_t(bytes) > SIZE_MAX) throw std::bad_alloc();
  void* p = std::malloc(static_cast<size_t>(bytes));
  if (!p) throw std::bad_alloc();
  return static_cast<uint8_t*>(p);
}

}  // namespace

// ---- TIEList ----

TIEList::TIEList() { TIEList::Clear(); }

TIEList::TIEList(int itemSize) : itemSize_(itemSize) { TIEList::Clear(); }

TIEList::~TIEList() { std::free(data_); }

void TIEList::SetCount(int n) {
  if (n < 0) n = 0;
  if (n > capacity_) {
    int newCapacity = std::max(capacity_ > INT32_MAX / 2 ? INT32_MAX : 2 * capacity_, n);
    uint8_t* block = AllocItems(int64_t(newCapacity) * itemSize_);
    if (data_) {
      if (block) std::memcpy(block, data_, size_t(int64_t(std::min(count_, n)) * itemSize_));
      std::free(data_);
    }
    data_ = block;
    capacity_ = newCapacity;
  }
  count_ = n;
  MarkChanged();
}

void TIEList::Delete(int i) {
  if (i < 0 || i >= count_) return;
  uint8_t* block = AllocItems(int64_t(count_ - 1) * itemSize_);
  if (block) {
    std::memcpy(block, data_, size_t(int64_t(i) * itemSize_));
    std::memcpy(block + int64_t(i) * itemSize_, data_ + int64_t(i + 1) * itemSize_,
                size_t(int64_t(count_ - 1 - i) * itemSize_));
  }
  std::free(data_);
  data_ = block;
  --count_;
  capacity_ = count_;
  MarkChanged();
}

void TIEList::Clear() {
  std::free(data_);
  data_ = nullptr;
  capacity_ = count_ = 0;
  flags_ = 0;
}

void TIEList::Assign(const TIEList* source) {
  if (!source || source == this) return;
  uint8_t* block = AllocItems(int64_t(source->count_) * source->itemSize_);
  if (block) std::memcpy(block, source->data_, size_t(int64_t(source->count_) * source->itemSize_));
  std::free(data_);
  data_ = block;
  count_ = capacity_ = source->count_;
  itemSize_ = source->itemSize_;
  flags_ = source->flags_;
}

int TIEList::AppendItem(const void* item) {
  int index = count_;
  SetCount(count_ + 1);
  std::memcpy(GetItemPtr(index), item, size_t(itemSize_));
  MarkChanged();
  return index;
}

// ---- Typed lists ----

TIEDoubleList::TIEDoubleList() : TIEList(8) {}

void TIEDoubleList::Clear() {
  TIEList::Clear();
  itemSize_ = 8;
  std::fill(Values, Values + 4, 0.0);
}

void TIEDoubleList::Assign(const TIEList* source) {
  TIEList::Assign(source);
  if (auto* d = dynamic_cast<const TIEDoubleList*>(source)) std::copy(d->Values, d->Values + 4, Values);
}

TIEIntegerList::TIEIntegerList() : TIEList(4) {}

void TIEIntegerList::Clear() {
  TIEList::Clear();
  std::fill(Values, Values + 4, 0);
  itemSize_ = 4;
}

void TIEIntegerList::Assign(const TIEList* source) {
  TIEList::Assign(source);
  if (auto* d = dynamic_cast<const TIEIntegerList*>(source)) std::copy(d->Values, d->Values + 4, Values);
}

// ---- THash1 ----

THash1::THash1(int bits) : bits_(std::clamp(bits, 0, 24)), bucketCount_(1 << bits_) {
  keys_.assign(size_t(bucketCount_), 0);
  states_.assign(size_t(bucketCount_), kEmpty);
  data_.assign(size_t(bucketCount_), nullptr);
}

THash1::~THash1() {
  for (int b = 0; b < bucketCount_; ++b) {
    if (states_[size_t(b)] != kChain) continue;
    THash1Item* it = reinterpret_cast<THash1Item*>(keys_[size_t(b)]);
    while (it) {
      THash1Item* next = it->next;
      delete it;
      it = next;
    }
  }
}

bool THash1::Add(uint32_t key) {
  size_t b = key & uint32_t(bucketCount_ - 1);
  switch (states_[b]) {
    case kEmpty:
      keys_[b] = key;
      states_[b] = kOneKey;
      break;
    case kOneKey: {
      uint32_t stored = uint32_t(keys_[b]);
      if (stored == key) return false;
      THash1Item* added = new THash1Item{key, nullptr, nullptr};
      THash1Item* first = new THash1Item{stored, added, data_[b]};  // the older key stays first
      keys_[b] = reinterpret_cast<uintptr_t>(first);
      states_[b] = kChain;
      break;
    }
    default: {
      THash1Item* it = reinterpret_cast<THash1Item*>(keys_[b]);
      for (;;) {
        if (it->key == key) return false;
        if (!it->next) break;
        it = it->next;
      }
      it->next = new THash1Item{key, nullptr, nullptr};
      break;
    }
  }
  ++count_;
  return true;
}

// ---- TIEByteArray ----

TIEByteArray::TIEByteArray(int block) : capacity_(std::max(block, 1)), block_(std::max(block, 1)) {
  data_ = AllocItems(capacity_);
}

TIEByteArray::~TIEByteArray() { std::free(data_); }

void TIEByteArray::Reallocate(int capacity, int keep) {
  uint8_t* block = AllocItems(capacity);
  if (keep > 0) std::memcpy(block, data_, size_t(keep));
  std::free(data_);
  data_ = block;
  capacity_ = capacity;
}

void TIEByteArray::SetUsedSize(int n) {
  if (n < 0) n = 0;
  if (n > size_) {
    if (n > capacity_) {
      if (n > INT32_MAX - block_) throw std::bad_alloc();
      Reallocate(n + block_, size_);
    }
  } else if (n < capacity_ - block_) {
    Reallocate(n + block_, n);
  }
  size_ = n;
}

void TIEByteArray::AddByte(uint8_t b) {
  SetUsedSize(size_ + 1);
  data_[size_ - 1] = b;
}

int TIEByteArray::AppendFromStream(TIEStream& stream, int n) {
  if (n <= 0) return 0;
  int old = size_;
  SetUsedSize(size_ + n);
  int got = std::max(0, stream.Read(data_ + old, n));
  if (got < n) SetUsedSize(old + got);
  return got;
}

// ---- IEQuickSort ----

namespace {

void QuickSortRange(int L, int R, const TIECompareFunction& compare, const TIESwapFunction& swap) {
  // Recurse into the left part, loop on the right one.
  for (;;) {
    int I = L, J = R, P = L + (R - L) / 2;  // the pivot is a position, followed through the swaps
    do {
      while (compare(I, P) < 0) ++I;
      while (compare(J, P) > 0) --J;
      if (I <= J) {
        if (I == P)
          P = J;
        else if (J == P)
          P = I;
        swap(I, J);
        ++I;
        --J;
      }
    } while (I <= J);
    if (L < J) QuickSortRange(L, J, compare, swap);
    if (I >= R) return;
    L = I;
  }
}

}  // namespace

void IEQuickSort(int count, const TIECompareFunction& compare, const TIESwapFunction& swap) {
  if (count > 0) QuickSortRange(0, count - 1, compare, swap);
}
