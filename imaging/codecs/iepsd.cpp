// PSD reading: header, colour mode data, image resources, layer records with their channels, and
// the merged image. Every size the file states is checked against what the stream still holds
// before anything is allocated.
#include "iepsd.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "iecmyk.h"
#include "iecodeccommon.h"
#include "ieicc.h"
#include "iepackbits.h"
#include "iestreams.h"
#include "ieutils.h"
#include "jpegfilt.h"

namespace {

constexpr int kHeaderSize = 26;
constexpr int kMaxChannels = 24;        // header channel count
constexpr int kMaxLayerChannels = 56;   // channels of one layer record
constexpr int kMaxLayerNameBytes = 1023;
constexpr int kLayerRecordMinSize = 34;  // rectangle, channel count, blend, opacity..filler, extra length
// Deflate data expands at most 1032 times (PackBits 64 times), so no channel holds more than this
// many times its data.
constexpr uint64_t kMaxDeflateRatio = 1032;

enum TPSDMode : int {
  pmBitmap = 0, pmGray = 1, pmIndexed = 2, pmRGB = 3, pmCMYK = 4,
  pmMultichannel = 7, pmDuotone = 8, pmLab = 9,
};

// Where the reader stands; a truncated file stops in one of these with the abort flag set.
enum class TReadState {
  Header,      // reading the 26-byte header
  ColourData,  // colour mode data (the indexed palette)
  Resources,   // image resources
  Layers,      // layer records and their channel data
  Merged,      // the merged image
  Done,        // everything read
};

struct THeader {
  int channels = 0;
  int height = 0;
  int width = 0;
  int depth = 0;
  int mode = 0;
};

bool ParseHeader(const uint8_t* h, THeader& out) {
  if (std::memcmp(h, "8BPS", 4) != 0 || IEReadU16BE(h + 4) != 1) return false;
  out.channels = IEReadU16BE(h + 12);
  out.height = int(IEReadU32BE(h + 14) & 0x7FFFFFFF);
  out.width = int(IEReadU32BE(h + 18) & 0x7FFFFFFF);
  out.depth = IEReadU16BE(h + 22);
  out.mode = IEReadU16BE(h + 24);
  return out.channels >= 1 && out.channels <= kMaxChannels && out.depth >= 1 && out.depth <= 16 &&
         out.mode < 10;
}

// The pixel format a colour mode and depth decode into, and the index of the merged image's alpha
// channel (-1: none); ieNoFormat when this pair is not decoded.
TIEPixelFormat FormatOf(int mode, int depth, int& alphaIndex) {
  alphaIndex = -1;
  switch (mode) {
    case pmBitmap: return depth == 1 ? ie1g : ieNoFormat;
    case pmGray:
    case pmDuotone:
    case pmMultichannel:
      alphaIndex = 1;
      if (depth == 8) return ie8g;
      if (depth == 16 && mode != pmMultichannel) return ie16g;
      return ieNoFormat;
    case pmIndexed: return depth == 8 ? ie8p : ieNoFormat;
    case pmRGB:
      alphaIndex = 3;
      return depth == 8 ? ie24RGB : depth == 16 ? ieRGB48 : ieNoFormat;
    case pmCMYK:
      alphaIndex = 4;
      return depth == 8 || depth == 16 ? ieCMYK : ieNoFormat;
    case pmLab:
      alphaIndex = 3;
      return depth == 8 || depth == 16 ? ieCIELab : ieNoFormat;
    default: return ieNoFormat;
  }
}

// Colour channels a pixel format takes from the file.
int ColourChannels(TIEPixelFormat f) {
  switch (f) {
    case ie24RGB: case ieRGB48: case ieCIELab: return 3;
    case ieCMYK: return 4;
    default: return 1;
  }
}

// PackBits into exactly `n` bytes; missing data leaves the rest of the row 0. False when the data ran
// out early.
bool UnpackBitsRow(const uint8_t* src, size_t size, uint8_t* out, size_t n) {
  const size_t o = IEUnpackBits(src, size, out, n);
  if (o < n) std::memset(out + o, 0, n - o);
  return o == n;
}

// Inflates a zlib stream into exactly out.size() bytes; false when the data is damaged or ends
// early. Bytes beyond out.size() are not looked at.
bool InflateExact(const std::vector<uint8_t>& in, std::vector<uint8_t>& out) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = uInt(in.size());
  size_t done = 0;
  int rc = Z_OK;
  while (done < out.size() && rc == Z_OK) {
    const size_t chunk = std::min(out.size() - done, size_t(1) << 30);
    z.next_out = out.data() + done;
    z.avail_out = uInt(chunk);
    rc = inflate(&z, Z_SYNC_FLUSH);
    done += chunk - z.avail_out;
    if (rc == Z_BUF_ERROR && z.avail_out == 0) rc = Z_OK;  // the output was full: more to come
  }
  inflateEnd(&z);
  return done == out.size();
}

