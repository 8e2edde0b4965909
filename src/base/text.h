// The character tests and the number reading that the command line, the
// setting file and the YAML reader share, so that all of them accept the
// same texts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/exception.h"

namespace vesk {

// A blank: space or tab.
inline bool isBlank(char c) { return c == ' ' || c == '\t'; }

// White space as the C library's isspace has it in the "C" locale: blanks,
// line breaks, vertical tab and form feed.
inline bool isWhitespace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Strict decimal: optional '+'/'-' then one or more digits, nothing else, in
// int32 range. Throws ConversionException(text) or OverflowException(text).
inline std::int32_t parseInt32(std::string_view text) {
  std::size_t pos = 0;
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    pos = 1;
  }
  if (pos == text.size()) throw ConversionException(std::string(text));
  // The magnitude may reach 2^31, the size of INT32_MIN; anything larger
  // overflows (digits are still checked, so a format error wins).
  constexpr std::int64_t kLimit = 2147483648LL;
  std::int64_t value = 0;
  bool overflow = false;
  for (; pos < text.size(); ++pos) {
    char c = text[pos];
    if (c < '0' || c > '9') throw ConversionException(std::string(text));
    if (!overflow) {
      value = value * 10 + (c - '0');
      overflow = value > kLimit;
    }
  }
  if (overflow || (!negative && value == kLimit)) throw OverflowException(std::string(text));
  return static_cast<std::int32_t>(negative ? -value : value);
}

}  // namespace vesk
