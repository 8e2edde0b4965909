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

// ---- The typed views and setters -------------------------------------------
//
// They differ only in what they read from each child, or in the value each
// new scalar holds.

namespace {

template <class Map, class Value>
Map mapView(const NodeMap& entries, Value (YamlHolder::*read)() const) {
  Map result;
  for (const auto& [key, node] : entries) result.set(key, (*node.*read)());
  return result;
}

template <class List, class Value>
List listView(const NodeList& elements, Value (YamlHolder::*read)() const) {
  List result;
  result.reserve(elements.size());
  for (const NodeRef& node : elements) result.push_back((*node.*read)());
  return result;
}

template <class Map>
void putScalars(YamlAssoc& assoc, const Map& values) {
  for (const auto& [key, value] : values) assoc.put(key, std::make_shared<YamlScalar>(value));
}

template <class List>
void appendScalars(YamlArray& array, const List& values) {
  for (const auto& value : values) array.append(std::make_shared<YamlScalar>(value));
}

}  // namespace

// ---- YamlAssoc --------------------------------------------------------------

NodeMap YamlAssoc::asAssoc() const { return entries_; }

NodeRef YamlAssoc::item(const std::string& key) const {
  const NodeRef* found = entries_.find(key);
  if (found == nullptr) throw YamlError(*this, "key not exists: " + key);
  return *found;
}

StringMap YamlAssoc::asStringAssoc() const {
  return mapView<StringMap>(entries_, &YamlHolder::asString);
}
IntMap YamlAssoc::asIntAssoc() const { return mapView<IntMap>(entries_, &YamlHolder::asInt); }
DoubleMap YamlAssoc::asDoubleAssoc() const {
  return mapView<DoubleMap>(entries_, &YamlHolder::asDouble);
}

// Replaced children die one level down; their own destructors are bounded.
void YamlAssoc::setAssoc(NodeMap entries) { std::swap(entries_, entries); }

void YamlAssoc::putStrings(const StringMap& values) { putScalars(*this, values); }
void YamlAssoc::putInts(const IntMap& values) { putScalars(*this, values); }
void YamlAssoc::putDoubles(const DoubleMap& values) { putScalars(*this, values); }

// ---- YamlArray --------------------------------------------------------------

NodeRef YamlArray::item(std::uint32_t index) const {
  if (index >= elements_.size()) throw YamlError(*this, "key not exists: " + std::to_string(index));
  return elements_[index];
}

StringList YamlArray::asStringArray() const {
  return listView<StringList>(elements_, &YamlHolder::asString);
}
IntList YamlArray::asIntArray() const { return listView<IntList>(elements_, &YamlHolder::asInt); }
DoubleList YamlArray::asDoubleArray() const {
  return listView<DoubleList>(elements_, &YamlHolder::asDouble);
}

void YamlArray::setArray(NodeList elements) { elements_ = std::move(elements); }

void YamlArray::appendStrings(const StringList& values) { appendScalars(*this, values); }
void YamlArray::appendInts(const IntList& values) { appendScalars(*this, values); }
void YamlArray::appendDoubles(const DoubleList& values) { appendScalars(*this, values); }

// ---- YamlScalar -------------------------------------------------------------

std::int32_t YamlScalar::asInt() const { return vesk::parseInt32(text_); }
double YamlScalar::asDouble() const { return parseLeadingDouble(text_); }
void YamlScalar::setInt(std::int32_t value) { setString(std::to_string(value)); }
void YamlScalar::setDouble(double value) { setString(formatFixed(value)); }

}  // namespace kesoyaml
