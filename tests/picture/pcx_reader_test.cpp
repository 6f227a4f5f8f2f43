#include "picture/pcx_reader.h"

#include <gtest/gtest.h>

#include "support/picture_test_support.h"

namespace zemlo::testing {
namespace {

std::uint8_t Px(const Bytes& pic, int x, int y, int c) {
  return pic[std::size_t(y) * kRowBytes + 3 * x + c];
}

// Compares the picture with a PPM (red, green, blue) at the top left.
void ExpectPpmAt(const Bytes& pic, const Ppm& ppm) {
  int wrong = 0;
  for (int y = 0; y < ppm.height; ++y) {
    for (int x = 0; x < ppm.width; ++x) {
      const std::uint8_t* rgb = &ppm.rgb[(std::size_t(y) * ppm.width + x) * 3];
      if (Px(pic, x, y, 0) != rgb[2] || Px(pic, x, y, 1) != rgb[1] || Px(pic, x, y, 2) != rgb[0]) {
        if (++wrong < 5) ADD_FAILURE() << "pixel " << x << "," << y;
      }
    }
  }
  EXPECT_EQ(wrong, 0);
}

TEST(PcxReader, RefusesHeadersOfKindsItCannotReadAndLeavesThePicture) {
  const Bytes pattern = PatternPicture();
  for (const char* name :
       {"malformed/eight_bit_without_palette.pcx", "malformed/bad_manufacturer.pcx",
        "malformed/short_header.pcx", "malformed/empty.pcx"}) {
    Bytes pic = pattern;
    EXPECT_FALSE(DecodePcx(Fixture(std::string("pcx/") + name), pic)) << name;
    EXPECT_EQ(pic, pattern) << name;
  }
  // Four planes (colour and alpha) are refused as well.
  Bytes four = MakePcx(8, 2, [](int, int, int) { return 1; });
  four[65] = 4;
  Bytes pic = pattern;
  EXPECT_FALSE(DecodePcx(four, pic));
  EXPECT_EQ(pic, pattern);
  // A picture buffer smaller than 800 x 600 is refused rather than overrun.
  Bytes small(kPictureBytes - 1);
  EXPECT_FALSE(DecodePcx(MakePcx(8, 2, [](int, int, int) { return 1; }), small));
}

TEST(PcxReader, FilesOfRealWritersDecodeToTheirPixels) {
  for (const char* base : {"netpbm_173x101", "imagemagick_173x101", "pillow_173x101",
                           "netpbm_64x40_at_5_10", "netpbm_64x40_palette8"}) {
    SCOPED_TRACE(base);
    const Bytes file = Fixture(std::string("pcx/good/") + base + ".pcx");
    const auto ppm = ParsePpm(Fixture(std::string("pcx/good/") + base + ".ppm"));
    ASSERT_TRUE(ppm);
    const Bytes pattern = PatternPicture();
    Bytes pic = pattern;
    ASSERT_TRUE(DecodePcx(file, pic));
    // Ymin and Xmin are ignored: the file's first row and column land at 0, 0.
    ExpectPpmAt(pic, *ppm);
    const int bpl = file[66] | file[67] << 8;
    for (int y = 0; y < ppm->height; ++y) {
      // Pillow rounds bytes per line up to even: its zero filler shows as one black column.
      for (int x = ppm->width; x < bpl; ++x) {
        for (int c = 0; c < 3; ++c) ASSERT_EQ(Px(pic, x, y, c), 0) << x << "," << y;
      }
      for (int x = bpl; x < kPictureWidth; ++x) {
        for (int c = 0; c < 3; ++c) ASSERT_EQ(Px(pic, x, y, c), 0) << x << "," << y;
      }
    }
    // Rows below the picture keep what the working picture held.
    EXPECT_TRUE(std::equal(pic.begin() + std::size_t(ppm->height) * kRowBytes, pic.end(),
                           pattern.begin() + std::size_t(ppm->height) * kRowBytes));
  }
}

TEST(PcxReader, FullSizePictureLandsAsBlueGreenRed) {
  auto colour = [](int x, int y, int c) { return std::uint8_t((x * 3 + y * 5) ^ (c * 85)); };
  const Bytes file = MakePcx(800, 600, colour);
  Bytes pic = PatternPicture();
  ASSERT_TRUE(DecodePcx(file, pic));
  for (int y = 0; y < 600; y += 37) {
    for (int x = 0; x < 800; x += 13) {
      EXPECT_EQ(Px(pic, x, y, 0), colour(x, y, 2));
      EXPECT_EQ(Px(pic, x, y, 1), colour(x, y, 1));
      EXPECT_EQ(Px(pic, x, y, 2), colour(x, y, 0));
    }
  }
  Bytes plain = PatternPicture();
  ASSERT_EQ(PlainDecodePcx(file, plain), 1);
  EXPECT_EQ(pic, plain);
}

// Inclusive rows and columns of the pixels that are not black among the first `rows` rows.
CropBox PlainInkBox(const Bytes& pic, int rows) {
  CropBox box{kPictureHeight, 0, kPictureWidth, 0};
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < kPictureWidth; ++x) {
      if (Px(pic, x, y, 0) | Px(pic, x, y, 1) | Px(pic, x, y, 2)) {
        box.top = std::min(box.top, y);
        box.bottom = std::max(box.bottom, y);
        box.left = std::min(box.left, x);
        box.right = std::max(box.right, x);
      }
    }
  }
  return box;
}

