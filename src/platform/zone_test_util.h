// Runs a test in a fixed time zone. Test code only.
#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace vesk::platform {

// Sets TZ for its lifetime and restores the previous value afterwards. The
// Windows C run time reads no POSIX zone rules: there the guard does nothing
// and the test runs in the machine's zone, which must not matter either.
class ZoneGuard {
 public:
#ifdef _WIN32
  explicit ZoneGuard(const char*) {}
#else
  explicit ZoneGuard(const char* zone) {
    if (const char* old = std::getenv("TZ")) saved_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ZoneGuard() {
    if (saved_) {
      ::setenv("TZ", saved_->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }
  ZoneGuard(const ZoneGuard&) = delete;
  ZoneGuard& operator=(const ZoneGuard&) = delete;

 private:
  std::optional<std::string> saved_;
#endif
};

}  // namespace vesk::platform
