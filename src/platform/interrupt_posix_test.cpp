#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "base/test_dir.h"
#include "platform/platform.h"
#include "platform/posix_test_util.h"

namespace vesk::platform {
namespace {

namespace fs = std::filesystem;

class InterruptTest : public TempDirTest {};

// Where the file system offers unnamed temporary files, nothing of an output
// being written shows in its directory, so a killed run can leave nothing.
// A temporary's name that is taken (by a file, or by a link someone planted
// to a file of theirs) is never opened: the next name is tried.
TEST_F(InterruptTest, NamedTemporarySkipsNamesThatAreTaken) {
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

TEST_F(InterruptTest, AtomicFileIsUnnamedUntilCommit) {
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

// The handler keeps the names in a few fixed slots, each given back once its
// temporary is renamed or removed. Before the output interrupted, the child
// writes more outputs than there are slots, so that a slot never given back
// shows here, whichever tests ran before in this process.
TEST_F(InterruptTest, InterruptEndsTheProcessBySignalAndLeavesNoTemporary) {
  constexpr int kEarlierOutputs = 20;  // well past the handler's slots
  writeFile("out.txt", "old");
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    int status = statusOfChild([&] {
      prepareProcess();
      prepareProcess();  // a second call changes nothing
      for (int i = 0; i < kEarlierOutputs; ++i) {
        AtomicFile earlier(path("earlier.txt"));
        earlier.write("earlier");
        if (i % 2 == 0) earlier.commit();  // else discarded
      }
      AtomicFile file(path("out.txt"));
      file.write("partial");
      ::raise(signal);
    });
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal << " " << status;
  }
  EXPECT_EQ(readWholeFile(path("out.txt")), "old");
  EXPECT_EQ(names(), (Names{"earlier.txt", "out.txt"}));
  // A signal ignored by the starting process (nohup) stays ignored.
  int status = statusOfChild([] {
    std::signal(SIGHUP, SIG_IGN);
    prepareProcess();
    ::raise(SIGHUP);
  });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  // SIGPIPE never ends the run: the write to a pipe whose reader has gone
  // fails instead, and is reported.
  status = statusOfChild([] {
    prepareProcess();
    ::raise(SIGPIPE);
  });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
}  // namespace vesk::platform
