// The block rewrite through BLTEMP, checked against the files it leaves on disk.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/working_state.h"
#include "files/file_helpers.h"
#include "files/file_layer.h"
#include "library/store/block_store.h"
#include "library/store/stamping.h"
#include "library/store/tables.h"
#include "library/store/tables_io.h"
#include "support/name_text.h"
#include "support/recording_port.h"
#include "support/temp_dir.h"

namespace zemlo {
namespace {

using testing::MakeName;

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// Entry bytes of an icon in one version of the library; some icons have none in version 0.
Bytes VersionedEntry(int icon, int version) {
  if (version == 0 && icon % 9 == 4) return {};
  const std::size_t length = 1 + static_cast<std::size_t>(icon * 13 + version * 5) % 40;
  Bytes b(length);
  for (std::size_t i = 0; i < length; ++i) {
    b[i] = static_cast<std::uint8_t>(icon * 131 + version * 17 + i * 3);
  }
  return b;
}

std::optional<Bytes> ReadAll(const std::string& name) {
  std::FILE* f = files::OpenFile(name.c_str(), "rb").value_or(nullptr);
  if (f == nullptr) return std::nullopt;
  Bytes out;
  std::uint8_t buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
    out.insert(out.end(), buffer, buffer + n);
  std::fclose(f);
  return out;
}

enum class Action { kStore, kKeep, kDrop };

class BlockStore : public ::testing::Test {
 protected:
  BlockStore() {
    settings.FBLK = MakeName("BLK00.ZGL");
    settings.FOFS = MakeName("lib.ofs");
    settings.DBLK = 2;
    context.tell = [this](const StoreProblem& problem) { told.push_back(problem); };
  }

  std::string BlockName(int block) {
    Name name = settings.FBLK;
    return StampBlockNumber(block, name) ? std::string(name.data()) : std::string();
  }
  int BlockOf(int icon) const { return icon / settings.BLKB; }

  // Block files and offsets file holding version `version` of the icons first..last.
  void MakeLibrary(int first, int last, int version = 0) {
    OffsetsTable table(state.offsets.span());
    std::map<int, Bytes> blocks;
    for (int n = first; n <= last; ++n) {
      const Bytes e = VersionedEntry(n, version);
      Bytes& block = blocks[BlockOf(n)];
      table.Set(n, e.empty() ? 0 : static_cast<std::int32_t>(block.size()),
                static_cast<std::int32_t>(e.size()));
      block.insert(block.end(), e.begin(), e.end());
    }
    for (const auto& [b, bytes] : blocks) {
      if (!bytes.empty()) {
        ASSERT_TRUE(WriteWholeFile(BlockName(b).c_str(), bytes)) << b;
      }
    }
    ASSERT_TRUE(WriteOffsetsFile(settings, state));
  }

  // The offsets record of an icon as the offsets file on disk has it.
  std::pair<std::int32_t, std::int32_t> DiskRecord(int icon) {
    return RecordIn(ReadAll(settings.FOFS.data()), icon);
  }
  static std::pair<std::int32_t, std::int32_t> RecordIn(const std::optional<Bytes>& file,
                                                        int icon) {
    if (!file || file->size() < static_cast<std::size_t>(icon + 1) * 8) return {0, 0};
    const std::uint8_t* p = file->data() + static_cast<std::size_t>(icon) * 8;
    return {static_cast<std::int32_t>(LoadU32LE(p)), static_cast<std::int32_t>(LoadU32LE(p + 4))};
  }

  // The entry of an icon as the files on disk give it (empty: no entry).
  Bytes DiskEntry(int icon) {
    const auto [offset, length] = DiskRecord(icon);
    if (length <= 0) return {};
    const auto block = ReadAll(BlockName(BlockOf(icon)));
    if (!block || offset < 0 || static_cast<std::size_t>(offset) + length > block->size()) {
      return Bytes{0xBA, 0xD0};  // a record pointing outside its block file
    }
    return Bytes(block->begin() + offset, block->begin() + offset + length);
  }

