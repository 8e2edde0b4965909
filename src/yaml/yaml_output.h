// Where the writer sends a document: anything that takes bytes. Part of the
// writer, which the program does not call (see kesoyaml.h).
#pragma once

#include <string>
#include <string_view>

namespace kesoyaml {

class YamlOutput {
 public:
  virtual ~YamlOutput() = default;
  // Writes the bytes unchanged.
  virtual void write(std::string_view bytes) = 0;
  // Writes one byte.
  virtual void put(char byte) = 0;
};

// Collects the document in memory.
class StringOutput : public YamlOutput {
 public:
  void write(std::string_view bytes) override { text_.append(bytes); }
  void put(char byte) override { text_.push_back(byte); }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

}  // namespace kesoyaml
