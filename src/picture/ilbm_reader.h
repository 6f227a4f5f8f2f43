// Reads IFF pictures of 256 colours, interleaved bit-planes ("ILBM") or one byte per pixel
// ("PBM "), uncompressed or ByteRun1, in two stages: colour indices and palette first, then
// the blue, green, red pixels of the working picture.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "core/result.h"

namespace zemlo {

// Fills `index` (rows of 800 indices, at least 480,000 bytes) with the picture's colour indices
// and `palette` (768 bytes: red, green, blue per entry) with its CMAP.
//
// The chunks are found by a byte scan from byte 1 (not by chunk sizes): "ILBM" anywhere before
// the body selects bit-plane mode, a later "BMHD" or "CMAP" overrides an earlier one, the
// first "BODY" ends the scan. Indices right of the width and below the height become 0;
// wider or taller pictures are clipped to 800 x 600. Bit-plane rows are read as their
// writers store them, each plane row a whole number of 16-bit words; a chunky row of odd
// width carries one filler byte, which is skipped.
//
// Rejected, with one of the reasons below, when there is no "BODY", when the body ends before
// the last row that lands in the picture, when a bit-plane picture has more than 8 planes, or
// when a buffer is too small. On a rejection the palette is untouched; the index buffer may
// hold part of the picture and must not be expanded.
struct IlbmDecode {
  // Whether the palette was replaced (a CMAP was found): without one the picture takes the
  // colours the palette already held.
  bool palette_read = false;
};
[[nodiscard]] Result<IlbmDecode> DecodeIlbm(std::span<const std::uint8_t> file,
                                            std::span<std::uint8_t> index,
                                            std::span<std::uint8_t> palette);

// Why DecodeIlbm refused a file, as the console says it after the file's name.
inline constexpr std::string_view kIlbmEmpty = "the file is empty";
inline constexpr std::string_view kIlbmNoBody = "no BODY chunk: the file holds no picture data";
inline constexpr std::string_view kIlbmHeaderCut = "the BMHD chunk ends before its last field";
inline constexpr std::string_view kIlbmNoPlanes = "a bit-plane picture without planes";
inline constexpr std::string_view kIlbmTooManyPlanes =
    "more than 8 bit planes: only pictures of up to 256 colours are read";
inline constexpr std::string_view kIlbmBodyCut = "the picture data end before its last row";
inline constexpr std::string_view kIlbmNoRoom = "the picture buffers are too small";

// Turns every index of the 800 x 600 index rows into a blue, green, red pixel of `picture`
// through `palette` (entry i at bytes 3i red, 3i + 1 green, 3i + 2 blue). Converts as many
// pixels as both buffers hold, at most 480,000; palette entries missing from a short
// `palette` count as black.
void ExpandPalette(std::span<const std::uint8_t> index, std::span<std::uint8_t> picture,
                   std::span<const std::uint8_t> palette);

}  // namespace zemlo
