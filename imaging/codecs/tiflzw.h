// The LZW coder of TIFF compression 5: codes written most significant bit first, with the code width
// growing one code early (at 511, 1023 and 2047). Both directions keep their state in a block the
// caller holds between calls, one block per strip.
//
// The TIFF reader and writer do not call these directly: they go through the procedure values of the
// parameter object (falling back to the process-wide defaults), so the coder can be replaced.
#pragma once
#include <cstdint>

#include "iestreams.h"

struct TIETIFFLZWDecoderState;
struct TIETIFFLZWEncoderState;

// Decodes the next `count` bytes of a strip.
// - state null: creates the state for `source` (sourceLength bytes), `count` and `fillOrder` (2: the
//   bits of every byte reversed) and decodes the first `count` bytes;
// - state set, source not null: decodes the next `count` bytes of the same strip (source, sourceLength
//   and count of this call are not looked at);
// - state set, source null: frees the state and returns null.
// Returns the state's buffer (valid until the next call), or null for bad data: a Clear followed by an
// undefined code, or a table grown past 4096 entries. The end of the strip's bytes, an EOI or a code
// beyond the next free one end the call early: the buffer then holds the bytes decoded so far, the
// rest as the previous call left it (zero for the first call).
uint8_t* IETIFFLZWDecompress(const uint8_t* source, int64_t sourceLength, int count,
                             TIETIFFLZWDecoderState*& state, int fillOrder);
using TIETIFFLZWDecompressor = uint8_t* (*)(const uint8_t* source, int64_t sourceLength, int count,
                                            TIETIFFLZWDecoderState*& state, int fillOrder);

// Codes `count` bytes of a strip into `output`.
// - state null: creates the state, writes Clear and codes the data;
// - state set, data not null: codes the data, continuing the same code stream;
// - state set, data null: writes the pending code and EOI, flushes the last bits padded with zeros,
//   frees the state and sets it to null.
// Returns false when the stream took fewer bytes than it was given in this call.
bool IETIFFLZWCompress(const uint8_t* data, int count, TIEStream& output, TIETIFFLZWEncoderState*& state);
using TIETIFFLZWCompressor = bool (*)(const uint8_t* data, int count, TIEStream& output,
                                      TIETIFFLZWEncoderState*& state);
