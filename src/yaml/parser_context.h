// What the parser states share: the cursor over the document text with its
// character scans, the containers open at each indentation, and the error
// messages with their line and column.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "yaml/node.h"

namespace kesoyaml {

// A read past the end of the text. Internal to the reader: parseText turns it
// into the "premature end" error.
class TextOverrun {};

class YamlParserContext {
 public:
  // The text ends with one NUL, the terminator, which every scan stops on.
  explicit YamlParserContext(std::string text);
  YamlParserContext(const YamlParserContext&) = delete;
  YamlParserContext& operator=(const YamlParserContext&) = delete;
  virtual ~YamlParserContext() = default;

  // Checked reads; each raises TextOverrun instead of reading past the text
  // (the terminator itself can be read) and leaves the position unchanged.
  virtual char current() const;
  virtual char peek(std::size_t offset) const;
  virtual std::string_view slice(std::size_t count) const;
  // From the position to the end, terminator included; never fails.
  virtual std::string_view rest() const;

  virtual void advance() { ++pos_; }
  virtual void back() { --pos_; }
  virtual void advanceBy(std::size_t count) { pos_ += count; }
  virtual void backBy(std::size_t count) { pos_ -= count; }

  // On a "#": passes over the comment so that the caller's one advance lands
  // on the last character of its line break (or on the terminator), and
  // returns true.
  virtual bool skipComment();
  // Consumes the rest of the line if it holds only blanks and a comment.
  virtual bool skipBlankLine();
  virtual bool atEnd() const { return current() == '\0'; }

  // Stores a container at the current level and links any node to the nearest
  // open container below it.
  virtual void attach(NodeRef node);
  // Raises YamlError("Parser: " + message + positionText()).
  [[noreturn]] virtual void error(std::string_view message) const;
  // Reads a mapping key or an inline value, quoted or plain.
  virtual std::string getScalar(bool asKey);
  // " in line<N> pos<M>" for the current position.
  virtual std::string positionText() const;

  // Advances past whitespace (blanks, line breaks, VT, FF) and returns how
  // many characters it passed: a line's indentation. Reads the text directly,
  // since deep documents are mostly indentation.
  std::size_t skipWhitespace();

  std::size_t pos() const { return pos_; }
  std::size_t level() const { return level_; }
  void setLevel(std::size_t level) { level_ = level; }
  // The most recently read mapping key, under which containers and scalars
  // are stored in a mapping.
  void setKey(std::string key) { key_ = std::move(key); }

  // The stack: entry i is the container open at indentation i, or empty.
  bool isOpen(std::size_t indentation) const;
  // Empties every entry above the indentation.
  void closeAbove(std::size_t indentation);
  // Entry 0: the document's root, or none.
  NodeRef root() const;

 private:
  struct OpenContainer {
    std::size_t level;
    NodeRef node;
    // The node as the module's own classes, found once when it is opened;
    // both are null for a node of another class.
    YamlAssoc* assoc;
    YamlArray* array;
  };
  void link(const OpenContainer& parent, NodeRef node);

  std::string text_;
  std::size_t pos_ = 0;
  // Only the non-empty entries, in increasing order of level. A document can
  // indent far deeper than it nests (whitespace-only lines merge into the
  // next line's indentation), so only open containers take memory.
  std::vector<OpenContainer> open_;
  std::size_t level_ = 0;
  std::optional<std::string> key_;
};

}  // namespace kesoyaml
