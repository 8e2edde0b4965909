#include "config/usage.h"

#include <string>

namespace vesk {

// The label column lines up with 15 spaces and full-width colons.
const std::string_view kUsageText =
    "\n"
    "vesk [ファイル名[:番号]]... [-d:出力ディレクトリ名] [-ext:拡張子] [-doextract] [-doifmodified] [-env:設定ファイル名] [-variables:変数名1=値1[,変数名2=値2,...]]\n"
    "\n"
    "ファイル名   ：変換対象のファイル名です。複数の場合は半角空白区切りで指定します。\n"
    "番号         ：変換先の番号です。「番号.txt」のように変換されます。\n"
    "               ファイル名の直後に指定してください。\n"
    "               例) vesk define.vsk:0 scenario.vsk:1\n"
    "-d           ：出力先のディレクトリを指定します。デフォルトは「.」です。\n"
    "-ext         ：抽出時の拡張子を指定します。デフォルトは「vsk」です。\n"
    "-doextract   ：強制的に抽出するようにします。\n"
    "               この指定なしでファイル名を指定すると、抽出は行われません。\n"
    "-doifmodified：更新時のみ変換するようにします。\n"
    "               変換先のファイルがない場合も変換します。\n"
    "-setting     ：設定ファイルを指定します。デフォルトは「veskenv.yml」です。\n"
    "               変換対象ファイル指定時に設定ファイルを読み込ませたい場合にも指定します。\n"
    "-sync        ：入力元と出力先で更新時間の同期をとります。\n"
    "-variables   ：埋め込み変数の値を指定します。\n"
    "               埋め込み変数は変換時に解決されます。\n"
    "               例) 埋め込み変数${maxkaisoupage}を30に変換する。\n"
    "               -variables:maxkaisoupage=30\n";

UsageException::UsageException() : Exception(std::string(kUsageText)) {}

}  // namespace vesk
