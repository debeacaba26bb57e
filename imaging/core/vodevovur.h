// The image library's shared start-up and shut-down, its process-wide settings and the platform
// queries they come from.
//
// IELibraryStaticInit runs eleven steps in a fixed order, IELibraryStaticFini their shut-down steps in
// reverse; both are reference-counted under one critical section, so only the first start-up and the
// shut-down that brings the count back to zero do the work. Steps 2 (iedefs) and 3 (this module) are
// built in; every other module plugs its own pair of steps into its fixed place, normally from a
// namespace-scope TIEStaticStepRegistrar in its source file. The program's main block calls
// IELibraryStaticInit once its modules are loaded (so every registrar has run) and IELibraryStaticFini
// at exit. The settings hold their after-start-up values from load on, so code running earlier works.
#pragma once
#include <cstdint>
#include <string>

// The eleven places of the start-up sequence, in start-up order.
enum TIEStaticStep {
  iessGdiPlus,        // 1  GDI+ canvas flags
  iessDefs,           // 2  iedefs: grey weights (built in)
  iessUtils,          // 3  this module's settings and the word table (built in)
  iessJ2000,          // 4  JPEG 2000 tables and code-stream formats
  iessVect,           // 5  vector editor clipboard format and shortcuts
  iessIO,             // 6  file-format registry
  iessProc,           // 7  processing tables and predefined filters
  iessImageryView,    // 8  screen metrics, default resolution, inverting pen
  iessCCITT,          // 9  fax decode trees
  iessTextControl,    // 10 text control clipboard format
  iessPresetImages,   // 11 preset frame pictures
  iessCount
};

using TIEStaticProc = void (*)();

// Plugs a module's start-up and shut-down steps into their place (either may be null; both null
// unplugs). The two built-in places refuse with EIEError. A step plugged while the library is started
// has its start-up run at once, so that its shut-down later matches it.
void IERegisterStaticStep(TIEStaticStep step, TIEStaticProc init, TIEStaticProc fini);

// Registers at load time: `static TIEStaticStepRegistrar reg(iessProc, IEProcStaticInit, IEProcStaticFini);`
struct TIEStaticStepRegistrar {
  TIEStaticStepRegistrar(TIEStaticStep step, TIEStaticProc init, TIEStaticProc fini) {
    IERegisterStaticStep(step, init, fini);
  }
};

// The word table's initialisation, run inside IEUtilsStaticInit at its place (null: none yet).
void IERegisterWordTableInit(TIEStaticProc init);

void IELibraryStaticInit();
void IELibraryStaticFini();
int IELibraryStartCount();   // completed start-ups minus shut-downs
bool IELibraryStarted();     // the start-up marker is set

void IEUtilsStaticInit();
void IEUtilsStaticFini();

// ---- Process-wide settings (values after start-up; the same values before it) ----
extern int IEProcessorCountCache;     // -1: not counted yet
extern uint8_t IEWindowsVersionCode;  // IEWindowsVersion
extern bool IEUseWideAPI;             // IEWindowsVersionCode > 2 (NT family)
extern int64_t IEMemoryThreshold;     // -1: automatic (IEEffectiveMemoryThreshold)
extern bool IETempFileFallback;       // a failed pixel allocation falls back to a temporary file
extern bool IERowSegmentFallback;     // a failed single block is retried as row segments
extern void* IEMSCMSHandle;           // mscms.dll module handle once loaded, else null
extern int IECosineTable[256];        // Round(64 - 64 cos(i pi / 255))

// Bytes above which a new pixel buffer goes to a temporary file. IEMemoryThreshold when set, else the
// automatic value below for this machine and process.
int64_t IEEffectiveMemoryThreshold();
// Automatic threshold: total physical memory / 1.3 (32 MB when it is reported as 0). In a 32-bit
// process it is further capped: its address space cannot hold such blocks, and under Wine a single
// block above about 600 MB may fail, so the cap is kMaxBlock32 and half the free address space.
constexpr int64_t kIEDefaultMemoryThreshold = 33554432;         // 32 MB
constexpr int64_t kIEMaxMemoryBlock32 = int64_t(512) * 1024 * 1024;
int64_t IEAutomaticMemoryThreshold(uint64_t totalPhysical, uint64_t availableVirtual, bool process32);

// ---- Platform queries ----
uint8_t IEWindowsVersion();  // 0 95, 1 98, 2 Me, 3 NT4, 4 2000, 5 XP, 6 2003, 7 Vista, 8 7, 9 other
uint8_t IEWindowsVersionFromInfo(unsigned platformId, unsigned major, unsigned minor);
int IEProcessorCount();  // processor cores; 1 when the platform cannot tell (cached)
// The count from a GetLogicalProcessorInformation-shaped function; 1 when it is null or fails.
using TIEGetLogicalProcessorInformation = int(__stdcall*)(void* buffer, unsigned long* length);
int IEProcessorCountFrom(TIEGetLogicalProcessorInformation fn);
int64_t IEPhysicalMemory(bool available);  // total or available physical memory in bytes
bool IEIsRemoteSession();
bool IEHasMMX();

// Locale-tolerant number parser: the locale's decimal separator first, then with the first ',' and
// '.' exchanged; the default when neither parses.
double IEStrToFloatDef(const std::string& text, double def);
double IEStrToFloatDefSep(const std::string& text, double def, char decimalSeparator);
void IEBuildCosineTable();