  // The block file on disk is exactly its records' entries, back to back from 0.
  void ExpectBlockConsistent(int block) {
    std::int64_t expected_offset = 0;
    const auto offsets_file = ReadAll(settings.FOFS.data());
    for (int n = block * settings.BLKB; n < (block + 1) * settings.BLKB; ++n) {
      const auto [offset, length] = RecordIn(offsets_file, n);
      if (length == 0) {
        EXPECT_EQ(offset, 0) << n;
        continue;
      }
      EXPECT_EQ(offset, expected_offset) << n;
      expected_offset += length;
    }
    const auto file = ReadAll(BlockName(block));
    if (expected_offset == 0) {
      EXPECT_FALSE(file.has_value()) << "block " << block << " should have no file";
    } else {
      ASSERT_TRUE(file.has_value()) << block;
      EXPECT_EQ(static_cast<std::int64_t>(file->size()), expected_offset) << block;
    }
  }

  // Drives the store as the creation run does. Returns the icon at which the store stopped
  // the run, or nullopt when it went through.
  std::optional<int> Run(int first, int last, const std::function<Action(int)>& action,
                         int version = 1) {
    for (int n = first; n <= last; ++n) {
      if (context.rewrite.open_block == -1 && !Told(OpenBlock(n, context))) return n;
      bool ok = true;
      switch (action(n)) {
        case Action::kStore:
          ok = Told(StoreEntry(n, VersionedEntry(n, version), context));
          break;
        case Action::kKeep:
          ok = Told(KeepEntry(n, context));
          break;
        case Action::kDrop:
          ok = Told(DropEntry(n, context));
          break;
      }
      if (!ok || !Told(CheckBlockEnd(n, context))) return n;
    }
    if (context.rewrite.open_block != -1 && !Told(CloseBlock(last, context))) return last;
    return std::nullopt;
  }

  // As the run does: a failure goes where the store's notices go, but for one that an
  // earlier failure already told.
  bool Told(const StoreStatus& status) {
    if (status) return true;
    if (status.error().kind != StoreProblemKind::kStopped) told.push_back(status.error());
    return false;
  }

  bool TempExists() { return fs::exists(dir.path() / "BLTEMP"); }
  std::string LastTold() { return told.empty() ? "" : told.back().name; }

