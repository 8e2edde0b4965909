// Directories: making sure one exists, and finding source files below one.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vesk {

// True when dir is exactly ".".
bool isCurrentDir(std::string_view dir);

// Afterwards dir exists as a directory. Only the last level is created. A
// non-directory of that name fails with FileException(dir, "The file that
// has same name already exists."); an empty name fails creating.
void ensureDir(const std::string& dir);

// Recursive walk: depth first, the entries of each directory in byte-wise
// order of their names, a subdirectory's files listed when the walk meets it;
// links to directories are not entered (a link loop would never end), linked
// files are taken. Names are dir + separator + path below ("./sub/b.vsk").
// A file is taken when WildcardPattern("*" + suffix) matches its name; names in exclude
// (exact comparison) are dropped. A directory that cannot be listed, the
// start directory or any below it, raises FileException naming it; one that
// is missing (removed while the walk goes on) contributes nothing.
std::vector<std::string> listFiles(const std::string& dir, std::string_view suffix,
                                   const std::vector<std::string>& exclude);

}  // namespace vesk
