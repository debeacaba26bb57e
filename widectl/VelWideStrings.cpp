// Items are reached only through the virtual accessors, so every operation here works on any
// descendant's storage; bulk operations hold the update bracket through WideStringsUpdate.
#include "VelWideStrings.h"

#include <windows.h>

#include "VelClasses.h"
#include "VelSystem.h"
#include "VelWideStrUtils.h"

UI_IMPLEMENT_CLASS(TWideStrings, ui::TPersistent, nullptr, nullptr, nullptr, nullptr)

namespace {

int CompareWide(DWORD flags, const std::wstring& a, const std::wstring& b) {
  return CompareStringW(LOCALE_USER_DEFAULT, flags, a.data(), static_cast<int>(a.size()), b.data(),
                        static_cast<int>(b.size())) - CSTR_EQUAL;
}

}  // namespace

int WideCompareText(const std::wstring& a, const std::wstring& b) { return CompareWide(NORM_IGNORECASE, a, b); }
int WideCompareStr(const std::wstring& a, const std::wstring& b) { return CompareWide(0, a, b); }

ui::TObject* TWideStrings::GetObjectAt(int) const { return nullptr; }

std::wstring TWideStrings::GetWholeText() const {
  const int count = GetEntryCount();
  size_t length = 0;
  for (int i = 0; i < count; ++i) length += GetItemAt(i).size() + 2;
  std::wstring text;
  text.reserve(length);
  for (int i = 0; i < count; ++i) {
    text += GetItemAt(i);
    text += L"\r\n";
  }
  return text;
}

void TWideStrings::SetItemAt(int index, const std::wstring& s) {
  ui::TObject* object = GetObjectAt(index);
  Delete(index);
  InsertWithObject(index, s, object);
}

void TWideStrings::SetObjectAt(int, ui::TObject*) {}
void TWideStrings::SetItemCapacity(int) {}
void TWideStrings::SetUpdatingFlag(bool) {}

void TWideStrings::SetWholeText(const std::wstring& text) {
  WideStringsUpdate update(this);
  Clear();
  const wchar_t* p = text.c_str();  // the terminator stops the scan at the end as a zero would
  while (*p != 0) {
    const wchar_t* start = p;
    while (*p != 0 && *p != L'\n' && *p != L'\r' && *p != 0x2028) ++p;
    Add(std::wstring(start, p));
    if (*p == L'\r') ++p;
    if (*p == L'\n') ++p;
    if (*p == 0x2028) ++p;
  }
}

int TWideStrings::CompareItemTexts(const std::wstring& a, const std::wstring& b) const {
  return WideCompareText(a, b);
}

int TWideStrings::Add(const std::wstring& s) {
  const int index = GetEntryCount();
  Insert(index, s);
  return index;
}

int TWideStrings::AddWithObject(const std::wstring& s, ui::TObject* object) {
  const int index = Add(s);
  SetObjectAt(index, object);
  return index;
}

void TWideStrings::AddAllFrom(ui::TStrings* strings) {
  WideStringsUpdate update(this);
  for (int i = 0; i < strings->GetCount(); ++i) AddWithObject(AnsiToWide(strings->Get(i)), strings->GetObject(i));
}

void TWideStrings::AddAllFrom(TWideStrings* strings) {
  WideStringsUpdate update(this);
  for (int i = 0; i < strings->GetEntryCount(); ++i) AddWithObject(strings->GetItemAt(i), strings->GetObjectAt(i));
}

void TWideStrings::ExchangeItems(int a, int b) {
  WideStringsUpdate update(this);
  const std::wstring textA = GetItemAt(a);
  ui::TObject* objectA = GetObjectAt(a);
  SetItemAt(a, GetItemAt(b));
  SetObjectAt(a, GetObjectAt(b));
  SetItemAt(b, textA);
  SetObjectAt(b, objectA);
}

