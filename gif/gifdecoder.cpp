#include "gifdecoder.h"

TGIFDecoder::TGIFDecoder(TGIFByteStream& stream, int codeSize, TWarn warn)
    : stream_(stream), warn_(std::move(warn)) {
  clearCode_ = 1 << codeSize;
  endCode_ = clearCode_ + 1;
  initialWidth_ = codeSize + 1;
  Reset();
}

void TGIFDecoder::Reset() {
  for (int i = 0; i < kMaxCodes; ++i) {
    prefix_[i] = 0;
    suffix_[i] = uint8_t(i < clearCode_ ? i : 0);
  }
  width_ = initialWidth_;
  limit_ = 2 * clearCode_;
  nextFree_ = clearCode_ + 2;
  stackTop_ = 0;
}

bool TGIFDecoder::FillBits() {
  while (blockPos_ >= blockLength_) {
    if (exhausted_) return false;
    int n = ReadStreamByte(stream_);
    if (n < 0) {
      warn_("Premature end of data");
      exhausted_ = true;
      return false;
    }
    if (n == 0) {
      terminatorSeen_ = exhausted_ = true;
      return false;
    }
    blockLength_ = int(stream_.Read(block_, size_t(n)));
    blockPos_ = 0;
    if (blockLength_ < n) {
      warn_("Premature end of data");
      exhausted_ = true;  // the stream has ended; use what arrived
      if (blockLength_ == 0) return false;
    }
  }
  bits_ |= uint32_t(block_[blockPos_++]) << bitCount_;
  bitCount_ += 8;
  return true;
}

int TGIFDecoder::FetchCode() {
  while (bitCount_ < width_) {
    if (!FillBits()) {
      if (bitCount_ == 0 && terminatorSeen_) warn_("Decoder bit buffer under-run");
      return kDataEnded;
    }
  }
  int code = int(bits_ & ((1u << width_) - 1));
  bits_ >>= width_;
  bitCount_ -= width_;
  return code;
}

int TGIFDecoder::NextValue() {
  if (stackTop_ > 0) return stack_[--stackTop_];
  if (state_ == State::Ended) return kDataEnded;
  int code = state_ == State::Start ? clearCode_ : FetchCode();
  state_ = State::Decoding;
  if (code == clearCode_) {
    do {
      Reset();
      code = FetchCode();
    } while (code == clearCode_);
    if (code >= 0 && code < clearCode_) {
      previous_ = code;
      firstChar_ = code;
      return code;
    }
    if (code >= 0 && code != endCode_) {
      // The first code after a clear must be a plain pixel value.
      warn_("Invalid GIF data");
      code = kDataEnded;
    }
  }
  if (code == endCode_) {
    SkipRest();
    return kEndCode;
  }
  if (code < 0 || previous_ < 0 || code > nextFree_) {
    // A code beyond the next free one cannot come from an encoder: the data is corrupt.
    if (code >= 0) warn_("Invalid GIF data");
    state_ = State::Ended;
    return kDataEnded;
  }
  const int incoming = code;
  if (code == nextFree_) {
    if (nextFree_ >= kMaxCodes) {
      warn_("Invalid GIF data");
      state_ = State::Ended;
      return kDataEnded;
    }
    stack_[stackTop_++] = uint8_t(firstChar_);
    code = previous_;
  }
  while (code >= clearCode_) {
    if (prefix_[code] == code) RaiseGIFError("Circular decoder table entry");
    stack_[stackTop_++] = suffix_[code];
    code = prefix_[code];
  }
  firstChar_ = code;
  stack_[stackTop_++] = uint8_t(code);
  if (nextFree_ < kMaxCodes) {
    prefix_[nextFree_] = uint16_t(previous_);
    suffix_[nextFree_] = uint8_t(firstChar_);
    ++nextFree_;
    if (nextFree_ >= limit_ && limit_ < kMaxCodes) {
      limit_ *= 2;
      ++width_;
    }
  }
  previous_ = incoming;
  return stack_[--stackTop_];
}

void TGIFDecoder::SkipRest() {
  state_ = State::Ended;
  if (!exhausted_ && !SkipSubBlocks(stream_)) warn_("Premature end of data");
  exhausted_ = true;
  stackTop_ = 0;
}
