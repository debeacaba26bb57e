// The root class of the user-interface library, its per-class information (name, parent class,
// factory, published properties, fields and methods) and events as comparable (object, method) pairs.
// The declaration convention is written down in README.md.
#pragma once
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

namespace ui {

class TObject;
struct TClassInfo;
using TClass = const TClassInfo*;

// ---- events -------------------------------------------------------------------------------------

// Raw storage of a member-function pointer; every pointer-to-member of a single-inheritance class has
// the same size, and zero-filling the rest makes byte comparison meaningful.
struct TMethodCode {
  alignas(void*) unsigned char bytes[2 * sizeof(void*)] = {};
  bool operator==(const TMethodCode& o) const { return std::memcmp(bytes, o.bytes, sizeof bytes) == 0; }
  bool operator!=(const TMethodCode& o) const { return !(*this == o); }
  template <class M>
  static TMethodCode Of(M m) {
    static_assert(sizeof(M) <= sizeof(bytes), "member pointer too large");
    TMethodCode c;
    std::memcpy(c.bytes, &m, sizeof m);
    return c;
  }
  template <class M>
  M As() const {
    M m;
    std::memcpy(&m, bytes, sizeof m);
    return m;
  }
};

struct TMethodInfo;

// An event: a method of an object, or a callable with an identity of its own. Two events are equal when
// they name the same method of the same object, or are copies of the same callable.
template <class Sig>
class TEvent;
template <class R, class... A>
class TEvent<R(A...)> {
 public:
  using Invoker = R (*)(void* obj, const TMethodCode& code, A... args);

  TEvent() = default;
  TEvent(std::nullptr_t) {}
  template <class C, class CB>
  TEvent(C* obj, R (CB::*m)(A...)) : obj_(static_cast<CB*>(obj)), code_(TMethodCode::Of(m)), invoke_(&Call<CB>) {}
  // A callable (a lambda); copies share its identity.
  template <class F, class = std::enable_if_t<std::is_invocable_r_v<R, F, A...> &&
                                              !std::is_same_v<std::decay_t<F>, TEvent>>>
  TEvent(F f) : fn_(std::make_shared<std::function<R(A...)>>(std::move(f))) {}

  explicit operator bool() const { return invoke_ != nullptr || fn_ != nullptr; }
  R operator()(A... args) const {
    if (fn_) return (*fn_)(args...);
    if (invoke_) return invoke_(obj_, code_, args...);
    return R();
  }
  bool operator==(const TEvent& o) const {
    return obj_ == o.obj_ && code_ == o.code_ && fn_ == o.fn_ && (invoke_ == nullptr) == (o.invoke_ == nullptr);
  }
  bool operator!=(const TEvent& o) const { return !(*this == o); }

  void* Data() const { return obj_; }           // the object whose method this names, or null
  const TMethodCode& Code() const { return code_; }
  // Rebuilds an event from a published method (binding by handler name); false on a signature mismatch.
  bool Assign(void* obj, const TMethodInfo& mi);

