#include "fileutil/utf8.h"

namespace vesk {

char32_t decodeUtf8(std::string_view text, std::size_t pos, std::size_t& length) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(pos);
  length = 1;
  if (lead < 0x80) return lead;
  std::size_t size;
  char32_t value;
  char32_t minimum;
  if (lead >= 0xC2 && lead <= 0xDF) {
    size = 2, value = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    size = 3, value = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    size = 4, value = lead & 0x07, minimum = 0x10000;
  } else {
    return kInvalidByte + lead;
  }
  if (text.size() - pos < size) return kInvalidByte + lead;
  for (std::size_t i = 1; i < size; ++i) {
    unsigned char next = byte(pos + i);
    if ((next & 0xC0) != 0x80) return kInvalidByte + lead;
    value = (value << 6) | (next & 0x3F);
  }
  // Overlong forms, surrogates and values beyond U+10FFFF are not characters.
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
    return kInvalidByte + lead;
  length = size;
  return value;
}

}  // namespace vesk
