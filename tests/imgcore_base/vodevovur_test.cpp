#include "vodevovur.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "ieutils.h"

namespace {

std::vector<std::string> g_log;
bool g_failVect;

// One probe per pluggable place; each records its name when run.
template <int N>
struct Probe {
  static void Init() {
    if (N == iessVect && g_failVect) throw EIEError("vect start-up failed");
    g_log.push_back("init" + std::to_string(N));
  }
  static void Fini() { g_log.push_back("fini" + std::to_string(N)); }
};

const TIEStaticStep kPluggable[] = {iessGdiPlus,     iessJ2000,         iessVect,     iessIO,
                                    iessProc,        iessImageryView,   iessCCITT,    iessTextControl,
                                    iessPresetImages};

template <int N>
void Plug() { IERegisterStaticStep(TIEStaticStep(N), Probe<N>::Init, Probe<N>::Fini); }

class IELibraryStartup : public ::testing::Test {
 protected:
  void SetUp() override {
    while (IELibraryStarted()) IELibraryStaticFini();
    Plug<iessGdiPlus>(); Plug<iessJ2000>(); Plug<iessVect>(); Plug<iessIO>(); Plug<iessProc>();
    Plug<iessImageryView>(); Plug<iessCCITT>(); Plug<iessTextControl>(); Plug<iessPresetImages>();
    IERegisterWordTableInit([] { g_log.push_back("words"); });
    g_log.clear();
    g_failVect = false;
  }
  void TearDown() override {
    while (IELibraryStarted()) IELibraryStaticFini();
    for (TIEStaticStep s : kPluggable) IERegisterStaticStep(s, nullptr, nullptr);
    IERegisterWordTableInit(nullptr);
  }
};

std::vector<std::string> ExpectedInit() {
  return {"init0", "words", "init3", "init4", "init5", "init6", "init7", "init8", "init9", "init10"};
}
std::vector<std::string> ExpectedFini() {
  return {"fini10", "fini9", "fini8", "fini7", "fini6", "fini5", "fini4", "fini3", "fini0"};
}

}  // namespace

TEST_F(IELibraryStartup, TwiceUpTwiceDownRunsEachStepOnceInOrder) {
  IELibraryStaticInit();
  IELibraryStaticInit();
  EXPECT_EQ(IELibraryStartCount(), 2);
  EXPECT_EQ(g_log, ExpectedInit());
  g_log.clear();
  IELibraryStaticFini();
  EXPECT_TRUE(g_log.empty());
  EXPECT_TRUE(IELibraryStarted());
  IELibraryStaticFini();
  EXPECT_EQ(g_log, ExpectedFini());
  EXPECT_FALSE(IELibraryStarted());
  g_log.clear();
  IELibraryStaticFini();  // extra shut-downs do nothing
  EXPECT_TRUE(g_log.empty());
  IELibraryStaticInit();  // a new cycle runs everything again
  EXPECT_EQ(g_log, ExpectedInit());
}

TEST_F(IELibraryStartup, SettingsHoldTheirDefaultsAfterStartup) {
  IEMemoryThreshold = 12345;
  IETempFileFallback = false;
  IERowSegmentFallback = false;
  IEProcessorCountCache = 7;
  IEGrayWeightRed = 1;
  IELibraryStaticInit();
  EXPECT_EQ(IEMemoryThreshold, -1);
  EXPECT_TRUE(IETempFileFallback);
  EXPECT_TRUE(IERowSegmentFallback);
  EXPECT_EQ(IEProcessorCountCache, -1);
  EXPECT_EQ(IEGrayWeightRed, 21);
  EXPECT_EQ(IEGrayWeightGreen, 71);
  EXPECT_EQ(IEGrayWeightBlue, 8);
  EXPECT_EQ(IEMSCMSHandle, nullptr);
  EXPECT_EQ(IEWindowsVersionCode, IEWindowsVersion());
  EXPECT_EQ(IEUseWideAPI, IEWindowsVersionCode > 2);
  EXPECT_EQ(IECosineTable[0], 0);
  EXPECT_EQ(IECosineTable[1], 0);
  EXPECT_EQ(IECosineTable[127], 64);
  EXPECT_EQ(IECosineTable[128], 64);
  EXPECT_EQ(IECosineTable[255], 128);
}

TEST_F(IELibraryStartup, FailedStepUndoesCompletedStepsAndPropagates) {
  g_failVect = true;
  EXPECT_THROW(IELibraryStaticInit(), EIEError);
  EXPECT_FALSE(IELibraryStarted());
  EXPECT_EQ(g_log, (std::vector<std::string>{"init0", "words", "init3", "fini3", "fini0"}));
  g_failVect = false;
  g_log.clear();
  IELibraryStaticInit();
  EXPECT_EQ(g_log, ExpectedInit());
}

TEST_F(IELibraryStartup, BuiltInPlacesAndLatePlugs) {
  EXPECT_THROW(IERegisterStaticStep(iessDefs, Probe<1>::Init, nullptr), EIEError);
  EXPECT_THROW(IERegisterStaticStep(iessUtils, Probe<2>::Init, nullptr), EIEError);
  IERegisterStaticStep(iessProc, nullptr, nullptr);
  IELibraryStaticInit();
  g_log.clear();
  Plug<iessProc>();  // plugged while started: its start-up runs at once
  EXPECT_EQ(g_log, std::vector<std::string>{"init6"});
  g_log.clear();
  IELibraryStaticFini();
  EXPECT_EQ(g_log, ExpectedFini());
}

