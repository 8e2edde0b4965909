// Fault injection for vesk-inject: the program linked with -Wl,--wrap=<fn>
// for every C library function the platform layer calls, so that each such
// call from vesk's own objects lands here first. The shim counts the calls
// and makes one of them fail, with the errno that call returns in such a
// failure, as a real disk, directory or stream would.
//
// Environment:
//   VESK_INJECT_AT=n       the n-th counted call fails (1-based); unset: none
//   VESK_INJECT_CALL=name  count only calls of this function
//   VESK_INJECT_ERRNO=e    fail with errno e instead of the usual one
//   VESK_INJECT_REPORT=f   at exit, write "calls <count>\n" and, when the
//                          fault was injected, "fired <function>\n" to f
//
// Race mode, in place of failing calls: stop at a call, let an attacker act,
// then make the call as asked.
//   VESK_RACE_MARK=text    count from the first call whose name holds text
//                          (the output's directory); every call after it is
//                          counted, those that only move bytes (read, write,
//                          copy_file_range, sendfile) aside
//   VESK_RACE_AT=n         at the n-th counted call, before making it, run
//                          /bin/sh -c "$VESK_RACE_ACTION" and wait for it
//   VESK_RACE_UID=u, VESK_RACE_GID=g   the attacker's IDs (unset: the run's)
// The report's "calls" then counts the calls of race mode, "fired" names the
// call the action ran before, and "acted" gives the action's exit status.
//
// The shim allocates nothing and takes no lock, so it may be called from a
// signal handler and from the write-behind thread. The race action forks
// and executes a shell: fork, setresuid and execve are safe in a signal
// handler, and the child touches no lock of the parent's.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <grp.h>
#include <pthread.h>
#include <signal.h>  // NOLINT(modernize-deprecated-headers): struct sigaction is POSIX
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>

extern "C" {
int __real_open(const char* path, int flags, ...);
int __real_openat(int dir, const char* path, int flags, ...);
ssize_t __real_read(int fd, void* buffer, size_t size);
ssize_t __real_write(int fd, const void* data, size_t size);
int __real_close(int fd);
int __real_fstat(int fd, struct stat* st);
int __real_stat(const char* path, struct stat* st);
int __real_lstat(const char* path, struct stat* st);
int __real_statx(int dir, const char* path, int flags, unsigned mask, struct statx* sx);
int __real_faccessat(int dir, const char* path, int mode, int flags);
int __real_mkdir(const char* path, mode_t mode);
DIR* __real_opendir(const char* path);
dirent* __real_readdir(DIR* dir);
int __real_closedir(DIR* dir);
int __real_renameat(int fromDir, const char* from, int toDir, const char* to);
int __real_unlinkat(int dir, const char* path, int flags);
int __real_linkat(int fromDir, const char* from, int toDir, const char* to, int flags);
int __real_fchmod(int fd, mode_t mode);
int __real_fchown(int fd, uid_t owner, gid_t group);
ssize_t __real_readlink(const char* path, char* buffer, size_t size);
int __real_fcntl(int fd, int command, ...);
int __real_futimens(int fd, const timespec times[2]);
char* __real_getcwd(char* buffer, size_t size);
int __real_chdir(const char* path);
char* __real_realpath(const char* path, char* resolved);
ssize_t __real_copy_file_range(int in, off64_t* inOffset, int out, off64_t* outOffset, size_t size,
                               unsigned flags);
ssize_t __real_sendfile(int out, int in, off_t* offset, size_t count);
int __real_sigaction(int number, const struct sigaction* action, struct sigaction* old);
int __real_fstatat(int dir, const char* path, struct stat* st, int flags);
ssize_t __real_readlinkat(int dir, const char* path, char* buffer, size_t size);
ssize_t __real_fgetxattr(int fd, const char* name, void* value, size_t size);
int __real_fsetxattr(int fd, const char* name, const void* value, size_t size, int flags);
int __real_fremovexattr(int fd, const char* name);
}

