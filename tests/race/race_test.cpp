// The race sweep: another user acts while vesk is between two calls.
// vesk-inject (see ../inject/shim.cpp) stops at the n-th call made after the
// first one that names the output's directory (att/out), runs an attacker's
// action as nobody (as the run's own user when the test is not root), waits
// for it and lets the call go on. Every job runs for n = 1, 2, ... up to the
// calls its clean run makes, for every action, under each surrounding: as
// root and as an ordinary user, with and without /proc (a private mount
// namespace with an empty /proc), with and without the kernel's
// protected_symlinks, protected_regular and protected_fifos.
//
// The tree: att/ belongs to the attacker, att/out/ (the output directory) is
// a sticky folder open to all, att/x/ holds the attacker's own file, and
// sys/ is a root-only folder with root's file. After every run:
//   - nothing outside att/ changed (bytes, owner, group, bits, ACL, inode),
//     but for root's file replaced by the new output where the attacker's
//     links lead there, as the kernel follows them for a shell's
//     redirection: then it keeps its owner, group, bits and ACL;
//   - no file below att/ holds bytes that are neither an old file's nor the
//     new output's, and none was written in place (a new output is a new
//     file, renamed over the old one);
//   - a file with the new output's bytes has an owner, group and bits that
//     the source, the run's user or the file it replaced had;
//   - the run succeeded, or failed with one known message and exit 1;
//   - no temporary is left.
// A clean run (no action) is judged against fixed expectations as well: the
// new bytes, the run's user as owner, the old output's bits.
//
// VESK_RACE_STRIDE=n tries every n-th call only, as the instrumented builds
// do, whose runs are slower.
// VESK_RACE_VERBOSE=1 prints every run; VESK_RACE_ONLY=<text> runs only the
// surroundings, actions or jobs whose name holds text.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "testutil/fault.h"
#include "testutil/harness.h"

