// JPEG 2000 through OpenJPEG: the library stream as an OpenJPEG stream, and the conversion between
// TIEBitmap rows and OpenJPEG's component planes.
#include "iej2000.h"

#include <openjpeg.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "iecodeccommon.h"
#include "ieutils.h"
#include "vodevovur.h"

namespace {

constexpr OPJ_SIZE_T kStreamChunk = 1 << 16;
constexpr int kMaxResolutions = 6;
constexpr int kCodeBlockSize = 64;
// Pictures of more pixels than this (a 4096 x 4096 one) are written in square tiles of kTileSide, so
// that the codec holds one tile's samples at a time; smaller ones are one tile.
constexpr uint64_t kMaxSingleTilePixels = uint64_t(4096) * 4096;
constexpr int kTileSide = 1024;
// What a header may claim. A code stream has no tight lower bound on its size (a flat image of any
// size codes in a few packets), so images up to kFreeSamples samples (a 4096 x 4096 colour picture)
// are taken on their header's word and larger ones must bring a byte of code stream per
// kMaxSamplesPerByte samples: a header of a few bytes cannot make the decoder allocate gigabytes.
constexpr uint64_t kFreeSamples = uint64_t(3) << 24;
constexpr uint64_t kMaxSamplesPerByte = 4096;

int RFromCr[256], BFromCb[256], GFromCr[256], GFromCb[256];

void BuildTables() {
  const float kr = 0.299f, kg = 0.587f, kb = 0.114f;
  const float fr = 2 - 2 * kr, fb = 2 - 2 * kb;
  const float gr = kr * fr / kg, gb = kb * fb / kg;
  for (int v = 0; v < 256; ++v) {
    const int d = v - 128;
    RFromCr[v] = IERound(double(fr * d));
    BFromCb[v] = IERound(double(fb * d));
    GFromCr[v] = -IERound(double(gr * d));
    GFromCb[v] = -IERound(double(gb * d));
  }
}

TIEStaticStepRegistrar gJ2000Step(iessJ2000, IEJ2000StaticInit, IEJ2000StaticFini);

// The caller's stream as seen by OpenJPEG: positions offset by the position on entry; closing the
// OpenJPEG stream never frees it.
struct TStreamBridge {
  TIEStream* stream;
  int64_t start;
  bool writeFailed = false;
};

OPJ_SIZE_T BridgeRead(void* buffer, OPJ_SIZE_T n, void* user) {
  auto* b = static_cast<TStreamBridge*>(user);
  const int32_t want = int32_t(n > 0x40000000 ? 0x40000000 : n);
  const int32_t got = b->stream->Read(buffer, want);
  return got > 0 ? OPJ_SIZE_T(got) : OPJ_SIZE_T(-1);
}
OPJ_SIZE_T BridgeWrite(void* buffer, OPJ_SIZE_T n, void* user) {
  auto* b = static_cast<TStreamBridge*>(user);
  const int32_t got = b->stream->Write(buffer, int32_t(n));
  if (OPJ_SIZE_T(got < 0 ? 0 : got) != n) {
    b->writeFailed = true;
    return OPJ_SIZE_T(-1);
  }
  return n;
}
OPJ_OFF_T BridgeSkip(OPJ_OFF_T n, void* user) {
  auto* b = static_cast<TStreamBridge*>(user);
  const int64_t before = b->stream->GetPosition();
  const int64_t after = b->stream->Seek(n, soFromCurrent);
  return after - before == n ? n : OPJ_OFF_T(-1);
}
OPJ_BOOL BridgeSeek(OPJ_OFF_T n, void* user) {
  auto* b = static_cast<TStreamBridge*>(user);
  return b->stream->Seek(b->start + n, soFromBeginning) == b->start + n ? OPJ_TRUE : OPJ_FALSE;
}

opj_stream_t* MakeStream(TStreamBridge& bridge, bool input) {
  opj_stream_t* s = opj_stream_create(kStreamChunk, input ? OPJ_TRUE : OPJ_FALSE);
  if (!s) return nullptr;
  opj_stream_set_user_data(s, &bridge, nullptr);
  if (input) {
    const int64_t len = bridge.stream->GetSize() - bridge.start;
    opj_stream_set_user_data_length(s, OPJ_UINT64(len > 0 ? len : 0));
    opj_stream_set_read_function(s, BridgeRead);
  } else {
    opj_stream_set_write_function(s, BridgeWrite);
  }
  opj_stream_set_skip_function(s, BridgeSkip);
  opj_stream_set_seek_function(s, BridgeSeek);
  return s;
}

// Owners of one OpenJPEG object each.
struct TCodecHolder {
  opj_codec_t* p = nullptr;
  ~TCodecHolder() { if (p) opj_destroy_codec(p); }
};
struct TStreamHolder {
  opj_stream_t* p = nullptr;
  ~TStreamHolder() { if (p) opj_stream_destroy(p); }
};
struct TImageHolder {
  opj_image_t* p = nullptr;
  ~TImageHolder() { if (p) opj_image_destroy(p); }
};

void Quiet(const char*, void*) {}

void SilenceCodec(opj_codec_t* c) {
  opj_set_info_handler(c, Quiet, nullptr);
  opj_set_warning_handler(c, Quiet, nullptr);
  opj_set_error_handler(c, Quiet, nullptr);
}

// A sample as 8 bits: signed samples offset to unsigned, then the top 8 bits of the precision.
inline uint8_t To8(const opj_image_comp_t& c, OPJ_INT32 v) {
  const int p = IEClamp(int(c.prec), 1, 31);
  int64_t u = c.sgnd ? int64_t(v) + (int64_t(1) << (p - 1)) : int64_t(v);
  if (u < 0) u = 0;
  const int64_t maxv = (int64_t(1) << p) - 1;
  if (u > maxv) u = maxv;
  return uint8_t((uint64_t(u) << (32 - p)) >> 24);
}

bool ReadSignature(TIEStream& s, uint8_t* buf, int n) {
  const int64_t pos = s.GetPosition();
  const bool ok = s.Read(buf, n) == n;
  s.SetPosition(pos);
  return ok;
}

}  // namespace

