// Bilevel row coding in the fax codings of ITU-T T.4 (Group 3: one-dimensional Modified Huffman and
// two-dimensional Modified READ) and T.6 (Group 4), one row at a time. Nothing here knows TIFF: the
// strip decoder calls the row decoders, the TIFF, PostScript and PDF writers the row encoders.
//
// Rows handed out by the decoders: 1 bit per pixel, leftmost pixel in the most significant bit,
// (width + 7) / 8 bytes, bit 1 = white. Rows taken by the encoders: the same layout with bit 1 = black.
// Fill order: the decoders read bytes most significant bit first for fill order 1 and least
// significant first otherwise; the encoders write least significant first for fill order 2 and most
// significant first otherwise.
//
// The decoders read at most the `length` bytes they are given (a code that runs past them reads zero
// bits), and every position at or past the last byte reads as an end of line. They paint only inside
// the row, whatever the codes say.
#pragma once
#include <atomic>
#include <cstdint>
#include <vector>

#include "iestreams.h"

// The run-code decode trees, built once by the library's shared start-up and freed by its shut-down
// (plugged into its fax-tree place).
void IECCITTStaticInit();
void IECCITTStaticFini();

// One Modified Huffman row from the first bit of `data` (TIFF compression 2). Returns the bytes used,
// the bits rounded up to whole bytes and never more than `length`.
int64_t IECCITTDecodeMHRow(uint8_t* row, const uint8_t* data, int64_t length, int fillOrder, int width);
// One T.4 one-dimensional row from bit `bitPos`; returns the bit position after it (at most 8 × length).
int64_t IECCITTDecode1DRow(uint8_t* row, const uint8_t* data, int64_t length, int fillOrder, int64_t bitPos,
                           int width);
// One two-dimensional row (T.4 with its end-of-line and tag bit, or T.6) from bit `bitPos`.
// `reference` holds the previous row (all 0xFF before the first) and receives the new one; `work` is
// scratch of the same size. skipFill: twelve zero bits start the fill before an end of line.
int64_t IECCITTDecode2DRow(uint8_t* work, const uint8_t* data, int64_t length, bool skipFill, int fillOrder,
                           int64_t bitPos, uint8_t* reference, int width);

// What a row encoder carries from one row of a strip to the next. A strip starts with an empty carry.
struct TIECCITTEncoderCarry {
  std::vector<uint8_t> reference;  // the previous row, (width + 31) / 32 × 4 bytes; empty before the first
  int pendingBits = 0;             // bits of pendingByte already used (0..7)
  uint8_t pendingByte = 0;         // the last partial byte, in stream bit order
};

// One Modified Huffman row; the row ends on a byte (unused low bits zero).
void IECCITTEncodeMHRow(const uint8_t* row, int width, TIEStream& stream, int fillOrder, std::atomic<bool>& aborting);
// One T.4 one-dimensional row, begun with an end of line as T.4 requires of every row, continuing the
// bit stream of the previous row. A null row writes nothing.
void IECCITTEncode1DRow(const uint8_t* row, int width, TIEStream& stream, int fillOrder, std::atomic<bool>& aborting,
                        TIECCITTEncoderCarry& carry);
// One T.4 two-dimensional-option row: end of line, tag 1 and the row one-dimensionally for the first
// row; end of line, tag 0 and the row coded against the previous one after it. A null row after the
// first writes one end of line and drops the reference; the final partial byte stays in the carry.
void IECCITTEncodeT4Row(const uint8_t* row, int width, TIEStream& stream, int fillOrder, std::atomic<bool>& aborting,
                        TIECCITTEncoderCarry& carry);
// One T.6 row, coded against the previous row (all white before the first). A null row ends the
// strip: two ends of line, zero bits to the byte boundary, nothing left pending.
void IECCITTEncodeT6Row(const uint8_t* row, int width, TIEStream& stream, int fillOrder, std::atomic<bool>& aborting,
                        TIECCITTEncoderCarry& carry);
