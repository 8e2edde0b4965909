#include <gtest/gtest.h>

#include <cstdint>

#include <filesystem>
#include <sstream>

#include "base/exception.h"
#include "base/test_dir.h"
#include "platform/platform.h"
#include "yaml/node.h"

namespace kesoyaml {
namespace {

const std::string kHeader = "--- # kesoYAML:0.1";

std::string written(const YamlHolder& node) {
  StringOutput out;
  node.write(out);
  return out.text();
}

std::string bodyOf(const std::string& text) {
  return written(YamlScalar(text)).substr(kHeader.size());
}

TEST(YamlWriter, EmptyRootAndScalarRoot) {
  EXPECT_EQ(written(YamlAssoc()), kHeader);
  EXPECT_EQ(written(YamlArray()), kHeader);
  EXPECT_EQ(written(YamlScalar("text")), kHeader + "text");
  EXPECT_EQ(written(YamlScalar("")), kHeader);
}

TEST(YamlWriter, QuotesTextHoldingAnyOfTheTenCharacters) {
  for (char c : std::string(" \a\b\f\n\r\t\v\"\\")) {
    std::string text = std::string("a") + c + "b";
    EXPECT_EQ(bodyOf(text), "\"" + text + "\"") << int(c);
  }
  // Nothing inside is escaped.
  EXPECT_EQ(bodyOf("say \"hi\" \\n"), "\"say \"hi\" \\n\"");
  // Other bytes, including ones that mean something to the reader, stay bare.
  EXPECT_EQ(bodyOf("a#b:c'd-\x01\xe3\x81\x82"), "a#b:c'd-\x01\xe3\x81\x82");
  EXPECT_EQ(bodyOf(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(YamlWriter, EntriesStartWithCrLfAndTabsInInsertionOrder) {
  YamlAssoc root;
  auto files = std::make_shared<YamlArray>();
  files->appendStrings({"a.txt", "b c.txt"});
  root.put("files", files);
  root.put("out", std::make_shared<YamlScalar>("dir"));
  EXPECT_EQ(written(root), kHeader +
                               "\r\nfiles: "
                               "\r\n\t- a.txt"
                               "\r\n\t- \"b c.txt\""
                               "\r\nout: dir");
}

TEST(YamlWriter, KeysAreNeverQuotedAndEmptyContainersWriteNothing) {
  YamlAssoc root;
  root.put("a key", std::make_shared<YamlScalar>("v"));
  root.put("empty", std::make_shared<YamlArray>());
  root.put("blank", std::make_shared<YamlScalar>(""));
  root.put("next", std::make_shared<YamlScalar>("n"));
  EXPECT_EQ(written(root), kHeader + "\r\na key: v\r\nempty: \r\nblank: \r\nnext: n");
}

TEST(YamlWriter, NestedSequencesAndMappingsIndentOneTabPerLevel) {
  YamlArray root;
  auto inner = std::make_shared<YamlArray>();
  inner->appendStrings({"x", "y"});
  auto map = std::make_shared<YamlAssoc>();
  auto deeper = std::make_shared<YamlArray>();
  deeper->appendInts({1});
  map->put("k", deeper);
  inner->append(map);
  root.append(inner);
  root.appendStrings({"z"});
  EXPECT_EQ(written(root), kHeader +
                               "\r\n- "
                               "\r\n\t- x"
                               "\r\n\t- y"
                               "\r\n\t- "
                               "\r\n\t\tk: "
                               "\r\n\t\t\t- 1"
                               "\r\n- z");
}

TEST(YamlWriter, WritingLeavesTheTreeUnchanged) {
  YamlArray root;
  root.appendStrings({"needs quotes", "plain"});
  std::string first = written(root);
  EXPECT_EQ(written(root), first);
  EXPECT_EQ(root.item(0u)->asString(), "needs quotes");
}

// Counts bytes instead of keeping them, for documents too large to hold.
class CountingOutput : public YamlOutput {
 public:
  void write(std::string_view bytes) override { size += bytes.size(); }
  void put(char) override { ++size; }
  std::size_t size = 0;
};

// Fails at the n-th write or put, as a stream whose disk fills up would.
class FailingOutput : public YamlOutput {
 public:
  explicit FailingOutput(int allowed) : allowed_(allowed) {}
  void write(std::string_view bytes) override {
    step();
    text += bytes;
  }
  void put(char byte) override {
    step();
    text += byte;
  }
  std::string text;

 private:
  void step() {
    if (allowed_-- == 0) throw vesk::FileException("out", "No space left on device");
  }
  int allowed_;
};

// A failing output stops the writer at once with the output's own error,
// wherever in the document it happens, and the tree stays as it was.
TEST(YamlWriter, AFailingOutputStopsTheWriterWithItsError) {
  YamlArray root;
  auto map = std::make_shared<YamlAssoc>();
  map->put("k", std::make_shared<YamlScalar>("needs quotes"));
  auto inner = std::make_shared<YamlArray>();
  inner->appendStrings({"x", "y#z"});
  map->put("list", inner);
  root.append(map);
  root.appendStrings({"last"});
  const std::string whole = written(root);
  for (int allowed = 0;; ++allowed) {
    FailingOutput out(allowed);
    try {
      root.write(out);
    } catch (const vesk::FileException& e) {
      EXPECT_EQ(std::string(e.what()), "out: No space left on device");
      EXPECT_TRUE(whole.starts_with(out.text)) << allowed;
      continue;
    }
    EXPECT_EQ(out.text, whole);
    break;
  }
  EXPECT_EQ(written(root), whole);
}

TEST(YamlWriter, DeepTreesAreWrittenWithoutRecursion) {
  constexpr std::size_t kDepth = 200000;
  auto root = std::make_shared<YamlArray>();
  YamlArray* tip = root.get();
  for (std::size_t i = 0; i < kDepth; ++i) {
    auto next = std::make_shared<YamlArray>();
    YamlArray* raw = next.get();
    tip->append(std::move(next));
    tip = raw;
  }
  CountingOutput out;
  root->write(out);
  // Header, then per level d (0..kDepth-1): CR LF, d TABs, "- ".
  // The count wraps on 32-bit size_t; the expectation wraps the same way.
  const std::uint64_t expected =
      kHeader.size() + std::uint64_t{kDepth} * 4 + std::uint64_t{kDepth} * (kDepth - 1) / 2;
  EXPECT_EQ(out.size, static_cast<std::size_t>(expected));
}

class YamlSave : public vesk::TempDirTest {};

TEST_F(YamlSave, OverALongerFileLeavesOnlyTheNewDocument) {
  std::string file = writeFile("doc.yml", std::string(5000, 'x'));
  YamlAssoc root;
  root.put("k", std::make_shared<YamlScalar>("v"));
  root.save(file);
  EXPECT_EQ(readFile("doc.yml"), kHeader + "\r\nk: v");
  // Nothing but the document is left in the directory.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_),
                          std::filesystem::directory_iterator()),
            1);
}

TEST_F(YamlSave, LargeDocumentIsWrittenWhole) {
  YamlArray root;
  StringList values;
  for (int i = 0; i < 50000; ++i) values.push_back("value" + std::to_string(i));
  root.appendStrings(values);
  root.save(path("big.yml"));
  EXPECT_EQ(readFile("big.yml"), written(root));
}

// A document saved under one of two names of a file reaches both: the file
// is written into rather than replaced by a new one.
TEST_F(YamlSave, IntoAFileWithTwoNamesBothSeeTheDocument) {
  std::string file = writeFile("doc.yml", std::string(5000, 'x'));
  std::filesystem::create_hard_link(file, path("other.yml"));
  YamlAssoc root;
  root.put("k", std::make_shared<YamlScalar>("v"));
  root.save(file);
  EXPECT_EQ(readFile("other.yml"), kHeader + "\r\nk: v");
  // The Windows C run time counts every file's links as one.
  if (!vesk::platform::kWindows) {
    EXPECT_EQ(std::filesystem::hard_link_count(file), 2u);
  }
}

TEST_F(YamlSave, UnwritableTargetRaisesTheFileErrorNotYamlError) {
  YamlAssoc root;
  EXPECT_THROW(root.save(path("missing/dir/doc.yml")), vesk::FileException);
  std::filesystem::create_directories(path("adir"));
  EXPECT_THROW(root.save(path("adir")), vesk::FileException);
}

}  // namespace
}  // namespace kesoyaml
