// The binary presentation reader on files built here from the format's published structure (and
// checked by the host's own compound-file reader), and on damaged ones.
#include "ppt_reader.h"

#include <gtest/gtest.h>

#include <random>

#include "compound_file.h"
#include "gdiplus_session.h"
#include "hostenv.h"
#include "metafile_probe.h"
#include "ppt_builder.h"
#include "slide_painter.h"

using namespace presenter;
using namespace presenter_test;

namespace {

const std::vector<PptSlide> kSlides = {
    {L"Quarterly \u00fcbersicht \u2713", "first body line\rsecond line", L"drawn note"},
    {L"Second", "", L""},
    {L"", "", L"only drawing text"},
};

std::vector<std::wstring> TextsOf(const SlideModel& s) {
  std::vector<std::wstring> t;
  for (const ShapeModel& m : s.shapes)
    for (const TextParagraph& p : m.paragraphs) t.push_back(p.text);
  return t;
}

}  // namespace

TEST(PptReader, ReadsSlideSizeListAndTexts) {
  // Padding pushes the document stream past the mini-stream cutoff; without it the stream lives
  // in the mini stream. Both must read the same.
  for (size_t padding : {size_t(0), size_t(6000)}) {
    const std::string file = BuildPpt(PptDocument(kSlides, 5760, 3240, padding));
    Deck deck;
    std::string error;
    ASSERT_TRUE(LoadDeckFromBytes(file, deck, error)) << error;
    EXPECT_EQ(deck.cx, 9144000);
    EXPECT_EQ(deck.cy, 5143500);
    ASSERT_EQ(deck.slides.size(), 3u);
    EXPECT_EQ(TextsOf(deck.slides[0]),
              (std::vector<std::wstring>{L"Quarterly \u00fcbersicht \u2713", L"first body line\nsecond line",
                                         L"drawn note"}));
    EXPECT_TRUE(deck.slides[0].shapes[0].isTitle);
    EXPECT_EQ(TextsOf(deck.slides[1]), std::vector<std::wstring>{L"Second"});
    EXPECT_EQ(TextsOf(deck.slides[2]), std::vector<std::wstring>{L"only drawing text"});
  }
}

// The host's compound-file reader sees the streams of a file built here, so the reader above is
// checked against the real format, not only against this test's writer.
TEST(PptReader, HostReadsTheBuiltCompoundFile) {
  const PptStreams s = PptDocument(kSlides, 5760, 4320, 6000);
  const std::string file = BuildPpt(s);
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("built.ppt"), file.data(), file.size()));
  std::string out;
  ASSERT_EQ(tq::RunHost("/usr/bin/python3 -c \""
                        "import olefile\n"
                        "o = olefile.OleFileIO('built.ppt')\n"
                        "for e in sorted(o.listdir()): print('/'.join(e), o.get_size('/'.join(e)))\n"
                        "print(o.openstream('PowerPoint Document').read()[6000:6016].hex())\"",
                        &out),
            0)
      << out;
  const std::string expect = "Current User " + std::to_string(s.currentUser.size()) + "\nPowerPoint Document " +
                             std::to_string(s.document.size()) + "\n";
  EXPECT_EQ(out.substr(0, expect.size()), expect) << out;
  CompoundFile cfb;
  std::string error, doc;
  ASSERT_TRUE(cfb.Open(file, error)) << error;
  ASSERT_TRUE(cfb.ReadStream(L"powerpoint document", doc, error)) << error;
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (size_t i = 6000; i < 6016; i++) {
    hex += kHex[uint8_t(doc[i]) >> 4];
    hex += kHex[uint8_t(doc[i]) & 15];
  }
  EXPECT_NE(out.find(hex), std::string::npos) << out;
}

// A later edit's persist directory replaces a slide; older edits only fill the gaps.
TEST(PptReader, NewestUserEditWins) {
  PptStreams s = PptDocument(kSlides);
  AppendEdit(s, 3, SlideContainer(L"edited later"));
  Deck deck;
  std::string error;
  ASSERT_TRUE(LoadDeckFromBytes(BuildPpt(s), deck, error)) << error;
  ASSERT_EQ(deck.slides.size(), 3u);
  EXPECT_EQ(TextsOf(deck.slides[1]), (std::vector<std::wstring>{L"Second", L"edited later"}));
  EXPECT_EQ(TextsOf(deck.slides[0]).back(), L"drawn note");
}

