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

// `rgba` (width x height pixels) as the bytes of a PNG file; empty with `error` set on
// failure.
std::vector<std::uint8_t> EncodeRgbaPng(std::span<const std::uint8_t> rgba, int width,
                                        int height, std::string& error);

// Writes `rgba` as a PNG file: a new file, or with `replace` also over a regular file, never
// through a link (the folder of `path` is taken as it stands). False with `error` set on
// failure.
bool WriteRgbaPng(const std::filesystem::path& path, std::span<const std::uint8_t> rgba,
                  int width, int height, std::string& error, bool replace = false);

// The reasons an output was not written, as the report's messages give them after its name.
inline constexpr const char* kOutputExistsText = "exists; --force replaces it";
inline constexpr const char* kOutputLinkText =
    "is a link, and nothing is written through links";
inline constexpr const char* kOutputNotMadeText = "cannot be created";
inline constexpr const char* kOutputNoFileText = "is no file and is never replaced";

}  // namespace zemlo::console
