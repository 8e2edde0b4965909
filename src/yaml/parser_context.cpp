#include "yaml/parser_context.h"

#include <utility>

#include "base/text.h"
#include "support/trace.h"

namespace kesoyaml {
namespace {

using vesk::isBlank;
using vesk::isWhitespace;

// Position of the first CR or LF, or npos.
std::size_t findLineBreak(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') return i;
  }
  return std::string_view::npos;
}

// Replaces every occurrence of pattern, left to right, without rescanning a
// replacement.
void replaceAll(std::string& text, std::string_view pattern, char replacement) {
  std::size_t found = text.find(pattern);
  if (found == std::string::npos) return;
  std::string result;
  result.reserve(text.size());
  std::size_t from = 0;
  while (found != std::string::npos) {
    result.append(text, from, found - from);
    result.push_back(replacement);
    from = found + pattern.size();
    found = text.find(pattern, from);
  }
  result.append(text, from, std::string::npos);
  text = std::move(result);
}

// The escapes of double-quoted scalars, applied one after another in this
// order to the whole content. The doubled backslash comes last, so "\\n"
// becomes a backslash and a line feed.
void unescape(std::string& text) {
  if (text.find('\\') == std::string::npos) return;
  static constexpr struct {
    char letter;
    char replacement;
  } kEscapes[] = {{'a', '\a'}, {'b', '\b'}, {'f', '\f'}, {'n', '\n'}, {'r', '\r'},
                  {'t', '\t'}, {'v', '\v'}, {'"', '"'},  {' ', ' '},  {'\\', '\\'}};
  for (const auto& escape : kEscapes) {
    const char pattern[2] = {'\\', escape.letter};
    replaceAll(text, std::string_view(pattern, 2), escape.replacement);
  }
}

}  // namespace

YamlParserContext::YamlParserContext(std::string text) : text_(std::move(text)) {}

char YamlParserContext::current() const {
  if (pos_ >= text_.size()) throw TextOverrun();
  return text_[pos_];
}

char YamlParserContext::peek(std::size_t offset) const {
  if (pos_ >= text_.size() || offset >= text_.size() - pos_) throw TextOverrun();
  return text_[pos_ + offset];
}

std::string_view YamlParserContext::slice(std::size_t count) const {
  if (pos_ > text_.size() || count > text_.size() - pos_) throw TextOverrun();
  return std::string_view(text_).substr(pos_, count);
}

std::string_view YamlParserContext::rest() const {
  if (pos_ >= text_.size()) return {};
  return std::string_view(text_).substr(pos_);
}

bool YamlParserContext::skipComment() {
  if (current() != '#') return false;
  while (current() != '\n' && current() != '\r' && current() != '\0') advance();
  if (current() == '\r' && peek(1) == '\n') advance();
  back();
  return true;
}

bool YamlParserContext::skipBlankLine() {
  std::size_t start = pos_;
  while (isBlank(current()) || skipComment()) advance();
  switch (current()) {
    case '\r':
      advance();
      if (current() == '\n') advance();
      return true;
    case '\n':
      advance();
      return true;
    case '\0':
      return true;
    default:
      pos_ = start;
      return false;
  }
}

std::size_t YamlParserContext::skipWhitespace() {
  std::size_t start = pos_;
  const char* data = text_.data();
  std::size_t size = text_.size();
  while (pos_ < size && isWhitespace(data[pos_])) ++pos_;
  return pos_ - start;
}

bool YamlParserContext::isOpen(std::size_t indentation) const {
  // Entries above the current line's indentation are always empty, so the
  // entry asked for, if open, is the last one.
  for (auto it = open_.rbegin(); it != open_.rend() && it->level >= indentation; ++it) {
    if (it->level == indentation) return true;
  }
  return false;
}

void YamlParserContext::closeAbove(std::size_t indentation) {
  while (!open_.empty() && open_.back().level > indentation) open_.pop_back();
}

NodeRef YamlParserContext::root() const {
  if (open_.empty() || open_.front().level != 0) return nullptr;
  return open_.front().node;
}

void YamlParserContext::attach(NodeRef node) {
  // First entry at or above the level; the parent is the one before it.
  std::size_t at = open_.size();
  while (at > 0 && open_[at - 1].level >= level_) --at;
  if (at > 0) link(open_[at - 1], node);
  if (node->isScalar()) return;
  auto* assoc = dynamic_cast<YamlAssoc*>(node.get());
  auto* array = dynamic_cast<YamlArray*>(node.get());
  OpenContainer entry{level_, std::move(node), assoc, array};
  if (at < open_.size() && open_[at].level == level_) {
    open_[at] = std::move(entry);
  } else {
    open_.insert(open_.begin() + static_cast<std::ptrdiff_t>(at), std::move(entry));
  }
}

// Adds the node to the parent in place. Nodes of other classes that answer
// the kind tests get the copy, change and hand-back of the node interface.
void YamlParserContext::link(const OpenContainer& parent, NodeRef node) {
  YamlHolder& holder = *parent.node;
  if (holder.isArray()) {
    if (parent.array != nullptr) {
      parent.array->append(std::move(node));
    } else {
      NodeList elements = holder.asArray();
      elements.push_back(std::move(node));
      holder.setArray(std::move(elements));
    }
  } else if (holder.isAssoc()) {
    VESK_CHECK(key_.has_value());
    std::string key = key_.value_or(std::string());
    if (parent.assoc != nullptr) {
      parent.assoc->put(std::move(key), std::move(node));
    } else {
      NodeMap entries = holder.asAssoc();
      entries.set(std::move(key), std::move(node));
      holder.setAssoc(std::move(entries));
    }
  }
}

void YamlParserContext::error(std::string_view message) const {
  throw YamlError("Parser: " + std::string(message) + positionText());
}

std::string YamlParserContext::getScalar(bool asKey) {
  if (skipBlankLine()) return std::string();

  char quote = current();
  if (quote == '\'' || quote == '"') {
    bool single = quote == '\'';
    advance();
    std::size_t length = rest().find(quote);
    if (length == std::string_view::npos)
      error(single ? "unmatched single quote" : "unmatched double quote");
    std::string content(slice(length));
    advanceBy(length + 1);
    if (asKey) {
      while (isBlank(current())) advance();
    } else if (!skipBlankLine()) {
      error(single ? "garbage after single quote" : "garbage after double quote");
    }
    if (!single) unescape(content);
    return content;
  }

  std::string_view tail = rest();
  std::size_t length;
  if (asKey) {
    // A plain key runs to the first colon, on this line or a later one.
    length = tail.find(':');
    if (length == std::string_view::npos) return std::string();
  } else {
    // A plain value runs to the line end, or to a "#" before it.
    length = findLineBreak(tail);
    if (length == std::string_view::npos) length = tail.empty() ? 0 : tail.size() - 1;
    std::size_t hash = tail.substr(0, length).find('#');
    if (hash != std::string_view::npos) length = hash;
  }
  std::string_view content = slice(length);
  advanceBy(length);
  while (!content.empty() && isBlank(content.back())) content.remove_suffix(1);
  if (content.empty()) throw TextOverrun();
  return std::string(content);
}

std::string YamlParserContext::positionText() const {
  std::size_t line = 1;
  std::size_t column = 0;
  std::size_t count = 0;
  char previous = '\0';
  for (char c : text_) {
    if (c == '\r' || (c == '\n' && previous != '\r')) {
      ++line;
      column = 0;
    }
    previous = c;
    ++column;
    ++count;
    if (count >= pos_) break;
  }
  return " in line" + std::to_string(line) + " pos" + std::to_string(column);
}

}  // namespace kesoyaml
