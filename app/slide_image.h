// Turns one slide's enhanced metafile into an image file of exactly the requested size and format.
// GDI+ must be running (GdiplusRuntime) while these are used.
#pragma once
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <string>

namespace app {

// The largest output side accepted; the main window never asks for more.
constexpr int kMaxSlideImageSide = 10240;

// How a format key is written.
enum class SlideEncoder {
  Bitmap,        // "BMP": the user-interface library's bitmap writer
  GdiplusMime,   // "JPEG", "PNG", "TIFF": a GDI+ encoder found by MIME type
  Gif,           // "GIF": the GIF codec's graphic
  ImageLibrary,  // "TGA", "PCX", "JP2", "JP2K", "RLE": the image library, writer chosen by extension
  None,          // any other key: nothing is written
};

// The encoder of `key` (exact, case-sensitive) and, for GdiplusMime, its MIME type.
SlideEncoder EncoderForKey(const std::wstring& key, std::wstring* mime = nullptr);

// The one JPEG encoder parameter: EncoderQuality, one Long value. The block points into itself, so
// it is neither copied nor moved.
class JpegQualityParameter {
 public:
  explicit JpegQualityParameter(int quality);
  JpegQualityParameter(const JpegQualityParameter&) = delete;
  JpegQualityParameter& operator=(const JpegQualityParameter&) = delete;
  const Gdiplus::EncoderParameters* Get() const { return &params_; }

 private:
  Gdiplus::EncoderParameters params_;
  LONG value_;
};

// Index of the first installed GDI+ encoder whose MIME type equals `mime` exactly, with its class
// identifier in `clsid`; -1 when there is none.
int FindEncoderByMime(const std::wstring& mime, CLSID* clsid);

// Draws the metafile at `metafilePath` stretched to width x height (high-quality bicubic) onto a white
// 24-bit bitmap and writes it to `outputPath` in the format of `key`. Both paths reach the platform
// wide, whatever the system code page holds. Raises ui::Exception when the size is out of range or the
// metafile cannot be read, and ui::EFCreateError ("Cannot create file "<output>". <reason>") when the
// writer fails; every road writes under a temporary name in the output's folder, so a failed write
// leaves the earlier file or none. A GDI+ format whose encoder is not installed, or an unknown key,
// writes nothing. The image library's keys need its shared start-up (IELibraryStaticInit) to have run.
void SaveSlideImage(const std::wstring& metafilePath, const std::wstring& outputPath, int width, int height,
                    int quality, const std::wstring& key);

}  // namespace app
