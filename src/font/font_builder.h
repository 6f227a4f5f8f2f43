// Cuts a picture of characters into glyphs and builds a font file from them.
//
// The picture convention between the artist and the builder: each text line opens with a
// marker row whose leftmost set pixel (the mark) has a second mark straight below it; the
// rows between the two are the glyph rows. Glyphs are runs of columns with a set pixel
// among the glyph rows, separated by empty columns. A pixel is set when its blue byte is 8
// or more, whatever its green and red bytes hold.
//
// Font file: "ZF", 0, height byte, 12 zero bytes, then 128 big-endian 2-byte index entries
// (offset of each glyph's header, 0 for no glyph) from byte 16, then the glyphs from byte 272:
// each a header (column count, 0) and its columns top to bottom, one blue byte per pixel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "core/message_format.h"
#include "core/status_port.h"
#include "core/working_state.h"

namespace zemlo {

inline constexpr std::size_t kFontIndexStart = 16;
inline constexpr std::size_t kFontGlyphStart = 272;  // after 128 index entries of 2 bytes
inline constexpr int kFontMaxGlyphs = 128;
// The builder clears this much of the output before it starts; the index lies inside it.
inline constexpr std::size_t kFontClearedBytes = 1000;
// Blue bytes below this are background.
inline constexpr std::uint8_t kFontSetThreshold = 8;
// Consumed glyph pixels are marked by adding this to their blue byte (modulo 256).
inline constexpr std::uint8_t kFontConsumedMark = 128;

// Refusal texts (caption "ZCreate", owner the main window). The picture then shows what was
// consumed up to the refusal; nothing is saved.
inline constexpr NumberFormat kFontTooHighFormat =
    "Font not built: line height %i is above 255 rows.";
inline constexpr NumberFormat kFontTooWideFormat =
    "Font not built: glyph %i is wider than 255 columns.";
inline constexpr NumberFormat kFontTooFarFormat =
    "Font not built: glyph %i would start beyond byte 65535.";
inline constexpr NumberFormat kFontNoRoomFormat =
    "Font not built: it does not fit its %i byte buffer.";
// Not a refusal: the font keeps its first 128 glyphs and is saved.
inline constexpr NumberFormat kFontGlyphLimitFormat =
    "Only the first %i glyphs fit the font; the rest of the picture was left out.";

// Builds the font file from `picture` (800 x 600, blue-green-red) into `out` and returns its
// length (272 or more), or nullopt when the picture cannot be stored in the format (a warning
// was shown). Clears the marker rows and the closing-mark rows, marks every consumed glyph
// column (+128) and asks `port` to repaint (with erase) after each row cleared and each glyph,
// so the window shows the picture being consumed. Never writes outside `picture` or `out`;
// the largest font the format can hold (a glyph of 255 x 255 starting at byte 65535) ends
// before byte 130,562, far inside the file buffer.
std::optional<std::size_t> MakeFont(std::span<std::uint8_t> picture, std::span<std::uint8_t> out,
                                    StatusPort& port);

// The same over the working picture of `state`, repainting through state.port.
std::optional<std::size_t> MakeFont(WorkingState& state, std::span<std::uint8_t> out);

}  // namespace zemlo
