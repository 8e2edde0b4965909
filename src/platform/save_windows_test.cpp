// A document save, through its public operations only: the program's command
// line never reaches it, so no end-to-end test does.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/windows_test_util.h"
#include "platform/windows_util.h"

namespace vesk::platform {
namespace {

// The file's identity on its volume; 0 when it cannot be opened.
std::uint64_t fileIndex(const std::string& path) {
  UniqueHandle handle(createFile(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
  BY_HANDLE_FILE_INFORMATION info;
  if (!handle || !::GetFileInformationByHandle(handle.get(), &info)) return 0;
  return (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
}

void save(const std::string& target, const std::string& text) {
  SaveFile file(target);
  file.write(text);
  file.commit();
}

bool onlyNames(const TempDir& dir, std::initializer_list<const char*> names) {
  std::size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    (void)entry;
    ++count;
  }
  for (const char* name : names) {
    if (!dir.exists(name)) return false;
  }
  return count == names.size();
}

TEST(Save, ReplacesAPlainFileAndCreatesAMissingOne) {
  TempDir dir;
  dir.write("plain.yml", "old and longer");
  const std::uint64_t before = fileIndex(dir.path("plain.yml"));
  save(dir.path("plain.yml"), "new");
  EXPECT_EQ(dir.read("plain.yml"), "new");
  EXPECT_NE(fileIndex(dir.path("plain.yml")), before);  // replaced, not written into
  save(dir.path("missing.yml"), "made");
  EXPECT_EQ(dir.read("missing.yml"), "made");
  EXPECT_TRUE(onlyNames(dir, {"plain.yml", "missing.yml"}));  // no temporary left
}

TEST(Save, WritesIntoAFileWithSeveralLinksAndIntoADevice) {
  TempDir dir;
  dir.write("a.yml", "old and longer");
  std::filesystem::create_hard_link(dir.fsPath("a.yml"), dir.fsPath("b.yml"));
  save(dir.path("a.yml"), "new");
  EXPECT_EQ(dir.read("a.yml") + "|" + dir.read("b.yml"), "new|new");
  EXPECT_EQ(fileIndex(dir.path("a.yml")), fileIndex(dir.path("b.yml")));
  for (const char* device : {"NUL", "nul"}) {
    EXPECT_NO_THROW(save(dir.path(device), "gone")) << device;
  }
  EXPECT_TRUE(onlyNames(dir, {"a.yml", "b.yml"}));
}

}  // namespace
}  // namespace vesk::platform
