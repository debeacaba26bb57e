// TIOParamsVals, the per-image parameter object of TImageryIO: readers fill it with what a file holds,
// writers take their settings from it. TIECodecProgress, the progress and abort record every codec
// receives. Only the fields of the formats this library serves so far are declared; the other
// formats add theirs with their codecs.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "giflzw.h"
#include "tiflzw.h"
#include "iedefs.h"
#include "iedicomtags.h"
#include "ieexiffields.h"
#include "ieimagingannot.h"
#include "ieicc.h"
#include "ieiptcinfolist.h"
#include "ietagshandler.h"
#include "iemarkerlist.h"
#include "ieutils.h"

class TIEBitmap;
class TIEView;
class TImageryIO;

// One icon image size of TIOParamsVals.ICOSizes.
struct TIEICOSize {
  int Width = 0;
  int Height = 0;
};
constexpr int kIEICOMaxSizes = 16;

// The library's default resolution, given to images whose file states none.
extern int IEDefaultDPIX;
extern int IEDefaultDPIY;

// The GIF LZW coder that every new parameter object starts with; nullptr: none.
extern TIEGIFLZWDecompressor IEGlobalGIFLZWDecompressor;
extern TIEGIFLZWCompressor IEGlobalGIFLZWCompressor;
// The TIFF LZW strip coder every new parameter object starts with; nullptr: none.
extern TIETIFFLZWDecompressor IEGlobalTIFFLZWDecompressor;
extern TIETIFFLZWCompressor IEGlobalTIFFLZWCompressor;

// The TIFF settings of the parameter object, with their defaults (what the TIFF reader finds is in
// TIEReadState).
struct TIETIFFFields {
  int TIFFImageIndex = 0;  // page to read, or the page a new one is inserted before
  int TIFFSubIndex = -1;   // sub-image (SubIFDs entry) of the page to read; -1 the page itself
  int TIFFGetTile = -1;    // -1 the whole image; else only this tile, the image taking the tile's size
  bool TIFFEnableAdjustOrientation = false;  // the reader turns the page upright by its Orientation tag
  int TIFFJPEGQuality = 80;
  int TIFFJPEGColorSpace = 2;  // as JPEGColorSpace
  int TIFFZIPCompression = 1;  // 0 fastest, 1 default, 2 best
  TIETIFFLZWDecompressor TIFFLZWDecompress = IEGlobalTIFFLZWDecompressor;
  TIETIFFLZWCompressor TIFFLZWCompress = IEGlobalTIFFLZWCompressor;
};

// Everything a reader takes from a file, and nothing else: every load starts these fields from the
// defaults written here (TIOParamsVals::ClearImageInfo), whatever format the file before it had, and
// Assign copies them whole. A reader that stores into a field outside this group (and outside the
// EXIF fields and the metadata objects ClearImageInfo names) carries one file into the next save.
// Writers read several of them as settings (TIFFCompression, JPEGColorSpace, TGACompressed, ...):
// a load sets them to describe the file, so saving what was loaded keeps its kind.
struct TIEReadState {
  // ---- general ----
  int BitsPerSample = 8;
  int SamplesPerPixel = 3;
  int ImageCount = 0;      // images in the source
  int TIFFImageCount = 0;  // pages of the TIFF file read (kept with ImageCount)
  int GIFImageCount = 0;   // frames of the GIF file read (kept with ImageCount)
  int StoredWidth = 0;
  int StoredHeight = 0;
  std::vector<TIERGB> ColorMap;  // the image's palette
  int ColorMapCount = 0;         // entries of ColorMap
  std::string XMPInfo;           // the XMP packet (empty: none)

  // ---- TIFF ----
  // 0 none, 1 CCITT 1D, 2 G3 1D, 3 G3 2D, 4 G4, 5 LZW, 6 old-style JPEG, 7 JPEG, 8 PackBits, 9 ZIP,
  // 10 Deflate
  int TIFFCompression = 0;
  // 0 white-is-zero, 1 black-is-zero, 2 RGB, 3 palette, 4 mask, 5 CMYK, 6 YCbCr, 7 CIELab
  int TIFFPhotometric = 2;
  int TIFFXPos = 0, TIFFYPos = 0;  // XPosition and YPosition
  std::string TIFFDocumentName;
  std::string TIFFImageDescription;
  std::string TIFFPageName;
  int TIFFPageNumber = -1;  // -1 with TIFFPageCount -1: no PageNumber tag
  int TIFFPageCount = -1;
  int TIFFOrientation = 1;
  int TIFFFillOrder = 1;       // of the fax compressions
  int TIFFByteOrder = 1;       // 1 little-endian ("II"), 0 big-endian ("MM"): read, and written by the writer
  int TIFFPlanarConfig = 1;    // PlanarConfiguration of the page read
  // What the last read passed over: a strip cut short (its rows up to there kept), a tag the page
  // does not need lying outside the file; empty: nothing.
  std::string TIFFWarning;

