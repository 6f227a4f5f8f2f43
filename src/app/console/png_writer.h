// The report's pictures: one icon's crop box cut from the working picture and written as a
// PNG file through libpng.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "library/store/tables.h"

namespace zemlo::console {

// The `box` region of an 800 x 600 blue-green-red picture as rows of red, green, blue and
// alpha. With `black_transparent` (masked kinds, whose black pixels the game never draws) a
// black pixel gets alpha 0; everything else is opaque. Empty when the box leaves the picture.
std::vector<std::uint8_t> IconRgba(std::span<const std::uint8_t> picture,
                                   const CoordinatesRecord& box, bool black_transparent);

// Writes `rgba` (width x height pixels) as a PNG file. False with `error` set on failure.
bool WriteRgbaPng(const std::filesystem::path& path, std::span<const std::uint8_t> rgba,
                  int width, int height, std::string& error);

}  // namespace zemlo::console
