// Wide string lists with an 8-bit view and text files marked by byte-order marks, the sorted wide
// string list, the file stream opened by wide name, the wide companions of components and the rule
// that keeps a stored wide value in step with the library's 8-bit one.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "uicomponent.h"

#include "VelWideStrings.h"
#include "uifiler.h"
#include "uistreams.h"
#include "uistrings.h"

// Character set of a text file: by its byte-order mark, or wtcAnsi when it has none.
enum TWideTextCharSet : uint8_t { wtcAnsi = 0, wtcUtf16LE = 1, wtcUtf16BE = 2, wtcUtf8 = 3 };

// TVelFileStream mode that creates (or truncates) the file (the library's fmCreate does the same);
// other modes are the library's open modes (fmOpen* | fmShare*).
enum : uint16_t { vfmCreate = 0xFFFF };

// A handle stream over a file opened by wide name; the handle is closed with the stream.
class TVelFileStream : public ui::THandleStream {
  UI_DECLARE_CLASS(TVelFileStream, ui::THandleStream)
 public:
  // Raises EWideFCreateError / EWideFOpenError ("Cannot create file ..." / "Cannot open file ...")
  // with the full path and the system's reason.
  TVelFileStream(const std::wstring& fileName, uint16_t mode);
  ~TVelFileStream() override;
};

// Reads the byte-order mark at the stream's position and leaves it consumed; with no mark the
// stream stays where it was and the result is wtcAnsi.
TWideTextCharSet DetectStreamCharSet(ui::TStream* stream);

// The rest of the stream as UTF-16 code units (a trailing odd byte is dropped), byte-swapped when
// bigEndian. Raises ui::EReadError when the rest exceeds 2 GB.
std::wstring ReadRemainingUtf16(ui::TStream* stream, bool bigEndian);
// Writes the text's code units little-endian.
void WriteUtf16(ui::TStream* stream, const std::wstring& text);

// An 8-bit list that can also load and save its text in a given code page.
class TAnsiStrings : public ui::TStrings {
  UI_DECLARE_CLASS(TAnsiStrings, ui::TStrings)
 public:
  virtual void LoadFromStreamInCodePage(ui::TStream* stream, UINT codePage) = 0;
  virtual void SaveToStreamInCodePage(ui::TStream* stream, UINT codePage) = 0;

 protected:
  TAnsiStrings() = default;
};

// The 8-bit view of a wide list: every item converted with the view's code page (0: the layer's
// DefaultAnsiCodePage); characters outside it read as the code page's default character.
class TAnsiStringsForWideStringsAdapter : public TAnsiStrings {
  UI_DECLARE_CLASS(TAnsiStringsForWideStringsAdapter, TAnsiStrings)
 public:
  explicit TAnsiStringsForWideStringsAdapter(TWideStrings* list, UINT codePage = 0)
      : list_(list), codePage_(codePage) {}
  std::string Get(int index) const override;
  int GetCount() const override;
  ui::TObject* GetObject(int index) const override;
  void Put(int index, const std::string& s) override;
  void PutObject(int index, ui::TObject* obj) override;
  void Insert(int index, const std::string& s) override;
  void Delete(int index) override;
  void Clear() override;
  void LoadFromStreamInCodePage(ui::TStream* stream, UINT codePage) override;
  void SaveToStreamInCodePage(ui::TStream* stream, UINT codePage) override;
  UINT CodePage() const { return codePage_; }

 protected:
  void SetUpdateState(bool updating) override;

 private:
  UINT EffectiveCodePage() const;
  TWideStrings* list_;
  UINT codePage_;
};

// A wide list with an 8-bit view of itself and text files with byte-order marks: loading detects
// the mark, saving writes FF FE.
class TVelStrings : public TWideStrings {
  UI_DECLARE_CLASS(TVelStrings, TWideStrings)
 public:
  ~TVelStrings() override;
  // The view lives as long as the list.
  TAnsiStrings* AnsiStrings() const { return ansiStrings_; }
  // Fills the wide list from an 8-bit list through the view's conversions.
  void SetAnsiStrings(ui::TStrings* strings);
  TWideTextCharSet LoadedFileCharSet = wtcUtf16LE;

