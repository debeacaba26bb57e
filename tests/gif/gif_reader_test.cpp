// The GIF reader: files written by other tools (netpbm, PIL) read into the object model, and the
// reader's handling of odd and damaged streams.
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "gifextension.h"
#include "giftesthelp.h"

using giftest::WarningLog;

namespace {

std::unique_ptr<TGIFImage> Load(const std::vector<uint8_t>& bytes, WarningLog* log = nullptr) {
  auto image = std::make_unique<TGIFImage>();
  if (log) log->Attach(*image);
  TGIFMemoryStream s(bytes);
  image->LoadFromStream(s);
  return image;
}

// RGB bytes of a frame through its active colour map.
std::vector<uint8_t> FrameRGB(TGIFSubImage& frame) {
  std::vector<uint8_t> rgb;
  TGIFColorMap& map = frame.ActiveColorMap();
  for (uint8_t p : frame.Pixels()) {
    const uint32_t c = map.ColorAt(p);
    rgb.push_back(uint8_t(c));
    rgb.push_back(uint8_t(c >> 8));
    rgb.push_back(uint8_t(c >> 16));
  }
  return rgb;
}

template <class T>
T* FindExtension(TGIFSubImage& frame) {
  for (const auto& e : frame.Extensions())
    if (auto* t = dynamic_cast<T*>(e.get())) return t;
  return nullptr;
}

// A 1 x 1 frame of `image` (not yet added) with a one-colour local map.
std::unique_ptr<TGIFSubImage> PixelFrame(TGIFImage& image) {
  auto frame = std::make_unique<TGIFSubImage>(&image);
  frame->SetFrameBounds(0, 0, 1, 1);
  frame->ColorMap().AppendColor(0);
  return frame;
}

// A small GIF of our own with a global map (the starting point of hand-made damage).
std::vector<uint8_t> SmallGif(int w, int h, bool interlaced = false) {
  TGIFImage image;
  for (int i = 0; i < 4; ++i) image.GlobalColorMap().AppendColor(GIFColorValue(uint8_t(50 * i), 9, 9));
  auto frame = std::make_unique<TGIFSubImage>(&image);
  frame->SetFrameBounds(0, 0, w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) frame->PixelRow(y)[x] = uint8_t((x / 3 + y) % 4);
  frame->SetInterlaced(interlaced);
  image.AddFrame(std::move(frame));
  return giftest::SaveBytes(image);
}

const char kMakePpm[] =
    "import random\n"
    "random.seed(5)\n"
    "w, h = 131, 83\n"
    "cols = [(random.randrange(256), random.randrange(256), random.randrange(256)) for _ in range(150)]\n"
    "cols[3] = (10, 200, 30)\n"
    "px = bytes(b for y in range(h) for x in range(w) for b in cols[(x * 7 // 5 + y * y) % 150])\n"
    "open('src.ppm', 'wb').write(b'P6 %d %d 255\\n' % (w, h) + px)\n"
    "open('src.rgb', 'wb').write(px)\n";

}  // namespace

// netpbm's encoder: plain, interlaced, sorted map, comment, transparency, its LZW-less coder and
// its coder that never clears the table.
TEST(GifReader, ReadsNetpbmFiles) {
  ASSERT_EQ(giftest::RunPython(kMakePpm), 0);
  const std::vector<uint8_t> rgb = giftest::ReadWorkFile("src.rgb");
  struct Case {
    const char* command;
    bool interlaced, comment, transparent;
  };
  const Case kCases[] = {{"ppmtogif", false, false, false},
                         {"ppmtogif -interlace", true, false, false},
                         {"ppmtogif -sort", false, false, false},
                         {"ppmtogif -nolzw", false, false, false},
                         {"pamtogif -noclear", false, false, false},  // the code table fills and stays full
                         {"ppmtogif -comment=made-by-netpbm -transparent==rgb:0a/c8/1e", false, true, true}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.command);
    ASSERT_EQ(tq::RunHost(std::string(c.command) + " src.ppm > netpbm.gif 2>/dev/null"), 0);
    WarningLog log;
    auto image = Load(giftest::ReadWorkFile("netpbm.gif"), &log);
    EXPECT_TRUE(log.messages.empty()) << log.messages.front();
    ASSERT_EQ(image->Images().Count(), 1);
    TGIFSubImage& frame = image->Images()[0];
    EXPECT_EQ(frame.Width(), 131);
    EXPECT_EQ(frame.Height(), 83);
    EXPECT_EQ(frame.Interlaced(), c.interlaced);
    EXPECT_TRUE(FrameRGB(frame) == rgb);
    auto* comment = FindExtension<TGIFCommentExtension>(frame);
    EXPECT_EQ(comment != nullptr, c.comment);
    if (comment) {
      EXPECT_EQ(comment->Lines, TGIFLines{"made-by-netpbm"});
    }
    EXPECT_EQ(frame.Transparent(), c.transparent);
    if (c.transparent) {
      ASSERT_NE(frame.GraphicControlExtension(), nullptr);
      EXPECT_EQ(frame.ActiveColorMap().ColorAt(frame.GraphicControlExtension()->TransparentColorIndex()),
                GIFColorValue(10, 200, 30));
    }
  }
}

