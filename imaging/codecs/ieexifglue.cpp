#include "ieexifglue.h"

#include <cstring>
#include <memory>

#include "iebitmap.h"
#include "ierotate.h"
#include "ioparams.h"
#include "jpegfilt.h"
#include "tifdecode.h"
#include "tifdirectory.h"
#include "tifencode.h"

namespace {

// The XMP namespace identifier with its NUL, as every XMP APP1 payload starts.
const char kXMPNamespace[] = "http://ns.adobe.com/xap/1.0/";
constexpr size_t kXMPHeaderSize = sizeof(kXMPNamespace);  // 29
// Shorter payloads hold no packet; only the first 24 bytes of the identifier are compared.
constexpr size_t kXMPMinPayload = 30;
constexpr size_t kXMPCompared = 24;

// What one APP1 marker can carry.
constexpr size_t kMaxMarkerPayload = 65533;
// A thumbnail is a small picture: JPEG data claiming more pixels than this is not decoded.
constexpr int64_t kMaxThumbnailPixels = int64_t(1) << 22;

// The second directory of an EXIF block's TIFF structure into `thumb`: its JPEG interchange data
// (tags 513, 514) when it has them, else its strips through the TIFF reader. Anything unreadable
// leaves `thumb` empty.
void LoadExifThumbnail(const uint8_t* tiff, size_t size, TIEBitmap& thumb) {
  thumb.FreeStorage(true);
  if (size < 8 || !((tiff[0] == 'I' && tiff[1] == 'I') || (tiff[0] == 'M' && tiff[1] == 'M'))) return;
  TIETIFFFile f;
  f.OpenMemory(tiff, size);
  f.bigEndian = tiff[0] == 'M';
  if (f.U16(2) != 42) return;
  TIETIFFDirectory first, second;
  uint64_t next = 0, after = 0;
  const uint64_t firstAt = f.U32(4);
  if (!IETIFFReadDirectory(f, firstAt, first, next) || next == 0 || next == firstAt) return;
  if (!IETIFFReadDirectory(f, next, second, after)) return;

  std::atomic<bool> aborting{false};
  TIECodecProgress progress;
  progress.Aborting = &aborting;
  std::unique_ptr<TIOParamsVals> tp(new TIOParamsVals(nullptr));
  const uint32_t at = second.Value(513), length = second.Value(514);
  if (second.Find(513) && length > 0 && f.Has(at, length)) {
    TIEMemStream js(tiff + at, int64_t(length));
    TIEBitmap none;
    IEJPEGRead(js, nullptr, none, *tp, progress, true, false, false, false, false, false, -1, false);
    if (aborting || int64_t(tp->Width) * tp->Height > kMaxThumbnailPixels) return;
    js.SetPosition(0);
    IEJPEGRead(js, nullptr, thumb, *tp, progress, false, false, false, false, false, false, -1, false);
  } else {
    // strips through the TIFF reader as a thumbnail: over 400 pixels either way is refused unread
    TIEMemStream ts(tiff, int64_t(size));
    tp->SetImageIndexValue(1);
    int pages = 0;
    TIEBitmap* noAlpha = nullptr;
    IETIFFRead(thumb, ts, pages, tp.get(), progress, false, noAlpha, true, true, true);
    delete noAlpha;
  }
  if (aborting) thumb.FreeStorage(true);
}

// The EXIF block of params into a new[] block, with its thumbnail as the second directory when asked.
// Returns the block's length.
size_t SaveExif(const TIOParamsVals* params, uint8_t*& buffer, bool withHeader, bool withThumbnail) {
  TIEMemoryStream s;
  std::atomic<bool> aborting{false};
  TIECodecProgress progress;
  progress.Aborting = &aborting;
  IETIFFWrite(s, false, nullptr, *params, progress);
  TIEBitmap* thumb = params->ExifThumbnail.get();
  TIEBitmap stored;  // the thumbnail as the orientation written says it lies (loading turned it upright)
  const int o = params->TIFFOrientation;
  if (withThumbnail && thumb && !thumb->IsEmpty() && o >= 2 && o <= 8) {
    stored.Assign(thumb);
    IEApplyExifOrientation(&stored, o == 6 ? 8 : o == 8 ? 6 : o);  // the other turns undo themselves
    thumb = &stored;
  }
  if (withThumbnail && thumb && !thumb->IsEmpty()) {
    std::unique_ptr<TIOParamsVals> tp(new TIOParamsVals(nullptr));
    tp->SetImageIndexValue(1);
    tp->TIFFCompression = 6;  // JPEG interchange data, as EXIF thumbnails are
    s.SetPosition(0);
    std::atomic<bool> failed{false};
    progress.Aborting = &failed;
    try {
      IETIFFWrite(s, true, thumb, *tp, progress);
    } catch (const EIEError&) {
      failed = true;
    }
    if (failed) {  // the block without its thumbnail
      s.Clear();
      progress.Aborting = &aborting;
      IETIFFWrite(s, false, nullptr, *params, progress);
    }
  }
  const size_t header = withHeader ? 6 : 0;
  const size_t length = size_t(s.GetSize()) + header;
  buffer = new uint8_t[length];
  std::memcpy(buffer, "Exif\0\0", header);
  std::memcpy(buffer + header, s.Memory(), length - header);
  return length;
}

// A quarter turn of one bitmap into `out`; false when the turned copy could not be allocated.
bool Turned(TIEBitmap* source, bool clockwise, TIEBitmap& out) {
  if (clockwise) IETurnCW(source, &out);
  else IETurnCCW(source, &out);
  return out.GetImageWidth() == source->GetImageHeight() && out.GetImageHeight() == source->GetImageWidth() &&
         out.GetPixelFormat() == source->GetPixelFormat();
}

// Turns the bitmap and its alpha channel a quarter; nothing changes when either cannot be turned.
void TurnInPlace(TIEBitmap* bitmap, bool clockwise) {
  TIEBitmap image, alpha;
  if (!Turned(bitmap, clockwise, image)) return;
  if (bitmap->AlphaPresent() && !Turned(bitmap->GetAlphaChannel(), clockwise, alpha)) return;
  // the alpha channel object stays the bitmap's (Assign would replace it by the turned image's none)
  std::unique_ptr<TIEBitmap> keep(bitmap->DetachAlphaChannel());
  bitmap->Assign(&image);
  if (keep) {
    keep->Assign(&alpha);
    delete bitmap->AttachAlphaChannel(keep.release());
  }
}

}  // namespace

