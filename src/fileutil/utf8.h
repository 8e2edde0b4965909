// Reading UTF-8 one character at a time.
#pragma once

#include <cstddef>
#include <string_view>

namespace vesk {

// Code points start here; a byte that does not begin a valid UTF-8 sequence
// decodes to kInvalidByte + that byte, which no real character equals.
inline constexpr char32_t kInvalidByte = 0x110000;

// Decodes the character that starts at text[pos] and sets length to its size
// in bytes (1 for an invalid byte). pos must be inside text.
char32_t decodeUtf8(std::string_view text, std::size_t pos, std::size_t& length);

}  // namespace vesk
