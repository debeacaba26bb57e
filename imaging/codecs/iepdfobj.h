// The objects a PDF document is built from (numbers, names, strings, arrays, dictionaries, streams,
// references), each able to write its own syntax. The document writer (iepdf.h) numbers the objects
// that become indirect ones and wraps them in "N 0 obj" ... "endobj".
//
// Ownership: an array frees its items and a dictionary its values, except those whose NotOwned flag
// is set; a stream object frees its dictionary and its data.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "iestreams.h"

class TIEPDFObject {
 public:
  TIEPDFObject() = default;
  virtual ~TIEPDFObject() = default;
  TIEPDFObject(const TIEPDFObject&) = delete;
  TIEPDFObject& operator=(const TIEPDFObject&) = delete;
  // Records the stream position in Position, then writes the object's syntax.
  virtual void Write(TIEStream& Stream) = 0;

  int32_t ObjectNumber = 0;  // 0: written in place (a direct object)
  int32_t Position = 0;      // where the object was last written
  uint8_t NotOwned = 0;      // set: a container holding the object leaves it alive
};

// "N G R"
class TIEPDFRefObject : public TIEPDFObject {
 public:
  TIEPDFRefObject(int32_t objectNumber, int32_t generation) : Number(objectNumber), Generation(generation) {}
  void Write(TIEStream& Stream) override;
  int32_t Number;
  int32_t Generation;
};

class TIEPDFNumericObject : public TIEPDFObject {
 public:
  explicit TIEPDFNumericObject(double value) : Value(value) {}
  void Write(TIEStream& Stream) override;  // shortest decimal form, "." as the point
  double Value;
};

class TIEPDFBooleanObject : public TIEPDFObject {
 public:
  explicit TIEPDFBooleanObject(bool value) : Value(value) {}
  void Write(TIEStream& Stream) override;
  bool Value;
};

// A literal string: "(", the text with \b \t \n \f \r \( \) \\ escaped, ")".
class TIEPDFStringObject : public TIEPDFObject {
 public:
  explicit TIEPDFStringObject(const std::string& text) : Text(text) {}
  void Write(TIEStream& Stream) override;
  std::string Text;
};

// "/" and the name; bytes outside "!".."~", "#" and the delimiters are written as "#" and two hex digits.
class TIEPDFNameObject : public TIEPDFObject {
 public:
  explicit TIEPDFNameObject(const std::string& name) : Name(name) {}
  void Write(TIEStream& Stream) override;
  std::string Name;
};

// "[", each item followed by a blank, "]".
class TIEPDFArrayObject : public TIEPDFObject {
 public:
  TIEPDFArrayObject() = default;
  ~TIEPDFArrayObject() override;
  void Write(TIEStream& Stream) override;
  void Add(TIEPDFObject* item) { Items.push_back(item); }
  std::vector<TIEPDFObject*> Items;
};

// "<< ", per entry "/key value" and LF, ">>"; entries keep their insertion order.
class TIEPDFDictionaryObject : public TIEPDFObject {
 public:
  TIEPDFDictionaryObject() = default;
  ~TIEPDFDictionaryObject() override;
  void Write(TIEStream& Stream) override;
  void Add(const std::string& key, TIEPDFObject* value);
  void Insert(int index, const std::string& key, TIEPDFObject* value);
  int IndexOf(const std::string& key) const;  // -1 when absent
  TIEPDFObject* Get(const std::string& key) const;
  // Replaces the value of an existing key (freeing the old one unless it is not owned), or adds it.
  void Put(const std::string& key, TIEPDFObject* value);
  int Count() const { return int(Keys.size()); }

  std::vector<std::string> Keys;
  std::vector<TIEPDFObject*> Values;
};

// The dictionary, LF, "stream" LF, the data, LF, "endstream". Its "Length" is set from the data
// whenever it is written.
class TIEPDFStreamObject : public TIEPDFObject {
 public:
  TIEPDFStreamObject();
  static TIEPDFStreamObject* CreateWithData(const void* buffer, int32_t length);
  ~TIEPDFStreamObject() override;
  void Write(TIEStream& Stream) override;
  void SetData(std::vector<uint8_t>&& data) { Data = std::move(data); }
  std::vector<uint8_t> Data;
  TIEPDFDictionaryObject* Dictionary;
};
