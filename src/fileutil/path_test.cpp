#include "fileutil/path.h"

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace vesk {
namespace {

const PathRules& win = kWindowsPaths;
const PathRules& posix = kPosixPaths;

TEST(WindowsPaths, AbsPathAgainstWorkDirectory) {
  const char* cwd = "C:\\work";
  EXPECT_EQ(absPath("a.vsk", cwd, win), "C:\\work\\a.vsk");
  EXPECT_EQ(absPath(".\\a.vsk", cwd, win), "C:\\work\\a.vsk");
  EXPECT_EQ(absPath("..\\a.vsk", cwd, win), "C:\\a.vsk");
  EXPECT_EQ(absPath("..\\", cwd, win), "C:\\");
  EXPECT_EQ(absPath("D:\\x.vsk", cwd, win), "D:\\x.vsk");
  EXPECT_EQ(absPath("..", cwd, win), "C:\\work\\..");
  EXPECT_EQ(absPath("sub\\..\\a.vsk", cwd, win), "C:\\work\\sub\\..\\a.vsk");
  EXPECT_EQ(absPath("\\data\\a.vsk", cwd, win), "C:\\work\\data\\a.vsk");
  EXPECT_EQ(absPath(".", cwd, win), "C:\\work");
  EXPECT_EQ(absPath(".\\", cwd, win), "C:\\work");
  EXPECT_EQ(absPath(".\\.\\a", cwd, win), "C:\\work\\.\\a");
  EXPECT_EQ(absPath("D:x.vsk", cwd, win), "D:x.vsk");
}

TEST(WindowsPaths, AbsPathAgainstDriveRoot) {
  const char* cwd = "C:\\";
  EXPECT_EQ(absPath("..\\..\\x", cwd, win), "C:x");
  EXPECT_EQ(absPath("\\data\\a.vsk", cwd, win), "C:\\data\\a.vsk");
  EXPECT_EQ(absPath("a.vsk", cwd, win), "C:\\a.vsk");
}

TEST(WindowsPaths, Pieces) {
  EXPECT_EQ(parentDir("C:\\work\\sub", win), "C:\\work\\");
  EXPECT_EQ(parentDir("C:\\work\\", win), "C:\\");
  EXPECT_EQ(parentDir("C:\\", win), "C:");
  EXPECT_EQ(parentDir("C:", win), "C:");
  EXPECT_EQ(drivePrefix("C:\\a:b", win), "C:");
  EXPECT_EQ(drivePrefix("\\work", win), "");
  EXPECT_TRUE(isAbsolute("C:\\work", win));
  EXPECT_FALSE(isAbsolute("\\work", win));
  EXPECT_FALSE(isAbsolute("C:work", win));
  EXPECT_FALSE(isAbsolute("C:", win));
  EXPECT_FALSE(isAbsolute("work", win));
  EXPECT_EQ(countParentRefs("..\\..\\x", win), 2u);
  EXPECT_EQ(countParentRefs("..\\..", win), 1u);
  EXPECT_EQ(countParentRefs("../x", win), 0u);
  EXPECT_EQ(countParentRefs("C:\\..\\x", win), 0u);
  EXPECT_EQ(toBackslash("a/b/c.vsk"), "a\\b\\c.vsk");
}

TEST(WindowsPaths, JoinRules) {
  EXPECT_EQ(joinPath("C:\\w", "", win), "C:\\w");
  EXPECT_EQ(joinPath("", "a", win), "a");
  EXPECT_EQ(joinPath("C:\\w", "D:a", win), "D:a");
  EXPECT_EQ(joinPath("C:", "a", win), "C:a");
  EXPECT_EQ(joinPath("w", "\\a", win), "\\a");
  EXPECT_EQ(joinPath("C:\\w\\", "\\a", win), "C:\\w\\a");
  EXPECT_EQ(joinPath("C:\\w", "\\a", win), "C:\\w\\a");
  EXPECT_EQ(joinPath("C:\\w\\", "a", win), "C:\\w\\a");
  EXPECT_EQ(joinPath("C:\\w", "a", win), "C:\\w\\a");
}

TEST(WindowsPaths, NamesOfProgramAndOutput) {
  EXPECT_EQ(directoryPart("C:\\bin\\vesk.exe", win), "C:\\bin");
  EXPECT_EQ(directoryPart("C:vesk.exe", win), "C:");
  EXPECT_EQ(directoryPart("C:\\vesk.exe", win), "C:\\");
  EXPECT_EQ(directoryPart("\\vesk.exe", win), "\\");
  EXPECT_EQ(directoryPart("bin/vesk.exe", win), "bin");
  EXPECT_EQ(directoryPart("vesk.exe", win), "");
  EXPECT_EQ(directoryPart("", win), "");
  EXPECT_EQ(baseName("out\\sub\\00.txt", win), "00.txt");
  EXPECT_EQ(baseName("C:00.txt", win), "00.txt");
  EXPECT_EQ(baseName("00.txt", win), "00.txt");
}

TEST(PosixPaths, AbsPath) {
  const char* cwd = "/work";
  EXPECT_EQ(absPath("a.vsk", cwd, posix), "/work/a.vsk");
  EXPECT_EQ(absPath("./a.vsk", cwd, posix), "/work/a.vsk");
  EXPECT_EQ(absPath("../a.vsk", cwd, posix), "/a.vsk");
  EXPECT_EQ(absPath("../", cwd, posix), "/");
  EXPECT_EQ(absPath("/x.vsk", cwd, posix), "/x.vsk");
  EXPECT_EQ(absPath("..", cwd, posix), "/work/..");
  EXPECT_EQ(absPath("sub/../a.vsk", cwd, posix), "/work/sub/../a.vsk");
  EXPECT_EQ(absPath(".", cwd, posix), "/work");
  EXPECT_EQ(absPath("a\\b", cwd, posix), "/work/a\\b");
  EXPECT_EQ(absPath("../../x", "/", posix), "/x");
  EXPECT_EQ(absPath("a.vsk", "/", posix), "/a.vsk");
  EXPECT_EQ(absPath("../../../x", "/a/b", posix), "/x");
}

// A doubled separator after "./" or "../" must not turn the name into one at
// the root: the file named is the one beside (or above) the base.
TEST(PosixPaths, DoubledSeparatorAfterARefStaysBelowTheBase) {
  const char* cwd = "/work/dir";
  EXPECT_EQ(absPath(".//a.vsk", cwd, posix), "/work/dir/a.vsk");
  EXPECT_EQ(absPath(".///sub/a.vsk", cwd, posix), "/work/dir/sub/a.vsk");
  EXPECT_EQ(absPath("..//x.vsk", cwd, posix), "/work/x.vsk");
  EXPECT_EQ(absPath("../..//x.vsk", cwd, posix), "/x.vsk");
  EXPECT_EQ(absPath(".//", cwd, posix), "/work/dir");
  // With drives the base's directory was kept already.
  EXPECT_EQ(absPath(".\\\\a.vsk", "C:\\work", win), "C:\\work\\a.vsk");
  EXPECT_EQ(absPath("..\\\\x.vsk", "C:\\work\\dir", win), "C:\\work\\x.vsk");
}

TEST(PosixPaths, Pieces) {
  EXPECT_EQ(parentDir("/work/sub", posix), "/work/");
  EXPECT_EQ(parentDir("/work/", posix), "/");
  EXPECT_EQ(parentDir("/work", posix), "/");
  EXPECT_EQ(parentDir("/", posix), "/");
  EXPECT_EQ(drivePrefix("C:/x", posix), "");
  EXPECT_TRUE(isAbsolute("/", posix));
  EXPECT_FALSE(isAbsolute("C:\\work", posix));
  EXPECT_EQ(countParentRefs("../../x", posix), 2u);
  EXPECT_EQ(countParentRefs("..\\x", posix), 0u);
  EXPECT_EQ(joinPath("/w", "/a", posix), "/a");
  EXPECT_EQ(joinPath("/w/", "a", posix), "/w/a");
  EXPECT_EQ(directoryPart("/usr/bin/vesk", posix), "/usr/bin");
  EXPECT_EQ(directoryPart("bin/vesk", posix), "bin");
  EXPECT_EQ(directoryPart("/vesk", posix), "/");
  EXPECT_EQ(directoryPart("C:vesk", posix), "");
  EXPECT_EQ(directoryPart("vesk", posix), "");
  EXPECT_EQ(baseName("out/00.txt", posix), "00.txt");
  EXPECT_EQ(baseName("a:b\\00.txt", posix), "a:b\\00.txt");
}

TEST(NativePaths, AbsPathUsesCurrentDirectory) {
  std::string cwd = platform::currentDir();
  EXPECT_EQ(absPath("a.vsk"), joinPath(cwd, "a.vsk"));
  EXPECT_EQ(toNativeSeparators("a/b"), platform::kWindows ? "a\\b" : "a/b");
}

}  // namespace
}  // namespace vesk
