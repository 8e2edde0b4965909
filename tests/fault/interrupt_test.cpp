// vesk is interrupted while it writes an output: by a signal it may catch, by
// SIGKILL, or by its reader going away. The output keeps its old bytes, no
// temporary file is left behind, and a caught signal still ends the process
// as it would have ended it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <random>
#include <thread>

#include "testutil/fault.h"

namespace fault {
namespace {

using namespace std::chrono_literals;

const std::string kOld = "old output\n";

// True while the process holds a file of dir open that has no name (an
// unnamed temporary file, or one already removed).
bool holdsUnnamedFile(pid_t pid, const fs::path& dir) {
  std::error_code ignored;
  const fs::path fds = "/proc/" + std::to_string(pid) + "/fd";
  for (const auto& entry : fs::directory_iterator(fds, ignored)) {
    std::string target = fs::read_symlink(entry.path(), ignored).string();
    if (target.starts_with(dir.string() + "/") && target.ends_with(" (deleted)")) return true;
  }
  return false;
}

// Waits until the run is writing its output: into a named temporary file, or
// an unnamed one while no named one is there.
bool waitUntilWriting(const Sandbox& box, const Process& vesk, bool named) {
  auto deadline = std::chrono::steady_clock::now() + 60s;
  while (std::chrono::steady_clock::now() < deadline) {
    bool seen = !temporariesBelow(box.progDir()).empty();
    if (named ? seen : !seen && holdsUnnamedFile(vesk.pid(), box.progDir())) return true;
    std::this_thread::sleep_for(1ms);
  }
  return false;
}

StartOptions started(bool namedTemporaries, bool closedOutput = false) {
  StartOptions options;
  options.namedTemporaries = namedTemporaries;
  options.closedOutput = closedOutput;
  return options;
}

bool unnamedTemporariesOffered(const fs::path& dir) {
  int fd = ::open(dir.c_str(), O_TMPFILE | O_WRONLY, 0600);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

// Each signal lands while the rewrite is being written, into a named
// temporary file (as on file systems without unnamed ones) and an unnamed one.
TEST(Interrupted, ByTermHangupOrIntWhileALargeRewriteIsWritten) {
  Sandbox box;
  box.write("big.vsk", largeSource(64 << 20, 3));
  const std::vector<std::string> args = {"big.vsk", "-variables:v=value"};
  for (bool named : {true, false}) {
    for (int signal : {SIGTERM, SIGHUP, SIGINT}) {
      box.write("00.txt", kOld);
      Process vesk(box, args, started(named));
      ASSERT_TRUE(waitUntilWriting(box, vesk, named));
      vesk.signal(signal);
      Result r = vesk.wait();
      EXPECT_EQ(r.status, 128 + signal) << (named ? "named " : "unnamed ") << signal;
      EXPECT_EQ(r.out + r.err, "");
      EXPECT_EQ(box.read("00.txt"), kOld);
      EXPECT_EQ(temporariesBelow(box.progDir()), std::vector<fs::path>{})
          << (named ? "named " : "unnamed ") << signal;
    }
  }
}

// SIGKILL cannot be caught; an unnamed temporary file leaves nothing even so,
// except in the instant between giving the finished file its name and the
// rename. A temporary left by a kill must therefore be a complete one.
TEST(Interrupted, KilledAtAnyMomentLeavesNoNamedTemporary) {
  Sandbox box;
  if (!unnamedTemporariesOffered(box.progDir()))
    GTEST_SKIP() << "skipped: no unnamed temporary files on this file system";
  std::mt19937 random(testSeed());
  const std::string source = largeSource(16 << 20, 5);
  box.write("big.vsk", source);
  int left = 0, complete = 0;
  for (bool rewrite : {false, true}) {
    std::vector<std::string> args = {"big.vsk", "-sync"};
    if (rewrite) args.emplace_back("-variables:v=value");
    const std::string expected = rewrite ? rewritten(source, "v", "value") : source;
    auto whole = timedRun(box, args);
    killAtRandomMoments(box, args, {whole, 15, kOld}, random, [&] {
      std::string got = box.read("00.txt");
      EXPECT_TRUE(got == kOld || got == expected) << "a torn output";
      for (const fs::path& temporary : temporariesBelow(box.progDir())) {
        if (e2e::readFile(temporary) == expected) {
          ++complete;
        } else {
          ++left;
        }
        fs::remove(temporary);
      }
    });
  }
  EXPECT_EQ(left, 0) << "temporary files being written left by 30 killed runs";
  if (complete > 0) std::printf("%d runs killed between naming and renaming\n", complete);
}

// Sources with unknown variables are reported while their output is being
// written; once the report outgrows vesk's buffer it goes to a pipe whose
// reader has gone (vesk ... | true). That write fails like any other: the
// run goes on and says at the end that its standard output was lost.
TEST(Interrupted, AReaderThatHasGoneAway) {
  Sandbox box;
  std::string source, expected;
  for (int i = 0; i < 50000; ++i) {
    source += "line ${unknown" + std::to_string(i % 97) + "}\n";
    expected += "line \r\n";
  }
  box.write("a.vsk", source);
  for (bool named : {true, false}) {
    box.write("00.txt", kOld);
    Process vesk(box, {"a.vsk", "-variables:v=1"}, started(named, true));
    Result r = vesk.wait();
    // The lost standard output is said at the end; the output is complete.
    EXPECT_EQ(r.status, 1) << (named ? "named" : "unnamed");
    EXPECT_EQ(r.err, "vesk: write error: standard output: Broken pipe\n");
    EXPECT_TRUE(box.read("00.txt") == expected);
    EXPECT_EQ(temporariesBelow(box.progDir()), std::vector<fs::path>{})
        << (named ? "named" : "unnamed");
  }
}

}  // namespace
}  // namespace fault
