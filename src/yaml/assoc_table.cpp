#include "yaml/assoc_table.h"

#include <functional>
#include <stdexcept>

namespace kesoyaml {
namespace {

std::size_t hashOf(std::string_view key) { return std::hash<std::string_view>{}(key); }

std::uint32_t hashBits(std::size_t hash) { return static_cast<std::uint32_t>(hash); }

// Keeps the table within 2^32 slots, so that the 32 hash bits kept in a slot
// always cover the mask.
constexpr std::size_t kMaxEntries = std::size_t{1} << 31;

}  // namespace

AssocTable::Slot AssocTable::makeSlot(std::size_t hash, std::size_t position) {
  return (static_cast<Slot>(hashBits(hash)) << 32) | static_cast<Slot>(position + 1);
}

std::size_t AssocTable::slotFor(std::string_view key, std::size_t hash) const {
  std::size_t mask = slots_.size() - 1;
  std::uint32_t bits = hashBits(hash);
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    Slot slot = slots_[i];
    if (slot == 0) return i;
    if (hashBitsOf(slot) == bits && entries_[positionOf(slot)].first == key) return i;
  }
}

void AssocTable::set(std::string key, std::shared_ptr<YamlHolder> node) {
  if ((entries_.size() + 1) * 4 > slots_.size() * 3) grow();
  std::size_t hash = hashOf(key);
  std::size_t i = slotFor(key, hash);
  if (slots_[i] != 0) {
    entries_[positionOf(slots_[i])].second = std::move(node);
    return;
  }
  if (entries_.size() >= kMaxEntries) throw std::length_error("mapping too large");
  slots_[i] = makeSlot(hash, entries_.size());
  entries_.emplace_back(std::move(key), std::move(node));
}

const std::shared_ptr<YamlHolder>* AssocTable::find(std::string_view key) const {
  if (slots_.empty()) return nullptr;
  std::size_t i = slotFor(key, hashOf(key));
  return slots_[i] == 0 ? nullptr : &entries_[positionOf(slots_[i])].second;
}

std::vector<AssocTable::Entry> AssocTable::takeEntries() {
  slots_.clear();
  std::vector<Entry> taken;
  taken.swap(entries_);
  return taken;
}

void AssocTable::grow() {
  std::vector<Slot> old(slots_.empty() ? 8 : slots_.size() * 2, 0);
  old.swap(slots_);
  std::size_t mask = slots_.size() - 1;
  for (Slot slot : old) {
    if (slot == 0) continue;
    std::size_t i = hashBitsOf(slot) & mask;
    while (slots_[i] != 0) i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

}  // namespace kesoyaml
