// Layout streams: loading a converted layout resource, writer/reader round trips, properties defined
// only through DefineProperties, reference fix-ups, handler binding, and damaged streams.
#include <gtest/gtest.h>

#include "uifiler.h"
#include "uistrings.h"

using namespace ui;

namespace {

class TSubObj : public TPersistent {
  UI_DECLARE_CLASS(TSubObj, TPersistent)
 public:
  std::string GetName() const { return name; }
  void SetName(const std::string& s) { name = s; }
  int GetSize() const { return size; }
  void SetSize(int s) { size = s; }
  std::string name;
  int size = 8;
};

enum TMode { mmA, mmB, mmC };

class TFilerItem : public TComponent {
  UI_DECLARE_CLASS(TFilerItem, TComponent)
 public:
  ~TFilerItem() override {
    delete sub;
    delete lines;
  }
#define ACC(T, N, F) \
  T Get##N() const { return F; } \
  void Set##N(T v) { F = v; }
  ACC(int, Count, count)
  ACC(double, Ratio, ratio)
  ACC(TMode, Mode, mode)
  ACC(int, Options, options)
  ACC(bool, Flag, flag)
  ACC(char, Letter, letter)
  ACC(wchar_t, WLetter, wletter)
#undef ACC
  std::string GetCaption() const { return caption; }
  void SetCaption(const std::string& s) { caption = s; }
  std::wstring GetWCaption() const { return wcaption; }
  void SetWCaption(const std::wstring& s) { wcaption = s; }
  TSubObj* GetSub() const { return sub; }
  TStringList* GetLines() const { return lines; }
  TComponent* GetLink() const { return link; }
  void SetLink(TComponent* c) { link = c; }
  void Loaded() override {
    inherited::Loaded();
    ++loadedCalls;
  }
  void DefineProperties(TFiler* filer) override {
    inherited::DefineProperties(filer);
    filer->DefineProperty(
        "Extra", [this](TReader* r) { extra = r->ReadString(); }, [this](TWriter* w) { w->WriteString(extra); },
        !extra.empty());
    filer->DefineBinaryProperty(
        "Blob",
        [this](TStream* s) {
          blob.resize(static_cast<size_t>(s->GetSize()));
          if (!blob.empty()) s->ReadBuffer(blob.data(), static_cast<int32_t>(blob.size()));
        },
        [this](TStream* s) {
          if (!blob.empty()) s->WriteBuffer(blob.data(), static_cast<int32_t>(blob.size()));
        },
        !blob.empty());
    // Read from older layouts, never written.
    filer->DefineProperty(
        "Legacy", [this](TReader* r) { legacy = r->ReadInteger(); }, nullptr, false);
  }

