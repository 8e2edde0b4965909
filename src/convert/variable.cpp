#include "convert/variable.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "convert/line_splitter.h"
#include "convert/write_behind.h"
#include "platform/platform.h"
#include "support/output.h"
#include "support/trace.h"

namespace vesk {
namespace {

// Output blocks of 1 MiB, three of them, handed to the writer thread: with
// 512 KiB or 2 MiB the same work took more processor and wall time, the
// smaller for its twice as many hand-overs.
constexpr std::size_t kOutputBlockSize = std::size_t{1} << 20;
constexpr std::size_t kOutputBlocks = 3;
constexpr std::string_view kLineBreak = "\r\n";

// The reference pattern is \$\{(.+)\} with a greedy wildcard. Its only match
// in a line starts at the first "${" and ends at the last '}', provided at
// least one byte lies between them; after it no '}' is left, so there is no
// second match. The search works on bytes: for valid UTF-8 that is the same
// as stepping over whole characters, since '$', '{' and '}' never occur inside
// a multi-byte character. Bytes that are not valid UTF-8 are no error and are
// kept as they are; in a legacy double-byte text a trail byte equal to '{' or
// '}' counts as that brace.
// marks give the line's first '$' and last '}'. On success [begin, end) is
// the whole match "${name}".
bool findReference(std::string_view line, const LineMarks& marks, std::size_t& begin,
                   std::size_t& end) {
  begin = marks.firstDollar;
  while (begin != std::string_view::npos && (begin + 1 == line.size() || line[begin + 1] != '{')) {
    begin = line.find('$', begin + 1);
  }
  if (begin == std::string_view::npos) return false;
  if (marks.lastBrace == std::string_view::npos || marks.lastBrace < begin + 3) return false;
  end = marks.lastBrace + 1;
  return true;
}

// The marks of a line that did not come from a LineSplitter.
LineMarks marksOf(std::string_view line) {
  LineMarks marks;
  marks.firstDollar = line.find('$');
  for (std::size_t from = 0; from < line.size();) {
    const void* brace = std::memchr(line.data() + from, '}', line.size() - from);
    if (brace == nullptr) break;
    marks.lastBrace = static_cast<std::size_t>(static_cast<const char*>(brace) - line.data());
    from = marks.lastBrace + 1;
  }
  return marks;
}

// Looks names up in the variable table and remembers the latest answer: the
// references of a source mostly repeat a few names. The message for a
// missing name is printed at every reference all the same.
class ValueLookup {
 public:
  explicit ValueLookup(const VariableTable& variables) : variables_(variables) {}

  // The value of name; for a missing one, prints "not found variable:" with
  // the match and answers nullptr. A missing variable is not an error: the
  // reference is dropped from the line.
  const std::string* findOrReport(std::string_view match, std::string_view name) {
    if (!known_ || name != name_) {
      name_.assign(name);
      value_ = variables_.find(name_);
      known_ = true;
    }
    if (value_ == nullptr) print("not found variable: %.*s\r\n", match);
    return value_;
  }

 private:
  const VariableTable& variables_;
  std::string name_;
  const std::string* value_ = nullptr;
  bool known_ = false;
};

// Calls sink with the pieces of one line (no line feed in it) with its
// reference resolved.
template <class Sink>
void substituteLine(std::string_view line, const LineMarks& marks, ValueLookup& lookup,
                    Sink& sink) {
  std::size_t begin = 0, end = 0;
  if (!findReference(line, marks, begin, end)) {
    sink(line);
    return;
  }
  sink(line.substr(0, begin));
  std::string_view match = line.substr(begin, end - begin);
  if (const std::string* value = lookup.findOrReport(match, match.substr(2, match.size() - 3))) {
    sink(std::string_view(*value));
  }
  sink(line.substr(end));
}

// Calls sink with the pieces of the substituted text, in order. '.' does not
// match a line feed, so should a line feed slip into the text, each part
// between line feeds is treated as a line of its own.
template <class Sink>
void substitute(std::string_view text, ValueLookup& lookup, Sink& sink) {
  for (;;) {
    std::size_t feed = text.find('\n');
    std::string_view line = text.substr(0, feed);
    substituteLine(line, marksOf(line), lookup, sink);
    if (feed == std::string_view::npos) return;
    sink(std::string_view("\n"));
    text.remove_prefix(feed + 1);
  }
}

void rewriteFile(const std::string& source, const std::string& output,
                 const VariableTable& variables, std::size_t chunkSize, bool syncStamps) {
  // The source is opened first, so a missing one leaves no temporary file,
  // and closed before the commit: Windows refuses to rename over a file that
  // is still open, which matters when a source is its own output.
  std::optional<platform::InputFile> input(std::in_place, source);
  platform::AtomicFile file(output);
  WriteBehind out([&file](std::string_view block) { file.write(block); }, kOutputBlockSize,
                  kOutputBlocks);
  ValueLookup lookup(variables);
  LineSplitter splitter;
  auto writeLine = [&](std::string_view line, const LineMarks& marks) {
    // A line without a '$' holds no reference and is copied as it is.
    if (marks.firstDollar == std::string_view::npos) {
      out(line);
    } else {
      substituteLine(line, marks, lookup, out);
    }
    out(kLineBreak);
  };

  std::vector<char> chunk(std::max<std::size_t>(chunkSize, 1));
  while (std::size_t got = input->read(chunk.data(), chunk.size())) {
    splitter.feed(std::string_view(chunk.data(), got), writeLine);
  }
  splitter.finish(writeLine);
  out.finish();
  input.reset();
  // Read now, so that they are the stamps reading the source has left.
  if (syncStamps) file.setStamps(platform::readFileStamps(source));
  file.commit();
}

}  // namespace

std::string lookupVariable(std::string_view match, std::string_view name,
                           const VariableTable& variables) {
  ValueLookup lookup(variables);
  const std::string* value = lookup.findOrReport(match, name);
  return value == nullptr ? std::string() : *value;
}

std::string substituteVariables(std::string_view line, const VariableTable& variables) {
  std::string out;
  appendSubstituted(out, line, variables);
  return out;
}

void appendSubstituted(std::string& out, std::string_view line, const VariableTable& variables) {
  auto append = [&out](std::string_view piece) { out.append(piece); };
  ValueLookup lookup(variables);
  substitute(line, lookup, append);
}

void convertFile(const std::string& source, const std::string& output,
                 const VariableTable& variables, bool syncStamps) {
  if (variables.empty()) {
    platform::copyFileAtomic(source, output, syncStamps);
    return;
  }
  VESK_TRACE("read %.*s to replace\n", source);
  rewriteFile(source, output, variables, kReadChunkSize, syncStamps);
}

}  // namespace vesk
