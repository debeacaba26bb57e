#include "iethreadpool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <stdexcept>
#include <vector>

#include "vodevovur.h"

namespace {

// Every worker waits until all N are running at once, so the batch only completes when the pool
// really runs N threads side by side.
struct Batch {
  explicit Batch(int n) : n(n), all(CreateEventA(nullptr, TRUE, FALSE, nullptr)), ids(size_t(n)) {}
  ~Batch() { CloseHandle(all); }
  int n;
  HANDLE all;
  std::atomic<int> running{0};
  std::atomic<int> sawAll{0};
  std::vector<DWORD> ids;
  std::vector<int> sums = std::vector<int>(size_t(n));
};

class Worker : public TIEPoolThread {
 public:
  Worker(Batch& b, int index) : b_(b), index_(index) {}

 protected:
  void Execute() override {
    b_.ids[size_t(index_)] = GetCurrentThreadId();
    if (++b_.running == b_.n) SetEvent(b_.all);
    if (WaitForSingleObject(b_.all, 60000) == WAIT_OBJECT_0) ++b_.sawAll;
    int s = 0;
    for (int i = 0; i <= index_ * 1000; ++i) s += i % 7;  // each worker's own share of the work
    b_.sums[size_t(index_)] = s;
  }

 private:
  Batch& b_;
  int index_;
};

class Failing : public TIEPoolThread {
 protected:
  void Execute() override { throw std::runtime_error("worker failed"); }
};

class Slow : public TIEPoolThread {
 public:
  explicit Slow(std::atomic<int>& done) : done_(done) {}

 protected:
  void Execute() override {
    Sleep(50);
    ++done_;
  }

 private:
  std::atomic<int>& done_;
};

}  // namespace

TEST(IEThreadPool, RunsNTasksOnNThreadsAndJoins) {
  TIEThreadPool pool;
  pool.WaitForAll();  // empty: returns at once
  for (int n : {IEProcessorCount(), 8}) {  // the pool can take batch after batch
    Batch b(n);
    for (int i = 0; i < n; ++i) pool.Add(new Worker(b, i));
    EXPECT_EQ(pool.Count(), n);
    pool.WaitForAll();
    EXPECT_EQ(pool.Count(), 0);
    EXPECT_EQ(b.sawAll.load(), n);
    std::set<DWORD> distinct(b.ids.begin(), b.ids.end());
    EXPECT_EQ(int(distinct.size()), n);
    EXPECT_EQ(distinct.count(GetCurrentThreadId()), 0u);
    for (int i = 0; i < n; ++i) {
      int s = 0;
      for (int k = 0; k <= i * 1000; ++k) s += k % 7;
      EXPECT_EQ(b.sums[size_t(i)], s);
    }
  }
}

TEST(IEThreadPool, DestroyWaitsAndFailuresAreReported) {
  std::atomic<int> done{0};
  {
    TIEThreadPool pool;
    for (int i = 0; i < 4; ++i) pool.Add(new Slow(done));
  }  // the destructor joins the running threads
  EXPECT_EQ(done.load(), 4);

  TIEThreadPool pool;
  pool.Add(new Failing);
  pool.Add(new Slow(done));
  EXPECT_THROW(pool.WaitForAll(), std::runtime_error);
  EXPECT_EQ(pool.Count(), 0);
  EXPECT_EQ(done.load(), 5);  // joined all the same

  // A thread created but never handed to a pool ends without running.
  std::atomic<int> never{0};
  delete new Slow(never);
  EXPECT_EQ(never.load(), 0);
}
