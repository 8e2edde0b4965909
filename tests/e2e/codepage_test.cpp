// Japanese names on their way between the system's code page and the UTF-8
// the program keeps inside: on the command line, in a setting file, found by
// extraction, in the program's own directory, and printed in report lines.
//
// The runs use ja_JP.UTF-8, under which a Windows program has the code page
// 932 (Shift-JIS). The names hold characters whose second Shift-JIS byte is
// 0x5C, the byte of '\': handled as bytes in the code page, such a name would
// split at the wrong places.
//
// Names with characters that code page 932 lacks (é, ¥, Hangul) must never
// turn into the name of another file, with the wide services and without
// them (the "A" services, reached by a copy of the program for which Wine
// reports Windows 98).
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <stdexcept>

#include "testutil/expect.h"
#include "testutil/harness.h"

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

// ---- Names outside the code page -------------------------------------------

// Code page 932 text back to UTF-8.
std::string fromCodePage932(const std::string& text) { return convertText(text, "UTF-8", "CP932"); }

// The UTF-8 text as the program prints it in the code page: a character that
// does not come back from code page 932 unchanged is the default character.
std::string printed(const std::string& utf8) {
  if (!windowsProgram()) return utf8;
  std::string result;
  for (std::size_t i = 0; i < utf8.size();) {
    std::size_t length = 1;
    auto lead = static_cast<unsigned char>(utf8[i]);
    if (lead >= 0xf0) {
      length = 4;
    } else if (lead >= 0xe0) {
      length = 3;
    } else if (lead >= 0xc0) {
      length = 2;
    }
    std::string character = utf8.substr(i, length);
    i += length;
    try {
      std::string local = inCodePage(character, kLocale);
      result += fromCodePage932(local) == character ? local : "?";
    } catch (const std::exception&) {
      result += "?";
    }
  }
  return result;
}

class NamesOutsideTheCodePage : public JapaneseNames {
 protected:
  std::string reportedAs(const std::string& relative, const std::string& output) const {
    return printed(box.abs(relative)) + " => " + output + "\n";
  }

  // A copy of the program in a directory below the program's, with a.vsk.
  fs::path programIn(const std::string& dir, const fs::path& name) const {
    fs::path program = box.path(dir) / name;
    fs::create_directories(program.parent_path());
    fs::copy_file(box.program(), program);
    box.write(dir + "/a.vsk", "right");
    return program;
  }
};

TEST_F(NamesOutsideTheCodePage, EachReportLineNamesItsOwnFile) {
  box.write("e.vsk", "e");
  box.write("x/y.vsk", "x/y");
  box.write("x¥y.vsk", "x yen y");
  box.write("é.vsk", "e acute");
  Result r = box.run({});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(r.out.ends_with(reportedAs("e.vsk", "00.txt") + reportedAs("x/y.vsk", "01.txt") +
                              reportedAs("x¥y.vsk", "02.txt") + reportedAs("é.vsk", "03.txt")))
      << r.out;
  EXPECT_EQ(box.read("02.txt") + "|" + box.read("03.txt"), "x yen y|e acute");
}

