// The camera metadata of TIFF structures.
#include "tifexif.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "iestreams.h"

namespace {

using TP = TIOParamsVals;

constexpr uint16_t kTagExifIFD = 34665, kTagGPSIFD = 34853, kTagMakerNote = 37500, kTagUserComment = 37510;

// ---- the tables ----
// How a field is written: always, when not empty / not absent, or when its tag is listed.
enum TWhen { kAlways, kPresent, kListed };

struct TTextField {
  uint16_t tag;
  std::string TP::*field;
  bool inlineRaw;  // a fixed-width field read as bytes and written as it stands, count = length
  TWhen when;
};
struct TIntField {
  uint16_t tag;
  int TP::*field;
  int absent;
  uint16_t type;  // SHORT, or UNDEFINED for one-byte codes
  TWhen when;
};
struct TRatField {
  uint16_t tag;
  double TP::*field;
  double absent;
  TWhen when;
};
template <int N>
struct TRatArray {
  uint16_t tag;
  double (TP::*field)[N];
};
struct TWideField {
  uint16_t tag;
  std::wstring TP::*field;
};

const TTextField kMainTexts[] = {
    {271, &TP::ExifMake, false, kPresent},   {272, &TP::ExifModel, false, kPresent},
    {305, &TP::ExifSoftware, false, kPresent}, {306, &TP::ExifDateTime, false, kPresent},
    {315, &TP::ExifArtist, false, kPresent}, {33432, &TP::ExifCopyright, false, kPresent},
};
const TWideField kXPTexts[] = {
    {40091, &TP::ExifXPTitle},    {40092, &TP::ExifXPComment}, {40093, &TP::ExifXPAuthor},
    {40094, &TP::ExifXPKeywords}, {40095, &TP::ExifXPSubject},
};

const TTextField kExifTexts[] = {
    {36864, &TP::ExifExifVersion, true, kAlways},
    {36867, &TP::ExifDateTimeOriginal, false, kPresent},
    {36868, &TP::ExifDateTimeDigitized, false, kPresent},
    {37520, &TP::ExifSubsecTime, false, kPresent},
    {37521, &TP::ExifSubsecTimeOriginal, false, kPresent},
    {37522, &TP::ExifSubsecTimeDigitized, false, kPresent},
    {40960, &TP::ExifFlashPixVersion, true, kPresent},
    {40964, &TP::ExifRelatedSoundFile, false, kPresent},
    {42016, &TP::ExifImageUniqueID, false, kPresent},
};
const TIntField kExifInts[] = {
    {34850, &TP::ExifExposureProgram, -1, kTIFFShort, kListed},
    {37383, &TP::ExifMeteringMode, -1, kTIFFShort, kListed},
    {37384, &TP::ExifLightSource, -1, kTIFFShort, kListed},
    {37385, &TP::ExifFlash, -1, kTIFFShort, kListed},
    {40961, &TP::ExifColorSpace, -1, kTIFFShort, kListed},
    {40962, &TP::ExifPixelXDimension, 0, kTIFFShort, kListed},
    {40963, &TP::ExifPixelYDimension, 0, kTIFFShort, kListed},
    {41488, &TP::ExifFocalPlaneResolutionUnit, -1, kTIFFShort, kListed},
    {41495, &TP::ExifSensingMethod, -1, kTIFFShort, kListed},
    {41728, &TP::ExifFileSource, -1, kTIFFUndefined, kListed},
    {41729, &TP::ExifSceneType, -1, kTIFFUndefined, kListed},
    {41986, &TP::ExifExposureMode, -1, kTIFFShort, kPresent},
    {41987, &TP::ExifWhiteBalance, -1, kTIFFShort, kPresent},
    {41989, &TP::ExifFocalLengthIn35mmFilm, -1, kTIFFShort, kPresent},
    {41990, &TP::ExifSceneCaptureType, -1, kTIFFShort, kPresent},
    {41991, &TP::ExifGainControl, -1, kTIFFShort, kPresent},
    {41992, &TP::ExifContrast, -1, kTIFFShort, kPresent},
    {41993, &TP::ExifSaturation, -1, kTIFFShort, kPresent},
    {41994, &TP::ExifSharpness, -1, kTIFFShort, kPresent},
    {41996, &TP::ExifSubjectDistanceRange, -1, kTIFFShort, kPresent},
};
const TRatField kExifRats[] = {
    {33434, &TP::ExifExposureTime, -1, kListed},
    {33437, &TP::ExifFNumber, -1, kListed},
    {37122, &TP::ExifCompressedBitsPerPixel, 0, kListed},
    {37377, &TP::ExifShutterSpeedValue, -1, kListed},
    {37378, &TP::ExifApertureValue, -1, kListed},
    {37379, &TP::ExifBrightnessValue, -1000, kListed},
    {37380, &TP::ExifExposureBiasValue, -1000, kListed},
    {37381, &TP::ExifMaxApertureValue, -1000, kListed},
    {37382, &TP::ExifSubjectDistance, -1, kListed},
    {37386, &TP::ExifFocalLength, -1, kListed},
    {41486, &TP::ExifFocalPlaneXResolution, -1, kListed},
    {41487, &TP::ExifFocalPlaneYResolution, -1, kListed},
    {41493, &TP::ExifExposureIndex, -1, kListed},
    {41988, &TP::ExifDigitalZoomRatio, -1, kPresent},
};

const TTextField kGPSTexts[] = {
    {1, &TP::GPSLatitudeRef, true, kAlways},      {3, &TP::GPSLongitudeRef, true, kAlways},
    {8, &TP::GPSSatellites, false, kPresent},     {9, &TP::GPSStatus, true, kAlways},
    {10, &TP::GPSMeasureMode, true, kAlways},     {12, &TP::GPSSpeedRef, true, kAlways},
    {14, &TP::GPSTrackRef, true, kAlways},        {16, &TP::GPSImgDirectionRef, true, kAlways},
    {18, &TP::GPSMapDatum, false, kPresent},      {19, &TP::GPSDestLatitudeRef, true, kAlways},
    {21, &TP::GPSDestLongitudeRef, true, kAlways}, {23, &TP::GPSDestBearingRef, true, kAlways},
    {25, &TP::GPSDestDistanceRef, true, kAlways}, {29, &TP::GPSDateStamp, false, kPresent},
};
const TRatField kGPSRats[] = {
    {6, &TP::GPSAltitude, 0, kAlways},      {11, &TP::GPSDOP, 0, kAlways},
    {13, &TP::GPSSpeed, 0, kAlways},        {15, &TP::GPSTrack, 0, kAlways},
    {17, &TP::GPSImgDirection, 0, kAlways}, {24, &TP::GPSDestBearing, 0, kAlways},
    {26, &TP::GPSDestDistance, 0, kAlways},
};
const TRatArray<3> kGPSTriples[] = {
    {2, &TP::GPSLatitude}, {4, &TP::GPSLongitude}, {7, &TP::GPSTimeStamp},
    {20, &TP::GPSDestLatitude}, {22, &TP::GPSDestLongitude},
};

const char kUnicodeCode[8] = {'U', 'N', 'I', 'C', 'O', 'D', 'E', 0};

bool Wanted(TWhen when, bool present, bool listed) {
  return when == kAlways || (when == kPresent && present) || (when == kListed && listed);
}

template <int N>
bool AnySet(const double (&v)[N]) {
  for (double d : v)
    if (d != -1) return true;
  return false;
}

// A text as the field holds it: fixed-width fields as they stand, others as text.
void AddText(TIETIFFTagWriter& w, const TTextField& f, const std::string& v) {
  if (!Wanted(f.when, !v.empty(), false)) return;
  if (f.inlineRaw) w.AddAsciiRaw(f.tag, v);
  else w.AddAscii(f.tag, v);
}

// Windows XP texts: UTF-16 with a closing zero unit, as BYTE.
void AddWide(TIETIFFTagWriter& w, uint16_t tag, const std::wstring& text) {
  if (text.empty()) return;
  std::vector<uint8_t> b;
  for (wchar_t c : text) {
    b.push_back(uint8_t(c));
    b.push_back(uint8_t(uint16_t(c) >> 8));
  }
  b.push_back(0);
  b.push_back(0);
  w.AddBlock(tag, kTIFFByte, uint32_t(b.size()), b.data(), b.size());
}

void AddUserComment(TIETIFFTagWriter& w, const TP& p) {
  if (p.ExifUserComment.empty()) return;
  std::string code = p.ExifUserCommentCode.empty() ? std::string(kUnicodeCode, 8) : p.ExifUserCommentCode;
  code.resize(8, '\0');
  std::vector<uint8_t> b(code.begin(), code.end());
  if (code == std::string(kUnicodeCode, 8)) {
    for (wchar_t c : p.ExifUserComment) {
      b.push_back(uint8_t(c));
      b.push_back(uint8_t(uint16_t(c) >> 8));
    }
    b.push_back(0);
    b.push_back(0);
  } else {
    // "ASCII" and any other code: the text in 8 bits with one closing zero
    const std::string text = IEWideToAnsi(p.ExifUserComment);
    b.insert(b.end(), text.begin(), text.end());
    b.push_back(0);
  }
  w.AddBlock(kTagUserComment, kTIFFUndefined, uint32_t(b.size()), b.data(), b.size());
}

void AddMakerNote(TIETIFFTagWriter& w, const TP& p) {
  // the maker-note handler keeps and writes its entries little-endian only
  if (p.ExifMakerNote.InternalStream().Size() < 13 || w.BigEndian()) return;
  const uint32_t at = w.AlignEven();
  const int32_t n = p.ExifMakerNote.WriteToStream(w.Stream());
  if (n > 0) w.AddEntry(kTagMakerNote, kTIFFUndefined, uint32_t(n), at);
}

uint32_t WriteExifDirectory(TIETIFFTagWriter& main, const TP& p) {
  TIETIFFTagWriter w(main.Stream(), main.Aborting(), main.BigEndian());
  for (const TRatField& f : kExifRats)
    if (Wanted(f.when, p.*f.field != f.absent, p.ExifTagListed(f.tag))) w.AddRational(f.tag, p.*f.field);
  for (const TIntField& f : kExifInts) {
    const int v = p.*f.field;
    if (!Wanted(f.when, v != f.absent, p.ExifTagListed(f.tag))) continue;
    if (f.type == kTIFFUndefined) w.AddByte(f.tag, uint8_t(v), kTIFFUndefined);
    else if (v > 0xFFFF) w.AddLong(f.tag, uint32_t(v));  // pixel dimensions past the SHORT range
    else w.AddShort(f.tag, uint32_t(v));
  }
  if (p.ExifISOSpeedRatings[1] != 0)
    w.AddShorts(34855, {uint16_t(p.ExifISOSpeedRatings[0]), uint16_t(p.ExifISOSpeedRatings[1])});
  else if (p.ExifISOSpeedRatings[0] != 0)
    w.AddShort(34855, uint32_t(p.ExifISOSpeedRatings[0]));
  for (const TTextField& f : kExifTexts) AddText(w, f, p.*f.field);
  AddMakerNote(w, p);
  AddUserComment(w, p);
  return w.WriteDirectory(0);
}

uint32_t WriteGPSDirectory(TIETIFFTagWriter& main, const TP& p) {
  TIETIFFTagWriter w(main.Stream(), main.Aborting(), main.BigEndian());
  std::vector<uint8_t> version;
  for (size_t at = 0; at <= p.GPSVersionID.size();) {
    size_t dot = p.GPSVersionID.find('.', at);
    if (dot == std::string::npos) dot = p.GPSVersionID.size();
    version.push_back(uint8_t(std::atoi(p.GPSVersionID.substr(at, dot - at).c_str())));
    at = dot + 1;
  }
  w.AddBlock(0, kTIFFByte, uint32_t(version.size()), version.data(), version.size());
  for (const TTextField& f : kGPSTexts) AddText(w, f, p.*f.field);
  for (const TRatArray<3>& f : kGPSTriples) w.AddRationals(f.tag, p.*f.field, 3);
  w.AddByte(5, uint8_t(std::atoi(p.GPSAltitudeRef.c_str())));
  for (const TRatField& f : kGPSRats) w.AddRational(f.tag, p.*f.field);
  return w.WriteDirectory(0);
}

// ---- reading ----

std::string Text(const TIETIFFDirectory& d, uint16_t tag, bool raw) {
  std::string s = d.Bytes(tag);
  // longer texts end at their first NUL; up to 4 bytes are taken as they stand
  if (!raw && s.size() > 4) {
    const size_t nul = s.find('\0');
    if (nul != std::string::npos) s.resize(nul);
  }
  return s;
}

std::wstring Wide(const TIETIFFDirectory& d, uint16_t tag) {
  const std::string b = d.Bytes(tag);
  std::wstring s;
  for (size_t i = 0; i + 1 < b.size(); i += 2) {
    const wchar_t c = wchar_t(uint8_t(b[i]) | uint8_t(b[i + 1]) << 8);
    if (c == 0) break;
    s.push_back(c);
  }
  return s;
}

int Int(const TIETIFFDirectory& d, uint16_t tag, int absent) {
  return d.Find(tag) ? int(d.Value(tag)) : absent;
}

double Rat(const TIETIFFDirectory& d, uint16_t tag, uint32_t i, double absent) {
  return d.Find(tag) && d.Count(tag) > i ? d.Rational(tag, i) : absent;
}

template <int N>
void RatArray(const TIETIFFDirectory& d, uint16_t tag, double (&out)[N], double absent) {
  for (int i = 0; i < N; ++i) out[i] = Rat(d, tag, uint32_t(i), absent);
}

void ReadUserComment(const TIETIFFDirectory& d, TP& p) {
  const std::string b = d.Bytes(kTagUserComment);
  p.ExifUserComment.clear();
  if (b.size() <= 8) {
    p.ExifUserCommentCode.assign(kUnicodeCode, 8);
    return;
  }
  p.ExifUserCommentCode = b.substr(0, 8);
  const std::string rest = b.substr(8);
  if (p.ExifUserCommentCode == std::string(kUnicodeCode, 8)) {
    for (size_t i = 0; i < rest.size(); i += 2) {
      const uint16_t c = uint16_t(uint8_t(rest[i]) | (i + 1 < rest.size() ? uint8_t(rest[i + 1]) << 8 : 0));
      p.ExifUserComment.push_back(wchar_t(c));
    }
  } else {
    p.ExifUserComment = IEAnsiToWide(rest);
  }
  // the closing zeros are not part of the text
  while (!p.ExifUserComment.empty() && p.ExifUserComment.back() == 0) p.ExifUserComment.pop_back();
}

void ReadMakerNote(const TIETIFFDirectory& d, TP& p) {
  p.ExifMakerNote.Clear();
  const TIETIFFEntry* e = d.Find(kTagMakerNote);
  if (!e || e->count == 0 || e->count > uint32_t(INT32_MAX)) return;
  const TIETIFFFile& f = *d.file;
  if (!f.Has(e->valueOffset, e->count) || !f.Stream()) return;
  // the note's own offsets count from the start of the TIFF structure, as the positions of this view
  f.Stream()->SetPosition(f.Base());
  TIEBufferedReadStream s(*f.Stream(), 8192, true);
  s.SetPosition(int64_t(e->valueOffset));
  p.ExifMakerNote.ReadFromStream(s, int32_t(e->count), !f.bigEndian);
}

}  // namespace

