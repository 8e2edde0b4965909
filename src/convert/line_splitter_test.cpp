#include "convert/line_splitter.h"

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "convert/byte_mask.h"

namespace vesk {
namespace {

// The plain definition of blockMask, one byte at a time.
template <char... Bytes>
std::uint64_t blockMaskBytewise(const char* block) {
  std::uint64_t mask = 0;
  for (std::size_t i = 0; i < kMaskBlock; ++i) {
    if (((block[i] == Bytes) || ...)) mask |= std::uint64_t{1} << i;
  }
  return mask;
}

TEST(BlockMaskTest, EveryVersionFindsExactlyTheChosenBytes) {
  std::mt19937 random(7);
  // Bytes next to the chosen ones (and 0x80 upwards) catch a sloppy
  // zero-byte test in the word version.
  const std::string alphabet = std::string("\n\r$}\x09\x0b\x0c\x0e#%|~ \x7f\x80\xff\x8a\x00", 18);
  char block[kMaskBlock];
  for (int round = 0; round < 2000; ++round) {
    for (char& c : block)
      c = round % 2 ? alphabet[random() % alphabet.size()] : static_cast<char>(random());
    std::uint64_t expected = blockMaskBytewise<'\n', '\r', '$', '}'>(block);
    ASSERT_EQ((blockMaskWords<'\n', '\r', '$', '}'>(block)), expected) << round;
    ASSERT_EQ((blockMask<'\n', '\r', '$', '}'>(block)), expected) << round;
  }
  std::string all(kMaskBlock, '$');
  EXPECT_EQ((blockMask<'$'>(all.data())), ~std::uint64_t{0});
  EXPECT_EQ((blockMaskWords<'\0'>(std::string(kMaskBlock, 'a').data())), 0u);
}

struct Line {
  std::string text;
  LineMarks marks;
  bool operator==(const Line& o) const {
    return text == o.text && marks.firstDollar == o.marks.firstDollar &&
           marks.lastBrace == o.marks.lastBrace;
  }
};

std::ostream& operator<<(std::ostream& out, const Line& line) {
  return out << '"' << line.text << "\" $" << static_cast<long long>(line.marks.firstDollar) << " }"
             << static_cast<long long>(line.marks.lastBrace);
}

// The whole text split at once, byte by byte.
std::vector<Line> splitWhole(std::string_view text) {
  std::vector<Line> lines;
  std::string current;
  auto close = [&] {
    Line line{current, {}};
    line.marks.firstDollar = current.find('$');
    line.marks.lastBrace = current.rfind('}');
    lines.push_back(line);
    current.clear();
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      close();
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      current.push_back(text[i]);
    }
  }
  if (!current.empty()) close();
  return lines;
}

// Fed in chunks of random sizes up to maxChunk, or all of that size.
std::vector<Line> splitInChunks(std::string_view text, std::mt19937& random, std::size_t maxChunk,
                                bool fixed = false) {
  std::vector<Line> lines;
  auto collect = [&](std::string_view line, const LineMarks& marks) {
    lines.push_back({std::string(line), marks});
  };
  LineSplitter splitter;
  while (!text.empty()) {
    std::size_t size =
        std::min<std::size_t>(text.size(), fixed ? maxChunk : 1 + random() % maxChunk);
    splitter.feed(text.substr(0, size), collect);
    text.remove_prefix(size);
  }
  splitter.finish(collect);
  return lines;
}

TEST(LineSplitterTest, ChunkedSplitAgreesWithWholeText) {
  std::mt19937 random(11);
  const std::string alphabet = "ab$}{\r\n\r\n";
  for (int round = 0; round < 3000; ++round) {
    // Long texts with rare breaks give lines across many blocks and chunks.
    std::size_t length = random() % (round % 3 == 0 ? 600 : 90);
    std::string text(length, 'x');
    std::size_t spread = round % 2 ? alphabet.size() : 40;
    for (char& c : text) {
      std::size_t pick = random() % spread;
      if (pick < alphabet.size()) c = alphabet[pick];
    }
    std::size_t maxChunk = round % 4 == 0 ? 3 : 200;
    ASSERT_EQ(splitInChunks(text, random, maxChunk), splitWhole(text)) << "round " << round;
  }
}

TEST(LineSplitterTest, BreaksAtChunkAndBlockEdges) {
  std::mt19937 random(3);
  const std::vector<std::string> texts = {std::string(63, 'a') + "\r\n" + "b",
                                          std::string(64, 'a') + "\r\n",
                                          std::string(127, '$') + "\r",
                                          "\r",
                                          "\n",
                                          "\r\r\n\n",
                                          std::string(200, '}')};
  for (const std::string& text : texts) {
    for (std::size_t maxChunk : {1, 2, 63, 64, 65, 1000}) {
      EXPECT_EQ(splitInChunks(text, random, maxChunk, true), splitWhole(text))
          << text.size() << " " << maxChunk;
    }
  }
}

}  // namespace
}  // namespace vesk
