// The recovery of an interrupted block rewrite, at every point where a run can be killed:
// the files of one block (offsets file, block file, BLTEMP, the record) in each state the
// rewrite passes through, or that someone else may leave, and what the next command makes of
// them. It must always end in the library before or after the rewrite, or touch nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "core/working_state.h"
#include "files/file_helpers.h"
#include "library/store/block_store.h"
#include "library/store/library_lock.h"
#include "library/store/rewrite_recovery.h"
#include "library/store/tables_io.h"
#include "support/name_text.h"
#include "support/recording_port.h"
#include "support/temp_dir.h"

namespace zemlo {
namespace {

using testing::MakeName;

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Folder = std::map<std::string, Bytes>;

// Entries of block 30 in two versions; version 1 drops some icons and adds others.
Bytes EntryFor(int icon, int version) {
  if ((icon + version) % 7 == 0) return {};
  Bytes b(1 + static_cast<std::size_t>(icon * 13 + version * 5) % 40);
  for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(icon + version * 17 + i);
  return b;
}

class Recovery : public ::testing::Test {
 protected:
  Recovery() {
    settings.FBLK = MakeName("BLK00.ZGL");
    settings.FOFS = MakeName("lib.ofs");
    settings.DBLK = 2;
    settings.NSIZ = 5000;
    Rewrite(0, 3099);
    old_files = Files();
    Rewrite(1, 3099);
    new_files = Files();
    Put(old_files);
  }

  // Block 30 rewritten with `version` up to `last`; the rest carried. Past 3099 it is closed,
  // otherwise the run dies there (BLTEMP, its record and the half new block stay).
  void Rewrite(int version, int last) {
    StoreContext context{settings, state, {}};
    ASSERT_TRUE(OpenBlock(3000, context));
    for (int n = 3000; n <= std::min(last, 3099); ++n) {
      ASSERT_TRUE(StoreEntry(n, EntryFor(n, version), context));
    }
    if (last >= 3099) {
      ASSERT_TRUE(CheckBlockEnd(3099, context));
    }
  }

  Folder Files() const {
    Folder files;
    for (const auto& e : fs::directory_iterator(dir.path())) {
      files[e.path().filename().string()] = testing::ReadFileBytes(e.path());
    }
    return files;
  }
  void Put(const Folder& files) const {
    for (const auto& e : fs::directory_iterator(dir.path())) fs::remove(e.path());
    for (const auto& [name, bytes] : files) testing::WriteFileBytes(dir.path() / name, bytes);
  }
  // The record a rewrite of block 30 writes over `offsets_file`'s records.
  Bytes Record(const Folder& offsets_from) const {
    Put(offsets_from);
    TempBlockRecord record{"lib.ofs", "BLK30.ZGL", 3000, RecordsOnDisk("lib.ofs", 3000, 100)};
    return EncodeTempBlockRecord(record);
  }

