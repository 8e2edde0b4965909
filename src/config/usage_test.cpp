#include "config/usage.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vesk {
namespace {

// The whole text, line by line, written out independently of the program's
// own constant, so that a changed byte anywhere fails.
TEST(UsageTextTest, WholeTextByteForByte) {
  const std::vector<std::string> lines = {
      "vesk [ファイル名[:番号]]... [-d:出力ディレクトリ名] [-ext:拡張子] [-doextract] [-doifmodified] [-env:設定ファイル名] [-variables:変数名1=値1[,変数名2=値2,...]]",
      "",
      "ファイル名   ：変換対象のファイル名です。複数の場合は半角空白区切りで指定します。",
      "番号         ：変換先の番号です。「番号.txt」のように変換されます。",
      "               ファイル名の直後に指定してください。",
      "               例) vesk define.vsk:0 scenario.vsk:1",
      "-d           ：出力先のディレクトリを指定します。デフォルトは「.」です。",
      "-ext         ：抽出時の拡張子を指定します。デフォルトは「vsk」です。",
      "-doextract   ：強制的に抽出するようにします。",
      "               この指定なしでファイル名を指定すると、抽出は行われません。",
      "-doifmodified：更新時のみ変換するようにします。",
      "               変換先のファイルがない場合も変換します。",
      "-setting     ：設定ファイルを指定します。デフォルトは「veskenv.yml」です。",
      "               変換対象ファイル指定時に設定ファイルを読み込ませたい場合にも指定します。",
      "-sync        ：入力元と出力先で更新時間の同期をとります。",
      "-variables   ：埋め込み変数の値を指定します。",
      "               埋め込み変数は変換時に解決されます。",
      "               例) 埋め込み変数${maxkaisoupage}を30に変換する。",
      "               -variables:maxkaisoupage=30",
  };
  std::string expected = "\n";
  for (const std::string& line : lines) expected += line + "\n";
  EXPECT_EQ(kUsageText, expected);
  EXPECT_EQ(kUsageText.size(), 1595u);
  EXPECT_EQ(UsageException().message(), expected);
}

}  // namespace
}  // namespace vesk
