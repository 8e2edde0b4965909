// Finds the bytes of a small fixed set in 64-byte blocks of text: bit i of
// the result is set when block[i] is one of Bytes. Scanning a text block by
// block and walking the set bits costs a few instructions per 64 bytes plus a
// few per hit, where a byte search per line pays a call and a set-up for
// every line.
//
// With SSE2 (every x86-64 processor) sixteen bytes are compared at a time;
// elsewhere eight at a time in a 64-bit word.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vesk {

inline constexpr std::size_t kMaskBlock = 64;

// Eight bytes at a time: a byte of the word equal to b becomes zero after an
// exclusive or with b in every byte, and the zero bytes are found exactly
// (no false hits from borrows) by the high-bit test below.
template <char... Bytes>
std::uint64_t blockMaskWords(const char* block) {
  constexpr std::uint64_t kOnes = 0x0101010101010101u;
  constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Fu;
  std::uint64_t mask = 0;
  for (std::size_t w = 0; w < kMaskBlock / 8; ++w) {
    // Byte 0 in the low bits on every byte order (one load where that is
    // the machine's own order).
    std::uint64_t word = 0;
    for (std::size_t i = 0; i < 8; ++i) {
      word |= std::uint64_t{static_cast<unsigned char>(block[8 * w + i])} << (8 * i);
    }
    std::uint64_t zeros = 0;
    for (std::uint64_t b : {static_cast<std::uint64_t>(static_cast<unsigned char>(Bytes))...}) {
      std::uint64_t x = word ^ (b * kOnes);
      zeros |= ~(((x & kLow7) + kLow7) | x | kLow7);  // 0x80 where x has a zero byte
    }
    // Gather the eight high bits into the eight low bits, byte 0 first.
    std::uint64_t bits = ((zeros >> 7) * 0x0102040810204080u) >> 56;
    mask |= bits << (8 * w);
  }
  return mask;
}

template <char... Bytes>
std::uint64_t blockMask(const char* block) {
#if defined(__SSE2__)
  std::uint64_t mask = 0;
  for (std::size_t i = 0; i < kMaskBlock / 16; ++i) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * i));
    __m128i hits = _mm_setzero_si128();
    ((hits = _mm_or_si128(hits, _mm_cmpeq_epi8(v, _mm_set1_epi8(Bytes)))), ...);
    mask |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(hits))) << (16 * i);
  }
  return mask;
#else
  return blockMaskWords<Bytes...>(block);
#endif
}

}  // namespace vesk
