// Files: reading them and their time stamps, for Windows.
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

}  // namespace

bool toFileTime(Millis millis, FILETIME& time) {
  constexpr Millis kMin = -kTicksTo1970 / kTicksPerMilli;
  constexpr Millis kMax = (INT64_MAX - kTicksTo1970) / kTicksPerMilli;
  if (millis < kMin || millis > kMax) return false;
  auto ticks = static_cast<std::uint64_t>(millis * kTicksPerMilli + kTicksTo1970);
  time.dwLowDateTime = static_cast<DWORD>(ticks & 0xffffffffu);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return true;
}

namespace {

// Opens a file to read its time stamps: no sharing, an existing file only.
UniqueHandle openForTimes(const std::string& path) {
  return UniqueHandle(createFile(path, GENERIC_READ, 0, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN));
}

}  // namespace

BOOL stampsOfHandle(HANDLE handle, FileStamps& stamps) {
  FILETIME creation, lastAccess, lastWrite;
  if (!::GetFileTime(handle, &creation, &lastAccess, &lastWrite)) return FALSE;
  stamps = FileStamps{millisOf(creation), millisOf(lastAccess), millisOf(lastWrite)};
  return TRUE;
}

DWORD stampHandle(HANDLE handle, const FileStamps& stamps) {
  FILETIME creation, lastAccess, lastWrite;
  if (!toFileTime(stamps.creation, creation) || !toFileTime(stamps.lastAccess, lastAccess) ||
      !toFileTime(stamps.lastWrite, lastWrite)) {
    return ERROR_INVALID_PARAMETER;
  }
  return ::SetFileTime(handle, &creation, &lastAccess, &lastWrite) ? 0 : ::GetLastError();
}

namespace {

// Reads a file's three stamps; FALSE with the error set on failure.
BOOL stampsOf(const std::string& path, FileStamps& stamps) {
  UniqueHandle handle = openForTimes(path);
  return handle && stampsOfHandle(handle.get(), stamps);
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

// ---- File contents --------------------------------------------------------

// Others may read, write, and rename or delete the file while we read it; the
// last lets an output that is its own source be replaced while still open.
InputFile::InputFile(const std::string& path) : path_(path) {
  HANDLE handle =
      createFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN);
  // A directory cannot be opened this way (access is denied).
  if (handle == INVALID_HANDLE_VALUE) fail(path, ::GetLastError());
  state_ = std::make_unique<State>();
  state_->handle = UniqueHandle(handle);
}

InputFile::~InputFile() = default;

std::size_t InputFile::read(char* buffer, std::size_t size) {
  DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
  DWORD got = 0;
  if (!::ReadFile(state_->handle.get(), buffer, chunk, &got, nullptr)) {
    DWORD error = ::GetLastError();
    if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) return 0;
    fail(path_, error);
  }
  return got;
}

}  // namespace vesk::platform
