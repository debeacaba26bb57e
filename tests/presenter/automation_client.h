// A client that speaks to the stand-in exactly as the conversion program does: the ProgID resolved
// to a class, the running instance if there is one, else a new local server, then late-bound
// calls through IDispatch::Invoke.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace presenter_test {

// An owned VARIANT.
struct Var {
  VARIANT v;
  Var() { VariantInit(&v); }
  explicit Var(long i) {
    VariantInit(&v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = i;
  }
  explicit Var(const std::wstring& s) {
    VariantInit(&v);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocString(s.c_str());
  }
  static Var Missing() {
    Var m;
    V_VT(&m.v) = VT_ERROR;
    V_ERROR(&m.v) = DISP_E_PARAMNOTFOUND;
    return m;
  }
  Var(const Var& o) {
    VariantInit(&v);
    VariantCopy(&v, const_cast<VARIANT*>(&o.v));
  }
  Var& operator=(const Var& o) {
    if (this != &o) {
      VariantClear(&v);
      VariantCopy(&v, const_cast<VARIANT*>(&o.v));
    }
    return *this;
  }
  ~Var() { VariantClear(&v); }
};

struct CallResult {
  HRESULT hr = E_FAIL;
  Var value;
  std::wstring description;  // of a DISP_E_EXCEPTION
};

class Dispatch {
 public:
  explicit Dispatch(IDispatch* d = nullptr) : d_(d) {}
  ~Dispatch() {
    if (d_) d_->Release();
  }
  Dispatch(Dispatch&& o) noexcept : d_(o.d_) { o.d_ = nullptr; }
  Dispatch& operator=(Dispatch&& o) noexcept {
    std::swap(d_, o.d_);
    return *this;
  }
  Dispatch(const Dispatch&) = delete;
  IDispatch* get() const { return d_; }
  explicit operator bool() const { return d_ != nullptr; }
  void Reset() {
    if (d_) d_->Release();
    d_ = nullptr;
  }

  // Invokes `member` with positional arguments (left to right) and optional named ones.
  CallResult Call(const wchar_t* member, WORD flags, std::vector<Var> args,
                  std::vector<std::pair<const wchar_t*, Var>> named = {}) const {
    CallResult r;
    std::vector<LPOLESTR> names = {const_cast<LPOLESTR>(member)};
    for (auto& n : named) names.push_back(const_cast<LPOLESTR>(n.first));
    std::vector<DISPID> ids(names.size());
    r.hr = d_->GetIDsOfNames(IID_NULL, names.data(), UINT(names.size()), LOCALE_USER_DEFAULT, ids.data());
    if (FAILED(r.hr)) return r;
    // rgvarg: named arguments first, then positional ones in reverse order.
    std::vector<VARIANT> rg;
    std::vector<DISPID> namedIds;
    for (size_t i = 0; i < named.size(); i++) {
      rg.push_back(named[i].second.v);
      namedIds.push_back(ids[i + 1]);
    }
    for (size_t i = args.size(); i-- > 0;) rg.push_back(args[i].v);
    DISPPARAMS dp = {rg.data(), namedIds.data(), UINT(rg.size()), UINT(namedIds.size())};
    EXCEPINFO ei{};
    UINT argErr = 0;
    r.hr = d_->Invoke(ids[0], IID_NULL, LOCALE_USER_DEFAULT, flags, &dp, &r.value.v, &ei, &argErr);
    if (r.hr == DISP_E_EXCEPTION) {
      if (ei.pfnDeferredFillIn) ei.pfnDeferredFillIn(&ei);
      if (ei.bstrDescription) r.description = ei.bstrDescription;
      if (ei.scode == 0 && ei.wCode == 0) r.description += L" <no scode>";
    }
    SysFreeString(ei.bstrSource);
    SysFreeString(ei.bstrDescription);
    SysFreeString(ei.bstrHelpFile);
    return r;
  }
  CallResult Method(const wchar_t* member, std::vector<Var> args = {},
                    std::vector<std::pair<const wchar_t*, Var>> named = {}) const {
    return Call(member, DISPATCH_METHOD | DISPATCH_PROPERTYGET, std::move(args), std::move(named));
  }
  // A property or method whose result is an object.
  Dispatch Object(const wchar_t* member, std::vector<Var> args = {}) const {
    CallResult r = Method(member, std::move(args));
    if (FAILED(r.hr) || V_VT(&r.value.v) != VT_DISPATCH) return Dispatch();
    IDispatch* d = V_DISPATCH(&r.value.v);
    d->AddRef();
    return Dispatch(d);
  }
  long Long(const wchar_t* member) const {
    CallResult r = Method(member);
    return SUCCEEDED(r.hr) && V_VT(&r.value.v) == VT_I4 ? V_I4(&r.value.v) : -1;
  }

 private:
  IDispatch* d_;
};

// Connect as the program does: CLSIDFromProgID, GetActiveObject, else CoCreateInstance of a local
// server. `attached` tells which way it went.
inline Dispatch ConnectApplication(HRESULT* hrOut = nullptr, bool* attached = nullptr) {
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(L"PowerPoint.Application", &clsid);
  if (hrOut) *hrOut = hr;
  if (FAILED(hr)) return Dispatch();
  IUnknown* running = nullptr;
  if (SUCCEEDED(GetActiveObject(clsid, nullptr, &running)) && running) {
    IDispatch* d = nullptr;
    hr = running->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d));
    running->Release();
    if (hrOut) *hrOut = hr;
    if (attached) *attached = true;
    return Dispatch(SUCCEEDED(hr) ? d : nullptr);
  }
  IDispatch* d = nullptr;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, reinterpret_cast<void**>(&d));
  if (hrOut) *hrOut = hr;
  if (attached) *attached = false;
  return Dispatch(SUCCEEDED(hr) ? d : nullptr);
}

}  // namespace presenter_test
