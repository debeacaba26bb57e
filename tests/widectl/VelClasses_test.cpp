// Wide string lists: text cutting, files with and without byte-order marks (checked against files
// that the host writes and reads), the 8-bit view, copying to and from 8-bit lists, and the sorted
// list.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "VelClasses.h"
#include "VelSysUtils.h"
#include "hostenv.h"

namespace {

// Greek, a smiley and Chinese: none of it is in the system ANSI code page.
const std::wstring kWide = L"\x0395\x03BB\x03BB\x03B7\x03BD\x03B9\x03BA\x03AC \x263A \x4E2D\x6587";
const char* const kWideUtf8 = "Ελληνικά ☺ 中文";

std::vector<std::wstring> Items(const TWideStrings& list) {
  std::vector<std::wstring> items;
  for (int i = 0; i < list.Count(); ++i) items.push_back(list[i]);
  return items;
}

std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// Has the host write `text` in `encoding` (a Python codec name), after `prefixHex` raw bytes.
void HostWrite(const std::string& name, const std::string& prefixHex, const std::string& encoding,
               const std::string& extraHex = "") {
  std::string out;
  const std::string script = "import sys; open(sys.argv[1],'wb').write(bytes.fromhex('" + prefixHex +
                             "') + '" + kWideUtf8 + "\\r\\nzweite Zeile\\r\\n'.encode('" + encoding +
                             "') + bytes.fromhex('" + extraHex + "'))";
  ASSERT_EQ(tq::RunHost("/usr/bin/python3 -c " + tq::ShellQuote(script) + " " + name, &out), 0) << out;
}

class VelStringListTest : public ::testing::Test {
 protected:
  TVelStringList list;
};

}  // namespace

TEST(VelWideStrings, SetWholeTextCutsLines) {
  struct Case {
    std::wstring text;
    std::vector<std::wstring> items;
  } cases[] = {
      {L"a\r\nb\r\n", {L"a", L"b"}},
      {L"a\r\x2028" L"b", {L"a", L"b"}},
      {L"a\rb\nc", {L"a", L"b", L"c"}},
      {L"a\n\nb", {L"a", L"", L"b"}},
      {std::wstring(L"a\r\nb\0c\r\n", 8), {L"a", L"b"}},
      {L"", {}},
      {L"\r\n", {L""}},
  };
  TVelStringList list;
  for (const Case& c : cases) {
    list.SetWholeText(c.text);
    EXPECT_EQ(Items(list), c.items) << "case " << (&c - cases);
  }
  list.SetWholeText(L"x\ny");
  EXPECT_EQ(list.GetWholeText(), L"x\r\ny\r\n");
}

TEST(VelWideStrings, SettingsAndNameParts) {
  TVelStringList list;
  EXPECT_EQ(list.ItemDelimiter(), L',');
  EXPECT_EQ(list.QuoteCharacter(), L'"');
  list.SetNamePartSeparator(L':');
  list.SetWholeText(L"colour\nsize:10\ncolour:red");
  EXPECT_EQ(list.IndexOfNamePart(L"COLOUR"), 2);  // the item without a separator does not count
  EXPECT_EQ(list.IndexOfNamePart(L"weight"), -1);
  EXPECT_EQ(list.IndexOf(L"SIZE:10"), 1);
  list.Move(2, 0);
  EXPECT_EQ(Items(list), (std::vector<std::wstring>{L"colour:red", L"colour", L"size:10"}));
}

TEST(VelWideStrings, LoadsHostFilesByMark) {
  struct Case {
    const char* name;
    const char* prefix;
    const char* encoding;
    TWideTextCharSet charSet;
  } cases[] = {
      {"le.txt", "fffe", "utf-16-le", wtcUtf16LE},
      {"be.txt", "feff", "utf-16-be", wtcUtf16BE},
      {"u8.txt", "efbbbf", "utf-8", wtcUtf8},
  };
  for (const Case& c : cases) {
    HostWrite(c.name, c.prefix, c.encoding);
    TVelStringList list;
    list.LoadFromFile(Widen(tq::WorkFile(c.name)));
    EXPECT_EQ(list.LoadedFileCharSet, c.charSet) << c.name;
    EXPECT_EQ(Items(list), (std::vector<std::wstring>{kWide, L"zweite Zeile"})) << c.name;
  }
}

