// Zero bits at the ends of a 64-bit word, counted without a runtime call where the processor
// has no 64-bit registers: there std::countr_zero of a 64-bit word calls a routine of the
// compiler's runtime, which cost the 32-bit program a call per step of the PCX reader and of
// the compressor's match measure.
#pragma once

#include <bit>
#include <cstdint>

namespace zemlo {

// Zero bits below the lowest set bit; 64 for 0.
inline int TrailingZeroBits(std::uint64_t word) {
  if constexpr (sizeof(void*) < sizeof(std::uint64_t)) {
    const auto low = static_cast<std::uint32_t>(word);
    const auto high = static_cast<std::uint32_t>(word >> 32);
    return low != 0 ? std::countr_zero(low) : 32 + std::countr_zero(high);
  } else {
    return std::countr_zero(word);
  }
}

// Zero bits above the highest set bit; 64 for 0.
inline int LeadingZeroBits(std::uint64_t word) {
  if constexpr (sizeof(void*) < sizeof(std::uint64_t)) {
    const auto low = static_cast<std::uint32_t>(word);
    const auto high = static_cast<std::uint32_t>(word >> 32);
    return high != 0 ? std::countl_zero(high) : 32 + std::countl_zero(low);
  } else {
    return std::countl_zero(word);
  }
}

}  // namespace zemlo