  testing::TempDir dir;
  testing::ScopedCurrentDir cwd{dir.path()};
  testing::RecordingPort port;
  WorkingState state{port};
  ProjectSettings settings;
  StoreContext context{settings, state, {}};
  // Every problem the store had, in order; the store itself never shows a box.
  std::vector<StoreProblem> told;
};

const auto kStoreAll = [](int) { return Action::kStore; };
const auto kKeepAll = [](int) { return Action::kKeep; };

TEST_F(BlockStore, RecordsMoveOnlyWithinTheirBlockAndOnlyWhenNotEmpty) {
  OffsetsTable table(state.offsets.span());
  settings.BLKB = 10;
  table.Set(19, 5, 5);  // the block before
  table.Set(20, 0, 4);
  table.Set(21, 0, 0);  // no entry: stays (0, 0)
  table.Set(22, 4, 6);
  table.Set(29, 10, 2);
  table.Set(30, 0, 7);  // the next block
  EXPECT_EQ(RemoveRecord(20, 10, table), 4);
  EXPECT_EQ(table.offset(20), 0);
  EXPECT_EQ(table.length(20), 0);
  EXPECT_EQ(table.offset(21), 0);
  EXPECT_EQ(table.offset(22), 0);
  EXPECT_EQ(table.offset(29), 6);
  EXPECT_EQ(table.offset(30), 0);
  EXPECT_EQ(table.offset(19), 5);

  InsertRecord(20, 9, 0, 10, table);
  EXPECT_EQ(table.length(20), 9);
  EXPECT_EQ(table.offset(21), 0);
  EXPECT_EQ(table.offset(22), 9);
  EXPECT_EQ(table.offset(29), 15);
  EXPECT_EQ(table.offset(30), 0);
  // The last records of the table: the block reaches past the capacity.
  settings.BLKB = 7;
  table.Set(19999, 0, 3);
  EXPECT_EQ(RemoveRecord(19999, 7, table), 3);
  InsertRecord(19999, 2, 0, 7, table);
  EXPECT_EQ(table.length(19999), 2);
}

// Offsets and lengths are whatever the offsets file says. A move that would carry an offset
// out of the 32-bit range leaves the record as it is; every other record moves as usual.
TEST_F(BlockStore, RecordsThatCannotMoveStayWhereTheyAre) {
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
  OffsetsTable table(state.offsets.span());
  table.Set(21, kMax - 2, 5);
  table.Set(22, 10, 3);
  InsertRecord(20, 9, 0, 10, table);
  EXPECT_EQ(table.offset(21), kMax - 2);
  EXPECT_EQ(table.offset(22), 19);
  EXPECT_EQ(table.length(21), 5);

  table.Set(30, 0, kMin);  // a negative length moves the later records up by its size
  table.Set(31, 5, 2);
  table.Set(32, kMin, 1);
  table.Set(33, kMin + 4, 1);
  EXPECT_EQ(RemoveRecord(30, 10, table), kMin);
  EXPECT_EQ(table.offset(30), 0);
  EXPECT_EQ(table.length(30), 0);
  EXPECT_EQ(table.offset(31), 5);
  EXPECT_EQ(table.offset(32), 0);
  EXPECT_EQ(table.offset(33), 4);
}

// Records no block file can hold (an offset near the 32-bit edge, a negative length) are
// rewritten without harm: every entry keeps its bytes, which the block's lengths place.
TEST_F(BlockStore, ImpossibleRecordsAreRewrittenFromTheBlocksLengths) {
  MakeLibrary(3000, 3099);
  ASSERT_TRUE(VersionedEntry(3001, 0).empty());
  OffsetsTable table(state.offsets.span());
  table.Set(3001, 77, -5);
  table.Set(3060, std::numeric_limits<std::int32_t>::max() - 1, table.length(3060));
  table.Set(3070, std::numeric_limits<std::int32_t>::min(), table.length(3070));
  ASSERT_TRUE(WriteOffsetsFile(settings, state));
  ASSERT_EQ(Run(3000, 3099, [](int n) { return n == 3050 ? Action::kStore : Action::kKeep; }),
            std::nullopt);
  EXPECT_TRUE(told.empty()) << LastTold();
  EXPECT_EQ(DiskRecord(3001), std::pair(0, 0));
  for (int n = 3000; n <= 3099; ++n)
    EXPECT_EQ(DiskEntry(n), VersionedEntry(n, n == 3050 ? 1 : 0)) << n;
  ExpectBlockConsistent(30);
  EXPECT_FALSE(TempExists());
}

TEST_F(BlockStore, NewBlocksStartFromAnEmptyTemporaryFile) {
  ASSERT_EQ(Run(3000, 3199, kStoreAll), std::nullopt);
  EXPECT_TRUE(told.empty());
  for (int n = 3000; n <= 3199; ++n) EXPECT_EQ(DiskEntry(n), VersionedEntry(n, 1)) << n;
  ExpectBlockConsistent(30);
  ExpectBlockConsistent(31);
  EXPECT_FALSE(TempExists());
}

// BLKB 7: the run's first block (428) starts at 2996 and its last (714) ends at 5004. Windows
// refuses the name of blocks 690 to 699 ("|"), so there the run stops at block 690 with a
// warning; a run from 4998 then closes block 714.
TEST_F(BlockStore, RunRangeCarriesTheNeighboursOfItsEndBlocksByteForByte) {
  settings.BLKB = 7;
  MakeLibrary(2996, 3002);
  MakeLibrary(4998, 5004);
  const std::string name690 = BlockName(690);
  ASSERT_EQ(name690, "BLK|0.ZGL");
#if defined(_WIN32)
  ASSERT_EQ(Run(3000, 4999, kStoreAll), 4830);
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told.back().name, name690);
  EXPECT_FALSE(TempExists());
  for (int n = 3000; n < 4830; ++n) EXPECT_EQ(DiskEntry(n), VersionedEntry(n, 1)) << n;
  for (int b = 428; b < 690; ++b) ExpectBlockConsistent(b);
  ASSERT_EQ(Run(4998, 4999, kStoreAll), std::nullopt);
#else
  ASSERT_EQ(Run(3000, 4999, kStoreAll), std::nullopt);
  EXPECT_TRUE(told.empty());
  EXPECT_TRUE(fs::exists(dir.path() / name690));
  for (int n = 3000; n <= 4999; ++n) EXPECT_EQ(DiskEntry(n), VersionedEntry(n, 1)) << n;
  for (int b = 428; b <= 714; ++b) ExpectBlockConsistent(b);
#endif
  for (int n = 2996; n <= 2999; ++n) EXPECT_EQ(DiskEntry(n), VersionedEntry(n, 0)) << n;
  for (int n = 5000; n <= 5004; ++n) EXPECT_EQ(DiskEntry(n), VersionedEntry(n, 0)) << n;
  // 2996..2999 come first in block 428, so their records did not even move.
  EXPECT_EQ(DiskRecord(2999).first, static_cast<std::int32_t>(VersionedEntry(2996, 0).size() +
                                                              VersionedEntry(2997, 0).size() +
                                                              VersionedEntry(2998, 0).size()));
  ExpectBlockConsistent(428);
  ExpectBlockConsistent(714);
  EXPECT_FALSE(TempExists());
}

TEST_F(BlockStore, ALongerMiddleEntryMovesOnlyTheLaterOffsetsOfItsBlock) {
  MakeLibrary(2900, 3199);
  const auto before = ReadAll(settings.FOFS.data()).value();
  const auto old_block = ReadAll(BlockName(30)).value();
  const auto [old_offset, old_length] = DiskRecord(3050);
  ASSERT_GT(old_length, 0);
  Bytes longer = VersionedEntry(3050, 0);
  longer.insert(longer.end(), 11, 0x5A);

  for (int n = 3000; n <= 3099; ++n) {
    if (context.rewrite.open_block == -1) {
      ASSERT_TRUE(OpenBlock(n, context));
    }
    ASSERT_TRUE(n == 3050 ? StoreEntry(n, longer, context) : KeepEntry(n, context));
    ASSERT_TRUE(CheckBlockEnd(n, context));
  }
  ASSERT_EQ(context.rewrite.open_block, -1);

  Bytes expected(old_block.begin(), old_block.begin() + old_offset);
  expected.insert(expected.end(), longer.begin(), longer.end());
  expected.insert(expected.end(), old_block.begin() + old_offset + old_length, old_block.end());
  EXPECT_EQ(ReadAll(BlockName(30)).value(), expected);

  const auto after = ReadAll(settings.FOFS.data()).value();
  ASSERT_EQ(after.size(), before.size());
  auto record = [](const Bytes& f, int n) {
    return std::pair{LoadU32LE(&f[n * 8]), LoadU32LE(&f[n * 8 + 4])};
  };
  for (int n = 0; n < 20000; ++n) {
    auto [o, l] = record(before, n);
    if (n == 3050) {
      l = static_cast<std::uint32_t>(longer.size());
    } else if (n > 3050 && n <= 3099 && l != 0) {
      o += 11;
    }
    ASSERT_EQ(record(after, n), std::pair(o, l)) << n;
  }
  EXPECT_FALSE(TempExists());
}

TEST_F(BlockStore, DroppingEveryEntryDeletesTheBlockFile) {
  MakeLibrary(3000, 3099);
  ASSERT_TRUE(fs::exists(dir.path() / BlockName(30)));
  ASSERT_EQ(Run(3000, 3099, [](int) { return Action::kDrop; }), std::nullopt);
  EXPECT_FALSE(fs::exists(dir.path() / BlockName(30)));
  for (int n = 3000; n <= 3099; ++n) EXPECT_EQ(DiskRecord(n), std::pair(0, 0)) << n;
  EXPECT_EQ(fs::file_size(dir.path() / "lib.ofs"), 160000u);
  EXPECT_FALSE(TempExists());
}

TEST_F(BlockStore, AStoppedRunCarriesTheRestOfItsBlock) {
  MakeLibrary(3000, 3099);
  ASSERT_EQ(Run(3000, 3050, kStoreAll), std::nullopt);  // ends with CloseBlock(3050)
  for (int n = 3000; n <= 3050; ++n) EXPECT_EQ(DiskEntry(n), VersionedEntry(n, 1)) << n;
  for (int n = 3051; n <= 3099; ++n) EXPECT_EQ(DiskEntry(n), VersionedEntry(n, 0)) << n;
  ExpectBlockConsistent(30);
  EXPECT_FALSE(TempExists());
}

TEST_F(BlockStore, IconsTheRunSkipsAreCarriedUnchanged) {
  MakeLibrary(3000, 3099);
  ASSERT_TRUE(OpenBlock(3010, context));
  ASSERT_TRUE(StoreEntry(3020, VersionedEntry(3020, 1), context));  // 3010..3019 not handed over
  ASSERT_TRUE(CloseBlock(3020, context));
  for (int n = 3000; n <= 3099; ++n) {
    EXPECT_EQ(DiskEntry(n), VersionedEntry(n, n == 3020 ? 1 : 0)) << n;
  }
  ExpectBlockConsistent(30);
}

TEST_F(BlockStore, WhileABlockIsOpenTheOldStateIsCompleteOnDisk) {
  MakeLibrary(3000, 3099);
  const auto old_block = ReadAll(BlockName(30)).value();
  const auto old_offsets = ReadAll(settings.FOFS.data()).value();
  {
    StoreContext interrupted{settings, state, {}};
    ASSERT_TRUE(OpenBlock(3000, interrupted));
    for (int n = 3000; n <= 3040; ++n)
      ASSERT_TRUE(StoreEntry(n, VersionedEntry(n, 1), interrupted));
    EXPECT_EQ(ReadAll("BLTEMP").value(), old_block);
    EXPECT_EQ(ReadAll(settings.FOFS.data()).value(), old_offsets);
  }  // the run dies here: BLTEMP stays as the block's old content
  EXPECT_TRUE(TempBlockLeftOver());
  EXPECT_EQ(ReadAll("BLTEMP").value(), old_block);
  EXPECT_EQ(ReadAll(settings.FOFS.data()).value(), old_offsets);
}

TEST_F(BlockStore, ALeftOverTempFileStopsTheRunAndTruncatesNothing) {
  MakeLibrary(3000, 3199);
  ASSERT_EQ(Run(3000, 3099, kStoreAll), std::nullopt);  // block 30 done
  const Bytes leftover = {'o', 'l', 'd'};
  testing::WriteFileBytes(dir.path() / "BLTEMP", leftover);
  const auto block30 = ReadAll(BlockName(30)).value();
  const auto block31 = ReadAll(BlockName(31)).value();
  const auto offsets = ReadAll(settings.FOFS.data()).value();

  EXPECT_TRUE(TempBlockLeftOver());
  EXPECT_EQ(Run(3100, 3199, kStoreAll), 3100);
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told.back(), (StoreProblem{StoreProblemKind::kTempBlockLeftOver, "BLTEMP", 0}));
  EXPECT_EQ(ReadAll("BLTEMP").value(), leftover);
  EXPECT_EQ(ReadAll(BlockName(30)).value(), block30);
  EXPECT_EQ(ReadAll(BlockName(31)).value(), block31);
  EXPECT_EQ(ReadAll(settings.FOFS.data()).value(), offsets);
  // The block closed before the leftover appeared is described by the offsets on disk.
  for (int n = 3000; n <= 3099; ++n) EXPECT_EQ(DiskEntry(n), VersionedEntry(n, 1)) << n;
  // Nothing more is written by this context.
  EXPECT_FALSE(CloseBlock(3100, context));
  EXPECT_EQ(ReadAll(settings.FOFS.data()).value(), offsets);

