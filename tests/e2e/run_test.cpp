// The program's run as a user sees it: the typical conversion, the change to
// the program's directory, version and usage requests, and exit statuses.
#include <gtest/gtest.h>

#include "testutil/expect.h"
#include "testutil/harness.h"

namespace e2e {
namespace {

// The trace lines of one file found by extraction: its name is made absolute
// twice (once to look it up, once to add it).
std::string extracted(const std::string& name) {
  return parentRefMiss(name) + parentRefMiss(name) + "extract " + nativeRelative(name) + "\n";
}

std::string usageText() {
  // The first line is enough to recognise the usage text; its exact bytes are
  // checked by the unit tests.
  return "\nvesk [ファイル名[:番号]]...";
}

TEST(Run, TypicalRunFromAnotherDirectory) {
  Sandbox box;
  box.write("define.vsk", "max=${maxkaisoupage}\nplain line\n");
  box.write("scenario.vsk", "page ${maxkaisoupage} of ${maxkaisoupage}x\r\nend");
  Result r = box.run({"define.vsk:0", "scenario.vsk", "-variables:maxkaisoupage=30"});

  std::string define = box.abs("define.vsk"), scenario = box.abs("scenario.vsk");
  std::string expected =
      traceLine("change dirctory to " + nativeAbsolute(box.progDir()) + "\n") +
      traceLine("parse command line\n") + traceLine("run on command line\n") +
      traceLine("set define.vsk\n") + traceLine(parentRefMiss("define.vsk")) +
      traceLine("set scenario.vsk\n") + traceLine(parentRefMiss("scenario.vsk")) +
      traceLine("env.file " + define + "\n") + traceLine("env.file " + scenario + "\n") +
      traceLine("execute\n") + traceLine("read " + define + " to replace\n") + define +
      " => 00.txt\n" + traceLine("read " + scenario + " to replace\n") +
      // The greedy reference spans both, so the name is not found.
      "not found variable: ${maxkaisoupage} of ${maxkaisoupage}\r\n" + scenario + " => 01.txt\n";
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(box.read("00.txt"), "max=30\r\nplain line\r\n");
  EXPECT_EQ(box.read("01.txt"), "page x\r\nend\r\n");
  EXPECT_FALSE(fs::exists(box.elsewhere() / "00.txt"));
}

TEST(Run, BareProgramNameKeepsTheWorkingDirectory) {
  Sandbox box;
  box.write("a.vsk", "A");
  std::string bare = box.program().filename().string();
  Result r = box.runAs(bare, box.progDir(), {"a.vsk"});
  EXPECT_EQ(r.out, traceLine("change dirctory to \n") + traceLine("parse command line\n") +
                       traceLine("run on command line\n") + traceLine("set a.vsk\n") +
                       traceLine(parentRefMiss("a.vsk")) +
                       traceLine("env.file " + box.abs("a.vsk") + "\n") + traceLine("execute\n") +
                       box.abs("a.vsk") + " => 00.txt\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(box.read("00.txt"), "A");
}

// Named by its full path, vesk moves to its own directory and a removed
// starting directory does not matter; named bare, it stays where it was
// started, and a directory without a name ends the run with one message.
TEST(Run, StartedFromARemovedDirectory) {
  if (windowsProgram()) GTEST_SKIP() << "a Windows directory in use cannot be removed";
  Sandbox box;
  box.write("a.vsk", "A");
  Result r = box.runFromRemovedDir(box.program().string(), {"a.vsk"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(r.out.ends_with(box.abs("a.vsk") + " => 00.txt\n")) << r.out;
  EXPECT_EQ(box.read("00.txt"), "A");

  r = box.runFromRemovedDir(box.program().filename().string(), {"a.vsk"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(lastLine(r.out), ".: No such file or directory\n") << r.out;
  EXPECT_EQ(r.err, "");
}

TEST(Run, VersionRequestConvertsNothing) {
  Sandbox box;
  box.write("a.vsk", "A");
  Result r = box.run({"a.vsk", "-version"});
  std::size_t start = r.out.find("VESK VERSION: 1.12\r\nCOMPILED BY: ");
  ASSERT_NE(start, std::string::npos) << r.out;
  if (!traceBuild()) {
    EXPECT_EQ(start, 0u);
  }
  std::string banner = r.out.substr(start);
  // Two lines: the version, then the tool chain; the print adds one "\n".
  EXPECT_NE(banner.find(" Ver. "), std::string::npos);
  EXPECT_EQ(banner.find('\n'), banner.find("\r\n") + 1);
  EXPECT_EQ(banner.find('\n', banner.find("\r\n") + 2), banner.size() - 1);
  EXPECT_EQ(r.status, 0);
  EXPECT_FALSE(box.exists("00.txt"));
}

TEST(Run, UsageErrorsPrintTheUsageTextAndExitTwo) {
  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
           {"-"}, {"-:x"}, {"a:b:c"}, {":5"}, {""}, {"-env:a.yml"}, {"-D:x"}, {"--d:x"}}) {
    Sandbox box;
    Result r = box.run(args);
    SCOPED_TRACE(args.front());
    EXPECT_NE(r.out.find(usageText()), std::string::npos);
    EXPECT_TRUE(r.out.ends_with("-variables:maxkaisoupage=30\n\n"));
    EXPECT_EQ(r.status, 2);
  }
}

TEST(Run, FailuresPrintOneLineAndExitOne) {
  Sandbox box;
  Result r = box.run({"missing.vsk"});
  std::string message = box.abs("missing.vsk") + ": The source file does not exist.\n";
  EXPECT_TRUE(r.out.ends_with(message)) << r.out;
  if (!traceBuild()) {
    EXPECT_EQ(r.out, message);
  }
  EXPECT_EQ(r.status, 1);
}

TEST(Run, NoArgumentsAndNoSettingFileExtractsEverything) {
  Sandbox box;
  box.write("a.vsk", "a");
  box.write("sub/b.vsk", "b");
  box.write("z.vsk", "z");
  box.write("notes.txt", "not a source");
  Result r = box.run({});
  std::string a = box.abs("a.vsk"), b = box.abs("sub/b.vsk"), z = box.abs("z.vsk");
  EXPECT_EQ(r.out, traceLine("change dirctory to " + nativeAbsolute(box.progDir()) + "\n") +
                       traceLine("try to load veskenv.yml\n") + traceLine("execute\n") +
                       traceLine("extract from . vsk\n") + traceLine(extracted("./a.vsk")) +
                       traceLine(extracted("./sub/b.vsk")) + traceLine(extracted("./z.vsk")) + a +
                       " => 00.txt\n" + b + " => 01.txt\n" + z + " => 02.txt\n");
  EXPECT_EQ(box.read("00.txt"), "a");
  EXPECT_EQ(box.read("01.txt"), "b");
  EXPECT_EQ(box.read("02.txt"), "z");
  EXPECT_EQ(r.status, 0);
}

}  // namespace
}  // namespace e2e
