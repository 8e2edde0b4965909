// Saving a document, for POSIX: a plain file is replaced as a whole, anything
// else is written into in place.
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/posix_util.h"

namespace vesk::platform {

struct SaveFile::State {
  UniqueFd fd;
};

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
UniqueFd openInPlace(const std::string& target) {
  int fd;
  do {
    fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) fail(target, errno);
  return UniqueFd(fd);
}

}  // namespace

SaveFile::SaveFile(const std::string& target) : target_(target) {
  if (replacedBySave(target)) {
    atomic_ = std::make_unique<AtomicFile>(target);
  } else {
    state_ = std::make_unique<State>();
    state_->fd = openInPlace(target);
  }
}

SaveFile::~SaveFile() = default;

void SaveFile::write(const char* data, std::size_t size) {
  if (atomic_) {
    atomic_->write(data, size);
    return;
  }
  if (!state_ || !state_->fd) fail(target_, EBADF);
  int error = writeAll(state_->fd.get(), data, size);
  if (error != 0) fail(target_, error);
}

void SaveFile::commit() {
  if (atomic_) {
    atomic_->commit();
    return;
  }
  if (!state_ || !state_->fd) return;
  int error = state_->fd.close();
  if (error != 0) fail(target_, error);
}

}  // namespace vesk::platform
