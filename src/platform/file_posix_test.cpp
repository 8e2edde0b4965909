#include <string>

#include <gtest/gtest.h>

#include "base/exception.h"
#include "base/test_dir.h"
#include "platform/platform.h"

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

TEST_F(FileTest, StampsRoundTripToTheMillisecond) {
  writeFile("f", "x");
  FileStamps stamps;
  stamps.lastAccess = 1234567890123;
  stamps.lastWrite = 1600000000999;
  writeFileStamps(path("f"), stamps);
  FileStamps read = readFileStamps(path("f"));
  EXPECT_EQ(read.lastAccess, stamps.lastAccess);
  EXPECT_EQ(read.lastWrite, stamps.lastWrite);
  EXPECT_GT(read.creation, 0);

  // Before 1970 the milliseconds still count forwards from the whole second.
  stamps.lastWrite = -1500;
  writeFileStamps(path("f"), stamps);
  EXPECT_EQ(readFileStamps(path("f")).lastWrite, -1500);
  EXPECT_THROW(readFileStamps(path("absent")), FileException);
  EXPECT_THROW(writeFileStamps(path("absent"), stamps), FileException);
}

}  // namespace
}  // namespace vesk::platform
