// Helpers of the PSD tests: hand-built PSD files and ImageMagick / PIL round trips.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "iebitmap.h"
#include "ioparams.h"

namespace psdtest {

// Big-endian byte building.
struct Bytes {
  std::vector<uint8_t> b;
  Bytes& u8(int v) { b.push_back(uint8_t(v)); return *this; }
  Bytes& u16(int v) { u8(v >> 8); return u8(v); }
  Bytes& u32(uint32_t v) { u16(int(v >> 16)); return u16(int(v & 0xFFFF)); }
  Bytes& str(const std::string& s) { b.insert(b.end(), s.begin(), s.end()); return *this; }
  Bytes& raw(const std::vector<uint8_t>& v) { b.insert(b.end(), v.begin(), v.end()); return *this; }
  // a length-prefixed (32-bit) block
  Bytes& block(const std::vector<uint8_t>& v) { u32(uint32_t(v.size())); return raw(v); }
};

// A file of one merged image: header, colour data, resources, layer section, then the image data
// (compression word included) as given.
std::vector<uint8_t> MakePSD(int channels, int width, int height, int depth, int mode,
                             const std::vector<uint8_t>& colourData, const std::vector<uint8_t>& resources,
                             const std::vector<uint8_t>& layers, const std::vector<uint8_t>& image);
// One image resource: "8BIM", id, empty name, size, data (padded to even).
std::vector<uint8_t> Resource(int id, const std::vector<uint8_t>& data);

// A layer as the host tools report it: name and box, RGBA pixels (ImageMagick).
struct PilLayer {
  std::string name;
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  std::vector<uint8_t> rgba;
};
// The layers of a PSD file (work-folder name); names and boxes from PIL or from ImageMagick.
std::vector<PilLayer> PilLayers(const std::string& file, bool pilBoxes);

// What a direct call of the PSD reader or writer takes besides the stream and the pixels: parameters
// with their defaults and a progress record whose abort flag is `abort`.
struct CodecCall {
  TIOParamsVals params{nullptr};
  std::atomic<bool> abort{false};
  TIECodecProgress progress;
  CodecCall() { progress.Aborting = &abort; }
  CodecCall(const CodecCall&) = delete;  // the progress record points into this one
  CodecCall& operator=(const CodecCall&) = delete;
};

// MakePicture's w x h picture in `src`, written as the work folder's PPM `name` for the host's tools.
bool WriteSourcePicture(TIEBitmap& src, int w, int h, const std::string& name);

// RGBA of a bitmap (alpha 255 when it has none).
std::vector<uint8_t> RGBAOf(TIEBitmap& b);
// Largest difference between two byte vectors of equal size (256 when the sizes differ).
int MaxDiff(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);

}  // namespace psdtest
