// The PNG reader against real files of every colour type, each with a PCX twin of the same
// pixels made by other tools, and against damaged and oversized files.
#include "picture/png_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "picture/pcx_reader.h"
#include "support/picture_test_support.h"
#include "support/png_builder.h"

namespace zemlo::testing {
namespace {

// A picture no reader writes by accident.
Bytes PatternPicture() {
  Bytes picture(kPictureBytes);
  for (std::size_t i = 0; i < picture.size(); ++i) picture[i] = std::uint8_t(i * 13 + 5);
  return picture;
}

std::vector<std::filesystem::path> GoodPngs() {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(DataDir() / "png/good")) {
    if (entry.path().extension() == ".png") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::size_t At(int x, int y) { return (std::size_t(y) * kPictureWidth + x) * 3; }

// Why DecodePng refused, or nothing when it decoded.
std::string_view Why(const Status& result) {
  return result ? std::string_view{} : result.error().text;
}

TEST(PngReader, EveryColourTypeAndDepthEqualsItsPcxTwin) {
  const auto files = GoodPngs();
  // Grey at 1, 2, 4, 8 and 16 bits, grey and alpha, two palettes, RGB at 8 and 16 bits and
  // with a colour key, RGBA at 8 and 16 bits, two interlaced.
  ASSERT_GE(files.size(), 15u);
  for (const auto& png : files) {
    SCOPED_TRACE(png.filename().string());
    Bytes picture = PatternPicture();
    const Status result = DecodePng(ReadFileBytes(png), picture);
    ASSERT_TRUE(result.ok()) << Why(result);
    // The twin's rows below its own keep what the picture held: black here.
    Bytes twin(kPictureBytes, 0);
    auto pcx_path = png;
    ASSERT_TRUE(DecodePcx(ReadFileBytes(pcx_path.replace_extension(".pcx")), twin));
    EXPECT_TRUE(picture == twin);
  }
}

TEST(PngReader, EverythingOutsideThePngIsBlack) {
  const Bytes file = Fixture("png/good/pillow_rgba8_61x45.png");
  Bytes picture = PatternPicture();
  ASSERT_TRUE(DecodePng(file, picture));
  std::size_t lit_inside = 0;
  for (int y = 0; y < kPictureHeight; ++y) {
    for (int x = 0; x < kPictureWidth; ++x) {
      const bool inside = x < 61 && y < 45;
      const std::size_t at = At(x, y);
      const bool black = picture[at] == 0 && picture[at + 1] == 0 && picture[at + 2] == 0;
      if (!inside) {
        ASSERT_TRUE(black) << x << "," << y;
      }
      lit_inside += black ? 0 : 1;
    }
  }
  EXPECT_GT(lit_inside, 100u);
}

TEST(PngReader, AlphaBelowHalfIsBlackAndColoursAreNeverBlended) {
  // One row of RGBA pixels, all (200, 100, 50), alpha from 0 up.
  const std::vector<std::uint8_t> alphas = {0, 1, 126, 127, 128, 129, 254, 255};
  std::vector<std::uint8_t> row;
  for (std::uint8_t a : alphas) row.insert(row.end(), {200, 100, 50, a});
  Bytes picture = PatternPicture();
  ASSERT_TRUE(DecodePng(BuildPng(8, 1, 8, 6, {row}), picture));
  for (std::size_t i = 0; i < alphas.size(); ++i) {
    SCOPED_TRACE(int(alphas[i]));
    const std::size_t at = At(int(i), 0);
    const Bytes expected = alphas[i] < 128 ? Bytes{0, 0, 0} : Bytes{50, 100, 200};
    EXPECT_EQ(Bytes(picture.begin() + at, picture.begin() + at + 3), expected);
  }
  // 16 bits: the high byte decides, 0x7FFF is below half and 0x8000 is not.
  std::vector<std::uint8_t> wide;
  for (std::uint16_t a : {0x7FFF, 0x8000}) {
    wide.insert(wide.end(), {0xC8, 0xFF, 0x64, 0x01, 0x32, 0x80});
    wide.push_back(std::uint8_t(a >> 8));
    wide.push_back(std::uint8_t(a));
  }
  ASSERT_TRUE(DecodePng(BuildPng(2, 1, 16, 6, {wide}), picture));
  EXPECT_EQ(Bytes(picture.begin(), picture.begin() + 6), (Bytes{0, 0, 0, 0x32, 0x64, 0xC8}));
}

TEST(PngReader, PaletteTransparencyAppliesPerEntry) {
  // Entries 0..3 red, green, blue, white; tRNS gives entry 1 alpha 0 and entry 2 alpha 127;
  // entry 3 has none and stays opaque.
  const std::vector<PngChunk> chunks = {{"PLTE", {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255}},
                                        {"tRNS", {255, 0, 127}}};
  Bytes picture = PatternPicture();
  ASSERT_TRUE(DecodePng(BuildPng(4, 1, 8, 3, {{0, 1, 2, 3}}, chunks), picture));
  EXPECT_EQ(Bytes(picture.begin(), picture.begin() + 12),
            (Bytes{0, 0, 255, 0, 0, 0, 0, 0, 0, 255, 255, 255}));
}

TEST(PngReader, FilesUpToTheLimitAreTakenAndLargerOnesRefused) {
  // A 1 x 1 grey PNG grown by a private ancillary chunk to exactly the limit, then one byte
  // more: the honest size of the largest picture is not the only way to reach it.
  const auto padded = [](std::size_t total) {
    const Bytes small = BuildPng(1, 1, 8, 0, {{0xAB}});
    const std::size_t filler = total - small.size() - 12;
    return BuildPng(1, 1, 8, 0, {{0xAB}}, {{"zgLp", Bytes(filler, 0x5A)}});
  };
  Bytes picture = PatternPicture();
  const Bytes at_limit = padded(kPngFileLimit);
  ASSERT_EQ(at_limit.size(), kPngFileLimit);
  ASSERT_TRUE(DecodePng(at_limit, picture));
  EXPECT_EQ(picture[0], 0xAB);
  const Bytes before = picture;
  const Status over = DecodePng(padded(kPngFileLimit + 1), picture);
  EXPECT_FALSE(over.ok());
  EXPECT_EQ(Why(over), "the file is larger than 4 MiB");
  EXPECT_TRUE(picture == before);
}

TEST(PngReader, DamagedAndOversizedFilesAreRefusedWithAReasonAndChangeNothing) {
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"claims-30000x30000.png", "the picture is wider than 800 pixels"},
      {"too-wide-801.png", "the picture is wider than 800 pixels"},
      {"too-tall-601.png", "the picture is taller than 600 pixels"},
      {"zero-width.png", "the picture has no pixels (a width or height of 0)"},
      {"rgb-at-4-bits.png", "the header gives a colour type and bit depth PNG does not have"},
      {"unknown-interlace-method.png",
       "the header gives a compression, filter or interlace method PNG does not have"},
      {"truncated-idat.png", "the file ends inside a chunk"},
      {"no-iend.png", "the file ends before its last chunk (IEND)"},
      {"bad-signature.png", "not a PNG file (no PNG signature)"},
      {"empty.png", "not a PNG file (no PNG signature)"},
      {"signature-only.png", "the file ends inside its header"},
      {"unknown-critical-chunk.png", "the file has a critical chunk this reader does not know"},
      {"two-headers.png", "the file has two headers (IHDR)"},
      {"no-idat.png", "the file has no image data (IDAT)"},
      {"palette-without-plte.png", "a palette picture without a palette (PLTE)"},
      {"unknown-row-filter.png", "a row of the image data has a filter PNG does not have"},
      // The deflate stream stops inside a block.
      {"idat-stream-cut-short.png", "the compressed image data are damaged"},
      {"inflates-to-32mib-zlib-bomb.png",
       "the image data unpack to more than an 800 x 600 picture needs"},
  };
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(DataDir() / "png/malformed")) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, cases.size()) << "every malformed file has its case";
  for (const auto& [name, reason] : cases) {
    SCOPED_TRACE(name);
    Bytes picture = PatternPicture();
    const Status result = DecodePng(Fixture(std::string("png/malformed/") + name), picture);
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(Why(result), reason);
    EXPECT_TRUE(picture == PatternPicture());
  }
  // A whole stream that holds two rows of three.
  Bytes picture = PatternPicture();
  const Status short_rows = DecodePng(BuildPng(2, 3, 8, 0, {{1, 2}, {3, 4}}), picture);
  EXPECT_EQ(Why(short_rows), "the image data end before the last row");
  EXPECT_TRUE(picture == PatternPicture());
  // A picture buffer smaller than 800 x 600 is never written.
  Bytes small(kPictureBytes - 1, 7);
  EXPECT_FALSE(DecodePng(Fixture("png/good/imagemagick_rgb8_37x23.png"), small));
  EXPECT_TRUE(std::all_of(small.begin(), small.end(), [](std::uint8_t b) { return b == 7; }));
}

