// The deep verification with the checksum file: a library and its checksums agree in every
// layout; each damage that leaves the entries decodable is named with its icon and the one
// copy or file that changed; a checksum file that is missing, damaged or made for another
// shape of library is said and the walk goes on.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <utility>

#include "core/byte_reader.h"
#include "library/run/check/deep_verify.h"
#include "packer/kzp.h"
#include "packer/kzp_tag.h"
#include "support/library_sums.h"
#include "support/run_project.h"
#include "support/verify_findings.h"

namespace zemlo::testing::verify_sums {
namespace {

constexpr int kIcons = 9100;
constexpr char kSumName[] = "offsets.dat.sum";

// 3000 and 3002 have one box, so their unpacked entries have one length.
std::map<int, Picture> Sources() {
  return {{3000, UnmaskedShape(1)},
          {3001, XMaskedShape(2)},
          {3002, UnmaskedShape(7)},
          {3099, UnmaskedShape(4, 0, 0, 800, 2)},
          {4011, XMaskedShape(6)}};
}

std::uint8_t Changed(std::uint8_t b) { return b == 0x80 ? 0x81 : 0x80; }  // never black

struct SourceRecorder : VerifyObserver {
  void IconVerified(const VerifiedIcon& icon, std::span<const std::uint8_t>) override {
    icons[icon.icon] = icon;
  }
  std::map<int, VerifiedIcon> icons;
};

void BuildLibrary(TestLibrary& lib) {
  for (const auto& [icon, picture] : Sources()) lib.AddPcx(icon, picture);
  WriteFileBytes(lib.WavPath(9000), WavBytes({1, 2, 3, 250}));
  lib.Run();
  lib.Run(9000, 9001);
}

class SummedLayouts : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(SummedLayouts, LibraryAndItsChecksumsAgree) {
  const auto [dblk, dpak] = GetParam();
  TestLibrary lib({.dblk = dblk, .dpak = dpak, .nsiz = kIcons});
  BuildLibrary(lib);
  // The run's own checksum file holds what the library's files hash to, as this test's
  // helper works it out on its own; which run wrote it and the sources aside.
  const auto made = ReadChecksumFile(lib.settings);
  ASSERT_TRUE(made) << made.error().text;
  const ChecksumFile own = SumsOfLibrary(lib.settings);
  ASSERT_EQ(made->icons.size(), own.icons.size());
  for (std::size_t n = 0; n < own.icons.size(); ++n) {
    const IconSum &a = made->icons[n], &b = own.icons[n];
    EXPECT_TRUE(a.length == b.length && a.hash == b.hash && a.box == b.box &&
                (a.flags & (kSumInBlock | kSumInSingleFile)) == b.flags)
        << "icon " << n << ": " << a.length << " " << a.flags << " " << CropBoxText(a.box)
        << " against " << b.length << " " << b.flags << " " << CropBoxText(b.box);
  }
  ASSERT_EQ(made->blocks.size(), own.blocks.size());
  for (std::size_t b = 0; b < own.blocks.size(); ++b) {
    EXPECT_TRUE(made->blocks[b].length == own.blocks[b].length &&
                made->blocks[b].hash == own.blocks[b].hash)
        << "block " << b;
  }
  const auto sums_name = ChecksumFileName(lib.settings);
  std::filesystem::remove(lib.dir.path() / sums_name->data());
  const VerifyOutcome without = DeepVerify(lib.settings, lib.state);
  EXPECT_TRUE(without.findings.empty()) << Lines(without);
  EXPECT_EQ(without.sums_note, kNoSumsNote);

