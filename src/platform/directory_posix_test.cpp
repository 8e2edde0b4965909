#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/exception.h"
#include "base/test_dir.h"
#include "platform/platform.h"
#include "platform/posix_test_util.h"

namespace vesk::platform {
namespace {

namespace fs = std::filesystem;

class DirectoryTest : public TempDirTest {};

TEST_F(DirectoryTest, ListDirectoryKinds) {
  writeFile("file", "");
  fs::create_directory(path("dir"));
  fs::create_directory_symlink("dir", path("linkdir"));
  fs::create_symlink("file", path("linkfile"));
  fs::create_symlink("nowhere", path("dangling"));
  ::mkfifo(path("fifo").c_str(), 0600);

  std::vector<DirEntry> entries = listDirectory(dir_);
  std::sort(entries.begin(), entries.end(),
            [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  std::vector<std::pair<std::string, DirEntry::Kind>> got;
  for (const DirEntry& e : entries) got.emplace_back(e.name, e.kind);
  using K = DirEntry::Kind;
  std::vector<std::pair<std::string, DirEntry::Kind>> want = {
      {"dangling", K::Other}, {"dir", K::Directory}, {"fifo", K::Other},
      {"file", K::File},      {"linkdir", K::Other}, {"linkfile", K::File}};
  EXPECT_EQ(got, want);
  EXPECT_TRUE(listDirectory(path("absent")).empty());
  EXPECT_TRUE(listDirectory(path("file")).empty());
}

TEST_F(DirectoryTest, ListDirectoryRaisesForADirectoryItCannotList) {
  fs::create_symlink("loop", path("loop"));
  try {
    listDirectory(path("loop"));
    FAIL() << "a looping link was listed";
  } catch (const FileException& e) {
    EXPECT_EQ(e.message(), path("loop") + ": Too many levels of symbolic links");
  }
  // Enterable but not listable, tried as an ordinary user (root lists all).
  fs::create_directory(path("barred"));
  ::chmod(dir_.c_str(), 0755);
  ::chmod(path("barred").c_str(), 0333);
  int status = statusOfChild([&] {
    if (::geteuid() == 0 && ::setuid(65534) != 0) ::_exit(2);
    try {
      listDirectory(path("barred"));
    } catch (const FileException& e) {
      ::_exit(e.message() == path("barred") + ": Permission denied" ? 0 : 3);
    }
    ::_exit(4);
  });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(DirectoryTest, FileKindFollowsLinks) {
  writeFile("file", "");
  fs::create_directory(path("dir"));
  fs::create_directory_symlink("dir", path("linkdir"));
  EXPECT_EQ(fileKind(path("file")), FileKind::File);
  EXPECT_EQ(fileKind(path("dir")), FileKind::Directory);
  EXPECT_EQ(fileKind(path("linkdir")), FileKind::Directory);
  EXPECT_EQ(fileKind(path("absent")), FileKind::Missing);
  EXPECT_EQ(fileKind(path("file/below")), FileKind::Missing);
  EXPECT_EQ(fileKind("/dev/null"), FileKind::Other);
}

TEST_F(DirectoryTest, CreateAndChangeDirectory) {
  createDirectory(path("new"));
  EXPECT_EQ(fileKind(path("new")), FileKind::Directory);
  try {
    createDirectory(path("new"));
    FAIL();
  } catch (const FileException& e) {
    EXPECT_EQ(e.message(), path("new") + ": File exists");
  }
  std::string before = currentDir();
  changeDir(path("new"));
  EXPECT_EQ(currentDir(), fs::canonical(path("new")).string());
  changeDir(before);
  EXPECT_THROW(changeDir(path("absent")), FileException);
}

}  // namespace
}  // namespace vesk::platform
