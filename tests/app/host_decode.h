// Pictures decoded by the host's independent tools into binary PPM files, read back for sampling, and
// the small host-side helpers the program's tests share.
#pragma once
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "hostenv.h"

namespace app_test {

struct Ppm {
  int width = 0, height = 0;
  std::vector<unsigned char> rgb;
  COLORREF At(int x, int y) const {
    const unsigned char* p = &rgb[(size_t(y) * width + x) * 3];
    return RGB(p[0], p[1], p[2]);
  }
};

// Reads a binary PPM (P6, maxval 255) written by a host tool.
inline bool ReadPpm(const std::string& winPath, Ppm& out) {
  std::vector<unsigned char> bytes;
  if (!tq::ReadFileBytes(winPath, bytes)) return false;
  size_t pos = 0;
  auto token = [&]() {
    std::string t;
    while (pos < bytes.size()) {
      if (bytes[pos] == '#') {
        while (pos < bytes.size() && bytes[pos] != '\n') ++pos;
      } else if (isspace(bytes[pos])) {
        if (!t.empty()) break;
        ++pos;
      } else {
        t += char(bytes[pos++]);
      }
    }
    return t;
  };
  if (token() != "P6") return false;
  out.width = atoi(token().c_str());
  out.height = atoi(token().c_str());
  if (atoi(token().c_str()) != 255) return false;
  ++pos;
  const uint64_t need = uint64_t(out.width) * out.height * 3;
  if (out.width <= 0 || out.height <= 0 || pos > bytes.size() || bytes.size() - pos < need) return false;
  out.rgb.assign(bytes.begin() + pos, bytes.begin() + pos + need);
  return true;
}

// Test paths are UTF-8 on the host side; the program takes them wide.
inline std::wstring FromUtf8(const std::string& s) {
  if (s.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), nullptr, 0);
  std::wstring w(size_t(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), &w[0], n);
  return w;
}
inline std::string ToUtf8(const std::wstring& w) {
  if (w.empty()) return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(size_t(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), &s[0], n, nullptr, nullptr);
  return s;
}

// The process's private bytes, for the memory-growth checks.
inline uint64_t PrivateBytes() {
  PROCESS_MEMORY_COUNTERS_EX pmc = {};
  pmc.cb = sizeof pmc;
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc), sizeof pmc);
  // Wine leaves PrivateUsage at zero; the commit charge counts the same private pages there.
  return uint64_t(pmc.PrivateUsage ? pmc.PrivateUsage : pmc.PagefileUsage);
}

inline bool Near(COLORREF a, COLORREF b, int tol) {
  return abs(GetRValue(a) - GetRValue(b)) <= tol && abs(GetGValue(a) - GetGValue(b)) <= tol &&
         abs(GetBValue(a) - GetBValue(b)) <= tol;
}

// The names of the files in a folder, sorted (paths and names in UTF-8).
inline std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> found;
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW(FromUtf8(folder + "\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return found;
  do {
    if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) found.push_back(ToUtf8(fd.cFileName));
  } while (FindNextFileW(h, &fd));
  FindClose(h);
  std::sort(found.begin(), found.end());
  return found;
}

// The test's own folder `name`, made or emptied of files.
inline std::string FreshFolder(const std::string& name) {
  const std::string folder = tq::WorkFile(name);
  CreateDirectoryW(FromUtf8(folder).c_str(), nullptr);
  for (const std::string& f : FilesIn(folder)) DeleteFileW(FromUtf8(folder + "\\" + f).c_str());
  return folder;
}

}  // namespace app_test
