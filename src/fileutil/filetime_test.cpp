#include "fileutil/filetime.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <optional>

#include <gtest/gtest.h>

#include "base/exception.h"
#include "base/test_dir.h"
#include "platform/platform.h"

namespace vesk {
namespace {

// Runs a test in a fixed time zone and restores the previous one afterwards.
class ZoneGuard {
 public:
  explicit ZoneGuard(const char* zone) {
    if (const char* old = std::getenv("TZ")) saved_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ZoneGuard() {
    if (saved_) {
      ::setenv("TZ", saved_->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }

 private:
  std::optional<std::string> saved_;
};

// Central European rules written out, so no time-zone database is needed.
constexpr const char* kBerlin = "CET-1CEST,M3.5.0,M10.5.0/3";

class FileTimeTest : public TempDirTest {
 protected:
  void setWrite(const std::string& name, platform::Millis utc) {
    platform::FileStamps stamps = platform::readFileStamps(path(name));
    stamps.lastWrite = utc;
    platform::writeFileStamps(path(name), stamps);
  }
};

TEST_F(FileTimeTest, CompareCountsWholeSeconds) {
  writeFile("a");
  writeFile("b");
  setWrite("a", 1700000000001);
  setWrite("b", 1700000000999);
  EXPECT_EQ(compareLastWrite(path("a"), path("b")), 0);
  EXPECT_EQ(compareLastWrite(path("b"), path("a")), 0);
  setWrite("a", 1700000001000);
  EXPECT_EQ(compareLastWrite(path("a"), path("b")), 1);
  EXPECT_EQ(compareLastWrite(path("b"), path("a")), -1);
  EXPECT_EQ(compareLastWrite(path("a"), path("a")), 0);
  // Cut to the second downwards, also before 1970.
  setWrite("a", -1);
  setWrite("b", 0);
  EXPECT_EQ(compareLastWrite(path("a"), path("b")), -1);
}

TEST_F(FileTimeTest, CompareClampsHugeDifferences) {
  writeFile("a");
  writeFile("b");
  setWrite("a", 0);
  setWrite("b", 4000000000000);  // about 127 years later
  EXPECT_EQ(compareLastWrite(path("a"), path("b")), -2147483647 - 1);
  EXPECT_EQ(compareLastWrite(path("b"), path("a")), 2147483647);
}

TEST_F(FileTimeTest, CompareAcrossDaylightSavingChange) {
  ZoneGuard zone(kBerlin);
  writeFile("older");
  writeFile("newer");
  // 2023-10-29 00:30 UTC is 02:30 summer time; 01:10 UTC is 02:10 winter
  // time, earlier on the clock but 40 minutes later in fact.
  setWrite("older", 1698539400000);
  setWrite("newer", 1698541800000);
  EXPECT_EQ(compareLastWrite(path("newer"), path("older")), 2400);
  EXPECT_EQ(compareLastWrite(path("older"), path("newer")), -2400);
}

TEST_F(FileTimeTest, LocalTimesAcrossMonthAndYearEnds) {
  ZoneGuard zone(kBerlin);
  writeFile("a");
  writeFile("b");
  FileTimes times = getFileTimes(path("a"));
  times.lastWrite = TimeRecord{2023, 12, 31, 23, 59, 59, 500, 0};
  setFileTimes(path("a"), times);
  times.lastWrite = TimeRecord{2024, 1, 1, 0, 0, 0, 0, 1};
  setFileTimes(path("b"), times);
  EXPECT_EQ(compareLastWrite(path("a"), path("b")), -1);
  EXPECT_EQ(platform::readFileStamps(path("b")).lastWrite, 1704063600000);  // 2023-12-31 23:00 UTC

  times.lastWrite = TimeRecord{2024, 1, 31, 12, 0, 0, 0, 0};
  setFileTimes(path("a"), times);
  times.lastWrite = TimeRecord{2024, 2, 1, 12, 0, 0, 0, 0};
  setFileTimes(path("b"), times);
  EXPECT_EQ(compareLastWrite(path("a"), path("b")), -86400);

  TimeRecord read = getFileTimes(path("b")).lastWrite;
  EXPECT_EQ(read.year, 2024);
  EXPECT_EQ(read.month, 2);
  EXPECT_EQ(read.day, 1);
  EXPECT_EQ(read.hour, 12);
  EXPECT_EQ(read.millisecond, 0);
  EXPECT_EQ(read.dayOfWeek, 4);  // a Thursday
}

TEST_F(FileTimeTest, SyncCopiesStampsToTheMillisecond) {
  writeFile("src.vsk", "source");
  writeFile("00.txt", "output");
  platform::FileStamps stamps = platform::readFileStamps(path("src.vsk"));
  stamps.lastAccess = 1234567890123;
  stamps.lastWrite = 1600000000456;
  platform::writeFileStamps(path("src.vsk"), stamps);

  syncFileTimes(path("src.vsk"), path("00.txt"));

  EXPECT_EQ(compareLastWrite(path("src.vsk"), path("00.txt")), 0);
  platform::FileStamps copied = platform::readFileStamps(path("00.txt"));
  EXPECT_EQ(copied.lastAccess, 1234567890123);
  EXPECT_EQ(copied.lastWrite, 1600000000456);
  EXPECT_EQ(platform::readWholeFile(path("00.txt")), "output");
}

TEST_F(FileTimeTest, MissingFileFailsNamingIt) {
  writeFile("here");
  for (auto call : {+[](const std::string& a, const std::string& b) { compareLastWrite(a, b); },
                    +[](const std::string& a, const std::string& b) { compareLastWrite(b, a); },
                    +[](const std::string& a, const std::string& b) { syncFileTimes(a, b); },
                    +[](const std::string& a, const std::string& b) { syncFileTimes(b, a); }}) {
    try {
      call(path("missing"), path("here"));
      FAIL();
    } catch (const FileException& e) {
      EXPECT_EQ(e.message(), path("missing") + ": No such file or directory");
    }
  }
  EXPECT_THROW(getFileTimes(path("missing")), FileException);
}

TEST_F(FileTimeTest, SyncOntoReadOnlyTargetFailsNamingIt) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may change any file";
  writeFile("src.vsk", "source");
  writeFile("00.txt", "output");
  ::chmod(path("00.txt").c_str(), 0444);
  platform::FileStamps before = platform::readFileStamps(path("00.txt"));
  try {
    syncFileTimes(path("src.vsk"), path("00.txt"));
    FAIL();
  } catch (const FileException& e) {
    EXPECT_EQ(e.message(), path("00.txt") + ": Permission denied");
  }
  EXPECT_EQ(platform::readFileStamps(path("00.txt")).lastWrite, before.lastWrite);
  EXPECT_EQ(platform::readWholeFile(path("00.txt")), "output");
}

}  // namespace
}  // namespace vesk
