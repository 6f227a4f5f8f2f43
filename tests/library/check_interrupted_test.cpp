// What a run killed inside a block rewrite leaves, state by state: the old offsets file with
// the block file half written, missing or complete in its new form, and BLTEMP holding the
// old block. The recovery the user is told ("run the check; if it names a block, move BLTEMP
// over that block's file, otherwise delete BLTEMP") must end in a block that agrees with the
// offsets file, so the check must name the block whenever its file does not agree.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "library/run/check/integrity_check.h"
#include "support/run_project.h"

namespace zemlo::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Entries = std::map<int, Bytes>;

// An unmasked entry whose pixel bytes are never a mask kind, so only lengths and the file's
// end can tell a misplaced read.
Bytes SizedEntry(std::size_t pixels, std::uint8_t seed) {
  Bytes e = {24, 0, 0, 0};
  for (std::size_t i = 0; i < pixels; ++i)
    e.push_back(static_cast<std::uint8_t>(0x30 + (seed + i) % 7));
  return e;
}

Bytes Concatenate(const Entries& entries) {
  Bytes block;
  for (const auto& [icon, bytes] : entries) block.insert(block.end(), bytes.begin(), bytes.end());
  return block;
}

class InterruptedRewrite : public ::testing::Test {
 protected:
  // The old library: block 40 with `entries`, records for it in the offsets file.
  void MakeOld(const Entries& entries) {
    Bytes table(5000 * 8, 0);
    OffsetsTable offsets(table);
    std::int32_t at = 0;
    for (const auto& [icon, bytes] : entries) {
      offsets.Set(icon, at, static_cast<std::int32_t>(bytes.size()));
      at += static_cast<std::int32_t>(bytes.size());
    }
    WriteFileBytes(lib.dir.path() / "offsets.dat", table);
    WriteFileBytes(lib.BlockPath(40), Concatenate(entries));
  }
  std::vector<std::string> Check() {
    lib.port.Clear();
    IntegrityCheck(lib.settings, lib.state);
    return lib.port.MessageTexts();
  }

  TestLibrary lib{ProjectOptions{.dblk = 2}};
  const Entries old_entries{
      {4000, SizedEntry(10, 1)}, {4010, SizedEntry(6, 2)}, {4020, SizedEntry(20, 3)}};
};

TEST_F(InterruptedRewrite, EveryStateWhoseFileDisagreesIsNamed) {
  MakeOld(old_entries);
  ASSERT_TRUE(Check().empty());

  Entries longer_last = old_entries;
  longer_last[4020] = SizedEntry(26, 4);
  Entries added_after = old_entries;
  added_after[4030] = SizedEntry(5, 5);
  Entries dropped_last = old_entries;
  dropped_last.erase(4020);
  Entries shorter_middle = old_entries;
  shorter_middle[4010] = SizedEntry(2, 6);
  Entries longer_first = old_entries;
  longer_first[4000] = SizedEntry(13, 7);
  const Bytes half_written = Concatenate(longer_first);
  const std::map<std::string, Bytes> new_files = {
      {"last entry longer", Concatenate(longer_last)},
      {"entry added after the last", Concatenate(added_after)},
      {"last entry dropped", Concatenate(dropped_last)},
      {"middle entry shorter", Concatenate(shorter_middle)},
      {"first entry longer", Concatenate(longer_first)},
      {"new file still empty", Bytes{}},
      {"new file half written", Bytes(half_written.begin(), half_written.begin() + 20)},
  };
  for (const auto& [what, file] : new_files) {
    SCOPED_TRACE(what);
    WriteFileBytes(lib.BlockPath(40), file);
    const auto messages = Check();
    ASSERT_FALSE(messages.empty());
    // Every finding is about block 40: an icon of it or its file.
    for (const auto& text : messages) {
      const bool names_block =
          text.find("icon 40") != std::string::npos || text.find("b40.blk") != std::string::npos ||
          text.rfind("Pos entry = ", 0) == 0 || text.rfind("Length entry = ", 0) == 0;
      EXPECT_TRUE(names_block) << text;
    }
  }

  // Moved to BLTEMP and not yet created again: the records claim bytes of no file.
  std::filesystem::remove(lib.BlockPath(40));
  EXPECT_EQ(Check(), (std::vector<std::string>{
                         "Data for icon 4000 missing", "Pos entry = 0", "Length entry = 14",
                         "Data for icon 4010 missing", "Pos entry = 14", "Length entry = 10",
                         "Data for icon 4020 missing", "Pos entry = 24", "Length entry = 24"}));
}

TEST_F(InterruptedRewrite, NewFileOfTheSameLayoutAgreesAndIsNotNamed) {
  // Entries replaced by others of the same lengths: the old records describe the new file
  // exactly, so keeping it (deleting BLTEMP) leaves a block that agrees.
  MakeOld(old_entries);
  Entries same_layout;
  std::uint8_t seed = 9;
  for (const auto& [icon, bytes] : old_entries)
    same_layout[icon] = SizedEntry(bytes.size() - 4, seed++);
  WriteFileBytes(lib.BlockPath(40), Concatenate(same_layout));
  EXPECT_TRUE(Check().empty());
}

}  // namespace
}  // namespace zemlo::testing
