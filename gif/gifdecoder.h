// The LZW decoder of one frame's image data: codes come from the data sub-blocks that follow the
// code size byte, strings leave one pixel value at a time.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "gifutil.h"

class TGIFDecoder {
 public:
  static constexpr int kMaxCodes = 4096;  // 12-bit codes
  static constexpr int kMaxCodeSize = 8;  // pixel values are bytes

  // Results of NextValue other than a pixel value.
  static constexpr int kDataEnded = -1;   // the data ran out, or was corrupt (a warning was reported)
  static constexpr int kEndCode = -2;     // the end code was read; the frame's data is skipped

  using TWarn = std::function<void(const std::string&)>;
  // `codeSize` must be 1..kMaxCodeSize (checked by the caller).
  TGIFDecoder(TGIFByteStream& stream, int codeSize, TWarn warn);
  // The next pixel value, or kDataEnded / kEndCode.
  int NextValue();
  // Leaves the stream after the frame's block terminator, whatever was decoded.
  void SkipRest();

 private:
  enum class State {
    Start,      // nothing fetched yet: the first request acts as a clear code
    Decoding,   // codes are being read
    Ended,      // end code met (data skipped) or data exhausted; no more values
  };
  int FetchCode();
  bool FillBits();  // appends one data byte to the bit buffer; false when there is none
  void Reset();

  TGIFByteStream& stream_;
  TWarn warn_;
  State state_ = State::Start;
  int clearCode_, endCode_, initialWidth_;
  int width_ = 0, limit_ = 0, nextFree_ = 0;
  int previous_ = -1, firstChar_ = 0;
  uint32_t bits_ = 0;
  int bitCount_ = 0;
  uint8_t block_[255];
  int blockLength_ = 0, blockPos_ = 0;
  bool terminatorSeen_ = false;  // the 0-length block ending the data was read
  bool exhausted_ = false;       // no more data bytes (terminator or end of stream)
  int stackTop_ = 0;
  uint16_t prefix_[kMaxCodes];
  uint8_t suffix_[kMaxCodes];
  uint8_t stack_[kMaxCodes + 1];
};
