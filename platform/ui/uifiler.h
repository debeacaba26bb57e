// Layout streams: the reader and writer of components and their properties, the properties that
// classes define beside their published ones, the class registry and the loading of layout resources.
//
// A layout stream is the signature "TQL0" followed by one component record:
//   class name (short string), component name (short string),
//   properties: (name as short string, value)... then a 0 byte,
//   child component records... then a 0 byte.
// A short string is a length byte and that many bytes. A value is a type byte (TValueType) and data.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "uicomponent.h"
#include "uistreams.h"

namespace ui {

enum TValueType : uint8_t {
  vaNull = 0,         // end of a list
  vaList = 1,         // values until vaNull
  vaInt8 = 2,
  vaInt16 = 3,
  vaInt32 = 4,
  vaDouble = 5,       // 8-byte IEEE double
  vaString = 6,       // length byte + 8-bit text
  vaIdent = 7,        // length byte + identifier
  vaFalse = 8,
  vaTrue = 9,
  vaBinary = 10,      // 32-bit length + bytes
  vaSet = 11,         // element names as short strings, then an empty one
  vaLString = 12,     // 32-bit length + 8-bit text
  vaNil = 13,
  vaCollection = 14,  // items: [vaInt* index] vaList properties 0 ... then 0
  vaWString = 18,     // 32-bit count of UTF-16 units + the units, little-endian
  vaInt64 = 19,
  vaUTF8String = 20,  // 32-bit length + UTF-8 text
};

extern const char kLayoutSignature[4];

class TReader;
class TWriter;

class TFiler : public TObject {
  UI_DECLARE_CLASS(TFiler, TObject)
 public:
  // A property stored through its own procedures; `hasData` says whether the writer stores it.
  virtual void DefineProperty(const std::string& name, const std::function<void(TReader*)>& read,
                              const std::function<void(TWriter*)>& write, bool hasData) = 0;
  // The same for raw bytes (stored as vaBinary; the procedures see a stream of just those bytes).
  virtual void DefineBinaryProperty(const std::string& name, const std::function<void(TStream*)>& read,
                                    const std::function<void(TStream*)>& write, bool hasData) = 0;
  TComponent* Root = nullptr;
  TComponent* LookupRoot = nullptr;
  TPersistent* Ancestor = nullptr;  // the object written against (differences only), or null
  TStream* Stream() const { return stream_; }

 protected:
  explicit TFiler(TStream* s) : stream_(s) {}
  TStream* stream_;
};

class TReader : public TFiler {
  UI_DECLARE_CLASS(TReader, TFiler)
 public:
  explicit TReader(TStream* s) : TFiler(s) {}
  ~TReader() override;

  // Reads a whole layout into `root` (created from the stream's class when null); returns the root.
  TComponent* ReadRootComponent(TComponent* root);
  // Reads the properties of one object (name/value pairs up to the 0 byte).
  void ReadProperties(TPersistent* instance);

  TValueType NextValue();
  TValueType ReadValue();
  bool EndOfList();
  void ReadListBegin();
  void ReadListEnd();
  int32_t ReadInteger();
  int64_t ReadInt64();
  double ReadFloat();
  bool ReadBoolean();
  char ReadChar();
  std::string ReadString();    // 8-bit text; wide and UTF-8 values are converted to the system code page
  std::wstring ReadWideString();
  std::string ReadIdent();     // identifiers, False, True and nil
  std::string ReadStr();       // a bare short string
  void ReadBinary(std::vector<uint8_t>& out);
  void SkipValue();
  void ReadSignature();

  void DefineProperty(const std::string& name, const std::function<void(TReader*)>& read,
                      const std::function<void(TWriter*)>& write, bool hasData) override;
  void DefineBinaryProperty(const std::string& name, const std::function<void(TStream*)>& read,
                            const std::function<void(TStream*)>& write, bool hasData) override;

  // Components created while reading: named in the owner, to be Loaded at the end.
  TComponent* Owner = nullptr;
  TComponent* Parent = nullptr;
  // Name of the property being read (a DefineProperties call matches against it).
  const std::string& PropName() const { return propName_; }

 private:
  TComponent* ReadComponent(TComponent* parent);
  void ReadProperty(TPersistent* instance);
  void ReadPropValue(TPersistent* instance, const TPropInfo& p);
  void ReadData(TComponent* c);
  void ReadCollection(TCollection* coll);
  void ResolveFixups();
  void Read(void* buf, int32_t n) { stream_->ReadBuffer(buf, n); }
  [[noreturn]] void PropertyError();
  struct Fixup {
    TPersistent* instance;
    const TPropInfo* prop;
    std::string name;
  };
  std::vector<Fixup> fixups_;
  std::vector<TComponent*> loaded_;
  std::string propName_;
  bool canHandleProp_ = false;
  bool peeked_ = false;
  TValueType peek_ = vaNull;
};

class TWriter : public TFiler {
  UI_DECLARE_CLASS(TWriter, TFiler)
 public:
  explicit TWriter(TStream* s) : TFiler(s) {}

  void WriteRootComponent(TComponent* root);
  void WriteComponent(TComponent* c);
  void WriteProperties(TPersistent* instance);

  void WriteValue(TValueType v);
  void WriteListBegin() { WriteValue(vaList); }
  void WriteListEnd() { WriteValue(vaNull); }
  void WriteInteger(int64_t v);
  void WriteFloat(double v);
  void WriteBoolean(bool v) { WriteValue(v ? vaTrue : vaFalse); }
  void WriteChar(char c) { WriteString(std::string(1, c)); }
  void WriteString(const std::string& s);
  void WriteWideString(const std::wstring& s);
  void WriteIdent(const std::string& s);
  void WriteStr(const std::string& s);  // bare short string
  void WriteBinary(const void* data, uint32_t size);
  void WriteSignature();

  void DefineProperty(const std::string& name, const std::function<void(TReader*)>& read,
                      const std::function<void(TWriter*)>& write, bool hasData) override;
  void DefineBinaryProperty(const std::string& name, const std::function<void(TStream*)>& read,
                            const std::function<void(TStream*)>& write, bool hasData) override;

 private:
  void WriteObjectProps(TPersistent* instance, const std::string& prefix);
  void WritePropName(const std::string& name) { WriteStr(prefix_ + name); }
  void Write(const void* buf, int32_t n) { stream_->WriteBuffer(buf, n); }
  std::string prefix_;
};

// Class registry for layouts: classes named in a stream must be registered.
void RegisterClass(TClass cls);
void RegisterClasses(std::initializer_list<TClass> classes);
void UnRegisterClass(TClass cls);
TClass GetClass(const std::string& name);   // null when unknown
TClass FindClass(const std::string& name);  // EClassNotFound when unknown

// Modules searched for layout resources (the program's own module is always searched first).
void AddLayoutModule(HINSTANCE module);
// Reads the layout resource named `resName` (an RCDATA resource) into `instance`; false when absent.
bool ReadComponentRes(const std::string& resName, TComponent* instance);
// Loads the layouts of `instance`'s class and of its parents below `rootAncestor`, parents' first;
// true when at least one was found.
bool InitInheritedComponent(TComponent* instance, TClass rootAncestor);

// Whole-stream helpers.
void WriteComponentToStream(TStream* s, TComponent* c);
TComponent* ReadComponentFromStream(TStream* s, TComponent* instance);

}  // namespace ui
