#include "core/bit_count.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <random>

namespace zemlo {
namespace {

// Every single bit, both halves' edges, zero and random words: the counts of the standard
// library, which a 32-bit program gets from two halves.
TEST(BitCount, ZeroBitsAtBothEndsOfAWordAsTheStandardLibraryCountsThem) {
  EXPECT_EQ(TrailingZeroBits(0), 64);
  EXPECT_EQ(LeadingZeroBits(0), 64);
  for (int bit = 0; bit < 64; ++bit) {
    const std::uint64_t word = std::uint64_t{1} << bit;
    EXPECT_EQ(TrailingZeroBits(word), bit) << bit;
    EXPECT_EQ(LeadingZeroBits(word), 63 - bit) << bit;
    EXPECT_EQ(TrailingZeroBits(word | (std::uint64_t{1} << 63)), bit) << bit;
    EXPECT_EQ(LeadingZeroBits(word | 1), 63 - bit) << bit;
  }
  std::mt19937_64 rng(5);
  for (int round = 0; round < 1000; ++round) {
    // Words with one half empty as often as not.
    std::uint64_t word = rng();
    if (round % 3 == 0) word &= 0xFFFFFFFF00000000ull;
    if (round % 3 == 1) word &= 0x00000000FFFFFFFFull;
    EXPECT_EQ(TrailingZeroBits(word), std::countr_zero(word)) << word;
    EXPECT_EQ(LeadingZeroBits(word), std::countl_zero(word)) << word;
  }
}

}  // namespace
}  // namespace zemlo
