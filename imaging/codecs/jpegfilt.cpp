// libjpeg reports errors through a callback that must not return. C++ exceptions cannot cross its C
// frames with this compiler's unwinder, so every library call runs inside JpegGuard: setjmp there,
// longjmp in the error exit. The guarded bodies hold no object with a destructor; the callers turn a
// jump into the abort flag (reading) or into EIEJpegException (writing).
//
// Rows: libjpeg is asked for B, G, R output and takes B, G, R input (its extended colour spaces), so
// 24-bit rows go straight between the bitmap and the library.
#include "jpegfilt.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>

#include "iebitmapservices.h"
#include "iecmyk.h"
#include "ieexifglue.h"
#include "iecodeccommon.h"

namespace {

constexpr int kStreamBufferSize = 65536;  // source and destination managers
constexpr int kScanBufferSize = 8192;     // ICC and length scans
constexpr int kSOISearchSpan = 150;       // the start of image may follow this many bytes, less one
constexpr unsigned kMaxSavedMarker = 0xFFFF;
constexpr int kLastPartMessage = 123;     // the message codes this codec names; later ones are "Corrupted"
constexpr int kTooFewScanlines = 67;      // "Application transferred too few scanlines": never fatal
constexpr int kICCHeaderSize = 14;        // "ICC_PROFILE\0", sequence number, chunk count
constexpr int kMaxJPEGSide = 65500;      // the library's largest width and height (JPEG_MAX_DIMENSION)
constexpr int kRowsPerRead = 16;          // rows asked of the library per call: a 4:2:0 row group
const char kICCSignature[12] = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};

// ---- error manager ----

struct TJpegError {
  jpeg_error_mgr pub;  // first: libjpeg sees only this part
  std::atomic<bool>* aborting = nullptr;
  std::jmp_buf jump;
  int warnings = 0;
  int lastWarning = 0;
  char text[JMSG_LENGTH_MAX];
};

TJpegError& ErrorOf(j_common_ptr cinfo) { return *reinterpret_cast<TJpegError*>(cinfo->err); }

void ErrorExit(j_common_ptr cinfo) {
  TJpegError& e = ErrorOf(cinfo);
  if (e.aborting) *e.aborting = true;
  const int code = cinfo->err->msg_code;
  if (code == kTooFewScanlines) return;  // the library goes on finishing
  const std::string text = IEJPEGMessageText(code);
  std::snprintf(e.text, sizeof e.text, "%s", text.c_str());
  std::longjmp(e.jump, 1);
}

void EmitMessage(j_common_ptr cinfo, int level) {
  if (level != -1) return;
  TJpegError& e = ErrorOf(cinfo);
  ++e.warnings;
  e.lastWarning = cinfo->err->msg_code;
}

void OutputMessage(j_common_ptr) {}
void FormatMessage(j_common_ptr, char* buffer) { buffer[0] = 0; }

void ResetErrorMgr(j_common_ptr cinfo) {
  TJpegError& e = ErrorOf(cinfo);
  e.warnings = 0;
  e.lastWarning = 0;
  cinfo->err->msg_code = 0;
}

jpeg_error_mgr* InitError(TJpegError& e, std::atomic<bool>* aborting) {
  jpeg_std_error(&e.pub);
  e.pub.error_exit = ErrorExit;
  e.pub.emit_message = EmitMessage;
  e.pub.output_message = OutputMessage;
  e.pub.format_message = FormatMessage;
  e.pub.reset_error_mgr = ResetErrorMgr;
  e.aborting = aborting;
  e.text[0] = 0;
  return &e.pub;
}

// Runs `body`; false when libjpeg left it through the error exit.
template <class F>
bool JpegGuard(TJpegError& e, F&& body) {
  if (setjmp(e.jump)) return false;
  body();
  return true;
}

// ---- source manager ----

struct TJpegSource {
  jpeg_source_mgr pub;  // first
  TIEStream* stream = nullptr;
  std::atomic<bool>* aborting = nullptr;
  bool startOfFile = true;
  bool atEnd = false;  // the stream gave nothing more; the buffer holds the inserted end of image
  uint8_t buffer[kStreamBufferSize];
};

TJpegSource& SourceOf(j_decompress_ptr cinfo) { return *reinterpret_cast<TJpegSource*>(cinfo->src); }

void InitSource(j_decompress_ptr cinfo) {
  TJpegSource& s = SourceOf(cinfo);
  s.startOfFile = true;
  s.atEnd = false;
}