bool SameBox(const CropBox& a, const CropBox& b) {
  return a.top == b.top && a.bottom == b.bottom && a.left == b.left && a.right == b.right;
}

// The crop box found while decoding is the one of the decoded rows: sprites anywhere (the
// first and last columns and rows too), pixels of one colour byte, widths that the picture
// clips or fills with black, fewer rows than the picture, no ink at all.
TEST(PcxReader, TheInkBoxIsTheCropBoxOfTheDecodedRows) {
  std::mt19937 rng(123);
  const int widths[] = {800, 800, 801, 1000, 640, 17, 1};
  for (int round = 0; round < 28; ++round) {
    const int bpl = widths[round % std::size(widths)];
    const int rows = round % 4 == 3 ? 1 + int(rng() % 600) : 600;
    const int sprites = round % 9 == 0 ? 0 : 1 + int(rng() % 3);
    std::vector<std::array<int, 5>> boxes;  // x0, y0, x1, y1, colour byte (3: all)
    for (int k = 0; k < sprites; ++k) {
      const int x0 = rng() % 5 == 0 ? 0 : int(rng() % bpl);
      const int x1 = rng() % 5 == 0 ? bpl - 1 : std::min(bpl - 1, x0 + int(rng() % 40));
      const int y0 = rng() % 5 == 0 ? 0 : int(rng() % rows);
      const int y1 = rng() % 5 == 0 ? rows - 1 : std::min(rows - 1, y0 + int(rng() % 40));
      boxes.push_back({x0, y0, x1, y1, int(rng() % 4)});
    }
    auto colour = [&boxes](int x, int y, int c) {
      for (const auto& b : boxes) {
        if (x >= b[0] && x <= b[2] && y >= b[1] && y <= b[3] && (b[4] == 3 || b[4] == c))
          return std::uint8_t(1 + (x + y + c) % 250);
      }
      return std::uint8_t(0);
    };
    const Bytes file = MakePcx(bpl, rows, colour);
    Bytes pic = PatternPicture();
    std::optional<CropBox> ink;
    ASSERT_TRUE(DecodePcx(file, pic, &ink)) << round;
    ASSERT_TRUE(ink.has_value()) << round;
    const CropBox want = PlainInkBox(pic, rows);
    EXPECT_TRUE(SameBox(*ink, want))
        << round << ": " << ink->top << " " << ink->bottom << " " << ink->left << " " << ink->right
        << " against " << want.top << " " << want.bottom << " " << want.left << " " << want.right;
  }
  // An indexed file gives no box; a refused file leaves none behind.
  std::optional<CropBox> ink = CropBox{};
  Bytes pic = PatternPicture();
  ASSERT_TRUE(DecodePcx(Fixture("pcx/good/imagemagick_palette8.pcx"), pic, &ink));
  EXPECT_FALSE(ink.has_value());
  ink = CropBox{};
  EXPECT_FALSE(DecodePcx(Bytes(100, 0), pic, &ink));
  EXPECT_FALSE(ink.has_value());
}