  // The commands refuse a run with the same problem before it starts.
  EXPECT_EQ(TempBlockLeftOverProblem(), told.back());
}

TEST_F(BlockStore, EntriesMissingFromAShortBlockFileAreDropped) {
  MakeLibrary(3000, 3099);
  const auto [cut_offset, cut_length] = DiskRecord(3060);
  ASSERT_GT(cut_length, 1);
  auto block = ReadAll(BlockName(30)).value();
  block.resize(static_cast<std::size_t>(cut_offset) + 1);  // 3060 loses all but one byte
  ASSERT_TRUE(WriteWholeFile(BlockName(30).c_str(), block));

  // Keep everything, but replace 3070 (after the cut).
  ASSERT_EQ(Run(3000, 3099, [](int n) { return n == 3070 ? Action::kStore : Action::kKeep; }),
            std::nullopt);
  for (int n = 3000; n < 3060; ++n) EXPECT_EQ(DiskEntry(n), VersionedEntry(n, 0)) << n;
  for (int n = 3060; n <= 3099; ++n) {
    EXPECT_EQ(DiskEntry(n), n == 3070 ? VersionedEntry(n, 1) : Bytes{}) << n;
  }
  ExpectBlockConsistent(30);
  EXPECT_EQ(DiskRecord(3070).first, cut_offset);
  // Told once, while the run goes on.
  EXPECT_EQ(told, (std::vector<StoreProblem>{{StoreProblemKind::kBlockShort, BlockName(30), 0}}));
}

