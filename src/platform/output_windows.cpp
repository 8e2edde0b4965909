// The steps of an output's commit for Windows (output.h). The target is
// examined by its name; the temporary is written beside it and moved over it
// with the system's replacing rename.
#include "base/exception.h"
#include "platform/output.h"
#include "platform/windows_util.h"

namespace vesk::platform {
namespace {

// NTFS "tunnels" a name's creation time: a file renamed over a name that was
// in use moments ago takes the old file's creation time, not the one set on
// the temporary. Once the output is in place its creation time is set again.
// This is best effort: the output is complete and its other times are right
// already, so a failure here changes nothing the run reports.
void restampCreation(const std::string& target, const FileStamps& stamps) noexcept {
  FILETIME creation;
  if (!toFileTime(stamps.creation, creation)) return;
  try {
    UniqueHandle handle(
        createFile(target, FILE_WRITE_ATTRIBUTES, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
    if (handle) ::SetFileTime(handle.get(), &creation, nullptr, nullptr);
  } catch (...) {
    // a name that cannot be converted: nothing to restamp
  }
}

// Attributes that an output takes over: from the file it replaces when it is
// rewritten, from its source when it is copied.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE |
                                  FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Refuses targets that an in-place write could not change either: a directory
// or a read-only file. Returns the attributes worth keeping for the file that
// replaces the target (0 when it is missing).
DWORD checkReplaceable(const std::string& target) {
  DWORD attributes = fileAttributes(target);
  if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) {
    fail(target, ERROR_ACCESS_DENIED);
  }
  return attributes & kKeptAttributes & ~DWORD{FILE_ATTRIBUTE_READONLY};
}

// Gives a finished temporary the stamps a synchronised output carries.
// The copy has given it the source's attributes, so it may be read-only
// already: setting times needs only the right to write attributes.
BOOL stampTemporary(const std::string& temporary, const FileStamps& stamps) {
  UniqueHandle handle(
      createFile(temporary, FILE_WRITE_ATTRIBUTES, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
  if (!handle) return FALSE;
  DWORD error = stampHandle(handle.get(), stamps);
  handle.reset();
  if (error != 0) ::SetLastError(error);
  return error == 0;
}

// The copy itself. While it runs the handler cannot delete the temporary
// (the copy holds it open without sharing), so it waits for the copy, which
// an interrupt cancels, and this thread then stops.
BOOL copyIntoTemporary(const std::string& source, const std::string& temporary) {
  markCopying(temporary, true);
  BOOL ok = copyFile(source, temporary);
  DWORD error = ::GetLastError();
  markCopying(temporary, false);
  parkIfInterrupted();
  ::SetLastError(error);
  return ok;
}

// The volume and index that tell a file apart; false when it cannot be
// opened. Opening for no access at all needs no right and shares everything.
bool identityOf(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
  try {
    UniqueHandle handle(createFile(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
    return handle && ::GetFileInformationByHandle(handle.get(), &info);
  } catch (const Exception&) {
    return false;  // a name that cannot be converted names nothing
  }
}

}  // namespace

void replaceWithTemporary(const std::string& target, const std::string& temporary) {
  if (!moveReplacing(temporary, target)) {
    DWORD error = ::GetLastError();
    removeOwnFile(temporary);
    parkIfInterrupted();
    fail(target, error);
  }
  forgetTemporary(temporary);
}

bool sameEntry(const std::string& source, const std::string& output) {
  BY_HANDLE_FILE_INFORMATION a, b;
  if (!identityOf(source, a) || !identityOf(output, b) ||
      a.dwVolumeSerialNumber != b.dwVolumeSerialNumber || a.nFileIndexHigh != b.nFileIndexHigh ||
      a.nFileIndexLow != b.nFileIndexLow) {
    return false;
  }
  // One file under two names (hard links): replacing one name leaves the
  // other as it was.
  return a.nNumberOfLinks == 1;
}

struct OutputSite::State {
  ~State() {
    handle.reset();
    if (!temporary.empty()) removeOwnFile(temporary);
  }
  std::string target;
  DWORD keptAttributes = 0;  // of the file replaced, for a rewrite
  std::string temporary;     // its name while it exists
  UniqueHandle handle;       // open while it is written into
  Times times;               // given, for the creation time after the move
};

OutputSite::OutputSite(const std::string& target) : state_(std::make_unique<State>()) {
  state_->target = target;
  state_->keptAttributes = checkReplaceable(target);
}

OutputSite::~OutputSite() = default;

const std::string& OutputSite::target() const { return state_->target; }

// Devices and pipes are replaced like files (the system refuses them).
bool OutputSite::inPlace() const { return false; }

void OutputSite::openInPlace() { fail(state_->target, ERROR_INVALID_FUNCTION); }

void OutputSite::closeInPlace() { fail(state_->target, ERROR_INVALID_FUNCTION); }

const std::string& OutputSite::temporaryName() const { return state_->temporary; }

void OutputSite::createTemporary() {
  State& s = *state_;
  s.handle = platform::createTemporary(s.target, s.keptAttributes, s.temporary);
}

void OutputSite::write(const char* data, std::size_t size) {
  DWORD error = writeAll(state_->handle.get(), data, size);
  if (error == 0) return;
  parkIfInterrupted();  // the handler may have removed the temporary
  fail(state_->target, error);
}

// The copy is made by the system's copy service, by name, onto the
// temporary, which is closed for it: it takes the source's bytes and
// last-write time.
void OutputSite::copyFrom(InputFile& source) {
  State& s = *state_;
  s.handle.reset();
  // The copy service refuses to write over a hidden or read-only file.
  if (!setFileAttributes(s.temporary, FILE_ATTRIBUTE_NORMAL) ||
      !copyIntoTemporary(source.path(), s.temporary)) {
    DWORD error = ::GetLastError();
    removeOwnFile(s.temporary);
    s.temporary.clear();
    parkIfInterrupted();
    fail(s.target, error);
  }
}

void OutputSite::giveMetadata(const Origin& origin, const Times& times) {
  State& s = *state_;
  s.times = times;
  BOOL ok = TRUE;
  DWORD error = 0;
  if (!origin.copy) {
    error = times.set ? stampHandle(s.handle.get(), times.stamps) : 0;
  } else {
    // The stamps first: the source's attributes may make it read-only.
    ok = (!times.access || stampTemporary(s.temporary, times.stamps)) &&
         setFileAttributes(s.temporary, origin.mode != 0 ? origin.mode : FILE_ATTRIBUTE_NORMAL);
    if (!ok) error = ::GetLastError();
  }
  if (error == 0) return;
  removeOwnFile(s.temporary);
  s.temporary.clear();
  parkIfInterrupted();
  fail(s.target, error);
}

void OutputSite::seal() {
  State& s = *state_;
  DWORD error = s.handle.close();
  if (error == 0) return;
  removeOwnFile(s.temporary);
  s.temporary.clear();
  parkIfInterrupted();
  fail(s.target, error);
}

bool OutputSite::stillExamined() { return true; }

void OutputSite::rename() {
  State& s = *state_;
  std::string temporary = std::move(s.temporary);
  s.temporary.clear();
  replaceWithTemporary(s.target, temporary);
  if (s.times.set && s.times.access) {
    restampCreation(s.target, s.times.stamps);
  }
}

Origin OutputSite::originOf(InputFile& source) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(source.state_->handle.get(), &info)) {
    fail(source.path(), ::GetLastError());
  }
  return Origin{true, info.dwFileAttributes & kKeptAttributes};
}

FileStamps OutputSite::stampsOf(InputFile& source) {
  FileStamps stamps;
  if (!stampsOfHandle(source.state_->handle.get(), stamps)) fail(source.path(), ::GetLastError());
  return stamps;
}

}  // namespace vesk::platform
