// A wildcard pattern parsed once and matched against many names: '*' any
// run (separators included), '?' one character, bracket classes [abc] [a-z]
// [!x] [^x]; letters A-Z compared without regard to case. Characters are
// UTF-8 code points. Time is O(pattern * text) at worst.
#pragma once

#include <cstddef>
#include <string_view>
#include <utility>
#include <vector>

namespace vesk {

class WildcardPattern {
 public:
  explicit WildcardPattern(std::string_view pattern);
  bool matches(std::string_view text) const;

 private:
  struct Token {
    enum class Kind { Star, AnyOne, Literal, Class } kind;
    char32_t literal = 0;  // folded to lower case
    bool negated = false;
    std::vector<std::pair<char32_t, char32_t>> ranges;
    bool matches(char32_t c) const;
  };
  // Reads the bracket expression at pattern[pos] into token and moves pos
  // past it; false when the '[' opens none.
  static bool parseClass(std::string_view pattern, std::size_t& pos, Token& token);

  std::vector<Token> tokens_;
};

}  // namespace vesk
