#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "packer/compressor_variants.h"
#include "packer/kzp.h"
#include "support/kzp_reference.h"
#include "support/packer_samples.h"
#include "support/recording_port.h"

namespace zemlo {
namespace {

using samples::Bytes;
using testing::RecordingPort;

Bytes Compress(const Bytes& source, std::size_t start, std::size_t count, RecordingPort& port) {
  Bytes out(count + 16);
  const std::size_t n = CompressChunk(source, start, out, count, port, Owner::kMain);
  out.resize(n);
  return out;
}

Bytes Pack(const Bytes& source, RecordingPort& port) {
  Bytes out(PackedBound(source.size()));
  out.resize(PackEntry(source, out, port, Owner::kMain, "t"));
  return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(KzpCompressor, HundredEqualBytesGiveSixteenBytes) {
  RecordingPort port;
  const Bytes packed = Pack(Bytes(100, 0x5A), port);
  const Bytes expected = {'K',  'Z',  'P',  '1',  0x01, 0x5A, 0x9F, 0x01,
                          0x9F, 0x01, 0x9F, 0x01, 0x03, 0x5A, 0x5A, 0x5A};
  EXPECT_EQ(packed, expected);
}

TEST(KzpCompressor, HundredBytesWithoutRepeatsAreOneWriteTag) {
  Bytes source(100);
  for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<std::uint8_t>(i);
  RecordingPort port;
  const Bytes packed = Pack(source, port);
  ASSERT_EQ(packed.size(), 4u + 2u + 100u);
  EXPECT_EQ(packed[4], 0x64);
  EXPECT_EQ(packed[5], 0x01);
  EXPECT_TRUE(std::equal(source.begin(), source.end(), packed.begin() + 6));
}

TEST(KzpCompressor, ShortEntriesAreOneWriteTag) {
  RecordingPort port;
  for (std::size_t n = 1; n <= 4; ++n) {
    const Bytes source(n, 7);
    const Bytes packed = Pack(source, port);
    EXPECT_EQ(packed, Cat({{'K', 'Z', 'P', '1', static_cast<std::uint8_t>(n)}, source})) << n;
  }
}

TEST(KzpCompressor, ThreeByteMatchIsNotUsedFourIs) {
  RecordingPort port;
  const Bytes three = {1, 2, 3, 9, 1, 2, 3, 8};
  EXPECT_EQ(Compress(three, 0, three.size(), port), Cat({{8}, three}));
  const Bytes four = {1, 2, 3, 4, 9, 1, 2, 3, 4};
  // 5 literals, then 4 bytes from 5 back.
  EXPECT_EQ(Compress(four, 0, four.size(), port), (Bytes{5, 1, 2, 3, 4, 9, 0x83, 5}));
}

TEST(KzpCompressor, EqualLengthsTakeTheSmallestDistance) {
  // "abcd" at distances 4 and 8 (both followed by the same e): distance 4 wins.
  const Bytes source = {'a', 'b', 'c', 'd', 'a', 'b', 'c', 'd', 'a', 'b', 'c', 'd'};
  EXPECT_EQ(FindMatch(source, 4, 8), (Match{4, 4}));
  // Runs of one value always copy from distance 1.
  const Bytes run(64, 3);
  for (std::size_t p = 1; p < 40; ++p) EXPECT_EQ(FindMatch(run, 64 - p, p).distance, 1) << p;
}

TEST(KzpCompressor, FindMatchLimits) {
  const Bytes run(100, 9);
  EXPECT_EQ(FindMatch(run, 100, 0), (Match{0, 0}));   // no candidate at the first byte
  EXPECT_EQ(FindMatch(run, 2, 50), (Match{2, 1}));    // capped by the chunk's end
  EXPECT_EQ(FindMatch(run, 99, 50), (Match{32, 1}));  // capped at 32
  // A match 33 bytes back is out of the window.
  Bytes far = samples::RandomBytes(80, 11);
  std::copy(far.begin(), far.begin() + 8, far.begin() + 33);
  EXPECT_LT(FindMatch(far, 47, 33).length, 4);
  std::copy(far.begin() + 1, far.begin() + 9, far.begin() + 33);
  EXPECT_EQ(FindMatch(far, 47, 33), (Match{8, 32}));
}

// The fast search must give exactly what trying every distance gives, at every position,
// including the short lengths below the minimum match.
TEST(KzpCompressor, FindMatchEqualsReferenceEverywhere) {
  std::vector<Bytes> sources = {
      samples::RandomBytes(3000, 1),
      samples::ShortRepeats(3000, 3, 2),
      samples::ShortRepeats(3000, 7, 3),
      samples::ShortRepeats(3000, 31, 4),
      samples::ShortRepeats(3000, 33, 5),
      samples::PlainEntry(samples::SpritePicture(40, 30, 6)),
      samples::XMaskedEntry(samples::SpritePicture(60, 40, 7)),
      samples::PlainEntry(samples::PaintedPicture(40, 25, 9)),
  };
  Bytes small_alphabet = samples::RandomBytes(3000, 8);
  for (auto& b : small_alphabet) b &= 3;
  sources.push_back(small_alphabet);
  for (const Bytes& source : sources) {
    for (std::size_t p = 0; p < source.size(); ++p) {
      for (std::size_t remaining :
           {std::size_t{1}, std::size_t{3}, std::size_t{4}, std::size_t{17}, source.size() - p}) {
        if (remaining > source.size() - p) continue;
        const auto ref = reference::FindMatchReference(source, remaining, p);
        ASSERT_EQ(FindMatch(source, remaining, p), (Match{ref.length, ref.distance}))
            << "position " << p << " remaining " << remaining;
      }
    }
  }
}

void ExpectSameAsReference(const Bytes& source, const char* what) {
  RecordingPort port;
  const Bytes packed = Pack(source, port);
  const Bytes expected = reference::PackReference(source);
  ASSERT_EQ(packed.size(), expected.size()) << what;
  EXPECT_TRUE(packed == expected) << what;
  EXPECT_TRUE(port.messages.empty()) << what;
}

TEST(KzpCompressor, PackedBytesEqualReference) {
  ExpectSameAsReference(samples::RandomBytes(20000, 21), "random");
  ExpectSameAsReference(samples::Run(20000, 0), "run of zeros");
  ExpectSameAsReference(samples::Run(9000, 0xFF), "run of 0xFF");
  for (std::size_t period : {2, 3, 4, 5, 6, 12, 31, 32, 33, 40}) {
    ExpectSameAsReference(samples::ShortRepeats(12000, period, 30 + period), "short repeats");
  }
  const auto sprite = samples::SpritePicture(160, 120, 22);
  ExpectSameAsReference(samples::PlainEntry(sprite), "plain sprite");
  ExpectSameAsReference(samples::XMaskedEntry(sprite), "x-masked sprite");
  ExpectSameAsReference(samples::PlainEntry(samples::BusyPicture(120, 90, 23)), "busy");
  ExpectSameAsReference(samples::PlainEntry(samples::PaintedPicture(120, 90, 24)), "painted");
}

// Streams made of pieces that switch the best distance at every turn: runs and repeated
// patterns of several periods (where a full-length match at one distance is followed by a
// smaller one that also reaches the cap), copies from up to 40 bytes back, and noise.
Bytes PatchworkBytes(std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out;
  while (out.size() < n) {
    const std::size_t length = 1 + rng() % 90;
    const int kind = static_cast<int>(rng() % 4);
    if (kind == 0) {
      out.insert(out.end(), length, static_cast<std::uint8_t>(rng() % 3));
    } else if (kind == 1) {
      const std::size_t period = 1 + rng() % 12;
      Bytes pattern(period);
      for (auto& b : pattern) b = static_cast<std::uint8_t>(rng() % 4);
      for (std::size_t k = 0; k < length; ++k) out.push_back(pattern[k % period]);
    } else if (kind == 2 && !out.empty()) {
      const std::size_t back = 1 + rng() % std::min<std::size_t>(40, out.size());
      for (std::size_t k = 0; k < length; ++k) out.push_back(out[out.size() - back]);
    } else {
      for (std::size_t k = 0; k < length % 9; ++k) out.push_back(static_cast<std::uint8_t>(rng()));
    }
  }
  out.resize(n);
  return out;
}

TEST(KzpCompressor, PackedBytesEqualReferenceOnPatchwork) {
  for (std::uint32_t seed = 0; seed < 60; ++seed) {
    const std::size_t n = seed % 10 == 0 ? 8192 * 2 + seed : 200 + seed * 97;
    ExpectSameAsReference(PatchworkBytes(n, seed), "patchwork");
  }
  // A period of six that turns into a period of three: after full matches 6 back, 3 back
  // matches as far, and the smaller distance must win.
  Bytes turn;
  for (int k = 0; k < 200; ++k) turn.push_back(static_cast<std::uint8_t>(k % 6 < 3 ? k % 3 : 7));
  for (int k = 0; k < 200; ++k) turn.push_back(static_cast<std::uint8_t>(k % 3));
  ExpectSameAsReference(turn, "period six then three");
}

// Chunks that end anywhere, with matches reaching back before them: near the end the cap
// falls below 32, where a smaller distance can tie a larger one that matched in full before.
TEST(KzpCompressor, ChunksEndingAnywhereEqualReference) {
  std::mt19937 rng(77);
  RecordingPort port;
  for (std::uint32_t seed = 0; seed < 400; ++seed) {
    const Bytes source = PatchworkBytes(1500, seed);
    const std::size_t start = rng() % 700;
    const std::size_t count = 1 + rng() % 800;
    Bytes expected;
    reference::CompressChunkReference(source, start, count, expected);
    ASSERT_EQ(Compress(source, start, count, port), expected) << seed;
  }
}

TEST(KzpCompressor, ChunkEdgesEqualReference) {
  for (std::size_t n : {8191, 8192, 8193, 8195, 8196, 8200, 16384, 16385, 24577, 30000}) {
    ExpectSameAsReference(samples::Run(n, 0x42), "run");
    ExpectSameAsReference(samples::RandomBytes(n, static_cast<std::uint32_t>(n)), "random");
    ExpectSameAsReference(samples::ShortRepeats(n, 5, static_cast<std::uint32_t>(n)), "repeats");
  }
}

TEST(KzpCompressor, LastByteOfAChunkOfOneIsALiteral) {
  RecordingPort port;
  const Bytes packed = Pack(samples::Run(8193, 0x11), port);
  // The second chunk is the write tag 01 11 even though the byte before it is equal.
  ASSERT_GE(packed.size(), 2u);
  EXPECT_EQ(packed[packed.size() - 2], 0x01);
  EXPECT_EQ(packed.back(), 0x11);
}

TEST(KzpCompressor, MatchesReachIntoThePreviousChunk) {
  // The second chunk starts with the last 20 bytes of the first chunk repeated.
  Bytes source = samples::RandomBytes(8192 + 100, 41);
  std::copy(source.begin() + 8192 - 20, source.begin() + 8192, source.begin() + 8192);
  RecordingPort port;
  const Bytes second = Compress(source, 8192, 100, port);
  ASSERT_GE(second.size(), 2u);
  EXPECT_EQ(second[0], 0x80 | 19);
  EXPECT_EQ(second[1], 20);
  Bytes expected;
  reference::CompressChunkReference(source, 8192, 100, expected);
  EXPECT_EQ(second, expected);
}

TEST(KzpCompressor, EmptyChunkWritesNothing) {
  RecordingPort port;
  const Bytes source(10, 1);
  Bytes out(8, 0xEE);
  EXPECT_EQ(CompressChunk(source, 3, out, 0, port, Owner::kMain), 0u);
  EXPECT_EQ(out, Bytes(8, 0xEE));
}

// A buffer too small for the chunk: nothing is written past it, and the chunk then fails the
// coverage check of the verifier instead of passing as packed.
TEST(KzpCompressor, SmallOutputIsNeverOverrun) {
  RecordingPort port;
  const Bytes source = samples::RandomBytes(500, 51);
  Bytes out(300 + 8, 0xCD);
  const std::size_t n =
      CompressChunk(source, 0, std::span(out).first(300), 500, port, Owner::kMain);
  EXPECT_LE(n, 300u);
  EXPECT_EQ(Bytes(out.begin() + 300, out.end()), Bytes(8, 0xCD));
  EXPECT_FALSE(VerifyChunk(source, 0, 500, std::span(out).first(n), port, Owner::kMain));
}

// PackEntry takes a chunk whose tags all fit as verified without walking them: the count of
// bytes the written tags stand for must say exactly what the walk says, for chunks of every
// kind and for buffers that cut the tags anywhere.
TEST(KzpCompressor, CoveredBytesSayWhatTheVerifierSays) {
  RecordingPort port;
  std::mt19937 rng(91);
  const auto sprite = samples::SpritePicture(160, 120, 92);
  const Bytes sources[] = {samples::RandomBytes(3000, 93), samples::Run(3000, 0),
                           samples::ShortRepeats(3000, 7, 94), PatchworkBytes(3000, 95),
                           samples::XMaskedEntry(sprite)};
  for (const Bytes& source : sources) {
    for (int round = 0; round < 40; ++round) {
      const std::size_t start = rng() % 1000;
      const std::size_t count = 1 + rng() % std::min<std::size_t>(2000, source.size() - start);
      // Room for every tag, or less than the tags need.
      const std::size_t room = round % 2 == 0 ? count + 16 : rng() % (count + 2);
      Bytes out(room);
      std::size_t covered = 12345;
      const std::size_t n = CompressChunk(source, start, out, count, port, Owner::kMain, &covered);
      const bool verified =
          VerifyChunk(source, start, count, std::span(out).first(n), port, Owner::kMain);
      ASSERT_EQ(covered == count, verified) << round << " count " << count << " room " << room;
      ASSERT_LE(covered, count);
      if (round % 2 == 0) {
        ASSERT_EQ(covered, count);
      }
    }
  }
}

// CompressChunk runs one of two builds of its loop, as the processor allows; each must give
// the reference's bytes and cover what it says, whichever this machine would pick, and with
// tags cut short by the room.
TEST(KzpCompressor, BothBuildsOfTheLoopGiveTheReferenceBytes) {
  using Loop = std::size_t (*)(std::span<const std::uint8_t>, std::size_t, std::span<std::uint8_t>,
                               std::size_t, StatusPort&, Owner, std::size_t*);
  std::vector<Loop> loops = {&CompressChunkPortable};
  if (Avx2Compressor()) loops.push_back(&CompressChunkAvx2);
  RecordingPort port;
  std::mt19937 rng(123);
  const auto busy = samples::BusyPicture(160, 120, 124);
  const auto painted = samples::PaintedPicture(160, 120, 125);
  const Bytes sources[] = {PatchworkBytes(20000, 126), samples::RandomBytes(9000, 127),
                           samples::Run(9000, 3), samples::XMaskedEntry(busy),
                           samples::XMaskedEntry(painted)};
  for (const Bytes& source : sources) {
    for (int round = 0; round < 30; ++round) {
      const std::size_t start = round == 0 ? 0 : rng() % (source.size() / 2);
      const std::size_t count =
          1 + rng() % std::min<std::size_t>(kKzpChunkSize, source.size() - start);
      Bytes expected;
      reference::CompressChunkReference(source, start, count, expected);
      const std::size_t room = round % 3 == 2 ? rng() % (expected.size() + 1) : count + 16;
      // Short of room, the tags that fit are written and the rest left out, the same way by
      // both builds.
      Bytes first_out;
      std::size_t first_covered = 0;
      for (const Loop loop : loops) {
        Bytes out(room);
        std::size_t covered = 0;
        out.resize(loop(source, start, out, count, port, Owner::kMain, &covered));
        if (room >= expected.size()) {
          ASSERT_EQ(out, expected) << round << " at " << start << " count " << count;
          ASSERT_EQ(covered, count);
        } else {
          ASSERT_LT(covered, count) << round;
        }
        if (loop == loops.front()) {
          first_out = out;
          first_covered = covered;
        } else {
          ASSERT_EQ(out, first_out) << round << " room " << room;
          ASSERT_EQ(covered, first_covered) << round;
        }
      }
    }
  }
}

}  // namespace
}  // namespace zemlo
