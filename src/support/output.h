// The program's one formatted print. Everything vesk shows goes to standard
// output through print(), in program order. Standard error is used for one
// thing only: saying that standard output itself could not be written.
//
// Formats are the program's fixed message strings. They use only "%.*s"
// (a length-counted string, printed unchanged), "%s" (printed up to its first
// NUL byte) and "%%"; each directive takes the next argument.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace vesk {

void printList(std::string_view format, std::initializer_list<std::string_view> args);

template <class... Args>
void print(std::string_view format, const Args&... args) {
  printList(format, {std::string_view(args)...});
}

// Expands a format as print() would, without printing (used by tests too).
std::string formatList(std::string_view format, std::initializer_list<std::string_view> args);

// Writes what has been printed so far. Returns false once standard output
// could not be written; from then on prints are dropped, and
// outputFailure() holds the reason ("standard output: <system's text>").
bool flushOutput();
const std::string& outputFailure();

// While alive, everything printed is appended to the given string instead of
// standard output. For tests.
class OutputCapture {
 public:
  OutputCapture();
  ~OutputCapture();
  OutputCapture(const OutputCapture&) = delete;
  OutputCapture& operator=(const OutputCapture&) = delete;
  const std::string& text() const { return text_; }

 private:
  std::string text_;
  std::string* previous_;
};

}  // namespace vesk
