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

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

#include "base/exception.h"
#include "platform/platform.h"

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

// Set by the console control handler (see "Interrupts" below). From then on
// the run's own threads stop where they would otherwise report what the
// removal of their temporary did to them, and the handler ends the process.
volatile LONG interrupted = 0;

bool isInterrupted() { return ::InterlockedCompareExchange(&interrupted, 0, 0) != 0; }

[[noreturn]] void waitForTheEnd() {
  for (;;) ::Sleep(INFINITE);
}

[[noreturn]] void fail(const std::string& name, DWORD error) {
  if (isInterrupted()) waitForTheEnd();
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

// Whether the ANSI code page is UTF-8 (a choice newer Windows offers): it
// holds every character, and WideCharToMultiByte takes neither the best-fit
// flag nor the default-character report for it.
bool ansiIsUtf8() { return ::GetACP() == CP_UTF8; }

// UTF-16 to multibyte text of the code page. For UTF-8 an unpaired surrogate
// is an error. For the ANSI code page best fit is refused, since it would
// respell a character the code page lacks as another one (é as e, ¥ as \)
// and so name another file; such a character becomes the code page's default
// character, or an error when `exact` is set.
std::string multiByteFrom(UINT codePage, const wchar_t* text, int size, bool exact) {
  if (size == 0) return std::string();
  bool utf8 = codePage == CP_UTF8 || (codePage == CP_ACP && ansiIsUtf8());
  DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  BOOL* usedDefaultPtr = utf8 ? nullptr : &usedDefault;
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

// A copy in progress stops when the run is interrupted.
DWORD CALLBACK copyProgress(LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, DWORD,
                            DWORD, HANDLE, HANDLE, LPVOID) {
  return isInterrupted() ? PROGRESS_CANCEL : PROGRESS_CONTINUE;
}

BOOL copyFile(const std::string& from, const std::string& to) {
  if (useWideApi()) {
    return ::CopyFileExW(wideName(from).c_str(), wideName(to).c_str(), copyProgress, nullptr,
                         nullptr, 0);
  }
  std::string source = ansiName(from), target = ansiName(to);
  if (::CopyFileExA(source.c_str(), target.c_str(), copyProgress, nullptr, nullptr, 0)) return TRUE;
  if (::GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return FALSE;
  return ::CopyFileA(source.c_str(), target.c_str(), FALSE);  // a system without CopyFileEx
}

// ---- Interrupts ---------------------------------------------------------------
//
// A console control event (Ctrl-C, Ctrl-Break, closing the console, logging
// off, shutting down) runs the handler on a thread of its own while the run
// goes on. The handler removes the temporaries being written and ends the
// process as the system's default handler does. Temporaries are opened with
// FILE_SHARE_DELETE, so they can be deleted while they are being written;
// their names wait in fixed buffers, so the handler allocates nothing.

constexpr std::size_t kNameUnits = 32768;  // the longest name Windows takes
constexpr int kPendingSlots = 4;

enum PendingState : LONG { kFree, kClaimed, kWriting, kCopying };

struct PendingTemporary {
  volatile LONG state;
  bool wide;
  wchar_t wideName[kNameUnits];
  char ansiName[kNameUnits];
};

PendingTemporary pending[kPendingSlots];

// The slot that holds a temporary's name, or -1 when it has none.
int pendingSlotOf(const std::string& name) {
  for (int i = 0; i < kPendingSlots; ++i) {
    const PendingTemporary& slot = pending[i];
    LONG state = slot.state;
    if (state != kWriting && state != kCopying) continue;
    if (slot.wide ? wideName(name) == slot.wideName : ansiName(name) == slot.ansiName) return i;
  }
  return -1;
}

// Keeps the temporary's name for the handler. A name that finds no free slot
// is not removed on an interrupt; the run itself removes it as always.
void rememberTemporary(const std::string& name) {
  bool wide = useWideApi();
  std::wstring wideText = wide ? wideName(name) : std::wstring();
  std::string ansiText = wide ? std::string() : ansiName(name);
  if (wideText.size() >= kNameUnits || ansiText.size() >= kNameUnits) return;
  for (auto& slot : pending) {
    if (::InterlockedCompareExchange(&slot.state, kClaimed, kFree) != kFree) continue;
    slot.wide = wide;
    std::memcpy(slot.wideName, wideText.c_str(), (wideText.size() + 1) * sizeof(wchar_t));
    std::memcpy(slot.ansiName, ansiText.c_str(), ansiText.size() + 1);
    ::InterlockedExchange(&slot.state, kWriting);
    return;
  }
}

void markTemporary(const std::string& name, PendingState state) {
  int slot = pendingSlotOf(name);
  if (slot >= 0) ::InterlockedExchange(&pending[slot].state, state);
}

// Deletes a remembered temporary from the handler, also one that a copy made
// read-only. True when it is gone, or will be once its last handle closes.
bool deletePending(const PendingTemporary& slot) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    BOOL ok = slot.wide ? ::DeleteFileW(slot.wideName) : ::DeleteFileA(slot.ansiName);
    if (ok) return true;
    DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
    if (error != ERROR_ACCESS_DENIED) return false;
    if (slot.wide) {
      ::SetFileAttributesW(slot.wideName, FILE_ATTRIBUTE_NORMAL);
    } else {
      ::SetFileAttributesA(slot.ansiName, FILE_ATTRIBUTE_NORMAL);
    }
  }
  return false;
}

// Removes every remembered temporary. One that is busy (a copy being made
// into it, or its times being set) is tried again for up to three seconds;
// the run's threads stop at their next step, so it is free again soon.
void removePendingTemporaries() {
  bool done[kPendingSlots] = {};
  for (int round = 0; round < 300; ++round) {
    bool busy = false;
    for (int i = 0; i < kPendingSlots; ++i) {
      if (done[i]) continue;
      LONG state = ::InterlockedCompareExchange(&pending[i].state, 0, 0);
      if (state == kFree) {
        done[i] = true;
      } else if (state == kWriting && deletePending(pending[i])) {
        done[i] = true;
      } else {
        busy = true;
      }
    }
    if (!busy) return;
    ::Sleep(10);
  }
}

BOOL WINAPI onConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      break;
    default:
      return FALSE;
  }
  ::InterlockedExchange(&interrupted, 1);
  removePendingTemporaries();
  ::ExitProcess(STATUS_CONTROL_C_EXIT);
  return TRUE;
}

