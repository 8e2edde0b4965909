// The version text that "-version" prints, and the exception that carries it.
#pragma once

#include <string>

#include "base/exception.h"

namespace vesk {

inline constexpr const char* kProgramVersion = "1.12";

// "VESK VERSION: 1.12\r\nCOMPILED BY: <tool chain>", without a final line end.
const std::string& versionText();

class VersionException : public Exception {
 public:
  VersionException() : Exception(versionText()) {}
};

}  // namespace vesk
