// The layer stream: every layer of an image view (settings and pixels) in one stream, starting with
// the magic "DIVEVUZOREDUD". TImageryView writes and reads it (SaveLayersToStream,
// LoadLayersFromStream); the I/O component reads it as file type 26.
#pragma once
#include <cstdint>

class TIEStream;

constexpr char kIELayersMagic[] = "DIVEVUZOREDUD";  // 13 characters, stored without the terminator
constexpr int kIELayersMagicSize = 13;
constexpr int kIELayersHeaderSize = 25;  // magic, version, image format code, layer count
constexpr int32_t kIELayersVersion = 6;
// Image format codes of the header besides file types.
constexpr int32_t kIELayersCompressedDump = -1;
constexpr int32_t kIELayersRawDump = -2;

// True when the stream's next 25 bytes are a layer stream header of version 1 or later; the position
// is restored.
bool IELayersStreamTest(TIEStream& stream);
