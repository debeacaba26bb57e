// Persistent objects, owned components with names and free notification, and the pointer list.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "uisysutils.h"

namespace ui {

class TFiler;
class TComponent;

// A list of untyped pointers with bounds-checked access.
class TList : public TObject {
  UI_DECLARE_CLASS(TList, TObject)
 public:
  TList() = default;
  int Count() const { return static_cast<int>(items_.size()); }
  void* Get(int i) const;
  void Put(int i, void* p);
  int Add(void* p);
  void Insert(int i, void* p);
  void Delete(int i);
  int Remove(void* p);  // index removed, or -1
  int IndexOf(void* p) const;
  void Clear();
  void Exchange(int a, int b);
  void Move(int from, int to);
  void* First() const { return Get(0); }
  void* Last() const { return Get(Count() - 1); }
  void Sort(const std::function<int(void*, void*)>& compare);

 private:
  void Check(int i) const;
  std::vector<void*> items_;
};

class TPersistent : public TObject {
  UI_DECLARE_CLASS(TPersistent, TObject)
 public:
  // Copies `source` into this; the default asks the source's AssignTo, which raises EConvertError, and
  // raises EConvertError itself for a null source.
  virtual void Assign(TPersistent* source);
  // Properties that the filer stores beside the published ones.
  virtual void DefineProperties(TFiler* filer) { (void)filer; }
  // The persistent that owns this one (for name paths), or null.
  virtual TPersistent* GetOwner() { return nullptr; }
  virtual std::string GetNamePath();

 protected:
  virtual void AssignTo(TPersistent* dest);
  TPersistent() = default;
};

enum TOperation { opInsert, opRemove };

// Component state bits.
enum : uint32_t {
  csLoading = 1u << 0,
  csReading = 1u << 1,
  csWriting = 1u << 2,
  csDestroying = 1u << 3,
  csDesigning = 1u << 4,
  csAncestor = 1u << 5,
  csUpdating = 1u << 6,
  csFixups = 1u << 7,
  csFreeNotification = 1u << 8,
  csInline = 1u << 9,
};

class TComponent : public TPersistent {
  UI_DECLARE_CLASS(TComponent, TPersistent)
 public:
  // The virtual construction step (run by New<T>(owner) after `new`).
  virtual void Create(TComponent* owner);
  void BeforeDestruction() override;
  ~TComponent() override;

  TComponent* Owner() const { return owner_; }
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int i) const;
  int ComponentIndex() const;
  TComponent* FindComponent(const std::string& name) const;
  void InsertComponent(TComponent* c);
  void RemoveComponent(TComponent* c);
  void DestroyComponents();
  void Destroying();

  std::string GetName() const { return name_; }
  virtual void SetName(const std::string& name);
  intptr_t GetTag() const { return tag_; }
  void SetTag(intptr_t t) { tag_ = t; }
  uint32_t ComponentState() const { return state_; }
  bool InState(uint32_t bits) const { return (state_ & bits) != 0; }

  // Ask to be told (Notification opRemove) when `c` is freed; the link is mutual.
  void FreeNotification(TComponent* c);
  void RemoveFreeNotification(TComponent* c);

  // Visits the children that a filer writes under this component (owned by `root`).
  virtual void GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root);
  // Reader hooks; Loaded clears csLoading.
  virtual void Loaded();
  void SetLoading(bool on);  // set by the reader
  void SetReading(bool on);
  void SetDesigning(bool on) { SetState(csDesigning, on); }
  // The component that owns children written under this one (forms own their controls).
  virtual TComponent* GetChildOwner() { return nullptr; }
  virtual TComponent* GetChildParent() { return this; }
  virtual void SetParentComponent(TComponent* parent) { (void)parent; }
  virtual TComponent* GetParentComponent() const { return nullptr; }
  virtual bool HasParent() const { return false; }
  std::string GetNamePath() override { return name_; }
  TPersistent* GetOwner() override { return owner_; }

 TComponent() = default;
  void SetState(uint32_t bits, bool on) { state_ = on ? (state_ | bits) : (state_ & ~bits); }

 protected:
  virtual void Notification(TComponent* c, TOperation op);
  virtual void ValidateRename(TComponent* c, const std::string& curName, const std::string& newName);

 private:
  void Insert(TComponent* c);
  void Remove(TComponent* c);
  void RemoveNotification(TComponent* c);
  TComponent* owner_ = nullptr;
  std::string name_;
  intptr_t tag_ = 0;
  uint32_t state_ = 0;
  std::vector<TComponent*> components_;
  std::vector<TComponent*> freeNotifies_;
};

// Creates a component of class T: new, the virtual Create(owner), AfterConstruction.
template <class T>
T* New(TComponent* owner) {
  T* c = new T();
  try {
    c->Create(owner);
    c->AfterConstruction();
  } catch (...) {
    c->Free();
    throw;
  }
  return c;
}
// The same for a class reference (layouts); raises EClassNotFound for abstract classes.
TComponent* NewComponent(TClass cls, TComponent* owner);

bool IsValidIdent(const std::string& s);

}  // namespace ui

namespace ui {

class TCollection;

// An item of a collection; its index is its place in the collection.
class TCollectionItem : public TPersistent {
  UI_DECLARE_CLASS(TCollectionItem, TPersistent)
 public:
  TCollectionItem() = default;
  ~TCollectionItem() override;
  TCollection* Collection() const { return collection_; }
  // Moves the item into `c` (null: out of any collection).
  void SetCollection(TCollection* c);
  int GetIndex() const;
  void SetIndex(int i);
  int ID() const { return id_; }
  virtual std::string GetDisplayName() { return ClassName(); }
  TPersistent* GetOwner() override;

 protected:
  // Tells the collection that this item changed (all: more than this item).
  void Changed(bool all);

 private:
  TCollection* collection_ = nullptr;
  int id_ = 0;
  friend class TCollection;
};

// An owned list of items of one class, stored in layouts as one collection value.
class TCollection : public TPersistent {
  UI_DECLARE_CLASS(TCollection, TPersistent)
 public:
  TCollection(TClass itemClass, TPersistent* owner = nullptr) : itemClass_(itemClass), owner_(owner) {}
  ~TCollection() override;
  TClass ItemClass() const { return itemClass_; }
  int Count() const { return static_cast<int>(items_.size()); }
  TCollectionItem* Items(int i) const;
  TCollectionItem* Add();
  TCollectionItem* Insert(int index);
  void Delete(int index);
  void Clear();
  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return updateCount_; }
  TCollectionItem* FindItemID(int id) const;
  void Assign(TPersistent* source) override;
  TPersistent* GetOwner() override { return owner_; }

 protected:
  // Called after items changed (item null: the whole collection); only outside updates.
  virtual void Update(TCollectionItem* item) { (void)item; }
  enum TCollectionNotification { cnAdded, cnExtracting, cnDeleting };
  virtual void Notify(TCollectionItem* item, TCollectionNotification action) {
    (void)item;
    (void)action;
  }
  // Makes a new item of ItemClass (not yet in the collection).
  virtual TCollectionItem* CreateItem();
  void Changed();

 private:
  void InsertItem(TCollectionItem* item, int index);
  void RemoveItem(TCollectionItem* item);
  TClass itemClass_;
  TPersistent* owner_;
  std::vector<TCollectionItem*> items_;
  int updateCount_ = 0;
  int nextId_ = 0;
  friend class TCollectionItem;
};

}  // namespace ui