TEST(PcxReader, RowCountComesFromYminAndYmax) {
  auto colour = [](int x, int y, int c) { return std::uint8_t(10 + y); };
  const Bytes pattern = PatternPicture();
  // Ymin 10, Ymax 19: ten rows into picture rows 0 to 9.
  Bytes pic = pattern;
  ASSERT_TRUE(DecodePcx(MakePcx(800, 10, colour, 10), pic));
  EXPECT_EQ(Px(pic, 5, 0, 0), 10);
  EXPECT_EQ(Px(pic, 5, 9, 0), 19);
  EXPECT_TRUE(
      std::equal(pic.begin() + 10 * kRowBytes, pic.end(), pattern.begin() + 10 * kRowBytes));
  // Ymax below Ymin decodes nothing and is still accepted.
  Bytes header_only = PcxHeader(800, 20, 19);
  pic = pattern;
  EXPECT_TRUE(DecodePcx(header_only, pic));
  EXPECT_EQ(pic, pattern);
  header_only = PcxHeader(800, 500, 3);
  EXPECT_TRUE(DecodePcx(header_only, pic));
  EXPECT_EQ(pic, pattern);
}

TEST(PcxReader, RunCodesAtTheEdgesOfAScanline) {
  // bpl 4: scanlines of 12 bytes.
  Bytes file = PcxHeader(4, 0, 1);
  // Row 0: a count-0 run (nothing), then a literal 191, a run of one 200, then a run of 63
  // starting 9 bytes before the end: its excess is dropped.
  for (std::uint8_t b : {0xC0, 0x55, 0xBF, 0xC1, 0xC8, 0xFF, 0x07}) file.push_back(b);
  // Row 1 starts with the next byte: twelve literal values.
  for (int i = 0; i < 12; ++i) file.push_back(std::uint8_t(i + 1));
  Bytes pic = PatternPicture();
  ASSERT_TRUE(DecodePcx(file, pic));
  // Row 0: red = 191, 200, 7, 7; green and blue all 7.
  EXPECT_EQ(Px(pic, 0, 0, 2), 191);
  EXPECT_EQ(Px(pic, 1, 0, 2), 200);
  EXPECT_EQ(Px(pic, 2, 0, 2), 7);
  for (int x = 0; x < 4; ++x) EXPECT_EQ(Px(pic, x, 0, 0), 7);
  for (int x = 0; x < 4; ++x) {
    EXPECT_EQ(Px(pic, x, 1, 2), x + 1);
    EXPECT_EQ(Px(pic, x, 1, 1), x + 5);
    EXPECT_EQ(Px(pic, x, 1, 0), x + 9);
  }
  for (int c = 0; c < 3; ++c) EXPECT_EQ(Px(pic, 4, 1, c), 0);  // right of bpl: black
  Bytes plain = PatternPicture();
  ASSERT_EQ(PlainDecodePcx(file, plain), 1);
  EXPECT_EQ(pic, plain);
}

TEST(PcxReader, EmptyScanlinesStillTakeOneCode) {
  // Bytes per line 0: every row reads one code and becomes black.
  Bytes file = PcxHeader(0, 0, 2);
  for (std::uint8_t b : {0x05, 0xC3, 0x09, 0x44}) file.push_back(b);
  Bytes pic = PatternPicture();
  ASSERT_TRUE(DecodePcx(file, pic));
  EXPECT_TRUE(std::all_of(pic.begin(), pic.begin() + 3 * kRowBytes, [](auto b) { return b == 0; }));
  // One code short of the third row.
  file.pop_back();
  pic = PatternPicture();
  EXPECT_FALSE(DecodePcx(file, pic));
}

