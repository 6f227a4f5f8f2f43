// Eight bytes at a time for the run-length coders: each helper marks bytes by the top bit of
// the byte, so the first marked byte in memory order is found with one bit count whatever the
// machine's byte order.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/bit_count.h"

namespace zemlo::byte_flags {

inline constexpr std::uint64_t kTopBits = 0x8080808080808080ull;
inline constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;

inline std::uint64_t Load8(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

inline void Store8(std::uint8_t* p, std::uint64_t v) { std::memcpy(p, &v, 8); }

// Every zero byte of `x`, exactly (no borrow runs from byte to byte).
inline std::uint64_t ZeroBytes(std::uint64_t x) { return ~(((x & kLow7) + kLow7) | x | kLow7); }

// Every byte of 192 or above (both top bits set): a run code, or a value that needs one.
inline std::uint64_t HighBytes(std::uint64_t eight) { return eight & (eight << 1) & kTopBits; }

// The flag of the last of the eight bytes in memory order.
inline constexpr std::uint64_t kLastByte =
    std::endian::native == std::endian::little ? 0x8000000000000000ull : 0x80ull;

// Index in memory order of the first flagged byte; `flags` must not be 0.
inline std::size_t FirstFlagged(std::uint64_t flags) {
  if constexpr (std::endian::native == std::endian::little) {
    return static_cast<std::size_t>(TrailingZeroBits(flags)) >> 3;
  } else {
    return static_cast<std::size_t>(LeadingZeroBits(flags)) >> 3;
  }
}

// 1 when byte `index` (in memory order) is flagged, else 0.
inline std::uint64_t FlagAt(std::uint64_t flags, std::size_t index) {
  if constexpr (std::endian::native == std::endian::little) {
    return flags >> (8 * index + 7) & 1;
  } else {
    return flags >> (63 - 8 * index) & 1;
  }
}

// The flags of the bytes before index `k` (0 to 7) in memory order.
inline std::uint64_t BytesBefore(std::size_t k) {
  if constexpr (std::endian::native == std::endian::little) {
    return (std::uint64_t{1} << (8 * k)) - 1;
  } else {
    return k == 0 ? 0 : ~std::uint64_t{0} << (64 - 8 * k);
  }
}

}  // namespace zemlo::byte_flags