// PIL's encoder: an animation with local maps, loop count, delays, a comment and transparency,
// and a single frame on a global map.
TEST(GifReader, ReadsPilAnimationAndGlobalMap) {
  ASSERT_EQ(giftest::RunPython(
                "from PIL import Image\n"
                "w, h = 40, 30\n"
                "frames = []\n"
                "for k in range(3):\n"
                "  im = Image.new('P', (w, h))\n"
                "  pal = []\n"
                "  for i in range(256): pal += [(i * 3 + 80 * k) % 256, (i * 7 + k) % 256, (17 * k + i) % 256]\n"
                "  im.putpalette(pal)\n"
                "  im.putdata([(x * (k + 1) + y * 3 + k * 5) % 200 + 1 for y in range(h) for x in range(w)])\n"
                "  frames.append(im)\n"
                "  open('pil%d.rgb' % k, 'wb').write(im.convert('RGB').tobytes())\n"
                "frames[0].save('anim.gif', save_all=True, append_images=frames[1:], duration=[100, 200, 300],\n"
                "               loop=0, comment=b'hello pil', optimize=False, disposal=1, transparency=1)\n"
                "g = Image.new('P', (33, 20)); g.putpalette([i for i in range(256) for _ in range(3)][:48])\n"
                "g.putdata([(x + y) % 16 for y in range(20) for x in range(33)]); g.save('global.gif')\n"),
            0);
  WarningLog log;
  auto image = Load(giftest::ReadWorkFile("anim.gif"), &log);
  EXPECT_TRUE(log.messages.empty());
  ASSERT_EQ(image->Images().Count(), 3);
  EXPECT_EQ(image->Width(), 40);
  EXPECT_EQ(image->Height(), 30);
  for (int k = 0; k < 3; ++k) {
    SCOPED_TRACE(k);
    TGIFSubImage& frame = image->Images()[k];
    std::vector<uint8_t> rgb = FrameRGB(frame);
    const std::vector<uint8_t> expected = giftest::ReadWorkFile("pil" + std::to_string(k) + ".rgb");
    if (frame.Width() == 40 && frame.Height() == 30) {
      EXPECT_TRUE(rgb == expected);
    } else {
      ADD_FAILURE() << "frame cropped to " << frame.Width() << "x" << frame.Height();
    }
    ASSERT_NE(frame.GraphicControlExtension(), nullptr);
    EXPECT_EQ(frame.GraphicControlExtension()->Delay(), 10 * (k + 1));
    EXPECT_TRUE(frame.Transparent());
    EXPECT_EQ(frame.GraphicControlExtension()->TransparentColorIndex(), 1);
  }
  auto* loop = FindExtension<TGIFAppExtNSLoop>(image->Images()[0]);
  ASSERT_NE(loop, nullptr);
  EXPECT_EQ(loop->Loops, 0);
  bool comment = false;
  for (int k = 0; k < 3; ++k)
    if (auto* c = FindExtension<TGIFCommentExtension>(image->Images()[k])) comment = c->Lines == TGIFLines{"hello pil"};
  EXPECT_TRUE(comment);

  auto single = Load(giftest::ReadWorkFile("global.gif"));
  ASSERT_EQ(single->Images().Count(), 1);
  TGIFSubImage& frame = single->Images()[0];
  EXPECT_EQ(frame.ColorMap().Count(), 0);
  EXPECT_GE(single->GlobalColorMap().Count(), 16);
  EXPECT_EQ(&frame.ActiveColorMap(), &single->GlobalColorMap());
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 33; ++x) ASSERT_EQ(frame.PixelAt(x, y), (x + y) % 16) << x << "," << y;
}

// What we write, read back, is what we wrote (after the host decoders vouched for the writer).
TEST(GifReader, RoundTripKeepsModel) {
  for (bool interlaced : {false, true}) {
    const std::vector<uint8_t> bytes = SmallGif(13, 11, interlaced);
    auto image = Load(bytes);
    ASSERT_EQ(image->Images().Count(), 1);
    EXPECT_EQ(image->Images()[0].Interlaced(), interlaced);
    for (int y = 0; y < 11; ++y)
      for (int x = 0; x < 13; ++x) ASSERT_EQ(image->Images()[0].PixelAt(x, y), (x / 3 + y) % 4);
    EXPECT_TRUE(giftest::SaveBytes(*image) == bytes);
  }
}

