// Text at the edges, for POSIX: names and arguments are bytes, passed
// through unchanged.
#include "platform/platform.h"

namespace vesk::platform {

std::string fromMultiByte(std::string_view text) { return std::string(text); }
std::string toMultiByte(std::string_view text) { return std::string(text); }

}  // namespace vesk::platform
