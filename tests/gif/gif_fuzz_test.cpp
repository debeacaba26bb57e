// Damaged GIF files: valid files from several writers, truncated at many points and with random
// bytes changed, must load or fail with the codec's own error, never crash or hang, and never
// allocate more than the file's data could justify.
#include <atomic>
#include <cstdlib>
#include <new>
#include <random>

#include "gifextension.h"
#include "giftesthelp.h"

// Heap accounting for this test program: the bytes live now and the peak since the last reset.
namespace {
size_t gLive = 0, gPeak = 0;
constexpr size_t kHeader = 16;
void* CountedAlloc(size_t n) {
  void* block = std::malloc(n + kHeader);
  if (!block) throw std::bad_alloc();
  *static_cast<size_t*>(block) = n;
  gLive += n;
  if (gLive > gPeak) gPeak = gLive;
  return static_cast<char*>(block) + kHeader;
}
void CountedFree(void* p) noexcept {
  if (!p) return;
  char* block = static_cast<char*>(p) - kHeader;
  gLive -= *reinterpret_cast<size_t*>(block);
  std::free(block);
}
}  // namespace

void* operator new(size_t n) { return CountedAlloc(n); }
void* operator new[](size_t n) { return CountedAlloc(n); }
void operator delete(void* p) noexcept { CountedFree(p); }
void operator delete[](void* p) noexcept { CountedFree(p); }
void operator delete(void* p, size_t) noexcept { CountedFree(p); }
void operator delete[](void* p, size_t) noexcept { CountedFree(p); }

namespace {

// The LZW data of a file can stand for at most 4096 pixels per byte; a load may add 1 M pixels
// for frames cut short, and the decoder's tables and the model's bookkeeping come on top.
constexpr size_t kPixelsPerByte = 4096;
constexpr size_t kFixedAllowance = 2 << 20;

struct Outcome {
  bool error = false;
  size_t warnings = 0;
};

Outcome LoadDamaged(const std::vector<uint8_t>& bytes) {
  Outcome outcome;
  const size_t live = gLive;
  gPeak = gLive;
  {
    TGIFImage image;
    image.WarningEvent = [&](const void*, int, const std::string&) { ++outcome.warnings; };
    TGIFMemoryStream stream(bytes);
    try {
      image.LoadFromStream(stream);
      // What was read can be written again (only pixels inside the maps are legal to write).
      TGIFMemoryStream out;
      try {
        image.SaveToStream(out);
      } catch (const GIFException&) {
      }
    } catch (const GIFException&) {
      outcome.error = true;
      EXPECT_EQ(stream.Position(), 0u);
    }
  }
  EXPECT_LE(gPeak - live, 2 * bytes.size() * kPixelsPerByte + kFixedAllowance) << bytes.size() << " bytes";
  return outcome;
}

std::vector<std::vector<uint8_t>> SampleFiles() {
  std::vector<std::vector<uint8_t>> files;
  // Our own: LZW and run-length, interlaced on a global map, with extensions.
  for (TGIFCompression compression : {gifLZW, gifRunLength}) {
    TGIFImage image;
    image.Compression = compression;
    for (int i = 0; i < 16; ++i) image.GlobalColorMap().AppendColor(GIFColorValue(uint8_t(i * 16), uint8_t(i), 0));
    auto frame = std::make_unique<TGIFSubImage>(&image);
    frame->SetFrameBounds(0, 0, 57, 33);
    for (size_t i = 0; i < frame->Pixels().size(); ++i) frame->Pixels()[i] = uint8_t((i / 7 + i % 13) % 16);
    frame->SetInterlaced(compression == gifLZW);
    auto comment = std::make_unique<TGIFCommentExtension>(frame.get());
    comment->Lines = {"fuzz"};
    frame->AddExtension(std::move(comment));
    frame->AddExtension(std::make_unique<TGIFAppExtNSLoop>(frame.get()));
    auto gce = std::make_unique<TGIFGraphicControlExtension>(frame.get());
    gce->SetTransparent(true);
    gce->SetTransparentColorIndex(3);
    frame->AddExtension(std::move(gce));
    image.AddFrame(std::move(frame));
    files.push_back(giftest::SaveBytes(image));
  }
  // netpbm and PIL.
  EXPECT_EQ(giftest::RunPython(
                "from PIL import Image\n"
                "import random\n"
                "random.seed(9)\n"
                "w, h = 48, 36\n"
                "px = bytes(random.randrange(256) if (x * y) % 5 == 0 else (x * 4) % 256 for y in range(h) for x in range(w) for c in range(3))\n"
                "open('f.ppm', 'wb').write(b'P6 %d %d 255\\n' % (w, h) + px)\n"
                "frames = [Image.frombytes('RGB', (w, h), px).rotate(90 * k).quantize(64) for k in range(3)]\n"
                "frames[0].save('f_anim.gif', save_all=True, append_images=frames[1:], duration=50, loop=2, comment=b'c')\n"
                "open('f_q.ppm', 'wb').write(b'P6 %d %d 255\\n' % (w, h) + frames[0].convert('RGB').tobytes())\n"),
            0);
  EXPECT_EQ(tq::RunHost("ppmtogif -interlace -comment=x f_q.ppm > f_netpbm.gif 2>/dev/null"), 0);
  files.push_back(giftest::ReadWorkFile("f_anim.gif"));
  files.push_back(giftest::ReadWorkFile("f_netpbm.gif"));
  return files;
}

}  // namespace

