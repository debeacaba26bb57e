// The parameter object's defaults, copying and clearing.
#include "ioparams.h"

#include <windows.h>

#include "iebitmap.h"
#include "ieexifglue.h"
#include "ieview.h"
#include <algorithm>

int IEDefaultDPIX = 300;
int IEDefaultDPIY = 300;
TIEGIFLZWDecompressor IEGlobalGIFLZWDecompressor = IEGIFLZWDecompress;
TIEGIFLZWCompressor IEGlobalGIFLZWCompressor = IEGIFLZWCompress;
TIETIFFLZWDecompressor IEGlobalTIFFLZWDecompressor = IETIFFLZWDecompress;
TIETIFFLZWCompressor IEGlobalTIFFLZWCompressor = IETIFFLZWCompress;

double IENowAsDateTime() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  // days from the civil date (proleptic Gregorian), then shifted to the 1899-12-30 epoch
  int y = st.wYear, m = st.wMonth, d = st.wDay;
  y -= m <= 2;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t daysSince1970 = int64_t(era) * 146097 + doe - 719468;
  const double day = double(daysSince1970 + 25569);
  return day + (st.wHour * 3600.0 + st.wMinute * 60.0 + st.wSecond) / 86400.0;
}

TIOParamsVals::TIOParamsVals(TImageryIO* owner) : Owner(nullptr) {
  RestoreDefaults();
  // the owner is still being built (no view, no thread list yet): the resolution goes in directly
  Owner = owner;
  if (owner) {
    DpiX = IEDefaultDPIX;
    DpiY = IEDefaultDPIY;
    ExifXResolution = DpiX;
    ExifYResolution = DpiY;
  }
}

void TIOParamsVals::RestoreDefaults() {
  ClearImageInfo();
  FileName.clear();
  FileType = 0;
  IsNativePixelFormat = false;
  IsResourceImage = false;
  if (Owner) {
    SetDpiX(IEDefaultDPIX);
    SetDpiY(IEDefaultDPIY);
  }
  SetImageIndexValue(0);
  SetImageCount(0);
  PCXCompression = 1;
  J2000ColorSpace = 1;
  J2000Rate = 1.0;
  J2000Progression = 0;
  JPEGQuality = 80;
  JPEGDCTMethod = 0;
  JPEGChromaSubsampling = 1;
  JPEGOptimalHuffman = false;
  JPEGSmooth = 0;
  JPEGScale = 1;
  JPEGEnableAdjustOrientation = false;
  JPEGReadExifThumbnail = false;
  OutputICCProfile.reset();
  DefaultICCProfile.reset();
  GIFVersion = "GIF89a";
  GIFLZWDecompress = IEGlobalGIFLZWDecompressor;
  GIFLZWCompress = IEGlobalGIFLZWCompressor;
  BMPHandleAlpha = false;
  PNGFilter = 0;
  PNGCompression = 5;
  ICOBackground = TIERGB{255, 255, 255};
  CURBackground = TIERGB{255, 255, 255};
  RawBitmapChannelOrder = 0;
  RawBitmapPlanar = 0;
  RawBitmapRowAlign = 8;
  RawBitmapHeaderSize = 0;
  RawBitmapDataFormat = 0;
  PSPaperWidth = 595;
  PSPaperHeight = 842;
  PSCompression = 1;
  PSTitle = "No Title";
  PDFPaperWidth = 595;
  PDFPaperHeight = 842;
  PDFCompression = 2;
  PDFTitle.clear();
  PDFAuthor.clear();
  PDFSubject.clear();
  PDFKeywords.clear();
  PDFCreator.clear();
  PDFProducer.clear();
  AVIFrameDelay = 0;
  HDPImageQuality = 0.9;
  HDPLossless = false;
  ReadThumbnail = false;
  PSDLoadLayers = false;
  PSDReplaceLayers = true;
  RAWReadExifThumbnail = false;
  RAWHalfSize = false;
  RAWGamma = 0.6;
  RAWBrightness = 1.0;
  RAWRedScale = RAWBlueScale = 1.0;
  RAWFourColorRGB = RAWUseAutoWB = RAWUseCameraWB = RAWAutoAdjustColors = false;
  static_cast<TIETIFFFields&>(*this) = TIETIFFFields();
}

TIEImagingAnnot& TIOParamsVals::GetImagingAnnot() {
  if (!ImagingAnnot) ImagingAnnot = std::make_unique<TIEImagingAnnot>();
  return *ImagingAnnot;
}

