#include "slide_image.h"

#include <memory>
#include <vector>

#include "gifimage.h"
#include "imageryio.h"
#include "imageryview.h"
#include "iestreams.h"
#include "output_file.h"
#include "VelSystem.h"
#include "uibitmap.h"
#include "uistreams.h"
#include "uisysutils.h"

namespace app {

namespace gp = Gdiplus::DllExports;

namespace {

// Written out here rather than taken from the import library, which does not carry every GUID.
constexpr GUID kEncoderQuality = {0x1d5be4b5, 0xfa4a, 0x452d, {0x9c, 0xdd, 0x5d, 0xb3, 0x51, 0x05, 0xe7, 0xeb}};

struct GraphicsDeleter {
  void operator()(Gdiplus::GpGraphics* g) const { gp::GdipDeleteGraphics(g); }
};
struct ImageDeleter {
  void operator()(Gdiplus::GpImage* i) const { gp::GdipDisposeImage(i); }
};
using GraphicsPtr = std::unique_ptr<Gdiplus::GpGraphics, GraphicsDeleter>;
using ImagePtr = std::unique_ptr<Gdiplus::GpImage, ImageDeleter>;

struct BitmapFree {
  void operator()(ui::TBitmap* b) const { b->Free(); }
};
using BitmapPtr = std::unique_ptr<ui::TBitmap, BitmapFree>;

// Messages go out through the user-interface library's 8-bit texts; only the message loses what the
// system code page cannot hold, never the file's name.
std::string MessagePath(const std::wstring& path) { return WideToAnsi(path); }

// Plays the metafile into the bitmap's whole area; the bitmap's DC is given back afterwards so that
// GDI+ may read the bitmap by its handle.
void DrawMetafile(ui::TBitmap& bitmap, const std::wstring& metafilePath, int width, int height) {
  auto* canvas = static_cast<ui::TBitmapCanvas*>(bitmap.Canvas());
  {
    Gdiplus::GpGraphics* rawGraphics = nullptr;
    if (gp::GdipCreateFromHDC(canvas->GetHandle(), &rawGraphics) != Gdiplus::Ok)
      throw ui::Exception("Cannot draw on the slide bitmap");
    GraphicsPtr graphics(rawGraphics);

    Gdiplus::GpImage* rawImage = nullptr;
    if (gp::GdipLoadImageFromFile(metafilePath.c_str(), &rawImage) != Gdiplus::Ok || !rawImage)
      throw ui::Exception("Cannot read the slide picture " + MessagePath(metafilePath));
    ImagePtr image(rawImage);

    UINT srcW = 0, srcH = 0;
    gp::GdipGetImageWidth(image.get(), &srcW);
    gp::GdipGetImageHeight(image.get(), &srcH);
    gp::GdipSetInterpolationMode(graphics.get(), Gdiplus::InterpolationModeHighQualityBicubic);
    // Source and destination rectangles differ in shape on purpose: the slide fills the output.
    gp::GdipDrawImageRectRectI(graphics.get(), image.get(), 0, 0, width, height, 0, 0, INT(srcW), INT(srcH),
                               Gdiplus::UnitPixel, nullptr, nullptr, nullptr);
  }
  canvas->FreeContext();
}

// The system's reason for a failed GDI+ save.
std::string GdiplusReason(Gdiplus::GpStatus status) {
  switch (status) {
    case Gdiplus::Win32Error: return TOutputFile::SystemReason(GetLastError());
    case Gdiplus::OutOfMemory: return TOutputFile::SystemReason(ERROR_NOT_ENOUGH_MEMORY);
    case Gdiplus::AccessDenied: return TOutputFile::SystemReason(ERROR_ACCESS_DENIED);
    case Gdiplus::FileNotFound: return TOutputFile::SystemReason(ERROR_PATH_NOT_FOUND);
    default: return "The image encoder failed (status " + std::to_string(int(status)) + ").";
  }
}

void SaveThroughGdiplus(ui::TBitmap& bitmap, const std::wstring& outputPath, const std::wstring& mime,
                        int quality) {
  CLSID clsid;
  if (FindEncoderByMime(mime, &clsid) < 0) return;  // not installed: nothing to write with

  WriteOutputFile(outputPath, [&](TOutputFile& file) {
    Gdiplus::GpBitmap* rawBitmap = nullptr;
    const Gdiplus::GpStatus made = gp::GdipCreateBitmapFromHBITMAP(bitmap.GetHandle(), bitmap.GetPalette(), &rawBitmap);
    if (made != Gdiplus::Ok) file.Fail(GdiplusReason(made));
    ImagePtr image(rawBitmap);
    // GDI+ opens the file by its name itself.
    const std::wstring& temporary = file.TemporaryNameForWriter();
    Gdiplus::GpStatus status;
    if (mime == L"image/jpeg") {
      const JpegQualityParameter param(quality);
      status = gp::GdipSaveImageToFile(image.get(), temporary.c_str(), &clsid, param.Get());
    } else {
      status = gp::GdipSaveImageToFile(image.get(), temporary.c_str(), &clsid, nullptr);
    }
    // A file that could not be written (locked, folder gone, disk full) must not pass for a slide done.
    if (status != Gdiplus::Ok) file.Fail(GdiplusReason(status));
  });
}

}  // namespace

SlideEncoder EncoderForKey(const std::wstring& key, std::wstring* mime) {
  if (key == L"BMP") return SlideEncoder::Bitmap;
  if (key == L"TGA" || key == L"PCX" || key == L"JP2" || key == L"JP2K" || key == L"RLE")
    return SlideEncoder::ImageLibrary;
  if (key == L"GIF") return SlideEncoder::Gif;
  const wchar_t* type = key == L"JPEG" ? L"image/jpeg" : key == L"PNG" ? L"image/png" : key == L"TIFF" ? L"image/tiff" : nullptr;
  if (!type) return SlideEncoder::None;
  if (mime) *mime = type;
  return SlideEncoder::GdiplusMime;
}

JpegQualityParameter::JpegQualityParameter(int quality) : value_(LONG(quality)) {
  params_.Count = 1;
  params_.Parameter[0].Guid = kEncoderQuality;
  params_.Parameter[0].NumberOfValues = 1;
  params_.Parameter[0].Type = Gdiplus::EncoderParameterValueTypeLong;
  params_.Parameter[0].Value = &value_;
}

int FindEncoderByMime(const std::wstring& mime, CLSID* clsid) {
  UINT count = 0, size = 0;
  if (gp::GdipGetImageEncodersSize(&count, &size) != Gdiplus::Ok || count == 0 || size == 0) return -1;
  // The descriptions and the strings they point to share one block of `size` bytes.
  std::vector<unsigned char> buffer(size);
  auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
  if (uint64_t(count) * sizeof(Gdiplus::ImageCodecInfo) > size) return -1;
  if (gp::GdipGetImageEncoders(count, size, codecs) != Gdiplus::Ok) return -1;
  for (UINT i = 0; i < count; ++i) {
    if (codecs[i].MimeType && mime == codecs[i].MimeType) {
      if (clsid) *clsid = codecs[i].Clsid;
      return int(i);
    }
  }
  return -1;
}

// One frame of the bitmap's size, reduced to an octree palette of at most 256 colours with
// Floyd-Steinberg error diffusion, in a local colour map.
static void SaveThroughGif(ui::TBitmap& bitmap, const std::wstring& outputPath) {
  WriteOutputFile(outputPath, [&](TOutputFile& file) {
    TGIFImage gif;
    gif.PaletteMode = gpOctree;
    gif.DitherStyle = gdFloydSteinberg;
    gif.SetPaletteBits(8);
    gif.Assign(&bitmap);
    gif.SaveToStream(static_cast<ui::TStream*>(&file));
  });
}

// The view copies the bitmap into its 24-bit pixel buffer; its I/O component picks the writer by the
// file-name extension (".rle" is the Windows bitmap writer, uncompressed). The library writes under
// a temporary name and replaces the output itself.
static void SaveThroughImageLibrary(ui::TBitmap& bitmap, const std::wstring& outputPath) {
  auto fail = [&](const std::string& reason) {
    throw ui::EFCreateError("Cannot create file \"" + MessagePath(outputPath) + "\". " + reason);
  };
  struct ViewFree {
    void operator()(TImageryView* v) const { v->Free(); }
  };
  TImageryIO* io = nullptr;
  try {
    std::unique_ptr<TImageryView, ViewFree> view(ui::New<TImageryView>(nullptr));
    view->Assign(&bitmap);
    io = view->GetIO();
    io->SaveByExtension(outputPath);
    // The writers report a failed write through the abort flag; it must not pass for a slide done.
    if (io->Aborting) fail("The image writer could not write the picture.");
  } catch (const EFCreateError& e) {
    throw ui::EFCreateError(e.what());  // the library's own, naming the output with the system's reason
  } catch (const ui::EFCreateError&) {
    throw;
  } catch (const std::bad_alloc&) {
    fail(TOutputFile::SystemReason(ERROR_NOT_ENOUGH_MEMORY));
  } catch (const std::exception& e) {
    fail(e.what());
  }
}

void SaveSlideImage(const std::wstring& metafilePath, const std::wstring& outputPath, int width, int height,
                    int quality, const std::wstring& key) {
  if (width < 1 || height < 1 || width > kMaxSlideImageSide || height > kMaxSlideImageSide)
    throw ui::Exception("Slide image size " + std::to_string(width) + " x " + std::to_string(height) +
                        " is out of range");
  std::wstring mime;
  const SlideEncoder encoder = EncoderForKey(key, &mime);

  BitmapPtr bitmap(new ui::TBitmap());
  bitmap->SetPixelFormat(ui::pf24bit);
  bitmap->SetWidth(width);
  bitmap->SetHeight(height);
  DrawMetafile(*bitmap, metafilePath, width, height);

  switch (encoder) {
    case SlideEncoder::Bitmap:
      WriteOutputFile(outputPath, [&](TOutputFile& file) { bitmap->SaveToStream(&file); });
      break;
    case SlideEncoder::GdiplusMime:
      SaveThroughGdiplus(*bitmap, outputPath, mime, quality);
      break;
    case SlideEncoder::Gif:
      SaveThroughGif(*bitmap, outputPath);
      break;
    case SlideEncoder::ImageLibrary:
      SaveThroughImageLibrary(*bitmap, outputPath);
      break;
    case SlideEncoder::None:
      break;
  }
}

}  // namespace app
