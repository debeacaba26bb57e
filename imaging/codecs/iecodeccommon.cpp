#include "iecodeccommon.h"

#include "iestreams.h"

bool IEReadExact(TIEStream& stream, TIECodecProgress& progress, void* buffer, int64_t count) {
  uint8_t* p = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    const int32_t chunk = int32_t(count > (1 << 30) ? (1 << 30) : count);
    const int32_t got = stream.Read(p, chunk);
    if (got != chunk) {
      progress.Abort();
      return false;
    }
    p += chunk;
    count -= chunk;
  }
  return true;
}
