// A plain copy hands on the source's read-only state, and a read-only output
// is refused afterwards and left exactly as it was.
#include <gtest/gtest.h>

#include <unistd.h>

#include "testutil/expect.h"
#include "testutil/harness.h"

namespace e2e {
namespace {

constexpr fs::perms kReadOnly =
    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;

// Root may write any file on Linux, so only a Windows program (whose runner
// maps missing write bits to the read-only attribute) or an ordinary user
// sees the refusal.
bool readOnlyIsRefused() { return windowsProgram() || ::geteuid() != 0; }

TEST(Attributes, ReadOnlySourceGivesAReadOnlyOutputThatLaterRunsLeaveAlone) {
  Sandbox box;
  box.write("a.vsk", "first");
  fs::permissions(box.path("a.vsk"), kReadOnly);
  Result r = box.run({"a.vsk"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(box.read("00.txt"), "first");
  EXPECT_EQ(fs::status(box.path("00.txt")).permissions() & fs::perms::owner_write, fs::perms::none);

  if (!readOnlyIsRefused()) return;
  fs::permissions(box.path("a.vsk"), fs::perms::owner_write, fs::perm_options::add);
  box.write("a.vsk", "second ${v}");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"a.vsk"}, std::vector<std::string>{"a.vsk", "-variables:v=1"}}) {
    r = box.run(args);
    SCOPED_TRACE(args.size());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(std::string(".") + separator() + "00.txt: "), std::string::npos) << r.out;
    EXPECT_EQ(box.read("00.txt"), "first");
    EXPECT_TRUE(box.temporaries().empty());
  }
}

}  // namespace
}  // namespace e2e
