// The operating-system layer for Linux and other POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include "base/exception.h"
#include "platform/platform.h"

namespace vesk::platform {
namespace {

[[noreturn]] void fail(const std::string& name, int error) {
  throw FileException(name, std::strerror(error));
}

std::int64_t floorDiv(std::int64_t value, std::int64_t divisor) {
  std::int64_t q = value / divisor;
  if (value % divisor != 0 && value < 0) --q;
  return q;
}

Millis toMillis(std::int64_t seconds, std::int64_t nanoseconds) {
  return seconds * 1000 + nanoseconds / 1000000;
}

timespec toTimespec(Millis ms) {
  timespec ts{};
  std::int64_t seconds = floorDiv(ms, 1000);
  ts.tv_sec = static_cast<time_t>(seconds);
  ts.tv_nsec = static_cast<long>((ms - seconds * 1000) * 1000000);
  return ts;
}

void closeQuietly(int fd) noexcept {
  if (fd >= 0) ::close(fd);
}

// close() that reports its error; EINTR means the descriptor is gone already.
int closeChecked(int fd) {
  if (::close(fd) != 0 && errno != EINTR) return errno;
  return 0;
}

int openForReading(const std::string& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) fail(path, errno);
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    int error = errno;
    closeQuietly(fd);
    fail(path, error);
  }
  if (S_ISDIR(st.st_mode)) {
    closeQuietly(fd);
    fail(path, EISDIR);
  }
  return fd;
}

// Writes all of data, retrying short writes; returns 0 or errno.
int writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return 0;
}

// The file that writing to `target` would really change: a symbolic link is
// followed, so that replacing the file keeps the link, as an in-place write
// would. Anything else (including a dangling link) is the name itself.
// A name that cannot be looked at is refused: taking it for a missing file
// would replace a link, or drop a read-only file's protection.
bool isMissing(int error) { return error == ENOENT || error == ENOTDIR; }

std::string replacedFile(const std::string& target) {
  struct stat st;
  if (::lstat(target.c_str(), &st) != 0) {
    if (isMissing(errno)) return target;
    fail(target, errno);
  }
  if (!S_ISLNK(st.st_mode)) return target;
  char* resolved = ::realpath(target.c_str(), nullptr);
  if (resolved == nullptr) {
    if (isMissing(errno)) return target;  // a dangling link
    fail(target, errno);
  }
  std::string result(resolved);
  std::free(resolved);
  return result;
}

// Refuses targets that an in-place write could not change either: a
// directory, or an existing file we may not write (a read-only output stays
// read-only). Returns the target's permission bits, or -1 when it is missing.
int checkReplaceable(const std::string& target, const std::string& file) {
  struct stat st;
  if (::stat(file.c_str(), &st) != 0) {
    if (isMissing(errno)) return -1;
    fail(target, errno);
  }
  if (S_ISDIR(st.st_mode)) fail(target, EISDIR);
  if (::faccessat(AT_FDCWD, file.c_str(), W_OK, AT_EACCESS) != 0) fail(target, EACCES);
  return static_cast<int>(st.st_mode & 07777);
}

// ---- Temporary files and interrupts --------------------------------------
//
// The names of the temporary files being written, for the interrupt handler
// to remove. The slots are fixed memory, so that the handler allocates
// nothing; a slot is filled before its file may exist and freed once the
// file is gone or renamed.
constexpr int kFree = 0, kFilling = 1, kNamed = 2, kClaimed = 3;
struct PendingTemporary {
  std::atomic<int> state{kFree};
  char name[PATH_MAX];
};
static_assert(std::atomic<int>::is_always_lock_free, "the handler needs lock-free slots");
PendingTemporary pendingTemporaries[8];

constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// Notes a temporary's name for the handler. A name that does not fit, or one
// beyond the few outputs written at once, goes unnoted.
void rememberTemporary(const std::string& name) noexcept {
  if (name.size() >= PATH_MAX) return;
  for (PendingTemporary& slot : pendingTemporaries) {
    int expected = kFree;
    if (!slot.state.compare_exchange_strong(expected, kFilling)) continue;
    std::memcpy(slot.name, name.c_str(), name.size() + 1);
    slot.state.store(kNamed);
    return;
  }
}