 private:
  template <class CB>
  static R Call(void* obj, const TMethodCode& code, A... args) {
    auto m = code.As<R (CB::*)(A...)>();
    return (static_cast<CB*>(obj)->*m)(args...);
  }
  void* obj_ = nullptr;
  TMethodCode code_;
  Invoker invoke_ = nullptr;
  std::shared_ptr<std::function<R(A...)>> fn_;
  template <class S>
  friend struct MethodInfoFor;
};

using TNotifyEvent = TEvent<void(TObject* Sender)>;

// ---- published members --------------------------------------------------------------------------

enum class TTypeKind { Integer, Int64, Char, WChar, Enumeration, Set, Float, String, WString, Class, Method };

struct TPropInfo {
  std::string Name;
  TTypeKind Kind = TTypeKind::Integer;
  // Integer, Int64, Char, WChar, Enumeration (Boolean is an enumeration False/True) and Set.
  std::function<int64_t(TObject*)> GetOrd;
  std::function<void(TObject*, int64_t)> SetOrd;
  std::vector<std::string> EnumNames;  // enumeration values, or the element names of a set
  // Float
  std::function<double(TObject*)> GetFloat;
  std::function<void(TObject*, double)> SetFloat;
  // String / WString
  std::function<std::string(TObject*)> GetStr;
  std::function<void(TObject*, const std::string&)> SetStr;
  std::function<std::wstring(TObject*)> GetWStr;
  std::function<void(TObject*, const std::wstring&)> SetWStr;
  // Class: a sub-object (persistent: properties are read into it) or a component reference.
  TClass PropClass = nullptr;
  std::function<TObject*(TObject*)> GetObj;
  std::function<void(TObject*, TObject*)> SetObj;  // null for sub-objects that are only read into
  // Method: the event is reached as a type-erased pair.
  const std::type_info* Signature = nullptr;
  std::function<bool(TObject*, void* data, const TMethodInfo*)> SetMethod;  // null mi clears it
  std::function<std::pair<void*, TMethodCode>(TObject*)> GetMethod;
  bool HasDefault = false;
  int64_t Default = 0;
  std::function<bool(TObject*)> Stored;  // null: always stored
  bool IsStored(TObject* o) const { return !Stored || Stored(o); }
};

struct TMethodInfo {
  std::string Name;
  const std::type_info* Signature = nullptr;
  TMethodCode Code;
  void* Invoker = nullptr;  // TEvent<Sig>::Invoker of the declaring class
};

struct TFieldInfo {
  std::string Name;
  TClass FieldClass = nullptr;
  std::function<void(TObject*, TObject*)> Set;  // assigns the component named Name
};

struct TClassInfo {
  const char* Name;
  TClass Parent;
  TObject* (*Factory)();  // null for abstract classes
  std::vector<TPropInfo> (*BuildProps)();
  std::vector<TFieldInfo> (*BuildFields)();
  std::vector<TMethodInfo> (*BuildMethods)();

  bool InheritsFrom(TClass c) const {
    for (TClass p = this; p; p = p->Parent)
      if (p == c) return true;
    return false;
  }
  // Own members only; the lookups below walk up the parents.
  const std::vector<TPropInfo>& OwnProps() const;
  const std::vector<TFieldInfo>& OwnFields() const;
  const std::vector<TMethodInfo>& OwnMethods() const;
  // Every published property, parents' first, a redeclared name replacing the parent's entry.
  std::vector<const TPropInfo*> AllProps() const;
  const TPropInfo* FindProp(const std::string& name) const;  // case-insensitive
  const TFieldInfo* FindField(const std::string& name) const;
  const TMethodInfo* FindMethod(const std::string& name) const;
  const TMethodInfo* FindMethodByCode(const TMethodCode& code) const;
};

// ---- the root class -----------------------------------------------------------------------------

class TObject {
 public:
  static const TClassInfo StaticClassInfo;
  virtual ~TObject() = default;
  virtual TClass ClassType() const { return &StaticClassInfo; }
  std::string ClassName() const { return ClassType()->Name; }
  bool InheritsFrom(TClass c) const { return ClassType()->InheritsFrom(c); }
  template <class T>
  bool Is() const { return InheritsFrom(&T::StaticClassInfo); }

  // Two-phase life: Create runs after `new` so that virtual calls reach the most-derived class;
  // Free runs BeforeDestruction before `delete`.
  virtual void AfterConstruction() {}
  virtual void BeforeDestruction() {}
  void Free();