void IEJ2000StaticInit() { BuildTables(); }
void IEJ2000StaticFini() {}

bool IEJP2Test(TIEStream& Stream) {
  uint8_t b[12];
  return ReadSignature(Stream, b, 12) && IEReadU32BE(b) == 12 && IEReadU32BE(b + 4) == 0x6A502020 &&
         IEReadU32BE(b + 8) == 0x0D0A870A;
}

bool IEJ2KTest(TIEStream& Stream) {
  uint8_t b[4];
  return ReadSignature(Stream, b, 4) && b[0] == 0xFF && b[1] == 0x4F && b[2] == 0xFF && b[3] == 0x51;
}

void IEJ2000Read(TIEStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, TIECodecProgress& Progress,
                 bool ParamsOnly, bool KeepGreyPrecision) {
  const bool jp2 = IEJP2Test(Stream);
  if (!jp2 && !IEJ2KTest(Stream)) {
    Progress.Abort();
    return;
  }
  if (RFromCr[0] == 0) BuildTables();  // before the library's start-up
  TStreamBridge bridge{&Stream, Stream.GetPosition()};
  TStreamHolder stream;
  TCodecHolder codec;
  TImageHolder image;
  stream.p = MakeStream(bridge, true);
  codec.p = opj_create_decompress(jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K);
  if (!stream.p || !codec.p) {
    Progress.Abort();
    return;
  }
  SilenceCodec(codec.p);
  opj_dparameters_t dp;
  opj_set_default_decoder_parameters(&dp);
  // strict: a truncated code stream is a failure, not a partly decoded image reported as complete
  if (!opj_setup_decoder(codec.p, &dp) || !opj_decoder_set_strict_mode(codec.p, OPJ_TRUE) ||
      !opj_read_header(stream.p, codec.p, &image.p) || !image.p ||
      image.p->numcomps == 0) {
    Progress.Abort();
    return;
  }
  opj_image_t* im = image.p;
  const int64_t w = int64_t(im->x1) - im->x0, h = int64_t(im->y1) - im->y0;
  const int64_t dataLeft = Stream.GetSize() - bridge.start;
  const uint64_t samples = IEImageSizeAllowed(w, h) ? uint64_t(w) * uint64_t(h) * im->numcomps : 0;
  if (samples == 0 || (samples > kFreeSamples && samples / kMaxSamplesPerByte > uint64_t(dataLeft > 0 ? dataLeft : 0))) {
    Progress.Abort();
    return;
  }
  OPJ_COLOR_SPACE cs = im->color_space;
  if (cs == OPJ_CLRSPC_UNKNOWN || cs == OPJ_CLRSPC_UNSPECIFIED) cs = im->numcomps >= 3 ? OPJ_CLRSPC_SRGB : OPJ_CLRSPC_GRAY;
  if ((cs != OPJ_CLRSPC_GRAY && cs != OPJ_CLRSPC_SRGB && cs != OPJ_CLRSPC_SYCC) ||
      (cs != OPJ_CLRSPC_GRAY && im->numcomps < 3)) {
    Progress.Abort();
    return;
  }
  const bool grey = cs == OPJ_CLRSPC_GRAY;
  Params.SetImageCount(1);
  Params.BitsPerSample = int(im->comps[0].prec);
  Params.SamplesPerPixel = grey ? 1 : 3;
  Params.SetDpiX(IEDefaultDPIX);
  Params.SetDpiY(IEDefaultDPIY);
  Params.FreeColorMap();
  Params.Width = Params.StoredWidth = int(w);
  Params.Height = Params.StoredHeight = int(h);
  if (ParamsOnly) return;
  if (!opj_decode(codec.p, stream.p, im) || !opj_end_decompress(codec.p, stream.p)) {
    Progress.Abort();
    return;
  }
  const int used = grey ? 1 : 3;
  // an opacity component after the colour ones becomes the bitmap's alpha channel
  const int alphaComp = int(im->numcomps) > used && im->comps[used].alpha ? used : -1;
  for (int c = 0; c < used + (alphaComp >= 0 ? 1 : 0); ++c) {
    const opj_image_comp_t& k = im->comps[c];
    if (!k.data || k.w == 0 || k.h == 0 || k.dx == 0 || k.dy == 0) {
      Progress.Abort();
      return;
    }
  }
  const bool oneBit = grey && im->comps[0].prec == 1;
  const bool grey16 = KeepGreyPrecision && grey && im->comps[0].prec > 8 && im->comps[0].prec <= 16;
  if (!Bitmap.Allocate(int(w), int(h), oneBit ? ie1g : grey16 ? ie16g : ie24RGB)) {
    Progress.Abort();
    return;
  }
  TIEBitmap* alpha = alphaComp >= 0 ? Bitmap.GetAlphaChannel() : nullptr;
  const int mapped = used + (alpha ? 1 : 0);
  // row and column maps of each component; subsampled components repeat their samples
  std::vector<std::vector<int>> colMap(mapped), rowMap(mapped);
  for (int c = 0; c < mapped; ++c) {
    const opj_image_comp_t& k = im->comps[c];
    colMap[c].resize(size_t(w));
    rowMap[c].resize(size_t(h));
    for (int64_t x = 0; x < w; ++x) colMap[c][size_t(x)] = IEClamp(int((im->x0 + x) / k.dx) - int(k.x0), 0, int(k.w) - 1);
    for (int64_t y = 0; y < h; ++y) rowMap[c][size_t(y)] = IEClamp(int((im->y0 + y) / k.dy) - int(k.y0), 0, int(k.h) - 1);
  }
  for (int y = 0; y < int(h); ++y) {
    uint8_t* d = Bitmap.GetRowAddress(y);
    if (grey) {
      const opj_image_comp_t& k = im->comps[0];
      const OPJ_INT32* src = k.data + size_t(rowMap[0][size_t(y)]) * k.w;
      if (oneBit) std::memset(d, 0, size_t(Bitmap.GetRowLength()));
      if (grey16) {  // as stored: signed samples in two's complement
        uint16_t* d16 = reinterpret_cast<uint16_t*>(d);
        for (int x = 0; x < int(w); ++x) d16[x] = uint16_t(uint32_t(src[colMap[0][size_t(x)]]) & 0xFFFFu);
      }
      for (int x = 0; x < int(w) && !grey16; ++x) {
        const uint8_t v = To8(k, src[colMap[0][size_t(x)]]);
        if (oneBit) {
          if (v) d[x >> 3] |= uint8_t(0x80 >> (x & 7));
        } else {
          d[3 * x] = d[3 * x + 1] = d[3 * x + 2] = v;
        }
      }
    } else {
      const OPJ_INT32* rows[3];
      for (int c = 0; c < 3; ++c) rows[c] = im->comps[c].data + size_t(rowMap[c][size_t(y)]) * im->comps[c].w;
      for (int x = 0; x < int(w); ++x) {
        const uint8_t a = To8(im->comps[0], rows[0][colMap[0][size_t(x)]]);
        const uint8_t b = To8(im->comps[1], rows[1][colMap[1][size_t(x)]]);
        const uint8_t c = To8(im->comps[2], rows[2][colMap[2][size_t(x)]]);
        if (cs == OPJ_CLRSPC_SRGB) {
          d[3 * x + 2] = a; d[3 * x + 1] = b; d[3 * x] = c;
        } else {
          d[3 * x + 2] = uint8_t(IEClampToByte(a + RFromCr[c]));
          d[3 * x + 1] = uint8_t(IEClampToByte(a + GFromCb[b] + GFromCr[c]));
          d[3 * x] = uint8_t(IEClampToByte(a + BFromCb[b]));
        }
      }
    }
    if (alpha) {
      const opj_image_comp_t& k = im->comps[alphaComp];
      const OPJ_INT32* src = k.data + size_t(rowMap[used][size_t(y)]) * k.w;
      uint8_t* a = alpha->GetRowAddress(y);
      for (int x = 0; x < int(w); ++x) a[x] = To8(k, src[colMap[used][size_t(x)]]);
    }
    Progress.Report(int(int64_t(y) * 100 / h));
    if (Progress.Aborted()) break;
  }
  if (alpha) alpha->IsAll255 = false;
}

