#include "uifiler.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <map>

namespace ui {

UI_IMPLEMENT_CLASS(TFiler, TObject, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TReader, TFiler, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TWriter, TFiler, nullptr, nullptr, nullptr, nullptr)

const char kLayoutSignature[4] = {'T', 'Q', 'L', '0'};

// Nesting deeper than this is a damaged or hostile stream, not a layout anybody wrote.
constexpr int kMaxNesting = 64;

namespace {

uint32_t ReadU32LE(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void PutU32LE(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

std::string WideToAnsi(const std::wstring& w) {
  if (w.empty()) return std::string();
  int n = WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr, nullptr);
  return s;
}
std::wstring ToWide(const std::string& s, UINT cp) {
  if (s.empty()) return std::wstring();
  int n = MultiByteToWideChar(cp, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(cp, 0, s.data(), static_cast<int>(s.size()), &w[0], n);
  return w;
}

std::map<std::string, TClass>& Registry() {
  static std::map<std::string, TClass> r;
  return r;
}
std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

// ---- registry ----

void RegisterClass(TClass cls) { Registry()[Upper(cls->Name)] = cls; }
void RegisterClasses(std::initializer_list<TClass> classes) {
  for (TClass c : classes) RegisterClass(c);
}
void UnRegisterClass(TClass cls) {
  auto it = Registry().find(Upper(cls->Name));
  if (it != Registry().end() && it->second == cls) Registry().erase(it);
}
TClass GetClass(const std::string& name) {
  auto it = Registry().find(Upper(name));
  return it == Registry().end() ? nullptr : it->second;
}
TClass FindClass(const std::string& name) {
  TClass c = GetClass(name);
  if (!c) throw EClassNotFound(Format(SClassNotFound, name.c_str()));
  return c;
}

// ---- TReader: values ----

TReader::~TReader() = default;

void TReader::PropertyError() { throw EReadError(SInvalidPropertyValue); }

TValueType TReader::ReadValue() {
  if (peeked_) {
    peeked_ = false;
    return peek_;
  }
  uint8_t b;
  Read(&b, 1);
  return static_cast<TValueType>(b);
}

TValueType TReader::NextValue() {
  if (!peeked_) {
    peek_ = ReadValue();
    peeked_ = true;
  }
  return peek_;
}

bool TReader::EndOfList() { return NextValue() == vaNull; }

void TReader::ReadListBegin() {
  if (ReadValue() != vaList) PropertyError();
}
void TReader::ReadListEnd() {
  if (ReadValue() != vaNull) PropertyError();
}

std::string TReader::ReadStr() {
  uint8_t n;
  if (peeked_) {
    // A bare string follows a peeked byte only when the peek was the length itself.
    peeked_ = false;
    n = peek_;
  } else {
    Read(&n, 1);
  }
  std::string s(n, '\0');
  if (n) Read(&s[0], n);
  return s;
}

int64_t TReader::ReadInt64() {
  uint8_t b[8];
  switch (ReadValue()) {
    case vaInt8:
      Read(b, 1);
      return static_cast<int8_t>(b[0]);
    case vaInt16:
      Read(b, 2);
      return static_cast<int16_t>(b[0] | b[1] << 8);
    case vaInt32:
      Read(b, 4);
      return static_cast<int32_t>(ReadU32LE(b));
    case vaInt64:
      Read(b, 8);
      return static_cast<int64_t>(uint64_t(ReadU32LE(b)) | uint64_t(ReadU32LE(b + 4)) << 32);
    default:
      PropertyError();
  }
}

int32_t TReader::ReadInteger() {
  int64_t v = ReadInt64();
  if (v < INT32_MIN || v > INT32_MAX) PropertyError();
  return static_cast<int32_t>(v);
}

double TReader::ReadFloat() {
  TValueType t = NextValue();
  if (t == vaDouble) {
    ReadValue();
    uint8_t b[8];
    Read(b, 8);
    uint64_t bits = uint64_t(ReadU32LE(b)) | uint64_t(ReadU32LE(b + 4)) << 32;
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
  }
  return static_cast<double>(ReadInt64());
}

bool TReader::ReadBoolean() {
  TValueType t = ReadValue();
  if (t != vaTrue && t != vaFalse) PropertyError();
  return t == vaTrue;
}

char TReader::ReadChar() {
  std::string s = ReadString();
  if (s.size() != 1) PropertyError();
  return s[0];
}

namespace {
// Text lengths read from a stream are checked against what is left in it before any allocation.
void CheckLength(TStream* s, uint64_t bytes) {
  int64_t left = s->GetSize() - s->GetPosition();
  if (left < 0 || bytes > static_cast<uint64_t>(left)) throw EReadError(SReadError);
}
}  // namespace

std::string TReader::ReadString() {
  TValueType t = ReadValue();
  uint8_t b[4];
  switch (t) {
    case vaString:
    case vaIdent: {
      peeked_ = false;
      return ReadStr();
    }
    case vaLString:
    case vaUTF8String: {
      Read(b, 4);
      uint32_t n = ReadU32LE(b);
      CheckLength(stream_, n);
      std::string s(n, '\0');
      if (n) Read(&s[0], static_cast<int32_t>(n));
      return t == vaUTF8String ? WideToAnsi(ToWide(s, CP_UTF8)) : s;
    }
    case vaWString:
      peeked_ = true;
      peek_ = vaWString;
      return WideToAnsi(ReadWideString());
    default:
      PropertyError();
  }
}

std::wstring TReader::ReadWideString() {
  TValueType t = NextValue();
  if (t != vaWString) {
    if (t == vaUTF8String) {
      ReadValue();
      uint8_t b[4];
      Read(b, 4);
      uint32_t n = ReadU32LE(b);
      CheckLength(stream_, n);
      std::string s(n, '\0');
      if (n) Read(&s[0], static_cast<int32_t>(n));
      return ToWide(s, CP_UTF8);
    }
    return ToWide(ReadString(), CP_ACP);
  }
  ReadValue();
  uint8_t b[4];
  Read(b, 4);
  uint32_t n = ReadU32LE(b);
  CheckLength(stream_, uint64_t(n) * 2);
  std::vector<uint8_t> raw(size_t(n) * 2);
  if (n) Read(raw.data(), static_cast<int32_t>(raw.size()));
  std::wstring w(n, L'\0');
  for (uint32_t i = 0; i < n; ++i) w[i] = static_cast<wchar_t>(raw[2 * i] | raw[2 * i + 1] << 8);
  return w;
}

std::string TReader::ReadIdent() {
  switch (ReadValue()) {
    case vaIdent:
      return ReadStr();
    case vaFalse:
      return "False";
    case vaTrue:
      return "True";
    case vaNil:
      return "nil";
    default:
      PropertyError();
  }
}

void TReader::ReadBinary(std::vector<uint8_t>& out) {
  if (ReadValue() != vaBinary) PropertyError();
  uint8_t b[4];
  Read(b, 4);
  uint32_t n = ReadU32LE(b);
  CheckLength(stream_, n);
  out.resize(n);
  if (n) Read(out.data(), static_cast<int32_t>(n));
}

void TReader::SkipValue() {
  static int depth = 0;
  struct Depth {
    Depth() {
      if (++depth > kMaxNesting) {
        depth = 0;
        throw EReadError(SInvalidImage);
      }
    }
    ~Depth() { --depth; }
  } guard;
  switch (NextValue()) {
    case vaList:
      ReadValue();
      while (!EndOfList()) SkipValue();
      ReadValue();
      break;
    case vaInt8:
    case vaInt16:
    case vaInt32:
    case vaInt64:
      ReadInt64();
      break;
    case vaDouble:
      ReadFloat();
      break;
    case vaString:
    case vaLString:
    case vaUTF8String:
    case vaWString:
      ReadWideString();
      break;
    case vaIdent:
    case vaFalse:
    case vaTrue:
    case vaNil:
      ReadIdent();
      break;
    case vaBinary: {
      std::vector<uint8_t> tmp;
      ReadBinary(tmp);
      break;
    }
    case vaSet:
      ReadValue();
      while (!ReadStr().empty()) {
      }
      break;
    case vaCollection:
      ReadValue();
      while (!EndOfList()) {
        TValueType t = NextValue();
        if (t == vaInt8 || t == vaInt16 || t == vaInt32) ReadInteger();
        ReadListBegin();
        while (!EndOfList()) {
          ReadStr();
          SkipValue();
        }
        ReadListEnd();
      }
      ReadValue();
      break;
    default:
      throw EReadError(SInvalidImage);
  }
}

void TReader::ReadSignature() {
  char sig[4];
  Read(sig, 4);
  if (std::memcmp(sig, kLayoutSignature, 4) != 0) throw EReadError(SInvalidImage);
}

// ---- TReader: components and properties ----

void TReader::DefineProperty(const std::string& name, const std::function<void(TReader*)>& read,
                             const std::function<void(TWriter*)>&, bool) {
  if (canHandleProp_ && read && SameText(name, propName_)) {
    read(this);
    canHandleProp_ = false;
  }
}

void TReader::DefineBinaryProperty(const std::string& name, const std::function<void(TStream*)>& read,
                                   const std::function<void(TStream*)>&, bool) {
  if (canHandleProp_ && read && SameText(name, propName_)) {
    std::vector<uint8_t> data;
    ReadBinary(data);
    TMemoryStream ms;
    if (!data.empty()) ms.WriteBuffer(data.data(), static_cast<int32_t>(data.size()));
    ms.SetPosition(0);
    read(&ms);
    canHandleProp_ = false;
  }
}

void TReader::ReadPropValue(TPersistent* instance, const TPropInfo& p) {
  switch (p.Kind) {
    case TTypeKind::Integer:
    case TTypeKind::Int64: {
      int64_t v = p.Kind == TTypeKind::Integer ? ReadInteger() : ReadInt64();
      if (!p.SetOrd) PropertyError();
      p.SetOrd(instance, v);
      break;
    }
    case TTypeKind::Char: {
      TValueType t = NextValue();
      int64_t v = (t == vaInt8 || t == vaInt16 || t == vaInt32) ? ReadInteger() : static_cast<uint8_t>(ReadChar());
      p.SetOrd(instance, v);
      break;
    }
    case TTypeKind::WChar: {
      TValueType t = NextValue();
      int64_t v;
      if (t == vaInt8 || t == vaInt16 || t == vaInt32) {
        v = ReadInteger();
      } else {
        std::wstring w = ReadWideString();
        if (w.size() != 1) PropertyError();
        v = static_cast<uint16_t>(w[0]);
      }
      p.SetOrd(instance, v);
      break;
    }
    case TTypeKind::Enumeration: {
      std::string id = ReadIdent();
      auto it = std::find_if(p.EnumNames.begin(), p.EnumNames.end(), [&](const std::string& n) { return SameText(n, id); });
      if (it == p.EnumNames.end()) PropertyError();
      p.SetOrd(instance, it - p.EnumNames.begin());
      break;
    }
    case TTypeKind::Set: {
      if (ReadValue() != vaSet) PropertyError();
      int64_t mask = 0;
      for (std::string e = ReadStr(); !e.empty(); e = ReadStr()) {
        auto it = std::find_if(p.EnumNames.begin(), p.EnumNames.end(), [&](const std::string& n) { return SameText(n, e); });
        if (it == p.EnumNames.end()) PropertyError();
        mask |= int64_t(1) << (it - p.EnumNames.begin());
      }
      p.SetOrd(instance, mask);
      break;
    }
    case TTypeKind::Float:
      p.SetFloat(instance, ReadFloat());
      break;
    case TTypeKind::String:
      p.SetStr(instance, ReadString());
      break;
    case TTypeKind::WString:
      p.SetWStr(instance, ReadWideString());
      break;
    case TTypeKind::Class: {
      TValueType t = NextValue();
      if (t == vaNil) {
        ReadValue();
        if (!p.SetObj) PropertyError();
        p.SetObj(instance, nullptr);
      } else if (t == vaCollection) {
        auto* coll = As<TCollection>(p.GetObj(instance));
        if (!coll) PropertyError();
        ReadCollection(coll);
      } else if (t == vaIdent) {
        if (!p.SetObj) PropertyError();
        // A reference to a component: resolved once every component of the layout exists.
        fixups_.push_back(Fixup{instance, &p, ReadIdent()});
      } else {
        PropertyError();
      }
      break;
    }
    case TTypeKind::Method: {
      std::string name = ReadIdent();
      if (name == "nil") {
        p.SetMethod(instance, nullptr, nullptr);
        break;
      }
      const TMethodInfo* mi = Root ? Root->ClassType()->FindMethod(name) : nullptr;
      if (!mi) throw EReadError(Format("Method %s not found", name.c_str()));
      if (!p.SetMethod(instance, static_cast<TObject*>(Root), mi)) PropertyError();
      break;
    }
  }
}

void TReader::ReadCollection(TCollection* coll) {
  ReadValue();  // vaCollection
  coll->BeginUpdate();
  try {
    if (!EndOfList()) coll->Clear();
    while (!EndOfList()) {
      TValueType t = NextValue();
      if (t == vaInt8 || t == vaInt16 || t == vaInt32) ReadInteger();  // stored index: items are in order
      TCollectionItem* item = coll->Add();
      ReadListBegin();
      while (!EndOfList()) ReadProperty(item);
      ReadListEnd();
    }
    ReadListEnd();
  } catch (...) {
    coll->EndUpdate();
    throw;
  }
  coll->EndUpdate();
}

void TReader::ReadProperty(TPersistent* instance) {
  std::string full = ReadStr();
  // Walk a dotted path through published sub-objects ("Font.Name").
  TPersistent* target = instance;
  std::string name = full;
  for (size_t dot; (dot = name.find('.')) != std::string::npos;) {
    const TPropInfo* p = target->ClassType()->FindProp(name.substr(0, dot));
    TObject* sub = (p && p->Kind == TTypeKind::Class) ? p->GetObj(target) : nullptr;
    if (!sub || !sub->Is<TPersistent>()) {
      // Not a published path: the object itself may define the whole dotted name.
      name = full;
      target = instance;
      break;
    }
    target = static_cast<TPersistent*>(sub);
    name = name.substr(dot + 1);
  }
  if (const TPropInfo* p = target->ClassType()->FindProp(name)) {
    ReadPropValue(target, *p);
    return;
  }
  propName_ = name;
  canHandleProp_ = true;
  target->DefineProperties(this);
  bool handled = !canHandleProp_;
  canHandleProp_ = false;
  if (!handled) PropertyError();
}

void TReader::ReadProperties(TPersistent* instance) {
  while (!EndOfList()) ReadProperty(instance);
  ReadValue();
}

void TReader::ReadData(TComponent* c) {
  ReadProperties(c);
  TComponent* saveParent = Parent;
  TComponent* saveOwner = Owner;
  Parent = c->GetChildParent();
  if (TComponent* o = c->GetChildOwner()) Owner = o;
  while (!EndOfList()) ReadComponent(c);
  ReadValue();
  Parent = saveParent;
  Owner = saveOwner;
}

TComponent* TReader::ReadComponent(TComponent* parent) {
  static thread_local int depth = 0;
  if (depth >= kMaxNesting) throw EReadError(SInvalidImage);
  ++depth;
  struct Leave {
    ~Leave() { --depth; }
  } leave;
  (void)parent;
  std::string className = ReadStr();
  std::string name = ReadStr();
  // A component of an inherited layout already exists under its name: read into it.
  TComponent* c = Owner ? Owner->FindComponent(name) : nullptr;
  if (!c) {
    c = NewComponent(FindClass(className), Owner);
    try {
      c->SetState(csLoading | csReading, true);
      c->SetName(name);
      c->SetParentComponent(Parent);
    } catch (...) {
      c->Free();
      throw;
    }
  } else {
    c->SetState(csLoading | csReading, true);
  }
  if (std::find(loaded_.begin(), loaded_.end(), c) == loaded_.end()) loaded_.push_back(c);
  ReadData(c);
  c->SetState(csReading, false);
  return c;
}

void TReader::ResolveFixups() {
  for (const Fixup& f : fixups_) {
    TComponent* target = nullptr;
    if (Root && SameText(f.name, Root->GetName()))
      target = Root;
    else if (Root)
      target = Root->FindComponent(f.name);
    if (!target) throw EReadError(Format(SUnresolvedReference, f.name.c_str()));
    f.prop->SetObj(f.instance, target);
  }
  fixups_.clear();
}

TComponent* TReader::ReadRootComponent(TComponent* root) {
  ReadSignature();
  std::string className = ReadStr();
  std::string name = ReadStr();
  bool created = false;
  if (!root) {
    root = NewComponent(FindClass(className), nullptr);
    created = true;
  }
  try {
    Root = LookupRoot = Owner = root;
    if (created || root->GetName().empty()) root->SetName(name);
    root->SetState(csLoading | csReading, true);
    loaded_.push_back(root);
    ReadData(root);
    ResolveFixups();
    // Published fields of the root get the components of their names.
    for (int i = 0; i < root->ComponentCount(); ++i) {
      TComponent* c = root->Components(i);
      if (const TFieldInfo* f = root->ClassType()->FindField(c->GetName()))
        if (c->InheritsFrom(f->FieldClass)) f->Set(root, c);
    }
    for (TComponent* c : loaded_) c->SetState(csReading, false);
    std::vector<TComponent*> loaded;
    loaded.swap(loaded_);
    for (TComponent* c : loaded) c->Loaded();
  } catch (...) {
    for (TComponent* c : loaded_) c->SetState(csLoading | csReading, false);
    loaded_.clear();
    if (created) root->Free();
    throw;
  }
  return root;
}

// ---- TWriter ----

void TWriter::WriteValue(TValueType v) {
  uint8_t b = v;
  Write(&b, 1);
}

void TWriter::WriteStr(const std::string& s) {
  if (s.size() > 255) throw EWriteError(SWriteError);
  uint8_t n = static_cast<uint8_t>(s.size());
  Write(&n, 1);
  if (n) Write(s.data(), n);
}

void TWriter::WriteInteger(int64_t v) {
  uint8_t b[8];
  if (v >= INT8_MIN && v <= INT8_MAX) {
    WriteValue(vaInt8);
    b[0] = static_cast<uint8_t>(v);
    Write(b, 1);
  } else if (v >= INT16_MIN && v <= INT16_MAX) {
    WriteValue(vaInt16);
    b[0] = static_cast<uint8_t>(v);
    b[1] = static_cast<uint8_t>(v >> 8);
    Write(b, 2);
  } else if (v >= INT32_MIN && v <= INT32_MAX) {
    WriteValue(vaInt32);
    PutU32LE(b, static_cast<uint32_t>(v));
    Write(b, 4);
  } else {
    WriteValue(vaInt64);
    PutU32LE(b, static_cast<uint32_t>(v));
    PutU32LE(b + 4, static_cast<uint32_t>(static_cast<uint64_t>(v) >> 32));
    Write(b, 8);
  }
}

void TWriter::WriteFloat(double v) {
  WriteValue(vaDouble);
  uint64_t bits;
  std::memcpy(&bits, &v, 8);
  uint8_t b[8];
  PutU32LE(b, static_cast<uint32_t>(bits));
  PutU32LE(b + 4, static_cast<uint32_t>(bits >> 32));
  Write(b, 8);
}

void TWriter::WriteString(const std::string& s) {
  if (s.size() <= 255) {
    WriteValue(vaString);
    WriteStr(s);
    return;
  }
  WriteValue(vaLString);
  uint8_t b[4];
  PutU32LE(b, static_cast<uint32_t>(s.size()));
  Write(b, 4);
  Write(s.data(), static_cast<int32_t>(s.size()));
}

void TWriter::WriteWideString(const std::wstring& s) {
  WriteValue(vaWString);
  uint8_t b[4];
  PutU32LE(b, static_cast<uint32_t>(s.size()));
  Write(b, 4);
  std::vector<uint8_t> raw(s.size() * 2);
  for (size_t i = 0; i < s.size(); ++i) {
    raw[2 * i] = static_cast<uint8_t>(s[i]);
    raw[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(s[i]) >> 8);
  }
  if (!raw.empty()) Write(raw.data(), static_cast<int32_t>(raw.size()));
}

void TWriter::WriteIdent(const std::string& s) {
  if (SameText(s, "False"))
    WriteValue(vaFalse);
  else if (SameText(s, "True"))
    WriteValue(vaTrue);
  else if (SameText(s, "nil"))
    WriteValue(vaNil);
  else {
    WriteValue(vaIdent);
    WriteStr(s);
  }
}

void TWriter::WriteBinary(const void* data, uint32_t size) {
  WriteValue(vaBinary);
  uint8_t b[4];
  PutU32LE(b, size);
  Write(b, 4);
  if (size) Write(data, static_cast<int32_t>(size));
}

void TWriter::WriteSignature() { Write(kLayoutSignature, 4); }

void TWriter::DefineProperty(const std::string& name, const std::function<void(TReader*)>&,
                             const std::function<void(TWriter*)>& write, bool hasData) {
  if (!hasData || !write) return;
  WritePropName(name);
  write(this);
}

void TWriter::DefineBinaryProperty(const std::string& name, const std::function<void(TStream*)>&,
                                   const std::function<void(TStream*)>& write, bool hasData) {
  if (!hasData || !write) return;
  TMemoryStream ms;
  write(&ms);
  WritePropName(name);
  WriteBinary(ms.Memory(), static_cast<uint32_t>(ms.GetSize()));
}

void TWriter::WriteObjectProps(TPersistent* instance, const std::string& prefix) {
  std::string savePrefix = prefix_;
  prefix_ = prefix;
  bool isComponent = instance->Is<TComponent>();
  for (const TPropInfo* p : instance->ClassType()->AllProps()) {
    if (isComponent && SameText(p->Name, "Name")) continue;  // the record header carries it
    if (!p->IsStored(instance)) continue;
    switch (p->Kind) {
      case TTypeKind::Integer:
      case TTypeKind::Int64:
      case TTypeKind::Char:
      case TTypeKind::WChar:
      case TTypeKind::Enumeration:
      case TTypeKind::Set: {
        if (!p->GetOrd || !p->SetOrd) break;  // read-only or write-only: nothing to restore
        int64_t v = p->GetOrd(instance);
        if (p->HasDefault && v == p->Default) break;
        WritePropName(p->Name);
        if (p->Kind == TTypeKind::Enumeration) {
          if (v < 0 || v >= static_cast<int64_t>(p->EnumNames.size())) throw EWriteError(SInvalidPropertyValue);
          WriteIdent(p->EnumNames[static_cast<size_t>(v)]);
        } else if (p->Kind == TTypeKind::Set) {
          WriteValue(vaSet);
          for (size_t i = 0; i < p->EnumNames.size() && i < 64; ++i)
            if (v & (int64_t(1) << i)) WriteStr(p->EnumNames[i]);
          WriteStr(std::string());
        } else if (p->Kind == TTypeKind::Char) {
          WriteChar(static_cast<char>(v));
        } else if (p->Kind == TTypeKind::WChar) {
          WriteWideString(std::wstring(1, static_cast<wchar_t>(v)));
        } else {
          WriteInteger(v);
        }
        break;
      }
      case TTypeKind::Float:
        WritePropName(p->Name);
        WriteFloat(p->GetFloat(instance));
        break;
      case TTypeKind::String: {
        std::string s = p->GetStr(instance);
        if (s.empty()) break;
        WritePropName(p->Name);
        WriteString(s);
        break;
      }
      case TTypeKind::WString: {
        std::wstring s = p->GetWStr(instance);
        if (s.empty()) break;
        WritePropName(p->Name);
        WriteWideString(s);
        break;
      }
      case TTypeKind::Class: {
        TObject* obj = p->GetObj(instance);
        if (!obj) break;
        if (obj->Is<TComponent>() && p->SetObj) {
          // A reference: the name within the root, or nothing for a component outside it.
          auto* c = static_cast<TComponent*>(obj);
          if (c == Root || (Root && c->Owner() == Root)) {
            WritePropName(p->Name);
            WriteIdent(c->GetName());
          }
        } else if (auto* coll = As<TCollection>(obj)) {
          if (coll->Count() == 0) break;
          WritePropName(p->Name);
          WriteValue(vaCollection);
          for (int i = 0; i < coll->Count(); ++i) {
            WriteListBegin();
            WriteObjectProps(coll->Items(i), std::string());
            prefix_ = prefix;
            WriteListEnd();
          }
          WriteListEnd();
        } else if (obj->Is<TPersistent>()) {
          WriteObjectProps(static_cast<TPersistent*>(obj), prefix + p->Name + ".");
          prefix_ = prefix;
        }
        break;
      }
      case TTypeKind::Method: {
        auto m = p->GetMethod(instance);
        if (!m.first || !Root || m.first != static_cast<void*>(static_cast<TObject*>(Root))) break;
        const TMethodInfo* mi = Root->ClassType()->FindMethodByCode(m.second);
        if (!mi) break;  // a handler that layouts cannot name is not stored
        WritePropName(p->Name);
        WriteIdent(mi->Name);
        break;
      }
    }
  }
  instance->DefineProperties(this);
  prefix_ = savePrefix;
}

void TWriter::WriteProperties(TPersistent* instance) {
  WriteObjectProps(instance, std::string());
  WriteListEnd();
}

void TWriter::WriteComponent(TComponent* c) {
  c->SetState(csWriting, true);
  WriteStr(c->ClassName());
  WriteStr(c->GetName());
  WriteProperties(c);
  TComponent* saveRoot = Root;
  c->GetChildren([this](TComponent* child) { WriteComponent(child); }, Root);
  Root = saveRoot;
  WriteListEnd();
  c->SetState(csWriting, false);
}

void TWriter::WriteRootComponent(TComponent* root) {
  Root = LookupRoot = root;
  WriteSignature();
  WriteComponent(root);
}

// ---- resources ----

namespace {
std::vector<HINSTANCE>& LayoutModules() {
  static std::vector<HINSTANCE> m;
  return m;
}
}  // namespace

void AddLayoutModule(HINSTANCE module) {
  auto& m = LayoutModules();
  if (std::find(m.begin(), m.end(), module) == m.end()) m.push_back(module);
}

bool ReadComponentRes(const std::string& resName, TComponent* instance) {
  std::vector<HINSTANCE> modules{GetModuleHandleA(nullptr)};
  for (HINSTANCE h : LayoutModules()) modules.push_back(h);
  for (HINSTANCE h : modules) {
    if (!FindResourceA(h, resName.c_str(), MAKEINTRESOURCEA(10) /* RT_RCDATA */)) continue;
    TResourceStream rs(h, resName, MAKEINTRESOURCEA(10));
    TReader reader(&rs);
    reader.ReadRootComponent(instance);
    return true;
  }
  return false;
}

bool InitInheritedComponent(TComponent* instance, TClass rootAncestor) {
  std::vector<TClass> chain;
  for (TClass c = instance->ClassType(); c && c != rootAncestor; c = c->Parent) chain.insert(chain.begin(), c);
  bool any = false;
  for (TClass c : chain) any = ReadComponentRes(c->Name, instance) || any;
  return any;
}

void WriteComponentToStream(TStream* s, TComponent* c) {
  TWriter w(s);
  w.WriteRootComponent(c);
}

TComponent* ReadComponentFromStream(TStream* s, TComponent* instance) {
  TReader r(s);
  return r.ReadRootComponent(instance);
}

}  // namespace ui
