// Platform flags, exceptions, wide file names, files, system messages and the text helpers.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "VelSysUtils.h"
#include "VelWindows.h"
#include "hostenv.h"
#include "road.h"

TEST(VelSysUtils, PlatformFlagsUnderWine) {
  // Wine reports the NT family at version 6 or later.
  EXPECT_TRUE(IsUnicodePlatform);
  EXPECT_TRUE(IsVersion51OrLater);
  IsUnicodePlatform = false;
  IsVersion51OrLater = false;
  VelPlatformInitialize();
  EXPECT_TRUE(IsUnicodePlatform);
  EXPECT_TRUE(IsVersion51OrLater);
}

TEST(VelSysUtils, WideExceptionCarriesBothForms) {
  try {
    throw EWideFOpenError(L"Cannot open \u263A");
  } catch (const EWideFileStreamError& e) {
    EXPECT_EQ(e.WideMessage(), L"Cannot open \u263A");
    EXPECT_EQ(std::string(e.what()), WideToAnsi(L"Cannot open \u263A"));
    // The library's handlers see a stream error of the right class.
    const ui::Exception& base = e;
    EXPECT_TRUE(dynamic_cast<const ui::EStreamError*>(&base) != nullptr);
    EXPECT_STREQ(base.ClassName(), "EWideFOpenError");
  }
  EXPECT_THROW(throw EVelGeneralError("Invalid UTF7"), ui::Exception);
}

TEST(VelSysUtils, FileNames) {
  EXPECT_EQ(WideAddTrailingBackslash(L"C:\\out"), L"C:\\out\\");
  EXPECT_EQ(WideAddTrailingBackslash(L"C:\\out\\"), L"C:\\out\\");
  EXPECT_EQ(WideAddTrailingBackslash(L""), L"\\");

  struct Case {
    const wchar_t* name;
    const wchar_t* ext;           // WideExtractFileExt
    const wchar_t* replaced;      // WideReplaceFileExt with ".txt"
    const wchar_t* fileName;      // WideFileNameOfPath
  };
  const Case kCases[] = {
      {L"archive.tar.gz", L".gz", L"archive.tar.txt", L"archive.tar.gz"},
      {L"dir.d\\name", L"", L"dir.d\\name.txt", L"name"},
      {L"a.b\\c", L"", L"a.b\\c.txt", L"c"},
      {L"c.doc", L".doc", L"c.txt", L"c.doc"},
      {L"C:x.y", L".y", L"C:x.txt", L"x.y"},
      {L"C:\\dir\\", L"", L"C:\\dir\\.txt", L""},
      {L"\u263A.\u03B1", L".\u03B1", L"\u263A.txt", L"\u263A.\u03B1"},
      {L"", L"", L".txt", L""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)));
    EXPECT_EQ(WideExtractFileExt(c.name), c.ext);
    EXPECT_EQ(WideReplaceFileExt(c.name, L".txt"), c.replaced);
    EXPECT_EQ(WideFileNameOfPath(c.name), c.fileName);
  }

  EXPECT_EQ(WideLastDelimiter(L"\\.", L"a\\b.c"), 4);
  EXPECT_EQ(WideLastDelimiter(L"\\", L"abc"), 0);
  EXPECT_EQ(WideLastDelimiter(std::wstring(L"x\0", 2), std::wstring(L"a\0b", 3)), 0);  // zeros never count
  EXPECT_TRUE(WideIsDelimiter(L"\\", L"a\\b", 2));
  EXPECT_FALSE(WideIsDelimiter(L"\\", L"a\\b", 1));
  EXPECT_FALSE(WideIsDelimiter(L"\\", L"a\\b", 0));
  EXPECT_FALSE(WideIsDelimiter(L"\\", L"a\\b", 4));
  EXPECT_TRUE(WideIsDelimiter(L"\\", std::wstring(L"a\0", 2), 2));
  EXPECT_TRUE(WideIsPathDelimiter(L"a\\", 2));
  EXPECT_FALSE(WideIsPathDelimiter(L"a\\", 3));
}

