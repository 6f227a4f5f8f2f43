#include "picture/pcx_writer.h"

#include <array>
#include <bit>
#include <cstring>
#include <vector>

#include "core/geometry.h"
#include "picture/byte_flags.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zemlo {
namespace {

constexpr std::uint8_t kRunCode = 0xC0;  // 192 + count; lower bytes stand for themselves
constexpr std::size_t kLongestRun = 63;

// Little-endian 16-bit fields of the one header every file gets.
constexpr std::array<std::uint8_t, kPcxHeaderSize> MakeHeader() {
  std::array<std::uint8_t, kPcxHeaderSize> h{};
  auto put16 = [&h](std::size_t at, int value) {
    h[at] = static_cast<std::uint8_t>(value & 0xFF);
    h[at + 1] = static_cast<std::uint8_t>(value >> 8);
  };
  h[0] = 10;  // manufacturer
  h[1] = 5;   // version
  h[2] = 1;   // run-length encoding
  h[3] = 8;   // bits per pixel and plane
  put16(4, 0);
  put16(6, 0);
  put16(8, kPictureWidth - 1);
  put16(10, kPictureHeight - 1);
  put16(12, 300);  // resolution
  put16(14, 300);
  h[65] = 3;                 // planes
  put16(66, kPictureWidth);  // bytes per line
  put16(68, 1);              // palette info
  put16(70, kPictureWidth);  // screen size
  put16(72, kPictureHeight);
  return h;
}
constexpr auto kHeader = MakeHeader();

// The end of the run of bytes equal to plane[start], at most `end`, sixteen or eight bytes at
// a time: the black around a sprite is most of what a shown picture's rows hold.
std::size_t RunEnd(const std::uint8_t* plane, std::size_t start, std::size_t end) {
  using namespace byte_flags;
  std::size_t i = start + 1;
#if defined(__SSE2__)
  const __m128i value = _mm_set1_epi8(static_cast<char>(plane[start]));
  while (end - i >= 16) {
    const auto same = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(plane + i)), value)));
    if (same != 0xFFFFu) return i + static_cast<std::size_t>(std::countr_one(same));
    i += 16;
  }
#endif
  const std::uint64_t pattern = 0x0101010101010101ull * plane[start];
  while (end - i >= 8) {
    const std::uint64_t differ = Load8(plane + i) ^ pattern;
    if (differ != 0) return i + FirstFlagged(~ZeroBytes(differ) & kTopBits);
    i += 8;
  }
  while (i < end && plane[i] == plane[start]) ++i;
  return i;
}

// One byte alone: itself when it cannot be taken for a run code, else a run of one.
std::uint8_t* PutSingle(std::uint8_t value, std::uint8_t* o) {
  const bool coded = value >= kRunCode;
  o[0] = coded ? std::uint8_t(kRunCode + 1) : value;
  o[1] = value;
  return o + 1 + coded;
}

// A run of equal bytes goes out as runs of 63 and one of what is left, which is what
// restarting the count at 63 with the value kept amounts to.
std::uint8_t* PutRun(std::uint8_t value, std::size_t length, std::uint8_t* o) {
  for (; length >= kLongestRun; length -= kLongestRun) {
    o[0] = kRunCode + kLongestRun;
    o[1] = value;
    o += 2;
  }
  if (length == 1) return PutSingle(value, o);
  if (length > 1) {
    o[0] = static_cast<std::uint8_t>(kRunCode + length);
    o[1] = value;
    o += 2;
  }
  return o;
}

// Where one plane row is read (always at the start of a run) and written. The output has room
// for two bytes per plane byte, so no write is checked.
struct PlaneCursor {
  std::size_t i = 0;
  std::uint8_t* o;
};

#if defined(__GNUC__)
#define PCX_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define PCX_ALWAYS_INLINE inline
#endif

