// Arithmetic on numbers read from files. Offsets and lengths in a library's tables are
// whatever the file says: a crafted or damaged table must give "no such range", never an
// overflow (undefined behaviour) or a range that wraps around to look valid.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>

namespace zemlo {

// The end of `length` bytes at `offset`, when both are non-negative, the sum does not
// overflow and the range lies within `limit`.
[[nodiscard]] inline std::optional<std::int64_t> RangeEnd(
    std::int64_t offset, std::int64_t length,
    std::int64_t limit = std::numeric_limits<std::int64_t>::max()) {
  if (offset < 0 || length < 0 || offset > limit || length > limit - offset) return std::nullopt;
  return offset + length;
}

// `value` as a 32-bit number, when it fits.
[[nodiscard]] inline std::optional<std::int32_t> NarrowToInt32(std::int64_t value) {
  if (value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<std::int32_t>(value);
}

}  // namespace zemlo
