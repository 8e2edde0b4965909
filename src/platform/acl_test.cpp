#include "platform/acl.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace vesk::platform::acl {
namespace {

struct Entry {
  std::uint16_t tag, perm;
  std::uint32_t id;
};

std::string bytes(const std::vector<Entry>& entries) {
  std::string out = {2, 0, 0, 0};
  for (const Entry& e : entries) {
    const char raw[8] = {static_cast<char>(e.tag),
                         0,
                         static_cast<char>(e.perm),
                         0,
                         static_cast<char>(e.id & 0xff),
                         static_cast<char>((e.id >> 8) & 0xff),
                         0,
                         0};
    out.append(raw, 8);
  }
  return out;
}

constexpr std::uint16_t kUserObj = 1, kUser = 2, kGroupObj = 4, kMask = 0x10, kOther = 0x20;

// What a file created with a mode inherits from a directory's default ACL,
// and the bits that ACL shows.
TEST(Acl, InheritedEntriesKeepOnlyWhatTheModeGrants) {
  struct Case {
    std::vector<Entry> defaults;
    unsigned mode;
    std::vector<Entry> inherited;
    unsigned shown;
  } cases[] = {
      // Owner only: a redirection's 0666 gives 0600.
      {{{kUserObj, 7, 0}, {kGroupObj, 0, 0}, {kOther, 0, 0}},
       0666,
       {{kUserObj, 6, 0}, {kGroupObj, 0, 0}, {kOther, 0, 0}},
       0600},
      // With a mask, the mask is narrowed and the named user and the owning
      // group are kept as they are.
      {{{kUserObj, 7, 0}, {kUser, 7, 1234}, {kGroupObj, 5, 0}, {kMask, 7, 0}, {kOther, 5, 0}},
       0640,
       {{kUserObj, 6, 0}, {kUser, 7, 1234}, {kGroupObj, 5, 0}, {kMask, 4, 0}, {kOther, 0, 0}},
       0640},
  };
  for (const Case& c : cases) {
    auto got = inherited(bytes(c.defaults), c.mode);
    ASSERT_TRUE(got);
    EXPECT_EQ(*got, bytes(c.inherited));
    EXPECT_EQ(modeOf(*got), c.shown);
  }
}

TEST(Acl, MalformedListsAreRefused) {
  const std::string valid = bytes({{kUserObj, 6, 0}, {kGroupObj, 4, 0}, {kOther, 4, 0}});
  for (const std::string& bad : {std::string(), std::string("\x01\0\0\0", 4), valid.substr(0, 11),
                                 bytes({{kUserObj, 6, 0}, {kOther, 4, 0}})}) {
    EXPECT_FALSE(inherited(bad, 0666));
    EXPECT_FALSE(modeOf(bad));
  }
  EXPECT_EQ(modeOf(valid), 0644u);
}

}  // namespace
}  // namespace vesk::platform::acl
