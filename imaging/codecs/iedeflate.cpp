#include "iedeflate.h"

#include <libdeflate.h>

size_t IEZlibCompressBound(size_t size) { return libdeflate_zlib_compress_bound(nullptr, size); }

TIEZlibCompressor::TIEZlibCompressor(int level) : c_(libdeflate_alloc_compressor(level)) {}

TIEZlibCompressor::~TIEZlibCompressor() {
  if (c_) libdeflate_free_compressor(c_);
}

bool TIEZlibCompressor::Compress(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
  out.clear();
  if (!c_) return false;
  out.resize(libdeflate_zlib_compress_bound(c_, size));
  // the bound always fits, so 0 cannot come back; a zlib stream is never empty
  out.resize(libdeflate_zlib_compress(c_, data, size, out.data(), out.size()));
  return !out.empty();
}