boolean FillInputBuffer(j_decompress_ptr cinfo) {
  TJpegSource& s = SourceOf(cinfo);
  int32_t n = 0;
  try {
    n = s.stream->Read(s.buffer, kStreamBufferSize);
  } catch (...) {
    n = 0;  // a failing stream ends the data like its end does
  }
  if (n <= 0) {
    if (s.startOfFile && s.aborting) *s.aborting = true;  // empty input
    s.buffer[0] = 0xFF;
    s.buffer[1] = JPEG_EOI;
    n = 2;
    s.atEnd = true;
  }
  s.startOfFile = false;
  s.pub.next_input_byte = s.buffer;
  s.pub.bytes_in_buffer = size_t(n);
  return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
  TJpegSource& s = SourceOf(cinfo);
  if (count <= 0) return;
  while (size_t(count) > s.pub.bytes_in_buffer) {
    if (s.atEnd) return;  // keep the inserted end of image for the library to find
    count -= long(s.pub.bytes_in_buffer);
    FillInputBuffer(cinfo);
  }
  s.pub.next_input_byte += count;
  s.pub.bytes_in_buffer -= size_t(count);
}

void TermSource(j_decompress_ptr) {}

void AttachSource(j_decompress_ptr cinfo, TJpegSource& s, TIEStream& stream, std::atomic<bool>* aborting) {
  s.stream = &stream;
  s.aborting = aborting;
  s.pub.init_source = InitSource;
  s.pub.fill_input_buffer = FillInputBuffer;
  s.pub.skip_input_data = SkipInputData;
  s.pub.resync_to_restart = jpeg_resync_to_restart;
  s.pub.term_source = TermSource;
  s.pub.bytes_in_buffer = 0;
  s.pub.next_input_byte = nullptr;
  cinfo->src = &s.pub;
}

// ---- destination manager ----

struct TJpegDest {
  jpeg_destination_mgr pub;  // first
  TIEStream* stream = nullptr;
  std::atomic<bool>* aborting = nullptr;
  uint8_t buffer[kStreamBufferSize];
};

TJpegDest& DestOf(j_compress_ptr cinfo) { return *reinterpret_cast<TJpegDest*>(cinfo->dest); }

void InitDestination(j_compress_ptr cinfo) {
  TJpegDest& d = DestOf(cinfo);
  d.pub.next_output_byte = d.buffer;
  d.pub.free_in_buffer = kStreamBufferSize;
}

// A short write sets the abort flag; a stream that raises ends the compression as a write error.
void FlushDest(j_compress_ptr cinfo, int32_t count) {
  TJpegDest& d = DestOf(cinfo);
  if (count <= 0) return;
  bool failed = false;
  try {
    if (d.stream->Write(d.buffer, count) != count && d.aborting) *d.aborting = true;
  } catch (...) {
    failed = true;
  }
  if (failed) ERREXIT(cinfo, JERR_FILE_WRITE);
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
  FlushDest(cinfo, kStreamBufferSize);
  TJpegDest& d = DestOf(cinfo);
  d.pub.next_output_byte = d.buffer;
  d.pub.free_in_buffer = kStreamBufferSize;
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  TJpegDest& d = DestOf(cinfo);
  FlushDest(cinfo, int32_t(kStreamBufferSize - d.pub.free_in_buffer));
}

// ---- helpers ----

J_DCT_METHOD DCTMethod(int m) {
  switch (m) {
    case 1: return JDCT_IFAST;
    case 2: return JDCT_FLOAT;
    default: return JDCT_ISLOW;
  }
}

// Reads a big-endian 16-bit value; false at the end of the stream.
bool ReadU16BE(TIEStream& s, int& v) {
  uint8_t b[2];
  if (s.Read(b, 2) != 2) return false;
  v = IEReadU16BE(b);
  return true;
}

bool ReadByte(TIEStream& s, uint8_t& b) { return s.Read(&b, 1) == 1; }

// The denominator of the scaled decode for Params.JPEGScale (0: the smallest covering Width x Height).
int ScaleDenominator(const TIOParamsVals& p, int imageWidth, int imageHeight) {
  switch (p.JPEGScale) {
    case 2: return 2;
    case 3: return 4;
    case 4: return 8;
    case 0:
      if (p.Width > 0 && p.Height > 0)
        for (int d : {8, 4, 2})
          if (imageWidth / d >= p.Width && imageHeight / d >= p.Height) return d;
      return 1;
    default: return 1;
  }
}

