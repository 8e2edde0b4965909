// Failures never cost an output: whatever goes wrong, an existing output is
// left exactly as it was and no temporary file stays behind.
#include <gtest/gtest.h>

#include <algorithm>

#include "testutil/expect.h"
#include "testutil/harness.h"

namespace e2e {
namespace {

TEST(Failures, OutputNameTakenByADirectory) {
  Sandbox box;
  box.write("a.vsk", "a");
  fs::create_directory(box.path("00.txt"));
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"a.vsk"}, std::vector<std::string>{"a.vsk", "-variables:x=1"}}) {
    Result r = box.run(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(std::string(".") + separator() + "00.txt: "), std::string::npos) << r.out;
    EXPECT_TRUE(fs::is_directory(box.path("00.txt")));
    EXPECT_TRUE(box.temporaries().empty());
  }
}

TEST(Failures, UnreadableSourceLeavesTheOldOutput) {
  Sandbox box;
  fs::create_directory(box.path("a.vsk"));
  box.write("00.txt", "old");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"a.vsk"}, std::vector<std::string>{"a.vsk", "-variables:x=1"}}) {
    Result r = box.run(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(box.abs("a.vsk") + ": "), std::string::npos) << r.out;
    EXPECT_EQ(box.read("00.txt"), "old");
    EXPECT_TRUE(box.temporaries().empty());
  }
}

TEST(Failures, EarlierOutputsStayWhenALaterFileFails) {
  Sandbox box;
  box.write("a.vsk", "a");
  Result r = box.run({"a.vsk", "gone.vsk"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(box.read("00.txt"), "a");
  EXPECT_FALSE(box.exists("01.txt"));
}

TEST(BadInput, HugeArgumentsAndOddBytes) {
  Sandbox box;
  std::string big(std::min<std::size_t>(120 * 1024, argumentBudget() / 9 - 16), 'x');
  box.write("a.vsk", "${v}\n");
  // About 1 MB of arguments where the platform takes that much (Windows takes
  // 32 K): repeated options (the last one wins) and a long value.
  std::vector<std::string> args = {"a.vsk", "-variables:v=" + big};
  for (int i = 0; i < 8; ++i) args.emplace_back("-ext:" + big);
  args.emplace_back("-ext:vsk");
  Result r = box.run(args);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(box.read("00.txt"), big + "\r\n");
  std::string odd = oddName();
  box.write(odd + ".vsk", "${v}\n");
  r = box.run({odd + ".vsk", "-variables:v=" + oddValue()});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(box.read("00.txt"), oddValue() + "\r\n");
  EXPECT_NE(r.out.find(inCodePage(box.abs(odd + ".vsk"), box.locale()) + " => 00.txt\n"),
            std::string::npos);
}

TEST(BadInput, ALongSingleLine) {
  Sandbox box;
  std::string line(30 * 1024 * 1024, 'q');
  line.replace(1000, 4, "${v}");
  box.write("a.vsk", line);
  Result r = box.run({"a.vsk", "-variables:v=!"});
  EXPECT_EQ(r.status, 0);
  std::string expected = line;
  expected.replace(1000, 4, "!");
  EXPECT_EQ(box.read("00.txt"), expected + "\r\n");
}

}  // namespace
}  // namespace e2e
