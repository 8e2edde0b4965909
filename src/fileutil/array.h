// Membership test on a list of names.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vesk {

// True when an element equals text byte for byte.
bool contains(std::string_view text, const std::vector<std::string>& list);

}  // namespace vesk
