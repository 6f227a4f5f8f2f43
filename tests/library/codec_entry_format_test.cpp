#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "library/codec/entry_format.h"

namespace zemlo {
namespace {

std::optional<std::uint64_t> Read(const std::vector<std::uint8_t>& bytes, std::size_t* used) {
  ByteReader in(bytes);
  const auto value = ReadCount(in);
  *used = in.position();
  return value;
}

TEST(EntryCount, ReadsBackWhatIsWrittenWithTheBytesItTook) {
  for (const std::size_t value : {0u, 1u, 254u, 255u, 256u, 509u, 510u, 800u, 65535u}) {
    std::array<std::uint8_t, 300> out{};
    const std::size_t n = WriteCount(value, out);
    // Each 255 of the value takes an FF byte; the rest fits in one byte below FF.
    ASSERT_EQ(n, value / 255 + 1) << value;
    EXPECT_LT(out[n - 1], 0xFF) << value;
    std::vector<std::uint8_t> bytes(out.begin(), out.begin() + n);
    bytes.push_back(0x42);  // what follows the count is not part of it
    std::size_t used = 0;
    EXPECT_EQ(Read(bytes, &used), value);
    EXPECT_EQ(used, n);
  }
}

TEST(EntryCount, EndingInsideACountReadsNothing) {
  std::size_t used = 0;
  EXPECT_FALSE(Read({}, &used));
  EXPECT_FALSE(Read({0xFF, 0xFF}, &used));
  EXPECT_EQ(Read({0xFF, 0xFF, 0x00}, &used), 510u);
}

TEST(EntryCount, TheSumStopsAtTheCapWhileItGoesOnAndTakesItsLastByteAfter) {
  // What the game's reader does: a sum past the cap is held there while FF bytes follow, and
  // the closing byte is added to it, so counts that go on forever still end above the cap.
  EXPECT_EQ(AddCountByte(kCountCap - 255, 0xFF), kCountCap);
  EXPECT_EQ(AddCountByte(kCountCap - 254, 0xFF), kCountCap);
  EXPECT_EQ(AddCountByte(kCountCap, 0xFF), kCountCap);
  EXPECT_EQ(AddCountByte(kCountCap, 0xFE), kCountCap + 0xFE);
  EXPECT_EQ(AddCountByte(kCountCap - 1, 0x00), kCountCap - 1);
  EXPECT_EQ(AddCountByte(100, 0xFF), 355u);
}

TEST(MaskKindText, NamesTheThreeKindsAndTheByteOfAnyOther) {
  EXPECT_EQ(MaskKindText(kUnmasked), "Unmasked");
  EXPECT_EQ(MaskKindText(kZeroMasked), "0-masked");
  EXPECT_EQ(MaskKindText(kXMasked), "X-masked");
  EXPECT_EQ(MaskKindText(192), "byte 192");
  EXPECT_TRUE(MaskKindWord(192).empty());
}

}  // namespace
}  // namespace zemlo
