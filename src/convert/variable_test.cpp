#include "convert/variable.h"

#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "base/exception.h"
#include "base/test_dir.h"
#include "platform/platform.h"
#include "support/output.h"
#include "support/trace.h"

namespace vesk {
namespace {

VariableTable table(std::initializer_list<std::pair<const char*, const char*>> pairs) {
  VariableTable result;
  for (const auto& [name, value] : pairs) result.set(name, value);
  return result;
}

std::string bytes(std::string_view text) { return std::string(text); }

TEST(SubstituteVariablesTest, OneReferenceFromFirstOpenToLastClose) {
  VariableTable vars =
      table({{"a", "1"}, {"a}${b", "AB"}, {"}", "R"}, {"x}b${y", "XY"}, {"n", ""}});
  OutputCapture capture;
  EXPECT_EQ(substituteVariables("x${a}y", vars), "x1y");
  EXPECT_EQ(substituteVariables("${a}${b}", vars), "AB");
  EXPECT_EQ(substituteVariables("a${x}b${y}c", vars), "aXYc");
  EXPECT_EQ(substituteVariables("${}}", vars), "R");
  EXPECT_EQ(substituteVariables("x${n}y", vars), "xy");
  for (std::string_view line : {"", "plain", "${}", "${a", "}${a", "$ {a}", "{a}", "${"}) {
    EXPECT_EQ(substituteVariables(line, vars), line);
  }
  // A line feed ends a match, so each part has its own reference.
  EXPECT_EQ(substituteVariables("${a}\n${a\n}", vars), "1\n${a\n}");
  EXPECT_EQ(capture.text(), "");
}

TEST(SubstituteVariablesTest, MissingNameIsReportedAndRemoved) {
  VariableTable vars = table({{"a", "1"}});
  OutputCapture capture;
  EXPECT_EQ(substituteVariables("${missing}", vars), "");
  EXPECT_EQ(substituteVariables("<${A}>", vars), "<>");  // names are case-sensitive
  EXPECT_EQ(substituteVariables("$${a}}", vars), "$");
  EXPECT_EQ(lookupVariable("${b}", "b", vars), "");
  EXPECT_EQ(lookupVariable("${a}", "a", vars), "1");
  EXPECT_EQ(capture.text(),
            "not found variable: ${missing}\r\nnot found variable: ${A}\r\n"
            "not found variable: ${a}}\r\nnot found variable: ${b}\r\n");
}

TEST(SubstituteVariablesTest, TextIsTakenAndInsertedVerbatim) {
  std::string name = "\xe5\xa4\x89\xff";
  VariableTable vars = table({{"a", "${a}"}, {"b", "$1 \\0 %s %%"}});
  vars.set(name, bytes({"v\0v", 3}));
  EXPECT_EQ(substituteVariables("<${a}>", vars), "<${a}>");
  EXPECT_EQ(substituteVariables("${b}", vars), "$1 \\0 %s %%");
  EXPECT_EQ(substituteVariables(bytes({"\0\x82${", 4}) + name + "}\xa0", vars),
            bytes({"\0\x82v\0v\xa0", 6}));

  std::string out = "head|";
  appendSubstituted(out, "x${b}y", vars);
  EXPECT_EQ(out, "head|x$1 \\0 %s %%y");
}

// A line that fills the first read so that byte `edge` of the text after it
// is the first byte of the second read.
std::string padTo(std::size_t edge) { return std::string(kReadChunkSize - edge - 1, 'p') + "\n"; }

class ConvertFileTest : public TempDirTest {
 protected:
  // The conversion of text, with its byte at `edge` the first of the second
  // read (none: the text alone).
  std::string convert(std::string_view text, const VariableTable& vars,
                      std::optional<std::size_t> edge = std::nullopt) {
    std::string pad = edge ? padTo(*edge) : std::string();
    writeFile("in.vsk", pad + std::string(text));
    convertFile(path("in.vsk"), path("00.txt"), vars);
    std::string out = readFile("00.txt");
    std::string padOut = pad.empty() ? "" : pad.substr(0, pad.size() - 1) + "\r\n";
    if (out.compare(0, padOut.size(), padOut) != 0) return "<the padding line changed>";
    return out.substr(padOut.size());
  }
};

// The whole text split at once, every line substituted and ended by CR LF.
std::string expectedConversion(std::string_view text, const VariableTable& vars) {
  std::string out, line;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') {
      line.push_back(text[i]);
      continue;
    }
    out += substituteVariables(line, vars) + "\r\n";
    line.clear();
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
  }
  bool lastLineOpen = !text.empty() && text.back() != '\r' && text.back() != '\n';
  if (lastLineOpen) out += substituteVariables(line, vars) + "\r\n";
  return out;
}

TEST_F(ConvertFileTest, EveryBreakBecomesCrLfWhereverTheReadsEnd) {
  VariableTable vars = table({{"a", "1"}});
  const std::pair<std::string, std::string> cases[] = {
      {"x${a}y\nz", "x1y\r\nz\r\n"},
      {"a\rb\r\n\r\nc\r", "a\r\nb\r\n\r\nc\r\n"},
      {"\n\r\r\n", "\r\n\r\n\r\n"},
      {bytes({"\0${a}\0", 6}), bytes({"\0001\0\r\n", 5})},  // NUL, '1', NUL
      {"", ""},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(convert(text, vars), expected);
    for (std::size_t edge = 0; edge <= text.size(); ++edge) {
      EXPECT_EQ(convert(text, vars, edge), expected) << "second read from byte " << edge;
    }
  }
}

