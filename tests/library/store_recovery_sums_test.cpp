// The checksum file through the recovery of a rewrite that had finished (new offsets, new block
// file) when the run was killed with BLTEMP and its record still there: the file must end up
// describing the new block before BLTEMP goes, whether or not the run had got to write it.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "core/content_hash.h"
#include "core/working_state.h"
#include "library/store/block_store.h"
#include "library/store/checksum_file.h"
#include "library/store/entry_sums.h"
#include "library/store/rewrite_recovery.h"
#include "support/folder_snapshot.h"
#include "support/name_text.h"
#include "support/recording_port.h"
#include "support/temp_dir.h"

namespace zemlo {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Folder = std::map<std::string, Bytes>;

constexpr char kSums[] = "lib.ofs.sum";

// Entries of block 30 in two versions; every entry differs between them, some come or go.
Bytes SummedEntry(int icon, int version) {
  if ((icon + version) % 7 == 0) return {};
  Bytes b(1 + static_cast<std::size_t>(icon * 11 + version * 3) % 30);
  for (std::size_t i = 0; i < b.size(); ++i)
    b[i] = static_cast<std::uint8_t>(icon * 5 + version * 29 + i);
  return b;
}

class SumsRecovery : public ::testing::Test {
 protected:
  SumsRecovery() {
    settings.FBLK = testing::MakeName("BLK00.ZGL");
    settings.FOFS = testing::MakeName("lib.ofs");
    settings.DBLK = 2;
    settings.NSIZ = 5000;
    Rewrite(0);
    old_files = Files();
    old_records = RecordsOnDisk("lib.ofs", 3000, 100);
    old_sums = SumsOf(1);
    Rewrite(1);
    new_files = Files();
    new_sums = SumsOf(1);
  }

  void Rewrite(int version) {
    StoreContext context{settings, state, {}};
    ASSERT_TRUE(OpenBlock(3000, context));
    for (int n = 3000; n <= 3099; ++n) {
      ASSERT_TRUE(StoreEntry(n, SummedEntry(n, version), context));
    }
    ASSERT_TRUE(CheckBlockEnd(3099, context));
  }

  // The checksum file a run of `generation` writes of the library as it is now: block 30's
  // entries, each named after a source, and an entry of another block.
  ChecksumFile SumsOf(std::uint32_t generation) const {
    ChecksumFile sums;
    sums.generation = generation;
    FitSums(sums, settings);
    const auto hashed = HashBlockFile("BLK30.ZGL", RecordsOnDisk("lib.ofs", 3000, 100));
    EXPECT_TRUE(hashed.has_value());
    if (!hashed) return sums;
    for (int i = 0; i < 100; ++i) {
      const HashedEntry& e = hashed->entries[static_cast<std::size_t>(i)];
      if (e.length == 0) continue;
      sums.icons[static_cast<std::size_t>(3000 + i)] = {
          e.length, kSumInBlock, e.hash, {}, 100u + e.length, "p" + std::to_string(i), generation};
    }
    sums.icons[42] = {9, kSumInBlock, 1234, {1, 2, 3, 4}, 77, "elsewhere", generation};
    sums.blocks[30] = {hashed->block.length, hashed->block.hash, generation};
    return sums;
  }

  Folder Files() const { return testing::SnapshotFolder(dir.path(), testing::AtTop); }
  void Put(const Folder& files) const {
    for (const auto& e : fs::directory_iterator(dir.path())) fs::remove(e.path());
    for (const auto& [name, bytes] : files) testing::WriteFileBytes(dir.path() / name, bytes);
  }
  // The new library as the killed run left it, with `sums` as its checksum file.
  Folder Killed(const ChecksumFile& sums) const {
    Folder files = new_files;
    files["BLTEMP"] = old_files.at("BLK30.ZGL");
    files["BLTEMP.REC"] = EncodeTempBlockRecord({"lib.ofs", "BLK30.ZGL", 3000, old_records});
    files[kSums] = EncodeChecksumFile(sums);
    return files;
  }
  ChecksumFile SumsNow() const {
    auto sums = DecodeChecksumFile(testing::ReadFileBytes(dir.path() / kSums));
    EXPECT_TRUE(sums);
    return sums ? *sums : ChecksumFile{};
  }

