#include <algorithm>
#include <bit>
#include <cstring>

#include "packer/kzp.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zemlo {
namespace {

// The search looks at all 32 candidates of a position at once. An equality mask of position q
// has bit j set when byte q equals byte q - 32 + j, so bit j stands for distance 32 - j and the
// smallest distance is the highest set bit. A candidate matches at least k bytes exactly when
// its bit is set in the masks of positions p .. p + k - 1, so four masks ANDed give every
// candidate worth a replicate tag, and only those are measured byte by byte. The result is the
// same (length, distance) as trying the 32 distances one after the other.
constexpr std::uint32_t DistanceBit(int distance) { return 0x80000000u >> (distance - 1); }
int SmallestDistance(std::uint32_t mask) { return 1 + std::countl_zero(mask); }

// Candidates that exist at position p: distances 1 .. min(p, 32).
std::uint32_t ExistingCandidates(std::size_t p) {
  if (p >= static_cast<std::size_t>(kKzpWindow)) return ~0u;
  if (p == 0) return 0;
  return ~0u << (kKzpWindow - static_cast<int>(p));
}

// Needs the 32 bytes before q.
std::uint32_t WindowMask(const std::uint8_t* s, std::size_t q) {
#if defined(__SSE2__)
  const __m128i value = _mm_set1_epi8(static_cast<char>(s[q]));
  const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + q - 32));
  const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + q - 16));
  const auto low_bits = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(low, value)));
  const auto high_bits =
      static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(high, value)));
  return low_bits | high_bits << 16;
#else
  // Eight bytes at a time: a byte of x is zero exactly where the window byte equals s[q]; the
  // exact zero-byte test sets its top bit, and the multiply gathers the eight top bits.
  const std::uint64_t spread = 0x0101010101010101ull * s[q];
  std::uint32_t mask = 0;
  for (int part = 0; part < 4; ++part) {
    std::uint64_t word;
    std::memcpy(&word, s + q - 32 + 8 * part, 8);
    const std::uint64_t x = word ^ spread;
    const std::uint64_t low7 = 0x7F7F7F7F7F7F7F7Full;
    const std::uint64_t zero_tops = ~(((x & low7) + low7) | x | low7);
    // Top bit of byte i moves to bit 56 + i.
    const auto bits = static_cast<std::uint32_t>(((zero_tops >> 7) * 0x0102040810204080ull) >> 56);
    mask |= bits << (8 * part);
  }
  return mask;
#endif
}

// Near the start of the entry the window is shorter than 32 bytes; missing distances stay 0.
std::uint32_t ShortWindowMask(const std::uint8_t* s, std::size_t q) {
  std::uint32_t mask = 0;
  for (std::size_t d = 1; d <= q; ++d) {
    if (s[q - d] == s[q]) mask |= DistanceBit(static_cast<int>(d));
  }
  return mask;
}

std::uint32_t EqualityMask(const std::uint8_t* s, std::size_t q) {
  return q >= static_cast<std::size_t>(kKzpWindow) ? WindowMask(s, q) : ShortWindowMask(s, q);
}

// Bytes equal at p + k and p - d + k for k = known .. cap - 1, counted up to the first
// difference; eight at a time while the source has eight bytes left.
int ExtendMatch(const std::uint8_t* s, std::size_t size, std::size_t p, int d, int known,
                int cap) {
  int k = known;
  while (k + 8 <= cap || (k < cap && p + k + 8 <= size)) {
    std::uint64_t a;
    std::uint64_t b;
    std::memcpy(&a, s + p + k, 8);
    std::memcpy(&b, s + p + k - d, 8);
    const std::uint64_t diff = a ^ b;
    if (diff != 0) {
      int same;
      if constexpr (std::endian::native == std::endian::little) {
        same = std::countr_zero(diff) / 8;
      } else {
        same = std::countl_zero(diff) / 8;
      }
      return std::min(k + same, cap);
    }
    k += 8;
  }
  if (k >= cap) return cap;
  while (k < cap && s[p + k] == s[p + k - d]) ++k;
  return k;
}

// The best match of at least kKzpMinMatch bytes among the candidates in `four_or_more`, or
// (0, 0) when there is none; candidates are measured in increasing distance and a longer one
// only replaces a shorter one, so equal lengths keep the smallest distance.
Match LongestOfCandidates(const std::uint8_t* s, std::size_t size, std::size_t p, int cap,
                          std::uint32_t four_or_more) {
  Match best;
  while (four_or_more != 0) {
    const int d = SmallestDistance(four_or_more);
    four_or_more &= ~DistanceBit(d);
    const int length = ExtendMatch(s, size, p, d, kKzpMinMatch, cap);
    if (length > best.length) {
      best = {length, d};
      if (length == cap) break;  // nothing later can be longer
    }
  }
  return best;
}

// The four masks of positions p .. p + 3 as a sliding window; masks of positions at or past
// the chunk end are never needed (the cap stops every match there) and are left 0.
class MaskWindow {
 public:
  MaskWindow(const std::uint8_t* s, std::size_t end) : s_(s), end_(end) {}

  void Reload(std::size_t p) {
    for (std::size_t k = 0; k < 4; ++k) masks_[k] = At(p + k);
  }
  void Slide(std::size_t new_p) {
    masks_[0] = masks_[1];
    masks_[1] = masks_[2];
    masks_[2] = masks_[3];
    masks_[3] = At(new_p + 3);
  }
  std::uint32_t operator[](std::size_t k) const { return masks_[k]; }