// Undoes the horizontal prediction of ZIP-with-prediction rows: each sample (a byte, or a big-endian
// 16-bit word) was stored as its difference to the one on its left.
void UnpredictRows(std::vector<uint8_t>& data, size_t rowBytes, int width, int depth) {
  for (size_t at = 0; at + rowBytes <= data.size(); at += rowBytes) {
    uint8_t* r = &data[at];
    if (depth == 16) {
      for (int x = 1; x < width; ++x) {
        const uint16_t v = uint16_t(IEReadU16BE(r + 2 * x) + IEReadU16BE(r + 2 * x - 2));
        r[2 * x] = uint8_t(v >> 8);
        r[2 * x + 1] = uint8_t(v);
      }
    } else {
      for (size_t x = 1; x < rowBytes; ++x) r[x] = uint8_t(r[x] + r[x - 1]);
    }
  }
}

// Places one decoded row of one file channel into a bitmap row.
struct TChannelTarget {
  TIEBitmap* bitmap = nullptr;  // colour channels
  int index = 0;                // colour channel (or -1: the bitmap is 8-bit grey: alpha or mask)
  int depth = 8;
};

void PutRow(const TChannelTarget& t, const uint8_t* src, uint8_t* row, int width) {
  const TIEPixelFormat f = t.bitmap->GetPixelFormat();
  const bool wide = t.depth == 16;
  switch (f) {
    case ie1g:
      for (int i = 0; i < (width + 7) / 8; ++i) row[i] = uint8_t(~src[i]);
      break;
    case ie8g:
    case ie8p:
      for (int x = 0; x < width; ++x) row[x] = src[wide ? 2 * x : x];
      break;
    case ie16g:
      for (int x = 0; x < width; ++x) IEWriteU16LE(row + 2 * x, IEReadU16BE(src + 2 * x));
      break;
    case ie24RGB:
      for (int x = 0; x < width; ++x) row[3 * x + 2 - t.index] = src[x];
      break;
    case ieRGB48:
      for (int x = 0; x < width; ++x) IEWriteU16LE(row + 6 * x + 2 * t.index, IEReadU16BE(src + 2 * x));
      break;
    case ieCMYK:
      for (int x = 0; x < width; ++x) row[4 * x + t.index] = src[wide ? 2 * x : x];
      break;
    case ieCIELab:
      for (int x = 0; x < width; ++x) {
        const uint8_t v = src[wide ? 2 * x : x];
        row[3 * x + t.index] = t.index == 0 ? v : uint8_t(v - 128);
      }
      break;
    default:
      break;
  }
}

class TPSDReader {
 public:
  TPSDReader(TIEStream& s, TIOParamsVals& p, TIECodecProgress& pr) : stream_(s), params_(p), progress_(pr) {}

  void Run(TIEBitmap* bitmap, bool loadLayers, TIEPSDLayerList* layers);

 private:
  bool Fail() {
    progress_.Abort();
    return false;
  }
  bool Read(void* buf, int64_t n) { return IEReadExact(stream_, progress_, buf, n); }
  bool ReadU16(int& v) {
    uint8_t b[2];
    if (!Read(b, 2)) return false;
    v = IEReadU16BE(b);
    return true;
  }
  bool ReadU32(uint32_t& v) {
    uint8_t b[4];
    if (!Read(b, 4)) return false;
    v = IEReadU32BE(b);
    return true;
  }
  int64_t Pos() { return stream_.GetPosition(); }
  int64_t Remaining() { return end_ - Pos(); }

