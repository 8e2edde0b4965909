#include "testutil/expect.h"

#include <iconv.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string_view>

namespace e2e {

bool windowsProgram() {
  const char* program = std::getenv("VESK_PROGRAM");
  return program != nullptr && std::string_view(program).ends_with(".exe");
}

char separator() { return windowsProgram() ? '\\' : '/'; }

std::string nativeAbsolute(const std::filesystem::path& hostPath) {
  std::string name = hostPath.lexically_normal().string();
  if (!windowsProgram()) return name;
  // Under the runner the host's root is drive Z:.
  for (char& c : name) {
    if (c == '/') c = '\\';
  }
  return "Z:" + name;
}

std::string nativeRelative(const std::string& relative) {
  std::string name = relative;
  for (char& c : name) {
    if (c == '/') c = separator();
  }
  return name;
}

std::string parentRefMiss(const std::string& relative) {
  std::string name = nativeRelative(relative);
  std::string parent = std::string("..") + separator();
  if (name.size() < 3 || name.starts_with(parent)) return "";
  return "'" + name.substr(0, 3) + "' != '" + parent + "'\n";
}

std::vector<std::string> startWords(const std::string& argv0, bool withRunner) {
  bool bare = argv0.find_first_of("/\\:") == std::string::npos;
  if (windowsProgram() && withRunner && bare) return {"cmd", "/c", argv0};
  return {argv0};
}

std::string defaultLocale() { return windowsProgram() ? "C.UTF-8" : ""; }

std::size_t argumentBudget() {
  // Room is left for the program's own path and the runner's words.
  return windowsProgram() ? 32767 - 1024 : 1536 * 1024;
}

std::string convertText(std::string_view text, const char* to, const char* from) {
  iconv_t cd = iconv_open(to, from);
  // NOLINTNEXTLINE(performance-no-int-to-ptr): iconv's own failure value
  if (cd == reinterpret_cast<iconv_t>(-1))
    throw std::runtime_error(std::string("no iconv for ") + to);
  std::string in(text), out(text.size() * 4 + 16, '\0');
  char* inPtr = in.data();
  char* outPtr = out.data();
  std::size_t inLeft = in.size(), outLeft = out.size();
  std::size_t done = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  if (done == static_cast<std::size_t>(-1)) throw std::runtime_error("cannot convert " + in);
  out.resize(out.size() - outLeft);
  return out;
}

namespace {

const char* codePageOf(const std::string& locale) {
  return locale.starts_with("ja_JP") ? "CP932" : "CP1252";
}

}  // namespace

std::string inCodePage(std::string_view utf8, const std::string& locale) {
  if (!windowsProgram()) return std::string(utf8);
  return convertText(utf8, codePageOf(locale), "UTF-8");
}

std::string oddName() {
  // The same three bytes on both: on Windows they are what code page 1252
  // makes of "\u00ff\u00fe\u20ac".
  return windowsProgram() ? convertText("\xff\xfe\x80name", "UTF-8", "CP1252") : "\xff\xfe\x80name";
}

std::string oddValue() {
  return windowsProgram() ? convertText("\xc3\x28", "UTF-8", "CP1252") : "\xc3\x28";
}

bool copiedPermissions(std::filesystem::perms output, std::filesystem::perms source) {
  using std::filesystem::perms;
  if (!windowsProgram()) return output == source;
  return (output & perms::owner_write) == (source & perms::owner_write);
}

bool copiedTime(std::filesystem::file_time_type output, std::filesystem::file_time_type source) {
  if (!windowsProgram()) return output == source;
  using Step = std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>;
  return std::chrono::floor<Step>(output.time_since_epoch()) ==
         std::chrono::floor<Step>(source.time_since_epoch());
}

}  // namespace e2e