  // ---- Targa ----
  int TGAXPos = 0, TGAYPos = 0;
  bool TGACompressed = true;
  std::string TGADescriptor;  // image ID field
  std::string TGAAuthor;      // extension area: author name
  std::string TGAImageName;   // extension area: job name
  double TGADate = 0;         // extension area: date and time (days since 1899-12-30); reset to now
  TIERGB TGABackground{0, 0, 0};  // extension area: key colour
  double TGAAspectRatio = 1.0;
  double TGAGamma = 2.2;
  bool TGAGrayLevel = false;  // write 8-bit images as grey

  // ---- PCX ----
  int PCXVersion = 5;

  // ---- JPEG ----
  uint8_t JPEGColorSpace = 2;  // 0 RGB, 1 grey, 2 YCbCr, 3 CMYK, 4 YCCK
  bool JPEGProgressive = false;
  int JPEGScaleUsed = 1;       // denominator the last read applied
  int JPEGWarningCount = 0;    // warnings of the last read
  int JPEGWarningCode = 0;     // message code of the last of them

  // ---- GIF ----
  int GIFXPos = 0, GIFYPos = 0;
  int GIFDelayTime = 0;  // hundredths of a second
  bool GIFFlagTranspColor = false;
  TIERGB GIFTranspColor{0, 0, 0};
  bool GIFInterlaced = false;
  int GIFWinWidth = 0, GIFWinHeight = 0;  // logical screen
  TIERGB GIFBackground{0, 0, 0};
  int GIFRatio = 0;  // pixel aspect byte
  std::vector<std::string> GIFComments;
  int GIFAction = 2;  // disposal method
  // What the last read passed over: "Premature end of data" when the file ended inside the frame
  // read (its rows up to there were kept); empty: nothing.
  std::string GIFWarning;

  // ---- Windows bitmap ----
  uint8_t BMPVersion = 1;      // 0 or 1: 40-byte header, 2: 12-byte core header, 3: 64-byte header
  uint8_t BMPCompression = 0;  // 1: RLE4 / RLE8

  // ---- PNG ----
  bool PNGInterlaced = false;     // Adam7
  TIERGB PNGBackground{0, 0, 0};  // bKGD colour
  std::vector<std::string> PNGTextKeys;  // text chunks, parallel to PNGTextValues
  std::vector<std::string> PNGTextValues;

  // ---- icons and cursors ----
  // reader: the sizes and depths of the directory; writer: the images to write (up to the first
  // width of 0) and their depths
  TIEICOSize ICOSizes[kIEICOMaxSizes] = {{64, 64}};
  int ICOBitCount[kIEICOMaxSizes] = {8};
  int CURHotSpotX = 0, CURHotSpotY = 0;

  // ---- PNM ----
  std::vector<std::string> PXMComments;  // header comments, without "#", trimmed

  // ---- camera RAW ----
  std::string RAWCamera;  // make, model and second model of the last file read
};

// Progress and abort record handed to every codec call.
struct TIECodecProgress {
  TIEProgressEvent OnProgress;  // empty: no progress reports
  void* Sender = nullptr;
  int32_t Val = 0;     // the codec's own row or strip counter
  int32_t Tot = 0;     // not read by the codecs
  double Per1 = 0;     // as a rule 100 / rows
  double Per2 = 0;
  // The caller's outcome flag; codecs only ever set it. Atomic, since a caller may set it from another
  // thread to cancel a running codec.
  std::atomic<bool>* Aborting = nullptr;

  bool Aborted() const { return Aborting && *Aborting; }
  void Abort() { if (Aborting) *Aborting = true; }
  void Report(int per) { if (OnProgress) OnProgress(Sender, per); }
};

class TIOParamsVals : public TIEReadState, public TIETIFFFields, public TIEExifFields {
 public:
  explicit TIOParamsVals(TImageryIO* owner);
  TIOParamsVals(const TIOParamsVals&) = delete;
  TIOParamsVals& operator=(const TIOParamsVals&) = delete;

