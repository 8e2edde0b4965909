#include "convert/variable.h"

#include <algorithm>
#include <vector>

#include "convert/line_splitter.h"
#include "platform/platform.h"
#include "support/output.h"
#include "support/trace.h"

namespace vesk {
namespace {

constexpr std::size_t kChunkSize = std::size_t{1} << 20;
constexpr std::size_t kOutputBufferSize = std::size_t{1} << 20;
constexpr std::string_view kLineBreak = "\r\n";

// The reference pattern is \$\{(.+)\} with a greedy wildcard. Its only match
// in a line starts at the first "${" and ends at the last '}', provided at
// least one byte lies between them; after it no '}' is left, so there is no
// second match. The search works on bytes: for valid UTF-8 that is the same
// as stepping over whole characters, since '$', '{' and '}' never occur inside
// a multi-byte character. Bytes that are not valid UTF-8 are no error and are
// kept as they are; in a legacy double-byte text a trail byte equal to '{' or
// '}' counts as that brace.
// On success [begin, end) is the whole match "${name}".
bool findReference(std::string_view line, std::size_t& begin, std::size_t& end) {
  begin = line.find("${");
  if (begin == std::string_view::npos) return false;
  std::size_t close = line.rfind('}');
  if (close == std::string_view::npos || close < begin + 3) return false;
  end = close + 1;
  return true;
}

// The value of name; nullptr after reporting the match as not found. A
// missing variable is not an error: the reference is dropped from the line.
const std::string* findValue(std::string_view match, std::string_view name,
                             const VariableTable& variables) {
  const std::string* value = variables.find(std::string(name));
  if (value == nullptr) print("not found variable: %.*s\r\n", match);
  return value;
}

// Calls sink with the pieces of the substituted text, in order. '.' does not
// match a line feed, so should a line feed slip into the text, each part
// between line feeds is treated as a line of its own.
template <class Sink>
void substitute(std::string_view text, const VariableTable& variables, Sink& sink) {
  for (;;) {
    std::size_t feed = text.find('\n');
    std::string_view line = text.substr(0, feed);
    std::size_t begin = 0, end = 0;
    if (findReference(line, begin, end)) {
      sink(line.substr(0, begin));
      std::string_view match = line.substr(begin, end - begin);
      if (const std::string* value = findValue(match, match.substr(2, match.size() - 3), variables)) {
        sink(std::string_view(*value));
      }
      sink(line.substr(end));
    } else {
      sink(line);
    }
    if (feed == std::string_view::npos) return;
    sink(std::string_view("\n"));
    text.remove_prefix(feed + 1);
  }
}

// Gathers output bytes into a large buffer; pieces at least as large as the
// buffer go straight to the file, so a huge line is not copied twice.
class BufferedOutput {
 public:
  explicit BufferedOutput(platform::AtomicFile& file) : file_(file) { buffer_.reserve(kOutputBufferSize); }

  void operator()(std::string_view piece) {
    if (buffer_.size() + piece.size() > kOutputBufferSize) flush();
    if (piece.size() >= kOutputBufferSize) {
      file_.write(piece);
    } else {
      buffer_.append(piece);
    }
  }

  void flush() {
    if (!buffer_.empty()) file_.write(buffer_);
    buffer_.clear();
  }

 private:
  platform::AtomicFile& file_;
  std::string buffer_;
};

void rewriteFile(const std::string& source, const std::string& output,
                 const VariableTable& variables, std::size_t chunkSize) {
  platform::InputFile input(source);
  platform::AtomicFile file(output);
  BufferedOutput out(file);
  LineSplitter splitter;
  auto writeLine = [&](std::string_view line) {
    substitute(line, variables, out);
    out(kLineBreak);
  };

  std::vector<char> chunk(std::max<std::size_t>(chunkSize, 1));
  while (std::size_t got = input.read(chunk.data(), chunk.size())) {
    splitter.feed(std::string_view(chunk.data(), got), writeLine);
  }
  splitter.finish(writeLine);
  out.flush();
  file.commit();
}

}  // namespace

std::string lookupVariable(std::string_view match, std::string_view name,
                           const VariableTable& variables) {
  const std::string* value = findValue(match, name, variables);
  return value == nullptr ? std::string() : *value;
}

std::string substituteVariables(std::string_view line, const VariableTable& variables) {
  std::string out;
  appendSubstituted(out, line, variables);
  return out;
}

void appendSubstituted(std::string& out, std::string_view line, const VariableTable& variables) {
  auto append = [&out](std::string_view piece) { out.append(piece); };
  substitute(line, variables, append);
}

void convertFile(const std::string& source, const std::string& output,
                 const VariableTable& variables) {
  convertFile(source, output, variables, kChunkSize);
}

void convertFile(const std::string& source, const std::string& output,
                 const VariableTable& variables, std::size_t chunkSize) {
  if (variables.empty()) {
    platform::copyFileAtomic(source, output);
    return;
  }
  VESK_TRACE("read %.*s to replace\n", source);
  rewriteFile(source, output, variables, chunkSize);
}

}  // namespace vesk
