// Which command-line arguments are options.
#pragma once

#include <string_view>

namespace vesk {

// True when the argument begins with '-'.
bool isOption(std::string_view arg);

}  // namespace vesk
