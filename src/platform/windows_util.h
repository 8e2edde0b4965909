// What the Windows files of the platform layer share. Private to
// src/platform/.
//
// Names are UTF-8 inside vesk. When the system offers the wide API (the
// version word's high bit is clear) they go to the "W" services as UTF-16;
// otherwise to the "A" services in the ANSI code page.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace vesk::platform {

// ---- Text and errors (text_windows.cpp) -------------------------------------

bool useWideApi();

// The system's text for an error code, as UTF-8 and without its line end.
std::string systemMessage(DWORD error);

// Raises FileException("<name>: <system's text for the error>").
[[noreturn]] void fail(const std::string& name, DWORD error);
// Raises Exception("Couldn't convert string: <system's text>").
[[noreturn]] void failConversion(DWORD error);

bool isAscii(std::string_view text);
// A size as the conversion services take it; beyond their range it fails.
int checkedSize(std::size_t size);
// UTF-16 to multibyte text of the code page; with `exact`, a character the
// code page lacks is an error instead of its default character.
std::string multiByteFrom(UINT codePage, const wchar_t* text, int size, bool exact);
std::string utf8FromWide(const wchar_t* text, int size);
std::string utf8FromWide(const std::wstring& text);
// A UTF-8 name as the "W" services take it.
std::wstring wideName(const std::string& name);
// A UTF-8 name as the "A" services take it; a character the code page lacks
// would name another file, so it is an error.
std::string ansiName(const std::string& name);

// ---- The services, in their wide or ANSI form (services_windows.cpp) --------

HANDLE createFile(const std::string& name, DWORD access, DWORD share, DWORD disposition,
                  DWORD flags);
DWORD fileAttributes(const std::string& name);
BOOL setFileAttributes(const std::string& name, DWORD attributes);
BOOL deleteFile(const std::string& name);
BOOL moveReplacing(const std::string& from, const std::string& to);
// A copy that stops when the run is interrupted.
BOOL copyFile(const std::string& from, const std::string& to);

// An open handle, closed by `Closer::close` when the owner goes. A close
// whose error matters (that of a written file) is made with close() and
// checked.
template <class Closer>
class ScopedHandle {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
  ~ScopedHandle() { reset(); }
  ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.release()) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = other.release();
    }
    return *this;
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;

  HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE; }
  // Gives up the handle without closing it.
  HANDLE release() {
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
  }
  // Closes now, ignoring errors.
  void reset() {
    if (*this) Closer::close(release());
  }
  // Closes now; returns 0 or the error.
  DWORD close() {
    if (!*this) return 0;
    return Closer::close(release()) ? 0 : ::GetLastError();
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

struct FileCloser {
  static BOOL close(HANDLE handle) { return ::CloseHandle(handle); }
};
struct FindCloser {
  static BOOL close(HANDLE handle) { return ::FindClose(handle); }
};

// A file (CreateFile) and a directory search (FindFirstFile).
using UniqueHandle = ScopedHandle<FileCloser>;
using UniqueFind = ScopedHandle<FindCloser>;

// ---- Interrupts and temporaries (interrupt_windows.cpp) ---------------------

// Installs the handler that removes the noted temporaries on a console
// control event.
void installInterruptCleanup();

// Whether a console control event has come.
bool isInterrupted();

// Once an interrupt has come, the console handler removes the run's
// temporaries and then ends the process. A thread whose file the handler
// may have removed under it, or whose console is gone, stops here instead
// of reporting what that did to it, so that nothing is printed and nothing
// ends the process before the handler is done.
void parkIfInterrupted();

// A new, empty temporary file beside the target, named for the handler
// before it can exist, open for writing. Failures name the target.
UniqueHandle createTemporary(const std::string& target, DWORD attributes, std::string& temporary);

// While a copy holds the temporary, the handler waits for it instead of
// deleting it; afterwards it is the handler's to delete again.
void markCopying(const std::string& temporary, bool copying);

// Deletes a file we created, even one that a copy made read-only, and forgets
// its name.
void removeOwnFile(const std::string& name) noexcept;

// Forgets a temporary that is no longer the handler's to remove (renamed).
void forgetTemporary(const std::string& name);

// Renames the finished temporary over the target; on failure the temporary
// is removed and the error names the target (output_windows.cpp).
void replaceWithTemporary(const std::string& target, const std::string& temporary);

// ---- Files (file_windows.cpp) -----------------------------------------------

struct InputFile::State {
  UniqueHandle handle;
};

// Writes all of data; returns 0 or the error code.
DWORD writeAll(HANDLE handle, const char* data, std::size_t size);

// A time as FILETIME; false for times before 1601 or too late for it.
bool toFileTime(Millis millis, FILETIME& time);
// Reads an open file's three stamps; FALSE with the error set on failure.
BOOL stampsOfHandle(HANDLE handle, FileStamps& stamps);
// Sets all three stamps of an open file in one call, so that a failure
// leaves them as they were. Returns 0 or the error.
DWORD stampHandle(HANDLE handle, const FileStamps& stamps);

}  // namespace vesk::platform
