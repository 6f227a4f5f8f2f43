// The checksum file through the recovery of a rewrite that had finished (new offsets, new block
// file) when the run was killed with BLTEMP and its record still there: before BLTEMP goes,
// the file must describe the new block, whether or not the run had got to write it.
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
    for (const int version : {0, 1}) {
      StoreContext context{settings, state, {}};
      EXPECT_TRUE(OpenBlock(3000, context));
      for (int n = 3000; n <= 3099; ++n) {
        EXPECT_TRUE(StoreEntry(n, SummedEntry(n, version), context));
      }
      EXPECT_TRUE(CheckBlockEnd(3099, context));
      versions[version] = {testing::SnapshotFolder(dir.path()), SumsNowOfBlock(),
                           RecordsOnDisk("lib.ofs", 3000, 100)};
    }
  }

  // The checksum file a first run would write of the library as it is now: block 30's
  // entries, each named after a source, and an entry of another block.
  ChecksumFile SumsNowOfBlock() const {
    ChecksumFile sums;
    sums.generation = 1;
    FitSums(sums, settings);
    const auto hashed = HashBlockFile("BLK30.ZGL", RecordsOnDisk("lib.ofs", 3000, 100));
    EXPECT_TRUE(hashed.has_value());
    for (std::size_t i = 0; hashed && i < 100; ++i) {
      const HashedEntry& e = hashed->entries[i];
      if (e.length != 0) {
        sums.icons[3000 + i] = {e.length, kSumInBlock, e.hash, {}, 7, "p" + std::to_string(i), 1};
      }
    }
    sums.icons[42] = {9, kSumInBlock, 1234, {1, 2, 3, 4}, 77, "elsewhere", 1};
    if (hashed) sums.blocks[30] = {hashed->block.length, hashed->block.hash, 1};
    return sums;
  }

  // Puts the new library as the killed run left it, with `sums` as its checksum file.
  Folder PutKilled(const ChecksumFile& sums) const {
    Folder files = versions[1].files;
    files["BLTEMP"] = versions[0].files.at("BLK30.ZGL");
    files["BLTEMP.REC"] =
        EncodeTempBlockRecord({"lib.ofs", "BLK30.ZGL", 3000, versions[0].records});
    files[kSums] = EncodeChecksumFile(sums);
    for (const auto& e : fs::directory_iterator(dir.path())) fs::remove(e.path());
    for (const auto& [name, bytes] : files) testing::WriteFileBytes(dir.path() / name, bytes);
    return files;
  }
  Folder Files() const { return testing::SnapshotFolder(dir.path()); }

  testing::TempDir dir;
  testing::ScopedCurrentDir cwd{dir.path()};
  testing::RecordingPort port;
  WorkingState state{port};
  ProjectSettings settings;
  struct Version {
    Folder files;
    ChecksumFile sums;
    Bytes records;
  } versions[2];
};

TEST_F(SumsRecovery, TheFileStillOfTheOldBlockIsBroughtUpToDateBeforeBLTEMPGoes) {
  const ChecksumFile& old_sums = versions[0].sums;
  PutKilled(old_sums);
  EXPECT_EQ(RecoverInterruptedRewrite(settings, port), RecoveryResult::kRecovered);
  Folder after = Files();
  auto sums = DecodeChecksumFile(after[kSums]);
  ASSERT_TRUE(sums);
  after.erase(kSums);
  EXPECT_EQ(after, versions[1].files);  // BLTEMP and its record gone, nothing else changed

  EXPECT_EQ(sums->generation, 2u);
  const Bytes& block = versions[1].files.at("BLK30.ZGL");
  EXPECT_EQ(sums->blocks[30], (BlockSum{block.size(), HashBytes(block), 2}));
  for (int n = 3000; n <= 3099; ++n) {
    const Bytes entry = SummedEntry(n, 1);
    IconSum expected;
    if (!entry.empty()) {
      // Whatever source the old sum named is most likely the new entry's too.
      expected = old_sums.icons[static_cast<std::size_t>(n)];
      expected.length = static_cast<std::uint32_t>(entry.size());
      expected.flags = kSumInBlock | kSumAdopted;
      expected.hash = HashBytes(entry);
      expected.generation = 2;
    }
    EXPECT_EQ(sums->icons[static_cast<std::size_t>(n)], expected) << n;
  }
  EXPECT_EQ(sums->icons[42], old_sums.icons[42]);
}

TEST_F(SumsRecovery, SumsTheRunHadWrittenAlreadyAreKept) {
  PutKilled(versions[1].sums);
  EXPECT_EQ(RecoverInterruptedRewrite(settings, port), RecoveryResult::kRecovered);
  const auto sums = DecodeChecksumFile(Files()[kSums]);
  ASSERT_TRUE(sums);
  EXPECT_EQ(sums->icons, versions[1].sums.icons);  // not adopted: the run stored them
  EXPECT_FALSE(fs::exists(dir.path() / "BLTEMP"));
}

// A damaged file describes no block: the next run refuses it and writes it anew, so it must
// not keep BLTEMP, and every command after, from being put right.
TEST_F(SumsRecovery, ADamagedFileIsLeftForTheRunToWriteAnew) {
  Folder killed = PutKilled(versions[0].sums);
  killed[kSums][killed[kSums].size() / 2] ^= 0x08;
  testing::WriteFileBytes(dir.path() / kSums, killed[kSums]);
  EXPECT_EQ(RecoverInterruptedRewrite(settings, port), RecoveryResult::kRecovered);
  Folder expected = versions[1].files;
  expected[kSums] = killed[kSums];
  EXPECT_EQ(Files(), expected);
}

TEST_F(SumsRecovery, AFileThatCannotBeReadKeepsBLTEMPAndItsRecord) {
  Folder killed = PutKilled(versions[0].sums);
  killed.erase(kSums);
  fs::remove(dir.path() / kSums);
  fs::create_directory(dir.path() / kSums);
  EXPECT_EQ(RecoverInterruptedRewrite(settings, port), RecoveryResult::kRefused);
  EXPECT_EQ(Files(), killed);
  char text[kTextBufferSize];
  std::snprintf(text, sizeof text, kSumsNotRefreshedFormat.c_str(), "BLK30.ZGL");
  EXPECT_EQ(port.MessageTexts(), std::vector<std::string>{text});
}

}  // namespace
}  // namespace zemlo