// A step over the plane at a run start, with at least kStepNeeds bytes left. Busy planes
// hardly repeat a byte, and a branch per byte would be mispredicted at every turn. Comparing
// a group of bytes with their successors at once shows the runs of one before the first
// repeat (at most one less than the group a step). When none of them lies at 192 or above
// they are stored whole; when all do (bright areas) they are stored interleaved with run codes
// of one; only a mixture goes byte by byte. The run that follows is measured from the same
// comparison and written without a branch; only a run that reaches past the group is measured
// on. The cursor is copied in and out so that the byte stores cannot be taken to change it.
//
// With kTail the step takes the last bytes of a plane (1 to 16 left) whose buffer goes on for
// sixteen readable bytes and whose output has kOutputSlack bytes of room past twice the
// plane's length: the bytes past the plane are masked out, and the last byte of the plane has
// no successor to repeat.
#if defined(__SSE2__)
constexpr std::size_t kStepNeeds = 17;  // sixteen bytes and the successor of the last
constexpr std::size_t kPlanePadding = 16;
constexpr std::size_t kOutputSlack = 32;

template <bool kTail>
PCX_ALWAYS_INLINE void EncodeStep(const std::uint8_t* plane, std::size_t count,
                                  PlaneCursor& cursor) {
  std::size_t i = cursor.i;
  std::uint8_t* o = cursor.o;
  const __m128i sixteen = _mm_loadu_si128(reinterpret_cast<const __m128i*>(plane + i));
  const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(plane + i + 1));
  const __m128i run_code = _mm_set1_epi8(static_cast<char>(kRunCode));
  const unsigned left = kTail ? static_cast<unsigned>(count - i) : 17;
  // Bit j: byte j equals byte j + 1 (both in the plane); byte j lies at 192 or above.
  const unsigned repeats = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(sixteen, next))) &
                           (kTail ? (1u << (left - 1)) - 1 : 0xFFFFu);
  const unsigned high = static_cast<unsigned>(
      _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(sixteen, run_code), sixteen)));
  // The last byte (of the sixteen, or past the plane's end) stops the singles.
  const unsigned singles =
      static_cast<unsigned>(std::countr_zero(repeats | (kTail ? 1u << left : 0x8000u)));
  const unsigned before = (1u << singles) - 1;
  const unsigned coded = high & before;
  if (coded == 0) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o), sixteen);
    o += singles;
  } else if (coded == before) {
    const __m128i run_of_one = _mm_set1_epi8(static_cast<char>(kRunCode + 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_unpacklo_epi8(run_of_one, sixteen));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 16), _mm_unpackhi_epi8(run_of_one, sixteen));
    o += 2 * singles;
  } else {
    for (unsigned k = 0; k < singles; ++k) o = PutSingle(plane[i + k], o);
  }
  i += singles;
  // Without a repeat the singles stopped at the last byte, which then only starts the next
  // step.
  const std::size_t run = repeats >> singles & 1;
  // The bytes that differ from their successor (in a tail, the plane's last byte too).
  const unsigned ends = ~repeats & ~before & 0xFFFFu;
  if (!kTail && ends == 0) {
    const std::size_t end = RunEnd(plane, i, count);
    o = PutRun(plane[i], end - i, o);
    i = end;
  } else {
    // When a tail step's singles took every byte left there is no run to write.
    const std::size_t length = std::countr_zero(ends) - singles + 1;
    o[0] = static_cast<std::uint8_t>(kRunCode + length);
    o[1] = plane[i];
    o += 2 * run;
    i += length * run;
  }
  cursor.i = i;
  cursor.o = o;
}
#else
constexpr std::size_t kStepNeeds = 9;  // eight bytes and the successor of the last
constexpr std::size_t kPlanePadding = 0;
constexpr std::size_t kOutputSlack = 0;

