// Walking and decoding the run-length coded scanlines of a PCX file: the inner loops of the
// reader, fast on busy pictures. Used by the reader only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "picture/byte_flags.h"

#if defined(__SSE2__) && !defined(__x86_64__)
#include <emmintrin.h>

#include <bit>
#endif

namespace zemlo::pcx {

constexpr std::uint8_t kRunFlags = 0xC0;  // both top bits set: a run code
constexpr std::uint8_t kRunCountMask = 0x3F;
// A run is written whole as one fixed-size store; the line buffer has this much room past the
// scanline for it (the longest run is 63 bytes).
constexpr std::size_t kRunOvershoot = 64;

// Where the codes of one scanline are read and how many bytes they have produced.
struct Cursor {
  const std::uint8_t* in;
  std::size_t produced = 0;
};

// One step over the codes of a scanline of `line_bytes` bytes (not 0, not yet complete) with
// at least ten bytes of data left at the cursor. With kStore the decoded bytes go to `line`
// (line_bytes + kRunOvershoot bytes); without it the codes are only walked.
//
// Busy pictures are mostly literal bytes with a run code every few bytes, so a branch per code
// would be mispredicted at every turn. A step takes the literals among the next seven bytes up
// to the first run code, stores them as one 8-byte word, then that run as one fixed-size fill,
// with no branch on what the bytes were.
//
// Where a step's run code lies: the literals before it (at most seven, the last of the eight
// bytes being taken as a stop, which is a run code only when it really is one) and whether
// there is one (1) or not (0).
struct FirstCode {
  std::size_t literals;
  std::size_t run;
};

inline FirstCode FindFirstCode(const std::uint8_t* in) {
#if defined(__SSE2__) && !defined(__x86_64__)
  // A 32-bit processor takes the byte flags from a vector register: as a 64-bit word they
  // took twice the instructions and a runtime call per step.
  const __m128i eight = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(in));
  const __m128i run_flags = _mm_set1_epi8(static_cast<char>(kRunFlags));
  const auto codes = static_cast<unsigned>(
      _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(eight, run_flags), run_flags)));
  const auto literals = static_cast<std::size_t>(std::countr_zero(codes | 0x80u));
  return {literals, (codes >> literals) & 1u};
#else
  using namespace byte_flags;
  const std::uint64_t codes = HighBytes(Load8(in));
  const std::size_t literals = FirstFlagged(codes | kLastByte);
  return {literals, static_cast<std::size_t>(FlagAt(codes, literals))};
#endif
}

template <bool kStore>
inline void FastStep(Cursor& c, std::size_t line_bytes, std::uint8_t* line) {
  using namespace byte_flags;
  const auto [literals, run] = FindFirstCode(c.in);
  if constexpr (kStore) Store8(line + c.produced, Load8(c.in));
  const std::size_t room = line_bytes - c.produced;
  if (literals >= room) {
    c.in += room;
    c.produced = line_bytes;
    return;
  }
  c.in += literals;
  c.produced += literals;
  // Without a run the fill lands where the next codes write (or past the scanline) and counts
  // nothing. Past the scanline end a run's excess lands in the spare room and is dropped.
  if constexpr (kStore) std::memset(line + c.produced, c.in[1], kRunOvershoot);
  c.produced += (c.in[0] & kRunCountMask) & (0 - run);
  c.in += 2 * run;
}

// Takes the codes from the cursor to the end of its scanline: fast steps while ten bytes are
// left, then code by code. False when the data end first.
template <bool kStore>
bool FinishScanline(Cursor& c, const std::uint8_t* end, std::size_t line_bytes,
                    std::uint8_t* line) {
  while (c.produced < line_bytes && end - c.in > 9) FastStep<kStore>(c, line_bytes, line);
  while (c.produced < line_bytes) {
    if (c.in == end) return false;
    const std::uint8_t b = *c.in++;
    if (b >= kRunFlags) {
      if (c.in == end) return false;
      if constexpr (kStore) std::memset(line + c.produced, *c.in, kRunOvershoot);
      ++c.in;
      c.produced += b & kRunCountMask;
    } else {
      if constexpr (kStore) line[c.produced] = b;
      ++c.produced;
    }
  }
  return true;
}

// Where the codes of the scanline that begins at `in` end, or nullptr when the data end
// first. Every scanline takes at least one code, even an empty one.
const std::uint8_t* SkipScanline(const std::uint8_t* in, const std::uint8_t* end,
                                 std::size_t line_bytes);

// Decodes two whole scanlines (not empty) whose codes are known to be complete. Each step
// depends on the one before through the position of the next code, so a scanline alone
// leaves the processor waiting; two independent ones side by side fill that time.
void DecodeScanlinePair(const std::uint8_t* in_a, const std::uint8_t* in_b, const std::uint8_t* end,
                        std::size_t line_bytes, std::uint8_t* line_a, std::uint8_t* line_b);

}  // namespace zemlo::pcx
