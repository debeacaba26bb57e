#include "gifencoder.h"

#include <cstring>

namespace {
const int kMaxCode = 4095;          // largest 12-bit code
const int kLastStorableCode = 4094; // the LZW coder clears rather than store beyond this
const uint32_t kEmptySlot = 0xFFFFFFFFu;
const uint32_t kEmptyFrom = 0xFFFFF000u;  // any slot value from here up counts as empty
}  // namespace

// --- sub-block writer ---

TGIFWriter::~TGIFWriter() {
  // Normal paths flush explicitly; this only keeps what was gathered when an error unwinds.
  try {
    Flush();
  } catch (...) {
  }
}

void TGIFWriter::Flush() {
  if (fill_ <= 1) return;
  buffer_[0] = uint8_t(fill_ - 1);
  const int n = fill_;
  fill_ = 1;
  target_.Write(buffer_, size_t(n));
}

// --- common encoder ---

void TGIFEncoder::Encode(TGIFByteStream& stream, int bitsPerPixel, int colors, const uint8_t* pixels,
                         bool interlaced, int height, int width) {
  const int codeSize = bitsPerPixel < 2 ? 2 : bitsPerPixel;
  WriteStreamByte(stream, uint8_t(codeSize));
  colors_ = colors;
  bitsPerPixel_ = bitsPerPixel;
  width_ = width;
  height_ = height;
  interlaced_ = interlaced;
  pixels_ = pixels;
  initialWidth_ = codeSize + 1;
  codeWidth_ = initialWidth_;
  codeLimit_ = (1 << codeWidth_) - 1;
  clearCode_ = 1 << codeSize;
  endCode_ = clearCode_ + 1;
  freeCodeBase_ = clearCode_ + 2;
  accumulator_ = 0;
  accumulatedBits_ = 0;
  countdown_ = interlaced ? uint64_t(width) : uint64_t(width) * uint64_t(height);
  row_ = pass_ = 0;
  started_ = done_ = false;
  {
    TGIFWriter writer(stream);
    writer_ = &writer;
    try {
      if (pixels && width > 0 && height > 0) EncodeImage();
      EmitCode(endCode_);
      writer.Flush();
    } catch (...) {
      writer_ = nullptr;
      throw;
    }
    writer_ = nullptr;
  }
  WriteStreamByte(stream, 0);
}

void TGIFEncoder::EmitCode(int code) {
  accumulator_ |= uint32_t(code) << accumulatedBits_;
  accumulatedBits_ += codeWidth_;
  while (accumulatedBits_ >= 8) {
    writer_->WriteByte(uint8_t(accumulator_));
    accumulator_ >>= 8;
    accumulatedBits_ -= 8;
  }
  if (code == endCode_ && accumulatedBits_ > 0) {
    writer_->WriteByte(uint8_t(accumulator_));
    accumulator_ = 0;
    accumulatedBits_ = 0;
  }
}

void TGIFEncoder::EmitClear() {
  cleared_ = true;
  EmitCode(clearCode_);
}

int TGIFEncoder::NextPixel() {
  static const int kPassStart[4] = {0, 4, 2, 1};
  static const int kPassStep[4] = {8, 8, 4, 2};
  if (done_) return -1;
  if (!started_) {
    started_ = true;
    current_ = pixels_;
  } else if (--countdown_ >= 1) {
    ++current_;
  } else {
    if (!interlaced_) {
      done_ = true;
      return -1;
    }
    countdown_ = uint64_t(width_);
    row_ += kPassStep[pass_];
    while (row_ >= height_) {
      if (++pass_ >= 4) {
        done_ = true;
        return -1;
      }
      row_ = kPassStart[pass_];
    }
    current_ = pixels_ + size_t(row_) * size_t(width_);
  }
  const int p = *current_;
  if (p >= colors_) RaiseGIFError("Color not in color table");
  return p;
}

// --- hash table ---

void THashTable::Clear() { std::memset(slots_, 0xFF, sizeof slots_); }

void THashTable::Insert(uint32_t key, int code) {
  int h = int((key ^ (key >> 4)) % kSize);
  // The chain visits a bounded number of slots; a store that finds none is dropped, which costs
  // compression only (the coder's code numbering does not depend on it).
  for (int steps = 0; steps < kSize; ++steps, h = Next(h)) {
    if (slots_[h] >= kEmptyFrom) {
      slots_[h] = (key << 12) | uint32_t(code);
      return;
    }
  }
}

int THashTable::Lookup(uint32_t key) const {
  int h = int((key ^ (key >> 4)) % kSize);
  for (int steps = 0; steps < kSize; ++steps, h = Next(h)) {
    const uint32_t v = slots_[h];
    if (v >= kEmptyFrom) return -1;
    if ((v >> 12) == key) return int(v & 0xFFF);
  }
  return -1;
}

// --- LZW coder ---

void TLZWEncoder::EmitCode(int code) {
  TGIFEncoder::EmitCode(code);
  if (cleared_) {
    cleared_ = false;
    codeWidth_ = initialWidth_;
    codeLimit_ = (1 << codeWidth_) - 1;
  } else if (freeCode_ > codeLimit_) {
    ++codeWidth_;
    // The width never passes 12 bits: the coder clears before a 4096th code could be needed.
    codeLimit_ = codeWidth_ == 12 ? kMaxCode + 1 : (1 << codeWidth_) - 1;
  }
}