TEST(VelWideStrings, LoadsUnmarkedFileAsAnsiAndDropsOddByte) {
  // Without a mark the file is 8-bit text of the system ANSI code page.
  const UINT acp = GetACP();
  std::string out;
  ASSERT_EQ(tq::RunHost("/usr/bin/python3 -c " +
                            tq::ShellQuote("import sys; open('ansi.txt','wb').write('caf\\u00e9\\r\\nx'.encode('cp" +
                                           std::to_string(acp) + "'))"),
                        &out),
            0)
      << out;
  TVelStringList list;
  list.LoadFromFile(Widen(tq::WorkFile("ansi.txt")));
  EXPECT_EQ(list.LoadedFileCharSet, wtcAnsi);
  EXPECT_EQ(Items(list), (std::vector<std::wstring>{L"caf\x00E9", L"x"}));

  // A UTF-16 file of odd length: its last byte is no part of the text.
  HostWrite("odd.txt", "fffe", "utf-16-le", "41");
  list.LoadFromFile(Widen(tq::WorkFile("odd.txt")));
  EXPECT_EQ(Items(list), (std::vector<std::wstring>{kWide, L"zweite Zeile"}));
}

TEST(VelWideStrings, SavedFilesReadByHost) {
  TVelStringList list;
  list.Add(kWide);
  list.Add(L"zweite Zeile");
  list.SaveToFile(Widen(tq::WorkFile("marked.txt")));
  std::string out;
  // The host checks the mark and decodes the rest; it prints the lines it found as UTF-8.
  const std::string check =
      "import sys; b=open(sys.argv[1],'rb').read(); assert b[:2]==b'\\xff\\xfe', b[:4]; "
      "sys.stdout.write(b[2:].decode('utf-16-le').replace('\\r\\n','|'))";
  ASSERT_EQ(tq::RunHost("/usr/bin/python3 -c " + tq::ShellQuote(check) + " marked.txt", &out), 0) << out;
  EXPECT_EQ(out, std::string(kWideUtf8) + "|zweite Zeile|");

  // The abstract list's own save writes no mark.
  TVelFileStream stream(Widen(tq::WorkFile("plain.txt")), vfmCreate);
  list.TWideStrings::SaveToStream(&stream);
  const std::string plain =
      "import sys; sys.stdout.write(open(sys.argv[1],'rb').read().decode('utf-16-le').replace('\\r\\n','|'))";
  ASSERT_EQ(tq::RunHost("/usr/bin/python3 -c " + tq::ShellQuote(plain) + " plain.txt", &out), 0) << out;
  EXPECT_EQ(out, std::string(kWideUtf8) + "|zweite Zeile|");

  // And read back: the marked file round-trips.
  TVelStringList back;
  back.LoadFromFile(Widen(tq::WorkFile("marked.txt")));
  EXPECT_TRUE(back.EqualsList(&list));
}

TEST(VelWideStrings, StreamsWithAndWithoutMarkDetection) {
  ui::TMemoryStream stream;
  const unsigned char utf8[] = {0xEF, 0xBB, 0xBF, 'h', 0xC3, 0xA9, '\n'};
  stream.WriteBuffer(utf8, sizeof utf8);
  TVelStringList list;
  stream.SetPosition(0);
  list.LoadFromStream(&stream);
  EXPECT_EQ(Items(list), std::vector<std::wstring>{L"h\x00E9"});
  // Without detection the same bytes are UTF-16 little-endian: 7 bytes are three code units.
  stream.SetPosition(0);
  list.LoadFromStreamWithMark(&stream, false);
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list[0], std::wstring(L"\xBBEF\x68BF\xA9C3"));
  // A stream shorter than any mark is 8-bit text and stays where it was.
  ui::TMemoryStream shortStream;
  shortStream.WriteBuffer("z", 1);
  shortStream.SetPosition(0);
  EXPECT_EQ(DetectStreamCharSet(&shortStream), wtcAnsi);
  EXPECT_EQ(shortStream.GetPosition(), 0);
}