  std::string caption, extra;
  std::wstring wcaption;
  int count = 0, options = 0, loadedCalls = 0, legacy = 0;
  double ratio = 0;
  TMode mode = mmA;
  bool flag = false;
  char letter = 0;
  wchar_t wletter = 0;
  TSubObj* sub = new TSubObj;
  TStringList* lines = new TStringList;
  TComponent* link = nullptr;
  std::vector<uint8_t> blob;
  TNotifyEvent OnPing;
};

class TFilerTestForm : public TComponent {
  UI_DECLARE_CLASS(TFilerTestForm, TComponent)
 public:
  TFilerItem* Item1 = nullptr;
  TFilerItem* Item2 = nullptr;
  int pings = 0;
  void ItemPing(TObject*) { ++pings; }
  void GetChildren(const std::function<void(TComponent*)>& proc, TComponent*) override {
    for (int i = 0; i < ComponentCount(); ++i) proc(Components(i));
  }
  TComponent* GetChildOwner() override { return this; }
};

std::vector<TPropInfo> SubProps() {
  return {prop::Str("Name", &TSubObj::GetName, &TSubObj::SetName),
          prop::Int("Size", &TSubObj::GetSize, &TSubObj::SetSize, true, 8)};
}
std::vector<TPropInfo> ItemProps() {
  using T = TFilerItem;
  return {prop::Str("Caption", &T::GetCaption, &T::SetCaption),
          prop::WStr("WCaption", &T::GetWCaption, &T::SetWCaption),
          prop::Int("Count", &T::GetCount, &T::SetCount, true, 0),
          prop::Float("Ratio", &T::GetRatio, &T::SetRatio),
          prop::Enum("Mode", &T::GetMode, &T::SetMode, {"mmA", "mmB", "mmC"}, true, mmA),
          prop::Set("Options", &T::GetOptions, &T::SetOptions, {"opA", "opB", "opC"}, true, 0),
          prop::Bool("Flag", &T::GetFlag, &T::SetFlag, false),
          prop::Char("Letter", &T::GetLetter, &T::SetLetter, true, '\0'),
          prop::Char("WLetter", &T::GetWLetter, &T::SetWLetter, true, L'\0'),
          prop::Object<T, TSubObj>("Sub", &T::GetSub, nullptr),
          prop::Object<T, TStringList>("Lines", &T::GetLines, nullptr),
          prop::Object<T, TComponent>("Link", &T::GetLink, &T::SetLink),
          prop::Event("OnPing", &T::OnPing)};
}
std::vector<TFieldInfo> FormFields() {
  return {PublishedField("Item1", &TFilerTestForm::Item1), PublishedField("Item2", &TFilerTestForm::Item2)};
}
std::vector<TMethodInfo> FormMethods() { return {PublishedMethod("ItemPing", &TFilerTestForm::ItemPing)}; }

UI_IMPLEMENT_CLASS(TSubObj, TPersistent, nullptr, SubProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TFilerItem, TComponent, DefaultFactory<TFilerItem>, ItemProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TFilerTestForm, TComponent, DefaultFactory<TFilerTestForm>, nullptr, FormFields, FormMethods)

struct Registered {
  Registered() { RegisterClasses({&TFilerItem::StaticClassInfo, &TFilerTestForm::StaticClassInfo}); }
} registered;

void ExpectLoadedValues(TFilerTestForm* f) {
  ASSERT_NE(nullptr, f->Item1);
  ASSERT_NE(nullptr, f->Item2);
  TFilerItem* i = f->Item1;
  EXPECT_EQ(7, f->GetTag());
  EXPECT_EQ("Hello", i->caption);
  EXPECT_EQ(L"Gr\u00fc\u00df \u263a", i->wcaption);
  EXPECT_EQ(100000, i->count);
  EXPECT_DOUBLE_EQ(2.5, i->ratio);
  EXPECT_EQ(mmC, i->mode);
  EXPECT_EQ(5, i->options);
  EXPECT_TRUE(i->flag);
  EXPECT_EQ('x', i->letter);
  EXPECT_EQ(L'\u263a', i->wletter);
  EXPECT_EQ("inner", i->sub->name);
  EXPECT_EQ(12, i->sub->size);
  EXPECT_EQ("a\r\nb\r\n", i->lines->Text());
  EXPECT_EQ(f->Item2, i->link);
  EXPECT_EQ("defined", i->extra);
  EXPECT_EQ((std::vector<uint8_t>{0x00, 0xFF, 0x10}), i->blob);
  EXPECT_EQ("Second", f->Item2->caption);
  EXPECT_EQ(1, i->loadedCalls);
  EXPECT_FALSE(i->InState(csLoading | csReading));
  int before = f->pings;
  i->OnPing(i);
  EXPECT_EQ(before + 1, f->pings);
  EXPECT_TRUE(i->OnPing == TNotifyEvent(f, &TFilerTestForm::ItemPing));
}

TEST(Filer, LoadsTheConvertedLayoutResource) {
  auto* f = New<TFilerTestForm>(nullptr);
  ASSERT_TRUE(InitInheritedComponent(f, &TComponent::StaticClassInfo));
  ExpectLoadedValues(f);
  f->Free();
}

TEST(Filer, WriterThenReaderGiveTheSameProperties) {
  auto* f = New<TFilerTestForm>(nullptr);
  ASSERT_TRUE(InitInheritedComponent(f, &TComponent::StaticClassInfo));
  TMemoryStream ms;
  WriteComponentToStream(&ms, f);
  ms.SetPosition(0);
  auto* g = static_cast<TFilerTestForm*>(ReadComponentFromStream(&ms, nullptr));
  ASSERT_TRUE(g->Is<TFilerTestForm>());
  ExpectLoadedValues(g);
  // Writing the copy again gives the same bytes.
  TMemoryStream ms2;
  WriteComponentToStream(&ms2, g);
  ASSERT_EQ(ms.GetSize(), ms2.GetSize());
  EXPECT_EQ(0, memcmp(ms.Memory(), ms2.Memory(), static_cast<size_t>(ms.GetSize())));
  g->Free();
  f->Free();
}

// Builds a one-component stream whose single property is written by `prop`.
void HandMade(TMemoryStream& ms, const std::function<void(TWriter&)>& prop) {
  TWriter w(&ms);
  w.WriteSignature();
  w.WriteStr("TFilerItem");
  w.WriteStr("Item");
  prop(w);
  w.WriteListEnd();
  w.WriteListEnd();
  ms.SetPosition(0);
}

TEST(Filer, BadPropertiesRaiseTheReadError) {
  struct Case {
    const char* what;
    std::function<void(TWriter&)> prop;
  };
  const Case cases[] = {
      {"unknown name", [](TWriter& w) { w.WriteStr("Bogus"); w.WriteInteger(1); }},
      {"unknown enum value", [](TWriter& w) { w.WriteStr("Mode"); w.WriteIdent("mmZ"); }},
      {"string for integer", [](TWriter& w) { w.WriteStr("Count"); w.WriteString("12"); }},
      {"two characters for a char", [](TWriter& w) { w.WriteStr("WLetter"); w.WriteWideString(L"ab"); }},
      {"unknown sub-object member", [](TWriter& w) { w.WriteStr("Sub.Colour"); w.WriteInteger(1); }},
  };
  for (const Case& c : cases) {
    TMemoryStream ms;
    HandMade(ms, c.prop);
    try {
      TComponent* x = ReadComponentFromStream(&ms, nullptr);
      x->Free();
      ADD_FAILURE() << c.what << ": no error";
    } catch (const EReadError& e) {
      EXPECT_STREQ(SInvalidPropertyValue, e.what()) << c.what;
    }
  }
}

TEST(Filer, EightBitAndWideStringValuesAreInterchangeable) {
  TMemoryStream ms;
  HandMade(ms, [](TWriter& w) {
    w.WriteStr("Caption");
    w.WriteWideString(L"wide");
    w.WriteStr("WCaption");
    w.WriteString("narrow");
  });
  auto* item = static_cast<TFilerItem*>(ReadComponentFromStream(&ms, nullptr));
  EXPECT_EQ("wide", item->caption);
  EXPECT_EQ(L"narrow", item->wcaption);
  item->Free();
}

TEST(Filer, PropertyThatIsNeverWrittenIsReadFromAHandMadeStream) {
  TMemoryStream ms;
  HandMade(ms, [](TWriter& w) {
    w.WriteStr("Legacy");
    w.WriteInteger(77);
  });
  auto* item = static_cast<TFilerItem*>(ReadComponentFromStream(&ms, nullptr));
  EXPECT_EQ(77, item->legacy);
  TMemoryStream out;
  WriteComponentToStream(&out, item);
  std::string bytes(static_cast<const char*>(out.Memory()), static_cast<size_t>(out.GetSize()));
  EXPECT_EQ(std::string::npos, bytes.find("Legacy"));
  item->Free();
}

TEST(Filer, TruncatedOrDamagedStreamsFailCleanly) {
  auto* f = New<TFilerTestForm>(nullptr);
  ASSERT_TRUE(InitInheritedComponent(f, &TComponent::StaticClassInfo));
  TMemoryStream full;
  WriteComponentToStream(&full, f);
  f->Free();
  const auto* bytes = static_cast<const uint8_t*>(full.Memory());
  const int64_t size = full.GetSize();
  for (int64_t cut = 0; cut < size; ++cut) {
    TMemoryStream part;
    if (cut) part.WriteBuffer(bytes, static_cast<int32_t>(cut));
    part.SetPosition(0);
    EXPECT_THROW(ReadComponentFromStream(&part, nullptr), Exception) << "cut at " << cut;
  }
  // A long-string length far beyond the stream is refused before anything is allocated.
  TMemoryStream huge;
  HandMade(huge, [](TWriter& w) {
    w.WriteStr("Caption");
    w.WriteValue(vaLString);
    uint32_t n = 0x7FFFFFF0;
    w.Stream()->WriteBuffer(&n, 4);
  });
  EXPECT_THROW(ReadComponentFromStream(&huge, nullptr), EReadError);
}

TEST(Filer, UnknownClassAndUnresolvedReference) {
  TMemoryStream ms;
  {
    TWriter w(&ms);
    w.WriteSignature();
    w.WriteStr("TNoSuchClass");
    w.WriteStr("X");
    w.WriteListEnd();
    w.WriteListEnd();
  }
  ms.SetPosition(0);
  EXPECT_THROW(ReadComponentFromStream(&ms, nullptr), EClassNotFound);
  TMemoryStream ref;
  HandMade(ref, [](TWriter& w) {
    w.WriteStr("Link");
    w.WriteIdent("Nobody");
  });
  EXPECT_THROW(ReadComponentFromStream(&ref, nullptr), EReadError);
}

}  // namespace
