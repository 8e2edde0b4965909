// The usage text, and the exception that ends a run with it.
#pragma once

#include <string_view>

#include "base/exception.h"

namespace vesk {

// UTF-8; begins and ends with a line feed, lines separated by a line feed.
extern const std::string_view kUsageText;

// A command line (or an option) that vesk does not understand. The message is
// always the usage text.
class UsageException : public Exception {
 public:
  UsageException();
};

}  // namespace vesk
