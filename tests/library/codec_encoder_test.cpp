#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "library/codec/icon_encoder.h"

namespace zemlo {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Rgb {
  std::uint8_t b, g, r;
};

Bytes BlackPicture() { return Bytes(kPictureBytes, 0); }

void Put(Bytes& pic, int x, int y, Rgb c) {
  std::uint8_t* p = &pic[(static_cast<std::size_t>(y) * kPictureWidth + x) * 3];
  p[0] = c.b;
  p[1] = c.g;
  p[2] = c.r;
}

Rgb At(const Bytes& pic, int x, int y) {
  const std::uint8_t* p = &pic[(static_cast<std::size_t>(y) * kPictureWidth + x) * 3];
  return {p[0], p[1], p[2]};
}

bool operator==(Rgb a, Rgb b) { return a.b == b.b && a.g == b.g && a.r == b.r; }

void Fill(Bytes& pic, int x0, int y0, int x1, int y1, Rgb c) {
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x) Put(pic, x, y, c);
}

// Encodes into a buffer that can take any entry, returning exactly the entry's bytes.
struct Encoded {
  Bytes entry;
  CoordinatesRecord record;
  CropBox box;
};
Encoded Encode(int icon, Bytes& source,
               CoordinatesRecord before = {0xAAAA, 0xBBBB, 0xCCCC, 0xDDDD}) {
  Bytes table(kCoordinatesTableSize, 0);
  CoordinatesTable coordinates(table);
  coordinates.Set(icon, before);
  Bytes out(kMaxPictureEntry + 16, 0xEE);
  Encoded e;
  e.box = {-7, -7, -7, -7};
  const std::size_t n = EncodeIcon(icon, source, out, coordinates, e.box);
  EXPECT_LE(n, out.size());
  e.entry.assign(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n));
  e.record = coordinates.Get(icon);
  return e;
}

// ---- Plain references: the algorithms as stated, pixel by pixel, for the fast versions to
// match on random pictures.

bool RefBlack(const Bytes& pic, int x, int y) {
  const Rgb c = At(pic, x, y);
  return c.b == 0 && c.g == 0 && c.r == 0;
}

CropBox RefFindCropBox(const Bytes& pic) {
  CropBox box{kPictureHeight, 0, kPictureWidth, 0};
  auto row_empty = [&](int y) {
    for (int x = 0; x < kPictureWidth; ++x)
      if (!RefBlack(pic, x, y)) return false;
    return true;
  };
  auto col_empty = [&](int x) {
    for (int y = 0; y < kPictureHeight; ++y)
      if (!RefBlack(pic, x, y)) return false;
    return true;
  };
  for (box.top = 0; box.top < kPictureHeight && row_empty(box.top);) ++box.top;
  for (box.bottom = kPictureHeight - 1; box.bottom >= 0 && row_empty(box.bottom);) --box.bottom;
  if (box.bottom < 0) box.bottom = 0;
  for (box.left = 0; box.left < kPictureWidth && col_empty(box.left);) ++box.left;
  for (box.right = kPictureWidth - 1; box.right >= 0 && col_empty(box.right);) --box.right;
  if (box.right < 0) box.right = 0;
  return box;
}

std::uint8_t RefChooseMaskKind(const Bytes& pic, const CropBox& box) {
  int most = 0;
  for (int y = box.top; y <= box.bottom; ++y) {
    bool non_black = At(pic, box.left, y).b != 0;
    int count = 0;
    for (int x = box.left; x <= box.right; ++x) {
      const bool here = !RefBlack(pic, x, y);
      if (!non_black && here) {
        non_black = true;
        ++count;
      } else if (non_black && !here) {
        non_black = false;
        ++count;
      }
    }
    most = std::max(most, count);
  }
  if (most <= 1) return 0;
  if (most <= 5) return 128;
  return 64;
}

void RefWriteCount(Bytes& out, std::size_t v) {
  while (v > 254) {
    out.push_back(255);
    v -= 255;
  }
  out.push_back(static_cast<std::uint8_t>(v));
}

