#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <thread>

#include <gtest/gtest.h>

#include "base/exception.h"
#include "base/test_dir.h"
#include "platform/platform.h"

namespace vesk::platform {
namespace {

namespace fs = std::filesystem;

// A save over each kind of thing a name may hold: what was there stays what
// it was, and only a plain file is replaced.
class SaveTest : public TempDirTest {
 protected:
  void save(const std::string& name, std::string_view text) const {
    SaveFile file(path(name));
    file.write(text);
    file.commit();
  }
  struct stat statOf(const std::string& name) const {
    struct stat st {};
    EXPECT_EQ(::stat(path(name).c_str(), &st), 0) << name;
    return st;
  }
};

TEST_F(SaveTest, APlainFileIsReplacedKeepingItsBits) {
  save("new.yml", "first");
  writeFile("doc.yml", "old and longer");
  ::chmod(path("doc.yml").c_str(), 0640);
  ino_t before = statOf("doc.yml").st_ino;
  save("doc.yml", "new");
  EXPECT_EQ(readWholeFile(path("doc.yml")), "new");
  EXPECT_EQ(readWholeFile(path("new.yml")), "first");
  EXPECT_NE(statOf("doc.yml").st_ino, before);
  EXPECT_EQ(statOf("doc.yml").st_mode & 07777, 0640u);
  EXPECT_EQ(names(), (Names{"doc.yml", "new.yml"}));
}

TEST_F(SaveTest, LinkedFilesAreWrittenIntoInPlace) {
  writeFile("first", "old and longer");
  fs::create_hard_link(path("first"), path("second"));
  ino_t before = statOf("first").st_ino;
  save("second", "new");
  EXPECT_EQ(readWholeFile(path("first")), "new");
  EXPECT_EQ(statOf("second").st_ino, before);
  EXPECT_EQ(statOf("second").st_nlink, 2u);

  writeFile("real", "old");
  fs::create_symlink("real", path("link"));
  before = statOf("real").st_ino;
  save("link", "through");
  EXPECT_TRUE(fs::is_symlink(path("link")));
  EXPECT_EQ(readWholeFile(path("real")), "through");
  EXPECT_EQ(statOf("real").st_ino, before);

  fs::create_symlink("made", path("dangling"));
  save("dangling", "created");
  EXPECT_TRUE(fs::is_symlink(path("dangling")));
  EXPECT_EQ(readWholeFile(path("made")), "created");

  fs::create_directory(path("dir"));
  fs::create_symlink("dir", path("dirlink"));
  EXPECT_THROW(save("dirlink", "x"), FileException);
  EXPECT_THROW(save("dir", "x"), FileException);
  EXPECT_EQ(names(),
            (Names{"dangling", "dir", "dirlink", "first", "link", "made", "real", "second"}));
}

TEST_F(SaveTest, AFifoIsWrittenForItsReader) {
  ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
  std::string got;
  std::thread reader([&] { got = readWholeFile(path("fifo")); });
  save("fifo", "through the pipe");
  reader.join();
  EXPECT_EQ(got, "through the pipe");
  EXPECT_TRUE(S_ISFIFO(statOf("fifo").st_mode));
  EXPECT_EQ(names(), Names{"fifo"});
}

TEST_F(SaveTest, ADeviceOrAnotherOwnersFileKeepsWhatItIs) {
  if (::geteuid() != 0) GTEST_SKIP() << "making a device node and giving away a file need root";
  ASSERT_EQ(::mknod(path("null").c_str(), S_IFCHR | 0666, ::makedev(1, 3)), 0);
  save("null", "gone");
  EXPECT_TRUE(S_ISCHR(statOf("null").st_mode));
  EXPECT_EQ(statOf("null").st_rdev, ::makedev(1, 3));

  writeFile("theirs", "old and longer");
  ASSERT_EQ(::chown(path("theirs").c_str(), 65534, 65534), 0);
  ino_t before = statOf("theirs").st_ino;
  save("theirs", "new");
  EXPECT_EQ(readWholeFile(path("theirs")), "new");
  EXPECT_EQ(statOf("theirs").st_ino, before);
  EXPECT_EQ(statOf("theirs").st_uid, 65534u);
  EXPECT_EQ(names(), (Names{"null", "theirs"}));
}

}  // namespace
}  // namespace vesk::platform