TEST(PcxReader, LargerPicturesAreClippedToTheWorkingPicture) {
  auto colour = [](int x, int y, int c) { return std::uint8_t(x * 7 + y * 3 + c); };
  // 1000 pixels wide: columns 800 on are dropped, the next row still starts in place.
  {
    const Bytes file = MakePcx(1000, 4, colour);
    Bytes pic = PatternPicture();
    ASSERT_TRUE(DecodePcx(file, pic));
    for (int y = 0; y < 4; ++y) {
      for (int x : {0, 1, 400, 799}) EXPECT_EQ(Px(pic, x, y, 2), colour(x, y, 0)) << x << "," << y;
    }
    Bytes plain = PatternPicture();
    ASSERT_EQ(PlainDecodePcx(file, plain), 1);
    EXPECT_EQ(pic, plain);
  }
  // 700 rows: rows past 599 are not read, so data that end after row 599 are enough.
  {
    Bytes file = MakePcx(800, 600, colour);
    file[10] = std::uint8_t(699 & 0xFF);
    file[11] = std::uint8_t(699 >> 8);
    Bytes pic = PatternPicture();
    ASSERT_TRUE(DecodePcx(file, pic));
    EXPECT_EQ(Px(pic, 3, 599, 0), colour(3, 599, 2));
  }
  // The largest header values with a few bytes of data: refused, nothing written.
  {
    Bytes file = PcxHeader(0xFFFF, 0, 0xFFFF);
    for (int i = 0; i < 64; ++i) file.push_back(0xFF), file.push_back(0x11);
    const Bytes pattern = PatternPicture();
    Bytes pic = pattern;
    EXPECT_FALSE(DecodePcx(file, pic));
    EXPECT_EQ(pic, pattern);
  }
}

TEST(PcxReader, DataEndingBeforeTheLastRowAreRefusedUntouched) {
  const Bytes pattern = PatternPicture();
  for (const char* name : {"malformed/truncated_body.pcx", "malformed/missing_last_value.pcx",
                           "malformed/header_only.pcx"}) {
    Bytes pic = pattern;
    EXPECT_FALSE(DecodePcx(Fixture(std::string("pcx/") + name), pic)) << name;
    EXPECT_EQ(pic, pattern) << name;
  }
  // Every cut of a small file: accepted exactly when the cut keeps all rows, never touched
  // otherwise. Each cut is copied to a buffer of its own size so a read past it is caught.
  std::mt19937 rng(7);
  auto colour = [&rng](int, int, int) { return std::uint8_t(rng() % 4 * 70); };
  const Bytes file = MakePcx(40, 6, colour);
  for (std::size_t cut = 0; cut < file.size(); ++cut) {
    const Bytes part(file.begin(), file.begin() + cut);
    Bytes pic = pattern;
    ASSERT_FALSE(DecodePcx(part, pic)) << cut;
    ASSERT_EQ(pic, pattern) << cut;
  }
}

