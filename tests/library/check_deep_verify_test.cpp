// The deep verification: libraries made by the run verify clean in every layout and draw what
// the viewer shows; each kind of damage is named with its icon and the file it lies in.
#include <gtest/gtest.h>

#include <map>

#include "deep_verify_support.h"
#include "library/run/check/deep_verify.h"
#include "packer/kzp.h"
#include "packer/kzp_tag.h"
#include "support/run_project.h"

namespace zemlo::testing {
namespace {

class VerifyLayouts : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(VerifyLayouts, LibraryOfTheRunIsCleanAndDrawsWhatTheViewerShows) {
  const auto [dblk, dpak] = GetParam();
  TestLibrary lib({.dblk = dblk, .dpak = dpak, .nsiz = kRecords});
  Build(lib);
  lib.port.Clear();
  Recorder seen;
  const VerifyOutcome outcome = Verify(lib, &seen);
  EXPECT_TRUE(outcome.findings.empty()) << Lines(outcome);
  EXPECT_EQ(outcome.icons_verified, 7);
  EXPECT_FALSE(outcome.stopped);
  for (const auto& [icon, source] : Sources()) {
    SCOPED_TRACE(icon);
    const VerifiedIcon& info = seen.icons.at(icon);
    EXPECT_EQ(info.packed, dpak == 2);
    EXPECT_EQ(info.drawn, icon != 3010);  // the all-black picture has nothing to draw
    if (info.drawn) {
      EXPECT_TRUE(seen.pictures.at(icon) == Expected(icon, source));
    }
    if (info.kind != kXMasked) {
      EXPECT_EQ(info.entry_length, 4u + 3u * info.box.width * info.box.height);
    }
    EXPECT_EQ(info.stored_length == info.entry_length, dpak == 0);
  }
  EXPECT_EQ(seen.icons.at(3001).kind, kXMasked);
  EXPECT_EQ(seen.icons.at(3005).kind, kZeroMasked);
  EXPECT_TRUE(seen.icons.at(9000).sound);
  EXPECT_EQ(seen.icons.at(9000).entry_length, kSamples.size());
  EXPECT_EQ(lib.port.progress.back(), 99);
  EXPECT_TRUE(lib.port.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(DblkDpak, VerifyLayouts,
                         ::testing::Combine(::testing::Values(1, 2, 3), ::testing::Values(0, 2)));

TEST_F(VerifyDamage, ChangedEntryBytesAreNamedByIconAndFile) {
  Make(0);
  // A count of an X-masked row, a pixel of a plain row, and a whole single copy replaced.
  ChangeInBlock(3001, 4, [](std::uint8_t b) { return static_cast<std::uint8_t>(b + 40); });
  ChangeInBlock(3000, 40, [](std::uint8_t b) { return static_cast<std::uint8_t>(b ^ 0x10); });
  WriteFileBytes(lib.SinglePath(3005), lib.BlockEntry(3099));
  const VerifyOutcome outcome = Verify(lib);
  EXPECT_EQ(Count(outcome, 3001, "b30.blk", "row 0 reaches 10 pixels past"), 1) << Lines(outcome);
  // The single copy still decodes, so the block copy is the damaged one; the sound copy is
  // named in the finding but not blamed.
  EXPECT_EQ(Count(outcome, 3001, "b30.blk", "differs from the single entry file sep\\s3_0_0_1.zgi"),
            1)
      << Lines(outcome);
  EXPECT_EQ(Count(outcome, 3001, "s3_0_0_1.zgi"), 0);
  // Only the second copy tells a changed pixel value of plain rows; both copies decode, so
  // neither can be blamed and both are named.
  EXPECT_EQ(Count(outcome, 3000, "blk\\b30.blk and sep\\s3_0_0_0.zgi",
                  "the two copies differ (3604 and 3604 bytes, first difference at byte 40); "
                  "both check clean on their own, and without a checksum verify cannot tell"),
            1);
  EXPECT_EQ(Count(outcome, 3000, "b30.blk", "first difference at byte 40"), 1);
  // Another icon's entry in the single copy does not fit the crop box: that copy is blamed.
  EXPECT_EQ(Count(outcome, 3005, "s3_0_0_5.zgi", "differs from the block copy"), 1);
  EXPECT_EQ(Count(outcome, 3005, "s3_0_0_5.zgi", "4800 bytes of rows; its crop box 27 x 20"), 1);
  EXPECT_EQ(Count(outcome, 3005, "b30.blk"), 0);
  EXPECT_EQ(outcome.findings.size(), 5u) << Lines(outcome);
}

TEST_F(VerifyDamage, PackedStreamsThatDoNotUnpackAreNamed) {
  Make(2, 2);
  ChangeInBlock(3001, 4, [](std::uint8_t b) { return static_cast<std::uint8_t>(b | 0x80); });
  ChangeInBlock(3000, 4, [](std::uint8_t b) { return static_cast<std::uint8_t>(b + 1); });
  const VerifyOutcome outcome = Verify(lib);
  EXPECT_EQ(Count(outcome, 3001, "b30.blk", "packed stream: replicate tag at byte 4 copies from"),
            1)
      << Lines(outcome);
  EXPECT_GE(Count(outcome, 3000, "b30.blk"), 1);
  EXPECT_EQ(Count(outcome, 3005, ""), 0);
}

// The first replicate tag of a packed entry that copies from `distance` back (0: from anywhere)
// after at least `after` unpacked bytes: the byte of its distance.
std::size_t ReplicateDistanceByte(std::span<const std::uint8_t> packed, std::size_t distance,
                                  std::size_t after) {
  ByteReader in(packed.subspan(kKzpMagicSize));
  std::size_t produced = 0;
  while (const auto tag = ReadKzpTag(in)) {
    if (tag->replicate && produced >= after && (distance == 0 || tag->distance == distance)) {
      return kKzpMagicSize + in.position() - 1;
    }
    produced += tag->produced();
  }
  ADD_FAILURE() << "no replicate tag from " << distance << " back after " << after << " bytes";
  return 0;
}

// A block of one colour: its rows repeat one pixel, packed as copies from 3 bytes back.
Picture OneColourBlock() {
  Picture p = BlackPicture();
  for (int y = 40; y < 60; ++y) {
    for (int x = 10; x < 70; ++x) SetPixel(p, x, y, 200, 90, 30);
  }
  return p;
}

TEST_F(VerifyDamage, PackedStreamsThePackerDoesNotWriteAreNamed) {
  lib.AddPcx(3020, OneColourBlock());
  lib.AddPcx(3021, OneColourBlock());
  Make(2, 2);
  // A distance of 3 made 1 still unpacks, to other bytes, and only packing them again tells.
  ChangeInBlock(3020, ReplicateDistanceByte(lib.BlockEntry(3020), 3, 0),
                [](std::uint8_t) { return std::uint8_t{1}; });
  // A distance beyond the packer's window, where the stream has produced enough to copy from.
  const std::size_t far = ReplicateDistanceByte(lib.BlockEntry(3021), 0, 40);
  ChangeInBlock(3021, far, [](std::uint8_t) { return std::uint8_t{35}; });
  const VerifyOutcome outcome = Verify(lib);
  // The copy from 1 back repeats a byte, which packing again also copies from 1 back; the
  // stream differs where the bytes it made start to differ. Plain rows of other pixel values
  // draw as well, so this is the entry's only finding.
  EXPECT_EQ(Count(outcome, 3020, "b30.blk",
                  "packed stream is not what the packer writes for its bytes (first difference "
                  "at byte "),
            1)
      << Lines(outcome);
  EXPECT_EQ(Count(outcome, 3021, "b30.blk",
                  "packed stream: replicate tag at byte " + std::to_string(far - 1) +
                      " copies from 35 bytes back; the packer looks back at most 32"),
            1)
      << Lines(outcome);
  // Every other entry is what the packer writes.
  EXPECT_EQ(outcome.findings.size(), 2u) << Lines(outcome);
}

TEST_F(VerifyDamage, CoordinatesThatContradictTheEntryAreNamed) {
  Make(0, 1);
  const CoordinatesRecord unmasked = Record(3000), xmasked = Record(3001), plain = Record(3099);
  SetCoordinates(3000, {static_cast<std::uint16_t>(unmasked.width + 1), unmasked.height,
                        unmasked.left, unmasked.top});
  SetCoordinates(3001, {static_cast<std::uint16_t>(xmasked.width + 2), xmasked.height, xmasked.left,
                        xmasked.top});
  SetCoordinates(3005, {30, 20, 790, 200});
  SetCoordinates(3010, {1, 1, 0, 0});
  // A box moved as a whole cannot be told from the entry.
  SetCoordinates(3099, {plain.width, plain.height, plain.left, 1});
  const VerifyOutcome outcome = Verify(lib);
  EXPECT_EQ(Count(outcome, 3000, "s3_0_0_0.zgi", "holds 3600 bytes of rows; its crop box 41 x 30"),
            1)
      << Lines(outcome);
  EXPECT_EQ(Count(outcome, 3001, "coords.dat", "contradicts the entry, whose pixels fill 50 x 25"),
            1);
  EXPECT_EQ(Count(outcome, 3005, "coords.dat", "reaches outside the 800 x 600 picture"), 1);
  EXPECT_EQ(Count(outcome, 3010, "s3_0_1_0.zgi", "0 bytes of rows; its crop box 1 x 1"), 1);
  EXPECT_EQ(outcome.findings.size(), 4u);
}

TEST_F(VerifyDamage, PlacementAndTableFilesAreChecked) {
  Make(0, 2);
  auto table = Offsets();
  OffsetsTable offsets(table);
  offsets.Set(3005, offsets.offset(3005) + 1, offsets.length(3005));  // a gap before it
  offsets.Set(3002, 7, 0);                                            // length 0, offset set
  offsets.Set(4011, offsets.offset(4011), -5);
  offsets.Set(9000, 0, 1 << 20);  // past the block's end
  SaveOffsets(table);
  auto block = ReadFileBytes(lib.BlockPath(30));
  block.insert(block.end(), {1, 2, 3});
  WriteFileBytes(lib.BlockPath(30), block);
  WriteFileBytes(lib.BlockPath(31), {9, 9});
  WriteFileBytes(lib.dir.path() / "BLTEMP", {});
  const VerifyOutcome outcome = Verify(lib);
  EXPECT_EQ(Count(outcome, 3005, "b30.blk", "puts the entry at byte"), 1) << Lines(outcome);
  EXPECT_EQ(Count(outcome, 3002, "offsets.dat", "length 0 but offset 7"), 1);
  EXPECT_EQ(Count(outcome, 4011, "offsets.dat", "negative"), 1);
  EXPECT_EQ(Count(outcome, 9000, "b90.blk", "runs past the end of the block file"), 1);
  EXPECT_EQ(Count(outcome, -1, "b31.blk", "holds 2 bytes, but no entry of icons 3100 to 3199"), 1);
  EXPECT_EQ(Count(outcome, -1, "BLTEMP", "interrupted run"), 1);
  EXPECT_EQ(Count(outcome, -1, "b30.blk", "bytes after its last entry"), 1);
  std::filesystem::remove(lib.dir.path() / "coords.dat");
  std::filesystem::resize_file(lib.dir.path() / "offsets.dat", 100);
  const VerifyOutcome second = Verify(lib);
  EXPECT_EQ(Count(second, -1, "coords.dat", "cannot be read"), 1) << Lines(second);
  EXPECT_EQ(Count(second, -1, "offsets.dat", "holds 100 bytes; NSIZ 9100 asks for exactly 72800"),
            1);
}

// Whose bytes are gone: the icon that lost its record or its bytes is named, and the entries
// after it are not blamed for standing where the loss moved them.
class VerifyNaming : public VerifyDamage, public ::testing::WithParamInterface<int> {};

TEST_P(VerifyNaming, ALostRecordNamesTheIconWhoseBytesRemain) {
  Make(GetParam(), 2);
  auto table = Offsets();
  OffsetsTable offsets(table);
  offsets.Set(3005, 0, 0);  // in the middle of block 30
  offsets.Set(3099, 0, 0);  // its last entry
  offsets.Set(3000, 0, 0);  // its first entry
  SaveOffsets(table);
  const VerifyOutcome outcome = Verify(lib);
  EXPECT_EQ(Count(outcome, 3000, "offsets.dat", "bytes 0 to "), 1) << Lines(outcome);
  EXPECT_EQ(Count(outcome, 3000, "offsets.dat", "(before the entry of icon 3001)"), 1);
  EXPECT_EQ(Count(outcome, 3005, "offsets.dat",
                  "between the entries of icons 3001 and 3010) check clean as its entry"),
            1);
  EXPECT_EQ(Count(outcome, 3099, "offsets.dat", "(after the entry of icon 3010)"), 1);
  EXPECT_EQ(outcome.findings.size(), 3u);
}

TEST_P(VerifyNaming, BytesCutFromAnEntryNameThatEntryAlone) {
  Make(GetParam(), 2);
  const std::size_t length = lib.BlockEntry(3001).size();
  CutFromBlock(3001, length / 2, 7);
  CutFromBlock(4011, 2, 1);  // the only entry of its block
  const VerifyOutcome outcome = Verify(lib);
  EXPECT_EQ(Count(outcome, 3001, "b30.blk",
                  "7 bytes shorter than its records account for, and this entry"),
            1)
      << Lines(outcome);
  EXPECT_EQ(Count(outcome, 3001, "b30.blk", "entries after the cut, of icons 3005 to 3099"), 1);
  EXPECT_EQ(Count(outcome, 4011, "b40.blk", "no entry follows the cut"), 1);
  // The later entries are whole but not where their records say, which is where the game
  // reads them: each is named once, as lying past the cut.
  for (const int later : {3005, 3010, 3099}) {
    EXPECT_EQ(Count(outcome, later, ""), 1) << later;
    EXPECT_EQ(Count(outcome, later, "b30.blk", "7 bytes before its record's offset"), 1) << later;
  }
  EXPECT_EQ(Count(outcome, -1, ""), 0);
}

TEST_P(VerifyNaming, BytesCutAtTheEndNameTheLastEntry) {
  Make(GetParam(), 2);
  const auto path = lib.BlockPath(30);
  std::filesystem::resize_file(path, std::filesystem::file_size(path) - 5);
  const VerifyOutcome outcome = Verify(lib);
  EXPECT_EQ(Count(outcome, 3099, "b30.blk", "5 bytes shorter"), 1) << Lines(outcome);
  EXPECT_EQ(Count(outcome, 3099, "b30.blk", "runs past the end of the block file"), 1);
  EXPECT_EQ(outcome.findings.size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Dpak, VerifyNaming, ::testing::Values(0, 2));

TEST_F(VerifyDamage, AShortOffsetsFileNamesTheIconsItNoLongerCovers) {
  Make(0, 3);
  std::filesystem::resize_file(lib.dir.path() / "offsets.dat", 3050 * 8 + 3);
  const VerifyOutcome outcome = Verify(lib);
  EXPECT_EQ(Count(outcome, -1, "offsets.dat", "holds 24403 bytes"), 1) << Lines(outcome);
  // Pictures by their crop boxes, the sound's block by its range; the single entry files
  // name their icons as well.
  // The bytes after the last entry block 30 still records are 3099's entry; block 40 holds
  // no recorded entry, and the crop box of 4011 says it had one.
  EXPECT_EQ(Count(outcome, 3099, "offsets.dat",
                  "the offsets file ends before this icon's record, but bytes 7281 to 12084"),
            1);
  EXPECT_EQ(Count(outcome, 4011, "offsets.dat", "icons 0 to 3049), and blk\\b40.blk holds"), 1);
  EXPECT_EQ(Count(outcome, -1, "offsets.dat", "icons 9000 to 9099: their records lie past"), 1);
  for (const int icon : {3099, 4011, 9000}) {
    EXPECT_EQ(Count(outcome, icon, ".zgi", "the offsets file ends before its record"), 1) << icon;
  }
  EXPECT_EQ(outcome.findings.size(), 7u) << Lines(outcome);
}

TEST_F(VerifyDamage, AShortCoordinatesFileNamesThePicturesItNoLongerCovers) {
  Make(2, 1);
  std::filesystem::resize_file(lib.dir.path() / "coords.dat", 3005 * 8);
  const VerifyOutcome outcome = Verify(lib);
  EXPECT_EQ(Count(outcome, -1, "coords.dat", "holds 24040 bytes"), 1) << Lines(outcome);
  for (const int icon : {3005, 3099, 4011}) {
    EXPECT_EQ(Count(outcome, icon, "coords.dat", "ends before this icon's crop box record"), 1)
        << icon;
  }
  // The all-black picture's entry is the header alone: its record is empty anyway.
  EXPECT_EQ(outcome.findings.size(), 4u);
}

TEST_F(VerifyDamage, OfTwoCopiesTheOneThatFailsItsChecksIsBlamed) {
  Make(2);
  // A packed stream that no longer unpacks, once in the block and once in the single copy.
  ChangeInBlock(3001, 4, [](std::uint8_t b) { return static_cast<std::uint8_t>(b | 0x80); });
  auto single = ReadFileBytes(lib.SinglePath(3099));
  single.resize(single.size() - 3);
  WriteFileBytes(lib.SinglePath(3099), single);
  const VerifyOutcome outcome = Verify(lib);
  EXPECT_EQ(Count(outcome, 3001, "b30.blk", "the block copy is damaged"), 1) << Lines(outcome);
  EXPECT_EQ(Count(outcome, 3001, ".zgi"), 0);
  EXPECT_EQ(Count(outcome, 3099, "s3_0_9_9.zgi", "this copy is damaged"), 1);
  EXPECT_EQ(Count(outcome, 3099, "b30.blk"), 0);
}

// Entries written by hand into single entry files, against their coordinates records.
TEST_F(VerifyDamage, EntriesAreReadWithinTheirBoundsAndAgainstTheEncoder) {
  Make(0, 1);
  const auto put = [&](int icon, std::vector<std::uint8_t> entry, CoordinatesRecord record) {
    WriteFileBytes(lib.SinglePath(icon), entry);
    SetCoordinates(icon, record);
  };
  const std::uint8_t p = 0x55;  // one byte of a non-black pixel
  // A run that copies a black pixel instead of skipping it.
  put(3100, {24, 128, 0, 0, 3, 0, p, p, p, 0, 0, 0, p, p, p, 0}, {3, 1, 5, 5});
  put(3101, {24, 128, 0, 0, 2, 0, p, p, p, p, p, p, 0, 9}, {2, 1, 5, 5});  // left over
  put(3102, {24, 128, 0, 0, 2, 0, p, p, p}, {2, 1, 5, 5});                 // runs short
  put(3103, {24, 64, 0, 0, p, p, p, p, p, p}, {2, 1, 5, 5});               // kind 0 pixels
  put(3104, {8, 200, 1, 0}, {1, 1, 0, 0});
  put(3105, {24, 0}, {1, 1, 0, 0});
  put(9001, {}, {});
  const VerifyOutcome outcome = Verify(lib);
  EXPECT_EQ(Count(outcome, 3100, "s3_1_0_0.zgi", "not what the encoder writes"), 1)
      << Lines(outcome);
  EXPECT_EQ(Count(outcome, 3101, "s3_1_0_1.zgi", "1 bytes left over after the 1 rows"), 1);
  EXPECT_EQ(Count(outcome, 3102, "s3_1_0_2.zgi", "ends inside row 0"), 1);
  EXPECT_EQ(Count(outcome, 3103, "s3_1_0_3.zgi", "0-masked does not fit its pixels"), 1);
  EXPECT_EQ(Count(outcome, 3104, "s3_1_0_4.zgi", "bits per pixel byte is 8"), 1);
  EXPECT_EQ(Count(outcome, 3104, "s3_1_0_4.zgi", "mask kind byte is 200"), 1);
  EXPECT_EQ(Count(outcome, 3104, "s3_1_0_4.zgi", "reserved header bytes are 1 and 0"), 1);
  EXPECT_EQ(Count(outcome, 3105, "s3_1_0_5.zgi", "shorter than its 4-byte header"), 1);
  EXPECT_EQ(Count(outcome, 9001, "s9_0_0_1.zgi", "sound entry is empty"), 1);
  EXPECT_EQ(outcome.findings.size(), 9u);
}

TEST(DeepVerifyStop, AStopRequestEndsTheWalkAfterTheIconInHand) {
  TestLibrary lib({.dblk = 3, .nsiz = kRecords});
  Build(lib);
  struct Stopper : VerifyObserver {
    explicit Stopper(WorkingState& s) : state(s) {}
    void IconVerified(const VerifiedIcon&, std::span<const std::uint8_t>) override {
      state.stop_request.store(true);
    }
    WorkingState& state;
  } stopper(lib.state);
  const VerifyOutcome outcome = Verify(lib, &stopper);
  EXPECT_TRUE(outcome.stopped);
  EXPECT_EQ(outcome.icons_verified, 1);
}

TEST(PackedStreamWalk, ImpliedLengthsAndFaults) {
  RecordingPort port;
  std::vector<std::uint8_t> source(20000), packed(PackedBound(source.size())), out(40000);
  for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<std::uint8_t>(i / 7 % 13);
  packed.resize(PackEntry(source, packed, port, Owner::kNone, ""));
  EXPECT_EQ(WalkPackedStream(packed, out.size()).unpacked, source.size());
  EXPECT_EQ(WalkPackedStream(packed, out.size()).fault, "");
  EXPECT_EQ(WalkPackedStream(packed, 19999).fault, "unpacks to more than 19999 bytes");
  const std::vector<std::uint8_t> magic = {'K', 'Z', 'P', '1'};
  const auto fault = [&](std::vector<std::uint8_t> tags) {
    tags.insert(tags.begin(), magic.begin(), magic.end());
    return WalkPackedStream(tags, out.size()).fault;
  };
  EXPECT_EQ(fault({}), "");
  EXPECT_EQ(fault({0x02, 1}), "ends inside the tag at byte 4");  // two literals, one there
  EXPECT_EQ(fault({0x01, 1, 0x83}), "ends inside the tag at byte 6");
  EXPECT_EQ(fault({0x01, 1, 0x83, 0}), "replicate tag at byte 6 has distance 0");
  EXPECT_EQ(fault({0x01, 1, 0x83, 2}),
            "replicate tag at byte 6 copies from 2 bytes back, after only 1 bytes");
  EXPECT_EQ(fault({0x41}), "ends inside the tag at byte 4");
  EXPECT_EQ(WalkPackedStream(std::vector<std::uint8_t>{'K', 'Z'}, 10).fault,
            "only 2 bytes, shorter than its magic");
}

}  // namespace
}  // namespace zemlo::testing
