#include "fileutil/conv.h"

#include <array>
#include <string>

#include "fileutil/utf8.h"
#include "support/exception.h"

namespace vesk {
namespace {

constexpr std::array<std::string_view, 5> kTrueWords = {"ok", "on", "yes", "true", "enable"};

// Lower case of one character, for matching against the ASCII words. Only two
// non-ASCII characters have an ASCII lower case in the Unicode mapping: the
// KELVIN SIGN (k) and LATIN CAPITAL LETTER I WITH DOT ABOVE (i). Every other
// non-ASCII character stays non-ASCII, so it is reported as 0: no word match.
char lowerAscii(char32_t c) {
  if (c >= 'A' && c <= 'Z') return static_cast<char>(c - 'A' + 'a');
  if (c < 0x80) return static_cast<char>(c);
  if (c == 0x212A) return 'k';
  if (c == 0x0130) return 'i';
  return 0;
}

bool isTrueWord(std::string_view text) {
  std::string lowered;
  for (std::size_t pos = 0; pos < text.size();) {
    std::size_t length;
    char lower = lowerAscii(decodeUtf8(text, pos, length));
    // A NUL byte of the text cannot be part of a word either.
    if (lower == 0) return false;
    lowered.push_back(lower);
    pos += length;
  }
  for (std::string_view word : kTrueWords) {
    if (lowered == word) return true;
  }
  return false;
}

}  // namespace

bool toBool(std::string_view text) {
  if (text.empty()) return false;
  if (isTrueWord(text)) return true;
  try {
    return parseInt32(text) != 0;
  } catch (const Exception&) {
    return false;
  }
}

std::int32_t parseInt32(std::string_view text) {
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
