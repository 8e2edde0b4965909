#include "yaml/kesoyaml.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "base/exception.h"
#include "base/test_dir.h"

namespace kesoyaml {
namespace {

using ::testing::ElementsAre;

std::string written(const YamlHolder& node) {
  StringOutput out;
  node.write(out);
  return out.text();
}

// Structural equality, entries compared in order.
bool sameTree(const NodeRef& a, const NodeRef& b) {
  if (a->isScalar() || b->isScalar())
    return a->isScalar() && b->isScalar() && a->asString() == b->asString();
  if (a->isArray() != b->isArray()) return false;
  if (a->isArray()) {
    NodeList x = a->asArray(), y = b->asArray();
    if (x.size() != y.size()) return false;
    for (std::size_t i = 0; i < x.size(); ++i) {
      if (!sameTree(x[i], y[i])) return false;
    }
    return true;
  }
  NodeMap x = a->asAssoc(), y = b->asAssoc();
  if (x.size() != y.size()) return false;
  for (auto i = x.begin(), j = y.begin(); i != x.end(); ++i, ++j) {
    if (i->first != j->first || !sameTree(i->second, j->second)) return false;
  }
  return true;
}

// Random trees within what the text form can carry: containers are not
// empty, texts are not empty, and no key or scalar holds "#", a double quote
// or a backslash, starts with a single quote, or (keys only) holds ":", ends
// in a blank, or starts with whitespace or "-". Texts otherwise use every
// byte but NUL, so blanks, line breaks and control characters inside force
// quoting and multi-line quoted values.
class TreeMaker {
 public:
  explicit TreeMaker(unsigned seed) : random_(seed) {}

  NodeRef container(int depth) {
    bool array = coin();
    NodeRef node =
        array ? NodeRef(std::make_shared<YamlArray>()) : NodeRef(std::make_shared<YamlAssoc>());
    int count = 1 + static_cast<int>(random_() % 4);
    for (int i = 0; i < count; ++i) {
      NodeRef child = depth < 4 && random_() % 3 == 0
                          ? container(depth + 1)
                          : NodeRef(std::make_shared<YamlScalar>(text(false)));
      if (array) {
        static_cast<YamlArray&>(*node).append(child);
      } else {
        static_cast<YamlAssoc&>(*node).put(text(true), child);
      }
    }
    return node;
  }

 private:
  bool coin() { return random_() % 2 == 0; }

  char anyByte(bool key) {
    for (;;) {
      char c = static_cast<char>(1 + random_() % 255);
      if (c == '#' || c == '"' || c == '\\' || (key && c == ':')) continue;
      return c;
    }
  }

  std::string text(bool key) {
    static const std::string kFirst = "abcXYZ019_./\xC3\xA9\x80\xFF";
    std::string out(1, kFirst[random_() % kFirst.size()]);
    int length = static_cast<int>(random_() % 8);
    for (int i = 0; i < length; ++i)
      out += random_() % 3 == 0 ? anyByte(key) : static_cast<char>('a' + random_() % 26);
    if (key) {
      while (out.back() == ' ' || out.back() == '\t') out.back() = 'z';
    }
    return out;
  }

  std::mt19937 random_;
};

TEST(YamlRoundTrip, GeneratedTreesReadBackEqual) {
  for (unsigned seed = 1; seed <= 500; ++seed) {
    TreeMaker maker(seed);
    NodeRef tree = maker.container(0);
    std::string text = written(*tree);
    NodeRef back;
    ASSERT_NO_THROW(back = parseText(text)) << "seed " << seed;
    ASSERT_NE(back, nullptr) << "seed " << seed;
    EXPECT_TRUE(sameTree(tree, back)) << "seed " << seed << "\n" << text;
    EXPECT_EQ(written(*back), text) << "seed " << seed;
  }
}

TEST(YamlRoundTrip, EmptyValuesComeBackMissing) {
  YamlAssoc root;
  root.put("kept", std::make_shared<YamlScalar>("v"));
  root.put("blank", std::make_shared<YamlScalar>(""));
  root.put("none", std::make_shared<YamlArray>());
  NodeRef back = parseText(written(root));
  EXPECT_EQ(back->asAssoc().size(), 1u);
  EXPECT_EQ(parseText(written(YamlAssoc())), nullptr);
}

class YamlFiles : public vesk::TempDirTest {};

TEST_F(YamlFiles, LoadReadsTheWholeFile) {
  std::string path = writeFile("a.yml", "---\r\nvesk:\r\n\td: out\r\n\tlist:\r\n\t\t- x");
  NodeRef root = loadYaml(path);
  EXPECT_EQ(root->item("vesk")->item("d")->asString(), "out");
  EXPECT_THAT(root->item("vesk")->item("list")->asStringArray(), ElementsAre("x"));
  // A NUL as the file's last byte is data before the appended terminator.
  NodeRef nul = loadYaml(writeFile("n.yml", std::string("---\na: b\0", 9)));
  EXPECT_EQ(nul->item("a")->asString(), std::string("b\0", 2));
}

TEST_F(YamlFiles, SavedDocumentLoadsBack) {
  TreeMaker maker(42);
  NodeRef tree = maker.container(0);
  std::string path = this->path("saved.yml");
  tree->save(path);
  EXPECT_TRUE(sameTree(tree, loadYaml(path)));
}

TEST_F(YamlFiles, MissingFileIsAFileErrorAndBadTextAYamlError) {
  EXPECT_THROW(loadYaml(path("missing.yml")), vesk::FileException);
  EXPECT_THROW(loadYaml(dir_), vesk::FileException);
  try {
    loadYaml(writeFile("bad.yml", "---\nvesk\n"));
    FAIL();
  } catch (const YamlError& e) {
    EXPECT_STREQ(e.what(), "Parser: colon expected in line2 pos1");
  }
}

TEST(YamlStream, ReadsTheWholeStream) {
  std::string big = "---\n";
  for (int i = 0; i < 20000; ++i) {
    big += 'k';
    big += std::to_string(i);
    big += ": v\n";
  }
  std::istringstream in(big);
  EXPECT_EQ(readYaml(in)->asAssoc().size(), 20000u);
  std::istringstream empty("");
  EXPECT_THROW(readYaml(empty), YamlError);
}

// A document nested by indentation: line i is "a:" after i blanks (or "-").
std::string nestedDocument(std::size_t depth, bool sequences) {
  std::string text = "---\n";
  text.reserve(depth * (depth + 7) / 2 + 16);
  for (std::size_t i = 0; i < depth; ++i) {
    text.append(i, ' ');
    text += sequences ? "-\n" : "a:\n";
  }
  text.append(depth, ' ');
  text += sequences ? "- leaf" : "a: leaf";
  return text;
}

TEST(YamlDeep, DeeplyIndentedDocumentsLoadAndRelease) {
  constexpr std::size_t kDepth = 10000;
  for (bool sequences : {false, true}) {
    NodeRef root = parseText(nestedDocument(kDepth, sequences));
    NodeRef node = root;
    std::size_t levels = 0;
    while (!node->isScalar()) {
      node = sequences ? node->item(0u) : node->item("a");
      ++levels;
    }
    EXPECT_EQ(levels, kDepth + 1);
    EXPECT_EQ(node->asString(), "leaf");
  }
}

TEST(YamlDeep, DeepDocumentFailingAtTheEndDropsItsTree) {
  std::string text = nestedDocument(5000, false) + "\n" + std::string(5001, ' ') + "bad\n";
  EXPECT_THROW(parseText(text), YamlError);
}

}  // namespace
}  // namespace kesoyaml
