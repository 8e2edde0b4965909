// Outputs for POSIX: a file replaced as a whole through a temporary, a
// device or FIFO written into in place, and copies.
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/posix_util.h"

namespace vesk::platform {
namespace {

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
  // On the heap: the process may run with a stack of a few dozen KiB.
  constexpr std::size_t kBufferSize = 1 << 16;
  std::unique_ptr<char[]> buffer(new char[kBufferSize]);
  for (;;) {
    ssize_t n = ::read(in, buffer.get(), kBufferSize);
    if (n == 0) return 0;
    if (n < 0) {
      if (errno == EINTR) continue;
      writing = false;
      return errno;
    }
    int error = writeAll(out, buffer.get(), static_cast<std::size_t>(n));
    if (error != 0) {
      writing = true;
      return error;
    }
  }
}

// What writing an output meets under its name, found by opening the name:
// the system follows a symbolic link, so that its rules on links (such as
// protected_symlinks) hold, and the file reached is the one replaced.
struct Destination {
  std::string file;  // the name the output replaces: a link's target,
                     // else the name itself (a dangling link included)
  bool exists = false;
  bool inPlace = false;  // a device or FIFO: written into, never replaced
  struct stat st {};     // of the existing file
  UniqueFd opened;       // the existing file, opened as a path only
};

// The name the descriptor's file has, as the system followed `name` to it.
std::string followedName(const std::string& name, int fd) {
  struct stat st;
  if (::lstat(name.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) return name;
  std::string link = "/proc/self/fd/" + std::to_string(fd);
  std::string buffer(PATH_MAX, '\0');
  ssize_t n = ::readlink(link.c_str(), buffer.data(), buffer.size());
  if (n > 0 && static_cast<std::size_t>(n) < buffer.size() && buffer[0] == '/') {
    buffer.resize(static_cast<std::size_t>(n));
    return buffer;
  }
  // Without /proc: the same walk, made by the library.
  std::unique_ptr<char, void (*)(void*)> resolved(::realpath(name.c_str(), nullptr), std::free);
  if (!resolved) fail(name, errno);
  return std::string(resolved.get());
}

// A directory is refused, and so is an existing file we may not write (a
// read-only output stays read-only).
Destination examine(const std::string& target) {
  Destination d;
  d.file = target;
  int fd;
  do {
    fd = ::open(target.c_str(), O_PATH | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    if (isMissing(errno)) return d;
    fail(target, errno);
  }
  d.opened = UniqueFd(fd);
  if (::fstat(fd, &d.st) != 0) fail(target, errno);
  if (S_ISDIR(d.st.st_mode)) fail(target, EISDIR);
  d.exists = true;
  d.inPlace = !S_ISREG(d.st.st_mode);
  d.file = followedName(target, fd);
  if (::faccessat(AT_FDCWD, d.file.c_str(), W_OK, AT_EACCESS) != 0) fail(target, EACCES);
  return d;
}

// Opens the device or FIFO that was examined for writing, through the
// descriptor that examined it, so that it is the same file; a FIFO blocks
// until it has a reader.
UniqueFd openInPlace(const std::string& target, const Destination& d) {
  std::string reopen = "/proc/self/fd/" + std::to_string(d.opened.get());
  int fd;
  do {
    fd = ::open(reopen.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0 && isMissing(errno)) {
    // No /proc: by name, as the system follows it.
    do {
      fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
  }
  if (fd < 0) fail(target, errno);
  return UniqueFd(fd);
}

// Gives a finished temporary what the output keeps: the owner and group of
// the file it replaces where the process may give them, then its permission
// bits (never set-ID bits). Returns 0 or errno.
int giveOwnerAndMode(int fd, mode_t mode, std::int64_t owner, std::int64_t group) {
  if (owner >= 0 && ::fchown(fd, static_cast<uid_t>(owner), static_cast<gid_t>(group)) != 0) {
    if (errno != EPERM) return errno;
    // Not root: the group at least, where the process belongs to it; where
    // it does not, the output keeps the process's group.
    if (::fchown(fd, static_cast<uid_t>(-1), static_cast<gid_t>(group)) != 0 && errno != EPERM) {
      return errno;
    }
  }
  return ::fchmod(fd, mode & 0777) != 0 ? errno : 0;
}

timespec omittedTime() {
  timespec ts{};
  ts.tv_nsec = UTIME_OMIT;
  return ts;
}

// Writes the rest of `in` into the device or FIFO `target`; no stamps.
void copyInPlace(int in, const std::string& source, const std::string& target,
                 const Destination& d) {
  UniqueFd out = openInPlace(target, d);
  bool writing = true;
  int error = copyContents(in, out.get(), false, writing);
  if (error == 0) error = out.close();
  if (error != 0) fail(writing ? target : source, error);
}

// Takes a temporary back from the members of an AtomicFile that hold it.
Temporary reclaim(std::intptr_t& dir, std::intptr_t& file, std::string& name) {
  Temporary t{UniqueFd(static_cast<int>(dir)), UniqueFd(static_cast<int>(file)), std::move(name)};
  dir = file = -1;
  name.clear();
  return t;
}

}  // namespace

AtomicFile::AtomicFile(const std::string& target) : target_(target), handle_(-1) {
  Destination d = examine(target);
  if (d.inPlace) {
    inPlace_ = true;
    handle_ = openInPlace(target, d).release();
    return;
  }
  replaced_ = d.file;
  // A replaced output keeps its bits and owner, as it would if rewritten.
  mode_ = d.exists ? d.st.st_mode : 0666 & ~processUmask();
  if (d.exists) {
    owner_ = d.st.st_uid;
    group_ = d.st.st_gid;
  }
  Temporary t = createTemporary(target, replaced_);
  directory_ = t.dir.release();
  handle_ = t.file.release();
  temporary_ = std::move(t.name);
}

AtomicFile::~AtomicFile() {
  if (committed_) return;
  if (inPlace_) {
    UniqueFd(static_cast<int>(handle_)).reset();
    return;
  }
  Temporary t = reclaim(directory_, handle_, temporary_);
  discardTemporary(t);
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
  Temporary t = reclaim(directory_, handle_, temporary_);
  if (inPlace_) {
    int error = t.file.close();
    if (error != 0) fail(target_, error);
    return;
  }
  int error = giveOwnerAndMode(t.file.get(), mode_, owner_, group_);
  if (error == 0 && stamped_) {
    timespec times[2] = {toTimespec(stamps_.lastAccess), toTimespec(stamps_.lastWrite)};
    if (::futimens(t.file.get(), times) != 0) error = errno;
  }
  if (error != 0) {
    discardTemporary(t);
    fail(target_, error);
  }
  finishTemporary(target_, replaced_, t);
}

void copyFileAtomic(const std::string& source, const std::string& target, bool syncStamps) {
  UniqueFd in = openForReading(source);
  struct stat st;
  if (::fstat(in.get(), &st) != 0) fail(source, errno);
  Destination d = examine(target);
  if (d.inPlace) {
    copyInPlace(in.get(), source, target, d);
    return;
  }
  Temporary out = createTemporary(target, d.file);
  // Files that report no size (such as those of /proc) are read plainly,
  // since the kernel's copy calls would see them as empty.
  bool writing = true;
  int error = copyContents(in.get(), out.file.get(), st.st_size > 0, writing);
  // The source's stamps as reading it has left them.
  if (error == 0 && syncStamps && ::fstat(in.get(), &st) != 0) {
    error = errno;
    writing = false;
  }
  in.reset();
  if (error == 0) {
    error = giveOwnerAndMode(out.file.get(), st.st_mode, d.exists ? d.st.st_uid : -1,
                             d.exists ? d.st.st_gid : -1);
  }
  timespec times[2] = {syncStamps ? st.st_atim : omittedTime(), st.st_mtim};
  if (error == 0 && ::futimens(out.file.get(), times) != 0) error = errno;
  if (error != 0) {
    discardTemporary(out);
    fail(writing ? target : source, error);
  }
  finishTemporary(target, d.file, out);
}

}  // namespace vesk::platform
