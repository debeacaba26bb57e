// Little-endian reads from byte buffers. Callers check the bounds first; these never cast pointers,
// so unaligned data is fine.
#pragma once
#include <cstdint>

namespace presenter {

inline uint16_t ReadU16LE(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t ReadU32LE(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace presenter
