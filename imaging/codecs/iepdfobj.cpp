// PDF object syntax.
#include "iepdfobj.h"

#include <cstring>

#include "ietextutils.h"

namespace {

void WriteStr(TIEStream& s, const std::string& t) { IEWriteText(s, t); }

void Free(TIEPDFObject* o) {
  if (o && !o->NotOwned) delete o;
}

// Bytes a name cannot hold as they are: they would end it or start an escape.
bool NameDelimiter(uint8_t c) {
  return c == '#' || c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' ||
         c == '}' || c == '/' || c == '%';
}

}  // namespace

void TIEPDFRefObject::Write(TIEStream& Stream) {
  Position = int32_t(Stream.GetPosition());
  WriteStr(Stream, IEIntToStr(Number) + " " + IEIntToStr(Generation) + " R");
}

void TIEPDFNumericObject::Write(TIEStream& Stream) {
  Position = int32_t(Stream.GetPosition());
  WriteStr(Stream, IEFloatToStrDot(Value));
}

void TIEPDFBooleanObject::Write(TIEStream& Stream) {
  Position = int32_t(Stream.GetPosition());
  WriteStr(Stream, Value ? "true" : "false");
}

void TIEPDFStringObject::Write(TIEStream& Stream) {
  Position = int32_t(Stream.GetPosition());
  std::string out = "(";
  for (char c : Text) {
    switch (c) {
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      case '(': out += "\\("; break;
      case ')': out += "\\)"; break;
      case '\\': out += "\\\\"; break;
      default: out += c;
    }
  }
  out += ')';
  WriteStr(Stream, out);
}

void TIEPDFNameObject::Write(TIEStream& Stream) {
  Position = int32_t(Stream.GetPosition());
  std::string out = "/";
  for (char ch : Name) {
    const uint8_t c = uint8_t(ch);
    if (c >= '!' && c <= '~' && !NameDelimiter(c)) out += ch;
    else out += "#" + IEIntToHex(c, 2);
  }
  WriteStr(Stream, out);
}

TIEPDFArrayObject::~TIEPDFArrayObject() {
  for (TIEPDFObject* o : Items) Free(o);
}

void TIEPDFArrayObject::Write(TIEStream& Stream) {
  Position = int32_t(Stream.GetPosition());
  WriteStr(Stream, "[");
  for (TIEPDFObject* o : Items) {
    o->Write(Stream);
    WriteStr(Stream, " ");
  }
  WriteStr(Stream, "]");
}

TIEPDFDictionaryObject::~TIEPDFDictionaryObject() {
  for (TIEPDFObject* o : Values) Free(o);
}

void TIEPDFDictionaryObject::Write(TIEStream& Stream) {
  Position = int32_t(Stream.GetPosition());
  WriteStr(Stream, "<< ");
  for (size_t i = 0; i < Keys.size(); ++i) {
    WriteStr(Stream, "/" + Keys[i] + " ");
    Values[i]->Write(Stream);
    WriteStr(Stream, "\n");
  }
  WriteStr(Stream, ">>");
}

void TIEPDFDictionaryObject::Add(const std::string& key, TIEPDFObject* value) {
  Keys.push_back(key);
  Values.push_back(value);
}

void TIEPDFDictionaryObject::Insert(int index, const std::string& key, TIEPDFObject* value) {
  if (index < 0) index = 0;
  if (index > Count()) index = Count();
  Keys.insert(Keys.begin() + index, key);
  Values.insert(Values.begin() + index, value);
}

int TIEPDFDictionaryObject::IndexOf(const std::string& key) const {
  for (size_t i = 0; i < Keys.size(); ++i)
    if (Keys[i] == key) return int(i);
  return -1;
}

TIEPDFObject* TIEPDFDictionaryObject::Get(const std::string& key) const {
  const int i = IndexOf(key);
  return i < 0 ? nullptr : Values[size_t(i)];
}

void TIEPDFDictionaryObject::Put(const std::string& key, TIEPDFObject* value) {
  const int i = IndexOf(key);
  if (i < 0) {
    Add(key, value);
    return;
  }
  if (Values[size_t(i)] != value) Free(Values[size_t(i)]);
  Values[size_t(i)] = value;
}

TIEPDFStreamObject::TIEPDFStreamObject() : Dictionary(new TIEPDFDictionaryObject) {
  Dictionary->Add("Length", new TIEPDFNumericObject(0));
}

TIEPDFStreamObject* TIEPDFStreamObject::CreateWithData(const void* buffer, int32_t length) {
  auto* o = new TIEPDFStreamObject;
  if (buffer && length > 0) {
    const uint8_t* p = static_cast<const uint8_t*>(buffer);
    o->Data.assign(p, p + length);
  }
  return o;
}

TIEPDFStreamObject::~TIEPDFStreamObject() { delete Dictionary; }

void TIEPDFStreamObject::Write(TIEStream& Stream) {
  Position = int32_t(Stream.GetPosition());
  // the length always follows the data, however they were set
  Dictionary->Put("Length", new TIEPDFNumericObject(double(Data.size())));
  Dictionary->Write(Stream);
  WriteStr(Stream, "\nstream\n");
  if (!Data.empty()) Stream.WriteBuffer(Data.data(), int32_t(Data.size()));
  WriteStr(Stream, "\nendstream");
}
