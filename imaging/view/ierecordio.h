// Little-endian field writer and reader for the view's records (layer undo record, layer stream).
// A record is built whole in memory and written at once; reading raises EReadError when the stream
// ends early.
#pragma once
#include <cstdint>
#include <cstring>
#include <vector>

#include "iestreams.h"
#include "ieutils.h"

struct TIERecordWriter {
  std::vector<uint8_t> b;
  void U8(uint8_t v) { b.push_back(v); }
  void Bool(bool v) { b.push_back(v ? 1 : 0); }
  void I32(int32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(uint32_t(v) >> (8 * i)));
  }
  void F64(double v) {
    uint64_t u;
    std::memcpy(&u, &v, 8);
    for (int i = 0; i < 8; ++i) b.push_back(uint8_t(u >> (8 * i)));
  }
  void Bytes(const void* p, size_t n) {
    const auto* s = static_cast<const uint8_t*>(p);
    b.insert(b.end(), s, s + n);
  }
  void Zeros(size_t n) { b.insert(b.end(), n, 0); }
};

struct TIERecordReader {
  TIEStream& s;
  uint8_t U8() {
    uint8_t v;
    s.ReadBuffer(&v, 1);
    return v;
  }
  bool Bool() { return U8() != 0; }
  int32_t I32() {
    uint8_t p[4];
    s.ReadBuffer(p, 4);
    return int32_t(IEReadU32LE(p));
  }
  double F64() {
    uint8_t p[8];
    s.ReadBuffer(p, 8);
    uint64_t u = 0;
    for (int i = 7; i >= 0; --i) u = (u << 8) | p[i];
    double v;
    std::memcpy(&v, &u, 8);
    return v;
  }
  void Skip(int n) {
    uint8_t p[8];
    s.ReadBuffer(p, n);
  }
};
