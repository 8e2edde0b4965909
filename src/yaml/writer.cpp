// The writer: a node tree as YAML-subset text. Writing never changes the tree.
// Kept for the module's interface; the program itself never writes YAML.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "yaml/node.h"

namespace kesoyaml {
namespace {

constexpr std::string_view kHeader = "--- # kesoYAML:0.1";
constexpr std::string_view kLineEnd = "\r\n";
// A scalar holding any of these is written between double quotes.
constexpr std::string_view kNeedsQuotes{" \a\b\f\n\r\t\v\"\\", 10};

// Buffers the document and hands it to the file in large pieces.
class FileOutput : public YamlOutput {
 public:
  explicit FileOutput(vesk::platform::SaveFile& file) : file_(file) {}
  void write(std::string_view bytes) override {
    buffer_.append(bytes);
    if (buffer_.size() >= kFlushSize) flush();
  }
  void put(char byte) override { write(std::string_view(&byte, 1)); }
  void flush() {
    file_.write(buffer_);
    buffer_.clear();
  }

 private:
  static constexpr std::size_t kFlushSize = 1 << 16;
  vesk::platform::SaveFile& file_;
  std::string buffer_;
};

// Line end and indentation that start every entry.
void writeEntryStart(YamlOutput& out, std::string& tabs, std::int32_t depth) {
  std::size_t count = depth > 0 ? static_cast<std::size_t>(depth) : 0;
  if (tabs.size() < count) tabs.resize(count, '\t');
  out.write(kLineEnd);
  out.write(std::string_view(tabs).substr(0, count));
}

// Writes a container's entries and everything below them. Nested containers go
// on an explicit stack rather than the call stack, so any depth that could be
// built can also be written.
void writeContainer(const YamlHolder& root, YamlOutput& out, std::int32_t depth) {
  struct Frame {
    const YamlHolder* node;
    std::size_t next;
    std::int32_t depth;
  };
  std::vector<Frame> frames{{&root, 0, depth}};
  std::string tabs;
  while (!frames.empty()) {
    Frame& frame = frames.back();
    const YamlHolder* child = nullptr;
    if (const auto* assoc = dynamic_cast<const YamlAssoc*>(frame.node)) {
      const NodeMap& entries = assoc->entries();
      if (frame.next == entries.size()) {
        frames.pop_back();
        continue;
      }
      const auto& [key, node] = *(entries.begin() + static_cast<std::ptrdiff_t>(frame.next++));
      writeEntryStart(out, tabs, frame.depth);
      out.write(key);
      out.write(": ");
      child = node.get();
    } else {
      const NodeList& elements = static_cast<const YamlArray*>(frame.node)->elements();
      if (frame.next == elements.size()) {
        frames.pop_back();
        continue;
      }
      const NodeRef& node = elements[frame.next++];
      writeEntryStart(out, tabs, frame.depth);
      out.write("- ");
      child = node.get();
    }
    std::int32_t childDepth = frame.depth + 1;  // frame may move on push_back
    if (dynamic_cast<const YamlAssoc*>(child) != nullptr ||
        dynamic_cast<const YamlArray*>(child) != nullptr) {
      frames.push_back({child, 0, childDepth});
    } else {
      child->writeBody(out, childDepth);
    }
  }
}

}  // namespace

void YamlHolder::save(const std::string& fileName) const {
  // A plain file is replaced only when the document is complete, so it never
  // holds a torn document or an older tail; a FIFO, a device, a file with
  // several links or the target of a link is written into, as it must be.
  vesk::platform::SaveFile file(fileName);
  FileOutput out(file);
  write(out);
  out.flush();
  file.commit();
}

void YamlHolder::write(YamlOutput& out) const {
  out.write(kHeader);
  writeBody(out, 0);
}

void YamlAssoc::writeBody(YamlOutput& out, std::int32_t depth) const {
  writeContainer(*this, out, depth);
}

void YamlArray::writeBody(YamlOutput& out, std::int32_t depth) const {
  writeContainer(*this, out, depth);
}

void YamlScalar::writeBody(YamlOutput& out, std::int32_t) const {
  if (text_.find_first_of(kNeedsQuotes) == std::string::npos) {
    out.write(text_);
    return;
  }
  out.put('"');
  out.write(text_);
  out.put('"');
}

}  // namespace kesoyaml