template <bool kTail>
PCX_ALWAYS_INLINE void EncodeStep(const std::uint8_t* plane, std::size_t count,
                                  PlaneCursor& cursor) {
  using namespace byte_flags;
  std::size_t i = cursor.i;
  std::uint8_t* o = cursor.o;
  const std::uint64_t eight = Load8(plane + i);
  const std::uint64_t repeats = ZeroBytes(eight ^ Load8(plane + i + 1));
  const std::size_t singles = FirstFlagged(repeats | kLastByte);
  const std::uint64_t before = BytesBefore(singles) & kTopBits;
  const std::uint64_t coded = HighBytes(eight) & before;
  if (coded == 0) {
    Store8(o, eight);
    o += singles;
  } else if (coded == before) {
    for (std::size_t k = 0; k < 8; ++k) {
      o[2 * k] = kRunCode + 1;
      o[2 * k + 1] = plane[i + k];
    }
    o += 2 * singles;
  } else {
    for (std::size_t k = 0; k < singles; ++k) o = PutSingle(plane[i + k], o);
  }
  i += singles;
  const std::uint64_t run = FlagAt(repeats, singles);
  const std::uint64_t ends = ~repeats & kTopBits & ~BytesBefore(singles);
  if (ends == 0) {
    const std::size_t end = RunEnd(plane, i, count);
    o = PutRun(plane[i], end - i, o);
    i = end;
  } else {
    const std::size_t length = FirstFlagged(ends) - singles + 1;
    o[0] = static_cast<std::uint8_t>(kRunCode + length);
    o[1] = plane[i];
    o += 2 * run;
    i += length * run;
  }
  cursor.i = i;
  cursor.o = o;
}
#endif

// The rest of a plane row from the cursor: steps while they have their bytes, then run by run.
void FinishPlane(const std::uint8_t* plane, std::size_t count, PlaneCursor& c) {
  while (count - c.i >= kStepNeeds) EncodeStep<false>(plane, count, c);
  while (c.i < count) {
    const std::size_t end = RunEnd(plane, c.i, count);
    c.o = PutRun(plane[c.i], end - c.i, c.o);
    c.i = end;
  }
}

// The same for a plane with kPlanePadding readable bytes past it and kOutputSlack bytes of
// room past twice its length: the last bytes go in tail steps.
void FinishPaddedPlane(const std::uint8_t* plane, std::size_t count, PlaneCursor& c) {
#if defined(__SSE2__)
  while (count - c.i >= kStepNeeds) EncodeStep<false>(plane, count, c);
  while (c.i < count) EncodeStep<true>(plane, count, c);
#else
  FinishPlane(plane, count, c);
#endif
}

std::size_t EncodeUnchecked(const std::uint8_t* plane, std::size_t count, std::uint8_t* out) {
  PlaneCursor c{0, out};
  FinishPlane(plane, count, c);
  return static_cast<std::size_t>(c.o - out);
}

// Gathers the red, green and blue bytes of one picture row (blue, green, red pixels).
// Only pixels `from` to `to` (whole groups of sixteen).
void SplitRow(const std::uint8_t* row, int from, int to, std::uint8_t* red, std::uint8_t* green,
              std::uint8_t* blue) {
  int x = from;
#if defined(__SSE2__)
  // Sixteen pixels at a time: each four pixels are spread to four bytes each (the fourth is
  // whatever follows), then four rounds of byte interleaving sort the sixty-four bytes into
  // one register per colour. Every load stays inside the sixteen pixels' 48 bytes.
  const __m128i first_pixel = _mm_set1_epi64x(0x00000000FFFFFFFFll);
  for (; x + 16 <= to; x += 16) {
    const std::uint8_t* in = row + 3 * x;
    __m128i quads[4];
    for (int k = 0; k < 4; ++k) {
      const __m128i raw =
          k < 3 ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 12 * k))
                : _mm_srli_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 32)), 4);
      // Pixels 0 and 1 in the low half, 2 and 3 in the high half, each pair as six bytes.
      const __m128i pairs = _mm_unpacklo_epi64(raw, _mm_srli_si128(raw, 6));
      quads[k] = _mm_or_si128(_mm_and_si128(pairs, first_pixel),
                              _mm_andnot_si128(first_pixel, _mm_slli_epi64(pairs, 8)));
    }
    __m128i v[4] = {quads[0], quads[1], quads[2], quads[3]};
    for (int round = 0; round < 3; ++round) {
      const __m128i a = _mm_unpacklo_epi8(v[0], v[2]);
      const __m128i b = _mm_unpackhi_epi8(v[0], v[2]);
      const __m128i c = _mm_unpacklo_epi8(v[1], v[3]);
      const __m128i d = _mm_unpackhi_epi8(v[1], v[3]);
      v[0] = a;
      v[1] = b;
      v[2] = c;
      v[3] = d;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(blue + x), _mm_unpacklo_epi8(v[0], v[2]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(green + x), _mm_unpackhi_epi8(v[0], v[2]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(red + x), _mm_unpacklo_epi8(v[1], v[3]));
  }
  static_assert(kPictureWidth % 16 == 0, "rows are whole groups of sixteen pixels");
#else
  for (; x < to; ++x) {
    blue[x] = row[3 * x];
    green[x] = row[3 * x + 1];
    red[x] = row[3 * x + 2];
  }
#endif
}

