// The checksum file a creation run keeps beside the tables, checked against hashes made here
// from the block files and single entry files: over runs that carry, convert and drop
// entries, over a library that had none, and over one whose file is damaged or unreadable.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
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

template <typename Format, typename Value>
std::string SumsMessage(Format format, Value value) {
  char out[kTextBufferSize];
  std::snprintf(out, sizeof out, format.c_str(), value);
  return out;
}

// Four sources in two blocks of ten; with archive attributes on, unchanged ones are carried.
class SumsLibrary : public TestLibrary {
 public:
  explicit SumsLibrary(int dblk, int dpak = 0)
      : TestLibrary({.dblk = dblk, .dpak = dpak, .darc = 1, .blkb = 10}) {
    AddPcx(3000, UnmaskedShape(1));
    AddPcx(3001, XMaskedShape(2));
    AddPcx(3005, ZeroMaskedShape(3));
    AddPcx(3012, UnmaskedShape(4, 60, 70, 25, 35));
  }
  // "Create ZGL" as the commands make it: the recovery, the tables read from disk, the run.
  void Create(int last = 3019) {
    port.Clear();
    RemoveLeftoverTableTemporaries(settings);
    if (RecoverInterruptedRewrite(settings, port) == RecoveryResult::kRefused) return;
    if (!ReadOffsetsFile(settings, state)) ClearOffsets(state);
    if (!ReadCoordinatesFile(settings, state)) ClearCoordinates(state);
    Run(3000, last);
  }
  fs::path SumPath() const { return dir.path() / "offsets.dat.sum"; }
  ChecksumFile Sums() const {
    auto sums = DecodeChecksumFile(ReadFileBytes(SumPath()));
    EXPECT_TRUE(sums);
    return sums ? *sums : ChecksumFile{};
  }
  // What libraries of the same entries share, whoever hashed them and from which source.
  std::optional<ChecksumFile> Comparable() const {
    return SumsBesidesSources(SumsBesidesRuns(ReadFileBytes(SumPath())));
  }
  // Where the entry of `icon` is kept, and from which byte: its block when blocks are on.
  std::pair<fs::path, std::size_t> Place(int icon) const {
    if (!BlockFilesOn(settings)) return {SinglePath(icon), 0};
    auto table = OffsetsOnDisk(*this);
    return {BlockPath(icon / 10), static_cast<std::size_t>(OffsetsTable(table).offset(icon))};
  }
  Bytes Stored(int icon) const {
    return BlockFilesOn(settings) ? BlockEntry(icon) : ReadFileBytes(SinglePath(icon));
  }
};

// Each icon of `generations` has the sum of its stored entry, crop box and source, made by
// the run named there; every other icon has none; each block of the run hashes as its file.
void ExpectSumsDescribe(const SumsLibrary& lib, const std::map<int, int>& generations) {
  const ChecksumFile sums = lib.Sums();
  ASSERT_EQ(sums.icons.size(), 5100u);
  Bytes coordinates = ReadFileBytes(lib.dir.path() / "coords.dat");
  coordinates.resize(kCoordinatesTableSize, 0);
  const bool blocks = BlockFilesOn(lib.settings), singles = SingleFilesOn(lib.settings);
  for (int n = 0; n < 5100; ++n) {
    const IconSum& sum = sums.icons[static_cast<std::size_t>(n)];
    const auto made = generations.find(n);
    if (made == generations.end()) {
      EXPECT_EQ(sum, IconSum{}) << n;
      continue;
    }
    const Bytes entry = lib.Stored(n);
    const IconSum expected{static_cast<std::uint32_t>(entry.size()),
                           (blocks ? kSumInBlock : 0u) | (singles ? kSumInSingleFile : 0u),
                           HashBytes(entry),
                           CoordinatesTable(coordinates).Get(n),
                           fs::file_size(lib.PcxPath(n)),
                           "pcx\\" + TestLibrary::Stamp("p", n, "pcx"),
                           static_cast<std::uint32_t>(made->second)};
    EXPECT_FALSE(entry.empty()) << n;
    EXPECT_EQ(sum, expected) << n;
  }
  for (int b = 0; b < static_cast<int>(sums.blocks.size()); ++b) {
    const bool written = blocks && (b == 300 || b == 301);
    const Bytes file = written ? ReadFileBytes(lib.BlockPath(b)) : Bytes{};
    const BlockSum expected =
        written ? BlockSum{file.size(), HashBytes(file), sums.generation} : BlockSum{};
    EXPECT_EQ(sums.blocks[static_cast<std::size_t>(b)], expected) << b;
  }
}

