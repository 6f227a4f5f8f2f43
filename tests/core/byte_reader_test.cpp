#include "core/byte_reader.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <vector>

#include "core/checked_math.h"

namespace zemlo {
namespace {

constexpr std::array<std::uint8_t, 7> kBytes = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07};

TEST(ByteReader, ReadsInBothByteOrdersAndFailsWithoutMovingAtTheEnd) {
  ByteReader reader(kBytes);
  EXPECT_EQ(reader.U16LE(), 0x0201);
  EXPECT_EQ(reader.U16BE(), 0x0304);
  EXPECT_EQ(reader.position(), 4u);
  // Three bytes left: a 32-bit read fails in either order and leaves the cursor.
  EXPECT_FALSE(reader.U32LE());
  EXPECT_FALSE(reader.U32BE());
  EXPECT_FALSE(reader.Bytes(4));
  EXPECT_FALSE(reader.Skip(4));
  EXPECT_EQ(reader.position(), 4u);
  EXPECT_EQ(reader.U8(), 0x05);
  EXPECT_EQ(reader.U16LE(), 0x0706);
  EXPECT_TRUE(reader.empty());
  EXPECT_FALSE(reader.U8());

  ByteReader again(kBytes);
  EXPECT_EQ(again.U32BE(), 0x01020304u);
  ASSERT_TRUE(again.Seek(3));
  EXPECT_EQ(again.U32LE(), 0x07060504u);
  EXPECT_TRUE(again.Seek(kBytes.size()));  // the end itself is a place
  EXPECT_FALSE(again.Seek(kBytes.size() + 1));
  EXPECT_EQ(again.position(), kBytes.size());
}

TEST(ByteReader, SubReadersNeverReachPastTheirChunk) {
  ByteReader reader(kBytes);
  ASSERT_TRUE(reader.Skip(1));
  auto chunk = reader.Sub(3);
  ASSERT_TRUE(chunk);
  EXPECT_EQ(reader.position(), 4u);
  EXPECT_EQ(chunk->U16BE(), 0x0203);
  EXPECT_FALSE(chunk->U16BE());  // one byte of the chunk left, though the parent has more
  EXPECT_EQ(chunk->U8(), 0x04);
  EXPECT_FALSE(chunk->Seek(4));

  EXPECT_FALSE(reader.Sub(4));  // longer than what is left: nothing, cursor stays
  EXPECT_EQ(reader.position(), 4u);
  EXPECT_EQ(reader.TakeUpTo(10).size(), 3u);  // data that may end early takes what is there
  EXPECT_TRUE(reader.empty());
}

TEST(ByteReader, LooksAtComparesWithoutMoving) {
  const std::vector<std::uint8_t> text = {'d', 'a', 't', 'a'};
  const std::vector<std::uint8_t> file = {'x', 'd', 'a', 't', 'a'};
  ByteReader reader(file);
  EXPECT_FALSE(reader.LooksAt(text));
  ASSERT_TRUE(reader.Skip(1));
  EXPECT_TRUE(reader.LooksAt(text));
  EXPECT_EQ(reader.position(), 1u);
  ASSERT_TRUE(reader.Skip(2));
  EXPECT_FALSE(reader.LooksAt(text));  // runs past the end
}

TEST(CheckedMath, RangesFromFileNumbersNeverOverflowOrWrap) {
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  EXPECT_EQ(RangeEnd(10, 5), 15);
  EXPECT_EQ(RangeEnd(10, 5, 15), 15);
  EXPECT_FALSE(RangeEnd(10, 6, 15));
  EXPECT_FALSE(RangeEnd(-1, 5));
  EXPECT_FALSE(RangeEnd(5, -1));
  EXPECT_FALSE(RangeEnd(kMax, 1));
  EXPECT_FALSE(RangeEnd(kMax - 3, kMax - 3));
  EXPECT_EQ(RangeEnd(kMax - 1, 1), kMax);
  // 32-bit table values at their extremes, as a crafted offsets file may hold them.
  EXPECT_EQ(
      RangeEnd(std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::int32_t>::max()),
      std::int64_t{2} * std::numeric_limits<std::int32_t>::max());

  EXPECT_EQ(NarrowToInt32(-5), -5);
  EXPECT_EQ(NarrowToInt32(std::numeric_limits<std::int32_t>::max()),
            std::numeric_limits<std::int32_t>::max());
  EXPECT_FALSE(NarrowToInt32(std::int64_t{1} << 31));
  EXPECT_FALSE(NarrowToInt32(-(std::int64_t{1} << 31) - 1));
}

TEST(CheckedMath, SumsAndDifferencesStopAtThe64BitEdges) {
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
  EXPECT_EQ(CheckedAdd(40, 2), 42);
  EXPECT_EQ(CheckedAdd(-40, -2), -42);
  EXPECT_EQ(CheckedAdd(kMax, kMin), -1);
  EXPECT_EQ(CheckedAdd(kMax - 1, 1), kMax);
  EXPECT_FALSE(CheckedAdd(kMax, 1));
  EXPECT_EQ(CheckedAdd(kMin + 1, -1), kMin);
  EXPECT_FALSE(CheckedAdd(kMin, -1));

  EXPECT_EQ(CheckedSubtract(40, 42), -2);
  EXPECT_EQ(CheckedSubtract(kMin + 1, 1), kMin);
  EXPECT_FALSE(CheckedSubtract(kMin, 1));
  EXPECT_EQ(CheckedSubtract(kMax - 1, -1), kMax);
  EXPECT_FALSE(CheckedSubtract(kMax, -1));
  EXPECT_FALSE(CheckedSubtract(0, kMin));  // -kMin has no 64-bit value
  EXPECT_EQ(CheckedSubtract(-1, kMin), kMax);
}

TEST(CheckedMath, OffsetsMovedWithinAndOutOfThe32BitRange) {
  constexpr std::int32_t kMax32 = std::numeric_limits<std::int32_t>::max();
  constexpr std::int32_t kMin32 = std::numeric_limits<std::int32_t>::min();
  // An offset moved down by a length: fine while both came from a sane table.
  EXPECT_EQ(NarrowToInt32(CheckedSubtract(100, 40)), 60);
  // Crafted records: a length of INT32_MIN subtracted, an offset near the top moved up.
  EXPECT_FALSE(NarrowToInt32(CheckedSubtract(10, kMin32)));
  EXPECT_FALSE(NarrowToInt32(CheckedAdd(kMax32 - 5, 6)));
  EXPECT_EQ(NarrowToInt32(CheckedAdd(kMax32 - 5, 5)), kMax32);
  EXPECT_FALSE(NarrowToInt32(CheckedSubtract(kMin32, 1)));
  // No result at all stays none.
  EXPECT_FALSE(NarrowToInt32(CheckedAdd(std::numeric_limits<std::int64_t>::max(), 1)));
}

}  // namespace
}  // namespace zemlo
