#include "uithreads.h"

#include <algorithm>
#include <vector>

namespace ui {

UI_IMPLEMENT_CLASS(TSynchroObject, TObject, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TCriticalSection, TSynchroObject, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TSyncEvent, TSynchroObject, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TSimpleEvent, TSyncEvent, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TThreadList, TObject, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TThread, TObject, nullptr, nullptr, nullptr, nullptr)

void (*WakeMainThread)() = nullptr;

namespace {

// One queued Synchronize call; it lives on the stack of the waiting thread.
struct SyncRequest {
  TThreadMethod method;
  HANDLE done;
  std::exception_ptr error;
};

// The queue of synchronised calls. Made during static initialisation, which runs on the main thread,
// so the main thread's identifier is known before any thread can exist.
struct SyncQueue {
  DWORD mainThread = GetCurrentThreadId();
  CRITICAL_SECTION lock;
  HANDLE pending;  // manual reset: set while the queue holds calls
  std::vector<SyncRequest*> calls;
  SyncQueue() {
    InitializeCriticalSection(&lock);
    pending = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  }
  ~SyncQueue() {
    CloseHandle(pending);
    DeleteCriticalSection(&lock);
  }
};
SyncQueue& Queue() {
  static SyncQueue q;
  return q;
}
[[maybe_unused]] const SyncQueue& kQueueAtStartup = Queue();

const int kPriorities[] = {THREAD_PRIORITY_IDLE,    THREAD_PRIORITY_LOWEST,  THREAD_PRIORITY_BELOW_NORMAL,
                           THREAD_PRIORITY_NORMAL,  THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                           THREAD_PRIORITY_TIME_CRITICAL};

}  // namespace

DWORD MainThreadID() { return Queue().mainThread; }

bool CheckSynchronize(DWORD timeoutMs) {
  SyncQueue& q = Queue();
  if (GetCurrentThreadId() != q.mainThread)
    throw EThread(Format("CheckSynchronize called from thread $%lx, which is not the main thread",
                         static_cast<unsigned long>(GetCurrentThreadId())));
  if (timeoutMs) WaitForSingleObject(q.pending, timeoutMs);
  std::vector<SyncRequest*> calls;
  EnterCriticalSection(&q.lock);
  calls.swap(q.calls);
  ResetEvent(q.pending);
  LeaveCriticalSection(&q.lock);
  for (SyncRequest* r : calls) {
    try {
      r->method();
    } catch (...) {
      r->error = std::current_exception();
    }
    SetEvent(r->done);
  }
  return !calls.empty();
}

// ---- synchronisation objects ----

TSyncEvent::TSyncEvent(bool manualReset, bool initialState, const char* name)
    : handle_(CreateEventA(nullptr, manualReset, initialState, name)) {
  if (!handle_) RaiseLastOSError();
}

TSyncEvent::~TSyncEvent() { CloseHandle(handle_); }

TWaitResult TSyncEvent::WaitFor(DWORD timeoutMs) {
  switch (WaitForSingleObject(handle_, timeoutMs)) {
    case WAIT_OBJECT_0:
      return wrSignaled;
    case WAIT_TIMEOUT:
      return wrTimeout;
    case WAIT_ABANDONED:
      return wrAbandoned;
    default:
      lastError_ = static_cast<int>(GetLastError());
      return wrError;
  }
}

TThreadList::~TThreadList() = default;

void TThreadList::Add(void* p) {
  TList* l = LockList();
  try {
    if (Duplicates == dupAccept || l->IndexOf(p) < 0)
      l->Add(p);
    else if (Duplicates == dupError)
      throw EListError("List does not allow duplicates");
  } catch (...) {
    UnlockList();
    throw;
  }
  UnlockList();
}

void TThreadList::Remove(void* p) {
  LockList()->Remove(p);
  UnlockList();
}

void TThreadList::Clear() {
  LockList()->Clear();
  UnlockList();
}

TList* TThreadList::LockList() {
  lock_.Enter();
  return &list_;
}

void TThreadList::UnlockList() { lock_.Leave(); }

// ---- TThread ----

TThread::TThread(bool createSuspended) : createSuspended_(createSuspended) {
  handle_ = CreateThread(nullptr, 0, &TThread::ThreadProc, this, CREATE_SUSPENDED, &threadId_);
  if (!handle_) throw EThread(Format("Thread creation error: %s", SysErrorMessage(GetLastError()).c_str()));
}

void TThread::AfterConstruction() {
  if (!createSuspended_) Resume();
}

void TThread::BeforeDestruction() {
  if (handle_ && !finished_ && GetCurrentThreadId() != threadId_) {
    terminated_ = true;
    if (suspended_) {
      skipExecute_ = true;
      Resume();
    }
    WaitFor();
  }
  TObject::BeforeDestruction();
}

TThread::~TThread() {
  if (handle_) CloseHandle(handle_);
}

DWORD WINAPI TThread::ThreadProc(LPVOID param) {
  auto* t = static_cast<TThread*>(param);
  if (!t->skipExecute_) {
    try {
      t->Execute();
    } catch (...) {
      t->fatal_ = std::current_exception();
    }
    try {
      t->DoTerminate();
    } catch (...) {
      // An OnTerminate failure has nowhere to go but the thread's end.
    }
  }
  const bool freeIt = t->FreeOnTerminate && !t->skipExecute_;
  const DWORD result = t->ReturnValue;
  // From here on another thread may free a thread object that is not FreeOnTerminate.
  t->finished_ = true;
  if (freeIt) t->Free();
  return result;
}

void TThread::DoTerminate() {
  if (OnTerminate) Synchronize(TThreadMethod(this, &TThread::CallOnTerminate));
}

void TThread::Resume() {
  if (!suspended_) return;
  DWORD count = ResumeThread(handle_);
  if (count == static_cast<DWORD>(-1)) RaiseLastOSError();
  if (count <= 1) suspended_ = false;
}

DWORD TThread::WaitFor() {
  if (GetCurrentThreadId() == threadId_) throw EThread("A thread cannot wait for itself");
  // Our own handle: a FreeOnTerminate thread closes its handle when it frees itself, possibly while
  // we wait, so the wait must not use the object after it began.
  HANDLE h = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), handle_, GetCurrentProcess(), &h, 0, FALSE, DUPLICATE_SAME_ACCESS))
    RaiseLastOSError();
  if (GetCurrentThreadId() == MainThreadID()) {
    // The thread may be waiting for us in Synchronize: serve those calls, and messages other threads
    // send to our windows, until it has ended.
    HANDLE waits[2] = {h, Queue().pending};
    for (;;) {
      DWORD r = MsgWaitForMultipleObjects(2, waits, FALSE, INFINITE, QS_SENDMESSAGE);
      if (r == WAIT_OBJECT_0) break;
      if (r == WAIT_OBJECT_0 + 1) {
        CheckSynchronize();
      } else if (r == WAIT_OBJECT_0 + 2) {
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // delivers the sent messages
      } else {
        CloseHandle(h);
        RaiseLastOSError();
      }
    }
  } else {
    WaitForSingleObject(h, INFINITE);
  }
  DWORD code = 0;
  GetExitCodeThread(h, &code);
  CloseHandle(h);
  return code;
}

TThreadPriority TThread::GetPriority() const {
  int p = GetThreadPriority(handle_);
  for (int i = 0; i < 7; ++i)
    if (kPriorities[i] == p) return static_cast<TThreadPriority>(i);
  return tpNormal;
}

void TThread::SetPriority(TThreadPriority p) {
  if (!SetThreadPriority(handle_, kPriorities[p])) RaiseLastOSError();
}

void TThread::Synchronize(const TThreadMethod& method) {
  SyncQueue& q = Queue();
  if (GetCurrentThreadId() == q.mainThread) {
    method();
    return;
  }
  SyncRequest r{method, CreateEventA(nullptr, TRUE, FALSE, nullptr), nullptr};
  if (!r.done) RaiseLastOSError();
  EnterCriticalSection(&q.lock);
  q.calls.push_back(&r);
  SetEvent(q.pending);
  LeaveCriticalSection(&q.lock);
  if (WakeMainThread) WakeMainThread();
  WaitForSingleObject(r.done, INFINITE);
  CloseHandle(r.done);
  if (r.error) std::rethrow_exception(r.error);
}

}  // namespace ui
