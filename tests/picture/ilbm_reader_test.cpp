#include "picture/ilbm_reader.h"

#include <gtest/gtest.h>

#include "support/picture_test_support.h"

namespace zemlo::testing {
namespace {

struct Decoded {
  bool ok = false;
  Bytes index = Bytes(kIndexBufferSize, 0x5A);
  Bytes palette = Bytes(768, 0x77);
};

Decoded Decode(const Bytes& file) {
  Decoded d;
  // A copy of exactly the file's size, so a read past it is caught under the sanitizers.
  const Bytes exact(file);
  d.ok = DecodeIlbm(exact, d.index, d.palette).ok();
  return d;
}

// Rows of width bytes, chunky body (odd rows with a filler byte), compressed or not.
Bytes ChunkyBody(const Bytes& indices, int width, int height, bool compressed) {
  Bytes body;
  for (int y = 0; y < height; ++y) {
    Bytes row(indices.begin() + std::size_t(y) * width,
              indices.begin() + std::size_t(y + 1) * width);
    if (width & 1) row.push_back(0xEE);
    const Bytes stored = compressed ? ByteRun1(row) : row;
    body.insert(body.end(), stored.begin(), stored.end());
  }
  return body;
}

Bytes PlaneBody(const Bytes& indices, int width, int height, bool compressed, int planes = 8,
                bool mask = false) {
  const std::size_t plane_bytes = std::size_t(width + 15) / 16 * 2;
  Bytes body;
  for (int y = 0; y < height; ++y) {
    Bytes row =
        ToPlanes(std::span(indices).subspan(std::size_t(y) * width, width), planes, plane_bytes);
    if (mask) row.insert(row.end(), plane_bytes, 0xFF);
    if (compressed) {
      // Writers compress each plane row on its own.
      for (std::size_t k = 0; k * plane_bytes < row.size(); ++k) {
        const Bytes enc = ByteRun1(std::span(row).subspan(k * plane_bytes, plane_bytes));
        body.insert(body.end(), enc.begin(), enc.end());
      }
    } else {
      body.insert(body.end(), row.begin(), row.end());
    }
  }
  return body;
}

Bytes RandomIndices(std::mt19937& rng, int width, int height) {
  Bytes idx(std::size_t(width) * height);
  std::uint8_t v = 0;
  for (auto& b : idx) {
    if (rng() % 4 == 0) v = std::uint8_t(rng());
    b = v;
  }
  return idx;
}

// The index rows the reader should leave for a picture of width x height indices.
Bytes ExpectedIndex(const Bytes& indices, int width, int height) {
  Bytes out(kPixelCount, 0);
  for (int y = 0; y < std::min(height, 600); ++y) {
    for (int x = 0; x < std::min(width, 800); ++x)
      out[std::size_t(y) * 800 + x] = indices[std::size_t(y) * width + x];
  }
  return out;
}

void ExpectIndexRows(const Decoded& d, const Bytes& expected) {
  ASSERT_TRUE(d.ok);
  const auto mismatch = std::mismatch(expected.begin(), expected.end(), d.index.begin());
  EXPECT_EQ(mismatch.first, expected.end())
      << "first wrong index at " << (mismatch.first - expected.begin());
}

TEST(IlbmReader, FilesOfRealWritersDecodeToTheirPixels) {
  for (const char* base :
       {"netpbm_ilbm_173x101_rle", "netpbm_ilbm_173x101_raw", "netpbm_ilbm_168x100_rle",
        "netpbm_ilbm_160x100_rle", "netpbm_ilbm_128x64_256c_rle", "gen_pbm_173x101_rle",
        "gen_pbm_173x101_raw", "gen_pbm_160x100_rle"}) {
    SCOPED_TRACE(base);
    const auto ppm = ParsePpm(Fixture(std::string("iff/good/") + base + ".ppm"));
    ASSERT_TRUE(ppm);
    const Decoded d = Decode(Fixture(std::string("iff/good/") + base + ".iff"));
    ASSERT_TRUE(d.ok);
    Bytes pic = PatternPicture();
    ExpandPalette(d.index, pic, d.palette);
    int wrong = 0;
    for (int y = 0; y < 600; ++y) {
      for (int x = 0; x < 800; ++x) {
        const std::uint8_t* px = &pic[std::size_t(y) * kRowBytes + 3 * x];
        if (x < ppm->width && y < ppm->height) {
          const std::uint8_t* rgb = &ppm->rgb[(std::size_t(y) * ppm->width + x) * 3];
          wrong += px[0] != rgb[2] || px[1] != rgb[1] || px[2] != rgb[0];
        } else {
          // Outside the picture: index 0, the colour of palette entry 0.
          wrong += d.index[std::size_t(y) * 800 + x] != 0;
          wrong += px[0] != d.palette[2] || px[1] != d.palette[1] || px[2] != d.palette[0];
        }
      }
    }
    EXPECT_EQ(wrong, 0);
  }
}

TEST(IlbmReader, BitPlaneAndChunkyLayoutsGiveTheSameFullPicture) {
  std::mt19937 rng(3);
  const Bytes indices = RandomIndices(rng, 800, 600);
  const Bytes palette = TestPalette();
  for (bool compressed : {false, true}) {
    const Bytes pbm = IffFile("PBM ", {{"BMHD", Bmhd(800, 600, compressed)},
                                       {"CMAP", palette},
                                       {"BODY", ChunkyBody(indices, 800, 600, compressed)}});
    const Bytes ilbm = IffFile("ILBM", {{"BMHD", Bmhd(800, 600, compressed)},
                                        {"CMAP", palette},
                                        {"BODY", PlaneBody(indices, 800, 600, compressed)}});
    const Decoded a = Decode(pbm), b = Decode(ilbm);
    ExpectIndexRows(a, ExpectedIndex(indices, 800, 600));
    ExpectIndexRows(b, ExpectedIndex(indices, 800, 600));
    EXPECT_EQ(a.palette, palette);
    EXPECT_EQ(b.palette, palette);
  }
}

TEST(IlbmReader, SmallPictureFillsTheTopLeftAndTheRestTakesIndexZero) {
  std::mt19937 rng(4);
  const Bytes indices = RandomIndices(rng, 320, 200);
  for (const char* type : {"ILBM", "PBM "}) {
    const bool planes = type[0] == 'I';
    const Bytes file = IffFile(type, {{"BMHD", Bmhd(320, 200, 1)},
                                      {"CMAP", TestPalette()},
                                      {"BODY", planes ? PlaneBody(indices, 320, 200, true)
                                                      : ChunkyBody(indices, 320, 200, true)}});
    ExpectIndexRows(Decode(file), ExpectedIndex(indices, 320, 200));
  }
}

TEST(IlbmReader, ByteRun1ControlBytes) {
  // PBM, 8 x 2. Row 0: -128 (nothing), -3 then 7 (four 7s), 2 (three bytes), then 0 (one byte).
  // Row 1: uncompressed-looking literal of 8.
  Bytes body{0x80, 0xFD, 7, 2, 1, 2, 3, 0, 9, 7, 10, 11, 12, 13, 14, 15, 16, 17};
  const Decoded d = Decode(IffFile("PBM ", {{"BMHD", Bmhd(8, 2, 1)}, {"BODY", body}}));
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(Bytes(d.index.begin(), d.index.begin() + 9), (Bytes{7, 7, 7, 7, 1, 2, 3, 9, 0}));
  EXPECT_EQ(Bytes(d.index.begin() + 800, d.index.begin() + 809),
            (Bytes{10, 11, 12, 13, 14, 15, 16, 17, 0}));
  // Compression 2 is read as uncompressed.
  const Decoded raw =
      Decode(IffFile("PBM ", {{"BMHD", Bmhd(4, 1, 2)}, {"BODY", Bytes{0xFD, 7, 2, 1}}}));
  ASSERT_TRUE(raw.ok);
  EXPECT_EQ(Bytes(raw.index.begin(), raw.index.begin() + 5), (Bytes{0xFD, 7, 2, 1, 0}));
}

TEST(IlbmReader, ChunkyRunPastTheRowEndShowsRightOfTheWidth) {
  // Width 4; row 0 is a run of 6 bytes 3: two of them stand right of the width. Row 1 starts
  // with the next control byte.
  const Bytes body{0xFB, 3, 3, 1, 2, 3, 4};
  const Decoded d = Decode(IffFile("PBM ", {{"BMHD", Bmhd(4, 2, 1)}, {"BODY", body}}));
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(Bytes(d.index.begin(), d.index.begin() + 7), (Bytes{3, 3, 3, 3, 3, 3, 0}));
  EXPECT_EQ(Bytes(d.index.begin() + 800, d.index.begin() + 805), (Bytes{1, 2, 3, 4, 0}));
}

TEST(IlbmReader, ChunkSearchIsAByteScanInAFixedOrder) {
  std::mt19937 rng(8);
  const Bytes indices = RandomIndices(rng, 16, 2);
  const Bytes chunky = ChunkyBody(indices, 16, 2, false);
  const Bytes planar = PlaneBody(indices, 16, 2, false);
  // "ILBM" in an annotation of a "PBM " file switches to bit-plane mode.
  {
    const Decoded d = Decode(IffFile("PBM ", {{"ANNO", Bytes{'m', 'y', 'I', 'L', 'B', 'M'}},
                                              {"BMHD", Bmhd(16, 2, 0)},
                                              {"BODY", planar}}));
    ExpectIndexRows(d, ExpectedIndex(indices, 16, 2));
  }
  // A later "BMHD" overrides an earlier one.
  {
    const Decoded d = Decode(
        IffFile("PBM ", {{"BMHD", Bmhd(300, 300, 1)}, {"BMHD", Bmhd(16, 2, 0)}, {"BODY", chunky}}));
    ExpectIndexRows(d, ExpectedIndex(indices, 16, 2));
  }
  // A full CMAP is jumped over: a "BODY" inside its colours is not seen, and the chunk right
  // behind it is tested for "BODY" only, so a "BMHD" there is missed (width stays 0).
  {
    Bytes colours = TestPalette();
    std::memcpy(colours.data() + 100, "BODY", 4);
    const Decoded d =
        Decode(IffFile("PBM ", {{"CMAP", colours}, {"BMHD", Bmhd(16, 2, 0)}, {"BODY", chunky}}));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.palette, colours);
    EXPECT_TRUE(
        std::all_of(d.index.begin(), d.index.begin() + kPixelCount, [](auto b) { return b == 0; }));
  }
  // The scan starts at byte 1: a tag at byte 0 is not seen.
  {
    Bytes file{'I', 'L', 'B', 'M'};
    const Bytes rest = IffFile("PBM ", {{"BMHD", Bmhd(16, 2, 0)}, {"BODY", chunky}});
    file.insert(file.end(), rest.begin(), rest.end());
    ExpectIndexRows(Decode(file), ExpectedIndex(indices, 16, 2));
  }
}

TEST(IlbmReader, MissingHeaderOrColoursAreTakenAsTheyCome) {
  // No BMHD: width and height 0, every index 0, accepted.
  const Decoded no_header =
      Decode(IffFile("ILBM", {{"CMAP", TestPalette()}, {"BODY", Bytes(64, 0x33)}}));
  ASSERT_TRUE(no_header.ok);
  EXPECT_TRUE(std::all_of(no_header.index.begin(), no_header.index.begin() + kPixelCount,
                          [](auto b) { return b == 0; }));
  EXPECT_EQ(no_header.palette, TestPalette());
  // No CMAP: the palette buffer keeps what it held.
  const Decoded no_colours =
      Decode(IffFile("PBM ", {{"BMHD", Bmhd(2, 1, 0)}, {"BODY", Bytes{1, 2}}}));
  ASSERT_TRUE(no_colours.ok);
  EXPECT_EQ(no_colours.palette, Bytes(768, 0x77));
  // A CMAP of three colours: those three, the rest black, and the BODY right behind is found.
  const Bytes three{1, 2, 3, 4, 5, 6, 7, 8, 9};
  const Decoded short_map =
      Decode(IffFile("PBM ", {{"BMHD", Bmhd(2, 1, 0)}, {"CMAP", three}, {"BODY", Bytes{1, 2}}}));
  ASSERT_TRUE(short_map.ok);
  Bytes expected(768, 0);
  std::copy(three.begin(), three.end(), expected.begin());
  EXPECT_EQ(short_map.palette, expected);
  EXPECT_EQ(short_map.index[1], 2);
}

TEST(IlbmReader, RefusedFilesLeaveThePaletteAlone) {
  for (const char* name :
       {"malformed/no_body.iff", "malformed/truncated_body.iff", "malformed/form_header_only.iff",
        "malformed/empty.iff", "malformed/deep_24_planes.iff"}) {
    const Decoded d = Decode(Fixture(std::string("iff/") + name));
    EXPECT_FALSE(d.ok) << name;
    EXPECT_EQ(d.palette, Bytes(768, 0x77)) << name;
  }
  // Buffers smaller than the picture are refused, not overrun.
  const Bytes file = Fixture("iff/good/gen_pbm_160x100_rle.iff");
  Bytes index(kPixelCount - 1), palette(768);
  const auto small_index = DecodeIlbm(file, index, palette);
  ASSERT_FALSE(small_index);
  EXPECT_EQ(small_index.error().text, kIlbmNoRoom);
  index.resize(kPixelCount);
  palette.resize(767);
  const auto small_palette = DecodeIlbm(file, index, palette);
  ASSERT_FALSE(small_palette);
  EXPECT_EQ(small_palette.error().text, kIlbmNoRoom);
}

// Each malformed fixture is refused for the defect it is named for, in words the console
// prints after its name.
TEST(IlbmReader, RefusalsNameTheDefect) {
  const struct {
    const char* name;
    std::string_view reason;
  } cases[] = {
      {"malformed/no_body.iff", kIlbmNoBody},
      {"malformed/form_header_only.iff", kIlbmNoBody},
      {"malformed/truncated_body.iff", kIlbmBodyCut},
      {"malformed/empty.iff", kIlbmEmpty},
      {"malformed/deep_24_planes.iff", kIlbmTooManyPlanes},
  };
  for (const auto& c : cases) {
    const Bytes file = Fixture(std::string("iff/") + c.name);
    Bytes index(kIndexBufferSize), palette(768);
    const auto decoded = DecodeIlbm(file, index, palette);
    ASSERT_FALSE(decoded) << c.name;
    EXPECT_EQ(decoded.error().text, c.reason) << c.name;
  }
  // Built here: a header cut inside its fields, and a bit-plane picture without planes.
  const Bytes bmhd = Bmhd(40, 6, 1);
  // The chunk is the file's last: its fields stop at the height.
  const Bytes cut_file = IffFile("ILBM", {{"BMHD", Bytes(bmhd.begin(), bmhd.begin() + 6)}});
  const Bytes planeless = IffFile("ILBM", {{"BMHD", Bmhd(40, 6, 1, 0)}, {"BODY", Bytes(100, 0)}});
  for (const auto& [file, reason] :
       {std::pair{cut_file, kIlbmHeaderCut}, std::pair{planeless, kIlbmNoPlanes}}) {
    Bytes index(kIndexBufferSize), palette(768);
    const auto decoded = DecodeIlbm(file, index, palette);
    ASSERT_FALSE(decoded);
    EXPECT_EQ(decoded.error().text, reason);
  }
  // A picture that decodes tells whether it brought a palette: the fixture has a CMAP, the
  // built file none, and its palette is left as it was.
  Bytes index(kIndexBufferSize), palette(768, 0x55);
  const auto with_cmap = DecodeIlbm(Fixture("iff/good/gen_pbm_160x100_rle.iff"), index, palette);
  ASSERT_TRUE(with_cmap);
  EXPECT_TRUE(with_cmap->palette_read);
  const Bytes no_cmap = IffFile("ILBM", {{"BMHD", Bmhd(16, 1, 0, 1)}, {"BODY", Bytes(2, 0)}});
  std::fill(palette.begin(), palette.end(), std::uint8_t{0x55});
  const auto without = DecodeIlbm(no_cmap, index, palette);
  ASSERT_TRUE(without);
  EXPECT_FALSE(without->palette_read);
  EXPECT_EQ(palette, Bytes(768, 0x55));
}

TEST(IlbmReader, EveryCutOfAFileIsRefusedWithoutReadingPastIt) {
  std::mt19937 rng(12);
  const Bytes indices = RandomIndices(rng, 40, 6);
  for (bool planar : {false, true}) {
    const Bytes body = planar ? PlaneBody(indices, 40, 6, true) : ChunkyBody(indices, 40, 6, true);
    const Bytes file = IffFile(planar ? "ILBM" : "PBM ",
                               {{"BMHD", Bmhd(40, 6, 1)}, {"CMAP", TestPalette()}, {"BODY", body}});
    ASSERT_TRUE(Decode(file).ok);
    // The pad byte after an odd body is not needed.
    const std::size_t body_end = file.size() - (body.size() & 1);
    for (std::size_t cut = 0; cut < file.size(); ++cut) {
      const Decoded d = Decode(Bytes(file.begin(), file.begin() + cut));
      ASSERT_EQ(d.ok, cut >= body_end) << cut;
      if (!d.ok) {
        ASSERT_EQ(d.palette, Bytes(768, 0x77)) << cut;
      }
    }
  }
}

TEST(IlbmReader, LargerPicturesAreClippedToTheIndexRows) {
  std::mt19937 rng(21);
  for (const auto& [w, h] : {std::pair{1000, 20}, std::pair{40, 700}, std::pair{1001, 601}}) {
    const Bytes indices = RandomIndices(rng, w, h);
    for (bool planar : {false, true}) {
      SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + (planar ? " planes" : " chunky"));
      const Bytes file = IffFile(
          planar ? "ILBM" : "PBM ",
          {{"BMHD", Bmhd(w, h, 1)},
           {"BODY", planar ? PlaneBody(indices, w, h, true) : ChunkyBody(indices, w, h, true)}});
      ExpectIndexRows(Decode(file), ExpectedIndex(indices, w, h));
      // Rows past 600 are not read: a body cut after row 599 is enough.
    }
  }
  // The largest header values and a short body: refused.
  const Decoded huge =
      Decode(IffFile("ILBM", {{"BMHD", Bmhd(0xFFFF, 0xFFFF, 1)}, {"BODY", Bytes(300, 0x81)}}));
  EXPECT_FALSE(huge.ok);
}

