#include "font/font_builder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "font_test_picture.h"
#include "support/recording_port.h"

namespace zemlo {
namespace {

using testing::DrawnPicture;
using testing::RecordingPort;

constexpr std::size_t kOut = kFileBufferSize;

std::vector<std::uint8_t> FontBytes(const std::vector<std::uint8_t>& out, std::size_t length) {
  return {out.begin(), out.begin() + static_cast<std::ptrdiff_t>(length)};
}

// The expected file: header with `height`, the given index entries, zeros to byte 272, glyphs.
std::vector<std::uint8_t> ExpectedFont(std::uint8_t height, const std::vector<std::uint8_t>& index,
                                       const std::vector<std::uint8_t>& glyphs) {
  std::vector<std::uint8_t> file(272 + glyphs.size(), 0);
  file[0] = 'Z';
  file[1] = 'F';
  file[3] = height;
  std::copy(index.begin(), index.end(), file.begin() + 16);
  std::copy(glyphs.begin(), glyphs.end(), file.begin() + 272);
  return file;
}

// Two text lines drawn by hand. Line 1: marker row 10, mark in column 20, closing mark in row
// 14 (height 3, glyph rows 11-13). Line 2: marker row 30, mark in column 3, closing mark in
// row 35 (height 4, glyph rows 31-34), its last glyph against the right edge.
void DrawTwoLines(DrawnPicture& p) {
  p.Set(20, 10, 255, 255, 255);  // the mark
  p.Set(100, 10, 40, 50, 60);    // more of the marker row, cleared with it
  p.Set(20, 14, 255);            // closing mark
  p.Set(60, 14, 90, 91, 92);     // shares the closing row, cleared with it
  // Glyph A, columns 22-23; a blue-7 red-255 pixel inside it is kept as 7.
  p.Set(22, 11, 200);
  p.Set(22, 13, 9, 1, 2);
  p.Set(23, 11, 7, 0, 255);
  p.Set(23, 12, 255);
  // Column 24 holds only background (blue 7, red 255): it separates A from B.
  p.Set(24, 12, 7, 0, 255);
  // Glyph B, column 25: blue 8 is the smallest set value.
  p.Set(25, 13, 8);
  // One row below the closing mark: never seen as a marker.
  p.Set(5, 15, 77);

  p.Set(3, 30, 33);  // mark
  p.Set(3, 35, 33);  // closing mark
  p.Set(2, 32, 50);  // left of the mark: not part of any glyph
  // Glyph C, columns 5-7.
  p.Set(5, 31, 10);
  p.Set(6, 32, 20);
  p.Set(7, 33, 30);
  p.Set(7, 34, 40);
  // Glyph D, column 9, full height.
  for (int y = 31; y <= 34; ++y) p.Set(9, y, 99);
  // Glyph E, columns 798-799: ends at the right edge.
  p.Set(798, 31, 12);
  p.Set(799, 34, 13);
}

const std::vector<std::uint8_t> kTwoLinesIndex = {0x01, 0x10, 0x01, 0x18, 0x01,
                                                  0x1D, 0x01, 0x2B, 0x01, 0x31};
const std::vector<std::uint8_t> kTwoLinesGlyphs = {
    // A: 2 columns of 3
    0x02, 0x00, 0xC8, 0x00, 0x09, 0x07, 0xFF, 0x00,
    // B: 1 column
    0x01, 0x00, 0x00, 0x00, 0x08,
    // C: 3 columns of 4
    0x03, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x14, 0x00, 0x00, 0x00, 0x00, 0x1E, 0x28,
    // D: 1 column
    0x01, 0x00, 0x63, 0x63, 0x63, 0x63,
    // E: 2 columns, the last one is column 799
    0x02, 0x00, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0D};

TEST(MakeFont, HandDrawnLinesGiveTheExpectedFile) {
  DrawnPicture picture;
  DrawTwoLines(picture);
  RecordingPort port;
  std::vector<std::uint8_t> out(kOut, 0xEE);

  const auto length = MakeFont(picture.span(), out, port);

  ASSERT_TRUE(length.has_value());
  EXPECT_EQ(*length, 315u);
  EXPECT_EQ(FontBytes(out, *length), ExpectedFont(4, kTwoLinesIndex, kTwoLinesGlyphs));
  EXPECT_TRUE(port.messages.empty());
}

TEST(MakeFont, ConsumesThePictureAsItGoes) {
  DrawnPicture picture;
  DrawTwoLines(picture);
  RecordingPort port;
  std::vector<std::uint8_t> out(kOut);
  ASSERT_TRUE(MakeFont(picture.span(), out, port).has_value());

  // Marker rows and closing-mark rows are black, all three bytes.
  for (int row : {10, 14, 30, 35}) EXPECT_TRUE(picture.RowIsBlack(row)) << row;
  // Glyph pixels carry +128 on blue only.
  EXPECT_EQ(picture.Blue(22, 11), 72);
  EXPECT_EQ(picture.Blue(22, 13), 137);
  EXPECT_EQ(picture.Blue(23, 11), 135);
  EXPECT_EQ(picture.Red(23, 11), 255);
  EXPECT_EQ(picture.Blue(23, 12), 127);
  EXPECT_EQ(picture.Blue(23, 13), 128);  // background inside a glyph column
  // The empty column ending a glyph is marked too; the gap before a glyph is not.
  EXPECT_EQ(picture.Blue(24, 11), 128);
  EXPECT_EQ(picture.Blue(24, 12), 135);
  EXPECT_EQ(picture.Blue(26, 12), 128);
  EXPECT_EQ(picture.Blue(21, 12), 0);
  EXPECT_EQ(picture.Blue(27, 12), 0);
  EXPECT_EQ(picture.Blue(799, 34), 141);
  // Pixels outside the glyph area stay as drawn.
  EXPECT_EQ(picture.Blue(5, 15), 77);
  EXPECT_EQ(picture.Blue(2, 32), 50);
}

// Looks at the picture at each repaint, to see that the window is shown each step.
class SnapshotPort : public RecordingPort {
 public:
  explicit SnapshotPort(const DrawnPicture& picture) : picture_(picture) {}
  void Repaint(bool erase) override {
    RecordingPort::Repaint(erase);
    marker_row_black.push_back(picture_.RowIsBlack(10));
    closing_row_black.push_back(picture_.RowIsBlack(14));
    glyph_a_blue.push_back(picture_.Blue(22, 11));
    glyph_b_blue.push_back(picture_.Blue(25, 13));
  }
  std::vector<bool> marker_row_black, closing_row_black;
  std::vector<int> glyph_a_blue, glyph_b_blue;

