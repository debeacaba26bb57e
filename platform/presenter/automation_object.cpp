#include "automation_object.h"

#include "test_controls.h"

namespace presenter {

LONG ConnectionCount::count = 0;
void (*ConnectionCount::OnLastConnection)() = nullptr;

STDMETHODIMP DispatchObject::QueryInterface(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDispatch) {
    *out = static_cast<IDispatch*>(this);
  } else if (riid == IID_IExternalConnection) {
    *out = static_cast<IExternalConnection*>(this);
  } else {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) DispatchObject::AddRef() { return ULONG(InterlockedIncrement(&references_)); }

STDMETHODIMP_(ULONG) DispatchObject::Release() {
  const LONG r = InterlockedDecrement(&references_);
  if (r == 0) delete this;
  return ULONG(r);
}

STDMETHODIMP DispatchObject::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

STDMETHODIMP DispatchObject::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return DISP_E_BADINDEX;
}

STDMETHODIMP DispatchObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!names || !ids || count == 0) return E_INVALIDARG;
  for (UINT i = 0; i < count; i++) ids[i] = DISPID_UNKNOWN;
  for (const Member& m : Members()) {
    if (!names[0] || _wcsicmp(m.name, names[0]) != 0) continue;
    ids[0] = m.id;
    HRESULT hr = S_OK;
    for (UINT i = 1; i < count; i++) {
      for (size_t k = 0; k < m.parameters.size(); k++)
        if (names[i] && _wcsicmp(m.parameters[k], names[i]) == 0) ids[i] = DISPID(k);
      if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
  }
  return DISP_E_UNKNOWNNAME;
}

STDMETHODIMP DispatchObject::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                                    EXCEPINFO* excep, UINT* argError) {
  const Member* member = nullptr;
  for (const Member& m : Members())
    if (m.id == id) member = &m;
  if (!member) return DISP_E_MEMBERNOTFOUND;
  std::vector<VARIANT*> args(member->parameters.size(), nullptr);
  const UINT total = params ? params->cArgs : 0, named = params ? params->cNamedArgs : 0;
  if (named > total || (total && !params->rgvarg) || (named && !params->rgdispidNamedArgs)) return E_INVALIDARG;
  // Named arguments come first in rgvarg; positional ones follow in reverse order.
  for (UINT i = 0; i < named; i++) {
    const DISPID k = params->rgdispidNamedArgs[i];
    if (k < 0 || size_t(k) >= args.size() || args[size_t(k)]) {
      if (argError) *argError = i;
      return DISP_E_PARAMNOTFOUND;
    }
    args[size_t(k)] = &params->rgvarg[i];
  }
  const UINT positional = total - named;
  if (positional > args.size()) return DISP_E_BADPARAMCOUNT;
  for (UINT i = 0; i < positional; i++) {
    if (args[i]) return DISP_E_BADPARAMCOUNT;  // also given by name
    args[i] = &params->rgvarg[total - 1 - i];
  }
  if (result) VariantInit(result);
  try {
    return Call(id, args, result, excep);
  } catch (const std::bad_alloc&) {
    return RaiseError(excep, E_OUTOFMEMORY, std::wstring(member->name) + L" : out of memory.");
  }
}

STDMETHODIMP_(DWORD) DispatchObject::AddConnection(DWORD type, DWORD) {
  if (!(type & EXTCONN_STRONG)) return 0;
  return DWORD(InterlockedIncrement(&ConnectionCount::count));
}

STDMETHODIMP_(DWORD) DispatchObject::ReleaseConnection(DWORD type, DWORD, BOOL) {
  if (!(type & EXTCONN_STRONG)) return 0;
  const LONG n = InterlockedDecrement(&ConnectionCount::count);
  if (n == 0 && ConnectionCount::OnLastConnection) ConnectionCount::OnLastConnection();
  return DWORD(n);
}

bool IsMissing(const VARIANT* v) {
  return !v || (V_VT(v) == VT_ERROR && V_ERROR(v) == DISP_E_PARAMNOTFOUND);
}

