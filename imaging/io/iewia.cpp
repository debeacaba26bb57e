// WIA device manager creation, event registration and dispatch.
#include "iewia.h"

namespace {

const CLSID kWiaDevMgrClass = {0xA1F4E726, 0x8CF1, 0x11D1, {0xBF, 0x92, 0x00, 0x60, 0x08, 0x1E, 0xD8, 0x11}};
const IID kWiaDevMgrInterface = {0x5EB2502A, 0x8CF1, 0x11D1, {0xBF, 0x92, 0x00, 0x60, 0x08, 0x1E, 0xD8, 0x11}};
const IID kWiaEventCallbackInterface = {0xAE6287B0, 0x0084, 0x11D2, {0x97, 0x3B, 0x00, 0xA0, 0xC9, 0x06, 0x8F, 0x2E}};
const GUID kItemCreated = {0x4C8F4EF5, 0xE14F, 0x11D2, {0xB3, 0x26, 0x00, 0xC0, 0x4F, 0x68, 0xCE, 0x61}};
const GUID kItemDeleted = {0x1D22A559, 0xE14F, 0x11D2, {0xB3, 0x26, 0x00, 0xC0, 0x4F, 0x68, 0xCE, 0x61}};
const GUID kTreeUpdated = {0xC9859B91, 0x4AB2, 0x4CD6, {0xA1, 0xFC, 0x58, 0x2E, 0xEC, 0x55, 0xE5, 0x85}};

}  // namespace

HRESULT STDMETHODCALLTYPE TWiaEventCallBack::QueryInterface(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  if (riid == IID_IUnknown || riid == kWiaEventCallbackInterface) {
    *out = static_cast<IWiaEventCallback*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE TWiaEventCallBack::AddRef() { return ULONG(InterlockedIncrement(&refs_)); }

ULONG STDMETHODCALLTYPE TWiaEventCallBack::Release() {
  const LONG n = InterlockedDecrement(&refs_);
  if (n == 0) delete this;
  return ULONG(n);
}

HRESULT STDMETHODCALLTYPE TWiaEventCallBack::ImageEventCallback(const GUID* eventGUID, BSTR, BSTR, BSTR, DWORD, BSTR,
                                                                ULONG*, ULONG) {
  if (!Owner || !eventGUID) return S_OK;
  uint8_t kind;
  if (*eventGUID == kTreeUpdated) kind = 1;
  else if (*eventGUID == kItemCreated) kind = 2;
  else if (*eventGUID == kItemDeleted) kind = 3;
  else return S_OK;
  Owner->LastEventKind = kind;
  if (Owner->OnDeviceEvent) Owner->OnDeviceEvent(Owner);
  return S_OK;
}

TIEWia::TIEWia(TImageryIO* owner) : Owner(owner) {
  OleInitialized_ = SUCCEEDED(OleInitialize(nullptr));
  if (FAILED(CoCreateInstance(kWiaDevMgrClass, nullptr, CLSCTX_LOCAL_SERVER, kWiaDevMgrInterface,
                              reinterpret_cast<void**>(&DevMgr_))))
    DevMgr_ = nullptr;
  if (!DevMgr_) return;
  const GUID* events[3] = {&kItemCreated, &kItemDeleted, &kTreeUpdated};
  for (int i = 0; i < 3; ++i) {
    // the device manager keeps its own reference to the callback for as long as it needs it
    auto* callback = new TWiaEventCallBack(this);
    if (FAILED(DevMgr_->RegisterEventCallbackInterface(0, nullptr, events[i], callback, &Registrations_[i])))
      Registrations_[i] = nullptr;
    callback->Release();
  }
}

TIEWia::~TIEWia() {
  for (IUnknown*& r : Registrations_) {
    if (r) r->Release();
    r = nullptr;
  }
  if (DevMgr_) DevMgr_->Release();
  if (OleInitialized_) OleUninitialize();
}
