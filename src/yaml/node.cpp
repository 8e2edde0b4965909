#include "yaml/node.h"

#include <string>
#include <utility>

#include "base/text.h"
#include "yaml/scalar_text.h"

namespace kesoyaml {

// ---- YamlHolder: every operation of another kind raises -------------------

void YamlHolder::fail(std::string_view message) const { throw YamlError(*this, message); }

namespace {
constexpr std::string_view kNotAssoc = "not associative array";
constexpr std::string_view kNotArray = "not array";
constexpr std::string_view kNotScalar = "not scalar";
}  // namespace

NodeRef YamlHolder::item(const std::string&) const { fail(kNotAssoc); }
NodeRef YamlHolder::item(std::uint32_t) const { fail(kNotArray); }

NodeMap YamlHolder::asAssoc() const { fail(kNotAssoc); }
StringMap YamlHolder::asStringAssoc() const { fail(kNotAssoc); }
IntMap YamlHolder::asIntAssoc() const { fail(kNotAssoc); }
DoubleMap YamlHolder::asDoubleAssoc() const { fail(kNotAssoc); }
// The setters take their value by value so that containers can move it in.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
void YamlHolder::setAssoc(NodeMap) { fail(kNotAssoc); }
void YamlHolder::putStrings(const StringMap&) { fail(kNotAssoc); }
void YamlHolder::putInts(const IntMap&) { fail(kNotAssoc); }
void YamlHolder::putDoubles(const DoubleMap&) { fail(kNotAssoc); }

NodeList YamlHolder::asArray() const { fail(kNotArray); }
StringList YamlHolder::asStringArray() const { fail(kNotArray); }
IntList YamlHolder::asIntArray() const { fail(kNotArray); }
DoubleList YamlHolder::asDoubleArray() const { fail(kNotArray); }
// NOLINTNEXTLINE(performance-unnecessary-value-param)
void YamlHolder::setArray(NodeList) { fail(kNotArray); }
void YamlHolder::appendStrings(const StringList&) { fail(kNotArray); }
void YamlHolder::appendInts(const IntList&) { fail(kNotArray); }
void YamlHolder::appendDoubles(const DoubleList&) { fail(kNotArray); }

std::string YamlHolder::asString() const { fail(kNotScalar); }
std::int32_t YamlHolder::asInt() const { fail(kNotScalar); }
double YamlHolder::asDouble() const { fail(kNotScalar); }
// NOLINTNEXTLINE(performance-unnecessary-value-param)
void YamlHolder::setString(std::string) { fail(kNotScalar); }
void YamlHolder::setInt(std::int32_t) { fail(kNotScalar); }
void YamlHolder::setDouble(double) { fail(kNotScalar); }

// ---- Releasing without recursion ------------------------------------------
//
// Left alone, destroying a container destroys its children from inside its
// own destructor, so a tree nested a million levels deep would need a million
// nested destructor frames. Instead each container hands its children to a
// worklist; a child that nothing else holds gives up its own children to the
// same list before it dies, so every destructor runs with an empty container
// and the stack depth stays constant.

// By value on purpose: use_count() must see only the worklist's reference.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
void releaseChildren(NodeRef node, NodeList& pending) {
  // A scalar has no children; someone else who holds the node keeps them.
  if (node->isScalar() || node.use_count() != 1) return;
  if (auto* array = dynamic_cast<YamlArray*>(node.get())) {
    for (NodeRef& child : array->elements_) pending.push_back(std::move(child));
    array->elements_.clear();
  } else if (auto* assoc = dynamic_cast<YamlAssoc*>(node.get())) {
    for (auto& entry : assoc->entries_.takeEntries()) pending.push_back(std::move(entry.second));
  }
}

namespace {

void drain(NodeList& pending) {
  while (!pending.empty()) {
    NodeRef node = std::move(pending.back());
    pending.pop_back();
    releaseChildren(std::move(node), pending);
  }
}

}  // namespace

YamlAssoc::~YamlAssoc() {
  NodeList pending;
  pending.reserve(entries_.size());
  for (auto& entry : entries_.takeEntries()) pending.push_back(std::move(entry.second));
  drain(pending);
}

YamlArray::~YamlArray() {
  NodeList pending = std::move(elements_);
  drain(pending);
}

// ---- YamlAssoc --------------------------------------------------------------

NodeMap YamlAssoc::asAssoc() const {
  NodeMap result;
  for (const auto& [key, node] : entries_) result.set(key, node);
  return result;
}

NodeRef YamlAssoc::item(const std::string& key) const {
  const NodeRef* found = entries_.find(key);
  if (found == nullptr) throw YamlError(*this, "key not exists: " + key);
  return *found;
}

StringMap YamlAssoc::asStringAssoc() const {
  StringMap result;
  for (const auto& [key, node] : entries_) result.set(key, node->asString());
  return result;
}

IntMap YamlAssoc::asIntAssoc() const {
  IntMap result;
  for (const auto& [key, node] : entries_) result.set(key, node->asInt());
  return result;
}

DoubleMap YamlAssoc::asDoubleAssoc() const {
  DoubleMap result;
  for (const auto& [key, node] : entries_) result.set(key, node->asDouble());
  return result;
}

// Replaced children die one level down; their own destructors are bounded.
void YamlAssoc::setAssoc(NodeMap entries) { std::swap(entries_, entries); }

void YamlAssoc::putStrings(const StringMap& values) {
  for (const auto& [key, value] : values) put(key, std::make_shared<YamlScalar>(value));
}

void YamlAssoc::putInts(const IntMap& values) {
  for (const auto& [key, value] : values) put(key, std::make_shared<YamlScalar>(value));
}

void YamlAssoc::putDoubles(const DoubleMap& values) {
  for (const auto& [key, value] : values) put(key, std::make_shared<YamlScalar>(value));
}

// ---- YamlArray --------------------------------------------------------------

NodeRef YamlArray::item(std::uint32_t index) const {
  if (index >= elements_.size()) throw YamlError(*this, "key not exists: " + std::to_string(index));
  return elements_[index];
}

StringList YamlArray::asStringArray() const {
  StringList result;
  result.reserve(elements_.size());
  for (const NodeRef& node : elements_) result.push_back(node->asString());
  return result;
}

IntList YamlArray::asIntArray() const {
  IntList result;
  result.reserve(elements_.size());
  for (const NodeRef& node : elements_) result.push_back(node->asInt());
  return result;
}

DoubleList YamlArray::asDoubleArray() const {
  DoubleList result;
  result.reserve(elements_.size());
  for (const NodeRef& node : elements_) result.push_back(node->asDouble());
  return result;
}

void YamlArray::setArray(NodeList elements) { elements_ = std::move(elements); }

void YamlArray::appendStrings(const StringList& values) {
  for (const std::string& value : values) append(std::make_shared<YamlScalar>(value));
}

void YamlArray::appendInts(const IntList& values) {
  for (std::int32_t value : values) append(std::make_shared<YamlScalar>(value));
}

void YamlArray::appendDoubles(const DoubleList& values) {
  for (double value : values) append(std::make_shared<YamlScalar>(value));
}

// ---- YamlScalar -------------------------------------------------------------

std::int32_t YamlScalar::asInt() const { return vesk::parseInt32(text_); }
double YamlScalar::asDouble() const { return parseLeadingDouble(text_); }
void YamlScalar::setInt(std::int32_t value) { setString(std::to_string(value)); }
void YamlScalar::setDouble(double value) { setString(formatFixed(value)); }

}  // namespace kesoyaml
