// The 8-bit view converts item by item, so the library's own text, load and save operations on it
// convert every item with the view's code page. Files carry their character set in a byte-order
// mark; stream sizes are checked in 64 bits before anything is allocated.
#include "VelClasses.h"

#include <algorithm>
#include <utility>

#include "VelSysUtils.h"
#include "VelSystem.h"

UI_IMPLEMENT_CLASS(TVelFileStream, ui::THandleStream, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TAnsiStrings, ui::TStrings, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TAnsiStringsForWideStringsAdapter, TAnsiStrings, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TVelStrings, TWideStrings, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TVelStringList, TVelStrings, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TWideComponentHelper, ui::TComponent, nullptr, nullptr, nullptr, nullptr)

namespace {

// A text read in one piece must fit the streams' 32-bit counts.
constexpr int64_t kMaxTextBytes = 0x7FFFFFFE;

std::string ReadRemainingBytes(ui::TStream* stream) {
  const int64_t remaining = stream->GetSize() - stream->GetPosition();
  if (remaining <= 0) return std::string();
  if (remaining > kMaxTextBytes) throw ui::EReadError(ui::SReadError);
  std::string bytes(static_cast<size_t>(remaining), '\0');
  stream->ReadBuffer(&bytes[0], static_cast<int32_t>(remaining));
  return bytes;
}

std::wstring FileErrorText(const char* format, const std::wstring& fileName, DWORD error) {
  // The library's message is 8-bit ASCII text with two %s; the wide parts go in as they are.
  std::wstring text = AnsiToWide(format);
  const std::wstring parts[2] = {WideExpandFileName(fileName), WideSysErrorMessage(error)};
  size_t from = 0;
  for (const std::wstring& part : parts) {
    const size_t at = text.find(L"%s", from);
    if (at == std::wstring::npos) break;
    text.replace(at, 2, part);
    from = at + part.size();
  }
  return text;
}

}  // namespace

// ---- TVelFileStream -------------------------------------------------------------------------

static HANDLE OpenVelFile(const std::wstring& fileName, uint16_t mode) {
  // The library's own create mode (0xFF00) creates too: its low bits would otherwise read as "open
  // for reading" and quietly leave an existing file as it was.
  const bool create = (mode & ui::fmCreate) == ui::fmCreate;
  HANDLE h = create ? WideFileCreate(fileName) : WideFileOpen(fileName, mode);
  if (h != INVALID_HANDLE_VALUE) return h;
  const DWORD error = GetLastError();
  if (create) throw EWideFCreateError(FileErrorText(ui::SFCreateError, fileName, error));
  throw EWideFOpenError(FileErrorText(ui::SFOpenError, fileName, error));
}

TVelFileStream::TVelFileStream(const std::wstring& fileName, uint16_t mode)
    : ui::THandleStream(OpenVelFile(fileName, mode)) {}

TVelFileStream::~TVelFileStream() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
}

// ---- text in streams ------------------------------------------------------------------------

TWideTextCharSet DetectStreamCharSet(ui::TStream* stream) {
  const int64_t remaining = stream->GetSize() - stream->GetPosition();
  unsigned char mark[3] = {};
  if (remaining >= 2) {
    stream->ReadBuffer(mark, 2);
    if (mark[0] == 0xFF && mark[1] == 0xFE) return wtcUtf16LE;
    if (mark[0] == 0xFE && mark[1] == 0xFF) return wtcUtf16BE;
    stream->Seek(-2, ui::soCurrent);
  }
  if (remaining >= 3) {
    stream->ReadBuffer(mark, 3);
    if (mark[0] == 0xEF && mark[1] == 0xBB && mark[2] == 0xBF) return wtcUtf8;
    stream->Seek(-3, ui::soCurrent);
  }
  return wtcAnsi;
}

std::wstring ReadRemainingUtf16(ui::TStream* stream, bool bigEndian) {
  const std::string bytes = ReadRemainingBytes(stream);
  std::wstring text(bytes.size() / 2, L'\0');
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char first = static_cast<unsigned char>(bytes[2 * i]);
    const unsigned char second = static_cast<unsigned char>(bytes[2 * i + 1]);
    text[i] = static_cast<wchar_t>(bigEndian ? (first << 8) | second : (second << 8) | first);
  }
  return text;
}

