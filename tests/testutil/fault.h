// Helpers for the fault tests: the program started in the background (to be
// killed or raced), run as an unprivileged user, on a small file system, and
// the checks that every failure ends with one message and costs no data.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "testutil/harness.h"

namespace fault {

namespace fs = std::filesystem;
using e2e::Result;
using e2e::Sandbox;

// The unprivileged user and group that tests run the program as.
constexpr uid_t kNobody = 65534;
constexpr gid_t kNoGroup = 65534;

bool runningAsRoot();

// Makes every file below the sandbox belong to nobody, so that the program,
// run as nobody, can use it as its owner would.
void handToNobody(const Sandbox& box);

// Where an instrumented program run as nobody writes its coverage counts
// (GCOV_PREFIX), "" to leave them beside its objects: scripts/coverage.sh
// sets VESK_NOBODY_COUNTS to a folder anyone may write, since nobody may not
// reach the build directory of a clone in a private folder, and the
// complaints of a failed count write would land in the output compared.
std::string nobodyCounts();

// While alive, the program runs as nobody (through setpriv) when the tests
// run as root; otherwise nothing changes. The sandbox must have been handed
// to nobody first.
class Unprivileged {
 public:
  Unprivileged();
  ~Unprivileged();
  Unprivileged(const Unprivileged&) = delete;
  Unprivileged& operator=(const Unprivileged&) = delete;

 private:
  bool changed_ = false;
  std::string previous_;
};

// The program started from the sandbox's other directory, in the background.
// Standard output and error go to files, so nothing blocks the child.
// How the child starts, beyond its arguments.
struct StartOptions {
  fs::path cwd;                   // default: the sandbox's other directory
  bool removeCwd = false;         // remove cwd once the child is in it
  std::size_t addressSpace = 0;   // a limit in bytes; 0: none
  bool namedTemporaries = false;  // refuse unnamed temporary files, as file
                                  // systems without them do
  bool closedOutput = false;      // standard output a pipe nobody reads
  int umask = -1;                 // the umask it starts with; -1: the test's own
};

class Process {
 public:
  Process(const Sandbox& box, const std::vector<std::string>& args,
          const StartOptions& options = {});
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  void signal(int number) const;
  pid_t pid() const { return pid_; }
  // What the child has written to standard output so far.
  std::string outputSoFar() const;
  // Waits for the end; past the limit the child is killed and the result
  // says so with status 128 + SIGKILL and timedOut.
  Result wait(std::chrono::milliseconds limit = std::chrono::seconds(60));
  bool timedOut() const { return timedOut_; }

 private:
  pid_t pid_ = -1;
  fs::path outFile_;
  fs::path errFile_;
  bool timedOut_ = false;
};

// A tmpfs of the given size mounted on a new directory; unmounted when
// destroyed. ok() is false (with the reason in error()) where mounting is not
// possible, for instance without root.
class SmallDisk {
 public:
  SmallDisk(fs::path dir, std::size_t bytes);
  ~SmallDisk();
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;
  bool ok() const { return mounted_; }
  const std::string& error() const { return error_; }

 private:
  fs::path dir_;
  bool mounted_ = false;
  std::string error_;
};

// What the program printed: the report lines ("... => 00.txt", "... is not
// newer than 00.txt", "not found variable: ..."), trace lines (trace build)
// and, after a failure, one message, which ends the output.
struct Output {
  std::vector<std::string> reports;  // without their line ends
  std::string message;               // without the final "\n"; empty if none
  bool wellFormed = false;           // everything ended with "\n"
};
Output splitOutput(const std::string& out);

// True for the message of a failure that vesk reports: one of its own texts,
// or a file error "<name>: <reason>".
bool knownFailureMessage(const std::string& message);

// The checks every run must pass: no signal, exit status 0, 1 or 2, the
// output of that status (2: the usage text; 1: one known message after the
// report lines; 0: report lines only, or the version text), and no temporary
// output file anywhere below the sandbox. Returns "" or what went wrong.
std::string checkRun(const Result& r, const Sandbox& box);

// Temporary output files anywhere below dir.
std::vector<fs::path> temporariesBelow(const fs::path& dir);

// The usage text as the program prints it (with its final "\n").
const std::string& usageOutput();

// What the program makes of source text when variables are given: every line
// ended by CR LF, and its one reference ${name} replaced (all names known).
std::string rewritten(std::string_view source, const std::string& name, const std::string& value);

// A source of about `bytes` bytes of short lines, most holding ${v}.
std::string largeSource(std::size_t bytes, unsigned seed);

// How long one run of the program takes; the run must succeed.
std::chrono::microseconds timedRun(const Sandbox& box, const std::vector<std::string>& args);

// Kills at random moments: each round writes `old` to 00.txt, starts the
// program and kills it with SIGKILL after a random time of up to 5/4 of
// `whole`, the time of a complete run, so that the kills fall anywhere in
// the run and some after its end. afterKill looks at what each killed run
// left behind.
struct RandomKills {
  std::chrono::microseconds whole;
  int rounds;
  std::string old;
};
void killAtRandomMoments(const Sandbox& box, const std::vector<std::string>& args,
                         const RandomKills& kills, std::mt19937& random,
                         const std::function<void()>& afterKill);

// The seed of a randomised test: $VESK_FAULT_SEED, else a fresh one. It is
// printed, so that a failing run can be repeated.
unsigned testSeed();

}  // namespace fault
