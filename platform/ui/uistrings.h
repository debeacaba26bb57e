// String lists: the abstract TStrings with virtual accessors, and TStringList.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "uicomponent.h"
#include "uistreams.h"

namespace ui {

class TStrings : public TPersistent {
  UI_DECLARE_CLASS(TStrings, TPersistent)
 public:
  // Accessors that descendants provide or override.
  virtual std::string Get(int index) const = 0;
  virtual int GetCount() const = 0;
  virtual TObject* GetObject(int index) const;
  virtual void Put(int index, const std::string& s);
  virtual void PutObject(int index, TObject* obj);
  virtual void Insert(int index, const std::string& s) = 0;
  virtual void Delete(int index) = 0;
  virtual void Clear() = 0;
  virtual int Add(const std::string& s);
  virtual int AddObject(const std::string& s, TObject* obj);
  virtual int IndexOf(const std::string& s) const;
  virtual void Exchange(int a, int b);
  virtual std::string GetTextStr() const;         // every item followed by CR LF
  virtual void SetTextStr(const std::string& s);  // split at CR LF, LF or CR
  virtual int GetCapacity() const { return GetCount(); }
  virtual void SetCapacity(int) {}
  virtual void LoadFromStream(TStream* s);
  virtual void SaveToStream(TStream* s);

  int Count() const { return GetCount(); }
  std::string operator[](int i) const { return Get(i); }
  void InsertObject(int index, const std::string& s, TObject* obj);
  void Append(const std::string& s) { Add(s); }
  void AddStrings(TStrings* other);
  void Move(int from, int to);
  int IndexOfName(const std::string& name) const;
  int IndexOfObject(TObject* obj) const;
  std::string Names(int index) const;
  std::string ValueFromIndex(int index) const;
  std::string Values(const std::string& name) const;
  void SetValue(const std::string& name, const std::string& value);
  std::string Text() const { return GetTextStr(); }
  void SetText(const std::string& s) { SetTextStr(s); }
  std::string CommaText() const;
  void SetCommaText(const std::string& s);
  std::string DelimitedText() const;
  void SetDelimitedText(const std::string& s);
  char Delimiter = ',';
  char QuoteChar = '"';
  char NameValueSeparator = '=';
  bool Equals(const TStrings* other) const;

  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return updateCount_; }
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName);

  void Assign(TPersistent* source) override;
  void DefineProperties(TFiler* filer) override;  // "Strings": a list of strings

 protected:
  TStrings() = default;
  // Told when the update count leaves or returns to zero.
  virtual void SetUpdateState(bool updating) { (void)updating; }
  [[noreturn]] void Error(const char* fmt, int index) const;

 private:
  int updateCount_ = 0;
};

enum TDuplicates { dupIgnore, dupAccept, dupError };

class TStringList : public TStrings {
  UI_DECLARE_CLASS(TStringList, TStrings)
 public:
  TStringList() = default;
  ~TStringList() override;
  std::string Get(int index) const override;
  int GetCount() const override { return static_cast<int>(items_.size()); }
  TObject* GetObject(int index) const override;
  void Put(int index, const std::string& s) override;
  void PutObject(int index, TObject* obj) override;
  void Insert(int index, const std::string& s) override;
  void Delete(int index) override;
  void Clear() override;
  int Add(const std::string& s) override;
  int AddObject(const std::string& s, TObject* obj) override;
  int IndexOf(const std::string& s) const override;
  void Exchange(int a, int b) override;
  int GetCapacity() const override { return static_cast<int>(items_.capacity()); }
  void SetCapacity(int n) override { items_.reserve(static_cast<size_t>(n < 0 ? 0 : n)); }

  // Binary search of a sorted list: true when found; `index` is the item or the insertion point.
  bool Find(const std::string& s, int& index) const;
  void Sort();
  void CustomSort(const std::function<int(TStringList*, int, int)>& compare);
  bool GetSorted() const { return sorted_; }
  void SetSorted(bool on);
  TDuplicates Duplicates = dupIgnore;
  bool GetCaseSensitive() const { return caseSensitive_; }
  void SetCaseSensitive(bool on);
  // Frees the objects of the items when they are deleted.
  bool OwnsObjects = false;
  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;

 protected:
  virtual void Changed();
  virtual void Changing();
  void SetUpdateState(bool updating) override;
  virtual int CompareStrings(const std::string& a, const std::string& b) const;
  void InsertItem(int index, const std::string& s, TObject* obj);

 private:
  struct Item {
    std::string s;
    TObject* obj;
  };
  void Check(int i) const;
  std::vector<Item> items_;
  bool sorted_ = false;
  bool caseSensitive_ = false;
};

}  // namespace ui
