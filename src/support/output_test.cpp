#include "support/output.h"

#include <gtest/gtest.h>

#include "support/trace.h"

namespace vesk {
namespace {

using namespace std::string_literals;

TEST(Output, DirectivesTakeTheArgumentsInOrder) {
  EXPECT_EQ(formatList("%.*s => %.*s\n", {"a", "00.txt"}), "a => 00.txt\n");
  EXPECT_EQ(formatList("100%% %s", {"done"}), "100% done");
  // "%.*s" prints its bytes as they are, "%s" stops at the first NUL.
  EXPECT_EQ(formatList("[%.*s]", {"a\0b"s}), "[a\0b]"s);
  EXPECT_EQ(formatList("[%s]", {"a\0b"s}), "[a]");
  // A missing argument prints nothing; a lone '%' stays.
  EXPECT_EQ(formatList("x%.*sy%", {}), "xy%");
}

TEST(Output, CaptureCollectsPrintsAndNests) {
  OutputCapture outer;
  print("one %.*s\n", std::string("1"));
  {
    OutputCapture inner;
    print("two\n");
    EXPECT_EQ(inner.text(), "two\n");
  }
  print("three\n");
  EXPECT_EQ(outer.text(), "one 1\nthree\n");
}

TEST(Trace, ReleaseBuildPrintsNoTraceLines) {
  OutputCapture capture;
  int evaluated = 0;
  VESK_TRACE("line %.*s\n", std::to_string(++evaluated));
  // The unit tests link the release libraries: nothing printed, nothing evaluated.
  EXPECT_EQ(capture.text(), kTraceBuild ? "line 1\n" : "");
  EXPECT_EQ(evaluated, kTraceBuild ? 1 : 0);
}

}  // namespace
}  // namespace vesk