TEST(IlbmReader, PlaneRowsAreWholeWordsAndOddChunkyRowsCarryAFiller) {
  std::mt19937 rng(31);
  // 24 is a multiple of 8, not 16: each plane row is 4 bytes, the last one filler.
  for (int w : {24, 8, 173, 799, 1, 33}) {
    SCOPED_TRACE(w);
    const Bytes indices = RandomIndices(rng, w, 5);
    for (bool compressed : {false, true}) {
      ExpectIndexRows(Decode(IffFile("ILBM", {{"BMHD", Bmhd(w, 5, compressed)},
                                              {"BODY", PlaneBody(indices, w, 5, compressed)}})),
                      ExpectedIndex(indices, w, 5));
      ExpectIndexRows(Decode(IffFile("PBM ", {{"BMHD", Bmhd(w, 5, compressed)},
                                              {"BODY", ChunkyBody(indices, w, 5, compressed)}})),
                      ExpectedIndex(indices, w, 5));
    }
  }
}

TEST(IlbmReader, FewerPlanesAndMaskPlanes) {
  std::mt19937 rng(41);
  Bytes indices = RandomIndices(rng, 48, 3);
  for (auto& b : indices) b &= 31;
  // Five planes (32 colours).
  ExpectIndexRows(Decode(IffFile("ILBM", {{"BMHD", Bmhd(48, 3, 1, 5)},
                                          {"BODY", PlaneBody(indices, 48, 3, true, 5)}})),
                  ExpectedIndex(indices, 48, 3));
  // Eight planes and a mask plane, which gives no colour bit.
  const Bytes full = RandomIndices(rng, 48, 3);
  ExpectIndexRows(Decode(IffFile("ILBM", {{"BMHD", Bmhd(48, 3, 0, 8, 1)},
                                          {"BODY", PlaneBody(full, 48, 3, false, 8, true)}})),
                  ExpectedIndex(full, 48, 3));
  // No planes, or more than eight: refused.
  EXPECT_FALSE(Decode(IffFile("ILBM", {{"BMHD", Bmhd(48, 3, 0, 0)}, {"BODY", Bytes(500, 0)}})).ok);
  EXPECT_FALSE(Decode(IffFile("ILBM", {{"BMHD", Bmhd(48, 3, 0, 9)}, {"BODY", Bytes(500, 0)}})).ok);
}