 private:
  const DrawnPicture& picture_;
};

TEST(MakeFont, RepaintsWithEraseAfterEachRowClearedAndEachGlyph) {
  DrawnPicture picture;
  DrawTwoLines(picture);
  SnapshotPort port(picture);
  std::vector<std::uint8_t> out(kOut);
  ASSERT_TRUE(MakeFont(picture.span(), out, port).has_value());

  // Line 1: marker row, closing row, A, B; line 2: marker row, closing row, C, D, E.
  ASSERT_EQ(port.repaints.size(), 9u);
  for (const auto& r : port.repaints) EXPECT_TRUE(r.erase);
  EXPECT_EQ(port.marker_row_black,
            (std::vector<bool>{true, true, true, true, true, true, true, true, true}));
  EXPECT_FALSE(port.closing_row_black[0]);
  EXPECT_TRUE(port.closing_row_black[1]);
  EXPECT_EQ(port.glyph_a_blue, (std::vector<int>{200, 200, 72, 72, 72, 72, 72, 72, 72}));
  EXPECT_EQ(port.glyph_b_blue, (std::vector<int>{8, 8, 8, 136, 136, 136, 136, 136, 136}));
}

TEST(MakeFont, WorkingStateOverloadUsesItsPictureAndPort) {
  RecordingPort port;
  WorkingState state(port);
  DrawnPicture picture;
  DrawTwoLines(picture);
  std::copy(picture.bytes().begin(), picture.bytes().end(), state.Picture().begin());

  const auto length = MakeFont(state, state.file.span());

  ASSERT_TRUE(length.has_value());
  EXPECT_EQ(std::vector<std::uint8_t>(state.file.data(), state.file.data() + *length),
            ExpectedFont(4, kTwoLinesIndex, kTwoLinesGlyphs));
  EXPECT_EQ(port.repaints.size(), 9u);
}

TEST(MakeFont, PictureWithoutSetPixelsGivesAnEmptyFont) {
  DrawnPicture picture;
  // Blue 0-7 is background whatever green and red hold.
  for (int x = 0; x < 800; x += 7) picture.Set(x, (x * 3) % 600, 7, 255, 255);
  RecordingPort port;
  std::vector<std::uint8_t> out(kOut, 0xEE);

  const auto length = MakeFont(picture.span(), out, port);

  ASSERT_TRUE(length.has_value());
  EXPECT_EQ(*length, 272u);
  EXPECT_EQ(FontBytes(out, 272), ExpectedFont(0, {}, {}));
  // The first 1000 bytes are cleared; the rest of the buffer is left alone.
  EXPECT_EQ(out[999], 0);
  EXPECT_EQ(out[1000], 0xEE);
  EXPECT_TRUE(port.repaints.empty());
}

TEST(MakeFont, LinesOfHeightZeroOrOneEndTheBuild) {
  for (int d : {1, 2}) {
    SCOPED_TRACE(d);
    DrawnPicture picture;
    picture.Set(40, 100, 200);      // mark
    picture.Set(40, 100 + d, 200);  // closing mark d rows below
    picture.Set(50, 101, 200);      // would be a glyph if the line went on
    picture.Set(40, 300, 200);      // a later line: never reached
    picture.Set(40, 310, 200);
    picture.Set(45, 305, 200);
    RecordingPort port;
    std::vector<std::uint8_t> out(kOut);

    const auto length = MakeFont(picture.span(), out, port);

    ASSERT_TRUE(length.has_value());
    EXPECT_EQ(*length, 272u);
    EXPECT_EQ(FontBytes(out, 272), ExpectedFont(static_cast<std::uint8_t>(d - 1), {}, {}));
    // Only the marker row was cleared; the closing mark and everything below stay.
    EXPECT_TRUE(picture.RowIsBlack(100));
    EXPECT_EQ(picture.Blue(40, 100 + d), 200);
    EXPECT_EQ(picture.Blue(50, 101), 200);
    EXPECT_EQ(picture.Blue(40, 300), 200);
    EXPECT_EQ(port.repaints.size(), 1u);
  }
}

TEST(MakeFont, HeightByteIsTheLastLineMeasured) {
  // A line of height 10 whose glyph of 3 columns takes 2 + 30 bytes, then a line ended by a
  // mark straight below its marker row: the height byte drops to 0, the glyphs stay.
  DrawnPicture picture;
  picture.Set(0, 0, 9);
  picture.Set(0, 11, 9);
  for (int x = 1; x <= 3; ++x) picture.Set(x, x, static_cast<std::uint8_t>(100 + x));
  picture.Set(5, 10, 55);
  picture.Set(10, 20, 9);
  picture.Set(10, 21, 9);
  RecordingPort port;
  std::vector<std::uint8_t> out(kOut);

  const auto length = MakeFont(picture.span(), out, port);

  ASSERT_TRUE(length.has_value());
  const std::vector<std::uint8_t> first = {
      3,   0,                               // header: 3 columns
      101, 0,   0,   0, 0, 0, 0, 0, 0, 0,   // column 1, rows 1-10
      0,   102, 0,   0, 0, 0, 0, 0, 0, 0,   // column 2
      0,   0,   103, 0, 0, 0, 0, 0, 0, 0};  // column 3
  const std::vector<std::uint8_t> second = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 55};
  std::vector<std::uint8_t> glyphs = first;
  glyphs.insert(glyphs.end(), second.begin(), second.end());
  // The second glyph starts 32 bytes after the first: 272 + 32 = 0x130.
  EXPECT_EQ(FontBytes(out, *length), ExpectedFont(0, {0x01, 0x10, 0x01, 0x30}, glyphs));
}

TEST(MakeFont, NextMarkerIsSearchedTwoRowsBelowTheClosingMark) {
  for (int gap : {1, 2}) {
    SCOPED_TRACE(gap);
    DrawnPicture picture;
    picture.Set(10, 0, 200);
    picture.Set(10, 3, 200);  // closing mark in row 3, height 2
    picture.Set(12, 1, 21);   // glyph
    // A second line whose marker row is `gap` rows below the closing mark.
    const int marker = 3 + gap;
    picture.Set(30, marker, 200);
    picture.Set(30, marker + 3, 200);
    picture.Set(31, marker + 1, 22);
    picture.Set(31, marker + 2, 23);
    RecordingPort port;
    std::vector<std::uint8_t> out(kOut);

    const auto length = MakeFont(picture.span(), out, port);

    ASSERT_TRUE(length.has_value());
    if (gap == 1) {
      // Row 4 is skipped: the scan resumes at row 5 inside the would-be line, where the glyph
      // pixel of row 5 becomes a marker whose column holds a pixel in row 6 one row below.
      EXPECT_EQ(FontBytes(out, *length), ExpectedFont(0, {0x01, 0x10}, {0x01, 0x00, 21, 0}));
      EXPECT_EQ(picture.Blue(30, 4), 200);  // the missed mark is untouched
    } else {
      EXPECT_EQ(FontBytes(out, *length),
                ExpectedFont(2, {0x01, 0x10, 0x01, 0x14}, {0x01, 0x00, 21, 0, 0x01, 0x00, 22, 23}));
    }
  }
}

}  // namespace
}  // namespace zemlo
