// Root class information, events, components, lists, string lists and streams.
#include <gtest/gtest.h>

#include "hostenv.h"
#include "uicomponent.h"
#include "uistreams.h"
#include "uistrings.h"

using namespace ui;

// Declared outside namespace ui, against qualified bases, as other modules declare theirs.
namespace elsewhere {
UI_EXCEPTION(EOutsideError, ui::Exception)
UI_EXCEPTION(EOutsideStreamError, ui::EStreamError)
}  // namespace elsewhere

namespace {

class TProbe : public TComponent {
  UI_DECLARE_CLASS(TProbe, TComponent)
 public:
  std::vector<std::pair<TComponent*, TOperation>> notes;
  int created = 0;
  void Create(TComponent* owner) override {
    inherited::Create(owner);
    created = Kind();  // a virtual call during construction reaches the derived class
  }
  virtual int Kind() const { return 1; }
  void Handler(TObject*) { ++calls; }
  void Other(TObject*) {}
  int calls = 0;

 protected:
  void Notification(TComponent* c, TOperation op) override {
    inherited::Notification(c, op);
    notes.push_back({c, op});
  }
};
class TProbe2 : public TProbe {
  UI_DECLARE_CLASS(TProbe2, TProbe)
 public:
  int Kind() const override { return 2; }
};
UI_IMPLEMENT_CLASS(TProbe, TComponent, DefaultFactory<TProbe>, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TProbe2, TProbe, DefaultFactory<TProbe2>, nullptr, nullptr, nullptr)

TEST(ClassInfo, NamesParentsAndInheritedProperties) {
  TProbe2* p = New<TProbe2>(nullptr);
  EXPECT_EQ("TProbe2", p->ClassName());
  EXPECT_TRUE(p->Is<TComponent>());
  EXPECT_TRUE(p->Is<TPersistent>());
  EXPECT_FALSE(p->Is<TStrings>());
  EXPECT_EQ(&TProbe::StaticClassInfo, p->ClassType()->Parent);
  ASSERT_NE(nullptr, p->ClassType()->FindProp("tag"));
  EXPECT_EQ(2, p->created);
  p->Free();
}

TEST(Events, CompareByObjectAndMethod) {
  TProbe a, b;
  TNotifyEvent e1(&a, &TProbe::Handler), e2(&a, &TProbe::Handler);
  EXPECT_TRUE(e1 == e2);
  EXPECT_FALSE(e1 == TNotifyEvent(&b, &TProbe::Handler));
  EXPECT_FALSE(e1 == TNotifyEvent(&a, &TProbe::Other));
  auto lambda = [](TObject*) {};
  TNotifyEvent l1(lambda), l2(lambda);
  TNotifyEvent l1copy = l1;
  EXPECT_TRUE(l1 == l1copy);
  EXPECT_FALSE(l1 == l2);  // each callable has an identity of its own
  EXPECT_FALSE(TNotifyEvent());
  e1(nullptr);
  EXPECT_EQ(1, a.calls);
}

TEST(Component, OwnershipNamesAndFreeNotification) {
  TProbe* owner = New<TProbe>(nullptr);
  TProbe* a = New<TProbe>(owner);
  TProbe* watcher = New<TProbe>(nullptr);
  a->SetName("Alpha");
  EXPECT_EQ(a, owner->FindComponent("ALPHA"));
  TProbe* b = New<TProbe>(owner);
  EXPECT_THROW(b->SetName("alpha"), EComponentError);
  EXPECT_THROW(b->SetName("1abc"), EComponentError);
  b->SetName("Beta");
  EXPECT_EQ(2, owner->ComponentCount());
  EXPECT_EQ(1, b->ComponentIndex());

  watcher->FreeNotification(a);
  a->Free();
  ASSERT_FALSE(watcher->notes.empty());
  EXPECT_EQ(a, watcher->notes.back().first);
  EXPECT_EQ(opRemove, watcher->notes.back().second);
  EXPECT_EQ(1, owner->ComponentCount());
  // Freeing the watcher after its subject: no dangling link.
  owner->Free();  // frees b
  watcher->Free();
}

TEST(List, BoundsAndMoves) {
  TList l;
  int x[3];
  for (int& v : x) l.Add(&v);
  l.Move(0, 2);
  EXPECT_EQ(&x[1], l.Get(0));
  EXPECT_EQ(&x[0], l.Get(2));
  EXPECT_THROW(l.Get(3), EListError);
  EXPECT_THROW(l.Insert(5, nullptr), EListError);
  EXPECT_EQ(1, l.Remove(&x[2]));
  EXPECT_EQ(-1, l.IndexOf(&x[2]));
}

TEST(StringList, TextSortedDuplicatesAndChangeEvents) {
  TStringList l;
  int changes = 0;
  l.OnChange = [&](TObject*) { ++changes; };
  l.SetText("b\r\na\nc\rd");
  EXPECT_EQ(4, l.Count());
  EXPECT_EQ(1, changes);  // one change for the whole update
  EXPECT_EQ("b\r\na\r\nc\r\nd\r\n", l.Text());
  l.SetSorted(true);
  EXPECT_EQ("a", l[0]);
  EXPECT_THROW(l.Insert(0, "x"), EStringListError);
  l.Duplicates = dupIgnore;
  EXPECT_EQ(0, l.Add("A"));
  EXPECT_EQ(4, l.Count());
  l.Duplicates = dupError;
  EXPECT_THROW(l.Add("a"), EStringListError);
  int i = -1;
  EXPECT_FALSE(l.Find("bb", i));
  EXPECT_EQ(2, i);
  EXPECT_THROW(l.Get(9), EStringListError);
}

TEST(StringList, NameValueAndDelimitedText) {
  TStringList l;
  l.SetValue("key", "v1");
  l.SetValue("other", "v2");
  l.SetValue("key", "v3");
  EXPECT_EQ("v3", l.Values("KEY"));
  EXPECT_EQ("other", l.Names(1));
  l.SetValue("key", "");
  EXPECT_EQ(1, l.Count());
  l.SetCommaText("one,\"two three\",\"q\"\"x\", four");
  ASSERT_EQ(4, l.Count());
  EXPECT_EQ("two three", l[1]);
  EXPECT_EQ("q\"x", l[2]);
  EXPECT_EQ("four", l[3]);
  EXPECT_EQ("one,\"two three\",\"q\"\"x\",four", l.CommaText());
}

TEST(Streams, MemoryFileAndErrors) {
  TMemoryStream m;
  const char text[] = "hello world";
  m.WriteBuffer(text, 11);
  m.SetPosition(20);
  m.WriteBuffer("!", 1);
  EXPECT_EQ(21, m.GetSize());
  EXPECT_EQ(0, static_cast<const char*>(m.Memory())[15]);  // the gap is zero-filled
  m.SetPosition(6);
  char buf[5];
  m.ReadBuffer(buf, 5);
  EXPECT_EQ(0, memcmp(buf, "world", 5));
  m.SetPosition(18);
  EXPECT_THROW(m.ReadBuffer(buf, 5), EReadError);

  std::string path = tq::WorkFile("stream.bin");
  m.SaveToFile(path);
  {
    TFileStream f(path, fmOpenRead);
    EXPECT_EQ(21, f.GetSize());
    EXPECT_THROW(f.WriteBuffer("x", 1), EWriteError);
  }
  TStringList l;
  l.Add("first");
  l.Add("second");
  l.SaveToFile(path);
  TStringList back;
  back.LoadFromFile(path);
  EXPECT_TRUE(back.Equals(&l));
  EXPECT_THROW(TFileStream(tq::WorkFile("missing\\none.txt"), fmOpenRead), EFOpenError);
  EXPECT_THROW(TResourceStream(GetModuleHandleA(nullptr), "NO_SUCH_RES", MAKEINTRESOURCEA(10)), EResNotFound);
}

TEST(Exceptions, DeclaredAgainstQualifiedBases) {
  try {
    throw elsewhere::EOutsideStreamError("disk gone");
  } catch (const EStreamError& e) {
    EXPECT_EQ(e.Message(), "disk gone");
    EXPECT_STREQ(e.ClassName(), "EOutsideStreamError");
  }
  elsewhere::EOutsideError plain("plain");
  const ui::Exception& base = plain;
  EXPECT_STREQ(base.what(), "plain");
  EXPECT_STREQ(base.ClassName(), "EOutsideError");
}

// Takes only TStringList sources itself and hands destinations of its own class to their Assign: the
// shape that made Assign(nullptr) ask AssignTo(this) and so Assign(this) without end.
class TMirror : public TPersistent {
  UI_DECLARE_CLASS(TMirror, TPersistent)
 public:
  TMirror() = default;
  int items = 0;
  void Assign(TPersistent* source) override {
    if (auto* l = As<TStringList>(source)) {
      items = l->Count();
      return;
    }
    inherited::Assign(source);
  }

 protected:
  void AssignTo(TPersistent* dest) override {
    if (auto* m = As<TMirror>(dest)) {
      m->Assign(this);
      return;
    }
    inherited::AssignTo(dest);
  }
};
UI_IMPLEMENT_CLASS(TMirror, TPersistent, nullptr, nullptr, nullptr, nullptr)

TEST(Persistent, AssignFromNilRaisesConvertError) {
  TMirror m;
  TStringList l;
  l.Add("a");
  m.Assign(&l);
  EXPECT_EQ(m.items, 1);
  try {
    m.Assign(nullptr);
    ADD_FAILURE() << "no error for a nil source";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a nil to a TMirror");
  }
  EXPECT_EQ(m.items, 1);
  EXPECT_THROW(l.Assign(nullptr), EConvertError);
  TComponent* c = New<TComponent>(nullptr);
  try {
    l.Assign(c);  // a source that cannot assign itself names both classes
    ADD_FAILURE() << "no error for a component source";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a TComponent to a TStringList");
  }
  c->Free();
}

}  // namespace
