// Whole buffers compressed as one zlib stream by libdeflate: far faster than zlib's stream for data
// that is in memory anyway (TIFF Deflate strips, PNG image data).
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

struct libdeflate_compressor;

// The most bytes TIEZlibCompressor::Compress can write for `size` input bytes, at any level.
size_t IEZlibCompressBound(size_t size);

// One libdeflate compressor, kept for many buffers (its tables are then fresh memory only once); not
// for use by two threads at once.
class TIEZlibCompressor {
 public:
  // level 0 (stored blocks) to 12, zlib's levels 1 to 9 meaning about the same
  explicit TIEZlibCompressor(int level);
  ~TIEZlibCompressor();
  TIEZlibCompressor(const TIEZlibCompressor&) = delete;
  TIEZlibCompressor& operator=(const TIEZlibCompressor&) = delete;
  // `size` bytes as one zlib stream into `out` (resized to what was written; its capacity is kept).
  // False when the compressor could not be had; `out` is then empty.
  bool Compress(const uint8_t* data, size_t size, std::vector<uint8_t>& out);

 private:
  libdeflate_compressor* c_;
};
