// HD Photo through the platform's imaging component: a reader and a writer over its factory, decoder,
// frame and encoder interfaces (they also know the BMP, PNG, JPEG, TIFF and GIF containers, the reader
// ICO as well), the process-wide availability tests and the HD Photo codec entries.
#pragma once
#include <windows.h>
#include <wincodec.h>

#include <atomic>
#include <cstdint>

#include "iebitmap.h"
#include "ieformats.h"
#include "iestreams.h"
#include "ioparams.h"

// True when the imaging component can decode HD Photo (computed once per process).
bool IEWICAvailable();
// True when it can also encode HD Photo (computed once per process).
bool IEWICHDPEncoderAvailable();

class TIEWICReader {
 public:
  TIEWICReader();
  ~TIEWICReader();
  TIEWICReader(const TIEWICReader&) = delete;
  TIEWICReader& operator=(const TIEWICReader&) = delete;

  bool IsAvailable() const;
  // A decoder for the stream from its position; false for other file types or content no decoder
  // takes.
  bool Open(TIEStream& stream, TIEFileFormatCode fileType);
  // Decodes frame `index` into the bitmap (native pixel format when params is null or asks for it).
  // Sets *aborting (when given) and leaves the bitmap as it was when there is no decoder, no such
  // frame, or the frame cannot be decoded.
  void ReadFrame(int index, TIEBitmap& bitmap, std::atomic<bool>* aborting, TIOParamsVals* params);
  int FrameWidth() const;
  int FrameHeight() const;
  void Close();

  double DpiX, DpiY;  // of the current frame

 private:
  bool DecodeSource(IWICBitmapSource* source, TIEBitmap& bitmap, bool native);
  // The source's rows converted to `target`, held as `format`; false leaves the bitmap as it was.
  bool DecodeAs(IWICBitmapSource* source, const GUID& src, const GUID& target, TIEPixelFormat format,
                TIEBitmap& bitmap);
  bool OleInitialized_ = false;
  IWICImagingFactory* Factory_ = nullptr;
  IWICBitmapDecoder* Decoder_ = nullptr;
  IWICBitmapFrameDecode* Frame_ = nullptr;
  TIEStream* Stream_ = nullptr;
  int64_t StreamPos_ = 0;
};

class TIEWICWriter {
 public:
  TIEWICWriter();
  ~TIEWICWriter();  // closes, which commits the file
  TIEWICWriter(const TIEWICWriter&) = delete;
  TIEWICWriter& operator=(const TIEWICWriter&) = delete;

  bool IsAvailable() const { return Factory_ != nullptr; }
  // An encoder of the file type's container writing from the stream's position; false for types
  // without one (ICO included) or when the component has no such encoder.
  bool Open(TIEStream& stream, TIEFileFormatCode fileType);
  // Writes the bitmap as one frame; false when nothing could be written (no encoder, no frame, a
  // pixel format the encoder does not take as it is).
  bool WriteFrame(TIEBitmap& bitmap, const TIOParamsVals* params);
  // Commits and releases the encoder; false when the commit failed.
  bool Close();

  double DpiX, DpiY;
  // encoder options; a quality below 0 is not sent
  double ImageQuality = -1;
  double CompressionQuality = -1;
  bool Lossless = false;
  bool UseCodecOptions = false;
  uint8_t Quality = 1;
  uint8_t Overlap = 1;
  uint8_t Subsampling = 3;
  uint16_t HorizontalTileSlices = 0;
  uint16_t VerticalTileSlices = 0;
  bool FrequencyOrder = true;
  uint8_t TiffCompressionMethod = 1;  // the platform's TIFF compression option: 1 none

 private:
  bool OleInitialized_ = false;
  IWICImagingFactory* Factory_ = nullptr;
  IWICBitmapEncoder* Encoder_ = nullptr;
};

// The HD Photo codec entries (the parameters-only flag is not read: the frame is decoded).
void IEHDPRead(TIEStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool paramsOnly,
               TIECodecProgress& progress);
// Sets the abort flag and writes nothing when the component cannot encode HD Photo. The written file
// then takes the metadata of the parameters (IEHDPUpdateTags).
void IEHDPWrite(TIEStream& stream, TIEBitmap& bitmap, const TIOParamsVals& params, TIECodecProgress& progress);
// Rewrites the metadata tags of the HD Photo file at the stream's position (offsets counting from
// the stream's start) from the parameters' EXIF fields, in place; false when the file cannot be read
// or rewritten.
bool IEHDPUpdateTags(TIEStream& stream, const TIOParamsVals& params);
