#include "presenter_objects.h"

#include <cmath>

#include "slide_painter.h"
#include "test_controls.h"

namespace presenter {
namespace {

// A forced export delay longer than this is cut to it, so a mistyped control cannot hang a run.
constexpr DWORD kMaxExportDelayMs = 60000;
// Pixels per inch of an export whose size the caller left out.
constexpr double kDefaultExportDpi = 96;

std::wstring WidenUtf8(const std::string& s) {
  if (s.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), nullptr, 0);
  std::wstring w(size_t(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), &w[0], n);
  return w;
}

enum : DISPID {
  kIdPresentations = 1, kIdName, kIdVersion, kIdQuit,
  kIdCount = 10, kIdOpen,
  kIdSlides = 20, kIdClose, kIdFullName,
  kIdExport = 30, kIdSlideIndex, kIdSlideNumber,
};

HRESULT ClosedError(EXCEPINFO* excep) { return RaiseError(excep, E_FAIL, L"Object does not exist."); }

}  // namespace

// ---------------------------------------------------------------- Application

Application::Application(DWORD mainThread) : mainThread_(mainThread), presentations_(new Presentations) {}

Application::~Application() { presentations_->Release(); }

const std::vector<Member>& Application::Members() const {
  static const std::vector<Member> m = {
      {L"Presentations", kIdPresentations, {}}, {L"Name", kIdName, {}}, {L"Version", kIdVersion, {}}, {L"Quit", kIdQuit, {}}};
  return m;
}

std::wstring Application::JournalName() const { return L"Application"; }

HRESULT Application::Call(DISPID id, const std::vector<VARIANT*>&, VARIANT* result, EXCEPINFO*) {
  switch (id) {
    case kIdPresentations:
      presentations_->AddRef();
      return ReturnObject(result, presentations_);
    case kIdName:
      return ReturnString(result, L"Tevarnic presentation stand-in");
    case kIdVersion:
      return ReturnString(result, L"1.0");
    default:
      PostThreadMessageW(mainThread_, kQuitRequestMessage, 0, 0);
      return S_OK;
  }
}

// ---------------------------------------------------------------- Presentations

Presentations::~Presentations() {
  for (Presentation* p : open_) {
    p->Detach();
    p->Release();
  }
}

const std::vector<Member>& Presentations::Members() const {
  static const std::vector<Member> m = {{L"Item", DISPID_VALUE, {L"Index"}},
                                        {L"Count", kIdCount, {}},
                                        {L"Open", kIdOpen, {L"FileName", L"ReadOnly", L"Untitled", L"WithWindow"}}};
  return m;
}

std::wstring Presentations::JournalName() const { return L"Presentations"; }

void Presentations::Remove(Presentation* p) {
  for (size_t i = 0; i < open_.size(); i++)
    if (open_[i] == p) {
      open_.erase(open_.begin() + ptrdiff_t(i));
      p->Release();
      return;
    }
}

HRESULT Presentations::Call(DISPID id, const std::vector<VARIANT*>& args, VARIANT* result, EXCEPINFO* excep) {
  if (id == kIdCount) return ReturnLong(result, long(open_.size()));
  if (id == kIdOpen) return Open(args, result, excep);
  long i = 0;
  if (!ArgumentToLong(args[0], i) || i < 1 || size_t(i) > open_.size())
    return RaiseError(excep, DISP_E_BADINDEX, L"Presentations.Item : Integer out of range.");
  open_[size_t(i - 1)]->AddRef();
  return ReturnObject(result, open_[size_t(i - 1)]);
}

HRESULT Presentations::Open(const std::vector<VARIANT*>& args, VARIANT* result, EXCEPINFO* excep) {
  std::wstring file;
  if (!ArgumentToString(args[0], file) || file.empty())
    return RaiseError(excep, DISP_E_TYPEMISMATCH, L"Presentations.Open : FileName is required.");
  if (TestControl(L"FailOpen"))
    return RaiseError(excep, E_FAIL, L"Presentations.Open : " + file + L" could not be opened: forced failure.");
  const DWORD needed = GetFullPathNameW(file.c_str(), 0, nullptr, nullptr);
  std::wstring full(needed ? needed : 1, L'\0');
  const DWORD got = needed ? GetFullPathNameW(file.c_str(), needed, &full[0], nullptr) : 0;
  if (!got || got >= needed)
    return RaiseError(excep, E_FAIL, L"Presentations.Open : " + file + L" is not a valid file name.");
  full.resize(got);
  Deck deck;
  std::string why;
  if (!LoadDeck(full, deck, why))
    return RaiseError(excep, E_FAIL, L"Presentations.Open : " + full + L" could not be opened: " + WidenUtf8(why) + L".");
  long untitled = 0;
  ArgumentToLong(args[2], untitled);
  const size_t slash = full.find_last_of(L"\\/");
  std::wstring name = untitled ? L"Presentation" + std::to_wstring(open_.size() + 1)
                               : slash == std::wstring::npos ? full : full.substr(slash + 1);
  const size_t count = deck.slides.size();
  Presentation* p = new Presentation(this, std::move(deck), full, name);
  open_.push_back(p);
  p->AddRef();
  Journal(L"  opened " + name + L" slides=" + std::to_wstring(count));
  return ReturnObject(result, p);
}

// ---------------------------------------------------------------- Presentation

Presentation::Presentation(Presentations* owner, Deck deck, std::wstring fullName, std::wstring name)
    : owner_(owner), deck_(std::move(deck)), fullName_(std::move(fullName)), name_(std::move(name)) {}

const std::vector<Member>& Presentation::Members() const {
  static const std::vector<Member> m = {
      {L"Slides", kIdSlides, {}}, {L"Close", kIdClose, {}}, {L"Name", kIdName, {}}, {L"FullName", kIdFullName, {}}};
  return m;
}