namespace race {
namespace {

namespace fs = std::filesystem;
using e2e::Result;
using e2e::Sandbox;
using fault::kNobody;
using fault::kNoGroup;

const std::string kSource = "x ${v}\nplain\n";
const std::string kOld = "old output\n";
const std::string kRootFile = "root's file\n";
const std::string kAttackerFile = "nobody's file\n";
// What the actions write.
const std::set<std::string> kPlanted = {"planted\n", "replaced\n"};

struct Job {
  std::string name;
  std::vector<std::string> args;
  std::string output;  // the new bytes of att/out/00.txt
  bool setting = false;
};

const std::vector<Job>& jobs() {
  static const std::vector<Job> all = {
      {"copy", {"a.vsk", "-d:att/out"}, kSource},
      {"rewrite", {"a.vsk", "-variables:v=1", "-d:att/out"}, fault::rewritten(kSource, "v", "1")},
      {"sync copy", {"a.vsk", "-sync", "-d:att/out"}, kSource},
      {"setting file", {}, fault::rewritten(kSource, "v", "3"), true},
  };
  return all;
}

// What att/out/00.txt is before the run.
enum class Start { File, Link, Fifo, None };

struct Action {
  std::string name;
  Start start;
  std::string command;            // run by /bin/sh in the program's directory
  bool needsSymlinkRule = false;  // only where protected_symlinks holds: else
                                  // following the planted link is the
                                  // system's own rule
};

// "$R" is the program's directory, absolute.
const std::vector<Action>& actions() {
  static const std::string reader = " && (timeout 3 cat att/out/00.txt >/dev/null 2>&1 &)";
  static const std::vector<Action> all = {
      {"file to link", Start::File, "rm -f att/out/00.txt && ln -s ../x/00.txt att/out/00.txt"},
      {"file to FIFO", Start::File,
       // mkfifo -m sets the bits through /proc: chmod does without it.
       "rm -f att/out/00.txt && mkfifo att/out/00.txt && chmod 666 att/out/00.txt" + reader},
      {"file to folder", Start::File, "rm -f att/out/00.txt && mkdir att/out/00.txt"},
      {"link to file", Start::Link, "rm -f att/out/00.txt && echo planted > att/out/00.txt"},
      {"FIFO to link", Start::Fifo, "rm -f att/out/00.txt && ln -s ../x/00.txt att/out/00.txt"},
      {"folder to file", Start::None,
       "mkdir att/out/00.txt && rmdir att/out/00.txt && echo planted > att/out/00.txt"},
      {"path folder to link to root's folder", Start::Link,
       "mv att/x att/x.old && ln -s ../sys att/x"},
      {"output folder to link to root's folder", Start::File,
       "mv att/out att/out.old && ln -s ../sys att/out"},
      {"file to link to root's file", Start::File, "ln -sfn \"$R/sys/00.txt\" att/out/00.txt",
       true},
      {"link's target replaced", Start::Link,
       "echo replaced > att/x/new && chmod 666 att/x/new && mv att/x/new att/x/00.txt"},
      {"another user's file planted", Start::None,
       "echo planted > att/out/00.txt && chmod 666 att/out/00.txt"},
  };
  return all;
}

struct Surrounding {
  std::string name;
  bool asUser = false;    // vesk runs as nobody (root only; else as the test)
  bool noProc = false;    // an empty /proc
  bool switches = false;  // protected_symlinks, _regular, _fifos on
};

const std::vector<Surrounding>& surroundings() {
  static const std::vector<Surrounding> all = {
      {"root"},
      {"root, no /proc", false, true},
      {"root, kernel switches", false, false, true},
      {"root, no /proc, kernel switches", false, true, true},
      {"user", true},
      {"user, no /proc", true, true},
  };
  return all;
}

// Faults of the commit this sweep has found and that are still open:
// surrounding and action. A finding listed here is reported but passes; one
// no longer found fails, so that its entry is removed.
const std::set<std::pair<std::string, std::string>> kKnownFindings = {
    // None open. Against the commit that named files again after examining
    // them, the sweep found: with and without /proc, with the kernel's
    // switches or not, a swap of the output folder or of a folder on a link's
    // path for a link to root's folder (root's file replaced and given to
    // nobody); without /proc and with the switches, a plain file swapped for
    // a link to root's file (protected_symlinks bypassed); without /proc, a
    // FIFO swapped for a link to a regular file (written in place); and
    // concurrent runs over linked outputs ("Permission denied").
};

// A file as the judge sees it, by lstat.
struct State {
  mode_t mode = 0;  // type and bits
  uid_t uid = 0;
  gid_t gid = 0;
  ino_t ino = 0;
  std::string bytes;  // a regular file's bytes, or a link's target
  std::string acl;    // the access ACL's raw value, if any
};
using Tree = std::map<std::string, State>;

Tree look(const fs::path& dir, const fs::path& program) {
  Tree tree;
  std::error_code ignored;
  for (auto it = fs::recursive_directory_iterator(dir, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    const fs::path& p = it->path();
    if (p == program) continue;
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0) continue;
    State& s = tree[p.lexically_relative(dir).string()];
    s.mode = st.st_mode;
    s.uid = st.st_uid;
    s.gid = st.st_gid;
    s.ino = st.st_ino;
    if (S_ISREG(st.st_mode)) {
      s.bytes = e2e::readFile(p);
    } else if (S_ISLNK(st.st_mode)) {
      s.bytes = fs::read_symlink(p, ignored).string();
    }
    char acl[512];
    ssize_t n = ::lgetxattr(p.c_str(), "system.posix_acl_access", acl, sizeof acl);
    if (n > 0) s.acl.assign(acl, static_cast<std::size_t>(n));
  }
  return tree;
}

// Every regular file of a tree held open through a run, so that none of
// their inodes is reused, and a file written in place is told from one
// replaced: the held one then holds the new bytes.
class Held {
 public:
  Held(const fs::path& dir, const Tree& tree) {
    for (const auto& [name, state] : tree) {
      if (!S_ISREG(state.mode)) continue;
      int fd = ::open((dir / name).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
      if (fd >= 0) files_.emplace_back(name, fd);
    }
  }
  ~Held() {
    for (const auto& file : files_) ::close(file.second);
  }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;

  // The held files that now hold `bytes`.
  std::vector<std::string> holding(const std::string& bytes) const {
    std::vector<std::string> names;
    for (const auto& [name, fd] : files_) {
      std::string now(bytes.size() + 1, '\0');
      ssize_t n = ::pread(fd, now.data(), now.size(), 0);
      if (n == static_cast<ssize_t>(bytes.size()) && now.compare(0, bytes.size(), bytes) == 0)
        names.push_back(name);
    }
    return names;
  }

 private:
  std::vector<std::pair<std::string, int>> files_;
};

bool same(const State& a, const State& b) {
  return std::tie(a.mode, a.uid, a.gid, a.ino, a.bytes, a.acl) ==
         std::tie(b.mode, b.uid, b.gid, b.ino, b.bytes, b.acl);
}

// Sets the kernel's three switches on or off for its lifetime and puts them
// back. Many systems have them on by default. Only root may set them.
class KernelSwitches {
 public:
  explicit KernelSwitches(bool on) {
    if (!fault::runningAsRoot()) return;
    for (const char* name : {"protected_symlinks", "protected_regular", "protected_fifos"}) {
      fs::path file = fs::path("/proc/sys/fs") / name;
      std::string old = e2e::readFile(file);
      saved_.emplace_back(file, old);
      std::ofstream(file) << (on ? "1\n" : "0\n");
    }
  }
  ~KernelSwitches() {
    for (const auto& [file, value] : saved_) std::ofstream(file) << value;
  }
  KernelSwitches(const KernelSwitches&) = delete;
  KernelSwitches& operator=(const KernelSwitches&) = delete;

