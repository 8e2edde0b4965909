// Runs the built program in throw-away directories for the end-to-end tests.
//
// Environment:
//   VESK_PROGRAM      the program file under test (copied into each sandbox)
//   VESK_TRACE_BUILD  1 when that program is the trace build
//   VESK_RUNNER       optional command prefix, e.g. "wine"
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace e2e {

namespace fs = std::filesystem;

struct Result {
  std::string out;  // everything the program wrote to standard output
  std::string err;  // standard error (vesk never writes there)
  int status = -1;  // exit status, or 128 + signal
};

bool traceBuild();

// The line in a trace build, nothing in a release build.
std::string traceLine(std::string_view line);

class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  // The directory that holds the copied program, and one to start it from.
  const fs::path& progDir() const { return progDir_; }
  const fs::path& elsewhere() const { return elsewhere_; }
  const fs::path& program() const { return program_; }

  // Files below the program's directory.
  void write(const std::string& relative, std::string_view bytes) const;
  std::string read(const std::string& relative) const;
  bool exists(const std::string& relative) const;
  fs::path path(const std::string& relative) const { return progDir_ / relative; }

  // Starts the program by its absolute path from elsewhere().
  Result run(const std::vector<std::string>& args) const;
  // Starts it with an explicit argv[0] and working directory.
  Result runAs(const std::string& argv0, const fs::path& cwd,
               const std::vector<std::string>& args) const;
  // Starts it with that argv[0] from a directory that is removed once the
  // program is in it.
  Result runFromRemovedDir(const std::string& argv0, const std::vector<std::string>& args) const;

  // Where the program's standard output goes: the test's pipe, a full
  // device (every write fails with "no space"), or a pipe that nobody reads.
  enum class Stdout { Captured, DiskFull, ClosedPipe };
  void setStdout(Stdout target) { stdout_ = target; }

  // Runs in the child just before the program starts, after its standard
  // streams are set up: to close them, set limits, a umask or another user.
  void setBeforeStart(std::function<void()> hook) { beforeStart_ = std::move(hook); }

  // The locale the program runs under (LANG and LC_ALL); defaultLocale() of
  // expect.h unless a case picks another.
  void setLocale(std::string locale) { locale_ = std::move(locale); }
  const std::string& locale() const { return locale_; }

  // The absolute name under which the program keeps and prints a file of its
  // directory, in the program's own platform form.
  std::string abs(const std::string& relative) const;

  // Names of files in a directory (relative to progDir) that look like
  // leftover temporary outputs.
  std::vector<std::string> temporaries(const std::string& relativeDir = ".") const;

 private:
  Result start(const std::string& argv0, const fs::path& cwd, const std::vector<std::string>& args,
               bool removeCwd) const;

  fs::path root_;
  fs::path progDir_;
  fs::path elsewhere_;
  fs::path program_;
  std::string locale_;
  Stdout stdout_ = Stdout::Captured;
  std::function<void()> beforeStart_;
};

// The last line of a run's output, with its line end: where a failure's
// message stands.
std::string lastLine(const std::string& out);

// Reads and writes whole files.
std::string readFile(const fs::path& path);
void writeFile(const fs::path& path, std::string_view bytes);

}  // namespace e2e
