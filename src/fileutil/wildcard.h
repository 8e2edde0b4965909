// A wildcard pattern parsed once and matched against many names.
#pragma once

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
  std::vector<Token> tokens_;
};

}  // namespace vesk