// Complete scanlines of codes in three mixtures: busy pictures (literals, runs of one for
// bytes of 192 and above, now and then a short run, a run of count 0 or a long one), run-heavy
// ones (counts near 63, whose last run passes the scanline end), and stretches of codes whose
// values lie at 192 and above themselves, so that code and value bytes look alike.
Bytes RandomScanlines(std::mt19937& rng, int bpl, int rows, int style) {
  Bytes file = PcxHeader(bpl, 7, 7 + rows - 1);
  auto high = [&rng] { return std::uint8_t(192 + rng() % 64); };
  auto literal = [&rng] { return std::uint8_t(rng() % 192); };
  for (int r = 0; r < rows; ++r) {
    std::size_t produced = 0;
    do {
      const int pick = int(rng() % 100);
      int count = 1;
      if (style == 0) {
        if (pick < 70) {
          file.push_back(literal());
        } else if (pick < 90) {
          file.insert(file.end(), {0xC1, high()});
        } else {
          count = pick < 95 ? 2 + int(rng() % 3) : pick < 97 ? 0 : 62 + int(rng() % 2);
          file.insert(file.end(), {std::uint8_t(0xC0 | count), std::uint8_t(rng())});
        }
      } else if (style == 1) {
        if (pick < 30) {
          file.push_back(literal());
        } else {
          count = pick < 40 ? 0 : pick < 80 ? 61 + int(rng() % 3) : int(rng() % 64);
          file.insert(file.end(), {std::uint8_t(0xC0 | count), std::uint8_t(rng())});
        }
      } else {
        if (pick < 25) {
          file.push_back(literal());
        } else {
          count = int(rng() % 4);
          file.insert(file.end(), {std::uint8_t(0xC0 | count), pick < 85 ? high() : literal()});
        }
      }
      produced += std::size_t(count);
    } while (produced < 3 * std::size_t(bpl));
  }
  return file;
}

// Where the codes of the rows that land in the picture end, walked as the plain decoder
// walks them; 0 when the data end first.
std::size_t NeededBytes(const Bytes& file) {
  const std::size_t line = 3 * std::size_t(file[66] | file[67] << 8);
  const int rows = std::clamp((file[10] | file[11] << 8) - (file[6] | file[7] << 8) + 1, 0, 600);
  std::size_t pos = 128;
  for (int r = 0; r < rows; ++r) {
    std::size_t produced = 0;
    do {
      if (pos >= file.size()) return 0;
      const std::uint8_t b = file[pos++];
      if (b >= 192) {
        if (pos >= file.size()) return 0;
        ++pos;
        produced += b & 63;
      } else {
        ++produced;
      }
    } while (produced < line);
  }
  return pos;
}

// The file decodes as the plain decoder decodes it; then cut at random places and at each of
// its last bytes, it is refused with the picture untouched exactly when a cut loses a code of
// a row in the picture.
void ExpectPlainDecodingAndCuts(const Bytes& file, std::mt19937& rng) {
  const Bytes pattern = PatternPicture();
  Bytes fast(kPictureBytes), plain = pattern, whole = pattern;
  ASSERT_EQ(PlainDecodePcx(file, plain), 1);
  ASSERT_TRUE(DecodePcx(file, whole));
  ASSERT_TRUE(whole == plain);

  const std::size_t needed = NeededBytes(file);
  ASSERT_GT(needed, 128u);
  std::vector<std::size_t> cuts;
  for (int k = 0; k < 8; ++k) cuts.push_back(128 + rng() % (file.size() - 128));
  for (std::size_t k = 1; k <= 40 && k < needed; ++k) cuts.push_back(needed - k);
  cuts.push_back(needed);
  for (const std::size_t cut : cuts) {
    const Bytes part(file.begin(), file.begin() + cut);
    fast = pattern;
    const int result = DecodePcx(part, fast).ok() ? 1 : 0;
    ASSERT_EQ(result, cut >= needed ? 1 : 0) << "cut " << cut;
    ASSERT_TRUE(fast == (result ? whole : pattern)) << "cut " << cut;
  }
}

// Long scanlines go through the decoder's fast paths.
TEST(PcxReader, MatchesThePlainDecoderOnLongScanlinesAndCuts) {
  std::mt19937 rng(4321);
  const int widths[] = {1, 2, 3, 7, 21, 22, 63, 64, 65, 399, 400, 799, 800, 801, 1000, 1366};
  for (int round = 0; round < 72; ++round) {
    const int bpl = round < 48 ? widths[round % std::size(widths)] : 1 + int(rng() % 1400);
    // A few files reach past the picture's last row.
    const int rows = round % 24 == 5 ? 601 + int(rng() % 10) : 1 + int(rng() % 10);
    const Bytes file = RandomScanlines(rng, bpl, rows, round % 3);
    SCOPED_TRACE(::testing::Message() << "round " << round << " bpl " << bpl << " rows " << rows);
    ExpectPlainDecodingAndCuts(file, rng);
  }
}

