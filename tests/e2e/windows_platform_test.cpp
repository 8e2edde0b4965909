// Platform operations of the Windows program that its command line never
// reaches, run through the test-only probe program (VESK_PLATFORM_PROBE, set
// by scripts/test-windows.sh): a document save writes into what it must not
// replace, and a listing of a directory that is gone lists nothing.
//
// Wine shows a program neither symbolic links (it follows them) nor, to
// root, a directory that cannot be read, so those cases are not here.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>

#include "testutil/expect.h"
#include "testutil/harness.h"

namespace e2e {
namespace {

ino_t inodeOf(const fs::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

class Probe : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* probe = std::getenv("VESK_PLATFORM_PROBE");
    if (!windowsProgram() || probe == nullptr || *probe == '\0') {
      GTEST_SKIP() << "needs the Windows probe program (VESK_PLATFORM_PROBE)";
    }
    probe_ = box.path("probe.exe");
    fs::copy_file(probe, probe_);
  }

  Result probe(const std::vector<std::string>& args) const {
    return box.runAs(probe_.string(), box.progDir(), args);
  }

  Sandbox box;
  fs::path probe_;
};

TEST_F(Probe, ASaveReplacesAPlainFileAndCreatesAMissingOne) {
  box.write("plain.yml", "old and longer");
  ino_t before = inodeOf(box.path("plain.yml"));
  Result r = probe({"save", "plain.yml", "new"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(box.read("plain.yml"), "new");
  EXPECT_NE(inodeOf(box.path("plain.yml")), before);  // replaced, not written into
  r = probe({"save", "missing.yml", "made"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(box.read("missing.yml"), "made");
  EXPECT_TRUE(box.temporaries().empty());
}

TEST_F(Probe, ASaveWritesIntoAFileWithSeveralLinksAndIntoADevice) {
  box.write("a.yml", "old and longer");
  fs::create_hard_link(box.path("a.yml"), box.path("b.yml"));
  Result r = probe({"save", "a.yml", "new"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(box.read("a.yml") + "|" + box.read("b.yml"), "new|new");
  EXPECT_TRUE(fs::equivalent(box.path("a.yml"), box.path("b.yml")));
  for (const char* device : {"NUL", "nul"}) {
    r = probe({"save", device, "gone"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_FALSE(box.exists(device));
  }
  EXPECT_TRUE(box.temporaries().empty());
}

TEST_F(Probe, ADirectoryThatIsGoneListsNothing) {
  box.write("sub/a.vsk", "a");
  box.write("file.vsk", "f");
  EXPECT_EQ(probe({"list", "sub"}).out, "f a.vsk\nok\n");
  for (const char* gone : {"missing", "file.vsk"}) {
    Result r = probe({"list", gone});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "ok\n");
  }
}

}  // namespace
}  // namespace e2e
