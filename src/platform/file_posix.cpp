// Files for POSIX: reading them, their time stamps, and the file helpers
// that the other POSIX files share.
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "base/exception.h"
#include "platform/posix_util.h"

namespace vesk::platform {
namespace {

Millis toMillis(std::int64_t seconds, std::int64_t nanoseconds) {
  return seconds * 1000 + nanoseconds / 1000000;
}

}  // namespace

timespec toTimespec(Millis ms) {
  timespec ts{};
  std::int64_t seconds = ms / 1000;
  if (ms % 1000 < 0) --seconds;  // floor, also before 1970
  ts.tv_sec = static_cast<time_t>(seconds);
  ts.tv_nsec = static_cast<long>((ms - seconds * 1000) * 1000000);
  return ts;
}

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

mode_t processUmask() {
  // Read once, before any thread is started: reading it means setting it.
  static const mode_t mask = [] {
    mode_t m = ::umask(0);
    ::umask(m);
    return m;
  }();
  return mask;
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

// ---- File contents --------------------------------------------------------

InputFile::InputFile(const std::string& path)
    : path_(path), state_(new State{openForReading(path)}) {}

InputFile::~InputFile() = default;

std::size_t InputFile::read(char* buffer, std::size_t size) {
  for (;;) {
    ssize_t n = ::read(state_->fd.get(), buffer, size);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) fail(path_, errno);
  }
}

}  // namespace vesk::platform
