#include <gtest/gtest.h>

#include <cstdint>

#include <string>

#include "platform/windows_test_util.h"
#include "platform/windows_util.h"

namespace vesk::platform {
namespace {

// Names beyond any one code page go through the wide services unchanged.
const std::string kName = "\xc3\xa9\xe3\x81\x82.vsk";

TEST(Services, CreateReadAttributesOfAndDeleteAFile) {
  TempDir dir;
  const std::string file = dir.path(kName);
  EXPECT_EQ(fileAttributes(file), INVALID_FILE_ATTRIBUTES);
  UniqueHandle handle(createFile(file, GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL));
  ASSERT_TRUE(handle);
  EXPECT_EQ(writeAll(handle.get(), "abc", 3), 0U);
  EXPECT_EQ(handle.close(), 0U);
  EXPECT_EQ(dir.read(kName), "abc");
  EXPECT_FALSE(UniqueHandle(createFile(file, GENERIC_WRITE, 0, CREATE_NEW, 0)));
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));

  ASSERT_TRUE(setFileAttributes(file, FILE_ATTRIBUTE_READONLY));
  EXPECT_NE(fileAttributes(file) & FILE_ATTRIBUTE_READONLY, 0U);
  EXPECT_FALSE(deleteFile(file));  // read-only
  ASSERT_TRUE(setFileAttributes(file, FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(deleteFile(file));
  EXPECT_FALSE(dir.exists(kName));
  EXPECT_FALSE(deleteFile(file));
}

TEST(Services, MoveReplacesAndCopyLeavesTheSource) {
  TempDir dir;
  dir.write(kName, "new");
  dir.write("old.txt", "old and longer");
  ASSERT_TRUE(copyFile(dir.path(kName), dir.path("copy.txt")));
  EXPECT_EQ(dir.read("copy.txt"), "new");
  EXPECT_EQ(dir.read(kName), "new");
  ASSERT_TRUE(moveReplacing(dir.path(kName), dir.path("old.txt")));
  EXPECT_EQ(dir.read("old.txt"), "new");
  EXPECT_FALSE(dir.exists(kName));
  EXPECT_FALSE(moveReplacing(dir.path("missing"), dir.path("old.txt")));
  EXPECT_FALSE(copyFile(dir.path("missing"), dir.path("copy.txt")));
  EXPECT_EQ(dir.read("copy.txt"), "new");
}

// A closer that counts, and fails when told to.
struct CountingCloser {
  static inline int closed = 0;
  static inline bool failing = false;
  static BOOL close(HANDLE) {
    ++closed;
    if (!failing) return TRUE;
    ::SetLastError(ERROR_DISK_FULL);
    return FALSE;
  }
};
using Counted = ScopedHandle<CountingCloser>;

TEST(Handles, AreClosedOnceByTheirLastOwner) {
  // NOLINTNEXTLINE(performance-no-int-to-ptr): a handle that is never used
  const HANDLE fake = reinterpret_cast<HANDLE>(std::intptr_t{42});
  CountingCloser::closed = 0;
  {
    Counted a(fake);
    Counted b(std::move(a));
    EXPECT_FALSE(a);  // NOLINT(bugprone-use-after-move): a moved-from handle is empty
    EXPECT_EQ(b.get(), fake);
    Counted c;
    c = std::move(b);
    EXPECT_EQ(CountingCloser::closed, 0);
  }
  EXPECT_EQ(CountingCloser::closed, 1);

  Counted released(fake);
  EXPECT_EQ(released.release(), fake);
  EXPECT_FALSE(released);
  Counted empty;
  EXPECT_EQ(empty.close(), 0U);
  empty.reset();
  EXPECT_EQ(CountingCloser::closed, 1);

  CountingCloser::failing = true;
  Counted failing(fake);
  EXPECT_EQ(failing.close(), static_cast<DWORD>(ERROR_DISK_FULL));
  EXPECT_FALSE(failing);
  CountingCloser::failing = false;
  EXPECT_EQ(CountingCloser::closed, 2);
}

}  // namespace
}  // namespace vesk::platform
