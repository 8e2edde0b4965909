// Conversions between scalar texts and numbers.
#pragma once

#include <string>

namespace kesoyaml {

// strtod's reading: leading white space skipped, the longest leading number
// taken, the rest ignored; 0 when no number begins the text.
double parseLeadingDouble(const std::string& text);

// The printf "%f" form, however long.
std::string formatFixed(double value);

}  // namespace kesoyaml
