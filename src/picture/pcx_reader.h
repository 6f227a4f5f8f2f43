// Reads 24-bit PC Paintbrush pictures (three run-length encoded colour planes) into the
// working picture.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace zemlo {

// Decodes `file` (the bytes of one PCX file, nothing after them) into `picture`, the 800 x 600
// working picture (blue, green, red, top row first; at least 1,440,000 bytes).
//
// Only files with manufacturer byte 10 and three planes are taken. The row width is the
// bytes-per-line field (Xmin/Xmax are ignored, so a writer's even-width filler byte shows as a
// column); file row 0 becomes picture row 0 whatever Ymin says. Columns from bytes-per-line to
// 799 become black; rows from the row count to 599 keep what the picture held. Wider or taller
// pictures are clipped to 800 x 600; rows past 600 are not read.
//
// Returns 1 when the rows were decoded, 0 when the file was rejected: a header that is not a
// 24-bit PCX header, data that end before the last row that lands in the picture, or a
// `picture` smaller than 800 x 600. On 0 the picture is untouched.
int DecodePcx(std::span<const std::uint8_t> file, std::span<std::uint8_t> picture);

// How many picture rows, from the top, DecodePcx replaces when it takes `file`; the rows
// below keep what the picture held. 0 for a header it refuses.
int PcxPictureRows(std::span<const std::uint8_t> file);

// Why DecodePcx refuses `file`, as a short text for the user ("data end before the last
// row"); empty when it takes the file.
std::string_view PcxRefusal(std::span<const std::uint8_t> file);

}  // namespace zemlo
