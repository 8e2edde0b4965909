#include "support/output.h"

#include <gtest/gtest.h>

#include "support/ordered_map.h"
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

TEST(OrderedMap, KeepsInsertionOrderAndReplacesInPlace) {
  OrderedMap<int> map;
  map.set("b", 1);
  map.set("a", 2);
  map.set("b", 3);
  EXPECT_FALSE(map.setIfAbsent("a", 9));
  EXPECT_TRUE(map.setIfAbsent("c", 4));
  std::string order;
  for (const auto& [key, value] : map) order += key + std::to_string(value);
  EXPECT_EQ(order, "b3a2c4");
  EXPECT_EQ(*map.find("a"), 2);
  EXPECT_EQ(map.find("A"), nullptr);
  EXPECT_EQ(map.size(), 3u);
}

}  // namespace
}  // namespace vesk
