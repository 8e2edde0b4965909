// Text-to-value conversions for option values.
#pragma once

#include <cstdint>
#include <string_view>

namespace vesk {

// The yes/no word test: "ok", "on", "yes", "true" and "enable" in any letter
// case, or a nonzero decimal integer, are true; everything else is false.
bool toBool(std::string_view text);

}  // namespace vesk