wchar_t* TWideStrings::GetTextBuffer() const { return WideStrDuplicate(GetWholeText().c_str()); }

int TWideStrings::IndexOf(const std::wstring& s) const {
  for (int i = 0; i < GetEntryCount(); ++i)
    if (CompareItemTexts(GetItemAt(i), s) == 0) return i;
  return -1;
}

int TWideStrings::IndexOfNamePart(const std::wstring& name) const {
  const wchar_t separator = NamePartSeparator();
  for (int i = 0; i < GetEntryCount(); ++i) {
    const std::wstring item = GetItemAt(i);
    const size_t at = item.find(separator);
    if (at != std::wstring::npos && CompareItemTexts(item.substr(0, at), name) == 0) return i;
  }
  return -1;
}

int TWideStrings::IndexOfObjectRef(ui::TObject* object) const {
  for (int i = 0; i < GetEntryCount(); ++i)
    if (GetObjectAt(i) == object) return i;
  return -1;
}

void TWideStrings::InsertWithObject(int index, const std::wstring& s, ui::TObject* object) {
  Insert(index, s);
  SetObjectAt(index, object);
}

void TWideStrings::LoadFromFile(const std::wstring& fileName) {
  TVelFileStream stream(fileName, ui::fmOpenRead | ui::fmShareDenyWrite);
  LoadFromStream(&stream);
}

void TWideStrings::LoadFromStream(ui::TStream* stream) {
  WideStringsUpdate update(this);
  SetWholeText(ReadRemainingUtf16(stream, false));
}

void TWideStrings::Move(int from, int to) {
  if (from == to) return;
  WideStringsUpdate update(this);
  const std::wstring s = GetItemAt(from);
  ui::TObject* object = GetObjectAt(from);
  Delete(from);
  InsertWithObject(to, s, object);
}

void TWideStrings::SaveToFile(const std::wstring& fileName) {
  TVelFileStream stream(fileName, vfmCreate);
  SaveToStream(&stream);
}

void TWideStrings::SaveToStream(ui::TStream* stream) { WriteUtf16(stream, GetWholeText()); }

void TWideStrings::SetTextBuffer(const wchar_t* text) { SetWholeText(text ? std::wstring(text) : std::wstring()); }

void TWideStrings::BeginChanges() {
  if (updateCount_++ == 0) SetUpdatingFlag(true);
}

void TWideStrings::EndChanges() {
  if (updateCount_ > 0 && --updateCount_ == 0) SetUpdatingFlag(false);
}

bool TWideStrings::EqualsList(const TWideStrings* other) const {
  if (!other || other->GetEntryCount() != GetEntryCount()) return false;
  for (int i = 0; i < GetEntryCount(); ++i)
    if (GetItemAt(i) != other->GetItemAt(i)) return false;
  return true;
}

void TWideStrings::RaiseListError(const wchar_t* message, int data) const {
  std::wstring text = message ? message : L"";
  const size_t at = text.find(L"%d");
  if (at != std::wstring::npos) text.replace(at, 2, std::to_wstring(data));
  throw ui::EStringListError(WideToAnsi(text));
}

wchar_t TWideStrings::GetSetting(uint8_t flag, wchar_t& value, wchar_t defaultValue) const {
  if (!(setFlags_ & flag)) {
    value = defaultValue;
    setFlags_ |= flag;
  }
  return value;
}

void TWideStrings::PutSetting(uint8_t flag, wchar_t& value, wchar_t c) {
  value = c;
  setFlags_ |= flag;
}

wchar_t TWideStrings::ItemDelimiter() const { return GetSetting(kDelimiterSet, delimiter_, L','); }
void TWideStrings::SetItemDelimiter(wchar_t c) { PutSetting(kDelimiterSet, delimiter_, c); }
wchar_t TWideStrings::QuoteCharacter() const { return GetSetting(kQuoteSet, quoteCharacter_, L'"'); }
void TWideStrings::SetQuoteCharacter(wchar_t c) { PutSetting(kQuoteSet, quoteCharacter_, c); }
wchar_t TWideStrings::NamePartSeparator() const { return GetSetting(kSeparatorSet, namePartSeparator_, L'='); }
void TWideStrings::SetNamePartSeparator(wchar_t c) { PutSetting(kSeparatorSet, namePartSeparator_, c); }