TEST_F(BlockStore, ABlockFileRemovedBehindTheOffsetsLosesItsRecords) {
  MakeLibrary(3000, 3099);
  fs::remove(dir.path() / BlockName(30));
  ASSERT_EQ(Run(3000, 3099, kKeepAll), std::nullopt);
  for (int n = 3000; n <= 3099; ++n) EXPECT_EQ(DiskRecord(n), std::pair(0, 0)) << n;
  EXPECT_FALSE(fs::exists(dir.path() / BlockName(30)));
  EXPECT_FALSE(TempExists());
}

TEST_F(BlockStore, ABlockFileThatCannotBeCreatedStopsTheRun) {
  settings.FBLK = MakeName("nofolder\\BLK00.ZGL");
  EXPECT_EQ(Run(3000, 3099, kStoreAll), 3000);
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told.back(),
            (StoreProblem{StoreProblemKind::kBlockNotCreated, "nofolder\\BLK30.ZGL", 0}));
  EXPECT_FALSE(TempExists());
  EXPECT_FALSE(fs::exists(dir.path() / "lib.ofs"));
}

TEST_F(BlockStore, ABlockPatternTooShortStopsTheRun) {
  settings.FBLK = MakeName("B.ZGL");
  EXPECT_EQ(Run(3000, 3099, kStoreAll), 3000);
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told.back(), (StoreProblem{StoreProblemKind::kBlockNotNamed, "", 30}));
  EXPECT_FALSE(TempExists());
}