void forgetTemporary(const std::string& name) noexcept {
  for (PendingTemporary& slot : pendingTemporaries) {
    if (slot.state.load() != kNamed || name != slot.name) continue;
    // A slot the handler has claimed stays so: the process is ending.
    int expected = kNamed;
    slot.state.compare_exchange_strong(expected, kFree);
    return;
  }
}

// Removes the noted temporaries, then ends the process as the signal would
// have without the handler. Only async-signal-safe calls.
extern "C" void removeTemporariesAndDie(int signal) {
  for (PendingTemporary& slot : pendingTemporaries) {
    int expected = kNamed;
    if (slot.state.compare_exchange_strong(expected, kClaimed)) ::unlink(slot.name);
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

std::string directoryOf(const std::string& file) {
  std::size_t slash = file.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : file.substr(0, slash);
}

// A fresh name for a temporary file beside `file`:
// ".<base>.<pid>-<counter>.vesk-tmp".
std::string temporaryName(const std::string& file) {
  static unsigned counter = 0;
  std::string dir = directoryOf(file);
  if (dir == "/") dir.clear();  // a file in "/": "" + "/" + name
  std::size_t slash = file.rfind('/');
  std::string base = slash == std::string::npos ? file : file.substr(slash + 1);
  // Keep the temporary name within the usual 255-byte limit for long names.
  if (base.size() > 200) base.resize(200);
  return dir + "/." + base + "." + std::to_string(::getpid()) + "-" + std::to_string(counter++) +
         ".vesk-tmp";
}

// An unnamed temporary file in the directory of `file`, or -1 where the
// system or the file system offers none. It gets its name only at commit,
// through /proc/self/fd, so that until then nothing can be left behind.
int createUnnamed(const std::string& file) {
#ifdef O_TMPFILE
  static const bool linkable = ::faccessat(AT_FDCWD, "/proc/self/fd", X_OK, 0) == 0;
  if (!linkable) return -1;
  int fd;
  do {
    fd = ::open(directoryOf(file).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
#else
  (void)file;
  return -1;
#endif
}

// Creates a new, empty temporary file for `file`: an unnamed one (temporary
// is left empty) where possible, else a named one beside it. Failures name
// `target`.
int createTemporary(const std::string& target, const std::string& file, std::string& temporary) {
  temporary.clear();
  // Any failure of the unnamed kind (not offered here, or a real error that
  // the named kind then reports in its own words) falls back to a name.
  int fd = createUnnamed(file);
  if (fd >= 0) return fd;
  for (int attempt = 0;; ++attempt) {
    temporary = temporaryName(file);
    rememberTemporary(temporary);
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) return fd;
    int error = errno;
    forgetTemporary(temporary);
    if ((error == EEXIST || error == EINTR) && attempt < 100) continue;
    temporary.clear();
    fail(target, error);
  }
}

// Gives an unnamed temporary a name beside `file`. Returns 0 or errno.
int linkUnnamed(int fd, const std::string& file, std::string& temporary) {
  const std::string open = "/proc/self/fd/" + std::to_string(fd);
  for (int attempt = 0;; ++attempt) {
    temporary = temporaryName(file);
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

// Closes a temporary that is not wanted and removes it.
void discardTemporary(int fd, std::string& temporary) noexcept {
  closeQuietly(fd);
  if (temporary.empty()) return;
  ::unlink(temporary.c_str());
  forgetTemporary(temporary);
  temporary.clear();
}

// Names the temporary if it has no name yet, closes it and renames it over
// `file`, the target's file as resolved when the temporary was made; on
// failure the temporary is removed and the error names the target.
void finishTemporary(const std::string& target, const std::string& file, std::string& temporary,
                     int fd) {
  int error = temporary.empty() ? linkUnnamed(fd, file, temporary) : 0;
  int closeError = closeChecked(fd);
  if (error == 0) error = closeError;
  if (error == 0 && ::rename(temporary.c_str(), file.c_str()) != 0) error = errno;
  if (error != 0 && !temporary.empty()) ::unlink(temporary.c_str());
  forgetTemporary(temporary);
  temporary.clear();
  if (error != 0) fail(target, error);
}

FileKind kindOf(mode_t mode) {
  if (S_ISREG(mode)) return FileKind::File;
  if (S_ISDIR(mode)) return FileKind::Directory;
  return FileKind::Other;
}

// Kind of a directory entry for a walk: a link counts as File when it leads
// to a file and as Other otherwise, so that a walk never follows a link into
// a directory.
DirEntry::Kind entryKind(const std::string& path, unsigned char type) {
  struct stat st;
  if (type == DT_UNKNOWN) {
    if (::lstat(path.c_str(), &st) != 0) return DirEntry::Kind::Other;
    if (S_ISREG(st.st_mode)) return DirEntry::Kind::File;
    if (S_ISDIR(st.st_mode)) return DirEntry::Kind::Directory;
    if (!S_ISLNK(st.st_mode)) return DirEntry::Kind::Other;
    type = DT_LNK;
  }
  switch (type) {
    case DT_REG:
      return DirEntry::Kind::File;
    case DT_DIR:
      return DirEntry::Kind::Directory;
    case DT_LNK:
      if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return DirEntry::Kind::File;
      return DirEntry::Kind::Other;
    default:
      return DirEntry::Kind::Other;
  }
}

}  // namespace

// ---- Text at the edges ----------------------------------------------------

std::string fromMultiByte(std::string_view text) { return std::string(text); }
std::string toMultiByte(std::string_view text) { return std::string(text); }

// ---- Process --------------------------------------------------------------

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

void writeStandardOutput(std::string_view text) {
  int error = writeAll(STDOUT_FILENO, text.data(), text.size());
  if (error != 0) fail("standard output", error);
}

void writeStandardError(std::string_view text) noexcept {
  writeAll(STDERR_FILENO, text.data(), text.size());
}

// ---- Names in the file system ---------------------------------------------

FileKind fileKind(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) return kindOf(st.st_mode);
  // Something unreachable (a link loop, a barred directory) may still exist.
  return errno == ENOENT || errno == ENOTDIR ? FileKind::Missing : FileKind::Other;
}

void createDirectory(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) != 0) fail(path, errno);
}

std::vector<DirEntry> listDirectory(const std::string& dir) {
  std::vector<DirEntry> entries;
  std::unique_ptr<DIR, int (*)(DIR*)> handle(::opendir(dir.c_str()), ::closedir);
  if (!handle) {
    // A directory removed while a walk goes on has nothing left to list.
    if (errno == ENOENT || errno == ENOTDIR) return entries;
    fail(dir, errno);
  }
  std::string prefix = dir;
  if (!prefix.empty() && prefix.back() != '/') prefix.push_back('/');
  for (;;) {
    errno = 0;
    dirent* entry = ::readdir(handle.get());
    if (entry == nullptr) break;
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    DirEntry::Kind kind = entryKind(prefix + name, entry->d_type);
    entries.push_back(DirEntry{std::move(name), kind});
  }
  if (errno != 0) fail(dir, errno);
  return entries;
}

void removeFileQuietly(const std::string& path) noexcept { ::unlink(path.c_str()); }

// ---- File times -----------------------------------------------------------

FileStamps readFileStamps(const std::string& path) {
  FileStamps stamps;
#ifdef STATX_BTIME
  struct statx sx;
  if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &sx) == 0) {
    const statx_timestamp& birth = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_ctime;
    stamps.creation = toMillis(birth.tv_sec, birth.tv_nsec);
    stamps.lastAccess = toMillis(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
    stamps.lastWrite = toMillis(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
    return stamps;
  }
  if (errno != ENOSYS) fail(path, errno);
#endif
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) fail(path, errno);
  stamps.creation = toMillis(st.st_ctim.tv_sec, st.st_ctim.tv_nsec);
  stamps.lastAccess = toMillis(st.st_atim.tv_sec, st.st_atim.tv_nsec);
  stamps.lastWrite = toMillis(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  return stamps;
}

void writeFileStamps(const std::string& path, const FileStamps& stamps) {
  // The owner may stamp a read-only file on POSIX, but a read-only file's
  // stamps stay as they are, as on platforms that need write access for it.
  if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) fail(path, errno);
  timespec times[2] = {toTimespec(stamps.lastAccess), toTimespec(stamps.lastWrite)};
  if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) fail(path, errno);
}

