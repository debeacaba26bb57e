// The wide wrappers on both roads: the W entry points (what Windows of the NT family runs) and the
// ANSI road with its conversions (reached here by clearing IsUnicodePlatform).
#include <windows.h>

#include <cstring>
#include <cwchar>
#include <string>

#include <gtest/gtest.h>

#include "VelSysUtils.h"
#include "VelSystem.h"
#include "VelWindows.h"
#include "hostenv.h"
#include "road.h"

namespace {

std::wstring Wide(const std::string& s) { return AnsiToWide(s); }

// A fresh empty folder under the test's work folder, current for the test's life.
class InWorkFolder {
 public:
  explicit InWorkFolder(const std::wstring& name) {
    GetCurrentDirectoryW(MAX_PATH, saved_);
    folder_ = Wide(tq::WorkDir()) + L"\\" + name;
    CreateDirectoryW(folder_.c_str(), nullptr);
    SetCurrentDirectoryW(folder_.c_str());
  }
  ~InWorkFolder() { SetCurrentDirectoryW(saved_); }
  const std::wstring& Folder() const { return folder_; }

 private:
  wchar_t saved_[MAX_PATH];
  std::wstring folder_;
};

// The ANSI road is checked with characters of the Western code page; the wine prefix uses it.
bool WesternAnsi() { return GetACP() == 1252; }

}  // namespace

TEST_P(BothRoads, WideSetWindowText) {
  HWND w = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(WideSetWindowText(w, L"a\u263Ab"));
  wchar_t text[16] = {};
  GetWindowTextW(w, text, 16);
  // The ANSI road cannot carry a character outside the code page: it arrives as the default one.
  EXPECT_STREQ(text, Unicode() ? L"a\u263Ab" : L"a?b");
  DestroyWindow(w);
}

