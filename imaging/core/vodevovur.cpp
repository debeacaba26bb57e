#include "vodevovur.h"

#include <windows.h>
#include <cpuid.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ieutils.h"

// ---- Settings: initialised to their after-start-up values so code that runs before the start-up
// (static constructors, tests of single modules) sees the same policy.
int IEProcessorCountCache = -1;
uint8_t IEWindowsVersionCode = 9;
bool IEUseWideAPI = true;
int64_t IEMemoryThreshold = -1;
bool IETempFileFallback = true;
bool IERowSegmentFallback = true;
void* IEMSCMSHandle = nullptr;
int IECosineTable[256];

namespace {

struct StepPair {
  TIEStaticProc init;
  TIEStaticProc fini;
};

// Zero-initialised before any constructor runs, so registrars in other files may fill it in any order.
StepPair g_steps[iessCount];
TIEStaticProc g_wordTableInit;

// The library lock. The start-up marker and count follow the written design; the critical section
// itself is created once per process (not per start-up cycle) so that the first start-up is as
// well-guarded as the others.
INIT_ONCE g_lockOnce = INIT_ONCE_STATIC_INIT;
CRITICAL_SECTION g_lock;
// The start-up marker: kMarkerText while started. A plain pointer (constant-initialised), so that a
// start-up called from another file's static constructor finds it valid.
const char kMarkerText[] = "STATICINIT";
const char* g_marker;
int g_startCount;

BOOL CALLBACK InitLock(PINIT_ONCE, PVOID, PVOID*) {
  InitializeCriticalSection(&g_lock);
  return TRUE;
}

class LibraryLock {
 public:
  LibraryLock() {
    InitOnceExecuteOnce(&g_lockOnce, InitLock, nullptr, nullptr);
    EnterCriticalSection(&g_lock);
  }
  ~LibraryLock() { LeaveCriticalSection(&g_lock); }
  LibraryLock(const LibraryLock&) = delete;
  LibraryLock& operator=(const LibraryLock&) = delete;
};

StepPair StepAt(int i) {
  if (i == iessDefs) return {IEDefsStaticInit, IEDefsStaticFini};
  if (i == iessUtils) return {IEUtilsStaticInit, IEUtilsStaticFini};
  return g_steps[i];
}

void RunFiniFrom(int last) {
  for (int i = last; i >= 0; --i) {
    StepPair s = StepAt(i);
    if (s.fini) s.fini();
  }
}

template <typename Fn>
Fn LoadKernel32(HMODULE& module, const char* name) {
  module = LoadLibraryA("Kernel32.dll");
  if (!module) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

void IERegisterStaticStep(TIEStaticStep step, TIEStaticProc init, TIEStaticProc fini) {
  if (step < 0 || step >= iessCount || step == iessDefs || step == iessUtils)
    throw EIEError("IERegisterStaticStep: not a pluggable start-up place");
  LibraryLock lock;
  g_steps[step] = {init, fini};
  if (g_startCount > 0 && init) init();
}

void IERegisterWordTableInit(TIEStaticProc init) {
  LibraryLock lock;
  g_wordTableInit = init;
}

void IELibraryStaticInit() {
  LibraryLock lock;
  if (g_marker != kMarkerText) {
    g_marker = kMarkerText;
    g_startCount = 0;
  }
  if (g_startCount == 0) {
    int i = 0;
    try {
      for (; i < iessCount; ++i) {
        StepPair s = StepAt(i);
        if (s.init) s.init();
      }
    } catch (...) {
      // Undo the steps that completed, so a retry starts from a clean state instead of running their
      // start-up a second time over live state.
      try {
        RunFiniFrom(i - 1);
      } catch (...) {
      }
      g_marker = nullptr;
      throw;
    }
  }
  ++g_startCount;
}

void IELibraryStaticFini() {
  LibraryLock lock;
  if (g_marker != kMarkerText) return;
  --g_startCount;
  if (g_startCount == 0) {
    g_marker = nullptr;
    RunFiniFrom(iessCount - 1);
  }
}

int IELibraryStartCount() {
  LibraryLock lock;
  return g_marker == kMarkerText ? g_startCount : 0;
}

bool IELibraryStarted() {
  LibraryLock lock;
  return g_marker == kMarkerText;
}

void IEUtilsStaticInit() {
  IEProcessorCountCache = -1;
  IEWindowsVersionCode = IEWindowsVersion();
  IEUseWideAPI = IEWindowsVersionCode > 2;
  if (g_wordTableInit) g_wordTableInit();
  IEMemoryThreshold = -1;
  IETempFileFallback = true;
  IERowSegmentFallback = true;
  IEMSCMSHandle = nullptr;
  IEBuildCosineTable();
}

void IEUtilsStaticFini() {
  if (IEMSCMSHandle) {
    FreeLibrary(static_cast<HMODULE>(IEMSCMSHandle));
    IEMSCMSHandle = nullptr;
  }
}

// ---- Memory threshold ----

int64_t IEAutomaticMemoryThreshold(uint64_t totalPhysical, uint64_t availableVirtual, bool process32) {
  int64_t t = totalPhysical == 0 ? kIEDefaultMemoryThreshold : int64_t(double(totalPhysical) / 1.3);
  if (process32) {
    int64_t cap = kIEMaxMemoryBlock32;
    if (availableVirtual != 0 && int64_t(availableVirtual / 2) < cap) cap = int64_t(availableVirtual / 2);
    if (t > cap) t = cap;
  }
  return t;
}

int64_t IEEffectiveMemoryThreshold() {
  if (IEMemoryThreshold != -1) return IEMemoryThreshold;
  MEMORYSTATUSEX ms;
  std::memset(&ms, 0, sizeof(ms));
  ms.dwLength = sizeof(ms);
  uint64_t availVirtual = GlobalMemoryStatusEx(&ms) ? ms.ullAvailVirtual : 0;
  return IEAutomaticMemoryThreshold(uint64_t(IEPhysicalMemory(false)), availVirtual, sizeof(void*) == 4);
}

// ---- Platform queries ----

uint8_t IEWindowsVersionFromInfo(unsigned platformId, unsigned major, unsigned minor) {
  struct Row {
    unsigned platform, major, minor;
    uint8_t code;
  };
  static const Row kRows[] = {{1, 4, 0, 0}, {1, 4, 10, 1}, {1, 4, 90, 2}, {2, 4, 0, 3}, {2, 5, 0, 4},
                              {2, 5, 1, 5}, {2, 5, 2, 6},  {2, 6, 0, 7},  {2, 6, 1, 8}};
  for (const Row& r : kRows)
    if (r.platform == platformId && r.major == major && r.minor == minor) return r.code;
  return 9;
}

uint8_t IEWindowsVersion() {
  OSVERSIONINFOA vi;
  std::memset(&vi, 0, sizeof(vi));
  vi.dwOSVersionInfoSize = sizeof(vi);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExA(&vi)) return 9;
#pragma GCC diagnostic pop
  return IEWindowsVersionFromInfo(vi.dwPlatformId, vi.dwMajorVersion, vi.dwMinorVersion);
}

int IEProcessorCountFrom(TIEGetLogicalProcessorInformation fn) {
  if (!fn) return 1;
  unsigned long length = 0;
  if (fn(nullptr, &length) || GetLastError() != ERROR_INSUFFICIENT_BUFFER || length == 0) return 1;
  std::vector<SYSTEM_LOGICAL_PROCESSOR_INFORMATION> buf(length / sizeof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION) + 1);
  unsigned long size = static_cast<unsigned long>(buf.size() * sizeof(buf[0]));
  if (!fn(buf.data(), &size)) return 1;
  size_t entries = size / sizeof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION);
  if (entries > buf.size()) entries = buf.size();
  int cores = 0;
  for (size_t i = 0; i < entries; ++i)
    if (buf[i].Relationship == RelationProcessorCore) ++cores;
  return cores > 0 ? cores : 1;
}