 protected:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
};

// Frees `obj` (null allowed) and clears the pointer.
template <class T>
void FreeAndNil(T*& obj) {
  T* o = obj;
  obj = nullptr;
  if (o) o->Free();
}

// new + AfterConstruction; the constructor arguments go to the class's constructor.
template <class T, class... Args>
T* Create(Args&&... args) {
  T* o = new T(std::forward<Args>(args)...);
  try {
    o->AfterConstruction();
  } catch (...) {
    o->Free();
    throw;
  }
  return o;
}

// Stores `v` in `field`; true when that changed it (setters act only then).
template <class T>
bool ChangeField(T& field, T v) {
  if (field == v) return false;
  field = v;
  return true;
}

template <class T>
T* As(TObject* o) {
  return o && o->Is<T>() ? static_cast<T*>(o) : nullptr;
}

// Case-insensitive ASCII comparison, as names of classes, properties and components compare.
bool SameText(const std::string& a, const std::string& b);

// ---- declaration helpers (see README.md) --------------------------------------------------------

template <class Sig>
struct MethodInfoFor;
template <class R, class... A>
struct MethodInfoFor<R(A...)> {
  template <class C>
  static TMethodInfo Make(const char* name, R (C::*m)(A...)) {
    TMethodInfo mi;
    mi.Name = name;
    mi.Signature = &typeid(R(A...));
    mi.Code = TMethodCode::Of(m);
    mi.Invoker = reinterpret_cast<void*>(&TEvent<R(A...)>::template Call<C>);
    return mi;
  }
};

template <class R, class... A>
bool TEvent<R(A...)>::Assign(void* obj, const TMethodInfo& mi) {
  if (*mi.Signature != typeid(R(A...))) return false;
  *this = TEvent();
  obj_ = obj;
  code_ = mi.Code;
  invoke_ = reinterpret_cast<Invoker>(mi.Invoker);
  return true;
}

// Publishes method `m` of class C under `name` (a handler that layouts bind by name).
template <class C, class R, class... A>
TMethodInfo PublishedMethod(const char* name, R (C::*m)(A...)) {
  return MethodInfoFor<R(A...)>::Make(name, m);
}

namespace prop {
// Each builder takes getter and setter member functions of class C (or a member for events).
template <class C, class T>
TPropInfo Int(const char* name, T (C::*get)() const, void (C::*set)(T), bool hasDefault = false, int64_t def = 0) {
  TPropInfo p;
  p.Name = name;
  p.Kind = sizeof(T) > 4 ? TTypeKind::Int64 : TTypeKind::Integer;
  p.GetOrd = [get](TObject* o) { return static_cast<int64_t>((static_cast<C*>(o)->*get)()); };
  if (set) p.SetOrd = [set](TObject* o, int64_t v) { (static_cast<C*>(o)->*set)(static_cast<T>(v)); };
  p.HasDefault = hasDefault;
  p.Default = def;
  return p;
}
template <class C>
TPropInfo Bool(const char* name, bool (C::*get)() const, void (C::*set)(bool), bool def = false) {
  TPropInfo p = Int<C, bool>(name, get, set, true, def);
  p.Kind = TTypeKind::Enumeration;
  p.EnumNames = {"False", "True"};
  return p;
}
template <class C, class E>
TPropInfo Enum(const char* name, E (C::*get)() const, void (C::*set)(E), std::vector<std::string> names,
               bool hasDefault = false, E def = E()) {
  TPropInfo p;
  p.Name = name;
  p.Kind = TTypeKind::Enumeration;
  p.GetOrd = [get](TObject* o) { return static_cast<int64_t>((static_cast<C*>(o)->*get)()); };
  p.SetOrd = [set](TObject* o, int64_t v) { (static_cast<C*>(o)->*set)(static_cast<E>(v)); };
  p.EnumNames = std::move(names);
  p.HasDefault = hasDefault;
  p.Default = static_cast<int64_t>(def);
  return p;
}
// A set is held as a bit mask (bit i = element i of `names`).
template <class C, class T>
TPropInfo Set(const char* name, T (C::*get)() const, void (C::*set)(T), std::vector<std::string> names,
              bool hasDefault = false, T def = T()) {
  TPropInfo p = Enum<C, T>(name, get, set, std::move(names), hasDefault, def);
  p.Kind = TTypeKind::Set;
  return p;
}
template <class C, class T>
TPropInfo Char(const char* name, T (C::*get)() const, void (C::*set)(T), bool hasDefault = false, T def = T()) {
  TPropInfo p = Int<C, T>(name, get, set, hasDefault, def);
  p.Kind = sizeof(T) == 1 ? TTypeKind::Char : TTypeKind::WChar;
  return p;
}
template <class C>
TPropInfo Float(const char* name, double (C::*get)() const, void (C::*set)(double)) {
  TPropInfo p;
  p.Name = name;
  p.Kind = TTypeKind::Float;
  p.GetFloat = [get](TObject* o) { return (static_cast<C*>(o)->*get)(); };
  p.SetFloat = [set](TObject* o, double v) { (static_cast<C*>(o)->*set)(v); };
  return p;
}
template <class C>
TPropInfo Str(const char* name, std::string (C::*get)() const, void (C::*set)(const std::string&)) {
  TPropInfo p;
  p.Name = name;
  p.Kind = TTypeKind::String;
  p.GetStr = [get](TObject* o) { return (static_cast<C*>(o)->*get)(); };
  p.SetStr = [set](TObject* o, const std::string& v) { (static_cast<C*>(o)->*set)(v); };
  return p;
}
// Controls read their text through messages, so their getters are not const.
template <class C>
TPropInfo Str(const char* name, std::string (C::*get)(), void (C::*set)(const std::string&)) {
  TPropInfo p;
  p.Name = name;
  p.Kind = TTypeKind::String;
  p.GetStr = [get](TObject* o) { return (static_cast<C*>(o)->*get)(); };
  p.SetStr = [set](TObject* o, const std::string& v) { (static_cast<C*>(o)->*set)(v); };
  return p;
}
template <class C>
TPropInfo WStr(const char* name, std::wstring (C::*get)() const, void (C::*set)(const std::wstring&)) {
  TPropInfo p;
  p.Name = name;
  p.Kind = TTypeKind::WString;
  p.GetWStr = [get](TObject* o) { return (static_cast<C*>(o)->*get)(); };
  p.SetWStr = [set](TObject* o, const std::wstring& v) { (static_cast<C*>(o)->*set)(v); };
  return p;
}
// A sub-object (Font, Items, Lines...): the filer reads its properties into it; `set` (may be null)
// assigns a whole object.
template <class C, class T>
TPropInfo Object(const char* name, T* (C::*get)() const, void (C::*set)(T*)) {
  TPropInfo p;
  p.Name = name;
  p.Kind = TTypeKind::Class;
  p.PropClass = &T::StaticClassInfo;
  p.GetObj = [get](TObject* o) -> TObject* { return (static_cast<C*>(o)->*get)(); };
  if (set)
    p.SetObj = [set](TObject* o, TObject* v) { (static_cast<C*>(o)->*set)(static_cast<T*>(v)); };
  return p;
}
// An event member `TEvent<Sig> C::*`.
template <class C, class Sig>
TPropInfo Event(const char* name, TEvent<Sig> C::*member) {
  TPropInfo p;
  p.Name = name;
  p.Kind = TTypeKind::Method;
  p.Signature = &typeid(Sig);
  p.SetMethod = [member](TObject* o, void* data, const TMethodInfo* mi) {
    TEvent<Sig>& ev = static_cast<C*>(o)->*member;
    if (!mi) {
      ev = TEvent<Sig>();
      return true;
    }
    return ev.Assign(data, *mi);
  };
  p.GetMethod = [member](TObject* o) {
    const TEvent<Sig>& ev = static_cast<C*>(o)->*member;
    return std::make_pair(ev.Data(), ev.Code());
  };
  return p;
}
}  // namespace prop

// A published field: the component of that name (owned by the root) is assigned to it after loading.
template <class C, class T>
TFieldInfo PublishedField(const char* name, T* C::*member) {
  TFieldInfo f;
  f.Name = name;
  f.FieldClass = &T::StaticClassInfo;
  f.Set = [member](TObject* o, TObject* v) { static_cast<C*>(o)->*member = static_cast<T*>(v); };
  return f;
}

template <class T>
TObject* DefaultFactory() {
  return new T();
}

}  // namespace ui

// In a class body: declares the class information. In the source file: UI_IMPLEMENT_CLASS and,
// where the class publishes members, its three lists (see README.md).
#define UI_DECLARE_CLASS(Class, Parent)                               \
 public:                                                              \
  static const ::ui::TClassInfo StaticClassInfo;                      \
  ::ui::TClass ClassType() const override { return &StaticClassInfo; } \
  using inherited = Parent;                                           \
                                                                      \
 private:

// Factory: ::ui::DefaultFactory<Class> for classes that layouts create, nullptr otherwise.
// Props/Fields/Methods: functions returning the lists, or nullptr for none.
#define UI_IMPLEMENT_CLASS(Class, Parent, Factory, Props, Fields, Methods) \
  const ::ui::TClassInfo Class::StaticClassInfo = {#Class, &Parent::StaticClassInfo, Factory, Props, Fields, Methods};
