// Encoding pictures and sounds as icon entries (library/codec/entry_format.h lays them out).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "core/working_state.h"
#include "library/codec/entry_format.h"
#include "library/store/tables.h"

namespace zemlo {

bool IsSoundNumber(int icon);  // 9000 to 9999
bool IsSmoothed(int icon);     // 4000-4999, 6000-8999, 12000 and above

// Encodes what `source` holds as the entry of `icon`, from out[0]; returns its length.
// Pictures: `source` is the working picture (at least 800 x 600 x 3 bytes), smoothed in place
// for the smoothed numbers; record `icon` of `coordinates` gets width, height, left, top (all
// zero for a picture without a non-black pixel, whose entry is the header alone) and the crop
// box is left in `crop_box` for painting (top 600, bottom 0, left 800, right 0 when empty). If
// `out` cannot take the whole entry (the file buffer always can: kMaxPictureEntry), nothing is
// recorded and the result is 0. Sounds: `source` is exactly the loaded WAV bytes; the entry is the
// bytes after the first "data", as many as its size field says but no more than were loaded and no
// more than `out` takes (possibly none). Coordinates and crop box are left alone.
std::size_t EncodeIcon(int icon, std::span<std::uint8_t> source, std::span<std::uint8_t> out,
                       CoordinatesTable& coordinates, CropBox& crop_box);
// EncodeIcon for work done away from the shared tables: the record it would store comes back
// in `record` (left empty where EncodeIcon leaves the table alone).
// With `known_box`, the crop box of `source` as it is given (FindCropBox's result, which a
// decoder may have found on the way) is taken instead of being searched for.
std::size_t EncodeIconEntry(int icon, std::span<std::uint8_t> source, std::span<std::uint8_t> out,
                            std::optional<CoordinatesRecord>& record, CropBox& crop_box,
                            const CropBox* known_box = nullptr);

// Where the "data" letters of a WAV file stand, when its 32-bit size follows them: the first
// mention, found by a plain byte search, as sounds have always been cut.
std::optional<std::size_t> FindSoundData(std::span<const std::uint8_t> wav);

// The 7 x 7 tile filter that flattens near-uniform colour areas, in place. `crop_box`, when
// given, is the picture's crop box (FindCropBox's result), which limits the tiles looked at.
void SmoothColours(std::span<std::uint8_t> picture, const CropBox* crop_box = nullptr);

// The steps of EncodeIcon, exposed for tests. `picture` is at least 800 x 600 x 3 bytes.
// An empty picture gives top 600, bottom 0, left 800, right 0. With `within`, a box outside
// of which every pixel is black, only the box is searched.
CropBox FindCropBox(std::span<const std::uint8_t> picture, const CropBox* within = nullptr);
std::uint8_t ChooseMaskKind(std::span<const std::uint8_t> picture, const CropBox& box);

}  // namespace zemlo
