#include "support/version.h"

#include "support/version_number.h"

namespace vesk {
namespace {

// The tool chain as the compiler describes itself.
std::string toolChain() {
#if defined(__clang__)
  std::string name = "Clang";
  int major = __clang_major__, minor = __clang_minor__;
#elif defined(__GNUC__)
  std::string name = "GCC";
  int major = __GNUC__, minor = __GNUC_MINOR__;
#elif defined(_MSC_VER)
  std::string name = "MSVC";
  int major = _MSC_VER / 100, minor = _MSC_VER % 100;
#else
  std::string name = "unknown compiler";
  int major = 0, minor = 0;
#endif
  // __cplusplus is yyyymm of the language standard the compiler builds for.
  long standard = __cplusplus;
  return name + " Ver. " + std::to_string(major) + "." + std::to_string(minor) + " C++ " +
         std::to_string(standard / 100) + "." + std::to_string(standard % 100);
}

}  // namespace

const std::string& versionText() {
  static const std::string text =
      std::string("VESK VERSION: ") + kProgramVersion + "\r\nCOMPILED BY: " + toolChain();
  return text;
}

}  // namespace vesk
