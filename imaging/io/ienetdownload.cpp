// The download: WinInet entries looked up by name, the address split into its parts, one session,
// connection and request per download, and the read loop.
#include "ienetdownload.h"

#include <windows.h>
#include <wininet.h>

#include <cstdlib>
#include <vector>

#include "ietextutils.h"

namespace {

// A body this large is refused rather than grown in memory without end.
constexpr int64_t kMaxDownloadBytes = int64_t(1) << 30;
constexpr DWORD kKnownLengthBlock = 65536;  // read block when the length is known
constexpr DWORD kUnknownLengthBlock = 1024;
constexpr size_t kMaxTypeText = 10;
// reload, no cache write, keep the connection
constexpr DWORD kHttpFlags = 0x84400000;
// the same and secure; redirects between http and https are followed, certificate checks stay on
constexpr DWORD kHttpsFlags = 0x84C0C000;
const char kAgent[] = "Mozilla/4.*";

using TInternetOpenA = HINTERNET(WINAPI*)(LPCSTR, DWORD, LPCSTR, LPCSTR, DWORD);
using TInternetCloseHandle = BOOL(WINAPI*)(HINTERNET);
using TInternetConnectA = HINTERNET(WINAPI*)(HINTERNET, LPCSTR, INTERNET_PORT, LPCSTR, LPCSTR, DWORD, DWORD,
                                             DWORD_PTR);
using THttpOpenRequestA = HINTERNET(WINAPI*)(HINTERNET, LPCSTR, LPCSTR, LPCSTR, LPCSTR, LPCSTR*, DWORD, DWORD_PTR);
using THttpSendRequestA = BOOL(WINAPI*)(HINTERNET, LPCSTR, DWORD, LPVOID, DWORD);
using THttpQueryInfoA = BOOL(WINAPI*)(HINTERNET, DWORD, LPVOID, LPDWORD, LPDWORD);
using TInternetReadFile = BOOL(WINAPI*)(HINTERNET, LPVOID, DWORD, LPDWORD);
using TFtpOpenFileA = HINTERNET(WINAPI*)(HINTERNET, LPCSTR, DWORD, DWORD, DWORD_PTR);

struct TWinInetEntries {
  HMODULE Module = nullptr;
  TInternetOpenA InternetOpenA = nullptr;
  TInternetCloseHandle InternetCloseHandle = nullptr;
  TInternetConnectA InternetConnectA = nullptr;
  THttpOpenRequestA HttpOpenRequestA = nullptr;
  THttpSendRequestA HttpSendRequestA = nullptr;
  THttpQueryInfoA HttpQueryInfoA = nullptr;
  TInternetReadFile InternetReadFile = nullptr;
  TFtpOpenFileA FtpOpenFileA = nullptr;
};
TWinInetEntries gWinInet;

template <typename T>
void Entry(T& slot, const char* name) {
  slot = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(gWinInet.Module, name)));
}

// Owns one WinInet handle.
class TInternetHandle {
 public:
  explicit TInternetHandle(HINTERNET h = nullptr) : h_(h) {}
  ~TInternetHandle() { Reset(nullptr); }
  TInternetHandle(const TInternetHandle&) = delete;
  TInternetHandle& operator=(const TInternetHandle&) = delete;
  void Reset(HINTERNET h) {
    if (h_) gWinInet.InternetCloseHandle(h_);
    h_ = h;
  }
  HINTERNET Get() const { return h_; }

 private:
  HINTERNET h_;
};

struct TURLParts {
  int Kind = 0;
  std::string Host, User, Password, Path;
  INTERNET_PORT Port = 0;
};

// The port after a host's ":"; text that is not a whole number in range gives 80.
INTERNET_PORT ParsePort(const std::string& text) {
  if (text.empty() || text.size() > 5) return 80;
  long v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 80;
    v = v * 10 + (c - '0');
  }
  return v > 0 && v <= 65535 ? INTERNET_PORT(v) : INTERNET_PORT(80);
}

bool SplitURL(const std::wstring& url, TURLParts& p) {
  p.Kind = IEGetURLType(url);
  static const size_t kPrefix[] = {0, 7, 8, 6};
  if (p.Kind < 1 || p.Kind > 3) return false;
  const std::string rest = IEWideToAnsi(url).substr(kPrefix[p.Kind]);
  const size_t slash = rest.find('/');
  if (slash == std::string::npos) return false;
  std::string host = rest.substr(0, slash);
  p.Path = rest.substr(slash);
  const size_t at = host.find('@');
  if (at != std::string::npos) {
    const size_t colon = host.find(':');
    if (colon == std::string::npos || colon > at) return false;
    p.User = host.substr(0, colon);
    p.Password = host.substr(colon + 1, at - colon - 1);
    host = host.substr(at + 1);
  }
  const size_t colon = host.find(':');
  if (colon != std::string::npos) {
    p.Port = ParsePort(host.substr(colon + 1));
    host = host.substr(0, colon);
  } else {
    p.Port = p.Kind == 1 ? 80 : p.Kind == 2 ? 443 : 21;
  }
  p.Host = host;
  return !p.Host.empty();
}

const char* OrNull(const std::string& s) { return s.empty() ? nullptr : s.c_str(); }

