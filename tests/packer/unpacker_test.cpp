#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "packer/kzp.h"
#include "support/kzp_reference.h"
#include "support/packer_samples.h"
#include "support/recording_port.h"

namespace zemlo {
namespace {

using samples::Bytes;
using testing::RecordingPort;

Bytes Pack(const Bytes& source) {
  RecordingPort port;
  Bytes out(PackedBound(source.size()));
  out.resize(PackEntry(source, out, port, Owner::kMain, "t"));
  return out;
}

std::optional<Bytes> Unpack(const Bytes& packed, std::size_t capacity) {
  // Guard bytes behind the capacity catch writes past the span.
  Bytes out(capacity + 64, 0xA5);
  const auto n = UnpackEntry(packed, std::span(out).first(capacity));
  EXPECT_TRUE(
      std::all_of(out.begin() + capacity, out.end(), [](std::uint8_t b) { return b == 0xA5; }));
  if (!n) return std::nullopt;
  out.resize(*n);
  return out;
}

Bytes Stream(std::initializer_list<std::uint8_t> tags) {
  Bytes out(4 + tags.size());
  std::copy(std::begin(kKzpMagic), std::end(kKzpMagic), out.begin());
  std::copy(tags.begin(), tags.end(), out.begin() + 4);
  return out;
}

TEST(KzpUnpacker, RoundTripsVariedData) {
  std::vector<Bytes> sources = {
      {},
      {0x42},
      samples::RandomBytes(50000, 1),
      samples::Run(40000, 0),
      samples::ShortRepeats(30000, 3, 2),
      samples::ShortRepeats(30000, 9, 3),
      samples::ShortRepeats(30000, 32, 4),
      samples::PlainEntry(samples::SpritePicture(200, 150, 5)),
      samples::XMaskedEntry(samples::SpritePicture(200, 150, 6)),
      samples::PlainEntry(samples::BusyPicture(100, 80, 7)),
      samples::PlainEntry(samples::PaintedPicture(100, 80, 8)),
  };
  for (std::size_t n : {8191, 8192, 8193, 16385}) sources.push_back(samples::Run(n, 3));
  for (const Bytes& source : sources) {
    const Bytes packed = Pack(source);
    // Exactly the room needed, and a roomy buffer.
    EXPECT_EQ(Unpack(packed, source.size()), source) << source.size();
    EXPECT_EQ(Unpack(packed, source.size() + 1000), source) << source.size();
  }
}

// Streams the compressor never writes but readers accept: long lengths and offsets, overlaps
// of every distance, zero-length write tags. Compared with the byte-by-byte unpacker.
TEST(KzpUnpacker, AcceptsEveryTagFormLikeTheByteLoop) {
  std::mt19937 rng(77);
  for (int round = 0; round < 300; ++round) {
    Bytes packed = {'K', 'Z', 'P', '1'};
    std::size_t produced = 0;
    for (int t = 0; t < 40; ++t) {
      const bool write = produced == 0 || rng() % 3 == 0;
      const int length = static_cast<int>(rng() % (rng() % 4 == 0 ? 300 : 40));
      if (write) {
        packed.push_back(static_cast<std::uint8_t>((length & 63) | (length > 63 ? 64 : 0)));
        if (length > 63) packed.push_back(static_cast<std::uint8_t>(length / 64));
        for (int i = 0; i < length; ++i) packed.push_back(static_cast<std::uint8_t>(rng()));
        produced += length;
      } else {
        const int limit = static_cast<int>(std::min<std::size_t>(produced, 400));
        const int distance = 1 + static_cast<int>(rng() % limit);
        packed.push_back(static_cast<std::uint8_t>(128 | (length & 63) | (length > 63 ? 64 : 0)));
        if (length > 63) packed.push_back(static_cast<std::uint8_t>(length / 64));
        packed.push_back(static_cast<std::uint8_t>((distance & 127) | (distance > 127 ? 128 : 0)));
        if (distance > 127) packed.push_back(static_cast<std::uint8_t>(distance / 128));
        produced += length + 1;
      }
    }
    const auto expected = reference::UnpackReference(packed, produced);
    ASSERT_TRUE(expected.has_value());
    EXPECT_EQ(Unpack(packed, produced), *expected);
    EXPECT_EQ(Unpack(packed, produced + 7), *expected);
  }
}

// Every short distance (a pattern shorter than eight bytes) with every length a tag of the
// compressor can have and some past it, behind literals that give the pattern, with the
// output ending at the copy or going on: the byte loop's result, nothing written past it.
TEST(KzpUnpacker, ShortDistancesRepeatTheirPatternLikeTheByteLoop) {
  for (int distance = 1; distance <= 9; ++distance) {
    for (int length = 1; length <= 40; ++length) {
      Bytes packed = {'K', 'Z', 'P', '1', 9};
      for (int i = 0; i < 9; ++i) packed.push_back(static_cast<std::uint8_t>(0x31 + 7 * i));
      packed.push_back(static_cast<std::uint8_t>(128 | (length - 1)));
      packed.push_back(static_cast<std::uint8_t>(distance));
      const std::size_t produced = 9 + static_cast<std::size_t>(length);
      const auto expected = reference::UnpackReference(packed, produced);
      ASSERT_TRUE(expected.has_value());
      for (const std::size_t extra : {0, 3, 8, 40}) {
        EXPECT_EQ(Unpack(packed, produced + extra), *expected)
            << "distance " << distance << ", length " << length << ", room " << extra;
      }
    }
  }
}

TEST(KzpUnpacker, ReplicateOfDistanceOneRepeatsTheLastByte) {
  const auto out = Unpack(Stream({0x01, 0x77, 0x9F, 0x01}), 100);
  ASSERT_TRUE(out.has_value());
  EXPECT_EQ(*out, Bytes(33, 0x77));
}

TEST(KzpUnpacker, MagicAloneIsEmpty) {
  EXPECT_EQ(Unpack(Stream({}), 0), Bytes{});
  EXPECT_EQ(Unpack(Stream({}), 10), Bytes{});
}

TEST(KzpUnpacker, VersionDigitIsNotTested) {
  Bytes packed = Stream({0x02, 1, 2});
  packed[3] = '9';
  EXPECT_EQ(Unpack(packed, 10), (Bytes{1, 2}));
}

// Malformed streams of every kind are refused, never read or written out of bounds.
TEST(KzpUnpacker, RefusesMalformedStreams) {
  struct Case {
    const char* what;
    Bytes packed;
    std::size_t capacity;
  };
  const std::vector<Case> cases = {
      {"shorter than the magic", {'K', 'Z', 'P'}, 100},
      {"write tag without its extension byte", Stream({0x40}), 100},
      {"write tag with fewer literals than its length", Stream({0x05, 1, 2, 3}), 100},
      {"long write tag cut short", Stream({0x41, 0x01, 1, 2}), 100},
      {"replicate tag without its offset", Stream({0x02, 1, 2, 0x83}), 100},
      {"replicate tag without its length extension", Stream({0x02, 1, 2, 0xC3}), 100},
      {"replicate tag without its offset extension", Stream({0x02, 1, 2, 0x83, 0x81}), 100},
      {"copy before the start", Stream({0x02, 1, 2, 0x83, 0x03}), 100},
      {"copy as the first tag", Stream({0x83, 0x01}), 100},
      {"copy from far before the start", Stream({0x02, 1, 2, 0x83, 0xFF, 0xFF}), 100},
      {"distance zero", Stream({0x02, 1, 2, 0x83, 0x00}), 100},
      {"literals larger than the buffer", Stream({0x05, 1, 2, 3, 4, 5}), 4},
      {"copy larger than the buffer", Stream({0x01, 7, 0x9F, 0x01}), 32},
      {"long copy larger than the buffer", Stream({0x01, 7, 0xFF, 0xFF, 0x01}), 16000},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Unpack(c.packed, c.capacity), std::nullopt) << c.what;
    EXPECT_EQ(reference::UnpackReference(c.packed, c.capacity), std::nullopt) << c.what;
  }
  // The same copies fit with one byte more room.
  EXPECT_EQ(Unpack(Stream({0x01, 7, 0x9F, 0x01}), 33), Bytes(33, 7));
  EXPECT_EQ(Unpack(Stream({0x05, 1, 2, 3, 4, 5}), 5), (Bytes{1, 2, 3, 4, 5}));
}

// Every prefix of a real packed entry either unpacks (it ends on a tag boundary) to a prefix of
// the source, or is refused.
TEST(KzpUnpacker, TruncatedEntriesGivePrefixesOrFailure) {
  const Bytes source = samples::XMaskedEntry(samples::SpritePicture(40, 30, 9));
  const Bytes packed = Pack(source);
  int refused = 0;
  for (std::size_t cut = 0; cut < packed.size(); ++cut) {
    const Bytes prefix(packed.begin(), packed.begin() + cut);
    const auto out = Unpack(prefix, source.size());
    if (!out) {
      ++refused;
      continue;
    }
    ASSERT_LE(out->size(), source.size());
    EXPECT_TRUE(std::equal(out->begin(), out->end(), source.begin())) << cut;
  }
  EXPECT_GT(refused, 0);
}

// Random garbage behind the magic: the product and the byte loop agree on success and bytes.
TEST(KzpUnpacker, RandomStreamsAgreeWithByteLoop) {
  std::mt19937 rng(5);
  for (int round = 0; round < 3000; ++round) {
    Bytes packed = {'K', 'Z', 'P', '1'};
    const std::size_t n = rng() % 24;
    for (std::size_t i = 0; i < n; ++i) packed.push_back(static_cast<std::uint8_t>(rng()));
    const std::size_t capacity = rng() % 200;
    const auto expected = reference::UnpackReference(packed, capacity);
    EXPECT_EQ(Unpack(packed, capacity), expected) << round;
  }
}

}  // namespace
}  // namespace zemlo
