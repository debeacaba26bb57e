#include "registration.h"

namespace presenter {

const CLSID kStandInClsid = {0xb4054dfa, 0x328b, 0x4096, {0x87, 0x43, 0x47, 0x1b, 0xa9, 0x86, 0xc1, 0x0c}};
const wchar_t kStandInClsidText[] = L"{B4054DFA-328B-4096-8743-471BA986C10C}";
const wchar_t kProgId[] = L"PowerPoint.Application";
const wchar_t kVersionedProgId[] = L"PowerPoint.Application.1";

namespace {

const wchar_t kClassesRoot[] = L"Software\\Classes\\";
const wchar_t kDescription[] = L"Tevarnic presentation stand-in";

class RegKey {
 public:
  RegKey() = default;
  ~RegKey() {
    if (k_) RegCloseKey(k_);
  }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  HKEY* put() { return &k_; }
  HKEY get() const { return k_; }

 private:
  HKEY k_ = nullptr;
};

std::wstring ClassesPath(const std::wstring& sub) { return kClassesRoot + sub; }

// The CLSID a ProgID names, or empty when the ProgID is not registered per user or machine-wide.
std::wstring ProgIdClass(const wchar_t* progId) {
  wchar_t value[64] = {};
  DWORD bytes = sizeof value - sizeof(wchar_t);
  const std::wstring user = ClassesPath(std::wstring(progId) + L"\\CLSID");
  if (RegGetValueW(HKEY_CURRENT_USER, user.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &bytes) == ERROR_SUCCESS)
    return value;
  bytes = sizeof value - sizeof(wchar_t);
  const std::wstring machine = std::wstring(progId) + L"\\CLSID";
  if (RegGetValueW(HKEY_CLASSES_ROOT, machine.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &bytes) == ERROR_SUCCESS)
    return value;
  return std::wstring();
}

// Where class keys are written: the per-user classes, or the merged classes root.
struct ClassesStore {
  HKEY root;
  const wchar_t* prefix;
};
const ClassesStore kUserClasses = {HKEY_CURRENT_USER, kClassesRoot};
const ClassesStore kMergedClasses = {HKEY_CLASSES_ROOT, L""};

LONG SetDefault(const ClassesStore& store, const std::wstring& sub, const std::wstring& value) {
  RegKey k;
  LONG r = RegCreateKeyExW(store.root, (store.prefix + sub).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, k.put(),
                           nullptr);
  if (r != ERROR_SUCCESS) return r;
  return RegSetValueExW(k.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        DWORD((value.size() + 1) * sizeof(wchar_t)));
}

LONG WriteKeys(const ClassesStore& store, const std::wstring& serverPath) {
  const std::wstring clsid = std::wstring(L"CLSID\\") + kStandInClsidText;
  LONG r = SetDefault(store, clsid, kDescription);
  if (!r) r = SetDefault(store, clsid + L"\\LocalServer32", L"\"" + serverPath + L"\"");
  if (!r) r = SetDefault(store, clsid + L"\\ProgID", kVersionedProgId);
  if (!r) r = SetDefault(store, clsid + L"\\VersionIndependentProgID", kProgId);
  if (!r) r = SetDefault(store, kProgId, kDescription);
  if (!r) r = SetDefault(store, std::wstring(kProgId) + L"\\CLSID", kStandInClsidText);
  if (!r) r = SetDefault(store, std::wstring(kProgId) + L"\\CurVer", kVersionedProgId);
  if (!r) r = SetDefault(store, kVersionedProgId, kDescription);
  if (!r) r = SetDefault(store, std::wstring(kVersionedProgId) + L"\\CLSID", kStandInClsidText);
  return r;
}

// True when class lookups (which read the merged root) find our ProgID and local server.
bool VisibleInMergedRoot() {
  wchar_t value[64] = {};
  DWORD bytes = sizeof value - sizeof(wchar_t);
  const std::wstring progId = std::wstring(kProgId) + L"\\CLSID";
  if (RegGetValueW(HKEY_CLASSES_ROOT, progId.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &bytes) != ERROR_SUCCESS ||
      _wcsicmp(value, kStandInClsidText) != 0)
    return false;
  const std::wstring server = std::wstring(L"CLSID\\") + kStandInClsidText + L"\\LocalServer32";
  return RegGetValueW(HKEY_CLASSES_ROOT, server.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, nullptr, nullptr) ==
         ERROR_SUCCESS;
}

void DeleteOwnKeys(const ClassesStore& store) {
  for (const wchar_t* progId : {kProgId, kVersionedProgId}) {
    wchar_t value[64] = {};
    DWORD bytes = sizeof value - sizeof(wchar_t);
    const std::wstring key = store.prefix + std::wstring(progId);
    if (RegGetValueW(store.root, (key + L"\\CLSID").c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &bytes) ==
            ERROR_SUCCESS &&
        _wcsicmp(value, kStandInClsidText) == 0)
      RegDeleteTreeW(store.root, key.c_str());
  }
  RegDeleteTreeW(store.root, (store.prefix + std::wstring(L"CLSID\\") + kStandInClsidText).c_str());
}

bool NamesOtherClass(const wchar_t* progId, std::wstring& other) {
  other = ProgIdClass(progId);
  return !other.empty() && _wcsicmp(other.c_str(), kStandInClsidText) != 0;
}

}  // namespace

RegistrationResult RegisterServer(const std::wstring& serverPath, std::wstring& message) {
  std::wstring other;
  for (const wchar_t* progId : {kProgId, kVersionedProgId})
    if (NamesOtherClass(progId, other)) {
      message = std::wstring(L"Not registered: the ProgID ") + progId + L" already names the class " + other +
                L", which is left as it is.";
      return RegistrationResult::RefusedForeignProgId;
    }
  LONG r = WriteKeys(kUserClasses, serverPath);
  // Some platforms (Wine) do not merge per-user classes into the root that class lookups read;
  // there the same keys go into that root, so the program can still find the stand-in.
  if (r == ERROR_SUCCESS && !VisibleInMergedRoot()) r = WriteKeys(kMergedClasses, serverPath);
  if (r != ERROR_SUCCESS) {
    message = L"Registration failed: registry error " + std::to_wstring(r) + L".";
    return RegistrationResult::Failed;
  }
  message = std::wstring(L"Registered ") + kProgId + L" " + kStandInClsidText + L" -> " + serverPath;
  return RegistrationResult::Done;
}

RegistrationResult UnregisterServer(std::wstring& message) {
  message.clear();
  std::wstring other;
  for (const wchar_t* progId : {kProgId, kVersionedProgId})
    if (NamesOtherClass(progId, other)) message += std::wstring(L"Left ") + progId + L" alone: it names " + other + L". ";
  // Only keys that name our class go, in the per-user classes and in the merged root alike.
  DeleteOwnKeys(kUserClasses);
  DeleteOwnKeys(kMergedClasses);
  message += L"Unregistered " + std::wstring(kStandInClsidText) + L".";
  return RegistrationResult::Done;
}

}  // namespace presenter
