#include "ielists.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "iestreams.h"

TEST(IELists, AppendGrowsByDoubling) {
  TIEIntegerList l;
  std::vector<int> capacities;
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(l.Add(i * 10), i);
    capacities.push_back(l.Capacity());
  }
  EXPECT_EQ(capacities, (std::vector<int>{1, 2, 4, 4, 8}));
  EXPECT_EQ(l[4], 40);
  EXPECT_TRUE(l.Changed());
}

TEST(IELists, AssignDeleteAndClear) {
  TIERecordList src(12);
  struct Rec { int a, b, c; };
  for (int i = 0; i < 3; ++i) {
    Rec r = {i, i * 2, i * 3};
    src.AddRecord(&r);
  }
  TIERecordList dst(4);
  dst.Assign(&src);
  EXPECT_EQ(dst.Capacity(), 3);
  EXPECT_EQ(dst.ItemSize(), 12);
  dst.SetCount(5);  // reallocates and keeps the three records
  EXPECT_GE(dst.Capacity(), 5);
  EXPECT_EQ(static_cast<Rec*>(dst.GetRecord(2))->c, 6);
  dst.SetCount(2);  // a smaller count keeps the block
  EXPECT_GE(dst.Capacity(), 5);

  TIEIntegerList l;
  for (int v : {1, 2, 3, 4}) l.Add(v);
  l.Clear();
  EXPECT_FALSE(l.Changed());
  for (int v : {1, 2, 3, 4}) l.Add(v);
  // Delete outside the range changes nothing (flags neither).
  TIEIntegerList fresh;
  fresh.Assign(&l);
  TIEIntegerList clean;
  clean.Delete(0);
  EXPECT_FALSE(clean.Changed());
  l.Delete(4);
  l.Delete(-1);
  EXPECT_EQ(l.Count(), 4);
  l.Delete(1);
  EXPECT_EQ(l.Count(), 3);
  EXPECT_EQ(l.Capacity(), 3);
  EXPECT_EQ(l[0], 1);
  EXPECT_EQ(l[1], 3);
  EXPECT_EQ(l[2], 4);
  l.Assign(nullptr);
  EXPECT_EQ(l.Count(), 3);
}

TEST(IELists, TypedListsCarryTheirValues) {
  TIEDoubleList d;
  d.Add(1.5);
  d.Values[2] = 9.25;
  TIEDoubleList e;
  e.Assign(&d);
  EXPECT_EQ(e.Values[2], 9.25);
  EXPECT_EQ(e[0], 1.5);
  TIERecordList wide(20);
  char rec[20] = {};
  wide.AddRecord(rec);
  e.Assign(&wide);
  EXPECT_EQ(e.ItemSize(), 20);
  e.Clear();  // a double list goes back to 8-byte items
  EXPECT_EQ(e.ItemSize(), 8);
  EXPECT_EQ(e.Values[2], 0);
  TIEIntegerList i;
  i.Values[0] = 5;
  TIEIntegerList j;
  j.Assign(&i);
  EXPECT_EQ(j.Values[0], 5);
}

TEST(IELists, Hash1) {
  THash1 h(13);
  EXPECT_EQ(h.BucketCount(), 8192);
  EXPECT_TRUE(h.Add(0x123456));
  EXPECT_FALSE(h.Add(0x123456));
  EXPECT_EQ(h.Count(), 1);
  // Keys a multiple of the bucket count apart share a bucket and form a chain.
  EXPECT_TRUE(h.Add(0x123456 + 8192));
  EXPECT_TRUE(h.Add(0x123456 + 2 * 8192));
  EXPECT_FALSE(h.Add(0x123456 + 8192));
  EXPECT_FALSE(h.Add(0x123456));
  EXPECT_FALSE(h.Add(0x123456 + 2 * 8192));
  EXPECT_EQ(h.Count(), 3);
  // Against a reference set.
  std::mt19937 rng(7);
  std::vector<uint32_t> seen;
  THash1 g(4);
  for (int k = 0; k < 2000; ++k) {
    uint32_t key = rng() % 700;
    bool fresh = std::find(seen.begin(), seen.end(), key) == seen.end();
    if (fresh) seen.push_back(key);
    ASSERT_EQ(g.Add(key), fresh);
  }
  EXPECT_EQ(g.Count(), int(seen.size()));
}

TEST(IELists, ByteArray) {
  TIEByteArray a(100);
  EXPECT_EQ(a.Capacity(), 100);
  for (int i = 0; i < 900; ++i) a.AddByte(uint8_t(i));
  EXPECT_EQ(a.Size(), 900);
  a.SetUsedSize(850);  // less than one block unused: nothing moves
  int capBefore = a.Capacity();
  a.SetUsedSize(capBefore - 100);
  EXPECT_EQ(a.Capacity(), capBefore);
  a.SetUsedSize(10);
  EXPECT_EQ(a.Capacity(), 110);
  EXPECT_EQ(a.Size(), 10);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(a.Data()[i], i);

  const uint8_t src[5] = {1, 2, 3, 4, 5};
  TIEMemStream s(src, 5);
  s.SetPosition(2);
  EXPECT_EQ(a.AppendFromStream(s, 10), 3);
  EXPECT_EQ(a.Size(), 13);
  EXPECT_EQ(a.Data()[12], 5);
  EXPECT_EQ(a.AppendFromStream(s, 4), 0);  // at the end: nothing appended
  EXPECT_EQ(a.Size(), 13);
}

TEST(IELists, QuickSort) {
  const std::vector<std::vector<int>> kCases = {
      {}, {1}, {2, 1}, {1, 2, 3}, {3, 2, 1}, {5, 5, 5, 5}, {4, 1, 3, 1, 2, 9, 0, -3, 7, 7}, {1, 0, 1, 0, 1, 0, 1}};
  for (std::vector<int> v : kCases) {
    std::vector<int> want = v;
    std::sort(want.begin(), want.end());
    IEQuickSort(int(v.size()), [&](int i, int j) { return v[i] < v[j] ? -1 : (v[i] > v[j] ? 1 : 0); },
                [&](int i, int j) { std::swap(v[i], v[j]); });
    EXPECT_EQ(v, want);
  }
  std::mt19937 rng(3);
  std::vector<int> big(5000);
  for (int& x : big) x = int(rng() % 100);
  IEQuickSort(int(big.size()), [&](int i, int j) { return big[i] - big[j]; }, [&](int i, int j) { std::swap(big[i], big[j]); });
  EXPECT_TRUE(std::is_sorted(big.begin(), big.end()));
  // Count 1: position 0 compared with itself twice and swapped with itself once; count 0: no calls.
  std::vector<std::string> calls;
  IEQuickSort(1, [&](int i, int j) { calls.push_back("c" + std::to_string(i) + std::to_string(j)); return 0; },
              [&](int i, int j) { calls.push_back("s" + std::to_string(i) + std::to_string(j)); });
  EXPECT_EQ(calls, (std::vector<std::string>{"c00", "c00", "s00"}));
  calls.clear();
  IEQuickSort(0, [&](int, int) { calls.push_back("c"); return 0; }, [&](int, int) { calls.push_back("s"); });
  EXPECT_TRUE(calls.empty());
}
