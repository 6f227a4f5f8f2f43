// PNG writing: pixels cut and ordered as PNG wants them, files whose chunks are whole (the
// checksums computed here, independently of the encoder), the same bytes from several
// threads at once, and files made only where the file layer allows. That the pixels decode
// back unchanged is checked with an independent decoder by tests/app/console/zgl_png_test.sh.
#include "picture/png_writer.h"

#include <gtest/gtest.h>

#include <array>
#include <thread>

#include "core/geometry.h"
#include "support/small_picture.h"
#include "support/temp_dir.h"

namespace zemlo::testing {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

std::uint32_t Big32(const Bytes& bytes, std::size_t at) {
  return std::uint32_t{bytes[at]} << 24 | std::uint32_t{bytes[at + 1]} << 16 |
         std::uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
}

// CRC-32 as PNG defines it (polynomial 0xEDB88320), bit by bit.
std::uint32_t Crc32(const std::uint8_t* data, std::size_t size) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

struct PngLayout {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  int bit_depth = 0;
  int colour_type = 0;
  std::vector<std::string> chunks;
  bool checksums_hold = true;
};

// Walks the file's chunks; fails the test when the signature or a length is wrong.
PngLayout Layout(const Bytes& png) {
  PngLayout layout;
  static constexpr std::array<std::uint8_t, 8> kSignature = {0x89, 'P',  'N',  'G',
                                                             '\r', '\n', 0x1A, '\n'};
  EXPECT_TRUE(png.size() > 8 && std::equal(kSignature.begin(), kSignature.end(), png.begin()));
  std::size_t at = 8;
  while (at + 12 <= png.size()) {
    const std::uint32_t length = Big32(png, at);
    if (length > png.size() - at - 12) {
      ADD_FAILURE() << "chunk length " << length << " runs past the file";
      break;
    }
    const std::string type(png.begin() + at + 4, png.begin() + at + 8);
    layout.chunks.push_back(type);
    if (Crc32(&png[at + 4], length + 4) != Big32(png, at + 8 + length)) {
      layout.checksums_hold = false;
    }
    if (type == "IHDR" && length == 13) {
      layout.width = Big32(png, at + 8);
      layout.height = Big32(png, at + 12);
      layout.bit_depth = png[at + 16];
      layout.colour_type = png[at + 17];
    }
    at += 12 + length;
  }
  EXPECT_EQ(at, png.size()) << "bytes after the last chunk";
  return layout;
}

constexpr int kRgb = 2;   // PNG colour type: red, green, blue
constexpr int kRgba = 6;  // and alpha

TEST(PngPixels, CropBoxBecomesRgbaWithSeeThroughBlackForMaskedKinds) {
  const Bytes picture = SmallPicture();
  const PictureBox box{5, 5, 3, 1};
  EXPECT_EQ(IconRgba(picture, box, true), (Bytes{3, 2, 1, 255, 0, 0, 0, 0, 8, 9, 0, 255}));
  EXPECT_EQ(IconRgba(picture, box, false), (Bytes{3, 2, 1, 255, 0, 0, 0, 255, 8, 9, 0, 255}));
  // Boxes that leave the picture, or hold no pixel, give nothing.
  for (const PictureBox outside :
       {PictureBox{798, 5, 3, 1}, PictureBox{5, 600, 3, 1}, PictureBox{-1, 5, 3, 1},
        PictureBox{5, 5, 0, 1}, PictureBox{0, 0, kPictureWidth + 1, 1}}) {
    EXPECT_TRUE(IconRgba(picture, outside, true).empty()) << outside.left << "," << outside.top;
  }
  EXPECT_EQ(IconRgba(picture, {0, 0, kPictureWidth, kPictureHeight}, false).size(),
            std::size_t{kPixelCount} * 4);
  EXPECT_TRUE(IconRgba(Bytes(kPictureBytes - 1), box, false).empty());
}

TEST(PngFiles, ChunksAreWholeAndTheHeaderTellsSizeAndChannels) {
  const Bytes picture = SmallPicture();
  std::string error;
  const Bytes icon = EncodeRgbaPng(IconRgba(picture, {5, 5, 3, 1}, true), 3, 1, error);
  const PngLayout small = Layout(icon);
  EXPECT_EQ(small.chunks.front(), "IHDR");
  EXPECT_EQ(small.chunks.back(), "IEND");
  EXPECT_NE(std::find(small.chunks.begin(), small.chunks.end(), "IDAT"), small.chunks.end());
  EXPECT_TRUE(small.checksums_hold);
  EXPECT_EQ(small.width, 3u);
  EXPECT_EQ(small.height, 1u);
  EXPECT_EQ(small.bit_depth, 8);
  EXPECT_EQ(small.colour_type, kRgba);

  // The whole picture: three channels as in the PCX, four when black is to be see-through.
  const PngLayout opaque = Layout(EncodePicturePng(picture));
  EXPECT_EQ(opaque.width, std::uint32_t{kPictureWidth});
  EXPECT_EQ(opaque.height, std::uint32_t{kPictureHeight});
  EXPECT_EQ(opaque.colour_type, kRgb);
  EXPECT_TRUE(opaque.checksums_hold);
  EXPECT_EQ(Layout(EncodePicturePng(picture, true)).colour_type, kRgba);
}

TEST(PngFiles, NoFileForPixelsThatDoNotMatchTheSize) {
  std::string error;
  EXPECT_TRUE(EncodeRgbaPng(Bytes(4 * 6), 3, 1, error).empty());
  EXPECT_FALSE(error.empty());
  error.clear();
  EXPECT_TRUE(EncodeRgbaPng({}, 0, 0, error).empty());
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(EncodePicturePng(Bytes(kPictureBytes - 3)).empty());
}

// Pictures encoded on several threads at once come out as each does alone.
TEST(PngFiles, ThreadsEncodingAtOnceGetTheBytesEachGetsAlone) {
  std::vector<Bytes> pictures;
  std::vector<Bytes> alone;
  for (int seed = 0; seed < 4; ++seed) {
    Bytes picture(kPictureBytes, 0);
    for (std::size_t i = 0; i < picture.size(); i += 7 + seed) {
      picture[i] = static_cast<std::uint8_t>(i * (seed + 3));
    }
    alone.push_back(EncodePicturePng(picture, seed % 2 == 1));
    pictures.push_back(std::move(picture));
  }
  std::vector<Bytes> together(pictures.size());
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    threads.emplace_back([&, i] { together[i] = EncodePicturePng(pictures[i], i % 2 == 1); });
  }
  for (auto& thread : threads) thread.join();
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    EXPECT_FALSE(together[i].empty());
    EXPECT_TRUE(together[i] == alone[i]) << "picture " << i;
  }
}

