// Text at the edges, for Windows: the choice of the wide or the ANSI API, the
// conversions between UTF-8, UTF-16 and the ANSI code page, and the system's
// error texts.
#include "base/exception.h"
#include "platform/windows_util.h"

namespace vesk::platform {
namespace {

bool detectWideApi() { return (::GetVersion() & 0x80000000u) == 0; }

std::string trimLineEnd(std::string text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
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

}  // namespace

bool useWideApi() {
  static const bool wide = detectWideApi();
  return wide;
}

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

void fail(const std::string& name, DWORD error) { throw FileException(name, systemMessage(error)); }

void failConversion(DWORD error) {
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

// For UTF-8 an unpaired surrogate is an error. For the ANSI code page best
// fit is refused, since it would respell a character the code page lacks as
// another one (é as e, ¥ as \) and so name another file; such a character
// becomes the code page's default character, or an error when `exact` is set.
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

std::wstring wideName(const std::string& name) { return wideFrom(CP_UTF8, name); }

std::string ansiName(const std::string& name) {
  if (isAscii(name)) return name;
  std::wstring wide = wideFrom(CP_UTF8, name);
  return multiByteFrom(CP_ACP, wide.data(), checkedSize(wide.size()), true);
}

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

}  // namespace vesk::platform