  void RestoreDefaults();
  void Assign(const TIOParamsVals& source);  // every field but the owner
  // Everything the previous load took from its file back to its default: TIEReadState, the EXIF
  // fields and the metadata objects. Every load runs it before its reader.
  void ClearImageInfo();
  void FreeColorMap();
  void SetColorMap(const TIERGB* entries, int count);
  // The resolution, its EXIF fields and, for a component attached to an image view, the view's.
  void SetDpiX(int value);
  void SetDpiY(int value);
  // The EXIF resolution as given; DpiX (DpiY) takes it truncated.
  void SetExifXResolution(double value);
  void SetExifYResolution(double value);
  void SetImageIndexValue(int n);  // every image index at once
  void SetImageCount(int n);       // every image count at once
  // Every EXIF and GPS field to its absent value, the tag list and the maker note emptied.
  void ClearExifFields();
  void SetTIFFOrientation(int n) { TIFFOrientation = ExifOrientation = n; }
  void SetReadThumbnail(bool flag) { ReadThumbnail = JPEGReadExifThumbnail = flag; }
  void SetRAWReadExifThumbnail(bool flag) { RAWReadExifThumbnail = flag; }
  TIEICC* GetInputICCProfile() { return &InputICCProfile; }
  // The destination profile of colour-managed reads: the system sRGB profile, opened on first use.
  TIEICC* GetOutputICCProfile();
  void SetExifOrientation(int n) { TIFFOrientation = ExifOrientation = n; }
  // The TIFF imaging annotations, created on first use.
  TIEImagingAnnot& GetImagingAnnot();

  TImageryIO* Owner;
  // Set by the owning component, which sits above the parameters: its attached view while the calling
  // thread may touch it, else nullptr. Not copied by Assign.
  std::function<TIEView*()> OwnerViewSource;

 private:
  TIEView* OwnerView() const;  // the owner's attached image view, when it has one
  // The EXIF resolution, in the EXIF unit, that states `dpi` (the present one when it already does).
  double ExifResolutionFor(int dpi, double present) const;

 public:
  // The settings and the inputs of readers; what a reader finds in a file is in TIEReadState.

  // ---- general ----
  std::wstring FileName;
  int Width = 0;
  int Height = 0;
  int DpiX = 0;
  int DpiY = 0;
  int FileType = 0;  // TIEFileFormatCode of the last load or save
  int ImageIndex = 0;
  bool IsResourceImage = false;  // a bitmap stream without its file header
  bool IsNativePixelFormat = false;  // readers keep the file's own pixel format
  TIEIPTCInfoList IPTCInfo;
  // The image's ICC profile as its file holds it (no raw bytes: none). Applied: a reader already
  // converted the pixels through it.
  TIEICC InputICCProfile;
  std::unique_ptr<TIEICC> OutputICCProfile;  // see GetOutputICCProfile
  // Taken by colour conversions in place of an input profile that is missing or invalid (nullptr:
  // none); GetDefaultICCProfile creates it empty on first use.
  std::unique_ptr<TIEICC> DefaultICCProfile;
  TIEICC* GetDefaultICCProfile();
  TIEDICOMTags DICOMTags;  // the data elements of the last DICOM file read
  bool ReadThumbnail = false;  // readers that can: deliver the embedded thumbnail instead of the image
  std::shared_ptr<TIEBitmap> ExifThumbnail;  // the embedded preview a reader found (nullptr: none)
  TIETagsHandler ExifMakerNote;  // the EXIF maker note (tag 37500)
  std::unique_ptr<TIEImagingAnnot> ImagingAnnot;  // TIFF imaging annotations (nullptr: none)

  // ---- PCX and DCX ----
  uint8_t PCXCompression = 1;  // run-length coding on
  int DCXImageIndex = 0;

  // ---- JPEG 2000 ----
  uint8_t J2000ColorSpace = 1;  // 0 grey, 1 and 2 RGB
  double J2000Rate = 1.0;       // below 1: lossy at that fraction of the raw size
  uint8_t J2000Progression = 0; // 0 layer-resolution-component-position, 1 resolution-layer-...

