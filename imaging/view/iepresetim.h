// The library's stock of frame pictures: four PNG files compiled into the program, published as a
// process-wide list from the library's shared start-up to its shut-down. Each record tells where the
// frame's inner area (the part a framed image fills) lies in the picture.
#pragma once
#include <cstdint>
#include <vector>

struct TIEPresetImage {
  uint32_t DataSize = 0;
  const uint8_t* Data = nullptr;  // the embedded PNG file (read-only program data)
  int32_t Format = 0;             // file type code: 8, PNG, for all four
  int32_t InnerLeft = 0, InnerTop = 0, InnerRight = 0, InnerBottom = 0;  // in picture pixels
};

// The list; null outside the library's start-up and shut-down.
extern std::vector<TIEPresetImage*>* IEPresetImages;

void IECreatePresetImages();
void IEFreePresetImages();
// The module's steps of the shared start-up (its last) and shut-down (its first).
void IEPresetImagesStaticInit();
void IEPresetImagesStaticFini();
