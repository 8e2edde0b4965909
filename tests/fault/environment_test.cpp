// The process around vesk goes wrong: the directory it was started from has
// been removed, or memory runs out. The run still ends with one message and
// the exit status of a failure, and no output is touched.
#include <gtest/gtest.h>

#include "testutil/fault.h"

namespace fault {
namespace {

// vesk moves to its own directory first, so a removed starting directory
// does not matter when the program is named by its full path.
TEST(Environment, StartedFromARemovedDirectory) {
  Sandbox box;
  box.write("a.vsk", "a");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"a.vsk"}, std::vector<std::string>{"-version"}}) {
    fs::create_directory(box.path("../gone"));
    Process vesk(box, args, StartOptions{box.path("../gone"), true, 0});
    Result r = vesk.wait();
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(checkRun(r, box), "");
  }
  EXPECT_EQ(box.read("00.txt"), "a");
}

TEST(Environment, OutOfMemory) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "skipped: the sanitizers reserve more address space than the limit";
#endif
  Sandbox box;
  box.write("a.vsk", "a");
  box.write("00.txt", "old");
  // A setting file of 4 GB that takes no room on the disk: reading it needs
  // more memory than the run may have.
  box.write("huge.yml", "---\n");
  fs::resize_file(box.path("huge.yml"), std::uintmax_t{4} << 30);
  Process vesk(box, {"a.vsk", "-setting:huge.yml"},
               StartOptions{{}, false, std::size_t{512} << 20});
  Result r = vesk.wait();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(splitOutput(r.out).message, "Out of memory");
  EXPECT_EQ(checkRun(r, box), "");
  EXPECT_EQ(box.read("00.txt"), "old");
}

}  // namespace
}  // namespace fault