// How each file colour space is named in the parameters and delivered: colour as B, G, R.
struct TColorSpaceRoute {
  J_COLOR_SPACE file;
  uint8_t code;  // Params.JPEGColorSpace
  int samples;
  J_COLOR_SPACE output;
};
const TColorSpaceRoute kColorSpaces[] = {
    {JCS_GRAYSCALE, 1, 1, JCS_GRAYSCALE}, {JCS_RGB, 0, 3, JCS_EXT_BGR}, {JCS_YCbCr, 2, 3, JCS_EXT_BGR},
    {JCS_CMYK, 3, 4, JCS_CMYK},           {JCS_YCCK, 4, 4, JCS_CMYK},
};

// One decompression: the library's record and managers, and what the read has decided and done.
// Members the guarded bodies change live here, in memory a jump out of the library leaves intact.
struct TJpegReadState {
  jpeg_decompress_struct cinfo;
  std::unique_ptr<TJpegError> err{new TJpegError()};
  std::unique_ptr<TJpegSource> src{new TJpegSource()};
  std::atomic<bool>* aborting = nullptr;
  bool created = false;  // the record exists and must be destroyed
  bool managed = false;  // colour rows go through the image's own profile to sRGB
  J_COLOR_SPACE outSpace = JCS_UNKNOWN;  // JCS_UNKNOWN: a colour space the reader does not deliver
  int rows = 0;          // rows decoded
};

}  // namespace

std::string IEJPEGMessageText(int code) {
  if (code == 73 || code == 74) return std::string();  // copyright and version notices
  if (code < 0 || code > kLastPartMessage) return "Corrupted";
  jpeg_error_mgr table;
  jpeg_std_error(&table);
  if (code > table.last_jpeg_message || !table.jpeg_message_table[code]) return "Corrupted";
  // every printf placeholder of the library's text becomes "?"
  const char* s = table.jpeg_message_table[code];
  std::string out;
  while (*s) {
    if (*s != '%') {
      out += *s++;
      continue;
    }
    ++s;
    while (*s && std::strchr("0123456789.-+ #lhz", *s)) ++s;
    if (*s) ++s;
    out += '?';
  }
  return out;
}

int64_t IEJPEGFindSOI(TIEStream& Stream, bool Search) {
  const int64_t p = Stream.GetPosition();
  uint8_t b[kSOISearchSpan + 2];
  const int want = Search ? int(sizeof b) : 3;
  int n = 0;
  try {
    n = Stream.Read(b, want);
  } catch (...) {
    n = 0;
  }
  Stream.SetPosition(p);
  for (int i = 0; i + 2 < n; ++i)
    if (b[i] == 0xFF && b[i + 1] == 0xD8 && b[i + 2] == 0xFF) return Search ? p + i : 0;
  return -1;
}

void IEJPEGReadICC(TIEStream& Stream, TIOParamsVals& Params) {
  const int64_t start = Stream.GetPosition();
  std::vector<std::vector<uint8_t>> chunks;
  std::vector<bool> present;
  int stored = 0;
  {
    TIEBufferedReadStream s(Stream, kScanBufferSize, false);
    std::vector<uint8_t> segment;
    uint8_t b = 0;
    bool scanning = true;
    while (scanning && ReadByte(s, b)) {
      if (b != 0xFF) continue;
      uint8_t m = 0;
      if (!ReadByte(s, m)) break;
      if (m < 192 || (m >= 208 && m <= 216) || m == 255) {
        if (m == 255) s.Seek(-1, soFromCurrent);  // fill byte: the next FF may start a marker
        continue;
      }
      int length = 0;
      if (m == 196 || m == 200 || m == 204 || (m >= 218 && m <= 225) || (m >= 227 && m <= 254)) {
        if (!ReadU16BE(s, length) || length < 2) break;
        s.Seek(length - 2, soFromCurrent);
        continue;
      }
      if (m != 226) break;  // a frame header or the end of the image
      if (!ReadU16BE(s, length) || length < 2) break;
      segment.resize(size_t(length - 2));
      if (s.Read(segment.data(), length - 2) != length - 2) break;
      if (segment.size() < size_t(kICCHeaderSize) || std::memcmp(segment.data(), kICCSignature, 12) != 0)
        continue;
      const int seq = segment[12], count = segment[13];
      if (count == 0) continue;
      if (chunks.empty()) {
        chunks.resize(size_t(count));
        present.assign(size_t(count), false);
      }
      // a chunk that disagrees with the first on the count, or repeats a number, is not trusted
      if (size_t(count) != chunks.size() || seq < 1 || seq > count || present[size_t(seq - 1)]) continue;
      chunks[size_t(seq - 1)].assign(segment.begin() + kICCHeaderSize, segment.end());
      present[size_t(seq - 1)] = true;
      if (++stored == count) scanning = false;
    }
  }
  Stream.SetPosition(start);
  if (stored == 0 || stored != int(chunks.size())) return;  // none, or incomplete: dropped
  std::vector<uint8_t> joined;
  for (const auto& c : chunks) joined.insert(joined.end(), c.begin(), c.end());
  Params.InputICCProfile.LoadFromBuffer(joined.data(), int64_t(joined.size()));
}

