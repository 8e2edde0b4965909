// The lines of what vesk prints, each with the text it is in, for writing to
// a Windows console. Header-only and free of system calls, so that the rule
// is tested on every platform. Private to src/platform/.
//
// Report lines ("<source> => 07.txt", "<source> is not newer than 07.txt")
// and the trace lines "set <file>" and "includes <file>:<n>" carry their
// names in the ANSI code page; every other line (messages, the usage text)
// is UTF-8.
#pragma once

#include <array>
#include <string_view>
#include <vector>

namespace vesk::platform {

enum class LineText { kAnsi, kUtf8 };

struct TextLine {
  std::string_view text;  // with its line end, if it has one
  LineText kind;
};

namespace console_detail {

inline std::string_view withoutLineEnd(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  return line;
}

inline bool isDigit(char c) { return c >= '0' && c <= '9'; }

// "<anything><ending>NN.txt", the shape of a report line.
inline bool endsInReport(std::string_view line) {
  constexpr std::string_view kOutput = "00.txt";
  if (line.size() < kOutput.size()) return false;
  std::string_view output = line.substr(line.size() - kOutput.size());
  if (!isDigit(output[0]) || !isDigit(output[1]) || output.substr(2) != ".txt") return false;
  std::string_view head = line.substr(0, line.size() - kOutput.size());
  constexpr std::array<std::string_view, 2> kEndings = {" => ", " is not newer than "};
  for (std::string_view ending : kEndings) {
    if (head.size() > ending.size() && head.ends_with(ending)) return true;
  }
  return false;
}

}  // namespace console_detail

inline LineText lineText(std::string_view line) {
  line = console_detail::withoutLineEnd(line);
  if (line.starts_with("set ") || line.starts_with("includes ")) return LineText::kAnsi;
  return console_detail::endsInReport(line) ? LineText::kAnsi : LineText::kUtf8;
}

// `text` cut after each LF; a last line without one is a line too.
inline std::vector<TextLine> textLines(std::string_view text) {
  std::vector<TextLine> lines;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    end = end == std::string_view::npos ? text.size() : end + 1;
    std::string_view line = text.substr(0, end);
    lines.push_back({line, lineText(line)});
    text.remove_prefix(end);
  }
  return lines;
}

}  // namespace vesk::platform
