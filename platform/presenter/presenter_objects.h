// The automation object model of the stand-in: Application -> Presentations -> Presentation ->
// Slides -> Slide, all late-bound.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "automation_object.h"
#include "deck.h"

namespace presenter {

class Presentations;

class Presentation : public DispatchObject {
 public:
  Presentation(Presentations* owner, Deck deck, std::wstring fullName, std::wstring name);
  const Deck& deck() const { return deck_; }
  bool closed() const { return closed_; }
  // The collection is going away; Close then only marks this presentation closed.
  void Detach() { owner_ = nullptr; }

 protected:
  const std::vector<Member>& Members() const override;
  std::wstring JournalName() const override;
  HRESULT Call(DISPID id, const std::vector<VARIANT*>& args, VARIANT* result, EXCEPINFO* excep) override;

 private:
  Presentations* owner_;  // not owned; it detaches itself before it goes
  Deck deck_;
  std::wstring fullName_, name_;
  bool closed_ = false;
};

class Presentations : public DispatchObject {
 public:
  ~Presentations() override;
  // Drops a closed presentation from the collection.
  void Remove(Presentation* p);

 protected:
  const std::vector<Member>& Members() const override;
  std::wstring JournalName() const override;
  HRESULT Call(DISPID id, const std::vector<VARIANT*>& args, VARIANT* result, EXCEPINFO* excep) override;

 private:
  HRESULT Open(const std::vector<VARIANT*>& args, VARIANT* result, EXCEPINFO* excep);
  std::vector<Presentation*> open_;  // one reference each
};

class Slides : public DispatchObject {
 public:
  explicit Slides(Presentation* p);
  ~Slides() override;

 protected:
  const std::vector<Member>& Members() const override;
  std::wstring JournalName() const override;
  HRESULT Call(DISPID id, const std::vector<VARIANT*>& args, VARIANT* result, EXCEPINFO* excep) override;

 private:
  Presentation* presentation_;
};

class Slide : public DispatchObject {
 public:
  Slide(Presentation* p, long index);
  ~Slide() override;

 protected:
  const std::vector<Member>& Members() const override;
  std::wstring JournalName() const override;
  HRESULT Call(DISPID id, const std::vector<VARIANT*>& args, VARIANT* result, EXCEPINFO* excep) override;

 private:
  HRESULT Export(const std::vector<VARIANT*>& args, EXCEPINFO* excep);
  Presentation* presentation_;
  long index_;  // from 1
};

// Posted to the server's main thread by Application.Quit: the server ends once the call's reply has
// gone out (wine sends the reply after Invoke returns, so ending at once can cut it off).
constexpr UINT kQuitRequestMessage = WM_APP + 2;

class Application : public DispatchObject {
 public:
  // Quit posts WM_QUIT to `mainThread`.
  explicit Application(DWORD mainThread);
  ~Application() override;

 protected:
  const std::vector<Member>& Members() const override;
  std::wstring JournalName() const override;
  HRESULT Call(DISPID id, const std::vector<VARIANT*>& args, VARIANT* result, EXCEPINFO* excep) override;

 private:
  DWORD mainThread_;
  Presentations* presentations_;
};

}  // namespace presenter
