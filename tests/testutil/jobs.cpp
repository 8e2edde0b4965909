#include "testutil/jobs.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <stdexcept>

#include "testutil/fault.h"

namespace fault {

constexpr time_t kBaseTime = 1700000000;

const std::vector<Job>& jobs() {
  static const std::vector<Job> all = {
      {"copy",
       {{"a.vsk", "a\n"},
        {"b.vsk", "b1\nb2\n"},
        {"00.txt", "old0", 2000, 0640},
        {"real01.txt", "old1", 2000},
        {"01.txt", "", 0, 0, "real01.txt"}},
       {"a.vsk", "b.vsk"},
       "",
       false},
      {"rewrite",
       {{"a.vsk", "x ${v}\nplain\n"},
        {"b.vsk", "${w}\r\n"},
        {"00.txt", "old0", 2000, 0640},
        {"05.txt", "old5", 2000}},
       {"a.vsk", "b.vsk:5", "-variables:v=1"},
       "",
       false},
      {"sync copy",
       {{"a.vsk", "a\n", 3000}, {"b.vsk", "b\n", 4000}, {"00.txt", "old0", 2000}},
       {"a.vsk", "b.vsk", "-sync"},
       "",
       true},
      {"sync rewrite into a new directory",
       {{"a.vsk", "${v}\n", 3000}},
       {"a.vsk", "-sync", "-variables:v=2", "-d:made"},
       "made/",
       true},
      {"doifmodified",
       {{"a.vsk", "a\n"}, {"00.txt", "a\n", 500}, {"b.vsk", "b\n"}, {"01.txt", "outdated", 2000}},
       {"a.vsk", "b.vsk", "-doifmodified"},
       "",
       false},
      {"extraction",
       {{"a.vsk", "a\n"},
        {"sub/b.vsk", "b\n"},
        {"sub/c.txt", "not a source"},
        {"00.txt", "old0", 2000},
        {"01.txt", "old1", 2000}},
       {},
       "",
       false},
      {"setting file",
       {{"veskenv.yml",
         "---\nvesk:\n  d: out\n  includes:\n    - a.vsk:3\n    - sub/b.vsk\n"
         "  variables:\n    v: 3\n"},
        {"a.vsk", "${v}\n"},
        {"sub/b.vsk", "b ${v}\n"},
        {"out/03.txt", "old3", 2000}},
       {},
       "out/",
       false},
      {"version", {}, {"-version"}, "", false},
  };
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
