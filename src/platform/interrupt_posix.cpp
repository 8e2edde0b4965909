// Temporary files and the interrupt handler that removes them, for POSIX.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>

#include "platform/internal.h"
#include "platform/posix_util.h"

namespace vesk::platform {
namespace {

// The handler allocates nothing, so the names wait in fixed buffers; a name
// that does not fit goes unnoted.
using PendingName = char[PATH_MAX];

// A temporary is its owner's alone until it gets the output's bits at commit,
// so that nobody else can open it while a private source is copied in.
constexpr mode_t kPrivate = 0600;
PendingTemporaries<PendingName, 8> pending;

constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT, SIGXCPU};

void rememberTemporary(const std::string& name) noexcept {
  if (name.size() >= PATH_MAX) return;
  pending.add([&](PendingName& slot) { std::memcpy(slot, name.c_str(), name.size() + 1); });
}

void forgetTemporary(const std::string& name) noexcept {
  pending.mark([&](const PendingName& slot) { return name == slot; }, kFree);
}

// Removes the noted temporaries, then ends the process as the signal would
// have without the handler. Only async-signal-safe calls.
extern "C" void removeTemporariesAndDie(int signal) {
  for (auto& slot : pending) {
    int expected = kNamed;
    if (slot.state.compare_exchange_strong(expected, kRemoving)) ::unlink(slot.name);
  }
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal, &action, nullptr);
  // The signal is blocked while its handler runs: raised now, it is pending,
  // and unblocking it delivers it.
  ::raise(signal);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

std::string temporaryBeside(const std::string& file) {
  return temporaryName(file, "/", "./", static_cast<unsigned long>(::getpid()));
}

std::string directoryOf(const std::string& file) {
  std::size_t slash = file.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : file.substr(0, slash);
}

// An unnamed temporary file in the directory of `file`, or none where the
// system or the file system offers none. It gets its name only at commit,
// through /proc/self/fd, so that until then nothing can be left behind.
UniqueFd createUnnamed(const std::string& file) {
#ifdef O_TMPFILE
  static const bool linkable = ::faccessat(AT_FDCWD, "/proc/self/fd", X_OK, 0) == 0;
  if (!linkable) return UniqueFd();
  int fd;
  do {
    fd = ::open(directoryOf(file).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, kPrivate);
  } while (fd < 0 && errno == EINTR);
  return UniqueFd(fd);
#else
  (void)file;
  return UniqueFd();
#endif
}

// Gives an unnamed temporary a name beside `file`. Returns 0 or errno.
int linkUnnamed(int fd, const std::string& file, std::string& temporary) {
  const std::string open = "/proc/self/fd/" + std::to_string(fd);
  for (int attempt = 0;; ++attempt) {
    temporary = temporaryBeside(file);
    rememberTemporary(temporary);
    if (::linkat(AT_FDCWD, open.c_str(), AT_FDCWD, temporary.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      return 0;
    }
    int error = errno;
    forgetTemporary(temporary);
    temporary.clear();
    if ((error == EEXIST || error == EINTR) && attempt < 100) continue;
    return error;
  }
}

}  // namespace

void installInterruptCleanup() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  struct sigaction action {};
  action.sa_handler = removeTemporariesAndDie;
  sigemptyset(&action.sa_mask);
  for (int signal : kInterrupts) sigaddset(&action.sa_mask, signal);
  for (int signal : kInterrupts) {
    // A signal ignored by whoever started vesk (nohup, a background job)
    // stays ignored.
    struct sigaction previous {};
    if (::sigaction(signal, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) continue;
    ::sigaction(signal, &action, nullptr);
  }
}

UniqueFd createTemporary(const std::string& target, const std::string& file,
                         std::string& temporary) {
  temporary.clear();
  // Any failure of the unnamed kind (not offered here, or a real error that
  // the named kind then reports in its own words) falls back to a name.
  UniqueFd unnamed = createUnnamed(file);
  if (unnamed) return unnamed;
  for (int attempt = 0;; ++attempt) {
    temporary = temporaryBeside(file);
    rememberTemporary(temporary);
    UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kPrivate));
    if (fd) return fd;
    int error = errno;
    forgetTemporary(temporary);
    if ((error == EEXIST || error == EINTR) && attempt < 100) continue;
    temporary.clear();
    fail(target, error);
  }
}

void discardTemporary(UniqueFd fd, std::string& temporary) noexcept {
  fd.reset();
  if (temporary.empty()) return;
  ::unlink(temporary.c_str());
  forgetTemporary(temporary);
  temporary.clear();
}

void finishTemporary(const std::string& target, const std::string& file, std::string& temporary,
                     UniqueFd fd) {
  int error = temporary.empty() ? linkUnnamed(fd.get(), file, temporary) : 0;
  int closeError = fd.close();
  if (error == 0) error = closeError;
  if (error == 0 && ::rename(temporary.c_str(), file.c_str()) != 0) error = errno;
  if (error != 0 && !temporary.empty()) ::unlink(temporary.c_str());
  forgetTemporary(temporary);
  temporary.clear();
  if (error != 0) fail(target, error);
}

}  // namespace vesk::platform
