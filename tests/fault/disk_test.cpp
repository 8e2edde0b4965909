// The output side fails: the disk fills up, the output directory or the
// output file may not be written, the output name is taken by a directory, a
// source cannot be read. Each run ends with one message and exit status 1,
// earlier outputs stay, the failing output keeps its old bytes, and no
// temporary file is left behind.
#include <gtest/gtest.h>

#include "testutil/fault.h"

namespace fault {
namespace {

const std::vector<std::string> kCopy = {};
const std::vector<std::string> kRewrite = {"-variables:v=1"};

std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string>& mode) {
  args.insert(args.end(), mode.begin(), mode.end());
  return args;
}

void expectFailure(const Result& r, const std::string& message) {
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_EQ(splitOutput(r.out).message, message) << r.out;
  EXPECT_EQ(r.err, "");
}

TEST(DiskFull, TheOutputBeingWrittenKeepsItsOldBytes) {
  if (!runningAsRoot()) GTEST_SKIP() << "skipped: mounting a small tmpfs needs root";
  Sandbox box;
  SmallDisk disk(box.path("full"), 256 * 1024);
  if (!disk.ok()) GTEST_SKIP() << "skipped: " << disk.error();
  box.write("small.vsk", "${v} small\n");
  // Larger than the disk; the 8 MB rewrite fails while its output is being
  // written behind, by the second thread.
  for (std::size_t size : {512 * 1024, 8 * 1024 * 1024}) {
    for (const auto& mode : {kCopy, kRewrite}) {
      box.write("big.vsk", largeSource(size, 1));
      box.write("full/00.txt", "old 0");
      box.write("full/01.txt", "old 1");
      Result r = box.run(with({"small.vsk:0", "big.vsk:1", "-d:full"}, mode));
      expectFailure(r, "full/01.txt: No space left on device");
      EXPECT_EQ(box.read("full/00.txt"), mode.empty() ? "${v} small\n" : "1 small\r\n");
      EXPECT_EQ(box.read("full/01.txt"), "old 1");
      EXPECT_TRUE(temporariesBelow(box.path("full")).empty());
    }
  }
}

TEST(DiskFull, ADiskWithNoRoomLeftAtAll) {
  if (!runningAsRoot()) GTEST_SKIP() << "skipped: mounting a small tmpfs needs root";
  Sandbox box;
  SmallDisk disk(box.path("full"), 64 * 1024);
  if (!disk.ok()) GTEST_SKIP() << "skipped: " << disk.error();
  box.write("a.vsk", "a ${v}\n");
  box.write("full/00.txt", "old");
  // Fill every last block.
  std::string filler(4096, 'f');
  for (int i = 0; i < 64; ++i) {
    try {
      box.write("full/filler" + std::to_string(i), filler);
    } catch (const std::exception&) {
      break;
    }
  }
  for (const auto& mode : {kCopy, kRewrite}) {
    Result r = box.run(with({"a.vsk", "-d:full"}, mode));
    expectFailure(r, "full/00.txt: No space left on device");
    EXPECT_EQ(box.read("full/00.txt"), "old");
    EXPECT_TRUE(temporariesBelow(box.path("full")).empty());
  }
}

// As root every permission check passes, so these run the program as nobody.
class Permissions : public ::testing::Test {
 protected:
  void SetUp() override {
    box_.write("a.vsk", "a ${v}\n");
    box_.write("b.vsk", "b ${v}\n");
    box_.write("out/00.txt", "old 0");
    box_.write("out/01.txt", "old 1");
    handToNobody(box_);
  }
  Sandbox box_;
};

TEST_F(Permissions, AReadOnlyOutputDirectory) {
  fs::permissions(box_.path("out"),
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  Unprivileged nobody;
  for (const auto& mode : {kCopy, kRewrite}) {
    Result r = box_.run(with({"a.vsk", "-d:out"}, mode));
    expectFailure(r, "out/00.txt: Permission denied");
    EXPECT_EQ(box_.read("out/00.txt"), "old 0");
    EXPECT_TRUE(temporariesBelow(box_.path("out")).empty());
  }
}

TEST_F(Permissions, AReadOnlyOutputFileStaysAsItIs) {
  fs::permissions(box_.path("out/01.txt"),
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  Unprivileged nobody;
  for (const auto& mode : {kCopy, kRewrite}) {
    Result r = box_.run(with({"a.vsk", "b.vsk", "-d:out"}, mode));
    expectFailure(r, "out/01.txt: Permission denied");
    EXPECT_EQ(box_.read("out/00.txt"), mode.empty() ? "a ${v}\n" : "a 1\r\n");
    EXPECT_EQ(box_.read("out/01.txt"), "old 1");
    EXPECT_TRUE(temporariesBelow(box_.path("out")).empty());
  }
}

TEST_F(Permissions, AnOutputDirectoryThatCannotBeCreated) {
  fs::create_directory(box_.path("locked"));
  handToNobody(box_);
  fs::permissions(box_.path("locked"), fs::perms::owner_read | fs::perms::owner_exec);
  Unprivileged nobody;
  Result r = box_.run({"a.vsk", "-d:locked/out"});
  expectFailure(r, "locked/out: Permission denied");
  EXPECT_FALSE(box_.exists("locked/out"));
}

TEST_F(Permissions, AnUnreadableSourceLeavesItsOutput) {
  fs::permissions(box_.path("b.vsk"), fs::perms::none);
  Unprivileged nobody;
  for (const auto& mode : {kCopy, kRewrite}) {
    Result r = box_.run(with({"a.vsk", "b.vsk", "-d:out"}, mode));
    expectFailure(r, box_.abs("b.vsk") + ": Permission denied");
    EXPECT_EQ(box_.read("out/01.txt"), "old 1");
    EXPECT_TRUE(temporariesBelow(box_.path("out")).empty());
  }
}

// A read-only source gives a read-only output; with -sync its times go onto
// the new output before it takes the old one's place, so the run succeeds
// instead of failing after the old output is gone.
TEST_F(Permissions, SyncOfAReadOnlySourceOverAWritableOutput) {
  const fs::perms readOnly = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
  for (const auto& mode : {kCopy, kRewrite}) {
    box_.write("out/00.txt", "old 0");
    handToNobody(box_);
    fs::permissions(box_.path("a.vsk"), readOnly);
    fs::last_write_time(box_.path("a.vsk"),
                        fs::file_time_type::clock::now() - std::chrono::hours(5));
    Unprivileged nobody;
    Result r = box_.run(with({"a.vsk:0", "-d:out", "-sync"}, mode));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(box_.read("out/00.txt"), mode.empty() ? "a ${v}\n" : "a 1\r\n");
    // -sync carries times to the millisecond.
    auto millis = [&](const std::string& name) {
      return std::chrono::floor<std::chrono::milliseconds>(
          fs::last_write_time(box_.path(name)).time_since_epoch());
    };
    EXPECT_EQ(millis("out/00.txt"), millis("a.vsk"));
    EXPECT_TRUE(temporariesBelow(box_.path("out")).empty());
    fs::permissions(box_.path("out/00.txt"), fs::perms::owner_write, fs::perm_options::add);
  }
}

// Enterable but not listable: the walk for sources cannot see what is there,
// so the run ends with the directory's name before any output is written.
TEST_F(Permissions, ASourceDirectoryThatCannotBeListed) {
  box_.write("sub/c.vsk", "c ${v}\n");
  handToNobody(box_);
  const fs::perms enterOnly = fs::perms::owner_write | fs::perms::owner_exec |
                              fs::perms::group_write | fs::perms::group_exec |
                              fs::perms::others_write | fs::perms::others_exec;
  for (const std::string dir : {"sub", "."}) {
    fs::permissions(box_.path(dir), enterOnly);
    Unprivileged nobody;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, std::vector<std::string>{"-doextract", "a.vsk:5"}}) {
      Result r = box_.run(args);
      expectFailure(r, dir == "." ? ".: Permission denied" : "./sub: Permission denied");
      EXPECT_TRUE(splitOutput(r.out).reports.empty()) << r.out;
      EXPECT_FALSE(box_.exists("00.txt"));
      EXPECT_FALSE(box_.exists("05.txt"));
    }
  }
}

TEST(TakenNames, AnOutputNameTakenByADirectoryInEveryMode) {
  Sandbox box;
  box.write("a.vsk", "a");
  box.write("00.txt/inside", "kept");
  // -doifmodified must not take a directory for an up-to-date output, however
  // new the directory is.
  for (const std::vector<std::string>& mode :
       {kCopy, kRewrite, std::vector<std::string>{"-doifmodified"},
        std::vector<std::string>{"-sync"},
        std::vector<std::string>{"-doifmodified", "-sync", "-variables:v=1"}}) {
    fs::last_write_time(box.path("00.txt"),
                        fs::file_time_type::clock::now() + std::chrono::hours(1));
    Result r = box.run(with({"a.vsk"}, mode));
    expectFailure(r, "./00.txt: Is a directory");
    EXPECT_EQ(box.read("00.txt/inside"), "kept");
    EXPECT_TRUE(temporariesBelow(box.progDir()).empty());
  }
}

TEST(TakenNames, AnOutputDirectoryNameTakenByAFile) {
  Sandbox box;
  box.write("a.vsk", "a");
  box.write("out", "a file");
  Result r = box.run({"a.vsk", "-d:out"});
  expectFailure(r, "out: The file that has same name already exists.");
  EXPECT_EQ(box.read("out"), "a file");
}

}  // namespace
}  // namespace fault