TEST(PptReader, RefusesDamagedFiles) {
  const PptStreams good = PptDocument(kSlides, 5760, 4320, 6000);
  CfbLayout layout;
  const std::string goodFile = BuildCompoundFile({{L"Current User", good.currentUser}, {L"PowerPoint Document", good.document}}, &layout);
  struct Case {
    const char* what;
    std::string file;
    const char* expect;
  };
  auto withUser = [&](const std::string& user) {
    return BuildCompoundFile({{L"Current User", user}, {L"PowerPoint Document", good.document}});
  };
  auto patched = [&](size_t at, uint32_t v) {
    std::string f = goodFile;
    PatchU32(f, at, v);
    return f;
  };
  PptStreams loop = PptDocument(kSlides);
  PatchU32(loop.document, loop.lastEdit + 8 + 8, loop.lastEdit);  // previous edit = itself
  PptStreams flat = PptDocument(kSlides, 0, 4320);
  PptStreams badPersist = PptDocument(kSlides);
  const size_t dirAt = badPersist.document.find(PersistDirectory(1, {0}).substr(0, 2) + std::string("\x72\x17", 2));
  ASSERT_NE(dirAt, std::string::npos);
  PatchU32(badPersist.document, dirAt + 8, 1 | 4000u << 20);  // claims 4000 offsets
  const Case cases[] = {
      {"encrypted", withUser(CurrentUser(good.lastEdit, 0xF3D1C4DF)), "encrypted"},
      {"bad current user", withUser(CurrentUser(good.lastEdit, 0x12345678)), "current-user"},
      {"edit offset wrong", withUser(CurrentUser(3)), "user edit"},
      {"edit chain loops", BuildPpt(loop), "loops"},
      {"persist directory overruns", BuildPpt(badPersist), "persist directory"},
      {"slide size zero", BuildPpt(flat), "slide size"},
      {"no document stream", BuildCompoundFile({{L"WordDocument", std::string(5000, 'w')}}), "not a presentation"},
      {"sector size", patched(0x1C, 0xFFFE | 10u << 16), "header"},
      {"FAT count", patched(0x2C, 0x7FFFFFFF), "FAT sectors"},
      {"FAT sector outside", patched(0x4C, 0x00FFFFFF), "beyond the end"},
      {"directory chain loops", patched(512 + 4 * layout.directorySector, layout.directorySector), "loops"},
      {"directory start outside", patched(0x30, 0x00FFFFF0), "outside"},
      {"mini FAT count", patched(0x40, 0x7FFFFFFF), "mini FAT"},
      {"stream size huge", patched(512 + 512 * layout.fatSectors + 2 * 128 + 0x78, 0x7FFFFFFF), "larger than the file"},
      {"stream size beyond chain", patched(512 + 512 * layout.fatSectors + 2 * 128 + 0x78,
                                          uint32_t((good.document.size() + 511) / 512 * 512 + 1)),
       "shorter"},
      {"truncated header", goodFile.substr(0, 300), "not a compound file"},
  };
  for (const Case& c : cases) {
    Deck deck;
    std::string error;
    EXPECT_FALSE(LoadDeckFromBytes(c.file, deck, error)) << c.what;
    EXPECT_NE(error.find(c.expect), std::string::npos) << c.what << ": " << error;
  }
}

TEST(PptReader, SurvivesTruncationAndBitFlips) {
  PptStreams s = PptDocument(kSlides, 5760, 4320, 6000);
  AppendEdit(s, 2, SlideContainer(L"again"));
  const std::string good = BuildPpt(s);
  for (size_t n = 0; n < good.size(); n += 7) {
    Deck deck;
    std::string error;
    LoadDeckFromBytes(good.substr(0, n), deck, error);
  }
  std::mt19937 rng(5);
  for (int round = 0; round < 3000; round++) {
    std::string f = good;
    for (int k = 0; k < 1 + round % 5; k++) f[rng() % f.size()] = char(rng());
    Deck deck;
    std::string error;
    LoadDeckFromBytes(f, deck, error);
  }
  SUCCEED();
}

// The slides' texts are drawn: the title band of a slide with a title has dark text pixels, the
// same band of a slide without text has none.
TEST(PptReader, ExportDrawsTheTexts) {
  GdiplusSession gdiplus;
  const std::string file = BuildPpt(PptDocument({{L"WWWWWWWW", "", L""}, {L"", "", L""}}));
  Deck deck;
  std::string error;
  ASSERT_TRUE(LoadDeckFromBytes(file, deck, error)) << error;
  int dark[2] = {0, 0};
  for (size_t slide = 0; slide < 2; slide++) {
    const std::wstring path = std::wstring(L"ppt") + wchar_t(L'1' + slide) + L".emf";
    const std::string work = tq::WorkFile("ppt" + std::to_string(slide + 1) + ".emf");
    ASSERT_TRUE(ExportSlide(deck, slide, std::wstring(work.begin(), work.end()), MetafileFormat::Emf, 640, 480, error))
        << error;
    const Playback p = PlayMetafile(std::wstring(work.begin(), work.end()), 640, 480);
    ASSERT_TRUE(p.loaded);
    for (int y = 30; y < 115; y++)
      for (int x = 40; x < 600; x++) dark[slide] += GetRValue(p.At(x, y)) < 100;
  }
  EXPECT_GT(dark[0], 200);
  EXPECT_EQ(dark[1], 0);
}