TEST_F(NamesOutsideTheCodePage, TheRunStaysInTheProgramsOwnFolder) {
  // Beside each folder the one that a best-fit spelling of its name would be.
  for (auto [dir, lookalike] :
       {std::pair<std::string, std::string>{"café", "cafe"}, {"x¥y", "x/y"}, {"한국", ""}}) {
    SCOPED_TRACE(dir);
    if (!lookalike.empty()) box.write(lookalike + "/a.vsk", "wrong");
    fs::path program = programIn(dir, box.program().filename());
    Result r = box.runAs(program.string(), box.elsewhere(), {"a.vsk"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(box.read(dir + "/00.txt"), "right");
    EXPECT_FALSE(!lookalike.empty() && box.exists(lookalike + "/00.txt"));
    EXPECT_TRUE(r.out.ends_with(reportedAs(dir + "/a.vsk", "00.txt"))) << r.out;
  }
}

TEST_F(NamesOutsideTheCodePage, CommandLineNamesAreTheFilesNamed) {
  box.write("x¥y.vsk", "x yen y");
  box.write("é.vsk", "e acute");
  box.write("x/y.vsk", "x/y");
  box.write("e.vsk", "e");
  Result r = box.run({"x¥y.vsk:0", "é.vsk:1", "-d:o¥p"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(box.read("o¥p/00.txt"), "x yen y");
  EXPECT_EQ(box.read("o¥p/01.txt"), "e acute");
  EXPECT_FALSE(box.exists("o"));
  EXPECT_TRUE(r.out.ends_with(reportedAs("é.vsk", "01.txt"))) << r.out;
}

// Wine reports Windows 98 to a program of this name, whose version word then
// has its high bit set: it has no wide services and uses the "A" ones.
constexpr const char* kAnsiProgram = "vesk-ansi.exe";

class AnsiServices : public NamesOutsideTheCodePage {
 protected:
  void SetUp() override {
    NamesOutsideTheCodePage::SetUp();
    if (!windowsProgram()) GTEST_SKIP() << "the \"A\" services are Windows only";
    static const bool registered = registerOldWindows();
    ASSERT_TRUE(registered);
    fs::copy_file(box.program(), box.path(kAnsiProgram));
  }

  // Through the runner (VESK_RUNNER, "wine"), whose prefix the runs use.
  static bool registerOldWindows() {
    const char* runner = std::getenv("VESK_RUNNER");
    std::string key = std::string("HKCU\\Software\\Wine\\AppDefaults\\") + kAnsiProgram;
    std::string command = std::string(runner != nullptr ? runner : "wine") + " reg add '" + key +
                          "' /v Version /t REG_SZ /d win98 /f </dev/null >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
  }

  Result runAnsi(const fs::path& program, const std::vector<std::string>& args) const {
    return box.runAs(program.string(), box.elsewhere(), args);
  }

  // The message of a refused name, after any trace lines.
  static bool refused(const Result& r) {
    return r.status == 1 && lastLine(r.out).starts_with("Couldn't convert string: ");
  }
};

TEST_F(AnsiServices, NamesTheCodePageHoldsStillWork) {
  box.write(kName, "v=${v}\n");
  Result r = runAnsi(box.path(kAnsiProgram), {kName + ":2", "-variables:v=" + kValue});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(box.read("02.txt"), "v=" + kValue + "\r\n");
  EXPECT_TRUE(r.out.ends_with(reported(kName, "02.txt"))) << r.out;
}

TEST_F(AnsiServices, CommandLineNamesOutsideTheCodePageAreRefused) {
  box.write("x¥y.vsk", "x yen y");
  box.write("x/y.vsk", "x/y");
  box.write("e.vsk", "e");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"e.vsk:1", "x¥y.vsk:0"}, {"e.vsk", "-d:o¥p"}}) {
    SCOPED_TRACE(args.back());
    Result r = runAnsi(box.path(kAnsiProgram), args);
    EXPECT_TRUE(refused(r)) << r.status << " " << r.out;
    EXPECT_FALSE(box.exists("00.txt") || box.exists("01.txt") || box.exists("o"));
  }
}

TEST_F(AnsiServices, AProgramFolderOutsideTheCodePageIsRefused) {
  box.write("cafe/a.vsk", "wrong");
  fs::path program = programIn("café", kAnsiProgram);
  Result r = runAnsi(program, {"a.vsk"});
  EXPECT_TRUE(refused(r)) << r.status << " " << r.out;
  EXPECT_FALSE(box.exists("cafe/00.txt") || box.exists("café/00.txt"));
}

TEST_F(AnsiServices, ExtractionLosesNoName) {
  box.write("e.vsk", "e");
  box.write("é.vsk", "e acute");
  box.write("한.vsk", "hangul");
  box.write("表.vsk", "hyou");
  Result r = runAnsi(box.path(kAnsiProgram), {});
  EXPECT_EQ(r.status, 0) << r.out;
  // é.vsk and 한.vsk are reached through their short names.
  std::set<std::string> outputs, lines;
  for (const char* name : {"00.txt", "01.txt", "02.txt", "03.txt"}) {
    if (box.exists(name)) outputs.insert(box.read(name));
  }
  EXPECT_EQ(outputs, (std::set<std::string>{"e", "e acute", "hangul", "hyou"}));
  EXPECT_FALSE(box.exists("04.txt"));
  for (const char* name : {"e.vsk", "表.vsk"}) {
    EXPECT_NE(r.out.find(inCodePage(box.abs(name), kLocale) + " => "), std::string::npos) << r.out;
  }
}

}  // namespace
}  // namespace e2e