TEST_F(BlockStore, AnOffsetsFileThatCannotBeWrittenPutsTheBlockBack) {
  MakeLibrary(3000, 3099);
  const auto old_block = ReadAll(BlockName(30)).value();
  settings.FOFS = MakeName("nofolder\\lib.ofs");  // unreadable: the table in memory is used
  EXPECT_EQ(Run(3000, 3099, kStoreAll), 3099);
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told.back(),
            (StoreProblem{StoreProblemKind::kOffsetsNotWritten, "nofolder\\lib.ofs", 0}));
  EXPECT_EQ(ReadAll(BlockName(30)).value(), old_block);
  EXPECT_FALSE(TempExists());
}

TEST_F(BlockStore, CallsOutOfOrderStopWithoutDamage) {
  MakeLibrary(3000, 3099);
  const auto old_block = ReadAll(BlockName(30)).value();
  const auto old_offsets = ReadAll(settings.FOFS.data()).value();
  ASSERT_TRUE(OpenBlock(3000, context));
  for (int n = 3000; n <= 3010; ++n) ASSERT_TRUE(StoreEntry(n, VersionedEntry(n, 1), context));
  EXPECT_FALSE(Told(KeepEntry(3005, context)));
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told.back(), (StoreProblem{StoreProblemKind::kOutOfOrder, "", 3005}));
  // Stopped: later calls fail without a problem of their own.
  EXPECT_FALSE(Told(StoreEntry(3011, VersionedEntry(3011, 1), context)));
  EXPECT_FALSE(Told(CloseBlock(3011, context)));
  EXPECT_EQ(told.size(), 1u);
  EXPECT_TRUE(port.messages.empty());  // the words are the front end's
  EXPECT_EQ(ReadAll(BlockName(30)).value(), old_block);
  EXPECT_EQ(ReadAll(settings.FOFS.data()).value(), old_offsets);
  EXPECT_FALSE(TempExists());
  // A new run may start again.
  ASSERT_EQ(Run(3000, 3099, kKeepAll), std::nullopt);
  EXPECT_EQ(ReadAll(BlockName(30)).value(), old_block);
}

TEST_F(BlockStore, WithBlockFilesOffBlockFilesAreDeleted) {
  MakeLibrary(3000, 3199);
  settings.DBLK = 1;
  ASSERT_EQ(Run(3000, 3099, kStoreAll), std::nullopt);
  EXPECT_FALSE(fs::exists(dir.path() / BlockName(30)));
  EXPECT_TRUE(fs::exists(dir.path() / BlockName(31)));
  EXPECT_EQ(DiskRecord(3099), std::pair(0, 0));  // written at the block's last icon
  EXPECT_FALSE(TempExists());
  EXPECT_TRUE(told.empty());
  // An empty block pattern is no reason to stop when block files are off; it names no file.
  const std::string block31 = BlockName(31);
  settings.FBLK = Name{};
  EXPECT_EQ(Run(3100, 3199, kStoreAll), std::nullopt);
  EXPECT_TRUE(told.empty());
  EXPECT_TRUE(fs::exists(dir.path() / block31));
}