LocalTime toLocalTime(Millis utc) {
  std::int64_t seconds = floorDiv(utc, 1000);
  time_t t = static_cast<time_t>(seconds);
  tm broken{};
  if (::localtime_r(&t, &broken) == nullptr)
    throw Exception("Couldn't convert time: " + std::to_string(utc));
  LocalTime local;
  local.year = broken.tm_year + 1900;
  local.month = broken.tm_mon + 1;
  local.day = broken.tm_mday;
  local.hour = broken.tm_hour;
  local.minute = broken.tm_min;
  local.second = broken.tm_sec;
  local.millisecond = static_cast<std::int32_t>(utc - seconds * 1000);
  local.dayOfWeek = broken.tm_wday;
  return local;
}

Millis fromLocalTime(const LocalTime& local) {
  tm broken{};
  broken.tm_year = local.year - 1900;
  broken.tm_mon = local.month - 1;
  broken.tm_mday = local.day;
  broken.tm_hour = local.hour;
  broken.tm_min = local.minute;
  broken.tm_sec = local.second;
  broken.tm_isdst = -1;  // let the time zone rules decide
  time_t t = ::mktime(&broken);
  return static_cast<Millis>(t) * 1000 + local.millisecond;
}

// ---- File contents --------------------------------------------------------

InputFile::InputFile(const std::string& path) : path_(path), handle_(openForReading(path)) {}

