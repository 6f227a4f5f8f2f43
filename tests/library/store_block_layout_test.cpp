#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "library/store/block_layout.h"

namespace zemlo {
namespace {

// Offsets records as the file holds them: little-endian offset, then length.
std::vector<std::uint8_t> Records(std::initializer_list<EntryRecord> records) {
  std::vector<std::uint8_t> bytes;
  for (const EntryRecord& r : records) {
    for (const std::int32_t field : {r.offset, r.length}) {
      const auto v = static_cast<std::uint32_t>(field);
      for (int shift = 0; shift < 32; shift += 8) bytes.push_back(std::uint8_t(v >> shift));
    }
  }
  return bytes;
}

TEST(RecordsView, ReadsLittleEndianRecordsAndNoneBeyondThem) {
  auto bytes = Records({{0, 10}, {10, -1}, {0, 0}});
  bytes.push_back(0x55);  // part of a record: not one
  const RecordsView view(bytes);
  ASSERT_EQ(view.count(), 3u);
  EXPECT_EQ(view.at(0), (EntryRecord{0, 10}));
  EXPECT_EQ(view.at(1), (EntryRecord{10, -1}));
  EXPECT_TRUE(view.at(2).none());
  EXPECT_TRUE(view.at(3).none());
  EXPECT_TRUE(view.at(1000).none());

  const std::uint8_t raw[] = {0x78, 0x56, 0x34, 0x12, 0xFF, 0xFF, 0xFF, 0x7F};
  EXPECT_EQ(RecordsView(raw).at(0), (EntryRecord{0x12345678, 0x7FFFFFFF}));
}

TEST(BlockCursor, PlacesGoodEntriesBackToBack) {
  BlockCursor cursor(300);
  const EntryPlace a = cursor.Step({0, 5});
  const EntryPlace none = cursor.Step({0, 0});
  const EntryPlace b = cursor.Step({5, 7});
  EXPECT_EQ(a.icon, 300);
  EXPECT_EQ(none.icon, 301);
  EXPECT_EQ(b.icon, 302);
  EXPECT_EQ(cursor.icon(), 303);
  EXPECT_TRUE(a.in_place());
  EXPECT_EQ(a.end, 5);
  EXPECT_EQ(none.start, 5);
  EXPECT_EQ(none.end, 5);
  EXPECT_TRUE(b.in_place());
  EXPECT_EQ(b.start, 5);
  EXPECT_EQ(b.end, 12);
  EXPECT_EQ(cursor.position(), 12);
}

TEST(BlockCursor, RecordsThatDescribeNoBytesLeaveThePosition) {
  BlockCursor cursor;
  cursor.Step({0, 4});
  // A length of 0 with an offset, and a negative length, take no room; the entry after them
  // still belongs where the first one ended.
  const EntryPlace zero = cursor.Step({99, 0});
  const EntryPlace negative = cursor.Step({4, -8});
  const EntryPlace next = cursor.Step({4, 2});
  EXPECT_FALSE(zero.in_place());
  EXPECT_TRUE(negative.in_place());
  EXPECT_EQ(negative.end, 4);
  EXPECT_TRUE(next.in_place());
  EXPECT_EQ(cursor.position(), 6);
}

TEST(BlockCursor, AnEntryOutOfPlaceDoesNotMoveTheOnesAfterIt) {
  // The record's own offset is a claim to be judged, not where the next entry starts.
  BlockCursor cursor;
  const EntryPlace moved = cursor.Step({100, 10});
  const EntryPlace next = cursor.Step({10, 3});
  EXPECT_FALSE(moved.in_place());
  EXPECT_EQ(moved.start, 0);
  EXPECT_TRUE(next.in_place());
}

TEST(BlockCursor, LengthsSumPastThirtyTwoBitsWithoutWrapping) {
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  BlockCursor cursor;
  for (int i = 0; i < 3; ++i) cursor.Step({0, kMax});
  EXPECT_EQ(cursor.position(), 3 * std::int64_t{kMax});
  // An offset can never reach such a position, so the next entry is out of place.
  EXPECT_FALSE(cursor.Step({kMax, 1}).in_place());
}

}  // namespace
}  // namespace zemlo
