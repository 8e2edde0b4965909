// The name of a temporary file, the same on every platform.
#include <atomic>

#include "platform/internal.h"

namespace vesk::platform {

std::string temporaryName(const std::string& file, std::string_view separators,
                          std::string_view here, unsigned long pid) {
  // Threads of one run may name temporaries at once.
  static std::atomic<unsigned> counter{0};
  std::size_t cut = file.find_last_of(separators);
  std::string dir = cut == std::string::npos ? std::string(here) : file.substr(0, cut + 1);
  std::string base = cut == std::string::npos ? file : file.substr(cut + 1);
  if (base.size() > 200) base.resize(200);
  return dir + "." + base + "." + std::to_string(pid) + "-" + std::to_string(counter++) +
         ".vesk-tmp";
}

}  // namespace vesk::platform
