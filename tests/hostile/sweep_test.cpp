// Every job of the injection sweep, run in hostile surroundings: standard
// streams closed at start, tight resource limits, odd umasks, no /proc,
// outputs that are devices, FIFOs, links or other users' files, and sources
// that are FIFOs or another user's with set-ID bits. Each runs as root and
// as nobody (when the test runs as root), with unnamed and with named
// temporary files. Every run must end in success or in one message, never by
// a signal that vesk could have turned into a message; every output must be
// as it was or the right new one, with permission bits only and its owner
// kept; no temporary file may be left.
#include <fcntl.h>
#include <grp.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "testutil/fault.h"
#include "testutil/jobs.h"
#include "testutil/no_unnamed.h"

namespace hostile {
namespace {

namespace fs = std::filesystem;
using e2e::Result;
using e2e::Sandbox;
using fault::FileState;
using fault::Job;
using fault::Snapshot;

using fault::kNobody;
using fault::kNoGroup;

// What is planted where the job's first output goes (or, for FifoSource, in
// place of its first source; for SetIdSource, on its sources).
enum class Plant {
  None,
  Device,
  Fifo,
  DanglingLink,
  LinkToOthers,
  OthersFile,
  SetIdOutput,
  FifoSource,
  SetIdSource
};

struct Surroundings {
  std::string name;
  std::vector<int> closed;                     // standard descriptors closed at start
  std::vector<std::pair<int, rlim_t>> limits;  // resource limits, soft and hard
  mode_t umask = 022;
  Plant plant = Plant::None;
  bool mayFail = false;  // a limit that may leave too little to finish
  bool noProc = false;   // an empty /proc, in a mount namespace of its own
};

std::vector<Surroundings> allSurroundings() {
  std::vector<Surroundings> all = {
      {"standard input closed", {0}, {}},
      {"standard output closed", {1}, {}},
      {"standard error closed", {2}, {}},
      {"all standard streams closed", {0, 1, 2}, {}},
      {"file size limit", {}, {{RLIMIT_FSIZE, 3}}, 022, Plant::None, true},
      {"64 KiB stack", {}, {{RLIMIT_STACK, 64 << 10}}},
      // Devices, FIFOs and sources that report no size are copied through
      // vesk's own buffer rather than by the kernel.
      {"64 KiB stack, output a FIFO", {}, {{RLIMIT_STACK, 64 << 10}}, 022, Plant::Fifo},
      {"64 KiB stack, source a FIFO", {}, {{RLIMIT_STACK, 64 << 10}}, 022, Plant::FifoSource},
      {"no processes", {}, {{RLIMIT_NPROC, 0}}},
      {"umask 077", {}, {}, 077},
      {"umask 000", {}, {}, 0},
      {"output a device", {}, {}, 022, Plant::Device},
      {"output a FIFO", {}, {}, 022, Plant::Fifo},
      {"output a device, no /proc", {}, {}, 022, Plant::Device, false, true},
      {"output a FIFO, no /proc", {}, {}, 022, Plant::Fifo, false, true},
      {"output a dangling link", {}, {}, 022, Plant::DanglingLink},
      {"output a link to another user's file", {}, {}, 022, Plant::LinkToOthers},
      {"output another user's file", {}, {}, 022, Plant::OthersFile},
      {"output with set-ID bits", {}, {}, 022, Plant::SetIdOutput},
      {"sources of another user with set-ID bits", {}, {}, 022, Plant::SetIdSource},
  };
  for (rlim_t files : {4, 5, 6, 8}) {
    all.push_back({"descriptor limit " + std::to_string(files),
                   {},
                   {{RLIMIT_NOFILE, files}},
                   022,
                   Plant::None,
                   true});
  }
  for (rlim_t mib : {16, 32, 64}) {
    all.push_back({"address space " + std::to_string(mib) + " MiB",
                   {},
                   {{RLIMIT_AS, mib << 20}},
                   022,
                   Plant::None,
                   true});
  }
  return all;
}

// One run of the sweep. The jobs and surroundings are copied in: a test's
// parameter outlives the tables it was made from.
struct Case {
  Job job;
  Surroundings where;
  bool asNobody = false;
  bool named = false;
  std::string label() const {
    return job.name + ", " + where.name + (asNobody ? ", as nobody" : ", as root") +
           (named ? ", named temporaries" : "");
  }
};

// gtest shows a case by its label.
void PrintTo(const Case& run, std::ostream* out) { *out << run.label(); }

uid_t runner(const Case& run) { return run.asNobody ? kNobody : 0; }
uid_t otherUser(const Case& run) { return run.asNobody ? 0 : kNobody; }

void own(const fs::path& path, uid_t uid) {
  gid_t gid = uid == 0 ? 0 : kNoGroup;
  if (::lchown(path.c_str(), uid, gid) != 0) throw std::runtime_error("lchown " + path.string());
}

// An empty /proc for this process and those it starts, in a mount namespace
// of its own.
bool hideProc() {
  return ::unshare(CLONE_NEWNS) == 0 &&
         ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
         ::mount("none", "/proc", "tmpfs", 0, nullptr) == 0;
}

// The child's side of a run: the surroundings, then the program.
void enter(const Case& run) {
  // Nothing but the standard streams is inherited, so that a descriptor
  // limit means the same wherever the test runs.
  ::close_range(3, ~0U, 0);
  ::umask(run.where.umask);
  if (run.named && !fault::refuseUnnamedTemporaries()) ::_exit(126);
  if (run.where.noProc && !hideProc()) ::_exit(126);  // before root is given up
  if (run.asNobody) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNoGroup) != 0 || ::setuid(kNobody) != 0) {
      ::_exit(126);
    }
    const std::string counts = fault::nobodyCounts();
    if (!counts.empty()) ::setenv("GCOV_PREFIX", counts.c_str(), 1);
  }
  for (const auto& [resource, value] : run.where.limits) {
    rlimit limit{value, value};
    if (::setrlimit(resource, &limit) != 0) ::_exit(126);
  }
  for (int fd : run.where.closed) ::close(fd);
}

