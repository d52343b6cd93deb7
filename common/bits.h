// Bit and byte helpers that give the same results on every machine and compiler: words
// are made of bytes in text order whatever the byte order, and bit scans use a compiler
// builtin only where one is known, with a portable loop otherwise.
#pragma once

#include <cstdint>

namespace sfx {

// The eight bytes at `p` as one word, p[0] in its lowest byte. Written byte by byte, which
// compilers turn into one load (little-endian machines) or a load and a byte swap.
inline std::uint64_t load_little_endian64(const char* p) {
  const auto byte = [p](int i) { return std::uint64_t{static_cast<unsigned char>(p[i])}; };
  return byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24 | byte(4) << 32 |
         byte(5) << 40 | byte(6) << 48 | byte(7) << 56;
}

// The index of the lowest set bit of `bits`, which must not be 0; one bit at a time.
inline unsigned lowest_bit_portable(std::uint64_t bits) {
  unsigned index = 0;
  for (; (bits & 1) == 0; bits >>= 1) ++index;
  return index;
}

// The index of the lowest set bit of `bits`, which must not be 0.
inline unsigned lowest_bit(std::uint64_t bits) {
#if defined(__GNUC__) || defined(__clang__)
  return static_cast<unsigned>(__builtin_ctzll(bits));
#else
  return lowest_bit_portable(bits);
#endif
}

// The number of set bits, one step per set bit: cheapest for the few line breaks that a
// record holds.
inline unsigned count_bits(std::uint64_t bits) {
  unsigned count = 0;
  for (; bits != 0; bits &= bits - 1) ++count;
  return count;
}

}  // namespace sfx