int IEProcessorCount() {
  if (IEProcessorCountCache != -1) return IEProcessorCountCache;
  HMODULE k32 = nullptr;
  auto fn = LoadKernel32<TIEGetLogicalProcessorInformation>(k32, "GetLogicalProcessorInformation");
  int n = IEProcessorCountFrom(fn);
  if (k32) FreeLibrary(k32);
  IEProcessorCountCache = n;
  return n;
}

int64_t IEPhysicalMemory(bool available) {
  using Fn = BOOL(WINAPI*)(LPMEMORYSTATUSEX);
  HMODULE k32 = nullptr;
  Fn fn = LoadKernel32<Fn>(k32, "GlobalMemoryStatusEx");
  int64_t result = 0;
  if (fn) {
    MEMORYSTATUSEX ms;
    std::memset(&ms, 0, sizeof(ms));
    ms.dwLength = sizeof(ms);
    if (fn(&ms)) result = int64_t(available ? ms.ullAvailPhys : ms.ullTotalPhys);
  } else {
    MEMORYSTATUS ms;
    std::memset(&ms, 0, sizeof(ms));
    ms.dwLength = sizeof(ms);
    GlobalMemoryStatus(&ms);
    result = int64_t(available ? ms.dwAvailPhys : ms.dwTotalPhys);
  }
  if (k32) FreeLibrary(k32);
  return result;
}

