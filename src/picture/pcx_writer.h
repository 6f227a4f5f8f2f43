// Writes the working picture as a 24-bit PC Paintbrush file that DecodePcx reads back
// unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/geometry.h"

namespace zemlo {

// Writes the 128-byte header and the 600 rows of three run-length encoded planes (red, green,
// blue) of `picture` (800 x 600, blue, green, red) to the start of `out` and returns their
// length. The worst case is 2,880,128 bytes (kPcxMaxSize): pass WorkingState::pcx, which
// every picture fits. Never writes past `out`: returns 0 when the file does not fit it or
// `picture` is smaller than 800 x 600.
// `ink`, when given, are the rows outside which the picture is known to be black: they are
// written as black without being looked at (the same bytes when it is true).
std::size_t EncodePcx(std::span<const std::uint8_t> picture, std::span<std::uint8_t> out,
                      PictureRows ink = {});

// Run-length encodes one plane row into the start of `out` and returns the bytes written:
// a byte below 192 alone stands for itself, anything else is 192 + count (1 to 63) and the
// value. Returns 0 when `plane` is empty or its encoding does not fit `out`; no byte past
// `out` is written.
std::size_t EncodePcxPlane(std::span<const std::uint8_t> plane, std::span<std::uint8_t> out);

}  // namespace zemlo