  bool ReadColourData();
  bool ReadResources(TIEBitmap* target, bool& loadLayers);
  void HandleResource(int id, const std::vector<uint8_t>& data, TIEBitmap* target, bool& loadLayers);
  bool ReadLayers(bool loadLayers, TIEPSDLayerList* layers);
  bool ReadLayerChannel(TIEPSDLayerList& layers, size_t layer, int id, int64_t length, int maskLeft,
                        int maskTop, int maskW, int maskH);
  bool DecodePlane(int compression, int width, int height, int64_t dataEnd, const TChannelTarget& t,
                   const std::vector<uint32_t>& counts, size_t countBase, TIERowProgress* rows);
  bool DecodeZipPlane(bool predicted, int width, int height, int64_t dataEnd, const TChannelTarget& t);
  bool ReadLayerInfo(int64_t end, bool loadLayers, TIEPSDLayerList& layers);
  bool ReadMerged(TIEBitmap& bitmap);

  TIEStream& stream_;
  TIOParamsVals& params_;
  TIECodecProgress& progress_;
  TReadState state_ = TReadState::Header;
  int64_t start_ = 0;
  int64_t end_ = 0;
  THeader h_;
  TIEPixelFormat format_ = ieNoFormat;
  int alphaIndex_ = -1;
  std::vector<TIERGB> palette_;
  int transparentIndex_ = -1;
  bool thumbnailLoaded_ = false;
  bool iccRead_ = false;
};

bool TPSDReader::ReadColourData() {
  state_ = TReadState::ColourData;
  uint32_t len;
  if (!ReadU32(len)) return false;
  if (len > uint64_t(Remaining())) return Fail();
  if (len == 768) {
    uint8_t p[768];
    if (!Read(p, 768)) return false;
    palette_.resize(256);
    for (int i = 0; i < 256; ++i) palette_[i] = IEMakeRGB(p[i], p[256 + i], p[512 + i]);
    return true;
  }
  stream_.SetPosition(Pos() + len);
  return true;
}

void TPSDReader::HandleResource(int id, const std::vector<uint8_t>& d, TIEBitmap* target, bool& loadLayers) {
  switch (id) {
    case 1005:  // resolution: 16.16 fixed point at 0 and 8
      if (d.size() >= 12) {
        params_.SetDpiX(int(IEReadU32BE(d.data()) >> 16));
        params_.SetDpiY(int(IEReadU32BE(d.data() + 8) >> 16));
      }
      break;
    case 1028:
      params_.IPTCInfo.LoadFromBuffer(d.data(), int32_t(d.size()));
      break;
    case 1036: {  // thumbnail: 28-byte header, then JPEG data
      if (d.size() <= 28 || IEReadU32BE(d.data()) != 1) break;
      TIEMemStream js(d.data() + 28, int64_t(d.size() - 28));
      TIOParamsVals tp(nullptr);
      std::atomic<bool> abort{false};
      TIECodecProgress p;
      p.Aborting = &abort;
      if (!params_.ExifThumbnail) params_.ExifThumbnail = std::make_shared<TIEBitmap>();
      IEJPEGRead(js, nullptr, *params_.ExifThumbnail, tp, p, false, false, false, false, true, true, -1, false);
      if (abort) {
        params_.ExifThumbnail->FreeStorage(true);
        break;
      }
      if (params_.ReadThumbnail && target) {
        loadLayers = false;
        target->Assign(params_.ExifThumbnail.get());
        thumbnailLoaded_ = true;
      }
      break;
    }
    case 1039:
      params_.InputICCProfile.LoadFromBuffer(d.data(), int64_t(d.size()));
      iccRead_ = true;
      break;
    case 1047:
      if (d.size() >= 2) transparentIndex_ = IEReadU16BE(d.data());
      break;
    case 1060:
      params_.XMPInfo.assign(d.begin(), d.end());
      break;
    default:
      break;
  }
}

