#include "platform/console_lines.h"

#include <gtest/gtest.h>

namespace vesk::platform {
namespace {

TEST(ConsoleLines, ReportAndTraceLinesAreAnsiEverythingElseUtf8) {
  const struct {
    std::string_view line;
    LineText kind;
  } cases[] = {
      {"C:\\s\\\x83\x5c.vsk => 07.txt\n", LineText::kAnsi},
      {"C:\\s\\a.vsk is not newer than 99.txt\r\n", LineText::kAnsi},
      {"a.vsk => 00.txt", LineText::kAnsi},  // the last line, without its end
      {"set C:\\s\\a.vsk\n", LineText::kAnsi},
      {"includes a.vsk:3\n", LineText::kAnsi},
      {" => 07.txt\n", LineText::kUtf8},  // no source before the arrow
      {"a.vsk => 7.txt\n", LineText::kUtf8},
      {"a.vsk => 07.txt.bak\n", LineText::kUtf8},
      {"a.vsk -> 07.txt\n", LineText::kUtf8},
      {"not found variable: ${x}\r\n", LineText::kUtf8},
      {"C:\\caf\xc3\xa9\\a.vsk: The source file does not exist.\n", LineText::kUtf8},
      {"\xe4\xbd\xbf\xe3\x81\x84\xe6\x96\xb9\n", LineText::kUtf8},
      {"settings\n", LineText::kUtf8},
  };
  for (const auto& c : cases) EXPECT_EQ(lineText(c.line), c.kind) << c.line;
}

TEST(ConsoleLines, CutAfterEachLineFeedKeepingEveryByte) {
  std::vector<TextLine> lines = textLines("Over Max File Number\na.vsk => 01.txt\r\n\ntail");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].text, "Over Max File Number\n");
  EXPECT_EQ(lines[0].kind, LineText::kUtf8);
  EXPECT_EQ(lines[1].text, "a.vsk => 01.txt\r\n");
  EXPECT_EQ(lines[1].kind, LineText::kAnsi);
  EXPECT_EQ(lines[2].text, "\n");
  EXPECT_EQ(lines[3].text, "tail");
  EXPECT_TRUE(textLines("").empty());
}

}  // namespace
}  // namespace vesk::platform