void IEApplyExifOrientation(TIEBitmap* bitmap, int orientation) {
  if (!bitmap || bitmap->IsEmpty()) return;
  switch (orientation) {
    case 2:
      IEFlip(bitmap, faHorizontal);
      break;
    case 3:
      IEFlip(bitmap, faVertical);
      IEFlip(bitmap, faHorizontal);
      break;
    case 4:
      IEFlip(bitmap, faVertical);
      break;
    case 5:  // transpose: row y becomes column y
      TurnInPlace(bitmap, true);
      IEFlip(bitmap, faHorizontal);
      break;
    case 6:
      TurnInPlace(bitmap, true);
      break;
    case 7:  // transverse: the transpose about the other diagonal
      TurnInPlace(bitmap, false);
      IEFlip(bitmap, faHorizontal);
      break;
    case 8:
      TurnInPlace(bitmap, false);
      break;
    default:
      break;
  }
}

bool IEIsExifMarker(const uint8_t* data, size_t length) {
  return data && length >= 5 && std::memcmp(data, "Exif", 5) == 0;
}

bool IELoadExifFromMarker(const uint8_t* data, size_t length, TIOParamsVals* params) {
  if (!params || !IEIsExifMarker(data, length) || length <= 6) return false;
  TIEMemStream s(data + 6, int64_t(length - 6));
  // a scratch object of no component: what it reads must not reach a view
  std::unique_ptr<TIOParamsVals> read(new TIOParamsVals(nullptr));
  TIEBitmap none;
  std::atomic<bool> aborting{false};  // a block of tags only has no image to decode: that is no failure here
  TIECodecProgress progress;
  progress.Aborting = &aborting;
  IETIFFRead(s, none, *read, progress, true);
  IECopyExifParams(*read, *params);
  params->SetExifOrientation(read->ExifOrientation);
  params->TIFFImageDescription = read->ExifImageDescription;
  params->HasExifData = true;
  if (!params->ExifThumbnail) params->ExifThumbnail = std::make_shared<TIEBitmap>();
  LoadExifThumbnail(data + 6, length - 6, *params->ExifThumbnail);
  IEApplyExifOrientation(params->ExifThumbnail.get(), params->ExifOrientation);
  return true;
}

