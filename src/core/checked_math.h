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

inline constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();

// `a + b` and `a - b`, when the result is a 64-bit number.
[[nodiscard]] inline std::optional<std::int64_t> CheckedAdd(std::int64_t a, std::int64_t b) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  if ((b > 0 && a > kMax - b) || (b < 0 && a < kMin - b)) return std::nullopt;
  return a + b;
}
[[nodiscard]] inline std::optional<std::int64_t> CheckedSubtract(std::int64_t a, std::int64_t b) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  if ((b < 0 && a > kMax + b) || (b > 0 && a < kMin + b)) return std::nullopt;
  return a - b;
}

// `value` as a 32-bit number, when it fits.
[[nodiscard]] inline std::optional<std::int32_t> NarrowToInt32(std::int64_t value) {
  if (value < std::numeric_limits<std::int32_t>::min() || value > kInt32Max) {
    return std::nullopt;
  }
  return static_cast<std::int32_t>(value);
}
// The same for the result of a checked operation, which may have none.
[[nodiscard]] inline std::optional<std::int32_t> NarrowToInt32(std::optional<std::int64_t> value) {
  if (!value) return std::nullopt;
  return NarrowToInt32(*value);
}

}  // namespace zemlo