TEST(IlbmReader, PlaneConversionMatchesThePlainShiftLoop) {
  std::mt19937 rng(51);
  for (int round = 0; round < 40; ++round) {
    const int w = 16 * std::uniform_int_distribution<int>(1, 50)(rng);
    const int h = std::uniform_int_distribution<int>(1, 6)(rng);
    const std::size_t plane_bytes = std::size_t(w) / 8;
    Bytes body(plane_bytes * 8 * h);
    for (auto& b : body) b = std::uint8_t(rng());
    const Decoded d = Decode(IffFile("ILBM", {{"BMHD", Bmhd(w, h, 0)}, {"BODY", body}}));
    ASSERT_TRUE(d.ok);
    for (int y = 0; y < h; ++y) {
      for (std::size_t c = 0; c < plane_bytes; ++c) {
        std::uint8_t column[8], out[8];
        for (int k = 0; k < 8; ++k) column[k] = body[(y * 8 + k) * plane_bytes + c];
        PlainConvertColumn(column, 8, out);
        ASSERT_TRUE(std::equal(out, out + 8, d.index.begin() + y * 800 + 8 * c)) << round;
      }
    }
  }
}

TEST(IlbmReader, RandomBytesAroundTheTagsNeverOverrun) {
  std::mt19937 rng(61);
  const char* tags[] = {"ILBM", "BMHD", "CMAP", "BODY"};
  for (int round = 0; round < 400; ++round) {
    Bytes file(std::uniform_int_distribution<std::size_t>(0, 3000)(rng));
    for (auto& b : file) b = std::uint8_t(rng() % 3 == 0 ? rng() : rng() % 4);
    for (int t = 0; t < 6 && file.size() > 8; ++t) {
      const std::size_t at = rng() % (file.size() - 4);
      std::memcpy(file.data() + at, tags[rng() % 4], 4);
    }
    Decoded d = Decode(file);
    if (d.ok) {
      Bytes pic(kPictureBytes);
      ExpandPalette(d.index, pic, d.palette);
    }
  }
}

