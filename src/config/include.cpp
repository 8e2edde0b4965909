#include "config/include.h"

#include <algorithm>

namespace vesk {
namespace {

bool hasDrive(std::string_view text) {
  return text.size() >= 4 && text[1] == ':' && text[2] == '\\';
}

}  // namespace

std::optional<FileSpec> parseInclude(std::string_view text) {
  if (text.empty()) return std::nullopt;
  // Cutting at every ':' gives one piece more than there are colons.
  auto pieces = std::count(text.begin(), text.end(), ':') + 1;
  // With a drive the first colon is part of the name and does not separate.
  if (hasDrive(text)) --pieces;

  FileSpec entry;
  if (pieces == 1) {
    entry.file = text;
  } else if (pieces == 2) {
    std::size_t colon = text.rfind(':');
    entry.file = text.substr(0, colon);
    entry.number = text.substr(colon + 1);
  } else {
    return std::nullopt;
  }
  if (entry.file.empty()) return std::nullopt;
  return entry;
}

}  // namespace vesk
