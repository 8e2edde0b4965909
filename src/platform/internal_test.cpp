#include "platform/internal.h"

#include <cstring>
#include <regex>

#include <gtest/gtest.h>

namespace vesk::platform {
namespace {

// The name's shape, with the counter left open: it only has to differ.
void expectName(const std::string& name, const std::string& prefix) {
  ASSERT_EQ(name.compare(0, prefix.size(), prefix), 0) << name;
  EXPECT_TRUE(std::regex_match(name.substr(prefix.size()), std::regex("[0-9]+\\.vesk-tmp")))
      << name;
}

TEST(TemporaryName, BesideTheFileUnderEitherPlatformsRules) {
  expectName(temporaryName("out/a.txt", "/", "./", 42), "out/.a.txt.42-");
  expectName(temporaryName("/a.txt", "/", "./", 42), "/.a.txt.42-");
  expectName(temporaryName("a.txt", "/", "./", 42), "./.a.txt.42-");
  expectName(temporaryName("C:\\out\\a.txt", "\\/:", "", 7), "C:\\out\\.a.txt.7-");
  expectName(temporaryName("C:a.txt", "\\/:", "", 7), "C:.a.txt.7-");
  expectName(temporaryName("a.txt", "\\/:", "", 7), ".a.txt.7-");
  // A long base is cut, so that the name stays a legal one.
  expectName(temporaryName("d/" + std::string(300, 'x'), "/", "./", 1),
             "d/." + std::string(200, 'x') + ".1-");
  EXPECT_NE(temporaryName("a", "/", "./", 1), temporaryName("a", "/", "./", 1));
}

using Name = char[16];
using Slots = PendingTemporaries<Name, 2>;

void add(Slots& slots, const char* name) {
  slots.add([&](Name& slot) { std::strcpy(slot, name); });
}

void mark(Slots& slots, const char* name, SlotState to) {
  slots.mark([&](const Name& slot) { return std::strcmp(slot, name) == 0; }, to);
}

std::vector<std::string> named(Slots& slots) {
  std::vector<std::string> result;
  for (auto& slot : slots) {
    if (slot.state.load() == kNamed) result.emplace_back(slot.name);
  }
  return result;
}

TEST(PendingTemporaries, SlotsAreFilledFreedAndKeptOnceTaken) {
  Slots slots;
  add(slots, "a");
  add(slots, "b");
  add(slots, "c");  // no slot left: goes unnoted
  EXPECT_EQ(named(slots), (std::vector<std::string>{"a", "b"}));
  mark(slots, "a", kBusy);
  EXPECT_EQ(named(slots), std::vector<std::string>{"b"});
  mark(slots, "a", kFree);  // a busy one is freed too
  add(slots, "c");
  EXPECT_EQ(named(slots), (std::vector<std::string>{"c", "b"}));
  // One the handler has taken stays taken.
  slots.begin()->state.store(kRemoving);
  mark(slots, "c", kFree);
  EXPECT_EQ(slots.begin()->state.load(), kRemoving);
  mark(slots, "missing", kFree);
  EXPECT_EQ(named(slots), std::vector<std::string>{"b"});
}

}  // namespace
}  // namespace vesk::platform