bool TPSDReader::ReadResources(TIEBitmap* target, bool& loadLayers) {
  state_ = TReadState::Resources;
  uint32_t len;
  if (!ReadU32(len)) return false;
  if (len > uint64_t(Remaining())) return Fail();
  const int64_t sectionEnd = Pos() + len;
  while (sectionEnd - Pos() >= 12) {
    if ((Pos() - start_) & 1) stream_.SetPosition(Pos() + 1);
    uint8_t sig[4];
    if (!Read(sig, 4)) return false;
    if (std::memcmp(sig, "8BIM", 4) != 0) break;
    int id;
    uint8_t nameLen;
    if (!ReadU16(id) || !Read(&nameLen, 1)) return false;
    // the name's length byte and text take an even number of bytes; the name and the size field
    // after it lie inside the section, or the section is broken
    const int64_t skip = (nameLen & 1) ? nameLen : nameLen + 1;
    if (skip + 4 > sectionEnd - Pos()) return Fail();
    stream_.SetPosition(Pos() + skip);
    uint32_t size;
    if (!ReadU32(size)) return false;
    if (size > uint64_t(sectionEnd - Pos())) break;
    if (size == 0) continue;
    std::vector<uint8_t> data(size);
    if (!Read(data.data(), size)) return false;
    HandleResource(id, data, target, loadLayers);
  }
  stream_.SetPosition(sectionEnd);
  return true;
}

// Decodes `height` rows of one channel whose data (after its compression word) lies before
// dataEnd. counts: the PackBits byte counts, this channel's from countBase.
bool TPSDReader::DecodePlane(int compression, int width, int height, int64_t dataEnd, const TChannelTarget& t,
                             const std::vector<uint32_t>& counts, size_t countBase, TIERowProgress* rows) {
  const size_t rowBytes = size_t((uint64_t(width) * t.depth + 7) / 8);
  std::vector<uint8_t> packed, row(rowBytes + 1);
  for (int y = 0; y < height; ++y) {
    if (progress_.Aborted()) return false;
    if (compression == 0) {
      if (int64_t(rowBytes) > dataEnd - Pos()) return Fail();
      if (!Read(row.data(), int64_t(rowBytes))) return false;
    } else {
      const uint32_t n = counts[countBase + size_t(y)];
      if (int64_t(n) > dataEnd - Pos()) return Fail();
      packed.resize(n);
      if (!Read(packed.data(), n)) return false;
      UnpackBitsRow(packed.data(), n, row.data(), rowBytes);
    }
    if (t.bitmap) PutRow(t, row.data(), t.bitmap->GetRowAddress(y), width);
    if (rows) rows->Step();
  }
  return true;
}

// One channel of ZIP data (with prediction or without) up to dataEnd: a single zlib stream of all
// its rows.
bool TPSDReader::DecodeZipPlane(bool predicted, int width, int height, int64_t dataEnd, const TChannelTarget& t) {
  const size_t rowBytes = size_t((uint64_t(width) * t.depth + 7) / 8);
  const uint64_t total = uint64_t(rowBytes) * uint64_t(height);
  const int64_t packed = dataEnd - Pos();
  if (packed <= 0 || total > (uint64_t(packed) + 1) * kMaxDeflateRatio) return Fail();
  std::vector<uint8_t> in(static_cast<size_t>(packed));
  if (!Read(in.data(), packed)) return false;
  std::vector<uint8_t> rows(static_cast<size_t>(total));
  if (!InflateExact(in, rows)) return Fail();
  if (predicted) UnpredictRows(rows, rowBytes, width, t.depth);
  for (int y = 0; y < height; ++y) PutRow(t, &rows[size_t(y) * rowBytes], t.bitmap->GetRowAddress(y), width);
  return true;
}

