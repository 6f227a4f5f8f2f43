// Pictures the font format cannot hold, and pictures that run into the picture's edges.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "font/font_builder.h"
#include "font_test_picture.h"
#include "support/recording_port.h"

namespace zemlo {
namespace {

using testing::DrawnPicture;
using testing::RecordingPort;

int IndexEntry(const std::vector<std::uint8_t>& out, int k) {
  return out[16 + 2 * k] * 256 + out[17 + 2 * k];
}

// A line of height 2 (marker row `row`, mark in column 0) with one-column glyphs at columns
// 1, 3, 5, ...; glyph k holds blue 8 + k in its top row.
void DrawDotLine(DrawnPicture& p, int row, int glyphs, int first_value) {
  p.Set(0, row, 200);
  p.Set(0, row + 3, 200);
  for (int k = 0; k < glyphs; ++k) {
    p.Set(1 + 2 * k, row + 1, static_cast<std::uint8_t>(8 + first_value + k));
  }
}

TEST(MakeFontLimits, StoresAtMost128Glyphs) {
  struct Case {
    const char* name;
    std::vector<int> lines;  // glyphs per line
    bool warned;
  };
  const Case cases[] = {
      {"exactly 128 over two lines", {100, 28}, false},
      {"a third line beyond 128", {100, 28, 5}, true},
      {"130 in one line", {130}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DrawnPicture picture;
    int value = 0;
    for (std::size_t line = 0; line < c.lines.size(); ++line) {
      DrawDotLine(picture, 10 * static_cast<int>(line), c.lines[line], value);
      value += c.lines[line];
    }
    RecordingPort port;
    std::vector<std::uint8_t> out(kFileBufferSize);

    const auto length = MakeFont(picture.span(), out, port);

    ASSERT_TRUE(length.has_value());
    EXPECT_EQ(*length, 784u);  // 272 + 128 glyphs of 2 + 2 bytes
    EXPECT_EQ(IndexEntry(out, 0), 0x0110);
    EXPECT_EQ(IndexEntry(out, 127), 0x030C);
    // Glyph 127, the last stored, is the 128th dot drawn.
    EXPECT_EQ(out[780], 1);
    EXPECT_EQ(out[782], 8 + 127);
    if (c.warned) {
      ASSERT_EQ(port.messages.size(), 1u);
      EXPECT_EQ(port.messages[0].text,
                "Only the first 128 glyphs fit the font; the rest of the picture was left out.");
      EXPECT_EQ(port.messages[0].caption, "ZCreate");
      EXPECT_EQ(port.messages[0].owner, Owner::kMain);
    } else {
      EXPECT_TRUE(port.messages.empty());
    }
  }
}

TEST(MakeFontLimits, BuildStopsRightAfterThe128thGlyph) {
  DrawnPicture picture;
  DrawDotLine(picture, 0, 130, 0);
  DrawDotLine(picture, 20, 3, 0);
  RecordingPort port;
  std::vector<std::uint8_t> out(kFileBufferSize);
  ASSERT_TRUE(MakeFont(picture.span(), out, port).has_value());
  // Glyph 128 (column 257) and the next line are left as drawn.
  EXPECT_EQ(picture.Blue(257, 1), 8 + 128);
  EXPECT_EQ(picture.Blue(0, 20), 200);
  EXPECT_EQ(picture.Blue(255, 1), (8 + 127 + 128) & 0xFF);
}

TEST(MakeFontLimits, HeightOf255IsStored256IsRefused) {
  for (int height : {255, 256}) {
    SCOPED_TRACE(height);
    DrawnPicture picture;
    picture.Set(0, 0, 200);
    picture.Set(0, height + 1, 200);
    picture.Set(1, 1, 9);
    picture.Set(1, height, 10);
    RecordingPort port;
    std::vector<std::uint8_t> out(kFileBufferSize);

    const auto length = MakeFont(picture.span(), out, port);

    if (height == 255) {
      ASSERT_TRUE(length.has_value());
      EXPECT_EQ(*length, 272u + 2 + 255);
      EXPECT_EQ(out[3], 255);
      EXPECT_EQ(out[272], 1);
      EXPECT_EQ(out[274], 9);
      EXPECT_EQ(out[274 + 254], 10);
      EXPECT_TRUE(port.messages.empty());
    } else {
      EXPECT_FALSE(length.has_value());
      ASSERT_EQ(port.messages.size(), 1u);
      EXPECT_EQ(port.messages[0].text, "Font not built: line height 256 is above 255 rows.");
      EXPECT_EQ(port.messages[0].caption, "ZCreate");
    }
  }
}

TEST(MakeFontLimits, WidthOf255IsStored256IsRefused) {
  for (int width : {255, 256}) {
    SCOPED_TRACE(width);
    DrawnPicture picture;
    picture.Set(0, 0, 200);
    picture.Set(0, 3, 200);
    for (int x = 1; x <= width; ++x) picture.Set(x, 2, 50);
    RecordingPort port;
    std::vector<std::uint8_t> out(kFileBufferSize);

    const auto length = MakeFont(picture.span(), out, port);

    if (width == 255) {
      ASSERT_TRUE(length.has_value());
      EXPECT_EQ(*length, 272u + 2 + 2 * 255);
      EXPECT_EQ(out[272], 255);
      EXPECT_EQ(out[273], 0);
      EXPECT_EQ(out[275], 50);
      EXPECT_EQ(out[272 + 2 + 2 * 254 + 1], 50);
    } else {
      EXPECT_FALSE(length.has_value());
      ASSERT_EQ(port.messages.size(), 1u);
      EXPECT_EQ(port.messages[0].text, "Font not built: glyph 0 is wider than 255 columns.");
    }
  }
}

TEST(MakeFontLimits, GlyphStartingBeyondTheTwoByteIndexIsRefused) {
  // Height 255: glyph 0 of 255 columns ends at 272 + 2 + 255 * 255 = 65299; glyph 1 of one
  // column starts there (index FF 13) and ends at 65556, where glyph 2 cannot be indexed.
  for (bool third : {false, true}) {
    SCOPED_TRACE(third);
    DrawnPicture picture;
    picture.Set(0, 0, 200);
    picture.Set(0, 256, 200);
    for (int x = 10; x < 10 + 255; ++x) picture.Set(x, 1 + (x % 255), 30);
    picture.Set(267, 100, 31);
    if (third) picture.Set(270, 100, 32);
    RecordingPort port;
    std::vector<std::uint8_t> out(kFileBufferSize);

    const auto length = MakeFont(picture.span(), out, port);

    if (!third) {
      ASSERT_TRUE(length.has_value());
      EXPECT_EQ(*length, 65556u);
      EXPECT_EQ(IndexEntry(out, 0), 0x0110);
      EXPECT_EQ(out[18], 0xFF);
      EXPECT_EQ(out[19], 0x13);
      EXPECT_EQ(out[65299], 1);
      EXPECT_EQ(out[65299 + 2 + 99], 31);
    } else {
      EXPECT_FALSE(length.has_value());
      ASSERT_EQ(port.messages.size(), 1u);
      EXPECT_EQ(port.messages[0].text, "Font not built: glyph 2 would start beyond byte 65535.");
    }
  }
}

TEST(MakeFontLimits, NeverWritesPastASmallOutputBuffer) {
  // Two lines whose font takes 315 bytes, built into buffers that are too small for it.
  for (std::size_t size : {std::size_t{100}, std::size_t{300}}) {
    SCOPED_TRACE(size);
    DrawnPicture picture;
    picture.Set(20, 10, 255);
    picture.Set(20, 14, 255);
    for (int x = 22; x < 60; x += 2) picture.Set(x, 12, 100);
    std::vector<std::uint8_t> guarded(size + 64, 0xA5);
    RecordingPort port;

    const auto length = MakeFont(picture.span(), std::span(guarded).first(size), port);

    EXPECT_FALSE(length.has_value());
    for (std::size_t i = size; i < guarded.size(); ++i) ASSERT_EQ(guarded[i], 0xA5) << i;
    ASSERT_EQ(port.messages.size(), 1u);
    EXPECT_EQ(port.messages[0].text,
              "Font not built: it does not fit its " + std::to_string(size) + " byte buffer.");
  }
}

TEST(MakeFontEdges, MarkWithoutClosingMarkEndsTheBuild) {
  for (int mark_row : {500, 599}) {
    SCOPED_TRACE(mark_row);
    DrawnPicture picture;
    picture.Set(0, 0, 200);
    picture.Set(0, 5, 200);
    picture.Set(2, 2, 60);
    picture.Set(300, mark_row, 90);  // no closing mark below it in column 300
    if (mark_row < 599) picture.Set(301, mark_row + 1, 91);  // another column: not a mark
    RecordingPort port;
    std::vector<std::uint8_t> out(kFileBufferSize);

    const auto length = MakeFont(picture.span(), out, port);

    ASSERT_TRUE(length.has_value());
    EXPECT_EQ(*length, 272u + 2 + 4);
    EXPECT_EQ(out[3], 4);  // from the first line
    EXPECT_TRUE(picture.RowIsBlack(mark_row));
    if (mark_row < 599) {
      EXPECT_EQ(picture.Blue(301, mark_row + 1), 91);
    }
    EXPECT_TRUE(port.messages.empty());
  }
}

TEST(MakeFontEdges, GlyphAgainstTheRightEdgeEndsThere) {
  // A one-column glyph in the last column, right of a mark in the column before it.
  DrawnPicture picture;
  picture.Set(798, 0, 200);
  picture.Set(798, 4, 200);
  picture.Set(799, 1, 201);
  picture.Set(799, 3, 202);
  // A second line after it is still read.
  picture.Set(0, 10, 200);
  picture.Set(0, 13, 200);
  picture.Set(5, 11, 203);
  RecordingPort port;
  std::vector<std::uint8_t> out(kFileBufferSize);

  const auto length = MakeFont(picture.span(), out, port);

  ASSERT_TRUE(length.has_value());
  std::vector<std::uint8_t> tail(out.begin() + 272, out.begin() + static_cast<long>(*length));
  EXPECT_EQ(tail, (std::vector<std::uint8_t>{1, 0, 201, 0, 202, 1, 0, 203, 0}));
  EXPECT_EQ(IndexEntry(out, 0), 0x0110);
  EXPECT_EQ(IndexEntry(out, 1), 0x0115);
  EXPECT_EQ(out[3], 2);
  EXPECT_EQ(picture.Blue(799, 1), (201 + 128) & 0xFF);
  // Repaints: two rows and one glyph for each line.
  EXPECT_EQ(port.repaints.size(), 6u);
}

// Lines of random glyphs drawn from a list of columns; the font must hold exactly those
// columns, glyph by glyph, whatever the background pixels' green and red bytes are.
TEST(MakeFontEdges, RandomGlyphLinesComeBackColumnForColumn) {
  std::mt19937 rng(20240611);
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    DrawnPicture picture;
    std::vector<std::vector<std::vector<std::uint8_t>>> glyphs;  // glyph, column, row
    int row = static_cast<int>(rng() % 20);
    int last_height = 0;
    while (glyphs.size() < 100) {
      const int height = 2 + static_cast<int>(rng() % 30);
      if (row + height + 2 >= kPictureHeight) break;
      const int mark = static_cast<int>(rng() % 100);
      picture.Set(mark, row, static_cast<std::uint8_t>(8 + rng() % 248));
      picture.Set(mark, row + height + 1, static_cast<std::uint8_t>(8 + rng() % 248));
      int x = mark + 1 + static_cast<int>(rng() % 3);
      while (glyphs.size() < 100) {
        const int width = 1 + static_cast<int>(rng() % 9);
        if (x + width >= kPictureWidth) break;
        std::vector<std::vector<std::uint8_t>> glyph;
        for (int c = 0; c < width; ++c, ++x) {
          std::vector<std::uint8_t> column(static_cast<std::size_t>(height));
          for (auto& b : column) b = (rng() % 3 == 0) ? 8 + rng() % 248 : rng() % 8;
          column[rng() % column.size()] = static_cast<std::uint8_t>(8 + rng() % 248);
          for (int y = 0; y < height; ++y) {
            picture.Set(x, row + 1 + y, column[static_cast<std::size_t>(y)], 0,
                        static_cast<std::uint8_t>(rng()));
          }
          glyph.push_back(column);
        }
        glyphs.push_back(glyph);
        // Separating columns hold background only.
        const int gap = 1 + static_cast<int>(rng() % 3);
        for (int g = 0; g < gap && x < kPictureWidth; ++g, ++x) {
          picture.Set(x, row + 1 + static_cast<int>(rng() % height),
                      static_cast<std::uint8_t>(rng() % 8), 255, 255);
        }
      }
      last_height = height;
      row += height + 3 + static_cast<int>(rng() % 6);  // two below the closing mark
    }
    RecordingPort port;
    std::vector<std::uint8_t> out(kFileBufferSize);

    const auto length = MakeFont(picture.span(), out, port);

    ASSERT_TRUE(length.has_value());
    EXPECT_EQ(out[3], last_height);
    std::size_t at = 272;
    for (std::size_t k = 0; k < 128; ++k) {
      if (k >= glyphs.size()) {
        EXPECT_EQ(IndexEntry(out, static_cast<int>(k)), 0);
        continue;
      }
      ASSERT_EQ(static_cast<std::size_t>(IndexEntry(out, static_cast<int>(k))), at) << k;
      ASSERT_EQ(out[at], glyphs[k].size()) << k;
      EXPECT_EQ(out[at + 1], 0);
      at += 2;
      for (const auto& column : glyphs[k]) {
        ASSERT_TRUE(std::equal(column.begin(), column.end(), out.begin() + static_cast<long>(at)))
            << "glyph " << k;
        at += column.size();
      }
    }
    EXPECT_EQ(*length, at);
  }
}

}  // namespace
}  // namespace zemlo
