// The integrity check over hand-built block sets: clean ones give titles only, damaged ones
// give their findings in order.
#include <gtest/gtest.h>

#include <map>

#include "library/run/check/integrity_check.h"
#include "support/run_project.h"

namespace zemlo::testing {
namespace {

std::vector<std::uint8_t> Entry(std::uint8_t kind, std::size_t payload) {
  std::vector<std::uint8_t> e = {24, kind, 0, 0};
  for (std::size_t i = 0; i < payload; ++i) e.push_back(static_cast<std::uint8_t>(i + 1));
  return e;
}

// Builds block files and the offsets file from entries by icon, back to back per block.
class CheckTest : public ::testing::Test {
 protected:
  void Build(const std::map<int, std::vector<std::uint8_t>>& entries, int blkb = 100) {
    lib.settings.BLKB = blkb;
    table.assign(kOffsetsTableSize, 0);
    OffsetsTable offsets(table);
    std::map<int, std::vector<std::uint8_t>> blocks;
    for (const auto& [icon, bytes] : entries) {
      auto& block = blocks[icon / blkb];
      offsets.Set(icon, static_cast<std::int32_t>(block.size()),
                  static_cast<std::int32_t>(bytes.size()));
      block.insert(block.end(), bytes.begin(), bytes.end());
    }
    for (const auto& [block, bytes] : blocks) WriteFileBytes(lib.BlockPath(block), bytes);
    SaveOffsets();
  }
  void SaveOffsets() {
    auto file = table;
    file.resize(5100 * 8);
    WriteFileBytes(lib.dir.path() / "offsets.dat", file);
  }
  OffsetsTable Offsets() { return OffsetsTable(table); }
  void Check() {
    lib.port.Clear();
    tally = RunTally{};
    IntegrityCheck(lib.settings, lib.state, &tally);
  }
  bool HasTitle(const std::string& title) const {
    return std::find(lib.port.titles.begin(), lib.port.titles.end(), title) !=
           lib.port.titles.end();
  }