void TWideStrings::Assign(ui::TPersistent* source) {
  if (auto* wide = ui::As<TWideStrings>(source)) {
    WideStringsUpdate update(this);
    Clear();
    setFlags_ = wide->setFlags_;
    delimiter_ = wide->delimiter_;
    quoteCharacter_ = wide->quoteCharacter_;
    namePartSeparator_ = wide->namePartSeparator_;
    AddAllFrom(wide);
    return;
  }
  if (auto* ansi = ui::As<ui::TStrings>(source)) {
    WideStringsUpdate update(this);
    Clear();
    // The library's characters are bytes: their codes carry over unchanged, the set flags stay.
    namePartSeparator_ = static_cast<unsigned char>(ansi->NameValueSeparator);
    quoteCharacter_ = static_cast<unsigned char>(ansi->QuoteChar);
    delimiter_ = static_cast<unsigned char>(ansi->Delimiter);
    AddAllFrom(ansi);
    return;
  }
  if (!source) inherited::AssignTo(this);  // the library's cannot-assign error, without asking ourselves
  inherited::Assign(source);
}

void TWideStrings::AssignTo(ui::TPersistent* dest) {
  if (auto* wide = ui::As<TWideStrings>(dest)) {
    wide->Assign(this);
    return;
  }
  if (auto* ansi = ui::As<ui::TStrings>(dest)) {
    ansi->BeginUpdate();
    try {
      ansi->Clear();
      ansi->NameValueSeparator = static_cast<char>(NamePartSeparator() & 0xFF);
      ansi->QuoteChar = static_cast<char>(QuoteCharacter() & 0xFF);
      ansi->Delimiter = static_cast<char>(ItemDelimiter() & 0xFF);
      for (int i = 0; i < GetEntryCount(); ++i) ansi->AddObject(WideToAnsi(GetItemAt(i)), GetObjectAt(i));
    } catch (...) {
      ansi->EndUpdate();
      throw;
    }
    ansi->EndUpdate();
    return;
  }
  inherited::AssignTo(dest);
}

// ---- form files -----------------------------------------------------------------------------

void ReadWideStringsValue(ui::TReader* reader, TWideStrings* list) {
  switch (reader->NextValue()) {
    case ui::vaString:
    case ui::vaLString:
      list->SetWholeText(AnsiToWide(reader->ReadString()));
      return;
    case ui::vaWString:
    case ui::vaUTF8String:
      list->SetWholeText(reader->ReadWideString());
      return;
    default:
      break;
  }
  WideStringsUpdate update(list);
  reader->ReadListBegin();
  list->Clear();
  while (!reader->EndOfList()) {
    const ui::TValueType t = reader->NextValue();
    list->Add(t == ui::vaString || t == ui::vaLString ? AnsiToWide(reader->ReadString()) : reader->ReadWideString());
  }
  reader->ReadListEnd();
}

void TWideStrings::DefineProperties(ui::TFiler* filer) {
  inherited::DefineProperties(filer);
  bool hasData = Count() > 0;
  if (filer->Ancestor) {
    auto* ancestor = ui::As<TWideStrings>(filer->Ancestor);
    hasData = !ancestor || !EqualsList(ancestor);
  }
  filer->DefineProperty(
      "Strings", [this](ui::TReader* reader) { ReadWideStringsValue(reader, this); },
      [this](ui::TWriter* writer) {
        writer->WriteListBegin();
        for (int i = 0; i < Count(); ++i) writer->WriteWideString(GetItemAt(i));
        writer->WriteListEnd();
      },
      hasData);
}
