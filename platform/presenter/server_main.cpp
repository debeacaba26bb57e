// The stand-in's process: an out-of-process automation server on a single-threaded apartment.
//   /regserver, /unregserver   per-user registration (exit code 0 done, 2 refused, 1 failed)
//   -Embedding                 started by COM: ends when the last client connection goes
//   (no switch)                started by hand: stays until Application.Quit, so clients can find
//                              it as the running instance
#include <windows.h>
#include <ole2.h>

#include <string>

#include "gdiplus_session.h"
#include "presenter_objects.h"
#include "registration.h"
#include "test_controls.h"

using namespace presenter;

namespace {

// Posted when the last external connection has gone.
constexpr UINT kLastConnectionMessage = WM_APP + 1;
// Time for the reply to Application.Quit to reach its caller before the server ends.
constexpr UINT kQuitGraceMs = 300;
// A server started by COM that no client reaches within this time ends by itself.
constexpr UINT kUnusedServerTimeoutMs = 30000;

DWORD g_mainThread = 0;
LONG g_everConnected = 0;

class ClassFactory : public IClassFactory {
 public:
  explicit ClassFactory(IDispatch* app) : app_(app) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // The factory lives for the whole process (a static object): no reference counting.
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    Journal(L"ClassFactory.CreateInstance()");
    if (outer) return CLASS_E_NOAGGREGATION;
    InterlockedExchange(&g_everConnected, 1);
    return app_->QueryInterface(riid, out);  // one Application per process
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }

 private:
  IDispatch* app_;
};

void OnLastConnection() { PostThreadMessageW(g_mainThread, kLastConnectionMessage, 0, 0); }

// Registration messages go to the caller's standard error when it gave one, else to the console
// of the process that started us (if any); the exit code tells the result either way.
void Report(const std::wstring& text) {
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  if (!err || err == INVALID_HANDLE_VALUE) {
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
    err = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (err == INVALID_HANDLE_VALUE) return;
  }
  const std::wstring line = text + L"\r\n";
  const int n = WideCharToMultiByte(CP_UTF8, 0, line.data(), int(line.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(size_t(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, line.data(), int(line.size()), &utf8[0], n, nullptr, nullptr);
  DWORD written = 0;
  WriteFile(err, utf8.data(), DWORD(utf8.size()), &written, nullptr);
}

bool HasSwitch(const std::wstring& commandLine, const wchar_t* name) {
  std::wstring lower = commandLine;
  for (wchar_t& c : lower) c = wchar_t(towlower(c));
  for (const wchar_t* prefix : {L"/", L"-"}) {
    const std::wstring sw = std::wstring(prefix) + name;
    for (size_t at = lower.find(sw); at != std::wstring::npos; at = lower.find(sw, at + 1)) {
      const size_t end = at + sw.size();
      if ((at == 0 || lower[at - 1] == L' ') && (end == lower.size() || lower[end] == L' ')) return true;
    }
  }
  return false;
}

int Serve(bool embedding) {
  Journal(L"server start" + std::wstring(embedding ? L" (started by COM)" : L" (started by hand)"));
  GdiplusSession gdiplus;
  Application* app = new Application(g_mainThread);
  ConnectionCount::OnLastConnection = OnLastConnection;
  ClassFactory factory(app);
  DWORD classCookie = 0, runningCookie = 0;
  HRESULT hr = CoRegisterClassObject(kStandInClsid, &factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &classCookie);
  if (FAILED(hr)) {
    Journal(L"server cannot register its class");
    app->Release();
    return 3;
  }
  // Weak: the running-object entry must not count as a client, or the server would never end.
  RegisterActiveObject(static_cast<IDispatch*>(app), kStandInClsid, ACTIVEOBJECT_WEAK, &runningCookie);
  const UINT_PTR idle = embedding ? SetTimer(nullptr, 0, kUnusedServerTimeoutMs, nullptr) : 0;
  UINT_PTR quitTimer = 0;
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == kQuitRequestMessage) {
      if (!quitTimer) quitTimer = SetTimer(nullptr, 0, kQuitGraceMs, nullptr);
      continue;
    }
    if (msg.message == WM_TIMER && quitTimer && msg.wParam == quitTimer) break;
    if (msg.message == WM_TIMER && idle && msg.wParam == idle) {
      KillTimer(nullptr, idle);
      if (!g_everConnected && ConnectionCount::count == 0) break;
      continue;
    }
    if (msg.message == kLastConnectionMessage) {
      if (embedding && ConnectionCount::count == 0) break;
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  // Gone from the running-object table and the class table first, so that a client arriving now
  // starts a new server instead of reaching this one.
  if (runningCookie) RevokeActiveObject(runningCookie, nullptr);
  CoRevokeClassObject(classCookie);
  CoDisconnectObject(static_cast<IDispatch*>(app), 0);
  app->Release();
  Journal(L"server stop");
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR cmdLine, int) {
  const std::wstring command = cmdLine ? cmdLine : L"";
  if (HasSwitch(command, L"regserver") || HasSwitch(command, L"unregserver")) {
    std::wstring message;
    RegistrationResult r;
    if (HasSwitch(command, L"unregserver")) {
      r = UnregisterServer(message);
    } else {
      wchar_t exe[MAX_PATH * 4] = {};
      const DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH * 4);
      r = n && n < MAX_PATH * 4 ? RegisterServer(exe, message) : RegistrationResult::Failed;
      if (!n || n >= MAX_PATH * 4) message = L"Registration failed: the server's own path is unknown.";
    }
    Report(message);
    return r == RegistrationResult::Done ? 0 : r == RegistrationResult::RefusedForeignProgId ? 2 : 1;
  }
  g_mainThread = GetCurrentThreadId();
  // Make the thread's message queue before anyone can post to it.
  MSG peek;
  PeekMessageW(&peek, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  if (FAILED(OleInitialize(nullptr))) return 3;
  const int rc = Serve(HasSwitch(command, L"embedding"));
  OleUninitialize();
  return rc;
}
