// Generated documents shared by the YAML benchmarks.
#pragma once

#include <cstddef>
#include <string>

namespace bench {

// A root mapping of the given number of plain entries, CR LF line ends.
inline std::string flatDocument(std::size_t entries) {
  std::string text = "--- # kesoYAML:0.1";
  for (std::size_t i = 0; i < entries; ++i) {
    std::string number = std::to_string(i);
    text += "\r\nkey" + number + ": some plain value " + number;
  }
  return text;
}

// Nested one level per line by indentation: line i is "a:" after i blanks.
inline std::string deepDocument(std::size_t depth) {
  std::string text = "---\n";
  text.reserve(depth * (depth + 7) / 2 + 16);
  for (std::size_t i = 0; i < depth; ++i) {
    text.append(i, ' ');
    text += "a:\n";
  }
  text.append(depth, ' ');
  text += "a: leaf";
  return text;
}

}  // namespace bench