int64_t IEJPEGLength(TIEStream& Stream) {
  const int64_t start = Stream.GetPosition();
  int64_t end = start;
  {
    TIEBufferedReadStream s(Stream, kScanBufferSize, false);
    uint8_t b = 0;
    while (ReadByte(s, b)) {
      if (b != 0xFF) continue;
      uint8_t m = 0;
      if (!ReadByte(s, m)) break;
      if (m == 217) break;
      if ((m >= 192 && m <= 207) || (m >= 218 && m <= 254)) {
        int length = 0;
        if (!ReadU16BE(s, length)) break;
        if (length >= 2) s.Seek(length - 2, soFromCurrent);
      } else if (m == 0xFF) {
        s.Seek(-1, soFromCurrent);  // fill byte
      }
    }
    end = s.GetPosition();
    const int64_t size = Stream.GetSize();
    if (end > size) end = size;
  }
  Stream.SetPosition(start);
  return end - start;
}

namespace {

// With Params.JPEGReadExifThumbnail: runs readParams (a parameters-only read with metadata), and
// when the EXIF block held a thumbnail, delivers it in Bitmap and returns true. Otherwise the stream
// is back at its position and the caller's requested size restored.
template <class ReadParams>
bool DeliverExifThumbnail(TIEStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, ReadParams&& readParams) {
  if (Params.ExifThumbnail) Params.ExifThumbnail->FreeStorage(true);
  const int64_t entry = Stream.GetPosition();
  const int width = Params.Width, height = Params.Height;
  Params.SetReadThumbnail(false);
  readParams();
  Stream.SetPosition(entry);
  Params.SetReadThumbnail(true);
  if (Params.ExifThumbnail && !Params.ExifThumbnail->IsEmpty()) {
    Bitmap.Assign(Params.ExifThumbnail.get());
    return true;
  }
  Params.Width = Params.StoredWidth = width;
  Params.Height = Params.StoredHeight = height;
  return false;
}

// Creates the library's record and reads the tables (from TablesStream when it is another stream)
// and the image's header, keeping its COM and APPn markers.
bool ReadJPEGHeader(TJpegReadState& r, TIEStream& Stream, TIEStream* TablesStream) {
  std::memset(&r.cinfo, 0, sizeof r.cinfo);
  r.cinfo.err = InitError(*r.err, r.aborting);
  return JpegGuard(*r.err, [&] {
    jpeg_create_decompress(&r.cinfo);
    r.created = true;
    if (TablesStream && TablesStream != &Stream) {
      AttachSource(&r.cinfo, *r.src, *TablesStream, r.aborting);
      jpeg_read_header(&r.cinfo, FALSE);
    }
    AttachSource(&r.cinfo, *r.src, Stream, r.aborting);
    jpeg_save_markers(&r.cinfo, JPEG_COM, kMaxSavedMarker);
    for (int i = 0; i < 16; ++i) jpeg_save_markers(&r.cinfo, JPEG_APP0 + i, kMaxSavedMarker);
    jpeg_read_header(&r.cinfo, TRUE);
  });
}

// The header's colour space, resolution and scaling into Params, and the output colour space and
// scale into the library's record.
void StoreJPEGHeaderParams(TJpegReadState& r, TIOParamsVals& Params, bool KeepYCbCr, int DeclaredColorSpace) {
  jpeg_decompress_struct& cinfo = r.cinfo;
  Params.SetImageCount(1);
  Params.BitsPerSample = 8;
  // Without a JFIF or Adobe marker libjpeg only guesses the colour space (three components are
  // taken for YCbCr unless their ids read R, G, B): a container that states it knows better.
  if (!cinfo.saw_JFIF_marker && !cinfo.saw_Adobe_marker)
    for (const TColorSpaceRoute& c : kColorSpaces)
      if (c.code == DeclaredColorSpace && c.samples == cinfo.num_components) cinfo.jpeg_color_space = c.file;
  for (const TColorSpaceRoute& c : kColorSpaces)
    if (c.file == cinfo.jpeg_color_space) {
      Params.JPEGColorSpace = c.code;
      Params.SamplesPerPixel = c.samples;
      r.outSpace = c.output;
    }
  // any other colour space: no parameters and no rows
  if (KeepYCbCr && r.outSpace != JCS_UNKNOWN) r.outSpace = JCS_YCbCr;
  cinfo.out_color_space = r.outSpace;
  cinfo.dct_method = DCTMethod(Params.JPEGDCTMethod);
  if (cinfo.density_unit == 2) {
    Params.SetDpiX(int(cinfo.X_density * 2.54));
    Params.SetDpiY(int(cinfo.Y_density * 2.54));
  } else {
    Params.SetDpiX(cinfo.X_density);
    Params.SetDpiY(cinfo.Y_density);
  }
  Params.FreeColorMap();
  Params.JPEGProgressive = jpeg_has_multiple_scans(&cinfo) != 0;
  Params.StoredWidth = int(cinfo.image_width);
  Params.StoredHeight = int(cinfo.image_height);
  const int d = ScaleDenominator(Params, int(cinfo.image_width), int(cinfo.image_height));
  cinfo.scale_num = 1;
  cinfo.scale_denom = unsigned(d);
  Params.JPEGScaleUsed = d;
}

// Starts the decompression, or for a parameters-only read gives the image's size; false when no
// rows are to be read (the abort flag set unless the read asked for none).
bool StartJPEGDecompress(TJpegReadState& r, TIOParamsVals& Params, bool ParamsOnly) {
  if (ParamsOnly) {
    Params.Width = int(r.cinfo.image_width);
    Params.Height = int(r.cinfo.image_height);
    return false;
  }
  if (r.outSpace == JCS_UNKNOWN || !JpegGuard(*r.err, [&] { jpeg_start_decompress(&r.cinfo); })) {
    *r.aborting = true;
    return false;
  }
  return true;
}

// The output size into Params and the bitmap allocated: grey as ie8g and CMYK as ieCMYK when the
// caller keeps the native format, else ie24RGB. False, with the abort flag set, for a size over the
// library's limit or one that cannot be allocated.
bool AllocateJPEGBitmap(TJpegReadState& r, TIEBitmap& Bitmap, TIOParamsVals& Params, bool NativePixelFormat,
                        TIEPixelFormat& format) {
  const int w = int(r.cinfo.output_width), h = int(r.cinfo.output_height);
  Params.Width = w;
  Params.Height = h;
  format = ie24RGB;
  if (NativePixelFormat && r.outSpace == JCS_GRAYSCALE) format = ie8g;
  if (NativePixelFormat && r.outSpace == JCS_CMYK) format = ieCMYK;
  if (!IEImageSizeAllowed(w, h) || !Bitmap.Allocate(w, h, format)) {
    *r.aborting = true;
    return false;
  }
  return true;
}

// A row the library gave in buffer into 24-bit bitmap row `row`: grey spread, colour through the
// profile, CMYK (inverted first with InvertCMYK) converted.
void ConvertJPEGRow(const TJpegReadState& r, std::vector<uint8_t>& buffer, uint8_t* row, int w,
                    TIOParamsVals& Params, bool InvertCMYK) {
  const uint8_t* b = buffer.data();
  if (r.outSpace == JCS_GRAYSCALE) {
    for (int x = 0; x < w; ++x) row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = b[x];
  } else if (r.outSpace == JCS_EXT_BGR) {  // through the profile
    IEColorConversionHook(b, iccBGR, row, &Params, w, iccBGR);
  } else {  // CMYK into 24 bits
    if (InvertCMYK)
      for (int i = 0; i < 4 * w; ++i) buffer[size_t(i)] = uint8_t(255 - buffer[size_t(i)]);
    if (r.managed) IEColorConversionHook(b, iccCMYKInv, row, &Params, w, iccBGR);
    else IEConversionServices.CMYKRowToRGB(b, reinterpret_cast<TIERGB*>(row), w);
  }
}

// Decodes up to MaxRows rows (-1: all) into the allocated bitmap; fewer sets the abort flag.
void ReadJPEGRows(TJpegReadState& r, TIEBitmap& Bitmap, TIEPixelFormat format, TIOParamsVals& Params,
                  TIECodecProgress& Progress, int MaxRows, bool InvertCMYK) {
  jpeg_decompress_struct& cinfo = r.cinfo;
  const int w = int(cinfo.output_width), h = int(cinfo.output_height);
  std::vector<uint8_t> buffer(size_t(w) * 4);
  if (MaxRows < 0) MaxRows = h;
  TIERowProgress rowProgress(Progress, h);
  // Rows the library can write themselves go straight into the bitmap, several per call; the
  // others come through one buffered row. A temporary-file bitmap maps one row at a time.
  const bool direct = format != ie24RGB || (r.outSpace == JCS_EXT_BGR && !r.managed) || r.outSpace == JCS_YCbCr;
  const int perCall = direct && Bitmap.GetLocation() != ieTempFile ? kRowsPerRead : 1;
  const bool ok = JpegGuard(*r.err, [&] {
    JSAMPROW targets[kRowsPerRead];
    while (int(cinfo.output_scanline) < h && r.rows < MaxRows && !*r.aborting) {
      const int y = int(cinfo.output_scanline);
      const int want = IEMin(perCall, IEMin(h - y, MaxRows - r.rows));
      for (int i = 0; i < want; ++i) targets[i] = Bitmap.GetRowAddress(y + i);
      uint8_t* row = targets[0];
      if (!direct) targets[0] = buffer.data();
      const int got = int(jpeg_read_scanlines(&cinfo, targets, JDIMENSION(want)));
      if (!direct && got > 0) ConvertJPEGRow(r, buffer, row, w, Params, InvertCMYK);
      for (int i = 0; i < got; ++i) rowProgress.Step();  // the same percentages as row by row
      r.rows += got;
      if (got <= 0) break;
    }
  });
  if (!ok) *r.aborting = true;
  if (r.rows < MaxRows) *r.aborting = true;
}

// The markers the library saved into Params (also after a failed or parameters-only read), the
// decompression finished when it went well, and the library's record destroyed.
void FinishJPEGRead(TJpegReadState& r, TIOParamsVals& Params, bool ParamsOnly) {
  if (!r.created) return;
  Params.JPEGMarkerList.Clear();
  bool firstAPP0 = true;
  for (jpeg_saved_marker_ptr m = r.cinfo.marker_list; m; m = m->next) {
    if (m->marker == JPEG_APP0 && firstAPP0) {
      firstAPP0 = false;
      continue;
    }
    Params.JPEGMarkerList.AddMarker(uint8_t(m->marker), m->data, int32_t(m->data_length));
  }
  if (r.managed && Params.InputICCProfile.HasTransform()) {
    // the pixels are sRGB now: the profile is spent and is not written back with them
    Params.InputICCProfile.FreeTransform();
    for (int i = Params.JPEGMarkerList.Count() - 1; i >= 0; --i)
      if (Params.JPEGMarkerList.GetMarkerType(i) == JPEG_APP0 + 2) Params.JPEGMarkerList.Delete(i);
  }
  if (!*r.aborting && !ParamsOnly) {
    r.err->aborting = nullptr;
    JpegGuard(*r.err, [&] { jpeg_finish_decompress(&r.cinfo); });
  }
  jpeg_destroy_decompress(&r.cinfo);
}

// IPTC, EXIF and XMP from the saved markers into Params; the EXIF resolution stands in for a JFIF
// aspect-only density, and its orientation turns the decoded image upright when that is asked for.
void ReadJPEGMetadata(TIOParamsVals& Params, TIEBitmap& Bitmap, bool ParamsOnly, int rows) {
  TIEMarkerList& list = Params.JPEGMarkerList;
  for (int i = 0; i < list.Count(); ++i)
    if (list.GetMarkerType(i) == JPEG_APP0 + 13 &&
        Params.IPTCInfo.LoadFromBuffer(list.GetMarkerData(i), list.GetMarkerLength(i)))
      break;
  bool exif = false;
  for (int i = 0; i < list.Count() && !exif; ++i)
    exif = list.GetMarkerType(i) == JPEG_APP0 + 1 &&
           IELoadExifFromMarker(list.GetMarkerData(i), size_t(list.GetMarkerLength(i)), &Params);
  if (exif) {
    // a JFIF density of 1 x 1 states only the aspect: the EXIF resolution says more
    if (Params.DpiX == 1 && Params.DpiY == 1 && Params.ExifXResolution >= 1 && Params.ExifYResolution >= 1) {
      const double f = Params.ExifResolutionUnit == 3 ? 2.54 : 1;
      const double x = Params.ExifXResolution * f, y = Params.ExifYResolution * f;
      Params.SetDpiX(x < 65536 ? int(x) : 65535);
      Params.SetDpiY(y < 65536 ? int(y) : 65535);
    }
    if (Params.JPEGEnableAdjustOrientation && !ParamsOnly && rows > 0) {
      IEApplyExifOrientation(&Bitmap, Params.ExifOrientation);
      Params.SetExifOrientation(1);
      Params.Width = Bitmap.GetImageWidth();
      Params.Height = Bitmap.GetImageHeight();
    }
  }
  for (int i = 0; i < list.Count(); ++i)
    if (list.GetMarkerType(i) == JPEG_APP0 + 1 &&
        IELoadXMPFromMarker(list.GetMarkerData(i), size_t(list.GetMarkerLength(i)), &Params))
      break;
}

}  // namespace

