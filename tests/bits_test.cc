#include "common/bits.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace sfx {
namespace {

TEST(Bits, WordsHoldBytesInTextOrder) {
  EXPECT_EQ(load_little_endian64("\x01\x02\x03\x04\x05\x06\x07\x08"), 0x0807060504030201u);
  EXPECT_EQ(load_little_endian64("\xff\x00\x00\x00\x00\x00\x00\x80"), 0x80000000000000ffu);
  // Unaligned: every offset within a word reads the same bytes.
  const char text[] = "abcdefghijklmnop";
  for (int offset = 0; offset < 8; ++offset) {
    EXPECT_EQ(load_little_endian64(text + offset) & 0xff, static_cast<unsigned>('a' + offset));
    EXPECT_EQ(load_little_endian64(text + offset) >> 56, static_cast<unsigned>('h' + offset));
  }
}

TEST(Bits, ScansAndCountsAgreeWithThePortableForms) {
  std::uint64_t state = 0x9e3779b97f4a7c15u;
  for (unsigned bit = 0; bit < 64; ++bit) {
    const std::uint64_t lowest = std::uint64_t{1} << bit;
    for (int round = 0; round < 50; ++round) {
      state = state * 6364136223846793005u + 1442695040888963407u;
      const std::uint64_t word = lowest | (round == 0 ? 0 : state & ~(lowest * 2 - 1) & ~lowest);
      EXPECT_EQ(lowest_bit(word), bit);
      EXPECT_EQ(lowest_bit_portable(word), bit);
    }
    EXPECT_EQ(count_bits(lowest), 1u);
    EXPECT_EQ(count_bits(~std::uint64_t{0} >> bit), 64 - bit);
  }
  EXPECT_EQ(count_bits(0), 0u);
  EXPECT_EQ(count_bits(0x8080808080808080u), 8u);
}

}  // namespace
}  // namespace sfx
