#include "support/trace.h"

namespace vesk {

void failCheck(const char* what, const char* file, int line) {
  throw CheckException(std::string(what) + " at " + file + ":" + std::to_string(line));
}

}  // namespace vesk