TEST(VelWideStrings, AnsiViewConvertsEveryItem) {
  TVelStringList list;
  list.Add(L"\x263A" L"a");
  list.Add(L"plain");
  TAnsiStrings* view = list.AnsiStrings();
  EXPECT_EQ(view->Get(0), "?a");  // outside the code page: its default character
  EXPECT_EQ(view->GetTextStr(), "?a\r\nplain\r\n");
  view->Add("caf\xE9");
  EXPECT_EQ(list[2], L"caf\x00E9");

  ui::TMemoryStream stream;
  view->SaveToStreamInCodePage(&stream, CP_UTF8);
  stream.SetPosition(0);
  view->LoadFromStreamInCodePage(&stream, CP_UTF8);
  EXPECT_EQ(Items(list), (std::vector<std::wstring>{L"\x263A" L"a", L"plain", L"caf\x00E9"}));

  ui::TStringList ansi;
  ansi.Add("one");
  ansi.NameValueSeparator = ':';
  list.SetAnsiStrings(&ansi);
  EXPECT_EQ(Items(list), std::vector<std::wstring>{L"one"});
}

TEST(VelWideStrings, AssignsToAndFromEightBitLists) {
  ui::TStringList ansi;
  ansi.AddObject("x=1", &ansi);
  ansi.NameValueSeparator = ':';
  TVelStringList wide;
  // The 8-bit list's characters replace the values but leave the set flags: an unset separator
  // still reads as its default afterwards, a set one takes the source's.
  TVelStringList fresh;
  fresh.Assign(&ansi);
  EXPECT_EQ(fresh.NamePartSeparator(), L'=');
  wide.SetNamePartSeparator(L'#');
  wide.Assign(&ansi);
  EXPECT_EQ(Items(wide), std::vector<std::wstring>{L"x=1"});
  EXPECT_EQ(wide.GetObjectAt(0), &ansi);
  EXPECT_EQ(wide.NamePartSeparator(), L':');

  wide.Add(kWide);
  ui::TStringList back;
  back.Assign(&wide);
  ASSERT_EQ(back.Count(), 2);
  EXPECT_EQ(back.Get(0), "x=1");
  EXPECT_EQ(back.GetObject(0), &ansi);
  EXPECT_EQ(back.Get(1), WideToAnsi(kWide));
  EXPECT_EQ(back.NameValueSeparator, ':');

  TVelStringList copy;
  copy.Assign(&wide);
  EXPECT_TRUE(copy.EqualsList(&wide));
  EXPECT_THROW(wide.Assign(nullptr), ui::EConvertError);
}

TEST(VelWideStrings, FileStreamErrorsNameTheFile) {
  const std::wstring name = Widen(tq::WorkFile("none")) + L"\\\x263A.txt";
  try {
    TVelFileStream stream(name, ui::fmOpenRead);
    ADD_FAILURE() << "opened";
  } catch (const EWideFOpenError& e) {
    EXPECT_EQ(e.WideMessage().rfind(L"Cannot open file \"" + WideExpandFileName(name) + L"\". ", 0), 0u)
        << WideToUtf8(e.WideMessage());
  }
  for (uint16_t create : {uint16_t(vfmCreate), uint16_t(ui::fmCreate)}) {
    try {
      TVelFileStream stream(name, create);
      ADD_FAILURE() << "created";
    } catch (const EWideFCreateError& e) {
      EXPECT_EQ(e.WideMessage().rfind(L"Cannot create file \"", 0), 0u);
    }
  }
}

// ---- sorted list ----------------------------------------------------------------------------

TEST_F(VelStringListTest, SortedAdditionsFollowThePolicy) {
  struct Case {
    ui::TDuplicates policy;
    std::vector<std::wstring> items;
    int indexOfLast;  // -2: raises
  } cases[] = {
      {ui::dupIgnore, {L"a", L"b"}, 1},
      {ui::dupAccept, {L"a", L"B", L"b"}, 1},
      {ui::dupError, {L"a", L"b"}, -2},
  };
  for (const Case& c : cases) {
    TVelStringList l;
    l.SetSorted(true);
    l.Duplicates = c.policy;
    l.Add(L"b");
    l.Add(L"a");
    if (c.indexOfLast == -2) {
      try {
        l.Add(L"B");
        ADD_FAILURE() << "no error";
      } catch (const ui::EStringListError& e) {
        EXPECT_STREQ(e.what(), "String list does not allow duplicates");
      }
    } else {
      EXPECT_EQ(l.Add(L"B"), c.indexOfLast) << c.policy;
    }
    EXPECT_EQ(Items(l), c.items) << c.policy;
  }
}

