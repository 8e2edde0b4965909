// Reading a whole file, on top of each platform's InputFile.
#include <memory>

#include "platform/platform.h"

namespace vesk::platform {

std::string readWholeFile(const std::string& path) {
  InputFile file(path);
  std::string content;
  // On the heap: the process may run with a stack of a few dozen KiB.
  constexpr std::size_t kBufferSize = 1 << 16;
  std::unique_ptr<char[]> buffer(new char[kBufferSize]);
  while (std::size_t n = file.read(buffer.get(), kBufferSize)) content.append(buffer.get(), n);
  return content;
}

}  // namespace vesk::platform
