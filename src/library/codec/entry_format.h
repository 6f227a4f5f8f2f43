// The icon entry, as the game reads it and the creator writes it. Little-endian throughout.
//
//   entry     = picture | sound | packed
//   packed    = the KZP stream of a picture or sound entry (packer/kzp.h); its magic's second
//               letter stands where a picture's mask kind would
//   sound     = the samples of a WAV file's "data" chunk, nothing before or after them
//   picture   = header rows
//   header    = 4 bytes
//     [0]       bits per pixel: 24 (the game draws any other value as one byte per pixel)
//     [1]       mask kind: 0 unmasked, 64 0-masked, 128 X-masked (bit 7 wins over bit 6)
//     [2], [3]  reserved, 0
//   rows      = one row per line of the icon's crop box (coordinates file), top line first:
//     unmasked  width x 3 bytes of pixels
//     0-masked  the same, but a zero byte leaves the picture's byte under it as it was
//     X-masked  run* count(0): the row ends at a copy count of 0
//   run       = count(copy >= 1) count(skip) copy x 3 bytes: skip pixels are passed over from
//               where the last run ended, then copy pixels are drawn
//   count     = 0xFF* byte(< 0xFF): each 0xFF adds 255 and goes on, the last byte adds itself
//               (255 is FF 00)
//
// A picture whose every pixel is black is the header alone, with an empty crop box.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/byte_reader.h"
#include "core/geometry.h"

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

// "Unmasked", "0-masked", "X-masked"; "" for any other byte.
std::string_view MaskKindWord(std::uint8_t kind);
// The word, or "byte N" for a kind byte that is none of them.
std::string MaskKindText(std::uint8_t kind);

// While a count goes on (0xFF bytes), its sum is held at this cap, far beyond any buffer, so
// a run of 0xFF bytes cannot overflow it; the last byte is added after the cap.
inline constexpr std::uint64_t kCountCap = std::uint64_t{1} << 40;

// The sum after one more byte of a count whose sum so far is `sum` (at most kCountCap).
constexpr std::uint64_t AddCountByte(std::uint64_t sum, std::uint8_t byte) {
  const std::uint64_t next = sum + byte;
  return byte == 0xFF && next > kCountCap ? kCountCap : next;
}

// Reads a count; nothing when the entry ends before the count does.
std::optional<std::uint64_t> ReadCount(ByteReader& entry);

// Writes `value` as a count from out[0]; returns the bytes written, or 0 when `out` is too
// short (then nothing is written).
std::size_t WriteCount(std::size_t value, std::span<std::uint8_t> out);

}  // namespace zemlo