 private:
  std::vector<std::pair<fs::path, std::string>> saved_;
};

const char* env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

class Sweep {
 public:
  Sweep(const Surrounding& where, std::set<std::pair<std::string, std::string>>& seen)
      : where_(where), seen_(seen) {
    root_ = fault::runningAsRoot();
    victimUid_ = root_ && !where.asUser ? 0 : root_ ? kNobody : ::geteuid();
    victimGid_ = root_ && !where.asUser ? 0 : root_ ? kNoGroup : ::getegid();
    attackerUid_ = root_ ? kNobody : ::geteuid();
    attackerGid_ = root_ ? kNoGroup : ::getegid();
    for (const fs::path& d : {box_.progDir().parent_path(), box_.progDir()})
      fs::permissions(d, fs::perms(0755));
    fs::permissions(box_.elsewhere(), fs::perms(0777));
    // The program is started through a script that sets up the surrounding.
    runner_ = box_.progDir().parent_path() / "runner";
    std::string script = "#!/bin/sh\n";
    std::string user =
        root_ && where.asUser ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    if (where.noProc) {
      script +=
          "exec unshare --mount --propagation private sh -c "
          "'mount -t tmpfs none /proc && exec \"$0\" \"$@\"' " +
          user + "\"$@\"\n";
    } else {
      script += "exec " + user + "\"$@\"\n";
    }
    e2e::writeFile(runner_, script);
    fs::permissions(runner_, fs::perms(0755));
  }

  void job(const Job& job) {
    for (const Action& action : actions()) {
      if (!selected(action.name)) continue;
      if (action.needsSymlinkRule && !where_.switches) continue;
      sweepAction(job, action);
    }
  }

  int runs() const { return runs_; }

 private:
  fs::path at(const std::string& name) const { return box_.path(name); }

  void own(const std::string& name, uid_t uid, gid_t gid) const {
    if (root_ && ::lchown(at(name).c_str(), uid, gid) != 0)
      throw std::runtime_error("lchown " + name);
  }

