// The time stamps of files, as the incremental build needs them.
#pragma once

#include <cstdint>
#include <string>

namespace vesk {

// The last-write time of first minus that of second, in whole seconds. Each
// UTC time is cut to its second first; comparing UTC (not local) times keeps
// the order right across a daylight-saving change. Differences beyond the
// int32 range are clamped, so the sign is always right.
std::int32_t compareLastWrite(const std::string& first, const std::string& second);

}  // namespace vesk