bool TPSDReader::ReadLayerChannel(TIEPSDLayerList& layers, size_t li, int id, int64_t length, int maskLeft,
                                  int maskTop, int maskW, int maskH) {
  const int64_t chStart = Pos();
  const int64_t chEnd = chStart + length;
  TIEPSDLayer& layer = layers[li];
  TChannelTarget t;
  t.depth = h_.depth;
  int w = layer.Bitmap->GetImageWidth(), hgt = layer.Bitmap->GetImageHeight();
  bool colour = false;
  if (id == -2) {
    if (maskW <= 0 || maskH <= 0 || (li + 1 < layers.size() && layers[li + 1].IsMask)) {
      stream_.SetPosition(chEnd);
      return true;
    }
    TIEPSDLayer mask;
    mask.Bitmap.reset(new TIEBitmap());
    if (!mask.Bitmap->Allocate(maskW, maskH, ie8g)) return Fail();
    mask.PosX = maskLeft;
    mask.PosY = maskTop;
    mask.IsMask = true;
    mask.Visible = false;
    layers.insert(layers.begin() + long(li) + 1, std::move(mask));
    t.bitmap = layers[li + 1].Bitmap.get();
    w = maskW;
    hgt = maskH;
  } else if (id == -1) {
    if (w > 0 && hgt > 0) t.bitmap = layer.Bitmap->GetAlphaChannel();
  } else if (id >= 0 && id < ColourChannels(format_)) {
    t.bitmap = layer.Bitmap.get();
    t.index = id;
    colour = true;
  }
  if (!t.bitmap || w <= 0 || hgt <= 0 || length < 2) {
    stream_.SetPosition(chEnd);
    return true;
  }
  if (!colour) t.depth = h_.depth == 1 ? 8 : h_.depth;  // alpha and mask: 8 or 16 bits
  int compression;
  if (!ReadU16(compression)) return false;
  if (compression == 2 || compression == 3) {
    if (!DecodeZipPlane(compression == 3, w, hgt, chEnd, t)) return false;
    stream_.SetPosition(chEnd);
    return true;
  }
  if (compression > 1) return Fail();
  std::vector<uint32_t> counts;
  if (compression == 1) {
    if (uint64_t(hgt) * 2 > uint64_t(chEnd - Pos())) return Fail();
    counts.resize(size_t(hgt));
    std::vector<uint8_t> raw(size_t(hgt) * 2);
    if (!Read(raw.data(), int64_t(raw.size()))) return false;
    for (int y = 0; y < hgt; ++y) counts[size_t(y)] = IEReadU16BE(&raw[size_t(y) * 2]);
  }
  if (!DecodePlane(compression, w, hgt, chEnd, t, counts, 0, nullptr)) return false;
  stream_.SetPosition(chEnd);
  return true;
}

bool TPSDReader::ReadLayers(bool loadLayers, TIEPSDLayerList* layers) {
  state_ = TReadState::Layers;
  uint32_t len;
  if (!ReadU32(len)) return false;
  if (len > uint64_t(Remaining())) return Fail();
  const int64_t sectionEnd = Pos() + len;
  if (len < 6 || !layers) {
    stream_.SetPosition(sectionEnd);
    return true;
  }
  uint32_t infoLen;
  if (!ReadU32(infoLen)) return false;
  if (infoLen > uint64_t(sectionEnd - Pos())) return Fail();
  if (infoLen >= 2) {
    if (!ReadLayerInfo(sectionEnd, loadLayers, *layers)) return false;
  } else if (h_.depth == 16) {
    // 16-bit files keep their layers in an "Lr16" block behind the global layer mask information
    stream_.SetPosition(Pos() + infoLen);
    uint32_t maskLen;
    if (sectionEnd - Pos() < 4 || !ReadU32(maskLen) || maskLen > uint64_t(sectionEnd - Pos())) {
      stream_.SetPosition(sectionEnd);
      return !progress_.Aborted();
    }
    stream_.SetPosition(Pos() + maskLen);
    while (sectionEnd - Pos() >= 12) {
      uint8_t b[12];
      if (!Read(b, 12)) return false;
      // blocks may be padded to a multiple of 4: step over up to three zero bytes before a signature
      int skip = 0;
      while (skip < 3 && b[skip] == 0) ++skip;
      if (skip > 0) {
        stream_.SetPosition(Pos() - 12 + skip);
        if (sectionEnd - Pos() < 12 || !Read(b, 12)) break;
      }
      if (std::memcmp(b, "8BIM", 4) != 0 && std::memcmp(b, "8B64", 4) != 0) break;
      const uint32_t blockLen = IEReadU32BE(b + 8);
      if (blockLen > uint64_t(sectionEnd - Pos())) break;
      const int64_t blockEnd = Pos() + blockLen;
      if (std::memcmp(b + 4, "Lr16", 4) == 0) {
        if (!ReadLayerInfo(blockEnd, loadLayers, *layers)) return false;
        break;
      }
      stream_.SetPosition(blockEnd);
    }
  }
  stream_.SetPosition(sectionEnd);
  return true;
}

