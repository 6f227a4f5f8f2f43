// Pictures written as PNG files: the whole working picture (zgl show, zgl save) or one icon's
// crop box (the report's tiles). Encoded in memory, then written through the file layer's
// outputs, so a PNG file is made new and never through a link, as every other output.
// Encoding may run on several threads at once.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "files/file_layer.h"

namespace zemlo {

// A rectangle of the 800 x 600 picture, in pixels.
struct PictureBox {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

// The `box` region of an 800 x 600 blue-green-red picture as rows of red, green, blue and
// alpha. With `black_transparent` (masked kinds, whose black pixels the game never draws) a
// black pixel gets alpha 0; everything else is opaque. Empty when the box is empty or leaves
// the picture.
std::vector<std::uint8_t> IconRgba(std::span<const std::uint8_t> picture, const PictureBox& box,
                                   bool black_transparent);

// `rgba` (width x height pixels) as the bytes of a PNG file; empty with `error` set on
// failure.
std::vector<std::uint8_t> EncodeRgbaPng(std::span<const std::uint8_t> rgba, int width, int height,
                                        std::string& error);

// The whole 800 x 600 blue-green-red picture as the bytes of a PNG file: red, green and blue
// with every pixel as it is, or with `black_transparent` also alpha, 0 where a pixel is
// black. Empty when `picture` is smaller than 800 x 600 or memory ran out.
std::vector<std::uint8_t> EncodePicturePng(std::span<const std::uint8_t> picture,
                                           bool black_transparent = false);

// Writes `rgba` as a PNG file: a new file, or with `replace` also over a regular file, never
// through a link (the folder of `path` is taken as it stands). kFailed also when the pixels
// could not be encoded.
files::OutputResult WriteRgbaPng(const std::filesystem::path& path,
                                 std::span<const std::uint8_t> rgba, int width, int height,
                                 bool replace = false);

// Whether `name` ends in ".png" in any letter case: the names zgl save writes as PNG.
bool HasPngExtension(std::string_view name);

}  // namespace zemlo
