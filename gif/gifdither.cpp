#include "gifdither.h"

#include <algorithm>

namespace {

inline uint8_t Clamp(int v) { return uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// Spreads weight x error at (row, offset along the direction of travel) for each tap of a kernel.
struct Tap {
  int row, offset, weight;
};

template <size_t N>
void SpreadTaps(TErrorRows& rows, const Tap (&taps)[N], int channel, int column, int d, int error) {
  for (const Tap& t : taps) rows.Spread(channel, t.row, column + t.offset * d, t.weight, error);
}

const Tap kStucki[] = {{0, 1, 8},  {0, 2, 4},  {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4},
                       {1, 2, 2},  {2, -2, 1}, {2, -1, 2}, {2, 0, 4},  {2, 1, 2}, {2, 2, 1}};
const Tap kSierra[] = {{0, 1, 5}, {0, 2, 3}, {1, -2, 2}, {1, -1, 4}, {1, 0, 5},
                       {1, 1, 4}, {1, 2, 2}, {2, -1, 2}, {2, 0, 3},  {2, 1, 2}};
const Tap kJaJuNi[] = {{0, 1, 7},  {0, 2, 5},  {1, -2, 3}, {1, -1, 5}, {1, 0, 7}, {1, 1, 5},
                       {1, 2, 3},  {2, -2, 1}, {2, -1, 3}, {2, 0, 5},  {2, 1, 3}, {2, 2, 1}};
const Tap kSteveArche[] = {{0, 2, 32},  {1, -3, 12}, {1, -1, 26}, {1, 1, 30}, {1, 3, 16}, {2, -2, 12},
                           {2, 0, 26},  {2, 2, 12},  {3, -3, 5},  {3, -1, 12}, {3, 1, 12}, {3, 3, 5}};
const Tap kBurkes[] = {{0, 1, 8}, {0, 2, 4}, {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2}};

}  // namespace

// --- no diffusion ---

uint8_t TDitherEngine::ProcessPixel(uint8_t red, uint8_t green, uint8_t blue, uint8_t& r, uint8_t& g, uint8_t& b) {
  const uint8_t index = lookup_->FindIndex(red, green, blue, r, g, b);
  AdvanceColumn();
  return index;
}

void TDitherEngine::NextRow() {
  direction_ = -direction_;
  column_ = direction_ == 1 ? 0 : width_ - 1;
}

// --- Floyd-Steinberg ---

TFloydSteinbergDitherer::TFloydSteinbergDitherer(int width, TColorLookup* lookup) : TDitherEngine(width, lookup) {
  for (Channel& c : channels_) c.totals.assign(size_t(width) + 2, 0);
}

uint8_t TFloydSteinbergDitherer::ProcessPixel(uint8_t red, uint8_t green, uint8_t blue, uint8_t& r, uint8_t& g,
                                              uint8_t& b) {
  const int x = column_, d = direction_;
  const uint8_t source[3] = {red, green, blue};
  uint8_t v[3];
  for (int c = 0; c < 3; ++c) {
    const Channel& ch = channels_[size_t(c)];
    v[c] = Clamp(source[c] + (ch.carry + ch.totals[size_t(x + 1)] + 8) / 16);
  }
  const uint8_t index = TDitherEngine::ProcessPixel(v[0], v[1], v[2], r, g, b);
  const uint8_t got[3] = {r, g, b};
  for (int c = 0; c < 3; ++c) {
    Channel& ch = channels_[size_t(c)];
    const int e = v[c] - got[c];
    // Column x - d of the next row now has all it will get: 1/16 from x - 2d, 5/16 from x - d, 3/16
    // from x. The entry it replaces was read when x - d was processed.
    ch.totals[size_t(x - d + 1)] = ch.secondPending + 3 * e;
    ch.secondPending = ch.firstPending + 5 * e;
    ch.firstPending = e;
    ch.carry = 7 * e;
  }
  return index;
}

void TFloydSteinbergDitherer::NextRow() {
  const int last = direction_ == 1 ? width_ - 1 : 0;
  for (Channel& ch : channels_) {
    if (width_ > 0) ch.totals[size_t(last + 1)] = ch.secondPending;
    ch.carry = ch.firstPending = ch.secondPending = 0;
  }
  TDitherEngine::NextRow();
}

// --- row-based kernels ---

TErrorRows::TErrorRows(int width, int rows, int margin)
    : width_(width), rows_(rows), margin_(margin), stride_(width + 2 * margin),
      data_(size_t(3) * size_t(rows) * size_t(width + 2 * margin), 0) {}

void TErrorRows::Spread(int channel, int row, int column, int weight, int error) {
  if (column < -margin_ || column >= width_ + margin_) return;
  data_[Index(channel, row, column)] += weight * error;
}

void TErrorRows::Rotate() {
  for (int c = 0; c < 3; ++c) {
    int* first = &data_[Index(c, 0, -margin_)];
    std::fill(first, first + stride_, 0);
    std::rotate(first, first + stride_, first + size_t(rows_) * size_t(stride_));
  }
}

TRowDitherer::TRowDitherer(int width, TColorLookup* lookup, int rows, int margin, int divisor)
    : TDitherEngine(width, lookup), rows_(width, rows, margin), divisor_(divisor) {}

uint8_t TRowDitherer::ProcessPixel(uint8_t red, uint8_t green, uint8_t blue, uint8_t& r, uint8_t& g, uint8_t& b) {
  const int x = column_, d = direction_;
  const uint8_t source[3] = {red, green, blue};
  uint8_t v[3];
  for (int c = 0; c < 3; ++c) v[c] = Clamp(source[c] + (rows_.At(c, 0, x) + divisor_ / 2) / divisor_);
  const uint8_t index = TDitherEngine::ProcessPixel(v[0], v[1], v[2], r, g, b);
  const uint8_t got[3] = {r, g, b};
  for (int c = 0; c < 3; ++c) {
    const int e = v[c] - got[c];
    if (e != 0) SpreadError(c, x, d, e);
  }
  return index;
}

void TRowDitherer::NextRow() {
  rows_.Rotate();
  TDitherEngine::NextRow();
}

void TStuckiDitherer::SpreadError(int channel, int column, int d, int error) {
  SpreadTaps(rows_, kStucki, channel, column, d, error);
}
void TSierraDitherer::SpreadError(int channel, int column, int d, int error) {
  SpreadTaps(rows_, kSierra, channel, column, d, error);
}
void TJaJuNiDitherer::SpreadError(int channel, int column, int d, int error) {
  SpreadTaps(rows_, kJaJuNi, channel, column, d, error);
}
void TSteveArcheDitherer::SpreadError(int channel, int column, int d, int error) {
  SpreadTaps(rows_, kSteveArche, channel, column, d, error);
}
void TBurkesDitherer::SpreadError(int channel, int column, int d, int error) {
  SpreadTaps(rows_, kBurkes, channel, column, d, error);
}

std::unique_ptr<TDitherEngine> CreateDitherer(TGIFDitherStyle style, int width, TColorLookup* lookup) {
  switch (style) {
    case gdNearest: return std::make_unique<TDitherEngine>(width, lookup);
    case gdFloydSteinberg: return std::make_unique<TFloydSteinbergDitherer>(width, lookup);
    case gdStucki: return std::make_unique<TStuckiDitherer>(width, lookup);
    case gdSierra: return std::make_unique<TSierraDitherer>(width, lookup);
    case gdJaJuNi: return std::make_unique<TJaJuNiDitherer>(width, lookup);
    case gdSteveArche: return std::make_unique<TSteveArcheDitherer>(width, lookup);
    case gdBurkes: return std::make_unique<TBurkesDitherer>(width, lookup);
  }
  return nullptr;
}
