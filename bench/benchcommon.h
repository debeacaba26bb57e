// What the image library's benchmarks share: a wall clock, a photograph-like test picture and a
// text page, writers of files for the tools compare.sh runs, and a run of the benchmark itself in a
// fresh process.
#pragma once
#include <windows.h>
#include <psapi.h>

#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "iebitmap.h"

// Runs this program again with `args` in a process of its own (so that the memory peaks it reports
// are its own) and waits for it; its exit code, or -1 when it could not be started.
inline int BenchRunSelf(const std::string& args) {
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string cmd = std::string("\"") + self + "\" " + args;
  STARTUPINFOA si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) return -1;
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD rc = 1;
  GetExitCodeProcess(pi.hProcess, &rc);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return int(rc);
}

// Seconds on the performance counter.
inline double BenchNow() {
  static LARGE_INTEGER f = [] { LARGE_INTEGER v; QueryPerformanceFrequency(&v); return v; }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return double(now.QuadPart) / double(f.QuadPart);
}

// Smooth shading with texture and some flat areas, as a rendered slide with a photograph would have.
inline void BenchMakePhoto(TIEBitmap& b, int w, int h) {
  b.Allocate(w, h, ie24RGB);
  uint32_t seed = 7;
  for (int y = 0; y < h; ++y) {
    uint8_t* r = b.GetRowAddress(y);
    for (int x = 0; x < w; ++x) {
      seed = seed * 1103515245 + 12345;
      const int n = int((seed >> 16) & 7);
      const bool flat = y < h / 5;
      r[3 * x] = uint8_t(flat ? 230 : (128 + 100 * std::sin(x * 0.01) + n));
      r[3 * x + 1] = uint8_t(flat ? 230 : (128 + 90 * std::cos(y * 0.013) + n));
      r[3 * x + 2] = uint8_t(flat ? 240 : ((x + y) / 8 % 256));
    }
  }
}

// A bilevel page of text-like strokes: lines of words between margins.
inline void BenchMakePage(TIEBitmap& b, int w, int h) {
  b.Allocate(w, h, ie1g);
  uint32_t seed = 3;
  for (int y = 0; y < h; ++y) {
    uint8_t* r = b.GetRowAddress(y);
    std::memset(r, 0xFF, size_t(b.GetRowLength()));
    const bool textLine = (y / 12) % 4 != 3 && y % 48 > 8 && y > 200 && y < h - 200;
    for (int x = 200; x < w - 200 && textLine; ++x) {
      seed = seed * 1103515245 + 12345;
      if ((x / 30) % 6 != 5 && (seed >> 28) < 5) r[x >> 3] &= uint8_t(~(0x80 >> (x & 7)));
    }
  }
}

// The rows of a 24-bit picture as the horizontal predictor stores them (each byte less the same
// sample of the pixel before), in `rows`, with a pointer to each row.
inline void BenchDifferencedRows(TIEBitmap& b, std::string& rows, std::vector<const uint8_t*>& pointers) {
  const int w = b.GetImageWidth(), h = b.GetImageHeight(), rowBytes = w * 3;
  rows.assign(size_t(rowBytes) * h, '\0');
  pointers.clear();
  for (int y = 0; y < h; ++y) {
    uint8_t* d = reinterpret_cast<uint8_t*>(&rows[size_t(y) * rowBytes]);
    const uint8_t* s = b.GetRowAddress(y);
    for (int i = 0; i < rowBytes; ++i) d[i] = uint8_t(s[i] - (i >= 3 ? s[i - 3] : 0));
    pointers.push_back(d);
  }
}

// Writes `size` bytes to `path`; false when the file could not be written whole.
inline bool BenchWriteFile(const std::string& path, const void* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

// A 24-bit picture as a binary PPM.
inline bool BenchWritePPM(TIEBitmap& b, const std::string& path) {
  const int w = b.GetImageWidth(), h = b.GetImageHeight();
  std::string all = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  const size_t head = all.size();
  all.resize(head + size_t(w) * h * 3);
  for (int y = 0; y < h; ++y) {
    const uint8_t* s = b.GetRowAddress(y);
    char* d = &all[head + size_t(y) * w * 3];
    for (int x = 0; x < w; ++x) d[3 * x] = char(s[3 * x + 2]), d[3 * x + 1] = char(s[3 * x + 1]), d[3 * x + 2] = char(s[3 * x]);
  }
  return BenchWriteFile(path, all.data(), all.size());
}

// A bilevel picture (a set bit white, as BenchMakePage draws) as a binary PBM.
inline bool BenchWritePBM(TIEBitmap& b, const std::string& path) {
  const int w = b.GetImageWidth(), h = b.GetImageHeight(), rowBytes = (w + 7) / 8;
  std::string all = "P4\n" + std::to_string(w) + " " + std::to_string(h) + "\n";
  for (int y = 0; y < h; ++y) {
    const uint8_t* s = b.GetRowAddress(y);
    for (int i = 0; i < rowBytes; ++i) all.push_back(char(~s[i]));  // PBM: 1 = black
  }
  return BenchWriteFile(path, all.data(), all.size());
}

// Peak figures of this process in MiB: the private commit (Wine reports it as the page-file figure),
// which misses bitmaps kept in mapped sections, and the working set, which counts them. Users link
// psapi.
struct BenchPeak {
  double commit, workingSet;
};
inline BenchPeak BenchPeakMiB() {
  PROCESS_MEMORY_COUNTERS pmc = {};
  pmc.cb = sizeof pmc;
  GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc);
  return {double(pmc.PeakPagefileUsage) / (1024.0 * 1024.0), double(pmc.PeakWorkingSetSize) / (1024.0 * 1024.0)};
}

// The folder `name` under the user's temporary folder, made if missing, with a trailing "\".
inline std::wstring BenchTempFolder(const std::wstring& name) {
  wchar_t temp[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH, temp);
  std::wstring folder = std::wstring(temp) + name + L"\\";
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

// Runs this program again with `args` in a fresh process (its own peak memory), its standard output
// collected in `out`; true when it ends with exit code 0.
inline bool BenchRunSelf(const std::wstring& args, std::string& out) {
  wchar_t self[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return false;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = writeEnd;
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION pi{};
  std::wstring cmd = L"\"" + std::wstring(self) + L"\" " + args;
  const bool started = CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  CloseHandle(writeEnd);
  if (!started) {
    CloseHandle(readEnd);
    return false;
  }
  char buf[256];
  DWORD n = 0;
  while (ReadFile(readEnd, buf, sizeof buf, &n, nullptr) && n) out.append(buf, n);
  CloseHandle(readEnd);
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return code == 0;
}
