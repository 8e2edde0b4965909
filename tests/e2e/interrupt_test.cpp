// An interrupted Windows program leaves no temporary file behind. Under the
// runner a SIGINT reaches the program as Ctrl-C does on a console: it calls
// the program's console control handler, which removes the temporary of the
// output being written and ends the process with STATUS_CONTROL_C_EXIT.
// The signal goes to the run's process group, as a console's Ctrl-C goes to
// every process attached to it: the runner starts a 64-bit program through a
// helper process of its own. (The POSIX program's signals are fault tests.)
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>  // NOLINT(modernize-deprecated-headers): kill() is POSIX
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "testutil/expect.h"
#include "testutil/harness.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

// What the runner makes of a Windows exit status: its low byte.
constexpr int kControlCExit = 0xC000013A & 0xff;

class Interrupt : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!windowsProgram()) GTEST_SKIP() << "the POSIX signals are fault tests";
  }

  // Starts the program under its runner with no output, from elsewhere(), in
  // a process group of its own.
  pid_t start(const std::vector<std::string>& args) const {
    std::vector<std::string> command;
    std::istringstream runner(std::getenv("VESK_RUNNER") != nullptr ? std::getenv("VESK_RUNNER")
                                                                    : "");
    for (std::string word; runner >> word;) command.push_back(word);
    command.push_back(box.program().string());
    command.insert(command.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& word : command) argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t child = fork();
    if (child == 0) {
      setpgid(0, 0);
      int devnull = open("/dev/null", O_RDWR);
      dup2(devnull, 0);
      dup2(devnull, 1);
      dup2(devnull, 2);
      if (chdir(box.elsewhere().c_str()) != 0) _exit(126);
      setenv("LANG", box.locale().c_str(), 1);
      setenv("LC_ALL", box.locale().c_str(), 1);
      execvp(argv[0], argv.data());
      _exit(127);
    }
    setpgid(child, child);
    return child;
  }

  // Interrupts the run once its temporary exists; returns its exit status,
  // or -1 if it never wrote one.
  int interruptWhileWriting(pid_t child) const {
    auto deadline = std::chrono::steady_clock::now() + 60s;
    int wstatus = 0;
    bool sent = false;
    while (std::chrono::steady_clock::now() < deadline) {
      if (waitpid(child, &wstatus, WNOHANG) == child) {
        return sent && WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
      }
      if (!sent && !box.temporaries().empty()) {
        kill(-child, SIGINT);
        sent = true;
      }
      std::this_thread::sleep_for(2ms);
    }
    kill(child, SIGKILL);
    waitpid(child, &wstatus, 0);
    return -1;
  }

  // A source of about `megabytes` MB, each line with a reference.
  void writeLargeSource(int megabytes) const {
    std::string line = "line ${v} " + std::string(500, 'x') + "\n";
    std::string text;
    text.reserve(static_cast<std::size_t>(megabytes) << 20);
    while (text.size() < (static_cast<std::size_t>(megabytes) << 20)) text += line;
    box.write("big.vsk", text);
  }

  // The program itself may still be cleaning up when the runner's process
  // ends; it has a few seconds to do so.
  bool temporariesRemoved() const {
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!box.temporaries().empty()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(10ms);
    }
    return true;
  }

  Sandbox box;
};

TEST_F(Interrupt, ARewriteRemovesItsTemporaryAndKeepsTheOldOutput) {
  writeLargeSource(96);
  box.write("00.txt", "old");
  int status = interruptWhileWriting(start({"big.vsk:0", "-variables:v=1"}));
  EXPECT_EQ(status, kControlCExit);
  EXPECT_TRUE(temporariesRemoved());
  EXPECT_EQ(box.read("00.txt"), "old");
}

TEST_F(Interrupt, ACopyLeavesTheOldOrTheNewOutputAndNoTemporary) {
  writeLargeSource(96);
  box.write("00.txt", "old");
  int status = interruptWhileWriting(start({"big.vsk:0"}));
  // The copy may be complete before the interrupt arrives.
  EXPECT_TRUE(status == kControlCExit || status == 0) << status;
  EXPECT_TRUE(temporariesRemoved());
  std::string output = box.read("00.txt");
  EXPECT_TRUE(output == "old" || output.size() == fs::file_size(box.path("big.vsk")));
}

}  // namespace
}  // namespace e2e
