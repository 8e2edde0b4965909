#include "config/env.h"

#include <utility>

#include "fileutil/path.h"

namespace vesk {
namespace {

constexpr std::string_view kBlanks = " \t\n\v\f\r";

std::string_view trim(std::string_view text) {
  std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  std::size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

struct Pair {
  std::string name;
  std::string value;
};

// The pair is the leftmost match of ([^=]+)=(.*), where '.' stops at a line
// feed. The match starts at the first byte that is not '=' and needs a '='
// after it; group 1 runs up to that '=', group 2 from there to the next line
// feed. Text around the match stays in both the name and the value.
Pair splitPair(std::string_view piece) {
  std::size_t start = piece.find_first_not_of('=');
  std::size_t equals = start == std::string_view::npos ? start : piece.find('=', start);
  if (equals == std::string_view::npos) return {std::string(piece), std::string(piece)};

  std::size_t end = piece.find('\n', equals + 1);
  if (end == std::string_view::npos) end = piece.size();
  std::string_view before = piece.substr(0, start);
  std::string_view after = piece.substr(end);
  std::string_view name = piece.substr(start, equals - start);
  std::string_view value = piece.substr(equals + 1, end - equals - 1);

  Pair pair;
  pair.name.append(before).append(name).append(after);
  pair.value.append(before).append(value).append(after);
  return pair;
}

void mergeEntries(StringTable& into, const StringTable& from, bool overwrite) {
  for (const auto& [key, value] : from) {
    if (overwrite) {
      into.set(key, value);
    } else {
      into.setIfAbsent(key, value);
    }
  }
}

// Into an empty table every entry is added in order: a plain copy (or a
// move, for a table given up), which spares a large table from being hashed
// again.
template <class Table>
void mergeTable(StringTable& into, Table&& from, bool overwrite) {
  if (into.empty()) {
    into = std::forward<Table>(from);
  } else {
    mergeEntries(into, from, overwrite);
  }
}

}  // namespace

VariableTable parseVariables(std::string_view text) {
  VariableTable table;
  while (!text.empty()) {
    std::size_t comma = text.find(',');
    std::string_view piece = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);

    Pair pair = splitPair(trim(piece));
    if (!pair.name.empty()) table.set(std::move(pair.name), std::move(pair.value));
  }
  return table;
}

void VESKEnv::setOption(std::string_view name, std::string_view value) {
  if (name == "variables") {
    setVariables(value);
    return;
  }
  options_.set(std::string(name), std::string(value));
}

void VESKEnv::addInclude(std::string_view file, std::string_view number) {
  includes_.set(absPath(toNativeSeparators(file)), std::string(number));
}

void VESKEnv::setVariable(std::string_view name, std::string_view value) {
  variables_.set(std::string(name), std::string(value));
}

void VESKEnv::setVariables(std::string_view text) { variables_ = parseVariables(text); }

void VESKEnv::merge(const VESKEnv& other, bool overwrite) {
  mergeIncludes(other.includes(), overwrite);
  mergeOptions(other.options(), overwrite);
  mergeVariables(other.variables(), overwrite);
}

void VESKEnv::merge(VESKEnv&& other, bool overwrite) {
  if (&other == this) return;
  mergeTable(includes_, std::move(other.includes_), overwrite);
  mergeTable(options_, std::move(other.options_), overwrite);
  mergeTable(variables_, std::move(other.variables_), overwrite);
}

void VESKEnv::mergeIncludes(const StringTable& table, bool overwrite) {
  mergeTable(includes_, table, overwrite);
}

void VESKEnv::mergeOptions(const StringTable& table, bool overwrite) {
  mergeTable(options_, table, overwrite);
}

void VESKEnv::mergeVariables(const VariableTable& table, bool overwrite) {
  mergeTable(variables_, table, overwrite);
}

}  // namespace vesk
