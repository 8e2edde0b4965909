// What the POSIX files of the platform layer share. Private to src/platform/.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <ctime>
#include <string>

#include "platform/platform.h"

namespace vesk::platform {

// Raises FileException("<name>: <strerror(error)>").
[[noreturn]] void fail(const std::string& name, int error);

// Whether an errno says that a name leads nowhere.
inline bool isMissing(int error) { return error == ENOENT || error == ENOTDIR; }

// An open file descriptor, closed when the owner goes. A close whose error
// matters (that of a written file) is made with close() and checked.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      if (fd_ >= 0) ::close(fd_);
      fd_ = other.release();
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  // Closes now, ignoring errors.
  void reset() {
    if (fd_ >= 0) ::close(release());
  }
  // Gives up the descriptor without closing it.
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes now; returns 0 or errno. EINTR means the descriptor is gone
  // already, so it counts as closed.
  int close() {
    if (fd_ < 0) return 0;
    if (::close(release()) != 0 && errno != EINTR) return errno;
    return 0;
  }

 private:
  int fd_ = -1;
};

// Writes all of data, retrying short writes; returns 0 or errno.
int writeAll(int fd, const char* data, std::size_t size);

// Opens an existing file for reading; a directory is refused.
UniqueFd openForReading(const std::string& path);

// The process's file-creation mask, as it was at start.
mode_t processUmask();

// A time in milliseconds as a timespec, rounded down (also before 1970).
timespec toTimespec(Millis ms);

struct InputFile::State {
  UniqueFd fd;
};

// ---- Interrupts (interrupt_posix.cpp) -------------------------------------

// Installs the handlers that remove the noted temporaries on an interrupt.
void installInterruptCleanup();

// Notes a named temporary, `base` within the directory `dir`, for the
// handler to remove, and forgets it again once it is renamed or removed. A
// name beyond the few outputs written at once goes unnoted: the run itself
// still removes its file.
void noteTemporary(int dir, const std::string& base) noexcept;
void forgetTemporary(int dir, const std::string& base) noexcept;

// ---- Checks taken from descriptors (output_posix.cpp) ---------------------

// Whether two stats are of one file.
inline bool sameInode(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace vesk::platform
