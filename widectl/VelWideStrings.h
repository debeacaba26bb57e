// TWideStrings: the abstract list of wide strings with objects, the wide counterpart of the
// user-interface library's TStrings. Descendants store the items; this class gives text, files,
// searching, copying to and from 8-bit lists and the update bracket on top of a few accessors.
#pragma once
#include <cstdint>
#include <string>

#include "uifiler.h"
#include "uistreams.h"
#include "uistrings.h"

class TWideStrings : public ui::TPersistent {
  UI_DECLARE_CLASS(TWideStrings, ui::TPersistent)
 public:
  // Accessors that descendants provide or override.
  virtual std::wstring GetItemAt(int index) const = 0;
  virtual int GetItemCapacity() const { return GetEntryCount(); }
  virtual int GetEntryCount() const = 0;
  virtual ui::TObject* GetObjectAt(int index) const;
  // Every item followed by CR LF.
  virtual std::wstring GetWholeText() const;
  virtual void SetItemAt(int index, const std::wstring& s);
  virtual void SetObjectAt(int index, ui::TObject* object);
  virtual void SetItemCapacity(int count);
  // Replaces the items by the lines of the text: CR LF, CR, LF and U+2028 end a line, a final line
  // break adds no empty line, and the text ends at its first zero character.
  virtual void SetWholeText(const std::wstring& text);
  // Told when the update count leaves or returns to zero.
  virtual void SetUpdatingFlag(bool updating);
  // The system's case-insensitive comparison; <0, 0, >0.
  virtual int CompareItemTexts(const std::wstring& a, const std::wstring& b) const;
  virtual int Add(const std::wstring& s);
  virtual int AddWithObject(const std::wstring& s, ui::TObject* object);
  virtual void AddAllFrom(ui::TStrings* strings);  // widened with the system ANSI code page
  virtual void AddAllFrom(TWideStrings* strings);
  virtual void Clear() = 0;
  virtual void Delete(int index) = 0;
  virtual void ExchangeItems(int a, int b);
  // A new buffer (WideStrDuplicate) holding GetWholeText; the caller frees it with WideStrFreeBuffer.
  virtual wchar_t* GetTextBuffer() const;
  virtual int IndexOf(const std::wstring& s) const;
  // The first item holding the separator whose part before it equals `name`; items without the
  // separator never match.
  virtual int IndexOfNamePart(const std::wstring& name) const;
  virtual int IndexOfObjectRef(ui::TObject* object) const;
  virtual void Insert(int index, const std::wstring& s) = 0;
  virtual void InsertWithObject(int index, const std::wstring& s, ui::TObject* object);
  // Opens the file for reading (others may read) and calls LoadFromStream.
  virtual void LoadFromFile(const std::wstring& fileName);
  // The rest of the stream as UTF-16 little-endian text (a trailing odd byte is dropped).
  virtual void LoadFromStream(ui::TStream* stream);
  virtual void Move(int from, int to);
  // Creates (or truncates) the file and calls SaveToStream.
  virtual void SaveToFile(const std::wstring& fileName);
  // GetWholeText as UTF-16 little-endian, without byte-order mark or terminator.
  virtual void SaveToStream(ui::TStream* stream);
  virtual void SetTextBuffer(const wchar_t* text);

  // Nesting update bracket: only the outermost pair reaches SetUpdatingFlag.
  void BeginChanges();
  void EndChanges();
  int UpdateCount() const { return updateCount_; }
  // Same count and every string exactly equal.
  bool EqualsList(const TWideStrings* other) const;
  // Raises ui::EStringListError with `message` (wide, with one %d for `data`) in ANSI form.
  [[noreturn]] void RaiseListError(const wchar_t* message, int data) const;

  // Reading a character that was never set sets it to its default (",", "\"", "=") first.
  wchar_t ItemDelimiter() const;
  void SetItemDelimiter(wchar_t c);
  wchar_t QuoteCharacter() const;
  void SetQuoteCharacter(wchar_t c);
  wchar_t NamePartSeparator() const;
  void SetNamePartSeparator(wchar_t c);

  int Count() const { return GetEntryCount(); }
  std::wstring operator[](int index) const { return GetItemAt(index); }

  void Assign(ui::TPersistent* source) override;
  // "Strings": the items as a list of wide strings in form files.
  void DefineProperties(ui::TFiler* filer) override;

 protected:
  TWideStrings() = default;
  void AssignTo(ui::TPersistent* dest) override;

 private:
  enum : uint8_t { kDelimiterSet = 1, kQuoteSet = 2, kSeparatorSet = 4 };
  wchar_t GetSetting(uint8_t flag, wchar_t& value, wchar_t defaultValue) const;
  void PutSetting(uint8_t flag, wchar_t& value, wchar_t c);

  mutable uint8_t setFlags_ = 0;
  mutable wchar_t delimiter_ = 0;
  mutable wchar_t quoteCharacter_ = 0;
  mutable wchar_t namePartSeparator_ = 0;
  int updateCount_ = 0;
};

// Holds a list's update bracket for a scope, so that a failing bulk operation still closes it.
class WideStringsUpdate {
 public:
  explicit WideStringsUpdate(TWideStrings* list) : list_(list) { list_->BeginChanges(); }
  ~WideStringsUpdate() { list_->EndChanges(); }
  WideStringsUpdate(const WideStringsUpdate&) = delete;
  WideStringsUpdate& operator=(const WideStringsUpdate&) = delete;

 private:
  TWideStrings* list_;
};

// Reads a form-file value of text into the list: an 8-bit string (widened) or a wide string as its
// whole text, otherwise a list of strings, one per item (8-bit elements widened).
void ReadWideStringsValue(ui::TReader* reader, TWideStrings* list);

// The system's wide comparisons (user locale): <0, 0, >0.
int WideCompareText(const std::wstring& a, const std::wstring& b);  // ignoring case
int WideCompareStr(const std::wstring& a, const std::wstring& b);   // case-sensitive
