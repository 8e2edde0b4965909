// What an output's commit gives and keeps when others share the tree: the
// kernel's rules for files planted in sticky directories, default and
// access ACLs, owner and group, user namespaces and narrowed capabilities,
// refusals with the system's own reason, stamps, and pipes whose reader has
// gone. Most cases need root; each says why it is skipped.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <thread>

#include "testutil/fault.h"

namespace hostile {
namespace {

namespace fs = std::filesystem;
using e2e::Result;
using e2e::Sandbox;
using fault::kNobody;
using fault::kNoGroup;
// A group that the runs as nobody are given as their one supplementary group.
constexpr gid_t kSharedGroup = 4321;

// An ACL as the kernel stores it: (tag, permissions, id) entries.
struct AclEntry {
  std::uint16_t tag, perm;
  std::uint32_t id;
};
constexpr std::uint16_t kUserObj = 1, kUser = 2, kGroupObj = 4, kMask = 0x10, kOther = 0x20;
constexpr std::uint32_t kNoId = 0xffffffff;  // what the kernel keeps for entries of no one

std::string aclBytes(const std::vector<AclEntry>& entries) {
  std::string bytes = {2, 0, 0, 0};
  for (const AclEntry& e : entries) {
    const unsigned char raw[8] = {static_cast<unsigned char>(e.tag),
                                  0,
                                  static_cast<unsigned char>(e.perm),
                                  0,
                                  static_cast<unsigned char>(e.id & 0xff),
                                  static_cast<unsigned char>((e.id >> 8) & 0xff),
                                  static_cast<unsigned char>((e.id >> 16) & 0xff),
                                  static_cast<unsigned char>(e.id >> 24)};
    bytes.append(reinterpret_cast<const char*>(raw), 8);
  }
  return bytes;
}

bool setAcl(const fs::path& path, const char* name, const std::vector<AclEntry>& entries) {
  std::string bytes = aclBytes(entries);
  return ::setxattr(path.c_str(), name, bytes.data(), bytes.size(), 0) == 0;
}

std::string aclOf(const fs::path& path) {
  char buffer[512];
  ssize_t n = ::getxattr(path.c_str(), "system.posix_acl_access", buffer, sizeof buffer);
  return n < 0 ? std::string() : std::string(buffer, static_cast<std::size_t>(n));
}

struct stat statOf(const fs::path& path) {
  struct stat st {};
  ::lstat(path.c_str(), &st);
  return st;
}

// A kernel switch of /proc/sys, set for the test's life and put back after.
class KernelSwitch {
 public:
  KernelSwitch(std::string path, const std::string& value) : path_(std::move(path)) {
    old_ = e2e::readFile(path_);
    ok_ = write(value);
  }
  ~KernelSwitch() {
    if (ok_) write(old_);
  }
  KernelSwitch(const KernelSwitch&) = delete;
  KernelSwitch& operator=(const KernelSwitch&) = delete;
  bool ok() const { return ok_; }