Bytes RefEntry(const Bytes& pic) {
  const CropBox box = RefFindCropBox(pic);
  const std::uint8_t kind = RefChooseMaskKind(pic, box);
  Bytes out{24, kind, 0, 0};
  for (int y = box.top; y <= box.bottom; ++y) {
    if (kind != 128) {
      for (int x = box.left; x <= box.right; ++x) {
        const Rgb c = At(pic, x, y);
        out.insert(out.end(), {c.b, c.g, c.r});
      }
      continue;
    }
    int x = box.left;
    while (x <= box.right) {
      int skip = 0, copy = 0;
      while (x <= box.right && RefBlack(pic, x, y)) ++skip, ++x;
      const int from = x;
      while (x <= box.right && !RefBlack(pic, x, y)) ++copy, ++x;
      if (copy > 0) {
        RefWriteCount(out, static_cast<std::size_t>(copy));
        RefWriteCount(out, static_cast<std::size_t>(skip));
        for (int i = from; i < from + copy; ++i) {
          const Rgb c = At(pic, i, y);
          out.insert(out.end(), {c.b, c.g, c.r});
        }
      }
    }
    out.push_back(0);
  }
  return out;
}

void RefSmoothColours(Bytes& pic) {
  auto inside = [](int x, int y) {
    return x >= 0 && x < kPictureWidth && y >= 0 && y < kPictureHeight;
  };
  for (int ty = 0; ty < kPictureHeight - 3; ty += 7) {
    for (int tx = 0; tx < kPictureWidth - 3; tx += 7) {
      long sum[3] = {0, 0, 0};
      bool black = false;
      for (int y = ty; y < ty + 7; ++y)
        for (int x = tx; x < tx + 7; ++x) {
          if (!inside(x, y) || RefBlack(pic, x, y)) {
            black = true;
            continue;
          }
          const Rgb c = At(pic, x, y);
          sum[0] += c.b;
          sum[1] += c.g;
          sum[2] += c.r;
        }
      if (black) continue;
      int avg[3];
      for (int k = 0; k < 3; ++k) avg[k] = std::max(2, static_cast<int>(sum[k] / 49));
      for (int y = ty + 3; y < ty + 10; ++y)
        for (int x = tx + 3; x < tx + 10; ++x) {
          if (!inside(x, y)) continue;
          const Rgb c = At(pic, x, y);
          if (std::abs(c.b - avg[0]) < 6 && std::abs(c.g - avg[1]) < 6 &&
              std::abs(c.r - avg[2]) < 6) {
            Put(pic, x, y,
                {static_cast<std::uint8_t>(avg[0]), static_cast<std::uint8_t>(avg[1]),
                 static_cast<std::uint8_t>(avg[2])});
          }
        }
    }
  }
}

// ---- Random pictures that reach every corner of the searches: pixels on the picture's
// edges, single bytes set (pure blue, green or red), rows of a few pixels or dense noise.
Rgb RandomColour(std::mt19937& rng) {
  switch (rng() % 4) {
    case 0:  // one channel only, often not blue
      return rng() % 3 == 0 ? Rgb{static_cast<std::uint8_t>(1 + rng() % 255), 0, 0}
             : rng() % 2    ? Rgb{0, static_cast<std::uint8_t>(1 + rng() % 255), 0}
                            : Rgb{0, 0, static_cast<std::uint8_t>(1 + rng() % 255)};
    default: {
      Rgb c{static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()),
            static_cast<std::uint8_t>(rng())};
      if (c.b == 0 && c.g == 0 && c.r == 0) c.g = 1;
      return c;
    }
  }
}

Bytes RandomRaggedPicture(std::mt19937& rng) {
  Bytes pic = BlackPicture();
  const int x0 = rng() % 3 == 0 ? 0 : static_cast<int>(rng() % kPictureWidth);
  const int x1 =
      rng() % 3 == 0 ? kPictureWidth - 1 : x0 + static_cast<int>(rng() % (kPictureWidth - x0));
  const int y0 = rng() % 3 == 0 ? 0 : static_cast<int>(rng() % kPictureHeight);
  const int y1 =
      rng() % 3 == 0 ? kPictureHeight - 1 : y0 + static_cast<int>(rng() % (kPictureHeight - y0));
  const int runs_most = 1 + static_cast<int>(rng() % 6);
  for (int y = y0; y <= y1; ++y) {
    if (rng() % 4 == 0) continue;  // empty rows inside
    const int runs = static_cast<int>(rng() % (runs_most + 1));
    for (int r = 0; r < runs; ++r) {
      const int a = x0 + static_cast<int>(rng() % (x1 - x0 + 1));
      const int len = 1 + static_cast<int>(rng() % std::min(300, x1 - a + 1));
      for (int x = a; x < a + len; ++x) Put(pic, x, y, RandomColour(rng));
    }
  }
  return pic;
}

