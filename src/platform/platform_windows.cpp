// The operating-system layer for Windows (KERNEL32).
//
// Names are UTF-8 inside vesk. When the system offers the wide API (the
// version word's high bit is clear) they go to the "W" services as UTF-16;
// otherwise to the "A" services in the ANSI code page.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "support/exception.h"

namespace vesk::platform {
namespace {

// ---- Choice of API and text conversion ------------------------------------

bool detectWideApi() { return (::GetVersion() & 0x80000000u) == 0; }

bool useWideApi() {
  static const bool wide = detectWideApi();
  return wide;
}

std::string trimLineEnd(std::string text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

std::string utf8FromWide(const wchar_t* text, int size);

// The system's text for an error code, as UTF-8 and without its line end.
std::string systemMessage(DWORD error) {
  std::string text;
  const DWORD flags =
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  if (useWideApi()) {
    wchar_t* buffer = nullptr;
    DWORD n =
        ::FormatMessageW(flags, nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (n > 0 && buffer != nullptr) text = utf8FromWide(buffer, static_cast<int>(n));
    if (buffer != nullptr) ::LocalFree(buffer);
  } else {
    char* buffer = nullptr;
    DWORD n =
        ::FormatMessageA(flags, nullptr, error, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    if (n > 0 && buffer != nullptr) {
      std::string ansi(buffer, n);
      ::LocalFree(buffer);
      try {
        text = fromMultiByte(ansi);
      } catch (const Exception&) {
        text.clear();
      }
    } else if (buffer != nullptr) {
      ::LocalFree(buffer);
    }
  }
  text = trimLineEnd(std::move(text));
  if (text.empty()) text = "system error " + std::to_string(error);
  return text;
}

[[noreturn]] void fail(const std::string& name, DWORD error) {
  throw FileException(name, systemMessage(error));
}

[[noreturn]] void failConversion(DWORD error) {
  throw Exception("Couldn't convert string: " + systemMessage(error));
}

bool isAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

int checkedSize(std::size_t size) {
  if (size > 0x7fffffff) failConversion(ERROR_INVALID_PARAMETER);
  return static_cast<int>(size);
}

// Multibyte text of the code page to UTF-16; invalid bytes are an error.
std::wstring wideFrom(UINT codePage, std::string_view text) {
  if (text.empty()) return std::wstring();
  int size = checkedSize(text.size());
  int n = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (n <= 0) failConversion(::GetLastError());
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  n = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), n);
  if (n <= 0) failConversion(::GetLastError());
  wide.resize(static_cast<std::size_t>(n));
  return wide;
}

// UTF-16 to multibyte text of the code page. For UTF-8 an unpaired surrogate
// is an error; for the ANSI code page a character it lacks becomes the code
// page's default character, or an error when `exact` is set.
std::string multiByteFrom(UINT codePage, const wchar_t* text, int size, bool exact) {
  if (size == 0) return std::string();
  DWORD flags = codePage == CP_UTF8 ? WC_ERR_INVALID_CHARS : 0;
  BOOL usedDefault = FALSE;
  BOOL* usedDefaultPtr = codePage == CP_UTF8 ? nullptr : &usedDefault;
  int n = ::WideCharToMultiByte(codePage, flags, text, size, nullptr, 0, nullptr, usedDefaultPtr);
  if (n <= 0) failConversion(::GetLastError());
  if (exact && usedDefault) failConversion(ERROR_NO_UNICODE_TRANSLATION);
  std::string result(static_cast<std::size_t>(n), '\0');
  n = ::WideCharToMultiByte(codePage, flags, text, size, result.data(), n, nullptr, nullptr);
  if (n <= 0) failConversion(::GetLastError());
  result.resize(static_cast<std::size_t>(n));
  return result;
}

std::string utf8FromWide(const wchar_t* text, int size) {
  return multiByteFrom(CP_UTF8, text, size, false);
}

std::string utf8FromWide(const std::wstring& text) {
  return utf8FromWide(text.data(), checkedSize(text.size()));
}

// A UTF-8 name as the "W" services take it.
std::wstring wideName(const std::string& name) { return wideFrom(CP_UTF8, name); }

// A UTF-8 name as the "A" services take it. A character the code page lacks
// would name another file, so it is an error.
std::string ansiName(const std::string& name) {
  if (isAscii(name)) return name;
  std::wstring wide = wideFrom(CP_UTF8, name);
  return multiByteFrom(CP_ACP, wide.data(), checkedSize(wide.size()), true);
}

// ---- The services, in their wide or ANSI form -------------------------------

HANDLE createFile(const std::string& name, DWORD access, DWORD share, DWORD disposition,
                  DWORD flags) {
  if (useWideApi()) {
    return ::CreateFileW(wideName(name).c_str(), access, share, nullptr, disposition, flags,
                         nullptr);
  }
  return ::CreateFileA(ansiName(name).c_str(), access, share, nullptr, disposition, flags, nullptr);
}

DWORD fileAttributes(const std::string& name) {
  if (useWideApi()) return ::GetFileAttributesW(wideName(name).c_str());
  return ::GetFileAttributesA(ansiName(name).c_str());
}

BOOL setFileAttributes(const std::string& name, DWORD attributes) {
  if (useWideApi()) return ::SetFileAttributesW(wideName(name).c_str(), attributes);
  return ::SetFileAttributesA(ansiName(name).c_str(), attributes);
}

BOOL deleteFile(const std::string& name) {
  if (useWideApi()) return ::DeleteFileW(wideName(name).c_str());
  return ::DeleteFileA(ansiName(name).c_str());
}

BOOL moveReplacing(const std::string& from, const std::string& to) {
  if (useWideApi()) {
    return ::MoveFileExW(wideName(from).c_str(), wideName(to).c_str(), MOVEFILE_REPLACE_EXISTING);
  }
  return ::MoveFileExA(ansiName(from).c_str(), ansiName(to).c_str(), MOVEFILE_REPLACE_EXISTING);
}

BOOL copyFile(const std::string& from, const std::string& to) {
  if (useWideApi()) return ::CopyFileW(wideName(from).c_str(), wideName(to).c_str(), FALSE);
  return ::CopyFileA(ansiName(from).c_str(), ansiName(to).c_str(), FALSE);
}

// Deletes a file we created, even one that a copy made read-only.
void removeOwnFile(const std::string& name) noexcept {
  try {
    if (!deleteFile(name)) {
      setFileAttributes(name, FILE_ATTRIBUTE_NORMAL);
      deleteFile(name);
    }
  } catch (...) {
  }
}

// ---- Times ------------------------------------------------------------------

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

[[noreturn]] void failTime(DWORD error) {
  throw Exception("Couldn't convert time: " + systemMessage(error));
}

// Opens a file for reading or for setting its time stamps: no sharing, an
// existing file only, sequential access.
HANDLE openForTimes(const std::string& path, bool writing) {
  return createFile(path, writing ? GENERIC_WRITE : GENERIC_READ, 0, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN);
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

// ---- Kinds of names -----------------------------------------------------------

FileKind kindOfAttributes(DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return FileKind::Directory;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return FileKind::Other;
  return FileKind::File;
}

bool isMissingError(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
         error == ERROR_INVALID_NAME || error == ERROR_BAD_NETPATH || error == ERROR_BAD_PATHNAME ||
         error == ERROR_INVALID_DRIVE || error == ERROR_NOT_READY || error == ERROR_DIRECTORY;
}

// What a reparse point (a symbolic link, a junction) leads to, found by
// opening it and so following it.
FileKind kindOfReparseTarget(const std::string& path) {
  HANDLE handle = createFile(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  if (handle == INVALID_HANDLE_VALUE) {
    return isMissingError(::GetLastError()) ? FileKind::Missing : FileKind::Other;
  }
  BY_HANDLE_FILE_INFORMATION info;
  BOOL ok = ::GetFileInformationByHandle(handle, &info);
  ::CloseHandle(handle);
  return ok ? kindOfAttributes(info.dwFileAttributes) : FileKind::Other;
}

// A walk enters real directories only; a linked directory (a reparse point)
// is Other, a link to a file counts as the file.
DirEntry::Kind entryKind(const std::string& path, DWORD attributes) {
  bool directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    if (directory) return DirEntry::Kind::Other;
    return kindOfReparseTarget(path) == FileKind::File ? DirEntry::Kind::File
                                                       : DirEntry::Kind::Other;
  }
  if (directory) return DirEntry::Kind::Directory;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return DirEntry::Kind::Other;
  return DirEntry::Kind::File;
}

std::string joinEntry(const std::string& dir, const std::string& name) {
  char last = dir.back();
  if (last == '\\' || last == '/' || last == ':') return dir + name;
  return dir + "\\" + name;
}

void listWide(const std::string& dir, std::vector<DirEntry>& entries) {
  WIN32_FIND_DATAW found;
  HANDLE handle = ::FindFirstFileW(wideName(joinEntry(dir, "*")).c_str(), &found);
  if (handle == INVALID_HANDLE_VALUE) return;
  do {
    std::string name;
    try {
      name = utf8FromWide(found.cFileName, checkedSize(std::wcslen(found.cFileName)));
    } catch (const Exception&) {
      continue;  // a name that is no valid UTF-16 cannot be given back to us
    }
    if (name == "." || name == "..") continue;
    DirEntry::Kind kind = entryKind(joinEntry(dir, name), found.dwFileAttributes);
    entries.push_back(DirEntry{std::move(name), kind});
  } while (::FindNextFileW(handle, &found));
  ::FindClose(handle);
}

void listAnsi(const std::string& dir, std::vector<DirEntry>& entries) {
  WIN32_FIND_DATAA found;
  HANDLE handle = ::FindFirstFileA(ansiName(joinEntry(dir, "*")).c_str(), &found);
  if (handle == INVALID_HANDLE_VALUE) return;
  do {
    std::string name;
    try {
      name = fromMultiByte(found.cFileName);
    } catch (const Exception&) {
      continue;
    }
    if (name == "." || name == "..") continue;
    DirEntry::Kind kind = entryKind(joinEntry(dir, name), found.dwFileAttributes);
    entries.push_back(DirEntry{std::move(name), kind});
  } while (::FindNextFileA(handle, &found));
  ::FindClose(handle);
}

// ---- Writing files --------------------------------------------------------------

HANDLE toHandle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }
std::intptr_t fromHandle(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }

void closeQuietly(HANDLE handle) noexcept {
  if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
}

// Writes all of data; returns 0 or the error code.
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

// Creates a new, empty temporary file beside the target, named
// ".<base>.<pid>-<counter>.vesk-tmp", and returns it open for writing.
// Failures name the target.
HANDLE createTemporary(const std::string& target, DWORD attributes, std::string& temporary) {
  static unsigned counter = 0;
  std::size_t cut = target.find_last_of("\\/:");
  std::string dir = cut == std::string::npos ? std::string() : target.substr(0, cut + 1);
  std::string base = cut == std::string::npos ? target : target.substr(cut + 1);
  if (base.size() > 200) base.resize(200);
  std::string pid = std::to_string(::GetCurrentProcessId());
  if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
  for (int attempt = 0;; ++attempt) {
    temporary = dir + "." + base + "." + pid + "-" + std::to_string(counter++) + ".vesk-tmp";
    HANDLE handle = createFile(temporary, GENERIC_WRITE, 0, CREATE_NEW, attributes);
    if (handle != INVALID_HANDLE_VALUE) return handle;
    DWORD error = ::GetLastError();
    if ((error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) && attempt < 100) continue;
    temporary.clear();
    fail(target, error);
  }
}

// Renames the finished temporary over the target; on failure the temporary
// is removed and the error names the target.
void replaceWithTemporary(const std::string& target, const std::string& temporary) {
  if (!moveReplacing(temporary, target)) {
    DWORD error = ::GetLastError();
    removeOwnFile(temporary);
    fail(target, error);
  }
}

}  // namespace

// ---- Text at the edges ----------------------------------------------------

std::string fromMultiByte(std::string_view text) {
  if (isAscii(text)) return std::string(text);
  std::wstring wide = wideFrom(CP_ACP, text);
  return utf8FromWide(wide);
}

std::string toMultiByte(std::string_view text) {
  if (isAscii(text)) return std::string(text);
  std::wstring wide = wideFrom(CP_UTF8, text);
  return multiByteFrom(CP_ACP, wide.data(), checkedSize(wide.size()), false);
}

// ---- Process --------------------------------------------------------------

std::vector<std::string> arguments(int argc, char** argv) {
  std::vector<std::string> result;
  result.reserve(argc > 0 ? static_cast<std::size_t>(argc) : 0);
  for (int i = 0; i < argc; ++i) result.emplace_back(argv[i] != nullptr ? argv[i] : "");
  return result;
}

std::string currentDir() {
  if (useWideApi()) {
    DWORD size = ::GetCurrentDirectoryW(0, nullptr);
    for (;;) {
      if (size == 0) fail(".", ::GetLastError());
      std::wstring buffer(size, L'\0');
      DWORD n = ::GetCurrentDirectoryW(size, buffer.data());
      if (n == 0) fail(".", ::GetLastError());
      if (n < size) {
        buffer.resize(n);
        return utf8FromWide(buffer);
      }
      size = n;  // it grew in between
    }
  }
  DWORD size = ::GetCurrentDirectoryA(0, nullptr);
  for (;;) {
    if (size == 0) fail(".", ::GetLastError());
    std::string buffer(size, '\0');
    DWORD n = ::GetCurrentDirectoryA(size, buffer.data());
    if (n == 0) fail(".", ::GetLastError());
    if (n < size) {
      buffer.resize(n);
      return fromMultiByte(buffer);
    }
    size = n;
  }
}

void changeDir(const std::string& dir) {
  BOOL ok = useWideApi() ? ::SetCurrentDirectoryW(wideName(dir).c_str())
                         : ::SetCurrentDirectoryA(ansiName(dir).c_str());
  if (!ok) fail(dir, ::GetLastError());
}

// WriteFile passes bytes unchanged: "\n" stays "\n" and "\r\n" stays "\r\n".
void writeStandardOutput(std::string_view text) {
  DWORD error = writeAll(::GetStdHandle(STD_OUTPUT_HANDLE), text.data(), text.size());
  if (error != 0) fail("standard output", error);
}

void writeStandardError(std::string_view text) noexcept {
  writeAll(::GetStdHandle(STD_ERROR_HANDLE), text.data(), text.size());
}

// ---- Names in the file system ---------------------------------------------

FileKind fileKind(const std::string& path) {
  try {
    DWORD attributes = fileAttributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      return isMissingError(::GetLastError()) ? FileKind::Missing : FileKind::Other;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return kindOfReparseTarget(path);
    return kindOfAttributes(attributes);
  } catch (const Exception&) {
    return FileKind::Missing;  // a name that cannot be converted names nothing
  }
}

void createDirectory(const std::string& path) {
  BOOL ok = useWideApi() ? ::CreateDirectoryW(wideName(path).c_str(), nullptr)
                         : ::CreateDirectoryA(ansiName(path).c_str(), nullptr);
  if (!ok) fail(path, ::GetLastError());
}

std::vector<DirEntry> listDirectory(const std::string& dir) {
  std::vector<DirEntry> entries;
  if (dir.empty()) return entries;
  try {
    if (useWideApi()) {
      listWide(dir, entries);
    } else {
      listAnsi(dir, entries);
    }
  } catch (const Exception&) {
    entries.clear();
  }
  return entries;
}

void removeFileQuietly(const std::string& path) noexcept {
  try {
    deleteFile(path);
  } catch (...) {
  }
}

// ---- File times -----------------------------------------------------------

FileStamps readFileStamps(const std::string& path) {
  HANDLE handle = openForTimes(path, false);
  if (handle == INVALID_HANDLE_VALUE) fail(path, ::GetLastError());
  FILETIME creation, lastAccess, lastWrite;
  if (!::GetFileTime(handle, &creation, &lastAccess, &lastWrite)) {
    DWORD error = ::GetLastError();
    ::CloseHandle(handle);
    fail(path, error);
  }
  ::CloseHandle(handle);
  return FileStamps{millisOf(creation), millisOf(lastAccess), millisOf(lastWrite)};
}

void writeFileStamps(const std::string& path, const FileStamps& stamps) {
  HANDLE handle = openForTimes(path, true);
  if (handle == INVALID_HANDLE_VALUE) fail(path, ::GetLastError());
  DWORD error = stampHandle(handle, stamps);
  ::CloseHandle(handle);
  if (error != 0) fail(path, error);
}

LocalTime toLocalTime(Millis utc) {
  FILETIME universal, local;
  SYSTEMTIME broken;
  if (!toFileTime(utc, universal)) failTime(ERROR_INVALID_PARAMETER);
  if (!::FileTimeToLocalFileTime(&universal, &local)) failTime(::GetLastError());
  if (!::FileTimeToSystemTime(&local, &broken)) failTime(::GetLastError());
  LocalTime result;
  result.year = broken.wYear;
  result.month = broken.wMonth;
  result.day = broken.wDay;
  result.hour = broken.wHour;
  result.minute = broken.wMinute;
  result.second = broken.wSecond;
  result.millisecond = broken.wMilliseconds;
  result.dayOfWeek = broken.wDayOfWeek;
  return result;
}

Millis fromLocalTime(const LocalTime& local) {
  auto field = [](std::int32_t value) {
    if (value < 0 || value > 0xffff) failTime(ERROR_INVALID_PARAMETER);
    return static_cast<WORD>(value);
  };
  SYSTEMTIME broken;
  broken.wYear = field(local.year);
  broken.wMonth = field(local.month);
  broken.wDay = field(local.day);
  broken.wHour = field(local.hour);
  broken.wMinute = field(local.minute);
  broken.wSecond = field(local.second);
  broken.wMilliseconds = field(local.millisecond);
  broken.wDayOfWeek = field(local.dayOfWeek);
  FILETIME localTime, universal;
  if (!::SystemTimeToFileTime(&broken, &localTime)) failTime(::GetLastError());
  if (!::LocalFileTimeToFileTime(&localTime, &universal)) failTime(::GetLastError());
  return millisOf(universal);
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

InputFile::~InputFile() { closeQuietly(toHandle(handle_)); }

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
  handle_ = fromHandle(createTemporary(target, attributes, temporary_));
}

AtomicFile::~AtomicFile() {
  if (committed_) return;
  closeQuietly(toHandle(handle_));
  removeOwnFile(temporary_);
}

void AtomicFile::write(const char* data, std::size_t size) {
  if (committed_) fail(target_, ERROR_INVALID_HANDLE);
  DWORD error = writeAll(toHandle(handle_), data, size);
  if (error != 0) fail(target_, error);
}

void AtomicFile::commit() {
  if (committed_) return;
  // Whatever happens below, the temporary is gone afterwards.
  committed_ = true;
  HANDLE handle = toHandle(handle_);
  handle_ = -1;
  DWORD error = stamped_ ? stampHandle(handle, stamps_) : 0;
  if (!::CloseHandle(handle) && error == 0) error = ::GetLastError();
  if (error != 0) {
    removeOwnFile(temporary_);
    fail(target_, error);
  }
  replaceWithTemporary(target_, temporary_);
}

void AtomicFile::setStamps(const FileStamps& stamps) {
  stamps_ = stamps;
  stamped_ = true;
}

namespace {

// Gives a finished temporary the stamps a synchronised output carries.
BOOL stampTemporary(const std::string& temporary, const FileStamps& stamps) {
  HANDLE handle = openForTimes(temporary, true);
  if (handle == INVALID_HANDLE_VALUE) return FALSE;
  DWORD error = stampHandle(handle, stamps);
  ::CloseHandle(handle);
  if (error != 0) ::SetLastError(error);
  return error == 0;
}

}  // namespace

void copyFileAtomic(const std::string& source, const std::string& target,
                    const FileStamps* stamps) {
  // Open the source first, so that its failures name it and not the target.
  HANDLE in =
      createFile(source, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  if (in == INVALID_HANDLE_VALUE) fail(source, ::GetLastError());
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(in, &info)) {
    DWORD error = ::GetLastError();
    ::CloseHandle(in);
    fail(source, error);
  }
  ::CloseHandle(in);

  checkReplaceable(target);
  std::string temporary;
  closeQuietly(createTemporary(target, 0, temporary));
  // The copy takes the source's bytes and last-write time. Copied onto the
  // temporary that already exists, it need not take the source's attributes,
  // so they are set afterwards: a read-only source gives a read-only output.
  DWORD attributes = info.dwFileAttributes & kKeptAttributes;
  if (!copyFile(source, temporary) || (stamps != nullptr && !stampTemporary(temporary, *stamps)) ||
      !setFileAttributes(temporary, attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL)) {
    DWORD error = ::GetLastError();
    removeOwnFile(temporary);
    fail(target, error);
  }
  replaceWithTemporary(target, temporary);
}

}  // namespace vesk::platform
