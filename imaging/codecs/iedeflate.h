// Whole buffers compressed as one zlib stream by libdeflate: far faster than zlib's stream for data
// that is in memory anyway (TIFF Deflate strips, PNG image data).
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// The most bytes IEZlibCompress can write for `size` input bytes, at any level.
size_t IEZlibCompressBound(size_t size);
// `size` bytes as one zlib stream into `out` (resized to what was written), level 0 (stored blocks)
// to 12, zlib's levels 1 to 9 meaning about the same. False when no compressor could be had; `out`
// is then empty. Safe to call from several threads at once.
bool IEZlibCompress(const uint8_t* data, size_t size, int level, std::vector<uint8_t>& out);
