// The late-bound automation base of the stand-in's objects: IDispatch over a table of members
// (with named and missing arguments), external connections counted for the server's lifetime,
// and the argument and result helpers the objects share.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <string>
#include <vector>

namespace presenter {

struct Member {
  const wchar_t* name;
  DISPID id;
  std::vector<const wchar_t*> parameters;  // in declaration order; their index is their DISPID
};

// Server-wide count of strong external connections. When it falls to zero, `OnLastConnection`
// (set by the server) runs.
struct ConnectionCount {
  static LONG count;
  static void (*OnLastConnection)();
};

class DispatchObject : public IDispatch, public IExternalConnection {
 public:
  DispatchObject() = default;
  DispatchObject(const DispatchObject&) = delete;
  DispatchObject& operator=(const DispatchObject&) = delete;

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  // IDispatch
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                      UINT* argError) override;
  // IExternalConnection
  STDMETHODIMP_(DWORD) AddConnection(DWORD type, DWORD) override;
  STDMETHODIMP_(DWORD) ReleaseConnection(DWORD type, DWORD, BOOL) override;

 protected:
  virtual ~DispatchObject() = default;
  virtual const std::vector<Member>& Members() const = 0;
  // `args[i]` is the i-th declared parameter, or null when the caller left it out.
  virtual HRESULT Call(DISPID id, const std::vector<VARIANT*>& args, VARIANT* result, EXCEPINFO* excep) = 0;

 private:
  LONG references_ = 1;
};

// Argument helpers: a missing argument is absent or VT_ERROR/DISP_E_PARAMNOTFOUND.
bool IsMissing(const VARIANT* v);
// "VT_I4 1", "VT_BSTR \"x\"", "<missing>": the type and value of an argument, for the journal.
std::wstring DescribeArgument(const VARIANT* v);
bool ArgumentToString(const VARIANT* v, std::wstring& out);
bool ArgumentToLong(const VARIANT* v, long& out);

// Fills `excep` with `source` and `description` and returns DISP_E_EXCEPTION (the form the
// program shows to its user); the failure is also journalled.
HRESULT RaiseError(EXCEPINFO* excep, HRESULT code, const std::wstring& description);

// Results; ReturnObject takes over one reference.
HRESULT ReturnObject(VARIANT* result, IDispatch* object);
HRESULT ReturnLong(VARIANT* result, long value);
HRESULT ReturnString(VARIANT* result, const std::wstring& value);

}  // namespace presenter