// The pixels of a row between its first and its last byte that is not black, as a range of
// whole groups of sixteen pixels; empty for a black row. Most rows of a sprite's picture are
// black, and the rest mostly black around the sprite: the coder splits and steps over only
// this range, the black before it being one run.
struct InkGroups {
  int from = 0;
  int to = 0;
};

InkGroups RowInk(const std::uint8_t* row) {
  constexpr int kGroup = 16;
  constexpr int kGroupBytes = 3 * kGroup;
  constexpr int kGroups = kPictureWidth / kGroup;
  auto black = [row](int group) {
    const std::uint8_t* at = row + group * kGroupBytes;
#if defined(__SSE2__)
    const __m128i any =
        _mm_or_si128(_mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)),
                                  _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 16))),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 32)));
    return _mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) == 0xFFFF;
#else
    std::uint64_t any = 0;
    for (int k = 0; k < kGroupBytes; k += 8) any |= byte_flags::Load8(at + k);
    return any == 0;
#endif
  };
  int first = 0;
  while (first < kGroups && black(first)) ++first;
  if (first == kGroups) return {};
  int last = kGroups - 1;
  while (black(last)) --last;
  return {first * kGroup, (last + 1) * kGroup};
}

// Copies of a few dozen to a few hundred bytes, the codes of a row, in sixteen-byte moves
// without a call: a call each was a tenth of a shown icon's time where the C library's copy
// is not the system's own (under Wine). The last move ends exactly at n (at least 16) and
// may cover bytes the one before it moved.
void CopyRowCodes(std::uint8_t* out, const std::uint8_t* from, std::size_t n) {
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16) std::memcpy(out + i, from + i, 16);
  if (i < n) std::memcpy(out + n - 16, from + n - 16, 16);
}

// Zeroes `n` bytes, a multiple of sixteen (the margins of whole groups of pixels).
void ClearGroups(std::uint8_t* plane, std::size_t n) {
#if defined(__SSE2__)
  // Vector stores: a plain loop of zero stores is turned back into a call.
  const __m128i zero = _mm_setzero_si128();
  for (std::size_t i = 0; i < n; i += 16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(plane + i), zero);
  }
#else
  std::memset(plane, 0, n);
#endif
}

// The codes of a black row's three planes, made by the same coder as every other row.
struct BlackRowCodes {
  std::array<std::uint8_t, 3 * 2 * (kPictureWidth / kLongestRun + 1)> bytes{};
  std::size_t size = 0;

  BlackRowCodes() {
    std::uint8_t* o = bytes.data();
    for (int plane = 0; plane < 3; ++plane) o = PutRun(0, kPictureWidth, o);
    size = static_cast<std::size_t>(o - bytes.data());
  }
};

}  // namespace

