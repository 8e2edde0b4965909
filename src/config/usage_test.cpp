#include "config/usage.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vesk {
namespace {

TEST(UsageTextTest, ShapeAndSampleLines) {
  EXPECT_EQ(kUsageText.size(), 1595u);
  EXPECT_EQ(kUsageText.find('\r'), std::string_view::npos);

  std::vector<std::string> lines;  // lines[0] is empty: the text starts with LF
  for (std::size_t start = 0, end; (end = kUsageText.find('\n', start)) != std::string_view::npos;
       start = end + 1) {
    lines.emplace_back(kUsageText.substr(start, end - start));
  }
  ASSERT_EQ(lines.size(), 20u);
  EXPECT_EQ(lines[0], "");
  EXPECT_TRUE(lines[1].starts_with("vesk [ファイル名[:番号]]... [-d:出力ディレクトリ名]"));
  EXPECT_EQ(lines[2], "");
  EXPECT_EQ(lines[4], "番号         ：変換先の番号です。「番号.txt」のように変換されます。");
  EXPECT_EQ(lines[11], "-doifmodified：更新時のみ変換するようにします。");
  EXPECT_EQ(lines[18], "               例) 埋め込み変数${maxkaisoupage}を30に変換する。");
  EXPECT_TRUE(kUsageText.ends_with("\n               -variables:maxkaisoupage=30\n"));
  for (std::size_t line : {5, 6, 10, 12, 14, 17, 18, 19}) {
    EXPECT_EQ(lines[line].find_first_not_of(' '), 15u) << "line " << line;
  }
  EXPECT_EQ(UsageException().message(), kUsageText);
}

}  // namespace
}  // namespace vesk
