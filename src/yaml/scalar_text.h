// Conversions between scalar texts and numbers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kesoyaml {

// An optional single sign and one or more decimal digits, nothing else, in
// the signed 32-bit range. Raises vesk::ConversionException for any other
// text and vesk::OverflowException for a value out of range.
std::int32_t parseStrictInt32(std::string_view text);

// strtod's reading: leading white space skipped, the longest leading number
// taken, the rest ignored; 0 when no number begins the text.
double parseLeadingDouble(const std::string& text);

// The printf "%f" form, however long.
std::string formatFixed(double value);

}  // namespace kesoyaml