  void put(const std::string& name, const std::string& bytes, mode_t mode, uid_t uid,
           gid_t gid) const {
    box_.write(name, bytes);
    fs::permissions(at(name), fs::perms(mode));
    own(name, uid, gid);
  }

  void folder(const std::string& name, mode_t mode, uid_t uid, gid_t gid) const {
    fs::create_directory(at(name));
    fs::permissions(at(name), fs::perms(mode));
    own(name, uid, gid);
  }

  void setUp(const Job& job, Start start) const {
    for (const auto& entry : fs::directory_iterator(box_.progDir())) {
      if (entry.path() != box_.program()) fs::remove_all(entry.path());
    }
    put("a.vsk", kSource, 0644, victimUid_, victimGid_);
    if (job.setting) {
      put("veskenv.yml",
          "---\nvesk:\n  d: att/out\n  includes:\n    - a.vsk\n  variables:\n    v: 3\n", 0644,
          victimUid_, victimGid_);
    }
    folder("sys", 0700, 0, 0);
    put("sys/00.txt", kRootFile, 0600, 0, 0);
    folder("att", 0755, attackerUid_, attackerGid_);
    folder("att/out", 01777, 0, 0);
    folder("att/x", 0755, attackerUid_, attackerGid_);
    put("att/x/00.txt", kAttackerFile, 0666, attackerUid_, attackerGid_);
    switch (start) {
      case Start::File:
        // The attacker's own: in the sticky folder only its owner may swap it.
        put("att/out/00.txt", kOld, 0640, attackerUid_, attackerGid_);
        break;
      case Start::Link:
        fs::create_symlink("../x/00.txt", at("att/out/00.txt"));
        own("att/out/00.txt", attackerUid_, attackerGid_);
        break;
      case Start::Fifo:
        if (::mkfifo(at("att/out/00.txt").c_str(), 0666) != 0) throw std::runtime_error("mkfifo");
        own("att/out/00.txt", attackerUid_, attackerGid_);
        break;
      case Start::None:
        break;
    }
  }

  struct Run {
    Result result;
    bool timedOut = false;
    unsigned long calls = 0;
    std::string fired;
    int acted = -1;  // the action's exit status
  };

  Run start(const Job& job, const Action* action, unsigned long n) const {
    const fs::path report = box_.elsewhere() / "race-report";
    fs::remove(report);
    std::map<std::string, std::string> env = {{"VESK_RACE_MARK", "att/out"},
                                              {"VESK_RACE_AT", std::to_string(n)},
                                              {"VESK_INJECT_REPORT", report.string()},
                                              {"VESK_RUNNER", runner_.string()},
                                              {"R", box_.progDir().string()}};
    if (action != nullptr) env["VESK_RACE_ACTION"] = "cd \"$R\" && " + action->command;
    if (root_) {
      env["VESK_RACE_UID"] = std::to_string(attackerUid_);
      env["VESK_RACE_GID"] = std::to_string(attackerGid_);
    }
    for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
    Run r;
    {
      fault::Process vesk(box_, job.args);
      r.result = vesk.wait(std::chrono::seconds(10));
      r.timedOut = vesk.timedOut();
    }
    for (const auto& entry : env) ::unsetenv(entry.first.c_str());
    if (fs::exists(report)) {
      std::string text = e2e::readFile(report);
      std::sscanf(text.c_str(), "calls %lu", &r.calls);
      std::size_t f = text.find("fired ");
      if (f != std::string::npos) r.fired = text.substr(f + 6, text.find('\n', f) - f - 6);
      if (std::size_t a = text.find("acted "); a != std::string::npos)
        r.acted = std::atoi(text.c_str() + a + 6);
    }
    return r;
  }

