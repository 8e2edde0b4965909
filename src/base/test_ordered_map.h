// Equality of two tables, for the unit tests' EXPECT_EQ: the same entries in
// the same order. Test code only; the program never compares tables.
#pragma once

#include <algorithm>

#include "base/ordered_map.h"

namespace vesk {

template <typename Value>
bool operator==(const OrderedMap<Value>& a, const OrderedMap<Value>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

}  // namespace vesk