int IEJPEGRead(TIEStream& Stream, TIEStream* TablesStream, TIEBitmap& Bitmap, TIOParamsVals& Params,
               TIECodecProgress& Progress, bool ParamsOnly, bool KeepYCbCr, bool ReadMetadata,
               bool InvertCMYK, bool ApplyICC, bool ReadICC, int MaxRows, bool NativePixelFormat,
               int DeclaredColorSpace) {
  std::atomic<bool> localAbort{false};
  std::atomic<bool>* aborting = Progress.Aborting ? Progress.Aborting : &localAbort;
  // the EXIF block (and its thumbnail) of a parameters-only read stands in for the image
  if (Params.JPEGReadExifThumbnail && DeliverExifThumbnail(Stream, Bitmap, Params, [&] {
        IEJPEGRead(Stream, TablesStream, Bitmap, Params, Progress, true, KeepYCbCr, true, InvertCMYK, ApplyICC,
                   false, MaxRows, NativePixelFormat, DeclaredColorSpace);
      }))
    return 0;

  Params.JPEGWarningCount = 0;
  Params.JPEGWarningCode = 0;
  const int64_t soi = IEJPEGFindSOI(Stream, true);
  if (soi < 0) {
    *aborting = true;
    return 0;
  }
  Stream.SetPosition(soi);
  if (ReadICC) IEJPEGReadICC(Stream, Params);

  TJpegReadState r;
  r.aborting = aborting;
  r.managed = ApplyICC && IECMSEnabled && IEApplyICCProfiles && Params.InputICCProfile.IsValid() &&
              !Params.InputICCProfile.Applied;
  if (!ReadJPEGHeader(r, Stream, TablesStream)) {
    *aborting = true;
  } else {
    StoreJPEGHeaderParams(r, Params, KeepYCbCr, DeclaredColorSpace);
    TIEPixelFormat format = ie24RGB;
    if (StartJPEGDecompress(r, Params, ParamsOnly) && AllocateJPEGBitmap(r, Bitmap, Params, NativePixelFormat, format))
      ReadJPEGRows(r, Bitmap, format, Params, Progress, MaxRows, InvertCMYK);
  }
  FinishJPEGRead(r, Params, ParamsOnly);
  if (r.err->warnings > 0) {
    Params.JPEGWarningCount = r.err->warnings;
    Params.JPEGWarningCode = r.err->lastWarning;
  }
  if (ReadMetadata) ReadJPEGMetadata(Params, Bitmap, ParamsOnly, r.rows);
  return r.rows;
}

