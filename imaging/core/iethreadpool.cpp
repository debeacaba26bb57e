#include "iethreadpool.h"

#include <process.h>

#include "ieutils.h"

TIEPoolThread::TIEPoolThread() {
  // _beginthreadex rather than CreateThread: the workers use the C run-time library.
  uintptr_t h = _beginthreadex(nullptr, 0, Entry, this, CREATE_SUSPENDED, &id_);
  if (!h) throw EIEError("Thread creation error");
  handle_ = reinterpret_cast<HANDLE>(h);
}

TIEPoolThread::~TIEPoolThread() {
  if (!handle_) return;
  if (!started_) {
    cancelled_ = true;
    ResumeThread(handle_);
  }
  WaitForSingleObject(handle_, INFINITE);
  CloseHandle(handle_);
}

unsigned __stdcall TIEPoolThread::Entry(void* self) {
  auto* t = static_cast<TIEPoolThread*>(self);
  if (t->cancelled_) return 0;
  try {
    t->Execute();
  } catch (...) {
    t->fatal_ = std::current_exception();
  }
  return 0;
}

void TIEPoolThread::Resume() {
  if (started_) return;
  started_ = true;
  ResumeThread(handle_);
}

void TIEPoolThread::WaitFor() {
  if (started_) WaitForSingleObject(handle_, INFINITE);
}

TIEThreadPool::~TIEThreadPool() {
  try {
    WaitForAll();
  } catch (...) {
    // Nothing can report from here; a caller that cares calls WaitForAll itself.
  }
}

void TIEThreadPool::Add(TIEPoolThread* thread) {
  threads_.push_back(thread);
  thread->Resume();
}

void TIEThreadPool::WaitForAll() {
  std::exception_ptr first;
  for (TIEPoolThread* t : threads_) {
    t->WaitFor();
    if (!first) first = t->FatalException();
    delete t;
  }
  threads_.clear();
  if (first) std::rethrow_exception(first);
}