TEST(GifReader, LenientHeaderAndBlocks) {
  const std::vector<uint8_t> good = SmallGif(5, 3);
  {  // four bytes of anything before the signature; any version letters
    std::vector<uint8_t> b = {1, 2, 3, 4};
    b.insert(b.end(), good.begin(), good.end());
    b[7] = 'x'; b[8] = 'y'; b[9] = 'z';
    auto image = Load(b);
    EXPECT_EQ(image->Images().Count(), 1);
  }
  {  // not a GIF at all
    std::vector<uint8_t> b(good);
    b[0] = 'P';
    TGIFImage image;
    TGIFMemoryStream s(b);
    s.SetPosition(0);
    try {
      image.LoadFromStream(s);
      FAIL();
    } catch (const GIFException& e) {
      EXPECT_STREQ(e.what(), "Invalid GIF signature");
    }
    EXPECT_EQ(s.Position(), 0u);
  }
  {  // a stray byte where a block should start: the frames before it stay
    std::vector<uint8_t> b(good.begin(), good.end() - 1);
    b.push_back('X');
    WarningLog log;
    auto image = Load(b, &log);
    EXPECT_EQ(image->Images().Count(), 1);
    EXPECT_TRUE(log.Has("Unknown GIF block type"));
    EXPECT_TRUE(log.Has("Invalid Image trailer"));
  }
  {  // extensions after the last image become a frame without pixels; NETSCAPE loop 0
    std::vector<uint8_t> b(good.begin(), good.end() - 1);
    const uint8_t ext[] = {0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3, 1, 0, 0, 0, 0x3B};
    b.insert(b.end(), ext, ext + sizeof ext);
    auto image = Load(b);
    ASSERT_EQ(image->Images().Count(), 2);
    EXPECT_TRUE(image->Images()[1].Empty());
    auto* loop = FindExtension<TGIFAppExtNSLoop>(image->Images()[1]);
    ASSERT_NE(loop, nullptr);
    EXPECT_EQ(loop->Loops, 0);
  }
  {  // a descriptor of width 0 takes the logical screen's size
    std::vector<uint8_t> b(good);
    const size_t desc = 13 + 12;
    ASSERT_EQ(b[desc], 0x2C);
    b[desc + 5] = 0;
    b[desc + 6] = 0;
    WarningLog log;
    auto image = Load(b, &log);
    ASSERT_EQ(image->Images().Count(), 1);
    EXPECT_EQ(image->Images()[0].Width(), 5);
    EXPECT_TRUE(log.Has("Image exceeds Logical Screen size"));
  }
}

// A file cut inside the image data keeps the pixels decoded before the cut and warns; the rest
// of the frame holds the transparent index (or 0).
TEST(GifReader, TruncationKeepsDecodedPixels) {
  TGIFImage source;
  auto frame = std::make_unique<TGIFSubImage>(&source);
  frame->SetFrameBounds(0, 0, 64, 64);
  for (int i = 0; i < 256; ++i) frame->ColorMap().AppendColor(GIFColorValue(uint8_t(i), 0, 0));
  for (size_t i = 0; i < frame->Pixels().size(); ++i) frame->Pixels()[i] = uint8_t((i * 37 + i / 64) % 255);
  auto gce = std::make_unique<TGIFGraphicControlExtension>(frame.get());
  gce->SetTransparent(true);
  gce->SetTransparentColorIndex(255);
  frame->AddExtension(std::move(gce));
  const std::vector<uint8_t> expected = frame->Pixels();
  source.AddFrame(std::move(frame));
  const std::vector<uint8_t> full = giftest::SaveBytes(source);
  for (size_t cut : {full.size() / 2, full.size() - 40, full.size() - 3}) {
    SCOPED_TRACE(cut);
    WarningLog log;
    auto image = Load(std::vector<uint8_t>(full.begin(), full.begin() + long(cut)), &log);
    ASSERT_EQ(image->Images().Count(), 1);
    const std::vector<uint8_t>& got = image->Images()[0].Pixels();
    ASSERT_EQ(got.size(), expected.size());
    size_t decoded = 0;
    while (decoded < got.size() && got[decoded] == expected[decoded]) ++decoded;
    EXPECT_GT(decoded, 0u);
    for (size_t i = decoded; i < got.size(); ++i) ASSERT_EQ(got[i], 255) << i;
    EXPECT_TRUE(log.Has("Premature end of data") || log.Has("Decoder bit buffer under-run"));
  }
}

