// File entries: a file name, optionally followed by ':' and the
// number of its output file. Used by the command line and by the setting
// file's "includes" list.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vesk {

struct FileSpec {
  std::string file;    // never empty
  std::string number;  // empty when no number was written
};

// Splits "name[:number]". A text of at least four bytes whose second byte is
// ':' and third byte is '\' starts with a drive, whose colon belongs to the
// name. Too many colons, or an empty name, give nothing.
std::optional<FileSpec> parseInclude(std::string_view text);

}  // namespace vesk
