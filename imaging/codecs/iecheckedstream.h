// A writer's destination behind the write check: every write goes through IEStreamWriteCheck, so a
// short write sets the abort flag. From then on writes are dropped (and reported taken, so the text
// helpers that raise on a short write stay quiet): the writer runs its remaining steps without
// touching the destination again, and the flag tells the caller the document is incomplete.
#pragma once
#include <atomic>
#include <cstdint>

#include "iestreams.h"

class TIECheckedWriteStream : public TIEStream {
 public:
  TIECheckedWriteStream(TIEStream& dest, bool& abort) : dest_(dest), abort_(abort) {}
  int32_t Read(void* buffer, int32_t count) override { return dest_.Read(buffer, count); }
  int32_t Write(const void* buffer, int32_t count) override {
    if (!failed_) {
      std::atomic<bool> shortWrite{false};
      IEStreamWriteCheck(dest_, shortWrite, buffer, count);
      if (shortWrite) {
        failed_ = true;
        abort_ = true;
      }
    }
    return count;
  }
  int64_t Seek(int64_t offset, int origin) override { return dest_.Seek(offset, origin); }
  bool Failed() const { return failed_; }

 private:
  TIEStream& dest_;
  bool& abort_;
  bool failed_ = false;
};