TEST(WriteCount, ContinuesWith255) {
  struct Case {
    std::size_t value;
    Bytes bytes;
  };
  const Case cases[] = {{0, {0x00}},
                        {1, {0x01}},
                        {254, {0xFE}},
                        {255, {0xFF, 0x00}},
                        {300, {0xFF, 0x2D}},
                        {509, {0xFF, 0xFE}},
                        {510, {0xFF, 0xFF, 0x00}},
                        {800, {0xFF, 0xFF, 0xFF, 0x23}}};
  for (const Case& c : cases) {
    Bytes out(8, 0xEE);
    const std::size_t n = WriteCount(c.value, out);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n)), c.bytes) << c.value;
    EXPECT_EQ(out[n], 0xEE) << c.value;
  }
}

TEST(WriteCount, RefusesAShortBufferWithoutWriting) {
  Bytes out(2, 0xEE);
  EXPECT_EQ(WriteCount(510, out), 0u);
  EXPECT_EQ(out, (Bytes{0xEE, 0xEE}));
  EXPECT_EQ(WriteCount(0, std::span<std::uint8_t>{}), 0u);
}

TEST(IconNumbers, SmoothingRangesAndSoundNumbers) {
  for (int n : {0, 3999, 5000, 5999, 9000, 9999, 10000, 11999}) EXPECT_FALSE(IsSmoothed(n)) << n;
  for (int n : {4000, 4999, 6000, 8999, 12000, 20000}) EXPECT_TRUE(IsSmoothed(n)) << n;
  for (int n : {8999, 10000, 0, 3000}) EXPECT_FALSE(IsSoundNumber(n)) << n;
  for (int n : {9000, 9500, 9999}) EXPECT_TRUE(IsSoundNumber(n)) << n;
  EXPECT_EQ(MaskKindWord(0), "Unmasked");
  EXPECT_EQ(MaskKindWord(64), "0-masked");
  EXPECT_EQ(MaskKindWord(128), "X-masked");
  EXPECT_EQ(MaskKindWord(192), "");
}

TEST(EncodeIcon, OnePixelGivesASevenByteEntry) {
  Bytes pic = BlackPicture();
  Put(pic, 123, 45, {1, 2, 3});
  const Encoded e = Encode(3001, pic);
  EXPECT_EQ(e.entry, (Bytes{24, 0, 0, 0, 1, 2, 3}));
  EXPECT_EQ(e.record, (CoordinatesRecord{1, 1, 123, 45}));
  EXPECT_EQ(e.box.top, 45);
  EXPECT_EQ(e.box.bottom, 45);
  EXPECT_EQ(e.box.left, 123);
  EXPECT_EQ(e.box.right, 123);
}

TEST(EncodeIcon, CornersOfThePictureGiveTheWholeBox) {
  Bytes pic = BlackPicture();
  Put(pic, 0, 0, {7, 0, 0});
  Put(pic, 799, 599, {0, 7, 0});
  const Encoded e = Encode(3002, pic);
  EXPECT_EQ(e.record, (CoordinatesRecord{800, 600, 0, 0}));
  // A blue pixel then black, and black then a green pixel: one transition each, unmasked.
  EXPECT_EQ(e.entry.size(), 4 + kPictureBytes);
  EXPECT_EQ(e.entry[1], kUnmasked);
  EXPECT_EQ(e.entry[4], 7);
  EXPECT_EQ(e.entry[e.entry.size() - 2], 7);
}

TEST(EncodeIcon, BlackPictureIsTheHeaderAloneWithAnEmptyRecord) {
  Bytes pic = BlackPicture();
  const Encoded e = Encode(3003, pic);
  EXPECT_EQ(e.entry, (Bytes{24, 0, 0, 0}));
  EXPECT_EQ(e.record, (CoordinatesRecord{0, 0, 0, 0}));
  EXPECT_EQ(e.box.top, kPictureHeight);
  EXPECT_EQ(e.box.bottom, 0);
  EXPECT_EQ(e.box.left, kPictureWidth);
  EXPECT_EQ(e.box.right, 0);
}