TEST_F(VelStringListTest, ErrorsLeaveTheListUnchanged) {
  list.Add(L"x");
  struct Case {
    std::function<void()> call;
    const char* message;
  } cases[] = {
      {[&] { list.GetItemAt(-1); }, "List index out of bounds (-1)"},
      {[&] { list.GetItemAt(1); }, "List index out of bounds (1)"},
      {[&] { list.Insert(2, L"y"); }, "List index out of bounds (2)"},
      {[&] { list.ExchangeItems(0, 5); }, "List index out of bounds (5)"},
      {[&] { list.Delete(1); }, "List index out of bounds (1)"},
      {[&] {
         list.SetSorted(true);
         list.Insert(0, L"y");
       },
       "Operation not allowed on sorted list"},
  };
  for (const Case& c : cases) {
    try {
      c.call();
      ADD_FAILURE() << c.message;
    } catch (const ui::EStringListError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
    EXPECT_EQ(Items(list), std::vector<std::wstring>{L"x"});
  }
  list.SetSorted(false);
  list.Insert(1, L"y");  // at count: appends
  EXPECT_EQ(Items(list), (std::vector<std::wstring>{L"x", L"y"}));
}

TEST_F(VelStringListTest, SortsAndSearches) {
  list.SetWholeText(L"pear\nApple\nfig\ncherry\nbanana=1\nbanana");
  list.SortItems();
  EXPECT_EQ(Items(list), (std::vector<std::wstring>{L"Apple", L"banana", L"banana=1", L"cherry", L"fig", L"pear"}));
  list.SetSorted(true);
  EXPECT_EQ(list.IndexOf(L"FIG"), 4);
  EXPECT_EQ(list.IndexOf(L"kiwi"), -1);
  EXPECT_EQ(list.IndexOfNamePart(L"BANANA"), 2);
  EXPECT_EQ(list.IndexOfNamePart(L"fig"), -1);
  // A list marked sorted is not sorted again by a comparison of its own.
  list.SortWithComparer([](TVelStringList*, int a, int b) { return b - a; });
  EXPECT_EQ(list[0], L"Apple");
  list.SetCaseSensitive(true);
  EXPECT_EQ(list.IndexOf(L"FIG"), -1);
}

TEST_F(VelStringListTest, NotificationsAndCapacity) {
  std::vector<std::string> calls;
  list.OnChanging = [&](ui::TObject*) { calls.push_back("changing"); };
  list.OnChange = [&](ui::TObject*) { calls.push_back("change"); };
  list.Add(L"a");
  EXPECT_EQ(calls, (std::vector<std::string>{"changing", "change"}));
  calls.clear();
  list.BeginChanges();
  list.Add(L"b");
  list.BeginChanges();
  list.Delete(0);
  list.EndChanges();
  EXPECT_EQ(calls, std::vector<std::string>{"changing"});
  list.EndChanges();
  EXPECT_EQ(calls, (std::vector<std::string>{"changing", "change"}));

  TVelStringList grow;
  std::vector<int> capacities{grow.GetItemCapacity()};
  for (int i = 0; i < 77; ++i) {
    grow.Add(L"s");
    if (grow.GetItemCapacity() != capacities.back()) capacities.push_back(grow.GetItemCapacity());
  }
  EXPECT_EQ(capacities, (std::vector<int>{0, 4, 8, 12, 28, 44, 60, 76, 95}));
}

// ---- wide properties in form files ----------------------------------------------------------

// A component with a wide string, a wide character (declared default "*") and a wide list.
class TWidePropsHolder : public ui::TComponent {
  UI_DECLARE_CLASS(TWidePropsHolder, ui::TComponent)
 public:
  TWidePropsHolder() = default;
  ~TWidePropsHolder() override { delete lines_; }
  std::wstring GetCaption() const { return caption_; }
  void SetCaption(const std::wstring& s) { caption_ = s; }
  wchar_t GetMark() const { return mark_; }
  void SetMark(wchar_t c) { mark_ = c; }
  TVelStringList* GetLines() const { return lines_; }
  void DefineProperties(ui::TFiler* filer) override {
    inherited::DefineProperties(filer);
    DefineWidePropertyFilers(filer, this);
  }

 private:
  std::wstring caption_;
  wchar_t mark_ = L'*';
  TVelStringList* lines_ = new TVelStringList;
};

static std::vector<ui::TPropInfo> HolderProps() {
  using T = TWidePropsHolder;
  return {ui::prop::WStr("Caption", &T::GetCaption, &T::SetCaption),
          ui::prop::Char<T, wchar_t>("Mark", &T::GetMark, &T::SetMark, true, L'*'),
          ui::prop::Object<T, TVelStringList>("Lines", &T::GetLines, nullptr)};
}
UI_IMPLEMENT_CLASS(TWidePropsHolder, ui::TComponent, ui::DefaultFactory<TWidePropsHolder>, HolderProps, nullptr, nullptr)

namespace {

// Builds a layout stream of one TWidePropsHolder whose properties `write` puts in.
class HolderStream {
 public:
  explicit HolderStream(const std::function<void(ui::TWriter&)>& write) {
    ui::TWriter w(&stream_);
    w.WriteSignature();
    w.WriteStr("TWidePropsHolder");
    w.WriteStr("Holder");
    write(w);
    w.WriteListEnd();  // properties
    w.WriteListEnd();  // children
  }
  // Reads the stream into a new holder (the caller frees it).
  TWidePropsHolder* Read() {
    auto* holder = ui::New<TWidePropsHolder>(nullptr);
    stream_.SetPosition(0);
    try {
      ui::ReadComponentFromStream(&stream_, holder);
    } catch (...) {
      holder->Free();
      throw;
    }
    return holder;
  }

 private:
  ui::TMemoryStream stream_;
};

std::string Written(TWidePropsHolder* holder) {
  ui::TMemoryStream s;
  ui::WriteComponentToStream(&s, holder);
  return std::string(static_cast<const char*>(s.Memory()), static_cast<size_t>(s.GetSize()));
}

// The bytes of a property record: its name as a short string, then the value.
std::string PropRecord(const std::string& name, const std::string& value) {
  return std::string(1, static_cast<char>(name.size())) + name + value;
}

TEST(FormFileWideProperties, WAndUtf7OfAWideStringAreReadAndDropped) {
  HolderStream stream([](ui::TWriter& w) {
    w.WriteStr("CaptionW");
    w.WriteString(WideToUtf8(L"from W"));
    w.WriteStr("Caption");
    w.WriteWideString(kWide);
    w.WriteStr("Caption_UTF7");
    w.WriteString(WideToUtf7(L"from UTF-7"));
  });
  TWidePropsHolder* holder = stream.Read();
  EXPECT_EQ(holder->GetCaption(), kWide);
  // Neither is written back.
  EXPECT_EQ(Written(holder).find("CaptionW"), std::string::npos);
  EXPECT_EQ(Written(holder).find("Caption_UTF7"), std::string::npos);
  holder->Free();
}

TEST(FormFileWideProperties, WideCharacterWrittenAsWAndReadBack) {
  TWidePropsHolder* holder = ui::New<TWidePropsHolder>(nullptr);
  holder->SetMark(L'\x263A');
  const std::string bytes = Written(holder);
  EXPECT_NE(bytes.find(PropRecord("MarkW", std::string("\x12\x01\x00\x00\x00\x3A\x26", 7))), std::string::npos);
  ui::TMemoryStream s;
  s.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  s.SetPosition(0);
  TWidePropsHolder* back = ui::New<TWidePropsHolder>(nullptr);
  ui::ReadComponentFromStream(&s, back);
  EXPECT_EQ(back->GetMark(), L'\x263A');
  back->Free();
  // At its declared default it is not written; character 0 is.
  holder->SetMark(L'*');
  EXPECT_EQ(Written(holder).find("MarkW"), std::string::npos);
  holder->SetMark(0);
  EXPECT_NE(Written(holder).find(PropRecord("MarkW", std::string("\x12\x01\x00\x00\x00\x00\x00", 7))), std::string::npos);
  holder->Free();
}

TEST(FormFileWideProperties, WideCharacterValues) {
  struct Case {
    const char* name;
    std::function<void(ui::TWriter&)> value;
    wchar_t expected;  // 0xFFFF: a read error
  };
  const Case kCases[] = {
      {"MarkW", [](ui::TWriter& w) { w.WriteString("x"); }, L'x'},
      {"MarkW", [](ui::TWriter& w) { w.WriteWideString(L"\x4E2D"); }, L'\x4E2D'},
      {"MarkW", [](ui::TWriter& w) { w.WriteString(""); }, 0},
      {"MarkW", [](ui::TWriter& w) { w.WriteString("ab"); }, 0xFFFF},
      {"MarkW", [](ui::TWriter& w) { w.WriteInteger(65); }, 0xFFFF},
      {"Mark_UTF7", [](ui::TWriter& w) { w.WriteString("+Jjo-"); }, L'\x263A'},
      {"Mark_UTF7", [](ui::TWriter& w) { w.WriteString("q+Jjo-"); }, L'q'},
      {"Mark_UTF7", [](ui::TWriter& w) { w.WriteString(""); }, 0},
  };
  for (const Case& c : kCases) {
    HolderStream stream([&](ui::TWriter& w) {
      w.WriteStr(c.name);
      c.value(w);
    });
    if (c.expected == 0xFFFF) {
      EXPECT_THROW(stream.Read(), ui::EReadError) << c.name;
      continue;
    }
    TWidePropsHolder* holder = stream.Read();
    EXPECT_EQ(holder->GetMark(), c.expected) << c.name;
    holder->Free();
  }
  HolderStream badUtf7([](ui::TWriter& w) {
    w.WriteStr("Mark_UTF7");
    w.WriteString("+&");
  });
  EXPECT_THROW(badUtf7.Read(), EVelGeneralError);
}

TEST(FormFileWideProperties, WideStringLists) {
  const auto list = [](ui::TWriter& w, std::vector<std::string> items) {
    w.WriteListBegin();
    for (const std::string& item : items) w.WriteString(item);
    w.WriteListEnd();
  };
  struct Case {
    const char* what;
    std::function<void(ui::TWriter&)> props;
    std::vector<std::wstring> items;
  };
  const Case kCases[] = {
      {"8-bit text", [](ui::TWriter& w) { w.WriteStr("Lines.Strings"); w.WriteString("a\r\nb"); }, {L"a", L"b"}},
      {"wide text", [](ui::TWriter& w) { w.WriteStr("Lines.Strings"); w.WriteWideString(kWide + L"\r\nx"); },
       {kWide, L"x"}},
      {"mixed list",
       [](ui::TWriter& w) {
         w.WriteStr("Lines.Strings");
         w.WriteListBegin();
         w.WriteString("caf\xE9");
         w.WriteWideString(kWide);
         w.WriteListEnd();
       },
       {L"caf\xE9", kWide}},
      {"WideStrings like Strings", [](ui::TWriter& w) { w.WriteStr("Lines.WideStrings"); w.WriteWideString(L"p\nq"); },
       {L"p", L"q"}},
      {"WideStringsW fills an empty list",
       [&](ui::TWriter& w) { w.WriteStr("Lines.WideStringsW"); list(w, {kWideUtf8, "z"}); }, {kWide, L"z"}},
      {"WideStringsW ignored after Strings",
       [&](ui::TWriter& w) {
         w.WriteStr("Lines.Strings");
         w.WriteString("kept");
         w.WriteStr("Lines.WideStringsW");
         list(w, {"dropped"});
       },
       {L"kept"}},
      {"WideStrings_UTF7 dropped", [&](ui::TWriter& w) { w.WriteStr("Lines.WideStrings_UTF7"); list(w, {"+Jjo-"}); },
       {}},
  };
  for (const Case& c : kCases) {
    HolderStream stream(c.props);
    TWidePropsHolder* holder = stream.Read();
    EXPECT_EQ(Items(*holder->GetLines()), c.items) << c.what;
    holder->Free();
  }
}

TEST(FormFileWideProperties, StringsWrittenAsWideListAndReadBack) {
  TWidePropsHolder* holder = ui::New<TWidePropsHolder>(nullptr);
  EXPECT_EQ(Written(holder).find("Lines.Strings"), std::string::npos);  // nothing to write
  holder->GetLines()->Add(kWide);
  holder->GetLines()->Add(L"");
  const std::string bytes = Written(holder);
  EXPECT_EQ(bytes.find("Lines.WideStrings"), std::string::npos);
  ui::TMemoryStream s;
  s.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  s.SetPosition(0);
  TWidePropsHolder* back = ui::New<TWidePropsHolder>(nullptr);
  ui::ReadComponentFromStream(&s, back);
  EXPECT_EQ(Items(*back->GetLines()), (std::vector<std::wstring>{kWide, L""}));
  back->Free();
  holder->Free();
}

}  // namespace