 private:
  bool write(const std::string& value) {
    int fd = ::open(path_.c_str(), O_WRONLY);
    bool done = fd >= 0 && ::write(fd, value.data(), value.size()) == ssize_t(value.size());
    if (fd >= 0) ::close(fd);
    return done;
  }
  std::string path_, old_;
  bool ok_ = false;
};

// A prefix for the program's command line, for the test's life.
class Runner {
 public:
  explicit Runner(const std::string& prefix) { ::setenv("VESK_RUNNER", prefix.c_str(), 1); }
  ~Runner() { ::unsetenv("VESK_RUNNER"); }
  Runner(const Runner&) = delete;
  Runner& operator=(const Runner&) = delete;
};

bool runnable(const std::string& command) {
  return std::system((command + " true >/dev/null 2>&1").c_str()) == 0;
}

struct Case {
  const char* name;
  // Lays the files out; returns why the case cannot run here, or "".
  std::function<std::string(Sandbox&)> setUp;
  std::vector<std::string> args;
  std::string runner;  // a prefix for the command line, or ""
  std::function<void(Sandbox&, const Result&)> check;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

void expectFailure(const Result& r, const std::string& message) {
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_TRUE(r.out.ends_with(message + "\n")) << r.out;
}

std::string needsRoot() { return fault::runningAsRoot() ? "" : "needs root"; }

// A sticky directory open to all, as /tmp is, where nobody planted its own
// files under the output's names.
std::string plantInStickyDirectory(Sandbox& box) {
  if (!needsRoot().empty()) return needsRoot();
  fs::create_directory(box.path("pub"));
  ::chmod(box.path("pub").c_str(), 01777);
  box.write("pub/00.txt", "nobody's own");
  ::chown(box.path("pub/00.txt").c_str(), kNobody, kNoGroup);
  ::mkfifo(box.path("pub/01.txt").c_str(), 0666);
  ::chown(box.path("pub/01.txt").c_str(), kNobody, kNoGroup);
  box.write("secret.vsk", "secret\n");
  ::chmod(box.path("secret.vsk").c_str(), 0600);
  return "";
}

const Case kCases[] = {
    {"SetIdStartIsRefused",
     [](Sandbox& box) {
       if (!needsRoot().empty()) return needsRoot();
       fault::handToNobody(box);
       ::chown(box.program().c_str(), 0, 0);
       ::chmod(box.program().c_str(), 04755);
       box.write("secret.vsk", "root's\n");
       ::chmod(box.path("secret.vsk").c_str(), 0600);
       return std::string();
     },
     {"secret.vsk", "-d:."},
     "setpriv --reuid=nobody --regid=nogroup --clear-groups",
     [](Sandbox& box, const Result& r) {
       expectFailure(r, "vesk does not run set-user-ID or set-group-ID, or with file capabilities");
       EXPECT_FALSE(box.exists("00.txt"));
     }},
    {"PlantedFilesInAStickyDirectoryAreRefused",
     [](Sandbox& box) { return plantInStickyDirectory(box); },
     {"secret.vsk:0", "-d:pub"},
     "",
     [](Sandbox& box, const Result& r) {
       expectFailure(r, "pub/00.txt: Permission denied");
       EXPECT_EQ(box.read("pub/00.txt"), "nobody's own");
       EXPECT_EQ(statOf(box.path("pub/00.txt")).st_uid, kNobody);
     }},
    {"PlantedFifoInAStickyDirectoryIsRefused",
     [](Sandbox& box) { return plantInStickyDirectory(box); },
     {"secret.vsk:1", "-d:pub"},
     "",
     [](Sandbox& box, const Result& r) {
       expectFailure(r, "pub/01.txt: Permission denied");
       EXPECT_TRUE(S_ISFIFO(statOf(box.path("pub/01.txt")).st_mode));
     }},
    {"NewOutputTakesTheDirectorysDefaultAcl",
     [](Sandbox& box) {
       fs::create_directory(box.path("private"));
       box.write("a.vsk", "a\n");
       return setAcl(box.path("private"), "system.posix_acl_default",
                     {{kUserObj, 7, 0}, {kGroupObj, 0, 0}, {kOther, 0, 0}})
                  ? std::string()
                  : "no ACLs on this file system";
     },
     {"a.vsk", "-d:private"},
     "",
     [](Sandbox& box, const Result& r) {
       EXPECT_EQ(r.status, 0) << r.out;
       EXPECT_EQ(statOf(box.path("private/00.txt")).st_mode & 07777, 0600u);
     }},
    {"ReplacedOutputKeepsItsAclAndGroup",
     [](Sandbox& box) {
       if (!needsRoot().empty()) return needsRoot();
       box.write("a.vsk", "a ${v}\n");
       box.write("00.txt", "old");
       ::chown(box.path("00.txt").c_str(), 0, kNoGroup);
       return setAcl(box.path("00.txt"), "system.posix_acl_access",
                     {{kUserObj, 6, kNoId},
                      {kUser, 6, 1234},
                      {kGroupObj, 0, kNoId},
                      {kMask, 6, kNoId},
                      {kOther, 0, kNoId}})
                  ? std::string()
                  : "no ACLs on this file system";
     },
     {"a.vsk", "-variables:v=1"},
     "",
     [](Sandbox& box, const Result& r) {
       EXPECT_EQ(r.status, 0) << r.out;
       EXPECT_EQ(box.read("00.txt"), "a 1\r\n");
       EXPECT_EQ(statOf(box.path("00.txt")).st_gid, kNoGroup);
       EXPECT_EQ(aclOf(box.path("00.txt")), aclBytes({{kUserObj, 6, kNoId},
                                                      {kUser, 6, 1234},
                                                      {kGroupObj, 0, kNoId},
                                                      {kMask, 6, kNoId},
                                                      {kOther, 0, kNoId}}));
     }},
    {"CopyOverAnotherGroupsOutputOpensItToNobody",
     [](Sandbox& box) {
       if (!needsRoot().empty()) return needsRoot();
       box.write("a.vsk", "secret\n");
       ::chmod(box.path("a.vsk").c_str(), 0640);
       box.write("00.txt", "old");
       ::chmod(box.path("00.txt").c_str(), 0600);
       ::chown(box.path("00.txt").c_str(), 0, kNoGroup);
       return std::string();
     },
     {"a.vsk"},
     "",
     [](Sandbox& box, const Result& r) {
       EXPECT_EQ(r.status, 0) << r.out;
       struct stat st = statOf(box.path("00.txt"));
       EXPECT_EQ(st.st_gid, kNoGroup);
       EXPECT_EQ(st.st_mode & 07777, 0600u);
     }},
    {"MemberOfTheOutputsGroupKeepsItsGroup",
     [](Sandbox& box) {
       if (!needsRoot().empty()) return needsRoot();
       box.write("a.vsk", "a ${v}\n");
       box.write("00.txt", "old");
       fault::handToNobody(box);
       ::chown(box.path("00.txt").c_str(), 0, kSharedGroup);
       ::chmod(box.path("00.txt").c_str(), 0664);
       return std::string();
     },
     {"a.vsk", "-variables:v=1"},
     "setpriv --reuid=65534 --regid=65534 --groups=" + std::to_string(kSharedGroup),
     [](Sandbox& box, const Result& r) {
       // The owner cannot be given back by an ordinary user; the group can,
       // to one of its members.
       EXPECT_EQ(r.status, 0) << r.out;
       EXPECT_EQ(box.read("00.txt"), "a 1\r\n");
       struct stat st = statOf(box.path("00.txt"));
       EXPECT_EQ(st.st_uid, kNobody);
       EXPECT_EQ(st.st_gid, kSharedGroup);
       EXPECT_EQ(st.st_mode & 07777, 0664u);
     }},
    {"UserNamespaceNeverGivesTheOverflowOwner",
     [](Sandbox& box) {
       if (!needsRoot().empty()) return needsRoot();
       if (!runnable("unshare --user --map-root-user")) return std::string("no user namespaces");
       box.write("a.vsk", "a ${v}\n");
       box.write("00.txt", "old");
       ::chmod(box.path("00.txt").c_str(), 0666);
       ::chown(box.path("00.txt").c_str(), 1000, 1000);
       return std::string();
     },
     {"a.vsk", "-variables:v=1"},
     "unshare --user --map-root-user",
     [](Sandbox& box, const Result& r) {
       EXPECT_EQ(r.status, 0) << r.out;
       EXPECT_EQ(box.read("00.txt"), "a 1\r\n");
       EXPECT_NE(statOf(box.path("00.txt")).st_uid, kNobody);
     }},
    {"RootWithoutFownerReplacesAnotherUsersOutput",
     [](Sandbox& box) {
       if (!needsRoot().empty()) return needsRoot();
       box.write("a.vsk", "a ${v}\n");
       box.write("00.txt", "old");
       ::chmod(box.path("00.txt").c_str(), 0666);
       ::chown(box.path("00.txt").c_str(), kNobody, kNoGroup);
       return std::string();
     },
     {"a.vsk", "-variables:v=1", "-sync"},
     "setpriv --inh-caps=-fowner --bounding-set=-fowner",
     [](Sandbox& box, const Result& r) {
       EXPECT_EQ(r.status, 0) << r.out;
       EXPECT_EQ(box.read("00.txt"), "a 1\r\n");
       EXPECT_EQ(statOf(box.path("00.txt")).st_uid, kNobody);
     }},
    {"ReadOnlyMountGivesItsOwnReason",
     [](Sandbox& box) {
       if (!needsRoot().empty()) return needsRoot();
       fs::create_directory(box.path("ro"));
       if (::mount("tmpfs", box.path("ro").c_str(), "tmpfs", 0, "size=64k") != 0) {
         return std::string("cannot mount");
       }
       box.write("ro/00.txt", "old");
       ::mount(nullptr, box.path("ro").c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr);
       box.write("a.vsk", "a\n");
       return std::string();
     },
     {"a.vsk", "-d:ro"},
     "",
     [](Sandbox& box, const Result& r) {
       expectFailure(r, "ro/00.txt: Read-only file system");
       EXPECT_EQ(box.read("ro/00.txt"), "old");
       ::umount(box.path("ro").c_str());
     }},
    {"SyncedCopyIsCutToTheMillisecond",
     [](Sandbox& box) {
       box.write("a.vsk", "a\n");
       timespec times[2] = {{1500000000, 123456789}, {1600000000, 987654321}};
       ::utimensat(AT_FDCWD, box.path("a.vsk").c_str(), times, 0);
       return std::string();
     },
     {"a.vsk", "-sync"},
     "",
     [](Sandbox& box, const Result& r) {
       EXPECT_EQ(r.status, 0) << r.out;
       struct stat st = statOf(box.path("00.txt"));
       EXPECT_EQ(st.st_mtim.tv_sec, 1600000000);
       EXPECT_EQ(st.st_mtim.tv_nsec, 987000000);
       EXPECT_EQ(st.st_atim.tv_nsec % 1000000, 0);
     }},
    {"SyncedOutputThatWasAHardLinkOfItsSource",
     [](Sandbox& box) {
       box.write("a.vsk", "a ${v}\n");
       timespec times[2] = {{1500000000, 0}, {1600000000, 0}};
       ::utimensat(AT_FDCWD, box.path("a.vsk").c_str(), times, 0);
       fs::create_hard_link(box.path("a.vsk"), box.path("00.txt"));
       return std::string();
     },
     {"a.vsk:0", "-sync", "-variables:v=1"},
     "",
     [](Sandbox& box, const Result& r) {
       EXPECT_EQ(r.status, 0) << r.out;
       EXPECT_EQ(box.read("00.txt"), "a 1\r\n");
       EXPECT_EQ(statOf(box.path("00.txt")).st_mtim.tv_sec, 1600000000);
       EXPECT_EQ(box.read("a.vsk"), "a ${v}\n");
     }},
};

class Commit : public testing::TestWithParam<Case> {};

TEST_P(Commit, HoldsAsTheKernelsRulesDo) {
  const Case& c = GetParam();
  Sandbox box;
  ::umask(022);
  std::string skip = c.setUp(box);
  if (!skip.empty()) GTEST_SKIP() << skip;
  // The kernel's own switches, as most systems set them.
  KernelSwitch regular("/proc/sys/fs/protected_regular", "1");
  KernelSwitch fifos("/proc/sys/fs/protected_fifos", "1");
  Result r;
  if (c.runner.empty()) {
    r = box.run(c.args);
  } else {
    if (!runnable(c.runner)) GTEST_SKIP() << "cannot run " << c.runner;
    Runner runner(c.runner);
    r = box.run(c.args);
  }
  c.check(box, r);
  EXPECT_TRUE(fault::temporariesBelow(box.progDir()).empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, Commit, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

// A FIFO output whose reader leaves before the text is written: the write
// fails and says so; SIGPIPE does not end the run.
TEST(Commit, FifoWhoseReaderHasGoneIsAFailedWrite) {
  Sandbox box;
  box.write("a.vsk", std::string(1 << 20, 'x'));
  ASSERT_EQ(::mkfifo(box.path("00.txt").c_str(), 0666), 0);
  std::thread reader([&] {
    int fd = ::open(box.path("00.txt").c_str(), O_RDONLY);
    if (fd >= 0) ::close(fd);
  });
  Result r = box.run({"a.vsk"});
  reader.join();
  expectFailure(r, "00.txt: Broken pipe");
}

}  // namespace
}  // namespace hostile
