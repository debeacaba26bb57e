// Row encoders of the bilevel and lossless TIFF compressions, for every writer that stores such data
// (TIFF strips, PDF and PostScript image streams): PackBits, the fax codings and LZW, each taking rows
// and giving bytes.
#pragma once
#include <cstdint>
#include <vector>

#include "iepackbits.h"
#include "tiflzw.h"

// The fax codings of a strip.
enum TIEFaxCoding {
  ifcMH,     // Modified Huffman, each row ending on a byte (TIFF compression 2)
  ifcT4_1D,  // T.4 one-dimensional: an end of line before every row
  ifcT4_2D,  // T.4 with the two-dimensional option (tag bit after each end of line)
  ifcT6,     // T.6 (Group 4), ended by two ends of line
};

// Bilevel rows (1 bit per pixel, leftmost pixel in the most significant bit, a set bit BLACK, at
// least (width + 7) / 8 bytes each) coded as one strip; fillOrder 2 writes every byte least
// significant bit first. The last partial byte is padded with zero bits.
std::vector<uint8_t> IEFaxEncodeRows(const std::vector<const uint8_t*>& rows, int width, TIEFaxCoding coding,
                                     int fillOrder);

// Rows of rowBytes bytes each coded as one LZW strip (Clear first, EOI last) by `coder` (nullptr: the
// library's TIFF coder, IETIFFLZWCompress).
std::vector<uint8_t> IELZWEncodeRows(const std::vector<const uint8_t*>& rows, int rowBytes,
                                     TIETIFFLZWCompressor coder = nullptr);

// Rows of rowBytes bytes each in PackBits, row after row.
std::vector<uint8_t> IEPackBitsEncodeRows(const std::vector<const uint8_t*>& rows, int rowBytes);