// Corrupt data: codes beyond the next free code, a code size no GIF can have, and a frame far
// larger than its data could fill.
TEST(GifReader, CorruptDataIsRefusedSoundly) {
  const std::vector<uint8_t> good = SmallGif(40, 30);
  const size_t codeSizePos = 13 + 12 + 10;
  {  // 3-bit codes 4 (clear), 0, then 7 while the next free code is 6
    std::vector<uint8_t> b(good.begin(), good.begin() + long(codeSizePos) + 1);
    const uint8_t data[] = {2, 0x04 | (0 << 3) | ((7 << 6) & 0xFF), 7 >> 2, 0, 0x3B};
    b.insert(b.end(), data, data + sizeof data);
    WarningLog log;
    auto image = Load(b, &log);
    ASSERT_EQ(image->Images().Count(), 1);
    EXPECT_EQ(image->Images()[0].Pixels()[0], 0);
    EXPECT_TRUE(log.Has("Invalid GIF data"));
  }
  {  // code size 12
    std::vector<uint8_t> b(good);
    b[codeSizePos] = 12;
    WarningLog log;
    auto image = Load(b, &log);
    EXPECT_EQ(image->Images().Count(), 1);
    EXPECT_TRUE(log.Has("Invalid GIF data"));
  }
  {  // 65535 x 65535 pixels announced with a few bytes of data
    std::vector<uint8_t> b(good);
    for (size_t i : {13u + 12 + 5, 13u + 12 + 6, 13u + 12 + 7, 13u + 12 + 8}) b[i] = 0xFF;
    TGIFImage image;
    TGIFMemoryStream s(b);
    try {
      image.LoadFromStream(s);
      FAIL();
    } catch (const GIFException& e) {
      EXPECT_STREQ(e.what(), "Image dimensions exceed the data");
    }
    EXPECT_EQ(image.Images().Count(), 0);
  }
  {  // pixel values beyond the colour map are bounded when looked up
    auto image = Load(good);
    TGIFSubImage& frame = image->Images()[0];
    WarningLog log;
    log.Attach(*image);
    frame.Pixels()[0] = 200;
    EXPECT_EQ(frame.ActiveColorMap().ColorAt(frame.Pixels()[0]), frame.ActiveColorMap().ColorAt(0));
    EXPECT_TRUE(log.Has("Invalid color index"));
  }
}

namespace {

// An application extension of a program's own: its one data sub-block is a text.
class TTextAppExtension : public TGIFApplicationExtension {
 public:
  static const TGIFExtensionClass Class;
  explicit TTextAppExtension(TGIFSubImage* frame) : TGIFApplicationExtension(frame) {
    std::memcpy(Identifier.data(), "TQTEXTAP1.0", 11);
  }
  std::string Text;

 protected:
  void SaveApplicationData(TGIFByteStream& stream) override {
    WriteStreamByte(stream, uint8_t(Text.size()));
    stream.Write(Text.data(), Text.size());
    WriteStreamByte(stream, 0);
  }
  void LoadApplicationData(TGIFByteStream& stream) override {
    TGIFLines lines;
    ReadSubBlockLines(stream, lines);
    Text = lines.empty() ? "" : lines[0];
  }
};
const TGIFExtensionClass TTextAppExtension::Class = {
    [](TGIFSubImage* frame) -> std::unique_ptr<TGIFExtension> { return std::make_unique<TTextAppExtension>(frame); },
    nullptr};

// An extension of a label the format does not define, 0x42, holding lines of text.
class TNoteExtension : public TGIFExtension {
 public:
  static const TGIFExtensionClass Class;
  explicit TNoteExtension(TGIFSubImage* frame) : TGIFExtension(frame) {}
  uint8_t Label() const override { return 0x42; }
  TGIFLines Lines;

 protected:
  void SaveBody(TGIFByteStream& stream) override { WriteSubBlockLines(stream, Lines); }
  void LoadBody(TGIFByteStream& stream) override { ReadSubBlockLines(stream, Lines); }
};
const TGIFExtensionClass TNoteExtension::Class = {
    [](TGIFSubImage* frame) -> std::unique_ptr<TGIFExtension> { return std::make_unique<TNoteExtension>(frame); },
    nullptr};

}  // namespace