void TIOParamsVals::ClearExifFields() {
  static_cast<TIEExifFields&>(*this) = TIEExifFields();
  ExifMakerNote.Clear();
  ExifThumbnail.reset();
  for (int i = 0; i < JPEGMarkerList.Count(); ++i)
    if (JPEGMarkerList.GetMarkerType(i) == 0xE1 &&
        IEIsExifMarker(JPEGMarkerList.GetMarkerData(i), size_t(JPEGMarkerList.GetMarkerLength(i)))) {
      JPEGMarkerList.Delete(i);
      break;
    }
}

bool TIEExifFields::ExifTagListed(int tag) const {
  return std::find(ExifTags.begin(), ExifTags.end(), tag) != ExifTags.end();
}

void TIEExifFields::ListTag(int tag, bool present) {
  const auto at = std::find(ExifTags.begin(), ExifTags.end(), tag);
  if (present && at == ExifTags.end()) ExifTags.push_back(tag);
  if (!present && at != ExifTags.end()) ExifTags.erase(at);
}

void TIOParamsVals::Assign(const TIOParamsVals& s) {
  if (&s == this) return;
  TImageryIO* owner = Owner;
  static_cast<TIEReadState&>(*this) = s;
  FileName = s.FileName;
  Width = s.Width;
  Height = s.Height;
  SetDpiX(s.DpiX);
  SetDpiY(s.DpiY);
  FileType = s.FileType;
  SetImageIndexValue(s.ImageIndex);
  DCXImageIndex = s.DCXImageIndex;
  GIFImageIndex = s.GIFImageIndex;
  IsResourceImage = s.IsResourceImage;
  IsNativePixelFormat = s.IsNativePixelFormat;
  IPTCInfo.Assign(&s.IPTCInfo);
  InputICCProfile.Assign(&s.InputICCProfile);
  InputICCProfile.Applied = s.InputICCProfile.Applied;
  OutputICCProfile.reset();  // the system profile again, on first use
  if (s.DefaultICCProfile) GetDefaultICCProfile()->Assign(s.DefaultICCProfile.get());
  else DefaultICCProfile.reset();
  DICOMTags.Assign(s.DICOMTags);
  PCXCompression = s.PCXCompression;
  J2000ColorSpace = s.J2000ColorSpace;
  J2000Rate = s.J2000Rate;
  J2000Progression = s.J2000Progression;
  JPEGQuality = s.JPEGQuality;
  JPEGDCTMethod = s.JPEGDCTMethod;
  JPEGChromaSubsampling = s.JPEGChromaSubsampling;
  JPEGOptimalHuffman = s.JPEGOptimalHuffman;
  JPEGSmooth = s.JPEGSmooth;
  JPEGScale = s.JPEGScale;
  JPEGMarkerList.Assign(&s.JPEGMarkerList);
  JPEGEnableAdjustOrientation = s.JPEGEnableAdjustOrientation;
  JPEGReadExifThumbnail = s.JPEGReadExifThumbnail;
  GIFVersion = s.GIFVersion;
  GIFLZWDecompress = s.GIFLZWDecompress;
  GIFLZWCompress = s.GIFLZWCompress;
  BMPHandleAlpha = s.BMPHandleAlpha;
  PNGFilter = s.PNGFilter;
  PNGCompression = s.PNGCompression;
  ICOImageIndex = s.ICOImageIndex;
  ICOBackground = s.ICOBackground;
  CURImageIndex = s.CURImageIndex;
  CURBackground = s.CURBackground;
  RawBitmapChannelOrder = s.RawBitmapChannelOrder;
  RawBitmapPlanar = s.RawBitmapPlanar;
  RawBitmapRowAlign = s.RawBitmapRowAlign;
  RawBitmapHeaderSize = s.RawBitmapHeaderSize;
  RawBitmapDataFormat = s.RawBitmapDataFormat;
  PSPaperWidth = s.PSPaperWidth;
  PSPaperHeight = s.PSPaperHeight;
  PSCompression = s.PSCompression;
  PSTitle = s.PSTitle;
  PDFPaperWidth = s.PDFPaperWidth;
  PDFPaperHeight = s.PDFPaperHeight;
  PDFCompression = s.PDFCompression;
  PDFTitle = s.PDFTitle;
  PDFAuthor = s.PDFAuthor;
  PDFSubject = s.PDFSubject;
  PDFKeywords = s.PDFKeywords;
  PDFCreator = s.PDFCreator;
  PDFProducer = s.PDFProducer;
  AVIFrameCount = s.AVIFrameCount;
  AVIFrameDelay = s.AVIFrameDelay;
  HDPImageQuality = s.HDPImageQuality;
  HDPLossless = s.HDPLossless;
  ReadThumbnail = s.ReadThumbnail;
  ExifThumbnail.reset();
  if (s.ExifThumbnail) {
    ExifThumbnail = std::make_shared<TIEBitmap>();
    ExifThumbnail->Assign(s.ExifThumbnail.get());
  }
  PSDLoadLayers = s.PSDLoadLayers;
  PSDReplaceLayers = s.PSDReplaceLayers;
  RAWReadExifThumbnail = s.RAWReadExifThumbnail;
  RAWHalfSize = s.RAWHalfSize;
  RAWGamma = s.RAWGamma;
  RAWBrightness = s.RAWBrightness;
  RAWRedScale = s.RAWRedScale;
  RAWBlueScale = s.RAWBlueScale;
  RAWFourColorRGB = s.RAWFourColorRGB;
  RAWUseAutoWB = s.RAWUseAutoWB;
  RAWUseCameraWB = s.RAWUseCameraWB;
  RAWAutoAdjustColors = s.RAWAutoAdjustColors;
  static_cast<TIETIFFFields&>(*this) = s;
  IECopyExifParams(s, *this);
  if (s.ImagingAnnot) GetImagingAnnot().Assign(s.ImagingAnnot.get());
  else ImagingAnnot.reset();
  Owner = owner;
}