void IETIFFAddExifTags(TIETIFFTagWriter& w, const TIOParamsVals& p) {
  const uint32_t exif = WriteExifDirectory(w, p);
  const uint32_t gps = p.GPSVersionID.empty() ? 0 : WriteGPSDirectory(w, p);
  w.AddAscii(270, p.TIFFImageDescription.empty() ? p.ExifImageDescription : p.TIFFImageDescription);
  for (const TTextField& f : kMainTexts) AddText(w, f, p.*f.field);
  w.AddShort(274, uint32_t(p.TIFFOrientation));
  if (p.ExifXResolution != 0) w.AddRational(282, p.ExifXResolution);
  if (p.ExifYResolution != 0) w.AddRational(283, p.ExifYResolution);
  w.AddShort(296, 2);
  if (p.ExifWhitePoint[0] != -1 || p.ExifWhitePoint[1] != -1) w.AddRationals(318, p.ExifWhitePoint, 2);
  if (AnySet(p.ExifPrimaryChromaticities)) w.AddRationals(319, p.ExifPrimaryChromaticities, 6);
  if (AnySet(p.ExifYCbCrCoefficients)) w.AddRationals(529, p.ExifYCbCrCoefficients, 3);
  if (p.ExifYCbCrPositioning != 0 && p.ExifYCbCrPositioning != -1) w.AddShort(531, uint32_t(p.ExifYCbCrPositioning));
  if (AnySet(p.ExifReferenceBlackWhite)) w.AddRationals(532, p.ExifReferenceBlackWhite, 6);
  if (p.ExifRating >= 0) w.AddShort(18246, uint32_t(p.ExifRating));
  for (const TWideField& f : kXPTexts) AddWide(w, f.tag, p.*f.field);
  w.AddLong(kTagExifIFD, exif);
  if (gps) w.AddLong(kTagGPSIFD, gps);
}

