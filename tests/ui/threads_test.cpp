// Threads: calls synchronised to the user-interface thread through the application's loop and through
// WaitFor, self-freeing threads, failures inside threads, events, thread lists and canvas locks.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

#include "uibitmap.h"
#include "uiforms.h"
#include "uithreads.h"

using namespace ui;

namespace {

// A thread whose body is a callable.
class TTestThread : public TThread {
  UI_DECLARE_CLASS(TTestThread, TThread)
 public:
  explicit TTestThread(std::function<void(TTestThread*)> body, bool* destroyed = nullptr)
      : TThread(true), body_(std::move(body)), destroyed_(destroyed) {}
  ~TTestThread() override {
    if (destroyed_) *destroyed_ = true;
  }
  using TThread::Synchronize;

 protected:
  void Execute() override { body_(this); }

 private:
  std::function<void(TTestThread*)> body_;
  bool* destroyed_;
};
UI_IMPLEMENT_CLASS(TTestThread, TThread, nullptr, nullptr, nullptr, nullptr)

TEST(ThreadTest, SynchronizeRunsOnTheUiThreadWhileTheLoopPumps) {
  Application->Handle();
  const DWORD ui = GetCurrentThreadId();
  DWORD ranOn = 0, workerId = 0;
  std::atomic<bool> afterSync{false};
  bool loopDone = false;
  TTestThread* t = ui::Create<TTestThread>([&](TTestThread* self) {
    workerId = GetCurrentThreadId();
    self->Synchronize([&] {
      ranOn = GetCurrentThreadId();
      // The thread waits for us: it cannot have gone on yet.
      EXPECT_FALSE(afterSync.load());
      loopDone = true;
    });
    afterSync = true;
  });
  t->Start();
  // The ordinary loop, idle between messages: the thread's call must wake it.
  while (!loopDone) Application->HandleMessage();
  EXPECT_EQ(0u, t->WaitFor());
  EXPECT_EQ(ui, ranOn);
  EXPECT_NE(ui, workerId);
  EXPECT_TRUE(afterSync);
  t->Free();
}

TEST(ThreadTest, WaitForOnTheUiThreadServesSynchronizeAndReturnsTheReturnValue) {
  std::vector<int> order;
  TTestThread* t = ui::Create<TTestThread>([&](TTestThread* self) {
    for (int i = 0; i < 3; ++i) self->Synchronize([&order, i] { order.push_back(i); });
    self->ReturnValue = 42;
  });
  t->Start();
  EXPECT_EQ(42u, t->WaitFor());  // no loop runs here: WaitFor itself serves the three calls
  EXPECT_EQ((std::vector<int>{0, 1, 2}), order);
  EXPECT_TRUE(t->Finished());
  t->Free();
}

TEST(ThreadTest, FreeOnTerminateThreadFiresOnTerminateOnTheUiThreadAndFreesItself) {
  bool destroyed = false;
  DWORD terminateOn = 0;
  TTestThread* t = ui::Create<TTestThread>([](TTestThread* self) { self->ReturnValue = 7; }, &destroyed);
  t->FreeOnTerminate = true;
  t->OnTerminate = [&](TObject* sender) {
    terminateOn = GetCurrentThreadId();
    EXPECT_EQ(t, sender);
  };
  t->Start();
  // The thread frees itself while we wait on it; WaitFor must not need the object afterwards.
  EXPECT_EQ(7u, t->WaitFor());
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(GetCurrentThreadId(), terminateOn);
}

TEST(ThreadTest, FailuresStayWithTheThreadOrReachTheSynchronizingCaller) {
  bool caught = false;
  TTestThread* t = ui::Create<TTestThread>([&](TTestThread* self) {
    try {
      self->Synchronize([] { throw EConvertError("on the ui thread"); });
    } catch (const EConvertError& e) {
      caught = std::string(e.what()) == "on the ui thread";
    }
    throw std::runtime_error("ends the thread");
  });
  t->Start();
  t->WaitFor();
  EXPECT_TRUE(caught);
  ASSERT_TRUE(t->FatalException());
  EXPECT_THROW(std::rethrow_exception(t->FatalException()), std::runtime_error);
  t->Free();
}

TEST(ThreadTest, FreeingAThreadThatNeverRanSkipsExecuteAndARunningOneIsTerminatedAndJoined) {
  bool ran = false;
  TTestThread* never = ui::Create<TTestThread>([&](TTestThread*) { ran = true; });
  EXPECT_TRUE(never->GetSuspended());
  never->Free();
  EXPECT_FALSE(ran);

  std::atomic<int> loops{0};
  TTestThread* busy = ui::Create<TTestThread>([&](TTestThread* self) {
    while (!self->Terminated()) {
      ++loops;
      Sleep(1);
    }
  });
  busy->SetPriority(tpLower);
  EXPECT_EQ(tpLower, busy->GetPriority());
  busy->Start();
  while (loops.load() == 0) Sleep(1);
  busy->Free();  // sets Terminated and waits
  int after = loops.load();
  Sleep(20);
  EXPECT_EQ(after, loops.load());
}

TEST(ThreadTest, CheckSynchronizeRefusesOtherThreads) {
  bool refused = false;
  TTestThread* t = ui::Create<TTestThread>([&](TTestThread*) {
    try {
      CheckSynchronize();
    } catch (const EThread&) {
      refused = true;
    }
  });
  t->Start();
  t->WaitFor();
  t->Free();
  EXPECT_TRUE(refused);
}

TEST(SyncObjectsTest, EventsThreadListAndCanvasLockAcrossThreads) {
  TSimpleEvent ev;
  EXPECT_EQ(wrTimeout, ev.WaitFor(10));
  TThreadList list;
  int a = 0;
  list.Add(&a);
  list.Add(&a);  // ignored: dupIgnore
  EXPECT_EQ(1, list.LockList()->Count());
  list.UnlockList();

  TBitmap bmp;
  bmp.SetSize(4, 4);
  TCanvas* canvas = bmp.Canvas();
  canvas->Lock();
  bool triedWhileHeld = true, triedAfter = false;
  TTestThread* t = ui::Create<TTestThread>([&](TTestThread*) {
    triedWhileHeld = canvas->TryLock();
    list.Remove(&a);
    ev.SetEvent();
  });
  t->Start();
  EXPECT_EQ(wrSignaled, ev.WaitFor(5000));
  t->WaitFor();
  t->Free();
  EXPECT_FALSE(triedWhileHeld);
  EXPECT_EQ(0, list.LockList()->Count());
  list.UnlockList();
  canvas->Unlock();
  ev.ResetEvent();
  TTestThread* t2 = ui::Create<TTestThread>([&](TTestThread*) {
    triedAfter = canvas->TryLock();
    if (triedAfter) canvas->Unlock();
  });
  t2->Start();
  t2->WaitFor();
  t2->Free();
  EXPECT_TRUE(triedAfter);
  EXPECT_EQ(0, canvas->LockCount());
}

}  // namespace
