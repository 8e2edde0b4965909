#include "yaml/parser_context.h"

#include <gtest/gtest.h>

#include <functional>

namespace kesoyaml {
namespace {

YamlParserContext make(std::string_view text) {
  return YamlParserContext(std::string(text) + '\0');
}

std::string errorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const YamlError& e) {
    return e.what();
  } catch (const TextOverrun&) {
    return "(overrun)";
  }
  return "(no error)";
}

TEST(ParserContext, CheckedReadsStopAtTheTerminator) {
  auto in = make("ab");
  EXPECT_EQ(in.current(), 'a');
  EXPECT_EQ(in.peek(2), '\0');
  EXPECT_THROW(in.peek(3), TextOverrun);
  EXPECT_EQ(in.slice(3), std::string_view("ab\0", 3));
  EXPECT_THROW(in.slice(4), TextOverrun);
  in.advanceBy(2);
  EXPECT_TRUE(in.atEnd());
  in.advance();
  EXPECT_THROW(in.current(), TextOverrun);
  EXPECT_EQ(in.slice(0), "");
  EXPECT_THROW(in.slice(1), TextOverrun);
  EXPECT_EQ(in.rest(), "");
  EXPECT_THROW(in.peek(static_cast<std::size_t>(-1)), TextOverrun);  // no wrap-around
  in.backBy(3);
  EXPECT_EQ(in.pos(), 0u);
  EXPECT_EQ(in.rest(), std::string_view("ab\0", 3));
}

TEST(ParserContext, CommentLeavesPosOnTheLastCharacterOfItsLineBreak) {
  for (auto [text, expected] :
       {std::pair{"# c\nx", 3}, {"# c\r\nx", 4}, {"# c\rx", 3}, {"# c", 3}}) {
    auto in = make(text);
    ASSERT_TRUE(in.skipComment());
    in.advance();
    EXPECT_EQ(in.pos(), static_cast<std::size_t>(expected)) << text;
  }
  auto in = make("x#");
  EXPECT_FALSE(in.skipComment());
  EXPECT_EQ(in.pos(), 0u);
}

TEST(ParserContext, BlankLineConsumesBlanksCommentAndLineBreak) {
  struct Case {
    const char* text;
    bool blank;
    std::size_t pos;
  } cases[] = {
      {" \t\nx", true, 3}, {" # c\r\nx", true, 6}, {"\rx", true, 1},   {"  ", true, 2},
      {"# only", true, 6}, {"  x\n", false, 0},    {"\v\n", false, 0}, {"\f", false, 0},
  };
  for (const Case& c : cases) {
    auto in = make(c.text);
    EXPECT_EQ(in.skipBlankLine(), c.blank) << c.text;
    EXPECT_EQ(in.pos(), c.pos) << c.text;
  }
}

TEST(ParserContext, PlainValueEndsAtLineBreakOrHashAndLosesTrailingBlanks) {
  struct Case {
    const char* text;
    const char* value;
    std::size_t pos;
  } cases[] = {
      {"b#c\n", "b", 1},   {"a b \t\r\nx", "a b", 5}, {"v: w 'q' \"r\"", "v: w 'q' \"r\"", 12},
      {"last", "last", 4}, {"x #c", "x", 2},          {"\v\n", "\v", 1},
  };
  for (const Case& c : cases) {
    auto in = make(c.text);
    EXPECT_EQ(in.getScalar(false), c.value) << c.text;
    EXPECT_EQ(in.pos(), c.pos) << c.text;
  }
  auto blank = make("   # only a comment\nnext");
  EXPECT_EQ(blank.getScalar(false), "");
  EXPECT_EQ(blank.current(), 'n');
}

TEST(ParserContext, PlainKeyRunsToTheFirstColonAcrossLines) {
  auto in = make("abc\nd: e");
  EXPECT_EQ(in.getScalar(true), "abc\nd");
  EXPECT_EQ(in.current(), ':');

  auto hashes = make("k#'\" \t: v");
  EXPECT_EQ(hashes.getScalar(true), "k#'\"");

  auto none = make("no colon here");
  EXPECT_EQ(none.getScalar(true), "");
  EXPECT_EQ(none.pos(), 0u);

  auto empty = make(": v");
  EXPECT_THROW(empty.getScalar(true), TextOverrun);
  EXPECT_EQ(empty.pos(), 0u);
}

TEST(ParserContext, QuotedScalars) {
  auto single = make("'a b'  # c\nnext");
  EXPECT_EQ(single.getScalar(false), "a b");
  EXPECT_EQ(single.current(), 'n');

  auto spanning = make("'one\r\ntwo'\n");
  EXPECT_EQ(spanning.getScalar(false), "one\r\ntwo");

  auto key = make("\"k\\tx\" \t: v");
  EXPECT_EQ(key.getScalar(true), "k\tx");
  EXPECT_EQ(key.current(), ':');

  // A key's quote is followed by blanks only; a comment is not skipped.
  auto keyHash = make("'k' #: v");
  EXPECT_EQ(keyHash.getScalar(true), "k");
  EXPECT_EQ(keyHash.current(), '#');

  auto empty = make("''\n");
  EXPECT_EQ(empty.getScalar(false), "");

  // The single-quoted content is taken as it is.
  auto raw = make("'\\n'");
  EXPECT_EQ(raw.getScalar(false), "\\n");
}