// Classes registered for an application identifier or an extension label are what the reader makes
// of such blocks; once taken out of the registries, the identifier is read as an unknown application
// extension again and the label is refused.
TEST(GifReader, RegisteredExtensionClassesAreCreated) {
  TGIFImage built;
  std::unique_ptr<TGIFSubImage> frame = PixelFrame(built);
  auto app = std::make_unique<TGIFUnknownAppExtension>(frame.get());
  std::memcpy(app->Identifier.data(), "TQTEXTAP1.0", 11);
  app->Blocks.push_back({'h', 'e', 'l', 'l', 'o'});
  frame->AddExtension(std::move(app));
  auto note = std::make_unique<TNoteExtension>(frame.get());
  note->Lines = {"a note"};
  frame->AddExtension(std::move(note));
  built.AddFrame(std::move(frame));
  const std::vector<uint8_t> bytes = giftest::SaveBytes(built);

  AppExtensionList().Add("TQTEXTAP1.0", &TTextAppExtension::Class);
  ExtensionList().Add(0x42, &TNoteExtension::Class);
  std::unique_ptr<TGIFImage> image = Load(bytes);
  AppExtensionList().Remove(&TTextAppExtension::Class);
  ExtensionList().Remove(&TNoteExtension::Class);
  ASSERT_EQ(image->Images().Count(), 1);
  auto* text = FindExtension<TTextAppExtension>(image->Images()[0]);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->Text, "hello");
  auto* read = FindExtension<TNoteExtension>(image->Images()[0]);
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(read->Lines, TGIFLines{"a note"});
  // The loop-count identifiers stay registered beside a program's own.
  EXPECT_EQ(AppExtensionList().Find({'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'}), &TGIFAppExtNSLoop::Class);

  try {
    Load(bytes);
    ADD_FAILURE() << "an unregistered label is refused";
  } catch (const GIFException& e) {
    EXPECT_STREQ(e.what(), "Unknown extension type");
  }
  std::vector<uint8_t> withoutNote = bytes;
  const uint8_t noteStart[] = {'!', 0x42};
  auto at = std::search(withoutNote.begin(), withoutNote.end(), noteStart, noteStart + 2);
  ASSERT_NE(at, withoutNote.end());
  withoutNote.erase(at, at + 2 + 1 + 6 + 1);
  image = Load(withoutNote);
  auto* unknown = FindExtension<TGIFUnknownAppExtension>(image->Images()[0]);
  ASSERT_NE(unknown, nullptr);
  ASSERT_EQ(unknown->Blocks.size(), 1u);
  EXPECT_EQ(unknown->Blocks[0], (std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'}));
}

// Threads that read their first GIF at the same time make the registries once between them: each
// finds the loop count and the delay of the same file.
TEST(GifReader, RegistriesAreMadeOnceUnderThreads) {
  TGIFImage built;
  std::unique_ptr<TGIFSubImage> frame = PixelFrame(built);
  auto loop = std::make_unique<TGIFAppExtNSLoop>(frame.get());
  loop->Loops = 7;
  frame->AddExtension(std::move(loop));
  auto* control = static_cast<TGIFGraphicControlExtension*>(
      frame->AddExtension(std::make_unique<TGIFGraphicControlExtension>(frame.get())));
  control->SetDelay(42);
  built.AddFrame(std::move(frame));
  struct Job {
    std::vector<uint8_t> bytes;
    HANDLE go = nullptr;
    int loops = -1, delay = -1;
    static DWORD WINAPI Run(void* p) {
      auto* job = static_cast<Job*>(p);
      WaitForSingleObject(job->go, INFINITE);
      try {
        TGIFMemoryStream stream(job->bytes);
        TGIFImage image;
        image.LoadFromStream(stream);
        TGIFSubImage& read = image.Images()[0];
        if (auto* count = FindExtension<TGIFAppExtNSLoop>(read)) job->loops = count->Loops;
        if (read.GraphicControlExtension()) job->delay = read.GraphicControlExtension()->Delay();
      } catch (...) {
      }
      return 0;
    }
  };
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    FreeExtensionRegistries();
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Job jobs[4];
    HANDLE threads[4];
    for (int i = 0; i < 4; ++i) {
      jobs[i].bytes = giftest::SaveBytes(built);
      jobs[i].go = go;
      threads[i] = CreateThread(nullptr, 0, &Job::Run, &jobs[i], 0, nullptr);
      ASSERT_NE(threads[i], nullptr);
    }
    SetEvent(go);
    EXPECT_EQ(WaitForMultipleObjects(4, threads, TRUE, 60000), WAIT_OBJECT_0);
    for (int i = 0; i < 4; ++i) {
      CloseHandle(threads[i]);
      EXPECT_EQ(jobs[i].loops, 7);
      EXPECT_EQ(jobs[i].delay, 42);
    }
    CloseHandle(go);
  }
}