  // "WideStrings" (read as "Strings"), "WideStringsW" (UTF-8 items, taken only into an empty list) and
  // "WideStrings_UTF7" (read and dropped); none is written.
  void DefineProperties(ui::TFiler* filer) override;

  // Records the file's character set in LoadedFileCharSet.
  void LoadFromFile(const std::wstring& fileName) override;
  void LoadFromStream(ui::TStream* stream) override;  // with mark detection
  void SaveToFile(const std::wstring& fileName) override;
  void SaveToStream(ui::TStream* stream) override;  // with a mark
  // Without detection the stream is UTF-16 little-endian; with it, UTF-16 LE/BE, UTF-8 by mark or
  // the system ANSI code page without one.
  virtual void LoadFromStreamWithMark(ui::TStream* stream, bool detectMark);
  virtual void SaveToStreamWithMark(ui::TStream* stream, bool writeMark);

 protected:
  TVelStrings();

 private:
  TAnsiStringsForWideStringsAdapter* ansiStrings_;
};

struct TWideStringItem {
  std::wstring String;
  ui::TObject* Object;
};

// The concrete wide list: optionally sorted, with a duplicate policy for sorted lists, case-sensitive
// or not, with change notifications. It owns its strings, not its objects.
class TVelStringList : public TVelStrings {
  UI_DECLARE_CLASS(TVelStringList, TVelStrings)
 public:
  TVelStringList() = default;
  ~TVelStringList() override;

  std::wstring GetItemAt(int index) const override;
  int GetItemCapacity() const override { return capacity_; }
  int GetEntryCount() const override { return count_; }
  ui::TObject* GetObjectAt(int index) const override;
  void SetItemAt(int index, const std::wstring& s) override;
  void SetObjectAt(int index, ui::TObject* object) override;
  // A capacity below the count is not valid.
  void SetItemCapacity(int count) override;
  void SetUpdatingFlag(bool updating) override;
  int CompareItemTexts(const std::wstring& a, const std::wstring& b) const override;
  int Add(const std::wstring& s) override;
  int AddWithObject(const std::wstring& s, ui::TObject* object) override;
  void Clear() override;
  void Delete(int index) override;
  void ExchangeItems(int a, int b) override;
  int IndexOf(const std::wstring& s) const override;
  int IndexOfNamePart(const std::wstring& name) const override;
  void Insert(int index, const std::wstring& s) override;
  void InsertWithObject(int index, const std::wstring& s, ui::TObject* object) override;

  // Binary search: true when found; `index` is the (first, under dupAccept) match or the insertion
  // point.
  virtual bool FindSorted(const std::wstring& s, int& index) const;
  virtual void SortItems();
  // Sorts an unsorted list of more than one item with the comparison of two indices.
  virtual void SortWithComparer(const std::function<int(TVelStringList*, int, int)>& compare);

  bool GetSorted() const { return sorted_; }
  void SetSorted(bool on);
  ui::TDuplicates Duplicates = ui::dupIgnore;
  bool GetCaseSensitive() const { return caseSensitive_; }
  void SetCaseSensitive(bool on);
  ui::TNotifyEvent OnChange;
  ui::TNotifyEvent OnChanging;

 protected:
  virtual void NotifyChanged();
  virtual void NotifyChanging();
  virtual void InsertEntry(int index, const std::wstring& s, ui::TObject* object);

 private:
  void CheckIndex(int index) const;
  void QuickSort(int left, int right, const std::function<int(TVelStringList*, int, int)>& compare);
  void SwapEntries(int a, int b);

