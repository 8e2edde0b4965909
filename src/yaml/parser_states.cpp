#include "yaml/parser_states.h"

#include <string>

#include "base/text.h"

namespace kesoyaml {
namespace {

using vesk::isBlank;
using vesk::isWhitespace;

// The rest of an entry's line after its "-" or ":": blanks and comments,
// then the end of the line or an inline scalar. The inline scalar belongs to
// the container at the line's own indentation: attaching one level deeper
// makes that container the parent.
void readRestOfEntry(YamlParserContext& context) {
  while (isBlank(context.current()) || context.skipComment()) context.advance();
  if (context.skipBlankLine()) return;
  std::size_t level = context.level();
  context.setLevel(level + 1);
  context.attach(std::make_shared<YamlScalar>(context.getScalar(false)));
  context.setLevel(level);
}

}  // namespace

std::unique_ptr<YamlParserState> YamlParserState::run(YamlParserContext& context) {
  context_ = &context;
  return step();
}

void YamlParserState::error(std::string_view message) const {
  throw YamlError(*this, std::string(message) + context().positionText());
}

std::unique_ptr<YamlParserState> YamlParserFirstLine::step() {
  YamlParserContext& in = context();
  while (isWhitespace(in.current()) || in.skipComment()) in.advance();
  if (in.slice(3) != "---") in.error("garbage before document header");
  in.advanceBy(3);
  if (!in.skipBlankLine()) in.error("garbage after document header");
  if (in.atEnd()) return nullptr;
  return std::make_unique<YamlParserLineHead>();
}

std::unique_ptr<YamlParserState> YamlParserLineHead::step() {
  YamlParserContext& in = context();
  while (in.skipBlankLine()) {
    if (in.atEnd()) return nullptr;
  }
  std::size_t count = in.skipWhitespace();
  in.closeAbove(count);
  in.setLevel(count);
  if (in.current() == '-') return std::make_unique<YamlParserArray>();
  return std::make_unique<YamlParserAssoc>();
}

std::unique_ptr<YamlParserState> YamlParserArray::step() {
  YamlParserContext& in = context();
  if (!in.isOpen(in.level())) in.attach(std::make_shared<YamlArray>());
  in.advance();
  readRestOfEntry(in);
  return std::make_unique<YamlParserLineHead>();
}

std::unique_ptr<YamlParserState> YamlParserAssoc::step() {
  YamlParserContext& in = context();
  if (!in.isOpen(in.level())) in.attach(std::make_shared<YamlAssoc>());
  in.setKey(in.getScalar(true));
  if (in.current() != ':') in.error("colon expected");
  in.advance();
  readRestOfEntry(in);
  return std::make_unique<YamlParserLineHead>();
}

}  // namespace kesoyaml
