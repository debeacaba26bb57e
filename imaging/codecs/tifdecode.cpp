// TIFF reading.
#include "tifdecode.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "iebitmapservices.h"
#include "iecmyk.h"
#include "iecodeccommon.h"
#include "ieexifglue.h"
#include "ieicc.h"
#include "iepackbits.h"
#include "ieutils.h"
#include "jpegfilt.h"
#include "tifccitt.h"
#include "tifdirectory.h"
#include "tifexif.h"
#include "tiflzw.h"

namespace {

constexpr int kMaxPages = 65536;
// Chunks decoded whole (compressed ones) are held in one buffer of at most this size.
constexpr uint64_t kMaxChunkBytes = uint64_t(1) << 30;
// The 8-bit sample plane of a page must be addressable in the product's 32 bits.
constexpr uint64_t kMaxPlaneBytes = uint64_t(SIZE_MAX / 2);
// Uncompressed rows are read from the file in bands of about this size.
constexpr uint64_t kBandBytes = uint64_t(1) << 20;
// The largest expansion of each coding, coded bytes to decoded bytes: Deflate's is 1032:1; a
// PackBits record of two bytes gives 128; an LZW code of at least 9 bits gives a string of at most
// 4096 bytes; a JPEG block takes at least one bit of its scans and gives 64 samples of up to 16
// pixels' worth of colour. Longer coded counts than kMaxCodedBytes are not looked at (no file is
// that large), which keeps the products in 64 bits.
constexpr uint64_t kDeflateMaxExpansion = 1032;
constexpr uint64_t kPackBitsMaxExpansion = 64;
constexpr uint64_t kLZWMaxExpansion = 4096 * 8 / 9 + 1;
constexpr uint64_t kLZWMaxString = 4096;
constexpr uint64_t kJPEGMaxExpansion = 1024;
constexpr uint64_t kMaxCodedBytes = uint64_t(1) << 48;
// A page whose data can make up less than a quarter of it is refused before anything is allocated;
// pages of up to this many decoded bytes are always read (what there is of them).
constexpr uint64_t kMissingFactor = 4;
constexpr uint64_t kAlwaysDecodedBytes = uint64_t(1) << 20;
// Tags from here up are private (an application's own): the page's pixels never depend on them.
constexpr uint16_t kFirstPrivateTag = 32768;
// An EXIF thumbnail is a small picture; a larger directory read as one is refused.
constexpr uint32_t kThumbnailMaxSize = 400;

enum : uint16_t {
  kTagWidth = 256, kTagHeight = 257, kTagBitsPerSample = 258, kTagCompression = 259,
  kTagPhotometric = 262, kTagFillOrder = 266, kTagStripOffsets = 273, kTagSamplesPerPixel = 277,
  kTagRowsPerStrip = 278, kTagStripByteCounts = 279, kTagXResolution = 282, kTagYResolution = 283,
  kTagPlanar = 284, kTagResolutionUnit = 296, kTagPredictor = 317, kTagColorMap = 320,
  kTagTileWidth = 322, kTagTileLength = 323, kTagTileOffsets = 324, kTagTileByteCounts = 325,
  kTagT4Options = 292, kTagExtraSamples = 338, kTagDocumentName = 269, kTagPageName = 285,
  kTagXPosition = 286, kTagYPosition = 287, kTagPageNumber = 297, kTagSubIFDs = 330, kTagJPEGTables = 347,
  kTagJPEGInterchange = 513, kTagJPEGInterchangeLength = 514, kTagYCbCrSubSampling = 530, kTagXMP = 700,
  kTagAnnotations = 32932, kTagIPTC = 33723, kTagICC = 34675, kTagSoftware = 305,
};

enum : uint32_t { kCompOJPEG = 6, kCompJPEG = 7 };

const std::string kMolliSoftware = "Look@Molli v1.1";

using TFile = TIETIFFFile;
using TEntry = TIETIFFEntry;
using TIFD = TIETIFFDirectory;

bool ReadIFD(const TFile& f, uint64_t off, TIFD& ifd, uint64_t& next) { return IETIFFReadDirectory(f, off, ifd, next); }

// The directory offsets of the page chain; a chain that comes back to any directory it has been
// through ends there.
std::vector<uint64_t> PageChain(const TFile& f, uint64_t first) {
  std::vector<uint64_t> pages;
  std::set<uint64_t> seen;
  uint64_t off = first;
  while (off != 0 && int(pages.size()) < kMaxPages && seen.insert(off).second) {
    uint64_t next = 0;
    if (!IETIFFNextDirectory(f, off, next)) break;
    pages.push_back(off);
    off = next;
  }
  return pages;
}

uint8_t Reverse(uint8_t b) {
  b = uint8_t((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = uint8_t((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return uint8_t((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

// Deflate into out, at most out.size() bytes; returns the bytes inflated before the data ended or
// zlib rejected it.
size_t Inflate(const uint8_t* s, size_t n, std::vector<uint8_t>& out) {
  z_stream z;
  std::memset(&z, 0, sizeof(z));
  if (inflateInit(&z) != Z_OK) return 0;
  z.next_in = const_cast<Bytef*>(s);
  z.avail_in = uInt(n);
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  inflate(&z, Z_FINISH);
  const size_t produced = out.size() - z.avail_out;
  inflateEnd(&z);
  return produced;
}

struct TTIFFVars {
  uint32_t width = 0, height = 0, bps = 1, spp = 1, compression = 1, photometric = 1, fillOrder = 1;
  uint32_t planar = 1, predictor = 1, t4Options = 0;
  bool tiled = false;
  bool rgb555 = false;      // one 16-bit word per RGB pixel (5 bits each); spp is then the 3 decoded samples
  uint32_t shift16 = 8;     // 16-bit samples to 8 bits: shifted right by this, the low byte kept
  uint32_t chunkW = 0, chunkH = 0;  // strip: image width x rows per strip
  // YCbCr data units: subH x subV luma samples, then Cb and Cr (1 x 1: plain chunky samples).
  uint32_t subH = 1, subV = 1;
  // Samples that need a colour conversion once decoded (JPEG data arrives as RGB already).
  bool ycbcr = false, lab = false, labUnsigned = false;
  // Only one tile (TIFFGetTile): its index, and the tiles across and down the whole image.
  int64_t onlyTile = -1;
  uint32_t imageTilesAcross = 0, imageTilesDown = 0;
};

// The frame size of a JPEG stream (its first start-of-frame segment before the scan); false when
// the markers give none.
bool JPEGFrameSize(const uint8_t* d, size_t n, uint32_t& w, uint32_t& h) {
  size_t i = 2;
  if (n < 2 || d[0] != 0xFF || d[1] != 0xD8) return false;
  while (i + 9 <= n && d[i] == 0xFF) {
    const uint8_t m = d[i + 1];
    if (m == 0xFF) {
      ++i;
      continue;
    }
    if (m == 0xDA || m == 0xD9) return false;
    if (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) {
      h = uint32_t(d[i + 5]) << 8 | d[i + 6];
      w = uint32_t(d[i + 7]) << 8 | d[i + 8];
      return true;
    }
    i += 2 + (size_t(d[i + 2]) << 8 | d[i + 3]);
  }
  return false;
}

// Rows a JPEG chunk is decoded into: the decoder's output interleaved at 8 bits, `samples` per
// pixel (1 grey, 3 R G B, 4 stored ink), clipped to width x rows. False when the data does not
// decode, holds other samples, or claims a frame larger than width x frameRows (a chunk's frame is
// never allocated beyond what the image can hold). With halfIsEnough a stream that breaks off after
// more than half its rows counts as decoded (old-style JPEG strips often end that way).
bool DecodeJPEGChunk(const uint8_t* data, size_t n, const std::string& tables, uint32_t samples, uint32_t width,
                     uint32_t rows, uint32_t frameRows, uint8_t* out, size_t rowBytes, bool halfIsEnough) {
  uint32_t fw = 0, fh = 0;
  if (JPEGFrameSize(data, n, fw, fh) && (fw > width + 16 || fh > frameRows + 16)) return false;
  TIEMemStream in(data, int64_t(n));
  TIEMemStream tab(tables.data(), int64_t(tables.size()));
  TIOParamsVals scratch(nullptr);
  std::atomic<bool> failed{false};
  TIECodecProgress p;
  p.Aborting = &failed;
  TIEBitmap tmp;
  int decoded = 0;
  try {
    decoded = IEJPEGRead(in, tables.empty() ? nullptr : &tab, tmp, scratch, p, false, false, false, false, false,
                         false, int(rows), true);
  } catch (const std::exception&) {
    failed = true;
  }
  const TIEPixelFormat fmt = tmp.GetPixelFormat();
  const uint32_t got = fmt == ie8g ? 1 : fmt == ie24RGB ? 3 : fmt == ieCMYK ? 4 : 0;
  if (failed && halfIsEnough && uint64_t(std::max(decoded, 0)) * 2 > rows) failed = false;
  if (failed || tmp.IsEmpty() || got == 0) return false;
  const uint32_t w = std::min<uint32_t>(width, uint32_t(tmp.GetImageWidth()));
  const uint32_t h = std::min<uint32_t>(rows, uint32_t(tmp.GetImageHeight()));
  for (uint32_t y = 0; y < h; ++y) {
    const uint8_t* r = tmp.GetRowAddress(int(y));
    uint8_t* d = out + size_t(y) * rowBytes;
    for (uint32_t x = 0; x < w; ++x, d += samples) {
      const uint8_t* px = r + size_t(x) * got;
      if (got == samples) {
        if (got == 3) {
          d[0] = px[2];
          d[1] = px[1];
          d[2] = px[0];
        } else {
          std::memcpy(d, px, got);
        }
      } else if (samples == 1 && got == 3) {
        d[0] = px[1];
      } else if (samples == 3 && got == 1) {
        d[0] = d[1] = d[2] = px[0];
      } else {
        return false;
      }
    }
  }
  return true;
}

// How far the decoding of a page got.
enum class TTIFFDecodeState {
  kComplete,  // every chunk decoded to its full size
  kPartial,   // a chunk was cut by the end of the file or decoded far short: the rows decoded are kept
  kRefused,   // the layout or the data gives no picture: nothing is delivered
};

// Where a chunk's coded bytes lie, as far as the file holds them.
struct TChunkSpan {
  uint64_t off = 0, len = 0;
  bool cut = false;  // the file ends before the bytes the chunk declares (or needs, uncompressed)
};

class TDecoder {
 public:
  TDecoder(const TFile& f, const TIFD& ifd, const TTIFFVars& l, TIECodecProgress& p, TIETIFFLZWDecompressor lzw)
      : f_(f), ifd_(ifd), l_(l), progress_(p), lzw_(lzw) {}

  // Whether the page's data can decode to the page at all: what every chunk's bytes can expand to
  // at most, by the coding, against the bytes the page's rows need. Checked before anything of the
  // page's size is allocated, so a few bytes claiming a huge picture cost nothing.
  bool Fits() {
    if (l_.compression == kCompOJPEG) return OldJPEGFits();
    if (!Geometry()) return false;
    uint64_t needed = 0, capacity = 0;
    ForEachChunk([&](uint32_t index, uint32_t, uint32_t, uint32_t, uint64_t rowsHere) {
      const uint64_t full = CodedRows(rowsHere) * g_.codedRowBytes;
      needed += full;
      capacity += std::min(full, MaxDecoded(SpanOf(index, full).len));
      return true;
    });
    return PageFits(needed, capacity);
  }

  // Decodes every chunk into samples_ (8 bits per sample, spp per pixel) or the direct bitmap.
  TTIFFDecodeState Run() {
    const TChunkGeometry& g = g_;
    // Uncompressed rows are read from the file a band at a time, however large the chunk.
    rowwise_ = l_.compression == 1 && !g.units;
    if (!rowwise_ && (g.chunkBytes > kMaxChunkBytes || g.rowBytes * l_.chunkH > kMaxChunkBytes))
      return TTIFFDecodeState::kRefused;
    if (!direct_ && !direct16_) samples_.assign(size_t(g.planeBytes), 0);
    tables_ = l_.compression == kCompJPEG ? ifd_.Bytes(kTagJPEGTables) : std::string();
    raw_.assign(rowwise_ ? 0 : size_t(g.chunkBytes), 0);
    decoded_.assign(g.units ? size_t(g.rowBytes * l_.chunkH) : 0, 0);
    TIERowProgress rows(progress_, int(g.across * g.down * g.planes));
    partial_ = false;
    const bool done = l_.tiled ? IETIFFReadTiles(rows) : IETIFFReadStrips(rows);
    // the chunk's buffers are given back before the page's bitmap is allocated
    std::vector<uint8_t>().swap(raw_);
    std::vector<uint8_t>().swap(decoded_);
    if (!done) return TTIFFDecodeState::kRefused;
    return partial_ ? TTIFFDecodeState::kPartial : TTIFFDecodeState::kComplete;
  }

  // Decodes all strips, plane after plane for planar data; false when the progress record asked to stop.
  bool IETIFFReadStrips(TIERowProgress& rows) {
    return ForEachChunk([&](uint32_t index, uint32_t plane, uint32_t, uint32_t cy, uint64_t rowsHere) {
      return DecodeChunk(index, plane, 0, cy * l_.chunkH, rowsHere, rows);
    });
  }

  // Decodes all tiles, or only the one TIFFGetTile selects (the page is then that tile); false when
  // the progress record asked to stop.
  bool IETIFFReadTiles(TIERowProgress& rows) {
    return ForEachChunk([&](uint32_t index, uint32_t plane, uint32_t cx, uint32_t cy, uint64_t rowsHere) {
      return DecodeChunk(index, plane, cx * l_.chunkW, cy * l_.chunkH, rowsHere, rows);
    });
  }

  // Old-style JPEG: a whole JPEG stream at the interchange offset, or strips that each hold a JPEG
  // (the tables, when the strips lack them, from the interchange block or from the first strip).
  // A strip that decodes more than half its rows counts as read.
  TTIFFDecodeState IETIFFReadOldJPEG() {
    const uint32_t sppc = l_.spp;
    const uint64_t rowBytes = uint64_t(l_.width) * sppc;
    samples_.assign(size_t(rowBytes * l_.height), 0);
    const uint64_t size = f_.Size();
    std::string header;
    const uint64_t jif = ifd_.Value(kTagJPEGInterchange);
    std::vector<uint8_t> block;
    if (ifd_.Find(kTagJPEGInterchange) && jif > 0 && jif < size) {
      const uint64_t len = InterchangeLength(jif);
      if (!Fetch(jif, len, block)) return TTIFFDecodeState::kRefused;
      const uint8_t* d = block.data();
      if (FindMarker(d, size_t(len), 0xDA) >= 0)
        return DecodeJPEGChunk(d, size_t(len), std::string(), sppc, l_.width, l_.height, l_.height, samples_.data(),
                               size_t(rowBytes), false)
                   ? TTIFFDecodeState::kComplete
                   : TTIFFDecodeState::kRefused;
      header.assign(reinterpret_cast<const char*>(d), size_t(len));
      if (header.size() >= 2 && uint8_t(header[header.size() - 2]) == 0xFF && uint8_t(header.back()) == 0xD9)
        header.resize(header.size() - 2);
    }
    const uint32_t strips = ifd_.Count(kTagStripOffsets);
    const uint64_t rps = l_.chunkH;
    if (strips == 0 || uint64_t(strips) * rps < l_.height) return TTIFFDecodeState::kRefused;
    TIERowProgress progress(progress_, int(strips));
    std::vector<uint8_t> stream;
    bool partial = false;
    for (uint32_t s = 0; uint64_t(s) * rps < l_.height; ++s) {
      const TChunkSpan span = OldJPEGStrip(s);
      partial = partial || span.cut;
      if (span.len == 0 || !Fetch(span.off, span.len, chunk_)) continue;
      const uint64_t len = span.len;
      const uint8_t* d = chunk_.data();
      stream.clear();
      const bool own = len >= 2 && d[0] == 0xFF && d[1] == 0xD8;
      if (!own) {
        if (header.empty() && s > 0) {
          // the tables of the first strip, up to its scan
          const TChunkSpan first = OldJPEGStrip(0);
          std::vector<uint8_t> bytes;
          if (first.len == 0 || !Fetch(first.off, first.len, bytes)) return TTIFFDecodeState::kRefused;
          const int64_t sos = FindMarker(bytes.data(), bytes.size(), 0xDA);
          if (sos < 0) return TTIFFDecodeState::kRefused;
          stream.assign(bytes.data(), bytes.data() + sos);
        } else {
          stream.assign(header.begin(), header.end());
        }
      }
      stream.insert(stream.end(), d, d + len);
      const uint64_t rowsHere = std::min<uint64_t>(rps, l_.height - uint64_t(s) * rps);
      if (!DecodeJPEGChunk(stream.data(), stream.size(), std::string(), sppc, l_.width, uint32_t(rowsHere),
                           l_.height, samples_.data() + size_t(uint64_t(s) * rps * rowBytes), size_t(rowBytes), true))
        partial = true;
      progress.Step();
      if (progress_.Aborted()) return TTIFFDecodeState::kRefused;
    }
    return partial ? TTIFFDecodeState::kPartial : TTIFFDecodeState::kComplete;
  }

  std::vector<uint8_t> samples_;
  // Plain 8-bit grey or R, G, B go straight into this bitmap (ie8g, ie24RGB) instead of samples_.
  TIEBitmap* direct_ = nullptr;
  // 16-bit grey or R, G, B kept whole in this bitmap (ie16g, ieRGB48) instead of samples_.
  TIEBitmap* direct16_ = nullptr;

 private:
  // The coded shape of the page's chunks.
  struct TChunkGeometry {
    uint32_t sppc = 1;              // samples per pixel within one chunk (1 for a plane)
    uint64_t rowBytes = 0;          // one decoded row of a chunk
    bool units = false;             // subsampled YCbCr coded in data units of subV rows
    uint64_t codedRowBytes = 0;     // one coded row (or row of data units)
    uint64_t chunkBytes = 0;        // a whole coded chunk
    uint32_t across = 0, down = 0, planes = 1;
    uint64_t perPlane = 0;          // chunks of one plane in the file (all tiles when only one is read)
    uint16_t offTag = 0, cntTag = 0;
    uint64_t planeBytes = 0;        // the 8-bit sample plane of the whole page
  };

  // The page's chunk geometry into g_; false when the directory holds fewer chunks than the page
  // needs, for a coding the reader does not know, or for sizes beyond what memory can address.
  bool Geometry() {
    TChunkGeometry& g = g_;
    g.sppc = l_.planar == 2 || l_.rgb555 ? 1 : l_.spp;
    g.rowBytes = (uint64_t(l_.chunkW) * g.sppc * l_.bps + 7) / 8;
    g.units = l_.subH * l_.subV > 1;
    g.codedRowBytes = g.units ? (uint64_t(l_.chunkW) + l_.subH - 1) / l_.subH * (l_.subH * l_.subV + 2) : g.rowBytes;
    g.chunkBytes = g.codedRowBytes * CodedRows(l_.chunkH);
    g.across = uint32_t((uint64_t(l_.width) + l_.chunkW - 1) / l_.chunkW);
    g.down = uint32_t((uint64_t(l_.height) + l_.chunkH - 1) / l_.chunkH);
    g.planes = l_.planar == 2 ? l_.spp : 1;
    g.offTag = l_.tiled ? kTagTileOffsets : kTagStripOffsets;
    g.cntTag = l_.tiled ? kTagTileByteCounts : kTagStripByteCounts;
    // A single tile (TIFFGetTile) is found among the chunks of the whole image.
    g.perPlane = l_.onlyTile >= 0 ? uint64_t(l_.imageTilesAcross) * l_.imageTilesDown : uint64_t(g.across) * g.down;
    g.planeBytes = uint64_t(l_.width) * l_.height * l_.spp;
    if (g.chunkBytes == 0 || g.planeBytes > kMaxPlaneBytes) return false;
    if (l_.onlyTile >= 0 && uint64_t(l_.onlyTile) >= g.perPlane) return false;
    if (MaxDecoded(1) == 0) return false;
    // A directory that lists fewer chunks than the image needs is damaged; surplus ones are not read.
    return ifd_.Count(g.offTag) >= g.perPlane * g.planes;
  }

  uint64_t CodedRows(uint64_t rows) const { return g_.units ? (rows + l_.subV - 1) / l_.subV : rows; }

  // Calls fn(index, plane, cx, cy, rows) for every chunk of the page in file order; false when fn
  // asked to stop.
  template <typename Fn>
  bool ForEachChunk(Fn fn) const {
    const TChunkGeometry& g = g_;
    for (uint32_t plane = 0; plane < g.planes; ++plane)
      for (uint32_t cy = 0; cy < g.down; ++cy)
        for (uint32_t cx = 0; cx < g.across; ++cx) {
          const uint64_t at = l_.onlyTile >= 0 ? uint64_t(l_.onlyTile) : uint64_t(cy) * g.across + cx;
          const uint32_t index = uint32_t(plane * g.perPlane + at);
          const uint64_t rowsHere = l_.tiled ? l_.chunkH : std::min<uint64_t>(l_.chunkH, l_.height - uint64_t(cy) * l_.chunkH);
          if (!fn(index, plane, cx, cy, rowsHere)) return false;
        }
    return true;
  }

  // The bytes of chunk `index` as far as the file holds them. `full`: the bytes its rows take
  // uncompressed. Uncompressed chunks take the larger of their declared and their full size (writers
  // that leave the count 0 or too short are common); other chunks without a count run to the end of
  // the file.
  TChunkSpan SpanOf(uint32_t index, uint64_t full) const {
    TChunkSpan s;
    s.off = ifd_.Value(g_.offTag, index);
    uint64_t len = ifd_.Count(g_.cntTag) > index ? ifd_.Value(g_.cntTag, index) : 0;
    const uint64_t size = f_.Size();
    if (l_.compression == 1) len = std::max(len, full);
    else if (len == 0) len = size > s.off ? size - s.off : 1;
    s.len = s.off < size ? std::min(len, size - s.off) : 0;
    // uncompressed rows are all there once their full size is
    s.cut = s.len < (l_.compression == 1 ? full : len);
    return s;
  }

  // The most bytes n coded bytes of the page's coding can decode to.
  uint64_t MaxDecoded(uint64_t n) const {
    if (n > kMaxCodedBytes) n = kMaxCodedBytes;
    switch (l_.compression) {
      case 1: return n;
      case 2: case 3: case 4: return (8 * n + 1) * g_.codedRowBytes;  // a fax row takes a bit at least
      case 5: return n * kLZWMaxExpansion + kLZWMaxString;
      case kCompJPEG: case kCompOJPEG: return n * kJPEGMaxExpansion;
      case 8: case 32946: return n * kDeflateMaxExpansion + kDeflateMaxExpansion;
      case 32773: return n * kPackBitsMaxExpansion + kPackBitsMaxExpansion;
      default: return 0;
    }
  }

  // A page whose data can make up only a small part of it is refused; a small page is always read.
  static bool PageFits(uint64_t needed, uint64_t capacity) {
    return needed <= kAlwaysDecodedBytes || needed / kMissingFactor <= capacity;
  }

  // Decodes chunk `index` of plane `plane` (its first pixel at x0, y0; rowsHere rows of it in the
  // page) into the image; false when the progress record asked to stop.
  bool DecodeChunk(uint32_t index, uint32_t plane, uint32_t x0, uint32_t y0, uint64_t rowsHere,
                   TIERowProgress& rows) {
    const TChunkGeometry& g = g_;
    const uint64_t full = CodedRows(rowsHere) * g.codedRowBytes;
    const TChunkSpan span = SpanOf(index, full);
    partial_ = partial_ || span.cut;
    if (rowwise_) {
      partial_ = !ReadRows(span, rowsHere, plane, x0, y0) || partial_;
    } else {
      std::fill(raw_.begin(), raw_.end(), 0);
      size_t produced = 0;
      if (span.len > 0 && Fetch(span.off, span.len, chunk_)) {
        if (l_.compression == kCompJPEG) {
          if (DecodeJPEGChunk(chunk_.data(), chunk_.size(), tables_, g.sppc, l_.chunkW, uint32_t(rowsHere),
                              l_.chunkH, raw_.data(), size_t(g.rowBytes), false))
            produced = size_t(full);
        } else {
          produced = FetchRows(chunk_.data(), chunk_.size(), CodedRows(rowsHere), raw_);
        }
      }
      // a chunk that decodes to far less than its rows is damaged; what it gave stays
      if (produced < full / 2) partial_ = true;
      ConvertRows(raw_.data(), l_.chunkH, plane, x0, y0);
    }
    rows.Step();
    return !progress_.Aborted();
  }

  // `n` decoded rows of a chunk or band, the first of them image row y0, into the image.
  void ConvertRows(uint8_t* rows, uint64_t n, uint32_t plane, uint32_t x0, uint32_t y0) {
    if (l_.planar == 2) IETIFFDecodePlanarRows(rows, n, plane, x0, y0);
    else IETIFFDecodeRows(rows, n, x0, y0);
  }

  // Converts the decoded rows of one chunky strip or tile (or band of one): the predictor undone,
  // subsampled YCbCr units spread over their pixels, then the rows into the image.
  void IETIFFDecodeRows(uint8_t* rows, uint64_t n, uint32_t x0, uint32_t y0) {
    if (l_.predictor == 2) IETIFFUndoPredictor(rows, n, g_.rowBytes, g_.sppc);
    if (g_.units) {
      ExpandUnits(rows, g_.codedRowBytes, decoded_);
      Place(decoded_.data(), g_.rowBytes, x0, y0, 0, n);
    } else {
      Place(rows, g_.rowBytes, x0, y0, 0, n);
    }
  }

  // The same for planar data: the rows of one plane's strip or tile (one sample per pixel) into
  // that sample of the image's pixels.
  void IETIFFDecodePlanarRows(uint8_t* rows, uint64_t n, uint32_t plane, uint32_t x0, uint32_t y0) {
    if (l_.predictor == 2) IETIFFUndoPredictor(rows, n, g_.rowBytes, g_.sppc);
    Place(rows, g_.rowBytes, x0, y0, plane, n);
  }

  // Uncompressed rows of one chunk from the file, a band at a time, into the image; false when the
  // file ends before the chunk's rows do (the rows before stay, the rest are zero).
  bool ReadRows(const TChunkSpan& span, uint64_t rowsHere, uint32_t plane, uint32_t x0, uint32_t y0) {
    const uint64_t rowBytes = g_.rowBytes;
    const uint64_t bandRows = std::max<uint64_t>(1, std::min<uint64_t>(rowsHere, kBandBytes / rowBytes));
    band_.resize(size_t(bandRows * rowBytes));
    // rows of an edge tile below the image are not read
    const uint64_t rowsUsed = std::min<uint64_t>(rowsHere, l_.height - y0);
    bool whole = true;
    for (uint64_t y = 0; y < rowsUsed; y += bandRows) {
      const uint64_t n = std::min(bandRows, rowsUsed - y), at = y * rowBytes;
      uint64_t have = span.len > at ? std::min(span.len - at, n * rowBytes) : 0;
      if (have && !f_.Read(span.off + at, band_.data(), have)) have = 0;
      std::fill(band_.begin() + ptrdiff_t(have), band_.begin() + ptrdiff_t(n * rowBytes), 0);  // what the file lacks
      if (have < n * rowBytes) whole = false;
      if (l_.fillOrder == 2)
        for (uint64_t i = 0; i < have; ++i) band_[size_t(i)] = Reverse(band_[size_t(i)]);
      ConvertRows(band_.data(), n, plane, x0, uint32_t(y0 + y));
    }
    return whole;
  }

  // The old-style JPEG strip s as far as the file holds it (a count of 0: to the end of the file).
  TChunkSpan OldJPEGStrip(uint32_t s) const {
    TChunkSpan span;
    const uint64_t size = f_.Size();
    span.off = ifd_.Value(kTagStripOffsets, s);
    uint64_t len = ifd_.Count(kTagStripByteCounts) > s ? ifd_.Value(kTagStripByteCounts, s) : 0;
    if (len == 0) len = size > span.off ? size - span.off : 1;
    span.len = span.off < size ? std::min(len, size - span.off) : 0;
    span.cut = span.len < len;
    return span;
  }

  // The length of the interchange block at jif, measured when the directory gives none.
  uint64_t InterchangeLength(uint64_t jif) const {
    uint64_t len = ifd_.Value(kTagJPEGInterchangeLength);
    if (len == 0 && f_.Stream()) {
      f_.Stream()->SetPosition(f_.Base() + int64_t(jif));
      len = uint64_t(std::max<int64_t>(IEJPEGLength(*f_.Stream()), 0));
    }
    return std::min(len, f_.Size() - jif);
  }

  // The old-style JPEG counterpart of Fits.
  bool OldJPEGFits() {
    g_.planeBytes = uint64_t(l_.width) * l_.height * l_.spp;
    if (g_.planeBytes > kMaxPlaneBytes) return false;
    uint64_t coded = 0;
    const uint64_t jif = ifd_.Value(kTagJPEGInterchange);
    if (ifd_.Find(kTagJPEGInterchange) && jif > 0 && jif < f_.Size()) coded += InterchangeLength(jif);
    const uint64_t rps = l_.chunkH;
    for (uint32_t s = 0; s < ifd_.Count(kTagStripOffsets) && uint64_t(s) * rps < l_.height; ++s)
      coded += OldJPEGStrip(s).len;
    return PageFits(g_.planeBytes, MaxDecoded(coded));
  }

  // The len bytes at off (a strip or tile, a JPEG block) into buf; false when the file holds less.
  bool Fetch(uint64_t off, uint64_t len, std::vector<uint8_t>& buf) {
    if (!f_.Has(off, len) || len > SIZE_MAX / 2) return false;
    buf.resize(size_t(len));
    return f_.Read(off, buf.data(), len);
  }

  std::vector<uint8_t> chunk_;  // the compressed bytes of the chunk being decoded
  std::vector<uint8_t> band_;   // uncompressed rows read from the file
  std::vector<uint8_t> raw_;     // the decoded rows of the chunk being decoded
  std::vector<uint8_t> decoded_; // those rows with their YCbCr units spread over the pixels
  std::string tables_;           // the page's JPEG tables
  bool rowwise_ = false;         // uncompressed rows are read from the file in bands
  bool partial_ = false;         // a chunk was cut or decoded far short
  TChunkGeometry g_;

  // The coded bytes of the chunk being decoded and how far the decoding of its rows has got.
  struct TRowFetch {
    const uint8_t* data = nullptr;
    size_t n = 0;
    // Fax codings: the bytes with zeros after them (the decoders peek past their position), the
    // reference and scratch rows of two-dimensional coding, and the position reached.
    std::vector<uint8_t> padded, reference, work;
    int64_t bytePos = 0, bitPos = 0;
  };

  // Decodes the `rows` coded rows of one chunk of n coded bytes into out; returns the bytes they
  // gave.
  size_t FetchRows(const uint8_t* s, size_t n, uint64_t rows, std::vector<uint8_t>& out) {
    TRowFetch st;
    st.data = s;
    st.n = n;
    if (l_.compression >= 2 && l_.compression <= 4) {
      st.padded.assign(n + 8, 0);
      if (n) std::memcpy(st.padded.data(), s, n);
      // every strip or tile starts from an all-white reference row
      const size_t scratch = (size_t(l_.chunkW) + 31) / 32 * 4 + 4;
      st.reference.assign(scratch, 0xFF);
      st.work.assign(scratch, 0xFF);
    }
    size_t produced = 0;
    for (uint64_t y = 0; y < rows; ++y) produced += IETIFFFetchRow(st, y, out);
    return produced;
  }

  // Undoes the compression of coded row y of the chunk into its place in out; returns the bytes it
  // gave. Fax rows are decoded one by one; LZW, Deflate, PackBits and stored chunks cannot be cut at
  // rows, so the whole chunk is decoded with its first row and later rows give nothing more.
  size_t IETIFFFetchRow(TRowFetch& st, uint64_t y, std::vector<uint8_t>& out) {
    if (l_.compression >= 2 && l_.compression <= 4) return FetchFaxRow(st, y, out);
    return y == 0 ? DecodeWhole(st.data, st.n, out) : 0;
  }

  // A whole chunk of n coded bytes (not fax) into out; returns the bytes it gave.
  size_t DecodeWhole(const uint8_t* s, size_t n, std::vector<uint8_t>& out) {
    std::vector<uint8_t> flipped;
    if (l_.fillOrder == 2 && l_.compression != 5) {
      flipped.assign(s, s + n);
      for (auto& b : flipped) b = Reverse(b);
      s = flipped.data();
    }
    switch (l_.compression) {
      case 1:
        std::memcpy(out.data(), s, std::min(n, out.size()));
        return std::min(n, out.size());
      case 32773: return IEUnpackBits(s, n, out.data(), out.size());
      case 8: case 32946: return Inflate(s, n, out);
      case 5: {
        // The coder ends at the strip's last byte; rows it did not reach stay zero.
        if (!lzw_) return 0;
        TIETIFFLZWDecoderState* lzwState = nullptr;
        const uint8_t* r = lzw_(s, int64_t(n), int(out.size()), lzwState, int(l_.fillOrder));
        if (r) std::memcpy(out.data(), r, out.size());
        lzw_(nullptr, 0, 0, lzwState, 0);
        return r ? out.size() : 0;
      }
      default: return 0;
    }
  }

  // Fax row y as stored samples: a white run is sample 0 whatever the photometric says (the decoders
  // give set bits for white runs). A strip whose codes run out leaves its remaining rows white.
  size_t FetchFaxRow(TRowFetch& st, uint64_t y, std::vector<uint8_t>& out) {
    const int width = int(l_.chunkW);
    const size_t rowBytes = (size_t(width) + 7) / 8;
    const int fill = int(l_.fillOrder);
    const int64_t length = int64_t(st.n);
    uint8_t* row = &out[size_t(y) * rowBytes];
    if ((l_.compression == 2 ? st.bytePos : st.bitPos >> 3) >= length) {
      std::memset(row, 0xFF, rowBytes);
    } else if (l_.compression == 2) {
      st.bytePos += IECCITTDecodeMHRow(row, st.padded.data() + st.bytePos, length - st.bytePos, fill, width);
    } else if (l_.compression == 3 && !(l_.t4Options & 1)) {
      st.bitPos = IECCITTDecode1DRow(row, st.padded.data(), length, fill, st.bitPos, width);
    } else {
      const bool skipFill = l_.compression == 3 || (l_.t4Options & 4) != 0;
      st.bitPos = IECCITTDecode2DRow(st.work.data(), st.padded.data(), length, skipFill, fill, st.bitPos,
                                     st.reference.data(), width);
      std::memcpy(row, st.reference.data(), rowBytes);
    }
    for (size_t i = 0; i < rowBytes; ++i) row[i] = uint8_t(~row[i]);
    return rowBytes;
  }

  // Horizontal differencing undone on `rows` rows of rowBytes bytes.
  void IETIFFUndoPredictor(uint8_t* buf, uint64_t rows, uint64_t rowBytes, uint32_t sppc) {
    for (uint64_t y = 0; y < rows; ++y) {
      uint8_t* r = buf + size_t(y * rowBytes);
      if (l_.bps == 8) {
        for (uint64_t i = sppc; i < rowBytes; ++i) r[i] = uint8_t(r[i] + r[i - sppc]);
      } else if (l_.bps == 16) {
        const uint64_t n = rowBytes / 2;
        for (uint64_t i = sppc; i < n; ++i) {
          uint8_t* a = r + 2 * i;
          const uint8_t* b = r + 2 * (i - sppc);
          const int hi = f_.bigEndian ? 0 : 1, lo = 1 - hi;
          const uint16_t v = uint16_t((a[hi] << 8 | a[lo]) + (b[hi] << 8 | b[lo]));
          a[hi] = uint8_t(v >> 8);
          a[lo] = uint8_t(v);
        }
      }
    }
  }

  // Subsampled YCbCr data units into Y, Cb, Cr per pixel (each chroma pair shared by its unit).
  void ExpandUnits(const uint8_t* raw, uint64_t unitRowBytes, std::vector<uint8_t>& out) {
    const uint32_t h = l_.subH, v = l_.subV, unit = h * v + 2;
    const uint64_t rowBytes = uint64_t(l_.chunkW) * 3;
    for (uint64_t uy = 0; uy * v < l_.chunkH; ++uy) {
      const uint8_t* u = &raw[size_t(uy * unitRowBytes)];
      for (uint32_t ux = 0; uint64_t(ux) * h < l_.chunkW; ++ux, u += unit)
        for (uint32_t j = 0; j < v; ++j)
          for (uint32_t i = 0; i < h; ++i) {
            const uint64_t x = uint64_t(ux) * h + i, y = uy * v + j;
            if (x >= l_.chunkW || y >= l_.chunkH) continue;
            uint8_t* d = &out[size_t(y * rowBytes + x * 3)];
            d[0] = u[j * h + i];
            d[1] = u[h * v];
            d[2] = u[h * v + 1];
          }
    }
  }

  // Offset of the first FF <marker> in a JPEG stream's marker segments (-1: none before the data ends).
  static int64_t FindMarker(const uint8_t* d, size_t n, uint8_t marker) {
    size_t i = 2;
    if (n < 2 || d[0] != 0xFF || d[1] != 0xD8) return -1;
    while (i + 4 <= n) {
      if (d[i] != 0xFF) return -1;
      const uint8_t m = d[i + 1];
      if (m == marker) return int64_t(i);
      if (m == 0xFF) {
        ++i;
        continue;
      }
      i += 2 + (size_t(d[i + 2]) << 8 | d[i + 3]);
    }
    return -1;
  }

  // Copies `rows` decoded rows of a chunk (clipped to the image), the first of them image row y0,
  // into the sample plane as 8-bit values or into the direct bitmap.
  void Place(const uint8_t* raw, uint64_t rowBytes, uint32_t x0, uint32_t y0, uint32_t plane, uint64_t rows) {
    if (y0 >= l_.height || x0 >= l_.width) return;
    const uint32_t sppc = g_.sppc;
    const uint32_t w = std::min(l_.chunkW, l_.width - x0);
    const uint32_t h = uint32_t(std::min<uint64_t>(rows, l_.height - y0));
    if (direct16_) {
      // samples in the file's byte order into native words; grey that says white is zero inverted
      const uint32_t out = l_.spp;
      for (uint32_t y = 0; y < h; ++y) {
        const uint8_t* r = raw + size_t(uint64_t(y) * rowBytes);
        uint8_t* d = direct16_->GetRowAddress(int(y0 + y)) + size_t(x0) * out * 2;
        for (uint32_t x = 0; x < w; ++x)
          for (uint32_t s = 0; s < sppc; ++s) {
            const uint8_t* v = r + (size_t(x) * sppc + s) * 2;
            uint16_t word = f_.bigEndian ? uint16_t(v[0] << 8 | v[1]) : uint16_t(v[1] << 8 | v[0]);
            if (l_.photometric == 0) word = uint16_t(~word);
            IEWriteU16LE(d + (size_t(x) * out + plane + s) * 2, word);
          }
      }
      return;
    }
    if (direct_) {
      const bool rgb = l_.spp == 3;
      for (uint32_t y = 0; y < h; ++y) {
        const uint8_t* r = raw + size_t(uint64_t(y) * rowBytes);
        uint8_t* d = direct_->GetRowAddress(int(y0 + y)) + size_t(x0) * (rgb ? 3 : 1);
        if (rgb) {
          for (uint32_t x = 0; x < w; ++x, r += 3, d += 3) {
            d[0] = r[2];
            d[1] = r[1];
            d[2] = r[0];
          }
        } else if (l_.photometric == 0) {
          for (uint32_t x = 0; x < w; ++x) d[x] = uint8_t(255 - r[x]);
        } else {
          std::memcpy(d, r, w);
        }
      }
      return;
    }
    if (l_.rgb555) {
      // one 16-bit word per pixel: red in bits 10-14, green 5-9, blue 0-4
      for (uint32_t y = 0; y < h; ++y) {
        const uint8_t* r = raw + size_t(uint64_t(y) * rowBytes);
        uint8_t* d = &samples_[(size_t(y0 + y) * l_.width + x0) * 3];
        for (uint32_t x = 0; x < w; ++x, r += 2, d += 3) {
          const uint32_t v = f_.bigEndian ? uint32_t(r[0] << 8 | r[1]) : uint32_t(r[1] << 8 | r[0]);
          d[0] = uint8_t((v >> 10 & 31) * 8);
          d[1] = uint8_t((v >> 5 & 31) * 8);
          d[2] = uint8_t((v & 31) * 8);
        }
      }
      return;
    }
    const bool palette = l_.photometric == 3;
    const uint32_t maxv = (1u << std::min<uint32_t>(l_.bps, 16)) - 1;
    for (uint32_t y = 0; y < h; ++y) {
      const uint8_t* r = raw + size_t(uint64_t(y) * rowBytes);
      uint8_t* d = &samples_[(size_t(y0 + y) * l_.width + x0) * l_.spp + plane];
      if (l_.bps == 8 && sppc == l_.spp) {
        std::memcpy(d, r, size_t(w) * sppc);
        continue;
      }
      if (l_.bps == 8 && sppc == 1) {
        for (uint32_t x = 0; x < w; ++x) d[size_t(x) * l_.spp] = r[x];
        continue;
      }
      for (uint32_t x = 0; x < w; ++x)
        for (uint32_t s = 0; s < sppc; ++s) {
          const uint64_t i = uint64_t(x) * sppc + s;
          uint8_t v;
          if (l_.bps == 8) {
            v = r[i];
          } else if (l_.bps == 16) {
            const uint8_t* p = r + 2 * i;
            v = uint8_t((f_.bigEndian ? uint32_t(p[0] << 8 | p[1]) : uint32_t(p[1] << 8 | p[0])) >> l_.shift16);
          } else {
            const uint64_t bit = i * l_.bps;
            uint32_t u = 0;
            for (uint32_t k = 0; k < l_.bps; ++k) {
              const uint64_t b = bit + k;
              u = u << 1 | ((r[size_t(b >> 3)] >> (7 - (b & 7))) & 1);
            }
            v = palette ? uint8_t(u) : uint8_t(u * 255 / maxv);
          }
          d[size_t(x) * l_.spp + s] = v;
        }
    }
  }

  const TFile& f_;
  const TIFD& ifd_;
  const TTIFFVars& l_;
  TIECodecProgress& progress_;
  TIETIFFLZWDecompressor lzw_;  // the parameter object's coder, else the process-wide one
};

// The page's layout; false for a layout the reader cannot decode. getTile >= 0 reads only that tile.
bool LayoutOf(const TIFD& ifd, TTIFFVars& l, int getTile) {
  l.width = ifd.Value(kTagWidth);
  l.height = ifd.Value(kTagHeight);
  l.spp = ifd.Value(kTagSamplesPerPixel, 0, 1);
  l.bps = ifd.Value(kTagBitsPerSample, 0, 1);
  for (uint32_t i = 1; i < ifd.Count(kTagBitsPerSample) && i < l.spp; ++i)
    if (ifd.Value(kTagBitsPerSample, i) != l.bps) return false;
  l.compression = ifd.Value(kTagCompression, 0, 1);
  l.photometric = ifd.Value(kTagPhotometric, 0, l.spp >= 3 ? 2 : 1);
  l.fillOrder = ifd.Value(kTagFillOrder, 0, 1);
  l.planar = ifd.Value(kTagPlanar, 0, 1);
  l.predictor = ifd.Value(kTagPredictor, 0, 1);
  l.t4Options = ifd.Value(kTagT4Options, 0, 0);
  // old-style JPEG: also an interchange block without a compression that says so
  if (l.compression != 5 && l.compression != kCompJPEG && ifd.Value(kTagJPEGInterchange) != 0)
    l.compression = kCompOJPEG;
  if (l.compression == 1 && l.photometric == 2 && l.spp == 1 && l.bps == 1) l.photometric = 0;
  l.tiled = ifd.Find(kTagTileWidth) != nullptr;
  if (l.tiled) {
    l.chunkW = ifd.Value(kTagTileWidth);
    l.chunkH = ifd.Value(kTagTileLength);
  } else {
    l.chunkW = l.width;
    l.chunkH = std::min(ifd.Value(kTagRowsPerStrip, 0, 0xFFFFFFFFu), l.height);
    if (l.chunkH == 0) l.chunkH = l.height;
  }
  if (getTile >= 0) {
    if (!l.tiled || l.chunkW == 0 || l.chunkH == 0) return false;
    l.onlyTile = getTile;
    l.imageTilesAcross = uint32_t((uint64_t(l.width) + l.chunkW - 1) / l.chunkW);
    l.imageTilesDown = uint32_t((uint64_t(l.height) + l.chunkH - 1) / l.chunkH);
    l.width = l.chunkW;
    l.height = l.chunkH;
  }
  if (!IEImageSizeAllowed(l.width, l.height) || l.chunkW == 0 || l.chunkH == 0 ||
      l.chunkW > kIEMaxImageDimension || l.chunkH > kIEMaxImageDimension)
    return false;
  if (l.spp < 1 || l.spp > 8 || !(l.bps <= 8 || l.bps == 16) || l.bps == 0) return false;
  // One program wrote 16-bit grey of 12 significant bits.
  if (l.bps == 16 && l.spp == 1 && l.photometric <= 1 &&
      ifd.Bytes(kTagSoftware).compare(0, kMolliSoftware.size(), kMolliSoftware) == 0)
    l.shift16 = 4;
  if (l.planar != 1 && l.planar != 2) return false;
  if (l.compression >= 2 && l.compression <= 4 && (l.bps != 1 || l.spp != 1 || l.photometric > 1)) return false;
  if (l.predictor != 1 && !(l.predictor == 2 && (l.bps == 8 || l.bps == 16))) return false;
  const bool jpeg = l.compression == kCompJPEG || l.compression == kCompOJPEG;
  if (jpeg) {
    // the JPEG decoder delivers 8-bit grey, RGB (from YCbCr too) or ink
    if (l.bps != 8 || l.predictor != 1) return false;
    if (l.compression == kCompOJPEG && (l.tiled || l.planar != 1 || getTile >= 0)) return false;
    if (l.photometric == 6) l.photometric = 2;
    const uint32_t spc = l.planar == 2 ? 1 : l.spp;
    if (!(spc == 1 || (spc == 3 && l.photometric == 2) || (spc == 4 && l.photometric == 5))) return false;
  }
  switch (l.photometric) {
    case 0: case 1: return true;
    case 2:
      if (l.spp == 1 && l.bps == 16 && !jpeg) {
        // 5-5-5 RGB in one 16-bit sample, decoded to three
        l.rgb555 = true;
        l.spp = 3;
        l.planar = 1;
        return true;
      }
      return l.spp >= 3;
    case 5: return l.spp >= 4;
    case 3: return l.bps <= 8 && l.spp <= 2 && ifd.Count(kTagColorMap) >= 3u << l.bps;
    case 6: {
      // YCbCr (JPEG data was taken as RGB above): 8-bit samples, subsampling 1, 2 or 4 across and
      // down (down not above across), in data units only when chunky
      if (l.spp != 3 || l.bps != 8 || l.predictor != 1) return false;
      l.ycbcr = true;
      l.subH = ifd.Find(kTagYCbCrSubSampling) ? ifd.Value(kTagYCbCrSubSampling, 0) : 2;
      l.subV = ifd.Count(kTagYCbCrSubSampling) > 1 ? ifd.Value(kTagYCbCrSubSampling, 1) : 2;
      auto ok = [](uint32_t v) { return v == 1 || v == 2 || v == 4; };
      if (!ok(l.subH) || !ok(l.subV) || l.subV > l.subH) return false;
      if (l.planar == 2) return l.subH == 1 && l.subV == 1;
      // units never straddle strips or tiles
      if (l.chunkW % l.subH != 0 && l.tiled) return false;
      if (l.chunkH % l.subV != 0 && l.chunkH != l.height) return false;
      return true;
    }
    case 8: case 9:
      // CIELab, a and b signed; ICCLab, a and b offset by 128
      l.lab = true;
      l.labUnsigned = l.photometric == 9;
      return l.spp >= 3 && (l.bps == 8 || l.bps == 16);
    default: return false;
  }
}

// An ASCII tag up to its first NUL.
std::string Text(const TIFD& ifd, uint16_t tag) {
  std::string t = ifd.Bytes(tag);
  const size_t nul = t.find('\0');
  if (nul != std::string::npos) t.resize(nul);
  return t;
}

int CompressionCode(uint32_t tag, uint32_t t4) {
  switch (tag) {
    case 1: return 0;
    case 2: return 1;
    case 3: return (t4 & 1) ? 3 : 2;
    case 4: return 4;
    case 5: return 5;
    case 6: return 6;
    case 7: return 7;
    case 32773: return 8;
    case 32946: return 9;
    case 8: return 10;
    default: return 11;
  }
}

// The page's descriptive tags and metadata blocks into Params.
void ReadPageInfo(const TIFD& ifd, TIOParamsVals& Params) {
  Params.TIFFDocumentName = Text(ifd, kTagDocumentName);
  Params.TIFFPageName = Text(ifd, kTagPageName);
  Params.TIFFPageNumber = int(ifd.Value(kTagPageNumber, 0, 0));
  Params.TIFFPageCount = int(ifd.Value(kTagPageNumber, 1, 0));
  const uint32_t fill = ifd.Value(kTagFillOrder, 0, 1);
  Params.TIFFFillOrder = fill == 2 ? 2 : 1;
  const uint32_t comp = ifd.Value(kTagCompression, 0, 1);
  Params.TIFFCompression = CompressionCode(comp, ifd.Value(kTagT4Options));
  const uint32_t photo = ifd.Value(kTagPhotometric, 0, 2);
  if (photo <= 6) Params.TIFFPhotometric = int(photo);
  else if (photo == 8) Params.TIFFPhotometric = 7;
  const double unit = ifd.Value(kTagResolutionUnit, 0, 2) == 3 ? 2.54 : 1.0;
  Params.TIFFXPos = int(ifd.Rational(kTagXPosition) * unit);
  Params.TIFFYPos = int(ifd.Rational(kTagYPosition) * unit);
  Params.IPTCInfo.Clear();
  const std::string iptc = ifd.Bytes(kTagIPTC);
  if (!iptc.empty()) Params.IPTCInfo.LoadFromBuffer(iptc.data(), int32_t(iptc.size()));
  Params.XMPInfo.clear();
  if (const TIETIFFEntry* e = ifd.Find(kTagXMP))
    if (e->type == 1 || e->type == 7) Params.XMPInfo = ifd.Bytes(kTagXMP);
  const std::string annot = ifd.Bytes(kTagAnnotations);
  if (!annot.empty()) Params.GetImagingAnnot().LoadFromBuffer(annot.data(), int32_t(annot.size()));
  const std::string icc = ifd.Bytes(kTagICC);
  if (!icc.empty()) Params.InputICCProfile.LoadFromBuffer(icc.data(), int64_t(icc.size()));
}

// Opens the TIFF structure at the stream's position: its byte order into f and the offset of its
// first directory into first. False, with the abort flag set, for a stream that starts otherwise.
bool OpenTIFF(TFile& f, TIEStream& Stream, bool offsetsFromStart, TIECodecProgress& Progress, uint64_t& first) {
  // the header is at the position; the offsets count from there or from the stream's start
  const int64_t position = Stream.GetPosition();
  f.Open(Stream, offsetsFromStart ? position : 0);
  const uint64_t headerAt = offsetsFromStart ? 0 : uint64_t(std::max<int64_t>(position, 0));
  uint8_t header[8];
  if (!f.Read(headerAt, header, 8)) {
    Progress.Abort();
    return false;
  }
  if (!(header[0] == 'I' && header[1] == 'I') && !(header[0] == 'M' && header[1] == 'M')) {
    Progress.Abort();
    return false;
  }
  // The magic is not looked at: camera raw files put their own in its place.
  f.bigEndian = header[0] == 'M';
  first = f.U32(headerAt + 4);
  return true;
}

// Reads the directory of page Params.TIFFImageIndex (or of its sub-image TIFFSubIndex) into ifd, and
// its camera metadata and descriptive tags into Params. False for a page past the last (nothing
// happens) and, with the abort flag set, for a chain without pages or an unreadable sub-image.
bool ReadTIFFPageDirectory(const TFile& f, const std::vector<uint64_t>& pages, TIOParamsVals& Params,
                           TIECodecProgress& Progress, TIFD& ifd) {
  Params.SetImageCount(int(pages.size()));
  if (pages.empty()) {
    Progress.Abort();
    return false;
  }
  Params.TIFFByteOrder = f.bigEndian ? 0 : 1;
  const int page = Params.TIFFImageIndex;
  if (page < 0 || page >= int(pages.size())) return false;
  uint64_t next = 0;
  ReadIFD(f, pages[size_t(page)], ifd, next);
  {
    // the camera metadata, also of a directory without an image (an EXIF block)
    TIFD exif, gps;
    uint64_t unused = 0;
    const bool hasExif = ifd.Find(34665) && ReadIFD(f, ifd.Value(34665), exif, unused);
    const bool hasGPS = ifd.Find(34853) && ReadIFD(f, ifd.Value(34853), gps, unused);
    IETIFFReadExifTags(ifd, hasExif ? &exif : nullptr, hasGPS ? &gps : nullptr, Params);
    Params.TIFFImageDescription = Params.ExifImageDescription;
  }
  ReadPageInfo(ifd, Params);
  if (Params.TIFFSubIndex >= 0) {
    // a sub-image of the page (a reduced-resolution copy, say) in place of the page itself
    const uint32_t sub = ifd.Value(kTagSubIFDs, uint32_t(Params.TIFFSubIndex), 0);
    if (sub != 0) {
      TIFD subIFD;
      if (!ReadIFD(f, sub, subIFD, next)) {
        Progress.Abort();
        return false;
      }
      ifd = subIFD;
    }
  }
  return true;
}

// The page's layout into l, and its size, samples, resolution and colour map into Params; false,
// with the abort flag set, for a layout the reader cannot decode.
bool ReadTIFFLayout(const TIFD& ifd, TIOParamsVals& Params, TIECodecProgress& Progress, TTIFFVars& l) {
  if (!LayoutOf(ifd, l, Params.TIFFGetTile)) {
    Progress.Abort();
    return false;
  }
  Params.Width = int(l.width);
  Params.Height = int(l.height);
  Params.StoredWidth = Params.Width;
  Params.StoredHeight = Params.Height;
  Params.BitsPerSample = int(l.bps);
  Params.SamplesPerPixel = l.rgb555 ? 1 : int(l.spp);
  // centimetres to inches; every other unit (1, none, included) is taken as inches
  const double unit = ifd.Value(kTagResolutionUnit, 0, 2) == 3 ? 2.54 : 1.0;
  const int dpiX = int(ifd.Rational(kTagXResolution) * unit + 0.5), dpiY = int(ifd.Rational(kTagYResolution) * unit + 0.5);
  Params.SetDpiX(dpiX > 0 ? dpiX : IEDefaultDPIX);
  Params.SetDpiY(dpiY > 0 ? dpiY : IEDefaultDPIY);
  if (l.photometric == 3) {
    const int n = 1 << l.bps;
    std::vector<TIERGB> map(static_cast<size_t>(n));
    const std::vector<uint32_t> v = ifd.Values(kTagColorMap, uint32_t(3 * n));
    if (v.size() == size_t(3 * n))
      for (int i = 0; i < n; ++i)
        map[size_t(i)] = IEMakeRGB(uint8_t(v[size_t(i)] >> 8), uint8_t(v[size_t(n + i)] >> 8),
                                   uint8_t(v[size_t(2 * n + i)] >> 8));
    Params.SetColorMap(map.data(), n);
  } else {
    Params.FreeColorMap();
  }
  return true;
}

// What a page is delivered as, and how its samples get there.
struct TTIFFOutput {
  TIEPixelFormat fmt = ie24RGB;
  bool bilevel = false, cmyk = false, palette = false, grey = false, rgb = false;
  uint32_t colours = 1;  // colour samples before the extra ones
  // The first extra sample after the colour ones, when it is alpha: 1 associated (colours
  // premultiplied), 2 unassociated; else 0.
  uint32_t extra = 0;
  bool hasAlpha = false;  // the alpha sample goes to the alpha mask
  bool managed = false;   // colour rows go through the page's own profile to sRGB
  bool direct = false;    // plain 8-bit grey and RGB are decoded into the bitmap itself
  bool direct16 = false;  // 16-bit grey and RGB, kept whole, likewise
};

// The output of a page from its layout, the caller's format wishes and the colour management asked for.
TTIFFOutput ChooseTIFFOutput(const TIFD& ifd, const TTIFFVars& l, TIOParamsVals& Params, bool IgnoreAlpha) {
  TTIFFOutput o;
  o.bilevel = l.bps == 1 && (l.photometric == 0 || l.photometric == 1);
  o.cmyk = l.photometric == 5;
  o.palette = l.photometric == 3;
  const bool native = Params.IsNativePixelFormat;
  o.colours = o.cmyk ? 4 : (l.photometric == 2 || l.ycbcr || l.lab) ? 3 : 1;
  o.extra = l.spp > o.colours && !o.bilevel ? ifd.Value(kTagExtraSamples, 0, 0) : 0;
  o.hasAlpha = !IgnoreAlpha && (o.extra == 1 || o.extra == 2);
  o.grey = l.photometric <= 1 && !l.ycbcr && !l.lab;
  o.rgb = l.photometric == 2 && !l.ycbcr && !l.lab;
  // Without the native format every colour or grey image arrives as ie24RGB.
  o.fmt = o.bilevel                                                                   ? ie1g
          : native && o.palette && l.bps == 8 && l.spp == 1 && !o.hasAlpha            ? ie8p
          : native && o.grey && l.bps == 8 && l.spp == 1                              ? ie8g
          : native && o.grey && l.bps == 16 && l.spp == 1                             ? ie16g
          : native && o.cmyk && (l.bps == 8 || (l.bps == 16 && l.spp == 4))           ? ieCMYK
          : native && o.rgb && l.bps == 16 && l.spp == 3 && !l.rgb555                 ? ieRGB48
                                                                                      : ie24RGB;
  o.managed = IECMSEnabled && IEApplyICCProfiles && Params.InputICCProfile.IsValid() &&
              !Params.InputICCProfile.Applied &&
              ((o.fmt == ie24RGB && (o.rgb || o.cmyk || l.ycbcr || l.lab)) || o.fmt == ieRGB48);
  o.direct = !o.managed && l.bps == 8 && l.planar == 1 && !l.ycbcr && !l.lab && l.compression != kCompOJPEG &&
             ((o.fmt == ie24RGB && o.rgb && l.spp == 3) || o.fmt == ie8g);
  o.direct16 = o.fmt == ie16g || o.fmt == ieRGB48;
  return o;
}

bool AllocateTIFFBitmap(TIEBitmap& Bitmap, const TTIFFVars& l, TIEPixelFormat fmt, bool clear,
                        TIECodecProgress& Progress) {
  if (!Bitmap.Allocate(int(l.width), int(l.height), fmt)) {
    Progress.Abort();
    return false;
  }
  if (clear) Bitmap.Fill(0);
  Bitmap.DiscardAlphaChannel(false);
  return true;
}

// The alpha mask of the page's size, opaque, created (the caller's) when AlphaMask is nullptr;
// nullptr, with the abort flag set, when it cannot be allocated.
TIEBitmap* PrepareTIFFAlpha(TIEBitmap*& AlphaMask, const TTIFFVars& l, TIECodecProgress& Progress) {
  if (!AlphaMask) AlphaMask = new TIEBitmap();
  if (!AlphaMask->Allocate(int(l.width), int(l.height), ie8g)) {
    Progress.Abort();
    return nullptr;
  }
  AlphaMask->Fill(255);
  AlphaMask->IsAll255 = false;
  return AlphaMask;
}

// Stored ink, kept inverted (255 = no ink) as the library holds CMYK, into an ieCMYK row or through
// ink into an ie24RGB one.
void StoreCMYKRow(uint8_t*& s, uint8_t* d, const TTIFFOutput& o, const TTIFFVars& l, TIOParamsVals& Params,
                  std::vector<uint8_t>& ink) {
  uint8_t* c = o.fmt == ieCMYK ? d : ink.data();
  for (uint32_t x = 0; x < l.width; ++x, s += l.spp)
    for (int k = 0; k < 4; ++k) c[4 * x + k] = uint8_t(255 - s[k]);
  if (o.fmt == ie24RGB) {
    if (o.managed) IEColorConversionHook(ink.data(), iccCMYKInv, d, &Params, int(l.width), iccBGR);
    else IEConversionServices.CMYKRowToRGB(ink.data(), reinterpret_cast<TIERGB*>(d), int(l.width));
  }
}

// One pixel's CIELab samples, a and b signed.
TIECIELab LabOf(const uint8_t* s, const TTIFFVars& l) {
  TIECIELab v;
  v.l = s[0];
  v.a = int8_t(l.labUnsigned ? s[1] - 128 : s[1]);
  v.b = int8_t(l.labUnsigned ? s[2] - 128 : s[2]);
  return v;
}

// The colour of one pixel's samples (associated alpha already taken out).
TIERGB TIFFPixelColour(const uint8_t* s, const TTIFFOutput& o, const TTIFFVars& l, const TIOParamsVals& Params) {
  TIERGB c{};
  if (o.palette) {
    c = s[0] < Params.ColorMapCount ? Params.ColorMap[s[0]] : TIERGB{};
  } else if (l.ycbcr) {
    IEYCbCrToRGB(c, s[0], s[1], s[2]);
  } else if (l.lab) {
    IECIELabToRGB(c, LabOf(s, l));
  } else {
    c = IEMakeRGB(s[0], s[1], s[2]);
  }
  return c;
}

// Any other row, pixel by pixel into the output format.
void StorePixelRow(uint8_t*& s, uint8_t* d, const TTIFFOutput& o, const TTIFFVars& l, TIOParamsVals& Params) {
  for (uint32_t x = 0; x < l.width; ++x, s += l.spp) {
    if (o.extra == 1 && !o.palette) {
      // Associated alpha: colours back to full strength, clipped where the file's colour
      // exceeds its alpha.
      const uint32_t av = std::max<uint32_t>(s[o.colours], 1);
      for (uint32_t k = 0; k < o.colours; ++k) s[k] = uint8_t(std::min<uint32_t>(255, s[k] * 255u / av));
    }
    TIERGB c = TIFFPixelColour(s, o, l, Params);
    switch (o.fmt) {
      case ie1g: {
        const bool white = (s[0] != 0) == (l.photometric == 1);
        if (white) d[x >> 3] |= uint8_t(0x80 >> (x & 7));
        break;
      }
      case ie8g: d[x] = l.photometric == 0 ? uint8_t(255 - s[0]) : s[0]; break;
      case ie8p: d[x] = s[0]; break;
      default:
        if (o.colours == 1 && !o.palette) {
          const uint8_t v = l.photometric == 0 ? uint8_t(255 - s[0]) : s[0];
          c = IEMakeRGB(v, v, v);
        }
        d[3 * x] = c.b;
        d[3 * x + 1] = c.g;
        d[3 * x + 2] = c.r;
    }
  }
  if (o.managed && (o.rgb || l.ycbcr)) IEColorConversionHook(d, iccBGR, d, &Params, int(l.width), iccBGR);
}

// A CIELab row through the page's profile (the samples of each pixel first brought to signed a, b).
void StoreManagedLabRow(uint8_t*& s, uint8_t* d, const TTIFFVars& l, TIOParamsVals& Params,
                        std::vector<uint8_t>& lab) {
  for (uint32_t x = 0; x < l.width; ++x, s += l.spp) {
    const TIECIELab v = LabOf(s, l);
    std::memcpy(&lab[size_t(x) * 3], &v, 3);
  }
  IEColorConversionHook(lab.data(), iccLab, d, &Params, int(l.width), iccBGR);
}

// One row of decoded samples (s moves past them) into bitmap row d and alpha row a (when given).
void StoreTIFFRow(uint8_t*& s, uint8_t* d, uint8_t* a, const TTIFFOutput& o, const TTIFFVars& l,
                  TIOParamsVals& Params, std::vector<uint8_t>& ink) {
  if (o.fmt == ie1g) std::memset(d, 0, (l.width + 7) / 8);
  if (a)
    for (uint32_t x = 0; x < l.width; ++x) a[x] = s[size_t(x) * l.spp + o.colours];
  if (o.cmyk) {
    StoreCMYKRow(s, d, o, l, Params, ink);
  } else if (l.lab && o.managed && o.extra != 1) {
    StoreManagedLabRow(s, d, l, Params, ink);
  } else if (o.fmt == ie24RGB && o.rgb && o.extra == 0) {
    // plain R, G, B (and skipped extra samples) into B, G, R
    uint8_t* p = d;
    for (uint32_t x = 0; x < l.width; ++x, s += l.spp, p += 3) {
      p[0] = s[2];
      p[1] = s[1];
      p[2] = s[0];
    }
    if (o.managed) IEColorConversionHook(d, iccBGR, d, &Params, int(l.width), iccBGR);
  } else if (o.fmt == ie8g && o.extra == 0 && l.spp == 1) {
    if (l.photometric == 0)
      for (uint32_t x = 0; x < l.width; ++x) d[x] = uint8_t(255 - s[x]);
    else
      std::memcpy(d, s, l.width);
    s += l.width;
  } else {
    StorePixelRow(s, d, o, l, Params);
  }
}

// The decoded samples into a newly allocated bitmap (and the alpha sample into AlphaMask); false,
// with the abort flag set, when either cannot be allocated.
bool StoreTIFFSamples(std::vector<uint8_t>& samples, const TTIFFOutput& o, const TTIFFVars& l,
                      TIOParamsVals& Params, TIEBitmap& Bitmap, TIEBitmap*& AlphaMask, TIECodecProgress& Progress) {
  if (!AllocateTIFFBitmap(Bitmap, l, o.fmt, false, Progress)) return false;
  TIEBitmap* alpha = nullptr;
  if (o.hasAlpha && !(alpha = PrepareTIFFAlpha(AlphaMask, l, Progress))) return false;
  // scratch row of the ink or CIELab conversions
  std::vector<uint8_t> ink((o.cmyk && o.fmt == ie24RGB) || (l.lab && o.managed) ? size_t(l.width) * 4 : 0);
  if (o.fmt == ie8p)
    for (int i = 0; i < Params.ColorMapCount; ++i) Bitmap.SetPaletteEntry(i, Params.ColorMap[size_t(i)]);
  uint8_t* s = samples.data();
  for (uint32_t y = 0; y < l.height; ++y)
    StoreTIFFRow(s, Bitmap.GetRowAddress(int(y)), alpha ? alpha->GetRowAddress(int(y)) : nullptr, o, l, Params,
                 ink);
  return true;
}

// Turns the page (and its alpha) upright by its Orientation tag, when the caller asks for it.
void TurnTIFFUpright(TIEBitmap& Bitmap, TIEBitmap* AlphaMask, bool hasAlpha, TIOParamsVals& Params) {
  if (!Params.TIFFEnableAdjustOrientation) return;
  const int orientation = Params.TIFFOrientation;
  if (AlphaMask && hasAlpha) IEApplyExifOrientation(AlphaMask, orientation);
  IEApplyExifOrientation(&Bitmap, orientation);
  Params.SetExifOrientation(1);
  Params.Width = Bitmap.GetImageWidth();
  Params.Height = Bitmap.GetImageHeight();
}

}  // namespace

void IETIFFRead(TIEBitmap& Bitmap, TIEStream& Stream, int& PageCount, TIOParamsVals* ParamsPtr,
                TIECodecProgress& Progress, bool ParamsOnly, TIEBitmap*& AlphaMask, bool OffsetsFromStart,
                bool IgnoreAlpha, bool IsThumbnail) {
  PageCount = 0;
  TFile f;
  uint64_t first = 0;
  if (!OpenTIFF(f, Stream, OffsetsFromStart, Progress, first) || first == 0) return;
  const std::vector<uint64_t> pages = PageChain(f, first);
  PageCount = int(pages.size());
  if (!ParamsPtr) return;
  TIOParamsVals& Params = *ParamsPtr;
  Params.TIFFWarning.clear();
  TIFD ifd;
  if (!ReadTIFFPageDirectory(f, pages, Params, Progress, ifd)) return;
  Params.TIFFPlanarConfig = int(ifd.Value(kTagPlanar, 0, 1));
  // A prepared colour transform of the page's profile lives for this read only.
  struct TransformRelease {
    TIOParamsVals& p;
    ~TransformRelease() {
      if (p.InputICCProfile.HasTransform()) p.InputICCProfile.FreeTransform();
    }
  } release{Params};
  // A public tag whose values lie outside the file makes the directory damaged; a private one only
  // costs its own values.
  for (uint16_t tag : ifd.dropped) {
    if (tag < kFirstPrivateTag) {
      Progress.Abort();
      return;
    }
    Params.TIFFWarning = "Tag " + std::to_string(tag) + " lies outside the file";
  }
  TTIFFVars l;
  if (!ReadTIFFLayout(ifd, Params, Progress, l) || ParamsOnly) return;
  if (IsThumbnail && (l.width > kThumbnailMaxSize || l.height > kThumbnailMaxSize)) {
    Progress.Abort();
    return;
  }

  const TTIFFOutput o = ChooseTIFFOutput(ifd, l, Params, IgnoreAlpha);
  TDecoder dec(f, ifd, l, Progress,
               Params.TIFFLZWDecompress ? Params.TIFFLZWDecompress : IEGlobalTIFFLZWDecompressor);
  // Nothing of the page's size is allocated before its data is known to be able to fill it.
  if (!dec.Fits()) {
    Progress.Abort();
    return;
  }
  try {
    if (o.direct || o.direct16) {
      if (!AllocateTIFFBitmap(Bitmap, l, o.fmt, IsThumbnail, Progress)) return;
      if (o.direct) dec.direct_ = &Bitmap;
      else dec.direct16_ = &Bitmap;
    }
    const TTIFFDecodeState state = l.compression == kCompOJPEG ? dec.IETIFFReadOldJPEG() : dec.Run();
    if (state == TTIFFDecodeState::kRefused) {
      Progress.Abort();
      return;
    }
    if (!o.direct && !o.direct16 && !StoreTIFFSamples(dec.samples_, o, l, Params, Bitmap, AlphaMask, Progress))
      return;
    if (o.managed && o.fmt == ieRGB48)
      for (uint32_t y = 0; y < l.height; ++y) {
        uint8_t* row = Bitmap.GetRowAddress(int(y));
        IEColorConversionHook(row, iccRGB48, row, &Params, int(l.width), iccRGB48);
      }
    TurnTIFFUpright(Bitmap, AlphaMask, o.hasAlpha, Params);
    if (state == TTIFFDecodeState::kPartial) {
      // the rows that were there stay; the caller learns the page is incomplete
      Params.TIFFWarning = "Premature end of data";
      Progress.Abort();
    }
  } catch (const std::bad_alloc&) {
    Progress.Abort();
  } catch (const std::length_error&) {
    Progress.Abort();
  }
}

void IETIFFRead(TIEStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, TIECodecProgress& Progress,
                bool ParamsOnly) {
  int pages = 0;
  TIEBitmap* alpha = nullptr;
  IETIFFRead(Bitmap, Stream, pages, &Params, Progress, ParamsOnly, alpha, true, false, false);
  std::unique_ptr<TIEBitmap> owned(alpha);
  if (owned && !Progress.Aborted() && !ParamsOnly && owned->GetImageWidth() == Bitmap.GetImageWidth() &&
      owned->GetImageHeight() == Bitmap.GetImageHeight()) {
    owned->UpdateOpaqueFlag();
    delete Bitmap.AttachAlphaChannel(owned.release());
  }
}