  // ---- JPEG ----
  int JPEGQuality = 80;
  uint8_t JPEGDCTMethod = 0;          // 0 integer slow, 1 integer fast, 2 float
  int JPEGChromaSubsampling = 1;      // 0 = 2x1, 1 = 2x2, 2 = 1x1
  bool JPEGOptimalHuffman = false;
  int JPEGSmooth = 0;
  int JPEGScale = 1;      // 0 automatic (the smallest decode covering Width x Height), 1 full, 2 half,
                          // 3 quarter, 4 eighth
  TIEMarkerList JPEGMarkerList;  // COM and APPn markers read, and to write
  bool JPEGEnableAdjustOrientation = false;  // turn the image read upright by its EXIF orientation
  bool JPEGReadExifThumbnail = false;        // deliver the EXIF thumbnail instead of the image

  // ---- GIF ----
  std::string GIFVersion = "GIF89a";
  int GIFImageIndex = 0;
  TIEGIFLZWDecompressor GIFLZWDecompress = IEGlobalGIFLZWDecompressor;
  TIEGIFLZWCompressor GIFLZWCompress = IEGlobalGIFLZWCompressor;

  // ---- Windows bitmap ----
  bool BMPHandleAlpha = false; // read and write the fourth byte of 32-bit pixels as alpha

  // ---- PNG ----
  uint8_t PNGFilter = 0;               // row filter written: 0 none, 1 sub, 2 Paeth
  int PNGCompression = 5;              // zlib level 0..9

  // ---- icons and cursors ----
  int ICOImageIndex = 0;
  TIERGB ICOBackground{255, 255, 255};  // given to transparent pixels of palette icons read as 24 bits
  int CURImageIndex = 0;
  TIERGB CURBackground{255, 255, 255};

  // ---- Photoshop ----
  bool PSDLoadLayers = false;    // load the layers into the attached view
  bool PSDReplaceLayers = true;  // replace the view's layers instead of adding to them

  // ---- camera RAW ----
  bool RAWReadExifThumbnail = false;  // deliver the embedded preview instead of decoding
  bool RAWHalfSize = false;           // colour-filter sensors at half width and height
  double RAWGamma = 0.6;
  double RAWBrightness = 1.0;
  double RAWRedScale = 1.0, RAWBlueScale = 1.0;  // multipliers of red and blue
  bool RAWFourColorRGB = false;      // interpolate four colours
  bool RAWUseAutoWB = false;         // white balance from the image
  bool RAWUseCameraWB = false;       // white balance the camera recorded
  bool RAWAutoAdjustColors = false;  // match the colours to the embedded preview's
  // (the metadata of Canon CRW heaps goes to the EXIF fields)

  // ---- raw pixel data ----
  uint8_t RawBitmapChannelOrder = 0;  // 0: exchange the first and third sample of RGB pixels
  // The same setting as a flag: samples already in blue-green-red order (no exchange).
  bool RawBitmapBGR() const { return RawBitmapChannelOrder != 0; }
  void SetRawBitmapBGR(bool bgr) { RawBitmapChannelOrder = bgr ? 1 : 0; }
  uint8_t RawBitmapPlanar = 0;        // 1: all rows of each channel in turn
  int RawBitmapRowAlign = 8;          // bits
  int RawBitmapHeaderSize = 0;        // bytes skipped first
  uint8_t RawBitmapDataFormat = 0;    // 0 binary, 1 ASCII decimal, 2 ASCII hexadecimal

  // ---- PostScript ----
  int PSPaperWidth = 595;   // points
  int PSPaperHeight = 842;
  // 1-bit images: 0 RunLength, 1 CCITT group 4, 2 CCITT group 3 two-dimensional (others RunLength);
  // colour images: 3 DCT (JPEG), others RunLength
  uint8_t PSCompression = 1;
  std::string PSTitle = "No Title";

  // ---- PDF ----
  int PDFPaperWidth = 595;  // points
  int PDFPaperHeight = 842;
  // 1-bit images: 0 none, 1 RunLength, 2 CCITT group 4, 3 CCITT group 3 two-dimensional (4 is taken
  // as 3), 5 LZW; colour images: 4 DCT (JPEG), 5 LZW, others none
  uint8_t PDFCompression = 2;
  // document information entries; empty ones are left out
  std::string PDFTitle, PDFAuthor, PDFSubject, PDFKeywords, PDFCreator, PDFProducer;

  // ---- AVI ----
  int AVIFrameCount = 0;  // frames of the open AVI stream
  int AVIFrameDelay = 0;  // milliseconds per frame (0: the stream states no rate)

  // ---- HD Photo ----
  double HDPImageQuality = 0.9;  // below 0: the encoder's own default
  bool HDPLossless = false;
};

// Today's date and time as a day count since 1899-12-30 with the time as its fraction.
double IENowAsDateTime();
