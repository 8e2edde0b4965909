#include "yaml/scalar_text.h"

#include <cstdio>
#include <cstdlib>
#include <limits>

#include "support/exception.h"

namespace kesoyaml {

std::int32_t parseStrictInt32(std::string_view text) {
  std::size_t i = 0;
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    i = 1;
  }
  if (i == text.size()) throw vesk::ConversionException(std::string(text));
  // Accumulate the magnitude in 64 bits; stop counting once it is surely out
  // of range but keep checking that the rest are digits.
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c < '0' || c > '9') throw vesk::ConversionException(std::string(text));
    if (magnitude <= kLimit) magnitude = magnitude * 10 + (c - '0');
  }
  if (magnitude > kLimit || (!negative && magnitude == kLimit)) {
    throw vesk::OverflowException(std::string(text));
  }
  return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

double parseLeadingDouble(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

std::string formatFixed(double value) {
  int length = std::snprintf(nullptr, 0, "%f", value);
  std::string text(static_cast<std::size_t>(length), '\0');
  // snprintf writes the terminating NUL into the string's own terminator slot.
  std::snprintf(text.data(), text.size() + 1, "%f", value);
  return text;
}

}  // namespace kesoyaml
