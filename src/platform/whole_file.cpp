// Reading a whole file, on top of each platform's InputFile.
#include "platform/platform.h"

namespace vesk::platform {

std::string readWholeFile(const std::string& path) {
  InputFile file(path);
  std::string content;
  char buffer[65536];
  while (std::size_t n = file.read(buffer, sizeof buffer)) content.append(buffer, n);
  return content;
}

}  // namespace vesk::platform
