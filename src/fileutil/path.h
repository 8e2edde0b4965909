// Path arithmetic on strings. Nothing here touches the file system except
// absPath(path), which asks for the current directory.
//
// Both rule sets are compiled on every platform so that either can be tested
// anywhere; the program uses its own platform's rules (kNativePaths).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace vesk {

struct PathRules {
  char separator;
  bool drives;  // "C:" prefixes
};

inline constexpr PathRules kWindowsPaths{'\\', true};
inline constexpr PathRules kPosixPaths{'/', false};
inline constexpr PathRules kNativePaths = platform::kWindows ? kWindowsPaths : kPosixPaths;

// Every '/' replaced by '\'.
std::string toBackslash(std::string_view path);
// Windows: toBackslash; POSIX: unchanged.
std::string toNativeSeparators(std::string_view path);

// Everything up to and including the first ':'; "" without one, or when the
// rules know no drives.
std::string_view drivePrefix(std::string_view path, const PathRules& rules = kNativePaths);

// Windows: a drive prefix, more after it, and a separator right after it
// ("C:\work"; not "\work", "C:work"). POSIX: begins with '/'.
bool isAbsolute(std::string_view path, const PathRules& rules = kNativePaths);

// How many "..\" (POSIX "../") groups a relative path begins with; 0 for an
// absolute path.
std::size_t countParentRefs(std::string_view relative, const PathRules& rules = kNativePaths);

// The parent, ending with a separator where one was found: C:\work\sub ->
// C:\work\, C:\ -> C:, C: -> C:. POSIX: the parent of "/" is "/".
std::string parentDir(std::string_view path, const PathRules& rules = kNativePaths);

std::string joinPath(std::string_view base, std::string_view relative,
                     const PathRules& rules = kNativePaths);

// base (a directory, not empty) combined with relative; only leading parent
// references and one leading current reference are resolved.
std::string resolvePath(std::string_view base, std::string_view relative,
                        const PathRules& rules = kNativePaths);

// The path itself when absolute, else resolvePath(cwd, path).
std::string absPath(std::string_view path, std::string_view cwd, const PathRules& rules);
// Native rules against platform::currentDir().
std::string absPath(std::string_view path);

// What follows the last separator (and, with drives, the last ':').
std::string baseName(std::string_view path, const PathRules& rules = kNativePaths);

// The directory that holds a program file, from the program path: what comes
// before the last separator or drive ':' ("C:\bin\vesk.exe" -> "C:\bin",
// "C:vesk.exe" -> "C:"). A separator that starts the path or follows the
// drive is kept, so a program in a root directory gets that root ("/vesk" ->
// "/", "C:\vesk.exe" -> "C:\"). A bare name gives "".
std::string directoryPart(std::string_view programPath, const PathRules& rules = kNativePaths);

}  // namespace vesk
