// Files, their time stamps, atomic outputs and copies, for POSIX.
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/posix_util.h"
#include "support/exception.h"

namespace vesk::platform {
namespace {

Millis toMillis(std::int64_t seconds, std::int64_t nanoseconds) {
  return seconds * 1000 + nanoseconds / 1000000;
}

timespec toTimespec(Millis ms) {
  timespec ts{};
  std::int64_t seconds = ms / 1000;
  if (ms % 1000 < 0) --seconds;  // floor, also before 1970
  ts.tv_sec = static_cast<time_t>(seconds);
  ts.tv_nsec = static_cast<long>((ms - seconds * 1000) * 1000000);
  return ts;
}

// Errors of a combined read-write call that are the target's fault.
bool isWriteError(int error) {
  return error == ENOSPC || error == EDQUOT || error == EFBIG || error == EROFS;
}

bool isUnsupported(int error) {
  return error == EXDEV || error == ENOSYS || error == EINVAL || error == EOPNOTSUPP;
}

// Copies the rest of `in` with the kernel's copy calls. Returns 0 or errno,
// with `writing` telling whose fault it is; -1 when neither call serves here.
int kernelCopy(int in, int out, bool& writing) {
  constexpr std::size_t kChunk = 1 << 30;
  for (bool useSendfile : {false, true}) {
    for (;;) {
      ssize_t n = useSendfile ? ::sendfile(out, in, nullptr, kChunk)
                              : ::copy_file_range(in, nullptr, out, nullptr, kChunk, 0);
      if (n == 0) return 0;
      if (n > 0 || errno == EINTR) continue;
      if (isUnsupported(errno)) break;
      writing = isWriteError(errno);
      return errno;
    }
  }
  return -1;
}

// Copies the rest of `in` to `out`. Returns 0, or the errno with `writing`
// telling whose fault it is.
int copyContents(int in, int out, bool tryKernelCopy, bool& writing) {
  if (tryKernelCopy) {
    int error = kernelCopy(in, out, writing);
    if (error >= 0) return error;
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

// Gives the copy the source's permission bits and last-modification time,
// or the stamps asked for. Returns 0 or errno.
int copyAttributes(int out, const struct stat& source, const FileStamps* stamps) {
  if (::fchmod(out, source.st_mode & 07777) != 0) return errno;
  timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1] = source.st_mtim;
  if (stamps != nullptr) {
    times[0] = toTimespec(stamps->lastAccess);
    times[1] = toTimespec(stamps->lastWrite);
  }
  return ::futimens(out, times) != 0 ? errno : 0;
}

}  // namespace

void fail(const std::string& name, int error) { throw FileException(name, std::strerror(error)); }

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

UniqueFd openForReading(const std::string& path) {
  UniqueFd fd;
  do {
    fd = UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  } while (!fd && errno == EINTR);
  if (!fd) fail(path, errno);
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) fail(path, errno);
  if (S_ISDIR(st.st_mode)) fail(path, EISDIR);
  return fd;
}

// A name that cannot be looked at is refused: taking it for a missing file
// would replace a link, or drop a read-only file's protection. Following a
// link keeps it, as an in-place write would.
std::string replacedFile(const std::string& target) {
  struct stat st;
  if (::lstat(target.c_str(), &st) != 0) {
    if (isMissing(errno)) return target;
    fail(target, errno);
  }
  if (!S_ISLNK(st.st_mode)) return target;
  std::unique_ptr<char, void (*)(void*)> resolved(::realpath(target.c_str(), nullptr), std::free);
  if (!resolved) {
    if (isMissing(errno)) return target;  // a dangling link
    fail(target, errno);
  }
  return std::string(resolved.get());
}

// A directory is refused, and so is an existing file we may not write (a
// read-only output stays read-only).
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

// ---- File contents --------------------------------------------------------

InputFile::InputFile(const std::string& path)
    : path_(path), handle_(openForReading(path).release()) {}

InputFile::~InputFile() { UniqueFd(static_cast<int>(handle_)).reset(); }

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
  UniqueFd fd = createTemporary(target, replaced_, temporary_);
  // A replaced output keeps its permission bits, as it would if rewritten.
  if (mode >= 0 && ::fchmod(fd.get(), static_cast<mode_t>(mode)) != 0) {
    int error = errno;
    discardTemporary(std::move(fd), temporary_);
    fail(target, error);
  }
  handle_ = fd.release();
}

AtomicFile::~AtomicFile() {
  if (committed_) return;
  discardTemporary(UniqueFd(static_cast<int>(handle_)), temporary_);
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
  UniqueFd fd(static_cast<int>(handle_));
  handle_ = -1;
  if (stamped_) {
    timespec times[2] = {toTimespec(stamps_.lastAccess), toTimespec(stamps_.lastWrite)};
    if (::futimens(fd.get(), times) != 0) {
      int error = errno;
      discardTemporary(std::move(fd), temporary_);
      fail(target_, error);
    }
  }
  finishTemporary(target_, replaced_, temporary_, std::move(fd));
}

void copyFileAtomic(const std::string& source, const std::string& target,
                    const FileStamps* stamps) {
  UniqueFd in = openForReading(source);
  struct stat st;
  if (::fstat(in.get(), &st) != 0) fail(source, errno);
  std::string temporary;
  std::string file = replacedFile(target);
  checkReplaceable(target, file);
  UniqueFd out = createTemporary(target, file, temporary);
  // Files that report no size (such as those of /proc) are read plainly,
  // since the kernel's copy calls would see them as empty.
  bool writing = true;
  int error = copyContents(in.get(), out.get(), st.st_size > 0, writing);
  in.reset();
  if (error == 0) error = copyAttributes(out.get(), st, stamps);
  if (error != 0) {
    discardTemporary(std::move(out), temporary);
    fail(writing ? target : source, error);
  }
  finishTemporary(target, file, temporary, std::move(out));
}

}  // namespace vesk::platform
