#include "platform/acl.h"

#include <cstdint>

namespace vesk::platform::acl {
namespace {

constexpr std::uint32_t kVersion = 2;
constexpr std::size_t kHeader = 4;
constexpr std::size_t kEntry = 8;  // tag (2), permissions (2), id (4)

enum Tag : unsigned { kUserObj = 0x01, kGroupObj = 0x04, kMask = 0x10, kOther = 0x20 };

unsigned read16(std::string_view bytes, std::size_t at) {
  return static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8;
}

std::uint32_t read32(std::string_view bytes, std::size_t at) {
  return read16(bytes, at) | static_cast<std::uint32_t>(read16(bytes, at + 2)) << 16;
}

void write16(std::string& bytes, std::size_t at, unsigned value) {
  bytes[at] = static_cast<char>(value & 0xff);
  bytes[at + 1] = static_cast<char>((value >> 8) & 0xff);
}

bool wellFormed(std::string_view bytes) {
  return bytes.size() >= kHeader && (bytes.size() - kHeader) % kEntry == 0 &&
         read32(bytes, 0) == kVersion;
}

// Where the entry with `tag` starts; 0 when there is none.
std::size_t find(std::string_view bytes, unsigned tag) {
  for (std::size_t at = kHeader; at + kEntry <= bytes.size(); at += kEntry) {
    if (read16(bytes, at) == tag) return at;
  }
  return 0;
}

}  // namespace

std::optional<std::string> inherited(std::string_view defaults, unsigned mode) {
  if (!wellFormed(defaults)) return std::nullopt;
  std::string result(defaults);
  std::size_t group = find(result, kMask);
  if (group == 0) group = find(result, kGroupObj);
  const std::pair<std::size_t, unsigned> limits[] = {{find(result, kUserObj), (mode >> 6) & 7},
                                                     {group, (mode >> 3) & 7},
                                                     {find(result, kOther), mode & 7}};
  for (const auto& [at, allowed] : limits) {
    if (at == 0) return std::nullopt;
    write16(result, at + 2, read16(result, at + 2) & allowed);
  }
  return result;
}

std::optional<unsigned> modeOf(std::string_view entries) {
  if (!wellFormed(entries)) return std::nullopt;
  std::size_t group = find(entries, kMask);
  if (group == 0) group = find(entries, kGroupObj);
  std::size_t owner = find(entries, kUserObj), other = find(entries, kOther);
  if (owner == 0 || group == 0 || other == 0) return std::nullopt;
  return (read16(entries, owner + 2) & 7) << 6 | (read16(entries, group + 2) & 7) << 3 |
         (read16(entries, other + 2) & 7);
}

}  // namespace vesk::platform::acl
