// The trace log and the run-time checks of the trace build.
//
// The same sources build both programs; VESK_TRACE_BUILD (set by the build for
// vesk-trace only) decides at compile time. Code says VESK_TRACE(...) where a
// trace line belongs and VESK_CHECK(...) where an invariant must hold; in the
// release build both compile to nothing and their arguments are not evaluated.
#pragma once

#include <cstddef>
#include <source_location>
#include <string>

#include "base/exception.h"
#include "support/output.h"

#ifndef VESK_TRACE_BUILD
#define VESK_TRACE_BUILD 0
#endif

namespace vesk {

inline constexpr bool kTraceBuild = VESK_TRACE_BUILD != 0;

[[noreturn]] void failCheck(const char* what, const char* file, int line);

// Element access that the trace build checks against the container's size.
template <class Container>
decltype(auto) checkedAt(Container& container, std::size_t index,
                         std::source_location where = std::source_location::current()) {
  if constexpr (kTraceBuild) {
    if (index >= container.size())
      failCheck("index out of range", where.file_name(), static_cast<int>(where.line()));
  }
  return container[index];
}

}  // namespace vesk

#define VESK_TRACE(...)                                            \
  do {                                                             \
    if constexpr (::vesk::kTraceBuild) ::vesk::print(__VA_ARGS__); \
  } while (0)

#define VESK_CHECK(condition)                                                                   \
  do {                                                                                          \
    if constexpr (::vesk::kTraceBuild) {                                                        \
      if (!(condition)) ::vesk::failCheck("assertion failed: " #condition, __FILE__, __LINE__); \
    }                                                                                           \
  } while (0)
