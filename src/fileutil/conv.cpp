#include "fileutil/conv.h"

#include <array>
#include <string>

#include "base/exception.h"
#include "base/text.h"
#include "fileutil/utf8.h"

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

}  // namespace vesk
