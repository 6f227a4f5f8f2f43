// The checksum file a creation run keeps beside the tables: checked against hashes the test
// makes itself from the block files and single entry files, over runs that carry, convert and
// drop entries, over a library that had none, and over one whose file is damaged or cannot be
// read at all.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "core/content_hash.h"
#include "files/file_layer.h"
#include "library/store/checksum_file.h"
#include "library/store/rewrite_recovery.h"
#include "support/folder_snapshot.h"
#include "support/library_files.h"
#include "support/run_project.h"

namespace zemlo::testing {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr int kRunFirst = 3000;
constexpr int kRunLast = 3019;  // blocks 300 and 301 with BLKB 10
const std::vector<int> kSumSources = {3000, 3001, 3005, 3012};

std::string FormattedSumsText(TextFormat format, std::string_view text) {
  char out[kTextBufferSize];
  std::snprintf(out, sizeof out, format.c_str(), std::string(text).c_str());
  return out;
}
std::string FormattedSumsText(NumberFormat format, int number) {
  char out[kTextBufferSize];
  std::snprintf(out, sizeof out, format.c_str(), number);
  return out;
}

// A library with archive attributes on (unchanged sources are skipped and carried) and small
// blocks, made from four sources.
void MakeFourIconLibrary(TestLibrary& lib) {
  lib.AddPcx(3000, UnmaskedShape(1));
  lib.AddPcx(3001, XMaskedShape(2));
  lib.AddPcx(3005, ZeroMaskedShape(3));
  lib.AddPcx(3012, UnmaskedShape(4, 60, 70, 25, 35));
}

ProjectOptions SumsOptions(int dblk, int dpak = 0) {
  return {.dblk = dblk, .dpak = dpak, .darc = 1, .blkb = 10};
}

// "Create ZGL" as the commands make it: the recovery, the tables read from disk, the run.
void Create(TestLibrary& lib) {
  lib.port.Clear();
  RemoveLeftoverTableTemporaries(lib.settings);
  if (RecoverInterruptedRewrite(lib.settings, lib.port) == RecoveryResult::kRefused) return;
  if (!ReadOffsetsFile(lib.settings, lib.state)) ClearOffsets(lib.state);
  if (!ReadCoordinatesFile(lib.settings, lib.state)) ClearCoordinates(lib.state);
  lib.Run(kRunFirst, kRunLast);
}

fs::path SumPath(const TestLibrary& lib) { return lib.dir.path() / "offsets.dat.sum"; }

ChecksumFile ReadSums(const TestLibrary& lib) {
  auto sums = DecodeChecksumFile(ReadFileBytes(SumPath(lib)));
  EXPECT_TRUE(sums) << (sums ? "" : sums.error().text);
  return sums ? *sums : ChecksumFile{};
}

// What two libraries of the same entries share, whoever hashed them and from which source.
std::optional<ChecksumFile> Comparable(const TestLibrary& lib) {
  return SumsBesidesSources(SumsBesidesRuns(ReadFileBytes(SumPath(lib))));
}

// The entry of `icon` as the library keeps it: in its block when blocks are on.
Bytes StoredEntry(const TestLibrary& lib, int icon) {
  return BlockFilesOn(lib.settings) ? lib.BlockEntry(icon) : ReadFileBytes(lib.SinglePath(icon));
}

// Every icon's sum is that of its entry as stored, with its crop box and source, made by the
// run `generations` names; every other icon has none. Each block the run wrote hashes to its
// file's bytes.
void ExpectSumsDescribeLibrary(const TestLibrary& lib, const std::map<int, int>& generations) {
  const ChecksumFile sums = ReadSums(lib);
  ASSERT_EQ(sums.icons.size(), 5100u);
  ASSERT_EQ(sums.blocks.size(), 510u);
  EXPECT_EQ(sums.icons_per_block, 10u);
  Bytes coordinates = ReadFileBytes(lib.dir.path() / "coords.dat");
  coordinates.resize(kCoordinatesTableSize, 0);
  const CoordinatesTable boxes(coordinates);
  const bool blocks = BlockFilesOn(lib.settings), singles = SingleFilesOn(lib.settings);
  for (int n = 0; n < 5100; ++n) {
    const IconSum& sum = sums.icons[static_cast<std::size_t>(n)];
    const auto made = generations.find(n);
    if (made == generations.end()) {
      EXPECT_EQ(sum, IconSum{}) << "icon " << n;
      continue;
    }
    SCOPED_TRACE(n);
    const Bytes entry = StoredEntry(lib, n);
    ASSERT_FALSE(entry.empty());
    EXPECT_EQ(sum.length, entry.size());
    EXPECT_EQ(sum.hash, HashBytes(entry));
    if (singles) {
      EXPECT_EQ(sum.hash, HashBytes(ReadFileBytes(lib.SinglePath(n))));
    }
    EXPECT_EQ(sum.flags, (blocks ? kSumInBlock : 0u) | (singles ? kSumInSingleFile : 0u));
    EXPECT_EQ(sum.box, boxes.Get(n));
    EXPECT_EQ(sum.source, "pcx\\" + TestLibrary::Stamp("p", n, "pcx"));
    EXPECT_EQ(sum.source_size, fs::file_size(lib.PcxPath(n)));
    EXPECT_EQ(sum.generation, static_cast<std::uint32_t>(made->second));
  }
  for (int b = 0; b < 510; ++b) {
    const BlockSum& block = sums.blocks[static_cast<std::size_t>(b)];
    if (!blocks || b < kRunFirst / 10 || b > kRunLast / 10) {
      EXPECT_EQ(block, BlockSum{}) << "block " << b;
      continue;
    }
    const Bytes file = fs::exists(lib.BlockPath(b)) ? ReadFileBytes(lib.BlockPath(b)) : Bytes{};
    EXPECT_EQ(block, (BlockSum{file.size(), HashBytes(file), sums.generation})) << "block " << b;
  }
}

class SumsOfRuns : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(SumsOfRuns, DescribeTheFilesAndFollowEachRun) {
  const auto [dblk, dpak] = GetParam();
  TestLibrary lib(SumsOptions(dblk, dpak));
  if (!ArchiveAttributeCanBeCleared(lib)) GTEST_SKIP() << "no archive attribute here";
  MakeFourIconLibrary(lib);
  Create(lib);
  EXPECT_EQ(lib.port.MessageTexts(), std::vector<std::string>{});
  EXPECT_EQ(ReadSums(lib).generation, 1u);
  ExpectSumsDescribeLibrary(lib, {{3000, 1}, {3001, 1}, {3005, 1}, {3012, 1}});
  const ChecksumFile first = ReadSums(lib);