bool QueryText(HINTERNET request, DWORD query, std::string& out) {
  char buf[1024];
  DWORD len = sizeof buf - 1;
  if (!gWinInet.HttpQueryInfoA(request, query, buf, &len, nullptr)) return false;
  out.assign(buf, len < sizeof buf ? len : sizeof buf - 1);
  return true;
}

// Sends the GET and checks its answer: the status must be 2xx. total receives the stated length
// (0: none or not a number).
bool OpenHttp(HINTERNET connection, const TURLParts& p, TInternetHandle& request, int64_t& total,
              std::string& typeText) {
  request.Reset(gWinInet.HttpOpenRequestA(connection, "GET", p.Path.c_str(), "HTTP/1.1", nullptr, nullptr,
                                          p.Kind == 2 ? kHttpsFlags : kHttpFlags, 0));
  if (!request.Get()) return false;
  if (!gWinInet.HttpSendRequestA(request.Get(), nullptr, 0, nullptr, 0)) return false;
  DWORD status = 0, len = sizeof status;
  if (!gWinInet.HttpQueryInfoA(request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &len,
                               nullptr) ||
      status < 200 || status > 299)
    return false;
  std::string text;
  if (QueryText(request.Get(), HTTP_QUERY_CONTENT_TYPE, text)) {
    const size_t slash = text.find('/');
    typeText = slash == std::string::npos ? std::string() : text.substr(slash + 1);
  }
  total = 0;
  if (QueryText(request.Get(), HTTP_QUERY_CONTENT_LENGTH, text)) {
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (end != text.c_str() && *end == '\0' && v > 0) total = v;
  }
  return true;
}

bool OpenFtp(HINTERNET connection, const TURLParts& p, TInternetHandle& file, std::string& typeText) {
  const std::string path = p.Path.substr(1);
  file.Reset(gWinInet.FtpOpenFileA(connection, path.c_str(), GENERIC_READ, FTP_TRANSFER_TYPE_BINARY, 0));
  if (!file.Get()) return false;
  const size_t dot = path.rfind('.');
  const size_t slash = path.rfind('/');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
    typeText = path.substr(dot + 1, kMaxTypeText);
  return true;
}

}  // namespace

void IELoadWinInet() {
  if (gWinInet.Module) return;
  gWinInet.Module = LoadLibraryA("wininet.dll");
  if (!gWinInet.Module) return;
  Entry(gWinInet.InternetOpenA, "InternetOpenA");
  Entry(gWinInet.InternetCloseHandle, "InternetCloseHandle");
  Entry(gWinInet.InternetConnectA, "InternetConnectA");
  Entry(gWinInet.HttpOpenRequestA, "HttpOpenRequestA");
  Entry(gWinInet.HttpSendRequestA, "HttpSendRequestA");
  Entry(gWinInet.HttpQueryInfoA, "HttpQueryInfoA");
  Entry(gWinInet.InternetReadFile, "InternetReadFile");
  Entry(gWinInet.FtpOpenFileA, "FtpOpenFileA");
}

void IEUnloadWinInet() {
  if (gWinInet.Module) FreeLibrary(gWinInet.Module);
  gWinInet = TWinInetEntries();
}

bool IEWinInetLoaded() {
  const TWinInetEntries& w = gWinInet;
  return w.Module && w.InternetOpenA && w.InternetCloseHandle && w.InternetConnectA && w.HttpOpenRequestA &&
         w.HttpSendRequestA && w.HttpQueryInfoA && w.InternetReadFile && w.FtpOpenFileA;
}

bool IEDownload(const std::wstring& url, TIEMemoryStream& target, const std::atomic<bool>* abort,
                const TIEProgressEvent& progress, void* sender, std::string& typeText) {
  typeText.clear();
  TURLParts p;
  if (!IEWinInetLoaded() || !SplitURL(url, p)) return false;
  TInternetHandle session(gWinInet.InternetOpenA(kAgent, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
  if (!session.Get()) return false;
  TInternetHandle connection(gWinInet.InternetConnectA(session.Get(), p.Host.c_str(), p.Port, OrNull(p.User),
                                                       OrNull(p.Password),
                                                       p.Kind == 3 ? INTERNET_SERVICE_FTP : INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection.Get()) return false;
  TInternetHandle source;
  int64_t total = 0;
  if (p.Kind == 3 ? !OpenFtp(connection.Get(), p, source, typeText)
                  : !OpenHttp(connection.Get(), p, source, total, typeText))
    return false;
  // Blocking reads: a call returns once data is there, and 0 bytes only at the real end of the body.
  std::vector<uint8_t> buffer(total > 0 ? kKnownLengthBlock : kUnknownLengthBlock);
  int64_t received = 0;
  for (;;) {
    DWORD got = 0;
    if (!gWinInet.InternetReadFile(source.Get(), buffer.data(), DWORD(buffer.size()), &got)) return false;
    if (got == 0) break;
    if (received + got > kMaxDownloadBytes || target.Write(buffer.data(), int32_t(got)) != int32_t(got)) return false;
    received += got;
    if (total > 0 && progress) progress(sender, int(received * (100.0 / double(total))));
    if (abort && *abort) return false;
    if (total > 0 && received >= total) break;
  }
  return total == 0 || received >= total;
}
