#include "fileutil/dir.h"

#include <chrono>
#include <filesystem>

#include <gtest/gtest.h>

#include "base/exception.h"
#include "base/test_dir.h"
#include "fileutil/wildcard.h"

namespace vesk {
namespace {

bool wildcardMatch(std::string_view pattern, std::string_view text) {
  return WildcardPattern(pattern).matches(text);
}

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

class DirTest : public TempDirTest {};

TEST_F(DirTest, EnsureDirCreatesOnceAndRefusesAFile) {
  ensureDir(".");
  ensureDir(path("out"));
  EXPECT_TRUE(fs::is_directory(path("out")));
  ensureDir(path("out"));  // already there: silent

  writeFile("file");
  try {
    ensureDir(path("file"));
    FAIL();
  } catch (const FileException& e) {
    EXPECT_EQ(e.message(), path("file") + ": The file that has same name already exists.");
  }
  // Only the last level is created.
  try {
    ensureDir(path("a/b"));
    FAIL();
  } catch (const FileException& e) {
    EXPECT_EQ(e.message(), path("a/b") + ": No such file or directory");
  }
  EXPECT_THROW(ensureDir(""), FileException);
}

TEST_F(DirTest, EnsureDirAcceptsLinkToDirectory) {
  fs::create_directory(path("real"));
  fs::create_directory_symlink("real", path("link"));
  ensureDir(path("link"));
}

TEST_F(DirTest, ListFilesTakesMatchingFilesInWalkOrder) {
  writeFile("z.vsk");
  writeFile("a.vsk");
  writeFile("A.VSK");
  writeFile("a.vsk.bak");
  writeFile("a.xvsk");
  writeFile("sub/b.vsk");
  writeFile("sub/deeper/c.vsk");
  writeFile("sub.vsk");
  fs::create_directory(path("dir.vsk"));  // a directory is never taken

  Names want = {
      path("A.VSK"),   path("a.vsk"), path("a.xvsk"), path("sub/b.vsk"), path("sub/deeper/c.vsk"),
      path("sub.vsk"), path("z.vsk")};
  EXPECT_EQ(listFiles(dir_, "vsk", {}), want);
  EXPECT_EQ(listFiles(dir_ + "/", "vsk", {}), want);

  Names withDot = {path("A.VSK"),   path("a.vsk"), path("sub/b.vsk"), path("sub/deeper/c.vsk"),
                   path("sub.vsk"), path("z.vsk")};
  EXPECT_EQ(listFiles(dir_, ".VSK", {}), withDot);
}

TEST_F(DirTest, ListFilesNamesFromTheGivenDirectory) {
  writeFile("a.vsk");
  writeFile("sub/b.vsk");
  std::string before = fs::current_path().string();
  fs::current_path(dir_);
  Names got = listFiles(".", ".vsk", {});
  fs::current_path(before);
  EXPECT_EQ(got, (Names{"./a.vsk", "./sub/b.vsk"}));
}

TEST_F(DirTest, ListFilesExcludesExactNamesOnly) {
  writeFile("a.vsk");
  writeFile("A.VSK");
  writeFile("sub/b.vsk");
  Names exclude = {path("a.vsk"), path("SUB/B.VSK"), "a.vsk"};
  EXPECT_EQ(listFiles(dir_, ".vsk", exclude), (Names{path("A.VSK"), path("sub/b.vsk")}));
}

TEST_F(DirTest, ListFilesSkipsLinkedDirectoriesButTakesLinkedFiles) {
  writeFile("sub/b.vsk");
  writeFile("target.txt");
  fs::create_directory_symlink("..", path("sub/loop"));  // would never end
  fs::create_directory_symlink("sub", path("alias"));
  fs::create_symlink("target.txt", path("linked.vsk"));
  fs::create_symlink("missing", path("dangling.vsk"));
  EXPECT_EQ(listFiles(dir_, ".vsk", {}), (Names{path("linked.vsk"), path("sub/b.vsk")}));
}

TEST_F(DirTest, ListFilesOfMissingDirectoryIsEmptyOfUnreadableOneRaises) {
  EXPECT_TRUE(listFiles(path("missing"), ".vsk", {}).empty());
  EXPECT_TRUE(listFiles("", "", {}).empty());
  writeFile("file.vsk");
  EXPECT_TRUE(listFiles(path("file.vsk"), ".vsk", {}).empty());
  // A start directory that cannot be opened ends the walk with its name.
  fs::create_symlink("loop", path("loop"));
  try {
    listFiles(path("loop"), ".vsk", {});
    FAIL() << "a looping start directory was walked";
  } catch (const FileException& e) {
    EXPECT_EQ(e.message(), path("loop") + ": Too many levels of symbolic links");
  }
  if (!permissionsBind()) return;  // as for root, who reads every directory
  writeFile("closed/x.vsk");
  fs::permissions(path("closed"), fs::perms::none);
  try {
    listFiles(dir_, ".vsk", {});
    FAIL() << "an unreadable directory was skipped";
  } catch (const FileException& e) {
    EXPECT_EQ(e.message(), path("closed") + ": Permission denied");
  }
}

TEST_F(DirTest, ListFilesWalksDeepTrees) {
  // The walk keeps its own stack; every level of a long chain is reached.
  std::string rel;
  for (int i = 0; i < 200; ++i) rel += "d/";
  writeFile(rel + "deep.vsk");
  EXPECT_EQ(listFiles(dir_, ".vsk", {}), Names{path(rel + "deep.vsk")});
}

TEST_F(DirTest, ListFilesIsFastOnManyFiles) {
  for (int d = 0; d < 10; ++d) {
    std::string sub = path("d") + std::to_string(d);
    fs::create_directory(sub);
    for (int f = 0; f < 2000; ++f) {
      std::string name = sub;
      name.append("/f").append(std::to_string(f)).append(f % 2 ? ".vsk" : ".txt");
      std::ofstream{name};
    }
  }
  Names exclude;
  for (int f = 1; f < 2000; f += 2) exclude.push_back(path("d0/f") + std::to_string(f) + ".vsk");
  auto start = std::chrono::steady_clock::now();
  Names found = listFiles(dir_, ".vsk", exclude);
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(found.size(), 9u * 1000u);
  EXPECT_LT(elapsed, std::chrono::seconds(2));
}

TEST(Wildcard, StarsQuestionMarksAndCase) {
  EXPECT_TRUE(wildcardMatch("*.vsk", "./sub/a.vsk"));
  EXPECT_TRUE(wildcardMatch("*.vsk", "./A.VSK"));
  EXPECT_TRUE(wildcardMatch("*VSK", "a.vsk"));
  EXPECT_FALSE(wildcardMatch("*.vsk", "a.vsk.bak"));
  EXPECT_TRUE(wildcardMatch("*", ""));
  EXPECT_TRUE(wildcardMatch("", ""));
  EXPECT_FALSE(wildcardMatch("", "a"));
  EXPECT_TRUE(wildcardMatch("a?c", "abc"));
  EXPECT_FALSE(wildcardMatch("a?c", "ac"));
  EXPECT_TRUE(wildcardMatch("a**b*", "ab"));
  EXPECT_TRUE(wildcardMatch("*ab", "aab"));
  EXPECT_TRUE(wildcardMatch("*a*b", "xaxxbxab"));
  EXPECT_FALSE(wildcardMatch("*a*b", "xaxxbxa"));
  // One '?' is one character, also when that takes several bytes.
  EXPECT_TRUE(wildcardMatch("?.vsk", "\xE3\x81\x82.vsk"));
  EXPECT_FALSE(wildcardMatch("??.vsk", "\xE3\x81\x82.vsk"));
  // Only A-Z ignore case.
  EXPECT_FALSE(wildcardMatch("\xC3\xA4", "\xC3\x84"));
}

TEST(Wildcard, BracketClasses) {
  EXPECT_TRUE(wildcardMatch("[abc].vsk", "b.vsk"));
  EXPECT_TRUE(wildcardMatch("[abc].vsk", "B.vsk"));
  EXPECT_FALSE(wildcardMatch("[abc].vsk", "d.vsk"));
  EXPECT_TRUE(wildcardMatch("[a-c]x", "Cx"));
  EXPECT_TRUE(wildcardMatch("[A-C]x", "bx"));
  EXPECT_FALSE(wildcardMatch("[a-c]x", "dx"));
  EXPECT_TRUE(wildcardMatch("[!a]x", "bx"));
  EXPECT_FALSE(wildcardMatch("[!a]x", "Ax"));
  EXPECT_TRUE(wildcardMatch("[^0-9]", "z"));
  EXPECT_FALSE(wildcardMatch("[^0-9]", "5"));
  EXPECT_TRUE(wildcardMatch("[]]", "]"));
  EXPECT_TRUE(wildcardMatch("[a-]", "-"));
  EXPECT_TRUE(wildcardMatch("[!]]", "a"));
  EXPECT_TRUE(wildcardMatch("[\xE3\x81\x82-\xE3\x82\x93]", "\xE3\x81\x8B"));
  // An unclosed bracket is an ordinary character.
  EXPECT_TRUE(wildcardMatch("a[b", "a[b"));
  EXPECT_FALSE(wildcardMatch("a[b", "ab"));
}

TEST(Wildcard, PathologicalPatternStaysFast) {
  std::string text(100000, 'a');
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(wildcardMatch("*a*a*a*a*a*a*a*a*a*b", text));
  EXPECT_TRUE(wildcardMatch("*a*a*a*a*a*a*a*a*a*", text));
  EXPECT_FALSE(wildcardMatch("*??????????????????????b", text));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

// Plain recursive matching over ASCII, for comparison on short inputs.
bool referenceMatch(std::string_view p, std::string_view t) {
  if (p.empty()) return t.empty();
  if (p[0] == '*')
    return referenceMatch(p.substr(1), t) || (!t.empty() && referenceMatch(p, t.substr(1)));
  if (t.empty()) return false;
  if (p.starts_with("[ab]"))
    return (t[0] == 'a' || t[0] == 'b') && referenceMatch(p.substr(4), t.substr(1));
  return (p[0] == '?' || p[0] == t[0]) && referenceMatch(p.substr(1), t.substr(1));
}

TEST(Wildcard, AgreesWithPlainRecursion) {
  const char* pieces[] = {"a", "b", "c", "*", "?", "[ab]"};
  unsigned seed = 12345;
  auto next = [&seed] { return (seed = seed * 1103515245 + 12345) >> 16; };
  for (int round = 0; round < 20000; ++round) {
    std::string pattern, text;
    for (unsigned i = next() % 6; i > 0; --i) pattern += pieces[next() % 6];
    for (unsigned i = next() % 8; i > 0; --i) text += "abc"[next() % 3];
    ASSERT_EQ(wildcardMatch(pattern, text), referenceMatch(pattern, text))
        << pattern << " / " << text;
  }
}

}  // namespace
}  // namespace vesk
