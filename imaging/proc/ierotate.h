// Rotation and flipping of pixel buffers: exact right-angle turns and mirrors for every pixel format,
// rotation by any angle through nearest-pixel inverse mapping, three shears (with or without
// sub-pixel blending) or antialiased inverse mapping (bilinear, bicubic), and the whole-image rotation
// with its alpha channel that the processing component runs.
// Angles are in degrees; a positive angle turns the image counter-clockwise as displayed (x to the
// right, y downward), whatever the method.
#pragma once
#include <cstdint>

#include "iedefs.h"
#include "ieutils.h"

class TIEBitmap;

enum TIEFlipAxis : uint8_t {
  faHorizontal = 0,  // mirror left-right
  faVertical = 1,    // upside down
};

// True when the angle has no fractional part and is a multiple of 90 (0 included).
bool IEIsRightAngle(double angle);

// Exact quarter turns into `dest` (allocated with width and height exchanged, same format and
// palette); every pixel format. IETurn180 keeps the size.
void IETurnCCW(TIEBitmap* source, TIEBitmap* dest);
void IETurnCW(TIEBitmap* source, TIEBitmap* dest);
void IETurn180(TIEBitmap* source, TIEBitmap* dest);

// Mirrors the bitmap and its alpha channel in place; every pixel format.
void IEFlip(TIEBitmap* bitmap, TIEFlipAxis axis);

// The pixel that `color` gives in `bitmap`'s format (1 to 6 bytes; ie1g: 0xFF for white when all three
// channels are non-zero, else 0; ie8p: the nearest palette entry).
void IEBackgroundPixel(TIEBitmap* bitmap, TColor color, uint8_t out[8]);

// Nearest-pixel inverse mapping into `dest`, allocated at round(|cos| W + |sin| H) x
// round(|sin| W + |cos| H) in the source's format; pixels outside the turned source get the
// `background` pixel (as IEBackgroundPixel gives it). Right angles are exact turns. Every format.
void IERotateNearest(TIEBitmap* source, TIEBitmap* dest, const uint8_t* background, void* Sender,
                     const TIEProgressEvent& progress, double angle);
// False, bitmap unchanged, when the turned image cannot be had (memory, an angle that is not finite).
bool IERotateNearestInPlace(TIEBitmap* bitmap, const uint8_t* background, void* Sender,
                            const TIEProgressEvent& progress, double angle);

// Three-shear rotation of an ie24RGB bitmap (ie1g goes to IERotate1Bit, white background when all
// three channels of `background` are non-zero). Blending in units of 1/4096 when antialias is set.
// False (bitmap unchanged) for other formats.
bool IERotateShear(TIEBitmap* bitmap, bool antialias, void* Sender, const TIEProgressEvent& progress,
                   TIERGB background, double angle);
// The one-byte twin for ie8g and ie8p (the palette indices of ie8p are never blended).
bool IERotateShear8(TIEBitmap* bitmap, bool antialias, uint8_t background, void* Sender,
                    const TIEProgressEvent& progress, double angle);

// Nearest-pixel rotations of ie1g and one-byte (ie8g, ie8p) bitmaps in place; false for other formats.
bool IERotate1Bit(TIEBitmap* bitmap, bool whiteBackground, const TIEProgressEvent& progress, double angle);
bool IERotate8Bit(TIEBitmap* bitmap, uint8_t background, double angle);

// Antialiased inverse mapping: quality 1 bilinear, 2 bicubic (values clamped to 0..255); ie24RGB for
// IERotateAntialias, one-byte formats for IERotateAntialias8. False (bitmap unchanged) for another
// format or quality.
bool IERotateAntialias(TIEBitmap* bitmap, TIERGB background, int quality, void* Sender,
                       const TIEProgressEvent& progress, double angle);
bool IERotateAntialias8(TIEBitmap* bitmap, uint8_t background, int quality, double angle);

// The whole-image rotation of the processing component: the method by antialias, quality and format
// (nearest mapping without antialias or for formats other than ie24RGB and ie1g; antialiased mapping
// for ie24RGB, quality 1 or 2 and angles that are not right angles; the shears otherwise); the alpha
// channel turns along (transparent outside the image). False, bitmap unchanged, for quality above 2
// or an angle that is not finite.
bool IERotateBitmap(TIEBitmap* bitmap, bool antialias, int quality, TColor background, double angle,
                    void* Sender, const TIEProgressEvent& progress);
