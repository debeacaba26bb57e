#include "uistrings.h"

#include <algorithm>
#include <cstring>

#include "uifiler.h"

namespace ui {

UI_IMPLEMENT_CLASS(TStrings, TPersistent, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TStringList, TStrings, DefaultFactory<TStringList>, nullptr, nullptr, nullptr)

// ---- TStrings ----

void TStrings::Error(const char* fmt, int index) const { throw EStringListError(Format(fmt, index)); }

TObject* TStrings::GetObject(int) const { return nullptr; }

void TStrings::Put(int index, const std::string& s) {
  TObject* obj = GetObject(index);
  Delete(index);
  InsertObject(index, s, obj);
}

void TStrings::PutObject(int, TObject*) {}

int TStrings::Add(const std::string& s) {
  int i = GetCount();
  Insert(i, s);
  return i;
}

int TStrings::AddObject(const std::string& s, TObject* obj) {
  int i = Add(s);
  PutObject(i, obj);
  return i;
}

void TStrings::InsertObject(int index, const std::string& s, TObject* obj) {
  Insert(index, s);
  PutObject(index, obj);
}

int TStrings::IndexOf(const std::string& s) const {
  for (int i = 0; i < GetCount(); ++i)
    if (SameText(Get(i), s)) return i;
  return -1;
}

int TStrings::IndexOfObject(TObject* obj) const {
  for (int i = 0; i < GetCount(); ++i)
    if (GetObject(i) == obj) return i;
  return -1;
}

void TStrings::Exchange(int a, int b) {
  BeginUpdate();
  try {
    std::string sa = Get(a), sb = Get(b);
    TObject *oa = GetObject(a), *ob = GetObject(b);
    Put(a, sb);
    PutObject(a, ob);
    Put(b, sa);
    PutObject(b, oa);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TStrings::Move(int from, int to) {
  if (from == to) return;
  BeginUpdate();
  try {
    std::string s = Get(from);
    TObject* o = GetObject(from);
    Delete(from);
    InsertObject(to, s, o);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TStrings::AddStrings(TStrings* other) {
  BeginUpdate();
  try {
    for (int i = 0; i < other->GetCount(); ++i) AddObject(other->Get(i), other->GetObject(i));
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

std::string TStrings::Names(int index) const {
  std::string s = Get(index);
  size_t p = s.find(NameValueSeparator);
  return p == std::string::npos ? std::string() : s.substr(0, p);
}

std::string TStrings::ValueFromIndex(int index) const {
  std::string s = Get(index);
  size_t p = s.find(NameValueSeparator);
  return p == std::string::npos ? std::string() : s.substr(p + 1);
}

int TStrings::IndexOfName(const std::string& name) const {
  for (int i = 0; i < GetCount(); ++i) {
    std::string s = Get(i);
    size_t p = s.find(NameValueSeparator);
    if (p != std::string::npos && SameText(s.substr(0, p), name)) return i;
  }
  return -1;
}

std::string TStrings::Values(const std::string& name) const {
  int i = IndexOfName(name);
  return i < 0 ? std::string() : ValueFromIndex(i);
}

void TStrings::SetValue(const std::string& name, const std::string& value) {
  int i = IndexOfName(name);
  if (value.empty()) {
    if (i >= 0) Delete(i);
    return;
  }
  std::string line = name + NameValueSeparator + value;
  if (i < 0)
    Add(line);
  else
    Put(i, line);
}

std::string TStrings::GetTextStr() const {
  std::string out;
  for (int i = 0; i < GetCount(); ++i) {
    out += Get(i);
    out += "\r\n";
  }
  return out;
}

void TStrings::SetTextStr(const std::string& s) {
  BeginUpdate();
  try {
    Clear();
    size_t i = 0;
    while (i < s.size()) {
      size_t j = i;
      while (j < s.size() && s[j] != '\r' && s[j] != '\n') ++j;
      Add(s.substr(i, j - i));
      if (j < s.size() && s[j] == '\r') ++j;
      if (j < s.size() && s[j] == '\n') ++j;
      i = j;
    }
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

std::string TStrings::DelimitedText() const {
  std::string out;
  for (int i = 0; i < GetCount(); ++i) {
    std::string s = Get(i);
    bool quote = s.empty() && GetCount() > 1;
    for (char c : s)
      if (static_cast<unsigned char>(c) <= ' ' || c == Delimiter || c == QuoteChar) quote = true;
    if (i) out += Delimiter;
    if (!quote) {
      out += s;
      continue;
    }
    out += QuoteChar;
    for (char c : s) {
      if (c == QuoteChar) out += QuoteChar;
      out += c;
    }
    out += QuoteChar;
  }
  return out;
}

void TStrings::SetDelimitedText(const std::string& s) {
  BeginUpdate();
  try {
    Clear();
    size_t i = 0;
    auto skipSpace = [&] {
      while (i < s.size() && static_cast<unsigned char>(s[i]) <= ' ' && s[i] != 0) ++i;
    };
    skipSpace();
    while (i < s.size()) {
      std::string item;
      if (s[i] == QuoteChar) {
        ++i;
        while (i < s.size()) {
          if (s[i] == QuoteChar) {
            if (i + 1 < s.size() && s[i + 1] == QuoteChar) {
              item += QuoteChar;
              i += 2;
              continue;
            }
            ++i;
            break;
          }
          item += s[i++];
        }
      } else {
        while (i < s.size() && static_cast<unsigned char>(s[i]) > ' ' && s[i] != Delimiter) item += s[i++];
      }
      Add(item);
      skipSpace();
      if (i < s.size() && s[i] == Delimiter) {
        ++i;
        skipSpace();
        if (i >= s.size()) Add(std::string());
      }
    }
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

std::string TStrings::CommaText() const {
  TStrings* self = const_cast<TStrings*>(this);
  char d = Delimiter, q = QuoteChar;
  self->Delimiter = ',';
  self->QuoteChar = '"';
  std::string s = DelimitedText();
  self->Delimiter = d;
  self->QuoteChar = q;
  return s;
}

void TStrings::SetCommaText(const std::string& s) {
  char d = Delimiter, q = QuoteChar;
  Delimiter = ',';
  QuoteChar = '"';
  try {
    SetDelimitedText(s);
  } catch (...) {
    Delimiter = d;
    QuoteChar = q;
    throw;
  }
  Delimiter = d;
  QuoteChar = q;
}

bool TStrings::Equals(const TStrings* other) const {
  if (!other || other->GetCount() != GetCount()) return false;
  for (int i = 0; i < GetCount(); ++i)
    if (Get(i) != other->Get(i)) return false;
  return true;
}

void TStrings::BeginUpdate() {
  if (updateCount_++ == 0) SetUpdateState(true);
}

void TStrings::EndUpdate() {
  if (updateCount_ > 0 && --updateCount_ == 0) SetUpdateState(false);
}

void TStrings::LoadFromStream(TStream* s) {
  int64_t size = s->GetSize() - s->GetPosition();
  if (size < 0 || size > 0x7FFFFFFF) throw EReadError(SReadError);
  std::string text(static_cast<size_t>(size), '\0');
  if (size) s->ReadBuffer(&text[0], static_cast<int32_t>(size));
  SetTextStr(text);
}

void TStrings::SaveToStream(TStream* s) {
  std::string text = GetTextStr();
  s->WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
}

void TStrings::LoadFromFile(const std::string& fileName) {
  TFileStream f(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(&f);
}

void TStrings::SaveToFile(const std::string& fileName) {
  TFileStream f(fileName, fmCreate);
  SaveToStream(&f);
}

void TStrings::Assign(TPersistent* source) {
  if (auto* src = As<TStrings>(source)) {
    BeginUpdate();
    try {
      Clear();
      Delimiter = src->Delimiter;
      QuoteChar = src->QuoteChar;
      NameValueSeparator = src->NameValueSeparator;
      AddStrings(src);
    } catch (...) {
      EndUpdate();
      throw;
    }
    EndUpdate();
    return;
  }
  TPersistent::Assign(source);
}

void TStrings::DefineProperties(TFiler* filer) {
  bool hasData;
  if (auto* anc = As<TStrings>(filer->Ancestor))
    hasData = !Equals(anc);
  else
    hasData = GetCount() > 0;
  filer->DefineProperty(
      "Strings",
      [this](TReader* r) {
        r->ReadListBegin();
        BeginUpdate();
        try {
          Clear();
          while (!r->EndOfList()) Add(r->ReadString());
        } catch (...) {
          EndUpdate();
          throw;
        }
        EndUpdate();
        r->ReadListEnd();
      },
      [this](TWriter* w) {
        w->WriteListBegin();
        for (int i = 0; i < GetCount(); ++i) w->WriteString(Get(i));
        w->WriteListEnd();
      },
      hasData);
}

// ---- TStringList ----

TStringList::~TStringList() {
  OnChange = nullptr;
  OnChanging = nullptr;
  if (OwnsObjects)
    for (auto& it : items_) delete it.obj;
}

void TStringList::Check(int i) const {
  if (i < 0 || i >= GetCount()) Error(SListIndexError, i);
}

void TStringList::Changing() {
  if (UpdateCount() == 0 && OnChanging) OnChanging(this);
}

void TStringList::Changed() {
  if (UpdateCount() == 0 && OnChange) OnChange(this);
}

void TStringList::SetUpdateState(bool updating) {
  if (updating)
    Changing();
  else
    Changed();
}

std::string TStringList::Get(int index) const {
  Check(index);
  return items_[static_cast<size_t>(index)].s;
}

TObject* TStringList::GetObject(int index) const {
  Check(index);
  return items_[static_cast<size_t>(index)].obj;
}

void TStringList::Put(int index, const std::string& s) {
  if (sorted_) Error(SSortedListError, 0);
  Check(index);
  Changing();
  items_[static_cast<size_t>(index)].s = s;
  Changed();
}

void TStringList::PutObject(int index, TObject* obj) {
  Check(index);
  Changing();
  items_[static_cast<size_t>(index)].obj = obj;
  Changed();
}

void TStringList::InsertItem(int index, const std::string& s, TObject* obj) {
  Changing();
  items_.insert(items_.begin() + index, Item{s, obj});
  Changed();
}

void TStringList::Insert(int index, const std::string& s) {
  if (sorted_) Error(SSortedListError, 0);
  if (index < 0 || index > GetCount()) Error(SListIndexError, index);
  InsertItem(index, s, nullptr);
}

int TStringList::Add(const std::string& s) { return AddObject(s, nullptr); }

int TStringList::AddObject(const std::string& s, TObject* obj) {
  int index = GetCount();
  if (sorted_ && Find(s, index)) {
    if (Duplicates == dupIgnore) return index;
    if (Duplicates == dupError) throw EStringListError(SDuplicateString);
  }
  InsertItem(index, s, obj);
  return index;
}

void TStringList::Delete(int index) {
  Check(index);
  Changing();
  TObject* obj = items_[static_cast<size_t>(index)].obj;
  items_.erase(items_.begin() + index);
  if (OwnsObjects) delete obj;
  Changed();
}

void TStringList::Clear() {
  if (items_.empty()) return;
  Changing();
  std::vector<Item> old;
  old.swap(items_);
  if (OwnsObjects)
    for (auto& it : old) delete it.obj;
  Changed();
}

void TStringList::Exchange(int a, int b) {
  Check(a);
  Check(b);
  Changing();
  std::swap(items_[static_cast<size_t>(a)], items_[static_cast<size_t>(b)]);
  Changed();
}

int TStringList::CompareStrings(const std::string& a, const std::string& b) const {
  // The user's locale order, as the system sorts text.
  int r = CompareStringA(LOCALE_USER_DEFAULT, caseSensitive_ ? 0 : NORM_IGNORECASE, a.data(),
                         static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()));
  return r - CSTR_EQUAL;
}

int TStringList::IndexOf(const std::string& s) const {
  if (!sorted_) {
    for (int i = 0; i < GetCount(); ++i)
      if (CompareStrings(items_[static_cast<size_t>(i)].s, s) == 0) return i;
    return -1;
  }
  int i;
  return Find(s, i) ? i : -1;
}

bool TStringList::Find(const std::string& s, int& index) const {
  int lo = 0, hi = GetCount() - 1;
  bool found = false;
  while (lo <= hi) {
    int mid = (lo + hi) / 2;
    int c = CompareStrings(items_[static_cast<size_t>(mid)].s, s);
    if (c < 0) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
      if (c == 0) {
        found = true;
        if (Duplicates != dupAccept) lo = mid;
      }
    }
  }
  index = lo;
  return found;
}

void TStringList::CustomSort(const std::function<int(TStringList*, int, int)>& compare) {
  if (GetCount() < 2) return;
  Changing();
  // Sort a permutation through the caller's index-based comparison, then apply it.
  std::vector<int> order(items_.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return compare(this, a, b) < 0; });
  std::vector<Item> sorted;
  sorted.reserve(items_.size());
  for (int i : order) sorted.push_back(items_[static_cast<size_t>(i)]);
  items_.swap(sorted);
  Changed();
}

void TStringList::Sort() {
  CustomSort([](TStringList* l, int a, int b) {
    return l->CompareStrings(l->items_[static_cast<size_t>(a)].s, l->items_[static_cast<size_t>(b)].s);
  });
}

void TStringList::SetSorted(bool on) {
  if (on == sorted_) return;
  if (on) Sort();
  sorted_ = on;
}

void TStringList::SetCaseSensitive(bool on) {
  if (on == caseSensitive_) return;
  caseSensitive_ = on;
  if (sorted_) Sort();
}

}  // namespace ui