TEST(GifFuzz, TruncatedFilesWarnOrFail) {
  for (const std::vector<uint8_t>& file : SampleFiles()) {
    ASSERT_GT(file.size(), 100u);
    {
      const Outcome whole = LoadDamaged(file);
      EXPECT_FALSE(whole.error);
      EXPECT_EQ(whole.warnings, 0u);
    }
    std::vector<size_t> cuts;
    for (size_t i = 1; i <= 80; ++i) cuts.push_back(file.size() * i / 82);
    for (size_t k = 2; k < 12; ++k) cuts.push_back(file.size() - k);
    for (size_t cut : cuts) {
      SCOPED_TRACE(testing::Message() << "cut at " << cut << " of " << file.size());
      const Outcome o = LoadDamaged(std::vector<uint8_t>(file.begin(), file.begin() + long(cut)));
      EXPECT_TRUE(o.error || o.warnings > 0);
    }
  }
}

// Many frames that each claim 256 x 256 pixels with a single byte of data: the load stops once
// they have claimed their share, long before their claims add up.
TEST(GifFuzz, ManyEmptyFramesCannotClaimMemory) {
  std::vector<uint8_t> file = {'G', 'I', 'F', '8', '9', 'a', 0, 1, 0, 1, 0x80, 0, 0, 0, 0, 0, 255, 255, 255};
  const uint8_t frame[] = {0x2C, 0, 0, 0, 0, 0, 1, 0, 1, 0, 2, 1, 0x04, 0};
  for (int i = 0; i < 20000; ++i) file.insert(file.end(), frame, frame + sizeof frame);
  file.push_back(0x3B);
  const Outcome o = LoadDamaged(file);
  EXPECT_TRUE(o.error);
}

TEST(GifFuzz, RandomByteChangesNeverCrash) {
  std::mt19937 rng(1234);
  size_t variants = 0, errors = 0;
  for (const std::vector<uint8_t>& file : SampleFiles()) {
    ASSERT_GT(file.size(), 100u);
    for (int v = 0; v < 150; ++v, ++variants) {
      std::vector<uint8_t> damaged = file;
      const int changes = 1 + int(rng() % 4);
      for (int c = 0; c < changes; ++c) {
        // Half the changes hit the first 64 bytes, where the headers and maps live.
        const size_t at = (rng() & 1) ? rng() % std::min<size_t>(64, damaged.size()) : rng() % damaged.size();
        damaged[at] = (rng() & 1) ? uint8_t(rng()) : uint8_t(damaged[at] ^ (1u << (rng() % 8)));
      }
      errors += LoadDamaged(damaged).error ? 1 : 0;
    }
  }
  EXPECT_GE(variants, 600u);
  EXPECT_GT(errors, 0u);  // the damage did reach the parser's checks
}