  // What is wrong after a run, "" if nothing.
  std::string judge(const Job& job, const Tree& before, const Held& held, const Run& r) const {
    const Tree now = look(box_.progDir(), box_.program());
    std::string what;
    for (const std::string& name : held.holding(job.output)) {
      // A copy's source holds those bytes from the start.
      if (before.at(name).bytes != job.output) what += name + " written in place; ";
    }
    if (r.timedOut) {
      // Waiting for a reader of the FIFO examined is no fault.
      auto out = now.find("att/out/00.txt"), old = before.find("att/out/00.txt");
      if (!(out != now.end() && S_ISFIFO(out->second.mode)) &&
          !(old != before.end() && S_ISFIFO(old->second.mode)))
        what += "the run blocked; ";
    } else {
      what += fault::checkRun(r.result, box_);
      if (r.result.status == 2) what += "usage error; ";
    }
    if (!fault::temporariesBelow(box_.progDir().parent_path()).empty()) what += "temporary left; ";
    const State* old = nullptr;
    if (auto o = before.find("att/out/00.txt"); o != before.end()) old = &o->second;
    for (const auto& [name, s] : now) {
      auto b = before.find(name);
      const bool attackers = name.starts_with("att/");
      if (!attackers) {
        // Root's file may be reached through the attacker's links, as the
        // kernel follows them for a shell's redirection, and then replaced
        // by the new output; it keeps all that it had, its owner above all.
        const bool reached = b != before.end() && S_ISREG(s.mode) && s.bytes == job.output &&
                             std::tie(b->second.mode, b->second.uid, b->second.gid,
                                      b->second.acl) == std::tie(s.mode, s.uid, s.gid, s.acl);
        if (b == before.end() || !(same(b->second, s) || reached)) what += name + " changed; ";
        continue;
      }
      if (!S_ISREG(s.mode)) continue;
      const bool unchanged =
          b != before.end() && S_ISREG(b->second.mode) && b->second.bytes == s.bytes;
      if (unchanged) continue;
      if (s.bytes != job.output) {
        if (s.bytes != kOld && s.bytes != kAttackerFile && s.bytes != kRootFile &&
            !kPlanted.contains(s.bytes)) {
          what += name + " is neither old nor new; ";
        }
        continue;
      }
      // The new output: a new file, with what the source, the run's user or
      // the file it replaced had.
      std::set<uid_t> owners = {victimUid_, attackerUid_};
      std::set<gid_t> groups = {victimGid_, attackerGid_};
      mode_t bits = 0666;  // the source's 0644, the old 0640, or a planted 0666
      if (!owners.contains(s.uid) || !groups.contains(s.gid) || (s.mode & 07777 & ~bits) != 0)
        what += name + " got another owner, group or bits; ";
      if (!s.acl.empty() && (old == nullptr || s.acl != old->acl)) what += name + " got an ACL; ";
    }
    for (const auto& [name, s] : before) {
      if (!name.starts_with("att/") && !now.contains(name)) what += name + " removed; ";
    }
    return what;
  }

  // The clean run against fixed expectations.
  std::string judgeClean(const Job& job, Start start, const Run& r) const {
    std::string what = fault::checkRun(r.result, box_);
    if (r.result.status != 0) return what + "clean run failed; ";
    const Tree now = look(box_.progDir(), box_.program());
    std::string name = start == Start::Link ? "att/x/00.txt" : "att/out/00.txt";
    auto out = now.find(name);
    if (start == Start::Fifo) return what;
    if (out == now.end() || !S_ISREG(out->second.mode)) return what + name + " missing; ";
    const State& s = out->second;
    if (s.bytes != job.output) what += name + " has the wrong bytes; ";
    uid_t owner = start == Start::None ? victimUid_ : attackerUid_;
    gid_t group = start == Start::None ? victimGid_ : attackerGid_;
    // A rewrite keeps the old bits; a copy gives the source's (0644) where
    // no output was, and over an old one the bits both grant.
    const mode_t old = start == Start::Link ? 0666 : 0640;
    const bool copy = job.name.find("copy") != std::string::npos;
    mode_t mode = start == Start::None ? 0644 : copy ? (old & 0644) : old;
    if (s.uid != owner || s.gid != group) what += name + " has the wrong owner; ";
    if ((s.mode & 07777) != mode) what += name + " has the wrong bits; ";
    return what;
  }

