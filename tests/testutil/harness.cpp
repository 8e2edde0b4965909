#include "testutil/harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>  // NOLINT(modernize-deprecated-headers): kill() is POSIX
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "testutil/expect.h"

namespace e2e {
namespace {

constexpr auto kRunLimit = std::chrono::seconds(120);

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

std::vector<std::string> splitWords(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// Drains both pipes until the child closes them, killing it past the limit.
void collect(int outFd, int errFd, pid_t child, Result& result) {
  auto deadline = std::chrono::steady_clock::now() + kRunLimit;
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = (outFd >= 0 ? 1 : 0) + (errFd >= 0 ? 1 : 0);
  char buffer[65536];
  while (open > 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      break;
    }
    if (poll(fds, 2, 1000) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (auto& fd : fds) {
    if (fd.fd >= 0) close(fd.fd);
  }
}

}  // namespace

bool traceBuild() { return env("VESK_TRACE_BUILD") == "1"; }

std::string traceLine(std::string_view line) {
  return traceBuild() ? std::string(line) : std::string();
}

std::string lastLine(const std::string& out) {
  std::size_t end = out.size() - (out.ends_with('\n') ? 1 : 0);
  std::size_t start = out.rfind('\n', end - 1);
  return out.substr(start == std::string::npos ? 0 : start + 1);
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const fs::path& path, std::string_view bytes) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

Sandbox::Sandbox() {
  std::string pattern = (fs::temp_directory_path() / "vesk-e2e-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
  progDir_ = root_ / "prog";
  elsewhere_ = root_ / "elsewhere";
  fs::create_directories(progDir_);
  fs::create_directories(elsewhere_);
  fs::path source = env("VESK_PROGRAM");
  if (source.empty()) throw std::runtime_error("VESK_PROGRAM is not set");
  program_ = progDir_ / source.filename();
  fs::copy_file(source, program_);
  locale_ = defaultLocale();
}

Sandbox::~Sandbox() {
  std::error_code ignored;
  // Tests may leave read-only directories behind; make them removable.
  for (auto it = fs::recursive_directory_iterator(root_, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
  }
  fs::remove_all(root_, ignored);
}

void Sandbox::write(const std::string& relative, std::string_view bytes) const {
  writeFile(progDir_ / relative, bytes);
}

std::string Sandbox::read(const std::string& relative) const {
  return readFile(progDir_ / relative);
}

bool Sandbox::exists(const std::string& relative) const {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(progDir_ / relative, ignored));
}

Result Sandbox::run(const std::vector<std::string>& args) const {
  return runAs(program_.string(), elsewhere_, args);
}

Result Sandbox::runAs(const std::string& argv0, const fs::path& cwd,
                      const std::vector<std::string>& args) const {
  return start(argv0, cwd, args, false);
}

Result Sandbox::runFromRemovedDir(const std::string& argv0,
                                  const std::vector<std::string>& args) const {
  fs::path gone = root_ / "gone";
  fs::create_directory(gone);
  return start(argv0, gone, args, true);
}

Result Sandbox::start(const std::string& argv0, const fs::path& cwd,
                      const std::vector<std::string>& args, bool removeCwd) const {
  std::vector<std::string> command = splitWords(env("VESK_RUNNER"));
  std::string executable = command.empty() ? program_.string() : command.front();
  std::vector<std::string> start = startWords(argv0, !command.empty());
  command.insert(command.end(), start.begin(), start.end());
  command.insert(command.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& word : command) argv.push_back(word.data());
  argv.push_back(nullptr);

  int outPipe[2], errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) throw std::runtime_error("pipe failed");
  if (stdout_ == Stdout::ClosedPipe) {
    // Nobody will ever read: every write to standard output fails.
    close(outPipe[0]);
    outPipe[0] = -1;
  }
  pid_t child = fork();
  if (child == 0) {
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    dup2(outPipe[1], 1);
    if (stdout_ == Stdout::DiskFull) dup2(open("/dev/full", O_WRONLY), 1);
    dup2(errPipe[1], 2);
    if (outPipe[0] >= 0) close(outPipe[0]);
    close(errPipe[0]);
    if (chdir(cwd.c_str()) != 0) _exit(126);
    if (removeCwd && rmdir(cwd.c_str()) != 0) _exit(126);
    if (!locale_.empty()) {
      setenv("LANG", locale_.c_str(), 1);
      setenv("LC_ALL", locale_.c_str(), 1);
    }
    if (beforeStart_) beforeStart_();
    if (command.size() == args.size() + 1) {
      // No runner: argv[0] may differ from the file that is executed.
      execv(executable.c_str(), argv.data());
    } else {
      execvp(executable.c_str(), argv.data());
    }
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  Result result;
  collect(outPipe[0], errPipe[0], child, result);
  int wstatus = 0;
  waitpid(child, &wstatus, 0);
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  return result;
}

std::string Sandbox::abs(const std::string& relative) const {
  return nativeAbsolute(progDir_) + separator() + nativeRelative(relative);
}

std::vector<std::string> Sandbox::temporaries(const std::string& relativeDir) const {
  std::vector<std::string> found;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(progDir_ / relativeDir, ignored)) {
    std::string name = entry.path().filename().string();
    if (name.find("vesk-tmp") != std::string::npos) found.push_back(name);
  }
  return found;
}

}  // namespace e2e
