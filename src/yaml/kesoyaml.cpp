#include "yaml/kesoyaml.h"

#include <memory>
#include <utility>
#include <vector>

#include "base/exception.h"
#include "platform/platform.h"
#include "yaml/parser_context.h"
#include "yaml/parser_states.h"

namespace kesoyaml {

NodeRef loadYaml(const std::string& fileName) {
  std::string text = vesk::platform::readWholeFile(fileName);
  text.push_back('\0');
  return parseText(std::move(text));
}

NodeRef readYaml(std::istream& in) {
  std::string text;
  // On the heap: the process may run with a stack of a few dozen KiB.
  std::vector<char> buffer(std::size_t{1} << 16);
  while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
    text.append(buffer.data(), static_cast<std::size_t>(in.gcount()));
  }
  // A short read would otherwise pass as a shorter, valid document.
  if (in.bad()) throw vesk::Exception("Couldn't read YAML stream");
  text.push_back('\0');
  return parseText(std::move(text));
}

NodeRef parseText(std::string text) {
  if (text.empty() || text.back() != '\0') text.push_back('\0');
  YamlParserContext context(std::move(text));
  try {
    std::unique_ptr<YamlParserState> state = std::make_unique<YamlParserFirstLine>();
    while (state != nullptr) state = state->run(context);
  } catch (const TextOverrun&) {
    context.error("premature end");
  }
  return context.root();
}

}  // namespace kesoyaml
