// Files, their time stamps, atomic outputs and copies, for Windows.
#include "base/exception.h"
#include "platform/windows_util.h"

namespace vesk::platform {
namespace {

// FILETIME counts 100 ns steps since 1601-01-01 UTC.
constexpr std::int64_t kTicksPerMilli = 10000;
constexpr std::int64_t kTicksTo1970 = 116444736000000000;

std::int64_t ticksOf(const FILETIME& time) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                                   time.dwLowDateTime);
}

Millis millisOf(const FILETIME& time) {
  std::int64_t ticks = ticksOf(time) - kTicksTo1970;
  std::int64_t millis = ticks / kTicksPerMilli;
  if (ticks % kTicksPerMilli != 0 && ticks < 0) --millis;
  return millis;
}

// Times before 1601 or too late for FILETIME are not representable.
bool toFileTime(Millis millis, FILETIME& time) {
  constexpr Millis kMin = -kTicksTo1970 / kTicksPerMilli;
  constexpr Millis kMax = (INT64_MAX - kTicksTo1970) / kTicksPerMilli;
  if (millis < kMin || millis > kMax) return false;
  auto ticks = static_cast<std::uint64_t>(millis * kTicksPerMilli + kTicksTo1970);
  time.dwLowDateTime = static_cast<DWORD>(ticks & 0xffffffffu);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return true;
}

// Opens a file to read its time stamps: no sharing, an existing file only.
UniqueHandle openForTimes(const std::string& path) {
  return UniqueHandle(createFile(path, GENERIC_READ, 0, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN));
}

// Sets all three stamps of an open file in one call, so that a failure leaves
// them as they were. Returns 0 or the error.
DWORD stampHandle(HANDLE handle, const FileStamps& stamps) {
  FILETIME creation, lastAccess, lastWrite;
  if (!toFileTime(stamps.creation, creation) || !toFileTime(stamps.lastAccess, lastAccess) ||
      !toFileTime(stamps.lastWrite, lastWrite)) {
    return ERROR_INVALID_PARAMETER;
  }
  return ::SetFileTime(handle, &creation, &lastAccess, &lastWrite) ? 0 : ::GetLastError();
}

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

// Reads a file's three stamps; FALSE with the error set on failure.
BOOL stampsOf(const std::string& path, FileStamps& stamps) {
  UniqueHandle handle = openForTimes(path);
  FILETIME creation, lastAccess, lastWrite;
  if (!handle || !::GetFileTime(handle.get(), &creation, &lastAccess, &lastWrite)) return FALSE;
  stamps = FileStamps{millisOf(creation), millisOf(lastAccess), millisOf(lastWrite)};
  return TRUE;
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

// The attributes of the source, opened first so that its failures name it
// and not the target.
DWORD sourceAttributes(const std::string& source) {
  UniqueHandle in(createFile(source, GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL));
  if (!in) fail(source, ::GetLastError());
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(in.get(), &info)) fail(source, ::GetLastError());
  return info.dwFileAttributes;
}

}  // namespace

DWORD writeAll(HANDLE handle, const char* data, std::size_t size) {
  while (size > 0) {
    DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!::WriteFile(handle, data, chunk, &written, nullptr)) return ::GetLastError();
    if (written == 0) return ERROR_WRITE_FAULT;
    data += written;
    size -= written;
  }
  return 0;
}

// ---- File times -----------------------------------------------------------

FileStamps readFileStamps(const std::string& path) {
  FileStamps stamps;
  if (!stampsOf(path, stamps)) fail(path, ::GetLastError());
  return stamps;
}

bool sameFile(const std::string& first, const std::string& second) {
  BY_HANDLE_FILE_INFORMATION a, b;
  return identityOf(first, a) && identityOf(second, b) &&
         a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

// ---- File contents --------------------------------------------------------

// Others may read, write, and rename or delete the file while we read it; the
// last lets an output that is its own source be replaced while still open.
InputFile::InputFile(const std::string& path) : path_(path), handle_(-1) {
  HANDLE handle =
      createFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN);
  // A directory cannot be opened this way (access is denied).
  if (handle == INVALID_HANDLE_VALUE) fail(path, ::GetLastError());
  handle_ = fromHandle(handle);
}

InputFile::~InputFile() { UniqueHandle(toHandle(handle_)).reset(); }

std::size_t InputFile::read(char* buffer, std::size_t size) {
  DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
  DWORD got = 0;
  if (!::ReadFile(toHandle(handle_), buffer, chunk, &got, nullptr)) {
    DWORD error = ::GetLastError();
    if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) return 0;
    fail(path_, error);
  }
  return got;
}

AtomicFile::AtomicFile(const std::string& target) : target_(target), handle_(-1) {
  DWORD attributes = checkReplaceable(target);
  handle_ = fromHandle(createTemporary(target, attributes, temporary_).release());
}

AtomicFile::~AtomicFile() {
  if (committed_) return;
  UniqueHandle(toHandle(handle_)).reset();
  removeOwnFile(temporary_);
}

void AtomicFile::write(const char* data, std::size_t size) {
  if (committed_) fail(target_, ERROR_INVALID_HANDLE);
  DWORD error = writeAll(toHandle(handle_), data, size);
  if (error == 0) return;
  parkIfInterrupted();  // the handler may have removed the temporary
  fail(target_, error);
}

void AtomicFile::commit() {
  if (committed_) return;
  // Whatever happens below, the temporary is gone afterwards.
  committed_ = true;
  UniqueHandle handle(toHandle(handle_));
  handle_ = -1;
  DWORD error = stamped_ ? stampHandle(handle.get(), stamps_) : 0;
  DWORD closeError = handle.close();
  if (error == 0) error = closeError;
  if (error != 0) {
    removeOwnFile(temporary_);
    parkIfInterrupted();
    fail(target_, error);
  }
  replaceWithTemporary(target_, temporary_);
  if (stamped_) restampCreation(target_, stamps_);
}

void AtomicFile::setStamps(const FileStamps& stamps) {
  stamps_ = stamps;
  stamped_ = true;
}

void copyFileAtomic(const std::string& source, const std::string& target, bool syncStamps) {
  DWORD attributes = sourceAttributes(source) & kKeptAttributes;
  checkReplaceable(target);
  std::string temporary;
  // Created only to hold the name; the copy writes it by name.
  createTemporary(target, 0, temporary).reset();
  // The copy takes the source's bytes and last-write time. Copied onto the
  // temporary that already exists, it need not take the source's attributes,
  // so they are set afterwards: a read-only source gives a read-only output.
  // The source's stamps are read once the copy has read it.
  FileStamps stamps;
  if (!copyIntoTemporary(source, temporary) ||
      (syncStamps && (!stampsOf(source, stamps) || !stampTemporary(temporary, stamps))) ||
      !setFileAttributes(temporary, attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL)) {
    DWORD error = ::GetLastError();
    removeOwnFile(temporary);
    parkIfInterrupted();
    fail(target, error);
  }
  replaceWithTemporary(target, temporary);
  if (syncStamps) restampCreation(target, stamps);
}

}  // namespace vesk::platform
