#include "fileutil/dir.h"

#include <algorithm>
#include <string>
#include <unordered_set>

#include "base/exception.h"
#include "fileutil/path.h"
#include "fileutil/wildcard.h"
#include "platform/platform.h"

namespace vesk {

bool isCurrentDir(std::string_view dir) { return dir == "."; }

void ensureDir(const std::string& dir) {
  if (isCurrentDir(dir)) return;
  switch (platform::fileKind(dir)) {
    case platform::FileKind::Missing:
      try {
        platform::createDirectory(dir);
      } catch (const FileException&) {
        // Another process (a second vesk on the same output) may have made it
        // since we looked.
        if (platform::fileKind(dir) != platform::FileKind::Directory) throw;
      }
      return;
    case platform::FileKind::Directory:
      return;
    case platform::FileKind::Unknown:
      // Whatever stands in the way of looking also stands in the way of
      // making it: the system's reason says what.
      platform::createDirectory(dir);
      return;
    case platform::FileKind::File:
    case platform::FileKind::Other:
      throw FileException(dir, "The file that has same name already exists.");
  }
}

namespace {

// One directory being walked: its name and its sorted entries.
struct Frame {
  std::string prefix;  // the directory's name with a separator at the end
  std::vector<platform::DirEntry> entries;
  std::size_t next = 0;
};

Frame openFrame(std::string dir) {
  Frame frame;
  frame.entries = platform::listDirectory(dir);
  std::sort(
      frame.entries.begin(), frame.entries.end(),
      [](const platform::DirEntry& a, const platform::DirEntry& b) { return a.name < b.name; });
  frame.prefix = std::move(dir);
  if (frame.prefix.empty() || frame.prefix.back() != kNativePaths.separator) {
    frame.prefix.push_back(kNativePaths.separator);
  }
  return frame;
}

}  // namespace

std::vector<std::string> listFiles(const std::string& dir, std::string_view suffix,
                                   const std::vector<std::string>& exclude) {
  std::string patternText(1, '*');
  patternText.append(suffix);
  const WildcardPattern pattern(patternText);
  const std::unordered_set<std::string_view> excluded(exclude.begin(), exclude.end());
  std::vector<std::string> found;
  if (dir.empty()) return found;
  // An explicit stack keeps a deep tree off the call stack.
  std::vector<Frame> stack;
  stack.push_back(openFrame(dir));
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.next == frame.entries.size()) {
      stack.pop_back();
      continue;
    }
    const platform::DirEntry& entry = frame.entries[frame.next++];
    std::string name = frame.prefix + entry.name;
    if (entry.kind == platform::DirEntry::Kind::Directory) {
      stack.push_back(openFrame(std::move(name)));  // invalidates frame
    } else if (entry.kind == platform::DirEntry::Kind::File && pattern.matches(name) &&
               !excluded.contains(name)) {
      found.push_back(std::move(name));
    }
  }
  return found;
}

}  // namespace vesk