namespace {

std::atomic<unsigned long> counted{0};
std::atomic<const char*> firedIn{nullptr};
unsigned long failAt = 0;  // 0: no fault
const char* onlyCall = nullptr;
int forcedErrno = 0;
const char* reportFile = nullptr;

const char* raceMark = nullptr;  // race mode when set
const char* raceAction = nullptr;
unsigned long raceAt = 0;
long raceUid = -1;
long raceGid = -1;
std::atomic<bool> raceArmed{false};
std::atomic<int> actionStatus{-1};  // the action's exit status, once it ran

unsigned long parseNumber(const char* text) {
  return text == nullptr ? 0 : std::strtoul(text, nullptr, 10);
}

long parseId(const char* text) { return text == nullptr ? -1 : std::strtol(text, nullptr, 10); }

// The attacker's turn: the action runs to its end as the attacker, with
// /dev/null for its standard streams, so that nothing it leaves running holds
// the run's output open.
void runAction() {
  pid_t child = ::fork();
  if (child < 0) return;
  if (child == 0) {
    int null = __real_open("/dev/null", O_RDWR, 0);
    if (null >= 0) {
      for (int fd = 0; fd <= 2; ++fd) ::dup2(null, fd);
    }
    // A run that is already the attacker (vesk started as that user) keeps
    // its IDs: it may not change them.
    if (raceUid == static_cast<long>(::geteuid())) raceUid = raceGid = -1;
    if (raceGid >= 0 && (::setgroups(0, nullptr) != 0 ||
                         ::setresgid(static_cast<gid_t>(raceGid), static_cast<gid_t>(raceGid),
                                     static_cast<gid_t>(raceGid)) != 0)) {
      ::_exit(126);
    }
    if (raceUid >= 0 && ::setresuid(static_cast<uid_t>(raceUid), static_cast<uid_t>(raceUid),
                                    static_cast<uid_t>(raceUid)) != 0) {
      ::_exit(126);
    }
    char shell[] = "/bin/sh", dashC[] = "-c";
    char* const argv[] = {shell, dashC, const_cast<char*>(raceAction), nullptr};
    ::execve(shell, argv, environ);
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  actionStatus.store(WIFEXITED(status) ? WEXITSTATUS(status) : 128);
}

bool movesBytesOnly(const char* name) {
  for (const char* data : {"read", "write", "copy_file_range", "sendfile"}) {
    if (std::strcmp(name, data) == 0) return true;
  }
  return false;
}

// Race mode: counts a call of `name` on `path` (null: a descriptor's call)
// and runs the action before the chosen one.
void raceStep(const char* name, const char* path) {
  if (!raceArmed.load()) {
    if (path == nullptr || std::strstr(path, raceMark) == nullptr) return;
    raceArmed.store(true);
  }
  if (movesBytesOnly(name)) return;
  unsigned long n = counted.fetch_add(1) + 1;
  if (n != raceAt || raceAction == nullptr) return;
  firedIn.store(name);
  int error = errno;
  runAction();
  errno = error;
}

// Counts a call of `name`; true when this is the one to fail, with errno set.
// `path` is the name the call is given, if any.
bool injected(const char* name, int error, const char* path = nullptr) {
  if (raceMark != nullptr) {
    raceStep(name, path);
    return false;
  }
  if (onlyCall != nullptr && std::strcmp(name, onlyCall) != 0) return false;
  unsigned long n = counted.fetch_add(1) + 1;
  if (n != failAt) return false;
  firedIn.store(name);
  errno = forcedErrno != 0 ? forcedErrno : error;
  return true;
}

// An error for a call that opens `flags`: creating a file fails for want of
// room, opening an existing one for want of permission.
int openError(int flags) { return (flags & (O_CREAT | O_WRONLY | O_RDWR)) != 0 ? ENOSPC : EACCES; }

void append(char*& at, const char* text) {
  std::size_t n = std::strlen(text);
  std::memcpy(at, text, n);
  at += n;
}

void appendNumber(char*& at, unsigned long value) {
  char digits[24];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (count > 0) *at++ = digits[--count];
}

void writeReport() {
  if (reportFile == nullptr) return;
  char text[128];
  char* at = text;
  append(at, "calls ");
  appendNumber(at, counted.load());
  append(at, "\n");
  if (const char* name = firedIn.load()) {
    append(at, "fired ");
    append(at, name);
    append(at, "\n");
  }
  if (int status = actionStatus.load(); status >= 0) {
    append(at, "acted ");
    appendNumber(at, static_cast<unsigned long>(status));
    append(at, "\n");
  }
  int fd = __real_open(reportFile, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return;
  ssize_t ignored = __real_write(fd, text, static_cast<std::size_t>(at - text));
  (void)ignored;
  __real_close(fd);
}

// Before main, so every call of the run is counted; the report is written
// after the program's own exit handlers and static destructors.
__attribute__((constructor)) void setUp() {
  failAt = parseNumber(std::getenv("VESK_INJECT_AT"));
  onlyCall = std::getenv("VESK_INJECT_CALL");
  forcedErrno = static_cast<int>(parseNumber(std::getenv("VESK_INJECT_ERRNO")));
  reportFile = std::getenv("VESK_INJECT_REPORT");
  raceMark = std::getenv("VESK_RACE_MARK");
  raceAction = std::getenv("VESK_RACE_ACTION");
  raceAt = parseNumber(std::getenv("VESK_RACE_AT"));
  raceUid = parseId(std::getenv("VESK_RACE_UID"));
  raceGid = parseId(std::getenv("VESK_RACE_GID"));
  std::atexit(writeReport);
}

mode_t modeArgument(int flags, va_list args) {
  return (flags & (O_CREAT | O_TMPFILE)) != 0 ? static_cast<mode_t>(va_arg(args, unsigned))
                                              : mode_t{0};
}

}  // namespace

extern "C" {

int __wrap_open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = modeArgument(flags, args);
  va_end(args);
  if (injected("open", openError(flags), path)) return -1;
  return __real_open(path, flags, mode);
}

int __wrap_openat(int dir, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = modeArgument(flags, args);
  va_end(args);
  if (injected("openat", openError(flags), path)) return -1;
  return __real_openat(dir, path, flags, mode);
}

ssize_t __wrap_read(int fd, void* buffer, size_t size) {
  if (injected("read", EIO)) return -1;
  return __real_read(fd, buffer, size);
}

// Standard output and error count too: /dev/full gives ENOSPC as well.
ssize_t __wrap_write(int fd, const void* data, size_t size) {
  if (injected("write", ENOSPC)) return -1;
  return __real_write(fd, data, size);
}

// A close that reports EIO has released the descriptor all the same. The
// report tells a written file's close apart: its failure may mean lost data,
// so a run must never ignore it.
int __wrap_close(int fd) {
  if (!injected("close", EIO)) return __real_close(fd);
  int error = errno;
  int flags = ::fcntl(fd, F_GETFL);
  if (error != EINTR && flags >= 0 && (flags & O_ACCMODE) != O_RDONLY) {
    firedIn.store("close of a written file");
  }
  __real_close(fd);
  errno = error;
  return -1;
}

int __wrap_fstat(int fd, struct stat* st) {
  if (injected("fstat", EIO)) return -1;
  return __real_fstat(fd, st);
}

int __wrap_stat(const char* path, struct stat* st) {
  if (injected("stat", EACCES, path)) return -1;
  return __real_stat(path, st);
}

int __wrap_lstat(const char* path, struct stat* st) {
  if (injected("lstat", EACCES, path)) return -1;
  return __real_lstat(path, st);
}

int __wrap_statx(int dir, const char* path, int flags, unsigned mask, struct statx* sx) {
  if (injected("statx", EACCES, path)) return -1;
  return __real_statx(dir, path, flags, mask, sx);
}

int __wrap_faccessat(int dir, const char* path, int mode, int flags) {
  if (injected("faccessat", EACCES, path)) return -1;
  return __real_faccessat(dir, path, mode, flags);
}

int __wrap_mkdir(const char* path, mode_t mode) {
  if (injected("mkdir", EACCES, path)) return -1;
  return __real_mkdir(path, mode);
}

DIR* __wrap_opendir(const char* path) {
  if (injected("opendir", EACCES, path)) return nullptr;
  return __real_opendir(path);
}

// The end of a listing is a null entry with errno unchanged; a failure is a
// null entry with errno set.
dirent* __wrap_readdir(DIR* dir) {
  if (injected("readdir", EIO)) return nullptr;
  return __real_readdir(dir);
}

int __wrap_closedir(DIR* dir) {
  if (!injected("closedir", EIO)) return __real_closedir(dir);
  int error = errno;
  __real_closedir(dir);
  errno = error;
  return -1;
}

int __wrap_renameat(int fromDir, const char* from, int toDir, const char* to) {
  if (injected("renameat", ENOSPC, to)) return -1;
  return __real_renameat(fromDir, from, toDir, to);
}

int __wrap_unlinkat(int dir, const char* path, int flags) {
  if (injected("unlinkat", EACCES, path)) return -1;
  return __real_unlinkat(dir, path, flags);
}

int __wrap_linkat(int fromDir, const char* from, int toDir, const char* to, int flags) {
  if (injected("linkat", ENOSPC, to)) return -1;
  return __real_linkat(fromDir, from, toDir, to, flags);
}

int __wrap_fchmod(int fd, mode_t mode) {
  if (injected("fchmod", EPERM)) return -1;
  return __real_fchmod(fd, mode);
}

int __wrap_fchown(int fd, uid_t owner, gid_t group) {
  if (injected("fchown", EIO)) return -1;
  return __real_fchown(fd, owner, group);
}

ssize_t __wrap_readlink(const char* path, char* buffer, size_t size) {
  if (injected("readlink", EACCES, path)) return -1;
  return __real_readlink(path, buffer, size);
}

// The platform layer passes fcntl an int argument or none.
int __wrap_fcntl(int fd, int command, ...) {
  va_list args;
  va_start(args, command);
  int argument = va_arg(args, int);
  va_end(args);
  if (injected("fcntl", EBADF)) return -1;
  return __real_fcntl(fd, command, argument);
}

int __wrap_futimens(int fd, const timespec times[2]) {
  if (injected("futimens", EPERM)) return -1;
  return __real_futimens(fd, times);
}

char* __wrap_getcwd(char* buffer, size_t size) {
  if (injected("getcwd", ENOENT)) return nullptr;
  return __real_getcwd(buffer, size);
}

int __wrap_chdir(const char* path) {
  if (injected("chdir", EACCES, path)) return -1;
  return __real_chdir(path);
}

char* __wrap_realpath(const char* path, char* resolved) {
  if (injected("realpath", EACCES, path)) return nullptr;
  return __real_realpath(path, resolved);
}

ssize_t __wrap_copy_file_range(int in, off64_t* inOffset, int out, off64_t* outOffset, size_t size,
                               unsigned flags) {
  if (injected("copy_file_range", ENOSPC)) return -1;
  return __real_copy_file_range(in, inOffset, out, outOffset, size, flags);
}

ssize_t __wrap_sendfile(int out, int in, off_t* offset, size_t count) {
  if (injected("sendfile", ENOSPC)) return -1;
  return __real_sendfile(out, in, offset, count);
}

// Installing the interrupt handlers is not a fault a run can meet; it is
// passed through uncounted.
int __wrap_sigaction(int number, const struct sigaction* action, struct sigaction* old) {
  return __real_sigaction(number, action, old);
}

// Threads are started inside the C++ library (std::thread), out of --wrap's
// reach; this definition in the program takes the C library's place for
// every caller and passes the call on. vesk starts a thread only to write a
// large output behind, and writes it itself when none can be started.
int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*),
                   void* argument) noexcept {
  if (injected("pthread_create", EAGAIN)) return forcedErrno != 0 ? forcedErrno : EAGAIN;
  using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
  static const auto real = reinterpret_cast<Create>(::dlsym(RTLD_NEXT, "pthread_create"));
  return real(thread, attributes, start, argument);
}

int __wrap_fstatat(int dir, const char* path, struct stat* st, int flags) {
  if (injected("fstatat", EACCES, path)) return -1;
  return __real_fstatat(dir, path, st, flags);
}

ssize_t __wrap_readlinkat(int dir, const char* path, char* buffer, size_t size) {
  if (injected("readlinkat", EACCES, path)) return -1;
  return __real_readlinkat(dir, path, buffer, size);
}

ssize_t __wrap_fgetxattr(int fd, const char* name, void* value, size_t size) {
  if (injected("fgetxattr", EIO)) return -1;
  return __real_fgetxattr(fd, name, value, size);
}

int __wrap_fsetxattr(int fd, const char* name, const void* value, size_t size, int flags) {
  if (injected("fsetxattr", ENOSPC)) return -1;
  return __real_fsetxattr(fd, name, value, size, flags);
}

int __wrap_fremovexattr(int fd, const char* name) {
  if (injected("fremovexattr", EIO)) return -1;
  return __real_fremovexattr(fd, name);
}

}  // extern "C"