InputFile::~InputFile() { closeQuietly(static_cast<int>(handle_)); }

std::size_t InputFile::read(char* buffer, std::size_t size) {
  for (;;) {
    ssize_t n = ::read(static_cast<int>(handle_), buffer, size);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) fail(path_, errno);
  }
}

AtomicFile::AtomicFile(const std::string& target) : target_(target), handle_(-1) {
  replaced_ = replacedFile(target);
  int mode = checkReplaceable(target, replaced_);
  int fd = createTemporary(target, replaced_, temporary_);
  // A replaced output keeps its permission bits, as it would if rewritten.
  if (mode >= 0 && ::fchmod(fd, static_cast<mode_t>(mode)) != 0) {
    int error = errno;
    discardTemporary(fd, temporary_);
    fail(target, error);
  }
  handle_ = fd;
}

AtomicFile::~AtomicFile() {
  if (committed_) return;
  discardTemporary(static_cast<int>(handle_), temporary_);
}

void AtomicFile::write(const char* data, std::size_t size) {
  if (committed_) fail(target_, EBADF);
  int error = writeAll(static_cast<int>(handle_), data, size);
  if (error != 0) fail(target_, error);
}

void AtomicFile::setStamps(const FileStamps& stamps) {
  stamps_ = stamps;
  stamped_ = true;
}

void AtomicFile::commit() {
  if (committed_) return;
  // Whatever happens below, the temporary is gone afterwards.
  committed_ = true;
  int fd = static_cast<int>(handle_);
  handle_ = -1;
  if (stamped_) {
    timespec times[2] = {toTimespec(stamps_.lastAccess), toTimespec(stamps_.lastWrite)};
    if (::futimens(fd, times) != 0) {
      int error = errno;
      discardTemporary(fd, temporary_);
      fail(target_, error);
    }
  }
  finishTemporary(target_, replaced_, temporary_, fd);
}