TEST_F(ConvertFileTest, RandomTextsAgreeWithWholeTextSplit) {
  VariableTable vars = table({{"a", "1"}, {"bb", "two"}});
  OutputCapture capture;  // missing names are reported; not checked here
  std::mt19937 random(2024);
  const std::string alphabet = "x${a}\r\n\r\nbb";
  for (int round = 0; round < 300; ++round) {
    std::string text(random() % 40, ' ');
    for (char& c : text) c = alphabet[random() % alphabet.size()];
    std::size_t edge = random() % (text.size() + 1);
    ASSERT_EQ(convert(text, vars, edge), expectedConversion(text, vars)) << "edge " << edge;
  }
}

TEST_F(ConvertFileTest, OutputOfManyBlocksIsWrittenInOrder) {
  // Several megabytes of short lines: the output goes out in many blocks,
  // written by a second thread, and must still come out whole and in order.
  VariableTable vars = table({{"a", "1"}, {"bb", "two"}});
  std::mt19937 random(99);
  std::string text;
  while (text.size() < (std::size_t{6} << 20)) {
    text += std::to_string(random());
    text += random() % 4 == 0 ? "${bb}" : "";
    text += random() % 3 == 0 ? "\r\n" : "\n";
  }
  writeFile("in.vsk", text);
  convertFile(path("in.vsk"), path("00.txt"), vars);
  EXPECT_EQ(readFile("00.txt"), expectedConversion(text, vars));
}

TEST_F(ConvertFileTest, NoVariablesCopiesByteForByte) {
  std::string text = bytes({"a\rb\n\0${x}\r\n c", 13});
  writeFile("in.vsk", text);
  writeFile("00.txt", "old output");
  OutputCapture capture;
  convertFile(path("in.vsk"), path("00.txt"), VariableTable());
  EXPECT_EQ(readFile("00.txt"), text);
  writeFile("other.vsk", "text");
  convertFile(path("other.vsk"), path("01.txt"), table({{"a", "1"}}));
  EXPECT_EQ(capture.text(), kTraceBuild ? "read " + path("other.vsk") + " to replace\n" : "");
}

TEST_F(ConvertFileTest, SourceMayBeItsOwnOutput) {
  writeFile("in.txt", "v=${a}\nend");
  convertFile(path("in.txt"), path("in.txt"), table({{"a", "1"}}));
  EXPECT_EQ(readFile("in.txt"), "v=1\r\nend\r\n");
}

TEST_F(ConvertFileTest, MissingSourceLeavesTheOutputAlone) {
  for (const VariableTable& vars : {VariableTable(), table({{"a", "1"}})}) {
    try {
      convertFile(path("missing.vsk"), path("00.txt"), vars);
      ADD_FAILURE() << "no exception";
    } catch (const FileException& e) {
      EXPECT_TRUE(e.message().starts_with(path("missing.vsk") + ": ")) << e.message();
    }
    EXPECT_EQ(platform::fileKind(path("00.txt")), platform::FileKind::Missing);
  }
  writeFile("00.txt", "kept");
  EXPECT_THROW(convertFile(path("missing.vsk"), path("00.txt"), table({{"a", "1"}})),
               FileException);
  EXPECT_EQ(readFile("00.txt"), "kept");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 1);
}

// One file's references are looked up through a cache of the latest name;
// every name in a row must still get its own value, and a missing one its
// message each time.
TEST_F(ConvertFileTest, ChangingNamesFromLineToLineEachGetTheirOwnValue) {
  OutputCapture capture;
  EXPECT_EQ(convert("${a}\n${bb}\n${bb}\n${a}\n${zz}\n${a}\n${zz}\n${b}",
                    table({{"a", "1"}, {"bb", "two"}, {"b", ""}})),
            "1\r\ntwo\r\ntwo\r\n1\r\n\r\n1\r\n\r\n\r\n");
  EXPECT_EQ(capture.text(),
            (kTraceBuild ? "read " + path("in.vsk") + " to replace\n" : std::string()) +
                "not found variable: ${zz}\r\nnot found variable: ${zz}\r\n");
}

TEST_F(ConvertFileTest, HundredMegabyteLine) {
  const std::size_t size = std::size_t{100} << 20;
  std::string text = "<${a}>" + std::string(size, 'x') + "\r\ntail";
  writeFile("in.vsk", text);
  text = std::string();
  convertFile(path("in.vsk"), path("00.txt"), table({{"a", "1"}}));
  std::string out = readFile("00.txt");
  ASSERT_EQ(out.size(), 3 + size + 8);
  EXPECT_EQ(out.substr(0, 3), "<1>");
  EXPECT_EQ(out.find_first_not_of('x', 3), 3 + size);
  EXPECT_EQ(out.substr(3 + size), "\r\ntail\r\n");
}

}  // namespace
}  // namespace vesk
