// Feeds arbitrary lines to the substitution of embedded variables and to the
// line splitter. The input is "<variables>\0<text>": the variables in their
// name=value,... form, then the text. The substituted text is compared with
// the defining regular expression \$\{(.+)\} ('.' stopping at a line feed),
// including the "not found variable" messages; splitting the text in chunks
// of any size must give the lines that splitting it whole gives, each with
// the right positions of its first '$' and last '}'.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "config/env.h"
#include "convert/line_splitter.h"
#include "convert/variable.h"
#include "support/output.h"

namespace {

constexpr std::size_t kOracleLimit = 2048;  // std::regex recurses per character

void require(bool condition) {
  if (!condition) std::abort();
}

struct Substituted {
  std::string text;
  std::string printed;
};

Substituted byRegex(const std::string& text, const vesk::VariableTable& variables) {
  static const std::regex reference("\\$\\{([^\\n]+)\\}");
  Substituted result;
  std::size_t last = 0;
  for (std::sregex_iterator it(text.begin(), text.end(), reference), end; it != end; ++it) {
    const std::smatch& match = *it;
    result.text.append(text, last, static_cast<std::size_t>(match.position(0)) - last);
    if (const std::string* value = variables.find(match.str(1))) {
      result.text += *value;
    } else {
      result.printed += "not found variable: " + match.str(0) + "\r\n";
    }
    last = static_cast<std::size_t>(match.position(0) + match.length(0));
  }
  result.text.append(text, last);
  return result;
}

// Lines as the rules define them, from the whole text at once.
std::vector<std::string> linesOf(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t brk = text.find_first_of("\r\n", start);
    if (brk == std::string_view::npos) {
      lines.emplace_back(text.substr(start));
      break;
    }
    lines.emplace_back(text.substr(start, brk - start));
    start = brk + 1;
    if (text[brk] == '\r' && start < text.size() && text[start] == '\n') ++start;
  }
  return lines;
}

// Splitting in chunks of the given size; each line's marks must give its
// first '$' and its last '}'.
std::vector<std::string> linesInChunks(std::string_view text, std::size_t chunk) {
  std::vector<std::string> lines;
  vesk::LineSplitter splitter;
  auto onLine = [&lines](std::string_view line, const vesk::LineMarks& marks) {
    require(marks.firstDollar == line.find('$'));
    require(marks.lastBrace == line.rfind('}'));
    lines.emplace_back(line);
  };
  for (std::size_t pos = 0; pos < text.size(); pos += chunk)
    splitter.feed(text.substr(pos, chunk), onLine);
  splitter.finish(onLine);
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::size_t nul = input.find('\0');
  std::string_view definitions =
      nul == std::string_view::npos ? std::string_view() : input.substr(0, nul);
  std::string text(nul == std::string_view::npos ? input : input.substr(nul + 1));
  vesk::VariableTable variables = vesk::parseVariables(definitions);

  Substituted got;
  {
    vesk::OutputCapture capture;
    got.text = vesk::substituteVariables(text, variables);
    got.printed = capture.text();
  }
  {
    vesk::OutputCapture capture;
    std::string appended = "prefix";
    vesk::appendSubstituted(appended, text, variables);
    require(appended == "prefix" + got.text);
  }
  if (text.size() <= kOracleLimit) {
    Substituted expected = byRegex(text, variables);
    require(got.text == expected.text);
    require(got.printed == expected.printed);
  }

  std::vector<std::string> whole = linesOf(text);
  for (const std::string& line : whole) require(line.find_first_of("\r\n") == std::string::npos);
  std::size_t chunk = 1 + (text.empty() ? 0 : static_cast<unsigned char>(text.back()) % 16);
  require(linesInChunks(text, chunk) == whole);
  require(linesInChunks(text, 1) == whole);
  return 0;
}
