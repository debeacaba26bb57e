#include "powerpoint.h"

#include <utility>

namespace app {

const wchar_t kPowerPointProgId[] = L"PowerPoint.Application";

namespace {

std::string Narrow(const std::wstring& w) {
  if (w.empty()) return std::string();
  const int n = WideCharToMultiByte(CP_ACP, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(size_t(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_ACP, 0, w.data(), int(w.size()), &s[0], n, nullptr, nullptr);
  return s;
}

std::string StatusText(HRESULT hr) {
  std::string text = ui::SysErrorMessage(static_cast<unsigned long>(hr));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  if (text.empty()) text = ui::Format("Automation error %08lX", static_cast<unsigned long>(hr));
  return text;
}

[[noreturn]] void RaiseStatus(HRESULT hr, const wchar_t* member) {
  throw EAutomationError(StatusText(hr) + " (" + Narrow(member) + ")", hr);
}

}  // namespace

OleVariant::OleVariant(long value) {
  VariantInit(&v_);
  V_VT(&v_) = VT_I4;
  V_I4(&v_) = value;
}

OleVariant::OleVariant(const std::wstring& text) {
  VariantInit(&v_);
  V_VT(&v_) = VT_BSTR;
  V_BSTR(&v_) = SysAllocStringLen(text.data(), UINT(text.size()));
  if (!V_BSTR(&v_)) {
    V_VT(&v_) = VT_EMPTY;
    throw EAutomationError("Out of memory for an automation argument", E_OUTOFMEMORY);
  }
}

OleVariant::OleVariant(const OleVariant& o) {
  VariantInit(&v_);
  const HRESULT hr = VariantCopy(&v_, const_cast<VARIANT*>(&o.v_));
  if (FAILED(hr)) throw EAutomationError(StatusText(hr), hr);
}

OleVariant& OleVariant::operator=(const OleVariant& o) {
  if (this != &o) {
    VARIANT copy;
    VariantInit(&copy);
    const HRESULT hr = VariantCopy(&copy, const_cast<VARIANT*>(&o.v_));
    if (FAILED(hr)) throw EAutomationError(StatusText(hr), hr);
    VariantClear(&v_);
    v_ = copy;
  }
  return *this;
}

DispatchRef& DispatchRef::operator=(DispatchRef&& o) noexcept {
  if (this != &o) {
    Reset();
    p_ = o.p_;
    o.p_ = nullptr;
  }
  return *this;
}

void DispatchRef::Reset() {
  IDispatch* p = p_;
  p_ = nullptr;
  if (p) p->Release();
}

OleVariant DispatchRef::Invoke(const wchar_t* member, const std::vector<OleVariant>& args) const {
  if (!p_) throw EAutomationError("The automation object is not connected", E_POINTER);
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR name = const_cast<LPOLESTR>(member);
  HRESULT hr = p_->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) RaiseStatus(hr, member);

  // Invoke takes the arguments right to left; it only reads them.
  std::vector<VARIANT> reversed;
  reversed.reserve(args.size());
  for (size_t i = args.size(); i-- > 0;) reversed.push_back(args[i].Get());
  DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr, UINT(reversed.size()), 0};

  OleVariant result;
  EXCEPINFO info = {};
  UINT argError = 0;
  hr = p_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params,
                  result.Ptr(), &info, &argError);
  if (hr == DISP_E_EXCEPTION) {
    if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
    std::string text = info.bstrDescription ? Narrow(info.bstrDescription) : std::string();
    const HRESULT code = info.scode ? info.scode : hr;
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    if (text.empty()) text = StatusText(code) + " (" + Narrow(member) + ")";
    throw EAutomationError(text, code);
  }
  if (FAILED(hr)) RaiseStatus(hr, member);
  return result;
}

DispatchRef DispatchRef::InvokeObject(const wchar_t* member, const std::vector<OleVariant>& args) const {
  OleVariant result = Invoke(member, args);
  const VARIANT& v = result.Get();
  IDispatch* d = nullptr;
  if (V_VT(&v) == VT_DISPATCH && V_DISPATCH(&v)) {
    d = V_DISPATCH(&v);
    d->AddRef();
    return DispatchRef(d);
  }
  if (V_VT(&v) == VT_UNKNOWN && V_UNKNOWN(&v) &&
      SUCCEEDED(V_UNKNOWN(&v)->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d))) && d)
    return DispatchRef(d);
  throw EAutomationError(Narrow(member) + " did not return an object", DISP_E_TYPEMISMATCH);
}

void TPowerPointApplication::Connect() {
  Disconnect();
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(kPowerPointProgId, &clsid);
  if (FAILED(hr)) throw EAutomationError(StatusText(hr), hr);
  IUnknown* running = nullptr;
  if (SUCCEEDED(GetActiveObject(clsid, nullptr, &running)) && running) {
    IDispatch* d = nullptr;
    hr = running->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d));
    running->Release();
    if (SUCCEEDED(hr) && d) {
      app_ = DispatchRef(d);
      return;
    }
  }
  IDispatch* d = nullptr;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                        reinterpret_cast<void**>(&d));
  if (FAILED(hr) || !d) throw EAutomationError(StatusText(FAILED(hr) ? hr : E_NOINTERFACE), hr);
  app_ = DispatchRef(d);
}

DispatchRef TPowerPointApplication::OpenPresentation(const std::wstring& fileName, long readOnly, long untitled,
                                                     long withWindow) {
  if (!app_) throw EAutomationError("The application is not connected", E_POINTER);
  DispatchRef presentations = app_.InvokeObject(L"Presentations");
  return presentations.InvokeObject(
      L"Open", {OleVariant(fileName), OleVariant(readOnly), OleVariant(untitled), OleVariant(withWindow)});
}

int TPowerPointPresentation::SlideCount() {
  OleVariant count = pres_.InvokeObject(L"Slides").Invoke(L"Count");
  VARIANT asLong;
  VariantInit(&asLong);
  const HRESULT hr = VariantChangeType(&asLong, const_cast<VARIANT*>(&count.Get()), 0, VT_I4);
  if (FAILED(hr)) throw EAutomationError("The slide count is not a number", hr);
  if (V_I4(&asLong) < 0) throw EAutomationError("The slide count is negative", E_UNEXPECTED);
  return int(V_I4(&asLong));
}

DispatchRef TPowerPointPresentation::SlideItem(int index) {
  return pres_.InvokeObject(L"Slides").InvokeObject(L"Item", {OleVariant(long(index))});
}

void TPowerPointPresentation::Close() { pres_.Invoke(L"Close"); }

void TPowerPointSlide::Export(const std::wstring& fileName, const std::wstring& filterName, int width, int height) {
  slide_.Invoke(L"Export", {OleVariant(fileName), OleVariant(filterName), OleVariant(long(width)),
                            OleVariant(long(height))});
}

}  // namespace app