TEST_P(BothRoads, FilesAndFolders) {
  const std::wstring work = AnsiToWide(tq::WorkDir());
  const std::wstring folder = work + (Unicode() ? L"\\sys_w" : L"\\sys_a");
  CreateDirectoryW(folder.c_str(), nullptr);
  EXPECT_TRUE(WideFolderExists(folder));
  EXPECT_FALSE(WideIsExistingFile(folder));
  EXPECT_EQ(WideFileGetAttributes(folder) & FILE_ATTRIBUTE_DIRECTORY, DWORD(FILE_ATTRIBUTE_DIRECTORY));

  const std::wstring file = folder + L"\\data.bin";
  HANDLE h = WideFileCreate(file);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  // Created without sharing: nobody else may open it meanwhile.
  EXPECT_EQ(WideFileOpen(file, 0x40), INVALID_HANDLE_VALUE);
  CloseHandle(h);
  EXPECT_TRUE(WideIsExistingFile(file));
  EXPECT_FALSE(WideFolderExists(file));

  // Exclusive (0x10) keeps a second opener out; deny-write (0x20) lets readers in.
  HANDLE exclusive = WideFileOpen(file, 0x10);
  ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
  EXPECT_EQ(WideFileOpen(file, 0x40), INVALID_HANDLE_VALUE);
  CloseHandle(exclusive);
  HANDLE reader = WideFileOpen(file, 0x20);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  HANDLE second = WideFileOpen(file, 0x40);
  EXPECT_NE(second, INVALID_HANDLE_VALUE);
  EXPECT_EQ(WideFileOpen(file, 0x22), INVALID_HANDLE_VALUE);  // a writer is denied
  CloseHandle(second);
  CloseHandle(reader);
  // Modes outside the table are refused rather than guessed.
  EXPECT_EQ(WideFileOpen(file, 3), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(WideFileOpen(file, 0x50), INVALID_HANDLE_VALUE);

  EXPECT_TRUE(WideRemoveFile(file));
  EXPECT_FALSE(WideIsExistingFile(file));
  EXPECT_FALSE(WideRemoveFile(file));
  EXPECT_EQ(WideFileOpen(file, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(WideFileGetAttributes(file), INVALID_FILE_ATTRIBUTES);
}

TEST_P(BothRoads, ExpandFileName) {
  wchar_t current[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, current);
  EXPECT_EQ(WideExpandFileName(L"x.txt"), WideAddTrailingBackslash(current) + L"x.txt");
  std::wstring deep = L"C:\\";
  for (int i = 0; i < 40; ++i) deep += L"folder" + std::to_wstring(i) + L"\\";
  deep += L"f.txt";
  ASSERT_GT(deep.size(), size_t(MAX_PATH));
  if (Unicode()) {
    EXPECT_EQ(WideExpandFileName(deep), deep);  // longer than the first buffer
  }
}

TEST_P(BothRoads, SystemMessages) {
  const std::wstring known = WideSysErrorMessage(ERROR_FILE_NOT_FOUND);
  EXPECT_GT(known.size(), 5u);
  EXPECT_EQ(known.find(L"Unspecified error"), std::wstring::npos);
  EXPECT_EQ(known.back(), L'\n');  // the system's closing line break is kept
  const DWORD unknown = 0x2000BEEF;
  EXPECT_EQ(WideSysErrorMessage(unknown), L"Unspecified error (536919791) from system.");
  EXPECT_EQ(WideLibraryErrorMessage(L"zip", GetModuleHandleW(nullptr), unknown),
            L"Unspecified error (536919791) from zip.");
}

TEST(VelSysUtils, WideWin32Check) {
  EXPECT_EQ(WideWin32Check(7), 7u);
  SetLastError(ERROR_ACCESS_DENIED);
  try {
    WideWin32Check(0);
    ADD_FAILURE() << "no exception";
  } catch (const ui::EOSError& e) {
    EXPECT_NE(e.Message().find("Code: 5."), std::string::npos) << e.Message();
  }
}

TEST_P(BothRoads, WordDelimiters) {
  for (wchar_t c : {L'\0', L' ', L'\t', L'.', L',', L'!', L'('}) EXPECT_TRUE(IsWideWordDelimiter(c)) << int(c);
  for (wchar_t c : {L'a', L'Z', L'5'}) EXPECT_FALSE(IsWideWordDelimiter(c)) << int(c);
}

TEST_P(BothRoads, WideStringReplace) {
  struct Case {
    const wchar_t *s, *from, *to;
    unsigned flags;
    bool wholeWord;
    const wchar_t* expected;
  };
  const Case kCases[] = {
      {L"cat concat cat", L"cat", L"dog", wrfReplaceAll, true, L"dog concat dog"},
      {L"cat concat cat", L"cat", L"dog", wrfReplaceAll, false, L"dog condog dog"},
      {L"cat concat cat", L"cat", L"dog", 0, false, L"dog concat cat"},
      {L"concat cat", L"cat", L"dog", 0, true, L"concat dog"},
      {L"CAT Concat Cat.", L"cat", L"dog", wrfReplaceAll | wrfIgnoreCase, false, L"dog Condog dog."},
      {L"CAT Concat Cat.", L"cat", L"dog", wrfReplaceAll | wrfIgnoreCase, true, L"dog Concat dog."},
      {L"catcat", L"cat", L"c", wrfReplaceAll, false, L"cc"},
      {L"aaa", L"a", L"aa", wrfReplaceAll, false, L"aaaaaa"},  // replacements are not searched again
      {L"abc", L"", L"x", wrfReplaceAll, false, L"abc"},
      {L"", L"a", L"x", wrfReplaceAll, false, L""},
      {L"x-cat-y", L"cat", L"\u263A", 0, true, L"x-\u263A-y"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.s)) + " " + std::to_string(c.flags) + " " +
                 std::to_string(c.wholeWord));
    EXPECT_EQ(WideStringReplace(c.s, c.from, c.to, c.flags, c.wholeWord), c.expected);
  }
}

TEST(VelSysUtils, StringArrays) {
  const wchar_t list[] = L"dir\0a\0b\0";  // and the literal's own zero: a double-zero ending
  EXPECT_EQ(ExtractStringsFromStringArray(list, 0), (std::vector<std::wstring>{L"dir", L"a", L"b"}));
  EXPECT_EQ(ExtractStringsFromStringArray(L"x;y;z", L';'), (std::vector<std::wstring>{L"x", L"y", L"z"}));
  EXPECT_TRUE(ExtractStringsFromStringArray(nullptr, 0).empty());

  const wchar_t* pos = L"one;two";
  const wchar_t* start = pos;
  EXPECT_EQ(ExtractStringFromStringArray(pos, L';'), L"one");
  EXPECT_EQ(pos, start + 4);
  EXPECT_EQ(ExtractStringFromStringArray(pos, L';'), L"two");
  EXPECT_EQ(pos, start + 7);  // onto the terminator, not past it
  EXPECT_EQ(*pos, 0);

  // A long list grows past its first allocation.
  std::wstring many;
  for (int i = 0; i < 600; ++i) many += L"s" + std::to_wstring(i) + L'\0';
  many += L'\0';
  auto strings = ExtractStringsFromStringArray(many.c_str(), 0);
  ASSERT_EQ(strings.size(), 600u);
  EXPECT_EQ(strings[599], L"s599");
}
