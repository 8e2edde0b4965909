#include "expect.h"

#include <cstdlib>
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

}  // namespace e2e
