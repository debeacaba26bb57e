// The LZW coder of GIF image data: from the code-size byte and data sub-blocks of one image to one
// palette index per pixel, and back. Both follow GIF's four-pass interlaced row order when asked.
//
// The GIF reader and writer reach them through the parameter object's procedure values (or the
// process-wide defaults), so an application can replace them.
#pragma once
#include <cstdint>

#include "iestreams.h"

// Decodes the image data at the stream position into `dest` (width × height index bytes, row 0 at
// the top). On success the position is after the block terminator. A code size outside 2..9 or a code
// beyond the next free one (corrupt data) sets the position back to the code-size byte and returns
// false. Pixels the data does not reach are left as they were. A full table without a clear keeps
// decoding with the full table, as GIF89a allows an encoder to defer the clear.
bool IEGIFLZWDecompress(TIEStream& stream, int height, int width, bool interlaced, uint8_t* dest);
using TIEGIFLZWDecompressor = bool (*)(TIEStream& stream, int height, int width, bool interlaced,
                                       uint8_t* dest);

// Codes width × height indices of `data` at the stream position: the code-size byte (bitsPerPixel, at
// least 2), sub-blocks of up to 254 bytes and the block terminator. Indices are masked to the code
// size. Returns false when the stream took fewer bytes than it was given.
bool IEGIFLZWCompress(TIEStream& stream, int height, int width, bool interlaced, const uint8_t* data,
                      int bitsPerPixel);
using TIEGIFLZWCompressor = bool (*)(TIEStream& stream, int height, int width, bool interlaced,
                                     const uint8_t* data, int bitsPerPixel);