bool IEIsRemoteSession() { return GetSystemMetrics(SM_REMOTESESSION) != 0; }

bool IEHasMMX() {
  unsigned a, b, c, d;
  // __get_cpuid checks that the CPUID instruction exists (the ID flag of EFLAGS) before using it.
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  return (d & (1u << 23)) != 0;
}

// ---- Numbers from text ----

namespace {

// Whole-text conversion with the given decimal separator; spaces around the number are allowed.
bool ConvertFloat(std::string s, char sep, double& out) {
  if (sep != '.') {
    if (s.find('.') != std::string::npos) return false;
    for (char& ch : s)
      if (ch == sep) {
        ch = '.';
        break;
      }
  }
  size_t b = s.find_first_not_of(" \t");
  size_t e = s.find_last_not_of(" \t");
  if (b == std::string::npos) return false;
  s = s.substr(b, e - b + 1);
  // Hexadecimal, infinities and NaN are not numbers in this library's texts.
  for (char ch : s)
    if (!(std::isdigit(static_cast<unsigned char>(ch)) || ch == '.' || ch == '+' || ch == '-' || ch == 'e' ||
          ch == 'E'))
      return false;
  char* end = nullptr;
  double v = std::strtod(s.c_str(), &end);
  if (end == s.c_str() || *end != '\0') return false;
  out = v;
  return true;
}

}  // namespace

double IEStrToFloatDefSep(const std::string& text, double def, char sep) {
  double v;
  if (ConvertFloat(text, sep, v)) return v;
  std::string t = text;
  size_t comma = t.find(',');
  if (comma != std::string::npos) {
    t[comma] = '.';
  } else {
    size_t dot = t.find('.');
    if (dot != std::string::npos) t[dot] = ',';
  }
  if (ConvertFloat(t, sep, v)) return v;
  return def;
}

double IEStrToFloatDef(const std::string& text, double def) {
  char buf[8] = {0};
  char sep = '.';
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buf, sizeof(buf)) > 1) sep = buf[0];
  return IEStrToFloatDefSep(text, def, sep);
}

void IEBuildCosineTable() {
  const double kPi = 3.14159265358979323846;
  for (int i = 0; i < 256; ++i) IECosineTable[i] = static_cast<int>(std::nearbyint(64 - std::cos(i * kPi / 255) * 64));
}

namespace {
// The table has its values before the start-up too.
struct CosineTableAtLoad {
  CosineTableAtLoad() { IEBuildCosineTable(); }
} g_cosineAtLoad;
}  // namespace
