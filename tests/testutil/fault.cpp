#include "testutil/fault.h"

#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <csignal>
#include <utility>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <random>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "config/usage.h"
#include "testutil/no_unnamed.h"

namespace fault {
namespace {

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// "... => 07.txt" or "... is not newer than 07.txt".
bool isReportLine(std::string_view line) {
  for (std::string_view middle :
       {std::string_view(" => "), std::string_view(" is not newer than ")}) {
    std::size_t at = line.rfind(middle);
    if (at == std::string_view::npos) continue;
    std::string_view name = line.substr(at + middle.size());
    if (name.size() == 6 && std::isdigit(static_cast<unsigned char>(name[0])) &&
        std::isdigit(static_cast<unsigned char>(name[1])) && name.substr(2) == ".txt") {
      return true;
    }
  }
  return false;
}

bool isTraceLine(std::string_view line) {
  if (!e2e::traceBuild()) return false;
  for (std::string_view exact :
       {"parse command line", "run on command line", "execute", "loaded", "get vesk"}) {
    if (line == exact) return true;
  }
  for (std::string_view prefix :
       {"change dirctory to ", "set ", "find -setting. load ",
        "no includes and find default setting. load ", "try to load ", "get prop ", "includes ",
        "env.file ", "extract from ", "extract ", "read ", "'"}) {
    if (startsWith(line, prefix)) return true;
  }
  return false;
}

}  // namespace

bool runningAsRoot() { return ::geteuid() == 0; }

void handToNobody(const Sandbox& box) {
  if (!runningAsRoot()) return;
  fs::path root = box.progDir().parent_path();
  auto give = [](const fs::path& p) {
    if (::lchown(p.c_str(), kNobody, kNoGroup) != 0)
      throw std::runtime_error("lchown " + p.string());
  };
  give(root);
  for (const auto& entry : fs::recursive_directory_iterator(root)) give(entry.path());
}

std::string nobodyCounts() { return env("VESK_NOBODY_COUNTS"); }

Unprivileged::Unprivileged() {
  if (!runningAsRoot()) return;
  previous_ = env("VESK_RUNNER");
  std::string runner = "setpriv --reuid=nobody --regid=nogroup --clear-groups";
  if (const std::string counts = nobodyCounts(); !counts.empty()) {
    runner += " env GCOV_PREFIX=" + counts;
  }
  if (!previous_.empty()) runner += " " + previous_;
  ::setenv("VESK_RUNNER", runner.c_str(), 1);
  changed_ = true;
}

Unprivileged::~Unprivileged() {
  if (!changed_) return;
  if (previous_.empty()) {
    ::unsetenv("VESK_RUNNER");
  } else {
    ::setenv("VESK_RUNNER", previous_.c_str(), 1);
  }
}

Process::Process(const Sandbox& box, const std::vector<std::string>& args,
                 const StartOptions& options) {
  static int counter = 0;
  std::string tag = std::to_string(::getpid()) + "-" + std::to_string(counter++);
  outFile_ = box.elsewhere() / ("stdout-" + tag);
  errFile_ = box.elsewhere() / ("stderr-" + tag);

  std::vector<std::string> command;
  {
    std::string runner = env("VESK_RUNNER");
    std::size_t start = 0;
    while (start < runner.size()) {
      std::size_t end = runner.find(' ', start);
      if (end == std::string::npos) end = runner.size();
      if (end > start) command.push_back(runner.substr(start, end - start));
      start = end + 1;
    }
  }
  bool direct = command.empty();
  command.push_back(box.program().string());
  command.insert(command.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& word : command) argv.push_back(word.data());
  argv.push_back(nullptr);

  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    int in = ::open("/dev/null", O_RDONLY);
    int out = ::open(outFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    int err = ::open(errFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (in < 0 || out < 0 || err < 0) ::_exit(126);
    int ends[2];
    if (options.closedOutput) {
      if (::pipe(ends) != 0) ::_exit(126);
      ::close(ends[0]);
      out = ends[1];
    }
    // Signals the test process ignores are the child's own business.
    for (int number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) std::signal(number, SIG_DFL);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    const fs::path& cwd = options.cwd.empty() ? box.elsewhere() : options.cwd;
    if (::chdir(cwd.c_str()) != 0) ::_exit(126);
    if (options.removeCwd && ::rmdir(cwd.c_str()) != 0) ::_exit(126);
    if (options.namedTemporaries && !refuseUnnamedTemporaries()) ::_exit(126);
    if (options.umask >= 0) ::umask(static_cast<mode_t>(options.umask));
    if (options.addressSpace != 0) {
      rlimit limit{options.addressSpace, options.addressSpace};
      if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(126);
    }
    if (direct) {
      ::execv(argv[0], argv.data());
    } else {
      ::execvp(argv[0], argv.data());
    }
    ::_exit(127);
  }
}

Process::~Process() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  std::error_code ignored;
  fs::remove(outFile_, ignored);
  fs::remove(errFile_, ignored);
}

std::string Process::outputSoFar() const {
  std::error_code ignored;
  return fs::exists(outFile_, ignored) ? e2e::readFile(outFile_) : std::string();
}

void Process::signal(int number) const {
  if (pid_ > 0) ::kill(pid_, number);
}

Result Process::wait(std::chrono::milliseconds limit) {
  Result result;
  if (pid_ <= 0) return result;
  auto deadline = std::chrono::steady_clock::now() + limit;
  int wstatus = 0;
  for (;;) {
    pid_t done = ::waitpid(pid_, &wstatus, WNOHANG);
    if (done == pid_) break;
    if (done < 0 && errno != EINTR) throw std::runtime_error("waitpid failed");
    if (std::chrono::steady_clock::now() > deadline) {
      timedOut_ = true;
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &wstatus, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  pid_ = -1;
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  // A child killed right after the fork has not made its files yet.
  std::error_code ignored;
  if (fs::exists(outFile_, ignored)) result.out = e2e::readFile(outFile_);
  if (fs::exists(errFile_, ignored)) result.err = e2e::readFile(errFile_);
  return result;
}

SmallDisk::SmallDisk(fs::path dir, std::size_t bytes) : dir_(std::move(dir)) {
  fs::create_directories(dir_);
  std::string options = "size=" + std::to_string(bytes) + ",mode=0777";
  if (::mount("tmpfs", dir_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0) {
    mounted_ = true;
  } else {
    error_ = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
  }
}

SmallDisk::~SmallDisk() {
  if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
}

namespace {

// A source's name may hold line feeds of its own (random command lines make
// such directories), so one report may span several lines: the end of the
// shortest run of whole lines from start that reads as a report, or npos.
std::size_t multiLineReportEnd(const std::string& out, std::size_t start, std::size_t end) {
  for (int joined = 0; joined < 8 && end != std::string::npos; ++joined) {
    if (isReportLine(std::string_view(out.data() + start, end - start))) return end;
    end = out.find('\n', end + 1);
  }
  return std::string::npos;
}

}  // namespace

Output splitOutput(const std::string& out) {
  Output result;
  result.wellFormed = out.empty() || out.back() == '\n';
  std::size_t start = 0;
  while (start < out.size()) {
    std::size_t end = out.find('\n', start);
    if (end == std::string::npos) break;
    std::string_view line(out.data() + start, end - start);
    if (startsWith(line, "not found variable: ") && line.ends_with('\r')) {
      result.reports.emplace_back(line.substr(0, line.size() - 1));
    } else if (isReportLine(line)) {
      result.reports.emplace_back(line);
    } else if (!isTraceLine(line)) {
      std::size_t reportEnd = multiLineReportEnd(out, start, end);
      if (reportEnd == std::string::npos) break;
      result.reports.emplace_back(out.substr(start, reportEnd - start));
      end = reportEnd;
    }
    start = end + 1;
  }
  if (start < out.size()) {
    result.message = out.substr(start);
    if (result.message.ends_with('\n')) result.message.pop_back();
  }
  return result;
}

bool knownFailureMessage(const std::string& message) {
  for (std::string_view exact : {"No Number To Use", "Over Max File Number", "Out of memory"}) {
    if (message == exact) return true;
  }
  for (std::string_view prefix : {"Invalid Setting File - ", "Error: conversion ",
                                  "Error: overflow ", "Under Min File Number: "}) {
    if (startsWith(message, prefix)) return true;
  }
  std::vector<std::string> reasons = {"The source file does not exist.",
                                      "The file that has same name already exists."};
  for (int error = 1; error < 134; ++error) reasons.emplace_back(std::strerror(error));
  // The name may be empty: "-d:" names no directory, which cannot be made.
  for (const std::string& reason : reasons) {
    if (message.ends_with(": " + reason)) return true;
  }
  return false;
}

namespace {

// The trace build's lines quote keys and names, which may hold line breaks of
// their own, so there the message is only looked for at the end: some line
// start from which the rest of the output is a known message.
bool endsWithKnownMessage(const std::string& out) {
  std::string text = out.ends_with('\n') ? out.substr(0, out.size() - 1) : out;
  for (std::size_t start = text.size(); start-- > 0;) {
    if ((start == 0 || text[start - 1] == '\n') && knownFailureMessage(text.substr(start)))
      return true;
  }
  return false;
}

bool reportsCheckFailure(const std::string& out) {
  return out.find("assertion failed: ") != std::string::npos ||
         out.find("index out of range") != std::string::npos;
}

}  // namespace

std::string checkRun(const Result& r, const Sandbox& box) {
  std::string what;
  if (!r.err.empty()) what += "wrote to standard error; ";
  Output output = splitOutput(r.out);
  const bool trace = e2e::traceBuild();
  if (!output.wellFormed) what += "output does not end with a line end; ";
  if (trace && reportsCheckFailure(r.out)) what += "a run-time check failed; ";
  switch (r.status) {
    case 0:
      if (!trace && !output.message.empty() &&
          !startsWith(output.message, "VESK VERSION: 1.12\r\nCOMPILED BY: ")) {
        what += "success with a message; ";
      }
      break;
    case 1:
      if (trace ? !endsWithKnownMessage(r.out) : !knownFailureMessage(output.message)) {
        what += "failure without one known message; ";
      }
      break;
    case 2:
      if (!r.out.ends_with(usageOutput()) || !output.reports.empty()) {
        what += "usage error without the usage text alone; ";
      }
      break;
    default:
      what += "exit status " + std::to_string(r.status) + "; ";
  }
  if (!temporariesBelow(box.progDir().parent_path()).empty()) what += "temporary files left; ";
  return what.empty() ? what : what + "output:\n" + r.out;
}

std::vector<fs::path> temporariesBelow(const fs::path& dir) {
  std::vector<fs::path> found;
  std::error_code ignored;
  for (auto it = fs::recursive_directory_iterator(
           dir, fs::directory_options::skip_permission_denied, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->path().filename().string().find("vesk-tmp") != std::string::npos)
      found.push_back(it->path());
  }
  return found;
}

const std::string& usageOutput() {
  static const std::string text = std::string(vesk::kUsageText) + "\n";
  return text;
}

std::string rewritten(std::string_view source, const std::string& name, const std::string& value) {
  std::string out;
  const std::string reference = "${" + name + "}";
  std::size_t start = 0;
  while (start < source.size()) {
    std::size_t end = source.find_first_of("\r\n", start);
    std::string line(
        source.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    std::size_t at = line.find(reference);
    if (at != std::string::npos) line.replace(at, reference.size(), value);
    out += line + "\r\n";
    if (end == std::string_view::npos) break;
    start = end + 1;
    if (source[end] == '\r' && start < source.size() && source[start] == '\n') ++start;
  }
  return out;
}

std::chrono::microseconds timedRun(const Sandbox& box, const std::vector<std::string>& args) {
  auto start = std::chrono::steady_clock::now();
  Result r = box.run(args);
  auto whole = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - start);
  EXPECT_EQ(r.status, 0) << r.out;
  return whole;
}

void killAtRandomMoments(const Sandbox& box, const std::vector<std::string>& args,
                         const RandomKills& kills, std::mt19937& random,
                         const std::function<void()>& afterKill) {
  for (int round = 0; round < kills.rounds; ++round) {
    box.write("00.txt", kills.old);
    Process vesk(box, args);
    std::this_thread::sleep_for(
        std::chrono::microseconds(random() % (kills.whole.count() * 5 / 4 + 1)));
    vesk.signal(SIGKILL);
    vesk.wait();
    afterKill();
  }
}

unsigned testSeed() {
  const char* fixed = std::getenv("VESK_FAULT_SEED");
  unsigned seed = fixed != nullptr ? static_cast<unsigned>(std::strtoul(fixed, nullptr, 10))
                                   : std::random_device{}();
  std::printf("seed %u (set VESK_FAULT_SEED to repeat)\n", seed);
  return seed;
}

std::string largeSource(std::size_t bytes, unsigned seed) {
  std::mt19937 random(seed);
  std::string text;
  text.reserve(bytes + 64);
  while (text.size() < bytes) {
    text += "line " + std::to_string(random());
    if (random() % 4 != 0) text += " ${v} tail";
    text += random() % 8 == 0 ? "\r\n" : "\n";
  }
  return text;
}

}  // namespace fault
