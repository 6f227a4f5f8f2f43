#include "picture/pcx_scanlines.h"

#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zemlo::pcx {

#if defined(__SSE2__)
namespace {

// The bytes produced by the kBlock (16, 32 or 64) code bytes at `p`; `value_first` says that
// p[0] is the value of a run code before it, and `value_next` is set when the block's last byte
// is a run code whose value is the next byte.
//
// Run codes and their values are told apart by position alone. Each stretch of bytes of 192
// and above begins with a run code (the byte before it is a literal or a value, after either
// of which a code follows); within the stretch codes and values alternate, and after a stretch
// of odd length the next byte is the last code's value. Adding one at the start of each
// stretch that begins at an even position clears exactly those stretches, which marks them;
// their codes are the even positions in them, the codes of the others the odd positions.
template <int kBlock>
std::size_t BlockProduced(const std::uint8_t* p, bool value_first, bool& value_next) {
  static_assert(kBlock == 16 || kBlock == 32 || kBlock == 64);
  // One bit a byte, in a word the processor has (a 32-bit one takes blocks of 32).
  using Mask = std::conditional_t<kBlock == 64, std::uint64_t, std::uint32_t>;
  constexpr int kSixteens = kBlock / 16;
  const __m128i run_flags = _mm_set1_epi8(static_cast<char>(kRunFlags));
  __m128i bytes[kSixteens];
  Mask high = 0;  // one bit per byte of 192 and above
  for (int k = 0; k < kSixteens; ++k) {
    bytes[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
    const __m128i is_high = _mm_cmpeq_epi8(_mm_and_si128(bytes[k], run_flags), run_flags);
    high |= Mask(static_cast<std::uint32_t>(_mm_movemask_epi8(is_high))) << (16 * k);
  }
  constexpr auto kEven = static_cast<Mask>(0x5555555555555555ull);
  const Mask stretches = high & ~Mask{value_first};
  const Mask starts = stretches & ~Mask(stretches << 1);
  // A carry out of a block's last stretch lands past it (or out of the word) and is dropped.
  const Mask even_stretches = stretches & Mask((stretches + (starts & kEven)) ^ stretches);
  const Mask codes = (even_stretches & kEven) | (stretches & ~even_stretches & ~kEven);
  value_next = (codes >> (kBlock - 1)) & 1;

  // The counts of the codes, and how many codes there are, summed over the sixteens.
  const __m128i zero = _mm_setzero_si128();
  const __m128i count_mask = _mm_set1_epi8(kRunCountMask);
  const __m128i one = _mm_set1_epi8(1);
  const __m128i bit_of_byte = _mm_set1_epi64x(static_cast<long long>(0x8040201008040201ull));
  __m128i count_sums = zero;
  __m128i code_sums = zero;
  for (int k = 0; k < kSixteens; ++k) {
    // This sixteen's code flags as whole-byte masks: its two flag bytes spread over eight
    // bytes each, every byte keeping its own bit (in the vector unit: a 64-bit multiply per
    // half cost a 32-bit processor three multiplies and a trip through memory).
    __m128i spread = _mm_cvtsi32_si128(static_cast<int>((codes >> (16 * k)) & 0xFFFF));
    spread = _mm_unpacklo_epi8(spread, spread);
    spread = _mm_unpacklo_epi16(spread, spread);
    spread = _mm_unpacklo_epi32(spread, spread);
    const __m128i is_code = _mm_cmpeq_epi8(_mm_and_si128(spread, bit_of_byte), bit_of_byte);
    const __m128i counts = _mm_and_si128(is_code, _mm_and_si128(bytes[k], count_mask));
    count_sums = _mm_add_epi64(count_sums, _mm_sad_epu8(counts, zero));
    code_sums = _mm_add_epi64(code_sums, _mm_sad_epu8(_mm_and_si128(is_code, one), zero));
  }
  alignas(16) std::uint64_t run_bytes[2];
  alignas(16) std::uint64_t code_count[2];
  _mm_store_si128(reinterpret_cast<__m128i*>(run_bytes), count_sums);
  _mm_store_si128(reinterpret_cast<__m128i*>(code_count), code_sums);
  // Literals are the bytes that are neither codes nor values: the block less two per code,
  // less the value carried in, plus the value that lies past the block.
  const std::size_t literals = kBlock - 2 * std::size_t(code_count[0] + code_count[1]) -
                               std::size_t{value_first} + std::size_t{value_next};
  return literals + std::size_t(run_bytes[0] + run_bytes[1]);
}

// Takes whole blocks of kBlock code bytes while the scanline goes on past them.
template <int kBlock>
void SkipBlocks(Cursor& c, const std::uint8_t* end, std::size_t line_bytes, bool& value_first) {
  while (end - c.in >= kBlock) {
    bool value_next = false;
    const std::size_t produced = BlockProduced<kBlock>(c.in, value_first, value_next);
    if (c.produced + produced >= line_bytes) return;
    c.produced += produced;
    c.in += kBlock;
    value_first = value_next;
  }
}

}  // namespace
#endif

const std::uint8_t* SkipScanline(const std::uint8_t* in, const std::uint8_t* end,
                                 std::size_t line_bytes) {
  if (line_bytes == 0) {
    if (in == end) return nullptr;
    if (*in++ < kRunFlags) return in;
    if (in == end) return nullptr;
    return in + 1;
  }
  Cursor c{in};
#if defined(__SSE2__)
  // Whole blocks of 64 code bytes (32 on a 32-bit processor) while the scanline goes on past
  // them, then of 16 within the block in which it ends; the sixteen in which it ends is walked
  // code by code.
  bool value_first = false;
  SkipBlocks<sizeof(void*) >= 8 ? 64 : 32>(c, end, line_bytes, value_first);
  SkipBlocks<16>(c, end, line_bytes, value_first);
  if (value_first) {
    // The value of the last code counted lies here.
    if (c.in == end) return nullptr;
    ++c.in;
  }
#endif
  return FinishScanline<false>(c, end, line_bytes, nullptr) ? c.in : nullptr;
}

#if defined(__SSE2__)
namespace {

// Eight full runs of one value in a row (a black background is hardly anything else) are
// taken at once: sixteen code bytes, 504 bytes of the scanline. Only where all of them land in
// the scanline, so the cursor stays where the steps would have left it.
constexpr std::size_t kFullRun = kRunCountMask;
constexpr std::size_t kEightRuns = 8 * kFullRun;

inline void TakeFullRuns(Cursor& c, const std::uint8_t* end, std::size_t line_bytes,
                         std::uint8_t* line) {
  // A run's excess may already have taken the count past the scanline.
  while (end - c.in >= 16 && c.produced <= line_bytes && line_bytes - c.produced >= kEightRuns) {
    const __m128i codes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c.in));
    const __m128i value = _mm_set1_epi8(static_cast<char>(c.in[1]));
    const __m128i pairs = _mm_unpacklo_epi8(_mm_set1_epi8(static_cast<char>(0xFF)), value);
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(codes, pairs)) != 0xFFFF) return;
    // 512 bytes stored, 504 counted: the rest lands in the room past the scanline or is
    // written again by the codes that follow.
    std::uint8_t* out = line + c.produced;
    for (std::size_t k = 0; k < 512; k += 16) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), value);
    }
    c.produced += kEightRuns;
    c.in += 16;
  }
}

}  // namespace
#endif

void DecodeScanlinePair(const std::uint8_t* in_a, const std::uint8_t* in_b, const std::uint8_t* end,
                        std::size_t line_bytes, std::uint8_t* line_a, std::uint8_t* line_b) {
  Cursor a{in_a}, b{in_b};
  for (;;) {
#if defined(__SSE2__)
    TakeFullRuns(a, end, line_bytes, line_a);
    TakeFullRuns(b, end, line_bytes, line_b);
#endif
    if (a.produced >= line_bytes || b.produced >= line_bytes || end - a.in <= 9 ||
        end - b.in <= 9) {
      break;
    }
    FastStep<true>(a, line_bytes, line_a);
    FastStep<true>(b, line_bytes, line_b);
  }
  FinishScanline<true>(a, end, line_bytes, line_a);
  FinishScanline<true>(b, end, line_bytes, line_b);
}

}  // namespace zemlo::pcx
