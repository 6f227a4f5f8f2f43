// Indexed PCX files (1, 4 and 8 bits a pixel) against the 24-bit files that the same writers
// make of the same pixels, and the reasons given for the kinds and files that are refused.
#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "picture/pcx_reader.h"
#include "support/picture_test_support.h"

namespace zemlo::testing {
namespace {

namespace fs = std::filesystem;

int Field(const Bytes& file, int offset) { return file[offset] | file[offset + 1] << 8; }
std::uint8_t ByteAt(const Bytes& pic, int x, int y, int c) {
  return pic[std::size_t(y) * kRowBytes + 3 * x + c];
}

// Why DecodePcx refuses `file`; empty when it takes it.
std::string_view PcxRefusal(const Bytes& file) {
  Bytes scratch(kPictureBytes);
  const auto decoded = DecodePcx(file, scratch);
  return decoded ? std::string_view{} : decoded.error().text;
}

// Where two pictures first differ, for the failure message.
std::string FirstDifference(const Bytes& a, const Bytes& b) {
  const auto at = std::mismatch(a.begin(), a.end(), b.begin()).first - a.begin();
  if (at == std::ssize(a)) return "none";
  return std::to_string(at % kRowBytes / 3) + "," + std::to_string(at / kRowBytes);
}

// The indexed fixtures that have a 24-bit twin: NAME.pcx beside NAME.truecolor.pcx.
std::vector<std::string> TwinnedFixtures() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(DataDir() / "pcx/good")) {
    const std::string name = entry.path().filename().string();
    const std::string suffix = ".truecolor.pcx";
    if (name.size() > suffix.size() && name.ends_with(suffix)) {
      names.push_back(name.substr(0, name.size() - suffix.size()));
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The whole picture, started from the same fill (not black, so that kept rows and black
// columns both show), is what the twin gives: the same pixels, the padding and filler
// columns black, the rows below the file's kept.
TEST(PcxIndexed, RealWritersFilesDecodeAsTheirTwentyFourBitTwins) {
  std::set<std::pair<int, int>> kinds;  // planes, bits
  const auto names = TwinnedFixtures();
  for (const auto& name : names) {
    SCOPED_TRACE(name);
    const Bytes indexed = Fixture("pcx/good/" + name + ".pcx");
    const Bytes twin = Fixture("pcx/good/" + name + ".truecolor.pcx");
    ASSERT_EQ(twin[65], 3);
    ASSERT_NE(indexed[65], 3);
    kinds.emplace(indexed[65], indexed[3]);
    Bytes expected = PatternPicture();
    ASSERT_TRUE(DecodePcx(twin, expected));
    Bytes pic = PatternPicture();
    ASSERT_TRUE(DecodePcx(indexed, pic));
    EXPECT_TRUE(pic == expected) << "first at " << FirstDifference(pic, expected);
    EXPECT_EQ(PcxRefusal(indexed), "");
    const int rows = Field(indexed, 10) - Field(indexed, 6) + 1;
    EXPECT_EQ(PcxPictureRows(indexed), rows);
    EXPECT_EQ(PcxPictureRows(twin), rows);
    // The step-by-step reader agrees.
    Bytes plain = PatternPicture();
    ASSERT_EQ(PlainDecodePcx(indexed, plain), 1);
    EXPECT_TRUE(plain == pic);
  }
  EXPECT_GE(names.size(), 12u);
  // One plane of 1, 4 and 8 bits and four planes of 1 bit are all there.
  EXPECT_EQ(kinds, (std::set<std::pair<int, int>>{{1, 1}, {1, 4}, {1, 8}, {4, 1}}));
}

// ImageMagick 6 stores 1 for black under a header palette that says 1 is white; netpbm reads
// such a file as the header says, and so does the reader: the twin-free files are compared
// with netpbm's reading.
TEST(PcxIndexed, FilesWithoutTwinsDecodeAsNetpbmReadsThem) {
  for (const char* name : {"imagemagick_mono", "netpbm_64x40_palette8"}) {
    SCOPED_TRACE(name);
    const Bytes file = Fixture(std::string("pcx/good/") + name + ".pcx");
    const auto ppm = ParsePpm(Fixture(std::string("pcx/good/") + name + ".ppm"));
    ASSERT_TRUE(ppm);
    const Bytes pattern = PatternPicture();
    Bytes pic = pattern;
    ASSERT_TRUE(DecodePcx(file, pic));
    int wrong = 0;
    for (int y = 0; y < ppm->height; ++y) {
      for (int x = 0; x < kPictureWidth; ++x) {
        const std::uint8_t* rgb = &ppm->rgb[(std::size_t(y) * ppm->width + x) * 3];
        for (int c = 0; c < 3; ++c) {
          const std::uint8_t want = x < ppm->width ? rgb[2 - c] : 0;
          if (ByteAt(pic, x, y, c) != want && ++wrong < 5) ADD_FAILURE() << x << "," << y;
        }
      }
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_TRUE(std::equal(pic.begin() + std::size_t(ppm->height) * kRowBytes, pic.end(),
                           pattern.begin() + std::size_t(ppm->height) * kRowBytes));
  }
}

TEST(PcxIndexed, RefusalsSayWhyAndLeaveThePicture) {
  const std::string other = "; this version reads 1-, 4-, 8- and 24-bit PCX";
  const std::string short_data = "the picture data end before its last row";
  const std::pair<const char*, std::string> cases[] = {
      {"two_bit_packed.pcx", "2-bit PCX (4 colours)" + other},
      {"two_planes_of_one_bit.pcx", "PCX of two 1-bit planes (4 colours)" + other},
      {"three_planes_of_one_bit.pcx", "PCX of three 1-bit planes (8 colours)" + other},
      {"four_planes_of_eight_bits.pcx", "32-bit PCX (four 8-bit planes)" + other},
      {"eight_bit_without_palette.pcx", "8-bit PCX without its 256-colour palette at the end"},
      {"eight_bit_palette_cut.pcx", "8-bit PCX without its 256-colour palette at the end"},
      {"eight_bit_palette_mark_wrong.pcx", "8-bit PCX without its 256-colour palette at the end"},
      {"eight_bit_truncated_body.pcx", short_data},
      {"planar4_truncated_body.pcx", short_data},
      {"mono_missing_last_value.pcx", short_data},
      {"truncated_body.pcx", short_data},
      {"missing_last_value.pcx", short_data},
      {"header_only.pcx", short_data},
      {"bad_manufacturer.pcx", "not a PCX file"},
      {"short_header.pcx", "shorter than a PCX header"},
      {"empty.pcx", "shorter than a PCX header"},
  };
  const Bytes pattern = PatternPicture();
  for (const auto& [name, reason] : cases) {
    SCOPED_TRACE(name);
    const Bytes file = Fixture(std::string("pcx/malformed/") + name);
    Bytes pic = pattern;
    EXPECT_FALSE(DecodePcx(file, pic));
    EXPECT_TRUE(pic == pattern);
    EXPECT_EQ(PcxRefusal(file), reason);
    if (reason != short_data) {
      EXPECT_EQ(PcxPictureRows(file), 0);
    }
  }
  // Every malformed fixture is in the table.
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(DataDir() / "pcx/malformed")) {
    ++files;
  }
  EXPECT_EQ(files, std::size(cases));
  // Odd plane and bit counts of no known kind.
  for (const auto& [planes, bits] : {std::pair{2, 8}, {4, 4}, {0, 8}, {1, 3}, {-1, 8}}) {
    Bytes file = PcxHeader(4, 0, 0, planes);
    file[3] = std::uint8_t(bits);
    file.insert(file.end(), 16, 0x01);
    EXPECT_EQ(PcxRefusal(file),
              "PCX with a number of planes or bits per pixel that no known kind has" + other)
        << planes << " " << bits;
    Bytes pic = pattern;
    EXPECT_FALSE(DecodePcx(file, pic));
    EXPECT_TRUE(pic == pattern);
  }
}

// An indexed header: `bits` per pixel in `planes` planes, Xmin..Xmax and `rows` rows from
// Ymin 0, with the header palette entry i = (16 i + 1, 200 - 8 i, 3 i + 40).
Bytes IndexedHeader(int bits, int planes, int x_min, int x_max, int bpl, int rows) {
  Bytes h = PcxHeader(bpl, 0, rows - 1, planes);
  h[3] = std::uint8_t(bits);
  h[4] = std::uint8_t(x_min), h[5] = std::uint8_t(x_min >> 8);
  h[8] = std::uint8_t(x_max), h[9] = std::uint8_t(x_max >> 8);
  for (int i = 0; i < 16; ++i) {
    h[16 + 3 * i] = std::uint8_t(16 * i + 1);
    h[17 + 3 * i] = std::uint8_t(200 - 8 * i);
    h[18 + 3 * i] = std::uint8_t(3 * i + 40);
  }
  return h;
}

void AppendScanline(Bytes& file, const Bytes& bytes) {
  const Bytes enc = PlainEncodePlane(bytes);
  file.insert(file.end(), enc.begin(), enc.end());
}

void ExpectColour(const Bytes& pic, int x, int y, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  EXPECT_EQ(ByteAt(pic, x, y, 2), r) << x << "," << y;
  EXPECT_EQ(ByteAt(pic, x, y, 1), g) << x << "," << y;
  EXPECT_EQ(ByteAt(pic, x, y, 0), b) << x << "," << y;
}

TEST(PcxIndexed, WidthIsXmaxLessXminPlusOneWithinTheScanline) {
  const Bytes pattern = PatternPicture();
  // 1 bit, Xmin 3, Xmax 12: ten pixels of a 32-bit scanline whose padding bits are all set.
  {
    Bytes file = IndexedHeader(1, 1, 3, 12, 4, 1);
    AppendScanline(file, {0xAA, 0xBF, 0xFF, 0xFF});  // 1010 1010 10|11 1111 ...
    Bytes pic = pattern;
    ASSERT_TRUE(DecodePcx(file, pic));
    for (int x = 0; x < 10; ++x) {
      if (x % 2 == 0) {
        ExpectColour(pic, x, 0, 17, 192, 43);  // entry 1
      } else {
        ExpectColour(pic, x, 0, 1, 200, 40);  // entry 0
      }
    }
    for (int x = 10; x < kPictureWidth; ++x) ExpectColour(pic, x, 0, 0, 0, 0);
    EXPECT_TRUE(std::equal(pic.begin() + kRowBytes, pic.end(), pattern.begin() + kRowBytes));
  }
  // The first two header colours the same (zero, or any other): black and white.
  for (const std::uint8_t same : {0, 77}) {
    Bytes file = IndexedHeader(1, 1, 0, 7, 2, 1);
    std::fill(file.begin() + 16, file.begin() + 22, same);
    AppendScanline(file, {0x0F, 0xFF});
    Bytes pic = pattern;
    ASSERT_TRUE(DecodePcx(file, pic));
    ExpectColour(pic, 0, 0, 0, 0, 0);
    ExpectColour(pic, 7, 0, 255, 255, 255);
    ExpectColour(pic, 8, 0, 0, 0, 0);
  }
  // Xmax past what bytes per line holds: the scanline's 8 pixels, then black.
  {
    Bytes file = IndexedHeader(4, 1, 0, 500, 4, 1);
    AppendScanline(file, {0x12, 0x34, 0x56, 0x78});
    Bytes pic = pattern;
    ASSERT_TRUE(DecodePcx(file, pic));
    for (int x = 0; x < 8; ++x) {
      const int i = x + 1;
      ExpectColour(pic, x, 0, std::uint8_t(16 * i + 1), std::uint8_t(200 - 8 * i),
                   std::uint8_t(3 * i + 40));
    }
    for (int x = 8; x < kPictureWidth; ++x) ExpectColour(pic, x, 0, 0, 0, 0);
  }
  // Xmax below Xmin: no columns, the rows read and black.
  {
    Bytes file = IndexedHeader(1, 4, 9, 2, 1, 2);
    for (int k = 0; k < 8; ++k) AppendScanline(file, {0xFF});
    Bytes pic = pattern;
    ASSERT_TRUE(DecodePcx(file, pic));
    const auto kept = pic.begin() + 2 * kRowBytes;
    EXPECT_TRUE(std::all_of(pic.begin(), kept, [](auto b) { return b == 0; }));
    EXPECT_TRUE(std::equal(kept, pic.end(), pattern.begin() + 2 * kRowBytes));
    file.pop_back();
    EXPECT_EQ(PcxRefusal(file), "the picture data end before its last row");
  }
}

// An 8-bit file of `width` x `rows` with index (x + 3 y) % 256 and a palette at the end.
Bytes EightBitFile(int width, int rows, int y_min = 0) {
  Bytes file = IndexedHeader(8, 1, 0, width - 1, width, rows);
  file[6] = std::uint8_t(y_min), file[7] = std::uint8_t(y_min >> 8);
  const int y_max = y_min + rows - 1;
  file[10] = std::uint8_t(y_max), file[11] = std::uint8_t(y_max >> 8);
  Bytes line(width);
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < width; ++x) line[x] = std::uint8_t(x + 3 * y);
    AppendScanline(file, line);
  }
  file.push_back(12);
  const Bytes palette = TestPalette();
  file.insert(file.end(), palette.begin(), palette.end());
  return file;
}

TEST(PcxIndexed, LargeEightBitPicturesAreClippedAndTheirPaletteFound) {
  const Bytes palette = TestPalette();
  // 1000 x 700 from Ymin 40: columns from 800 and rows from 600 are dropped.
  const Bytes file = EightBitFile(1000, 700, 40);
  Bytes pic = PatternPicture();
  ASSERT_TRUE(DecodePcx(file, pic));
  EXPECT_EQ(PcxPictureRows(file), 600);
  for (int y : {0, 1, 299, 599}) {
    for (int x : {0, 255, 256, 799}) {
      const int i = (x + 3 * y) % 256;
      ExpectColour(pic, x, y, palette[3 * i], palette[3 * i + 1], palette[3 * i + 2]);
    }
  }
  Bytes plain = PatternPicture();
  ASSERT_EQ(PlainDecodePcx(file, plain), 1);
  EXPECT_TRUE(pic == plain);
}

// Every cut of indexed files, each copied into a buffer of its own size so that a read past
// it is caught: refused with the picture untouched unless the cut keeps every row it needs
// (and, for 8 bits, ends with a palette), and the same answer as the step-by-step reader.
TEST(PcxIndexed, CutFilesAreRefusedUntouchedAndNeverReadPastTheirEnd) {
  const Bytes pattern = PatternPicture();
  for (const char* name : {"netpbm_palette8", "netpbm_planar4", "netpbm_packed4", "pillow_mono"}) {
    SCOPED_TRACE(name);
    const Bytes file = Fixture(std::string("pcx/good/") + name + ".pcx");
    Bytes whole = pattern;
    ASSERT_TRUE(DecodePcx(file, whole));
    for (std::size_t cut = 0; cut < file.size(); ++cut) {
      const Bytes part(file.begin(), file.begin() + std::ptrdiff_t(cut));
      Bytes pic = pattern, plain = pattern;
      const auto decoded = DecodePcx(part, pic);
      const int result = decoded ? 1 : 0;
      ASSERT_EQ(result, PlainDecodePcx(part, plain)) << cut;
      ASSERT_TRUE(pic == plain) << cut;
      if (!decoded) {
        ASSERT_FALSE(decoded.error().text.empty()) << cut;
      }
      if (result == 0) {
        ASSERT_TRUE(pic == pattern) << cut;
      }
    }
  }
  // The rows of an 8-bit file cut short, its palette kept: the palette is never taken for
  // rows, so every cut is refused for its data.
  const Bytes file = Fixture("pcx/good/netpbm_palette8.pcx");
  const Bytes body(file.begin(), file.end() - 769), palette(file.end() - 769, file.end());
  for (std::size_t cut = 128; cut < body.size(); ++cut) {
    Bytes part(body.begin(), body.begin() + std::ptrdiff_t(cut));
    part.insert(part.end(), palette.begin(), palette.end());
    Bytes pic = pattern;
    ASSERT_FALSE(DecodePcx(part, pic)) << cut;
    ASSERT_TRUE(pic == pattern) << cut;
    ASSERT_EQ(PcxRefusal(part), "the picture data end before its last row") << cut;
  }
}

TEST(PcxIndexed, MatchesThePlainDecoderOnRandomIndexedFiles) {
  std::mt19937 rng(99);
  const std::pair<int, int> kinds[] = {{1, 1}, {1, 4}, {1, 8}, {4, 1}};
  for (int round = 0; round < 400; ++round) {
    const auto [planes, bits] = kinds[round % 4];
    const int bpl = int(rng() % 120);
    const int x_min = int(rng() % 20);
    const int x_max = x_min + int(rng() % 1000) - 50;
    const int rows = int(rng() % 9) - 1;
    Bytes file = IndexedHeader(bits, planes, x_min, std::max(x_max, 0), bpl, rows);
    if (rng() % 5 == 0) std::fill(file.begin() + 16, file.begin() + 22, std::uint8_t(rng()));
    const std::size_t body = rng() % (2 * std::size_t(planes * bpl) * 9 + 2);
    for (std::size_t i = 0; i < body; ++i) {
      const bool run = rng() % 3 == 0;
      file.push_back(run ? std::uint8_t(0xC0 | rng() % 64) : std::uint8_t(rng() % 192));
      if (run) file.push_back(std::uint8_t(rng()));
    }
    if (bits == 8 && rng() % 4 != 0) {
      file.push_back(12);
      for (int i = 0; i < 768; ++i) file.push_back(std::uint8_t(rng()));
    }
    Bytes fast = PatternPicture(), plain = PatternPicture();
    const auto decoded = DecodePcx(file, fast);
    ASSERT_EQ(decoded ? 1 : 0, PlainDecodePcx(file, plain)) << round;
    ASSERT_TRUE(fast == plain) << round;
    if (decoded) {
      ASSERT_EQ(*decoded, PcxPictureRows(file)) << round;
    } else {
      ASSERT_FALSE(decoded.error().text.empty()) << round;
    }
  }
}

}  // namespace
}  // namespace zemlo::testing
