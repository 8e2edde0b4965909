// A string-keyed table that yields its entries in insertion order.
//
// vesk's tables (source files, options, variables, the YAML reader's
// mappings) must give the same order on every platform and every run:
// automatic output numbers follow it. Keys compare byte for byte. Replacing a
// value keeps the entry's place; lookups and inserts are O(1) on average.
//
// The entries sit in one vector and the hash index is a flat array of
// positions, so building, copying and releasing a large table walks memory in
// order instead of chasing one heap node per entry: a setting file with a
// couple of hundred thousand variables stays linear in its size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vesk {

template <class Value>
class OrderedMap {
 public:
  using Entry = std::pair<std::string, Value>;
  using const_iterator = typename std::vector<Entry>::const_iterator;

  // Adds the entry, or replaces the value of an existing one in place.
  void set(std::string key, Value value) {
    if ((entries_.size() + 1) * 4 > slots_.size() * 3) grow();
    std::size_t hash = hashOf(key);
    std::size_t i = slotFor(key, hash);
    if (slots_[i] != 0) {
      entries_[positionOf(slots_[i])].second = std::move(value);
      return;
    }
    if (entries_.size() >= kMaxEntries) throw std::length_error("table too large");
    slots_[i] = makeSlot(hash, entries_.size());
    entries_.emplace_back(std::move(key), std::move(value));
  }

  // Adds the entry only when the key is absent; returns whether it did.
  bool setIfAbsent(const std::string& key, const Value& value) {
    if (contains(key)) return false;
    set(key, value);
    return true;
  }

  const Value* find(std::string_view key) const {
    const Entry* entry = lookup(key);
    return entry == nullptr ? nullptr : &entry->second;
  }
  Value* find(std::string_view key) { return const_cast<Value*>(std::as_const(*this).find(key)); }
  bool contains(std::string_view key) const { return lookup(key) != nullptr; }

  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  // Empties the table and hands over its entries, so that a caller can
  // release large values one by one (the YAML tree does, to keep deep
  // documents off the stack).
  std::vector<Entry> takeEntries() {
    slots_.clear();
    std::vector<Entry> taken;
    taken.swap(entries_);
    return taken;
  }

  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }

 private:
  // A slot holds the low 32 bits of the key's hash above the entry's
  // position plus one; 0 marks a free slot. The index never has more than
  // 2^32 slots, so the bits kept give a slot's home without reading its key
  // again, and growing walks the old slots in order.
  using Slot = std::uint64_t;
  static constexpr std::size_t kMaxEntries = std::size_t{1} << 31;

  static std::size_t hashOf(std::string_view key) { return std::hash<std::string_view>{}(key); }
  static std::uint32_t tagOf(std::size_t hash) { return static_cast<std::uint32_t>(hash); }
  static Slot makeSlot(std::size_t hash, std::size_t position) {
    return (static_cast<Slot>(tagOf(hash)) << 32) | static_cast<Slot>(position + 1);
  }
  static std::size_t positionOf(Slot slot) {
    return static_cast<std::size_t>(slot & 0xFFFFFFFFu) - 1;
  }

  // The slot holding the key, or the free slot where it belongs. Linear
  // probing in an index at most three quarters full.
  std::size_t slotFor(std::string_view key, std::size_t hash) const {
    std::size_t mask = slots_.size() - 1;
    std::uint32_t tag = tagOf(hash);
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
      Slot slot = slots_[i];
      if (slot == 0) return i;
      if (static_cast<std::uint32_t>(slot >> 32) == tag && entries_[positionOf(slot)].first == key)
        return i;
    }
  }

  const Entry* lookup(std::string_view key) const {
    if (slots_.empty()) return nullptr;
    Slot slot = slots_[slotFor(key, hashOf(key))];
    return slot == 0 ? nullptr : &entries_[positionOf(slot)];
  }

  // Doubles the index, moving each slot to its home in the larger one.
  void grow() {
    std::vector<Slot> old(slots_.empty() ? 8 : slots_.size() * 2, 0);
    old.swap(slots_);
    std::size_t mask = slots_.size() - 1;
    for (Slot slot : old) {
      if (slot == 0) continue;
      std::size_t i = static_cast<std::size_t>(slot >> 32) & mask;
      while (slots_[i] != 0) i = (i + 1) & mask;
      slots_[i] = slot;
    }
  }

  std::vector<Entry> entries_;
  std::vector<Slot> slots_;  // a power of two in size, at most three quarters full
};

}  // namespace vesk
