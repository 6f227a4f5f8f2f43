#include "core/content_hash.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <vector>

namespace zemlo {
namespace {

// The stored hashes are a file format: they must be XXH3's 64-bit values, whatever the
// processor. The empty input's value is the algorithm's published one.
TEST(ContentHash, IsXxh3SixtyFourBits) { EXPECT_EQ(HashBytes({}), 0x2D06800538D394C2ull); }

TEST(ContentHash, PiecesGiveTheWholeHashAndResetStartsAgain) {
  std::vector<std::uint8_t> bytes(70000);
  std::iota(bytes.begin(), bytes.end(), std::uint8_t{7});
  const ContentHash whole = HashBytes(bytes);
  ContentHasher hasher;
  // Odd piece sizes across the hasher's internal stripes and blocks, and an empty piece.
  std::size_t at = 0;
  for (std::size_t piece : {1u, 0u, 63u, 1024u, 5000u}) {
    hasher.Add(std::span(bytes).subspan(at, piece));
    at += piece;
  }
  hasher.Add(std::span(bytes).subspan(at));
  EXPECT_EQ(hasher.Value(), whole);
  hasher.Reset();
  hasher.Add(bytes);
  EXPECT_EQ(hasher.Value(), whole);
  bytes[40000] ^= 1;
  EXPECT_NE(HashBytes(bytes), whole);
}

}  // namespace
}  // namespace zemlo
