// Names in the file system and directory listings, for POSIX.
#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <memory>

#include "platform/posix_util.h"

namespace vesk::platform {
namespace {

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

FileKind fileKind(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) return kindOf(st.st_mode);
  if (isMissing(errno)) return FileKind::Missing;
  // A link loop is something; behind a barred directory may be anything.
  return errno == ELOOP ? FileKind::Other : FileKind::Unknown;
}

void createDirectory(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) != 0) fail(path, errno);
}

std::vector<DirEntry> listDirectory(const std::string& dir) {
  std::vector<DirEntry> entries;
  std::unique_ptr<DIR, int (*)(DIR*)> handle(::opendir(dir.c_str()), ::closedir);
  if (!handle) {
    // A directory removed while a walk goes on has nothing left to list.
    if (isMissing(errno)) return entries;
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

}  // namespace vesk::platform