namespace {

// Errors of a combined read-write call that are the target's fault.
bool isWriteError(int error) {
  return error == ENOSPC || error == EDQUOT || error == EFBIG || error == EROFS;
}

bool isUnsupported(int error) {
  return error == EXDEV || error == ENOSYS || error == EINVAL || error == EOPNOTSUPP;
}

// Copies the rest of `in` to `out`. Returns 0, or the errno with `writing`
// telling whose fault it is.
int copyContents(int in, int out, bool tryKernelCopy, bool& writing) {
  constexpr std::size_t kChunk = 1 << 30;
  bool useCopyRange = tryKernelCopy;
  bool useSendfile = tryKernelCopy;
  while (useCopyRange) {
    ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, kChunk, 0);
    if (n == 0) return 0;
    if (n > 0) continue;
    if (errno == EINTR) continue;
    if (isUnsupported(errno)) {
      useCopyRange = false;
      break;
    }
    writing = isWriteError(errno);
    return errno;
  }
  while (useSendfile) {
    ssize_t n = ::sendfile(out, in, nullptr, kChunk);
    if (n == 0) return 0;
    if (n > 0) continue;
    if (errno == EINTR) continue;
    if (isUnsupported(errno)) break;
    writing = isWriteError(errno);
    return errno;
  }
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n == 0) return 0;
    if (n < 0) {
      if (errno == EINTR) continue;
      writing = false;
      return errno;
    }
    int error = writeAll(out, buffer, static_cast<std::size_t>(n));
    if (error != 0) {
      writing = true;
      return error;
    }
  }
}

}  // namespace

void copyFileAtomic(const std::string& source, const std::string& target,
                    const FileStamps* stamps) {
  int in = openForReading(source);
  struct stat st;
  if (::fstat(in, &st) != 0) {
    int error = errno;
    closeQuietly(in);
    fail(source, error);
  }
  std::string temporary;
  std::string file;
  int out = -1;
  try {
    file = replacedFile(target);
    checkReplaceable(target, file);
    out = createTemporary(target, file, temporary);
  } catch (...) {
    closeQuietly(in);
    throw;
  }
  // Files that report no size (such as those of /proc) are read plainly,
  // since the kernel's copy calls would see them as empty.
  bool writing = true;
  int error = copyContents(in, out, st.st_size > 0, writing);
  closeQuietly(in);
  if (error == 0 && ::fchmod(out, st.st_mode & 07777) != 0) error = errno;
  if (error == 0) {
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1] = st.st_mtim;
    if (stamps != nullptr) {
      times[0] = toTimespec(stamps->lastAccess);
      times[1] = toTimespec(stamps->lastWrite);
    }
    if (::futimens(out, times) != 0) error = errno;
  }
  if (error != 0) {
    discardTemporary(out, temporary);
    fail(writing ? target : source, error);
  }
  finishTemporary(target, file, temporary, out);
}

namespace {

// Whether a save may replace what the name holds: nothing, a regular file
// with one link that this process owns, or a directory (which AtomicFile
// refuses). Anything else is written into, in place.
bool replacedBySave(const std::string& target) {
  struct stat st;
  if (::lstat(target.c_str(), &st) != 0) return true;  // AtomicFile tells why
  if (S_ISDIR(st.st_mode)) return true;
  return S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_uid == ::geteuid();
}

// Opens a file to be written into, following a link and creating a missing
// link target; a FIFO blocks until it has a reader.
int openInPlace(const std::string& target) {
  int fd;
  do {
    fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) fail(target, errno);
  return fd;
}

}  // namespace

SaveFile::SaveFile(const std::string& target) : target_(target) {
  if (replacedBySave(target)) {
    atomic_ = std::make_unique<AtomicFile>(target);
  } else {
    handle_ = openInPlace(target);
  }
}

SaveFile::~SaveFile() { closeQuietly(static_cast<int>(handle_)); }

void SaveFile::write(const char* data, std::size_t size) {
  if (atomic_) {
    atomic_->write(data, size);
    return;
  }
  if (handle_ < 0) fail(target_, EBADF);
  int error = writeAll(static_cast<int>(handle_), data, size);
  if (error != 0) fail(target_, error);
}

void SaveFile::commit() {
  if (atomic_) {
    atomic_->commit();
    return;
  }
  if (handle_ < 0) return;
  int fd = static_cast<int>(handle_);
  handle_ = -1;
  int error = closeChecked(fd);
  if (error != 0) fail(target_, error);
}

}  // namespace vesk::platform