std::wstring Presentation::JournalName() const { return L"Presentation"; }

HRESULT Presentation::Call(DISPID id, const std::vector<VARIANT*>&, VARIANT* result, EXCEPINFO* excep) {
  if (closed_) return ClosedError(excep);
  switch (id) {
    case kIdSlides:
      return ReturnObject(result, new Slides(this));
    case kIdClose: {
      closed_ = true;
      // The collection's reference may be the last one: stay alive until this call returns.
      AddRef();
      if (owner_) owner_->Remove(this);
      Release();
      return S_OK;
    }
    case kIdName:
      return ReturnString(result, name_);
    default:
      return ReturnString(result, fullName_);
  }
}

// ---------------------------------------------------------------- Slides

Slides::Slides(Presentation* p) : presentation_(p) { presentation_->AddRef(); }
Slides::~Slides() { presentation_->Release(); }

const std::vector<Member>& Slides::Members() const {
  static const std::vector<Member> m = {{L"Item", DISPID_VALUE, {L"Index"}}, {L"Count", kIdCount, {}}};
  return m;
}

std::wstring Slides::JournalName() const { return L"Slides"; }

HRESULT Slides::Call(DISPID id, const std::vector<VARIANT*>& args, VARIANT* result, EXCEPINFO* excep) {
  if (presentation_->closed()) return ClosedError(excep);
  const long n = long(presentation_->deck().slides.size());
  if (id == kIdCount) return ReturnLong(result, n);
  long i = 0;
  if (!ArgumentToLong(args[0], i)) return RaiseError(excep, DISP_E_TYPEMISMATCH, L"Slides.Item : Invalid index.");
  if (i < 1 || i > n)
    return RaiseError(excep, DISP_E_BADINDEX,
                      L"Slides.Item : Integer " + std::to_wstring(i) + L" is out of range (1 to " + std::to_wstring(n) +
                          L").");
  return ReturnObject(result, new Slide(presentation_, i));
}

// ---------------------------------------------------------------- Slide

Slide::Slide(Presentation* p, long index) : presentation_(p), index_(index) { presentation_->AddRef(); }
Slide::~Slide() { presentation_->Release(); }

const std::vector<Member>& Slide::Members() const {
  static const std::vector<Member> m = {
      {L"Export", kIdExport, {L"FileName", L"FilterName", L"ScaleWidth", L"ScaleHeight"}},
      {L"SlideIndex", kIdSlideIndex, {}},
      {L"SlideNumber", kIdSlideNumber, {}}};
  return m;
}

std::wstring Slide::JournalName() const { return L"Slide(" + std::to_wstring(index_) + L")"; }

HRESULT Slide::Call(DISPID id, const std::vector<VARIANT*>& args, VARIANT* result, EXCEPINFO* excep) {
  if (presentation_->closed()) return ClosedError(excep);
  if (id == kIdExport) return Export(args, excep);
  return ReturnLong(result, index_);
}

HRESULT Slide::Export(const std::vector<VARIANT*>& args, EXCEPINFO* excep) {
  std::wstring file, filter;
  if (!ArgumentToString(args[0], file) || file.empty())
    return RaiseError(excep, DISP_E_TYPEMISMATCH, L"Slide.Export : FileName is required.");
  if (!ArgumentToString(args[1], filter)) {
    const size_t dot = file.find_last_of(L'.');
    filter = dot == std::wstring::npos ? std::wstring() : file.substr(dot + 1);
  }
  MetafileFormat format;
  if (_wcsicmp(filter.c_str(), L"emf") == 0) format = MetafileFormat::Emf;
  else if (_wcsicmp(filter.c_str(), L"wmf") == 0) format = MetafileFormat::Wmf;
  else
    return RaiseError(excep, E_INVALIDARG, L"Slide.Export : the filter \"" + filter + L"\" is not supported.");
  const Deck& deck = presentation_->deck();
  long w = 0, h = 0;
  const bool hasW = ArgumentToLong(args[2], w), hasH = ArgumentToLong(args[3], h);
  // A missing side keeps the slide's aspect ratio; both missing give the slide's size at 96 dpi.
  if (!hasW && !hasH) {
    w = long(std::lround(deck.cx * kDefaultExportDpi / kEmuPerInch));
    h = long(std::lround(deck.cy * kDefaultExportDpi / kEmuPerInch));
  } else if (!hasH) {
    h = long(std::lround(double(w) * deck.cy / deck.cx));
  } else if (!hasW) {
    w = long(std::lround(double(h) * deck.cx / deck.cy));
  }
  if (w < 1 || h < 1 || w > kMaxExportSide || h > kMaxExportSide)
    return RaiseError(excep, E_INVALIDARG,
                      L"Slide.Export : the size " + std::to_wstring(w) + L" x " + std::to_wstring(h) +
                          L" is out of range (1 to " + std::to_wstring(kMaxExportSide) + L").");
  const DWORD delay = TestControl(L"ExportDelayMs");
  if (delay) Sleep(delay < kMaxExportDelayMs ? delay : kMaxExportDelayMs);
  if (TestControl(L"FailExportAt") == DWORD(index_))
    return RaiseError(excep, E_FAIL,
                      L"Slide.Export : slide " + std::to_wstring(index_) + L" could not be exported: forced failure.");
  std::string why;
  if (!ExportSlide(deck, size_t(index_ - 1), file, format, int(w), int(h), why))
    return RaiseError(excep, E_FAIL, L"Slide.Export : " + file + L" could not be written: " + WidenUtf8(why) + L".");
  return S_OK;
}

}  // namespace presenter
