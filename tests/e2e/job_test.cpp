// Numbering, output names, extraction and the incremental modes, end to end.
#include <gtest/gtest.h>

#include <thread>

#include "testutil/expect.h"
#include "testutil/harness.h"

namespace e2e {
namespace {

// The report lines only, whatever the build prints around them.
std::string reports(const std::string& out) {
  std::string kept;
  std::size_t start = 0;
  while (start < out.size()) {
    std::size_t end = out.find('\n', start);
    std::string line = out.substr(start, end == std::string::npos ? end : end - start + 1);
    if (line.find(" => ") != std::string::npos ||
        line.find(" is not newer than ") != std::string::npos) {
      kept += line;
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return kept;
}

TEST(Numbering, ExplicitNumbersAreReservedBeforeAutomaticOnes) {
  Sandbox box;
  for (const char* name : {"a.vsk", "b.vsk", "c.vsk"}) box.write(name, name);
  Result r = box.run({"b.vsk", "a.vsk:3", "c.vsk:-1"});
  EXPECT_EQ(reports(r.out), box.abs("b.vsk") + " => 00.txt\n" + box.abs("a.vsk") + " => 03.txt\n" +
                                box.abs("c.vsk") + " => 01.txt\n");
  EXPECT_EQ(box.read("03.txt"), "a.vsk");
  EXPECT_EQ(box.read("00.txt"), "b.vsk");
  EXPECT_EQ(box.read("01.txt"), "c.vsk");
}

TEST(Numbering, OneHundredFilesFitAndTheHundredAndFirstDoesNot) {
  Sandbox box;
  std::vector<std::string> args;
  for (int i = 0; i < 101; ++i) {
    std::string name = "f" + std::to_string(1000 + i) + ".vsk";
    box.write(name, std::to_string(i));
    args.push_back(name);
  }
  Result r = box.run(args);
  EXPECT_EQ(lastLine(r.out), "No Number To Use\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(box.read("00.txt"), "0");
  EXPECT_EQ(box.read("99.txt"), "99");
  EXPECT_FALSE(box.exists("100.txt"));
}

TEST(Numbering, NumberTextsAreCheckedBeforeAnythingIsConverted) {
  struct Case {
    std::string spec, message;
  };
  for (const Case& c : std::vector<Case>{{"b.vsk:100", "Over Max File Number\n"},
                                         {"b.vsk:x", "Error: conversion x\n"},
                                         {"b.vsk:+", "Error: conversion +\n"},
                                         {"b.vsk:2147483648", "Error: overflow 2147483648\n"}}) {
    Sandbox box;
    box.write("a.vsk", "a");
    box.write("b.vsk", "b");
    Result r = box.run({"a.vsk:0", c.spec});
    SCOPED_TRACE(c.spec);
    EXPECT_EQ(lastLine(r.out), c.message);
    EXPECT_EQ(r.status, 1);
    // Number texts fail while the job is built; 100 only when its turn comes.
    EXPECT_EQ(box.exists("00.txt"), c.spec == "b.vsk:100");
  }
}

TEST(Numbering, NumbersBelowMinusOneAreRefusedUpFront) {
  Sandbox box;
  box.write("a.vsk", "a");
  box.write("b.vsk", "b");
  Result r = box.run({"a.vsk", "b.vsk:-2"});
  EXPECT_EQ(lastLine(r.out), "Under Min File Number: " + box.abs("b.vsk") + ":-2\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(box.exists("00.txt"));
}

TEST(Numbering, TheSameNumberTwiceLetsTheLaterFileWin) {
  Sandbox box;
  box.write("a.vsk", "a");
  box.write("b.vsk", "b");
  Result r = box.run({"a.vsk:7", "b.vsk:7"});
  EXPECT_EQ(reports(r.out), box.abs("a.vsk") + " => 07.txt\n" + box.abs("b.vsk") + " => 07.txt\n");
  EXPECT_EQ(box.read("07.txt"), "b");
}

TEST(Numbering, AFileNamedTwiceKeepsItsPlaceAndTakesTheLaterNumber) {
  Sandbox box;
  box.write("a.vsk", "a");
  box.write("b.vsk", "b");
  Result r = box.run({"a.vsk", "b.vsk", "./a.vsk:5"});
  EXPECT_EQ(reports(r.out), box.abs("a.vsk") + " => 05.txt\n" + box.abs("b.vsk") + " => 00.txt\n");
}

TEST(Output, DirectoryIsCreatedAndAFileInTheWayIsReported) {
  Sandbox box;
  box.write("a.vsk", "a");
  Result r = box.run({"a.vsk", "-d:out"});
  EXPECT_EQ(reports(r.out), box.abs("a.vsk") + " => 00.txt\n");
  EXPECT_EQ(box.read("out/00.txt"), "a");

  box.write("taken", "file");
  r = box.run({"a.vsk", "-d:taken"});
  EXPECT_EQ(lastLine(r.out), "taken: The file that has same name already exists.\n");
  EXPECT_EQ(r.status, 1);

  r = box.run({"a.vsk", "-d:no/such/parent"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(lastLine(r.out).find("no/such/parent: "), std::string::npos);
}

TEST(Extraction, ListedFilesKeepTheirNumbersAndTheRestFillTheGaps) {
  Sandbox box;
  box.write("a.vsk", "a");
  box.write("b.VSK", "b");
  box.write("sub/c.vsk", "c");
  box.write("sub/c.vsk.bak", "not taken");
  // Listed first under a number it would not get by itself: found again by
  // the walk, it must keep that number and not become an automatic entry.
  Result r = box.run({"sub/c.vsk:5", "-doextract"});
  EXPECT_EQ(reports(r.out), box.abs("sub/c.vsk") + " => 05.txt\n" + box.abs("a.vsk") +
                                " => 00.txt\n" + box.abs("b.VSK") + " => 01.txt\n");
  EXPECT_EQ(box.read("05.txt"), "c");
  EXPECT_FALSE(box.exists("02.txt"));
}

TEST(Names, DoubledSeparatorAfterADotRefStaysBesideTheProgram) {
  Sandbox box;
  box.write("a.vsk", "a");
  writeFile(box.progDir().parent_path() / "x.vsk", "x");
  Result r = box.run({".//a.vsk:0", "..//x.vsk:1"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(box.read("00.txt"), "a");
  EXPECT_EQ(box.read("01.txt"), "x");
}

TEST(Extraction, ListedFilesWithoutTheOptionMeanNoScan) {
  Sandbox box;
  box.write("a.vsk", "a");
  box.write("b.vsk", "b");
  Result r = box.run({"b.vsk"});
  EXPECT_EQ(reports(r.out), box.abs("b.vsk") + " => 00.txt\n");
}

TEST(Extraction, ExtensionOptionWithDotWildcardOrCapitals) {
  Sandbox box;
  box.write("a.scr", "a");
  box.write("b.sc1", "b");
  box.write("c.vsk", "c");
  Result r = box.run({"-ext:.SCR"});
  EXPECT_EQ(reports(r.out), box.abs("a.scr") + " => 00.txt\n");
  Sandbox other;
  other.write("a.scr", "a");
  other.write("b.sc1", "b");
  r = other.run({"-ext:sc?"});
  EXPECT_EQ(reports(r.out),
            other.abs("a.scr") + " => 00.txt\n" + other.abs("b.sc1") + " => 01.txt\n");
}

TEST(Extraction, SymbolicLinkLoopsAreNotFollowed) {
  Sandbox box;
  box.write("sub/a.vsk", "a");
  fs::create_directory_symlink(box.path("sub"), box.path("sub/loop"));
  fs::create_symlink(box.path("sub/a.vsk"), box.path("linked.vsk"));
  Result r = box.run({"-doextract"});
  EXPECT_EQ(reports(r.out),
            box.abs("linked.vsk") + " => 00.txt\n" + box.abs("sub/a.vsk") + " => 01.txt\n");
  EXPECT_EQ(r.status, 0);
}

TEST(Incremental, DoIfModifiedWithSyncSkipsUntilTheSourceChanges) {
  Sandbox box;
  box.write("a.vsk", "one");
  box.write("b.vsk", "two");
  Result first = box.run({"a.vsk:0", "b.vsk:1", "-doifmodified", "-sync"});
  EXPECT_EQ(reports(first.out),
            box.abs("a.vsk") + " => 00.txt\n" + box.abs("b.vsk") + " => 01.txt\n");
  // File times are carried over to the millisecond.
  auto ms = [&](const char* name) {
    return std::chrono::floor<std::chrono::milliseconds>(fs::last_write_time(box.path(name)));
  };
  EXPECT_EQ(ms("00.txt"), ms("a.vsk"));

  Result second = box.run({"a.vsk:0", "b.vsk:1", "-doifmodified", "-sync"});
  EXPECT_EQ(reports(second.out), box.abs("a.vsk") + " is not newer than 00.txt\n" +
                                     box.abs("b.vsk") + " is not newer than 01.txt\n");

  box.write("b.vsk", "changed");
  fs::last_write_time(box.path("b.vsk"),
                      fs::last_write_time(box.path("01.txt")) + std::chrono::seconds(2));
  Result third = box.run({"a.vsk:0", "b.vsk:1", "-doifmodified:yes", "-sync:on"});
  EXPECT_EQ(reports(third.out),
            box.abs("a.vsk") + " is not newer than 00.txt\n" + box.abs("b.vsk") + " => 01.txt\n");
  EXPECT_EQ(box.read("01.txt"), "changed");
}

TEST(Incremental, OffWordsTurnTheModesOff) {
  Sandbox box;
  box.write("a.vsk", "one");
  box.run({"a.vsk", "-sync"});
  Result r = box.run({"a.vsk", "-doifmodified:off"});
  EXPECT_EQ(reports(r.out), box.abs("a.vsk") + " => 00.txt\n");
}

TEST(Conversion, PlainCopyKeepsBytesPermissionsAndTime) {
  Sandbox box;
  using namespace std::string_literals;
  std::string bytes = "a\r\nb\nc\rd\0e"s;
  box.write("a.vsk", bytes);
  fs::permissions(box.path("a.vsk"),
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::owner_exec);
  auto stamp = fs::last_write_time(box.path("a.vsk")) - std::chrono::hours(30);
  fs::last_write_time(box.path("a.vsk"), stamp);
  box.run({"a.vsk"});
  EXPECT_EQ(box.read("00.txt"), bytes);
  EXPECT_TRUE(copiedPermissions(fs::status(box.path("00.txt")).permissions(),
                                fs::status(box.path("a.vsk")).permissions()));
  EXPECT_TRUE(copiedTime(fs::last_write_time(box.path("00.txt")), stamp));
}

TEST(Conversion, RewriteEndsEveryLineWithCrLf) {
  Sandbox box;
  using namespace std::string_literals;
  box.write("a.vsk", "x${a}y\rlone\n\n${missing}\r\n${}\nNUL\0byte\xff\xfe"s);
  Result r = box.run({"a.vsk", "-variables:a=1"});
  EXPECT_EQ(box.read("00.txt"), "x1y\r\nlone\r\n\r\n\r\n${}\r\nNUL\0byte\xff\xfe\r\n"s);
  EXPECT_NE(r.out.find("not found variable: ${missing}\r\n"), std::string::npos);
}

TEST(Conversion, ALargeRewriteComesOutWholeAndInOrder) {
  // Large enough that the output is written in many blocks, by a second
  // thread, as it is produced; a source that is its own output too.
  Sandbox box;
  std::string source, expected;
  for (int i = 0; source.size() < (8u << 20); ++i) {
    std::string n = std::to_string(i);
    source += i % 4 ? n + "\n" : n + " ${v}\n";
    expected += i % 4 ? n + "\r\n" : n + " value\r\n";
  }
  box.write("a.vsk", source);
  box.write("01.txt", source);
  Result r = box.run({"a.vsk:0", "01.txt:1", "-variables:v=value"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(box.read("00.txt") == expected);
  EXPECT_TRUE(box.read("01.txt") == expected);
}

TEST(Conversion, ASourceThatIsItsOwnOutputIsRewrittenSafely) {
  Sandbox box;
  box.write("00.txt", "v=${v}\n");
  Result r = box.run({"00.txt:0", "-variables:v=1"});
  EXPECT_EQ(box.read("00.txt"), "v=1\r\n");
  EXPECT_EQ(r.status, 0);
}

}  // namespace
}  // namespace e2e
