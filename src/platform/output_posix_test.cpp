#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "base/exception.h"
#include "base/test_dir.h"
#include "platform/platform.h"

namespace vesk::platform {
namespace {

namespace fs = std::filesystem;

class OutputTest : public TempDirTest {};

TEST_F(OutputTest, AtomicFileCommitReplacesTarget) {
  writeFile("out.txt", "old content that is longer");
  {
    AtomicFile file(path("out.txt"));
    file.write("new");
    file.write(std::string_view("\0x", 2));
    EXPECT_EQ(readWholeFile(path("out.txt")), "old content that is longer");
    file.commit();
  }
  EXPECT_EQ(readWholeFile(path("out.txt")), std::string("new\0x", 5));
  EXPECT_EQ(names(), Names{"out.txt"});
}

TEST_F(OutputTest, AtomicFileCreatesMissingTarget) {
  {
    AtomicFile file(path("new.txt"));
    file.write("x\n");
    file.commit();
  }
  EXPECT_EQ(readWholeFile(path("new.txt")), "x\n");
}

TEST_F(OutputTest, AtomicFileWithoutCommitLeavesTargetAsItWas) {
  writeFile("out.txt", "keep");
  {
    AtomicFile file(path("out.txt"));
    file.write("discarded");
    // Unnamed until commit where the file system allows it.
    EXPECT_TRUE(file.temporary().empty() || fs::exists(file.temporary()));
  }
  EXPECT_EQ(readWholeFile(path("out.txt")), "keep");
  EXPECT_EQ(names(), Names{"out.txt"});
  { AtomicFile file(path("never.txt")); }
  EXPECT_EQ(names(), Names{"out.txt"});
}

TEST_F(OutputTest, AtomicFileKeepsPermissionBitsOfReplacedFile) {
  writeFile("out.txt", "old");
  ::chmod(path("out.txt").c_str(), 0640);
  AtomicFile file(path("out.txt"));
  file.write("new");
  file.commit();
  struct stat st;
  ASSERT_EQ(::stat(path("out.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(OutputTest, AtomicFileWritesThroughSymbolicLink) {
  writeFile("real.txt", "old");
  fs::create_symlink("real.txt", path("link.txt"));
  AtomicFile file(path("link.txt"));
  file.write("new");
  file.commit();
  EXPECT_TRUE(fs::is_symlink(path("link.txt")));
  EXPECT_EQ(readWholeFile(path("real.txt")), "new");
}

TEST_F(OutputTest, AtomicFileRefusesDirectoryAndLeavesNoTemporary) {
  fs::create_directory(path("out.txt"));
  try {
    AtomicFile file(path("out.txt"));
    file.write("x");
    file.commit();
    FAIL() << "a directory was replaced";
  } catch (const FileException& e) {
    EXPECT_EQ(e.message(), path("out.txt") + ": Is a directory");
  }
  EXPECT_TRUE(fs::is_directory(path("out.txt")));
  EXPECT_EQ(names(), Names{"out.txt"});
}

TEST_F(OutputTest, AtomicFileFailsInMissingDirectoryNamingTarget) {
  try {
    AtomicFile file(path("nodir/out.txt"));
    FAIL();
  } catch (const FileException& e) {
    EXPECT_EQ(e.message(), path("nodir/out.txt") + ": No such file or directory");
  }
}

TEST_F(OutputTest, AtomicFileRefusesReadOnlyTarget) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may write any file";
  writeFile("out.txt", "old");
  ::chmod(path("out.txt").c_str(), 0444);
  EXPECT_THROW(AtomicFile file(path("out.txt")), FileException);
  EXPECT_EQ(readWholeFile(path("out.txt")), "old");
  EXPECT_EQ(names(), Names{"out.txt"});
}

// Caps the size of files this process may write, so that writes fail the way
// they do on a full disk (EFBIG instead of ENOSPC).
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_);
  }

