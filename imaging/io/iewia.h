// The platform's WIA device manager as a TImageryIO holds it: created with the object, registered
// for three device events, released with it. No device is enumerated or read here.
#pragma once
#include <windows.h>
#include <wia.h>

#include <cstdint>
#include <functional>

class TImageryIO;
class TIEWia;

// Receives the device manager's events for one TIEWia.
class TWiaEventCallBack : public IWiaEventCallback {
 public:
  explicit TWiaEventCallBack(TIEWia* owner) : Owner(owner) {}
  virtual ~TWiaEventCallBack() = default;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  // Tree updated, item created and item deleted set the owner's last event kind (1, 2, 3) and fire
  // its OnDeviceEvent; any other event changes nothing. Always S_OK.
  HRESULT STDMETHODCALLTYPE ImageEventCallback(const GUID* eventGUID, BSTR eventDescription, BSTR deviceID,
                                               BSTR deviceDescription, DWORD deviceType, BSTR fullItemName,
                                               ULONG* eventType, ULONG reserved) override;
  TIEWia* Owner;

 private:
  LONG refs_ = 1;
};

class TIEWia {
 public:
  explicit TIEWia(TImageryIO* owner);
  ~TIEWia();  // ends the registrations before releasing the device manager
  TIEWia(const TIEWia&) = delete;
  TIEWia& operator=(const TIEWia&) = delete;

  TImageryIO* Owner;
  IWiaDevMgr* DeviceManager() const { return DevMgr_; }
  uint8_t LastEventKind = 0;  // 1 tree updated, 2 item created, 3 item deleted
  std::function<void(TIEWia* sender)> OnDeviceEvent;

 private:
  bool OleInitialized_ = false;
  IWiaDevMgr* DevMgr_ = nullptr;
  IUnknown* Registrations_[3] = {};  // item created, item deleted, tree updated
};
