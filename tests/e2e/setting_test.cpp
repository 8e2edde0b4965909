// Runs driven by a setting file: alone, merged into the command line, and
// every way a setting file can be refused.
#include <gtest/gtest.h>

#include "testutil/expect.h"
#include "testutil/harness.h"

namespace e2e {
namespace {

const char* kSettings =
    "--- # kesoYAML:0.1\r\n"
    "# the demo settings\r\n"
    "vesk:\r\n"
    "\td: out\r\n"
    "\tincludes:\r\n"
    "\t\t- define.vsk:0\r\n"
    "\t\t- scenario.vsk\r\n"
    "\tvariables:\r\n"
    "\t\tmaxpage: 30   # a comment after a value\r\n"
    "\t\ttitle: \"The\\tEnd\"\r\n";

void writeSources(const Sandbox& box) {
  box.write("define.vsk", "max=${maxpage}\n");
  box.write("scenario.vsk", "title=${title}\n");
  box.write("extra.vsk", "extra ${maxpage}\n");
}

TEST(SettingRun, NoArgumentsReadsTheDefaultFile) {
  Sandbox box;
  writeSources(box);
  box.write("veskenv.yml", kSettings);
  Result r = box.run({});
  std::string define = box.abs("define.vsk"), scenario = box.abs("scenario.vsk");
  std::string expected =
      traceLine("change dirctory to " + nativeAbsolute(box.progDir()) + "\n") +
      traceLine("try to load veskenv.yml\n") + traceLine("loaded\n") + traceLine("get vesk\n") +
      traceLine("get prop d\n") + traceLine("get prop includes\n") +
      traceLine("includes define.vsk:0\n") + traceLine(parentRefMiss("define.vsk")) +
      traceLine("includes scenario.vsk:\n") + traceLine(parentRefMiss("scenario.vsk")) +
      traceLine("get prop variables\n") + traceLine("env.file " + define + "\n") +
      traceLine("env.file " + scenario + "\n") + traceLine("execute\n") +
      traceLine("read " + define + " to replace\n") + define + " => 00.txt\n" +
      traceLine("read " + scenario + " to replace\n") + scenario + " => 01.txt\n";
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(box.read("out/00.txt"), "max=30\r\n");
  EXPECT_EQ(box.read("out/01.txt"), "title=The\tEnd\r\n");
}

TEST(SettingRun, QuotedValuesBlankIndentationAndLoneLineFeeds) {
  Sandbox box;
  writeSources(box);
  box.write("veskenv.yml",
            "\n# lead-in comment\n---\nvesk:\n  d: 'my out'\n  includes:\n    - scenario.vsk:5\n"
            "  variables: title=a\\tb\n");
  Result r = box.run({});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(box.read("my out/05.txt"), "title=a\\tb\r\n");
}

TEST(SettingRun, DoExtractInTheFileAddsTheOtherSources) {
  Sandbox box;
  writeSources(box);
  box.write("veskenv.yml", "---\nvesk:\n  doextract: yes\n  includes:\n    - scenario.vsk:0\n");
  Result r = box.run({});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(box.read("00.txt"), "title=${title}\n");
  EXPECT_EQ(box.read("01.txt"), "max=${maxpage}\n");  // define.vsk
  EXPECT_EQ(box.read("02.txt"), "extra ${maxpage}\n");
}

TEST(SettingRun, NamedSettingFileMergesWithTheCommandLineWinning) {
  Sandbox box;
  writeSources(box);
  box.write("other.yml", kSettings);
  Result r =
      box.run({"define.vsk:7", "extra.vsk", "-setting:other.yml", "-variables:maxpage=99", "-d:."});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find(traceLine("find -setting. load other.yml\n")), std::string::npos);
  // define.vsk keeps 7; extra.vsk takes 0; scenario.vsk from the file takes 1.
  EXPECT_EQ(box.read("07.txt"), "max=99\r\n");
  EXPECT_EQ(box.read("00.txt"), "extra 99\r\n");
  EXPECT_EQ(box.read("01.txt"), "title=The\tEnd\r\n");
  EXPECT_FALSE(box.exists("out"));
}

TEST(SettingRun, EmptySettingOptionNamesTheDefaultFile) {
  Sandbox box;
  writeSources(box);
  box.write("veskenv.yml", kSettings);
  Result r = box.run({"extra.vsk", "-setting"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find(traceLine("find -setting. load veskenv.yml\n")), std::string::npos);
  EXPECT_EQ(box.read("out/00.txt"), "max=30\r\n");
  EXPECT_EQ(box.read("out/01.txt"), "extra 30\r\n");
}

TEST(SettingRun, NamedFilesWithoutTheOptionReadNothing) {
  Sandbox box;
  writeSources(box);
  box.write("veskenv.yml", "this is not even a setting file");
  Result r = box.run({"extra.vsk"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(box.read("00.txt"), "extra ${maxpage}\n");
}

TEST(SettingRun, OnlyOptionsMergeTheDefaultFile) {
  Sandbox box;
  writeSources(box);
  box.write("veskenv.yml", kSettings);
  Result r = box.run({"-d:cli"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find(traceLine("no includes and find default setting. load veskenv.yml\n")),
            std::string::npos);
  EXPECT_EQ(box.read("cli/00.txt"), "max=30\r\n");
  EXPECT_FALSE(box.exists("out"));
}

TEST(SettingRun, ASettingFileDueToBeMergedIsReadBeforeTheVersionRequest) {
  Sandbox box;
  box.write("veskenv.yml", "---\nvesk:\n  includes: a.vsk\n");
  Result r = box.run({"-version"});
  EXPECT_EQ(lastLine(r.out), "Invalid Setting File - can use only array for includes\n");
  EXPECT_EQ(r.status, 1);
  box.write("veskenv.yml", kSettings);
  r = box.run({"-version"});
  EXPECT_NE(r.out.find("VESK VERSION: 1.12\r\n"), std::string::npos);
  EXPECT_EQ(r.status, 0);
}

TEST(SettingRun, RefusedFilesConvertNothing) {
  struct Case {
    std::string document, message;
  };
  const std::string p = "Invalid Setting File - ";
  for (const Case& c : std::vector<Case>{
           {"---\nother:\n  d: out\n", p + "bad YAML format\r\nYamlAssoc: key not exists: vesk\n"},
           {"---\nvesk\n", p + "bad YAML format\r\nParser: colon expected in line2 pos1\n"},
           {"---\r\nvesk\r\n", p + "bad YAML format\r\nParser: colon expected in line2 pos2\n"},
           {"---\nvesk: yes\n", p + "can use only assoc for vesk\n"},
           {"---\nvesk:\n  d:\n    - a\n",
            p + "cannot use array or assoc for indicating a factor of d\n"},
           {"---\nvesk:\n  includes:\n    - a.vsk:1:2\n",
            p + "not a file name with an optional number in includes: a.vsk:1:2\n"},
           {"--- # kesoYAML:0.1", p + "bad YAML format\r\nYamlAssoc: key not exists: vesk\n"},
           {"", p + "bad YAML format\r\nParser: premature end in line1 pos1\n"},
       }) {
    Sandbox box;
    writeSources(box);
    box.write("veskenv.yml", c.document);
    Result r = box.run({});
    SCOPED_TRACE(c.document);
    // The two-line reader errors end with the message's second line.
    EXPECT_TRUE(r.out.ends_with(c.message)) << r.out;
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(box.exists("00.txt"));
    EXPECT_FALSE(box.exists("out"));
  }
}

TEST(SettingRun, MissingDirectoryOrBinarySettingFiles) {
  Sandbox box;
  writeSources(box);
  Result r = box.run({"-setting:absent.yml"});
  EXPECT_EQ(lastLine(r.out),
            "Invalid Setting File - absent.yml: The setting file does not exist.\n");
  EXPECT_EQ(r.status, 1);

  fs::create_directory(box.path("dir.yml"));
  r = box.run({"-setting:dir.yml"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(lastLine(r.out).find("dir.yml: "), std::string::npos) << r.out;

  std::string binary;
  for (int i = 0; i < 4096; ++i) binary.push_back(static_cast<char>((i * 7919) & 0xff));
  box.write("binary.yml", binary);
  r = box.run({"-setting:binary.yml"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Invalid Setting File - bad YAML format\r\n"), std::string::npos);
  EXPECT_FALSE(box.exists("00.txt"));
}

TEST(SettingRun, ALargeSettingFile) {
  Sandbox box;
  std::string document = "---\nvesk:\n  variables:\n";
  for (int i = 0; i < 200000; ++i)
    document += "    v" + std::to_string(i) + ": value" + std::to_string(i) + "\n";
  document += "  includes:\n    - a.vsk:3\n";
  box.write("veskenv.yml", document);
  box.write("a.vsk", "${v199999}\n");
  Result r = box.run({});
  EXPECT_EQ(r.status, 0) << r.out.substr(0, 500);
  EXPECT_EQ(box.read("03.txt"), "value199999\r\n");
}

}  // namespace
}  // namespace e2e
