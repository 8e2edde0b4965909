#include "yaml/node.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "base/exception.h"

namespace kesoyaml {
namespace {

using ::testing::ElementsAre;
using ::testing::Pair;

// Runs the call and returns the YamlError message it raised.
std::string errorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const YamlError& e) {
    return e.what();
  }
  return "(no YamlError)";
}

NodeRef scalar(std::string text) { return std::make_shared<YamlScalar>(std::move(text)); }

std::vector<std::pair<std::string, std::string>> pairs(const StringMap& map) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& [key, value] : map) out.emplace_back(key, value);
  return out;
}

TEST(YamlNode, WrongKindNamesTheConcreteClass) {
  YamlAssoc assoc;
  YamlArray array;
  YamlScalar text("x");
  EXPECT_EQ(errorOf([&] { assoc.asString(); }), "YamlAssoc: not scalar");
  EXPECT_EQ(errorOf([&] { assoc.item(0u); }), "YamlAssoc: not array");
  EXPECT_EQ(errorOf([&] { assoc.appendInts({1}); }), "YamlAssoc: not array");
  EXPECT_EQ(errorOf([&] { array.item("k"); }), "YamlArray: not associative array");
  EXPECT_EQ(errorOf([&] { array.setInt(3); }), "YamlArray: not scalar");
  EXPECT_EQ(errorOf([&] { text.item(0u); }), "YamlScalar: not array");
  EXPECT_EQ(errorOf([&] { text.asAssoc(); }), "YamlScalar: not associative array");
  EXPECT_EQ(errorOf([&] { text.putStrings({}); }), "YamlScalar: not associative array");
  EXPECT_EQ(errorOf([&] { text.setArray({}); }), "YamlScalar: not array");
  // The setting-file reader catches these as the program's Error.
  EXPECT_THROW(text.asArray(), vesk::Error);
}

// Every operation of one kind, asked of a node of another kind, raises an
// error that names the node's class and the kind the operation needs.
TEST(YamlNode, EveryOperationOfAnotherKindIsRefused) {
  enum Kind { Assoc, Array, Scalar };
  struct Operation {
    Kind needs;
    std::function<void(YamlHolder&)> call;
  };
  const std::vector<Operation> operations = {
      {Assoc, [](YamlHolder& n) { n.item("k"); }},
      {Assoc, [](YamlHolder& n) { n.asAssoc(); }},
      {Assoc, [](YamlHolder& n) { n.asStringAssoc(); }},
      {Assoc, [](YamlHolder& n) { n.asIntAssoc(); }},
      {Assoc, [](YamlHolder& n) { n.asDoubleAssoc(); }},
      {Assoc, [](YamlHolder& n) { n.setAssoc({}); }},
      {Assoc, [](YamlHolder& n) { n.putStrings({}); }},
      {Assoc, [](YamlHolder& n) { n.putInts({}); }},
      {Assoc, [](YamlHolder& n) { n.putDoubles({}); }},
      {Array, [](YamlHolder& n) { n.item(0u); }},
      {Array, [](YamlHolder& n) { n.asArray(); }},
      {Array, [](YamlHolder& n) { n.asStringArray(); }},
      {Array, [](YamlHolder& n) { n.asIntArray(); }},
      {Array, [](YamlHolder& n) { n.asDoubleArray(); }},
      {Array, [](YamlHolder& n) { n.setArray({}); }},
      {Array, [](YamlHolder& n) { n.appendStrings({}); }},
      {Array, [](YamlHolder& n) { n.appendInts({}); }},
      {Array, [](YamlHolder& n) { n.appendDoubles({}); }},
      {Scalar, [](YamlHolder& n) { n.asString(); }},
      {Scalar, [](YamlHolder& n) { n.asInt(); }},
      {Scalar, [](YamlHolder& n) { n.asDouble(); }},
      {Scalar, [](YamlHolder& n) { n.setString("x"); }},
      {Scalar, [](YamlHolder& n) { n.setInt(1); }},
      {Scalar, [](YamlHolder& n) { n.setDouble(1.5); }},
  };
  const char* needed[] = {"not associative array", "not array", "not scalar"};
  for (std::size_t i = 0; i < operations.size(); ++i) {
    YamlAssoc assoc;  // holding what the item and view calls look for
    assoc.put("k", scalar("1"));
    YamlArray array;
    array.append(scalar("1"));
    YamlScalar text("1");
    std::pair<YamlHolder*, Kind> nodes[] = {{&assoc, Assoc}, {&array, Array}, {&text, Scalar}};
    for (auto [node, kind] : nodes) {
      const Operation& op = operations[i];
      std::string error = errorOf([&] { op.call(*node); });
      if (kind == op.needs) {
        EXPECT_EQ(error, "(no YamlError)") << "operation " << i;
      } else {
        EXPECT_EQ(error, std::string(node->className()) + ": " + needed[op.needs])
            << "operation " << i;
      }
    }
  }
}

