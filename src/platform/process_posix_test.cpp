#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace vesk::platform {
namespace {

TEST(PlatformArguments, CopiesArgv) {
  char a[] = "prog", b[] = "x y";
  char* argv[] = {a, b, nullptr};
  EXPECT_EQ(arguments(2, argv), (std::vector<std::string>{"prog", "x y"}));
  EXPECT_EQ(fromMultiByte(std::string_view("\x82\xa0", 2)), std::string("\x82\xa0", 2));
}

}  // namespace
}  // namespace vesk::platform