// The layer count, the layer records and their channel data, all before `end`.
bool TPSDReader::ReadLayerInfo(int64_t end, bool loadLayers, TIEPSDLayerList& layers) {
  const int64_t sectionEnd = end;
  int rawCount;
  if (!ReadU16(rawCount)) return false;
  const int count = std::abs(int(int16_t(rawCount)));
  if (uint64_t(count) * kLayerRecordMinSize > uint64_t(sectionEnd - Pos())) return Fail();
  if (count == 0 || (!loadLayers && count > 1)) return true;
  struct TChannelInfo {
    int id;
    int64_t length;
  };
  struct TRecord {
    std::vector<TChannelInfo> channels;
    int maskTop = 0, maskLeft = 0, maskW = 0, maskH = 0;
  };
  std::vector<TRecord> records(static_cast<size_t>(count));
  TIEPSDLayerList read;
  for (int i = 0; i < count; ++i) {
    uint8_t r[18];
    if (!Read(r, 18)) return false;
    const int64_t top = int32_t(IEReadU32BE(r)), left = int32_t(IEReadU32BE(r + 4));
    const int64_t bottom = int32_t(IEReadU32BE(r + 8)), right = int32_t(IEReadU32BE(r + 12));
    const int nch = IEReadU16BE(r + 16);
    const int64_t w = right - left, hgt = bottom - top;
    if (w < 0 || hgt < 0 || nch > kMaxLayerChannels || (w * hgt > 0 && !IEImageSizeAllowed(w, hgt)))
      return Fail();
    TRecord& rec = records[size_t(i)];
    for (int c = 0; c < nch; ++c) {
      uint8_t cb[6];
      if (!Read(cb, 6)) return false;
      rec.channels.push_back({int(int16_t(IEReadU16BE(cb))), int64_t(IEReadU32BE(cb + 2))});
    }
    uint8_t b[16];
    if (!Read(b, 16)) return false;
    if (std::memcmp(b, "8BIM", 4) != 0) return Fail();
    TIEPSDLayer layer;
    layer.PosX = int(left);
    layer.PosY = int(top);
    layer.Transparency = b[8];
    layer.ClipToImage = b[9] == 0;
    layer.Visible = (b[10] & 2) == 0;
    const uint32_t extra = IEReadU32BE(b + 12);
    if (extra > uint64_t(sectionEnd - Pos())) return Fail();
    const int64_t extraEnd = Pos() + extra;
    uint32_t maskLen;
    if (!ReadU32(maskLen)) return false;
    if (maskLen > uint64_t(extraEnd - Pos())) return Fail();
    const int64_t maskEnd = Pos() + maskLen;
    if (maskLen >= 16) {
      uint8_t m[16];
      if (!Read(m, 16)) return false;
      const int64_t mt = int32_t(IEReadU32BE(m)), ml = int32_t(IEReadU32BE(m + 4));
      const int64_t mw = int64_t(int32_t(IEReadU32BE(m + 12))) - ml, mh = int64_t(int32_t(IEReadU32BE(m + 8))) - mt;
      if (mw > 0 && mh > 0 && IEImageSizeAllowed(mw, mh)) {
        rec.maskTop = int(mt);
        rec.maskLeft = int(ml);
        rec.maskW = int(mw);
        rec.maskH = int(mh);
      }
    }
    stream_.SetPosition(maskEnd);
    uint32_t blendLen;
    if (!ReadU32(blendLen)) return false;
    if (blendLen > uint64_t(extraEnd - Pos())) return Fail();
    stream_.SetPosition(Pos() + blendLen);
    uint8_t nameLen;
    if (Pos() < extraEnd) {
      if (!Read(&nameLen, 1)) return false;
      if (nameLen > extraEnd - Pos()) return Fail();
      std::string name(nameLen, '\0');
      if (!Read(&name[0], nameLen)) return false;
      if (name.size() > kMaxLayerNameBytes) name.resize(kMaxLayerNameBytes);
      layer.Name = name;
      // the length byte and the text are padded to a multiple of 4
      const int64_t padded = (int64_t(nameLen) + 1 + 3) / 4 * 4;
      stream_.SetPosition(IEMin(extraEnd, Pos() + padded - nameLen - 1));
    }
    if (Pos() < extraEnd) {
      layer.ExtraInfo.resize(size_t(extraEnd - Pos()));
      if (!Read(layer.ExtraInfo.data(), int64_t(layer.ExtraInfo.size()))) return false;
    }
    layer.Bitmap.reset(new TIEBitmap());
    if (w > 0 && hgt > 0) {
      // the layer's channels must hold the rows they claim
      uint64_t data = 0;
      for (const TChannelInfo& c : rec.channels) data += uint64_t(c.length);
      if (data > uint64_t(sectionEnd - Pos())) return Fail();
      const uint64_t need = (uint64_t(w) * h_.depth + 7) / 8 * uint64_t(hgt);
      if (need > (data + 1) * kMaxDeflateRatio) return Fail();
      if (!layer.Bitmap->Allocate(int(w), int(hgt), format_)) return Fail();
      layer.Bitmap->Fill(0);
      if (format_ == ie8p) {
        for (int k = 0; k < 256; ++k) layer.Bitmap->SetPaletteEntry(k, palette_[size_t(k)]);
      }
    }
    stream_.SetPosition(extraEnd);
    read.push_back(std::move(layer));
  }
  // channel image data, layer by layer; mask layers are inserted behind the layer they mask
  size_t li = 0;
  for (int i = 0; i < count; ++i) {
    for (const TChannelInfo& c : records[size_t(i)].channels) {
      if (c.length > sectionEnd - Pos()) return Fail();
      const TRecord& rec = records[size_t(i)];
      if (!ReadLayerChannel(read, li, c.id, c.length, rec.maskLeft, rec.maskTop, rec.maskW, rec.maskH))
        return false;
    }
    li += (li + 1 < read.size() && read[li + 1].IsMask) ? 2 : 1;
    progress_.Report(int(double(i + 1) / count * 100));
  }
  // layers without pixels go, together with the mask behind them
  for (size_t k = 0; k < read.size();) {
    if (!read[k].IsMask && read[k].Bitmap->IsEmpty()) {
      const size_t n = (k + 1 < read.size() && read[k + 1].IsMask) ? 2 : 1;
      read.erase(read.begin() + long(k), read.begin() + long(k + n));
    } else {
      ++k;
    }
  }
  for (TIEPSDLayer& l : read) layers.push_back(std::move(l));
  return true;
}

