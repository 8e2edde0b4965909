// The reader's states. The document is read line by line: one state reads the
// header, one measures each following line's indentation and classifies it,
// and one each reads a sequence entry and a mapping entry. Every step returns
// the next state, or none when the document is complete.
#pragma once

#include <memory>
#include <string_view>

#include "yaml/parser_context.h"

namespace kesoyaml {

class YamlParserState {
 public:
  virtual ~YamlParserState() = default;

  // Remembers the context and takes one step.
  virtual std::unique_ptr<YamlParserState> run(YamlParserContext& context);
  virtual std::unique_ptr<YamlParserState> step() = 0;
  // "<state class>: <message><position>". The states themselves report
  // through the context's error.
  [[noreturn]] virtual void error(std::string_view message) const;

  virtual std::string_view className() const = 0;

 protected:
  YamlParserContext& context() const { return *context_; }

 private:
  YamlParserContext* context_ = nullptr;
};

// The optional lead-in and the "---" header line.
class YamlParserFirstLine final : public YamlParserState {
 public:
  std::unique_ptr<YamlParserState> step() override;
  std::string_view className() const override { return "YamlParserFirstLine"; }
};

// Skips blank and comment lines, measures the indentation of the next entry
// and closes the containers above it.
class YamlParserLineHead final : public YamlParserState {
 public:
  std::unique_ptr<YamlParserState> step() override;
  std::string_view className() const override { return "YamlParserLineHead"; }
};

// "-" and an optional inline scalar.
class YamlParserArray final : public YamlParserState {
 public:
  std::unique_ptr<YamlParserState> step() override;
  std::string_view className() const override { return "YamlParserArray"; }
};

// A key, ":" and an optional inline scalar.
class YamlParserAssoc final : public YamlParserState {
 public:
  std::unique_ptr<YamlParserState> step() override;
  std::string_view className() const override { return "YamlParserAssoc"; }
};

}  // namespace kesoyaml
