// The compressor's loop for processors with AVX2. Built where GCC can compile one function for
// a processor beyond the program's own: 64-bit x86 but not Windows, whose 16-byte stack
// alignment GCC does not raise for spilled 256-bit registers.
#include "packer/compressor_variants.h"

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && !defined(_WIN32)
#define KZP_AVX2_BUILT 1
#endif

#if defined(KZP_AVX2_BUILT)
// Every header the loop needs comes first, compiled for every processor; only the loop below
// the pragma is compiled for AVX2.
#include <immintrin.h>

#include <algorithm>
#include <bit>
#include <cstring>

#include "core/bit_count.h"
#include "packer/kzp.h"

#pragma GCC push_options
#pragma GCC target("avx2")
#define KZP_WINDOW_AVX2 1
#include "packer/compressor_loop.h"

namespace zemlo {

std::size_t CompressChunkAvx2(std::span<const std::uint8_t> source, std::size_t start,
                              std::span<std::uint8_t> out, std::size_t count, StatusPort& port,
                              Owner owner, std::size_t* covered) {
  return CompressChunkLoop(source, start, out, count, port, owner, covered);
}

}  // namespace zemlo
#pragma GCC pop_options

namespace zemlo {

// The processor's answer includes whether the system saves the 256-bit registers.
bool Avx2Compressor() { return __builtin_cpu_supports("avx2"); }

}  // namespace zemlo

#else

namespace zemlo {

std::size_t CompressChunkAvx2(std::span<const std::uint8_t> source, std::size_t start,
                              std::span<std::uint8_t> out, std::size_t count, StatusPort& port,
                              Owner owner, std::size_t* covered) {
  return CompressChunkPortable(source, start, out, count, port, owner, covered);
}

bool Avx2Compressor() { return false; }

}  // namespace zemlo

#endif
