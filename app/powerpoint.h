// Late-bound automation wrappers of the presentation application: the application object, one
// opened presentation and one slide. Each holds at most one reference to its automation object and
// releases it when disconnected or destroyed; none of them ever asks the application to quit.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "uisysutils.h"

namespace app {

// A failed automation call: the server's own description when it gave one, else the system's text
// for the status.
class EAutomationError : public ui::Exception {
 public:
  EAutomationError(const std::string& message, HRESULT status) : ui::Exception(message), status_(status) {}
  HRESULT Status() const { return status_; }
  const char* ClassName() const override { return "EAutomationError"; }

 private:
  HRESULT status_;
};

// One owned VARIANT, cleared on destruction.
class OleVariant {
 public:
  OleVariant() { VariantInit(&v_); }
  explicit OleVariant(long value);
  explicit OleVariant(const std::wstring& text);
  OleVariant(const OleVariant& o);
  OleVariant& operator=(const OleVariant& o);
  ~OleVariant() { VariantClear(&v_); }
  VARIANT* Ptr() { return &v_; }
  const VARIANT& Get() const { return v_; }

 private:
  VARIANT v_;
};

// One owned IDispatch reference; moving transfers it.
class DispatchRef {
 public:
  DispatchRef() = default;
  explicit DispatchRef(IDispatch* adopted) : p_(adopted) {}
  ~DispatchRef() { Reset(); }
  DispatchRef(DispatchRef&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
  DispatchRef& operator=(DispatchRef&& o) noexcept;
  DispatchRef(const DispatchRef&) = delete;
  DispatchRef& operator=(const DispatchRef&) = delete;

  IDispatch* Get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  void Reset();

  // Calls `member` (a method or property get) with positional arguments, left to right. Raises
  // EAutomationError on a failure status.
  OleVariant Invoke(const wchar_t* member, const std::vector<OleVariant>& args = {}) const;
  // The same for a member whose result is an object.
  DispatchRef InvokeObject(const wchar_t* member, const std::vector<OleVariant>& args = {}) const;

 private:
  IDispatch* p_ = nullptr;
};

// The ProgID the application is registered under.
extern const wchar_t kPowerPointProgId[];

// `ppta`: the application object, reached running-or-new.
class TPowerPointApplication {
 public:
  // Attaches to a running instance, else starts a new local server. Raises on any failure.
  void Connect();
  void Disconnect() { app_.Reset(); }
  bool Connected() const { return bool(app_); }
  // Presentations.Open(FileName, ReadOnly, Untitled, WithWindow) with the tri-state values given.
  DispatchRef OpenPresentation(const std::wstring& fileName, long readOnly, long untitled, long withWindow);

 private:
  DispatchRef app_;
};

// `pptp`: one opened presentation.
class TPowerPointPresentation {
 public:
  void ConnectTo(DispatchRef presentation) { pres_ = std::move(presentation); }
  void Disconnect() { pres_.Reset(); }
  bool Connected() const { return bool(pres_); }
  int SlideCount();
  // Slides.Item(index), index from 1 as a 32-bit integer.
  DispatchRef SlideItem(int index);
  void Close();

 private:
  DispatchRef pres_;
};

// `pptslide`: the slide being exported.
class TPowerPointSlide {
 public:
  void ConnectTo(DispatchRef slide) { slide_ = std::move(slide); }
  void Disconnect() { slide_.Reset(); }
  // Export(FileName, FilterName, ScaleWidth, ScaleHeight); the size in pixels.
  void Export(const std::wstring& fileName, const std::wstring& filterName, int width, int height);

 private:
  DispatchRef slide_;
};

}  // namespace app