void IEJ2000Write(TIEStream& Stream, TIEBitmap& Bitmap, const TIOParamsVals& Params, TIECodecProgress& Progress,
                  int Format) {
  const int w = Bitmap.GetImageWidth(), h = Bitmap.GetImageHeight();
  if (w <= 0 || h <= 0 || (Format != 0 && Format != 1) || !(Params.J2000Rate > 0)) {
    Progress.Abort();
    return;
  }
  // a bilevel image is written as 1-bit grey whatever the colour space asked for
  const bool oneBit = Bitmap.GetPixelFormat() == ie1g;
  const int colorSpace = oneBit ? 0 : Params.J2000ColorSpace;
  // Fewer than 8 bits cannot hold the bytes of a colour or grey bitmap: BitsPerSample may still hold
  // the depth of the last file read (a 16-colour GIF leaves 4).
  const int bits = oneBit ? 1 : IEMax(Params.BitsPerSample, 8);
  if (bits > 16 || colorSpace > 2) {
    Progress.Abort();
    return;
  }
  TIEWriterSource src(Bitmap, oneBit ? ie1g : ie24RGB);
  const bool grey = colorSpace == 0;
  TIEBitmap* alpha = (!grey && Bitmap.AlphaPresent()) ? Bitmap.GetAlphaChannel() : nullptr;
  if (alpha && alpha->IsAll255) alpha = nullptr;
  const int comps = grey ? 1 : alpha ? 4 : 3;
  opj_image_cmptparm_t cp[4];
  std::memset(cp, 0, sizeof cp);
  for (int c = 0; c < comps; ++c) {
    cp[c].dx = cp[c].dy = 1;
    cp[c].w = OPJ_UINT32(w);
    cp[c].h = OPJ_UINT32(h);
    cp[c].prec = OPJ_UINT32(bits);
    cp[c].sgnd = 0;
  }
  // A large picture goes to the codec tile by tile: the planes of a whole 10240 x 10240 picture
  // alone, as 32-bit samples, would take 1.2 GB of a 32-bit process.
  const bool tiled = uint64_t(w) * uint64_t(h) > kMaxSingleTilePixels;
  TImageHolder image;
  image.p = (tiled ? opj_image_tile_create : opj_image_create)(OPJ_UINT32(comps), cp,
                                                                grey ? OPJ_CLRSPC_GRAY : OPJ_CLRSPC_SRGB);
  if (!image.p) {
    Progress.Abort();
    return;
  }
  opj_image_t* im = image.p;
  im->x0 = im->y0 = 0;
  im->x1 = OPJ_UINT32(w);
  im->y1 = OPJ_UINT32(h);
  if (alpha) im->comps[3].alpha = 1;
  const double m = double((1 << bits) - 1);
  auto scale = [m](int v) { return OPJ_INT32(v / 255.0 * m); };
  // Component c of pixel x of a source row `s` (with its alpha row `a`).
  auto sample = [&](const uint8_t* s, const uint8_t* a, int x, int c) -> OPJ_INT32 {
    if (oneBit) return (s[x >> 3] >> (7 - (x & 7))) & 1;
    if (grey)
      return scale((s[3 * x + 2] * IEGrayWeightRed + s[3 * x + 1] * IEGrayWeightGreen + s[3 * x] * IEGrayWeightBlue) / 100);
    return c < 3 ? scale(s[3 * x + 2 - c]) : scale(a[x]);
  };
  TIERowProgress progress(Progress, h);
  if (!tiled) {
    for (int y = 0; y < h; ++y) {
      const uint8_t* s = src->GetRowAddress(y);
      const uint8_t* a = alpha ? alpha->GetRowAddress(y) : nullptr;
      const size_t base = size_t(y) * size_t(w);
      for (int c = 0; c < comps; ++c)
        for (int x = 0; x < w; ++x) im->comps[c].data[base + x] = sample(s, a, x, c);
      progress.Step();
      if (Progress.Aborted()) return;
    }
  }
  opj_cparameters_t ep;
  opj_set_default_encoder_parameters(&ep);
  ep.tcp_numlayers = 1;
  ep.cp_disto_alloc = 1;
  ep.tcp_rates[0] = Params.J2000Rate < 1 ? float(1.0 / Params.J2000Rate) : 0.0f;  // 0: lossless
  int minSide = IEMin(w, h), levels = 0;
  while (minSide > 1) { minSide >>= 1; ++levels; }
  ep.numresolution = IEMin(kMaxResolutions, levels + 1);
  ep.cblockw_init = ep.cblockh_init = kCodeBlockSize;
  ep.prog_order = Params.J2000Progression == 1 ? OPJ_RLCP : OPJ_LRCP;
  ep.irreversible = 0;
  ep.tcp_mct = comps == 3 ? 1 : 0;
  if (tiled) {
    ep.tile_size_on = OPJ_TRUE;
    ep.cp_tx0 = ep.cp_ty0 = 0;
    ep.cp_tdx = ep.cp_tdy = kTileSide;
  }
  TCodecHolder codec;
  codec.p = opj_create_compress(Format == 0 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K);
  TStreamBridge bridge{&Stream, Stream.GetPosition()};
  TStreamHolder stream;
  stream.p = MakeStream(bridge, false);
  if (!codec.p || !stream.p) {
    Progress.Abort();
    return;
  }
  SilenceCodec(codec.p);
  bool ok = opj_setup_encoder(codec.p, &ep, im) && opj_start_compress(codec.p, im, stream.p);
  if (ok && tiled) {
    // Each tile's samples, component after component, in the codec's width: one byte up to 8 bits,
    // two (native order) beyond.
    const int bytes = bits > 8 ? 2 : 1;
    const int tilesX = (w + kTileSide - 1) / kTileSide, tilesY = (h + kTileSide - 1) / kTileSide;
    std::vector<OPJ_BYTE> buffer(size_t(kTileSide) * size_t(kTileSide) * size_t(comps) * size_t(bytes));
    for (int ty = 0; ok && ty < tilesY; ++ty) {
      const int y0 = ty * kTileSide, y1 = IEMin(h, y0 + kTileSide);
      for (int tx = 0; ok && tx < tilesX; ++tx) {
        const int x0 = tx * kTileSide, x1 = IEMin(w, x0 + kTileSide);
        OPJ_BYTE* out = buffer.data();
        for (int c = 0; c < comps; ++c)
          for (int y = y0; y < y1; ++y) {
            const uint8_t* s = src->GetRowAddress(y);
            const uint8_t* a = alpha ? alpha->GetRowAddress(y) : nullptr;
            for (int x = x0; x < x1; ++x) {
              const OPJ_INT32 v = sample(s, a, x, c);
              if (bytes == 2) {
                const uint16_t v16 = uint16_t(v);
                std::memcpy(out, &v16, 2);
                out += 2;
              } else {
                *out++ = OPJ_BYTE(v);
              }
            }
          }
        ok = opj_write_tile(codec.p, OPJ_UINT32(ty * tilesX + tx), buffer.data(), OPJ_UINT32(out - buffer.data()),
                            stream.p) != OPJ_FALSE;
      }
      for (int y = y0; y < y1; ++y) progress.Step();
      if (Progress.Aborted()) return;
    }
  } else if (ok) {
    ok = opj_encode(codec.p, stream.p) != OPJ_FALSE;
  }
  ok = ok && opj_end_compress(codec.p, stream.p);
  if (!ok || bridge.writeFailed) Progress.Abort();
}
