#include "config/cmdline.h"

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "config/usage.h"
#include "fileutil/path.h"
#include "support/output.h"
#include "support/trace.h"

namespace vesk {
namespace {

using Args = std::vector<std::string>;
using Entries = std::vector<std::pair<std::string, std::string>>;

Entries entries(const StringTable& table) { return Entries(table.begin(), table.end()); }

std::string absolute(const std::string& file) { return absPath(toNativeSeparators(file)); }

VESKEnv parse(Args rest) {
  rest.insert(rest.begin(), "vesk");
  return parseCommandLine(rest);
}

TEST(ParseCommandLineTest, UsageErrors) {
  EXPECT_THROW(parseCommandLine({}), UsageException);
  EXPECT_THROW(parseCommandLine({"vesk"}), UsageException);
  // A bad argument anywhere fails the whole line.
  for (const char* bad : {"-", "-:", "-:x", "", ":5", "a:b:c", "C:\\a:1:2"}) {
    EXPECT_THROW(parse({"a.vsk", "-d:x", bad}), UsageException) << "'" << bad << "'";
  }
}

TEST(ParseCommandLineTest, FilesAndOptionsLeftToRight) {
  VESKEnv env = parse({"a.vsk:1", "-d:C:\\out", "b.vsk:", "-doextract", "x:", "-ext:", "-D:x",
                       "--d:y", "-env:a.yml", "-variables:a=1,b=2", "a.vsk:4", "-variables:c=3"});
  EXPECT_EQ(entries(env.includes()),
            (Entries{{absolute("a.vsk"), "4"}, {absolute("b.vsk"), ""}, {absolute("x"), ""}}));
  // Names are stored as given; the job judges them later.
  EXPECT_EQ(entries(env.options()), (Entries{{"d", "C:\\out"},
                                             {"doextract", ""},
                                             {"ext", ""},
                                             {"D", "x"},
                                             {"-d", "y"},
                                             {"env", "a.yml"}}));
  // The second "variables" replaces all that the first one set.
  EXPECT_EQ(entries(env.variables()), (Entries{{"c", "3"}}));
}

TEST(ParseCommandLineTest, LargeAndNonUtf8ArgumentsPassThrough) {
  std::string big(1 << 20, 'v');
  VESKEnv env = parse({"-variables:name=" + big, "-d:" + big, big + ".vsk:1"});
  EXPECT_EQ(*env.variables().find("name"), big);
  EXPECT_EQ(*env.options().find("d"), big);
  EXPECT_EQ(entries(env.includes()), (Entries{{absolute(big + ".vsk"), "1"}}));

  // The POSIX code-page conversions are the identity.
  if constexpr (platform::kWindows) return;
  std::string odd = "\x82\xa0\xff";
  env = parse({odd + ".vsk:2", "-" + odd + ":" + odd, "-variables:" + odd + "=" + odd});
  EXPECT_EQ(entries(env.includes()), (Entries{{absolute(odd + ".vsk"), "2"}}));
  EXPECT_EQ(entries(env.options()), (Entries{{odd, odd}}));
  EXPECT_EQ(entries(env.variables()), (Entries{{odd, odd}}));
}

// The "set" lines among the captured output (path resolution traces too).
std::string setLines(const std::string& text) {
  std::string result;
  for (std::size_t start = 0, end; start < text.size(); start = end) {
    end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    if (text.compare(start, 4, "set ") == 0) result.append(text, start, end - start);
  }
  return result;
}

TEST(ParseCommandLineTest, TraceNamesEachFile) {
  OutputCapture capture;
  parse({"a.vsk:3", "-d:x", "-setting:s.yml", "sub/b.vsk"});
  EXPECT_EQ(setLines(capture.text()), kTraceBuild ? "set a.vsk\nset sub/b.vsk\n" : "");
  if (!kTraceBuild) {
    EXPECT_EQ(capture.text(), "");
  }
}

}  // namespace
}  // namespace vesk
