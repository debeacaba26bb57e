// The run-length codes of 4- and 8-bit Windows bitmaps (BI_RLE4, BI_RLE8), walked by one decoder for
// every reader of them: the bitmap codec and the DIB loader differ only in what a pixel, a new line
// or a move outside the image does, which their sinks decide.
#pragma once
#include <climits>
#include <cstddef>
#include <cstdint>

// How a walk over run-length codes ended.
enum TIEBMPRLEEnd {
  ireEndOfBitmap,  // the end-of-bitmap code
  ireDataEnd,      // the data ran out between codes
  ireTruncated,    // the data ended inside a delta or an absolute run
  ireStopped       // the sink refused a pixel, a new line or a move
};

// A position moved on by `by`, held at INT_MAX: pixels past a row's end are the sink's to drop or
// refuse, and a sink that drops them may see a hostile stream of runs carry x that far.
inline int IEBMPRLEAdvance(int v, int by) { return v > INT_MAX - by ? INT_MAX : v + by; }

// Walks the codes of `data` (`size` bytes), 4-bit pixels when Four. The position (x, y) counts y in
// data rows from the first one, the bottom row of a bottom-up bitmap. The sink's members return false
// to stop the walk:
//   bool Pixel(int x, int y, uint8_t index)  each pixel of a run, at its position (x advances after)
//   bool NewLine(int y)                      after an end-of-line code, x back at 0
//   bool Move(int x, int y)                  after a delta code
// An absolute run is padded to a 16-bit boundary, as the coding requires. Positions advance through
// IEBMPRLEAdvance.
template <bool Four, typename Sink>
TIEBMPRLEEnd IEWalkBMPRLE(const uint8_t* data, size_t size, Sink& sink) {
  size_t p = 0;
  int x = 0, y = 0;
  while (p + 2 <= size) {
    const uint8_t n = data[p], c = data[p + 1];
    p += 2;
    if (n > 0) {  // encoded run: n pixels of c (two alternating ones when Four)
      for (int i = 0; i < n; ++i, x = IEBMPRLEAdvance(x, 1))
        if (!sink.Pixel(x, y, Four ? uint8_t((i & 1) ? (c & 15) : (c >> 4)) : c)) return ireStopped;
      continue;
    }
    if (c == 0) {  // end of line
      x = 0;
      y = IEBMPRLEAdvance(y, 1);
      if (!sink.NewLine(y)) return ireStopped;
    } else if (c == 1) {  // end of bitmap
      return ireEndOfBitmap;
    } else if (c == 2) {  // delta
      if (p + 2 > size) return ireTruncated;
      x = IEBMPRLEAdvance(x, data[p]);
      y = IEBMPRLEAdvance(y, data[p + 1]);
      p += 2;
      if (!sink.Move(x, y)) return ireStopped;
    } else {  // absolute run of c pixels
      const size_t bytes = Four ? (size_t(c) + 1) / 2 : size_t(c);
      if (p + bytes > size) return ireTruncated;
      for (int i = 0; i < c; ++i, x = IEBMPRLEAdvance(x, 1)) {
        const uint8_t b = data[p + (Four ? size_t(i) / 2 : size_t(i))];
        if (!sink.Pixel(x, y, Four ? uint8_t((i & 1) ? (b & 15) : (b >> 4)) : b)) return ireStopped;
      }
      p += bytes + (bytes & 1);
    }
  }
  return ireDataEnd;
}
