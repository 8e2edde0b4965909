#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/posix_test_util.h"

namespace vesk::platform {
namespace {

TEST(PlatformArguments, CopiesArgv) {
  char a[] = "prog", b[] = "x y";
  char* argv[] = {a, b, nullptr};
  EXPECT_EQ(arguments(2, argv), (std::vector<std::string>{"prog", "x y"}));
  EXPECT_EQ(fromMultiByte(std::string_view("\x82\xa0", 2)), std::string("\x82\xa0", 2));
}

// A standard descriptor closed at start is filled before anything is opened:
// otherwise a source opened next would take its number, and whatever is
// written to that stream would land in the file.
TEST(PlatformProcess, StandardDescriptorsClosedAtStartAreFilled) {
  const std::vector<std::vector<int>> closedSets = {{0}, {1}, {2}, {0, 2}, {0, 1, 2}};
  for (const std::vector<int>& closed : closedSets) {
    int status = statusOfChild([&] {
      for (int fd : closed) ::close(fd);
      prepareProcess();
      for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1) ::_exit(10 + fd);
      }
      int opened = ::open("/dev/null", O_RDONLY);
      ::_exit(opened > STDERR_FILENO ? 0 : 20 + opened);
    });
    // 10 + n: descriptor n stayed closed; 20 + n: the next file opened got n.
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "closed " << testing::PrintToString(closed) << ": exit " << WEXITSTATUS(status);
  }
}

}  // namespace
}  // namespace vesk::platform
