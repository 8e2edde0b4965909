#include <fcntl.h>
#include <sys/stat.h>

#include <string>

#include <gtest/gtest.h>

#include "base/exception.h"
#include "base/test_dir.h"
#include "platform/platform.h"
#include "platform/posix_util.h"

namespace vesk::platform {
namespace {

class FileTest : public TempDirTest {};

TEST_F(FileTest, InputFileReadsInPiecesAndRefusesDirectory) {
  writeFile("in", "abcdef");
  InputFile file(path("in"));
  char buffer[4];
  EXPECT_EQ(file.read(buffer, 4), 4u);
  EXPECT_EQ(std::string(buffer, 4), "abcd");
  EXPECT_EQ(file.read(buffer, 4), 2u);
  EXPECT_EQ(file.read(buffer, 4), 0u);
  EXPECT_THROW(InputFile{dir_}, FileException);
}

// Stamps as utimensat sets them, read back to the millisecond.
void stamp(const std::string& file, Millis lastAccess, Millis lastWrite) {
  timespec times[2] = {toTimespec(lastAccess), toTimespec(lastWrite)};
  ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
}

TEST_F(FileTest, StampsAreReadToTheMillisecond) {
  writeFile("f", "x");
  stamp(path("f"), 1234567890123, 1600000000999);
  FileStamps read = readFileStamps(path("f"));
  EXPECT_EQ(read.lastAccess, 1234567890123);
  EXPECT_EQ(read.lastWrite, 1600000000999);
  EXPECT_GT(read.creation, 0);

  // Before 1970 the milliseconds still count forwards from the whole second.
  stamp(path("f"), 0, -1500);
  EXPECT_EQ(readFileStamps(path("f")).lastWrite, -1500);
  EXPECT_THROW(readFileStamps(path("absent")), FileException);
}

}  // namespace
}  // namespace vesk::platform
