// Image data coding shared by the PostScript and PDF writers: the rows of a 1-bit image as one block,
// those rows in fax coding, and run-length coding of a block.
#pragma once
#include <cstdint>
#include <vector>

#include "iebitmap.h"
#include "ioparams.h"

// The rows of an ie1g bitmap, top row first, (width + 7) / 8 bytes each as stored (1 = white).
std::vector<uint8_t> IEBilevelRows(TIEBitmap& Bitmap);
// Every row of an ie1g bitmap in T.6 (group4) or T.4 two-dimensional coding, most significant bit
// first, then the closing code; padded with zero bytes to a multiple of 4 bytes. The rows go to the
// encoder as stored, so the code's black runs are the image's white pixels: readers need BlackIs1.
// Reports row progress; stops early when the progress record says abort.
std::vector<uint8_t> IECCITTEncodeBitmap(TIEBitmap& Bitmap, bool Group4, TIECodecProgress& Progress);
// RunLengthDecode data of a block, ending with 128.
std::vector<uint8_t> IERunLengthBlock(const uint8_t* data, int length);
