#include "yaml/parser_states.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "yaml/kesoyaml.h"

namespace kesoyaml {
namespace {

using ::testing::ElementsAre;

std::string errorOf(const std::string& text) {
  try {
    parseText(text + '\0');
  } catch (const YamlError& e) {
    return e.what();
  }
  return "(no error)";
}

NodeRef parse(const std::string& text) { return parseText(text + '\0'); }

std::vector<std::string> keys(const NodeRef& node) {
  std::vector<std::string> out;
  for (const auto& entry : node->asAssoc()) out.push_back(entry.first);
  return out;
}

TEST(ParserHeader, AcceptedLeadInsAndHeaderOnlyDocuments) {
  EXPECT_EQ(parse("---"), nullptr);
  EXPECT_EQ(parse("---\n"), nullptr);
  EXPECT_EQ(parse("--- # kesoYAML:0.1"), nullptr);
  EXPECT_EQ(parse("\n  \t# lead\r\n\v\f  ---  # c\n\n# trailing"), nullptr);
  EXPECT_EQ(parse("---\na: 1")->item("a")->asString(), "1");
}

TEST(ParserHeader, Errors) {
  EXPECT_EQ(errorOf(""), "Parser: premature end in line1 pos1");
  EXPECT_EQ(errorOf(" \n# c\n"), "Parser: premature end in line3 pos1");
  EXPECT_EQ(errorOf("--"), "Parser: garbage before document header in line1 pos1");
  EXPECT_EQ(errorOf("-"), "Parser: premature end in line1 pos1");
  EXPECT_EQ(errorOf("---x"), "Parser: garbage after document header in line1 pos3");
  EXPECT_EQ(errorOf("\xEF\xBB\xBF---\n"), "Parser: garbage before document header in line1 pos1");
  EXPECT_EQ(errorOf("a: 1\n---\n"), "Parser: garbage before document header in line1 pos1");
  EXPECT_EQ(errorOf("\n\n  ---- x"), "Parser: garbage after document header in line3 pos6");
}

TEST(ParserStates, ClassNamesForErrorsRaisedThroughAState) {
  YamlParserContext context(std::string("x\0", 2));
  YamlParserArray state;
  state.run(context);  // "-" is expected but anything is accepted and read
  try {
    state.error("odd");
    FAIL();
  } catch (const YamlError& e) {
    EXPECT_STREQ(e.what(), "YamlParserArray: odd in line1 pos1");
  }
}

TEST(ParserEntries, TypicalSettingFileWithBlanksTabsOrCrLf) {
  const std::string blanks =
      "--- # kesoYAML:0.1\n"
      "vesk:\n"
      "  d: out\n"
      "  includes:\n"
      "    - define.vsk:0\n"
      "    - scenario.vsk:1\n"
      "  variables:\n"
      "    maxpage: 30\n";
  std::string tabs;  // each pair of blanks becomes one TAB
  std::string crlf;
  for (std::size_t i = 0; i < blanks.size(); ++i) {
    bool pair = blanks[i] == ' ' && i + 1 < blanks.size() && blanks[i + 1] == ' ';
    tabs += pair ? '\t' : blanks[i];
    if (pair) ++i;
  }
  for (char c : blanks) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  for (const std::string& text : {blanks, tabs, crlf}) {
    NodeRef root = parse(text);
    ASSERT_NE(root, nullptr);
    EXPECT_THAT(keys(root), ElementsAre("vesk"));
    NodeRef vesk = root->item("vesk");
    EXPECT_THAT(keys(vesk), ElementsAre("d", "includes", "variables"));
    EXPECT_EQ(vesk->item("d")->asString(), "out");
    EXPECT_THAT(vesk->item("includes")->asStringArray(),
                ElementsAre("define.vsk:0", "scenario.vsk:1"));
    EXPECT_EQ(vesk->item("variables")->item("maxpage")->asInt(), 30);
  }
}

TEST(ParserEntries, ColonErrors) {
  EXPECT_EQ(errorOf("---\nvesk\n"), "Parser: colon expected in line2 pos1");
  EXPECT_EQ(errorOf("---\r\nvesk\r\n"), "Parser: colon expected in line2 pos2");
  EXPECT_EQ(errorOf("---\n'k'  x: 1\n"), "Parser: colon expected in line2 pos6");
  EXPECT_EQ(errorOf("---\n  : v\n"), "Parser: premature end in line2 pos3");
  EXPECT_EQ(errorOf("---\na: 'x' y\n"), "Parser: garbage after single quote in line2 pos7");
  EXPECT_EQ(errorOf("---\n- \"x\n"), "Parser: unmatched double quote in line2 pos4");
  // Whitespace that is not blank makes a line count as an entry: here an
  // entry with an empty key and no colon.
  EXPECT_EQ(errorOf("---\n\v"), "Parser: colon expected in line2 pos2");
}

TEST(ParserEntries, InlineValuesKeysAndComments) {
  NodeRef root = parse(
      "---\n"
      "a: b#c\n"
      "q: 'x y' # c\n"
      "\"k:\\t\": v\n"
      "e:   # nothing here\n"
      "f:# none\n"
      "g:no-blank\n"
      "dup: 1\n"
      "dup: 2\n");
  EXPECT_THAT(keys(root), ElementsAre("a", "q", "k:\t", "g", "dup"));
  EXPECT_EQ(root->item("a")->asString(), "b");
  EXPECT_EQ(root->item("q")->asString(), "x y");
  EXPECT_EQ(root->item("k:\t")->asString(), "v");
  EXPECT_EQ(root->item("g")->asString(), "no-blank");
  EXPECT_EQ(root->item("dup")->asString(), "2");
}

TEST(ParserEntries, SequencesAndWhatIsNotPartOfTheSubset) {
  NodeRef root = parse(
      "---\n"
      "- one\n"
      "-two\n"
      "- k: v\n"
      "---\n"
      "- [a, b]\n"
      "-\n"
      "- # comment only\n");
  EXPECT_THAT(root->asStringArray(), ElementsAre("one", "two", "k: v", "--", "[a, b]"));
}

TEST(ParserBlocks, BlockReplacesInlineValueAndNestsUnderTheLastKey) {
  NodeRef root = parse(
      "---\n"
      "a: inline\n"
      "  b: 1\n"
      "s:\n"
      "- x\n"
      "- y\n"
      "n:\n"
      "- 1\n"
      "  - 2\n");
  EXPECT_EQ(root->item("a")->item("b")->asString(), "1");
  // Same-indentation sequence entries store under the key, the last one wins.
  EXPECT_EQ(root->item("s")->asString(), "y");
  // A deeper block after an entry read under "n" replaces that entry.
  EXPECT_THAT(root->item("n")->asStringArray(), ElementsAre("2"));
}

TEST(ParserBlocks, InlineScalarThenDeeperSequence) {
  NodeRef root = parse(
      "---\n"
      "- 1\n"
      "  - 2\n");
  ASSERT_TRUE(root->isArray());
  ASSERT_EQ(root->asArray().size(), 2u);
  EXPECT_EQ(root->item(0u)->asString(), "1");
  EXPECT_THAT(root->item(1u)->asStringArray(), ElementsAre("2"));
}

TEST(ParserBlocks, KindMismatchesAtOneIndentation) {
  // A mapping entry where a sequence is open appends its value, key dropped;
  // a sequence entry where a mapping is open stores under the latest key.
  NodeRef root = parse(
      "---\n"
      "list:\n"
      "  - a\n"
      "  k: b\n"
      "map:\n"
      "  x: 1\n"
      "  - c\n");
  EXPECT_THAT(root->item("list")->asStringArray(), ElementsAre("a", "b"));
  EXPECT_EQ(root->item("map")->item("x")->asString(), "c");
}

TEST(ParserBlocks, IndentationDetails) {
  // One TAB and one blank are the same indentation.
  NodeRef same = parse("---\nm:\n\ta: 1\n b: 2\n");
  EXPECT_THAT(keys(same->item("m")), ElementsAre("a", "b"));

  // Indented lines before the first line at indentation 0 are lost.
  NodeRef late = parse("---\n  lost: 1\n  - gone\nkept: 2\n");
  EXPECT_THAT(keys(late), ElementsAre("kept"));
  EXPECT_EQ(parse("---\n  lost: 1\n"), nullptr);

  // Back to an indentation that was never opened: a new mapping under the
  // most recently read key.
  NodeRef between = parse("---\na:\n    b: 1\n  c: 2\n");
  EXPECT_THAT(keys(between), ElementsAre("a", "b"));
  EXPECT_EQ(between->item("a")->item("b")->asString(), "1");
  EXPECT_EQ(between->item("b")->item("c")->asString(), "2");

  // A line of only VT merges with the next: VT, LF and the blank count.
  NodeRef merged = parse("---\nm:\n   x: 1\n\v\n y: 2\n");
  EXPECT_THAT(keys(merged->item("m")), ElementsAre("x", "y"));
  NodeRef other = parse("---\nm:\n  x: 1\n\v\n y: 2\n");
  EXPECT_THAT(keys(other->item("m")), ElementsAre("x"));
  EXPECT_EQ(other->item("m")->item("x")->item("y")->asString(), "2");

  // Indentation 9 and 10 sit at and past the first stack growth.
  NodeRef nine = parse("---\na:\n         b: 9\n");
  EXPECT_EQ(nine->item("a")->item("b")->asString(), "9");
  NodeRef ten = parse("---\na:\n         b:\n          c: 10\n");
  EXPECT_EQ(ten->item("a")->item("b")->item("c")->asString(), "10");
}

// Whitespace-only lines with a VT merge into one indentation as long as the
// text: a million line breaks cost memory for what is open, not per column.
TEST(ParserBlocks, HugeIndentationFromMergedLines) {
  std::string text = "---\nm:\n\v";
  text.append(1000000, '\n');
  text += "x: 1\n";
  NodeRef root = parse(text);
  EXPECT_EQ(root->item("m")->item("x")->asString(), "1");
}

TEST(ParserBlocks, KeyWithoutValueOrBlockAddsNothing) {
  NodeRef root = parse("---\na:\nb:\n");
  ASSERT_TRUE(root->isAssoc());
  EXPECT_THAT(keys(root), ElementsAre());
  NodeRef list = parse("---\n- \n-\n");
  ASSERT_TRUE(list->isArray());
  EXPECT_TRUE(list->asArray().empty());
  // A block of keys without values is still a block: an empty mapping.
  NodeRef nested = parse("---\na:\n  c:\n");
  EXPECT_TRUE(nested->item("a")->asAssoc().empty());
}

TEST(ParserText, BytesPassUnchangedAndNulEndsTheDocument) {
  NodeRef root = parse("---\n\xE6\x97\xA5: \xE6\x9C\xAC\x80\xFF\n");
  EXPECT_EQ(root->item("\xE6\x97\xA5")->asString(), "\xE6\x9C\xAC\x80\xFF");
  std::string withNul = "---\na: 1\n";
  withNul += '\0';
  withNul += "b: 2\n";
  withNul += '\0';
  NodeRef cut = parseText(withNul);
  EXPECT_THAT(keys(cut), ElementsAre("a"));
  // Without its terminator the text gets one.
  EXPECT_EQ(parseText("---\na: 1")->item("a")->asString(), "1");
  EXPECT_EQ(errorOf("---\na: 'open"), "Parser: unmatched single quote in line2 pos5");
}

}  // namespace
}  // namespace kesoyaml
