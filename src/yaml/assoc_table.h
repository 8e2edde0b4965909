// The storage of a mapping node: string keys to nodes, in insertion order.
//
// The entries sit in one vector and the hash index is a flat array of
// positions. Building, reading and releasing a large mapping therefore walks
// memory in order, where a node-based hash table chases one heap node per
// entry and turns a mapping that outgrows the cache into a long chain of
// cache misses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kesoyaml {

class YamlHolder;

class AssocTable {
 public:
  using Entry = std::pair<std::string, std::shared_ptr<YamlHolder>>;
  using const_iterator = std::vector<Entry>::const_iterator;

  // Adds the entry, or replaces the node of an existing key in place.
  void set(std::string key, std::shared_ptr<YamlHolder> node);
  const std::shared_ptr<YamlHolder>* find(std::string_view key) const;

  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }

  // Empties the table and hands over its entries.
  std::vector<Entry> takeEntries();

 private:
  // A slot holds the lower half of the key's hash and the entry's position
  // plus one; 0 marks a free slot. The hash bits give the slot's home without
  // touching the entry, so growing walks the old slots in order.
  using Slot = std::uint64_t;
  static Slot makeSlot(std::size_t hash, std::size_t position);
  static std::uint32_t hashBitsOf(Slot slot) { return static_cast<std::uint32_t>(slot >> 32); }
  static std::size_t positionOf(Slot slot) {
    return static_cast<std::size_t>(slot & 0xFFFFFFFFu) - 1;
  }
  // The slot holding the key, or the free slot where it belongs.
  std::size_t slotFor(std::string_view key, std::size_t hash) const;
  void grow();

  std::vector<Entry> entries_;
  std::vector<Slot> slots_;  // a power of two in size, at most three quarters full
};

}  // namespace kesoyaml