  ChecksumFile sums = SumsOfLibrary(lib.settings);
  sums.icons[3001].source = "pcx\\p3_0_0_1.pcx";
  sums.icons[3001].source_size = 4321;
  ASSERT_TRUE(WriteChecksumFile(lib.settings, sums).ok());
  SourceRecorder seen;
  const VerifyOutcome with = DeepVerify(lib.settings, lib.state, &seen);
  EXPECT_TRUE(with.findings.empty()) << Lines(with);
  EXPECT_EQ(with.sums_note, "");
  EXPECT_EQ(with.icons_verified, 6);
  EXPECT_EQ(seen.icons.at(3001).source, "pcx\\p3_0_0_1.pcx");
  EXPECT_EQ(seen.icons.at(3001).source_size, 4321u);
  EXPECT_EQ(seen.icons.at(3000).source, "");
}

INSTANTIATE_TEST_SUITE_P(DblkDpak, SummedLayouts,
                         ::testing::Combine(::testing::Values(1, 2, 3), ::testing::Values(0, 2)));

// A library with its checksum file, then changed by hand.
class SumsDamage : public ::testing::Test {
 protected:
  void Make(int dblk, int dpak = 0) {
    lib.SetOptions({.dblk = dblk, .dpak = dpak, .nsiz = kIcons});
    BuildLibrary(lib);
    ASSERT_TRUE(WriteSumsOfLibrary(lib.settings));
  }
  std::pair<std::size_t, std::size_t> Place(int icon) {
    auto table = OffsetsOnDisk(lib);
    const OffsetsTable offsets(table);
    return {static_cast<std::size_t>(offsets.offset(icon)),
            static_cast<std::size_t>(offsets.length(icon))};
  }
  void ChangeInBlock(int icon, std::size_t at) {
    auto block = ReadFileBytes(lib.BlockPath(icon / 100));
    auto& byte = block.at(Place(icon).first + at);
    byte = Changed(byte);
    WriteFileBytes(lib.BlockPath(icon / 100), block);
  }
  void ChangeInSingle(int icon, std::size_t at) {
    auto entry = ReadFileBytes(lib.SinglePath(icon));
    entry.at(at) = Changed(entry.at(at));
    WriteFileBytes(lib.SinglePath(icon), entry);
  }
  VerifyOutcome Verify() { return DeepVerify(lib.settings, lib.state); }

