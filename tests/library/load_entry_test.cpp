// Loading entries back from a library: both layouts, packed entries and every failure title.
#include <gtest/gtest.h>

#include "packer/kzp.h"
#include "support/run_project.h"

namespace zemlo::testing {
namespace {

// A library of two blocks made by the run, then damaged by hand.
class LoadEntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lib.AddPcx(3005, UnmaskedShape(1));
    lib.AddPcx(3006, XMaskedShape(2));
    lib.AddPcx(3100, ZeroMaskedShape(3));
    lib.Run(3000, 3199);
    lib.port.Clear();
  }
  std::vector<std::uint8_t> Offsets() { return OffsetsOnDisk(lib); }
  void WriteOffsets(std::vector<std::uint8_t> table) {
    table.resize(5100 * 8);
    WriteFileBytes(lib.dir.path() / "offsets.dat", table);
  }
  std::string LastTitle() const { return lib.port.titles.empty() ? "" : lib.port.titles.back(); }

  TestLibrary lib;
};

TEST_F(LoadEntryTest, BlockLayoutReadsTheEntryAtItsOffset) {
  EXPECT_TRUE(lib.Load(3006) == XMaskedShape(2));
  EXPECT_TRUE(lib.state.picture_shown.load());
  EXPECT_EQ(LastTitle(), "ZCreate - sep\\s3_1_9_9.zgi (X-masked) - 3006");
  EXPECT_TRUE(lib.Load(3005) == UnmaskedShape(1));
  EXPECT_TRUE(lib.Load(3100) == ZeroMaskedShape(3));
}

TEST_F(LoadEntryTest, MissingOffsetsFileBlanksThePicture) {
  lib.Load(3005);
  std::filesystem::remove(lib.dir.path() / "offsets.dat");
  lib.port.Clear();
  EXPECT_FALSE(LoadEntry(3006, lib.settings, lib.state));
  EXPECT_EQ(LastTitle(), "ZCreate - offsets.dat (offset file not found) - 0");
  EXPECT_FALSE(lib.state.picture_shown.load());
  ASSERT_EQ(lib.port.repaints.size(), 1u);
  EXPECT_TRUE(lib.port.repaints[0].erase);
}

TEST_F(LoadEntryTest, MissingBlockFileLeavesTheLastPicture) {
  const Picture before = lib.Load(3005);
  std::filesystem::remove(lib.BlockPath(31));
  lib.port.Clear();
  EXPECT_TRUE(lib.Load(3100) == before);
  EXPECT_EQ(LastTitle(), "ZCreate - blk\\b31.blk (ZGL block file not found) - 0");
  EXPECT_TRUE(lib.state.picture_shown.load());
  EXPECT_TRUE(lib.port.repaints.empty());
}

TEST_F(LoadEntryTest, RecordsThatDescribeNoEntryLeaveThePicture) {
  const Picture before = lib.Load(3005);
  auto table = Offsets();
  OffsetsTable offsets(table);
  const auto length_3006 = offsets.length(3006);
  struct Case {
    const char* what;
    std::int32_t offset, length;
  } cases[] = {
      {"length 0", 0, 0},
      {"entry past the end of the block file", offsets.offset(3006), length_3006 + 1},
      {"negative offset", -4, length_3006},
      {"length beyond the file buffer", 0, static_cast<std::int32_t>(kFileBufferSize + 1)},
      {"negative length", 0, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    offsets.Set(3006, c.offset, c.length);
    WriteOffsets(table);
    lib.port.Clear();
    EXPECT_TRUE(lib.Load(3006) == before);
    EXPECT_EQ(LastTitle(), "ZCreate - blk\\b30.blk (ZGL block entry not found:) - 3006");
    EXPECT_TRUE(lib.port.repaints.empty());
  }
  // Icons past the table (the go-to dialog reaches 20000) have no entry either.
  lib.port.Clear();
  EXPECT_FALSE(LoadEntry(20000, lib.settings, lib.state));
}

TEST_F(LoadEntryTest, MalformedPackedEntryIsRejectedInBothLayouts) {
  const Picture before = lib.Load(3005);
  // Replace 3006's bytes in the block by a packed stream that copies from before its start.
  auto table = Offsets();
  OffsetsTable offsets(table);
  auto block = ReadFileBytes(lib.BlockPath(30));
  const std::vector<std::uint8_t> bad = {'K', 'Z', 'P', '1', 0x80 | 0x03, 0x05};
  std::copy(bad.begin(), bad.end(), block.begin() + offsets.offset(3006));
  WriteFileBytes(lib.BlockPath(30), block);
  offsets.Set(3006, offsets.offset(3006), static_cast<std::int32_t>(bad.size()));
  WriteOffsets(table);
  EXPECT_TRUE(lib.Load(3006) == before);
  EXPECT_EQ(LastTitle(), "ZCreate - blk\\b30.blk (ZGL block entry not found:) - 3006");

  WriteFileBytes(lib.SinglePath(3006), bad);
  lib.settings.DBLK = 1;
  lib.port.Clear();
  EXPECT_TRUE(lib.Load(3006) == before);
  EXPECT_EQ(LastTitle(), "ZCreate - sep\\s3_0_0_6.zgi (ZGL block entry not found:) - 3006");
}

TEST_F(LoadEntryTest, OnlyTheThreeLetterMagicMarksAPackedEntry) {
  // "KZ" then another byte: an entry of bit depth 'K' (one byte per pixel), drawn as it is.
  lib.settings.DBLK = 1;
  std::vector<std::uint8_t> entry = {'K', 'Z', 'Q', '1'};
  WriteFileBytes(lib.SinglePath(3007), entry);
  EXPECT_TRUE(LoadEntry(3007, lib.settings, lib.state));
  // 'Z' (90) is no known mask kind: the title stays as it was.
  EXPECT_TRUE(lib.port.titles.empty());
}

TEST_F(LoadEntryTest, SingleEntryLayout) {
  lib.settings.DBLK = 1;
  EXPECT_TRUE(lib.Load(3100) == ZeroMaskedShape(3));
  EXPECT_EQ(LastTitle(), "ZCreate - sep\\s3_1_0_0.zgi (0-masked) - 3100");
  lib.port.Clear();
  EXPECT_FALSE(LoadEntry(3101, lib.settings, lib.state));
  EXPECT_EQ(LastTitle(), "ZCreate - sep\\s3_1_0_1.zgi (file not found) - 0");
  EXPECT_FALSE(lib.state.picture_shown.load());
  ASSERT_EQ(lib.port.repaints.size(), 1u);
  EXPECT_TRUE(lib.port.repaints[0].erase);
}

TEST(LoadEntryPacked, PackedEntriesUnpackWithTheirRecordOrFileLength) {
  TestLibrary lib({.dpak = 2});
  lib.AddPcx(3000, HugeShape(1));
  lib.AddPcx(3001, XMaskedShape(2));
  lib.Run(3000, 3001);
  for (int dblk : {1, 2}) {
    lib.settings.DBLK = static_cast<std::uint8_t>(dblk);
    EXPECT_TRUE(lib.Load(3000) == HugeShape(1));
    EXPECT_TRUE(lib.Load(3001) == XMaskedShape(2));
  }
}

}  // namespace
}  // namespace zemlo::testing
