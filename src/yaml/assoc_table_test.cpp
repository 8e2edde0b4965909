#include "yaml/assoc_table.h"

#include <gtest/gtest.h>

#include "yaml/node.h"

namespace kesoyaml {
namespace {

NodeRef scalar(const std::string& text) { return std::make_shared<YamlScalar>(text); }

TEST(AssocTable, KeepsInsertionOrderAndReplacesInPlace) {
  AssocTable table;
  EXPECT_EQ(table.find("x"), nullptr);
  table.set("b", scalar("1"));
  table.set("a", scalar("2"));
  table.set("", scalar("empty key"));
  table.set("b", scalar("3"));
  ASSERT_EQ(table.size(), 3u);
  std::vector<std::string> order;
  for (const auto& entry : table) order.push_back(entry.first + "=" + entry.second->asString());
  EXPECT_EQ(order, (std::vector<std::string>{"b=3", "a=2", "=empty key"}));
  EXPECT_EQ((*table.find(""))->asString(), "empty key");
}

TEST(AssocTable, KeysCompareByteForByte) {
  AssocTable table;
  table.set(std::string("a\0b", 3), scalar("nul"));
  table.set("a", scalar("short"));
  table.set("A", scalar("upper"));
  EXPECT_EQ((*table.find(std::string_view("a\0b", 3)))->asString(), "nul");
  EXPECT_EQ((*table.find("a"))->asString(), "short");
  EXPECT_EQ((*table.find("A"))->asString(), "upper");
  EXPECT_EQ(table.find("a\0"), table.find("a"));  // a C string stops at its NUL
  EXPECT_EQ(table.find(std::string_view("a\0", 2)), nullptr);
}

TEST(AssocTable, FindsEveryKeyAcrossGrowth) {
  AssocTable table;
  constexpr int kCount = 100000;
  for (int i = 0; i < kCount; ++i) table.set("k" + std::to_string(i), scalar(std::to_string(i)));
  for (int i = 0; i < kCount; i += 3) table.set("k" + std::to_string(i), scalar("again"));
  ASSERT_EQ(table.size(), static_cast<std::size_t>(kCount));
  for (int i = 0; i < kCount; ++i) {
    const NodeRef* found = table.find("k" + std::to_string(i));
    ASSERT_NE(found, nullptr) << i;
    EXPECT_EQ((*found)->asString(), i % 3 == 0 ? "again" : std::to_string(i));
  }
  EXPECT_EQ(table.find("k" + std::to_string(kCount)), nullptr);
  std::size_t position = 0;
  for (const auto& entry : table) EXPECT_EQ(entry.first, "k" + std::to_string(position++));

  // Handing the entries over leaves a usable empty table.
  EXPECT_EQ(table.takeEntries().size(), static_cast<std::size_t>(kCount));
  EXPECT_EQ(table.find("k1"), nullptr);
  table.set("k1", scalar("new"));
  EXPECT_EQ((*table.find("k1"))->asString(), "new");
}

}  // namespace
}  // namespace kesoyaml
