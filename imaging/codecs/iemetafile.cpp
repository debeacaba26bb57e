// Metafile content tests.
#include "iemetafile.h"

#include "ieutils.h"

namespace {

constexpr int kEMFTestSize = 100;
constexpr uint32_t kEMFHeaderRecord = 1;
constexpr uint32_t kEMFSignature = 0x464D4520;  // " EMF"
constexpr int kPlaceableHeaderSize = 22;
constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr int kWMFHeaderSize = 18;
constexpr uint16_t kWMFHeaderWords = 9;
constexpr uint16_t kWMFType = 1;

bool ReadAll(TIEStream& s, uint8_t* b, int n) { return s.Read(b, n) == n; }

}  // namespace

bool IEEMFTest(TIEStream& Stream) {
  const int64_t pos = Stream.GetPosition();
  uint8_t b[kEMFTestSize];
  const bool ok = ReadAll(Stream, b, kEMFTestSize) && IEReadU32LE(b) == kEMFHeaderRecord &&
                  IEReadU32LE(b + 40) == kEMFSignature;
  Stream.SetPosition(pos);
  return ok;
}

bool IEWMFTest(TIEStream& Stream) {
  const int64_t pos = Stream.GetPosition();
  uint8_t b[kPlaceableHeaderSize];
  bool ok = false;
  if (ReadAll(Stream, b, 20)) {
    Stream.SetPosition(pos + (IEReadU32LE(b) == kPlaceableKey ? kPlaceableHeaderSize : 0));
    uint8_t h[kWMFHeaderSize];
    ok = ReadAll(Stream, h, kWMFHeaderSize) && IEReadU16LE(h) == kWMFType &&
         IEReadU16LE(h + 2) == kWMFHeaderWords && IEReadU16LE(h + 16) == 0;
  }
  Stream.SetPosition(pos);
  return ok;
}
