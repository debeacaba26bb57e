// The JPEG reader as the tests call it: a file held in memory, read from `at`, with the abort flag
// reported beside the rows.
#pragma once
#include <atomic>
#include <cstdint>
#include <vector>

#include "iebitmap.h"
#include "iestreams.h"
#include "ioparams.h"
#include "jpegfilt.h"

namespace jpegtest {

struct TRead {
  bool aborted = false;
  int rows = 0;
};

inline TRead Read(const std::vector<uint8_t>& file, TIEBitmap& b, TIOParamsVals& p, bool native = false,
                  bool invertCMYK = false, int64_t at = 0, int maxRows = -1, bool applyICC = true) {
  TIEMemStream s(file.data(), int64_t(file.size()));
  s.SetPosition(at);
  std::atomic<bool> abort{false};
  TIECodecProgress progress;
  progress.Aborting = &abort;
  TRead r;
  r.rows = IEJPEGRead(s, nullptr, b, p, progress, false, false, true, invertCMYK, applyICC, true, maxRows, native);
  r.aborted = abort;
  return r;
}

}  // namespace jpegtest