class SumsOfRuns : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(SumsOfRuns, DescribeTheFilesAndFollowEachRun) {
  SumsLibrary lib(std::get<0>(GetParam()), std::get<1>(GetParam()));
  if (!ArchiveAttributeCanBeCleared(lib)) GTEST_SKIP() << "no archive attribute here";
  lib.Create();
  EXPECT_EQ(lib.Sums().generation, 1u);
  ExpectSumsDescribe(lib, {{3000, 1}, {3001, 1}, {3005, 1}, {3012, 1}});
  const ChecksumFile first = lib.Sums();
  // Nothing changed: every entry is carried with the sum the first run gave it.
  lib.Create();
  EXPECT_EQ(lib.Sums().generation, 2u);
  ExpectSumsDescribe(lib, {{3000, 1}, {3001, 1}, {3005, 1}, {3012, 1}});
  // One source redrawn, one gone.
  lib.AddPcx(3001, ZeroMaskedShape(8));
  fs::remove(lib.PcxPath(3005));
  lib.Create();
  EXPECT_NE(lib.Sums().icons[3001].hash, first.icons[3001].hash);
  ExpectSumsDescribe(lib, {{3000, 1}, {3001, 3}, {3012, 1}});
  EXPECT_EQ(lib.port.MessageTexts(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Layouts, SumsOfRuns,
                         ::testing::Combine(::testing::Values(1, 2, 3), ::testing::Values(0, 2)));

// The length recorded with a source is that of the file the run converted: a source that
// grows while the run goes on, before its block is committed, keeps the length it was read
// with, whether the run read it itself or a helper read it ahead.
TEST(RunSumsSources, RecordTheLengthOfTheFileAsItWasConverted) {
  for (const int jobs : {1, 3}) {
    SCOPED_TRACE("jobs " + std::to_string(jobs));
    SumsLibrary lib(2);
    lib.store.jobs = jobs;
    const auto converted = fs::file_size(lib.PcxPath(3001));
    bool grown = false;
    lib.port.on_title = [&](std::string_view title) {
      // 3005 is converted after 3001, and the block of 3000 to 3009 commits after 3009.
      if (grown || title.find("p3_0_0_5") == std::string_view::npos) return;
      grown = true;
      Bytes bytes = ReadFileBytes(lib.PcxPath(3001));
      bytes.resize(bytes.size() + 1000, 0);
      WriteFileBytes(lib.PcxPath(3001), bytes);
    };
    lib.Create();
    ASSERT_TRUE(grown);
    const ChecksumFile sums = lib.Sums();
    EXPECT_EQ(sums.icons[3001].source_size, converted);
    EXPECT_EQ(sums.icons[3005].source_size, fs::file_size(lib.PcxPath(3005)));
  }
}

// A run that ends inside a block, or is stopped there, leaves the block's later entries as
// they were: the block is described whole, and what the run converted counts as done.
TEST(RunSumsEnd, ARunEndingInsideABlockDescribesTheWholeBlock) {
  for (const int dblk : {2, 3}) {
    SumsLibrary lib(dblk);
    if (!ArchiveAttributeCanBeCleared(lib)) GTEST_SKIP() << "no archive attribute here";
    lib.Create();
    lib.AddPcx(3010, ZeroMaskedShape(8));
    lib.Create(3010);  // 3012 stays behind the end
    EXPECT_EQ(lib.port.MessageTexts(), std::vector<std::string>{}) << dblk;
    ExpectSumsDescribe(lib, {{3000, 1}, {3001, 1}, {3005, 1}, {3010, 2}, {3012, 1}});
    EXPECT_FALSE(files::ArchiveAttributeSet(lib.PcxPath(3010).string().c_str())) << dblk;
  }
}

TEST(RunSumsAdoption, ALibraryWithoutSumsGainsThemOnceAndDamageIsNeverBlessed) {
  for (const int dblk : {1, 2, 3}) {
    SCOPED_TRACE(dblk);
    SumsLibrary lib(dblk);
    if (!ArchiveAttributeCanBeCleared(lib)) GTEST_SKIP() << "no archive attribute here";
    lib.Create();
    const auto clean = lib.Comparable();
    // Without its checksum file every carried entry is hashed as found, and said so once.
    fs::remove(lib.SumPath());
    lib.Create();
    ASSERT_EQ(lib.port.messages.size(), 1u);
    EXPECT_EQ(lib.port.messages[0].text, SumsMessage(kSumsAdoptedFormat, 4));
    EXPECT_EQ(lib.port.messages[0].icon, MessageIcon::kInformation);
    const ChecksumFile adopted = lib.Sums();
    for (const int n : {3000, 3001, 3005, 3012}) {
      EXPECT_NE(adopted.icons[static_cast<std::size_t>(n)].flags & kSumAdopted, 0u) << n;
    }
    EXPECT_EQ(lib.Comparable(), clean);
    lib.Create();
    EXPECT_EQ(lib.port.MessageTexts(), std::vector<std::string>{});
    EXPECT_EQ(lib.Sums().icons, adopted.icons);

    // An entry damaged before a run that carries it keeps the hash it was stored with.
    const ContentHash stored = HashBytes(lib.Stored(3001));
    const auto [file, at] = lib.Place(3001);
    Bytes bytes = ReadFileBytes(file);
    bytes.at(at + 3) ^= 0x10;
    WriteFileBytes(file, bytes);
    lib.Create();
    EXPECT_NE(HashBytes(lib.Stored(3001)), stored);
    EXPECT_EQ(lib.Sums().icons[3001].hash, stored);
  }
}

TEST(RunSumsFile, ADamagedOneIsRefusedWithItsReasonAndWrittenAnew) {
  SumsLibrary lib(3);
  lib.Create();
  const Bytes good = ReadFileBytes(lib.SumPath());
  const auto clean = lib.Comparable();
  Bytes flipped = good, foreign = good;
  flipped[good.size() / 2] ^= 0x04;
  foreign[1] = 'X';
  for (const auto& [bytes, reason] :
       {std::pair{flipped, kSumBadCheck},
        std::pair{Bytes(good.begin(), good.begin() + 20), kSumTooShort},
        std::pair{foreign, kSumNotOurs}}) {
    WriteFileBytes(lib.SumPath(), bytes);
    lib.Create();
    EXPECT_EQ(lib.port.MessageTexts(), std::vector<std::string>{SumsMessage(
                                           kSumsRefusedFormat, std::string(reason.text).c_str())});
    EXPECT_EQ(lib.Comparable(), clean);
  }
}

TEST(RunSumsFile, OneThatCannotBeReadStopsTheRunBeforeAnythingChanges) {
  SumsLibrary lib(3);
  lib.Create();
  lib.AddPcx(3001, ZeroMaskedShape(8));
  fs::remove(lib.PcxPath(3005));
  // A folder where the file belongs: there, but no read gets its bytes, whoever runs this.
  fs::remove(lib.SumPath());
  fs::create_directory(lib.SumPath());
  const FolderFiles before = SnapshotFolder(lib.dir.path());
  lib.Create();
  EXPECT_EQ(lib.port.MessageTexts(),
            std::vector<std::string>{SumsMessage(kSumsUnreadableFormat, "offsets.dat.sum")});
  EXPECT_EQ(SnapshotFolder(lib.dir.path()), before);
  EXPECT_TRUE(files::ArchiveAttributeSet(lib.PcxPath(3001).string().c_str()));
}

}  // namespace
}  // namespace zemlo::testing
