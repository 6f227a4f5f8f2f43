// Reads PC Paintbrush pictures into the working picture: 24-bit ones (three run-length
// encoded colour planes) and indexed ones of 1, 4 or 8 bits a pixel, through their palettes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "core/result.h"
#include "core/working_state.h"

namespace zemlo {

// Decodes `file` (the bytes of one PCX file, nothing after them) into `picture`, the 800 x 600
// working picture (blue, green, red, top row first; at least 1,440,000 bytes). File row 0
// becomes picture row 0 whatever Ymin says; rows from the row count to 599 keep what the
// picture held. Wider or taller pictures are clipped to 800 x 600; rows past 600 are not read.
//
// 24-bit: files with manufacturer byte 10 and three planes (bits per pixel 1 excepted). The
// row width is the bytes-per-line field (Xmin/Xmax are ignored, so a writer's even-width
// filler byte shows as a column). Columns from bytes-per-line to 799 become black.
//
// Indexed: one plane of 8 bits (the 256-colour palette after a byte 12 in the last 769 bytes
// of the file), one plane of 4 bits or four planes of 1 bit (the 16-colour palette in the
// header), one plane of 1 bit (the first two header colours; black and white when they are
// the same, as Pillow writes them). The row width is Xmax - Xmin + 1, within what
// bytes-per-line holds: the padding bits or filler index past it become black columns, as a
// 24-bit file's zero filler does, so the indexed and the 24-bit file of the same pixels from
// one writer give the same picture. Columns from the width to 799 become black.
//
// Gives the number of picture rows replaced (those below keep what the picture held), or why
// the file was rejected: a kind not listed above, a missing 256-colour palette, data that end
// before the last row that lands in the picture, or a `picture` smaller than 800 x 600. On a
// rejection the picture is untouched.
//
// With `ink`, a 24-bit file also gives the crop box of the rows it replaced (inclusive rows and
// columns of every pixel that is not black; top 600, bottom 0, left 800, right 0 when all are
// black), found on the way for a fraction of a scan of the picture; an indexed file leaves it
// empty.
//
// `inked` tells which rows of `picture` may hold a pixel that is not black: the caller knows
// every other row to be black already, and a 24-bit file's black scanlines there are left as
// they are instead of being cleared again (a sprite's picture is mostly black rows).
[[nodiscard]] Result<int> DecodePcx(std::span<const std::uint8_t> file,
                                    std::span<std::uint8_t> picture,
                                    std::optional<CropBox>* ink = nullptr, PictureRows inked = {});

// How many picture rows, from the top, DecodePcx replaces when it takes `file`; the rows
// below keep what the picture held. 0 for a header it refuses.
[[nodiscard]] int PcxPictureRows(std::span<const std::uint8_t> file);

}  // namespace zemlo
