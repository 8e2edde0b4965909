#include "testutil/jobs.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <stdexcept>
#include <utility>

#include "testutil/fault.h"

namespace fault {

constexpr time_t kBaseTime = 1700000000;

namespace {

// Copies and rewrites, with and without -sync.
std::vector<Job> conversionJobs() {
  return {
      {"copy",
       {{"a.vsk", "a\n"},
        {"b.vsk", "b1\nb2\n"},
        {"00.txt", "old0", 2000, 0640},
        {"real01.txt", "old1", 2000},
        {"01.txt", "", 0, 0, "real01.txt"}},
       {"a.vsk", "b.vsk"},
       "",
       false,
       // A copy over an output keeps the bits both grant; 01.txt, a link,
       // is written through.
       {{"00.txt", "a\n", 0640, false}, {"real01.txt", "b1\nb2\n", 0644, false}}},
      {"rewrite",
       {{"a.vsk", "x ${v}\nplain\n"},
        {"b.vsk", "${w}\r\n"},
        {"00.txt", "old0", 2000, 0640},
        {"05.txt", "old5", 2000}},
       {"a.vsk", "b.vsk:5", "-variables:v=1"},
       "",
       false,
       {{"00.txt", "x 1\r\nplain\r\n", 0640, false}, {"05.txt", "\r\n", 0644, false}}},
      {"sync copy",
       {{"a.vsk", "a\n", 3000}, {"b.vsk", "b\n", 4000}, {"00.txt", "old0", 2000}},
       {"a.vsk", "b.vsk", "-sync"},
       "",
       true,
       {{"00.txt", "a\n", 0644, false, 3000}, {"01.txt", "b\n", 0644, true, 4000}}},
      {"sync rewrite into a new directory",
       {{"a.vsk", "${v}\n", 3000}},
       {"a.vsk", "-sync", "-variables:v=2", "-d:made"},
       "made/",
       true,
       {{"made/00.txt", "2\r\n", 0666, true, 3000}}},
  };
}

// The other ways of running: -doifmodified, extraction, a setting file and
// -version.
std::vector<Job> otherJobs() {
  return {
      {"doifmodified",
       {{"a.vsk", "a\n"}, {"00.txt", "a\n", 500}, {"b.vsk", "b\n"}, {"01.txt", "outdated", 2000}},
       {"a.vsk", "b.vsk", "-doifmodified"},
       "",
       false,
       // 00.txt is newer than its source and stays.
       {{"01.txt", "b\n", 0644, false}}},
      {"extraction",
       {{"a.vsk", "a\n"},
        {"sub/b.vsk", "b\n"},
        {"sub/c.txt", "not a source"},
        {"00.txt", "old0", 2000},
        {"01.txt", "old1", 2000}},
       {},
       "",
       false,
       {{"00.txt", "a\n", 0644, false}, {"01.txt", "b\n", 0644, false}}},
      {"setting file",
       {{"veskenv.yml",
         "---\nvesk:\n  d: out\n  includes:\n    - a.vsk:3\n    - sub/b.vsk\n"
         "  variables:\n    v: 3\n"},
        {"a.vsk", "${v}\n"},
        {"sub/b.vsk", "b ${v}\n"},
        {"out/03.txt", "old3", 2000}},
       {},
       "out/",
       false,
       {{"out/03.txt", "3\r\n", 0644, false}, {"out/00.txt", "b 3\r\n", 0666, true}}},
      {"version", {}, {"-version"}, "", false},
  };
}

}  // namespace

const std::vector<Job>& jobs() {
  static const std::vector<Job> all = [] {
    std::vector<Job> every = conversionJobs();
    for (Job& job : otherJobs()) every.push_back(std::move(job));
    return every;
  }();
  return all;
}

const Job& largeRewrite() {
  static const Job job = {
      "large rewrite",
      {{"a.vsk", fault::largeSource(std::size_t{5} << 19, 1)}, {"00.txt", "old0", 2000}},
      {"a.vsk", "-variables:v=1"},
      "",
      false};
  return job;
}

Snapshot snapshot(const e2e::Sandbox& box) {
  Snapshot files;
  for (const auto& entry : fs::recursive_directory_iterator(box.progDir())) {
    if (!entry.is_regular_file() || entry.path() == box.program()) continue;
    struct stat st {};
    if (::stat(entry.path().c_str(), &st) != 0) continue;
    FileState& state = files[fs::relative(entry.path(), box.progDir()).string()];
    state.bytes = e2e::readFile(entry.path());
    state.mode = st.st_mode & 07777;
    state.mtimeNs = st.st_mtim.tv_sec * std::int64_t{1000000000} + st.st_mtim.tv_nsec;
    state.link = entry.is_symlink();
  }
  return files;
}

std::string checkOutputs(const Job& job, const Snapshot& before, const Snapshot& after,
                         unsigned umask) {
  std::string what;
  Snapshot expected = before;
  for (const OutputSpec& out : job.outputs) {
    FileState& state = expected[out.name];
    state.bytes = out.bytes;
    state.mode = out.fresh ? out.mode & ~umask : out.mode;
    state.mtimeNs = out.age < 0 ? -1 : (kBaseTime - out.age) * std::int64_t{1000000000};
  }
  for (const auto& [name, state] : after) {
    auto want = expected.find(name);
    if (want == expected.end()) {
      what += name + " was made; ";
      continue;
    }
    if (state.bytes != want->second.bytes) what += name + " has other bytes; ";
    if (state.mode != want->second.mode) what += name + " has other bits; ";
    if (want->second.mtimeNs >= 0 && state.mtimeNs != want->second.mtimeNs)
      what += name + " has another time; ";
  }
  for (const auto& entry : expected) {
    if (!after.contains(entry.first)) what += entry.first + " is missing; ";
  }
  return what;
}

void setUp(const e2e::Sandbox& box, const Job& job) {
  for (const auto& entry : fs::directory_iterator(box.progDir())) {
    if (entry.path() != box.program()) fs::remove_all(entry.path());
  }
  for (const FileSpec& file : job.files) {
    if (!file.linkTo.empty()) {
      fs::create_symlink(file.linkTo, box.path(file.name));
      continue;
    }
    box.write(file.name, file.bytes);
    fs::permissions(box.path(file.name), static_cast<fs::perms>(file.mode));
    timespec times[2] = {{kBaseTime - file.age, 0}, {kBaseTime - file.age, 0}};
    if (::utimensat(AT_FDCWD, box.path(file.name).c_str(), times, 0) != 0)
      throw std::runtime_error("utimensat " + file.name);
  }
}

}  // namespace fault
