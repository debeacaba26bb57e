#include "iebands.h"

#include <algorithm>

#include "iethreadpool.h"
#include "vodevovur.h"

namespace {

// One band of lines of a parallel pass.
class TBandThread : public TIEPoolThread {
 public:
  TBandThread(const std::function<void(int, int)>& body, int first, int count)
      : body_(body), first_(first), count_(count) {}

 protected:
  void Execute() override { body_(first_, count_); }

 private:
  const std::function<void(int, int)>& body_;
  int first_, count_;
};

}  // namespace

int IEBandCount(int lines, int maxWorkers, int minLines) {
  int workers = std::min(IEProcessorCount(), lines / std::max(minLines, 1));
  if (maxWorkers > 0) workers = std::min(workers, maxWorkers);
  return std::max(workers, 1);
}

void IEForBands(int lines, const std::function<void(int, int)>& body, int maxWorkers, int minLines) {
  const int workers = IEBandCount(lines, maxWorkers, minLines);
  if (workers <= 1) {
    body(0, lines);
    return;
  }
  TIEThreadPool pool;
  const int band = lines / workers;
  for (int k = 0; k < workers; ++k) {
    const int first = k * band;
    pool.Add(new TBandThread(body, first, k == workers - 1 ? lines - first : band));
  }
  pool.WaitForAll();
}
