// The in-memory tree of a YAML-subset document.
//
// Every node answers the whole node interface. The base class answers each
// operation of one kind of node by raising YamlError, and each concrete class
// overrides only the operations of its own kind, so a caller walks a tree
// without casts: it asks for what it expects, and a document of the wrong
// shape surfaces as "<class of the node asked>: not scalar" and the like.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/ordered_map.h"
#include "yaml/yaml_error.h"
#include "yaml/yaml_output.h"

namespace kesoyaml {

class YamlHolder;

// Nodes are shared: a container refers to its children, and a node lives as
// long as anything refers to it.
using NodeRef = std::shared_ptr<YamlHolder>;

// Mappings keep their entries in insertion order.
using NodeMap = vesk::OrderedMap<NodeRef>;
using StringMap = vesk::OrderedMap<std::string>;
using IntMap = vesk::OrderedMap<std::int32_t>;
using DoubleMap = vesk::OrderedMap<double>;

using NodeList = std::vector<NodeRef>;
using StringList = std::vector<std::string>;
using IntList = std::vector<std::int32_t>;
using DoubleList = std::vector<double>;

class YamlHolder {
 public:
  virtual ~YamlHolder() = default;
  YamlHolder(const YamlHolder&) = delete;
  YamlHolder& operator=(const YamlHolder&) = delete;

  // The writer (writer.cpp); the program does not call it (see kesoyaml.h).
  // Writes the document to the named file; the file then holds nothing else.
  virtual void save(const std::string& fileName) const;
  // Writes the document header and then this node as the root.
  virtual void write(YamlOutput& out) const;
  virtual void writeBody(YamlOutput& out, std::int32_t depth) const = 0;

  virtual NodeRef item(const std::string& key) const;
  virtual NodeRef item(std::uint32_t index) const;

  // The collection views return copies whose entries share the child nodes;
  // changing a copy changes nothing until it is handed back by a setter.
  // Of the views and setters below, the program calls only asAssoc, asArray
  // and asString; the typed ones and the setters are kept for the module's
  // interface (see kesoyaml.h).
  virtual NodeMap asAssoc() const;
  virtual StringMap asStringAssoc() const;
  virtual IntMap asIntAssoc() const;
  virtual DoubleMap asDoubleAssoc() const;
  virtual void setAssoc(NodeMap entries);
  virtual void putStrings(const StringMap& values);
  virtual void putInts(const IntMap& values);
  virtual void putDoubles(const DoubleMap& values);

  virtual NodeList asArray() const;
  virtual StringList asStringArray() const;
  virtual IntList asIntArray() const;
  virtual DoubleList asDoubleArray() const;
  virtual void setArray(NodeList elements);
  virtual void appendStrings(const StringList& values);
  virtual void appendInts(const IntList& values);
  virtual void appendDoubles(const DoubleList& values);

  virtual std::string asString() const;
  // Strict decimal; raises vesk::ConversionException or
  // vesk::OverflowException, never YamlError, for a bad text.
  virtual std::int32_t asInt() const;
  // strtod rules: the longest leading number, 0 if there is none.
  virtual double asDouble() const;
  virtual void setString(std::string text);
  virtual void setInt(std::int32_t value);
  // Stores the "%f" form of the value.
  virtual void setDouble(double value);

  virtual bool isAssoc() const { return false; }
  virtual bool isArray() const { return false; }
  virtual bool isScalar() const { return false; }

  // The name of the concrete class, used in error messages.
  virtual std::string_view className() const { return "YamlHolder"; }

 protected:
  YamlHolder() = default;

 private:
  [[noreturn]] void fail(std::string_view message) const;
};

class YamlAssoc final : public YamlHolder {
 public:
  YamlAssoc() = default;
  ~YamlAssoc() override;

  void writeBody(YamlOutput& out, std::int32_t depth) const override;
  using YamlHolder::item;
  NodeRef item(const std::string& key) const override;
  NodeMap asAssoc() const override;
  StringMap asStringAssoc() const override;
  IntMap asIntAssoc() const override;
  DoubleMap asDoubleAssoc() const override;
  void setAssoc(NodeMap entries) override;
  void putStrings(const StringMap& values) override;
  void putInts(const IntMap& values) override;
  void putDoubles(const DoubleMap& values) override;
  bool isAssoc() const override { return true; }
  std::string_view className() const override { return "YamlAssoc"; }

  // Direct access without copying, for the parser and the writer.
  const NodeMap& entries() const { return entries_; }
  void put(std::string key, NodeRef node) { entries_.set(std::move(key), std::move(node)); }

 private:
  friend void releaseChildren(NodeRef node, NodeList& pending);
  NodeMap entries_;
};

class YamlArray final : public YamlHolder {
 public:
  YamlArray() = default;
  ~YamlArray() override;

  void writeBody(YamlOutput& out, std::int32_t depth) const override;
  using YamlHolder::item;
  NodeRef item(std::uint32_t index) const override;
  NodeList asArray() const override { return elements_; }
  StringList asStringArray() const override;
  IntList asIntArray() const override;
  DoubleList asDoubleArray() const override;
  void setArray(NodeList elements) override;
  void appendStrings(const StringList& values) override;
  void appendInts(const IntList& values) override;
  void appendDoubles(const DoubleList& values) override;
  bool isArray() const override { return true; }
  std::string_view className() const override { return "YamlArray"; }

  // Direct access without copying, for the parser and the writer.
  const NodeList& elements() const { return elements_; }
  void append(NodeRef node) { elements_.push_back(std::move(node)); }

 private:
  friend void releaseChildren(NodeRef node, NodeList& pending);
  NodeList elements_;
};

class YamlScalar final : public YamlHolder {
 public:
  explicit YamlScalar(std::string text) { setString(std::move(text)); }
  explicit YamlScalar(std::int32_t value) { setInt(value); }
  explicit YamlScalar(double value) { setDouble(value); }

  void writeBody(YamlOutput& out, std::int32_t depth) const override;
  std::string asString() const override { return text_; }
  std::int32_t asInt() const override;
  double asDouble() const override;
  void setString(std::string text) override { text_ = std::move(text); }
  void setInt(std::int32_t value) override;
  void setDouble(double value) override;
  bool isScalar() const override { return true; }
  std::string_view className() const override { return "YamlScalar"; }

  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

}  // namespace kesoyaml