struct Expected {
  Snapshot before, after;  // the job's files, and after a clean run
  std::string out;         // the clean run's standard output
  std::string target;      // the first output the clean run wrote
};

Expected cleanRun(Sandbox& box, const Case& run) {
  Expected e;
  fault::setUp(box, run.job);
  e.before = fault::snapshot(box);
  box.setBeforeStart([umask = run.where.umask] { ::umask(umask); });
  Result r = box.run(run.job.args);
  box.setBeforeStart({});
  if (r.status != 0) throw std::runtime_error(run.label() + ": clean run failed: " + r.out);
  e.after = fault::snapshot(box);
  std::string wrong = fault::checkOutputs(run.job, e.before, e.after, run.where.umask);
  if (!wrong.empty()) throw std::runtime_error(run.label() + ": clean run: " + wrong);
  e.out = r.out;
  for (const auto& [name, state] : e.after) {
    auto old = e.before.find(name);
    bool written = old == e.before.end() || old->second.bytes != state.bytes ||
                   old->second.mtimeNs != state.mtimeNs;
    if (written && name.ends_with(".txt") && e.target.empty()) e.target = name;
  }
  return e;
}

bool same(const FileState& a, const FileState& b, bool withTime, bool withMode = true) {
  return a.bytes == b.bytes && (!withMode || a.mode == b.mode) &&
         (!withTime || a.mtimeNs == b.mtimeNs);
}