  // Nothing changed: every entry is carried with the sum the first run gave it.
  Create(lib);
  EXPECT_EQ(lib.port.MessageTexts(), std::vector<std::string>{});
  EXPECT_EQ(ReadSums(lib).generation, 2u);
  EXPECT_EQ(ReadSums(lib).icons, first.icons);
  ExpectSumsDescribeLibrary(lib, {{3000, 1}, {3001, 1}, {3005, 1}, {3012, 1}});

  // One source redrawn, one gone: a fresh sum of this run, and none.
  lib.AddPcx(3001, ZeroMaskedShape(8));
  fs::remove(lib.PcxPath(3005));
  Create(lib);
  EXPECT_EQ(lib.port.MessageTexts(), std::vector<std::string>{});
  EXPECT_NE(ReadSums(lib).icons[3001].hash, first.icons[3001].hash);
  ExpectSumsDescribeLibrary(lib, {{3000, 1}, {3001, 3}, {3012, 1}});
}

INSTANTIATE_TEST_SUITE_P(Layouts, SumsOfRuns,
                         ::testing::Combine(::testing::Values(1, 2, 3), ::testing::Values(0, 2)));

TEST(RunSumsAdoption, ALibraryWithoutSumsGainsThemOnceAndDamageIsNeverBlessed) {
  for (const int dblk : {1, 2, 3}) {
    SCOPED_TRACE(dblk);
    TestLibrary lib(SumsOptions(dblk));
    if (!ArchiveAttributeCanBeCleared(lib)) GTEST_SKIP() << "no archive attribute here";
    MakeFourIconLibrary(lib);
    Create(lib);
    const auto clean = Comparable(lib);
    ASSERT_TRUE(clean.has_value());

    // Without its checksum file every carried entry is hashed as found, and said so once.
    fs::remove(SumPath(lib));
    Create(lib);
    ASSERT_EQ(lib.port.messages.size(), 1u);
    EXPECT_EQ(lib.port.messages[0].text, FormattedSumsText(kSumsAdoptedFormat, 4));
    EXPECT_EQ(lib.port.messages[0].icon, MessageIcon::kInformation);
    const ChecksumFile adopted = ReadSums(lib);
    for (const int n : kSumSources) {
      EXPECT_NE(adopted.icons[static_cast<std::size_t>(n)].flags & kSumAdopted, 0u) << n;
    }
    EXPECT_EQ(Comparable(lib), clean);
    Create(lib);
    EXPECT_EQ(lib.port.MessageTexts(), std::vector<std::string>{});
    EXPECT_EQ(ReadSums(lib).icons, adopted.icons);

    // An entry damaged before a run that carries it keeps the hash it was stored with.
    const Bytes entry = StoredEntry(lib, 3001);
    const ContentHash stored = HashBytes(entry);
    ASSERT_EQ(adopted.icons[3001].hash, stored);
    const auto damage = [&](const fs::path& file, std::size_t at) {
      Bytes bytes = ReadFileBytes(file);
      bytes.at(at) ^= 0x10;
      WriteFileBytes(file, bytes);
    };
    if (BlockFilesOn(lib.settings)) {
      const auto table = OffsetsOnDisk(lib);
      const OffsetsTable offsets(
          std::span<std::uint8_t>(const_cast<std::uint8_t*>(table.data()), table.size()));
      damage(lib.BlockPath(300), static_cast<std::size_t>(offsets.offset(3001)) + entry.size() / 2);
    }
    if (SingleFilesOn(lib.settings)) damage(lib.SinglePath(3001), entry.size() / 2);
    ASSERT_NE(HashBytes(StoredEntry(lib, 3001)), stored);
    Create(lib);
    EXPECT_EQ(ReadSums(lib).icons[3001].hash, stored);
  }
}

TEST(RunSumsFile, ADamagedOneIsRefusedWithItsReasonAndWrittenAnew) {
  TestLibrary lib(SumsOptions(3));
  MakeFourIconLibrary(lib);
  Create(lib);
  const Bytes good = ReadFileBytes(SumPath(lib));
  const auto clean = Comparable(lib);
  ASSERT_TRUE(clean.has_value());
  Bytes flipped = good;
  flipped[good.size() / 2] ^= 0x04;
  Bytes foreign = good;
  foreign[1] = 'X';
  const std::vector<std::pair<Bytes, Reason>> cases = {
      {flipped, kSumBadCheck},
      {Bytes(good.begin(), good.begin() + 20), kSumTooShort},
      {foreign, kSumNotOurs}};
  for (const auto& [bytes, reason] : cases) {
    SCOPED_TRACE(reason.text);
    WriteFileBytes(SumPath(lib), bytes);
    Create(lib);
    ASSERT_EQ(lib.port.messages.size(), 1u);
    EXPECT_EQ(lib.port.messages[0].text, FormattedSumsText(kSumsRefusedFormat, reason.text));
    EXPECT_EQ(lib.port.messages[0].icon, MessageIcon::kWarning);
    EXPECT_EQ(Comparable(lib), clean);
  }
}

TEST(RunSumsFile, OneThatCannotBeReadStopsTheRunBeforeAnythingChanges) {
  TestLibrary lib(SumsOptions(3));
  MakeFourIconLibrary(lib);
  Create(lib);
  lib.AddPcx(3001, ZeroMaskedShape(8));
  fs::remove(lib.PcxPath(3005));
  // A folder where the file belongs: there, but no read gets its bytes (whoever runs this).
  fs::remove(SumPath(lib));
  fs::create_directory(SumPath(lib));
  const FolderFiles before = SnapshotFolder(lib.dir.path());
  Create(lib);
  EXPECT_EQ(lib.port.MessageTexts(),
            std::vector<std::string>{FormattedSumsText(kSumsUnreadableFormat, "offsets.dat.sum")});
  EXPECT_EQ(SnapshotFolder(lib.dir.path()), before);
  EXPECT_TRUE(fs::is_directory(SumPath(lib)));
  EXPECT_TRUE(files::ArchiveAttributeSet(lib.PcxPath(3001).string().c_str()));
}

}  // namespace
}  // namespace zemlo::testing