// The typed views of a container fail on the first child that is no scalar.
TEST(YamlNode, TypedViewsRefuseANestedContainer) {
  YamlAssoc assoc;
  NodeMap entries;
  entries.set("a", scalar("1"));
  entries.set("b", std::make_shared<YamlAssoc>());
  assoc.setAssoc(entries);
  YamlArray array;
  array.setArray({scalar("1"), std::make_shared<YamlArray>()});
  for (const auto& call : std::vector<std::function<void()>>{[&] { assoc.asStringAssoc(); },
                                                             [&] { assoc.asIntAssoc(); },
                                                             [&] { assoc.asDoubleAssoc(); }}) {
    EXPECT_EQ(errorOf(call), "YamlAssoc: not scalar");
  }
  for (const auto& call : std::vector<std::function<void()>>{[&] { array.asStringArray(); },
                                                             [&] { array.asIntArray(); },
                                                             [&] { array.asDoubleArray(); }}) {
    EXPECT_EQ(errorOf(call), "YamlArray: not scalar");
  }
}

TEST(YamlNode, MissingKeyAndIndex) {
  YamlAssoc assoc;
  assoc.putStrings([] {
    StringMap m;
    m.set("a", "1");
    return m;
  }());
  EXPECT_EQ(errorOf([&] { assoc.item("x"); }), "YamlAssoc: key not exists: x");
  EXPECT_EQ(errorOf([&] { assoc.item("A"); }), "YamlAssoc: key not exists: A");  // case-sensitive
  EXPECT_EQ(assoc.item("a")->asString(), "1");

  YamlArray array;
  array.appendStrings({"p", "q", "r"});
  EXPECT_EQ(errorOf([&] { array.item(3u); }), "YamlArray: key not exists: 3");
  EXPECT_EQ(errorOf([&] { array.item(4294967295u); }), "YamlArray: key not exists: 4294967295");
  EXPECT_EQ(array.item(2u)->asString(), "r");
}

// The number reading itself is tested with parseInt32; here only that a
// scalar uses it and that its failures are not YAML errors.
TEST(YamlScalarInt, StrictDecimalWhoseFailuresAreNotYamlErrors) {
  EXPECT_EQ(YamlScalar("-2147483648").asInt(), -2147483648);
  EXPECT_EQ(YamlScalar("+007").asInt(), 7);
  try {
    YamlScalar("2147483648").asInt();
    ADD_FAILURE() << "no overflow";
  } catch (const YamlError&) {
    ADD_FAILURE() << "overflow must not be a YamlError";
  } catch (const vesk::OverflowException& e) {
    EXPECT_STREQ(e.what(), "Error: overflow 2147483648");
  }
  EXPECT_THROW(YamlScalar(" 1").asInt(), vesk::ConversionException);
}

TEST(YamlScalarDouble, FollowsStrtodAndNeverFails) {
  EXPECT_EQ(YamlScalar("1.5abc").asDouble(), 1.5);
  EXPECT_EQ(YamlScalar("   2").asDouble(), 2.0);
  EXPECT_EQ(YamlScalar("abc").asDouble(), 0.0);
  EXPECT_EQ(YamlScalar("").asDouble(), 0.0);
  EXPECT_EQ(YamlScalar("-1e3x").asDouble(), -1000.0);
  EXPECT_EQ(YamlScalar("0x10").asDouble(), 16.0);
  EXPECT_TRUE(std::isinf(YamlScalar("inf").asDouble()));
  EXPECT_TRUE(std::isnan(YamlScalar("nan").asDouble()));
}

TEST(YamlScalarText, NumbersAreStoredAsText) {
  EXPECT_EQ(YamlScalar(-12).asString(), "-12");
  EXPECT_EQ(YamlScalar(std::int32_t{-2147483647 - 1}).asString(), "-2147483648");
  EXPECT_EQ(YamlScalar(1.5).asString(), "1.500000");
  EXPECT_EQ(YamlScalar(-0.25).asString(), "-0.250000");
  EXPECT_EQ(YamlScalar(0.0000001).asString(), "0.000000");
  // "%f" of a huge value is long; all of it is kept.
  std::string huge = YamlScalar(1e300).asString();
  EXPECT_EQ(huge.size(), 301u + 7u);
  EXPECT_EQ(huge.substr(0, 4), "1000");
  EXPECT_EQ(huge.substr(huge.size() - 7), ".000000");
}

