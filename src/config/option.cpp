#include "config/option.h"

namespace vesk {

bool isOption(std::string_view arg) { return arg.starts_with('-'); }

}  // namespace vesk
