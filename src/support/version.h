// The version text that "-version" prints, and the exception that carries it.
#pragma once

#include <string>

#include "base/exception.h"

namespace vesk {

// "VESK VERSION: <version>\r\nCOMPILED BY: <tool chain>", without a final line
// end; the version is the project's, from CMakeLists.txt.
const std::string& versionText();

class VersionException : public Exception {
 public:
  VersionException() : Exception(versionText()) {}
};

}  // namespace vesk
