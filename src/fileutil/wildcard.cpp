#include "fileutil/wildcard.h"

#include "fileutil/utf8.h"

namespace vesk {
namespace {

char32_t foldCase(char32_t c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }

char32_t otherCase(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c - 'A' + 'a';
  if (c >= 'a' && c <= 'z') return c - 'a' + 'A';
  return c;
}

struct Decoded {
  char32_t c;
  std::size_t length;
};

Decoded at(std::string_view text, std::size_t pos) {
  Decoded d{};
  d.c = decodeUtf8(text, pos, d.length);
  return d;
}

}  // namespace

bool WildcardPattern::Token::matches(char32_t c) const {
  switch (kind) {
    case Kind::Star:
    case Kind::AnyOne:
      return true;
    case Kind::Literal:
      return foldCase(c) == literal;
    case Kind::Class:
      break;
  }
  char32_t other = otherCase(c);
  bool inside = false;
  for (const auto& [low, high] : ranges) {
    if ((c >= low && c <= high) || (other >= low && other <= high)) {
      inside = true;
      break;
    }
  }
  return inside != negated;
}

WildcardPattern::WildcardPattern(std::string_view pattern) {
  std::size_t pos = 0;
  while (pos < pattern.size()) {
    Decoded d = at(pattern, pos);
    Token token{};
    if (d.c == '*') {
      pos += 1;
      // A run of stars is one star.
      if (tokens_.empty() || tokens_.back().kind != Token::Kind::Star) {
        token.kind = Token::Kind::Star;
        tokens_.push_back(std::move(token));
      }
      continue;
    }
    if (d.c == '?') {
      token.kind = Token::Kind::AnyOne;
      tokens_.push_back(std::move(token));
      pos += 1;
      continue;
    }
    if (d.c == '[' && parseClass(pattern, pos, token)) {
      tokens_.push_back(std::move(token));
      continue;
    }
    token = Token{};
    token.kind = Token::Kind::Literal;
    token.literal = foldCase(d.c);
    tokens_.push_back(std::move(token));
    pos += d.length;
  }
}

// [ then an optional ! or ^, then members up to the closing ]; a ] as the
// first member is literal. Without a closing ] the [ is a literal: the
// answer is false and pos stays where it was.
bool WildcardPattern::parseClass(std::string_view pattern, std::size_t& pos, Token& token) {
  std::size_t i = pos + 1;
  token.kind = Token::Kind::Class;
  if (i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^')) {
    token.negated = true;
    ++i;
  }
  bool first = true;
  while (i < pattern.size()) {
    if (pattern[i] == ']' && !first) {
      pos = i + 1;
      return true;
    }
    first = false;
    Decoded low = at(pattern, i);
    i += low.length;
    char32_t high = low.c;
    if (i + 1 < pattern.size() && pattern[i] == '-' && pattern[i + 1] != ']') {
      Decoded end = at(pattern, i + 1);
      high = end.c;
      i += 1 + end.length;
    }
    token.ranges.emplace_back(low.c, high);
  }
  return false;
}

// Greedy matching that remembers only the latest star: when a later part
// fails, that star takes one more character. An earlier star never needs to
// be revisited, because the latest one can absorb anything it could, so the
// work is bounded by pattern length times text length.
bool WildcardPattern::matches(std::string_view text) const {
  const std::size_t none = static_cast<std::size_t>(-1);
  std::size_t p = 0, t = 0;
  std::size_t starToken = none, starText = 0;
  while (t < text.size()) {
    if (p < tokens_.size() && tokens_[p].kind == Token::Kind::Star) {
      starToken = p++;
      starText = t;
      continue;
    }
    Decoded d = at(text, t);
    if (p < tokens_.size() && tokens_[p].matches(d.c)) {
      ++p;
      t += d.length;
      continue;
    }
    if (starToken == none) return false;
    p = starToken + 1;
    starText += at(text, starText).length;
    t = starText;
  }
  while (p < tokens_.size() && tokens_[p].kind == Token::Kind::Star) ++p;
  return p == tokens_.size();
}

}  // namespace vesk