TEST(ParserContext, EscapesApplyRowByRowWithTheDoubledBackslashLast) {
  auto all = make("\"\\a\\b\\f\\n\\r\\t\\v\\ \\\\\\q\"");
  EXPECT_EQ(all.getScalar(false), "\a\b\f\n\r\t\v \\\\q");
  // x \t y, two backslashes, n: "\n" goes to LF before the pair is looked at.
  auto pair = make("\"x\\ty\\\\n\"");
  EXPECT_EQ(pair.getScalar(false), "x\ty\\\n");
  // With four backslashes the last one pairs with n, and the other three leave
  // one pair and one lone backslash.
  auto four = make("\"x\\ty\\\\\\\\n\"");
  EXPECT_EQ(four.getScalar(false), "x\ty\\\\\n");
}

TEST(ParserContext, QuotingErrorsWithPositions) {
  EXPECT_EQ(errorOf([] { make("'abc\n").getScalar(false); }),
            "Parser: unmatched single quote in line1 pos1");
  EXPECT_EQ(errorOf([] { make("\"abc").getScalar(true); }),
            "Parser: unmatched double quote in line1 pos1");
  EXPECT_EQ(errorOf([] { make("'a' b\n").getScalar(false); }),
            "Parser: garbage after single quote in line1 pos3");
  // A backslash does not protect a double quote.
  EXPECT_EQ(errorOf([] { make("\"a\\\"b\"\n").getScalar(false); }),
            "Parser: garbage after double quote in line1 pos4");
}

TEST(ParserContext, PositionTextCountsLinesAndColumns) {
  struct Case {
    const char* text;
    std::size_t pos;
    const char* expected;
  } cases[] = {
      {"", 0, " in line1 pos1"},
      {"abcd", 0, " in line1 pos1"},
      {"abcd", 1, " in line1 pos1"},
      {"abcd", 3, " in line1 pos3"},
      {"---\nvesk\n", 4, " in line2 pos1"},
      {"---\r\nvesk", 5, " in line2 pos2"},
      {"a\rb\rc", 4, " in line3 pos1"},
      {"a\n\nb", 3, " in line3 pos1"},
      {"a\n\r\nb", 4, " in line3 pos2"},
      {"ab", 10, " in line1 pos3"},
  };
  for (const Case& c : cases) {
    auto in = make(c.text);
    in.advanceBy(c.pos);
    EXPECT_EQ(in.positionText(), c.expected) << c.text << " @" << c.pos;
  }
  auto in = make("x\ny");
  in.advanceBy(2);
  EXPECT_EQ(errorOf([&] { in.error("boom"); }), "Parser: boom in line2 pos1");
}

TEST(ParserContext, AttachLinksToTheNearestOpenContainer) {
  auto in = make("");
  auto root = std::make_shared<YamlAssoc>();
  in.attach(root);  // level 0: the root
  EXPECT_EQ(in.root(), root);
  in.setKey("list");
  in.setLevel(3);
  auto list = std::make_shared<YamlArray>();
  in.attach(list);
  EXPECT_TRUE(in.isOpen(3));
  EXPECT_FALSE(in.isOpen(1));
  in.setLevel(4);
  in.attach(std::make_shared<YamlScalar>("a"));  // a scalar is never stacked
  EXPECT_FALSE(in.isOpen(4));
  EXPECT_EQ(list->asStringArray(), StringList{"a"});
  EXPECT_EQ(root->item("list"), list);

  in.closeAbove(0);
  EXPECT_FALSE(in.isOpen(3));
  in.setLevel(1);
  in.setKey("list");  // the same key replaces the earlier node
  in.attach(std::make_shared<YamlScalar>("b"));
  EXPECT_EQ(root->item("list")->asString(), "b");

  // Without any container below, a deeper container has no parent.
  auto orphanContext = make("");
  orphanContext.setLevel(2);
  orphanContext.attach(std::make_shared<YamlAssoc>());
  EXPECT_EQ(orphanContext.root(), nullptr);
}

// A container of another class, which the context can only reach through the
// node interface.
class ForeignArray : public YamlHolder {
 public:
  void writeBody(YamlOutput&, std::int32_t) const override {}
  NodeList asArray() const override { return elements; }
  void setArray(NodeList list) override {
    elements = std::move(list);
    ++sets;
  }
  bool isArray() const override { return true; }
  std::string_view className() const override { return "ForeignArray"; }
  NodeList elements;
  int sets = 0;
};

TEST(ParserContext, AttachToAContainerOfAnotherClassUsesTheNodeInterface) {
  auto in = make("");
  auto foreign = std::make_shared<ForeignArray>();
  in.attach(foreign);
  in.setLevel(1);
  in.attach(std::make_shared<YamlScalar>("a"));
  in.attach(std::make_shared<YamlScalar>("b"));
  EXPECT_EQ(foreign->sets, 2);
  ASSERT_EQ(foreign->elements.size(), 2u);
  EXPECT_EQ(foreign->elements[1]->asString(), "b");
}

}  // namespace
}  // namespace kesoyaml
