#include "font/font_builder.h"

#include <algorithm>
#include <cstring>

#include "core/geometry.h"
#include "core/status.h"

namespace zemlo {
namespace {

// One byte holds a glyph's column count and the font's height; two bytes an index entry.
constexpr int kMaxGlyphColumns = 255;
constexpr int kMaxGlyphHeight = 255;
constexpr std::size_t kMaxGlyphOffset = 0xFFFF;
constexpr std::size_t kGlyphHeaderSize = 2;

// The picture as rows of blue-green-red pixels; `height` rows are present in the buffer.
class CharacterPicture {
 public:
  explicit CharacterPicture(std::span<std::uint8_t> bytes)
      : bytes_(bytes),
        height_(static_cast<int>(
            std::min<std::size_t>(kPictureHeight, bytes.size() / std::size_t{kRowBytes}))) {}

  int height() const { return height_; }

  std::uint8_t& Blue(int x, int y) {
    return bytes_[static_cast<std::size_t>(y) * kRowBytes + static_cast<std::size_t>(x) * 3];
  }
  bool IsSet(int x, int y) { return Blue(x, y) >= kFontSetThreshold; }

  // Leftmost set pixel of row y, or -1.
  int FirstSetInRow(int y) {
    for (int x = 0; x < kPictureWidth; ++x) {
      if (IsSet(x, y)) return x;
    }
    return -1;
  }
  bool RowHasSet(int y) { return FirstSetInRow(y) >= 0; }

  // Whether column x has a set pixel among the `rows` rows from `top`.
  bool ColumnHasSet(int x, int top, int rows) {
    for (int y = top; y < top + rows; ++y) {
      if (IsSet(x, y)) return true;
    }
    return false;
  }

  void ClearRow(int y) {
    std::memset(bytes_.data() + static_cast<std::size_t>(y) * kRowBytes, 0, kRowBytes);
  }

 private:
  std::span<std::uint8_t> bytes_;
  int height_;
};

struct FontWriter {
  std::span<std::uint8_t> out;
  std::size_t index_cursor = kFontIndexStart;
  std::size_t data_cursor = kFontGlyphStart;
  int glyphs = 0;

  bool HasRoom(std::size_t bytes) const {
    return data_cursor <= out.size() && bytes <= out.size() - data_cursor;
  }
};

// Whether anything that could make another glyph is left once the glyph limit is reached:
// a further glyph column in the current line, or any set pixel below it.
bool PictureHasMore(CharacterPicture& picture, int x, int top, int rows, int next_scan) {
  for (; x < kPictureWidth; ++x) {
    if (picture.ColumnHasSet(x, top, rows)) return true;
  }
  for (int y = next_scan; y < picture.height(); ++y) {
    if (picture.RowHasSet(y)) return true;
  }
  return false;
}

// How a step of the build ends: go on with the next step, the line has no more glyphs, the
// font is complete, or it cannot be stored in the format (a warning was shown).
enum class Step { kGoOn, kLineEnd, kDone, kRefused };

// One text line: the mark's column, its glyph rows, and where the search for the next line
// starts (past the closing-mark row and the spare row below it).
struct TextLine {
  int mark = 0;
  int top = 0;
  int height = 0;
  int next_scan = 0;
};

// The build reads the picture line by line, glyph by glyph, column by column; each step
// consumes what it read from the picture so the window shows the progress.
class FontBuilder {
 public:
  FontBuilder(std::span<std::uint8_t> picture, std::span<std::uint8_t> out, StatusPort& port)
      : picture_(picture), out_(out), port_(port), font_{out} {}

  std::optional<std::size_t> Build() {
    int scan = 0;
    while (scan < picture_.height()) {
      TextLine line;
      if (const Step found = FindLineMarks(scan, line); found != Step::kGoOn) {
        return Finish(found);
      }
      int x = line.mark;
      for (;;) {
        const Step glyph = CopyGlyph(line, x);
        if (glyph == Step::kLineEnd) break;
        if (glyph != Step::kGoOn) return Finish(glyph);
      }
      scan = line.next_scan;
    }
    return font_.data_cursor;
  }

 private:
  std::optional<std::size_t> Finish(Step step) const {
    if (step == Step::kRefused) return std::nullopt;
    return font_.data_cursor;
  }

  Step Refuse(NumberFormat format, int value) {
    ShowWarningNumber(port_, Owner::kMain, format, value);
    return Step::kRefused;
  }
  Step RefuseNoRoom() { return Refuse(kFontNoRoomFormat, static_cast<int>(out_.size())); }

