#include "hostenv.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace tq {
namespace {

// wine's kernel32 exports these two; on Windows they are absent.
using ToUnixFn = char*(CDECL*)(LPCWSTR);
using ToDosFn = WCHAR*(CDECL*)(LPCSTR);

std::wstring Widen(const std::string& s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), nullptr, 0);
  std::wstring w(size_t(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), &w[0], n);
  return w;
}

std::string Narrow(const std::wstring& w) {
  if (w.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(size_t(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), &s[0], n, nullptr, nullptr);
  return s;
}

FARPROC Kernel32Proc(const char* name) {
  return GetProcAddress(GetModuleHandleA("kernel32.dll"), name);
}

std::string EnvOrEmpty(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

}  // namespace

bool UnderWine() {
  return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

std::string WinPath(const std::string& unixPath) {
  auto fn = reinterpret_cast<ToDosFn>(reinterpret_cast<void*>(Kernel32Proc("wine_get_dos_file_name")));
  if (!fn) return unixPath;  // on Windows the paths already are Windows paths
  WCHAR* w = fn(unixPath.c_str());
  if (!w) return {};
  std::string s = Narrow(w);
  HeapFree(GetProcessHeap(), 0, w);
  return s;
}

std::string UnixPath(const std::string& winPath) {
  auto fn = reinterpret_cast<ToUnixFn>(reinterpret_cast<void*>(Kernel32Proc("wine_get_unix_file_name")));
  if (!fn) return {};
  char* u = fn(Widen(winPath).c_str());
  if (!u) return {};
  std::string s = u;
  HeapFree(GetProcessHeap(), 0, u);
  return s;
}

std::string SourceDir() { return WinPath(EnvOrEmpty("TQ_SOURCE_DIR")); }

std::string WorkDir() {
  std::string d = EnvOrEmpty("TQ_WORK_DIR");
  if (!d.empty()) return WinPath(d);
  char buf[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, buf);
  return buf;
}

std::string WorkFile(const std::string& name) { return WorkDir() + "\\" + name; }

std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') q += "'\\''";
    else q += c;
  }
  return q + "'";
}

bool ReadFileBytes(const std::string& winPath, std::vector<unsigned char>& out) {
  out.clear();
  FILE* f = _wfopen(Widen(winPath).c_str(), L"rb");
  if (!f) return false;
  unsigned char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  std::fclose(f);
  return true;
}

bool WriteFileBytes(const std::string& winPath, const void* data, size_t size) {
  FILE* f = _wfopen(Widen(winPath).c_str(), L"wb");
  if (!f) return false;
  bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

// wine starts a Unix executable from CreateProcess but hands back no process handle to wait on, so
// the command runs inside a small script that leaves its exit code in a file, renamed into place
// when complete; we poll for that file.
int RunHost(const std::string& command, std::string* output) {
  static std::atomic<unsigned> counter{0};
  const std::string dir = WorkDir();
  const std::string udir = UnixPath(dir);
  if (udir.empty()) return -1;
  const std::string tag = std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++);
  const std::string script = "host-" + tag + ".sh", out = "host-" + tag + ".out", rc = "host-" + tag + ".rc";
  // Debian's own tools first: a stand-in earlier on PATH (a `convert` in /usr/local/bin, say) must not
  // become the independent decoder a test compares against.
  const std::string body = "export PATH=/usr/bin:/bin:$PATH\ncd " + ShellQuote(udir) + " || exit 1\n(\n" + command + "\n) >" + out + " 2>&1 </dev/null\n" +
                           "echo $? >" + rc + ".tmp && mv " + rc + ".tmp " + rc + "\n";
  if (!WriteFileBytes(dir + "\\" + script, body.data(), body.size())) return -1;
  std::wstring cmdline = Widen(WinPath("/bin/sh") + " " + udir + "/" + script);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, &cmdline[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
  if (pi.hProcess) CloseHandle(pi.hProcess);
  if (pi.hThread) CloseHandle(pi.hThread);
  const std::string rcPath = dir + "\\" + rc;
  std::vector<unsigned char> rcBytes;
  for (DWORD waited = 0; !ReadFileBytes(rcPath, rcBytes); waited += 5) {
    if (waited > 15 * 60 * 1000) return -1;
    Sleep(5);
  }
  if (output) {
    std::vector<unsigned char> o;
    ReadFileBytes(dir + "\\" + out, o);
    output->assign(o.begin(), o.end());
  }
  DeleteFileA((dir + "\\" + script).c_str());
  DeleteFileA((dir + "\\" + out).c_str());
  DeleteFileA(rcPath.c_str());
  return std::atoi(std::string(rcBytes.begin(), rcBytes.end()).c_str());
}

}  // namespace tq
