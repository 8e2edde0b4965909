// The program from its arguments to its exit status: move to the program's
// directory, build one job from the arguments (or the default setting file),
// execute it, and report every failure as one line.
#pragma once

#include <string>
#include <vector>

namespace vesk {

// Exit statuses: success and version requests 0, usage errors 2, every other
// failure 1. The message printed is the same whatever the status.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// Runs on the process's arguments (platform::arguments).
int runMain(int argc, char** argv);

}  // namespace vesk
