// The command line: file names with optional numbers and -name[:value]
// options, read left to right into run settings.
#pragma once

#include <string>
#include <vector>

#include "config/env.h"

namespace vesk {

// args[0] is the program path. Throws UsageException when nothing follows
// it, for "-", for an option starting "-:" and for a file argument that is
// not "name[:number]" (see parseInclude). Values and file arguments are
// converted from the system code page; option names are kept as given.
VESKEnv parseCommandLine(const std::vector<std::string>& args);

}  // namespace vesk
