// The EXIF and GPS fields of the parameter object: camera metadata read from and written to the
// EXIF block of JPEG files and the EXIF and GPS directories of TIFF files. Every field holds its
// absent value until a file or the caller gives it one.
#pragma once
#include <string>
#include <vector>

struct TIEExifFields {
  bool HasExifData = false;  // the image carried EXIF data; writers emit EXIF only when set
  std::vector<int> ExifTags;  // the EXIF tags that carry a value (kept by the Set... routines)

  // ---- main directory ----
  std::string ExifImageDescription;
  std::string ExifMake;
  std::string ExifModel;
  int ExifOrientation = 1;
  double ExifXResolution = 0;
  double ExifYResolution = 0;
  int ExifResolutionUnit = 2;
  std::string ExifSoftware;
  std::string ExifDateTime;
  std::string ExifArtist;
  double ExifWhitePoint[2] = {-1, -1};
  double ExifPrimaryChromaticities[6] = {-1, -1, -1, -1, -1, -1};
  double ExifYCbCrCoefficients[3] = {-1, -1, -1};
  int ExifYCbCrPositioning = -1;
  double ExifReferenceBlackWhite[6] = {-1, -1, -1, -1, -1, -1};
  std::string ExifCopyright;
  int ExifRating = -1;
  std::wstring ExifXPTitle;
  std::wstring ExifXPComment;
  std::wstring ExifXPAuthor;
  std::wstring ExifXPKeywords;
  std::wstring ExifXPSubject;

  // ---- EXIF directory ----
  double ExifExposureTime = -1;
  double ExifFNumber = -1;
  int ExifExposureProgram = -1;
  int ExifISOSpeedRatings[2] = {0, 0};
  std::string ExifExifVersion;
  std::string ExifDateTimeOriginal;
  std::string ExifDateTimeDigitized;
  double ExifCompressedBitsPerPixel = 0;
  double ExifShutterSpeedValue = -1;
  double ExifApertureValue = -1;
  double ExifBrightnessValue = -1000;
  double ExifExposureBiasValue = -1000;
  double ExifMaxApertureValue = -1000;
  double ExifSubjectDistance = -1;
  int ExifMeteringMode = -1;
  int ExifLightSource = -1;
  int ExifFlash = -1;
  double ExifFocalLength = -1;
  std::wstring ExifUserComment;
  std::string ExifUserCommentCode;  // 8 characters: "UNICODE\0", "ASCII\0\0\0", ...
  std::string ExifSubsecTime;
  std::string ExifSubsecTimeOriginal;
  std::string ExifSubsecTimeDigitized;
  std::string ExifFlashPixVersion;
  int ExifColorSpace = -1;
  int ExifPixelXDimension = 0;
  int ExifPixelYDimension = 0;
  std::string ExifRelatedSoundFile;
  double ExifFocalPlaneXResolution = -1;
  double ExifFocalPlaneYResolution = -1;
  int ExifFocalPlaneResolutionUnit = -1;
  double ExifExposureIndex = -1;
  int ExifSensingMethod = -1;
  int ExifFileSource = -1;
  int ExifSceneType = -1;
  int ExifExposureMode = -1;
  int ExifWhiteBalance = -1;
  double ExifDigitalZoomRatio = -1;
  int ExifFocalLengthIn35mmFilm = -1;
  int ExifSceneCaptureType = -1;
  int ExifGainControl = -1;
  int ExifContrast = -1;
  int ExifSaturation = -1;
  int ExifSharpness = -1;
  int ExifSubjectDistanceRange = -1;
  std::string ExifImageUniqueID;

