// Threads and synchronisation: TThread with calls synchronised to the main (user-interface) thread,
// the thread-safe list, critical sections and event objects.
//
// A thread's Synchronize queues a method for the main thread and waits until it has run there. The main
// thread serves the queue in CheckSynchronize, which the application's message loop calls whenever a
// call is queued (it is woken by a posted message) and when it goes idle; WaitFor on the main thread
// serves it too, so a thread that synchronises while the main thread waits for it cannot deadlock.
#pragma once
#include <windows.h>

#include <exception>

#include "uicomponent.h"

namespace ui {

UI_EXCEPTION(EThread, Exception)

// ---- synchronisation objects ----

class TSynchroObject : public TObject {
  UI_DECLARE_CLASS(TSynchroObject, TObject)
 public:
  virtual void Acquire() = 0;
  virtual void Release() = 0;

 protected:
  TSynchroObject() = default;
};

class TCriticalSection : public TSynchroObject {
  UI_DECLARE_CLASS(TCriticalSection, TSynchroObject)
 public:
  TCriticalSection() { InitializeCriticalSection(&section_); }
  ~TCriticalSection() override { DeleteCriticalSection(&section_); }
  void Acquire() override { EnterCriticalSection(&section_); }
  void Release() override { LeaveCriticalSection(&section_); }
  void Enter() { Acquire(); }
  void Leave() { Release(); }
  // Takes the section when no other thread holds it; never waits.
  bool TryEnter() { return TryEnterCriticalSection(&section_) != FALSE; }

 private:
  CRITICAL_SECTION section_;
};

enum TWaitResult { wrSignaled, wrTimeout, wrAbandoned, wrError };

// A platform event object. (`TEvent` names the library's method events, hence the name.)
class TSyncEvent : public TSynchroObject {
  UI_DECLARE_CLASS(TSyncEvent, TSynchroObject)
 public:
  // Raises EOSError when the system refuses the event.
  TSyncEvent(bool manualReset, bool initialState, const char* name = nullptr);
  ~TSyncEvent() override;
  HANDLE Handle() const { return handle_; }
  void SetEvent() { ::SetEvent(handle_); }
  void ResetEvent() { ::ResetEvent(handle_); }
  TWaitResult WaitFor(DWORD timeoutMs);
  // As a synchronisation object: Acquire waits for the event, Release sets it.
  void Acquire() override { WaitFor(INFINITE); }
  void Release() override { SetEvent(); }
  int LastError() const { return lastError_; }

 private:
  HANDLE handle_;
  int lastError_ = 0;
};

// A manual-reset event that starts not set.
class TSimpleEvent : public TSyncEvent {
  UI_DECLARE_CLASS(TSimpleEvent, TSyncEvent)
 public:
  TSimpleEvent() : TSyncEvent(true, false) {}
};

// A TList guarded by a critical section: every access but Add/Remove/Clear goes through
// LockList ... UnlockList.
enum TDuplicates { dupIgnore, dupAccept, dupError };

class TThreadList : public TObject {
  UI_DECLARE_CLASS(TThreadList, TObject)
 public:
  TThreadList() = default;
  ~TThreadList() override;
  // Adds unless `p` is already there (Duplicates dupIgnore, the default); dupError raises EListError.
  void Add(void* p);
  void Remove(void* p);
  void Clear();
  TList* LockList();
  void UnlockList();
  TDuplicates Duplicates = dupIgnore;

 private:
  TList list_;
  TCriticalSection lock_;
};

// ---- threads ----

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };
using TThreadMethod = TEvent<void()>;

// The identifier of the thread that started the program (the user-interface thread).
DWORD MainThreadID();

// Runs the calls that threads have queued with Synchronize; on the main thread only (EThread
// elsewhere). `timeoutMs` waits that long for a call when none is queued. True when a call ran.
bool CheckSynchronize(DWORD timeoutMs = 0);

// Called (on the calling thread) whenever a call is queued, so that the main thread's loop wakes up;
// the application sets it to post a message to its window.
extern void (*WakeMainThread)();

class TThread : public TObject {
  UI_DECLARE_CLASS(TThread, TObject)
 public:
  // The system thread is made at once but runs Execute only after construction is complete
  // (AfterConstruction resumes it unless `createSuspended`). EThread when the system refuses it.
  explicit TThread(bool createSuspended);
  void AfterConstruction() override;
  // Freeing a running thread terminates it and waits for it; one that never ran does not run Execute.
  void BeforeDestruction() override;
  ~TThread() override;

  // Starts a thread that was created suspended (nothing when it runs already).
  void Resume();
  void Start() { Resume(); }
  bool GetSuspended() const { return suspended_; }
  // Asks Execute to end (it polls Terminated).
  void Terminate() { terminated_ = true; }
  bool Terminated() const { return terminated_; }
  bool Finished() const { return finished_; }
  // Waits until the thread has ended and returns its ReturnValue. On the main thread it keeps serving
  // synchronised calls (and messages sent to its windows) meanwhile. Safe on a FreeOnTerminate thread
  // that frees itself while the caller waits.
  DWORD WaitFor();
  TThreadPriority GetPriority() const;
  void SetPriority(TThreadPriority p);
  HANDLE Handle() const { return handle_; }
  DWORD ThreadID() const { return threadId_; }
  // Free the object when Execute returns (after OnTerminate).
  bool FreeOnTerminate = false;
  // The thread's exit code, set by Execute.
  DWORD ReturnValue = 0;
  // The exception that ended Execute, if any.
  std::exception_ptr FatalException() const { return fatal_; }
  // Runs on the main thread after Execute (through Synchronize).
  TNotifyEvent OnTerminate;

  // Runs `method` on the main thread and waits for it; from the main thread it runs at once. An
  // exception of the method reaches the caller in this thread.
  void Synchronize(const TThreadMethod& method);

 protected:
  virtual void Execute() = 0;
  // Fires OnTerminate on the main thread.
  virtual void DoTerminate();

 private:
  static DWORD WINAPI ThreadProc(LPVOID param);
  void CallOnTerminate() { OnTerminate(this); }
  HANDLE handle_ = nullptr;
  DWORD threadId_ = 0;
  bool createSuspended_;
  volatile bool suspended_ = true;
  volatile bool terminated_ = false;
  volatile bool finished_ = false;
  volatile bool skipExecute_ = false;  // freed before it ever ran: Execute is not called
  std::exception_ptr fatal_;
};

}  // namespace ui