// Sets a planted file's times back to 2020, so that a run that touches them
// shows.
void oldTimes(const fs::path& p) {
  timespec times[2] = {{1600000000, 0}, {1600000000, 0}};
  ::utimensat(AT_FDCWD, p.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

// Gives the job's sources to the other user, with set-ID bits; returns
// their names.
std::set<std::string> plantSetIdSources(const Sandbox& box, const Case& run) {
  std::set<std::string> names;
  for (const auto& file : run.job.files) {
    if (!file.name.ends_with(".vsk")) continue;
    own(box.path(file.name), otherUser(run));
    ::chmod(box.path(file.name).c_str(), 06755);
    names.insert(file.name);
  }
  return names;
}

// Puts a FIFO with the file's bits in place of the job's first source;
// returns its name.
std::set<std::string> plantFifoSource(const Sandbox& box, const Case& run) {
  const std::string& source = run.job.args.front();
  fs::remove(box.path(source));
  if (::mkfifo(box.path(source).c_str(), 0644) != 0) throw std::runtime_error("mkfifo");
  ::chmod(box.path(source).c_str(), 0644);  // whatever the umask
  own(box.path(source), runner(run));
  return {source};
}

// Plants what the surroundings ask for; returns the names whose checks are
// the plant's own.
std::set<std::string> plant(const Sandbox& box, const Case& run, const Expected& e) {
  const fs::path target = box.path(e.target);
  const uid_t other = otherUser(run);
  if (run.where.plant != Plant::None && !fs::exists(target.parent_path())) {
    fs::create_directories(target.parent_path());
    own(target.parent_path(), runner(run));
  }
  switch (run.where.plant) {
    case Plant::None:
      return {};
    case Plant::Device: {
      fs::remove(target);
      fs::path device = box.path("devices/null");
      fs::create_directories(device.parent_path());
      bool made = !run.asNobody && ::mknod(device.c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0;
      fs::create_symlink(made ? device : fs::path("/dev/null"), target);
      own(target, runner(run));
      return {e.target};
    }
    case Plant::Fifo:
      fs::remove(target);
      if (::mkfifo(target.c_str(), 0666) != 0) throw std::runtime_error("mkfifo");
      own(target, runner(run));
      return {e.target};
    case Plant::DanglingLink:
      fs::remove(target);
      fs::create_symlink("nowhere.txt", target);
      own(target, runner(run));
      return {e.target};
    case Plant::LinkToOthers: {
      fs::remove(target);
      fs::path theirs = box.path("theirs.dat");
      e2e::writeFile(theirs, "theirs");
      ::chmod(theirs.c_str(), 0644);
      own(theirs, other);
      oldTimes(theirs);
      fs::create_symlink(theirs, target);
      own(target, runner(run));
      return {e.target, "theirs.dat"};
    }
    case Plant::OthersFile:
      e2e::writeFile(target, "theirs");
      ::chmod(target.c_str(), 0644);
      own(target, other);
      oldTimes(target);
      return {e.target};
    case Plant::SetIdOutput:
      e2e::writeFile(target, "old");
      own(target, runner(run));
      ::chmod(target.c_str(), 06755);
      oldTimes(target);
      return {e.target};
    case Plant::FifoSource:
      return plantFifoSource(box, run);
    case Plant::SetIdSource:
      return plantSetIdSources(box, run);
  }
  return {};
}

struct Outcome {
  Result result;
  std::string fifoBytes;
};

std::string modeText(unsigned mode) {
  char text[16];
  std::snprintf(text, sizeof text, "%04o", mode & 07777);
  return text;
}

// What is wrong with the other user's file after the run, "" if nothing: it
// is planted at the target or behind a link there. Root's run writes into it
// and it stays theirs; nobody's run fails and leaves it as it was.
std::string checkOthersFile(const Sandbox& box, const Case& run, const fs::path& target,
                            const struct stat& lst, bool ok, const std::string& fresh) {
  const fs::path theirs = run.where.plant == Plant::OthersFile ? target : box.path("theirs.dat");
  struct stat their {};
  ::stat(theirs.c_str(), &their);
  std::string what;
  if (their.st_uid != otherUser(run)) what += "the output changed hands; ";
  if ((their.st_mode & 07777) != 0644) what += "its bits are " + modeText(their.st_mode) + "; ";
  if (run.where.plant == Plant::LinkToOthers && !S_ISLNK(lst.st_mode)) what += "link lost; ";
  std::string bytes = e2e::readFile(theirs);
  if (run.asNobody) {
    // Nobody may not write root's file: one message, and nothing changed.
    if (ok || bytes != "theirs") what += "nobody changed root's file; ";
  } else if (!ok || bytes != fresh) {
    what += "root's run did not write the other user's output; ";
  }
  return what;
}

// What is wrong with the planted names after the run, "" if nothing.
std::string checkPlant(const Sandbox& box, const Case& run, const Expected& e, const Outcome& o) {
  if (run.where.plant == Plant::None) return "";
  const fs::path target = box.path(e.target);
  const bool ok = o.result.status == 0;
  struct stat st {};
  struct stat lst {};
  ::stat(target.c_str(), &st);
  ::lstat(target.c_str(), &lst);
  const std::string fresh = e.after.at(e.target).bytes;
  switch (run.where.plant) {
    case Plant::None:
      return "";
    case Plant::Device:
      if (!ok) return "writing into a device failed; ";
      if (!S_ISLNK(lst.st_mode) || !S_ISCHR(st.st_mode)) return "the device was replaced; ";
      return "";
    case Plant::Fifo:
      if (!ok) return "writing into a FIFO failed; ";
      if (!S_ISFIFO(lst.st_mode)) return "the FIFO was replaced; ";
      return o.fifoBytes == fresh ? "" : "the FIFO's reader got \"" + o.fifoBytes + "\"; ";
    case Plant::DanglingLink:
      if (!ok) return "an output that is a dangling link failed; ";
      if (!S_ISREG(lst.st_mode) || e2e::readFile(target) != fresh)
        return "the dangling link is not the new output; ";
      return fs::exists(box.path("nowhere.txt")) ? "the dangling link was followed; " : "";
    case Plant::LinkToOthers:
    case Plant::OthersFile:
      return checkOthersFile(box, run, target, lst, ok, fresh);
    case Plant::SetIdOutput: {
      if (!ok) return "replacing a set-ID output failed; ";
      // A rewrite keeps the output's other bits (0755), a copy those that
      // both the old output and its source (0644) grant.
      const unsigned bits = st.st_mode & 07777;
      if (bits == 0755 || bits == (0755 & 0644)) return "";
      return "the output's bits are " + modeText(st.st_mode);
    }
    case Plant::FifoSource:
      return ok ? "" : "reading a FIFO source failed; ";
    case Plant::SetIdSource: {
      if (!ok) return "converting set-ID sources failed; ";
      std::string what;
      for (const auto& [name, state] : fault::snapshot(box)) {
        if (name.ends_with(".txt") && (state.mode & 07000) != 0)
          what += name + " has bits " + modeText(state.mode) + "; ";
      }
      return what;
    }
  }
  return "";
}

// What is wrong with the run, "" if nothing.
std::string judge(const Sandbox& box, const Case& run, const Expected& e, const Outcome& o,
                  const std::set<std::string>& planted) {
  const Result& r = o.result;
  std::string what;
  if (r.status != 0 && r.status != 1) what += "exit status " + std::to_string(r.status) + "; ";
  if (!fault::temporariesBelow(box.progDir().parent_path()).empty()) what += "temporary left; ";

  auto closed = [&](int fd) {
    return std::find(run.where.closed.begin(), run.where.closed.end(), fd) !=
           run.where.closed.end();
  };
  const fault::Output output = fault::splitOutput(r.out);
  if (closed(1)) {
    // Standard output closed at start is lost: the program says so on
    // standard error (if it is open) and fails; no byte may reach a file.
    if (r.status != 1) what += "a lost standard output was not a failure; ";
    const std::string lost = "vesk: write error: standard output: Bad file descriptor\n";
    if (r.err != (closed(2) ? "" : lost)) what += "standard error: \"" + r.err + "\"; ";
  } else if (r.status == 1) {
    // Only a limit, or another user's file that nobody may write, fails.
    const bool othersFile =
        run.where.plant == Plant::LinkToOthers || run.where.plant == Plant::OthersFile;
    if (!run.where.mayFail && !(othersFile && run.asNobody))
      what += "a run that must succeed failed; ";
    if (output.message.empty() || !fault::knownFailureMessage(output.message))
      what += "failure without one known message; ";
    if (!r.err.empty()) what += "standard error: \"" + r.err + "\"; ";
  } else if (r.status == 0 && r.out != e.out) {
    what += "success with an unexpected output; ";
  }

  // Every other file: as it was, or the clean run's new one; after a success
  // (or a lost standard output) every one the new one.
  const bool mustBeNew = r.status == 0 || closed(1);
  const Snapshot now = fault::snapshot(box);
  std::set<std::string> names;
  for (const Snapshot* files : {&e.before, &e.after, &now}) {
    for (const auto& entry : *files) names.insert(entry.first);
  }
  for (const std::string& name : names) {
    if (planted.contains(name) || name.starts_with("devices/")) continue;
    auto got = now.find(name), old = e.before.find(name), fresh = e.after.find(name);
    // Copies of set-ID sources take their other bits: only the bytes count
    // here, and the plant's check looks at the bits.
    const bool withMode = run.where.plant != Plant::SetIdSource;
    bool isNew = got != now.end() ? fresh != e.after.end() &&
                                        same(got->second, fresh->second, run.job.sync, withMode)
                                  : fresh == e.after.end();
    bool isOld = got != now.end() ? old != e.before.end() && same(got->second, old->second, true)
                                  : old == e.before.end();
    if (!isNew && (mustBeNew || !isOld)) what += name + " is neither old nor new; ";
    if (got != now.end() && (got->second.mode & 07000) != 0) what += name + " has set-ID bits; ";
  }
  what += checkPlant(box, run, e, o);
  return what.empty() ? what : what + "output: " + r.out + r.err;
}

// Writes the bytes of the source that a FIFO stands for into it once the
// program opens it. A run that never opens it leaves the feeder waiting:
// finish() lets it go.
class Feeder {
 public:
  Feeder(fs::path fifo, std::string bytes) : fifo_(std::move(fifo)) {
    thread_ = std::thread([this, bytes = std::move(bytes)] {
      // A reader gone early makes the write fail with EPIPE, not end the test.
      sigset_t pipe;
      sigemptyset(&pipe);
      sigaddset(&pipe, SIGPIPE);
      ::pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
      int fd = ::open(fifo_.c_str(), O_WRONLY);
      if (fd < 0) return;
      [[maybe_unused]] ssize_t written = ::write(fd, bytes.data(), bytes.size());
      ::close(fd);  // the run's outputs show what it read
    });
  }
  ~Feeder() { finish(); }
  Feeder(const Feeder&) = delete;
  Feeder& operator=(const Feeder&) = delete;

  void finish() {
    if (!thread_.joinable()) return;
    int reader = ::open(fifo_.c_str(), O_RDONLY | O_NONBLOCK);
    thread_.join();
    if (reader >= 0) ::close(reader);
  }

 private:
  fs::path fifo_;
  std::thread thread_;
};

const std::string& bytesOf(const Job& job, const std::string& name) {
  for (const auto& file : job.files) {
    if (file.name == name) return file.bytes;
  }
  throw std::runtime_error("no file " + name + " in " + job.name);
}

Outcome runIn(Sandbox& box, const Case& run, const Expected& e) {
  Outcome o;
  int fifo = -1;
  if (run.where.plant == Plant::Fifo) {
    // A reader is there before the program, so its open does not block; the
    // few bytes it writes wait in the pipe until the run is over.
    fifo = ::open(box.path(e.target).c_str(), O_RDONLY | O_NONBLOCK);
  }
  std::optional<Feeder> feeder;
  if (run.where.plant == Plant::FifoSource) {
    const std::string& source = run.job.args.front();
    feeder.emplace(box.path(source), bytesOf(run.job, source));
  }
  box.setBeforeStart([&run] { enter(run); });
  o.result = box.run(run.job.args);
  box.setBeforeStart({});
  if (feeder) feeder->finish();
  if (fifo >= 0) {
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fifo, buffer, sizeof buffer)) > 0) o.fifoBytes.append(buffer, n);
    ::close(fifo);
  }
  return o;
}

