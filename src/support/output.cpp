#include "support/output.h"

#include "base/exception.h"
#include "platform/platform.h"

namespace vesk {
namespace {

std::string* captureTarget = nullptr;

// Text printed but not yet written. Standard output is written in pieces of
// at least this size, and at flushOutput().
constexpr std::size_t kFlushSize = 1 << 16;
std::string pending;
// Set when standard output could not be written: the system's reason.
std::string lostReason;

void writePending() {
  if (pending.empty()) return;
  if (lostReason.empty()) {
    try {
      platform::writeStandardOutput(pending);
    } catch (const FileException& e) {
      lostReason = e.message();
    }
  }
  pending.clear();
}

void appendDirective(std::string& out, std::string_view directive, std::string_view arg) {
  if (directive == "%s") {
    // printf's "%s" stops at the first NUL byte.
    auto nul = arg.find('\0');
    out.append(arg.substr(0, nul));
  } else {
    out.append(arg);
  }
}

}  // namespace

std::string formatList(std::string_view format, std::initializer_list<std::string_view> args) {
  std::string out;
  out.reserve(format.size() + 64);
  const std::string_view* next = args.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    char c = format[i];
    if (c != '%') {
      out.push_back(c);
      continue;
    }
    std::string_view rest = format.substr(i);
    if (rest.starts_with("%%")) {
      out.push_back('%');
      i += 1;
    } else if (rest.starts_with("%.*s") || rest.starts_with("%s")) {
      std::string_view directive = rest.starts_with("%s") ? rest.substr(0, 2) : rest.substr(0, 4);
      if (next != args.end()) appendDirective(out, directive, *next++);
      i += directive.size() - 1;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

void printList(std::string_view format, std::initializer_list<std::string_view> args) {
  std::string text = formatList(format, args);
  if (captureTarget != nullptr) {
    captureTarget->append(text);
    return;
  }
  pending.append(text);
  if (pending.size() >= kFlushSize) writePending();
}

bool flushOutput() {
  writePending();
  return lostReason.empty();
}

const std::string& outputFailure() { return lostReason; }

OutputCapture::OutputCapture() : previous_(captureTarget) { captureTarget = &text_; }
OutputCapture::~OutputCapture() { captureTarget = previous_; }

}  // namespace vesk