  testing::TempDir dir;
  testing::ScopedCurrentDir cwd{dir.path()};
  testing::RecordingPort port;
  WorkingState state{port};
  ProjectSettings settings;
  Folder old_files, new_files;
  Bytes old_records;
  ChecksumFile old_sums, new_sums;
};

TEST_F(SumsRecovery, TheFileStillOfTheOldBlockIsBroughtUpToDateBeforeBLTEMPGoes) {
  ASSERT_NE(old_sums.blocks[30], new_sums.blocks[30]);
  Put(Killed(old_sums));
  EXPECT_EQ(RecoverInterruptedRewrite(settings, port), RecoveryResult::kRecovered);
  Folder after = Files();
  ASSERT_EQ(after.count(kSums), 1u);
  after.erase(kSums);
  EXPECT_EQ(after, new_files);  // BLTEMP and its record gone, nothing else changed

  const ChecksumFile sums = SumsNow();
  EXPECT_EQ(sums.generation, 2u);
  const Bytes block = new_files.at("BLK30.ZGL");
  EXPECT_EQ(sums.blocks[30], (BlockSum{block.size(), HashBytes(block), 2}));
  for (int n = 3000; n <= 3099; ++n) {
    SCOPED_TRACE(n);
    const IconSum& sum = sums.icons[static_cast<std::size_t>(n)];
    const Bytes entry = SummedEntry(n, 1);
    if (entry.empty()) {
      EXPECT_EQ(sum, IconSum{});
      continue;
    }
    EXPECT_EQ(sum.length, entry.size());
    EXPECT_EQ(sum.hash, HashBytes(entry));
    EXPECT_EQ(sum.flags, kSumInBlock | kSumAdopted);
    EXPECT_EQ(sum.generation, 2u);
    // Whatever source the old sum named is most likely the new entry's too.
    EXPECT_EQ(sum.source, old_sums.icons[static_cast<std::size_t>(n)].source);
  }
  // The other blocks' sums are as they were.
  EXPECT_EQ(sums.icons[42], old_sums.icons[42]);
  for (std::size_t b = 0; b < sums.blocks.size(); ++b) {
    if (b != 30) {
      EXPECT_EQ(sums.blocks[b], old_sums.blocks[b]) << b;
    }
  }
}

TEST_F(SumsRecovery, SumsTheRunHadWrittenAlreadyAreKept) {
  Put(Killed(new_sums));
  EXPECT_EQ(RecoverInterruptedRewrite(settings, port), RecoveryResult::kRecovered);
  const ChecksumFile sums = SumsNow();
  EXPECT_EQ(sums.icons, new_sums.icons);  // not adopted: the run stored them
  EXPECT_EQ(sums.blocks[30].hash, new_sums.blocks[30].hash);
  EXPECT_FALSE(fs::exists(dir.path() / "BLTEMP"));
}

// A damaged file is no description of any block: the next run refuses it and writes it anew,
// so it must not keep BLTEMP, and every command after, from being put right.
TEST_F(SumsRecovery, ADamagedFileIsLeftForTheRunToWriteAnew) {
  Folder killed = Killed(old_sums);
  killed[kSums][killed[kSums].size() / 2] ^= 0x08;
  Put(killed);
  EXPECT_EQ(RecoverInterruptedRewrite(settings, port), RecoveryResult::kRecovered);
  Folder expected = new_files;
  expected[kSums] = killed[kSums];
  EXPECT_EQ(Files(), expected);
}

TEST_F(SumsRecovery, AFileThatCannotBeReadKeepsBLTEMPAndItsRecord) {
  Folder killed = Killed(old_sums);
  killed.erase(kSums);
  Put(killed);
  fs::create_directory(dir.path() / kSums);
  EXPECT_EQ(RecoverInterruptedRewrite(settings, port), RecoveryResult::kRefused);
  EXPECT_EQ(Files(), killed);
  char text[kTextBufferSize];
  std::snprintf(text, sizeof text, kSumsNotRefreshedFormat.c_str(), "BLK30.ZGL");
  EXPECT_EQ(port.MessageTexts(), std::vector<std::string>{text});
}

}  // namespace
}  // namespace zemlo
