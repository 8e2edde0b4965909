#include "fileutil/array.h"

#include <algorithm>

namespace vesk {

bool contains(std::string_view text, const std::vector<std::string>& list) {
  return std::find(list.begin(), list.end(), text) != list.end();
}

}  // namespace vesk
