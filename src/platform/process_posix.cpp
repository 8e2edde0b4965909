// The process and its standard streams, for POSIX.
#include <fcntl.h>
#include <sys/auxv.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>

#include "base/exception.h"
#include "platform/posix_util.h"

namespace vesk::platform {
namespace {

// Set when standard output was closed at start: everything printed is lost.
bool standardOutputClosed = false;

// Opens the null device on each of descriptors 0-2 that is closed. Each open
// takes the lowest free number, which is the one being filled, since those
// below it are open by then.
void fillStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    UniqueFd null(::open("/dev/null", O_RDWR));
    if (null.get() != fd) {
      // Without it, the first file opened would take the number: no file may
      // be touched.
      fail("/dev/null", null ? EBADF : errno);
    }
    null.release();  // it stays open as the standard stream
    if (fd == STDOUT_FILENO) standardOutputClosed = true;
  }
}

}  // namespace

void prepareProcess() {
  static bool prepared = false;
  if (prepared) return;
  prepared = true;
  fillStandardDescriptors();
  // Started with more privileges than its user's own, vesk would write and
  // read files for that user that the user may not touch.
  if (::getauxval(AT_SECURE) != 0 || ::getuid() != ::geteuid() || ::getgid() != ::getegid()) {
    throw Exception("vesk does not run set-user-ID or set-group-ID, or with file capabilities");
  }
  // Past the file-size limit, write() then fails with EFBIG, which is
  // reported like a full disk; a write to a pipe whose reader has gone fails
  // with EPIPE, reported like any other failed write.
  ::signal(SIGXFSZ, SIG_IGN);
  ::signal(SIGPIPE, SIG_IGN);
  processUmask();
  installInterruptCleanup();
}

std::vector<std::string> arguments(int argc, char** argv) {
  std::vector<std::string> result;
  result.reserve(argc > 0 ? static_cast<std::size_t>(argc) : 0);
  for (int i = 0; i < argc; ++i) result.emplace_back(argv[i] != nullptr ? argv[i] : "");
  return result;
}

std::string currentDir() {
  std::string buffer(PATH_MAX, '\0');
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) fail(".", errno);
    buffer.resize(buffer.size() * 2);
  }
  buffer.resize(std::strlen(buffer.c_str()));
  return buffer;
}

void changeDir(const std::string& dir) {
  if (::chdir(dir.c_str()) != 0) fail(dir, errno);
}

void writeStandardOutput(std::string_view text) {
  int error = standardOutputClosed ? EBADF : writeAll(STDOUT_FILENO, text.data(), text.size());
  if (error != 0) fail("standard output", error);
}

void writeStandardError(std::string_view text) noexcept {
  writeAll(STDERR_FILENO, text.data(), text.size());
}

}  // namespace vesk::platform
