// Every C library call of a run fails in turn. vesk-inject (see shim.cpp)
// makes the n-th call fail; each job below runs for n = 1, 2, ... up to the
// number of calls its clean run makes (VESK_INJECT_VERBOSE=1 prints every
// run's last line). Every run must end as a failure vesk
// noticed (exit 1, one message, each output either untouched or the complete
// new one that its report line names) or as a success that ignored the fault
// (exit 0, every output the correct new one, and no fault that may have
// lost data, such as a written file's failed close), never with a signal,
// and without a temporary file left.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "testutil/fault.h"
#include "testutil/jobs.h"

namespace inject {
namespace {

namespace fs = std::filesystem;
using e2e::Result;
using e2e::Sandbox;
using fault::FileState;
using fault::Job;
using fault::jobs;
using fault::largeRewrite;
using fault::setUp;
using fault::Snapshot;
using fault::snapshot;

// Faults of the platform layer this test has found and that are still open:
// job and failing function. A finding listed here is reported but passes;
// one that is no longer found fails, so that its entry is removed.
const std::set<std::pair<std::string, std::string>> kKnownFindings = {
    // None open. A finding that cannot be mended at once goes here, as
    // {job, function}, with a line that says what goes wrong.
};

// Sweeps over the calls of one function only: with another error than its
// usual one, where vesk then takes another way (no statx in the kernel, no
// copy_file_range across these file systems, a call interrupted by a
// signal, no thread for writing behind), or in a job whose calls two
// threads make in no fixed order.
struct OneCall {
  std::string call;
  int error = 0;  // 0: the call's usual error
};
const std::vector<std::pair<std::string, OneCall>> kOneCallSweeps = {
    {"sync rewrite into a new directory", {"statx", ENOSYS}},
    {"copy", {"copy_file_range", EXDEV}},
    {"copy", {"copy_file_range", EINTR}},
    {"rewrite", {"read", EINTR}},
    {"rewrite", {"write", EINTR}},
    {"rewrite", {"open", EINTR}},
    {"rewrite", {"close", EINTR}},
    {"large rewrite", {"write", 0}},
    {"large rewrite", {"read", 0}},
    {"large rewrite", {"pthread_create", 0}},
};

struct Injected {
  unsigned long calls = 0;  // calls the run made
  std::string fired;        // the function that failed; empty if none
};

// Runs the job with its n-th call (of `only.call`, if given) failing.
Injected runWithFault(const Sandbox& box, const Job& job, unsigned long at, const OneCall& only,
                      Result& result) {
  const fs::path report = box.elsewhere() / "inject-report";
  fs::remove(report);
  std::map<std::string, std::string> env = {{"VESK_INJECT_AT", std::to_string(at)},
                                            {"VESK_INJECT_REPORT", report.string()}};
  if (!only.call.empty()) {
    env["VESK_INJECT_CALL"] = only.call;
    if (only.error != 0) env["VESK_INJECT_ERRNO"] = std::to_string(only.error);
  }
  for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
  result = box.run(job.args);
  for (const auto& entry : env) ::unsetenv(entry.first.c_str());
  Injected injected;
  if (!fs::exists(report)) return injected;
  std::string text = e2e::readFile(report);
  std::sscanf(text.c_str(), "calls %lu", &injected.calls);
  std::size_t at_fired = text.find("fired ");
  if (at_fired != std::string::npos) {
    injected.fired = text.substr(at_fired + 6, text.find('\n', at_fired) - at_fired - 6);
  }
  return injected;
}

// The outputs a run's report lines say it wrote.
std::set<std::string> converted(const Job& job, const fault::Output& output) {
  std::set<std::string> names;
  for (const std::string& line : output.reports) {
    std::size_t at = line.rfind(" => ");
    if (at != std::string::npos) names.insert(job.outDir + line.substr(at + 4));
  }
  return names;
}

bool sameFile(const std::optional<FileState>& a, const std::optional<FileState>& b, bool withTime) {
  if (!a || !b) return !a && !b;
  return a->bytes == b->bytes && a->mode == b->mode && a->link == b->link &&
         (!withTime || a->mtimeNs == b->mtimeNs);
}

std::optional<FileState> find(const Snapshot& files, const std::string& name) {
  auto it = files.find(name);
  return it == files.end() ? std::nullopt : std::optional<FileState>(it->second);
}

// What is wrong with the files after a run, "" if nothing: a file is either
// exactly as it was or the new one of the clean run (with the clean run's
// times under -sync). `written` are those that must be new; with
// `anyMayBeNew` every other file may be either.
std::string checkFiles(const Job& job, const Snapshot& before, const Snapshot& clean,
                       const Snapshot& now, const std::set<std::string>& written,
                       bool anyMayBeNew) {
  std::set<std::string> names;
  for (const Snapshot* files : {&before, &clean, &now}) {
    for (const auto& entry : *files) names.insert(entry.first);
  }
  std::string what;
  for (const std::string& name : names) {
    std::optional<FileState> old = find(before, name), fresh = find(clean, name),
                             got = find(now, name);
    bool isNew = sameFile(got, fresh, job.sync);
    bool isOld = sameFile(got, old, true);
    if (written.contains(name) ? !isNew : !(isOld || (anyMayBeNew && isNew))) {
      what += name + (written.contains(name) ? " is not the new file; " : " was changed; ");
    }
  }
  return what;
}

bool knownReason(const std::string& text) {
  for (int error = 1; error < 134; ++error) {
    if (text == std::strerror(error)) return true;
  }
  return false;
}

struct Clean {
  Snapshot before, after;
  std::size_t reports = 0;
  std::string message;  // the version text, or nothing
};

// What is wrong with a run whose n-th call failed, "" if nothing.
std::string judge(const Job& job, const Sandbox& box, const Clean& clean, const Result& r,
                  const std::string& fired) {
  if (r.status != 0 && r.status != 1) return "exit status " + std::to_string(r.status);
  std::string what;
  if (!fault::temporariesBelow(box.progDir().parent_path()).empty()) what += "temporary left; ";
  Snapshot now = snapshot(box);
  fault::Output output = fault::splitOutput(r.out);
  const std::string lost = "vesk: write error: standard output: ";
  if (!r.err.empty()) {
    // Standard output itself failed: one line on standard error says so.
    std::string reason = r.err.substr(std::min(lost.size(), r.err.size()));
    if (!r.err.starts_with(lost) || !reason.ends_with('\n') ||
        !knownReason(reason.substr(0, reason.size() - 1)) || r.status != 1) {
      what += "unexpected standard error; ";
    }
    what += checkFiles(job, clean.before, clean.after, now, {}, true);
  } else if (r.status == 1) {
    if (output.message.empty() || output.message.find('\n') != std::string::npos ||
        !fault::knownFailureMessage(output.message)) {
      what += "failure without one known message; ";
    }
    what += checkFiles(job, clean.before, clean.after, now, converted(job, output), false);
  } else {
    // A failed close of a written file may have lost its last bytes, though
    // the file reads back complete here: only a failure is right.
    if (fired == "close of a written file")
      what += "a failed close of a written file was ignored; ";
    if (output.message != clean.message || !output.wellFormed ||
        output.reports.size() != clean.reports) {
      what += "success with an unexpected output; ";
    }
    // A success may convert an output the clean run left (an up-to-date
    // check that failed), but every output must be the correct one.
    std::set<std::string> fresh = converted(job, output);
    for (const auto& [name, state] : clean.after) {
      if (!sameFile(state, find(clean.before, name), true)) fresh.insert(name);
    }
    what += checkFiles(job, clean.before, clean.after, now, fresh, false);
  }
  return what.empty() ? what : what + "output:\n" + r.out + r.err;
}

void sweep(const Job& job, const OneCall& only,
           std::set<std::pair<std::string, std::string>>& seen) {
  const bool verbose = std::getenv("VESK_INJECT_VERBOSE") != nullptr;
  const std::string label = only.call.empty() ? job.name
                            : only.error == 0
                                ? job.name + ", " + only.call
                                : job.name + ", " + only.call + ": " + std::strerror(only.error);
  // New files get the same permission bits whoever runs the test.
  ::umask(022);
  Sandbox box;
  Clean clean;
  setUp(box, job);
  clean.before = snapshot(box);
  Result r;
  // The clean run: no call fails (the fault is past its last call).
  const Injected total = runWithFault(box, job, 0, only, r);
  ASSERT_EQ(fault::checkRun(r, box), "") << label;
  ASSERT_EQ(r.status, 0) << label << ": " << r.out;
  ASSERT_TRUE(fs::exists(box.elsewhere() / "inject-report")) << "vesk-inject wrote no report";
  ASSERT_GT(total.calls, 0U) << label << ": no such call";
  clean.after = snapshot(box);
  if (only.call.empty()) {
    EXPECT_EQ(fault::checkOutputs(job, clean.before, clean.after, 022), "") << label;
  }
  clean.reports = fault::splitOutput(r.out).reports.size();
  clean.message = fault::splitOutput(r.out).message;

  std::map<std::string, int> outcomes[2];  // by exit status: function, count
  for (unsigned long n = 1; n <= total.calls; ++n) {
    setUp(box, job);
    Injected injected = runWithFault(box, job, n, only, r);
    std::string what = judge(job, box, clean, r, injected.fired);
    if (verbose) {
      std::printf("%s, call %lu (%s): exit %d: %s", label.c_str(), n, injected.fired.c_str(),
                  r.status, e2e::lastLine(r.out + r.err).c_str());
    }
    if (injected.fired.empty()) what += "the fault did not fire (" + r.out + ")";
    if (what.empty()) {
      ++outcomes[r.status][injected.fired];
    } else if (kKnownFindings.contains({job.name, injected.fired})) {
      seen.insert({job.name, injected.fired});
      std::printf("known finding: %s, call %lu (%s): %s\n", label.c_str(), n,
                  injected.fired.c_str(), what.c_str());
    } else {
      ADD_FAILURE() << label << ", call " << n << " (" << injected.fired << "): " << what;
    }
  }
  std::string summary[2];
  for (int status : {0, 1}) {
    for (const auto& [name, count] : outcomes[status])
      summary[status] += " " + name + " " + std::to_string(count);
  }
  std::printf("%s: %lu calls; reported:%s; ignored:%s\n", label.c_str(), total.calls,
              summary[1].c_str(), summary[0].c_str());
}

TEST(Inject, EveryCallOfEveryJobFails) {
  std::set<std::pair<std::string, std::string>> seen;
  for (const Job& job : jobs()) sweep(job, {}, seen);
  for (const auto& finding : kKnownFindings) {
    EXPECT_TRUE(seen.contains(finding))
        << "known finding no longer found, remove it: " << finding.first << ", " << finding.second;
  }
}

TEST(Inject, EveryCallOfOneFunctionFails) {
  std::set<std::pair<std::string, std::string>> seen;
  for (const auto& [name, only] : kOneCallSweeps) {
    auto job =
        std::find_if(jobs().begin(), jobs().end(), [&](const Job& j) { return j.name == name; });
    sweep(job != jobs().end() ? *job : largeRewrite(), only, seen);
  }
}

}  // namespace
}  // namespace inject