// Black backgrounds as writers give them: many full runs of one value in a row, across the
// planes of a scanline or not, the last of them ending before, at or past the scanline's end
// (its excess dropped), pairs of scanlines where one has such runs and the other has none.
TEST(PcxReader, LongStretchesOfFullRunsMatchThePlainDecoder) {
  std::mt19937 rng(77);
  for (int round = 0; round < 60; ++round) {
    const int bpl = round < 20 ? 800 : 168 + int(rng() % 1000);
    const int rows = 2 + int(rng() % 7);
    const std::size_t line = 3 * std::size_t(bpl);
    Bytes file = PcxHeader(bpl, 0, rows - 1);
    for (int r = 0; r < rows; ++r) {
      std::size_t produced = 0;
      while (produced < line) {
        const std::size_t full_runs = rng() % 4 == 0 ? 0 : rng() % 40;
        const std::uint8_t value = rng() % 3 == 0 ? std::uint8_t(rng()) : 0;
        for (std::size_t k = 0; k < full_runs && produced < line; ++k, produced += 63) {
          file.insert(file.end(), {0xFF, value});
        }
        // Then a short run or a literal that breaks the stretch.
        if (produced < line) {
          const int count = 1 + int(rng() % 62);
          file.insert(file.end(), {std::uint8_t(0xC0 | count), std::uint8_t(rng())});
          produced += std::size_t(count);
        }
        if (produced < line && rng() % 2 == 0) {
          file.push_back(std::uint8_t(rng() % 192));
          ++produced;
        }
      }
    }
    SCOPED_TRACE(::testing::Message() << "round " << round << " bpl " << bpl);
    ExpectPlainDecodingAndCuts(file, rng);
  }
}

// Scanlines of runs of 0 alone are black and skipped; every near miss is decoded: a literal
// 0, a run of another value, a run of 0 followed by a literal, runs whose excess passes the
// scanline's end, runs of length 0. Black and other scanlines meet in every order, so pairs of
// one of each are decoded too; the crop box is still that of the picture.
TEST(PcxReader, BlackScanlinesAndTheirNearMissesMatchThePlainDecoder) {
  std::mt19937 rng(4242);
  for (int round = 0; round < 40; ++round) {
    const int bpl = round % 2 == 0 ? 800 : 1 + int(rng() % 900);
    const int rows = 1 + int(rng() % 12);
    const std::size_t line = 3 * std::size_t(bpl);
    Bytes file = PcxHeader(bpl, 0, rows - 1);
    for (int r = 0; r < rows; ++r) {
      const int kind =
          int(rng() % 5);  // 0, 1: black; 2: a literal 0; 3: another value; 4: a literal
      std::size_t produced = 0;
      bool odd_done = false;
      while (produced < line) {
        const int count = rng() % 8 == 0 ? 0 : 1 + int(rng() % 63);
        if (!odd_done && kind >= 2 && rng() % 4 == 0) {
          odd_done = true;
          if (kind == 2) file.push_back(0);
          if (kind == 3)
            file.insert(file.end(), {std::uint8_t(0xC0 | 5), std::uint8_t(1 + rng() % 250)});
          if (kind == 4) file.push_back(std::uint8_t(1 + rng() % 191));
          produced += kind == 3 ? 5 : 1;
          continue;
        }
        file.insert(file.end(), {std::uint8_t(0xC0 | count), 0});
        produced += std::size_t(count);
      }
    }
    SCOPED_TRACE(::testing::Message() << "round " << round << " bpl " << bpl);
    ExpectPlainDecodingAndCuts(file, rng);
    Bytes pic = PatternPicture();
    std::optional<CropBox> ink;
    ASSERT_TRUE(DecodePcx(file, pic, &ink));
    EXPECT_TRUE(SameBox(*ink, PlainInkBox(pic, rows)));
  }
}

