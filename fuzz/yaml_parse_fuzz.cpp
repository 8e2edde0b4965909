// Feeds arbitrary bytes to the YAML reader. Every input must either parse or
// fail with YamlError; anything else (a crash, a sanitizer report, another
// exception, a hang) is a finding. A parsed tree is also written out, which
// walks all of it.

#include <cstddef>
#include <cstdint>
#include <string>

#include "yaml/kesoyaml.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  text.push_back('\0');
  try {
    kesoyaml::NodeRef root = kesoyaml::parseText(std::move(text));
    if (root != nullptr) {
      kesoyaml::StringOutput out;
      root->write(out);
    }
  } catch (const kesoyaml::YamlError&) {
  }
  return 0;
}
