// The steps of an output's commit for POSIX (output.h). The target's
// directory is opened once; every later step works from that descriptor and
// from the descriptors of what was examined through it, never from a name
// resolved again. docs/commit.md gives the reasons.
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "platform/acl.h"
#include "platform/internal.h"
#include "platform/output.h"
#include "platform/posix_util.h"

namespace vesk::platform {
namespace {

constexpr const char* kAccessAcl = "system.posix_acl_access";
constexpr const char* kDefaultAcl = "system.posix_acl_default";
// The kernel follows at most 40 links in one name.
constexpr int kMaxLinks = 40;

// ---- Small wrappers that retry when interrupted ---------------------------

int openAt(int dir, const std::string& name, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::openat(dir, name.c_str(), flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// A directory, opened to be read where that is allowed (its default ACL is
// read through it), else as a path only. Invalid with errno on failure.
UniqueFd openDirectory(int at, const std::string& name) {
  UniqueFd fd(openAt(at, name, O_RDONLY | O_DIRECTORY));
  if (!fd && errno == EACCES) fd = UniqueFd(openAt(at, name, O_PATH | O_DIRECTORY));
  return fd;
}

bool statAt(int dir, const std::string& name, struct stat& st) {
  return ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

// An extended attribute's value; nullopt when the file has none or the file
// system keeps none.
std::optional<std::string> readAttribute(int fd, const char* name) {
  std::string value(256, '\0');
  for (;;) {
    ssize_t n = ::fgetxattr(fd, name, value.data(), value.size());
    if (n >= 0) {
      value.resize(static_cast<std::size_t>(n));
      return value;
    }
    if (errno != ERANGE || value.size() > (1u << 20)) return std::nullopt;
    value.resize(value.size() * 4);
  }
}

std::string readLinkAt(int dir, const std::string& name) {
  std::string text(PATH_MAX, '\0');
  ssize_t n = ::readlinkat(dir, name.c_str(), text.data(), text.size());
  if (n < 0 || static_cast<std::size_t>(n) >= text.size()) return {};
  text.resize(static_cast<std::size_t>(n));
  return text;
}

// "dir/name" split at the last '/': the directory part ("." when there is
// none, "/" for the root) and the last component.
std::pair<std::string, std::string> splitName(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

bool namesDirectory(const std::string& base) { return base.empty() || base == "." || base == ".."; }

// ---- The kernel's rules on files planted in sticky directories ------------

// A switch of /proc/sys/fs; where it cannot be read (no /proc), it counts
// as off, the kernel's own default.
int kernelSwitch(const char* path) {
  UniqueFd fd(openAt(AT_FDCWD, path, O_RDONLY));
  char digit = '0';
  if (!fd || ::read(fd.get(), &digit, 1) != 1) digit = '0';
  return digit >= '0' && digit <= '9' ? digit - '0' : 0;
}

// Whether the kernel would refuse this process an open with O_CREAT of the
// existing `file` in `dir` (fs.protected_regular, fs.protected_fifos), as
// it refuses a shell's redirection there: a file of another user in a
// sticky directory that is not the directory owner's either.
bool refusedInSticky(const struct stat& dir, const struct stat& file) {
  if ((dir.st_mode & S_ISVTX) == 0 || file.st_uid == dir.st_uid || file.st_uid == ::geteuid()) {
    return false;
  }
  int level = 0;
  if (S_ISREG(file.st_mode)) {
    static const int regular = kernelSwitch("/proc/sys/fs/protected_regular");
    level = regular;
  } else if (S_ISFIFO(file.st_mode)) {
    static const int fifos = kernelSwitch("/proc/sys/fs/protected_fifos");
    level = fifos;
  }
  return level > 0 &&
         ((dir.st_mode & S_IWOTH) != 0 || (level >= 2 && (dir.st_mode & S_IWGRP) != 0));
}

// ---- Owners that may be given ---------------------------------------------

// In a user namespace other than the first, a file whose owner is not
// mapped shows the overflow ID; giving that ID would hand the file to
// whoever it maps to. Where this cannot be told (no /proc), the namespace
// counts as the first, where no ID is the overflow ID.
bool isOverflowId(unsigned id, const char* overflowFile) {
  static const bool firstNamespace = [] {
    UniqueFd fd(openAt(AT_FDCWD, "/proc/self/uid_map", O_RDONLY));
    char text[64] = {};
    ssize_t n = fd ? ::read(fd.get(), text, sizeof text - 1) : -1;
    unsigned inside = 1, outside = 1, count = 0;
    if (n <= 0) return true;
    return std::sscanf(text, "%u %u %u", &inside, &outside, &count) == 3 && inside == 0 &&
           outside == 0 && count == 4294967295u;
  }();
  if (firstNamespace) return false;
  UniqueFd fd(openAt(AT_FDCWD, overflowFile, O_RDONLY));
  char text[16] = {};
  unsigned overflow = 65534;
  if (fd && ::read(fd.get(), text, sizeof text - 1) > 0) std::sscanf(text, "%u", &overflow);
  return id == overflow;
}

// Whether fchown failed because the process may not give that owner: not
// root (EPERM), or an ID that the user namespace does not map (EINVAL).
bool notGivable(int error) { return error == EPERM || error == EINVAL; }

// ---- Copying --------------------------------------------------------------

// Errors of a combined read-write call that are the target's fault.
bool isWriteError(int error) {
  return error == ENOSPC || error == EDQUOT || error == EFBIG || error == EROFS || error == EPIPE;
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

// ---- The temporary --------------------------------------------------------

// Temporaries are their owner's alone until they get the output's
// permissions at commit, so that nobody can open one while a private source
// is copied in: an open descriptor keeps its access whatever comes later.
constexpr mode_t kPrivate = 0600;

// A temporary file in a held directory; removed when the owner goes, unless
// it was renamed over its output.
class Temporary {
 public:
  Temporary() = default;
  Temporary(const Temporary&) = delete;
  Temporary& operator=(const Temporary&) = delete;
  ~Temporary() { discard(); }

  // Creates it in `dir`: unnamed where the system allows, else named beside
  // `output` and noted for the interrupt handler. `shownAs` is the
  // directory's name as callers know it, ending in a slash, or empty.
  // Returns 0 or errno.
  int create(int dir, const std::string& output, const std::string& shownAs);
  // Gives an unnamed temporary its name. Returns 0 or errno.
  int name(const std::string& output);
  // Opens the named temporary again, checked to be the file created.
  int reopen();
  // Renames it over `output` in the same directory. Returns 0 or errno.
  int renameOver(const std::string& output);
  void discard() noexcept;

  int fd() const { return file_.get(); }
  UniqueFd& file() { return file_; }
  const std::string& path() const { return path_; }

 private:
  template <class Place>
  int placeBeside(const std::string& output, Place&& place);

  UniqueFd dir_;         // its own descriptor of the directory, which the
                         // interrupt handler's note names too
  UniqueFd file_;        // open while it is written and given metadata
  std::string base_;     // its name within dir_; empty while unnamed
  std::string shownAs_;  // the directory as callers know it
  std::string path_;     // the name shown to callers
  struct stat made_ {};  // as created, to recognise it when reopened
};

// Makes the file a fresh name beside `output` with `place` (which creates
// or links it there and returns 0 or errno), trying the next name while one
// is taken. The name is noted before the file can exist under it.
template <class Place>
int Temporary::placeBeside(const std::string& output, Place&& place) {
  for (int attempt = 0;; ++attempt) {
    std::string base = temporaryName(output, "/", "", static_cast<unsigned long>(::getpid()));
    noteTemporary(dir_.get(), base);
    int error = place(base);
    if (error == 0) {
      base_ = std::move(base);
      path_ = shownAs_ + base_;
      return 0;
    }
    forgetTemporary(dir_.get(), base);
    if ((error == EEXIST || error == EINTR) && attempt < 100) continue;
    return error;
  }
}

int Temporary::create(int dir, const std::string& output, const std::string& shownAs) {
  dir_ = UniqueFd(::fcntl(dir, F_DUPFD_CLOEXEC, 0));
  if (!dir_) return errno;
  dir = dir_.get();
  shownAs_ = shownAs;
#ifdef O_TMPFILE
  // Unnamed files get their name through /proc/self/fd at commit, so that
  // until then nothing can be left behind.
  static const bool linkable = ::faccessat(AT_FDCWD, "/proc/self/fd", X_OK, 0) == 0;
  if (linkable) file_ = UniqueFd(openAt(dir, ".", O_TMPFILE | O_WRONLY, kPrivate));
#endif
  // Any failure of the unnamed kind (not offered here, or a real error that
  // the named kind then reports in its own words) falls back to a name.
  int error = file_ ? 0 : placeBeside(output, [&](const std::string& base) {
    file_ = UniqueFd(openAt(dir, base, O_WRONLY | O_CREAT | O_EXCL, kPrivate));
    return file_ ? 0 : errno;
  });
  if (error == 0 && ::fstat(file_.get(), &made_) != 0) error = errno;
  return error;
}

int Temporary::name(const std::string& output) {
  if (!base_.empty()) return 0;
  const std::string open = "/proc/self/fd/" + std::to_string(file_.get());
  return placeBeside(output, [&](const std::string& base) {
    return ::linkat(AT_FDCWD, open.c_str(), dir_.get(), base.c_str(), AT_SYMLINK_FOLLOW) == 0
               ? 0
               : errno;
  });
}

int Temporary::reopen() {
  file_ = UniqueFd(openAt(dir_.get(), base_, O_WRONLY | O_NOFOLLOW | O_NONBLOCK));
  struct stat st;
  if (!file_) return errno;
  if (::fstat(file_.get(), &st) != 0) return errno;
  return sameInode(st, made_) ? 0 : EAGAIN;
}

int Temporary::renameOver(const std::string& output) {
  if (::renameat(dir_.get(), base_.c_str(), dir_.get(), output.c_str()) != 0) return errno;
  forgetTemporary(dir_.get(), base_);
  base_.clear();
  return 0;
}

void Temporary::discard() noexcept {
  file_.reset();
  if (base_.empty()) return;
  ::unlinkat(dir_.get(), base_.c_str(), 0);
  forgetTemporary(dir_.get(), base_);
  base_.clear();
  path_.clear();
}

// ---- Permissions ----------------------------------------------------------

// What the temporary gets before it takes the output's place: bits, and an
// access ACL where one is kept (empty: none).
struct Permissions {
  mode_t mode = 0;
  std::string acl;
};

// Gives them, ACL first: setting an ACL sets the bits it shows, and the
// bits then narrow it (the mask) where they grant less. Returns 0 or errno.
int givePermissions(int fd, const Permissions& p) {
  if (!p.acl.empty()) {
    if (::fsetxattr(fd, kAccessAcl, p.acl.data(), p.acl.size(), 0) != 0 && errno != EOPNOTSUPP) {
      return errno;
    }
  } else if (::fremovexattr(fd, kAccessAcl) != 0 && errno != ENODATA && errno != EOPNOTSUPP) {
    // An ACL inherited from the directory's default, which the output must
    // not keep.
    return errno;
  }
  return ::fchmod(fd, p.mode & 0777) != 0 ? errno : 0;
}

}  // namespace

// ---- The site -------------------------------------------------------------

struct OutputSite::State {
  std::string target;
  UniqueFd top;         // the target's own directory, opened once
  std::string topName;  // the target's last component
  // What the name leads to, examined through `top`:
  UniqueFd dir;         // the directory that holds it (top's, or a link's)
  std::string name;     // its name there
  std::string dirName;  // that directory as callers know it, with a slash
  bool exists = false;
  struct stat st {};         // of the file; else of what holds the name (a link
  bool placeholder = false;  // leading nowhere), if anything does
  struct stat dirSt {};
  UniqueFd file;  // the existing file, opened for writing (its access
                  // checked, its ACL read); a device or FIFO to write into
  bool inPlace = false;
  std::optional<timespec> copiedWrite;  // a copy's source's last write
  Temporary temporary;
};

namespace {

using State = OutputSite::State;

// The directory part of a target as given, with its slash; empty for none.
std::string topDirName(const std::string& target) {
  std::size_t slash = target.rfind('/');
  return slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
}

// Follows the links from (dir, name) to the entry that is no link, which
// `st` then describes: each link's text is read, and its directory opened
// relative to the link's own. `shown` follows along as callers would name
// that directory. False when a name on the way cannot be read (it may have
// changed meanwhile).
bool followLinks(UniqueFd& dir, std::string& name, std::string& shown, struct stat& st) {
  for (int links = 0; links <= kMaxLinks; ++links) {
    if (!statAt(dir.get(), name, st)) return false;
    if (!S_ISLNK(st.st_mode)) return true;
    std::string text = readLinkAt(dir.get(), name);
    if (text.empty()) return false;
    auto [dirPart, base] = splitName(text);
    if (namesDirectory(base)) return false;
    UniqueFd next = openDirectory(text[0] == '/' ? AT_FDCWD : dir.get(), dirPart);
    if (!next) return false;
    shown = (text[0] == '/' ? std::string() : shown) + text.substr(0, text.size() - base.size());
    dir = std::move(next);
    name = base;
  }
  return false;
}

// Locates the file the kernel reached, `reached`, in the directory that
// holds it. False when a name on the way has changed since the kernel
// followed it.
bool locate(State& s, const struct stat& reached) {
  s.dir = UniqueFd(::fcntl(s.top.get(), F_DUPFD_CLOEXEC, 0));
  if (!s.dir) fail(s.target, errno);
  s.name = s.topName;
  s.dirName = topDirName(s.target);
  return followLinks(s.dir, s.name, s.dirName, s.st) && sameInode(s.st, reached);
}

// A name that leads nowhere: the new output takes the name itself (a link
// leading nowhere is replaced, not followed).
void examineMissing(State& s) {
  s.dir = UniqueFd(::fcntl(s.top.get(), F_DUPFD_CLOEXEC, 0));
  if (!s.dir) fail(s.target, errno);
  s.name = s.topName;
  s.dirName = topDirName(s.target);
  s.placeholder = statAt(s.top.get(), s.topName, s.st);
  if (s.placeholder && S_ISDIR(s.st.st_mode)) fail(s.target, EISDIR);
  if (::fstat(s.dir.get(), &s.dirSt) != 0) fail(s.target, errno);
}

// Examines the name once: the kernel follows it (so that its rules on links
// hold), the file it reaches is located in its directory, and opened for
// writing there, which checks the access as the kernel sees it. False when
// the name changed meanwhile.
bool examine(State& s) {
  s.file.reset();
  s.exists = s.inPlace = s.placeholder = false;
  UniqueFd reached(openAt(s.top.get(), s.topName, O_PATH));
  if (!reached) {
    if (!isMissing(errno)) fail(s.target, errno);
    examineMissing(s);
    return true;
  }
  struct stat st;
  if (::fstat(reached.get(), &st) != 0) fail(s.target, errno);
  if (S_ISDIR(st.st_mode)) fail(s.target, EISDIR);
  if (!locate(s, st)) return false;
  if (::fstat(s.dir.get(), &s.dirSt) != 0) fail(s.target, errno);
  s.exists = true;
  s.inPlace = !S_ISREG(st.st_mode);
  if (refusedInSticky(s.dirSt, st)) fail(s.target, EACCES);
  if (s.inPlace) return true;
  // Opened without truncating it: the open is the kernel's own access check
  // (ACLs, read-only mounts, immutable files give their own reasons).
  s.file = UniqueFd(openAt(s.dir.get(), s.name, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
  if (!s.file) {
    if (errno == ELOOP || isMissing(errno)) return false;
    fail(s.target, errno);
  }
  struct stat opened;
  if (::fstat(s.file.get(), &opened) != 0) fail(s.target, errno);
  return sameInode(opened, st);
}

// Examines until the name holds still, a bounded number of times.
void examineSettled(State& s) {
  for (int examined = 1; !examine(s); ++examined) {
    if (examined == kExaminations) fail(s.target, EAGAIN);
  }
}

// The permissions of the new or replaced output.
Permissions permissionsFor(const State& s, const Origin& origin) {
  Permissions p;
  if (s.exists) {
    // A replaced output keeps its own; a copy narrows them to what its
    // source grants as well.
    p.mode = s.st.st_mode & 0777;
    if (origin.copy) p.mode &= origin.mode;
    if (auto acl = readAttribute(s.file.get(), kAccessAcl)) p.acl = *acl;
    return p;
  }
  // What creating the file in its directory would give: the default ACL
  // where the directory has one, else the umask.
  const mode_t created = origin.copy ? (origin.mode & 0777) : 0666;
  if (auto defaults = readAttribute(s.dir.get(), kDefaultAcl)) {
    auto acl = acl::inherited(*defaults, created);
    auto mode = acl ? acl::modeOf(*acl) : std::nullopt;
    if (acl && mode) return Permissions{static_cast<mode_t>(*mode), *acl};
  }
  p.mode = created & ~processUmask();
  return p;
}

// The bits with the group's cut to what others have.
mode_t withoutGroupGain(mode_t mode) { return mode & ~((~mode << 3) & 070); }

// Gives the replaced output's owner and group where the process may give
// them. The group's bits are cut to what others have until the group is
// given, so that the process's own group never gains what the output's
// group had. The owner comes last: once it is given, the process may no
// longer change the file. Returns 0 or errno.
int giveOwner(const State& s, int fd, mode_t mode) {
  if (!s.exists) return 0;
  struct stat now;
  if (::fstat(fd, &now) != 0) return errno;
  constexpr uid_t kKeepOwner = static_cast<uid_t>(-1);
  constexpr gid_t kKeepGroup = static_cast<gid_t>(-1);
  if (s.st.st_gid != now.st_gid) {
    if (::fchmod(fd, withoutGroupGain(mode)) != 0) return errno;
    if (!isOverflowId(s.st.st_gid, "/proc/sys/kernel/overflowgid")) {
      if (::fchown(fd, kKeepOwner, s.st.st_gid) == 0) {
        if (::fchmod(fd, mode) != 0) return errno;
      } else if (!notGivable(errno)) {
        return errno;
      }
    }
  }
  if (s.st.st_uid == now.st_uid || isOverflowId(s.st.st_uid, "/proc/sys/kernel/overflowuid")) {
    return 0;
  }
  if (::fchown(fd, s.st.st_uid, kKeepGroup) != 0 && !notGivable(errno)) return errno;
  return 0;
}

}  // namespace

bool sameEntry(const std::string& source, const std::string& output) {
  struct Entry {
    UniqueFd dir;
    std::string name, shown;
    struct stat st {
    }, dirSt{};
  } entries[2];
  const std::string* names[2] = {&source, &output};
  for (int i = 0; i < 2; ++i) {
    Entry& e = entries[i];
    auto [dirPart, base] = splitName(*names[i]);
    e.dir = openDirectory(AT_FDCWD, dirPart);
    e.name = base;
    if (!e.dir || namesDirectory(base) || !followLinks(e.dir, e.name, e.shown, e.st) ||
        ::fstat(e.dir.get(), &e.dirSt) != 0) {
      return false;
    }
  }
  return sameInode(entries[0].dirSt, entries[1].dirSt) && entries[0].name == entries[1].name;
}

OutputSite::OutputSite(const std::string& target) : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.target = target;
  auto [dirPart, base] = splitName(target);
  if (namesDirectory(base)) fail(target, EISDIR);
  s.top = openDirectory(AT_FDCWD, dirPart);
  if (!s.top) fail(target, errno);
  s.topName = base;
  examineSettled(s);
}

OutputSite::~OutputSite() = default;

const std::string& OutputSite::target() const { return state_->target; }

bool OutputSite::inPlace() const { return state_->inPlace; }

const std::string& OutputSite::temporaryName() const { return state_->temporary.path(); }

void OutputSite::openInPlace() {
  State& s = *state_;
  // By its name in the directory that holds it, not following a link, and
  // checked to be the file examined: a regular file swapped in meanwhile is
  // neither truncated nor written. A FIFO blocks until it has a reader.
  s.file = UniqueFd(openAt(s.dir.get(), s.name, O_WRONLY | O_NOFOLLOW | O_NOCTTY));
  if (!s.file) fail(s.target, errno == ELOOP ? EAGAIN : errno);
  struct stat st;
  if (::fstat(s.file.get(), &st) != 0) fail(s.target, errno);
  if (!sameInode(st, s.st)) fail(s.target, EAGAIN);
}

void OutputSite::createTemporary() {
  State& s = *state_;
  int error = s.temporary.create(s.dir.get(), s.name, s.dirName);
  if (error != 0) {
    s.temporary.discard();
    fail(s.target, error);
  }
}

void OutputSite::write(const char* data, std::size_t size) {
  State& s = *state_;
  int error = writeAll(s.inPlace ? s.file.get() : s.temporary.fd(), data, size);
  if (error != 0) fail(s.target, error);
}

void OutputSite::copyFrom(InputFile& source) {
  State& s = *state_;
  int in = source.state_->fd.get();
  struct stat st;
  if (::fstat(in, &st) != 0) fail(source.path(), errno);
  // Files that report no size (such as those of /proc) are read plainly,
  // since the kernel's copy calls would see them as empty; a device or
  // FIFO takes plain writes.
  bool writing = true;
  int out = s.inPlace ? s.file.get() : s.temporary.fd();
  int error = copyContents(in, out, !s.inPlace && st.st_size > 0, writing);
  if (error != 0) fail(writing ? s.target : source.path(), error);
  s.copiedWrite = st.st_mtim;
}

void OutputSite::giveMetadata(const Origin& origin, const Times& times) {
  State& s = *state_;
  const int fd = s.temporary.fd();
  const Permissions p = permissionsFor(s, origin);
  // The old output was opened for writing only to check the access and read
  // its ACL; its close is checked all the same, as every written file's is.
  int error = s.file.close();
  if (error == 0) error = givePermissions(fd, p);
  if (error == 0 && (times.set || s.copiedWrite)) {
    timespec ts[2] = {toTimespec(times.stamps.lastAccess), toTimespec(times.stamps.lastWrite)};
    if (!times.access) ts[0].tv_nsec = UTIME_OMIT;
    if (!times.set) ts[1] = *s.copiedWrite;
    if (::futimens(fd, ts) != 0) error = errno;
  }
  if (error == 0) error = giveOwner(s, fd, p.mode);
  if (error != 0) fail(s.target, error);
}

void OutputSite::seal() {
  State& s = *state_;
  int error = s.temporary.name(s.name);
  int closeError = s.temporary.file().close();
  if (error == 0) error = closeError;
  if (error != 0) fail(s.target, error);
}

bool OutputSite::stillExamined() {
  State& s = *state_;
  struct stat now;
  bool there = statAt(s.dir.get(), s.name, now);
  if (!there && !isMissing(errno)) fail(s.target, errno);
  bool same = s.exists || s.placeholder ? there && sameInode(now, s.st) : !there;
  if (same) return true;
  struct stat before = s.dirSt;
  examineSettled(s);
  // The temporary lies in the directory first examined; it can only take a
  // place there.
  if (!sameInode(before, s.dirSt) || s.inPlace) fail(s.target, EAGAIN);
  int error = s.temporary.reopen();
  if (error != 0) fail(s.target, error);
  return false;
}

void OutputSite::rename() {
  State& s = *state_;
  int error = s.temporary.renameOver(s.name);
  if (error != 0) fail(s.target, error);
}

void OutputSite::closeInPlace() {
  State& s = *state_;
  int error = s.file.close();
  if (error != 0) fail(s.target, error);
}

Origin OutputSite::originOf(InputFile& source) {
  struct stat st;
  if (::fstat(source.state_->fd.get(), &st) != 0) fail(source.path(), errno);
  return Origin{true, static_cast<unsigned>(st.st_mode & 0777)};
}

FileStamps OutputSite::stampsOf(InputFile& source) {
  struct stat st;
  if (::fstat(source.state_->fd.get(), &st) != 0) fail(source.path(), errno);
  auto millis = [](const timespec& t) { return Millis{t.tv_sec} * 1000 + t.tv_nsec / 1000000; };
  return FileStamps{millis(st.st_ctim), millis(st.st_atim), millis(st.st_mtim)};
}

}  // namespace vesk::platform