TEST_F(BlockStore, NsizOf500WritesA4000ByteOffsetsFile) {
  settings.NSIZ = 500;
  settings.BLKB = 100;
  ASSERT_EQ(Run(300, 399, kStoreAll), std::nullopt);
  EXPECT_EQ(fs::file_size(dir.path() / "lib.ofs"), 4000u);
  for (int n = 300; n <= 399; ++n) EXPECT_EQ(DiskEntry(n), VersionedEntry(n, 1)) << n;
  ExpectBlockConsistent(3);
}

// A project written on Windows names its files with backslashes and other letter case.
TEST_F(BlockStore, WindowsStyleProjectNamesFindTheirFiles) {
  fs::create_directories(dir.path() / "lib" / "blocks");
  settings.FBLK = MakeName("lib/blocks/town00.zgl");
  settings.FOFS = MakeName("lib/town.ofs");
  MakeLibrary(3000, 3099);
  const auto old_block = ReadAll("lib/blocks/town30.zgl").value();

  settings.FBLK = MakeName("LIB\\BLOCKS\\TOWN00.ZGL");
  settings.FOFS = MakeName("Lib\\Town.OFS");
  ASSERT_EQ(Run(3000, 3099, [](int n) { return n == 3050 ? Action::kDrop : Action::kKeep; }),
            std::nullopt);
  EXPECT_TRUE(told.empty());
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir.path() / "lib" / "blocks")) {
    names.push_back(e.path().filename().string());
  }
  ASSERT_EQ(names.size(), 1u);
  std::string lower = names[0];
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(lower, "town30.zgl");
  std::vector<std::string> top;
  for (const auto& e : fs::directory_iterator(dir.path() / "lib")) {
    top.push_back(e.path().filename().string());
  }
  EXPECT_EQ(top.size(), 2u);  // blocks and town.ofs: the offsets file was replaced in place
  EXPECT_TRUE(fs::exists(dir.path() / "lib" / "town.ofs"));
  for (int n = 3000; n <= 3099; ++n) {
    EXPECT_EQ(DiskEntry(n), n == 3050 ? Bytes{} : VersionedEntry(n, 0)) << n;
  }
  const auto new_block = ReadAll(settings.FBLK.data()).value();
  EXPECT_EQ(new_block.size(), old_block.size() - VersionedEntry(3050, 0).size());
  ExpectBlockConsistent(30);
}

// A rewrite that fails puts the block's records back from the offsets file; when that file
// went meanwhile, the records as the rewrite found them go back instead of the half-written
// ones, which describe a block file that no longer exists.
TEST_F(BlockStore, AFailedRewriteWithoutItsOffsetsFileKeepsTheBlocksOldRecords) {
  MakeLibrary(3000, 3099);
  const auto old_table = ReadAll(settings.FOFS.data()).value();
  ASSERT_TRUE(OpenBlock(3000, context));
  for (int n = 3000; n <= 3010; ++n) ASSERT_TRUE(StoreEntry(n, VersionedEntry(n, 1), context));
  fs::remove(dir.path() / "lib.ofs");
  EXPECT_FALSE(Told(KeepEntry(3005, context)));
  EXPECT_EQ(told, (std::vector<StoreProblem>{{StoreProblemKind::kOutOfOrder, "", 3005}}));
  const auto table = state.offsets.span().first(old_table.size());
  EXPECT_TRUE(std::equal(table.begin(), table.end(), old_table.begin()));
  EXPECT_FALSE(TempExists());
}

// An offsets file that is there but cannot be read (here a folder) leaves the table in
// memory unknown against the disk: the block is not opened and nothing is touched.
TEST_F(BlockStore, AnUnreadableOffsetsFileStopsTheRunBeforeAnythingIsTouched) {
  MakeLibrary(3000, 3099);
  const auto old_block = ReadAll(BlockName(30)).value();
  fs::remove(dir.path() / "lib.ofs");
  fs::create_directory(dir.path() / "lib.ofs");
  EXPECT_EQ(Run(3000, 3099, kStoreAll), 3000);
  EXPECT_EQ(told, (std::vector<StoreProblem>{{StoreProblemKind::kOffsetsNotRead, "lib.ofs", 0}}));
  EXPECT_EQ(ReadAll(BlockName(30)).value(), old_block);
  EXPECT_FALSE(TempExists());
  EXPECT_FALSE(fs::exists(dir.path() / "BLTEMP.REC"));
}

}  // namespace
}  // namespace zemlo
