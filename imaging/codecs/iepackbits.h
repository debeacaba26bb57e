// The PackBits run-length coding of TIFF strips, PSD channels and DICOM RLE segments.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// One row in PackBits, appended to `out`: runs of 4 to 128 equal bytes become a replicate record
// (header 1 - run, then the byte), everything else literal records of at most 128 bytes (header
// length - 1, then the bytes). Records never cross the row's end.
void IEPackBitsEncodeRow(const uint8_t* row, int length, std::vector<uint8_t>& out);

// Decodes PackBits from `src` (`size` bytes) into `out` (`n` bytes). A record that would pass the
// end of `out` is cut there, a literal cut short by the data's end keeps the bytes present, and
// header -128 is skipped. Never reads past `size` or writes past `n`; returns the bytes written.
size_t IEUnpackBits(const uint8_t* src, size_t size, uint8_t* out, size_t n);
