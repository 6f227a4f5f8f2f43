// The icon entry as the library stores it: a 4-byte header (24, mask kind, 0, 0) and the pixel
// rows of the crop box, plain or run-length masked; or, for sound numbers, the bare samples of
// a WAV file's "data" chunk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "core/working_state.h"
#include "library/store/tables.h"

namespace zemlo {

inline constexpr std::uint8_t kUnmasked = 0;
inline constexpr std::uint8_t kZeroMasked = 64;
inline constexpr std::uint8_t kXMasked = 128;

inline constexpr std::size_t kEntryHeaderSize = 4;
inline constexpr std::uint8_t kEntryBitsPerPixel = 24;

// The longest picture entry: an X-masked row has at most three runs (no more than five
// transitions), so at most six counts summing to at most 800 (nine bytes) and its end byte.
inline constexpr std::size_t kMaxPictureEntry =
    kEntryHeaderSize + std::size_t{kPictureHeight} * (kRowBytes + 9 + 1);

bool IsSoundNumber(int icon);  // 9000 to 9999
bool IsSmoothed(int icon);     // 4000-4999, 6000-8999, 12000 and above

// "Unmasked", "0-masked", "X-masked"; "" for any other byte.
std::string_view MaskKindWord(std::uint8_t kind);

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
std::size_t EncodeIconEntry(int icon, std::span<std::uint8_t> source, std::span<std::uint8_t> out,
                            std::optional<CoordinatesRecord>& record, CropBox& crop_box);

// Where the "data" letters of a WAV file stand, when its 32-bit size follows them: the first
// mention, found by a plain byte search, as sounds have always been cut.
std::optional<std::size_t> FindSoundData(std::span<const std::uint8_t> wav);

// The 7 x 7 tile filter that flattens near-uniform colour areas, in place.
void SmoothColours(std::span<std::uint8_t> picture);

// The steps of EncodeIcon, exposed for tests. `picture` is at least 800 x 600 x 3 bytes.
// An empty picture gives top 600, bottom 0, left 800, right 0.
CropBox FindCropBox(std::span<const std::uint8_t> picture);
std::uint8_t ChooseMaskKind(std::span<const std::uint8_t> picture, const CropBox& box);
// Writes `value` with 255-continuation from out[0]; returns the bytes written, or 0 when
// `out` is too short (then nothing is written).
std::size_t WriteCount(std::size_t value, std::span<std::uint8_t> out);

}  // namespace zemlo
