// The process, its arguments, its working directory and its standard
// streams, for Windows.
#include <algorithm>

#include "base/exception.h"
#include "platform/console_lines.h"
#include "platform/windows_internal.h"

namespace vesk::platform {
namespace {

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

}  // namespace

// Started by a bare name, the program stays in the working directory; with a
// directory part its own file name tells where it really is.
bool hasDirectoryPart(const std::wstring& path) {
  return path.find_first_of(L"\\/:") != std::wstring::npos;
}

namespace {

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

}  // namespace

// An argument as UTF-8. Without the wide services every name goes to the "A"
// services, so an argument the code page cannot hold exactly is refused
// rather than passed on respelt.
std::string argumentText(const std::wstring& argument) {
  int size = checkedSize(argument.size());
  if (!useWideApi()) multiByteFrom(CP_ACP, argument.data(), size, true);
  return utf8FromWide(argument.data(), size);
}

namespace {

// The working directory through GetCurrentDirectoryW or ...A, as `String`.
template <class String, class Get>
String currentDirWith(Get get) {
  DWORD size = get(0, nullptr);
  for (;;) {
    if (size == 0) fail(".", ::GetLastError());
    String buffer(size, '\0');
    DWORD n = get(size, buffer.data());
    if (n == 0) fail(".", ::GetLastError());
    if (n < size) {
      buffer.resize(n);
      return buffer;
    }
    size = n;  // it grew in between
  }
}

std::wstring wideCurrentDir() {
  return currentDirWith<std::wstring>(
      [](DWORD size, wchar_t* buffer) { return ::GetCurrentDirectoryW(size, buffer); });
}

std::string ansiCurrentDir() {
  return currentDirWith<std::string>(
      [](DWORD size, char* buffer) { return ::GetCurrentDirectoryA(size, buffer); });
}

// A console takes at most about 64 KB in one write on older Windows, so text
// goes out in pieces of this many bytes or characters.
constexpr std::size_t kPiece = 16384;

bool isConsole(HANDLE handle) {
  DWORD mode = 0;
  return ::GetConsoleMode(handle, &mode) != 0;
}

// Text of the code page as UTF-16; empty when it is not valid there.
std::wstring wideOrEmpty(UINT codePage, DWORD flags, std::string_view text) {
  int size = checkedSize(text.size());
  int n = ::MultiByteToWideChar(codePage, flags, text.data(), size, nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  n = ::MultiByteToWideChar(codePage, flags, text.data(), size, wide.data(), n);
  wide.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return wide;
}

// A line as the console shows it. A UTF-8 line that is not valid UTF-8 (the
// bytes of a source in "not found variable") is read in the code page,
// which takes any byte.
std::wstring consoleText(const TextLine& line) {
  if (line.text.empty()) return std::wstring();
  if (line.kind == LineText::kUtf8) {
    std::wstring wide = wideOrEmpty(CP_UTF8, MB_ERR_INVALID_CHARS, line.text);
    if (!wide.empty()) return wide;
  }
  return wideOrEmpty(CP_ACP, 0, line.text);
}

// The console's own wide service shows the text right whatever its code
// page. Returns 0 or the error.
DWORD writeConsole(HANDLE handle, std::string_view text) {
  for (const TextLine& line : textLines(text)) {
    std::wstring wide = consoleText(line);
    std::size_t at = 0;
    while (at < wide.size()) {
      DWORD written = 0;
      DWORD size = static_cast<DWORD>(std::min(kPiece, wide.size() - at));
      if (!::WriteConsoleW(handle, wide.data() + at, size, &written, nullptr)) {
        return ::GetLastError();
      }
      if (written == 0) return ERROR_WRITE_FAULT;
      at += written;
    }
  }
  return 0;
}

// To a console, through its wide service; to anything else (a file, a pipe)
// WriteFile passes the bytes unchanged: "\n" stays "\n" and "\r\n" stays
// "\r\n". Returns 0 or the error.
DWORD writeStandard(DWORD which, std::string_view text) {
  HANDLE handle = ::GetStdHandle(which);
  if (isConsole(handle)) return writeConsole(handle, text);
  for (std::size_t at = 0; at < text.size(); at += kPiece) {
    DWORD error = writeAll(handle, text.data() + at, std::min(kPiece, text.size() - at));
    if (error != 0) return error;
  }
  return 0;
}

}  // namespace

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

void writeStandardOutput(std::string_view text) {
  DWORD error = writeStandard(STD_OUTPUT_HANDLE, text);
  if (error == 0) return;
  parkIfInterrupted();  // the console may be closing
  fail("standard output", error);
}

void writeStandardError(std::string_view text) noexcept { writeStandard(STD_ERROR_HANDLE, text); }

// Windows hands out no handle numbers in place of closed standard handles,
// and a write past a limit fails by itself: only the handler is needed.
void prepareProcess() { installInterruptCleanup(); }

}  // namespace vesk::platform