TEST_P(BothRoads, FilesByWideName) {
  if (!Unicode() && !WesternAnsi()) GTEST_SKIP() << "code page " << GetACP();
  InWorkFolder work(Unicode() ? L"files_w" : L"files_a");
  const std::wstring name = Unicode() ? L"caf\u00E9 \u263A.txt" : L"caf\u00E9.txt";
  HANDLE h = WideCreateFile(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(h, "12345", 5, &written, nullptr);
  CloseHandle(h);
  // Whatever the road, the file carries the wide name.
  EXPECT_NE(GetFileAttributesW(name.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(WideGetFileAttributes(name.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);

  WIN32_FIND_DATAW found;
  std::memset(&found, 0xCC, sizeof found);
  HANDLE f = WideFindFirstFile(name.c_str(), &found);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  FindClose(f);
  EXPECT_EQ(std::wstring(found.cFileName), name);
  EXPECT_EQ(found.nFileSizeLow, 5u);
  EXPECT_EQ(found.nFileSizeHigh, 0u);
  EXPECT_LT(std::wcslen(found.cAlternateFileName), 14u);

  EXPECT_TRUE(WideDeleteFile(name.c_str()));
  EXPECT_EQ(WideGetFileAttributes(name.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_FALSE(WideDeleteFile(name.c_str()));
  found.cFileName[0] = L'x';
  EXPECT_EQ(WideFindFirstFile(name.c_str(), &found), INVALID_HANDLE_VALUE);
  EXPECT_EQ(found.cFileName[0], L'x');  // a failed search leaves the record alone
}

TEST_P(BothRoads, WideGetFullPathName) {
  InWorkFolder work(L"paths");
  wchar_t buffer[MAX_PATH];
  wchar_t* filePart = nullptr;
  const std::wstring expected = work.Folder() + L"\\sub\\name.txt";
  DWORD n = WideGetFullPathName(L"sub\\name.txt", MAX_PATH, buffer, &filePart);
  EXPECT_EQ(n, expected.size());
  EXPECT_EQ(std::wstring(buffer), expected);
  ASSERT_NE(filePart, nullptr);
  EXPECT_STREQ(filePart, L"name.txt");

  // A buffer exactly as long as the path has no room for the terminator.
  const DWORD exact = static_cast<DWORD>(expected.size());
  buffer[0] = L'x';
  n = WideGetFullPathName(L"sub\\name.txt", exact, buffer, &filePart);
  EXPECT_EQ(n, exact + 1);
  if (!Unicode()) {
    EXPECT_EQ(buffer[0], 0);  // the ANSI road leaves an empty string
    EXPECT_EQ(filePart, nullptr);
  }
  EXPECT_EQ(WideGetFullPathName(L"sub\\name.txt", 0, nullptr, nullptr), exact + 1);
}

// A path longer than the ANSI road's first buffer is either formed whole or refused (the A call
// itself may refuse names longer than MAX_PATH), never cut or read past the buffer.
TEST(VelWindows, FullPathNameAnsiRoadLongPath) {
  ScopedRoad road(false);
  std::wstring name = L"C:\\";
  for (int i = 0; i < 60; ++i) name += L"folder" + std::to_wstring(i) + L"\\";
  name += L"last.txt";
  ASSERT_GT(name.size(), 520u);
  std::wstring buffer(2048, L'\0');
  wchar_t* filePart = nullptr;
  DWORD n = WideGetFullPathName(name.c_str(), 2048, &buffer[0], &filePart);
  if (n == 0) {
    EXPECT_EQ(filePart, nullptr);
    return;
  }
  EXPECT_EQ(n, name.size());
  EXPECT_EQ(buffer.c_str(), name);
  ASSERT_NE(filePart, nullptr);
  EXPECT_STREQ(filePart, L"last.txt");
}

TEST(VelWindows, StorePathLengthResult) {
  wchar_t buffer[8] = {L'x', L'x'};
  EXPECT_EQ(StorePathLengthResult(L"abc", 4, buffer), 3u);
  EXPECT_STREQ(buffer, L"abc");
  buffer[0] = L'x';
  EXPECT_EQ(StorePathLengthResult(L"abc", 3, buffer), 4u);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(StorePathLengthResult(L"abc", 0, nullptr), 4u);
}

TEST_P(BothRoads, WideDrawTextHonoursTheCount) {
  HDC dc = CreateCompatibleDC(nullptr);
  ASSERT_NE(dc, nullptr);
  RECT two = {0, 0, 0, 0}, counted = {0, 0, 0, 0}, all = {0, 0, 0, 0};
  EXPECT_GT(WideDrawText(dc, L"WW", -1, &two, DT_CALCRECT | DT_SINGLELINE), 0);
  EXPECT_GT(WideDrawText(dc, L"WWWWWWWW", 2, &counted, DT_CALCRECT | DT_SINGLELINE), 0);
  EXPECT_GT(WideDrawText(dc, L"WWWWWWWW", -1, &all, DT_CALCRECT | DT_SINGLELINE), 0);
  EXPECT_EQ(counted.right, two.right);
  EXPECT_GT(all.right, two.right);
  // The ANSI road hands DrawTextA a copy with room for what DT_MODIFYSTRING may append.
  wchar_t text[64] = L"A long text that will not fit the rectangle";
  RECT narrow = {0, 0, 30, 20};
  EXPECT_GT(WideDrawText(dc, text, -1, &narrow, DT_SINGLELINE | DT_END_ELLIPSIS | DT_MODIFYSTRING), 0);
  DeleteDC(dc);
}

TEST_P(BothRoads, WideCharUpper) {
  if (!Unicode() && !WesternAnsi()) GTEST_SKIP() << "code page " << GetACP();
  struct Case {
    wchar_t in, unicode, ansi;
  };
  const Case kCases[] = {
      {L'a', L'A', L'A'},
      {L'\u00E9', L'\u00C9', L'\u00C9'},  // in the Western code page
      {L'\u03B1', L'\u0391', L'\u03B1'},  // outside it: unchanged on the ANSI road
      {L'\u263A', L'\u263A', L'\u263A'},
      {L'1', L'1', L'1'},
  };
  std::wstring text, expected;
  for (const Case& c : kCases) {
    const wchar_t want = Unicode() ? c.unicode : c.ansi;
    wchar_t* r = WideCharUpper(reinterpret_cast<wchar_t*>(static_cast<uintptr_t>(c.in)));
    EXPECT_EQ(static_cast<wchar_t>(reinterpret_cast<uintptr_t>(r)), want) << int(c.in);
    text += c.in;
    expected += want;
  }
  std::wstring inPlace = text;
  EXPECT_EQ(WideCharUpper(&inPlace[0]), &inPlace[0]);
  EXPECT_EQ(inPlace, expected);
  std::wstring buff = text + L"tail";
  EXPECT_EQ(WideCharUpperBuff(&buff[0], static_cast<DWORD>(text.size())), text.size());
  EXPECT_EQ(buff, expected + L"tail");  // only `length` characters change
}

TEST_P(BothRoads, WideGetStringTypeEx) {
  const wchar_t text[] = L"a 1.\u263A";
  WORD types[7] = {0, 0, 0, 0, 0, 0, 0xBEEF};
  ASSERT_TRUE(WideGetStringTypeEx(LOCALE_USER_DEFAULT, CT_CTYPE1, text, 4, types));
  EXPECT_TRUE(types[0] & C1_LOWER);
  EXPECT_TRUE(types[1] & C1_SPACE);
  EXPECT_TRUE(types[2] & C1_DIGIT);
  EXPECT_TRUE(types[3] & C1_PUNCT);
  EXPECT_EQ(types[4], 0);  // no more words than characters asked for
  // A zero-terminated text gets a word for its terminator as well, on both roads.
  ASSERT_TRUE(WideGetStringTypeEx(LOCALE_USER_DEFAULT, CT_CTYPE1, text, -1, types));
  EXPECT_TRUE(types[0] & C1_LOWER);
  EXPECT_TRUE(types[5] & C1_CNTRL);
  EXPECT_EQ(types[6], 0xBEEF);
}

TEST_P(BothRoads, WideLoadString) {
  HINSTANCE self = GetModuleHandleW(nullptr);
  wchar_t buffer[64];
  EXPECT_EQ(WideLoadString(self, 101, buffer, 64), 10);
  EXPECT_STREQ(buffer, L"Smile \u263A \u0395\u03BB");
  EXPECT_EQ(WideLoadString(self, 117, buffer, 64), 12);
  EXPECT_STREQ(buffer, L"Second block");
  EXPECT_EQ(WideLoadString(self, 100, buffer, 3), 2);
  EXPECT_STREQ(buffer, L"He");
  EXPECT_EQ(WideLoadString(self, 99, buffer, 64), 0);
}

TEST(VelWindows, WideLoadStringFromTableEdges) {
  HINSTANCE self = GetModuleHandleW(nullptr);
  wchar_t buffer[8] = {L'x', L'x'};
  EXPECT_EQ(WideLoadStringFromTable(self, 100, nullptr, 0), 5);
  EXPECT_EQ(WideLoadStringFromTable(self, 100, buffer, 0), 5);
  EXPECT_EQ(buffer[0], L'x');
  EXPECT_EQ(WideLoadStringFromTable(self, 100, buffer, 1), 0);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(WideLoadStringFromTable(self, 0u - 100u, buffer, 8), 5);  // negated identifier
  EXPECT_STREQ(buffer, L"Hello");
  EXPECT_EQ(WideLoadStringFromTable(self, 0xFFFF0u, buffer, 8), 0);    // block 0x10000 is no identifier
  EXPECT_EQ(WideLoadStringFromTable(self, 5000, buffer, 8), 0);
}

TEST(VelWindows, IsIntResourceName) {
  EXPECT_TRUE(IsIntResourceName(nullptr));
  EXPECT_TRUE(IsIntResourceName(reinterpret_cast<void*>(uintptr_t(65535))));
  EXPECT_FALSE(IsIntResourceName(reinterpret_cast<void*>(uintptr_t(65536))));
  EXPECT_FALSE(IsIntResourceName(L"name"));
}

TEST(VelWindows, WideStringFromBuffer) {
  EXPECT_EQ(WideStringFromBuffer(L"abc", -1), L"abc");
  EXPECT_EQ(WideStringFromBuffer(L"abc", 2), L"ab");
  EXPECT_EQ(WideStringFromBuffer(L"abc", 10), L"abc");
  EXPECT_EQ(WideStringFromBuffer(nullptr, 3), L"");
}

TEST(VelWindows, ConvertFindDataToWide) {
  WIN32_FIND_DATAA a;
  std::memset(&a, 'z', sizeof a);  // names without terminators must not be read past their arrays
  a.dwFileAttributes = 0x20;
  a.nFileSizeLow = 7;
  a.ftLastWriteTime.dwLowDateTime = 0x12345678;
  WIN32_FIND_DATAW w;
  ConvertFindDataToWide(a, w);
  EXPECT_EQ(w.dwFileAttributes, 0x20u);
  EXPECT_EQ(w.nFileSizeLow, 7u);
  EXPECT_EQ(w.ftLastWriteTime.dwLowDateTime, 0x12345678u);
  EXPECT_EQ(std::wcslen(w.cFileName), size_t(MAX_PATH - 1));
  EXPECT_EQ(std::wcslen(w.cAlternateFileName), 13u);
  std::strcpy(a.cFileName, "file.txt");
  std::strcpy(a.cAlternateFileName, "FILE.TXT");
  ConvertFindDataToWide(a, w);
  EXPECT_STREQ(w.cFileName, L"file.txt");
  EXPECT_STREQ(w.cAlternateFileName, L"FILE.TXT");
}
