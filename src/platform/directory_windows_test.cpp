#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/exception.h"
#include "platform/windows_internal.h"
#include "platform/windows_test_util.h"

namespace vesk::platform {
namespace {

WIN32_FIND_DATAA findData(const char* longName, const char* shortName) {
  WIN32_FIND_DATAA found{};
  std::strncpy(found.cFileName, longName, sizeof found.cFileName - 1);
  std::strncpy(found.cAlternateFileName, shortName, sizeof found.cAlternateFileName - 1);
  return found;
}

// The entry as the "A" find services report it.
WIN32_FIND_DATAA foundAnsi(const std::string& path) {
  WIN32_FIND_DATAA found{};
  UniqueFind search(::FindFirstFileA(ansiName(path).c_str(), &found));
  EXPECT_TRUE(search) << path;
  return found;
}

TEST(Listing, EntryNamesAreJoinedWithOneSeparator) {
  struct Case {
    const char* dir;
    const char* joined;
  } cases[] = {
      {"sub", "sub\\a.vsk"}, {"sub\\", "sub\\a.vsk"}, {"sub/", "sub/a.vsk"},
      {"C:", "C:a.vsk"},     {"C:\\", "C:\\a.vsk"},   {"\\\\host\\share", "\\\\host\\share\\a.vsk"},
  };
  for (const Case& c : cases) EXPECT_EQ(joinEntry(c.dir, "a.vsk"), c.joined) << c.dir;
}

TEST(Listing, ExtensionsAreLowerCasedAfterTheLastDot) {
  struct Case {
    const char* name;
    const char* extension;
  } cases[] = {{"a.vsk", "vsk"}, {"A~1.VSK", "vsk"}, {"a.b.VskX", "vskx"},
               {"noext", ""},    {"dot.", ""},       {".vsk", "vsk"}};
  for (const Case& c : cases) EXPECT_EQ(extensionOf(c.name), c.extension) << c.name;
}

// A long name with the default character or a wildcard in it cannot be
// looked up again; one without a short name is already short.
TEST(Listing, ALongNameHoldsOnlyWhereItFindsTheSameEntryAgain) {
  TempDir dir;
  dir.write("a long name.vsk", "abc");
  EXPECT_FALSE(longNameHolds(dir.path(), findData("?.vsk", "A~1.VSK")));
  EXPECT_FALSE(longNameHolds(dir.path(), findData("a*.vsk", "")));
  EXPECT_TRUE(longNameHolds(dir.path(), findData("missing.vsk", "")));
  EXPECT_FALSE(longNameHolds(dir.path(), findData("missing long name.vsk", "MISSIN~1.VSK")));

  WIN32_FIND_DATAA found = foundAnsi(dir.path("a long name.vsk"));
  if (found.cAlternateFileName[0] == '\0') GTEST_SKIP() << "no short names here";
  EXPECT_TRUE(longNameHolds(dir.path(), found));
  // Another entry under the same lookup: any difference shows.
  WIN32_FIND_DATAA other = found;
  other.nFileSizeLow += 1;
  EXPECT_FALSE(longNameHolds(dir.path(), other));
  other = found;
  other.dwFileAttributes ^= FILE_ATTRIBUTE_READONLY;
  EXPECT_FALSE(longNameHolds(dir.path(), other));
}

TEST(Listing, AnEntryWhoseLongNameIsLostGoesByItsShortNameOrIsReported) {
  TempDir dir;
  EXPECT_EQ(ansiEntryName(dir.path(), findData("a.vsk", "")), "a.vsk");
  EXPECT_EQ(ansiEntryName(dir.path(), findData("?.vsk", "A~1.VSK")), "A~1.VSK");
  EXPECT_EQ(ansiEntryName(dir.path(), findData("?.Vsk", "A~1.VSK")), "A~1.VSK");
  // No short name to fall back on, or one that would change the extension:
  // extraction would take a file it should not.
  for (const WIN32_FIND_DATAA& lost :
       {findData("?.vsk", ""), findData("?.vskx", "A~1.VSK"), findData("?.vsk", "A~1")}) {
    try {
      ansiEntryName(dir.path(), lost);
      ADD_FAILURE() << lost.cFileName << " / " << lost.cAlternateFileName;
    } catch (const FileException& e) {
      EXPECT_EQ(std::string(e.what()).rfind(joinEntry(dir.path(), lost.cFileName), 0), 0)
          << e.what();
    }
  }
}

std::vector<std::string> listing(const std::string& dir) {
  std::vector<std::string> lines;
  for (const DirEntry& entry : listDirectory(dir)) {
    const char* kind = entry.kind == DirEntry::Kind::File        ? "f "
                       : entry.kind == DirEntry::Kind::Directory ? "d "
                                                                 : "o ";
    lines.push_back(kind + entry.name);
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

TEST(Listing, ListsFilesAndDirectoriesButNotTheDotEntries) {
  TempDir dir;
  dir.write("a.vsk", "a");
  dir.write("\xc3\xa9\xe3\x81\x82.vsk", "b");
  createDirectory(dir.path("sub"));
  dir.write("sub\\c.vsk", "c");
  EXPECT_EQ(listing(dir.path()),
            (std::vector<std::string>{"d sub", "f a.vsk", "f \xc3\xa9\xe3\x81\x82.vsk"}));
  EXPECT_EQ(listing(dir.path("sub")), std::vector<std::string>{"f c.vsk"});
  EXPECT_EQ(listing(dir.path() + "\\"), listing(dir.path()));
  EXPECT_TRUE(listDirectory("").empty());
}

// Removed while a walk goes on, or replaced by a file: nothing to list.
TEST(Listing, ADirectoryThatIsGoneListsNothing) {
  TempDir dir;
  dir.write("file.vsk", "f");
  for (const char* gone : {"missing", "file.vsk", "missing\\deeper"}) {
    EXPECT_TRUE(listDirectory(dir.path(gone)).empty()) << gone;
  }
}

TEST(Kinds, OfFilesDirectoriesDevicesAndMissingNames) {
  TempDir dir;
  dir.write("a.vsk", "a");
  EXPECT_EQ(fileKind(dir.path("a.vsk")), FileKind::File);
  EXPECT_EQ(fileKind(dir.path()), FileKind::Directory);
  EXPECT_EQ(fileKind(dir.path("missing.vsk")), FileKind::Missing);
  EXPECT_EQ(fileKind(dir.path("missing\\a.vsk")), FileKind::Missing);
  EXPECT_EQ(fileKind("\xff.vsk"), FileKind::Missing);  // no conversion names it
  EXPECT_THROW(createDirectory(dir.path("a.vsk")), FileException);
  EXPECT_THROW(createDirectory(dir.path("missing\\sub")), FileException);
}

}  // namespace
}  // namespace vesk::platform
