// The temporary-file backing store.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <vector>

#include "iefilebuffer.h"

namespace {

TEST(FileBuffer, NameAndDeleteOnClose) {
  TIEFileBuffer fb;
  ASSERT_TRUE(fb.AllocateFile("IMG", true, 100));
  std::string name = fb.GetFileName();
  std::string base = name.substr(name.find_last_of('\\') + 1);
  ASSERT_EQ(base.size(), 16u);  // IMG-XXXXXXXX.tmp
  EXPECT_EQ(base.substr(0, 4), "IMG-");
  EXPECT_EQ(base.substr(12), ".tmp");
  EXPECT_EQ(name.substr(0, name.size() - base.size()), IEDefaultTempFolder());
  EXPECT_NE(GetFileAttributesA(name.c_str()), INVALID_FILE_ATTRIBUTES);
  fb.Close();
  EXPECT_EQ(GetFileAttributesA(name.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(FileBuffer, TempFolderSettingChoosesTheFolder) {
  char base[MAX_PATH];
  ASSERT_GT(GetTempPathA(MAX_PATH, base), 0u);
  const std::string folder = std::string(base) + "tq-tempfolder-test\\";
  CreateDirectoryA(folder.c_str(), nullptr);
  IETempFolder = folder;
  {
    TIEFileBuffer fb;
    ASSERT_TRUE(fb.AllocateFile("IMG", true, 10));
    EXPECT_EQ(fb.GetFileName().substr(0, folder.size() + 4), folder + "IMG-");
    EXPECT_NE(GetFileAttributesA(fb.GetFileName().c_str()), INVALID_FILE_ATTRIBUTES);
  }
  IETempFolder.clear();
  RemoveDirectoryA(folder.c_str());
}

TEST(FileBuffer, UncreatableFileRaisesTheMessage) {
  const std::string bad = "Q:\\no such folder\\IMG-00000000.tmp";
  try {
    TIETemporaryFileStream s(bad);
    FAIL() << "created";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to create " + bad);
  }
}

class FileBufferStore : public ::testing::TestWithParam<bool> {};

TEST_P(FileBufferStore, ViewAccessAndCopy) {
  TIEFileBuffer fb;
  ASSERT_TRUE(fb.AllocateFile("IMG", GetParam(), 3000000));
  uint8_t* w = fb.MapView(iraWrite, 4, 10);
  std::memcpy(w, "abcd", 4);
  fb.ReleaseView(w);
  uint8_t* r = fb.MapView(iraRead, 4, 10);
  EXPECT_EQ(std::memcmp(r, "abcd", 4), 0);
  r[0] = 'X';
  fb.ReleaseView(r);  // read-only: not written back
  uint8_t* again = fb.MapView(iraRead | iraWrite, 4, 10);
  EXPECT_EQ(again[0], 'a');
  again[1] = 'Y';  // left open: CopyTo releases (writes back) every view first
  uint8_t* tail = fb.MapView(iraWrite, 3, 2999997);
  std::memcpy(tail, "end", 3);

  TIEFileBuffer dest;
  ASSERT_TRUE(dest.AllocateFile("IMG", GetParam(), 3000000));
  fb.CopyTo(dest, 3000000, 0);  // three chunks: 1 MB, 1 MB and 902,848 bytes
  EXPECT_EQ(fb.ViewCount(), 0);
  uint8_t* d1 = dest.MapView(iraRead, 4, 10);
  EXPECT_EQ(std::memcmp(d1, "aYcd", 4), 0);
  uint8_t* d2 = dest.MapView(iraRead, 3, 2999997);
  EXPECT_EQ(std::memcmp(d2, "end", 3), 0);
}

INSTANTIATE_TEST_SUITE_P(FileOrMemory, FileBufferStore, ::testing::Values(true, false));

}  // namespace
