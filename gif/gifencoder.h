// Compressed image data of one frame: the LZW coder driven by a hash table, and a run-length coder
// that emits only codes a standard LZW decoder reads as runs of one colour.
#pragma once
#include <cstdint>
#include <memory>

#include "gifutil.h"

// Gathers bytes into data sub-blocks of at most 255 bytes, each preceded by its length.
class TGIFWriter {
 public:
  explicit TGIFWriter(TGIFByteStream& target) : target_(target) {}
  ~TGIFWriter();  // flushes what is left, ignoring a failing target
  TGIFWriter(const TGIFWriter&) = delete;
  TGIFWriter& operator=(const TGIFWriter&) = delete;
  void WriteByte(uint8_t b) {
    buffer_[fill_++] = b;
    if (fill_ == 256) Flush();
  }
  void Flush();

 private:
  TGIFByteStream& target_;
  uint8_t buffer_[256];  // byte 0 takes the sub-block length
  int fill_ = 1;
};

class TGIFEncoder {
 public:
  virtual ~TGIFEncoder() = default;
  // Writes the code size byte, the coded pixels as sub-blocks and the block terminator. Raises
  // "Color not in color table" for a pixel value not below `colors`.
  void Encode(TGIFByteStream& stream, int bitsPerPixel, int colors, const uint8_t* pixels,
              bool interlaced, int height, int width);

 protected:
  virtual void EmitCode(int code);
  virtual void EmitClear();
  virtual void EncodeImage() = 0;
  // The next pixel in file order (checked), or -1 after the last one.
  int NextPixel();

  int colors_ = 0, bitsPerPixel_ = 0, width_ = 0, height_ = 0;
  bool interlaced_ = false;
  const uint8_t* pixels_ = nullptr;
  int initialWidth_ = 0, codeWidth_ = 0, codeLimit_ = 0;
  int clearCode_ = 0, endCode_ = 0, freeCodeBase_ = 0;
  uint32_t accumulator_ = 0;
  int accumulatedBits_ = 0;
  bool cleared_ = false;
  uint64_t countdown_ = 0;
  int row_ = 0, pass_ = 0;
  const uint8_t* current_ = nullptr;
  bool started_ = false, done_ = false;
  TGIFWriter* writer_ = nullptr;
};

// Open-addressing table of (prefix code, pixel) keys to codes: 8009 slots of key << 12 | code.
class THashTable {
 public:
  static constexpr int kSize = 8009;
  THashTable() { Clear(); }
  void Clear();
  void Insert(uint32_t key, int code);
  int Lookup(uint32_t key) const;  // -1 when absent

 private:
  static int Next(int h) { return h == 0 ? kSize - 1 : (2 * h - kSize >= 0 ? 2 * h - kSize : 2 * h); }
  uint32_t slots_[kSize];
};

class TLZWEncoder : public TGIFEncoder {
 protected:
  void EmitCode(int code) override;
  void EncodeImage() override;

 private:
  std::unique_ptr<THashTable> table_;
  int freeCode_ = 0;
};

class TRLEEncoder : public TGIFEncoder {
 protected:
  void EmitClear() override;
  void EncodeImage() override;

 private:
  void PlainEmit(int code);
  void Flush(int count);
  void FlushFromClear(int count);
  void FlushClearOrRepeat(int count);
  void FlushWithTable(int count);
  void RestoreThreshold();

  int codesSinceClear_ = 0, nextBump_ = 0, clearThreshold_ = 0;
  int bumpStart_ = 0, thresholdStart_ = 0, maxCodes_ = 0;
  int runTableMax_ = 0, tableColor_ = -1;
  bool justCleared_ = false;
  int color_ = -1, runLength_ = 0;
};

// Cost in codes of sending a run of n pixels through a table of runs 1..k long.
uint32_t RunTriangle(uint32_t n, uint32_t k);
uint32_t IntegerSqrt(uint32_t x);