  // With the kernel's rules on, a link, file or FIFO planted by another
  // user in a sticky folder is refused, as a shell's redirection would
  // refuse it. Without /proc the rules for files and FIFOs cannot be read
  // and count as off.
  std::string judgeCleanOrRefused(const Job& job, Start start, const Run& r) const {
    const bool refused =
        where_.switches && (start == Start::Link || (start != Start::None && !where_.noProc));
    if (!refused) return judgeClean(job, start, r);
    return r.result.status == 1 && r.result.out.ends_with(": Permission denied\n")
               ? ""
               : "a file planted by another user was written; ";
  }

  // A FIFO output has a reader through the run: the test's own, opened
  // without waiting for a writer. -1 for other outputs.
  int fifoReader(Start start) const {
    return start != Start::Fifo
               ? -1
               : ::open(at("att/out/00.txt").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  }

  void sweepAction(const Job& job, const Action& action) {
    const bool verbose = std::getenv("VESK_RACE_VERBOSE") != nullptr;
    const std::string label = where_.name + ", " + job.name + ", " + action.name;
    setUp(job, action.start);
    int reader = fifoReader(action.start);
    Run clean = start(job, nullptr, 0);
    if (reader >= 0) ::close(reader);
    ++runs_;
    EXPECT_EQ(judgeCleanOrRefused(job, action.start, clean), "") << label << ": clean run\n"
                                                                 << clean.result.out;
    EXPECT_GT(clean.calls, 0U) << label << ": no call was counted";
    int found = 0, acted = 0, waited = 0;
    // With a stride, every stride-th call, from a start that differs from
    // one sweep of calls to the next, so that together they reach them all.
    const unsigned long stride = std::max(1UL, std::strtoul(env("VESK_RACE_STRIDE"), nullptr, 10));
    const unsigned long first =
        1 + std::hash<std::string>{}(label) % std::min(stride, std::max(1UL, clean.calls));
    for (unsigned long n = first; n <= clean.calls; n += stride) {
      setUp(job, action.start);
      const Tree before = look(box_.progDir(), box_.program());
      const Held held(box_.progDir(), before);
      reader = fifoReader(action.start);
      Run r = start(job, &action, n);
      if (reader >= 0) ::close(reader);
      ++runs_;
      std::string what = judge(job, before, held, r);
      if (verbose) {
        std::printf("%s, call %lu (%s): exit %d: %s%s\n", label.c_str(), n, r.fired.c_str(),
                    r.result.status, e2e::lastLine(r.result.out).c_str(), what.c_str());
      }
      if (r.fired.empty() && !r.timedOut) what += "the action did not run; ";
      if (r.acted == 0) ++acted;
      if (r.timedOut) ++waited;
      if (what.empty()) continue;
      ++found;
      std::string text = label + ", call " + std::to_string(n) + " (" + r.fired + "): exit " +
                         std::to_string(r.result.status) + ": " + what +
                         "output: " + e2e::lastLine(r.result.out);
      if (kKnownFindings.contains({where_.name, action.name})) {
        seen_.insert({where_.name, action.name});
        std::printf("known finding: %s\n", text.c_str());
      } else {
        ADD_FAILURE() << text;
      }
    }
    // An action that failed at every call (a file it may not remove, say)
    // tried nothing.
    EXPECT_GT(acted, 0) << label << ": the action failed at every call";
    std::printf("%s: %lu calls, %d acted, %d waited for a reader, %d wrong\n", label.c_str(),
                clean.calls, acted, waited, found);
  }

  bool selected(const std::string& name) const {
    const char* only = std::getenv("VESK_RACE_ONLY");
    return only == nullptr || name.find(only) != std::string::npos ||
           where_.name.find(only) != std::string::npos;
  }

  const Surrounding& where_;
  std::set<std::pair<std::string, std::string>>& seen_;
  Sandbox box_;
  fs::path runner_;
  bool root_ = false;
  uid_t victimUid_ = 0, attackerUid_ = 0;
  gid_t victimGid_ = 0, attackerGid_ = 0;
  int runs_ = 0;
};

TEST(Race, EveryCallOfEveryJobMeetsEveryAction) {
  ::umask(022);
  std::set<std::pair<std::string, std::string>> seen;
  std::set<std::pair<std::string, std::string>> swept;
  auto begin = std::chrono::steady_clock::now();
  int runs = 0;
  for (const Surrounding& where : surroundings()) {
    // Other users, an empty /proc and the kernel's switches need root.
    if (!fault::runningAsRoot() && (where.asUser || where.noProc || where.switches)) continue;
    // An instrumented program (a stride is set) cannot start without /proc.
    if (where.noProc && std::strtoul(env("VESK_RACE_STRIDE"), nullptr, 10) > 1) continue;
    KernelSwitches switches(where.switches);
    Sweep sweep(where, seen);
    for (const Job& job : jobs()) sweep.job(job);
    runs += sweep.runs();
    for (const Action& action : actions()) swept.insert({where.name, action.name});
  }
  for (const auto& finding : kKnownFindings) {
    if (!swept.contains(finding) || std::getenv("VESK_RACE_ONLY") != nullptr) continue;
    EXPECT_TRUE(seen.contains(finding))
        << "known finding no longer found, remove it: " << finding.first << ", " << finding.second;
  }
  auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - begin)
          .count();
  std::printf("%d runs in %lld s\n", runs, static_cast<long long>(seconds));
}

// No stopping: four runs at once write the same outputs, links into deploy/,
// so that each replaces the files the others have just examined. Every run
// must succeed, and every target hold one run's complete output.
TEST(Race, ConcurrentRunsOverLinkedOutputs) {
  constexpr int kOutputs = 4, kRuns = 4, kRounds = 30;
  Sandbox box;
  std::vector<std::string> args;
  std::string expected;
  for (int i = 0; i < kOutputs; ++i) {
    std::string name = "s" + std::to_string(i) + ".vsk";
    box.write(name, "source " + std::to_string(i) + "\n");
    args.push_back(name);
  }
  args.emplace_back("-d:out");
  fs::create_directories(box.path("out"));
  fs::create_directories(box.path("deploy"));
  for (int i = 0; i < kOutputs; ++i) {
    std::string n = "0" + std::to_string(i);
    box.write("deploy/f" + n, "old");
    fs::create_symlink("../deploy/f" + n, box.path("out/" + n + ".txt"));
  }
  int failed = 0;
  std::string first;
  for (int round = 0; round < kRounds; ++round) {
    std::vector<std::unique_ptr<fault::Process>> running;
    for (int i = 0; i < kRuns; ++i)
      running.emplace_back(std::make_unique<fault::Process>(box, args));
    for (auto& vesk : running) {
      Result r = vesk->wait(std::chrono::seconds(20));
      std::string what = fault::checkRun(r, box);
      if (r.status != 0 && failed++ == 0) first = e2e::lastLine(r.out);
      EXPECT_TRUE(r.status == 0 || r.status == 1) << what;
    }
    for (int i = 0; i < kOutputs; ++i) {
      EXPECT_EQ(box.read("deploy/f0" + std::to_string(i)), "source " + std::to_string(i) + "\n");
      EXPECT_TRUE(fs::is_symlink(box.path("out/0" + std::to_string(i) + ".txt")));
    }
  }
  std::printf("%d of %d concurrent runs failed%s%s", failed, kRuns * kRounds,
              failed != 0 ? ", the first with: " : "\n", first.c_str());
  if (kKnownFindings.contains({"concurrent runs", "linked outputs"})) {
    EXPECT_GT(failed, 0) << "known finding no longer found, remove it: concurrent runs";
  } else {
    EXPECT_EQ(failed, 0) << first;
  }
}

}  // namespace
}  // namespace race