void TLZWEncoder::EncodeImage() {
  table_ = std::make_unique<THashTable>();
  EmitClear();
  freeCode_ = freeCodeBase_;
  int prefix = NextPixel();
  for (int p = NextPixel(); p >= 0; p = NextPixel()) {
    const uint32_t key = (uint32_t(prefix) << 8) | uint32_t(p);
    const int code = table_->Lookup(key);
    if (code >= 0) {
      prefix = code;
      continue;
    }
    EmitCode(prefix);
    prefix = p;
    if (freeCode_ > kLastStorableCode) {
      EmitClear();
      table_->Clear();
      freeCode_ = freeCodeBase_;
    } else {
      table_->Insert(key, freeCode_++);
    }
  }
  EmitCode(prefix);
}

// --- run-length coder ---

uint32_t IntegerSqrt(uint32_t x) {
  if (x < 2) return x;
  uint32_t r = 2;
  for (uint32_t v = x / 4; v >= 4; v /= 4) r *= 2;
  for (int guard = 0; guard < 64; ++guard) {
    const uint32_t next = (r + x / r) / 2;
    if (next == r || next == r + 1) break;
    r = next;
  }
  return r;
}

uint32_t RunTriangle(uint32_t n, uint32_t k) {
  uint32_t cost = 0;
  const uint64_t full = uint64_t(k) * (k + 1) / 2;
  while (n >= full && full > 0) {
    cost += k;
    n -= uint32_t(full);
  }
  if (n > 0) {
    uint64_t m = IntegerSqrt(n);
    while (m > 0 && m * (m + 1) >= 2ull * n) --m;
    while (m * (m + 1) < 2ull * n) ++m;
    cost += uint32_t(m);
  }
  return cost;
}

void TRLEEncoder::EmitClear() {
  nextBump_ = bumpStart_;
  clearThreshold_ = thresholdStart_;
  codesSinceClear_ = 0;
  runTableMax_ = 0;
  TGIFEncoder::EmitCode(clearCode_);
  justCleared_ = true;
  codeWidth_ = initialWidth_;
}

void TRLEEncoder::PlainEmit(int code) {
  justCleared_ = false;
  TGIFEncoder::EmitCode(code);
  ++codesSinceClear_;
  // Follow the decoder's table growth so that both sides widen their codes together.
  if (codesSinceClear_ == nextBump_) {
    nextBump_ += 1 << codeWidth_;
    ++codeWidth_;
  }
  if (codesSinceClear_ >= clearThreshold_) EmitClear();
}

void TRLEEncoder::RestoreThreshold() {
  clearThreshold_ = thresholdStart_;
  if (codesSinceClear_ >= clearThreshold_) EmitClear();
}

void TRLEEncoder::FlushFromClear(int n) {
  clearThreshold_ = maxCodes_;
  tableColor_ = color_;
  int k = 1;
  while (n > 0) {
    if (k == 1) {
      runTableMax_ = 1;
      PlainEmit(color_);
      n -= 1;
    } else if (n >= k) {
      runTableMax_ = k;
      PlainEmit(freeCodeBase_ - 2 + k);
      n -= k;
    } else if (n == 1) {
      ++runTableMax_;
      PlainEmit(color_);
      n = 0;
    } else {
      ++runTableMax_;
      PlainEmit(freeCodeBase_ - 2 + n);
      n = 0;
    }
    k = codesSinceClear_ == 0 ? 1 : k + 1;
  }
  RestoreThreshold();
}

void TRLEEncoder::FlushClearOrRepeat(int n) {
  if (1 + RunTriangle(uint32_t(n), uint32_t(maxCodes_)) < uint32_t(n)) {
    EmitClear();
    FlushFromClear(n);
  } else {
    for (int i = 0; i < n; ++i) PlainEmit(color_);
  }
}

void TRLEEncoder::FlushWithTable(int n) {
  int repeats = n / runTableMax_, left = n % runTableMax_;
  uint32_t extra = left > 0 ? 1 : 0;
  if (codesSinceClear_ + repeats + int(extra) > maxCodes_) {
    repeats = maxCodes_ - codesSinceClear_;
    left = n - repeats * runTableMax_;
    extra = 1 + RunTriangle(uint32_t(left), uint32_t(maxCodes_));
  }
  if (1 + RunTriangle(uint32_t(n), uint32_t(maxCodes_)) < uint32_t(repeats) + extra) {
    EmitClear();
    FlushFromClear(n);
    return;
  }
  clearThreshold_ = maxCodes_;
  const int runCode = freeCodeBase_ - 2 + runTableMax_;
  for (int i = 0; i < repeats; ++i) PlainEmit(runCode);
  if (left > 0) {
    if (justCleared_)
      FlushFromClear(left);
    else if (left == 1)
      PlainEmit(color_);
    else
      PlainEmit(freeCodeBase_ - 2 + left);
  }
  RestoreThreshold();
}

void TRLEEncoder::Flush(int n) {
  if (n == 1)
    PlainEmit(color_);
  else if (justCleared_)
    FlushFromClear(n);
  else if (tableColor_ == color_ && runTableMax_ > 1)
    FlushWithTable(n);
  else
    FlushClearOrRepeat(n);
  runLength_ = 0;
}

void TRLEEncoder::EncodeImage() {
  bumpStart_ = clearCode_ - 1;
  thresholdStart_ = bitsPerPixel_ <= 3 ? 9 : clearCode_ - 2;
  maxCodes_ = kMaxCode - (clearCode_ + 2);
  runTableMax_ = 0;
  tableColor_ = -1;
  color_ = -1;
  runLength_ = 0;
  EmitClear();
  for (int p = NextPixel(); p >= 0; p = NextPixel()) {
    if (runLength_ > 0 && p != color_) Flush(runLength_);
    if (runLength_ > 0 && p == color_) {
      ++runLength_;
    } else {
      color_ = p;
      runLength_ = 1;
    }
  }
  if (runLength_ > 0) Flush(runLength_);
}