void WriteUtf16(ui::TStream* stream, const std::wstring& text) {
  if (text.size() > static_cast<size_t>(kMaxTextBytes / 2)) throw ui::EWriteError(ui::SWriteError);
  std::string bytes(text.size() * 2, '\0');
  for (size_t i = 0; i < text.size(); ++i) {
    bytes[2 * i] = static_cast<char>(text[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<char>((text[i] >> 8) & 0xFF);
  }
  if (!bytes.empty()) stream->WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
}

// ---- TAnsiStringsForWideStringsAdapter ------------------------------------------------------

UINT TAnsiStringsForWideStringsAdapter::EffectiveCodePage() const {
  return codePage_ ? codePage_ : DefaultAnsiCodePage;
}

std::string TAnsiStringsForWideStringsAdapter::Get(int index) const {
  return WideToCodePage(list_->GetItemAt(index), EffectiveCodePage());
}
int TAnsiStringsForWideStringsAdapter::GetCount() const { return list_->GetEntryCount(); }
ui::TObject* TAnsiStringsForWideStringsAdapter::GetObject(int index) const { return list_->GetObjectAt(index); }
void TAnsiStringsForWideStringsAdapter::Put(int index, const std::string& s) {
  list_->SetItemAt(index, CodePageToWide(s, EffectiveCodePage()));
}
void TAnsiStringsForWideStringsAdapter::PutObject(int index, ui::TObject* obj) { list_->SetObjectAt(index, obj); }
void TAnsiStringsForWideStringsAdapter::Insert(int index, const std::string& s) {
  list_->Insert(index, CodePageToWide(s, EffectiveCodePage()));
}
void TAnsiStringsForWideStringsAdapter::Delete(int index) { list_->Delete(index); }
void TAnsiStringsForWideStringsAdapter::Clear() { list_->Clear(); }
void TAnsiStringsForWideStringsAdapter::SetUpdateState(bool updating) { list_->SetUpdatingFlag(updating); }

void TAnsiStringsForWideStringsAdapter::LoadFromStreamInCodePage(ui::TStream* stream, UINT codePage) {
  BeginUpdate();
  try {
    list_->SetWholeText(CodePageToWide(ReadRemainingBytes(stream), codePage));
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TAnsiStringsForWideStringsAdapter::SaveToStreamInCodePage(ui::TStream* stream, UINT codePage) {
  const std::string text = WideToCodePage(list_->GetWholeText(), codePage);
  if (text.size() > static_cast<size_t>(kMaxTextBytes)) throw ui::EWriteError(ui::SWriteError);
  if (!text.empty()) stream->WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
}

// ---- TVelStrings ----------------------------------------------------------------------------

TVelStrings::TVelStrings() : ansiStrings_(new TAnsiStringsForWideStringsAdapter(this)) {}

TVelStrings::~TVelStrings() { delete ansiStrings_; }

void TVelStrings::SetAnsiStrings(ui::TStrings* strings) { ansiStrings_->Assign(strings); }

void TVelStrings::LoadFromFile(const std::wstring& fileName) {
  TVelFileStream stream(fileName, ui::fmOpenRead | ui::fmShareDenyWrite);
  LoadedFileCharSet = DetectStreamCharSet(&stream);
  stream.SetPosition(0);
  LoadFromStream(&stream);
}

void TVelStrings::LoadFromStream(ui::TStream* stream) { LoadFromStreamWithMark(stream, true); }

void TVelStrings::SaveToFile(const std::wstring& fileName) {
  TVelFileStream stream(fileName, vfmCreate);
  SaveToStream(&stream);
}

void TVelStrings::SaveToStream(ui::TStream* stream) { SaveToStreamWithMark(stream, true); }

void TVelStrings::LoadFromStreamWithMark(ui::TStream* stream, bool detectMark) {
  WideStringsUpdate update(this);
  const TWideTextCharSet charSet = detectMark ? DetectStreamCharSet(stream) : wtcUtf16LE;
  std::wstring text;
  switch (charSet) {
    case wtcUtf16LE:
    case wtcUtf16BE:
      text = ReadRemainingUtf16(stream, charSet == wtcUtf16BE);
      break;
    case wtcUtf8:
      text = Utf8ToWide(ReadRemainingBytes(stream));
      break;
    case wtcAnsi:
      text = CodePageToWide(ReadRemainingBytes(stream), CP_ACP);
      break;
  }
  SetWholeText(text);
}

void TVelStrings::SaveToStreamWithMark(ui::TStream* stream, bool writeMark) {
  if (writeMark) {
    static const unsigned char kMark[2] = {0xFF, 0xFE};
    stream->WriteBuffer(kMark, 2);
  }
  WriteUtf16(stream, GetWholeText());
}

// ---- TVelStringList -------------------------------------------------------------------------

TVelStringList::~TVelStringList() {
  // Nothing is notified while the list goes.
  OnChange = ui::TNotifyEvent();
  OnChanging = ui::TNotifyEvent();
}

void TVelStringList::CheckIndex(int index) const {
  if (index < 0 || index >= count_) throw ui::EStringListError(ui::Format(ui::SListIndexError, index));
}

std::wstring TVelStringList::GetItemAt(int index) const {
  CheckIndex(index);
  return items_[static_cast<size_t>(index)].String;
}

ui::TObject* TVelStringList::GetObjectAt(int index) const {
  CheckIndex(index);
  return items_[static_cast<size_t>(index)].Object;
}

void TVelStringList::SetItemAt(int index, const std::wstring& s) {
  if (sorted_) throw ui::EStringListError(ui::SSortedListError);
  CheckIndex(index);
  NotifyChanging();
  items_[static_cast<size_t>(index)].String = s;
  NotifyChanged();
}

void TVelStringList::SetObjectAt(int index, ui::TObject* object) {
  CheckIndex(index);
  NotifyChanging();
  items_[static_cast<size_t>(index)].Object = object;
  NotifyChanged();
}

void TVelStringList::SetItemCapacity(int count) {
  if (count < count_) count = count_;
  items_.resize(static_cast<size_t>(count));
  items_.shrink_to_fit();
  capacity_ = count;
}

void TVelStringList::SetUpdatingFlag(bool updating) {
  // The changing event goes out before the bracket closes the notifications, the change event
  // after it opens them again: one of each per outermost bracket.
  if (updating) {
    NotifyChanging();
    updating_ = true;
  } else {
    updating_ = false;
    NotifyChanged();
  }
}

int TVelStringList::CompareItemTexts(const std::wstring& a, const std::wstring& b) const {
  return caseSensitive_ ? WideCompareStr(a, b) : WideCompareText(a, b);
}

int TVelStringList::Add(const std::wstring& s) { return AddWithObject(s, nullptr); }

int TVelStringList::AddWithObject(const std::wstring& s, ui::TObject* object) {
  int index = count_;
  if (sorted_ && FindSorted(s, index)) {
    if (Duplicates == ui::dupIgnore) return index;
    if (Duplicates == ui::dupError) throw ui::EStringListError(ui::SDuplicateString);
  }
  InsertEntry(index, s, object);
  return index;
}

void TVelStringList::InsertEntry(int index, const std::wstring& s, ui::TObject* object) {
  NotifyChanging();
  if (count_ == capacity_) {
    const int growth = capacity_ > 64 ? capacity_ / 4 : capacity_ > 8 ? 16 : 4;
    SetItemCapacity(capacity_ + growth);
  }
  for (int i = count_; i > index; --i) items_[static_cast<size_t>(i)] = std::move(items_[static_cast<size_t>(i - 1)]);
  items_[static_cast<size_t>(index)] = TWideStringItem{s, object};
  ++count_;
  NotifyChanged();
}

void TVelStringList::Insert(int index, const std::wstring& s) { InsertWithObject(index, s, nullptr); }

void TVelStringList::InsertWithObject(int index, const std::wstring& s, ui::TObject* object) {
  if (sorted_) throw ui::EStringListError(ui::SSortedListError);
  if (index < 0 || index > count_) throw ui::EStringListError(ui::Format(ui::SListIndexError, index));
  InsertEntry(index, s, object);
}

void TVelStringList::Delete(int index) {
  CheckIndex(index);
  NotifyChanging();
  for (int i = index; i + 1 < count_; ++i) items_[static_cast<size_t>(i)] = std::move(items_[static_cast<size_t>(i + 1)]);
  --count_;
  items_[static_cast<size_t>(count_)] = TWideStringItem{};
  NotifyChanged();
}

void TVelStringList::Clear() {
  if (count_ == 0) return;
  NotifyChanging();
  std::vector<TWideStringItem>().swap(items_);
  count_ = 0;
  capacity_ = 0;
  NotifyChanged();
}

void TVelStringList::SwapEntries(int a, int b) {
  std::swap(items_[static_cast<size_t>(a)], items_[static_cast<size_t>(b)]);
}

void TVelStringList::ExchangeItems(int a, int b) {
  CheckIndex(a);
  CheckIndex(b);
  NotifyChanging();
  SwapEntries(a, b);
  NotifyChanged();
}

bool TVelStringList::FindSorted(const std::wstring& s, int& index) const {
  bool found = false;
  int low = 0, high = count_ - 1;
  while (low <= high) {
    const int i = static_cast<int>((static_cast<unsigned>(low) + static_cast<unsigned>(high)) >> 1);
    const int c = CompareItemTexts(items_[static_cast<size_t>(i)].String, s);
    if (c < 0) {
      low = i + 1;
    } else {
      high = i - 1;
      if (c == 0) {
        found = true;
        if (Duplicates != ui::dupAccept) low = i;
      }
    }
  }
  index = low;
  return found;
}

int TVelStringList::IndexOf(const std::wstring& s) const {
  if (!sorted_) return TVelStrings::IndexOf(s);
  int index;
  return FindSorted(s, index) ? index : -1;
}

int TVelStringList::IndexOfNamePart(const std::wstring& name) const {
  if (!sorted_) return TVelStrings::IndexOfNamePart(name);
  const std::wstring key = name + NamePartSeparator();
  int index;
  FindSorted(key, index);
  if (index < count_ && CompareItemTexts(items_[static_cast<size_t>(index)].String.substr(0, key.size()), key) == 0)
    return index;
  return -1;
}

void TVelStringList::SortItems() {
  SortWithComparer([](TVelStringList* list, int a, int b) {
    return list->CompareItemTexts(list->items_[static_cast<size_t>(a)].String, list->items_[static_cast<size_t>(b)].String);
  });
}

void TVelStringList::SortWithComparer(const std::function<int(TVelStringList*, int, int)>& compare) {
  if (sorted_ || count_ <= 1) return;
  NotifyChanging();
  QuickSort(0, count_ - 1, compare);
  NotifyChanged();
}

void TVelStringList::QuickSort(int left, int right, const std::function<int(TVelStringList*, int, int)>& compare) {
  do {
    int i = left, j = right;
    int pivot = static_cast<int>((static_cast<unsigned>(left) + static_cast<unsigned>(right)) >> 1);
    do {
      while (compare(this, i, pivot) < 0) ++i;
      while (compare(this, j, pivot) > 0) --j;
      if (i <= j) {
        SwapEntries(i, j);
        if (pivot == i)
          pivot = j;
        else if (pivot == j)
          pivot = i;
        ++i;
        --j;
      }
    } while (i <= j);
    if (left < j) QuickSort(left, j, compare);
    left = i;
  } while (left < right);
}

void TVelStringList::SetSorted(bool on) {
  if (on == sorted_) return;
  if (on) SortItems();
  sorted_ = on;
}

void TVelStringList::SetCaseSensitive(bool on) {
  if (on == caseSensitive_) return;
  caseSensitive_ = on;
  if (sorted_) {
    sorted_ = false;
    SortItems();
    sorted_ = true;
  }
}

void TVelStringList::NotifyChanged() {
  if (!updating_ && OnChange) OnChange(this);
}

void TVelStringList::NotifyChanging() {
  if (!updating_ && OnChanging) OnChanging(this);
}

// ---- wide companions ------------------------------------------------------------------------

namespace {
bool ServesBefore(const TWideComponentHelper* h, const ui::TComponent* c) { return h->Component() < c; }
}  // namespace

TWideComponentHelperList::~TWideComponentHelperList() {
  // Each companion leaves the list as it goes.
  while (!items_.empty()) items_.back()->Free();
}

TWideComponentHelper* FindWideComponentHelperIndex(const TWideComponentHelperList* registry,
                                                   const ui::TComponent* component) {
  if (!registry) return nullptr;
  auto it = std::lower_bound(registry->items_.begin(), registry->items_.end(), component, ServesBefore);
  return it != registry->items_.end() && (*it)->Component() == component ? *it : nullptr;
}

TWideComponentHelper::TWideComponentHelper(ui::TComponent* component, TWideComponentHelperList* registry)
    : component_(component), registry_(registry) {
  ui::TComponent::Create(nullptr);
  FreeNotification(component);
  auto& items = registry->items_;
  items.insert(std::lower_bound(items.begin(), items.end(), component, ServesBefore), this);
}

void TWideComponentHelper::BeforeDestruction() {
  if (registry_) {
    auto& items = registry_->items_;
    auto it = std::find(items.begin(), items.end(), this);
    if (it != items.end()) items.erase(it);
    registry_ = nullptr;
  }
  inherited::BeforeDestruction();
}

void TWideComponentHelper::Notification(ui::TComponent* c, ui::TOperation op) {
  inherited::Notification(c, op);
  if (op == ui::opRemove && c == component_) {
    component_ = nullptr;
    Free();
  }
}

// ---- the synchronisation rule ---------------------------------------------------------------

std::wstring SyncWideText(std::wstring& stored, const std::string& current) {
  if (WideToAnsi(stored) != current) stored = AnsiToWide(current);
  return stored;
}

void SetSyncedWideText(const std::wstring& value, std::wstring& stored, const std::string& current,
                       const std::function<void(const std::string&)>& setter) {
  if (value == SyncWideText(stored, current)) return;
  const std::string ansi = WideToAnsi(value);
  if (AnsiToWide(ansi) != value && current == ansi) setter(std::string());
  stored = value;
  setter(ansi);
}

// ---- wide properties in form files ----------------------------------------------------------

void TVelStrings::DefineProperties(ui::TFiler* filer) {
  inherited::DefineProperties(filer);
  filer->DefineProperty("WideStrings", [this](ui::TReader* reader) { ReadWideStringsValue(reader, this); }, nullptr,
                        false);
  filer->DefineProperty(
      "WideStringsW",
      [this](ui::TReader* reader) {
        // Older files carry the items a second time as UTF-8; "Strings" wins when it filled the list.
        const bool take = Count() == 0;
        std::vector<std::wstring> items;
        reader->ReadListBegin();
        while (!reader->EndOfList()) items.push_back(Utf8ToWide(reader->ReadString()));
        reader->ReadListEnd();
        if (!take) return;
        WideStringsUpdate update(this);
        Clear();
        for (const std::wstring& item : items) Add(item);
      },
      nullptr, false);
  filer->DefineProperty(
      "WideStrings_UTF7",
      [](ui::TReader* reader) {
        reader->ReadListBegin();
        while (!reader->EndOfList()) reader->ReadString();
        reader->ReadListEnd();
      },
      nullptr, false);
}

void TVelWideStringPropertyFiler::DefineProperties(ui::TFiler* filer) {
  auto drop = [](ui::TReader* reader) { reader->ReadString(); };
  filer->DefineProperty(prop_->Name + "W", drop, nullptr, false);
  filer->DefineProperty(prop_->Name + "_UTF7", drop, nullptr, false);
}

bool TVelWideCharPropertyFiler::HasData(ui::TFiler* filer) const {
  const ui::TPropInfo& p = *prop_;
  if (!p.GetOrd || !p.SetOrd || !p.IsStored(instance_)) return false;
  const int64_t value = p.GetOrd(instance_);
  if (filer->Ancestor) {
    const ui::TPropInfo* same = filer->Ancestor->ClassType()->FindProp(p.Name);
    if (same && same->Kind == p.Kind && same->GetOrd && same->GetOrd(filer->Ancestor) == value) return false;
  }
  // The library's filers carry no root ancestor, so the declared default is the default.
  if (filer->Is<ui::TWriter>() && p.HasDefault && value == p.Default) return false;
  return true;
}

void TVelWideCharPropertyFiler::DefineProperties(ui::TFiler* filer) {
  ui::TPersistent* instance = instance_;
  const ui::TPropInfo* prop = prop_;
  filer->DefineProperty(
      prop->Name + "W",
      [instance, prop](ui::TReader* reader) {
        std::wstring text;
        switch (reader->NextValue()) {
          case ui::vaString:
            text = AnsiToWide(reader->ReadString());
            break;
          case ui::vaWString:
            text = reader->ReadWideString();
            break;
          default:
            throw ui::EReadError(ui::SInvalidPropertyValue);
        }
        if (text.size() > 1) throw ui::EReadError(ui::SInvalidPropertyValue);
        if (prop->SetOrd) prop->SetOrd(instance, text.empty() ? 0 : static_cast<uint16_t>(text[0]));
      },
      [instance, prop](ui::TWriter* writer) {
        writer->WriteWideString(std::wstring(1, static_cast<wchar_t>(prop->GetOrd(instance))));
      },
      HasData(filer));
  filer->DefineProperty(
      prop->Name + "_UTF7",
      [instance, prop](ui::TReader* reader) {
        const std::wstring text = Utf7ToWide(reader->ReadString());
        if (prop->SetOrd) prop->SetOrd(instance, text.empty() ? 0 : static_cast<uint16_t>(text[0]));
      },
      nullptr, false);
}

void DefineWidePropertyFilers(ui::TFiler* filer, ui::TPersistent* instance) {
  for (const ui::TPropInfo* p : instance->ClassType()->AllProps()) {
    if (p->Kind == ui::TTypeKind::WString)
      TVelWideStringPropertyFiler(instance, p).DefineProperties(filer);
    else if (p->Kind == ui::TTypeKind::WChar)
      TVelWideCharPropertyFiler(instance, p).DefineProperties(filer);
  }
}
