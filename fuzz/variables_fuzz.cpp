// Feeds arbitrary text to parseVariables and compares the table with the one
// the defining regular expression gives: pieces cut at ',', trimmed, and the
// leftmost match of ([^=]+)=(.*) ('.' stopping at a line feed) replaced by
// its first group for the name and its second for the value.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <regex>
#include <string>
#include <string_view>

#include "config/env.h"

namespace {

// std::regex recurses once per character; keep its inputs short.
constexpr std::size_t kOracleLimit = 2048;

std::string trim(const std::string& text) {
  const char* blanks = " \t\n\v\f\r";
  std::size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

vesk::VariableTable byRegex(const std::string& text) {
  static const std::regex pair("([^=]+)=([^\\n]*)");
  vesk::VariableTable table;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t comma = text.find(',', start);
    std::size_t end = comma == std::string::npos ? text.size() : comma;
    std::string piece = trim(text.substr(start, end - start));
    std::string name =
        std::regex_replace(piece, pair, "$1", std::regex_constants::format_first_only);
    std::string value =
        std::regex_replace(piece, pair, "$2", std::regex_constants::format_first_only);
    if (!name.empty()) table.set(name, value);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return table;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  vesk::VariableTable table = vesk::parseVariables(text);
  for (const auto& entry : table) {
    if (entry.first.empty()) std::abort();
  }
  if (size > kOracleLimit) return 0;
  vesk::VariableTable expected = byRegex(text);
  if (expected.size() != table.size()) std::abort();
  auto it = expected.begin();
  for (const auto& entry : table) {
    if (entry != *it++) std::abort();
  }
  return 0;
}
