// The process and its standard streams, for POSIX.
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/posix_util.h"

namespace vesk::platform {

std::vector<std::string> arguments(int argc, char** argv) {
  std::vector<std::string> result;
  result.reserve(argc > 0 ? static_cast<std::size_t>(argc) : 0);
  for (int i = 0; i < argc; ++i) result.emplace_back(argv[i] != nullptr ? argv[i] : "");
  return result;
}

std::string currentDir() {
  std::string buffer(PATH_MAX, '\0');
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) fail(".", errno);
    buffer.resize(buffer.size() * 2);
  }
  buffer.resize(std::strlen(buffer.c_str()));
  return buffer;
}

void changeDir(const std::string& dir) {
  if (::chdir(dir.c_str()) != 0) fail(dir, errno);
}

void writeStandardOutput(std::string_view text) {
  int error = writeAll(STDOUT_FILENO, text.data(), text.size());
  if (error != 0) fail("standard output", error);
}

void writeStandardError(std::string_view text) noexcept {
  writeAll(STDERR_FILENO, text.data(), text.size());
}

}  // namespace vesk::platform