 private:
  rlimit saved_{};
  void (*previous_)(int);
};

TEST_F(OutputTest, WriteErrorsNameTargetAndLeaveNoTemporary) {
  writeFile("out.txt", "old");
  std::string big(256 * 1024, 'x');
  writeFile("big.vsk", big);
  {
    FileSizeLimit limit(64 * 1024);
    try {
      AtomicFile file(path("out.txt"));
      file.write(big);
      FAIL() << "the write should fail";
    } catch (const FileException& e) {
      EXPECT_EQ(e.message(), path("out.txt") + ": File too large");
    }
    try {
      copyFileAtomic(path("big.vsk"), path("out.txt"));
      FAIL() << "the copy should fail";
    } catch (const FileException& e) {
      EXPECT_EQ(e.message(), path("out.txt") + ": File too large");
    }
  }
  EXPECT_EQ(readWholeFile(path("out.txt")), "old");
  EXPECT_EQ(names(), (Names{"big.vsk", "out.txt"}));
}

// A new copy gets its source's bits; one over an old output only the bits
// that both grant. The last write is kept exactly, -sync's stamps to the
// millisecond.
TEST_F(OutputTest, CopyKeepsBytesPermissionsAndModificationTime) {
  std::string content("line\0with NUL\r\nno final newline", 31);
  writeFile("src.vsk", content);
  ::chmod(path("src.vsk").c_str(), 0751);
  timespec times[2] = {{1000000000, 987654321}, {1200000000, 123456789}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path("src.vsk").c_str(), times, 0), 0);
  const mode_t mask = ::umask(022);
  struct Case {
    const char* old;  // nullptr: no old output
    bool sync;
    mode_t mode;
    long writeNs;
  } cases[] = {{nullptr, false, 0751, 123456789},
               {"previous content", false, 0640, 123456789},
               {nullptr, true, 0751, 123000000}};
  for (const Case& c : cases) {
    fs::remove(path("00.txt"));
    if (c.old != nullptr) writeFile("00.txt", c.old);
    copyFileAtomic(path("src.vsk"), path("00.txt"), c.sync);
    struct stat st;  // before reading it changes the last access
    ASSERT_EQ(::stat(path("00.txt").c_str(), &st), 0);
    EXPECT_EQ(readWholeFile(path("00.txt")), content);
    EXPECT_EQ(st.st_mode & 07777, c.mode) << c.sync;
    EXPECT_EQ(st.st_mtim.tv_sec, 1200000000);
    EXPECT_EQ(st.st_mtim.tv_nsec, c.writeNs);
    // The last access as reading the source has left it.
    EXPECT_TRUE(!c.sync || st.st_atim.tv_nsec % 1000000 == 0);
    EXPECT_EQ(names(), (Names{"00.txt", "src.vsk"}));
  }
  ::umask(mask);
}

TEST_F(OutputTest, CopyOfEmptyAndLargeFiles) {
  writeFile("empty", "");
  copyFileAtomic(path("empty"), path("empty.out"));
  EXPECT_EQ(readWholeFile(path("empty.out")), "");

  std::string big(3 * 1024 * 1024 + 7, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31 % 251);
  writeFile("big", big);
  copyFileAtomic(path("big"), path("big.out"));
  EXPECT_EQ(readWholeFile(path("big.out")), big);
}

// Files of /proc report a size of 0; the kernel's copy calls would take
// them for empty, so they are read like a stream.
TEST_F(OutputTest, CopyOfAFileThatReportsNoSizeIsWhole) {
  const std::string source = "/proc/version";
  struct stat st;
  if (::stat(source.c_str(), &st) != 0 || st.st_size != 0) GTEST_SKIP() << "no /proc here";
  copyFileAtomic(source, path("version.out"));
  EXPECT_EQ(readWholeFile(path("version.out")), readWholeFile(source));
  EXPECT_FALSE(readWholeFile(path("version.out")).empty());
}

TEST_F(OutputTest, CopyOntoItselfKeepsContent) {
  writeFile("same.txt", "same");
  copyFileAtomic(path("same.txt"), path("same.txt"));
  EXPECT_EQ(readWholeFile(path("same.txt")), "same");
  EXPECT_EQ(names(), Names{"same.txt"});
}

TEST_F(OutputTest, CopyFailuresNameTheRightFileAndLeaveNoTemporary) {
  try {
    copyFileAtomic(path("missing"), path("out"));
    FAIL();
  } catch (const FileException& e) {
    EXPECT_EQ(e.message(), path("missing") + ": No such file or directory");
  }
  fs::create_directory(path("dir"));
  try {
    copyFileAtomic(path("dir"), path("out"));
    FAIL();
  } catch (const FileException& e) {
    EXPECT_EQ(e.message(), path("dir") + ": Is a directory");
  }
  writeFile("src", "x");
  try {
    copyFileAtomic(path("src"), path("dir"));
    FAIL();
  } catch (const FileException& e) {
    EXPECT_EQ(e.message(), path("dir") + ": Is a directory");
  }
  EXPECT_EQ(names(), (Names{"dir", "src"}));
}

}  // namespace
}  // namespace vesk::platform
