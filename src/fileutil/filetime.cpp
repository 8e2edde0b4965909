#include "fileutil/filetime.h"

#include <algorithm>
#include <limits>

#include "platform/platform.h"

namespace vesk {
namespace {

TimeRecord toRecord(platform::Millis utc) {
  platform::LocalTime local = platform::toLocalTime(utc);
  return TimeRecord{local.year,   local.month,  local.day,         local.hour,
                    local.minute, local.second, local.millisecond, local.dayOfWeek};
}

platform::Millis fromRecord(const TimeRecord& record) {
  platform::LocalTime local;
  local.year = record.year;
  local.month = record.month;
  local.day = record.day;
  local.hour = record.hour;
  local.minute = record.minute;
  local.second = record.second;
  local.millisecond = record.millisecond;
  local.dayOfWeek = record.dayOfWeek;
  return platform::fromLocalTime(local);
}

std::int64_t wholeSeconds(platform::Millis ms) {
  std::int64_t seconds = ms / 1000;
  if (ms % 1000 < 0) --seconds;  // floor, also before 1970
  return seconds;
}

}  // namespace

FileTimes getFileTimes(const std::string& file) {
  platform::FileStamps stamps = platform::readFileStamps(file);
  return FileTimes{toRecord(stamps.creation), toRecord(stamps.lastAccess),
                   toRecord(stamps.lastWrite)};
}

void setFileTimes(const std::string& file, const FileTimes& times) {
  platform::FileStamps stamps;
  stamps.creation = fromRecord(times.creation);
  stamps.lastAccess = fromRecord(times.lastAccess);
  stamps.lastWrite = fromRecord(times.lastWrite);
  platform::writeFileStamps(file, stamps);
}

std::int32_t compareLastWrite(const std::string& first, const std::string& second) {
  std::int64_t a = wholeSeconds(platform::readFileStamps(first).lastWrite);
  std::int64_t b = wholeSeconds(platform::readFileStamps(second).lastWrite);
  std::int64_t difference = a - b;
  constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(std::clamp(difference, kMin, kMax));
}

void syncFileTimes(const std::string& source, const std::string& target) {
  platform::writeFileStamps(target, platform::readFileStamps(source));
}

}  // namespace vesk
