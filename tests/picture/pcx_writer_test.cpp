#include "picture/pcx_writer.h"

#include <gtest/gtest.h>

#include "picture/pcx_reader.h"
#include "support/picture_test_support.h"

namespace zemlo::testing {
namespace {

Bytes Encode(std::span<const std::uint8_t> plane) {
  Bytes out(2 * plane.size() + 2);
  out.resize(EncodePcxPlane(plane, out));
  return out;
}

TEST(PcxWriter, PlaneCodesFollowTheRunRules) {
  EXPECT_EQ(Encode(Bytes{200}), (Bytes{0xC1, 200}));
  EXPECT_EQ(Encode(Bytes{191}), (Bytes{191}));
  EXPECT_EQ(Encode(Bytes{192}), (Bytes{0xC1, 192}));
  EXPECT_EQ(Encode(Bytes{5, 5}), (Bytes{0xC2, 5}));
  // 63 equal bytes are one full run; the 64th starts a run of one with the value kept.
  EXPECT_EQ(Encode(Bytes(63, 9)), (Bytes{0xFF, 9}));
  EXPECT_EQ(Encode(Bytes(64, 9)), (Bytes{0xFF, 9, 9}));
  EXPECT_EQ(Encode(Bytes(64, 250)), (Bytes{0xFF, 250, 0xC1, 250}));
  EXPECT_EQ(Encode(Bytes(126, 9)), (Bytes{0xFF, 9, 0xFF, 9}));
  Bytes then_other(63, 9);
  then_other.push_back(4);
  EXPECT_EQ(Encode(then_other), (Bytes{0xFF, 9, 4}));
  // An all-black plane row: twelve runs of 63 and one of 44.
  Bytes black_row;
  for (int i = 0; i < 12; ++i) black_row.insert(black_row.end(), {0xFF, 0});
  black_row.insert(black_row.end(), {0xEC, 0});
  EXPECT_EQ(Encode(Bytes(800, 0)), black_row);
  // Neighbours that all differ: one byte each below 192, two at 192 and above.
  Bytes low(800), high(800);
  for (int i = 0; i < 800; ++i)
    low[i] = std::uint8_t(i % 191), high[i] = std::uint8_t(192 + i % 63);
  EXPECT_EQ(Encode(low).size(), 800u);
  EXPECT_EQ(Encode(high).size(), 1600u);
  EXPECT_EQ(Encode(Bytes{}).size(), 0u);
}

TEST(PcxWriter, MatchesThePlainEncoderOnRandomPlanes) {
  std::mt19937 rng(99);
  for (int round = 0; round < 2000; ++round) {
    const std::size_t n = std::uniform_int_distribution<std::size_t>(1, 1000)(rng);
    const int max_run = std::uniform_int_distribution<int>(1, 300)(rng);
    const int values = std::uniform_int_distribution<int>(1, 256)(rng);
    Bytes plane;
    while (plane.size() < n) {
      const std::uint8_t v = std::uint8_t(192 - values / 2 + int(rng() % values));
      const std::size_t run = 1 + rng() % max_run;
      for (std::size_t k = 0; k < run && plane.size() < n; ++k) plane.push_back(v);
    }
    ASSERT_EQ(Encode(plane), PlainEncodePlane(plane)) << round;
  }
}

// Plane rows as busy pictures give them: neighbours that hardly repeat, in a band of values
// below 192, above it or across it, with a pair now and then and runs of the lengths around
// 63 that start and end anywhere, the row's end included.
Bytes BusyPlane(std::mt19937& rng, std::size_t n) {
  const int centre = int(rng() % 256);
  const int grain = 1 + int(rng() % 20);
  const int runs = int(rng() % 12);  // percent of positions that start a run
  const int lengths[] = {2, 3, 7, 8, 9, 15, 16, 17, 18, 31, 62, 63, 64, 65, 125, 126, 127, 189};
  Bytes plane;
  while (plane.size() < n) {
    const int v = std::clamp(centre + int(rng() % (2 * grain + 1)) - grain, 0, 255);
    const std::size_t length = int(rng() % 100) < runs ? lengths[rng() % std::size(lengths)] : 1;
    plane.insert(plane.end(), length, std::uint8_t(v));
  }
  plane.resize(n);
  return plane;
}

TEST(PcxWriter, MatchesThePlainEncoderOnBusyPlanes) {
  std::mt19937 rng(2024);
  for (int round = 0; round < 4000; ++round) {
    const std::size_t n = round % 4 == 0 ? 800 : 1 + rng() % 1000;
    const Bytes plane = BusyPlane(rng, n);
    ASSERT_EQ(Encode(plane), PlainEncodePlane(plane)) << round;
  }
  // Runs around 63 after every number of runs of one, ending at the row's end or just before.
  for (const std::size_t run : {2, 15, 16, 17, 62, 63, 64, 65, 126, 127}) {
    for (std::size_t singles = 0; singles < 40; ++singles) {
      for (std::size_t after = 0; after < 3; ++after) {
        Bytes plane;
        for (std::size_t k = 0; k < singles; ++k) plane.push_back(std::uint8_t(180 + k % 30));
        plane.insert(plane.end(), run, std::uint8_t(singles % 2 ? 200 : 100));
        for (std::size_t k = 0; k < after; ++k) plane.push_back(std::uint8_t(7 + k));
        ASSERT_EQ(Encode(plane), PlainEncodePlane(plane)) << run << " " << singles << " " << after;
      }
    }
  }
}

TEST(PcxWriter, BlackPictureGivesTheFixedFile) {
  Bytes out(kPcxMaxSize);
  const std::size_t length = EncodePcx(BlankPicture(), out);
  ASSERT_EQ(length, 46928u);
  const Bytes header(out.begin(), out.begin() + 128);
  Bytes expected(128, 0);
  const std::pair<int, int> words[] = {{8, 799},  {10, 599}, {12, 300}, {14, 300},
                                       {66, 800}, {68, 1},   {70, 800}, {72, 600}};
  expected[0] = 10, expected[1] = 5, expected[2] = 1, expected[3] = 8, expected[65] = 3;
  for (auto [at, v] : words)
    expected[at] = std::uint8_t(v & 0xFF), expected[at + 1] = std::uint8_t(v >> 8);
  EXPECT_EQ(header, expected);
  const Bytes row = Encode(Bytes(800, 0));
  for (std::size_t at = 128; at < length; at += row.size()) {
    ASSERT_TRUE(std::equal(row.begin(), row.end(), out.begin() + at)) << at;
  }
}

TEST(PcxWriter, WrittenPicturesReadBackExactly) {
  std::mt19937 rng(5);
  Bytes out(kPcxMaxSize);
  for (int round = 0; round < 8; ++round) {
    const Bytes pic = RandomPicture(rng, round % 4);
    const std::size_t length = EncodePcx(pic, out);
    ASSERT_GT(length, 128u);
    // The planes are red, green, blue, each row encoded on its own.
    std::size_t at = 128;
    for (int y = 0; y < 600; y += 1) {
      for (int c : {2, 1, 0}) {
        Bytes plane(800);
        for (int x = 0; x < 800; ++x) plane[x] = pic[std::size_t(y) * kRowBytes + 3 * x + c];
        const Bytes enc = PlainEncodePlane(plane);
        ASSERT_TRUE(std::equal(enc.begin(), enc.end(), out.begin() + at)) << y;
        at += enc.size();
      }
    }
    ASSERT_EQ(at, length);
    Bytes back = PatternPicture();
    ASSERT_TRUE(DecodePcx(std::span(out).first(length), back));
    ASSERT_EQ(back, pic) << round;
  }
}

// Every row is coded as its three planes coded alone, whatever black lies around its pixels:
// rows with a pixel or a stretch at the first and last columns, at the edges of the groups
// the coder looks at, with one colour byte only, or none (black rows between them).
TEST(PcxWriter, RowsWithBlackAroundThemMatchThePlainCoder) {
  std::mt19937 rng(31);
  const int places[] = {0, 1, 15, 16, 17, 31, 32, 383, 400, 767, 768, 783, 784, 785, 798, 799};
  Bytes out(kPcxMaxSize);
  for (int round = 0; round < 6; ++round) {
    Bytes pic = BlankPicture();
    for (int y = 0; y < kPictureHeight; y += 1 + int(rng() % 3)) {
      const int x0 = places[rng() % std::size(places)];
      const int x1 = rng() % 2 ? x0 : std::max(x0, places[rng() % std::size(places)]);
      const int channel = int(rng() % 4);  // 3: every channel
      for (int x = x0; x <= x1; ++x) {
        for (int c = 0; c < 3; ++c) {
          if (channel == 3 || channel == c) {
            pic[std::size_t(y) * kRowBytes + 3 * x + c] =
                std::uint8_t(1 + rng() % (round * 50 + 5));
          }
        }
      }
    }
    const std::size_t length = EncodePcx(pic, out);
    std::size_t at = 128;
    for (int y = 0; y < kPictureHeight; ++y) {
      for (int c : {2, 1, 0}) {
        Bytes plane(800);
        for (int x = 0; x < 800; ++x) plane[x] = pic[std::size_t(y) * kRowBytes + 3 * x + c];
        const Bytes enc = PlainEncodePlane(plane);
        ASSERT_LE(at + enc.size(), length) << y;
        ASSERT_TRUE(std::equal(enc.begin(), enc.end(), out.begin() + at)) << round << " " << y;
        at += enc.size();
      }
    }
    ASSERT_EQ(at, length);
  }
}

// Rows said to be black are written as black without being looked at: the same file when
// they are, and black rows when they are not.
TEST(PcxWriter, RowsSaidToBeBlackAreWrittenBlack) {
  std::mt19937 rng(8);
  Bytes plain(kPcxMaxSize), told(kPcxMaxSize);
  for (int round = 0; round < 6; ++round) {
    Bytes pic = BlankPicture();
    const int first = int(rng() % 600), end = first + 1 + int(rng() % (600 - first));
    for (int y = first; y < end; ++y)
      for (int x = int(rng() % 800); x < 800; x += 1 + int(rng() % 300))
        pic[std::size_t(y) * kRowBytes + 3 * x + rng() % 3] = std::uint8_t(1 + rng() % 255);
    const std::size_t length = EncodePcx(pic, plain);
    ASSERT_EQ(EncodePcx(pic, told, {first, end}), length);
    ASSERT_TRUE(std::equal(plain.begin(), plain.begin() + length, told.begin())) << round;
    // Told that the picture holds nothing below `first`: its rows there go out black.
    const std::size_t cut = EncodePcx(pic, told, {0, first});
    Bytes blacked = pic;
    std::fill(blacked.begin() + std::ptrdiff_t(first) * kRowBytes, blacked.end(), 0);
    ASSERT_EQ(EncodePcx(blacked, plain), cut);
    ASSERT_TRUE(std::equal(plain.begin(), plain.begin() + cut, told.begin())) << round;
  }
}

TEST(PcxWriter, WorstCaseFillsTheExportBufferAndNothingPastAnyBuffer) {
  // Neighbours that all differ at 192 and above: two bytes per picture byte.
  Bytes worst(kPictureBytes);
  for (std::size_t i = 0; i < worst.size(); ++i)
    worst[i] = std::uint8_t(192 + (i / 3 + i % 3 * 20) % 63);
  Bytes out(kPcxMaxSize + 16, 0xAB);
  ASSERT_EQ(EncodePcx(worst, std::span(out).first(kPcxMaxSize)), kPcxMaxSize);
  EXPECT_TRUE(std::all_of(out.end() - 16, out.end(), [](auto b) { return b == 0xAB; }));
  Bytes back(kPictureBytes);
  ASSERT_TRUE(DecodePcx(std::span(out).first(kPcxMaxSize), back));
  EXPECT_EQ(back, worst);

  // The file buffer is too small for it: refused, and the bytes after the given span stay.
  const std::size_t file_buffer = kFileBufferSize;
  std::fill(out.begin(), out.end(), 0xAB);
  EXPECT_EQ(EncodePcx(worst, std::span(out).first(file_buffer)), 0u);
  EXPECT_TRUE(std::all_of(out.begin() + file_buffer, out.end(), [](auto b) { return b == 0xAB; }));
  // A black picture fits a buffer of exactly its length, not one byte less.
  std::fill(out.begin(), out.end(), 0xAB);
  EXPECT_EQ(EncodePcx(BlankPicture(), std::span(out).first(46928)), 46928u);
  EXPECT_EQ(out[46928], 0xAB);
  std::fill(out.begin(), out.end(), 0xAB);
  EXPECT_EQ(EncodePcx(BlankPicture(), std::span(out).first(46927)), 0u);
  EXPECT_EQ(out[46927], 0xAB);
  EXPECT_EQ(EncodePcx(BlankPicture(), std::span(out).first(100)), 0u);
  EXPECT_EQ(EncodePcx(Bytes(kPictureBytes - 1), out), 0u);

  // One plane row into every short buffer.
  Bytes plane(50);
  for (int i = 0; i < 50; ++i) plane[i] = std::uint8_t(i % 3 == 0 ? 200 : i);
  const Bytes full = PlainEncodePlane(plane);
  for (std::size_t room = 0; room <= full.size() + 2; ++room) {
    Bytes target(room + 4, 0xCD);
    const std::size_t n = EncodePcxPlane(plane, std::span(target).first(room));
    EXPECT_EQ(n, room >= full.size() ? full.size() : 0u) << room;
    EXPECT_TRUE(std::all_of(target.begin() + room, target.end(), [](auto b) { return b == 0xCD; }));
  }
}

}  // namespace
}  // namespace zemlo::testing