void IETIFFReadExifTags(const TIETIFFDirectory& main, const TIETIFFDirectory* exif, const TIETIFFDirectory* gps,
                        TIOParamsVals& p) {
  p.ExifImageDescription = Text(main, 270, false);
  for (const TTextField& f : kMainTexts) p.*f.field = Text(main, f.tag, false);
  p.SetExifOrientation(Int(main, 274, 1));
  if (main.Find(282)) p.ExifXResolution = main.Rational(282);
  if (main.Find(283)) p.ExifYResolution = main.Rational(283);
  p.ExifResolutionUnit = Int(main, 296, 2);
  RatArray(main, 318, p.ExifWhitePoint, -1);
  RatArray(main, 319, p.ExifPrimaryChromaticities, -1);
  RatArray(main, 529, p.ExifYCbCrCoefficients, -1);
  p.ExifYCbCrPositioning = Int(main, 531, -1);
  RatArray(main, 532, p.ExifReferenceBlackWhite, -1);
  p.ExifRating = Int(main, 18246, -1);
  for (const TWideField& f : kXPTexts) p.*f.field = Wide(main, f.tag);

  TIETIFFDirectory none;
  TIETIFFFile empty;
  none.file = &empty;
  const TIETIFFDirectory& e = exif ? *exif : none;
  p.HasExifData = exif != nullptr;
  for (const TRatField& f : kExifRats) {
    const double v = Rat(e, f.tag, 0, f.absent);
    p.*f.field = v;
    if (f.when == kListed) p.ListTag(f.tag, v != f.absent);
  }
  for (const TIntField& f : kExifInts) {
    const int v = Int(e, f.tag, f.absent);
    p.*f.field = v;
    if (f.when == kListed) p.ListTag(f.tag, v != f.absent);
  }
  p.ExifISOSpeedRatings[0] = int(e.Value(34855, 0, 0));
  p.ExifISOSpeedRatings[1] = int(e.Value(34855, 1, 0));
  for (const TTextField& f : kExifTexts) p.*f.field = Text(e, f.tag, f.inlineRaw);
  ReadUserComment(e, p);
  ReadMakerNote(e, p);

  const TIETIFFDirectory& g = gps ? *gps : none;
  const std::string version = g.Bytes(0);
  p.GPSVersionID.clear();
  for (size_t i = 0; i < version.size(); ++i)
    p.GPSVersionID += (i ? "." : "") + std::to_string(uint8_t(version[i]));
  for (const TTextField& f : kGPSTexts) p.*f.field = Text(g, f.tag, f.inlineRaw);
  for (const TRatArray<3>& f : kGPSTriples) RatArray(g, f.tag, p.*f.field, 0);
  p.GPSAltitudeRef = std::to_string(Int(g, 5, 0));
  for (const TRatField& f : kGPSRats) p.*f.field = Rat(g, f.tag, 0, 0);
}

