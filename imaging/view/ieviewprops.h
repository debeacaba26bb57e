// Builders for the published members of the views that the user-interface library's own builders do
// not reach: plain fields, events kept in a std::function, and events reached through accessors.
// A layout binds such an event to a published method of its root with the event's exact signature,
// and the writer finds that method's name again.
#pragma once
#include <functional>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

#include "uiobject.h"

namespace ieprops {

// The names of TResampleFilter, in order.
const std::vector<std::string>& ResampleFilterNames();

template <class E>
struct EventSig;
template <class R, class... A>
struct EventSig<ui::TEvent<R(A...)>> {
  using Sig = R(A...);
};
template <class R, class... A>
struct EventSig<std::function<R(A...)>> {
  using Sig = R(A...);
};

// The published method an event names, or (nullptr, empty) for a callable of code.
template <class R, class... A>
std::pair<void*, ui::TMethodCode> MethodOf(const ui::TEvent<R(A...)>& e) {
  return {e.Data(), e.Code()};
}
template <class R, class... A>
std::pair<void*, ui::TMethodCode> MethodOf(const std::function<R(A...)>& f) {
  if (const auto* e = f.template target<ui::TEvent<R(A...)>>()) return {e->Data(), e->Code()};
  return {nullptr, ui::TMethodCode()};
}

// An event of type E (a ui::TEvent or a std::function) built from a bound method; false on a
// signature mismatch. A null method info gives the empty event.
template <class E>
bool MakeEvent(E& out, void* data, const ui::TMethodInfo* mi) {
  ui::TEvent<typename EventSig<E>::Sig> e;
  if (mi && !e.Assign(data, *mi)) return false;
  if (mi)
    out = E(e);
  else
    out = E();
  return true;
}

template <class E>
ui::TPropInfo EventInfo(const char* name) {
  ui::TPropInfo p;
  p.Name = name;
  p.Kind = ui::TTypeKind::Method;
  p.Signature = &typeid(typename EventSig<E>::Sig);
  return p;
}

// An event member (std::function or ui::TEvent).
template <class C, class E>
ui::TPropInfo Event(const char* name, E C::*member) {
  ui::TPropInfo p = EventInfo<E>(name);
  p.SetMethod = [member](ui::TObject* o, void* data, const ui::TMethodInfo* mi) {
    return MakeEvent(static_cast<C*>(o)->*member, data, mi);
  };
  p.GetMethod = [member](ui::TObject* o) { return MethodOf(static_cast<C*>(o)->*member); };
  return p;
}

// An event behind a reader and a writer (the writer may hand it on to other objects).
template <class C, class E, class G, class S>
ui::TPropInfo EventVia(const char* name, G get, S set) {
  ui::TPropInfo p = EventInfo<E>(name);
  p.SetMethod = [set](ui::TObject* o, void* data, const ui::TMethodInfo* mi) {
    E e;
    if (!MakeEvent(e, data, mi)) return false;
    (static_cast<C*>(o)->*set)(e);
    return true;
  };
  p.GetMethod = [get](ui::TObject* o) { return MethodOf(E((static_cast<C*>(o)->*get)())); };
  return p;
}

// A plain Boolean, integer or enumeration field with its default.
template <class C, class T>
ui::TPropInfo Field(const char* name, T C::*member, int64_t def, std::vector<std::string> enumNames = {}) {
  ui::TPropInfo p;
  p.Name = name;
  if (std::is_same<T, bool>::value) {
    p.Kind = ui::TTypeKind::Enumeration;
    p.EnumNames = {"False", "True"};
  } else {
    p.Kind = enumNames.empty() ? ui::TTypeKind::Integer : ui::TTypeKind::Enumeration;
    p.EnumNames = std::move(enumNames);
  }
  p.GetOrd = [member](ui::TObject* o) { return static_cast<int64_t>(static_cast<C*>(o)->*member); };
  p.SetOrd = [member](ui::TObject* o, int64_t v) { static_cast<C*>(o)->*member = static_cast<T>(v); };
  p.HasDefault = true;
  p.Default = def;
  return p;
}

// A floating-point field (always stored: layouts give floats no default).
template <class C>
ui::TPropInfo FloatField(const char* name, double C::*member) {
  ui::TPropInfo p;
  p.Name = name;
  p.Kind = ui::TTypeKind::Float;
  p.GetFloat = [member](ui::TObject* o) { return static_cast<C*>(o)->*member; };
  p.SetFloat = [member](ui::TObject* o, double v) { static_cast<C*>(o)->*member = v; };
  return p;
}

}  // namespace ieprops