namespace {
DWORD WINAPI StartLibrary(LPVOID) {
  IELibraryStaticInit();
  return 0;
}
}  // namespace

TEST_F(IELibraryStartup, ConcurrentStartupsRunStepsOnce) {
  std::vector<HANDLE> threads;
  for (int i = 0; i < 8; ++i) threads.push_back(CreateThread(nullptr, 0, StartLibrary, nullptr, 0, nullptr));
  WaitForMultipleObjects(DWORD(threads.size()), threads.data(), TRUE, INFINITE);
  for (HANDLE h : threads) CloseHandle(h);
  EXPECT_EQ(IELibraryStartCount(), 8);
  EXPECT_EQ(g_log, ExpectedInit());
}

TEST(IEPlatform, WindowsVersionTable) {
  struct Case { unsigned platform, major, minor; uint8_t code; } const kCases[] = {
      {1, 4, 0, 0}, {1, 4, 10, 1}, {1, 4, 90, 2}, {2, 4, 0, 3}, {2, 5, 0, 4}, {2, 5, 1, 5},
      {2, 5, 2, 6}, {2, 6, 0, 7},  {2, 6, 1, 8},  {2, 6, 2, 9}, {2, 10, 0, 9}, {1, 5, 0, 9}};
  for (const Case& c : kCases) EXPECT_EQ(IEWindowsVersionFromInfo(c.platform, c.major, c.minor), c.code);
}

namespace {
// Fakes of GetLogicalProcessorInformation.
int __stdcall FailingLPI(void*, unsigned long*) {
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return 0;
}
int __stdcall ThreeCoresLPI(void* buffer, unsigned long* length) {
  const unsigned long need = 5 * sizeof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION);
  if (!buffer || *length < need) {
    *length = need;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  auto* e = static_cast<SYSTEM_LOGICAL_PROCESSOR_INFORMATION*>(buffer);
  const LOGICAL_PROCESSOR_RELATIONSHIP rel[5] = {RelationProcessorCore, RelationCache, RelationProcessorCore,
                                                 RelationNumaNode, RelationProcessorCore};
  for (int i = 0; i < 5; ++i) {
    memset(&e[i], 0, sizeof(e[i]));
    e[i].Relationship = rel[i];
  }
  *length = need;
  return 1;
}
}  // namespace

TEST(IEPlatform, ProcessorCount) {
  EXPECT_EQ(IEProcessorCountFrom(nullptr), 1);
  EXPECT_EQ(IEProcessorCountFrom(FailingLPI), 1);
  EXPECT_EQ(IEProcessorCountFrom(ThreeCoresLPI), 3);
  IEProcessorCountCache = -1;
  int n = IEProcessorCount();
  EXPECT_GE(n, 1);
  EXPECT_EQ(IEProcessorCountCache, n);
  IEProcessorCountCache = 5;  // the cache answers without asking the platform again
  EXPECT_EQ(IEProcessorCount(), 5);
  IEProcessorCountCache = -1;
}

TEST(IEPlatform, MemoryThreshold) {
  const uint64_t GB = 1024ull * 1024 * 1024;
  EXPECT_EQ(IEAutomaticMemoryThreshold(0, 0, false), 33554432);
  EXPECT_EQ(IEAutomaticMemoryThreshold(13 * GB, 0, false), int64_t(10 * GB));
  // A 32-bit process is capped by what it can really allocate in one block.
  EXPECT_EQ(IEAutomaticMemoryThreshold(13 * GB, 3 * GB, true), kIEMaxMemoryBlock32);
  EXPECT_EQ(IEAutomaticMemoryThreshold(13 * GB, 600 * 1024 * 1024ull, true), 300 * 1024 * 1024);
  EXPECT_EQ(IEAutomaticMemoryThreshold(130 * 1024 * 1024ull, 3 * GB, true), 100 * 1024 * 1024);
  IEMemoryThreshold = 777;
  EXPECT_EQ(IEEffectiveMemoryThreshold(), 777);
  IEMemoryThreshold = -1;
  int64_t automatic = IEEffectiveMemoryThreshold();
  EXPECT_GT(automatic, 0);
  if (sizeof(void*) == 4) {
    EXPECT_LE(automatic, kIEMaxMemoryBlock32);
  }
  EXPECT_GT(IEPhysicalMemory(false), 0);
  EXPECT_GT(IEPhysicalMemory(true), 0);
  EXPECT_LE(IEPhysicalMemory(true), IEPhysicalMemory(false));
}

TEST(IEPlatform, StrToFloatDef) {
  struct Case { const char* text; char sep; double value; } const kCases[] = {
      {"1,5", '.', 1.5}, {"1.5", ',', 1.5}, {"1.5", '.', 1.5}, {"1,5", ',', 1.5}, {" -2.25 ", '.', -2.25},
      {"abc", '.', -7}, {"", '.', -7}, {"1.2.3", '.', -7}, {"0x10", '.', -7}, {"inf", '.', -7}, {"3e2", '.', 300}};
  for (const Case& c : kCases) EXPECT_DOUBLE_EQ(IEStrToFloatDefSep(c.text, -7, c.sep), c.value) << c.text << " " << c.sep;
  EXPECT_DOUBLE_EQ(IEStrToFloatDef("2,5", 0), 2.5);
  EXPECT_DOUBLE_EQ(IEStrToFloatDef("2.5", 0), 2.5);
}

TEST(IEPlatform, Queries) {
  IEIsRemoteSession();  // answers without failing; wine reports a local session
  EXPECT_FALSE(IEIsRemoteSession());
  EXPECT_TRUE(IEHasMMX());  // every processor that runs these tests has MMX
}