TEST(YamlAssoc, PutAddsAndReplacesInPlace) {
  YamlAssoc assoc;
  IntMap first;
  first.set("a", 1);
  first.set("b", 2);
  assoc.putInts(first);
  IntMap second;
  second.set("b", 20);
  second.set("c", 30);
  assoc.putInts(second);
  EXPECT_THAT(pairs(assoc.asStringAssoc()),
              ElementsAre(Pair("a", "1"), Pair("b", "20"), Pair("c", "30")));

  EXPECT_EQ(*assoc.asIntAssoc().find("c"), 30);
  DoubleMap doubles;
  doubles.set("d", 0.5);
  assoc.putDoubles(doubles);
  EXPECT_EQ(assoc.item("d")->asString(), "0.500000");
  EXPECT_EQ(*assoc.asDoubleAssoc().find("d"), 0.5);
}

TEST(YamlAssoc, ViewsFailOnANonScalarChildNamingTheChild) {
  YamlAssoc assoc;
  NodeMap entries;
  entries.set("ok", scalar("1"));
  entries.set("nested", std::make_shared<YamlArray>());
  assoc.setAssoc(entries);
  EXPECT_EQ(errorOf([&] { assoc.asStringAssoc(); }), "YamlArray: not scalar");
  EXPECT_TRUE(YamlAssoc().asStringAssoc().empty());
  entries.set("nested", scalar("x"));
  assoc.setAssoc(entries);
  EXPECT_THROW(assoc.asIntAssoc(), vesk::ConversionException);
}

TEST(YamlAssoc, ViewIsACopySharingTheChildren) {
  YamlAssoc assoc;
  NodeMap view = assoc.asAssoc();
  view.set("k", scalar("v"));
  EXPECT_EQ(assoc.asAssoc().size(), 0u);
  assoc.setAssoc(view);
  ASSERT_EQ(assoc.asAssoc().size(), 1u);
  EXPECT_EQ(assoc.item("k").get(), view.find("k")->get());
  // Changing a shared child is seen through both.
  assoc.item("k")->setString("w");
  EXPECT_EQ((*view.find("k"))->asString(), "w");
}

TEST(YamlArray, AppendsKeepOrderAndViewsAreCopies) {
  YamlArray array;
  array.appendStrings({});
  EXPECT_TRUE(array.asArray().empty());
  EXPECT_TRUE(array.asIntArray().empty());
  array.appendStrings({"a", "b"});
  array.appendInts({-3});
  array.appendDoubles({2.0});
  EXPECT_THAT(array.asStringArray(), ElementsAre("a", "b", "-3", "2.000000"));
  EXPECT_THAT(array.asDoubleArray(), ElementsAre(0.0, 0.0, -3.0, 2.0));
  EXPECT_THROW(array.asIntArray(), vesk::ConversionException);

  NodeList view = array.asArray();
  view.pop_back();
  EXPECT_EQ(array.asArray().size(), 4u);
  array.setArray(view);
  EXPECT_EQ(array.asArray().size(), 3u);

  array.append(std::make_shared<YamlAssoc>());
  EXPECT_EQ(errorOf([&] { array.asStringArray(); }), "YamlAssoc: not scalar");
}

// A million-level tree must be released without a million nested destructor
// calls: with recursion this overflows any default stack.
TEST(YamlRelease, MillionLevelChainsUseBoundedStack) {
  constexpr int kDepth = 1000000;
  {
    auto root = std::make_shared<YamlArray>();
    YamlArray* tip = root.get();
    for (int i = 0; i < kDepth; ++i) {
      auto next = std::make_shared<YamlArray>();
      YamlArray* raw = next.get();
      tip->append(std::move(next));
      tip = raw;
    }
    tip->appendStrings({"leaf"});
  }
  {
    // Through the public setters, alternating the two container kinds.
    NodeRef chain = scalar("end");
    for (int i = 0; i < kDepth; ++i) {
      if (i % 2) {
        auto array = std::make_shared<YamlArray>();
        array->setArray({chain});
        chain = array;
      } else {
        auto assoc = std::make_shared<YamlAssoc>();
        NodeMap entries;
        entries.set("k", chain);
        assoc->setAssoc(std::move(entries));
        chain = assoc;
      }
    }
  }
  SUCCEED();
}

TEST(YamlRelease, NodesHeldElsewhereSurviveWithTheirChildren) {
  NodeRef kept;
  {
    auto root = std::make_shared<YamlArray>();
    auto middle = std::make_shared<YamlArray>();
    middle->appendStrings({"x", "y"});
    root->append(middle);
    root->append(middle);  // the same node twice
    kept = middle;
    auto other = std::make_shared<YamlAssoc>();
    other->put("m", middle);
    root->append(other);
  }
  ASSERT_EQ(kept.use_count(), 1);
  EXPECT_THAT(kept->asStringArray(), ElementsAre("x", "y"));
}

}  // namespace
}  // namespace kesoyaml