  TestLibrary lib{ProjectOptions{.dblk = 2}};
  std::vector<std::uint8_t> table;
  RunTally tally;
};

TEST_F(CheckTest, CleanLibraryGivesTitlesOnly) {
  std::map<int, std::vector<std::uint8_t>> entries;
  for (int icon = 3000; icon < 5000; icon += 37) entries[icon] = Entry(0, icon % 50);
  entries[3001] = {'K', 'Z', 'P', '1', 0x02, 9, 9};  // packed entries count as unmasked
  Build(entries);
  Check();
  EXPECT_TRUE(lib.port.messages.empty()) << lib.port.messages.front().text;
  EXPECT_EQ(lib.port.titles.front(), "ZCreate - Integrity check started (all ZGLs) - 20000");
  EXPECT_TRUE(HasTitle("ZCreate - blk\\b30.blk (Unmasked) - 3001"));
  EXPECT_TRUE(HasTitle("ZCreate - blk\\b30.blk (not found) - 3002"));
  ASSERT_EQ(lib.port.progress.size(), 2000u);
  EXPECT_EQ(lib.port.progress.front(), 15);
  EXPECT_EQ(lib.port.progress.back(), 24);
  EXPECT_EQ(lib.state.current_icon.load(), 5000);
  EXPECT_EQ(lib.port.runs_ended, 1);
}

TEST_F(CheckTest, LibraryMadeByTheRunIsClean) {
  lib.AddPcx(3000, UnmaskedShape(1));
  lib.AddPcx(3001, UnmaskedShape(2, 0, 0, 10, 10));
  lib.AddPcx(4500, UnmaskedShape(3));
  lib.Run();
  Check();
  EXPECT_TRUE(lib.port.messages.empty());
  EXPECT_EQ(lib.port.titles.back(), "ZCreate - blk\\b49.blk (not found) - 4999");
}

TEST_F(CheckTest, DamagedEntriesAreReportedInOrder) {
  Build({{3000, Entry(0, 10)},
         {3001, Entry(0, 5)},
         {3002, Entry(0, 5)},
         {3500, Entry(128, 6)},
         {3600, Entry(0, 3)},
         {3601, {24}},
         {3700, Entry(7, 2)}});
  auto offsets = Offsets();
  offsets.Set(3001, 99, offsets.length(3001));  // wrong offset
  offsets.Set(3200, 12, 0);                     // length 0 with an offset
  SaveOffsets();
  Check();
  EXPECT_EQ(lib.port.MessageTexts(), (std::vector<std::string>{
                                         "Pos entry of icon 3001 incorrect",
                                         "Entry of icon 3200 corrupt (length 0)",
                                         "Character icon 3500 is masked",
                                         "Character icon 3601 is masked",
                                         "Data for icon 3601 missing",
                                         "Pos entry = 7",
                                         "Length entry = 1",
                                         "Character icon 3700 is masked",
                                         "Incorrect header of icon 3700",
                                     }));
  EXPECT_TRUE(HasTitle("ZCreate - blk\\b35.blk (X-masked) - 3500"));
  // Eight records; five of them with findings (3001, 3200, 3500, 3601, 3700).
  EXPECT_EQ(tally.checked, 2000);
  EXPECT_EQ(tally.damaged, 5);
  EXPECT_EQ(tally.intact, 3);
  EXPECT_EQ(tally.no_entry, 2000 - 8);
  EXPECT_EQ(tally.long_blocks, 0);
  for (const auto& m : lib.port.messages) {
    EXPECT_EQ(m.caption, "ZCreate");
    EXPECT_EQ(m.owner, Owner::kMain);
  }
}

TEST_F(CheckTest, TruncatedBlockFileReportsTheEntryThatEndsEarly) {
  Build({{3000, Entry(0, 10)}, {3001, Entry(0, 20)}, {3002, Entry(0, 1)}});
  auto block = ReadFileBytes(lib.BlockPath(30));
  block.resize(block.size() - 10);  // 3002 gone, 3001 cut in half
  WriteFileBytes(lib.BlockPath(30), block);
  Check();
  EXPECT_EQ(
      lib.port.MessageTexts(),
      (std::vector<std::string>{"Data for icon 3001 missing", "Pos entry = 14", "Length entry = 24",
                                "Character icon 3002 is masked", "Data for icon 3002 missing",
                                "Pos entry = 38", "Length entry = 5"}));
}

TEST_F(CheckTest, ARecordOfNegativeLengthReadsNothingAndLeavesThePosition) {
  Build({{3000, Entry(0, 10)}, {3002, Entry(0, 5)}});
  auto offsets = Offsets();
  offsets.Set(3001, 14, -3);
  SaveOffsets();
  Check();
  // The entries after it are where the lengths before it put them: no position is wrong, and
  // the block file holds nothing past them.
  EXPECT_EQ(lib.port.MessageTexts(),
            (std::vector<std::string>{"Character icon 3001 is masked", "Data for icon 3001 missing",
                                      "Pos entry = 14", "Length entry = -3"}));
  EXPECT_TRUE(HasTitle("ZCreate - blk\\b30.blk (Unmasked) - 3002"));
}

TEST_F(CheckTest, AnEntryLongerThanTheFileBufferThatTheFileCutsIsMissingData) {
  // The buffer takes the front of the entry; the rest is passed over, and the file ends
  // inside it.
  const std::size_t held = kFileBufferSize + 10;
  Build({{3000, Entry(0, held - 4)}});
  const auto claimed = static_cast<std::int32_t>(kFileBufferSize + 1000);
  auto offsets = Offsets();
  offsets.Set(3000, 0, claimed);
  SaveOffsets();
  Check();
  EXPECT_EQ(lib.port.MessageTexts(),
            (std::vector<std::string>{"Data for icon 3000 missing", "Pos entry = 0",
                                      "Length entry = " + std::to_string(claimed)}));
  EXPECT_TRUE(HasTitle("ZCreate - blk\\b30.blk (Unmasked) - 3000"));
}

TEST_F(CheckTest, BlockFileLongerThanItsRecordsIsNamed) {
  // A longer last entry written beside the old records: every header still fits, only the
  // bytes left after the block's last entry tell.
  Build({{4000, Entry(0, 10)}, {4010, Entry(0, 6)}, {4100, Entry(0, 4)}});
  Check();
  EXPECT_TRUE(lib.port.messages.empty());
  auto bytes = ReadFileBytes(lib.BlockPath(40));
  bytes.push_back(9);
  WriteFileBytes(lib.BlockPath(40), bytes);
  Check();
  EXPECT_EQ(lib.port.MessageTexts(),
            (std::vector<std::string>{"Block file blk\\b40.blk is longer than its entries"}));
  EXPECT_EQ(tally.long_blocks, 1);
  EXPECT_EQ(tally.intact, 3);  // a block too long is no finding about its entries
}

TEST_F(CheckTest, MissingFilesAreReportedWithoutReading) {
  Build({{3000, Entry(0, 10)}, {4000, Entry(0, 10)}, {4001, Entry(0, 3)}});
  std::filesystem::remove(lib.BlockPath(40));
  Check();
  // The records of block 40 claim bytes that no file holds: the block is named, as after a
  // run killed between moving the block file to BLTEMP and creating the new one.
  EXPECT_EQ(lib.port.MessageTexts(),
            (std::vector<std::string>{"Data for icon 4000 missing", "Pos entry = 0",
                                      "Length entry = 14", "Data for icon 4001 missing",
                                      "Pos entry = 14", "Length entry = 7"}));
  EXPECT_TRUE(HasTitle("ZCreate - blk\\b40.blk (not found) - 4002"));

  std::filesystem::remove(lib.dir.path() / "offsets.dat");
  std::fill(lib.state.offsets.data(), lib.state.offsets.data() + kOffsetsTableSize, 0);
  Check();
  EXPECT_EQ(lib.port.MessageTexts(), (std::vector<std::string>{"Offsets file not found"}));
  EXPECT_TRUE(HasTitle("ZCreate - blk\\b30.blk (not found) - 3000"));
}

TEST_F(CheckTest, StartingInsideABlockPassesOverItsEarlierEntries) {
  // BLKB 7: block 428 holds 2996..3002; the check starts at 3000 inside it.
  Build({{2996, Entry(0, 3)},
         {2999, Entry(128, 3)},
         {3000, Entry(0, 4)},
         {3002, Entry(0, 2)},
         {3003, Entry(0, 1)}},
        7);
  Check();
  EXPECT_TRUE(lib.port.messages.empty()) << lib.port.messages.front().text;
  EXPECT_TRUE(HasTitle("ZCreate - blk\\ba8.blk (Unmasked) - 3002"));
}

// A port that presses "Stop" at the title of one icon.
class StopAtTitle : public RecordingPort {
 public:
  std::atomic<bool>* stop = nullptr;
  std::string at;
  void SetTitle(std::string_view text) override {
    RecordingPort::SetTitle(text);
    if (text.find(at) != std::string_view::npos) stop->store(true);
  }
};

TEST_F(CheckTest, StopEndsAfterTheIconInHand) {
  Build({{3456, Entry(0, 3)}});
  StopAtTitle port;
  WorkingState state(port);
  port.stop = &state.stop_request;
  port.at = "- 3456";
  IntegrityCheck(lib.settings, state, &tally);
  EXPECT_EQ(state.current_icon.load(), 3457);
  EXPECT_EQ(tally.checked, 457);
  EXPECT_EQ(tally.last_icon, 3456);
  EXPECT_FALSE(state.stop_request.load());
  EXPECT_EQ(port.titles.back(), "ZCreate - blk\\b34.blk (Unmasked) - 3456");
  EXPECT_EQ(port.runs_ended, 1);
}

}  // namespace
}  // namespace zemlo::testing
