// Single hostile cases that the sweep cannot stage: closed standard streams
// with much to print, temporaries watched while they are written, the
// system's rule on links in sticky directories, stamps after reading, report
// lines of a run that blocks, and every signal that should clean up.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

#include "testutil/fault.h"
#include "testutil/no_unnamed.h"

namespace hostile {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using e2e::Result;
using e2e::Sandbox;
using fault::Process;
using fault::StartOptions;

// A source of `count` lines, each with a reference no variable answers.
std::string undefinedReferences(int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += "${undefined" + std::to_string(i) + "}\n";
  return text;
}

TEST(Streams, ClosedAtStartTakeNoFileOfVesk) {
  Sandbox box;
  box.write("a.vsk", undefinedReferences(5000));
  Result clean = box.run({"a.vsk", "-variables:v=1"});
  ASSERT_EQ(clean.status, 0) << clean.out;
  const std::string expected = box.read("00.txt");
  fs::remove(box.path("00.txt"));
  // The source would open as descriptor 0 and the temporary as 1.
  box.setBeforeStart([] {
    ::close(0);
    ::close(1);
  });
  Result r = box.run({"a.vsk", "-variables:v=1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "vesk: write error: standard output: Bad file descriptor\n");
  EXPECT_TRUE(box.read("00.txt") == expected) << "vesk's own text reached the output";
  EXPECT_TRUE(box.temporaries().empty());
}

// The messages of unknown variables wait in a buffer that is written in
// pieces: each piece exactly once.
TEST(Streams, ManyMessagesArriveOnceEach) {
  Sandbox box;
  box.write("a.vsk", undefinedReferences(5000));
  Result r = box.run({"a.vsk", "-variables:v=1"});
  std::string expected;
  for (int i = 0; i < 5000; ++i) {
    expected += "not found variable: ${undefined" + std::to_string(i) + "}\r\n";
  }
  expected += box.abs("a.vsk") + " => 00.txt\n";
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.out == expected) << r.out.size() << " bytes instead of " << expected.size();
}

// Waits for `done`, for at most a minute.
template <class Done>
bool waitFor(Done done) {
  auto deadline = std::chrono::steady_clock::now() + 60s;
  while (std::chrono::steady_clock::now() < deadline) {
    if (done()) return true;
    std::this_thread::sleep_for(1ms);
  }
  return false;
}

TEST(Temporaries, NamedOnesAreTheirOwnersAloneWhileWritten) {
  Sandbox box;
  box.write("a.vsk", fault::largeSource(std::size_t{48} << 20, 7));
  ::chmod(box.path("a.vsk").c_str(), 0600);
  StartOptions options;
  options.namedTemporaries = true;
  options.umask = 022;  // the new output's bits below are what it leaves of 0666
  Process vesk(box, {"a.vsk", "-variables:v=1"}, options);
  bool seen = false;
  off_t exposedSize = -1;  // the least size a temporary had when others could open it
  // Until the output is in place, or the run is over without it.
  auto deadline = std::chrono::steady_clock::now() + 60s;
  while (!box.exists("00.txt") && std::chrono::steady_clock::now() < deadline &&
         ::kill(vesk.pid(), 0) == 0) {
    for (const fs::path& temporary : fault::temporariesBelow(box.progDir())) {
      struct stat st {};
      if (::stat(temporary.c_str(), &st) != 0) continue;
      seen = true;
      if ((st.st_mode & 077) != 0 && (exposedSize < 0 || st.st_size < exposedSize))
        exposedSize = st.st_size;
    }
  }
  Result r = vesk.wait();
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(seen) << "no temporary was seen while the output was written";
  struct stat st {};
  ASSERT_EQ(::stat(box.path("00.txt").c_str(), &st), 0);
  // A temporary gets the output's bits after its last byte, just before the
  // rename: one seen with them must be complete.
  EXPECT_TRUE(exposedSize < 0 || exposedSize == st.st_size)
      << "others could open the temporary at " << exposedSize << " of " << st.st_size << " bytes";
  EXPECT_EQ(st.st_mode & 07777, 0644U) << "a new output gets what the umask leaves of 0666";
}

// Sets a kernel switch for the life of the object, where it may be set.
class KernelSwitch {
 public:
  KernelSwitch(fs::path file, const std::string& value) : file_(std::move(file)) {
    std::error_code ignored;
    if (!fs::exists(file_, ignored)) return;
    old_ = e2e::readFile(file_);
    try {
      e2e::writeFile(file_, value);
      set_ = e2e::readFile(file_).starts_with(value);
    } catch (const std::exception&) {
      set_ = false;
    }
  }
  ~KernelSwitch() {
    try {
      if (!old_.empty()) e2e::writeFile(file_, old_);
    } catch (const std::exception&) {
    }
  }
  KernelSwitch(const KernelSwitch&) = delete;
  KernelSwitch& operator=(const KernelSwitch&) = delete;
  bool set() const { return set_; }

 private:
  fs::path file_;
  std::string old_;
  bool set_ = false;
};

TEST(Links, PlantedInAStickyDirectoryAreNotFollowedByRoot) {
  if (!fault::runningAsRoot()) GTEST_SKIP() << "needs root";
  KernelSwitch rule("/proc/sys/fs/protected_symlinks", "1");
  if (!rule.set()) GTEST_SKIP() << "fs.protected_symlinks cannot be set here";
  Sandbox box;
  box.write("a.vsk", "new\n");
  box.write("victim", "root's own\n");
  fs::create_directory(box.path("shared"));
  ::chmod(box.path("shared").c_str(), 01777);
  fs::create_symlink(box.path("victim"), box.path("shared/00.txt"));
  ASSERT_EQ(::lchown(box.path("shared/00.txt").c_str(), fault::kNobody, fault::kNoGroup), 0);
  Result r = box.run({"a.vsk", "-d:shared"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(e2e::lastLine(r.out).ends_with("00.txt: Permission denied\n")) << r.out;
  EXPECT_EQ(box.read("victim"), "root's own\n");
}

TEST(Links, AnOutputDirectoryBehindABarredOneGivesTheSystemsReason) {
  Sandbox box;
  box.write("a.vsk", "a\n");
  fs::create_directory(box.path("locked"));
  fault::handToNobody(box);
  ::chmod(box.path("locked").c_str(), 0);
  fault::Unprivileged nobody;
  Result r = box.run({"a.vsk", "-d:locked/out"});
  ::chmod(box.path("locked").c_str(), 0755);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(e2e::lastLine(r.out), "locked/out: Permission denied\n");
}

void setTimes(const fs::path& file, time_t access, time_t write) {
  timespec times[2] = {{access, 0}, {write, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
}

struct stat statOf(const fs::path& file) {
  struct stat st {};
  ::stat(file.c_str(), &st);
  return st;
}

// A last access older than the last write moves when the file is read (the
// usual "relatime" rule): -sync must take it after that read.
TEST(Sync, TakesTheStampsTheReadLeaves) {
  for (bool rewrite : {false, true}) {
    Sandbox box;
    box.write("a.vsk", "a ${v}\n");
    setTimes(box.path("a.vsk"), 1600000000, 1700000000);
    std::vector<std::string> args = {"a.vsk", "-sync"};
    if (rewrite) args.emplace_back("-variables:v=1");
    Result r = box.run(args);
    ASSERT_EQ(r.status, 0) << r.out;
    struct stat source = statOf(box.path("a.vsk")), output = statOf(box.path("00.txt"));
    EXPECT_EQ(output.st_mtim.tv_sec, source.st_mtim.tv_sec) << "rewrite " << rewrite;
    EXPECT_EQ(output.st_atim.tv_sec, source.st_atim.tv_sec) << "rewrite " << rewrite;
  }
}

TEST(Sync, ASourceThatIsItsOwnOutputKeepsItsNewTimes) {
  Sandbox box;
  box.write("00.txt", "x ${v}\n");
  setTimes(box.path("00.txt"), 1600000000, 1600000000);
  const time_t start = ::time(nullptr);
  Result r = box.run({"00.txt:0", "-sync", "-variables:v=1"});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(box.read("00.txt"), "x 1\r\n");
  EXPECT_GE(statOf(box.path("00.txt")).st_mtim.tv_sec, start - 1);
}

// A FIFO source blocks the run until something writes to it.
void makeFifo(const Sandbox& box, const std::string& name) {
  ASSERT_EQ(::mkfifo(box.path(name).c_str(), 0644), 0);
}

TEST(Reports, EachLineIsShownOnceItsFileIsDone) {
  Sandbox box;
  box.write("a.vsk", "a ${v}\n");
  makeFifo(box, "b.vsk");
  Process vesk(box, {"a.vsk", "b.vsk", "-variables:v=1"});
  bool shown = waitFor([&] { return vesk.outputSoFar().find("=> 00.txt\n") != std::string::npos; });
  {
    // Unblocks the run whatever happened.
    int fifo = ::open(box.path("b.vsk").c_str(), O_WRONLY);
    ASSERT_GE(fifo, 0);
    ASSERT_EQ(::write(fifo, "b\n", 2), 2);
    ::close(fifo);
  }
  Result r = vesk.wait();
  EXPECT_TRUE(shown) << "the report of 00.txt waited for the next file";
  EXPECT_EQ(r.status, 0) << r.out;
}

// Every signal that ends the run removes the named temporary it is writing:
// the run is held inside a rewrite by a FIFO source that stays open.
TEST(Interrupts, EverySignalThatEndsTheRunRemovesItsTemporary) {
  // SIGQUIT and SIGXCPU would dump core.
  rlimit noCore{0, 0};
  ::setrlimit(RLIMIT_CORE, &noCore);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGXCPU}) {
    Sandbox box;
    box.write("00.txt", "old\n");
    makeFifo(box, "a.vsk");
    StartOptions options;
    options.namedTemporaries = true;
    Process vesk(box, {"a.vsk", "-variables:v=1"}, options);
    int fifo = ::open(box.path("a.vsk").c_str(), O_WRONLY);
    ASSERT_GE(fifo, 0);
    ASSERT_EQ(::write(fifo, "line ${v}\n", 10), 10);
    bool writing = waitFor([&] { return !fault::temporariesBelow(box.progDir()).empty(); });
    vesk.signal(signal);
    Result r = vesk.wait();
    ::close(fifo);
    EXPECT_TRUE(writing) << strsignal(signal);
    EXPECT_EQ(r.status, 128 + signal) << strsignal(signal);
    EXPECT_TRUE(fault::temporariesBelow(box.progDir()).empty()) << strsignal(signal);
    EXPECT_EQ(box.read("00.txt"), "old\n") << strsignal(signal);
  }
}

// A file of the directory `dir` (a descriptor), read or written through it:
// the whole name is longer than the system takes in one piece.
std::string readAt(int dir, const char* name) {
  int fd = ::openat(dir, name, O_RDONLY);
  std::string text(64, '\0');
  ssize_t n = fd < 0 ? -1 : ::read(fd, text.data(), text.size());
  if (fd >= 0) ::close(fd);
  return n < 0 ? "<unreadable>" : text.substr(0, static_cast<std::size_t>(n));
}

// An output whose name fits the system's limit while its temporary's longer
// name would not: the temporary is named relative to the output's directory,
// so the run succeeds, named or unnamed.
TEST(Names, AnOutputNearThePathLimitIsWritten) {
  Sandbox box;
  box.write("a.vsk", "new ${v}\n");
  // 16 parts of 250 bytes and one of 64, with their slashes: 4,080 bytes.
  std::vector<std::string> parts(16, std::string(250, 'd'));
  parts.emplace_back(64, 'e');
  std::string relative;
  int dir = ::open(box.progDir().c_str(), O_RDONLY | O_DIRECTORY);
  for (const std::string& part : parts) {
    ASSERT_EQ(::mkdirat(dir, part.c_str(), 0755), 0);
    int next = ::openat(dir, part.c_str(), O_RDONLY | O_DIRECTORY);
    ::close(dir);
    dir = next;
    relative += (relative.empty() ? "" : "/") + part;
  }
  ASSERT_EQ(relative.size(), 4080U);
  int old = ::openat(dir, "00.txt", O_WRONLY | O_CREAT, 0644);
  ASSERT_EQ(::write(old, "old\n", 4), 4);
  ::close(old);
  for (bool named : {false, true}) {
    box.setBeforeStart([named] {
      if (named && !fault::refuseUnnamedTemporaries()) ::_exit(126);
    });
    Result r = box.run({"a.vsk", "-variables:v=1", "-d:" + relative});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(readAt(dir, "00.txt"), "new 1\r\n") << named;
  }
  ::close(dir);
}

}  // namespace
}  // namespace hostile
