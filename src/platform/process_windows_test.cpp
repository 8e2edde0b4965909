#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "base/exception.h"
#include "platform/windows_internal.h"
#include "platform/windows_test_util.h"

namespace vesk::platform {
namespace {

TEST(Arguments, AProgramStartedByAPathHasADirectoryPart) {
  struct Case {
    const wchar_t* started;
    bool path;
  } cases[] = {{L"vesk", false},          {L"vesk.exe", false}, {L".\\vesk", true},
               {L"bin/vesk", true},       {L"C:vesk", true},    {L"C:\\bin\\vesk.exe", true},
               {L"\\\\host\\vesk", true}, {L"", false}};
  for (const Case& c : cases) EXPECT_EQ(hasDirectoryPart(c.started), c.path);
}

TEST(Arguments, AreUtf8AndRefuseWhatNoConversionGivesBack) {
  EXPECT_EQ(argumentText(L""), "");
  EXPECT_EQ(argumentText(L"-variables:v=\u00e9\u3042"), "-variables:v=\xc3\xa9\xe3\x81\x82");
  EXPECT_EQ(argumentText(L"\U0001F600"), "\xf0\x9f\x98\x80");
  EXPECT_THROW(argumentText(std::wstring(1, wchar_t(0xd800))), Exception);
}

// The test program's own command line, as the C run time split it: the first
// argument becomes the program's full file name, the rest stay as they are.
TEST(Arguments, TheProgramsOwnComeWithItsFullFileName) {
  std::vector<std::string> args = arguments(__argc, __argv);
  ASSERT_EQ(args.size(), static_cast<std::size_t>(__argc));
  for (int i = 1; i < __argc; ++i) EXPECT_EQ(args[static_cast<std::size_t>(i)], __argv[i]);
  char module[MAX_PATH];
  DWORD n = ::GetModuleFileNameA(nullptr, module, MAX_PATH);
  ASSERT_GT(n, 0U);
  if (hasDirectoryPart(wideName(__argv[0]))) {
    EXPECT_EQ(args[0], fromMultiByte(module));
  }
}

TEST(WorkingDirectory, ChangesToAndReportsANameBeyondTheCodePage) {
  TempDir dir;
  const std::string name = dir.path("\xc3\xa9\xe3\x81\x82");
  createDirectory(name);
  const std::string before = currentDir();
  changeDir(name);
  const std::string now = currentDir();
  changeDir(before);
  EXPECT_EQ(now, name);
  EXPECT_EQ(currentDir(), before);
  EXPECT_THROW(changeDir(dir.path("missing")), FileException);
}

}  // namespace
}  // namespace vesk::platform
