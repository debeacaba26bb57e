#include "uicomponent.h"

#include <algorithm>
#include <cctype>

namespace ui {

static std::vector<TPropInfo> ComponentProps() {
  return {prop::Str("Name", &TComponent::GetName, &TComponent::SetName),
          prop::Int<TComponent, intptr_t>("Tag", &TComponent::GetTag, &TComponent::SetTag, true, 0)};
}

UI_IMPLEMENT_CLASS(TList, TObject, DefaultFactory<TList>, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TPersistent, TObject, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TComponent, TPersistent, DefaultFactory<TComponent>, ComponentProps, nullptr, nullptr)

// ---- TList ----

void TList::Check(int i) const {
  if (i < 0 || i >= Count()) throw EListError(Format(SListIndexError, i));
}
void* TList::Get(int i) const {
  Check(i);
  return items_[static_cast<size_t>(i)];
}
void TList::Put(int i, void* p) {
  Check(i);
  items_[static_cast<size_t>(i)] = p;
}
int TList::Add(void* p) {
  items_.push_back(p);
  return Count() - 1;
}
void TList::Insert(int i, void* p) {
  if (i < 0 || i > Count()) throw EListError(Format(SListIndexError, i));
  items_.insert(items_.begin() + i, p);
}
void TList::Delete(int i) {
  Check(i);
  items_.erase(items_.begin() + i);
}
int TList::IndexOf(void* p) const {
  auto it = std::find(items_.begin(), items_.end(), p);
  return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}
int TList::Remove(void* p) {
  int i = IndexOf(p);
  if (i >= 0) Delete(i);
  return i;
}
void TList::Clear() { items_.clear(); }
void TList::Exchange(int a, int b) {
  Check(a);
  Check(b);
  std::swap(items_[static_cast<size_t>(a)], items_[static_cast<size_t>(b)]);
}
void TList::Move(int from, int to) {
  if (from == to) return;
  void* p = Get(from);
  Check(to);
  items_.erase(items_.begin() + from);
  items_.insert(items_.begin() + to, p);
}
void TList::Sort(const std::function<int(void*, void*)>& compare) {
  std::stable_sort(items_.begin(), items_.end(), [&](void* a, void* b) { return compare(a, b) < 0; });
}

// ---- TPersistent ----

void TPersistent::Assign(TPersistent* source) {
  if (source) {
    source->AssignTo(this);
    return;
  }
  // Raised here, not through AssignTo(this): a class whose AssignTo hands a destination of its own
  // class back to Assign would otherwise never return.
  throw EConvertError(Format("Cannot assign a nil to a %s", ClassName().c_str()));
}

void TPersistent::AssignTo(TPersistent* dest) {
  throw EConvertError(Format("Cannot assign a %s to a %s", ClassName().c_str() /* source */,
                             dest ? dest->ClassName().c_str() : "nil"));
}

std::string TPersistent::GetNamePath() {
  TPersistent* owner = GetOwner();
  std::string own = owner ? owner->GetNamePath() : std::string();
  return own.empty() ? ClassName() : own;
}

// ---- TComponent ----

bool IsValidIdent(const std::string& s) {
  if (s.empty()) return false;
  auto alpha = [](char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; };
  if (!alpha(s[0])) return false;
  for (char c : s)
    if (!alpha(c) && !std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

void TComponent::Create(TComponent* owner) {
  if (owner) owner->InsertComponent(this);
}

TComponent* NewComponent(TClass cls, TComponent* owner) {
  if (!cls || !cls->Factory || !cls->InheritsFrom(&TComponent::StaticClassInfo))
    throw EClassNotFound(Format(SClassNotFound, cls ? cls->Name : "nil"));
  auto* c = static_cast<TComponent*>(cls->Factory());
  try {
    c->Create(owner);
    c->AfterConstruction();
  } catch (...) {
    c->Free();
    throw;
  }
  return c;
}

void TComponent::BeforeDestruction() {
  if (!InState(csDestroying)) Destroying();
  // Tell everybody who asked; each removal also drops the mutual link.
  while (!freeNotifies_.empty()) {
    TComponent* c = freeNotifies_.back();
    freeNotifies_.pop_back();
    c->RemoveNotification(this);
    c->Notification(this, opRemove);
  }
  DestroyComponents();
  if (owner_) owner_->RemoveComponent(this);
}

TComponent::~TComponent() {
  // A component deleted without Free still leaves its owner and its links consistent.
  for (TComponent* c : freeNotifies_) c->RemoveNotification(this);
  freeNotifies_.clear();
  if (owner_) owner_->Remove(this);
}

void TComponent::Destroying() {
  if (InState(csDestroying)) return;
  state_ |= csDestroying;
  for (TComponent* c : components_) c->Destroying();
}

TComponent* TComponent::Components(int i) const {
  if (i < 0 || i >= ComponentCount()) throw EListError(Format(SListIndexError, i));
  return components_[static_cast<size_t>(i)];
}

int TComponent::ComponentIndex() const {
  if (!owner_) return -1;
  auto& v = owner_->components_;
  auto it = std::find(v.begin(), v.end(), this);
  return it == v.end() ? -1 : static_cast<int>(it - v.begin());
}

TComponent* TComponent::FindComponent(const std::string& name) const {
  if (name.empty()) return nullptr;
  for (TComponent* c : components_)
    if (SameText(c->name_, name)) return c;
  return nullptr;
}

void TComponent::ValidateRename(TComponent* c, const std::string& curName, const std::string& newName) {
  if (c && !SameText(curName, newName) && c->owner_ == this && FindComponent(newName))
    throw EComponentError(Format(SDuplicateName, newName.c_str()));
}

void TComponent::SetName(const std::string& name) {
  if (name_ == name) return;
  if (!name.empty() && !IsValidIdent(name)) throw EComponentError(Format(SInvalidName, name.c_str()));
  if (owner_)
    owner_->ValidateRename(this, name_, name);
  else
    ValidateRename(nullptr, name_, name);
  name_ = name;
}

void TComponent::InsertComponent(TComponent* c) {
  if (!c->name_.empty()) ValidateRename(c, std::string(), c->name_);
  if (c->owner_) c->owner_->RemoveComponent(c);
  Insert(c);
  Notification(c, opInsert);
}

void TComponent::RemoveComponent(TComponent* c) {
  Notification(c, opRemove);
  Remove(c);
}

void TComponent::Insert(TComponent* c) {
  components_.push_back(c);
  c->owner_ = this;
}

void TComponent::Remove(TComponent* c) {
  auto it = std::find(components_.begin(), components_.end(), c);
  if (it != components_.end()) components_.erase(it);
  c->owner_ = nullptr;
}

void TComponent::DestroyComponents() {
  while (!components_.empty()) {
    TComponent* c = components_.back();
    Remove(c);
    c->Free();
  }
}

void TComponent::Notification(TComponent* c, TOperation op) {
  if (op == opRemove && c) {
    RemoveNotification(c);
  }
  // Owned components hear about every insertion and removal in their owner's family.
  for (size_t i = components_.size(); i-- > 0;) {
    if (i < components_.size() && components_[i] != c) components_[i]->Notification(c, op);
  }
}

void TComponent::FreeNotification(TComponent* c) {
  if (!c || c == this) return;
  if (std::find(freeNotifies_.begin(), freeNotifies_.end(), c) == freeNotifies_.end()) freeNotifies_.push_back(c);
  if (std::find(c->freeNotifies_.begin(), c->freeNotifies_.end(), this) == c->freeNotifies_.end())
    c->freeNotifies_.push_back(this);
  state_ |= csFreeNotification;
}

void TComponent::RemoveFreeNotification(TComponent* c) {
  RemoveNotification(c);
  if (c) c->RemoveNotification(this);
}

void TComponent::RemoveNotification(TComponent* c) {
  auto it = std::find(freeNotifies_.begin(), freeNotifies_.end(), c);
  if (it != freeNotifies_.end()) freeNotifies_.erase(it);
}

void TComponent::GetChildren(const std::function<void(TComponent*)>&, TComponent*) {}

void TComponent::Loaded() { state_ &= ~csLoading; }

void TComponent::SetLoading(bool on) { SetState(csLoading, on); }
void TComponent::SetReading(bool on) { SetState(csReading, on); }

}  // namespace ui

namespace ui {

UI_IMPLEMENT_CLASS(TCollectionItem, TPersistent, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TCollection, TPersistent, nullptr, nullptr, nullptr, nullptr)

TCollectionItem::~TCollectionItem() {
  if (collection_) collection_->RemoveItem(this);
}

void TCollectionItem::SetCollection(TCollection* c) {
  if (c == collection_) return;
  if (collection_) collection_->RemoveItem(this);
  if (c) c->InsertItem(this, c->Count());
}

int TCollectionItem::GetIndex() const {
  if (!collection_) return -1;
  auto& v = collection_->items_;
  return static_cast<int>(std::find(v.begin(), v.end(), this) - v.begin());
}

void TCollectionItem::SetIndex(int i) {
  int cur = GetIndex();
  if (cur < 0 || i == cur) return;
  auto& v = collection_->items_;
  if (i < 0) i = 0;
  if (i >= static_cast<int>(v.size())) i = static_cast<int>(v.size()) - 1;
  v.erase(v.begin() + cur);
  v.insert(v.begin() + i, this);
  Changed(true);
}

TPersistent* TCollectionItem::GetOwner() { return collection_; }

void TCollectionItem::Changed(bool all) {
  if (collection_ && collection_->updateCount_ == 0) collection_->Update(all ? nullptr : this);
}

TCollection::~TCollection() {
  updateCount_ = 1;  // no Update calls while the items go
  while (!items_.empty()) {
    TCollectionItem* i = items_.back();
    Notify(i, cnDeleting);
    i->collection_ = nullptr;
    items_.pop_back();
    delete i;
  }
}

TCollectionItem* TCollection::Items(int i) const {
  if (i < 0 || i >= Count()) throw EListError(Format(SListIndexError, i));
  return items_[static_cast<size_t>(i)];
}

TCollectionItem* TCollection::CreateItem() {
  if (!itemClass_ || !itemClass_->Factory || !itemClass_->InheritsFrom(&TCollectionItem::StaticClassInfo))
    throw EClassNotFound(Format(SClassNotFound, itemClass_ ? itemClass_->Name : "nil"));
  return static_cast<TCollectionItem*>(itemClass_->Factory());
}

TCollectionItem* TCollection::Add() { return Insert(Count()); }

TCollectionItem* TCollection::Insert(int index) {
  if (index < 0 || index > Count()) throw EListError(Format(SListIndexError, index));
  TCollectionItem* item = CreateItem();
  InsertItem(item, index);
  return item;
}

void TCollection::InsertItem(TCollectionItem* item, int index) {
  items_.insert(items_.begin() + index, item);
  item->collection_ = this;
  item->id_ = nextId_++;
  Notify(item, cnAdded);
  Changed();
}

void TCollection::RemoveItem(TCollectionItem* item) {
  Notify(item, cnExtracting);
  auto it = std::find(items_.begin(), items_.end(), item);
  if (it != items_.end()) items_.erase(it);
  item->collection_ = nullptr;
  Changed();
}

void TCollection::Delete(int index) {
  TCollectionItem* item = Items(index);
  Notify(item, cnDeleting);
  delete item;  // leaves the collection in its destructor
}

void TCollection::Clear() {
  if (items_.empty()) return;
  BeginUpdate();
  try {
    while (!items_.empty()) Delete(Count() - 1);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TCollection::Changed() {
  if (updateCount_ == 0) Update(nullptr);
}

void TCollection::BeginUpdate() { ++updateCount_; }

void TCollection::EndUpdate() {
  if (updateCount_ > 0 && --updateCount_ == 0) Changed();
}

TCollectionItem* TCollection::FindItemID(int id) const {
  for (TCollectionItem* i : items_)
    if (i->id_ == id) return i;
  return nullptr;
}

void TCollection::Assign(TPersistent* source) {
  if (auto* src = As<TCollection>(source)) {
    BeginUpdate();
    try {
      Clear();
      for (int i = 0; i < src->Count(); ++i) Add()->Assign(src->Items(i));
    } catch (...) {
      EndUpdate();
      throw;
    }
    EndUpdate();
    return;
  }
  TPersistent::Assign(source);
}

}  // namespace ui