bool IELoadExifFromTIFFData(const uint8_t* data, size_t size, TIOParamsVals& Params) {
  if (!data) return false;
  TIEMemStream s(data, int64_t(size));
  return IELoadExifFromTIFFStream(s, Params);
}

bool IELoadExifFromTIFFStream(TIEStream& Stream, TIOParamsVals& Params) {
  const int64_t pos = Stream.GetPosition();
  TIETIFFFile f;
  f.Open(Stream, pos);
  bool loaded = false;
  uint8_t order[2];
  if (f.Size() >= 8 && f.Read(0, order, 2) && order[0] == order[1] && (order[0] == 'I' || order[0] == 'M')) {
    f.bigEndian = order[0] == 'M';
    TIETIFFDirectory main, exif, gps;
    uint64_t next = 0;
    if (IETIFFReadDirectory(f, f.U32(4), main, next)) {
      const bool hasExif = main.Find(kTagExifIFD) && IETIFFReadDirectory(f, main.Value(kTagExifIFD), exif, next);
      const bool hasGPS = main.Find(kTagGPSIFD) && IETIFFReadDirectory(f, main.Value(kTagGPSIFD), gps, next);
      IETIFFReadExifTags(main, hasExif ? &exif : nullptr, hasGPS ? &gps : nullptr, Params);
      loaded = true;
    }
  }
  Stream.SetPosition(pos);
  return loaded;
}