std::wstring DescribeArgument(const VARIANT* v) {
  if (IsMissing(v)) return L"<missing>";
  static const struct {
    VARTYPE vt;
    const wchar_t* name;
  } kNames[] = {{VT_EMPTY, L"VT_EMPTY"}, {VT_NULL, L"VT_NULL"}, {VT_I2, L"VT_I2"},     {VT_I4, L"VT_I4"},
                {VT_R4, L"VT_R4"},       {VT_R8, L"VT_R8"},     {VT_BSTR, L"VT_BSTR"}, {VT_BOOL, L"VT_BOOL"},
                {VT_ERROR, L"VT_ERROR"}, {VT_VARIANT, L"VT_VARIANT"}, {VT_I1, L"VT_I1"}, {VT_UI1, L"VT_UI1"},
                {VT_UI2, L"VT_UI2"},     {VT_UI4, L"VT_UI4"},   {VT_I8, L"VT_I8"},     {VT_INT, L"VT_INT"},
                {VT_DISPATCH, L"VT_DISPATCH"}, {VT_UNKNOWN, L"VT_UNKNOWN"}, {VT_CY, L"VT_CY"}, {VT_DATE, L"VT_DATE"}};
  const VARTYPE base = V_VT(v) & VT_TYPEMASK;
  std::wstring type = (V_VT(v) & VT_BYREF) ? L"VT_BYREF|" : L"";
  type += (V_VT(v) & VT_ARRAY) ? L"VT_ARRAY|" : L"";
  std::wstring name = L"VT_" + std::to_wstring(base);
  for (const auto& n : kNames)
    if (n.vt == base) name = n.name;
  type += name;
  VARIANT text;
  VariantInit(&text);
  std::wstring value;
  if (SUCCEEDED(VariantChangeType(&text, const_cast<VARIANT*>(v), VARIANT_ALPHABOOL, VT_BSTR)))
    value.assign(V_BSTR(&text), SysStringLen(V_BSTR(&text)));
  VariantClear(&text);
  if (base == VT_BSTR) value = L"\"" + value + L"\"";
  return type + L" " + value;
}

bool ArgumentToString(const VARIANT* v, std::wstring& out) {
  if (IsMissing(v)) return false;
  VARIANT t;
  VariantInit(&t);
  if (FAILED(VariantChangeType(&t, const_cast<VARIANT*>(v), 0, VT_BSTR))) return false;
  out.assign(V_BSTR(&t), SysStringLen(V_BSTR(&t)));
  VariantClear(&t);
  return true;
}

bool ArgumentToLong(const VARIANT* v, long& out) {
  if (IsMissing(v)) return false;
  VARIANT t;
  VariantInit(&t);
  if (FAILED(VariantChangeType(&t, const_cast<VARIANT*>(v), 0, VT_I4))) return false;
  out = V_I4(&t);
  return true;
}

HRESULT RaiseError(EXCEPINFO* excep, HRESULT code, const std::wstring& description) {
  wchar_t hex[16];
  _snwprintf(hex, 16, L"%08lX", static_cast<unsigned long>(code));
  Journal(L"  error " + std::wstring(hex) + L" " + description);
  if (!excep) return code;
  ZeroMemory(excep, sizeof *excep);
  excep->bstrSource = SysAllocString(L"Presentation stand-in");
  excep->bstrDescription = SysAllocString(description.c_str());
  excep->scode = code;
  return DISP_E_EXCEPTION;
}

HRESULT ReturnObject(VARIANT* result, IDispatch* object) {
  if (!result) {
    object->Release();
    return S_OK;
  }
  V_VT(result) = VT_DISPATCH;
  V_DISPATCH(result) = object;
  return S_OK;
}

HRESULT ReturnLong(VARIANT* result, long value) {
  if (result) {
    V_VT(result) = VT_I4;
    V_I4(result) = value;
  }
  return S_OK;
}

HRESULT ReturnString(VARIANT* result, const std::wstring& value) {
  if (result) {
    V_VT(result) = VT_BSTR;
    V_BSTR(result) = SysAllocStringLen(value.data(), UINT(value.size()));
  }
  return S_OK;
}

}  // namespace presenter