  // ---- GPS directory ----
  std::string GPSVersionID;  // "2.2.0.0"; empty: no GPS directory
  std::string GPSLatitudeRef;
  double GPSLatitude[3] = {0, 0, 0};  // degrees, minutes, seconds
  std::string GPSLongitudeRef;
  double GPSLongitude[3] = {0, 0, 0};
  std::string GPSAltitudeRef = "0";
  double GPSAltitude = 0;
  double GPSTimeStamp[3] = {0, 0, 0};
  std::string GPSSatellites;
  std::string GPSStatus;
  std::string GPSMeasureMode;
  double GPSDOP = 0;
  std::string GPSSpeedRef;
  double GPSSpeed = 0;
  std::string GPSTrackRef;
  double GPSTrack = 0;
  std::string GPSImgDirectionRef;
  double GPSImgDirection = 0;
  std::string GPSMapDatum;
  std::string GPSDestLatitudeRef;
  double GPSDestLatitude[3] = {0, 0, 0};
  std::string GPSDestLongitudeRef;
  double GPSDestLongitude[3] = {0, 0, 0};
  std::string GPSDestBearingRef;
  double GPSDestBearing = 0;
  std::string GPSDestDistanceRef;
  double GPSDestDistance = 0;
  std::string GPSDateStamp;

  // Fields whose tag is listed in ExifTags exactly while they differ from their absent value.
  void SetExifExposureTime(double v) { SetListed(ExifExposureTime, v, -1.0, 33434); }
  void SetExifFNumber(double v) { SetListed(ExifFNumber, v, -1.0, 33437); }
  void SetExifExposureProgram(int v) { SetListed(ExifExposureProgram, v, -1, 34850); }
  void SetExifCompressedBitsPerPixel(double v) { SetListed(ExifCompressedBitsPerPixel, v, 0.0, 37122); }
  void SetExifShutterSpeedValue(double v) { SetListed(ExifShutterSpeedValue, v, -1.0, 37377); }
  void SetExifApertureValue(double v) { SetListed(ExifApertureValue, v, -1.0, 37378); }
  void SetExifBrightnessValue(double v) { SetListed(ExifBrightnessValue, v, -1000.0, 37379); }
  void SetExifExposureBiasValue(double v) { SetListed(ExifExposureBiasValue, v, -1000.0, 37380); }
  void SetExifMaxApertureValue(double v) { SetListed(ExifMaxApertureValue, v, -1000.0, 37381); }
  void SetExifSubjectDistance(double v) { SetListed(ExifSubjectDistance, v, -1.0, 37382); }
  void SetExifMeteringMode(int v) { SetListed(ExifMeteringMode, v, -1, 37383); }
  void SetExifLightSource(int v) { SetListed(ExifLightSource, v, -1, 37384); }
  void SetExifFlash(int v) { SetListed(ExifFlash, v, -1, 37385); }
  void SetExifFocalLength(double v) { SetListed(ExifFocalLength, v, -1.0, 37386); }
  void SetExifColorSpace(int v) { SetListed(ExifColorSpace, v, -1, 40961); }
  void SetExifPixelXDimension(int v) { SetListed(ExifPixelXDimension, v, 0, 40962); }
  void SetExifPixelYDimension(int v) { SetListed(ExifPixelYDimension, v, 0, 40963); }
  void SetExifFocalPlaneXResolution(double v) { SetListed(ExifFocalPlaneXResolution, v, -1.0, 41486); }
  void SetExifFocalPlaneYResolution(double v) { SetListed(ExifFocalPlaneYResolution, v, -1.0, 41487); }
  void SetExifFocalPlaneResolutionUnit(int v) { SetListed(ExifFocalPlaneResolutionUnit, v, -1, 41488); }
  void SetExifExposureIndex(double v) { SetListed(ExifExposureIndex, v, -1.0, 41493); }
  void SetExifSensingMethod(int v) { SetListed(ExifSensingMethod, v, -1, 41495); }
  void SetExifFileSource(int v) { SetListed(ExifFileSource, v, -1, 41728); }
  void SetExifSceneType(int v) { SetListed(ExifSceneType, v, -1, 41729); }
  bool ExifTagListed(int tag) const;
  void ListTag(int tag, bool present);  // adds or removes the tag of ExifTags

 protected:
  template <typename T>
  void SetListed(T& field, T value, T absent, int tag) {
    field = value;
    ListTag(tag, value != absent);
  }
};
