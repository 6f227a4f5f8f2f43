// Encoding a picture and decoding the entry must give the picture back, over black; over
// another picture, black shows through as each mask kind says.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "library/codec/entry_decoder.h"
#include "library/codec/icon_encoder.h"
#include "support/recording_port.h"

namespace zemlo {
namespace {

using testing::RecordingPort;
using Bytes = std::vector<std::uint8_t>;

std::uint8_t* PixelOf(Bytes& pic, int x, int y) {
  return &pic[(static_cast<std::size_t>(y) * kPictureWidth + x) * 3];
}

void PutRandom(Bytes& pic, int x, int y, std::mt19937& rng, bool blue_first = false) {
  std::uint8_t* p = PixelOf(pic, x, y);
  do {
    // Zero channels are common in art (pure colours); they matter to 0-masked drawing.
    for (int k = 0; k < 3; ++k) p[k] = rng() % 3 == 0 ? 0 : static_cast<std::uint8_t>(rng());
    if (blue_first && p[0] == 0) p[0] = 1;
  } while ((p[0] | p[1] | p[2]) == 0);
}

struct Box {
  int x0, y0, x1, y1;
};
Box RandomBox(std::mt19937& rng) {
  Box b;
  b.x0 = rng() % 4 == 0 ? 0 : static_cast<int>(rng() % (kPictureWidth - 2));
  b.x1 = rng() % 4 == 0 ? kPictureWidth - 1
                        : b.x0 + 1 + static_cast<int>(rng() % (kPictureWidth - 1 - b.x0));
  b.y0 = rng() % 4 == 0 ? 0 : static_cast<int>(rng() % kPictureHeight);
  b.y1 = rng() % 4 == 0 ? kPictureHeight - 1
                        : b.y0 + static_cast<int>(rng() % (kPictureHeight - b.y0));
  return b;
}

// Rows start at the box's left with a blue pixel and run non-black to a black tail.
Bytes RaggedUnmasked(std::mt19937& rng) {
  Bytes pic(kPictureBytes, 0);
  const Box b = RandomBox(rng);
  for (int y = b.y0; y <= b.y1; ++y) {
    if (y != b.y0 && rng() % 5 == 0) continue;
    const int len = y == b.y0 ? b.x1 - b.x0 + 1 : 1 + static_cast<int>(rng() % (b.x1 - b.x0 + 1));
    for (int x = b.x0; x < b.x0 + len; ++x) PutRandom(pic, x, y, rng, x == b.x0);
  }
  return pic;
}

// One or two runs a row anywhere in the box: two to four transitions.
Bytes RaggedXMasked(std::mt19937& rng) {
  Bytes pic(kPictureBytes, 0);
  const Box b = RandomBox(rng);
  const int w = b.x1 - b.x0 + 1;
  for (int y = b.y0; y <= b.y1; ++y) {
    if (rng() % 5 == 0) continue;
    // The corner rows get one run: their corner pixels may add two transitions.
    const int runs = y == b.y0 || y == b.y1 ? 1 : 1 + static_cast<int>(rng() % 2);
    const int part = w / runs;
    for (int r = 0; r < runs; ++r) {
      if (part < 1) break;
      const int a = b.x0 + r * part + static_cast<int>(rng() % part);
      const int len = 1 + static_cast<int>(rng() % std::min(b.x0 + (r + 1) * part - a, 600));
      for (int x = a; x < a + len; ++x) PutRandom(pic, x, y, rng);
    }
  }
  // Fix the box's corners so that it spans what was drawn for.
  PutRandom(pic, b.x0, b.y0, rng, true);
  PutRandom(pic, b.x1, b.y1, rng, true);
  return pic;
}

// Scattered pixels: many transitions.
Bytes RaggedZeroMasked(std::mt19937& rng) {
  Bytes pic(kPictureBytes, 0);
  const Box b = RandomBox(rng);
  const int density = 2 + static_cast<int>(rng() % 4);
  for (int y = b.y0; y <= b.y1; ++y)
    for (int x = b.x0; x <= b.x1; ++x)
      if (rng() % density == 0) PutRandom(pic, x, y, rng);
  for (int x = b.x0; x <= b.x1 && x < b.x0 + 14; x += 2) PutRandom(pic, x, b.y0, rng);
  return pic;
}

struct Library {
  RecordingPort port;
  Bytes table = Bytes(kCoordinatesTableSize, 0);
  CoordinatesTable coordinates{table};
  Bytes out = Bytes(kMaxPictureEntry);
  CropBox box;

