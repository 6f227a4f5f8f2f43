// The PCX header, checked: the one place that decides which PCX files are taken, and how the
// scanlines of a taken one are walked and coloured. Used by the reader only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/result.h"

namespace zemlo::pcx {

constexpr std::size_t kHeaderSize = 128;

enum class PcxKind {
  kTrueColour,  // three planes of 8 bits: red, green, blue
  kIndexed,     // 1, 4 or 8 bits of colour index per pixel, in one plane or four of 1 bit
};

// What the header says, checked: how to walk the scanlines and, for indexed files, how to
// colour them.
struct PcxHeader {
  PcxKind kind = PcxKind::kTrueColour;
  std::size_t bytes_per_line = 0;
  int planes = 3;
  int rows = 0;  // rows that land in the picture
  // The codes of the scanlines: everything after the header, up to the palette that ends a
  // 256-colour file.
  std::span<const std::uint8_t> data;
  // Indexed files only.
  int bits = 8;                           // bits per pixel in each plane
  std::size_t columns = 0;                // pixels per row that land in the picture
  std::span<const std::uint8_t> palette;  // red, green, blue of each index the file can hold
};

// The header of `file`, or why the file is refused. DecodePcx and PcxPictureRows both start
// here.
[[nodiscard]] Result<PcxHeader> CheckHeader(std::span<const std::uint8_t> file);

}  // namespace zemlo::pcx
