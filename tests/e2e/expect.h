// What the program under test shows for names of the host file system: the
// one place where the end-to-end tests know about the program's platform.
#pragma once

#include <filesystem>
#include <string>

namespace e2e {

// True when the program under test is a Windows program (run under a runner).
bool windowsProgram();

// The separator the program uses in the names it builds.
char separator();

// The absolute name under which the program sees a host path.
std::string nativeAbsolute(const std::filesystem::path& hostPath);

// The relative name "a/b" in the program's own separators.
std::string nativeRelative(const std::string& relative);

// The trace line the program prints when it makes the relative name absolute
// and finds that it does not start with a parent reference.
std::string parentRefMiss(const std::string& relative);

}  // namespace e2e