 private:
  std::uint32_t At(std::size_t q) const { return q < end_ ? EqualityMask(s_, q) : 0; }

  const std::uint8_t* s_;
  std::size_t end_;
  std::uint32_t masks_[4] = {};
};

}  // namespace

Match FindMatch(std::span<const std::uint8_t> source, std::size_t remaining,
                std::size_t position) {
  if (position == 0 || position >= source.size()) return {};
  const std::size_t room = source.size() - position;
  const int cap = static_cast<int>(std::min({remaining, room, std::size_t{kKzpMaxMatch}}));
  if (cap == 0) return {};
  const std::uint8_t* s = source.data();
  std::uint32_t at_least = ExistingCandidates(position);
  // Candidates matching 1, 2, 3 bytes; then the ones reaching the minimum match get measured.
  std::uint32_t levels[kKzpMinMatch] = {};
  int level = 0;
  while (level < std::min(cap, kKzpMinMatch)) {
    at_least &= EqualityMask(s, position + level);
    if (at_least == 0) break;
    levels[level++] = at_least;
  }
  if (level == kKzpMinMatch) {
    return LongestOfCandidates(s, source.size(), position, cap, levels[kKzpMinMatch - 1]);
  }
  if (level == 0) return {};
  return {level, SmallestDistance(levels[level - 1])};
}

std::size_t CompressChunk(std::span<const std::uint8_t> source, std::size_t start,
                          std::span<std::uint8_t> out, std::size_t count, StatusPort& port,
                          Owner owner) {
  if (start >= source.size()) return 0;
  count = std::min(count, source.size() - start);
  const std::uint8_t* s = source.data();
  const std::size_t end = start + count;
  std::size_t written = 0;
  std::size_t run_start = 0;
  std::size_t run_length = 0;

  MaskWindow masks(s, end);
  std::size_t p = start;
  masks.Reload(p);
  while (p < end) {
    const int cap = static_cast<int>(std::min(end - p, std::size_t{kKzpMaxMatch}));
    Match match;
    if (cap >= kKzpMinMatch) {
      const std::uint32_t four_or_more =
          masks[0] & masks[1] & masks[2] & masks[3] & ExistingCandidates(p);
      if (four_or_more != 0) match = LongestOfCandidates(s, source.size(), p, cap, four_or_more);
    }
    if (match.length < kKzpMinMatch) {
      if (run_length == 0) run_start = p;
      ++run_length;
      ++p;
      masks.Slide(p);
      continue;
    }
    if (run_length != 0) {
      written += PutWriteTag(source.subspan(run_start, run_length), out.subspan(written), port,
                             owner);
      run_length = 0;
    }
    written += PutReplicateTag(out.subspan(written), match.distance, match.length, port, owner);
    p += static_cast<std::size_t>(match.length);
    masks.Reload(p);
  }
  if (run_length != 0) {
    written +=
        PutWriteTag(source.subspan(run_start, run_length), out.subspan(written), port, owner);
  }
  return written;
}

std::size_t PutWriteTag(std::span<const std::uint8_t> literals, std::span<std::uint8_t> out,
                        StatusPort& port, Owner owner) {
  std::size_t n = literals.size();
  if (n > static_cast<std::size_t>(kKzpWriteLimit)) {
    port.ShowMessage(owner, kKzpCaption, "KZP ERROR: Write iWLen > 16383!!",
                     MessageIcon::kWarning);
    n = kKzpWriteLimit;
  }
  const bool extended = n > kTagLowBits;
  const std::size_t head = extended ? 2 : 1;
  if (out.size() < head || out.size() - head < n) return 0;
  out[0] = static_cast<std::uint8_t>((n & kTagLowBits) | (extended ? kTagExtended : 0));
  if (extended) out[1] = static_cast<std::uint8_t>(n / 64);
  if (n != 0) std::memcpy(out.data() + head, literals.data(), n);
  return head + n;
}

std::size_t PutReplicateTag(std::span<std::uint8_t> out, int offset, int length,
                            StatusPort& port, Owner owner) {
  int stored_length = length - 1;  // iRLen
  if (stored_length > kKzpReplicateLengthLimit) {
    port.ShowMessage(owner, kKzpCaption, "KZP ERROR: Rep iRLen > 16383!!",
                     MessageIcon::kWarning);
    stored_length = kKzpReplicateLengthLimit;
  }
  if (offset > kKzpReplicateOffsetLimit) {
    port.ShowMessage(owner, kKzpCaption, "KZP ERROR: Rep iROffset > 32767!!",
                     MessageIcon::kWarning);
    return 0;  // no tag can say where to copy from
  }
  // Offset 0 would copy the byte being produced; neither makes a meaningful tag.
  if (offset < 1 || length < 1) return 0;
  const bool long_length = stored_length > kTagLowBits;
  const bool long_offset = offset > kOffsetLowBits;
  const std::size_t size = 2 + (long_length ? 1 : 0) + (long_offset ? 1 : 0);
  if (out.size() < size) return 0;
  std::size_t i = 0;
  out[i++] = static_cast<std::uint8_t>(kTagReplicate | (stored_length & kTagLowBits) |
                                       (long_length ? kTagExtended : 0));
  if (long_length) out[i++] = static_cast<std::uint8_t>(stored_length / 64);
  out[i++] = static_cast<std::uint8_t>((offset & kOffsetLowBits) |
                                       (long_offset ? kOffsetExtended : 0));
  if (long_offset) out[i++] = static_cast<std::uint8_t>(offset / 128);
  return i;
}

}  // namespace zemlo
