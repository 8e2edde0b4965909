#include "fileutil/path.h"

#include <algorithm>

#include "support/trace.h"

namespace vesk {
namespace {

std::string parentRef(const PathRules& rules) { return std::string("..") + rules.separator; }
std::string currentRef(const PathRules& rules) { return std::string(".") + rules.separator; }

bool startsWithSeparator(std::string_view path, const PathRules& rules) {
  return !path.empty() && path.front() == rules.separator;
}

bool endsWithSeparator(std::string_view path, const PathRules& rules) {
  return !path.empty() && path.back() == rules.separator;
}

// Windows itself accepts '/' too, so a program path such as "bin/vesk.exe"
// (typed in a POSIX-like shell) still yields its directory.
bool isNameBreak(char c, const PathRules& rules) {
  return c == rules.separator || (rules.drives && c == '/');
}

}  // namespace

std::string toBackslash(std::string_view path) {
  std::string result(path);
  std::replace(result.begin(), result.end(), '/', '\\');
  return result;
}

std::string toNativeSeparators(std::string_view path) {
  if constexpr (platform::kWindows) return toBackslash(path);
  return std::string(path);
}

std::string_view drivePrefix(std::string_view path, const PathRules& rules) {
  if (!rules.drives) return {};
  std::size_t colon = path.find(':');
  return colon == std::string_view::npos ? std::string_view() : path.substr(0, colon + 1);
}

bool isAbsolute(std::string_view path, const PathRules& rules) {
  if (!rules.drives) return startsWithSeparator(path, rules);
  std::string_view drive = drivePrefix(path, rules);
  return !drive.empty() && path.size() > drive.size() && path[drive.size()] == rules.separator;
}

std::size_t countParentRefs(std::string_view relative, const PathRules& rules) {
  if (isAbsolute(relative, rules)) return 0;
  const std::string parent = parentRef(rules);
  std::size_t count = 0;
  for (std::size_t pos = 0; relative.size() - pos >= 3; pos += 3) {
    std::string_view group = relative.substr(pos, 3);
    if (group != parent) {
      VESK_TRACE("'%.*s' != '%.*s'\n", group, parent);
      break;
    }
    ++count;
  }
  return count;
}

std::string parentDir(std::string_view path, const PathRules& rules) {
  std::string_view rest = path;
  if (endsWithSeparator(rest, rules)) rest.remove_suffix(1);
  std::size_t last = rest.rfind(rules.separator);
  if (last != std::string_view::npos) return std::string(rest.substr(0, last + 1));
  // Without drives the root has no parent but itself.
  if (!rules.drives && rest.empty() && startsWithSeparator(path, rules))
    return std::string(1, rules.separator);
  return std::string(rest);
}

std::string joinPath(std::string_view base, std::string_view relative, const PathRules& rules) {
  if (relative.empty()) return std::string(base);
  if (base.empty()) return std::string(relative);
  if (!drivePrefix(relative, rules).empty()) return std::string(relative);
  std::string_view baseDrive = drivePrefix(base, rules);
  std::string joined(base);
  if (!baseDrive.empty() && baseDrive.size() == base.size()) return joined.append(relative);
  if (startsWithSeparator(relative, rules)) {
    if (baseDrive.empty()) return std::string(relative);
    if (endsWithSeparator(base, rules)) relative.remove_prefix(1);
    return joined.append(relative);
  }
  if (!endsWithSeparator(base, rules)) joined.push_back(rules.separator);
  return joined.append(relative);
}

namespace {

// What follows a leading "./" or "../" is still relative to the base, even
// when the separator is doubled (".//a"). Without drives a name that begins
// with a separator would be absolute and leave the base for the root, so the
// extra separators are dropped. With drives the join keeps the base's drive
// and directory already.
std::string_view afterRefs(std::string_view rest, const PathRules& rules) {
  if (!rules.drives) {
    while (startsWithSeparator(rest, rules)) rest.remove_prefix(1);
  }
  return rest;
}

}  // namespace

std::string resolvePath(std::string_view base, std::string_view relative, const PathRules& rules) {
  std::size_t n = countParentRefs(relative, rules);
  if (n == 0) {
    const std::string current = currentRef(rules);
    if (relative == "." || relative == current) return std::string(base);
    if (!relative.starts_with(current)) return joinPath(base, relative, rules);
    return joinPath(base, afterRefs(relative.substr(current.size()), rules), rules);
  }
  std::string dir(base);
  for (std::size_t i = 0; i < n; ++i) dir = parentDir(dir, rules);
  if (relative.size() == 3 * n) return dir;
  return joinPath(dir, afterRefs(relative.substr(3 * n), rules), rules);
}

std::string absPath(std::string_view path, std::string_view cwd, const PathRules& rules) {
  if (isAbsolute(path, rules)) return std::string(path);
  return resolvePath(cwd, path, rules);
}

std::string absPath(std::string_view path) {
  if (isAbsolute(path, kNativePaths)) return std::string(path);
  return resolvePath(platform::currentDir(), path, kNativePaths);
}

std::string baseName(std::string_view path, const PathRules& rules) {
  std::size_t pos = path.size();
  while (pos > 0 && !isNameBreak(path[pos - 1], rules) && !(rules.drives && path[pos - 1] == ':'))
    --pos;
  return std::string(path.substr(pos));
}

std::string directoryPart(std::string_view programPath, const PathRules& rules) {
  for (std::size_t pos = programPath.size(); pos > 0; --pos) {
    char c = programPath[pos - 1];
    if (rules.drives && c == ':') return std::string(programPath.substr(0, pos));
    if (isNameBreak(c, rules)) {
      std::size_t end = pos - 1;
      // A root's separator is kept: the directory is the root itself.
      bool root = end == 0 || (rules.drives && end == drivePrefix(programPath, rules).size());
      return std::string(programPath.substr(0, root ? pos : end));
    }
  }
  return {};
}

}  // namespace vesk
