// Japanese names on their way between the system's code page and the UTF-8
// the program keeps inside: on the command line, in a setting file, found by
// extraction, in the program's own directory, and printed in report lines.
//
// The runs use ja_JP.UTF-8, under which a Windows program has the code page
// 932 (Shift-JIS). The names hold characters whose second Shift-JIS byte is
// 0x5C, the byte of '\': handled as bytes in the code page, such a name would
// split at the wrong places.
#include <gtest/gtest.h>

#include "expect.h"
#include "harness.h"

namespace e2e {
namespace {

constexpr const char* kLocale = "ja_JP.UTF-8";

const std::string kName = "日本語表示.vsk";         // 表 is 0x95 0x5C in Shift-JIS
const std::string kNested = "資料ソース/台本.vsk";  // ソ is 0x83 0x5C
const std::string kValue = "値";

class JapaneseNames : public ::testing::Test {
 protected:
  void SetUp() override { box.setLocale(kLocale); }

  // A report line as the program prints it: the path in the code page.
  std::string reported(const std::string& relative, const std::string& output) const {
    return inCodePage(box.abs(relative), kLocale) + " => " + output + "\n";
  }

  Sandbox box;
};

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST_F(JapaneseNames, SourcesOnTheCommandLine) {
  box.write(kName, "v=${v}\n");
  box.write(kNested, "plain\n");
  Result r = box.run({kName + ":2", kNested, "-variables:v=" + kValue});
  EXPECT_EQ(r.status, 0) << r.out;
  // The value came in the code page and is written as UTF-8.
  EXPECT_EQ(box.read("02.txt"), "v=" + kValue + "\r\n");
  EXPECT_EQ(box.read("00.txt"), "plain\r\n");
  EXPECT_TRUE(contains(r.out, reported(kName, "02.txt"))) << r.out;
  EXPECT_TRUE(r.out.ends_with(reported(kNested, "00.txt"))) << r.out;
  if (traceBuild()) {
    // The parser's line is converted back to the code page; the job's lines
    // print the UTF-8 it keeps.
    EXPECT_TRUE(contains(r.out, "set " + inCodePage(kName, kLocale) + "\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "env.file " + box.abs(kName) + "\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "env.file " + box.abs(kNested) + "\n")) << r.out;
  }
}

TEST_F(JapaneseNames, SourceListedInASettingFile) {
  box.write(kName, "v=${v}\n");
  // A setting file holds its "includes" in the system code page.
  box.write("veskenv.yml", "---\r\nvesk:\r\n\tincludes:\r\n\t\t- " + inCodePage(kName, kLocale) +
                               ":3\r\n\t\t- " + inCodePage(kNested, kLocale) +
                               "\r\n\tvariables:\r\n\t\tv: " + kValue + "\r\n");
  box.write(kNested, "n\n");
  Result r = box.run({});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(box.read("03.txt"), "v=" + kValue + "\r\n");
  EXPECT_EQ(box.read("00.txt"), "n\r\n");
  EXPECT_TRUE(contains(r.out, reported(kName, "03.txt"))) << r.out;
  EXPECT_TRUE(r.out.ends_with(reported(kNested, "00.txt"))) << r.out;
  if (traceBuild()) {
    EXPECT_TRUE(contains(r.out, "includes " + inCodePage(kName, kLocale) + ":3\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "env.file " + box.abs(kName) + "\n")) << r.out;
  }
}

TEST_F(JapaneseNames, FoundByExtractionInByteOrder) {
  box.write("表.vsk", "b");
  box.write(kNested, "c");
  box.write("日本.vsk", "a");
  Result r = box.run({});
  EXPECT_EQ(r.status, 0) << r.out;
  // UTF-8 byte order: 日 (E6) before 表 (E8) before 資 (E8 B3).
  std::string expected =
      reported("日本.vsk", "00.txt") + reported("表.vsk", "01.txt") + reported(kNested, "02.txt");
  EXPECT_TRUE(r.out.ends_with(expected)) << r.out;
  EXPECT_EQ(box.read("00.txt") + box.read("01.txt") + box.read("02.txt"), "abc");
}

TEST_F(JapaneseNames, ProgramInAJapaneseDirectory) {
  const std::string dir = "表示ソフト";
  fs::path program = box.path(dir) / box.program().filename();
  fs::create_directories(program.parent_path());
  fs::copy_file(box.program(), program);
  box.write(dir + "/a.vsk", "A");
  Result r = box.runAs(program.string(), box.elsewhere(), {"a.vsk"});
  EXPECT_EQ(r.status, 0) << r.out;
  // Relative names are resolved in the program's directory.
  EXPECT_EQ(box.read(dir + "/00.txt"), "A");
  EXPECT_TRUE(r.out.ends_with(reported(dir + "/a.vsk", "00.txt"))) << r.out;
  if (traceBuild()) {
    EXPECT_TRUE(r.out.starts_with("change dirctory to " + nativeAbsolute(box.path(dir)) + "\n"))
        << r.out;
  }
}

TEST_F(JapaneseNames, FailureMessagesKeepTheUtf8Name) {
  Result r = box.run({"無い.vsk"});
  EXPECT_EQ(r.status, 1);
  // A message is printed as it is, unlike the report lines.
  EXPECT_TRUE(r.out.ends_with(box.abs("無い.vsk") + ": The source file does not exist.\n"))
      << r.out;
}

}  // namespace
}  // namespace e2e