// Rows the caller knows to be black are not cleared again: where that holds, the picture is
// the plain decoder's, whichever rows were said to hold ink, for sprites and black scanlines
// inside, outside and across the rows said; and a black scanline outside them is left as it
// was, while one with ink is decoded wherever it lies.
TEST(PcxReader, RowsKnownToBeBlackAreLeftAsTheyWere) {
  auto sprite = [](int x, int y, int c) {
    const bool inside = (y >= 200 && y < 260 && x >= 300 && x < 420) || (y == 599 && x < 5);
    return std::uint8_t(inside ? 1 + (x * 7 + y * 3 + c) % 200 : 0);
  };
  const Bytes file = MakePcx(800, 600, sprite);
  Bytes plain = PatternPicture();
  ASSERT_EQ(PlainDecodePcx(file, plain), 1);
  const Bytes pattern = PatternPicture();
  const PictureRows said[] = {{0, 600}, {150, 300}, {0, 0}, {230, 240}, {250, 600}, {0, 1}};
  for (const PictureRows inked : said) {
    SCOPED_TRACE(::testing::Message() << "rows " << inked.first << " to " << inked.end);
    // As promised: ink (here a pattern) only within the rows said.
    Bytes pic(kPictureBytes, 0);
    std::copy(pattern.begin() + std::ptrdiff_t(inked.first) * kRowBytes,
              pattern.begin() + std::ptrdiff_t(inked.end) * kRowBytes,
              pic.begin() + std::ptrdiff_t(inked.first) * kRowBytes);
    std::optional<CropBox> ink;
    ASSERT_TRUE(DecodePcx(file, pic, &ink, inked));
    EXPECT_EQ(pic, plain);
    EXPECT_TRUE(SameBox(*ink, PlainInkBox(plain, 600)));
    // Promise broken on purpose: the rows outside that the file has black keep what they held.
    pic = pattern;
    ASSERT_TRUE(DecodePcx(file, pic, nullptr, inked));
    for (int y = 0; y < kPictureHeight; ++y) {
      const bool file_black = !(y >= 200 && y < 260) && y != 599;
      const bool kept = file_black && (y < inked.first || y >= inked.end);
      const auto at = std::ptrdiff_t(y) * kRowBytes;
      const Bytes& want = kept ? pattern : plain;
      ASSERT_TRUE(std::equal(pic.begin() + at, pic.begin() + at + kRowBytes, want.begin() + at))
          << "row " << y;
    }
  }
}

TEST(PcxReader, MatchesThePlainDecoderOnRandomCodeStreams) {
  std::mt19937 rng(1234);
  for (int round = 0; round < 300; ++round) {
    const int bpl = std::uniform_int_distribution<int>(0, 900)(rng);
    const int rows = std::uniform_int_distribution<int>(-2, 8)(rng);
    Bytes file = PcxHeader(bpl, 3, 3 + rows - 1);
    const std::size_t body = std::uniform_int_distribution<std::size_t>(0, 3 * 900 * 8 / 5)(rng);
    const int run_share = std::uniform_int_distribution<int>(0, 100)(rng);
    for (std::size_t i = 0; i < body; ++i) {
      const bool run = int(rng() % 100) < run_share;
      file.push_back(run ? std::uint8_t(0xC0 | rng() % 64) : std::uint8_t(rng() % 192));
      if (run) file.push_back(std::uint8_t(rng()));
    }
    Bytes fast = PatternPicture(), plain = PatternPicture();
    const int a = DecodePcx(file, fast).ok() ? 1 : 0;
    const int b = PlainDecodePcx(file, plain);
    ASSERT_EQ(a, b) << round;
    ASSERT_EQ(fast, plain) << round;
  }
}

}  // namespace
}  // namespace zemlo::testing