// Deletes a file we created, even one that a copy made read-only, and forgets
// its name.
void removeOwnFile(const std::string& name) noexcept {
  try {
    markTemporary(name, kFree);
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

// NTFS "tunnels" a name's creation time: a file renamed over a name that was
// in use moments ago takes the old file's creation time, not the one set on
// the temporary. Once the output is in place its creation time is set again.
// This is best effort: the output is complete and its other times are right
// already, so a failure here changes nothing the run reports.
void restampCreation(const std::string& target, const FileStamps& stamps) noexcept {
  FILETIME creation;
  if (!toFileTime(stamps.creation, creation)) return;
  try {
    HANDLE handle =
        createFile(target, FILE_WRITE_ATTRIBUTES, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (handle == INVALID_HANDLE_VALUE) return;
    ::SetFileTime(handle, &creation, nullptr, nullptr);
    ::CloseHandle(handle);
  } catch (...) {
  }
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

// A directory that is gone (removed while a walk goes on, or replaced by a
// file: Windows says ERROR_DIRECTORY, Wine ERROR_INVALID_NAME) lists
// nothing; any other failure to list it is reported.
bool isVanishedError(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
         error == ERROR_DIRECTORY || error == ERROR_INVALID_NAME || error == ERROR_NO_MORE_FILES;
}

bool isDotEntry(std::string_view name) { return name == "." || name == ".."; }

// A name of a listing that no conversion can give back to us names nothing we
// could open; it is reported rather than dropped.
[[noreturn]] void failEntryName(const std::string& dir, DWORD error) {
  fail(joinEntry(dir, "?"), error);
}

// Lists one directory with the wide or the ANSI find services: `first` opens
// the search, `next` steps it and `nameOf` gives an entry's UTF-8 name, or
// nothing for "." and "..". Whatever raises, the search is closed.
template <class FindData, class First, class Next, class NameOf>
void listEntries(const std::string& dir, std::vector<DirEntry>& entries, First first, Next next,
                 NameOf nameOf) {
  FindData found;
  HANDLE handle = first(found);
  if (handle == INVALID_HANDLE_VALUE) {
    DWORD error = ::GetLastError();
    if (isVanishedError(error)) return;
    fail(dir, error);
  }
  try {
    do {
      std::optional<std::string> name = nameOf(found);
      if (!name) continue;
      DirEntry::Kind kind = entryKind(joinEntry(dir, *name), found.dwFileAttributes);
      entries.push_back(DirEntry{std::move(*name), kind});
    } while (next(handle, found));
  } catch (...) {
    ::FindClose(handle);
    throw;
  }
  DWORD error = ::GetLastError();
  ::FindClose(handle);
  if (error != ERROR_NO_MORE_FILES) fail(dir, error);
}

void listWide(const std::string& dir, std::vector<DirEntry>& entries) {
  listEntries<WIN32_FIND_DATAW>(
      dir, entries,
      [&](WIN32_FIND_DATAW& found) {
        return ::FindFirstFileW(wideName(joinEntry(dir, "*")).c_str(), &found);
      },
      [](HANDLE handle, WIN32_FIND_DATAW& found) { return ::FindNextFileW(handle, &found); },
      [&](const WIN32_FIND_DATAW& found) -> std::optional<std::string> {
        std::string name;
        try {
          name = utf8FromWide(found.cFileName, checkedSize(std::wcslen(found.cFileName)));
        } catch (const Exception&) {
          failEntryName(dir, ERROR_NO_UNICODE_TRANSLATION);
        }
        if (isDotEntry(name)) return std::nullopt;
        return name;
      });
}

bool sameFindData(const WIN32_FIND_DATAA& a, const WIN32_FIND_DATAA& b) {
  auto same = [](const FILETIME& x, const FILETIME& y) {
    return x.dwLowDateTime == y.dwLowDateTime && x.dwHighDateTime == y.dwHighDateTime;
  };
  return a.dwFileAttributes == b.dwFileAttributes && same(a.ftCreationTime, b.ftCreationTime) &&
         same(a.ftLastWriteTime, b.ftLastWriteTime) && a.nFileSizeHigh == b.nFileSizeHigh &&
         a.nFileSizeLow == b.nFileSizeLow && std::strcmp(a.cFileName, b.cFileName) == 0 &&
         std::strcmp(a.cAlternateFileName, b.cAlternateFileName) == 0;
}

// Whether looking the entry's long name up again finds this very entry. The
// "A" services hand out a name the code page cannot hold with the default
// character ('?', a wildcard) in place of the lost characters, or respelt by
// best fit, and then it may be the name of another entry (é.vsk as e.vsk).
bool longNameHolds(const std::string& dir, const WIN32_FIND_DATAA& found) {
  if (std::strpbrk(found.cFileName, "?*") != nullptr) return false;
  if (found.cAlternateFileName[0] == '\0') return true;  // a short name already
  WIN32_FIND_DATAA again;
  HANDLE handle = ::FindFirstFileA(joinEntry(ansiName(dir), found.cFileName).c_str(), &again);
  if (handle == INVALID_HANDLE_VALUE) return false;
  ::FindClose(handle);
  return sameFindData(found, again);
}

std::string extensionOf(const char* name) {
  const char* dot = std::strrchr(name, '.');
  std::string extension = dot == nullptr ? std::string() : std::string(dot + 1);
  for (char& c : extension) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return extension;
}

// The name under which the "A" services can reach an entry: its long name
// where that holds, else its short name, which the code page always holds.
// A short name that would change the extension (a.vskx as A~1.VSK) would make
// extraction take a file it should not, so that entry is reported instead.
std::string ansiEntryName(const std::string& dir, const WIN32_FIND_DATAA& found) {
  const char* name = found.cFileName;
  if (!longNameHolds(dir, found)) {
    if (found.cAlternateFileName[0] == '\0' ||
        extensionOf(found.cAlternateFileName) != extensionOf(found.cFileName)) {
      fail(joinEntry(dir, fromMultiByte(found.cFileName)), ERROR_NO_UNICODE_TRANSLATION);
    }
    name = found.cAlternateFileName;
  }
  return fromMultiByte(name);
}

void listAnsi(const std::string& dir, std::vector<DirEntry>& entries) {
  listEntries<WIN32_FIND_DATAA>(
      dir, entries,
      [&](WIN32_FIND_DATAA& found) {
        return ::FindFirstFileA(ansiName(joinEntry(dir, "*")).c_str(), &found);
      },
      [](HANDLE handle, WIN32_FIND_DATAA& found) { return ::FindNextFileA(handle, &found); },
      [&](const WIN32_FIND_DATAA& found) -> std::optional<std::string> {
        if (isDotEntry(found.cFileName)) return std::nullopt;
        return ansiEntryName(dir, found);
      });
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
    // Noted before the file can exist, so that an interrupt arriving as it
    // is created already finds its name.
    rememberTemporary(temporary);
    HANDLE handle = createFile(temporary, GENERIC_WRITE, FILE_SHARE_DELETE, CREATE_NEW, attributes);
    if (handle != INVALID_HANDLE_VALUE) {
      // An interrupt that came before the handler could see the name.
      if (isInterrupted()) {
        closeQuietly(handle);
        removeOwnFile(temporary);
        waitForTheEnd();
      }
      return handle;
    }
    DWORD error = ::GetLastError();
    markTemporary(temporary, kFree);  // not ours: another file, or none
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
  markTemporary(temporary, kFree);
}

// ---- The process's own names ------------------------------------------------

// msvcrt's wide counterpart of the arguments the C run time gives main: the
// wide command line split by the same rules.
struct StartupInfo {
  int newMode;
};
// NOLINTNEXTLINE(bugprone-reserved-identifier): the run time's own name
extern "C" __declspec(dllimport) int __cdecl __wgetmainargs(int* argc, wchar_t*** argv,
                                                            wchar_t*** env, int expandWildcards,
                                                            StartupInfo* info);

// Empty where the system has no wide command line.
std::vector<std::wstring> wideArguments() {
  int argc = 0;
  wchar_t** argv = nullptr;
  wchar_t** env = nullptr;
  StartupInfo info{0};
  __wgetmainargs(&argc, &argv, &env, 0, &info);
  std::vector<std::wstring> result;
  if (argv == nullptr || argc <= 0) return result;
  for (int i = 0; i < argc; ++i) result.emplace_back(argv[i] != nullptr ? argv[i] : L"");
  return result;
}

// Started by a bare name, the program stays in the working directory; with a
// directory part its own file name tells where it really is.
bool hasDirectoryPart(const std::wstring& path) {
  return path.find_first_of(L"\\/:") != std::wstring::npos;
}

// The program's file as the system loaded it; `started` if it cannot say.
std::wstring moduleFileName(const std::wstring& started) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return started;
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    if (buffer.size() >= 32768) return started;
    buffer.resize(buffer.size() * 2);  // cut short: try a larger buffer
  }
}

// An argument as UTF-8. Without the wide services every name goes to the "A"
// services, so an argument the code page cannot hold exactly is refused
// rather than passed on respelt.
std::string argumentText(const std::wstring& argument) {
  int size = checkedSize(argument.size());
  if (!useWideApi()) multiByteFrom(CP_ACP, argument.data(), size, true);
  return utf8FromWide(argument.data(), size);
}

std::wstring wideCurrentDir() {
  DWORD size = ::GetCurrentDirectoryW(0, nullptr);
  for (;;) {
    if (size == 0) fail(".", ::GetLastError());
    std::wstring buffer(size, L'\0');
    DWORD n = ::GetCurrentDirectoryW(size, buffer.data());
    if (n == 0) fail(".", ::GetLastError());
    if (n < size) {
      buffer.resize(n);
      return buffer;
    }
    size = n;  // it grew in between
  }
}

std::string ansiCurrentDir() {
  DWORD size = ::GetCurrentDirectoryA(0, nullptr);
  for (;;) {
    if (size == 0) fail(".", ::GetLastError());
    std::string buffer(size, '\0');
    DWORD n = ::GetCurrentDirectoryA(size, buffer.data());
    if (n == 0) fail(".", ::GetLastError());
    if (n < size) {
      buffer.resize(n);
      return buffer;
    }
    size = n;
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
  std::vector<std::wstring> wide = wideArguments();
  std::vector<std::string> result;
  if (wide.empty()) {
    // No wide command line: the ANSI one is all the system has.
    for (int i = 0; i < argc; ++i)
      result.push_back(fromMultiByte(argv[i] != nullptr ? argv[i] : ""));
    return result;
  }
  if (useWideApi() && hasDirectoryPart(wide.front())) wide.front() = moduleFileName(wide.front());
  result.reserve(wide.size());
  for (const std::wstring& argument : wide) result.push_back(argumentText(argument));
  return result;
}

std::string currentDir() {
  if (useWideApi()) return utf8FromWide(wideCurrentDir());
  std::string ansi = ansiCurrentDir();
  // Where the wide call answers too, it tells whether the ANSI name lost a
  // character the code page lacks; such a name would be another directory's.
  std::wstring wide;
  try {
    wide = wideCurrentDir();
  } catch (const FileException&) {
    return fromMultiByte(ansi);
  }
  if (multiByteFrom(CP_ACP, wide.data(), checkedSize(wide.size()), true) != ansi) {
    failConversion(ERROR_NO_UNICODE_TRANSLATION);
  }
  return fromMultiByte(ansi);
}

void changeDir(const std::string& dir) {
  BOOL ok = useWideApi() ? ::SetCurrentDirectoryW(wideName(dir).c_str())
                         : ::SetCurrentDirectoryA(ansiName(dir).c_str());
  if (!ok) fail(dir, ::GetLastError());
}

namespace {

// WriteFile passes bytes unchanged: "\n" stays "\n" and "\r\n" stays "\r\n".
// A console takes at most about 64 KB in one write on older Windows, so the
// text goes out in smaller pieces. Returns 0 or the error.
DWORD writeStandard(DWORD which, std::string_view text) {
  constexpr std::size_t kPiece = 16384;
  HANDLE handle = ::GetStdHandle(which);
  for (std::size_t at = 0; at < text.size(); at += kPiece) {
    DWORD error = writeAll(handle, text.data() + at, std::min(kPiece, text.size() - at));
    if (error != 0) return error;
  }
  return 0;
}

}  // namespace

void writeStandardOutput(std::string_view text) {
  DWORD error = writeStandard(STD_OUTPUT_HANDLE, text);
  if (error != 0) fail("standard output", error);
}

void writeStandardError(std::string_view text) noexcept { writeStandard(STD_ERROR_HANDLE, text); }

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
  if (useWideApi()) {
    listWide(dir, entries);
  } else {
    listAnsi(dir, entries);
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
  if (stamped_) restampCreation(target_, stamps_);
}

void AtomicFile::setStamps(const FileStamps& stamps) {
  stamps_ = stamps;
  stamped_ = true;
}

namespace {

// Gives a finished temporary the stamps a synchronised output carries.
// The copy has given it the source's attributes, so it may be read-only
// already: setting times needs only the right to write attributes.
BOOL stampTemporary(const std::string& temporary, const FileStamps& stamps) {
  HANDLE handle =
      createFile(temporary, FILE_WRITE_ATTRIBUTES, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  if (handle == INVALID_HANDLE_VALUE) return FALSE;
  DWORD error = stampHandle(handle, stamps);
  ::CloseHandle(handle);
  if (error != 0) ::SetLastError(error);
  return error == 0;
}

// The copy itself. While it runs the handler cannot delete the temporary
// (the copy holds it open without sharing), so it waits for the copy, which
// an interrupt cancels, and this thread then stops.
BOOL copyIntoTemporary(const std::string& source, const std::string& temporary) {
  markTemporary(temporary, kCopying);
  BOOL ok = copyFile(source, temporary);
  DWORD error = ::GetLastError();
  markTemporary(temporary, kWriting);
  if (isInterrupted()) waitForTheEnd();
  ::SetLastError(error);
  return ok;
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
  if (!copyIntoTemporary(source, temporary) ||
      (stamps != nullptr && !stampTemporary(temporary, *stamps)) ||
      !setFileAttributes(temporary, attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL)) {
    DWORD error = ::GetLastError();
    removeOwnFile(temporary);
    fail(target, error);
  }
  replaceWithTemporary(target, temporary);
  if (stamps != nullptr) restampCreation(target, *stamps);
}

namespace {

// Truncates a file written into in place, as an open for writing that
// replaces the contents does.
void truncateInPlace(const std::string& target, HANDLE handle) {
  if (::GetFileType(handle) != FILE_TYPE_DISK) return;
  if (::SetFilePointer(handle, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
      !::SetEndOfFile(handle)) {
    DWORD error = ::GetLastError();
    ::CloseHandle(handle);
    fail(target, error);
  }
}

// Whether the name is a symbolic link to a file (a reparse point that is no
// directory), also a dangling one: its own attributes say so.
bool isFileLink(const std::string& target) {
  DWORD attributes = fileAttributes(target);
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// What a save writes into rather than replaces: a device (NUL, CON, COM1), a
// pipe, a file with several links, or what a symbolic link leads to, which
// is created if it is missing. Returns that open for writing, or no handle
// when the target is to be replaced: a missing name, a file with one link,
// or a name that cannot be opened for writing (replacing it says why).
HANDLE openInPlace(const std::string& target) {
  bool link = isFileLink(target);
  HANDLE handle = createFile(target, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             link ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  if (handle == INVALID_HANDLE_VALUE) {
    if (link) fail(target, ::GetLastError());
    return INVALID_HANDLE_VALUE;
  }
  BY_HANDLE_FILE_INFORMATION info;
  bool inPlace = link || ::GetFileType(handle) != FILE_TYPE_DISK ||
                 (::GetFileInformationByHandle(handle, &info) && info.nNumberOfLinks > 1);
  if (!inPlace) {
    ::CloseHandle(handle);
    return INVALID_HANDLE_VALUE;
  }
  truncateInPlace(target, handle);
  return handle;
}

}  // namespace

SaveFile::SaveFile(const std::string& target) : target_(target) {
  HANDLE handle = openInPlace(target);
  if (handle == INVALID_HANDLE_VALUE) {
    atomic_ = std::make_unique<AtomicFile>(target);
  } else {
    handle_ = fromHandle(handle);
  }
}

SaveFile::~SaveFile() { closeQuietly(toHandle(handle_)); }

void SaveFile::write(const char* data, std::size_t size) {
  if (atomic_) {
    atomic_->write(data, size);
    return;
  }
  if (handle_ == -1) fail(target_, ERROR_INVALID_HANDLE);
  DWORD error = writeAll(toHandle(handle_), data, size);
  if (error != 0) fail(target_, error);
}

void SaveFile::commit() {
  if (atomic_) {
    atomic_->commit();
    return;
  }
  HANDLE handle = toHandle(handle_);
  handle_ = -1;
  if (handle != INVALID_HANDLE_VALUE && !::CloseHandle(handle)) fail(target_, ::GetLastError());
}

void installInterruptCleanup() { ::SetConsoleCtrlHandler(onConsoleEvent, TRUE); }

}  // namespace vesk::platform