TEST(EncodeIcon, BlackTailsOfRowsStartingWithBlueAreStoredUnmasked) {
  Bytes pic = BlackPicture();
  Fill(pic, 10, 20, 13, 20, {5, 0, 0});  // four pixels
  Fill(pic, 10, 21, 11, 21, {6, 1, 1});  // two, then a black tail of two
  const Encoded e = Encode(3004, pic);
  EXPECT_EQ(e.entry, (Bytes{24, 0, 0, 0, 5, 0, 0, 5, 0, 0, 5, 0, 0, 5, 0, 0,  //
                            6,  1, 1, 6, 1, 1, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(e.record, (CoordinatesRecord{4, 2, 10, 20}));
}

TEST(EncodeIcon, MaskedRowsWriteCopyBeforeSkipAndEndEachRowWithZero) {
  Bytes pic = BlackPicture();
  Fill(pic, 300, 10, 309, 10, {1, 2, 3});  // 300 black, then 10 to the box's right edge
  Put(pic, 0, 11, {9, 8, 7});              // a blue pixel, then black: 1 transition
  Put(pic, 5, 12, {4, 5, 6});              // black, pixel, black: 2 transitions
  // row 13 wholly black
  Put(pic, 1, 14, {0, 0, 200});
  Put(pic, 3, 14, {0, 100, 0});
  const Encoded e = Encode(3005, pic);
  Bytes want{24, 128, 0, 0, 0x0A, 0xFF, 0x2D};
  for (int i = 0; i < 10; ++i) want.insert(want.end(), {1, 2, 3});
  want.push_back(0);
  want.insert(want.end(), {1, 0, 9, 8, 7, 0});
  want.insert(want.end(), {1, 5, 4, 5, 6, 0});
  want.push_back(0);
  want.insert(want.end(), {1, 1, 0, 0, 200, 1, 1, 0, 100, 0, 0});
  EXPECT_EQ(e.entry, want);
  EXPECT_EQ(e.record, (CoordinatesRecord{310, 5, 0, 10}));
}

// Rows in a box of 11 pixels; every other row is all blue, so the box starts at column 0.
std::uint8_t KindOfRow(const std::vector<Rgb>& row) {
  Bytes pic = BlackPicture();
  Fill(pic, 0, 0, 10, 0, {50, 50, 50});
  for (std::size_t x = 0; x < row.size(); ++x) Put(pic, static_cast<int>(x), 1, row[x]);
  const CropBox box = FindCropBox(pic);
  EXPECT_EQ(box.left, 0);
  EXPECT_EQ(box.right, 10);
  return ChooseMaskKind(pic, box);
}

TEST(ChooseMaskKind, CountsTransitionsFromTheBlueByte) {
  const Rgb blue{9, 0, 0}, red{0, 0, 9}, green{0, 9, 0}, k{0, 0, 0};
  EXPECT_EQ(KindOfRow({blue, blue, k}), kUnmasked);             // 1
  EXPECT_EQ(KindOfRow({red, red, k}), kXMasked);                // starts black: 2
  EXPECT_EQ(KindOfRow({green, k}), kXMasked);                   // 2
  EXPECT_EQ(KindOfRow({k, blue, k}), kXMasked);                 // 2
  EXPECT_EQ(KindOfRow({k, blue, k, blue}), kXMasked);           // 4
  EXPECT_EQ(KindOfRow({blue, k, blue, k, blue, k}), kXMasked);  // 5
  EXPECT_EQ(KindOfRow({red, k, red, k, red, k}), kZeroMasked);  // 6
  EXPECT_EQ(KindOfRow({k, blue, k, blue, k, blue, k}), kZeroMasked);
  EXPECT_EQ(KindOfRow({k, blue, k, blue, k, blue, k, blue, k, blue, k}), kZeroMasked);
}

TEST(FindCropBoxAndMaskKind, MatchThePlainSearchesOnRandomPictures) {
  std::mt19937 rng(1234);
  for (int round = 0; round < 40; ++round) {
    const Bytes pic = RandomRaggedPicture(rng);
    const CropBox want = RefFindCropBox(pic);
    const CropBox got = FindCropBox(pic);
    ASSERT_EQ(got.top, want.top) << round;
    ASSERT_EQ(got.bottom, want.bottom) << round;
    ASSERT_EQ(got.left, want.left) << round;
    ASSERT_EQ(got.right, want.right) << round;
    // Searched only within a box around the ink (and exactly the ink's), it finds the same.
    const auto margin = [&rng] { return static_cast<int>(rng() % 3 == 0 ? 0 : rng() % 40); };
    const CropBox around{
        std::max(want.top - margin(), 0), std::min(want.bottom + margin(), kPictureHeight - 1),
        std::max(want.left - margin(), 0), std::min(want.right + margin(), kPictureWidth - 1)};
    const CropBox within = FindCropBox(pic, &around);
    EXPECT_EQ(within.top, want.top) << round;
    EXPECT_EQ(within.bottom, want.bottom) << round;
    EXPECT_EQ(within.left, want.left) << round;
    EXPECT_EQ(within.right, want.right) << round;
    ASSERT_EQ(ChooseMaskKind(pic, got), RefChooseMaskKind(pic, want)) << round;
  }
}

TEST(EncodeIcon, MatchesThePlainEncoderOnRandomPictures) {
  std::mt19937 rng(99);
  int kinds[3] = {0, 0, 0};
  for (int round = 0; round < 30; ++round) {
    Bytes pic = RandomRaggedPicture(rng);
    const Bytes want = RefEntry(pic);
    const Encoded e = Encode(3100 + round, pic);
    ASSERT_EQ(e.entry, want) << round;
    kinds[want[1] == 0 ? 0 : want[1] == 128 ? 1 : 2]++;
  }
  // The random pictures cover every kind.
  EXPECT_GT(kinds[0], 0);
  EXPECT_GT(kinds[1], 0);
  EXPECT_GT(kinds[2], 0);
}

TEST(EncodeIcon, RefusesAnOutputBufferTooShortForTheEntry) {
  Bytes pic = BlackPicture();
  Fill(pic, 0, 0, 9, 9, {1, 1, 1});
  Bytes table(kCoordinatesTableSize, 0);
  CoordinatesTable coordinates(table);
  CropBox box{1, 2, 3, 4};
  Bytes out(4 + 300 - 1, 0xEE);
  Bytes guarded(out.size() + 16, 0xEE);
  EXPECT_EQ(EncodeIcon(3000, pic, std::span(guarded).first(out.size()), coordinates, box), 0u);
  for (std::size_t i = out.size(); i < guarded.size(); ++i) ASSERT_EQ(guarded[i], 0xEE);
  EXPECT_EQ(coordinates.Get(3000), (CoordinatesRecord{}));
  EXPECT_EQ(box.top, 1);
  // Exactly long enough is enough.
  Bytes exact(4 + 300);
  EXPECT_EQ(EncodeIcon(3000, pic, exact, coordinates, box), exact.size());
}

// ---- Colour smoothing

Bytes Grey(Bytes pic, int x0, int y0, int x1, int y1, std::uint8_t v) {
  Fill(pic, x0, y0, x1, y1, {v, v, v});
  return pic;
}

TEST(SmoothColours, AveragesRoundDownAndReplaceThreePixelsDownAndRight) {
  Bytes pic = BlackPicture();
  Fill(pic, 0, 0, 9, 9, {100, 50, 20});
  // Blue sum over the averaging window 49 x 100 + 86 + 3 = 4989: 101.8 gives 101.
  Put(pic, 0, 0, {186, 50, 20});
  Put(pic, 1, 1, {103, 50, 20});  // inside the averaging window only: kept
  Put(pic, 9, 9, {96, 50, 20});   // 5 below 101: replaced
  Put(pic, 8, 9, {107, 50, 20});  // 6 above: kept
  Put(pic, 9, 8, {101, 55, 20});  // green 5 off: replaced
  Put(pic, 7, 9, {101, 50, 26});  // red 6 off: kept
  SmoothColours(pic);
  const Rgb avg{101, 50, 20};
  EXPECT_TRUE(At(pic, 0, 0) == (Rgb{186, 50, 20}));
  EXPECT_TRUE(At(pic, 1, 1) == (Rgb{103, 50, 20}));
  EXPECT_TRUE(At(pic, 2, 5) == (Rgb{100, 50, 20}));  // left of the replacement window
  EXPECT_TRUE(At(pic, 5, 2) == (Rgb{100, 50, 20}));  // above it
  EXPECT_TRUE(At(pic, 3, 3) == avg);
  EXPECT_TRUE(At(pic, 6, 6) == avg);
  EXPECT_TRUE(At(pic, 9, 9) == avg);
  EXPECT_TRUE(At(pic, 9, 8) == avg);
  EXPECT_TRUE(At(pic, 8, 9) == (Rgb{107, 50, 20}));
  EXPECT_TRUE(At(pic, 7, 9) == (Rgb{101, 50, 26}));
}

TEST(SmoothColours, DarkTileFillsAHoleAndNeverMakesBlack) {
  Bytes pic = Grey(BlackPicture(), 0, 0, 9, 9, 1);
  Put(pic, 8, 8, {0, 0, 0});  // a hole outside the averaging window
  Put(pic, 9, 3, {7, 7, 7});  // 5 above the raised average
  SmoothColours(pic);
  EXPECT_TRUE(At(pic, 8, 8) == (Rgb{2, 2, 2}));
  EXPECT_TRUE(At(pic, 4, 4) == (Rgb{2, 2, 2}));
  EXPECT_TRUE(At(pic, 9, 3) == (Rgb{2, 2, 2}));
  EXPECT_TRUE(At(pic, 1, 1) == (Rgb{1, 1, 1}));
}

TEST(SmoothColours, ABlackPixelInTheAveragingWindowKeepsTheTile) {
  Bytes pic = Grey(BlackPicture(), 0, 0, 9, 9, 100);
  Put(pic, 4, 4, {103, 100, 100});
  Put(pic, 6, 0, {0, 0, 0});
  const Bytes before = pic;
  SmoothColours(pic);
  EXPECT_EQ(pic, before);
}

TEST(SmoothColours, LaterTilesAverageWhatEarlierTilesReplaced) {
  // Columns 0-6 grey 100, columns 7-15 grey 104, rows 0-9; black around.
  Bytes pic = Grey(Grey(BlackPicture(), 0, 0, 6, 9, 100), 7, 0, 15, 9, 104);
  SmoothColours(pic);
  // The first tile pulls columns 7-9 of rows 3-9 down to 100; the second tile then averages
  // 12 pixels of 100 and 37 of 104: 5048 / 49 = 103.
  EXPECT_TRUE(At(pic, 8, 5) == (Rgb{100, 100, 100}));
  EXPECT_TRUE(At(pic, 12, 5) == (Rgb{103, 103, 103}));
  EXPECT_TRUE(At(pic, 15, 9) == (Rgb{103, 103, 103}));
  EXPECT_TRUE(At(pic, 12, 1) == (Rgb{104, 104, 104}));
  EXPECT_TRUE(At(pic, 8, 2) == (Rgb{104, 104, 104}));
  EXPECT_TRUE(At(pic, 16, 5) == (Rgb{0, 0, 0}));
}

TEST(SmoothColours, BottomRowsStayAndTheLastTilesStopAtTheRightEdge) {
  // An exactly sized picture: the sanitizer build sees any write past column 799.
  Bytes pic = Grey(BlackPicture(), 0, 0, kPictureWidth - 1, kPictureHeight - 1, 100);
  Put(pic, 10, 598, {103, 100, 100});  // only tiles at row 595 reach it, and they never act
  Put(pic, 10, 597, {103, 100, 100});
  Put(pic, 799, 300, {103, 100, 100});
  Put(pic, 799, 1, {103, 100, 100});  // above every replacement window
  SmoothColours(pic);
  EXPECT_TRUE(At(pic, 10, 598) == (Rgb{103, 100, 100}));
  EXPECT_TRUE(At(pic, 10, 597) == (Rgb{100, 100, 100}));
  EXPECT_TRUE(At(pic, 799, 300) == (Rgb{100, 100, 100}));
  EXPECT_TRUE(At(pic, 799, 1) == (Rgb{103, 100, 100}));
}

// The filter leaves `pic` as the plain filter does.
void ExpectPlainSmoothing(Bytes pic, int round) {
  Bytes want = pic;
  RefSmoothColours(want);
  SmoothColours(pic);
  ASSERT_EQ(pic, want) << round;
}

TEST(SmoothColours, MatchesThePlainFilterOnRandomPictures) {
  std::mt19937 rng(7);
  for (int round = 0; round < 6; ++round) {
    // Patches of near-uniform colour with noise and black holes, so that tiles act, keep
    // and chain into each other.
    Bytes pic = BlackPicture();
    for (int patch = 0; patch < 60; ++patch) {
      const int x0 = static_cast<int>(rng() % kPictureWidth),
                y0 = static_cast<int>(rng() % kPictureHeight);
      const int x1 = std::min(kPictureWidth - 1, x0 + static_cast<int>(rng() % 200));
      const int y1 = std::min(kPictureHeight - 1, y0 + static_cast<int>(rng() % 200));
      const int base[3] = {static_cast<int>(rng() % 256), static_cast<int>(rng() % 256),
                           static_cast<int>(rng() % 256)};
      const int noise = 1 + static_cast<int>(rng() % 14);
      for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
          std::uint8_t c[3];
          for (int k = 0; k < 3; ++k)
            c[k] = static_cast<std::uint8_t>(
                std::clamp(base[k] + static_cast<int>(rng() % noise) - noise / 2, 0, 255));
          if (rng() % 500 == 0) c[0] = c[1] = c[2] = 0;
          Put(pic, x, y, {c[0], c[1], c[2]});
        }
    }
    ExpectPlainSmoothing(pic, round);
  }
}

// Small sprites on black, some of them so dark that a tile's average paints the black just
// past it: only the tiles inside the sprites act, and what they paint can let a later tile
// act, as the plain filter sees it.
TEST(SmoothColours, SmallDarkSpritesMatchThePlainFilter) {
  std::mt19937 rng(11);
  for (int round = 0; round < 40; ++round) {
    Bytes pic = BlackPicture();
    for (int sprite = 0; sprite < 1 + round % 3; ++sprite) {
      const int x0 = static_cast<int>(rng() % (kPictureWidth - 8));
      const int y0 = static_cast<int>(rng() % (kPictureHeight - 8));
      const int x1 = std::min(kPictureWidth - 1, x0 + 6 + static_cast<int>(rng() % 25));
      const int y1 = std::min(kPictureHeight - 1, y0 + 6 + static_cast<int>(rng() % 25));
      const int base = rng() % 2 ? 1 + static_cast<int>(rng() % 4) : static_cast<int>(rng() % 256);
      for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
          const auto v =
              static_cast<std::uint8_t>(std::clamp(base + static_cast<int>(rng() % 3) - 1, 0, 255));
          Put(pic, x, y, rng() % 60 == 0 ? Rgb{0, 0, 0} : Rgb{v, v, v});
        }
    }
    ExpectPlainSmoothing(pic, round);
  }
}

// A crop box handed in (one a decoder found) gives the entry, record, box and smoothed
// picture that searching for it gives, for smoothed icons too, where a dark tile near the
// box's edge paints past it (the box is then searched for again).
TEST(EncodeIcon, AKnownCropBoxGivesWhatSearchingGives) {
  std::mt19937 rng(3);
  for (int round = 0; round < 24; ++round) {
    Bytes pic = round % 8 == 0 ? BlackPicture() : RandomRaggedPicture(rng);
    if (round % 3 == 1) {
      // A dark tile in the box's last columns: its average paints the black to its right.
      const CropBox box = FindCropBox(pic);
      if (box.top <= box.bottom && box.right >= 8) {
        const int tx = (box.right - 6) / 7 * 7, ty = (box.top + 6) / 7 * 7;
        if (ty + 6 < kPictureHeight && tx >= box.left) Fill(pic, tx, ty, tx + 6, ty + 6, {1, 1, 1});
      }
    } else if (round % 3 == 2) {
      // One in its last rows paints the black below it.
      const CropBox box = FindCropBox(pic);
      if (box.top <= box.bottom && box.bottom >= 8) {
        const int tx = (box.left + 6) / 7 * 7, ty = (box.bottom - 6) / 7 * 7;
        if (tx + 6 < kPictureWidth && ty >= box.top) Fill(pic, tx, ty, tx + 6, ty + 6, {1, 1, 1});
      }
    }
    for (const int icon : {3000, 4000}) {
      Bytes searched = pic, given = pic;
      const CropBox known = FindCropBox(pic);
      std::optional<CoordinatesRecord> record_searched, record_given;
      CropBox box_searched{}, box_given{};
      Bytes out_searched(kMaxPictureEntry), out_given(kMaxPictureEntry);
      const std::size_t a =
          EncodeIconEntry(icon, searched, out_searched, record_searched, box_searched);
      const std::size_t b =
          EncodeIconEntry(icon, given, out_given, record_given, box_given, &known);
      ASSERT_EQ(a, b) << round << " " << icon;
      ASSERT_TRUE(std::equal(out_searched.begin(), out_searched.begin() + a, out_given.begin()));
      ASSERT_EQ(searched, given) << round << " " << icon;
      ASSERT_EQ(record_searched.has_value(), record_given.has_value());
      if (record_searched) {
        EXPECT_TRUE(std::memcmp(&*record_searched, &*record_given, sizeof(CoordinatesRecord)) == 0);
      }
      EXPECT_EQ(box_searched.top, box_given.top);
      EXPECT_EQ(box_searched.bottom, box_given.bottom);
      EXPECT_EQ(box_searched.left, box_given.left);
      EXPECT_EQ(box_searched.right, box_given.right);
    }
  }
}

TEST(EncodeIcon, SmoothsExactlyTheSmoothingRanges) {
  Bytes base = Grey(BlackPicture(), 0, 0, 9, 9, 100);
  Put(base, 9, 9, {103, 100, 100});
  for (int icon : {3999, 4000, 4999, 5000, 5999, 6000, 8999, 10000, 11999, 12000}) {
    Bytes pic = base;
    const Encoded e = Encode(icon, pic);
    const Rgb want = IsSmoothed(icon) ? Rgb{100, 100, 100} : Rgb{103, 100, 100};
    EXPECT_TRUE(At(pic, 9, 9) == want) << icon;
    // The entry is made from the smoothed picture: the last pixel of the 10 x 10 box.
    ASSERT_EQ(e.entry.size(), 4u + 300u) << icon;
    EXPECT_EQ(e.entry[e.entry.size() - 3], want.b) << icon;
  }
}

// ---- Sound entries

Bytes Wav(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
Bytes Text(const char* s) { return Bytes(s, s + std::strlen(s)); }
Bytes Le32(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
          static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

TEST(EncodeIcon, SoundIsTheDataChunkWithoutHeaderOrRecord) {
  Bytes wav = Wav({Text("RIFF"),
                   Le32(36 + 5),
                   Text("WAVEfmt "),
                   Le32(16),
                   Bytes(16, 1),
                   Text("data"),
                   Le32(5),
                   {10, 20, 30, 40, 50},
                   {99, 99}});
  const Encoded e = Encode(9000, wav);
  EXPECT_EQ(e.entry, (Bytes{10, 20, 30, 40, 50}));
  EXPECT_EQ(e.record, (CoordinatesRecord{0xAAAA, 0xBBBB, 0xCCCC, 0xDDDD}));
  EXPECT_EQ(e.box.top, -7);
}

TEST(EncodeIcon, SoundTakesTheFirstMentionOfData) {
  // A text chunk naming "data" before the real chunk: the bytes after that mention count.
  Bytes wav = Wav({Text("RIFF"),
                   Le32(0),
                   Text("WAVELIST"),
                   Le32(12),
                   Text("data"),
                   Le32(3),
                   {7, 8, 9, 0},
                   Text("data"),
                   Le32(2),
                   {1, 2}});
  EXPECT_EQ(Encode(9999, wav).entry, (Bytes{7, 8, 9}));
}

TEST(EncodeIcon, SoundStopsAtTheLoadedBytes) {
  // Size field beyond the loaded bytes: what is there.
  Bytes cut = Wav({Text("RIFFxxxxWAVEdata"), Le32(1000), {1, 2, 3}});
  EXPECT_EQ(Encode(9001, cut).entry, (Bytes{1, 2, 3}));
  // No "data" at all, "data" at the very end, a size field cut short: empty entries.
  Bytes none = Text("RIFFxxxxWAVEfmt dat");
  EXPECT_TRUE(Encode(9002, none).entry.empty());
  Bytes at_end = Text("RIFFxxxxWAVEdata");
  EXPECT_TRUE(Encode(9003, at_end).entry.empty());
  Bytes short_size = Wav({Text("RIFFxxxxWAVEdata"), {5, 0, 0}});
  EXPECT_TRUE(Encode(9004, short_size).entry.empty());
  Bytes nothing;
  EXPECT_TRUE(Encode(9005, nothing).entry.empty());
  // A size of zero is an empty entry too.
  Bytes zero = Wav({Text("data"), Le32(0), {1, 2}});
  EXPECT_TRUE(Encode(9006, zero).entry.empty());
}

TEST(EncodeIcon, SoundNeverWritesPastTheOutputBuffer) {
  Bytes wav = Wav({Text("data"), Le32(6), {1, 2, 3, 4, 5, 6}});
  Bytes table(kCoordinatesTableSize, 0);
  CoordinatesTable coordinates(table);
  CropBox box;
  Bytes out(8, 0xEE);
  EXPECT_EQ(EncodeIcon(9000, wav, std::span(out).first(4), coordinates, box), 4u);
  EXPECT_EQ(out, (Bytes{1, 2, 3, 4, 0xEE, 0xEE, 0xEE, 0xEE}));
}

}  // namespace
}  // namespace zemlo