bool TPSDReader::ReadMerged(TIEBitmap& bitmap) {
  state_ = TReadState::Merged;
  int compression;
  if (!ReadU16(compression)) return false;
  if (compression > 1) return Fail();
  const uint64_t rowBytes = (uint64_t(h_.width) * h_.depth + 7) / 8;
  const uint64_t planes = uint64_t(h_.channels) * uint64_t(h_.height);
  std::vector<uint32_t> counts;
  if (compression == 1) {
    if (planes * 2 > uint64_t(Remaining())) return Fail();
    std::vector<uint8_t> raw(size_t(planes * 2));
    if (!Read(raw.data(), int64_t(raw.size()))) return false;
    counts.resize(size_t(planes));
    uint64_t total = 0;
    for (size_t i = 0; i < counts.size(); ++i) total += counts[i] = IEReadU16BE(&raw[i * 2]);
    if (total > uint64_t(Remaining())) return Fail();
  } else if (rowBytes * planes > uint64_t(Remaining())) {
    return Fail();
  }
  if (!bitmap.Allocate(h_.width, h_.height, format_)) return Fail();
  bitmap.Fill(0);
  if (format_ == ie8p) {
    for (int k = 0; k < 256; ++k) bitmap.SetPaletteEntry(k, palette_[size_t(k)]);
  }
  TIERowProgress rows(progress_, h_.height * h_.channels);
  const int colour = ColourChannels(format_);
  for (int c = 0; c < h_.channels; ++c) {
    TChannelTarget t;
    t.depth = h_.depth;
    if (c < colour) {
      t.bitmap = &bitmap;
      t.index = c;
    } else if (c == alphaIndex_ && format_ != ie1g) {
      t.bitmap = bitmap.GetAlphaChannel();
    }
    if (!DecodePlane(compression, h_.width, h_.height, end_, t, counts, size_t(c) * size_t(h_.height), &rows))
      return false;
  }
  if (format_ == ie8p && transparentIndex_ >= 0) {
    TIEBitmap* alpha = bitmap.GetAlphaChannel();
    for (int y = 0; y < h_.height; ++y) {
      const uint8_t* s = bitmap.GetRowAddress(y);
      std::vector<uint8_t> a(size_t(h_.width));
      for (int x = 0; x < h_.width; ++x) a[size_t(x)] = s[x] == transparentIndex_ ? 0 : 255;
      std::memcpy(alpha->GetRowAddress(y), a.data(), a.size());
    }
  }
  return true;
}