TEST(PngReader, ThreadsDecodingAtOnceGetTheirOwnPicturesAndReasons) {
  // Good and refused files side by side: each thread's result must be what one thread alone
  // gets, the reasons included (stb keeps its failure reason per thread).
  std::vector<Bytes> files;
  for (const char* name :
       {"png/good/imagemagick_rgba16_interlaced_800x600.png",
        "png/good/pillow_palette8_trns_45x21.png", "png/malformed/unknown-row-filter.png",
        "png/malformed/inflates-to-32mib-zlib-bomb.png", "png/malformed/no-idat.png",
        "png/good/netpbm_grey2_45x21.png"}) {
    files.push_back(Fixture(name));
  }
  std::vector<Bytes> alone(files.size(), PatternPicture());
  std::vector<std::string> alone_reason(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    alone_reason[i] = std::string(Why(DecodePng(files[i], alone[i])));
  }
  std::vector<int> mismatches(files.size(), 0);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < files.size(); ++i) {
    threads.emplace_back([&, i] {
      for (int round = 0; round < 6; ++round) {
        Bytes picture = PatternPicture();
        const Status result = DecodePng(files[i], picture);
        if (Why(result) != alone_reason[i] || picture != alone[i]) ++mismatches[i];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(mismatches, std::vector<int>(files.size(), 0));
}

}  // namespace
}  // namespace zemlo::testing
