#include "config/env.h"

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/test_ordered_map.h"
#include "fileutil/path.h"

namespace vesk {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

Entries entries(const StringTable& table) { return Entries(table.begin(), table.end()); }

std::string absolute(const std::string& file) { return absPath(toNativeSeparators(file)); }

TEST(ParseVariablesTest, Pairs) {
  EXPECT_EQ(entries(parseVariables("a=1,b=2,a=3")), (Entries{{"a", "3"}, {"b", "2"}}));
  EXPECT_EQ(entries(parseVariables("a=b=c,e=")), (Entries{{"a", "b=c"}, {"e", ""}}));
  // Only the ends of a piece are trimmed; blanks beside '=' stay.
  EXPECT_EQ(entries(parseVariables(" \t a = 1 \r\n\v\f")), (Entries{{"a ", " 1"}}));
  EXPECT_EQ(entries(parseVariables("\xff\x82=\xa0")), (Entries{{"\xff\x82", "\xa0"}}));
}

TEST(ParseVariablesTest, PiecesWithoutAnOrdinaryName) {
  EXPECT_EQ(entries(parseVariables("flag")), (Entries{{"flag", "flag"}}));
  // The match starts at the first byte that is not '='; the '=' signs before
  // it stay in both the name and the value.
  EXPECT_EQ(entries(parseVariables("=a=b")), (Entries{{"=a", "=b"}}));
  EXPECT_EQ(entries(parseVariables("==a=b")), (Entries{{"==a", "==b"}}));
  EXPECT_EQ(entries(parseVariables("=")), (Entries{{"=", "="}}));
  EXPECT_EQ(entries(parseVariables("=a")), (Entries{{"=a", "=a"}}));
  // Empty pieces add no empty name.
  EXPECT_TRUE(parseVariables("").empty());
  EXPECT_EQ(entries(parseVariables(",a=1,, \t ,b=2,")), (Entries{{"a", "1"}, {"b", "2"}}));
}

TEST(ParseVariablesTest, LineFeedInsideAPiece) {
  // The name may span a line feed; the value stops at one, and the text
  // after it stays in both.
  EXPECT_EQ(entries(parseVariables("a\nb=c")), (Entries{{"a\nb", "c"}}));
  EXPECT_EQ(entries(parseVariables("a=1\r\nb=2")), (Entries{{"a\nb=2", "1\r\nb=2"}}));
}

TEST(VESKEnvTest, VariablesOptionReplacesTheVariableTable) {
  VESKEnv env;
  env.setVariable("old", "x");
  env.setOption("d", "out");
  env.setOption("variables", "a=1,b=2");
  EXPECT_EQ(entries(env.variables()), (Entries{{"a", "1"}, {"b", "2"}}));
  env.setOption("variables", "c=3");
  EXPECT_EQ(entries(env.variables()), (Entries{{"c", "3"}}));
  // Names are case-sensitive: this one is an ordinary option.
  env.setOption("Variables", "z=9");
  EXPECT_EQ(entries(env.options()), (Entries{{"d", "out"}, {"Variables", "z=9"}}));
}

TEST(VESKEnvTest, IncludesAreKeptUnderAbsolutePathsInFirstOrder) {
  VESKEnv env;
  env.addInclude("sub/a.vsk", "1");
  env.addInclude("b.vsk", "");
  env.addInclude("sub/a.vsk", "7");
  env.addInclude(absolute("abs.vsk"), "2");
  // Replacing a number keeps the file's place: automatic numbers follow the
  // order in which files were first given.
  EXPECT_EQ(
      entries(env.includes()),
      (Entries{{absolute("sub/a.vsk"), "7"}, {absolute("b.vsk"), ""}, {absolute("abs.vsk"), "2"}}));
  EXPECT_TRUE(isAbsolute(env.includes().begin()->first));

  // Windows separators are unified; on POSIX a backslash is an ordinary byte.
  env.addInclude("sub\\a.vsk", "9");
  EXPECT_EQ(env.includes().size(), platform::kWindows ? 3u : 4u);
}

TEST(VESKEnvTest, MergeWithAndWithoutOverwrite) {
  VESKEnv theirs;
  theirs.addInclude("a.vsk", "5");
  theirs.addInclude("b.vsk", "6");
  theirs.setOption("d", "theirs");
  theirs.setVariable("v", "theirs");
  theirs.setVariable("w", "2");

  // Merging a copy and merging an object given up (moved) agree.
  for (int mode = 0; mode < 4; ++mode) {
    bool overwrite = mode % 2 == 1;
    VESKEnv mine;
    mine.addInclude("a.vsk", "1");
    mine.setOption("d", "mine");
    mine.setVariable("v", "mine");
    if (mode < 2) {
      mine.merge(theirs, overwrite);
    } else {
      mine.merge(VESKEnv(theirs), overwrite);
    }
    std::string winner = overwrite ? "theirs" : "mine";
    EXPECT_EQ(entries(mine.includes()),
              (Entries{{absolute("a.vsk"), overwrite ? "5" : "1"}, {absolute("b.vsk"), "6"}}));
    EXPECT_EQ(entries(mine.options()), (Entries{{"d", winner}}));
    EXPECT_EQ(entries(mine.variables()), (Entries{{"v", winner}, {"w", "2"}}));
  }
}

TEST(VESKEnvTest, MergingIntoAnEmptyObjectTakesTheTablesWhole) {
  VESKEnv theirs;
  theirs.addInclude("a.vsk", "5");
  theirs.setOption("d", "x");
  for (int i = 0; i < 1000; ++i) theirs.setVariable("v" + std::to_string(i), std::to_string(i));
  VESKEnv copy = theirs;
  VESKEnv mine;
  mine.merge(std::move(copy), false);
  EXPECT_EQ(mine.variables(), theirs.variables());
  EXPECT_EQ(mine.options(), theirs.options());
  EXPECT_EQ(mine.includes(), theirs.includes());
  VESKEnv& self = mine;
  mine.merge(static_cast<VESKEnv&&>(self), true);  // merging itself changes nothing
  EXPECT_EQ(mine.variables(), theirs.variables());

  VariableTable taken = mine.takeVariables();
  EXPECT_EQ(taken, theirs.variables());
  EXPECT_TRUE(mine.variables().empty());
  EXPECT_EQ(mine.variables().find("v1"), nullptr);
  mine.setVariable("v1", "again");  // the emptied table is usable
  EXPECT_EQ(*mine.variables().find("v1"), "again");
}

TEST(VESKEnvTest, MergeCopiesEntriesVerbatim) {
  VESKEnv mine;
  mine.setVariable("v", "1");
  VESKEnv before = mine;
  mine.merge(VESKEnv(), true);
  mine.merge(mine, true);
  EXPECT_EQ(mine.variables(), before.variables());

  // A "variables" option is not diverted, and keys are not made absolute.
  StringTable options, includes;
  options.set("variables", "x=1");
  includes.set("relative.vsk", "3");
  mine.mergeOptions(options, false);
  mine.mergeIncludes(includes, false);
  EXPECT_EQ(entries(mine.options()), (Entries{{"variables", "x=1"}}));
  EXPECT_EQ(entries(mine.variables()), (Entries{{"v", "1"}}));
  EXPECT_EQ(entries(mine.includes()), (Entries{{"relative.vsk", "3"}}));
}

}  // namespace
}  // namespace vesk
