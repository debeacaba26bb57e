// A batch of worker threads that a caller creates suspended, hands to the pool (which starts them at
// once) and then waits for. The pool keeps no idle threads: every batch creates and frees its own.
// The workers stand on the platform's own threads (TIEPoolThread below); the resampler's horizontal
// pass runs one per processor core (IEProcessorCount).
#pragma once
#include <windows.h>

#include <exception>
#include <vector>

// A platform thread created suspended; Execute runs on it once it is resumed. An exception leaving
// Execute is caught on the thread and kept (FatalException), since it must not end the process.
class TIEPoolThread {
 public:
  TIEPoolThread();
  virtual ~TIEPoolThread();  // a thread never resumed ends without running Execute
  void Resume();
  void WaitFor();  // blocks until Execute has returned
  std::exception_ptr FatalException() const { return fatal_; }
  DWORD ThreadID() const { return id_; }

 protected:
  virtual void Execute() = 0;

 private:
  TIEPoolThread(const TIEPoolThread&) = delete;
  TIEPoolThread& operator=(const TIEPoolThread&) = delete;
  static unsigned __stdcall Entry(void* self);
  HANDLE handle_ = nullptr;
  unsigned id_ = 0;
  bool started_ = false;
  volatile bool cancelled_ = false;
  std::exception_ptr fatal_;
};

class TIEThreadPool {
 public:
  TIEThreadPool() = default;
  ~TIEThreadPool();  // waits for running threads first
  void Add(TIEPoolThread* thread);  // takes ownership and resumes it
  // Waits for every thread in the order they were added and frees it; the pool can then take a new
  // batch. When a worker failed, the first failure is raised again after all have been joined.
  void WaitForAll();
  int Count() const { return int(threads_.size()); }

 private:
  TIEThreadPool(const TIEThreadPool&) = delete;
  TIEThreadPool& operator=(const TIEThreadPool&) = delete;
  std::vector<TIEPoolThread*> threads_;
};
