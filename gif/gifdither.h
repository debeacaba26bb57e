// Error-diffusion ditherers. Each walks the rows in serpentine order (first row left to right, the
// next right to left), adds the error diffused from pixels already done, asks the colour lookup for
// the palette entry and spreads the difference onto pixels still to come.
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "gifcolorreduction.h"

// No diffusion: each pixel is the plain lookup of its colour.
class TDitherEngine {
 public:
  TDitherEngine(int width, TColorLookup* lookup) : width_(width), lookup_(lookup) {}
  virtual ~TDitherEngine() = default;
  int Direction() const { return direction_; }
  int Column() const { return column_; }
  virtual uint8_t ProcessPixel(uint8_t red, uint8_t green, uint8_t blue, uint8_t& r, uint8_t& g, uint8_t& b);
  virtual void NextRow();
  void AdvanceColumn() { column_ += direction_; }

 protected:
  int direction_ = 1;
  int column_ = 0;
  int width_;
  TColorLookup* lookup_;
};

class TFloydSteinbergDitherer : public TDitherEngine {
 public:
  TFloydSteinbergDitherer(int width, TColorLookup* lookup);
  uint8_t ProcessPixel(uint8_t red, uint8_t green, uint8_t blue, uint8_t& r, uint8_t& g, uint8_t& b) override;
  void NextRow() override;

 private:
  struct Channel {
    std::vector<int> totals;  // per column (+1 margin), what the previous row diffused here, in 1/16
    int carry = 0, firstPending = 0, secondPending = 0;
  };
  std::array<Channel, 3> channels_;
};

// Error rows for the kernels that span several rows: `rows` rows per channel with `margin` spare
// entries on each side, so spreads past the picture's edges land in the margins.
class TErrorRows {
 public:
  TErrorRows(int width, int rows, int margin);
  int& At(int channel, int row, int column) { return data_[Index(channel, row, column)]; }
  // Adds weight x error at (row, column + offset) when that lies inside the row with its margins.
  void Spread(int channel, int row, int column, int weight, int error);
  void Rotate();  // row 0 cleared and moved to the end

 private:
  size_t Index(int channel, int row, int column) const {
    return (size_t(channel) * size_t(rows_) + size_t(row)) * size_t(stride_) + size_t(column + margin_);
  }
  int width_, rows_, margin_, stride_;
  std::vector<int> data_;
};

// Base of the kernels kept as whole error rows; a descendant gives its divisor and its spread.
class TRowDitherer : public TDitherEngine {
 public:
  uint8_t ProcessPixel(uint8_t red, uint8_t green, uint8_t blue, uint8_t& r, uint8_t& g, uint8_t& b) override;
  void NextRow() override;

 protected:
  TRowDitherer(int width, TColorLookup* lookup, int rows, int margin, int divisor);
  // Spreads the error of the pixel at `column` (d is the direction of travel).
  virtual void SpreadError(int channel, int column, int d, int error) = 0;
  TErrorRows rows_;
  int divisor_;
};

class T5by3Ditherer : public TRowDitherer {
 protected:
  T5by3Ditherer(int width, TColorLookup* lookup, int divisor) : TRowDitherer(width, lookup, 3, 2, divisor) {}
};

class TStuckiDitherer : public T5by3Ditherer {
 public:
  TStuckiDitherer(int width, TColorLookup* lookup) : T5by3Ditherer(width, lookup, 42) {}

 protected:
  void SpreadError(int channel, int column, int d, int error) override;
};

class TSierraDitherer : public T5by3Ditherer {
 public:
  TSierraDitherer(int width, TColorLookup* lookup) : T5by3Ditherer(width, lookup, 32) {}

 protected:
  void SpreadError(int channel, int column, int d, int error) override;
};

class TJaJuNiDitherer : public T5by3Ditherer {
 public:
  TJaJuNiDitherer(int width, TColorLookup* lookup) : T5by3Ditherer(width, lookup, 48) {}

 protected:
  void SpreadError(int channel, int column, int d, int error) override;
};

class TSteveArcheDitherer : public TRowDitherer {
 public:
  TSteveArcheDitherer(int width, TColorLookup* lookup) : TRowDitherer(width, lookup, 4, 3, 200) {}

 protected:
  void SpreadError(int channel, int column, int d, int error) override;
};

class TBurkesDitherer : public TRowDitherer {
 public:
  TBurkesDitherer(int width, TColorLookup* lookup) : TRowDitherer(width, lookup, 2, 2, 32) {}

 protected:
  void SpreadError(int channel, int column, int d, int error) override;
};

// The ditherer of a style, or null for a style out of range.
std::unique_ptr<TDitherEngine> CreateDitherer(TGIFDitherStyle style, int width, TColorLookup* lookup);