// A PNG file is made new; one of its name stands already without `replace`; a link never,
// and what it points to stays as it was.
TEST(PngFiles, WrittenAsNewFilesAndNeverThroughLinks) {
  const Bytes rgba = IconRgba(SmallPicture(), {5, 5, 3, 1}, true);
  std::string error;
  const Bytes png = EncodeRgbaPng(rgba, 3, 1, error);
  TempDir dir;
  const fs::path path = dir.path() / "3001.png";
  EXPECT_EQ(WriteRgbaPng(path, rgba, 3, 1), files::OutputResult::kWritten);
  EXPECT_EQ(ReadFileBytes(path), png);

  const Bytes old = {'o', 'l', 'd'};
  WriteFileBytes(path, old);
  EXPECT_EQ(WriteRgbaPng(path, rgba, 3, 1), files::OutputResult::kExists);
  EXPECT_EQ(ReadFileBytes(path), old);
  EXPECT_EQ(WriteRgbaPng(path, rgba, 3, 1, true), files::OutputResult::kWritten);
  EXPECT_EQ(ReadFileBytes(path), png);
  EXPECT_EQ(WriteRgbaPng(dir.path() / "none" / "x.png", rgba, 3, 1), files::OutputResult::kFailed);
  EXPECT_EQ(WriteRgbaPng(dir.path() / "wrong.png", rgba, 2, 1), files::OutputResult::kFailed);
  EXPECT_FALSE(fs::exists(dir.path() / "wrong.png"));

#if !defined(_WIN32)
  const fs::path victim = dir.path() / "victim.txt";
  WriteFileBytes(victim, old);
  fs::remove(path);
  fs::create_symlink(victim, path);
  EXPECT_EQ(WriteRgbaPng(path, rgba, 3, 1, true), files::OutputResult::kLinkInTheWay);
  EXPECT_EQ(ReadFileBytes(victim), old);
#endif
}

TEST(PngFiles, NamesEndingInPngInAnyCase) {
  for (const char* name : {"x.png", "X.PNG", "dir.pcx/a.Png", ".png"}) {
    EXPECT_TRUE(HasPngExtension(name)) << name;
  }
  for (const char* name : {"x.pcx", "png", "x.png.pcx", "x.pngx", "x_png", ""}) {
    EXPECT_FALSE(HasPngExtension(name)) << name;
  }
}

}  // namespace
}  // namespace zemlo::testing
