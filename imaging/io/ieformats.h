// File type codes, the process-wide file-format registry and the I/O unit's start-up.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include "ioparams.h"

class TIEBitmap;
class TIEStream;

using TIEFileFormatCode = int;
enum : int {
  iffUnknown = 0, iffTIFF = 1, iffGIF = 2, iffJPEG = 3, iffPCX = 4, iffBMP = 5, iffICO = 6, iffCUR = 7,
  iffPNG = 8, iffWMF = 9, iffEMF = 10, iffTGA = 11, iffPXM = 12, iffJP2 = 13, iffJ2K = 14, iffAVI = 15,
  iffWBMP = 16, iffPS = 17, iffPDF = 18, iffDCX = 19, iffRAW = 20, iffRawBitmap = 21, iffPSD = 24,
  iffIEV = 25, iffLYR = 26, iffALL = 27, iffDICOM = 28, iffHDP = 29
};

using TIEReadProc = void (*)(TIEStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool paramsOnly,
                             TIECodecProgress& progress);
using TIEWriteProc = void (*)(TIEStream& stream, TIEBitmap& bitmap, TIOParamsVals& params,
                              TIECodecProgress& progress);
using TIETestProc = bool (*)(TIEStream& stream, TIEFileFormatCode fileType);

struct TIEFileFormatInfo {
  TIEFileFormatCode FileType = 0;
  std::string DisplayName;
  std::string Extensions;  // without dots, ";"-separated, compared case-insensitively
  bool BuiltIn = false;    // served by TImageryIO's own members, not by the procedures below
  uint16_t DialogPages = 0;
  // A built-in entry says with these whether it can be read or written; it is never called.
  bool CanRead = false;
  bool CanWrite = false;
  TIEReadProc ReadProc = nullptr;   // entries added by an application
  TIEWriteProc WriteProc = nullptr;
  TIETestProc TestProc = nullptr;
};

const std::vector<std::unique_ptr<TIEFileFormatInfo>>& IEFileFormatRegistry();
TIEFileFormatInfo* IEFileFormatByType(TIEFileFormatCode type);
TIEFileFormatInfo* IEFileFormatByExtension(const std::string& extension);  // with or without the dot
std::string IEFileFormatExtension(TIEFileFormatCode type, int index);      // empty past the last
int IEFileFormatExtensionCount(TIEFileFormatCode type);
TIEFileFormatCode IEFileTypeOfExtension(const std::string& extension);
int IEAddFileFormat(TIEFileFormatInfo* entry);  // the registry owns it; returns its index
void IERemoveFileFormat(TIEFileFormatCode type);
void IEBuildFileFormatRegistry();
void IEFreeFileFormatRegistry();

// A file format served by a library an application loaded. Nothing in this library adds one; the
// application fills IEPluginList and the I/O unit's shut-down releases what is left in it.
struct TIEIOPlugin {
  HMODULE Library = nullptr;
  TIEFileFormatCode FileType = 0;  // the registry entry the library serves
  CRITICAL_SECTION Lock;           // initialised by whoever adds the record, unless Flags bit 0
  uint8_t Flags = 0;               // bit 0: no critical section to delete
};
extern std::vector<std::unique_ptr<TIEIOPlugin>> IEPluginList;
// For each plug-in: its registry entry removed, its critical section deleted (unless Flags bit 0),
// its library freed; then the list is emptied.
void IEReleasePlugins();

// Start-up step of the I/O unit (the registry); run by the library's shared start-up.
void IEIOStaticInit();
void IEIOStaticFini();
