#include "config/include.h"

#include <gtest/gtest.h>

namespace vesk {
namespace {

// "file|number" for a result, "none" for no result.
std::string show(std::string_view text) {
  std::optional<FileSpec> entry = parseInclude(text);
  return entry ? entry->file + "|" + entry->number : "none";
}

TEST(ParseIncludeTest, NameAndNumber) {
  EXPECT_EQ(show("a.vsk"), "a.vsk|");
  EXPECT_EQ(show("a.vsk:3"), "a.vsk|3");
  EXPECT_EQ(show("a.vsk:"), "a.vsk|");
  EXPECT_EQ(show("x:"), "x|");
  EXPECT_EQ(show("a.vsk:x y"), "a.vsk|x y");  // the number is checked later
  EXPECT_EQ(show("/work/a.vsk:12"), "/work/a.vsk|12");
}

TEST(ParseIncludeTest, DriveColonBelongsToTheName) {
  EXPECT_EQ(show("C:\\work\\a.vsk"), "C:\\work\\a.vsk|");
  EXPECT_EQ(show("C:\\work\\a.vsk:5"), "C:\\work\\a.vsk|5");
  EXPECT_EQ(show("C:\\a:"), "C:\\a|");
  EXPECT_EQ(show("C:\\x"), "C:\\x|");  // exactly four bytes
  // Three bytes are too short to be a drive path.
  EXPECT_EQ(show("C:\\"), "C|\\");
  // Only a backslash in third place makes a drive.
  EXPECT_EQ(show("C:/work/a.vsk"), "C|/work/a.vsk");
}

TEST(ParseIncludeTest, InvalidEntries) {
  EXPECT_EQ(show(""), "none");
  EXPECT_EQ(show(":"), "none");
  EXPECT_EQ(show(":5"), "none");
  EXPECT_EQ(show("a:b:c"), "none");
  EXPECT_EQ(show("a::"), "none");
  EXPECT_EQ(show("C:\\x:1:2"), "none");
  EXPECT_EQ(show("C:/x:1"), "none");
}

TEST(ParseIncludeTest, BytesAreKept) {
  std::string name = std::string("\xff\x82\xa0\0z", 5);
  EXPECT_EQ(show(name + ":7"), name + "|7");
}

}  // namespace
}  // namespace vesk