  bool updating_ = false;
  std::vector<TWideStringItem> items_;  // capacity_ entries
  int count_ = 0;
  int capacity_ = 0;
  bool sorted_ = false;
  bool caseSensitive_ = false;
};

// ---- wide companions of components ----------------------------------------------------------

class TWideComponentHelper;

// The wide companions of components, sorted by the address of the component each serves, at most
// one per component. It owns them: what is still registered goes with the registry.
class TWideComponentHelperList {
 public:
  TWideComponentHelperList() = default;
  ~TWideComponentHelperList();
  TWideComponentHelperList(const TWideComponentHelperList&) = delete;
  TWideComponentHelperList& operator=(const TWideComponentHelperList&) = delete;
  int Count() const { return static_cast<int>(items_.size()); }

 private:
  friend class TWideComponentHelper;
  friend TWideComponentHelper* FindWideComponentHelperIndex(const TWideComponentHelperList* registry,
                                                            const ui::TComponent* component);
  std::vector<TWideComponentHelper*> items_;
};

// The companion that serves `component`, or null.
TWideComponentHelper* FindWideComponentHelperIndex(const TWideComponentHelperList* registry,
                                                   const ui::TComponent* component);

// Keeps wide values beside the 8-bit ones of a component the layer cannot change. It is made only
// for a component and a registry (there is no plain component constructor), and frees itself, leaving
// the registry, when its component is freed.
class TWideComponentHelper : public ui::TComponent {
  UI_DECLARE_CLASS(TWideComponentHelper, ui::TComponent)
 public:
  TWideComponentHelper(ui::TComponent* component, TWideComponentHelperList* registry);
  void BeforeDestruction() override;
  ui::TComponent* Component() const { return component_; }

 protected:
  void Notification(ui::TComponent* c, ui::TOperation op) override;

 private:
  ui::TComponent* component_;
  TWideComponentHelperList* registry_;
};

// ---- the synchronisation rule ---------------------------------------------------------------
//
// A stored wide value is valid while its ANSI form equals the 8-bit value the library holds.

// The stored value, replaced by the widened 8-bit value when the library's value moved away from it.
std::wstring SyncWideText(std::wstring& stored, const std::string& current);
// Stores `value` and gives the library its ANSI form through `setter`; when only the wide value
// changes (its ANSI form is what the library already holds), the setter first gets an empty string
// so that the library still sees a change.
void SetSyncedWideText(const std::wstring& value, std::wstring& stored, const std::string& current,
                       const std::function<void(const std::string&)>& setter);

// ---- wide properties in form files ----------------------------------------------------------
//
// Every published wide string or wide character property P of the layer's classes may also appear in
// a form file as PW and P_UTF7.

// PW (UTF-8 text as an 8-bit string) and P_UTF7 (UTF-7) of a wide string property: read and dropped
// (the property keeps its own value); never written.
class TVelWideStringPropertyFiler {
 public:
  TVelWideStringPropertyFiler(ui::TPersistent* instance, const ui::TPropInfo* prop) : instance_(instance), prop_(prop) {}
  void DefineProperties(ui::TFiler* filer);

 private:
  ui::TPersistent* instance_;
  const ui::TPropInfo* prop_;
};

// PW of a wide character property: read from an 8-bit (widened) or wide string of at most one
// character; written as a one-unit wide string when the property is stored and not at its default.
// P_UTF7: read as UTF-7, its first character (0 when empty); never written.
class TVelWideCharPropertyFiler {
 public:
  TVelWideCharPropertyFiler(ui::TPersistent* instance, const ui::TPropInfo* prop) : instance_(instance), prop_(prop) {}
  void DefineProperties(ui::TFiler* filer);

 private:
  bool HasData(ui::TFiler* filer) const;
  ui::TPersistent* instance_;
  const ui::TPropInfo* prop_;
};

// Called by the form-file property definition of every class of the layer, after the library's own.
void DefineWidePropertyFilers(ui::TFiler* filer, ui::TPersistent* instance);