  TestLibrary lib;
};

TEST_F(SumsDamage, ChangedPixelOfAnUnpackedEntryIsNamed) {
  Make(2);
  ChangeInBlock(3000, 40);
  const VerifyOutcome outcome = Verify();
  EXPECT_EQ(Count(outcome, 3000, "b30.blk", "entry differs from its checksum (stored by run 1)"), 1)
      << Lines(outcome);
  EXPECT_EQ(Count(outcome, -1, "b30.blk",
                  "does not match its checksum from run 1: an older or newer copy of the block, "
                  "or bytes changed"),
            1);
  EXPECT_EQ(outcome.findings.size(), 2u) << Lines(outcome);
  // Without its checksums the entry still decodes and fits: nothing tells the change.
  std::filesystem::remove(lib.dir.path() / kSumName);
  EXPECT_TRUE(Verify().findings.empty());
}

TEST_F(SumsDamage, ChangedLiteralOfAPackedEntryIsNamed) {
  Make(2, 2);
  const auto [offset, length] = Place(3001);
  const auto block = ReadFileBytes(lib.BlockPath(30));
  const std::span<const std::uint8_t> stored(block.data() + offset, length);
  // A literal byte past the entry's 4-byte header: a pixel byte, not a count or a tag.
  ByteReader in(stored.subspan(kKzpMagicSize));
  std::size_t produced = 0, literal = 0;
  while (literal == 0) {
    const auto tag = ReadKzpTag(in);
    ASSERT_TRUE(tag);
    if (!tag->replicate && produced + tag->length > 10) {
      const std::size_t skip = produced >= 10 ? 0 : 10 - produced;
      literal = static_cast<std::size_t>(tag->literals.data() - stored.data()) + skip;
    }
    produced += tag->produced();
  }
  ChangeInBlock(3001, literal);
  const VerifyOutcome outcome = Verify();
  EXPECT_EQ(Count(outcome, 3001, "b30.blk", "entry differs from its checksum (stored by run 1)"), 1)
      << Lines(outcome);
  EXPECT_EQ(Count(outcome, 3001, "", "packed stream"), 0);
  for (int other : {3000, 3002, 3099}) EXPECT_EQ(Count(outcome, other, ""), 0);
}

TEST_F(SumsDamage, SwappedEntriesOfOneLengthAreBothNamed) {
  Make(2);
  const auto [first, length] = Place(3000);
  const auto [second, other_length] = Place(3002);
  ASSERT_EQ(length, other_length);
  auto block = ReadFileBytes(lib.BlockPath(30));
  std::swap_ranges(block.begin() + static_cast<std::ptrdiff_t>(first),
                   block.begin() + static_cast<std::ptrdiff_t>(first + length),
                   block.begin() + static_cast<std::ptrdiff_t>(second));
  WriteFileBytes(lib.BlockPath(30), block);
  const VerifyOutcome outcome = Verify();
  EXPECT_EQ(Count(outcome, 3000, "b30.blk", "entry differs from its checksum"), 1)
      << Lines(outcome);
  EXPECT_EQ(Count(outcome, 3002, "b30.blk", "entry differs from its checksum"), 1);
  EXPECT_EQ(Count(outcome, 3001, ""), 0);
  EXPECT_EQ(Count(outcome, -1, "b30.blk", "does not match its checksum"), 1);
}

TEST_F(SumsDamage, CropBoxMovedWithItsSizeIsNamedWithBothBoxes) {
  Make(1);
  auto bytes = ReadFileBytes(lib.dir.path() / "coords.dat");
  CoordinatesTable(bytes).Set(3099, {800, 2, 0, 1});
  WriteFileBytes(lib.dir.path() / "coords.dat", bytes);
  const VerifyOutcome outcome = Verify();
  EXPECT_EQ(Count(outcome, 3099, "coords.dat",
                  "crop box 800 x 2 at (0, 1) differs from the checksum file's 800 x 2 at (0, 0) "
                  "(stored by run 1)"),
            1)
      << Lines(outcome);
  EXPECT_EQ(outcome.findings.size(), 1u) << Lines(outcome);
}

TEST_F(SumsDamage, OlderBlockFileOfTheSameLengthIsNamed) {
  Make(2);
  const auto older = ReadFileBytes(lib.BlockPath(30));
  lib.AddPcx(3000, UnmaskedShape(9));
  lib.Run(3000, 3000);
  ASSERT_TRUE(WriteSumsOfLibrary(lib.settings, 2));
  ASSERT_EQ(ReadFileBytes(lib.BlockPath(30)).size(), older.size());
  WriteFileBytes(lib.BlockPath(30), older);
  const VerifyOutcome outcome = Verify();
  EXPECT_EQ(Count(outcome, 3000, "b30.blk", "entry differs from its checksum (stored by run 2)"), 1)
      << Lines(outcome);
  EXPECT_EQ(Count(outcome, -1, "b30.blk", "does not match its checksum from run 2"), 1);
  EXPECT_EQ(outcome.findings.size(), 2u) << Lines(outcome);
}

TEST_F(SumsDamage, BytesAppendedToABlockFileAreNamedOnTheBlock) {
  Make(2);
  const auto length = ReadFileBytes(lib.BlockPath(30)).size();
  auto block = ReadFileBytes(lib.BlockPath(30));
  block.insert(block.end(), {1, 2, 3});
  WriteFileBytes(lib.BlockPath(30), block);
  const VerifyOutcome outcome = Verify();
  EXPECT_EQ(Count(outcome, -1, "b30.blk",
                  "is " + std::to_string(length + 3) + " bytes; its checksum from run 1 recorded " +
                      std::to_string(length) +
                      ": an older or newer copy of the block, or bytes added or cut; no entry "
                      "read from it differs from its own checksum"),
            1)
      << Lines(outcome);
}

// With both layouts each copy is judged on its own: only the changed one is named.
TEST_F(SumsDamage, OnlyTheDamagedCopyOfAPairIsNamed) {
  Make(3);
  ChangeInBlock(3000, 40);
  ChangeInSingle(3002, 40);
  const VerifyOutcome outcome = Verify();
  EXPECT_EQ(Count(outcome, 3000, "b30.blk", "entry differs from its checksum"), 1)
      << Lines(outcome);
  EXPECT_EQ(Count(outcome, 3000, "s3_0_0_0.zgi"), 0);
  EXPECT_EQ(Count(outcome, 3002, "s3_0_0_2.zgi", "entry differs from its checksum"), 1);
  EXPECT_EQ(Count(outcome, 3002, "b30.blk"), 0);
  EXPECT_EQ(Count(outcome, -1, "b30.blk", "does not match its checksum"), 1);
  EXPECT_EQ(outcome.findings.size(), 3u) << Lines(outcome);
}

TEST_F(SumsDamage, CopiesMissingOrUnrecordedAreNamed) {
  Make(1);
  const auto entry = ReadFileBytes(lib.SinglePath(3001));
  auto longer = entry;
  longer.push_back(0);
  WriteFileBytes(lib.SinglePath(3001), longer);
  std::filesystem::remove(lib.SinglePath(3002));
  WriteFileBytes(lib.SinglePath(3500), ReadFileBytes(lib.SinglePath(3000)));
  const VerifyOutcome outcome = Verify();
  EXPECT_EQ(Count(outcome, 3001, "s3_0_0_1.zgi",
                  "entry is " + std::to_string(entry.size() + 1) +
                      " bytes; the checksum file recorded " + std::to_string(entry.size())),
            1)
      << Lines(outcome);
  EXPECT_EQ(Count(outcome, 3002, "s3_0_0_2.zgi",
                  "single entry file is missing, but the checksum file recorded one"),
            1);
  EXPECT_EQ(Count(outcome, 3500, "s3_5_0_0.zgi", "but the checksum file records none"), 1);
}

TEST_F(SumsDamage, EntryTheOffsetsFileLostIsNamedOnItsBlock) {
  Make(2);
  const std::size_t length = Place(3002).second;
  auto table = OffsetsOnDisk(lib);
  OffsetsTable(table).Set(3002, 0, 0);
  table.resize(kIcons * 8);
  WriteFileBytes(lib.dir.path() / "offsets.dat", table);
  const VerifyOutcome outcome = Verify();
  EXPECT_EQ(Count(outcome, 3002, "b30.blk",
                  "the offsets file records no entry, but the checksum file recorded one of " +
                      std::to_string(length) + " bytes (stored by run 1)"),
            1)
      << Lines(outcome);
}

// Both layouts, the block record lost: the single copy the walk finds alone is read and
// compared all the same.
TEST_F(SumsDamage, LoneSingleCopyIsComparedWithItsChecksum) {
  Make(3);
  auto table = OffsetsOnDisk(lib);
  OffsetsTable(table).Set(3002, 0, 0);
  table.resize(kIcons * 8);
  WriteFileBytes(lib.dir.path() / "offsets.dat", table);
  ChangeInSingle(3002, 40);
  const VerifyOutcome outcome = Verify();
  EXPECT_EQ(Count(outcome, 3002, "b30.blk", "the offsets file records no entry, but the checksum"),
            1)
      << Lines(outcome);
  EXPECT_EQ(Count(outcome, 3002, "s3_0_0_2.zgi", "entry differs from its checksum"), 1);
  EXPECT_EQ(Count(outcome, 3002, "s3_0_0_2.zgi", "the offsets file records no entry"), 1);
  EXPECT_EQ(Count(outcome, 3002, "offsets.dat", "its record was lost"), 1);
  EXPECT_EQ(Count(outcome, 3002, ""), 4) << Lines(outcome);
}

TEST_F(SumsDamage, DamagedChecksumFileIsNamedAndTheWalkGoesOn) {
  Make(3);
  auto bytes = ReadFileBytes(lib.dir.path() / kSumName);
  bytes.at(bytes.size() / 2) ^= 0x04;
  WriteFileBytes(lib.dir.path() / kSumName, bytes);
  const VerifyOutcome outcome = Verify();
  EXPECT_EQ(Count(outcome, -1, kSumName,
                  "the checksum file's own check does not match its bytes; the library is "
                  "verified without its checksums"),
            1)
      << Lines(outcome);
  EXPECT_EQ(outcome.findings.size(), 1u);
  EXPECT_EQ(outcome.icons_verified, 6);
  EXPECT_EQ(outcome.sums_note, "");
}

// A checksum file for fewer icons and another BLKB: said once each; the icons both cover
// are still compared, the blocks are not.
TEST_F(SumsDamage, ChecksumFileOfAnotherShapeIsComparedWhereItFits) {
  Make(2);
  ChecksumFile sums = SumsOfLibrary(lib.settings);
  sums.icons.resize(4000);
  sums.icons_per_block = 50;
  ASSERT_TRUE(WriteChecksumFile(lib.settings, sums).ok());
  ChangeInBlock(3000, 40);
  ChangeInBlock(4011, 40);
  const VerifyOutcome outcome = Verify();
  EXPECT_EQ(Count(outcome, -1, kSumName,
                  "holds checksums of 4000 icons, but NSIZ is 9100; only the first 4000 icons"),
            1)
      << Lines(outcome);
  EXPECT_EQ(Count(outcome, -1, kSumName, "was written for 50 icons a block, but BLKB is 100"), 1);
  EXPECT_EQ(Count(outcome, 3000, "b30.blk", "entry differs from its checksum"), 1);
  EXPECT_EQ(Count(outcome, 4011, ""), 0);
  EXPECT_EQ(Count(outcome, -1, ".blk"), 0);
}

}  // namespace
}  // namespace zemlo::testing::verify_sums