void IECopyExifParams(const TIOParamsVals& source, TIOParamsVals& dest) {
  static_cast<TIEExifFields&>(dest) = source;
  dest.ExifMakerNote.Assign(&source.ExifMakerNote);
}

void IESaveExifToBuffer(const TIOParamsVals* params, uint8_t*& buffer, size_t& length, bool withHeader) {
  length = SaveExif(params, buffer, withHeader, true);
}

void IEStoreExifMarker(TIOParamsVals* params) {
  if (!params->HasExifData) return;
  TIEMarkerList& list = params->JPEGMarkerList;
  for (int i = 0; i < list.Count(); ++i)
    if (list.GetMarkerType(i) == 0xE1 && IEIsExifMarker(list.GetMarkerData(i), size_t(list.GetMarkerLength(i)))) {
      list.Delete(i);
      break;
    }
  uint8_t* block = nullptr;
  size_t length = SaveExif(params, block, true, true);
  if (length > kMaxMarkerPayload) {  // the thumbnail does not fit beside the fields: they go alone
    delete[] block;
    length = SaveExif(params, block, true, false);
  }
  std::unique_ptr<uint8_t[]> hold(block);
  if (length <= kMaxMarkerPayload) list.AddMarker(0xE1, block, int32_t(length));
}

void IEStoreXMPMarker(TIOParamsVals* params) {
  TIEMarkerList& list = params->JPEGMarkerList;
  for (int i = 0; i < list.Count(); ++i)
    if (list.GetMarkerType(i) == 0xE1 && IEFindXMPPacket(list.GetMarkerData(i), size_t(list.GetMarkerLength(i)))) {
      list.Delete(i);
      break;
    }
  if (params->XMPInfo.empty()) return;
  uint8_t* block = nullptr;
  size_t length = 0;
  IESaveXMPToBuffer(params, block, length);
  std::unique_ptr<uint8_t[]> hold(block);
  // a packet too long for one marker is not written (extended XMP is not supported)
  if (length <= kMaxMarkerPayload) list.AddMarker(0xE1, block, int32_t(length));
}

const uint8_t* IEFindXMPPacket(const uint8_t* data, size_t length) {
  if (!data || length < kXMPMinPayload || std::memcmp(data, kXMPNamespace, kXMPCompared) != 0) return nullptr;
  const void* nul = std::memchr(data, 0, length);
  return nul ? static_cast<const uint8_t*>(nul) + 1 : nullptr;
}

bool IELoadXMPFromMarker(const uint8_t* data, size_t length, TIOParamsVals* params) {
  const uint8_t* packet = IEFindXMPPacket(data, length);
  if (!packet || !params) return false;
  params->XMPInfo.assign(reinterpret_cast<const char*>(packet), size_t(data + length - packet));
  return true;
}

void IESaveXMPToBuffer(TIOParamsVals* params, uint8_t*& buffer, size_t& length) {
  const std::string& text = params->XMPInfo;
  length = kXMPHeaderSize + text.size();
  buffer = new uint8_t[length];
  std::memcpy(buffer, kXMPNamespace, kXMPHeaderSize);
  if (!text.empty()) std::memcpy(buffer + kXMPHeaderSize, text.data(), text.size());
}
