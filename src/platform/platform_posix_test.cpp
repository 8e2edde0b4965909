#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/exception.h"
#include "platform/platform.h"

namespace vesk::platform {
namespace {

namespace fs = std::filesystem;

class PlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "vesk-platform-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    // Make read-only leftovers removable again.
    for (auto& entry : fs::recursive_directory_iterator(dir_, fs::directory_options::none)) {
      if (!entry.is_symlink()) ::chmod(entry.path().c_str(), 0777);
    }
    fs::remove_all(dir_);
  }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  void writeFile(const std::string& name, const std::string& content) const {
    std::ofstream(path(name), std::ios::binary) << content;
  }

  // Every name in the directory, so that a left-behind temporary shows up.
  std::vector<std::string> names() const {
    std::vector<std::string> result;
    for (auto& entry : fs::directory_iterator(dir_))
      result.push_back(entry.path().filename().string());
    std::sort(result.begin(), result.end());
    return result;
  }

  std::string dir_;
};

using Names = std::vector<std::string>;

TEST_F(PlatformTest, AtomicFileCommitReplacesTarget) {
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

TEST_F(PlatformTest, AtomicFileCreatesMissingTarget) {
  {
    AtomicFile file(path("new.txt"));
    file.write("x\n");
    file.commit();
  }
  EXPECT_EQ(readWholeFile(path("new.txt")), "x\n");
}

TEST_F(PlatformTest, AtomicFileWithoutCommitLeavesTargetAsItWas) {
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

// Where the file system offers unnamed temporary files, nothing of an output
// being written shows in its directory, so a killed run can leave nothing.
// A temporary's name that is taken (by a file, or by a link someone planted
// to a file of theirs) is never opened: the next name is tried.
TEST_F(PlatformTest, NamedTemporarySkipsNamesThatAreTaken) {
  std::string first;
  {
    AtomicFile probe(path("out.txt"));
    first = probe.temporary();
  }
  if (first.empty()) GTEST_SKIP() << "unnamed temporaries here; the named run covers this";
  // ".../.out.txt.<pid>-<n>.vesk-tmp": the next names end in n+1, n+2, ...
  const std::string counted = first.substr(0, first.size() - std::string(".vesk-tmp").size());
  const std::size_t dash = counted.rfind('-');
  const std::string stem = counted.substr(0, dash + 1);
  const unsigned long next = std::stoul(counted.substr(dash + 1)) + 1;
  writeFile("victim", "theirs");
  for (unsigned long n = next; n < next + 20; ++n) {
    fs::create_symlink(path("victim"), stem + std::to_string(n) + ".vesk-tmp");
  }
  AtomicFile file(path("out.txt"));
  file.write("new");
  file.commit();
  EXPECT_EQ(readWholeFile(path("out.txt")), "new");
  EXPECT_EQ(readWholeFile(path("victim")), "theirs");
  EXPECT_EQ(names().size(), 22U) << "the planted links stay, no temporary is left";
}

TEST_F(PlatformTest, AtomicFileIsUnnamedUntilCommit) {
  int probe = ::open(dir_.c_str(), O_TMPFILE | O_WRONLY, 0600);
  if (probe < 0) GTEST_SKIP() << "no unnamed temporary files here";
  ::close(probe);
  writeFile("out.txt", "old");
  ::chmod(path("out.txt").c_str(), 0604);
  AtomicFile file(path("out.txt"));
  file.write("new");
  EXPECT_EQ(file.temporary(), "");
  EXPECT_EQ(names(), Names{"out.txt"});
  FileStamps stamps;
  stamps.lastAccess = stamps.lastWrite = 1500000000250;
  file.setStamps(stamps);
  file.commit();
  EXPECT_EQ(readWholeFile(path("out.txt")), "new");
  EXPECT_EQ(readFileStamps(path("out.txt")).lastWrite, stamps.lastWrite);
  struct stat st;
  ASSERT_EQ(::stat(path("out.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u);
  EXPECT_EQ(names(), Names{"out.txt"});
}

TEST_F(PlatformTest, AtomicFileKeepsPermissionBitsOfReplacedFile) {
  writeFile("out.txt", "old");
  ::chmod(path("out.txt").c_str(), 0640);
  AtomicFile file(path("out.txt"));
  file.write("new");
  file.commit();
  struct stat st;
  ASSERT_EQ(::stat(path("out.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(PlatformTest, AtomicFileWritesThroughSymbolicLink) {
  writeFile("real.txt", "old");
  fs::create_symlink("real.txt", path("link.txt"));
  AtomicFile file(path("link.txt"));
  file.write("new");
  file.commit();
  EXPECT_TRUE(fs::is_symlink(path("link.txt")));
  EXPECT_EQ(readWholeFile(path("real.txt")), "new");
}

TEST_F(PlatformTest, AtomicFileRefusesDirectoryAndLeavesNoTemporary) {
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

TEST_F(PlatformTest, AtomicFileFailsInMissingDirectoryNamingTarget) {
  try {
    AtomicFile file(path("nodir/out.txt"));
    FAIL();
  } catch (const FileException& e) {
    EXPECT_EQ(e.message(), path("nodir/out.txt") + ": No such file or directory");
  }
}

TEST_F(PlatformTest, AtomicFileRefusesReadOnlyTarget) {
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

TEST_F(PlatformTest, WriteErrorsNameTargetAndLeaveNoTemporary) {
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

TEST_F(PlatformTest, CopyKeepsBytesPermissionsAndModificationTime) {
  std::string content("line\0with NUL\r\nno final newline", 31);
  writeFile("src.vsk", content);
  ::chmod(path("src.vsk").c_str(), 0751);
  timespec times[2] = {{1000000000, 0}, {1200000000, 123456789}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path("src.vsk").c_str(), times, 0), 0);
  writeFile("00.txt", "previous content");

  copyFileAtomic(path("src.vsk"), path("00.txt"));

  EXPECT_EQ(readWholeFile(path("00.txt")), content);
  struct stat st;
  ASSERT_EQ(::stat(path("00.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0751u);
  EXPECT_EQ(st.st_mtim.tv_sec, 1200000000);
  EXPECT_EQ(st.st_mtim.tv_nsec, 123456789);
  EXPECT_EQ(names(), (Names{"00.txt", "src.vsk"}));
}

TEST_F(PlatformTest, CopyOfEmptyAndLargeFiles) {
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
TEST_F(PlatformTest, CopyOfAFileThatReportsNoSizeIsWhole) {
  const std::string source = "/proc/version";
  struct stat st;
  if (::stat(source.c_str(), &st) != 0 || st.st_size != 0) GTEST_SKIP() << "no /proc here";
  copyFileAtomic(source, path("version.out"));
  EXPECT_EQ(readWholeFile(path("version.out")), readWholeFile(source));
  EXPECT_FALSE(readWholeFile(path("version.out")).empty());
}

TEST_F(PlatformTest, CopyOntoItselfKeepsContent) {
  writeFile("same.txt", "same");
  copyFileAtomic(path("same.txt"), path("same.txt"));
  EXPECT_EQ(readWholeFile(path("same.txt")), "same");
  EXPECT_EQ(names(), Names{"same.txt"});
}

TEST_F(PlatformTest, CopyFailuresNameTheRightFileAndLeaveNoTemporary) {
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

TEST_F(PlatformTest, InputFileReadsInPiecesAndRefusesDirectory) {
  writeFile("in", "abcdef");
  InputFile file(path("in"));
  char buffer[4];
  EXPECT_EQ(file.read(buffer, 4), 4u);
  EXPECT_EQ(std::string(buffer, 4), "abcd");
  EXPECT_EQ(file.read(buffer, 4), 2u);
  EXPECT_EQ(file.read(buffer, 4), 0u);
  EXPECT_THROW(InputFile{dir_}, FileException);
}

TEST_F(PlatformTest, ListDirectoryKinds) {
  writeFile("file", "");
  fs::create_directory(path("dir"));
  fs::create_directory_symlink("dir", path("linkdir"));
  fs::create_symlink("file", path("linkfile"));
  fs::create_symlink("nowhere", path("dangling"));
  ::mkfifo(path("fifo").c_str(), 0600);

  std::vector<DirEntry> entries = listDirectory(dir_);
  std::sort(entries.begin(), entries.end(),
            [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  std::vector<std::pair<std::string, DirEntry::Kind>> got;
  for (const DirEntry& e : entries) got.emplace_back(e.name, e.kind);
  using K = DirEntry::Kind;
  std::vector<std::pair<std::string, DirEntry::Kind>> want = {
      {"dangling", K::Other}, {"dir", K::Directory}, {"fifo", K::Other},
      {"file", K::File},      {"linkdir", K::Other}, {"linkfile", K::File}};
  EXPECT_EQ(got, want);
  EXPECT_TRUE(listDirectory(path("absent")).empty());
  EXPECT_TRUE(listDirectory(path("file")).empty());
}

// Runs body in a child process; returns its wait status. The child's exit
// status is 0 unless body ends it otherwise.
int statusOfChild(const std::function<void()>& body) {
  pid_t pid = ::fork();
  if (pid == 0) {
    body();
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

TEST_F(PlatformTest, ListDirectoryRaisesForADirectoryItCannotList) {
  fs::create_symlink("loop", path("loop"));
  try {
    listDirectory(path("loop"));
    FAIL() << "a looping link was listed";
  } catch (const FileException& e) {
    EXPECT_EQ(e.message(), path("loop") + ": Too many levels of symbolic links");
  }
  // Enterable but not listable, tried as an ordinary user (root lists all).
  fs::create_directory(path("barred"));
  ::chmod(dir_.c_str(), 0755);
  ::chmod(path("barred").c_str(), 0333);
  int status = statusOfChild([&] {
    if (::geteuid() == 0 && ::setuid(65534) != 0) ::_exit(2);
    try {
      listDirectory(path("barred"));
    } catch (const FileException& e) {
      ::_exit(e.message() == path("barred") + ": Permission denied" ? 0 : 3);
    }
    ::_exit(4);
  });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(PlatformTest, InterruptEndsTheProcessBySignalAndLeavesNoTemporary) {
  writeFile("out.txt", "old");
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
    int status = statusOfChild([&] {
      prepareProcess();
      prepareProcess();  // a second call changes nothing
      AtomicFile file(path("out.txt"));
      file.write("partial");
      ::raise(signal);
    });
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal << " " << status;
  }
  EXPECT_EQ(readWholeFile(path("out.txt")), "old");
  EXPECT_EQ(names(), Names{"out.txt"});
  // A signal ignored by the starting process (nohup) stays ignored.
  int status = statusOfChild([] {
    std::signal(SIGHUP, SIG_IGN);
    prepareProcess();
    ::raise(SIGHUP);
  });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(PlatformTest, FileKindFollowsLinks) {
  writeFile("file", "");
  fs::create_directory(path("dir"));
  fs::create_directory_symlink("dir", path("linkdir"));
  EXPECT_EQ(fileKind(path("file")), FileKind::File);
  EXPECT_EQ(fileKind(path("dir")), FileKind::Directory);
  EXPECT_EQ(fileKind(path("linkdir")), FileKind::Directory);
  EXPECT_EQ(fileKind(path("absent")), FileKind::Missing);
  EXPECT_EQ(fileKind(path("file/below")), FileKind::Missing);
  EXPECT_EQ(fileKind("/dev/null"), FileKind::Other);
}

TEST_F(PlatformTest, CreateAndChangeDirectory) {
  createDirectory(path("new"));
  EXPECT_EQ(fileKind(path("new")), FileKind::Directory);
  try {
    createDirectory(path("new"));
    FAIL();
  } catch (const FileException& e) {
    EXPECT_EQ(e.message(), path("new") + ": File exists");
  }
  std::string before = currentDir();
  changeDir(path("new"));
  EXPECT_EQ(currentDir(), fs::canonical(path("new")).string());
  changeDir(before);
  EXPECT_THROW(changeDir(path("absent")), FileException);
}

TEST_F(PlatformTest, StampsRoundTripToTheMillisecond) {
  writeFile("f", "x");
  FileStamps stamps;
  stamps.lastAccess = 1234567890123;
  stamps.lastWrite = 1600000000999;
  writeFileStamps(path("f"), stamps);
  FileStamps read = readFileStamps(path("f"));
  EXPECT_EQ(read.lastAccess, stamps.lastAccess);
  EXPECT_EQ(read.lastWrite, stamps.lastWrite);
  EXPECT_GT(read.creation, 0);

  // Before 1970 the milliseconds still count forwards from the whole second.
  stamps.lastWrite = -1500;
  writeFileStamps(path("f"), stamps);
  EXPECT_EQ(readFileStamps(path("f")).lastWrite, -1500);
  EXPECT_THROW(readFileStamps(path("absent")), FileException);
  EXPECT_THROW(writeFileStamps(path("absent"), stamps), FileException);
}

// A save over each kind of thing a name may hold: what was there stays what
// it was, and only a plain file is replaced.
class SaveTest : public PlatformTest {
 protected:
  void save(const std::string& name, std::string_view text) const {
    SaveFile file(path(name));
    file.write(text);
    file.commit();
  }
  struct stat statOf(const std::string& name) const {
    struct stat st {};
    EXPECT_EQ(::stat(path(name).c_str(), &st), 0) << name;
    return st;
  }
};

TEST_F(SaveTest, APlainFileIsReplacedKeepingItsBits) {
  save("new.yml", "first");
  writeFile("doc.yml", "old and longer");
  ::chmod(path("doc.yml").c_str(), 0640);
  ino_t before = statOf("doc.yml").st_ino;
  save("doc.yml", "new");
  EXPECT_EQ(readWholeFile(path("doc.yml")), "new");
  EXPECT_EQ(readWholeFile(path("new.yml")), "first");
  EXPECT_NE(statOf("doc.yml").st_ino, before);
  EXPECT_EQ(statOf("doc.yml").st_mode & 07777, 0640u);
  EXPECT_EQ(names(), (Names{"doc.yml", "new.yml"}));
}

TEST_F(SaveTest, LinkedFilesAreWrittenIntoInPlace) {
  writeFile("first", "old and longer");
  fs::create_hard_link(path("first"), path("second"));
  ino_t before = statOf("first").st_ino;
  save("second", "new");
  EXPECT_EQ(readWholeFile(path("first")), "new");
  EXPECT_EQ(statOf("second").st_ino, before);
  EXPECT_EQ(statOf("second").st_nlink, 2u);

  writeFile("real", "old");
  fs::create_symlink("real", path("link"));
  before = statOf("real").st_ino;
  save("link", "through");
  EXPECT_TRUE(fs::is_symlink(path("link")));
  EXPECT_EQ(readWholeFile(path("real")), "through");
  EXPECT_EQ(statOf("real").st_ino, before);

  fs::create_symlink("made", path("dangling"));
  save("dangling", "created");
  EXPECT_TRUE(fs::is_symlink(path("dangling")));
  EXPECT_EQ(readWholeFile(path("made")), "created");

  fs::create_directory(path("dir"));
  fs::create_symlink("dir", path("dirlink"));
  EXPECT_THROW(save("dirlink", "x"), FileException);
  EXPECT_THROW(save("dir", "x"), FileException);
  EXPECT_EQ(names(),
            (Names{"dangling", "dir", "dirlink", "first", "link", "made", "real", "second"}));
}

TEST_F(SaveTest, AFifoIsWrittenForItsReader) {
  ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
  std::string got;
  std::thread reader([&] { got = readWholeFile(path("fifo")); });
  save("fifo", "through the pipe");
  reader.join();
  EXPECT_EQ(got, "through the pipe");
  EXPECT_TRUE(S_ISFIFO(statOf("fifo").st_mode));
  EXPECT_EQ(names(), Names{"fifo"});
}

TEST_F(SaveTest, ADeviceOrAnotherOwnersFileKeepsWhatItIs) {
  if (::geteuid() != 0) GTEST_SKIP() << "making a device node and giving away a file need root";
  ASSERT_EQ(::mknod(path("null").c_str(), S_IFCHR | 0666, ::makedev(1, 3)), 0);
  save("null", "gone");
  EXPECT_TRUE(S_ISCHR(statOf("null").st_mode));
  EXPECT_EQ(statOf("null").st_rdev, ::makedev(1, 3));

  writeFile("theirs", "old and longer");
  ASSERT_EQ(::chown(path("theirs").c_str(), 65534, 65534), 0);
  ino_t before = statOf("theirs").st_ino;
  save("theirs", "new");
  EXPECT_EQ(readWholeFile(path("theirs")), "new");
  EXPECT_EQ(statOf("theirs").st_ino, before);
  EXPECT_EQ(statOf("theirs").st_uid, 65534u);
  EXPECT_EQ(names(), (Names{"null", "theirs"}));
}

TEST(PlatformArguments, CopiesArgv) {
  char a[] = "prog", b[] = "x y";
  char* argv[] = {a, b, nullptr};
  EXPECT_EQ(arguments(2, argv), (std::vector<std::string>{"prog", "x y"}));
  EXPECT_EQ(fromMultiByte(std::string_view("\x82\xa0", 2)), std::string("\x82\xa0", 2));
}

}  // namespace
}  // namespace vesk::platform