void IEJPEGWrite(TIEStream& Stream, TIEBitmap& Bitmap, const TIOParamsVals& Params, TIECodecProgress& Progress) {
  IEJPEGWriteAs(Stream, Bitmap, Params, Progress, Params.JPEGColorSpace);
}

void IEJPEGWriteAs(TIEStream& Stream, TIEBitmap& Bitmap, const TIOParamsVals& Params, TIECodecProgress& Progress,
                   int ColorSpace) {
  std::atomic<bool> localAbort{false};
  std::atomic<bool>* aborting = Progress.Aborting ? Progress.Aborting : &localAbort;
  TIEWriterSource source(Bitmap, ie24RGB);
  if (!source.Valid()) {
    *aborting = true;
    return;
  }
  TIEBitmap& bmp = *source.get();
  const int w = bmp.GetImageWidth(), h = bmp.GetImageHeight();
  if (w <= 0 || h <= 0 || w > kMaxJPEGSide || h > kMaxJPEGSide) {
    *aborting = true;
    return;
  }

  std::unique_ptr<TJpegError> err(new TJpegError());
  std::unique_ptr<TJpegDest> dest(new TJpegDest());
  jpeg_compress_struct cinfo;
  std::memset(&cinfo, 0, sizeof cinfo);
  cinfo.err = InitError(*err, aborting);
  bool created = false;
  std::vector<uint8_t> cmyk;
  int lastPercent = -1;

  const bool ok = JpegGuard(*err, [&] {
    jpeg_create_compress(&cinfo);
    created = true;
    dest->stream = &Stream;
    dest->aborting = aborting;
    dest->pub.init_destination = InitDestination;
    dest->pub.empty_output_buffer = EmptyOutputBuffer;
    dest->pub.term_destination = TermDestination;
    cinfo.dest = &dest->pub;
    if (*aborting) return;

    cinfo.image_width = JDIMENSION(w);
    cinfo.image_height = JDIMENSION(h);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_EXT_BGR;
    J_COLOR_SPACE fileSpace = JCS_RGB;
    switch (ColorSpace) {
      case 1: fileSpace = JCS_GRAYSCALE; break;
      case 2: fileSpace = JCS_YCbCr; break;
      case 3:
        cinfo.in_color_space = JCS_CMYK;
        cinfo.input_components = 4;
        fileSpace = JCS_CMYK;
        break;
      case 4:
        cinfo.in_color_space = JCS_CMYK;
        cinfo.input_components = 4;
        fileSpace = JCS_YCCK;
        break;
      default: break;
    }
    jpeg_set_defaults(&cinfo);
    jpeg_set_colorspace(&cinfo, fileSpace);
    cinfo.density_unit = 1;
    const int dx = Params.DpiX ? Params.DpiX : IEDefaultDPIX;
    const int dy = Params.DpiY ? Params.DpiY : IEDefaultDPIY;
    cinfo.X_density = UINT16(IEMax(0, IEMin(dx, 65535)));
    cinfo.Y_density = UINT16(IEMax(0, IEMin(dy, 65535)));
    cinfo.dct_method = DCTMethod(Params.JPEGDCTMethod);
    cinfo.optimize_coding = Params.JPEGOptimalHuffman ? TRUE : FALSE;
    cinfo.smoothing_factor = IEMax(0, IEMin(Params.JPEGSmooth, 100));
    jpeg_set_quality(&cinfo, Params.JPEGQuality, TRUE);
    if (fileSpace == JCS_YCbCr) {
      static const int kSampling[3][2] = {{2, 1}, {2, 2}, {1, 1}};
      const int s = Params.JPEGChromaSubsampling >= 0 && Params.JPEGChromaSubsampling <= 2
                        ? Params.JPEGChromaSubsampling : 1;
      cinfo.comp_info[0].h_samp_factor = kSampling[s][0];
      cinfo.comp_info[0].v_samp_factor = kSampling[s][1];
      for (int c = 1; c < 3; ++c) cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
    }
    if (fileSpace == JCS_CMYK || fileSpace == JCS_YCCK) cinfo.write_Adobe_marker = TRUE;
    if (Params.JPEGProgressive) jpeg_simple_progression(&cinfo);

    jpeg_start_compress(&cinfo, TRUE);
    TIEMarkerList list;  // written in marker order; the caller's list keeps its own
    list.Assign(&Params.JPEGMarkerList);
    list.Sort();
    for (int i = 0; i < list.Count(); ++i)
      if (list.GetMarkerType(i) != JPEG_APP0 + 14)
        jpeg_write_marker(&cinfo, list.GetMarkerType(i), list.GetMarkerData(i),
                          unsigned(list.GetMarkerLength(i)));

    if (cinfo.in_color_space == JCS_CMYK) cmyk.resize(size_t(w) * 4);
    int done = 0;
    while (int(cinfo.next_scanline) < h && !*aborting) {
      JSAMPROW row = bmp.GetRowAddress(int(cinfo.next_scanline));
      if (!cmyk.empty()) {  // a row per conversion call; the file keeps the inverted samples
        IEColorConversionHook(row, iccBGR, cmyk.data(), nullptr, w, iccCMYKInv);
        row = cmyk.data();
      }
      done += int(jpeg_write_scanlines(&cinfo, &row, 1));
      const int per = int(int64_t(done) * 100 / h);
      if (per != lastPercent) {
        lastPercent = per;
        Progress.Report(per);
      }
    }
    if (!*aborting) jpeg_finish_compress(&cinfo);
  });
  if (created) jpeg_destroy_compress(&cinfo);
  if (!ok) {
    *aborting = true;
    throw EIEJpegException(err->text);
  }
}