  std::span<const std::uint8_t> Encode(int icon, Bytes& pic) {
    const std::size_t n = EncodeIcon(icon, pic, out, coordinates, box);
    return std::span<const std::uint8_t>(out).first(n);
  }
  Bytes DecodeOver(int icon, std::span<const std::uint8_t> entry, std::uint8_t background) {
    // Exactly the picture's size: the sanitizer build sees any stray write.
    Bytes pic(kPictureBytes, background);
    DecodeEntry(icon, entry, pic, coordinates, port, Owner::kNone);
    return pic;
  }
};

bool Inside(const CropBox& box, int x, int y) {
  return x >= box.left && x <= box.right && y >= box.top && y <= box.bottom;
}

// Compares a decode over the background 0x5A with what the kind promises.
void CheckOverBackground(const Bytes& original, const Bytes& drawn, const CropBox& box,
                         std::uint8_t kind) {
  for (int y = 0; y < kPictureHeight; ++y) {
    for (int x = 0; x < kPictureWidth; ++x) {
      const std::size_t at = (static_cast<std::size_t>(y) * kPictureWidth + x) * 3;
      const std::uint8_t* o = &original[at];
      const bool black = (o[0] | o[1] | o[2]) == 0;
      for (int k = 0; k < 3; ++k) {
        std::uint8_t want = 0x5A;
        if (Inside(box, x, y)) {
          if (kind == kUnmasked) want = o[k];
          if (kind == kXMasked && !black) want = o[k];
          if (kind == kZeroMasked && o[k] != 0) want = o[k];
        }
        ASSERT_EQ(drawn[at + k], want) << "x " << x << " y " << y << " kind " << int{kind};
      }
    }
  }
}

void RoundTrip(Bytes (*make)(std::mt19937&), std::uint8_t kind, unsigned seed) {
  std::mt19937 rng(seed);
  for (int round = 0; round < 12; ++round) {
    Library lib;
    Bytes pic = make(rng);
    const int icon = 3000 + round;
    const auto entry = lib.Encode(icon, pic);
    ASSERT_GE(entry.size(), 4u);
    ASSERT_EQ(entry[1], kind) << round;
    // Over black the whole picture comes back: inside the box every pixel, outside it
    // there is only black.
    ASSERT_TRUE(lib.DecodeOver(icon, entry, 0) == pic) << round;
    CheckOverBackground(pic, lib.DecodeOver(icon, entry, 0x5A), lib.box, kind);
    ASSERT_TRUE(lib.port.messages.empty());
  }
}

TEST(RoundTrip, UnmaskedRaggedPictures) { RoundTrip(RaggedUnmasked, kUnmasked, 11); }
TEST(RoundTrip, XMaskedRaggedPictures) { RoundTrip(RaggedXMasked, kXMasked, 12); }
TEST(RoundTrip, ZeroMaskedRaggedPictures) { RoundTrip(RaggedZeroMasked, kZeroMasked, 13); }

TEST(RoundTrip, SmoothedPictureComesBackAsSmoothed) {
  std::mt19937 rng(5);
  Library lib;
  Bytes pic(kPictureBytes);
  for (std::size_t i = 0; i < pic.size(); ++i) pic[i] = static_cast<std::uint8_t>(100 + rng() % 8);
  const Bytes before = pic;
  const auto entry = lib.Encode(4000, pic);
  EXPECT_NE(pic, before);  // smoothing acted on the picture in place
  EXPECT_EQ(entry.size(), 4 + kPictureBytes);
  EXPECT_TRUE(lib.DecodeOver(4000, entry, 0) == pic);
}

TEST(RoundTrip, BlackPictureDrawsNothing) {
  Library lib;
  Bytes pic(kPictureBytes, 0);
  const auto entry = lib.Encode(3000, pic);
  EXPECT_EQ(entry.size(), 4u);
  EXPECT_TRUE(lib.DecodeOver(3000, entry, 0x5A) == Bytes(kPictureBytes, 0x5A));
}

TEST(RoundTrip, WidestXMaskedEntryFitsTheLimit) {
  // Every row: a pure red pixel (starting the row black), a full run and one black pixel
  // before the last two, so that the longest counts and three runs meet in each row.
  Library lib;
  Bytes pic(kPictureBytes, 0);
  for (int y = 0; y < kPictureHeight; ++y)
    for (int x = 0; x < kPictureWidth; ++x)
      if (x != 797 && x != 795) PixelOf(pic, x, y)[x == 0 ? 2 : 1] = 9;
  const auto entry = lib.Encode(3000, pic);
  ASSERT_EQ(entry[1], kXMasked);
  EXPECT_LE(entry.size(), kMaxPictureEntry);
  EXPECT_TRUE(lib.DecodeOver(3000, entry, 0) == pic);
}

}  // namespace
}  // namespace zemlo