// Plants on an output need a job that writes one. A FIFO stands in for a
// job's first source where the job names it and the outputs do not go by
// its times, which a FIFO's writer changes.
bool applies(const Case& run, const Expected& e) {
  const std::vector<std::string>& args = run.job.args;
  if (run.where.plant == Plant::FifoSource) {
    return !args.empty() && args.front().ends_with(".vsk") && !run.job.sync &&
           std::find(args.begin(), args.end(), "-doifmodified") == args.end();
  }
  return run.where.plant == Plant::None || !e.target.empty();
}

// VESK_HOSTILE_LIMITS=0 leaves out the resource limits and the runs without
// /proc, which an instrumented program cannot run under at all.
bool limitsApply() {
  const char* value = std::getenv("VESK_HOSTILE_LIMITS");
  return value == nullptr || std::string(value) != "0";
}

// Every job in every surrounding, as root and as nobody, with unnamed and
// named temporaries. Without root, the runs as nobody, those over other
// users' files and those without /proc are left out; under
// VESK_HOSTILE_LIMITS=0, the limits and the runs without /proc.
std::vector<Case> allCases() {
  const bool root = fault::runningAsRoot();
  const bool limits = limitsApply();
  std::vector<Case> cases;
  for (const Job& job : fault::jobs()) {
    for (const Surroundings& where : allSurroundings()) {
      // An instrumented program cannot start without /proc either.
      if (!limits && (!where.limits.empty() || where.noProc)) continue;
      const bool others = where.plant == Plant::LinkToOthers || where.plant == Plant::OthersFile ||
                          where.plant == Plant::SetIdSource;
      if (!root && (others || where.noProc)) continue;
      for (bool asNobody : {false, true}) {
        if (asNobody && !root) continue;
        for (bool named : {false, true}) cases.push_back({job, where, asNobody, named});
      }
    }
  }
  return cases;
}

// The case's label as a test name: "copy, umask 077, as root" becomes
// copy_umask_077_as_root.
std::string testName(const testing::TestParamInfo<Case>& info) {
  std::string name;
  for (char c : info.param.label()) {
    const bool word = std::isalnum(static_cast<unsigned char>(c)) != 0;
    if (word) {
      name += c;
    } else if (!name.empty() && name.back() != '_') {
      name += '_';
    }
  }
  while (!name.empty() && name.back() == '_') name.pop_back();
  return name;
}

class Hostile : public testing::TestWithParam<Case> {};

TEST_P(Hostile, Run) {
  const Case& run = GetParam();
  Sandbox box;
  Expected e = cleanRun(box, run);
  if (!applies(run, e)) GTEST_SKIP() << "the job has nothing to plant on";
  fault::setUp(box, run.job);
  if (run.asNobody) fault::handToNobody(box);
  std::set<std::string> planted = plant(box, run, e);
  Outcome o = runIn(box, run, e);
  EXPECT_EQ(judge(box, run, e, o, planted), "") << run.label();
}

INSTANTIATE_TEST_SUITE_P(Sweep, Hostile, testing::ValuesIn(allCases()), testName);

}  // namespace
}  // namespace hostile
