#include "base/ordered_map.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/test_ordered_map.h"

namespace vesk {
namespace {

std::string listed(const OrderedMap<std::string>& map) {
  std::string text;
  for (const auto& [key, value] : map) text += "[" + key + "=" + value + "]";
  return text;
}

TEST(OrderedMap, KeepsInsertionOrderAndReplacesInPlace) {
  OrderedMap<std::string> map;
  EXPECT_EQ(map.find("x"), nullptr);
  map.set("b", "1");
  map.set("a", "2");
  map.set("", "empty key");
  map.set("b", "3");
  EXPECT_FALSE(map.setIfAbsent("a", "9"));
  EXPECT_TRUE(map.setIfAbsent("c", "4"));
  EXPECT_EQ(listed(map), "[b=3][a=2][=empty key][c=4]");
  EXPECT_EQ(*map.find(""), "empty key");
  EXPECT_EQ(map.size(), 4u);

  *map.find("a") = "changed";
  EXPECT_EQ(listed(map), "[b=3][a=changed][=empty key][c=4]");
}

TEST(OrderedMap, KeysCompareByteForByte) {
  OrderedMap<std::string> map;
  map.set(std::string("a\0b", 3), "nul");
  map.set("a", "short");
  map.set("A", "upper");
  EXPECT_EQ(*map.find(std::string_view("a\0b", 3)), "nul");
  EXPECT_EQ(*map.find("a"), "short");
  EXPECT_EQ(*map.find("A"), "upper");
  EXPECT_EQ(map.find("a\0"), map.find("a"));  // a C string stops at its NUL
  EXPECT_EQ(map.find(std::string_view("a\0", 2)), nullptr);
}

TEST(OrderedMap, FindsEveryKeyAcrossGrowth) {
  OrderedMap<int> map;
  constexpr int kCount = 100000;
  for (int i = 0; i < kCount; ++i) map.set("k" + std::to_string(i), i);
  for (int i = 0; i < kCount; i += 3) map.set("k" + std::to_string(i), -1);
  ASSERT_EQ(map.size(), static_cast<std::size_t>(kCount));
  for (int i = 0; i < kCount; ++i) {
    const int* found = map.find("k" + std::to_string(i));
    ASSERT_NE(found, nullptr) << i;
    EXPECT_EQ(*found, i % 3 == 0 ? -1 : i);
  }
  EXPECT_FALSE(map.contains("k" + std::to_string(kCount)));
  std::size_t position = 0;
  for (const auto& entry : map) EXPECT_EQ(entry.first, "k" + std::to_string(position++));

  // A copy is equal and independent.
  OrderedMap<int> copy = map;
  EXPECT_TRUE(copy == map);
  copy.set("k1", 7);
  EXPECT_FALSE(copy == map);
  EXPECT_EQ(*map.find("k1"), 1);
}

TEST(OrderedMap, EmptiedTablesStayUsable) {
  OrderedMap<int> map;
  for (int i = 0; i < 20; ++i) map.set("k" + std::to_string(i), i);
  std::vector<OrderedMap<int>::Entry> taken = map.takeEntries();
  ASSERT_EQ(taken.size(), 20u);
  EXPECT_EQ(taken[19].first, "k19");
  EXPECT_TRUE(map.empty());
  EXPECT_EQ(map.find("k1"), nullptr);
  map.set("k1", 100);
  EXPECT_EQ(*map.find("k1"), 100);

  EXPECT_EQ(map.takeEntries().size(), 1u);
  EXPECT_FALSE(map.contains("k1"));
  map.set("new", 1);
  EXPECT_EQ(map.size(), 1u);
}

}  // namespace
}  // namespace vesk
