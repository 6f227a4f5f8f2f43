#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "packer/kzp.h"
#include "packer/pack_entry_seam.h"
#include "support/kzp_reference.h"
#include "support/packer_samples.h"
#include "support/recording_port.h"

namespace zemlo {
namespace {

using samples::Bytes;
using testing::RecordingPort;
using Texts = std::vector<std::string>;

constexpr std::string_view kTitle = "ZCreate - ICON3000.PCX (X-masked) - 20000";

std::string Title(std::string_view text, std::size_t size, std::size_t percent,
                  std::string_view status) {
  return std::string(text) + "  -->  KZP " + std::to_string(size) + " (" + std::to_string(percent) +
         "%) " + std::string(status);
}

std::size_t PackInto(const Bytes& source, Bytes& out, RecordingPort& port,
                     const PackedChunkHook& hook = {}) {
  out.assign(PackedBound(source.size()), 0);
  const std::size_t n = PackEntryWithHook(source, out, port, Owner::kMain, kTitle, hook);
  out.resize(n);
  return n;
}

TEST(KzpPackEntry, EmptyEntryIsTheMagicAndLeavesTheTitle) {
  RecordingPort port;
  Bytes out(16, 0xEE);
  EXPECT_EQ(PackEntry({}, out, port, Owner::kMain, kTitle), 4u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 5), (Bytes{'K', 'Z', 'P', '1', 0xEE}));
  EXPECT_TRUE(port.events.empty());
  Bytes unpacked(1);
  EXPECT_EQ(UnpackEntry(std::span(out).first(4), unpacked), 0u);
}

TEST(KzpPackEntry, OneChunkEndsWithVerifyOk) {
  RecordingPort port;
  const Bytes source = samples::RandomBytes(8192, 3);
  Bytes out;
  const std::size_t n = PackInto(source, out, port);
  ASSERT_EQ(port.titles.size(), 1u);
  EXPECT_EQ(port.titles[0], Title(kTitle, n, n * 100 / 8192, "Verify OK"));
  EXPECT_TRUE(port.messages.empty());
}

// Three chunks: the projected size (written + still to pack), blank status until the last.
TEST(KzpPackEntry, TwentyThousandBytesGiveThreeTitles) {
  RecordingPort port;
  Bytes source = samples::Run(8192, 1);
  const Bytes noise = samples::RandomBytes(8192 + 3616, 4);
  source.insert(source.end(), noise.begin(), noise.end());
  ASSERT_EQ(source.size(), 20000u);
  Bytes out;
  const std::size_t n = PackInto(source, out, port);

  Bytes chunk1;
  reference::CompressChunkReference(source, 0, 8192, chunk1);
  Bytes chunk2;
  reference::CompressChunkReference(source, 8192, 8192, chunk2);
  const std::size_t after1 = 4 + chunk1.size();
  const std::size_t after2 = after1 + chunk2.size();
  const std::size_t size1 = after1 + 20000 - 8192;
  const std::size_t size2 = after2 + 20000 - 16384;
  EXPECT_EQ(port.titles, (Texts{Title(kTitle, size1, size1 * 100 / 20000, " "),
                                Title(kTitle, size2, size2 * 100 / 20000, " "),
                                Title(kTitle, n, n * 100 / 20000, "Verify OK")}));
  EXPECT_TRUE(port.messages.empty());
}

TEST(KzpPackEntry, ThousandBytesPackedToFourHundred) {
  // 352 literals (40 01 and the bytes), then a run of 648 copies of the last one: twenty
  // replicate tags of 32 and one of 8. 4 + 354 + 42 = 400 bytes.
  Bytes source = samples::RandomBytes(352, 13);
  source.resize(1000, source.back());
  RecordingPort port;
  Bytes out;
  ASSERT_EQ(PackInto(source, out, port), 400u);
  EXPECT_EQ(port.titles, (Texts{std::string(kTitle) + "  -->  KZP 400 (40%) Verify OK"}));
}

TEST(KzpPackEntry, LongTitleTextIsCutToTheTitleBuffer) {
  RecordingPort port;
  const std::string long_text(1000, 'n');
  ShowPackTitle(port, long_text, 123456, 99, "Verify OK");
  ASSERT_EQ(port.titles.size(), 1u);
  const std::string& title = port.titles[0];
  EXPECT_EQ(title.size(), 575u);
  const std::string suffix = "  -->  KZP 123456 (99%) Verify OK";
  EXPECT_EQ(title.substr(title.size() - suffix.size()), suffix);
  EXPECT_EQ(title.substr(0, 575 - suffix.size()), long_text.substr(0, 575 - suffix.size()));

  port.Clear();
  ShowPackTitle(port, std::string(575 - suffix.size(), 'x'), 123456, 99, "Verify OK");
  EXPECT_EQ(port.titles[0].size(), 575u);
  port.Clear();
  ShowPackTitle(port, "", 4, 100, " ");
  EXPECT_EQ(port.titles, (Texts{"  -->  KZP 4 (100%)  "}));
}

// Flips the first literal of the chunk's first tag (a write tag in these sources).
void DamageFirstLiteral(std::span<std::uint8_t> chunk, std::size_t) { chunk[1] ^= 0xFF; }

TEST(KzpPackEntry, FailedFirstTagReportsNoPreviousTag) {
  RecordingPort port;
  const Bytes source = samples::RandomBytes(1000, 5);
  Bytes out;
  const std::size_t n = PackInto(source, out, port, DamageFirstLiteral);
  EXPECT_EQ(port.events, (Texts{"message: KZP: Verify Error while WRITE tag!!",
                                "message: ZCreate: Old TAG 1=write, 2=replicate: 0",
                                "message: ZCreate: Old length: 0", "message: KZP: Verify Error!!",
                                "title: " + Title(kTitle, n, n * 100 / 1000, " ")}));
  for (const auto& m : port.messages) {
    EXPECT_EQ(m.icon, MessageIcon::kWarning);
    EXPECT_EQ(m.owner, Owner::kMain);
  }
}

// 9 and zeros: the tags are 02 09 00, then 9F 01 again and again. Pointing the second
// replicate 34 back makes it copy the 9; the report names the replicate before it.
TEST(KzpPackEntry, FailedReplicateReportsThePreviousReplicate) {
  Bytes source(8192 + 5000, 0);
  source[0] = 9;
  RecordingPort port;
  Bytes out;
  std::size_t first_chunk = 0;
  auto hook = [&](std::span<std::uint8_t> chunk, std::size_t index) {
    if (index != 0) return;
    first_chunk = chunk.size();
    ASSERT_GE(chunk.size(), 7u);
    ASSERT_EQ(chunk[0], 0x02);
    ASSERT_EQ(chunk[3], 0x9F);
    ASSERT_EQ(chunk[5], 0x9F);
    chunk[6] = 34;
  };
  const std::size_t n = PackInto(source, out, port, hook);
  const std::size_t size1 = 4 + first_chunk + 5000;
  EXPECT_EQ(port.events, (Texts{"message: KZP: Verify Error while REPLICATE tag!!",
                                "message: ZCreate: Old TAG 1=write, 2=replicate: 2",
                                "message: ZCreate: Old length: 31", "message: KZP: Verify Error!!",
                                "title: " + Title(kTitle, size1, size1 * 100 / source.size(), " "),
                                // The second chunk verified, yet the final status stays blank.
                                "title: " + Title(kTitle, n, n * 100 / source.size(), " ")}));
}

TEST(KzpPackEntry, FailedWriteAfterWriteReportsItsLength) {
  // Literals, a copy, literals: damage a literal of the third tag.
  Bytes source = samples::RandomBytes(20, 6);
  const Bytes again(source.begin() + 10, source.begin() + 20);
  source.insert(source.end(), again.begin(), again.end());
  const Bytes tail = samples::RandomBytes(5, 7);
  source.insert(source.end(), tail.begin(), tail.end());
  RecordingPort port;
  Bytes out;
  PackInto(source, out, port, [](std::span<std::uint8_t> chunk, std::size_t) {
    // 14 + 20 literals, 89 0A (10 bytes from 10 back), 05 + 5 literals.
    ASSERT_EQ(chunk.size(), 1u + 20u + 2u + 1u + 5u);
    ASSERT_EQ(chunk[21], 0x89);
    chunk[25] ^= 1;
  });
  EXPECT_EQ(port.MessageTexts(),
            (Texts{"Verify Error while WRITE tag!!", "Old TAG 1=write, 2=replicate: 2",
                   "Old length: 9", "Verify Error!!"}));
}

// Each failing chunk is reported on its own; every chunk is still packed.
TEST(KzpPackEntry, EveryFailingChunkIsReportedAndPackingGoesOn) {
  const Bytes source = samples::RandomBytes(20000, 8);
  RecordingPort port;
  Bytes out;
  const std::size_t n =
      PackInto(source, out, port, [](std::span<std::uint8_t> chunk, std::size_t index) {
        if (index != 1) chunk[2] ^= 0x10;  // chunks 0 and 2
      });
  EXPECT_EQ(n, reference::PackReference(source).size());
  Texts expected;
  for (int i = 0; i < 2; ++i) {
    expected.insert(expected.end(),
                    {"Verify Error while WRITE tag!!", "Old TAG 1=write, 2=replicate: 0",
                     "Old length: 0", "Verify Error!!"});
  }
  EXPECT_EQ(port.MessageTexts(), expected);
  ASSERT_EQ(port.titles.size(), 3u);
  EXPECT_EQ(port.titles.back(), Title(kTitle, n, n * 100 / 20000, " "));
}

// A chunk that the compressor wrote whole is not walked again; a hook makes PackEntry walk
// every chunk, as it did before. Both give the same bytes, titles and messages.
TEST(KzpPackEntry, ChunksTakenAsCompressedPackAsTheWalkedOnes) {
  const auto sprite = samples::SpritePicture(200, 150, 61);
  const Bytes sources[] = {samples::RandomBytes(20000, 62),
                           samples::Run(17000, 9),
                           samples::ShortRepeats(30000, 5, 63),
                           samples::PlainEntry(sprite),
                           samples::XMaskedEntry(sprite),
                           samples::PlainEntry(samples::PaintedPicture(180, 120, 64))};
  for (const Bytes& source : sources) {
    RecordingPort taken_port;
    Bytes taken(PackedBound(source.size()));
    taken.resize(PackEntry(source, taken, taken_port, Owner::kMain, kTitle));
    RecordingPort walked_port;
    Bytes walked;
    PackInto(source, walked, walked_port, [](std::span<std::uint8_t>, std::size_t) {});
    EXPECT_EQ(taken, walked);
    EXPECT_EQ(taken_port.events, walked_port.events);
    ASSERT_FALSE(taken_port.titles.empty());
    EXPECT_TRUE(taken_port.titles.back().ends_with("Verify OK"));
  }
}

TEST(KzpVerifyChunk, RefusesTagsThatDoNotCoverTheChunk) {
  RecordingPort port;
  const Bytes source = samples::RandomBytes(100, 9);
  Bytes packed(PackedBound(100));
  const std::size_t n = CompressChunk(source, 0, packed, 100, port, Owner::kMain);
  packed.resize(n);
  EXPECT_TRUE(VerifyChunk(source, 0, 100, packed, port, Owner::kMain));
  // Fewer source bytes covered than the chunk has: no tag at fault, no tag box.
  EXPECT_FALSE(VerifyChunk(source, 0, 100, std::span(packed).first(0), port, Owner::kMain));
  EXPECT_TRUE(port.messages.empty());
  // A tag reaching past the chunk's end fails like any mismatch.
  EXPECT_FALSE(VerifyChunk(source, 0, 99, packed, port, Owner::kMain));
  EXPECT_EQ(port.MessageTexts(), (Texts{"Verify Error while WRITE tag!!",
                                        "Old TAG 1=write, 2=replicate: 0", "Old length: 0"}));
}

TEST(KzpVerifyChunk, RefusesCopiesBeforeTheSourceAndCutTags) {
  const Bytes source(64, 5);
  struct Case {
    const char* what;
    Bytes packed;
    const char* box;
  };
  const std::vector<Case> cases = {
      {"copy before the source", {0x83, 0x01}, "Verify Error while REPLICATE tag!!"},
      {"distance zero", {0x01, 5, 0x83, 0x00}, "Verify Error while REPLICATE tag!!"},
      {"missing offset", {0x01, 5, 0x83}, "Verify Error while REPLICATE tag!!"},
      {"missing length byte", {0x41}, "Verify Error while WRITE tag!!"},
      {"missing literals", {0x05, 5, 5}, "Verify Error while WRITE tag!!"},
  };
  for (const Case& c : cases) {
    RecordingPort port;
    EXPECT_FALSE(VerifyChunk(source, 0, 64, c.packed, port, Owner::kMain)) << c.what;
    ASSERT_FALSE(port.messages.empty()) << c.what;
    EXPECT_EQ(port.messages[0].text, c.box) << c.what;
    EXPECT_EQ(port.messages[0].caption, "KZP") << c.what;
  }
}

TEST(KzpVerifyChunk, CopiesMayReachIntoThePreviousChunk) {
  RecordingPort port;
  const Bytes source(100, 5);
  EXPECT_TRUE(VerifyChunk(source, 50, 32, Bytes{0x9F, 0x20}, port, Owner::kMain));
  EXPECT_TRUE(port.messages.empty());
}

}  // namespace
}  // namespace zemlo