  // The marker row at or below `scan`, the closing mark straight below its mark, and the
  // rows between them. Both mark rows are cleared. A mark without a closing one ends the
  // build: there is no line to measure, and nothing below it can open another.
  Step FindLineMarks(int scan, TextLine& line) {
    int marker_row = scan;
    int mark = -1;
    for (; marker_row < picture_.height(); ++marker_row) {
      mark = picture_.FirstSetInRow(marker_row);
      if (mark >= 0) break;
    }
    if (mark < 0) return Step::kDone;
    picture_.ClearRow(marker_row);
    port_.Repaint(true);

    int closing_row = marker_row + 1;
    while (closing_row < picture_.height() && !picture_.IsSet(mark, closing_row)) ++closing_row;
    if (closing_row >= picture_.height()) return Step::kDone;

    const int height = closing_row - marker_row - 1;
    if (height > kMaxGlyphHeight) return Refuse(kFontTooHighFormat, height);
    out_[3] = static_cast<std::uint8_t>(height);
    // Lines of one row or none end the font: the convention for "no more lines".
    if (height < 2) return Step::kDone;
    picture_.ClearRow(closing_row);
    port_.Repaint(true);
    line = {mark, marker_row + 1, height, marker_row + 1 + height + 2};
    return Step::kGoOn;
  }

  // The next glyph of the line from column `x` on: its index entry, header and columns.
  Step CopyGlyph(const TextLine& line, int& x) {
    while (x < kPictureWidth && !picture_.ColumnHasSet(x, line.top, line.height)) ++x;
    if (x >= kPictureWidth) return Step::kLineEnd;

    const std::size_t header = font_.data_cursor;
    if (header > kMaxGlyphOffset) return Refuse(kFontTooFarFormat, font_.glyphs);
    if (!font_.HasRoom(kGlyphHeaderSize)) return RefuseNoRoom();
    out_[font_.index_cursor] = static_cast<std::uint8_t>(header >> 8);
    out_[font_.index_cursor + 1] = static_cast<std::uint8_t>(header & 0xFF);
    font_.index_cursor += 2;
    out_[header] = 0;
    out_[header + 1] = 0;
    font_.data_cursor += kGlyphHeaderSize;
    const int glyph = font_.glyphs++;

    int columns = 0;
    if (CopyColumns(line, x, glyph, columns) == Step::kRefused) return Step::kRefused;
    out_[header] = static_cast<std::uint8_t>(columns);
    port_.Repaint(true);

    // The index is full: the build stops after this glyph. The 128th glyph may well be the
    // last thing drawn; only warn when the picture held more.
    if (font_.glyphs == kFontMaxGlyphs) {
      if (PictureHasMore(picture_, x, line.top, line.height, line.next_scan)) {
        ShowWarningNumber(port_, Owner::kMain, kFontGlyphLimitFormat, kFontMaxGlyphs);
      }
      return Step::kDone;
    }
    return Step::kGoOn;
  }

  // Keeps each column with a set pixel and marks every column it looks at, including the
  // empty one that ends the glyph. A glyph that reaches the right edge ends there.
  Step CopyColumns(const TextLine& line, int& x, int glyph, int& columns) {
    const std::size_t rows = static_cast<std::size_t>(line.height);
    while (x < kPictureWidth) {
      const bool has_set = picture_.ColumnHasSet(x, line.top, line.height);
      if (has_set) {
        if (columns == kMaxGlyphColumns) return Refuse(kFontTooWideFormat, glyph);
        if (!font_.HasRoom(rows)) return RefuseNoRoom();
      }
      for (int y = line.top; y < line.top + line.height; ++y) {
        std::uint8_t& blue = picture_.Blue(x, y);
        if (has_set) out_[font_.data_cursor + static_cast<std::size_t>(y - line.top)] = blue;
        blue = static_cast<std::uint8_t>(blue + kFontConsumedMark);
      }
      ++x;
      if (!has_set) break;
      font_.data_cursor += rows;
      ++columns;
    }
    return Step::kGoOn;
  }

  CharacterPicture picture_;
  std::span<std::uint8_t> out_;
  StatusPort& port_;
  FontWriter font_;
};

}  // namespace

std::optional<std::size_t> MakeFont(std::span<std::uint8_t> picture_bytes,
                                    std::span<std::uint8_t> out, StatusPort& port) {
  if (out.size() < kFontGlyphStart) {
    ShowWarningNumber(port, Owner::kMain, kFontNoRoomFormat, static_cast<int>(out.size()));
    return std::nullopt;
  }
  std::fill_n(out.begin(), std::min(out.size(), kFontClearedBytes), std::uint8_t{0});
  out[0] = 'Z';
  out[1] = 'F';
  out[2] = 0;
  return FontBuilder(picture_bytes, out, port).Build();
}

std::optional<std::size_t> MakeFont(WorkingState& state, std::span<std::uint8_t> out) {
  return MakeFont(state.Picture(), out, state.port);
}

}  // namespace zemlo
