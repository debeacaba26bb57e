// Decoder of lossless JPEG frames (sequential lossless process, Huffman coding, predictors 1 to 7)
// as medical image files carry them: one frame held in memory, decoded into the caller's buffer.
#pragma once
#include <cstdint>
#include <functional>

#include "iestreams.h"
#include "ioparams.h"

// Reads `Size` bytes from the stream and decodes them into a buffer of Width x Height pixels of
// Components samples, rows one after the other without padding. Exactly one of Out16 and Out8 is
// given: Out8 for precisions up to 8 bits (1 component, or 3 interleaved R, G, B), Out16 for 1
// component of any precision. Samples come out scaled back by the point transform. False for a
// frame that is not lossless, a bad table or marker segment, corrupt entropy data, or a frame whose
// size or components differ from the buffer's; the buffer may then hold a partial image. Progress
// reports the percentage of the frame's bytes consumed.
bool IEDecodeLosslessJPEG(TIEStream& Stream, uint16_t* Out16, uint8_t* Out8, int64_t Size, int Width,
                          int Height, int Components, TIECodecProgress& Progress);

// The same on a frame held in memory, each decoded line written where Row(line) points (Width x
// Components samples, 16-bit ones when Sixteen); a null place stops the decoding with False.
bool IEDecodeLosslessJPEGBlock(const uint8_t* Data, int64_t Size, bool Sixteen, int Width, int Height,
                               int Components, const std::function<void*(int row)>& Row,
                               TIECodecProgress& Progress);