  testing::TempDir dir;
  testing::ScopedCurrentDir cwd{dir.path()};
  testing::RecordingPort port;
  WorkingState state{port};
  ProjectSettings settings;
  Folder old_files;
  Folder new_files;
};

TEST_F(Recovery, EveryStateARewriteCanLeaveEndsInTheOldOrTheNewLibrary) {
  ASSERT_NE(old_files.at("BLK30.ZGL"), new_files.at("BLK30.ZGL"));
  const Bytes old_block = old_files.at("BLK30.ZGL");
  const Bytes new_block = new_files.at("BLK30.ZGL");
  const Bytes record = Record(old_files);
  Bytes damaged = record;
  damaged[damaged.size() / 2] ^= 0x40;
  // A half-written new block that happens to have the old block's length: only the record
  // tells it from a complete one.
  Bytes same_length = new_block;
  same_length.resize(old_block.size(), 0x55);
  const std::optional<Bytes> none;

  enum class End { kOld, kNew, kUntouched };
  struct Case {
    const char* state;
    bool new_offsets;
    std::optional<Bytes> block;
    std::optional<Bytes> temp;
    std::optional<Bytes> rec;
    RecoveryResult result;
    End end;
  };
  const std::vector<Case> cases = {
      {"record written", false, old_block, none, record, RecoveryResult::kNothingFound, End::kOld},
      {"block moved to BLTEMP", false, none, old_block, record, RecoveryResult::kRecovered, End::kOld},
      {"new block begun", false, Bytes(new_block.begin(), new_block.begin() + 9), old_block, record,
       RecoveryResult::kRecovered, End::kOld},
      {"new block of the old length", false, same_length, old_block, record,
       RecoveryResult::kRecovered, End::kOld},
      {"new block complete", false, new_block, old_block, record, RecoveryResult::kRecovered, End::kOld},
      {"offsets written", true, new_block, old_block, record, RecoveryResult::kRecovered, End::kNew},
      {"BLTEMP removed", true, new_block, none, record, RecoveryResult::kNothingFound, End::kNew},
      {"no record, block moved", false, none, old_block, none, RecoveryResult::kRecovered, End::kOld},
      {"damaged record, new block begun", false, Bytes(new_block.begin(), new_block.begin() + 9),
       old_block, damaged, RecoveryResult::kRecovered, End::kOld},
      {"no record, offsets written", true, new_block, old_block, none, RecoveryResult::kRefused,
       End::kUntouched},
      {"block cut behind new offsets", true, Bytes(new_block.begin(), new_block.begin() + 9),
       old_block, record, RecoveryResult::kRefused, End::kUntouched},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    Folder files = c.new_offsets ? new_files : old_files;
    files.erase("BLK30.ZGL");
    if (c.block) files["BLK30.ZGL"] = *c.block;
    if (c.temp) files["BLTEMP"] = *c.temp;
    if (c.rec) files["BLTEMP.REC"] = *c.rec;
    Put(files);
    port.Clear();
    EXPECT_EQ(RecoverInterruptedRewrite(settings, port), c.result);
    const Folder after = Files();
    switch (c.end) {
      case End::kOld:
        EXPECT_EQ(after, old_files);
        break;
      case End::kNew:
        EXPECT_EQ(after, new_files);
        break;
      case End::kUntouched:
        EXPECT_EQ(after, files);
        break;
    }
    // One message whenever BLTEMP was there: a notice when it was put right.
    ASSERT_EQ(port.messages.size(), c.temp ? 1u : 0u);
    if (c.temp) {
      EXPECT_EQ(port.messages[0].icon, c.result == RecoveryResult::kRecovered
                                           ? MessageIcon::kInformation
                                           : MessageIcon::kWarning);
      EXPECT_NE(port.messages[0].text.find(c.result == RecoveryResult::kRefused ? "Nothing was changed"
                                                                                : "BLK30.ZGL"),
                std::string::npos)
          << port.messages[0].text;
    }
  }
}

TEST_F(Recovery, ABlockEmptiedByTheRewriteEndsWithoutFile) {
  // Every entry dropped: the rewrite deletes the block file right after the offsets file.
  StoreContext context{settings, state, {}};
  ASSERT_TRUE(OpenBlock(3000, context));
  for (int n = 3000; n <= 3099; ++n) ASSERT_TRUE(DropEntry(n, context));
  ASSERT_TRUE(CheckBlockEnd(3099, context));
  const Folder emptied = Files();
  ASSERT_EQ(emptied.count("BLK30.ZGL"), 0u);
  Folder killed = emptied;
  killed["BLTEMP"] = old_files.at("BLK30.ZGL");
  killed["BLTEMP.REC"] = Record(old_files);
  for (const bool block_left : {false, true}) {
    if (block_left) killed["BLK30.ZGL"] = {};  // killed before the empty file went
    Put(killed);
    EXPECT_EQ(RecoverInterruptedRewrite(settings, port), RecoveryResult::kRecovered);
    EXPECT_EQ(Files(), emptied);
  }
}

TEST_F(Recovery, AnotherLibrarysRewriteIsRecoveredOnlyWhenNoRunHoldsIt) {
  Folder killed = old_files;
  killed.erase("BLK30.ZGL");
  killed["BLTEMP"] = old_files.at("BLK30.ZGL");
  killed["BLTEMP.REC"] = Record(old_files);
  killed["lib.ofs.lock"] = {};
  Put(killed);
  ProjectSettings mine = settings;
  mine.FOFS = MakeName("mine.ofs");
  mine.FBLK = MakeName("MIN00.ZGL");
  {
    LibraryLock working;
    ASSERT_EQ(working.Acquire("lib.ofs", nullptr), LibraryLock::Outcome::kHeld);
    EXPECT_EQ(RecoverInterruptedRewrite(mine, port), RecoveryResult::kRefused);
    Folder now = Files();
    now["lib.ofs.lock"] = {};  // holds the working run's process id
    EXPECT_EQ(now, killed);
  }
  // By its own record, whatever this project's names.
  EXPECT_EQ(RecoverInterruptedRewrite(mine, port), RecoveryResult::kRecovered);
  Folder expected = old_files;
  expected["lib.ofs.lock"] = {};
  EXPECT_EQ(Files(), expected);
}

TEST(RecoveryRecord, ComesBackWholeAndAnyDamageIsSeenAndItIsNeverReplaced) {
  TempBlockRecord record{"sub\\lib.ofs", "blk\\B30.ZGL", 3000, Bytes(800)};
  for (std::size_t i = 0; i < record.records.size(); ++i) record.records[i] = static_cast<std::uint8_t>(i * 7);
  const Bytes bytes = EncodeTempBlockRecord(record);
  const auto back = DecodeTempBlockRecord(bytes);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(std::tie(back->offsets_name, back->block_name, back->first_icon, back->records),
            std::tie(record.offsets_name, record.block_name, record.first_icon, record.records));
  for (std::size_t at = 0; at < bytes.size(); at += 3) {
    Bytes flipped = bytes;
    flipped[at] ^= 0x01;
    EXPECT_FALSE(DecodeTempBlockRecord(flipped).has_value()) << "byte " << at;
  }
  Bytes longer = bytes;
  longer.push_back(0);
  EXPECT_FALSE(DecodeTempBlockRecord(longer).has_value());
  EXPECT_FALSE(DecodeTempBlockRecord(std::span(bytes).first(bytes.size() - 1)).has_value());
  // Records past the offsets table's end, or nameless files, are not a record of ours.
  EXPECT_FALSE(DecodeTempBlockRecord(EncodeTempBlockRecord({"a", "b", 19950, Bytes(800)})));
  EXPECT_FALSE(DecodeTempBlockRecord(EncodeTempBlockRecord({"", "b", 3000, Bytes(8)})));

  testing::TempDir dir;
  testing::ScopedCurrentDir cwd{dir.path()};
  EXPECT_TRUE(WriteTempBlockRecord(record));
  EXPECT_FALSE(WriteTempBlockRecord({"other.ofs", "O30.ZGL", 0, {}}));
  EXPECT_EQ(testing::ReadFileBytes(dir.path() / kTempBlockRecordName), bytes);
}

}  // namespace
}  // namespace zemlo