std::size_t EncodePcxPlane(std::span<const std::uint8_t> plane, std::span<std::uint8_t> out) {
  if (plane.empty()) return 0;
  if (out.size() / 2 >= plane.size())
    return EncodeUnchecked(plane.data(), plane.size(), out.data());
  // Too little room for the worst case: encode through a scratch copy and take it only whole.
  std::vector<std::uint8_t> scratch(2 * plane.size());
  const std::size_t length = EncodeUnchecked(plane.data(), plane.size(), scratch.data());
  if (length > out.size()) return 0;
  std::memcpy(out.data(), scratch.data(), length);
  return length;
}

std::size_t EncodePcx(std::span<const std::uint8_t> picture, std::span<std::uint8_t> out,
                      PictureRows ink_rows) {
  if (picture.size() < kPictureBytes || out.size() < kPcxHeaderSize) return 0;
  std::memcpy(out.data(), kHeader.data(), kPcxHeaderSize);
  std::size_t length = kPcxHeaderSize;
  std::array<std::uint8_t, 3 * kPictureWidth + kPlanePadding> line{};
  const std::uint8_t* const planes[3] = {line.data(), line.data() + kPictureWidth,
                                         line.data() + 2 * kPictureWidth};
  // Each plane row is encoded into room for its worst case, all three side by side (each
  // step waits for the one before it in the same plane, so three independent planes keep the
  // processor busy), then copied out when the row fits.
  std::array<std::array<std::uint8_t, 2 * kPictureWidth + kOutputSlack>, 3> encoded;
  static const BlackRowCodes black_row;
  for (int r = 0; r < kPictureHeight; ++r) {
    const std::uint8_t* row = picture.data() + std::size_t(r) * kRowBytes;
    const InkGroups ink = r >= ink_rows.first && r < ink_rows.end ? RowInk(row) : InkGroups{};
    if (ink.from == ink.to) {
      if (black_row.size > out.size() - length) return 0;
      CopyRowCodes(out.data() + length, black_row.bytes.data(), black_row.size);
      length += black_row.size;
      continue;
    }
    // The plane bytes outside the range are black; those of the row before may still be there.
    for (int k = 0; k < 3; ++k) {
      std::uint8_t* plane = line.data() + k * kPictureWidth;
      ClearGroups(plane, static_cast<std::size_t>(ink.from));
      ClearGroups(plane + ink.to, static_cast<std::size_t>(kPictureWidth - ink.to));
    }
    SplitRow(row, ink.from, ink.to, line.data(), line.data() + kPictureWidth,
             line.data() + 2 * kPictureWidth);
    PlaneCursor c[3] = {{0, encoded[0].data()}, {0, encoded[1].data()}, {0, encoded[2].data()}};
    constexpr std::size_t kCount = kPictureWidth;
    if (ink.from > 0) {
      // The black before the range is the start of one run, written as the steps would.
      for (int k = 0; k < 3; ++k) {
        const std::size_t end = RunEnd(planes[k], static_cast<std::size_t>(ink.from) - 1, kCount);
        c[k].o = PutRun(0, end, c[k].o);
        c[k].i = end;
      }
    }
    while (kCount - c[0].i >= kStepNeeds && kCount - c[1].i >= kStepNeeds &&
           kCount - c[2].i >= kStepNeeds) {
      EncodeStep<false>(planes[0], kCount, c[0]);
      EncodeStep<false>(planes[1], kCount, c[1]);
      EncodeStep<false>(planes[2], kCount, c[2]);
    }
    for (int k = 0; k < 3; ++k) {
      FinishPaddedPlane(planes[k], kCount, c[k]);
      const std::size_t n = static_cast<std::size_t>(c[k].o - encoded[k].data());
      if (n > out.size() - length) return 0;
      if (n >= 16) {
        CopyRowCodes(out.data() + length, encoded[k].data(), n);
      } else {
        std::memcpy(out.data() + length, encoded[k].data(), n);
      }
      length += n;
    }
  }
  return length;
}

}  // namespace zemlo
