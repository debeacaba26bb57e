// The format registry: the built-in rows in their fixed order, lookups by type and extension.
#include "ieformats.h"

#include <cctype>

#include "iebitmapservices.h"
#include "iefilebuffer.h"
#include "ieavi.h"
#include "iecmyk.h"
#include "iewic.h"
#include "ienetdownload.h"
#include "ietwain.h"
#include "vodevovur.h"

namespace {

std::vector<std::unique_ptr<TIEFileFormatInfo>> gRegistry;

struct TBuiltIn {
  TIEFileFormatCode type;
  const char* name;
  const char* extensions;
  bool read, write;
  uint16_t pages;
};
// Registry order decides ties in extension lookup and the order of registry tests in detection.
const TBuiltIn kBuiltIn[] = {
    {iffTIFF, "TIFF Bitmap", "TIF;TIFF;FAX;G3N;G3F;XIF", true, true, 8},
    {iffGIF, "CompuServe Bitmap", "GIF", true, true, 16},
    {iffJPEG, "JPEG Bitmap", "JPG;JPEG;JPE;JIF", true, true, 4},
    {iffPCX, "PaintBrush", "PCX", true, true, 64},
    {iffBMP, "Windows Bitmap", "BMP;DIB;RLE", true, true, 32},
    {iffRawBitmap, "Raw Bitmap", "", true, true, 0},
    {iffICO, "Windows Icon", "ICO", true, true, 0},
    {iffCUR, "Windows Cursor", "CUR", true, false, 0},
    {iffPNG, "Portable Network Graphics", "PNG", true, true, 128},
    {iffDICOM, "DICOM Bitmap", "DCM;DIC;DICOM", true, false, 0},
    {iffWMF, "Windows Metafile", "WMF", true, false, 0},
    {iffEMF, "Enhanced Windows Metafile", "EMF", true, false, 0},
    {iffTGA, "Targa Bitmap", "TGA;TARGA;VDA;ICB;VST;PIX", true, true, 256},
    {iffPXM, "Portable Pixmap, GrayMap, BitMap", "PXM;PPM;PGM;PBM", true, true, 0},
    {iffWBMP, "Wireless Bitmap", "WBMP", true, true, 0},
    {iffJP2, "JPEG2000", "JP2", true, true, 512},
    {iffJ2K, "JPEG2000 Code Stream", "J2K;JPC;J2C", true, true, 512},
    {iffPS, "PostScript Level 2", "PS;EPS", false, true, 0},
    {iffPDF, "Adobe PDF", "PDF", false, true, 0},
    {iffDCX, "Multipage PCX", "DCX", true, true, 0},
    {iffRAW, "Camera RAW", "CRW;CR2;NEF;RAW;PEF;RAF;X3F;BAY;ORF;SRF;MRW;DCR;SR2", true, false, 0},
    {iffPSD, "Photoshop PSD", "PSD", true, true, 0},
    {iffIEV, "Vectorial objects", "IEV", true, true, 0},
    {iffLYR, "Layers", "LYR", true, true, 0},
    {iffALL, "Layers and objects", "ALL", true, true, 0},
};

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::vector<std::string> Split(const std::string& list) {
  std::vector<std::string> out;
  size_t p = 0;
  while (p < list.size()) {
    size_t q = list.find(';', p);
    if (q == std::string::npos) q = list.size();
    if (q > p) out.push_back(list.substr(p, q - p));
    p = q + 1;
  }
  return out;
}

TIEStaticStepRegistrar gIOStep(iessIO, IEIOStaticInit, IEIOStaticFini);

}  // namespace

const std::vector<std::unique_ptr<TIEFileFormatInfo>>& IEFileFormatRegistry() { return gRegistry; }

TIEFileFormatInfo* IEFileFormatByType(TIEFileFormatCode type) {
  for (auto& e : gRegistry)
    if (e->FileType == type) return e.get();
  return nullptr;
}

TIEFileFormatInfo* IEFileFormatByExtension(const std::string& extension) {
  std::string ext = Lower(extension);
  if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
  if (ext.empty()) return nullptr;
  for (auto& e : gRegistry)
    for (const std::string& x : Split(e->Extensions))
      if (Lower(x) == ext) return e.get();
  return nullptr;
}

std::string IEFileFormatExtension(TIEFileFormatCode type, int index) {
  TIEFileFormatInfo* e = IEFileFormatByType(type);
  if (!e || index < 0) return std::string();
  std::vector<std::string> all = Split(e->Extensions);
  return size_t(index) < all.size() ? all[size_t(index)] : std::string();
}

int IEFileFormatExtensionCount(TIEFileFormatCode type) {
  int n = 0;
  while (!IEFileFormatExtension(type, n).empty()) ++n;
  return n;
}

TIEFileFormatCode IEFileTypeOfExtension(const std::string& extension) {
  TIEFileFormatInfo* e = IEFileFormatByExtension(extension);
  return e ? e->FileType : 0;
}

int IEAddFileFormat(TIEFileFormatInfo* entry) {
  gRegistry.emplace_back(entry);
  return int(gRegistry.size()) - 1;
}

void IERemoveFileFormat(TIEFileFormatCode type) {
  for (auto it = gRegistry.begin(); it != gRegistry.end(); ++it)
    if ((*it)->FileType == type) {
      gRegistry.erase(it);
      return;
    }
}

void IEBuildFileFormatRegistry() {
  gRegistry.clear();
  for (const TBuiltIn& b : kBuiltIn) {
    auto* e = new TIEFileFormatInfo();
    e->FileType = b.type;
    e->DisplayName = b.name;
    e->Extensions = b.extensions;
    e->BuiltIn = true;
    e->DialogPages = b.pages;
    e->CanRead = b.read;
    e->CanWrite = b.write;
    gRegistry.emplace_back(e);
  }
  if (IEWICAvailable()) {  // HD Photo only where the platform's imaging component decodes it
    auto* e = new TIEFileFormatInfo();
    e->FileType = iffHDP;
    e->DisplayName = "Microsoft HD Photo";
    e->Extensions = "WDP;HDP";
    e->BuiltIn = true;
    e->CanRead = true;
    e->CanWrite = IEWICHDPEncoderAvailable();
    gRegistry.emplace_back(e);
  }
}

void IEFreeFileFormatRegistry() { gRegistry.clear(); }

std::vector<std::unique_ptr<TIEIOPlugin>> IEPluginList;

void IEReleasePlugins() {
  for (const auto& p : IEPluginList) {
    IERemoveFileFormat(p->FileType);
    if (!(p->Flags & 1)) DeleteCriticalSection(&p->Lock);
    if (p->Library) FreeLibrary(p->Library);
  }
  IEPluginList.clear();
}

void IEIOStaticInit() {
  IETempFolder.clear();
  IEBuildFileFormatRegistry();
  IEConversionServices.CMYKToRGB = IECMYKToRGB;
  IEConversionServices.RGBToCMYK = IERGBToCMYK;
  IEConversionServices.CMYKRowToRGB = IECMYKRowToRGB;
  IELoadWinInet();
  IEColorConversionHook = IEConvertPixelRow;
}
void IEIOStaticFini() {
  IEFreeCMYKProfile();
  IEReleasePlugins();
  IEFreeFileFormatRegistry();
  IEAVIFileFini();
  IEUnloadWinInet();
  IETWainLogClose();
}