void TIOParamsVals::ClearImageInfo() {
  // A load that finds less than the file before it must not let that file travel on into the next
  // save: the whole read state, then the metadata objects, which have their own storage.
  static_cast<TIEReadState&>(*this) = TIEReadState();
  TGADate = IENowAsDateTime();
  IPTCInfo.Clear();
  IPTCInfo.SetChanged(false);
  ImagingAnnot.reset();
  JPEGMarkerList.Clear();
  ClearExifFields();
  DICOMTags.Clear();
  InputICCProfile.Clear();
}

void TIOParamsVals::FreeColorMap() {
  ColorMap.clear();
  ColorMap.shrink_to_fit();
  ColorMapCount = 0;
}

void TIOParamsVals::SetColorMap(const TIERGB* entries, int count) {
  FreeColorMap();
  if (count <= 0) return;
  ColorMap.assign(entries, entries + count);
  ColorMapCount = count;
}

TIEICC* TIOParamsVals::GetOutputICCProfile() {
  if (!OutputICCProfile) {
    OutputICCProfile.reset(new TIEICC);
    OutputICCProfile->LoadSRGB();
  }
  return OutputICCProfile.get();
}

double TIOParamsVals::ExifResolutionFor(int dpi, double present) const {
  // EXIF states the resolution in its own unit: a value in centimetres must stay one
  const double perUnit = ExifResolutionUnit == 3 ? 2.54 : 1.0;
  const double inDpi = present * perUnit;
  if (int(inDpi) == dpi || int(inDpi + 0.5) == dpi) return present;  // keeps a fraction the dpi lost
  return dpi / perUnit;
}

void TIOParamsVals::SetDpiX(int value) {
  DpiX = value;
  ExifXResolution = ExifResolutionFor(value, ExifXResolution);
  if (TIEView* v = OwnerView()) v->SetImageDpiX(value);
}

void TIOParamsVals::SetDpiY(int value) {
  DpiY = value;
  ExifYResolution = ExifResolutionFor(value, ExifYResolution);
  if (TIEView* v = OwnerView()) v->SetImageDpiY(value);
}

void TIOParamsVals::SetExifXResolution(double value) {
  SetDpiX(int(value));
  ExifXResolution = value;
}

void TIOParamsVals::SetExifYResolution(double value) {
  SetDpiY(int(value));
  ExifYResolution = value;
}

TIEView* TIOParamsVals::OwnerView() const { return Owner && OwnerViewSource ? OwnerViewSource() : nullptr; }

TIEICC* TIOParamsVals::GetDefaultICCProfile() {
  if (!DefaultICCProfile) DefaultICCProfile.reset(new TIEICC);
  return DefaultICCProfile.get();
}

void TIOParamsVals::SetImageIndexValue(int n) {
  ImageIndex = n;
  TIFFImageIndex = n;
  DCXImageIndex = n;
  GIFImageIndex = n;
  ICOImageIndex = n;
  CURImageIndex = n;
}

void TIOParamsVals::SetImageCount(int n) {
  ImageCount = n;
  TIFFImageCount = n;
  GIFImageCount = n;
  AVIFrameCount = n;
}