TEST(ExpandPalette, MatchesThePlainLookupAndStaysInsideItsBuffers) {
  std::mt19937 rng(71);
  Bytes index(kIndexBufferSize);
  for (auto& b : index) b = std::uint8_t(rng());
  const Bytes palette = TestPalette();
  Bytes pic(kPictureBytes + 8, 0xAB);
  ExpandPalette(index, std::span(pic).first(kPictureBytes), palette);
  for (std::size_t p = 0; p < kPixelCount; ++p) {
    const int i = index[p];
    ASSERT_EQ(pic[3 * p], palette[3 * i + 2]) << p;
    ASSERT_EQ(pic[3 * p + 1], palette[3 * i + 1]) << p;
    ASSERT_EQ(pic[3 * p + 2], palette[3 * i]) << p;
  }
  EXPECT_TRUE(std::all_of(pic.end() - 8, pic.end(), [](auto b) { return b == 0xAB; }));
  // A short palette: missing entries are black. A short picture: only whole pixels that fit.
  Bytes small_pic(10, 0xAB);
  const Bytes one_colour{1, 2, 3};
  const Bytes idx{0, 1, 0, 5};
  ExpandPalette(idx, small_pic, one_colour);
  EXPECT_EQ(small_pic, (Bytes{3, 2, 1, 0, 0, 0, 3, 2, 1, 0xAB}));
}

}  // namespace
}  // namespace zemlo::testing
