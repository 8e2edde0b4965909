// The time stamps of files, as the incremental build needs them.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace vesk {

// A broken-down local time: month 1-12, dayOfWeek 0 = Sunday (carried along,
// never used to compute anything). The platform's calendar record serves as is.
using TimeRecord = platform::LocalTime;

struct FileTimes {
  TimeRecord creation, lastAccess, lastWrite;
};

// The file's stamps as local times. Fails with FileException naming the file.
FileTimes getFileTimes(const std::string& file);
// Sets the stamps from local times (creation only where the platform can).
void setFileTimes(const std::string& file, const FileTimes& times);

// The last-write time of first minus that of second, in whole seconds. Each
// UTC time is cut to its second first; comparing UTC (not local) times keeps
// the order right across a daylight-saving change. Differences beyond the
// int32 range are clamped, so the sign is always right.
std::int32_t compareLastWrite(const std::string& first, const std::string& second);

// Gives the target the source's stamps to the millisecond. The UTC stamps are
// copied directly, so no local-time round trip can shift them.
void syncFileTimes(const std::string& source, const std::string& target);

}  // namespace vesk
