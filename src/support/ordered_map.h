// A string-keyed table that yields its entries in insertion order.
//
// vesk's tables (source files, options, variables, YAML mappings) must give
// the same order on every platform and every run: automatic output numbers
// follow it. Keys compare byte for byte. Replacing a value keeps the entry's
// place; lookups and inserts are O(1) on average.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
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
    auto found = index_.find(key);
    if (found != index_.end()) {
      entries_[found->second].second = std::move(value);
      return;
    }
    index_.emplace(key, entries_.size());
    entries_.emplace_back(std::move(key), std::move(value));
  }

  // Adds the entry only when the key is absent; returns whether it did.
  bool setIfAbsent(const std::string& key, const Value& value) {
    if (contains(key)) return false;
    set(key, value);
    return true;
  }

  const Value* find(const std::string& key) const {
    auto found = index_.find(key);
    return found == index_.end() ? nullptr : &entries_[found->second].second;
  }
  Value* find(const std::string& key) {
    auto found = index_.find(key);
    return found == index_.end() ? nullptr : &entries_[found->second].second;
  }
  bool contains(const std::string& key) const { return index_.count(key) != 0; }

  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  void clear() {
    entries_.clear();
    index_.clear();
  }

  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }

  bool operator==(const OrderedMap& other) const { return entries_ == other.entries_; }

 private:
  std::vector<Entry> entries_;
  std::unordered_map<std::string, std::size_t> index_;
};

}  // namespace vesk
