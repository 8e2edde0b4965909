// Things that happen while vesk runs: sources vanish or turn into
// directories, the process is killed at any moment, and several vesk
// processes write the same outputs at once. An output is always either its
// old bytes or the complete new conversion.
#include <gtest/gtest.h>
#include <csignal>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <thread>

#include "testutil/fault.h"

namespace fault {
namespace {

using namespace std::chrono_literals;

std::string numbered(int i) { return (i < 10 ? "0" : "") + std::to_string(i) + ".txt"; }
std::string sourceName(int i) { return "s" + std::to_string(100 + i) + ".vsk"; }

// The source, of those from `first` to `count` - 1 that were taken away,
// whose name begins the message of a failed run; `count` when none does.
// The message says the source is missing, or a directory where it became one.
int sourceNamedBy(const Sandbox& box, const std::string& message, int first, int count,
                  bool toDirectory) {
  int named = count;
  for (int i = first; i < count; ++i) {
    if (message.starts_with(box.abs(sourceName(i)) + ": ")) named = i;
  }
  // Between the test's remove and mkdir the source is simply missing.
  EXPECT_TRUE(message.ends_with(": The source file does not exist.") ||
              message.ends_with(": No such file or directory") ||
              (toDirectory && message.ends_with(": Is a directory")))
      << message;
  return named;
}

TEST(Vanishing, SourcesRemovedOrReplacedWhileTheRunGoesOn) {
  constexpr int kFiles = 24;
  std::mt19937 random(testSeed());
  Sandbox box;
  std::vector<std::string> sources, args = {"-d:out", "-variables:v=x"};
  for (int i = 0; i < kFiles; ++i) {
    sources.push_back(largeSource(256 * 1024, static_cast<unsigned>(i)));
    args.push_back(sourceName(i) + ":" + std::to_string(i));
  }
  auto reset = [&] {
    for (int i = 0; i < kFiles; ++i) {
      std::error_code ignored;
      fs::remove(box.path(sourceName(i)), ignored);
      box.write(sourceName(i), sources[static_cast<std::size_t>(i)]);
      box.write("out/" + numbered(i), "old " + std::to_string(i));
    }
  };
  reset();
  auto whole = timedRun(box, args);
  int failures = 0;
  for (int round = 0; round < 12; ++round) {
    reset();
    int first = static_cast<int>(random() % kFiles);
    bool toDirectory = round % 2 == 1;
    Process vesk(box, args);
    std::this_thread::sleep_for(std::chrono::microseconds(random() % (whole.count() + 1)));
    for (int i = first; i < kFiles; ++i) {
      fs::remove(box.path(sourceName(i)));
      if (toDirectory) fs::create_directory(box.path(sourceName(i)));
    }
    Result r = vesk.wait();
    ASSERT_TRUE(r.status == 0 || r.status == 1) << r.status << r.out;
    EXPECT_EQ(checkRun(r, box), "");
    // The failing source is the first one the run could not read; every
    // output before it is new, it and every one after it are old.
    int failed = kFiles;
    if (r.status == 1) {
      ++failures;
      std::string message = splitOutput(r.out).message;
      failed = sourceNamedBy(box, message, first, kFiles, toDirectory);
      ASSERT_LT(failed, kFiles) << message;
    }
    for (int i = 0; i < kFiles; ++i) {
      std::string got = box.read("out/" + numbered(i));
      if (i < failed) {
        EXPECT_EQ(got, rewritten(sources[static_cast<std::size_t>(i)], "v", "x")) << i;
      } else {
        EXPECT_EQ(got, "old " + std::to_string(i)) << i;
      }
    }
  }
  std::printf("%d of 12 runs met a vanished source\n", failures);
}

// SIGKILL cannot be caught: nothing may depend on vesk finishing what it
// started. The output is the old file or the complete new one, never a part.
TEST(Killed, AtRandomMomentsOfALargeConversion) {
  std::mt19937 random(testSeed());
  Sandbox box;
  std::string source = largeSource(48 * 1024 * 1024, 7);
  box.write("big.vsk", source);
  const std::string old = "old output\n";
  for (bool rewrite : {false, true}) {
    std::vector<std::string> args = {"big.vsk"};
    if (rewrite) args.emplace_back("-variables:v=value");
    const std::string expected = rewrite ? rewritten(source, "v", "value") : source;
    box.write("00.txt", old);
    auto whole = timedRun(box, args);
    ASSERT_EQ(box.read("00.txt"), expected);
    int oldSeen = 0, newSeen = 0;
    killAtRandomMoments(box, args, {whole, 16, old}, random, [&] {
      std::string got = box.read("00.txt");
      if (got == old) {
        ++oldSeen;
      } else {
        ++newSeen;
        EXPECT_EQ(got.size(), expected.size()) << "a torn output";
        EXPECT_TRUE(got == expected) << "a torn output";
      }
    });
    std::printf("%s: %d runs killed before the output was replaced, %d after\n",
                rewrite ? "rewrite" : "copy", oldSeen, newSeen);
    // What a killed run leaves behind does not disturb the next run.
    box.write("00.txt", old);
    Result r = box.run(args);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(box.read("00.txt"), expected);
    for (const fs::path& left : temporariesBelow(box.progDir())) fs::remove(left);
  }
}

// Four processes convert the same sources into the same, not yet existing,
// directory at once; every one of them succeeds and every output is whole.
TEST(Concurrent, FourProcessesWriteTheSameOutputs) {
  constexpr int kFiles = 30;
  Sandbox box;
  std::vector<std::string> sources;
  for (int i = 0; i < kFiles; ++i) {
    sources.push_back(
        largeSource(static_cast<std::size_t>(1024) << (i % 10), static_cast<unsigned>(i)));
    box.write(sourceName(i), sources.back());
  }
  const std::vector<std::vector<std::string>> modes = {
      {"-doextract", "-d:out"},
      {"-doextract", "-d:out", "-variables:v=1"},
      {"-doextract", "-d:out", "-variables:v=1", "-sync", "-doifmodified"},
  };
  for (int round = 0; round < 9; ++round) {
    const std::vector<std::string>& args = modes[static_cast<std::size_t>(round) % modes.size()];
    bool rewrite = args.size() > 2;
    fs::remove_all(box.path("out"));
    std::vector<std::unique_ptr<Process>> runs;
    for (int p = 0; p < 4; ++p) runs.push_back(std::make_unique<Process>(box, args));
    for (auto& run : runs) {
      Result r = run->wait();
      EXPECT_EQ(r.status, 0) << r.out;
      EXPECT_EQ(splitOutput(r.out).reports.size(), static_cast<std::size_t>(kFiles)) << r.out;
    }
    for (int i = 0; i < kFiles; ++i) {
      const std::string& source = sources[static_cast<std::size_t>(i)];
      ASSERT_EQ(box.read("out/" + numbered(i)), rewrite ? rewritten(source, "v", "1") : source)
          << i;
    }
    EXPECT_TRUE(temporariesBelow(box.progDir()).empty());
  }
}

// The narrow case of the above: several runs find the output directory
// missing and all try to make it. Every one must go on with the directory
// another one made.
TEST(Concurrent, ManyRunsCreateTheOutputDirectoryAtOnce) {
  Sandbox box;
  box.write("a.vsk", "a");
  for (int round = 0; round < 150; ++round) {
    fs::remove_all(box.path("out"));
    std::vector<std::unique_ptr<Process>> runs;
    for (int p = 0; p < 6; ++p)
      runs.push_back(std::make_unique<Process>(box, std::vector<std::string>{"a.vsk", "-d:out"}));
    for (auto& run : runs) {
      Result r = run->wait();
      ASSERT_EQ(r.status, 0) << "round " << round << ": " << r.out;
    }
    ASSERT_EQ(box.read("out/00.txt"), "a");
  }
}

}  // namespace
}  // namespace fault
