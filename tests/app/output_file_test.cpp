// Output files written under a temporary name and moved into place once complete: a write that
// fails midway leaves the earlier file or none, never a truncated one, and no temporary file; every
// failure names the output and gives the system's reason.
#include "output_file.h"

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

#include "host_decode.h"
#include "hostenv.h"
#include "uisysutils.h"

namespace {

using app_test::FilesIn;
using app_test::FreshFolder;

std::string Contents(const std::string& path) {
  std::vector<unsigned char> bytes;
  if (!tq::ReadFileBytes(path, bytes)) return "<none>";
  return std::string(bytes.begin(), bytes.end());
}

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

std::string Expected(const std::string& path, DWORD error) {
  return "Cannot create file \"" + path + "\". " + app::TOutputFile::SystemReason(error);
}

}  // namespace

// Half of a picture is written, then the writer runs out of memory (as a 200-slide run of large
// pictures did): the earlier file stays whole, or no file appears; the folder holds no temporary file.
TEST(OutputFile, WriteFailingMidwayLeavesTheEarlierFileOrNone) {
  const std::string payload(1 << 20, 'n');
  for (const bool earlier : {true, false}) {
    const std::string folder = FreshFolder("midway");
    const std::string path = folder + "\\slide105.bmp";
    if (earlier) {
      ASSERT_TRUE(tq::WriteFileBytes(path, "earlier", 7));
    }
    std::string message;
    try {
      app::WriteOutputFile(Wide(path), [&](app::TOutputFile& file) {
        file.WriteBuffer(payload.data(), int32_t(payload.size() / 2));
        throw std::bad_alloc();
      });
    } catch (const ui::EFCreateError& e) {
      message = e.what();
    }
    EXPECT_EQ(message, Expected(path, ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(FilesIn(folder), earlier ? std::vector<std::string>{"slide105.bmp"} : std::vector<std::string>{});
    EXPECT_EQ(Contents(path), earlier ? "earlier" : "<none>");
  }
}

// A complete write replaces the earlier file, by a stream or by name, and leaves nothing else.
TEST(OutputFile, CompleteWriteTakesTheOutputsPlace) {
  const std::string folder = FreshFolder("complete");
  const std::string path = folder + "\\s1.gif";
  ASSERT_TRUE(tq::WriteFileBytes(path, "earlier, and longer than what replaces it", 42));
  app::WriteOutputFile(Wide(path), [](app::TOutputFile& file) { file.WriteBuffer("by stream", 9); });
  EXPECT_EQ(Contents(path), "by stream");
  app::WriteOutputFile(Wide(path), [](app::TOutputFile& file) {
    const std::wstring& temporary = file.TemporaryNameForWriter();
    HANDLE h = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD put = 0;
    WriteFile(h, "by name", 7, &put, nullptr);
    CloseHandle(h);
  });
  EXPECT_EQ(Contents(path), "by name");
  EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"s1.gif"});
}

// Failures before anything is written: a vanished folder, an output held open without sharing, a
// writer's own error; each names the output with the reason.
TEST(OutputFile, FailuresNameTheOutputAndTheReason) {
  const std::string folder = FreshFolder("failures");
  auto messageOf = [](const std::string& path, const std::function<void(app::TOutputFile&)>& write) {
    try {
      app::WriteOutputFile(Wide(path), write);
    } catch (const ui::EFCreateError& e) {
      return std::string(e.what());
    }
    return std::string("<no error>");
  };
  const auto nothing = [](app::TOutputFile&) {};
  const std::string gone = folder + "\\gone\\s1.png";
  EXPECT_EQ(messageOf(gone, nothing), Expected(gone, ERROR_PATH_NOT_FOUND));

  const std::string locked = folder + "\\s2.png";
  HANDLE h = CreateFileA(locked.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(messageOf(locked, nothing), Expected(locked, ERROR_SHARING_VIOLATION));
  CloseHandle(h);

  const std::string coded = folder + "\\s3.gif";
  EXPECT_EQ(messageOf(coded, [](app::TOutputFile&) { throw std::runtime_error("Invalid Bits Per Pixel value"); }),
            "Cannot create file \"" + coded + "\". Invalid Bits Per Pixel value");
  EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"s2.png"});
}
