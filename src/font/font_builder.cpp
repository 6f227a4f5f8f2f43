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

  CharacterPicture picture(picture_bytes);
  FontWriter font{out};

  int scan = 0;
  while (scan < picture.height()) {
    // The marker row and its mark.
    int marker_row = scan;
    int mark = -1;
    for (; marker_row < picture.height(); ++marker_row) {
      mark = picture.FirstSetInRow(marker_row);
      if (mark >= 0) break;
    }
    if (mark < 0) break;
    picture.ClearRow(marker_row);
    port.Repaint(true);

    // The closing mark straight below. A mark without one ends the build: there is no line
    // to measure, and nothing below it can open another.
    int closing_row = marker_row + 1;
    while (closing_row < picture.height() && !picture.IsSet(mark, closing_row)) ++closing_row;
    if (closing_row >= picture.height()) break;

    const int top = marker_row + 1;
    const int height = closing_row - marker_row - 1;
    if (height > kMaxGlyphHeight) {
      ShowWarningNumber(port, Owner::kMain, kFontTooHighFormat, height);
      return std::nullopt;
    }
    out[3] = static_cast<std::uint8_t>(height);
    // Lines of one row or none end the font: the convention for "no more lines".
    if (height < 2) break;
    picture.ClearRow(closing_row);
    port.Repaint(true);

    const std::size_t rows = static_cast<std::size_t>(height);
    const int next_scan = top + height + 2;
    int x = mark;
    while (x < kPictureWidth) {
      while (x < kPictureWidth && !picture.ColumnHasSet(x, top, height)) ++x;
      if (x >= kPictureWidth) break;

      const std::size_t glyph_offset = font.data_cursor;
      if (glyph_offset > kMaxGlyphOffset) {
        ShowWarningNumber(port, Owner::kMain, kFontTooFarFormat, font.glyphs);
        return std::nullopt;
      }
      if (!font.HasRoom(kGlyphHeaderSize)) {
        ShowWarningNumber(port, Owner::kMain, kFontNoRoomFormat, static_cast<int>(out.size()));
        return std::nullopt;
      }
      out[font.index_cursor] = static_cast<std::uint8_t>(glyph_offset >> 8);
      out[font.index_cursor + 1] = static_cast<std::uint8_t>(glyph_offset & 0xFF);
      font.index_cursor += 2;
      const std::size_t header = font.data_cursor;
      out[header] = 0;
      out[header + 1] = 0;
      font.data_cursor += kGlyphHeaderSize;
      const int glyph = font.glyphs++;

      // Column step: keep each column with a set pixel, mark every column it looks at,
      // including the empty one that ends the glyph. A glyph that reaches the right edge
      // ends there.
      int columns = 0;
      while (x < kPictureWidth) {
        const bool has_set = picture.ColumnHasSet(x, top, height);
        if (has_set) {
          if (columns == kMaxGlyphColumns) {
            ShowWarningNumber(port, Owner::kMain, kFontTooWideFormat, glyph);
            return std::nullopt;
          }
          if (!font.HasRoom(rows)) {
            ShowWarningNumber(port, Owner::kMain, kFontNoRoomFormat,
                              static_cast<int>(out.size()));
            return std::nullopt;
          }
        }
        for (int y = top; y < top + height; ++y) {
          std::uint8_t& blue = picture.Blue(x, y);
          if (has_set) out[font.data_cursor + static_cast<std::size_t>(y - top)] = blue;
          blue = static_cast<std::uint8_t>(blue + kFontConsumedMark);
        }
        ++x;
        if (!has_set) break;
        font.data_cursor += rows;
        ++columns;
      }
      out[header] = static_cast<std::uint8_t>(columns);
      port.Repaint(true);

      // The index is full: the build stops after this glyph. The 128th glyph may well be
      // the last thing drawn; only warn when the picture held more.
      if (font.glyphs == kFontMaxGlyphs) {
        if (PictureHasMore(picture, x, top, height, next_scan)) {
          ShowWarningNumber(port, Owner::kMain, kFontGlyphLimitFormat, kFontMaxGlyphs);
        }
        return font.data_cursor;
      }
    }
    scan = next_scan;
  }
  return font.data_cursor;
}

std::optional<std::size_t> MakeFont(WorkingState& state, std::span<std::uint8_t> out) {
  return MakeFont(state.Picture(), out, state.port);
}

}  // namespace zemlo
