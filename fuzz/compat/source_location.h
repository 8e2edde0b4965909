// clang before 15 lacks the builtin that the standard library's
// <source_location> is built on, so with it that header declares nothing.
// The fuzz build force-includes this stand-in on such compilers; it offers
// the same interface from the older location builtins.
#pragma once

#if !__has_builtin(__builtin_source_location)
#include <cstdint>

namespace std {

struct source_location {
  static constexpr source_location current(const char* file = __builtin_FILE(),
                                           const char* function = __builtin_FUNCTION(),
                                           std::uint_least32_t line = __builtin_LINE(),
                                           std::uint_least32_t column = __builtin_COLUMN()) noexcept {
    source_location where;
    where.file_ = file;
    where.function_ = function;
    where.line_ = line;
    where.column_ = column;
    return where;
  }
  constexpr source_location() noexcept = default;
  constexpr const char* file_name() const noexcept { return file_; }
  constexpr const char* function_name() const noexcept { return function_; }
  constexpr std::uint_least32_t line() const noexcept { return line_; }
  constexpr std::uint_least32_t column() const noexcept { return column_; }

 private:
  const char* file_ = "";
  const char* function_ = "";
  std::uint_least32_t line_ = 0;
  std::uint_least32_t column_ = 0;
};

}  // namespace std
#endif
