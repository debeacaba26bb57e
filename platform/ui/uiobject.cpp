#include "uiobject.h"

#include <cctype>

namespace ui {

const TClassInfo TObject::StaticClassInfo = {"TObject", nullptr, nullptr, nullptr, nullptr, nullptr};

void TObject::Free() {
  BeforeDestruction();
  delete this;
}

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// The lists are built on first use and live for the whole run; class information is static data, so
// the cache is keyed by the address of the build function's owner.
namespace {
template <class T>
const std::vector<T>& Cached(std::vector<T> (*build)()) {
  static const std::vector<T> empty;
  if (!build) return empty;
  // One slot per build function; function-local statics in a lambda would be one per type only.
  struct Slot {
    std::vector<T> (*build)();
    std::vector<T> list;
  };
  static std::vector<std::unique_ptr<Slot>> slots;
  for (auto& s : slots)
    if (s->build == build) return s->list;
  slots.push_back(std::unique_ptr<Slot>(new Slot{build, build()}));
  return slots.back()->list;
}
}  // namespace

const std::vector<TPropInfo>& TClassInfo::OwnProps() const { return Cached(BuildProps); }
const std::vector<TFieldInfo>& TClassInfo::OwnFields() const { return Cached(BuildFields); }
const std::vector<TMethodInfo>& TClassInfo::OwnMethods() const { return Cached(BuildMethods); }

std::vector<const TPropInfo*> TClassInfo::AllProps() const {
  std::vector<TClass> chain;
  for (TClass c = this; c; c = c->Parent) chain.insert(chain.begin(), c);
  std::vector<const TPropInfo*> out;
  for (TClass c : chain)
    for (const TPropInfo& p : c->OwnProps()) {
      bool replaced = false;
      for (auto& q : out)
        if (SameText(q->Name, p.Name)) {
          q = &p;
          replaced = true;
        }
      if (!replaced) out.push_back(&p);
    }
  return out;
}

const TPropInfo* TClassInfo::FindProp(const std::string& name) const {
  for (TClass c = this; c; c = c->Parent)
    for (const TPropInfo& p : c->OwnProps())
      if (SameText(p.Name, name)) return &p;
  return nullptr;
}

const TFieldInfo* TClassInfo::FindField(const std::string& name) const {
  for (TClass c = this; c; c = c->Parent)
    for (const TFieldInfo& f : c->OwnFields())
      if (SameText(f.Name, name)) return &f;
  return nullptr;
}

const TMethodInfo* TClassInfo::FindMethod(const std::string& name) const {
  for (TClass c = this; c; c = c->Parent)
    for (const TMethodInfo& m : c->OwnMethods())
      if (SameText(m.Name, name)) return &m;
  return nullptr;
}

const TMethodInfo* TClassInfo::FindMethodByCode(const TMethodCode& code) const {
  for (TClass c = this; c; c = c->Parent)
    for (const TMethodInfo& m : c->OwnMethods())
      if (m.Code == code) return &m;
  return nullptr;
}

}  // namespace ui