void TPSDReader::Run(TIEBitmap* target, bool loadLayers, TIEPSDLayerList* layers) {
  progress_.Report(0);
  start_ = stream_.GetPosition();
  end_ = stream_.GetSize();
  uint8_t hb[kHeaderSize];
  if (!Read(hb, kHeaderSize)) return;
  if (!ParseHeader(hb, h_)) {
    Fail();
    return;
  }
  // a target kept in a platform bitmap cannot hold every format: decode beside it
  std::unique_ptr<TIEBitmap> temp;
  TIEBitmap* bitmap = target;
  if (target && target->GetLocation() == ieTBitmap) {
    temp.reset(new TIEBitmap());
    bitmap = temp.get();
  }
  format_ = FormatOf(h_.mode, h_.depth, alphaIndex_);
  params_.SetImageCount(1);
  params_.Width = params_.StoredWidth = h_.width;
  params_.Height = params_.StoredHeight = h_.height;
  params_.BitsPerSample = h_.depth;
  params_.SamplesPerPixel = h_.channels;
  params_.SetDpiX(96);
  params_.SetDpiY(96);
  params_.FreeColorMap();
  if (!ReadColourData()) return;
  if (format_ == ie8p) {
    if (palette_.empty()) palette_.assign(256, IEMakeRGB(0, 0, 0));
    params_.SetColorMap(palette_.data(), 256);
  }
  if (!ReadResources(bitmap, loadLayers)) return;
  if (format_ == ieNoFormat) {
    Fail();  // a colour mode and depth this reader does not decode: no blank image
    return;
  }
  if (!IEImageSizeAllowed(h_.width, h_.height)) {
    Fail();
    return;
  }
  if (!bitmap) return;
  if (!ReadLayers(loadLayers, layers)) return;
  if ((!loadLayers || !layers || layers->empty()) && !thumbnailLoaded_) {
    if (!ReadMerged(*bitmap)) return;
  }
  state_ = TReadState::Done;
  if (!params_.IsNativePixelFormat) {
    // Through the image's own profile to sRGB when that is asked for: every layer and the merged
    // image alike, and the profile counts as applied afterwards.
    TIEICC& icc = params_.InputICCProfile;
    TIEICC* srgb = nullptr;
    if (iccRead_ && IECMSEnabled && IEApplyICCProfiles && icc.IsValid() && !icc.Applied) {
      srgb = params_.GetOutputICCProfile();
      if (!srgb->IsValid()) srgb = nullptr;
    }
    bool converted = false;
    auto to24 = [&](TIEBitmap* b) {
      if (srgb && icc.ConvertBitmap(b, ie24RGB, srgb)) {
        converted = true;
        icc.Applied = false;  // until every bitmap is through
      } else {
        b->SetPixelFormat(ie24RGB);
      }
    };
    if (layers)
      for (TIEPSDLayer& l : *layers)
        if (!l.IsMask && !l.Bitmap->IsEmpty() && l.Bitmap->GetPixelFormat() != ie1g) to24(l.Bitmap.get());
    if (!thumbnailLoaded_ && !bitmap->IsEmpty() && bitmap->GetPixelFormat() != ie1g) to24(bitmap);
    if (converted) icc.FreeTransform();
  }
  if (temp && !temp->IsEmpty()) target->Assign(temp.get());
}

}  // namespace

bool IEPSDTest(TIEStream& Stream) {
  const int64_t pos = Stream.GetPosition();
  uint8_t h[kHeaderSize];
  THeader header;
  const bool ok = Stream.Read(h, kHeaderSize) == kHeaderSize && ParseHeader(h, header);
  Stream.SetPosition(pos);
  return ok;
}

void IEPSDRead(TIEStream& Stream, TIEBitmap* Bitmap, TIOParamsVals& Params, TIECodecProgress Progress,
               bool LoadLayers, TIEPSDLayerList* Layers) {
  TPSDReader reader(Stream, Params, Progress);
  reader.Run(Bitmap, LoadLayers, Layers);
}
