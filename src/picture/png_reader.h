// Reads PNG pictures of every colour type and bit depth, interlaced or not, into the working
// picture. The header and the chunk layout are checked here first; the pixels are unpacked by
// stb_image, whose allocations are capped (stb_image_impl.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "core/geometry.h"
#include "core/result.h"

namespace zemlo {

// The largest PNG file taken. The largest honest 800 x 600 PNG is 16-bit RGBA stored without
// compression: 600 rows of a filter byte and 6,400 sample bytes, 3,840,600 bytes, plus the
// stored blocks' and chunks' framing, about 3.85 MB. The rest of the 4 MiB leaves room for
// colour profiles and text chunks.
inline constexpr std::size_t kPngFileLimit = std::size_t{4} << 20;

// The largest single allocation the decoder may make. stb collects the image data and inflates
// it into buffers that grow by doubling, so an honest file may ask for up to twice its image
// data at once: interlaced 16-bit RGBA has a few more filter bytes than stb's first guess
// (3,840,600 bytes) and doubles it. Twice the file limit covers that and the collected data of
// any file taken; a zlib bomb or a header that lies stops there.
inline constexpr std::size_t kPngAllocationLimit = 2 * kPngFileLimit;
inline constexpr std::size_t kLargestRawPngImage =
    std::size_t{kPictureHeight} * (1 + std::size_t{kPictureWidth} * 8);
static_assert(2 * kLargestRawPngImage <= kPngAllocationLimit);

// Decodes `file` (the bytes of one PNG file) into `picture`, the 800 x 600 working picture
// (blue, green, red, top row first; at least 1,440,000 bytes).
//
// The PNG's pixels go to the top left of the picture; every pixel outside them becomes black,
// as does every pixel whose alpha (its own, or from a palette's or colour key's tRNS) is
// below 128 of 255. Sixteen-bit samples keep their high byte; lower depths are scaled to the
// full range (a 1-bit 1 is 255).
//
// Refused, with the picture untouched and a reason for the user ("the picture is wider than
// 800 pixels"): a file larger than kPngFileLimit, one that is not a
// PNG, a picture wider than 800 or taller than 600 pixels (never cropped), a header PNG does
// not allow, a critical chunk other than IHDR, PLTE, IDAT and IEND, a file that ends before
// IEND, image data that are damaged or unpack to more than the allocation limit, and a
// `picture` smaller than 800 x 600. The size is checked before anything is allocated.
// Safe to call from several threads at once.
[[nodiscard]] Status DecodePng(std::span<const std::uint8_t> file, std::span<std::uint8_t> picture);

}  // namespace zemlo
