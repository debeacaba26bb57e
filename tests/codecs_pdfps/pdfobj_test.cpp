// PDF object syntax and ownership.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "iepdfobj.h"

namespace {

std::string Written(TIEPDFObject& o) {
  TIEMemoryStream m;
  o.Write(m);
  return std::string(static_cast<const char*>(m.Memory()), size_t(m.GetSize()));
}

TEST(PDFObjects, SyntaxOfEachKind) {
  struct Case {
    const char* what;
    std::function<TIEPDFObject*()> make;
    const char* text;
  };
  const Case kCases[] = {
      {"name with a blank", [] { return new TIEPDFNameObject("A B"); }, "/A#20B"},
      {"name with # and delimiters", [] { return new TIEPDFNameObject("a#b/c(d)"); }, "/a#23b#2Fc#28d#29"},
      {"name with a high byte", [] { return new TIEPDFNameObject("x\xE9"); }, "/x#E9"},
      {"string with parentheses", [] { return new TIEPDFStringObject("a(b)"); }, "(a\\(b\\))"},
      {"string with controls", [] { return new TIEPDFStringObject("\b\t\n\f\r\\z"); }, "(\\b\\t\\n\\f\\r\\\\z)"},
      {"whole number", [] { return new TIEPDFNumericObject(595); }, "595"},
      {"negative number", [] { return new TIEPDFNumericObject(-1); }, "-1"},
      {"fraction", [] { return new TIEPDFNumericObject(0.25); }, "0.25"},
      {"true", [] { return new TIEPDFBooleanObject(true); }, "true"},
      {"false", [] { return new TIEPDFBooleanObject(false); }, "false"},
      {"reference", [] { return new TIEPDFRefObject(7, 0); }, "7 0 R"},
      {"empty array", [] { return new TIEPDFArrayObject; }, "[]"},
      {"array",
       [] {
         auto* a = new TIEPDFArrayObject;
         a->Add(new TIEPDFNameObject("PDF"));
         a->Add(new TIEPDFNameObject("ImageB"));
         return a;
       },
       "[/PDF /ImageB ]"},
      {"empty dictionary", [] { return new TIEPDFDictionaryObject; }, "<< >>"},
      {"dictionary with an inserted first entry",
       [] {
         auto* d = new TIEPDFDictionaryObject;
         d->Add("Width", new TIEPDFNumericObject(3));
         d->Insert(0, "Type", new TIEPDFNameObject("XObject"));
         return d;
       },
       "<< /Type /XObject\n/Width 3\n>>"},
      {"stream with 5 bytes",
       [] { return TIEPDFStreamObject::CreateWithData("abcde", 5); },
       "<< /Length 5\n>>\nstream\nabcde\nendstream"},
      {"stream whose data changed after creation",
       [] {
         auto* s = TIEPDFStreamObject::CreateWithData("abcde", 5);
         s->SetData(std::vector<uint8_t>{'x', 'y'});
         return s;
       },
       "<< /Length 2\n>>\nstream\nxy\nendstream"},
      {"empty stream", [] { return new TIEPDFStreamObject; }, "<< /Length 0\n>>\nstream\n\nendstream"},
  };
  for (const Case& c : kCases) {
    TIEPDFObject* o = c.make();
    EXPECT_EQ(Written(*o), c.text) << c.what;
    delete o;
  }
}

TEST(PDFObjects, WritingRecordsThePositionAndNestingWritesInPlace) {
  TIEMemoryStream m;
  IEWriteText(m, "12345");
  TIEPDFDictionaryObject d;
  auto* inner = new TIEPDFArrayObject;
  inner->Add(new TIEPDFNumericObject(1));
  d.Add("A", inner);
  d.Write(m);
  EXPECT_EQ(d.Position, 5);
  EXPECT_EQ(inner->Position, 5 + int(std::string("<< /A ").size()));
  EXPECT_EQ(d.ObjectNumber, 0);
}

// An object that counts its destruction.
class Counted : public TIEPDFObject {
 public:
  explicit Counted(int& n) : n_(n) {}
  ~Counted() override { ++n_; }
  void Write(TIEStream& s) override { IEWriteText(s, "c"); }

 private:
  int& n_;
};

TEST(PDFObjects, ContainersFreeWhatTheyOwnOnly) {
  int freed = 0;
  Counted kept(freed);
  kept.NotOwned = 1;
  {
    TIEPDFArrayObject a;
    a.Add(new Counted(freed));
    a.Add(&kept);
    TIEPDFDictionaryObject d;
    d.Add("x", new Counted(freed));
    d.Add("y", &kept);
    d.Put("x", new Counted(freed));  // the replaced value goes at once
    EXPECT_EQ(freed, 1);
  }
  EXPECT_EQ(freed, 3);  // the array's and the dictionary's own items, never the not-owned one
}

}  // namespace
