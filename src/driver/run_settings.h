// Which run settings a run uses: the command line, a setting file that
// "-setting" names, the default setting file beside the program, or the
// command line and a setting file together (the command line winning).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "convert/vesk.h"

namespace vesk {

// Without arguments past the program's name, the job of the default setting
// file (the defaults when it is missing); otherwise the job of the command
// line, with a setting file merged in where "-setting" asks for one or where
// no source file is named and the default file exists.
std::unique_ptr<VESK> jobForArguments(const std::vector<std::string>& args);

}  // namespace vesk
