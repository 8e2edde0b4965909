#include "fileutil/filetime.h"

#include <algorithm>
#include <limits>

#include "platform/platform.h"

namespace vesk {
namespace {

std::int64_t wholeSeconds(platform::Millis ms) {
  std::int64_t seconds = ms / 1000;
  if (ms % 1000 < 0) --seconds;  // floor, also before 1970
  return seconds;
}

}  // namespace

std::int32_t compareLastWrite(const std::string& first, const std::string& second) {
  std::int64_t a = wholeSeconds(platform::readFileStamps(first).lastWrite);
  std::int64_t b = wholeSeconds(platform::readFileStamps(second).lastWrite);
  std::int64_t difference = a - b;
  constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(std::clamp(difference, kMin, kMax));
}

}  // namespace vesk
