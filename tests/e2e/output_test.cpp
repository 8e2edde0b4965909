// A run whose report cannot reach its reader has failed: vesk says so on
// standard error, the one place left, and exits with status 1. What it has
// converted by then stays converted.
#include <gtest/gtest.h>

#include <csignal>

#include "testutil/expect.h"
#include "testutil/harness.h"

namespace e2e {
namespace {

const std::string kLost = "vesk: write error: standard output: ";

// One line on standard error that names the lost standard output.
void expectLostOutput(const Result& r) {
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_TRUE(r.err.starts_with(kLost)) << r.err;
  EXPECT_TRUE(r.err.ends_with("\n")) << r.err;
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
}

TEST(LostOutput, FullDeviceFailsTheRunAndKeepsTheOutputs) {
  Sandbox box;
  box.write("a.vsk", "${v}\n");
  box.write("b.vsk", "b");
  box.setStdout(Sandbox::Stdout::DiskFull);
  Result r = box.run({"a.vsk", "b.vsk", "-variables:v=1"});
  expectLostOutput(r);
  EXPECT_EQ(box.read("00.txt"), "1\r\n");
  r = box.run({"b.vsk:0"});
  expectLostOutput(r);
  EXPECT_EQ(box.read("00.txt"), "b");
  EXPECT_TRUE(box.temporaries().empty());
}

TEST(LostOutput, VersionAndUsageTextsThatAreLostFail) {
  Sandbox box;
  box.setStdout(Sandbox::Stdout::DiskFull);
  expectLostOutput(box.run({"-version"}));
  // A usage error stays a usage error; the lost text is said on top.
  Result r = box.run({"-nosuchoption"});
  EXPECT_TRUE(r.err.starts_with(kLost)) << r.err;
  EXPECT_NE(r.status, 0);
}

TEST(LostOutput, ClosedPipeLeavesCompleteOutputsAndNoTemporary) {
  Sandbox box;
  std::string big, converted;
  for (int i = 0; i < 20000; ++i) {
    big += "line ${v} " + std::to_string(i) + "\n";
    converted += "line x " + std::to_string(i) + "\r\n";
  }
  box.write("a.vsk", big);
  box.write("b.vsk", "b");
  box.setStdout(Sandbox::Stdout::ClosedPipe);
  Result r = box.run({"a.vsk", "b.vsk", "-variables:v=x"});
  // The first report line is written once 00.txt is in place. The broken
  // pipe is then a lost standard output: the run goes on and fails at the
  // end.
  expectLostOutput(r);
  EXPECT_EQ(box.read("01.txt"), "b\r\n");
  EXPECT_TRUE(box.read("00.txt") == converted);
  EXPECT_TRUE(box.temporaries().empty());
}

}  // namespace
}  // namespace e2e
