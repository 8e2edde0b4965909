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

// The handler allocates nothing, so the names wait in fixed records: the
// directory, and the name within it; a name that does not fit goes unnoted.
struct PendingName {
  int dir;
  char name[NAME_MAX + 1];
};

// A temporary is its owner's alone until it gets the output's bits at commit,
// so that nobody else can open it while a private source is copied in.
constexpr mode_t kPrivate = 0600;
PendingTemporaries<PendingName, 8> pending;

constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT, SIGXCPU};

// The last part of a name: what the directory holds it as.
std::string baseOf(const std::string& name) {
  std::size_t slash = name.rfind('/');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

void rememberTemporary(int dir, const std::string& base) noexcept {
  if (base.size() > NAME_MAX) return;
  pending.add([&](PendingName& slot) {
    slot.dir = dir;
    std::memcpy(slot.name, base.c_str(), base.size() + 1);
  });
}

void forgetTemporary(int dir, const std::string& base) noexcept {
  pending.mark([&](const PendingName& slot) { return slot.dir == dir && base == slot.name; },
               kFree);
}

// Removes the noted temporaries, then ends the process as the signal would
// have without the handler. Only async-signal-safe calls.
extern "C" void removeTemporariesAndDie(int signal) {
  for (auto& slot : pending) {
    int expected = kNamed;
    if (slot.state.compare_exchange_strong(expected, kRemoving)) {
      ::unlinkat(slot.name.dir, slot.name.name, 0);
    }
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

// Opens the directory that holds `file`, to name temporaries relative to it.
UniqueFd openDirectoryOf(const std::string& target, const std::string& file) {
  int fd;
  do {
    fd = ::open(directoryOf(file).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) fail(target, errno);
  return UniqueFd(fd);
}

// An unnamed temporary file in `dir`, or none where the system or the file
// system offers none. It gets its name only at commit, through
// /proc/self/fd, so that until then nothing can be left behind.
UniqueFd createUnnamed(int dir) {
#ifdef O_TMPFILE
  static const bool linkable = ::faccessat(AT_FDCWD, "/proc/self/fd", X_OK, 0) == 0;
  if (!linkable) return UniqueFd();
  int fd;
  do {
    fd = ::openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, kPrivate);
  } while (fd < 0 && errno == EINTR);
  return UniqueFd(fd);
#else
  (void)dir;
  return UniqueFd();
#endif
}

// Makes the file a fresh name beside `file` with `place` (which creates it
// or links it there and returns 0 or errno), trying the next name while one
// is taken. Returns 0 or errno; on success the name is noted.
template <class Place>
int placeBeside(const std::string& file, Temporary& t, Place&& place) {
  for (int attempt = 0;; ++attempt) {
    std::string name = temporaryBeside(file);
    std::string base = baseOf(name);
    rememberTemporary(t.dir.get(), base);
    int error = place(base);
    if (error == 0) {
      t.name = std::move(name);
      return 0;
    }
    forgetTemporary(t.dir.get(), base);
    if ((error == EEXIST || error == EINTR) && attempt < 100) continue;
    return error;
  }
}

// Gives an unnamed temporary a name beside `file`. Returns 0 or errno.
int linkUnnamed(const std::string& file, Temporary& t) {
  const std::string open = "/proc/self/fd/" + std::to_string(t.file.get());
  return placeBeside(file, t, [&](const std::string& base) {
    return ::linkat(AT_FDCWD, open.c_str(), t.dir.get(), base.c_str(), AT_SYMLINK_FOLLOW) == 0
               ? 0
               : errno;
  });
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

Temporary createTemporary(const std::string& target, const std::string& file) {
  Temporary t;
  t.dir = openDirectoryOf(target, file);
  // Any failure of the unnamed kind (not offered here, or a real error that
  // the named kind then reports in its own words) falls back to a name.
  t.file = createUnnamed(t.dir.get());
  if (t.file) return t;
  int error = placeBeside(file, t, [&](const std::string& base) {
    t.file = UniqueFd(
        ::openat(t.dir.get(), base.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kPrivate));
    return t.file ? 0 : errno;
  });
  if (error != 0) fail(target, error);
  return t;
}

void discardTemporary(Temporary& t) noexcept {
  t.file.reset();
  if (!t.name.empty()) {
    std::string base = baseOf(t.name);
    ::unlinkat(t.dir.get(), base.c_str(), 0);
    forgetTemporary(t.dir.get(), base);
    t.name.clear();
  }
  t.dir.reset();
}

void finishTemporary(const std::string& target, const std::string& file, Temporary& t) {
  int error = t.name.empty() ? linkUnnamed(file, t) : 0;
  int closeError = t.file.close();
  if (error == 0) error = closeError;
  const std::string base = baseOf(t.name);
  if (error == 0 && ::renameat(t.dir.get(), base.c_str(), t.dir.get(), baseOf(file).c_str()) != 0) {
    error = errno;
  }
  if (error != 0 && !t.name.empty()) ::unlinkat(t.dir.get(), base.c_str(), 0);
  if (!t.name.empty()) forgetTemporary(t.dir.get(), base);
  t.name.clear();
  t.dir.reset();
  if (error != 0) fail(target, error);
}

}  // namespace vesk::platform
