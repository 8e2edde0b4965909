#include "yaml/scalar_text.h"

#include <cstdio>
#include <cstdlib>

namespace kesoyaml {

double parseLeadingDouble(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

std::string formatFixed(double value) {
  int length = std::snprintf(nullptr, 0, "%f", value);
  std::string text(static_cast<std::size_t>(length), '\0');
  // snprintf writes the terminating NUL into the string's own terminator slot.
  std::snprintf(text.data(), text.size() + 1, "%f", value);
  return text;
}

}  // namespace kesoyaml
