#include "fileutil/filetime.h"

#include <chrono>
#include <filesystem>

#include <gtest/gtest.h>

#include "base/exception.h"
#include "base/test_dir.h"
#include "platform/platform.h"
#include "platform/zone_test_util.h"

namespace vesk {
namespace {

using platform::ZoneGuard;

// Central European rules written out, so no time-zone database is needed.
constexpr const char* kBerlin = "CET-1CEST,M3.5.0,M10.5.0/3";

class FileTimeTest : public TempDirTest {
 protected:
  void setWrite(const std::string& name, platform::Millis utc) {
    const std::chrono::sys_time<std::chrono::milliseconds> time{std::chrono::milliseconds(utc)};
    std::filesystem::last_write_time(path(name), std::chrono::file_clock::from_sys(time));
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

TEST_F(FileTimeTest, MissingFileFailsNamingIt) {
  writeFile("here");
  for (auto call : {+[](const std::string& a, const std::string& b) { compareLastWrite(a, b); },
                    +[](const std::string& a, const std::string& b) { compareLastWrite(b, a); }}) {
    try {
      call(path("missing"), path("here"));
      FAIL();
    } catch (const FileException& e) {
      EXPECT_EQ(e.message(), path("missing") + ": No such file or directory");
    }
  }
}

}  // namespace
}  // namespace vesk
