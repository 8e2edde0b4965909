// The reader's trace hook. The parser reports each state it enters and each
// key or scalar it reads here; the hook prints nothing and nothing depends on
// it. It stays as the one place to attach a debugging print.
#pragma once

#include <string_view>

namespace kesoyaml {

// The text is label followed by detail ("get scalar", or "=" and a scalar).
inline void traceHook(std::string_view /*label*/, std::string_view /*detail*/ = {}) {}

}  // namespace kesoyaml
