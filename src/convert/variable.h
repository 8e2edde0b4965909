// Embedded variables: ${name} references in source lines, resolved from the
// run's variable table while a source is rewritten into its output.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "config/env.h"
#include "platform/platform.h"

namespace vesk {

// The value of name, or "" after printing "not found variable: <match>".
std::string lookupVariable(std::string_view match, std::string_view name,
                           const VariableTable& variables);

// One line (no line break in it) with its one reference resolved. The
// reference runs from the first "${" to the last "}" that leaves at least
// one byte between them; a line without one comes back unchanged.
std::string substituteVariables(std::string_view line, const VariableTable& variables);

// Appends the substituted line to out; allocates nothing when the line holds
// no reference and out has room.
void appendSubstituted(std::string& out, std::string_view line, const VariableTable& variables);

// Writes output from source: a plain copy when there are no variables, else
// every line substituted and ended by CR LF. The output is replaced only once
// it is complete, carrying with `syncStamps` the source's stamps as reading
// it has left them; after a failure it is as it was.
void convertFile(const std::string& source, const std::string& output,
                 const VariableTable& variables, bool syncStamps = false);

// A rewrite reads its source in pieces of this size, 128 KiB, small enough
// to stay in the processor's cache between the read and the rewrite.
inline constexpr std::size_t kReadChunkSize = std::size_t{1} << 17;

}  // namespace vesk
