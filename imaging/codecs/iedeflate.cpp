#include "iedeflate.h"

#include <libdeflate.h>

namespace {

// Owns one libdeflate compressor (one per call: a compressor is not for concurrent use).
class TDeflateCompressor {
 public:
  explicit TDeflateCompressor(int level) : c_(libdeflate_alloc_compressor(level)) {}
  ~TDeflateCompressor() {
    if (c_) libdeflate_free_compressor(c_);
  }
  TDeflateCompressor(const TDeflateCompressor&) = delete;
  TDeflateCompressor& operator=(const TDeflateCompressor&) = delete;
  libdeflate_compressor* get() const { return c_; }

 private:
  libdeflate_compressor* c_;
};

}  // namespace

size_t IEZlibCompressBound(size_t size) { return libdeflate_zlib_compress_bound(nullptr, size); }

bool IEZlibCompress(const uint8_t* data, size_t size, int level, std::vector<uint8_t>& out) {
  out.clear();
  TDeflateCompressor c(level);
  if (!c.get()) return false;
  out.resize(libdeflate_zlib_compress_bound(c.get(), size));
  // the bound always fits, so 0 cannot come back; a zlib stream is never empty
  out.resize(libdeflate_zlib_compress(c.get(), data, size, out.data(), out.size()));
  return !out.empty();
}
