// The compressor's search and its loop, included by the two files that compile them: one for
// every processor the program runs on, one for processors with AVX2 (whose 256-bit compare
// takes a position's whole window at once), chosen at run time. Everything here has internal
// linkage, so neither file's code can stand in for the other's at link time. Only those two
// files include it, after every header it needs.
#pragma once

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
// The bits of the distances below `distance`.
constexpr std::uint32_t SmallerDistances(int distance) {
  return distance > 1 ? ~0u << (kKzpWindow + 1 - distance) : 0;
}

// Candidates that exist at position p: distances 1 .. min(p, 32).
std::uint32_t ExistingCandidates(std::size_t p) {
  if (p >= static_cast<std::size_t>(kKzpWindow)) return ~0u;
  if (p == 0) return 0;
  return ~0u << (kKzpWindow - static_cast<int>(p));
}

#if defined(__GNUC__)
#define KZP_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define KZP_ALWAYS_INLINE inline
#endif

// Needs the 32 bytes before q.
KZP_ALWAYS_INLINE std::uint32_t WindowMask(const std::uint8_t* s, std::size_t q) {
#if defined(KZP_WINDOW_AVX2)
  // The whole window in one compare.
  const __m256i value = _mm256_set1_epi8(static_cast<char>(s[q]));
  const __m256i window = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + q - 32));
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(window, value)));
#elif defined(__SSE2__)
  const __m128i value = _mm_set1_epi8(static_cast<char>(s[q]));
  const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + q - 32));
  const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + q - 16));
  const auto low_bits = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(low, value)));
  const auto high_bits = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(high, value)));
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

KZP_ALWAYS_INLINE std::uint32_t EqualityMask(const std::uint8_t* s, std::size_t q) {
  return q >= static_cast<std::size_t>(kKzpWindow) ? WindowMask(s, q) : ShortWindowMask(s, q);
}

// Bytes equal at p + k and p - d + k for k = known .. cap - 1, counted up to the first
// difference; eight at a time while the source has eight bytes left.
KZP_ALWAYS_INLINE int ExtendMatch(const std::uint8_t* s, std::size_t size, std::size_t p, int d,
                                  int known, int cap) {
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
        same = TrailingZeroBits(diff) / 8;
      } else {
        same = LeadingZeroBits(diff) / 8;
      }
      return std::min(k + same, cap);
    }
    k += 8;
  }
  if (k >= cap) return cap;
  while (k < cap && s[p + k] == s[p + k - d]) ++k;
  return k;
}

// The best match of at least kKzpMinMatch bytes among the candidates in `four_or_more` (not
// 0). The smallest distance is measured first, eight bytes at a time; in a run of one value
// it already reaches the cap. A later candidate replaces the kept match only when it is
// longer, so it must also match the byte just past the kept length: the equality mask of that
// byte's position drops every candidate that does not, all at once, and only the few left are
// measured, in increasing distance. Equal lengths keep the smallest distance, as trying the
// distances one after the other does.
KZP_ALWAYS_INLINE Match LongestOfCandidates(const std::uint8_t* s, std::size_t size, std::size_t p,
                                            int cap, std::uint32_t four_or_more) {
  int d = SmallestDistance(four_or_more);
  Match best{ExtendMatch(s, size, p, d, kKzpMinMatch, cap), d};
  std::uint32_t rest = four_or_more & ~DistanceBit(d);
  int filtered_at = 0;
  while (rest != 0 && best.length < cap) {
    if (filtered_at != best.length) {
      rest &= EqualityMask(s, p + static_cast<std::size_t>(best.length));
      filtered_at = best.length;
      if (rest == 0) break;
    }
    d = SmallestDistance(rest);
    rest &= ~DistanceBit(d);
    const int length = ExtendMatch(s, size, p, d, kKzpMinMatch, cap);
    if (length > best.length) best = {length, d};
  }
  return best;
}

// Masks of positions at or past the chunk end are never needed (the cap stops every match
// there) and are left 0.
KZP_ALWAYS_INLINE std::uint32_t MaskBefore(const std::uint8_t* s, std::size_t q, std::size_t end) {
  return q < end ? EqualityMask(s, q) : 0;
}

// The equality masks of positions p .. p + 3, kept in registers as the position moves: their
// AND holds every candidate that matches the minimum length at p.
class MaskWindow {
 public:
  // The four masks of positions q .. q + 3 (those at or past `end` are 0).
  KZP_ALWAYS_INLINE void Load(const std::uint8_t* s, std::size_t q, std::size_t end) {
    m0_ = MaskBefore(s, q, end);
    m1_ = MaskBefore(s, q + 1, end);
    m2_ = MaskBefore(s, q + 2, end);
    m3_ = MaskBefore(s, q + 3, end);
  }
  // One position on: `next` is the mask of the new position + 3.
  KZP_ALWAYS_INLINE void Slide(std::uint32_t next) {
    m0_ = m1_;
    m1_ = m2_;
    m2_ = m3_;
    m3_ = next;
  }
  std::uint32_t FourOrMore() const { return m0_ & m1_ & m2_ & m3_; }

 private:
  std::uint32_t m0_ = 0;
  std::uint32_t m1_ = 0;
  std::uint32_t m2_ = 0;
  std::uint32_t m3_ = 0;
};

// Where the masks find nothing for a while (busy pictures, noise) the compressor skims: a
// table keeps, per hash of the four bytes at a position, the last position inserted. Every
// match of the minimum length repeats four bytes, so when all of the last 32 positions are in
// the table, a position whose entry is more than 32 back has no such match; the others are
// checked with the masks. Positions are kept modulo 65536: a stale or aliased entry can only
// claim a candidate that the masks then reject, never hide one.
// Literal positions in a row before skimming; entering it costs 32 inserts, which a stretch
// of literals between the short matches of painted pictures does not pay back.
constexpr int kSkimAfter = 64;
constexpr std::size_t kShortLiterals = 16;  // literal runs written with one fixed-size copy

class RecentWords {
 public:
  void Clear() { std::memset(table_, 0, sizeof table_); }
  void Insert(const std::uint8_t* s, std::size_t q) {
    table_[Hash(s, q)] = static_cast<std::uint16_t>(q);
  }
  // Inserts q and tells whether the four bytes at q may have occurred 1 to 32 bytes earlier.
  bool InsertAndProbe(const std::uint8_t* s, std::size_t q) {
    std::uint16_t& entry = table_[Hash(s, q)];
    const auto back = static_cast<std::uint16_t>(static_cast<std::uint16_t>(q) - entry - 1);
    entry = static_cast<std::uint16_t>(q);
    return back < kKzpWindow;
  }

 private:
  static constexpr int kBits = 12;
  static std::uint32_t Hash(const std::uint8_t* s, std::size_t q) {
    std::uint32_t word;
    std::memcpy(&word, s + q, 4);
    return (word * 2654435761u) >> (32 - kBits);
  }
  std::uint16_t table_[1 << kBits];
};

KZP_ALWAYS_INLINE std::size_t CompressChunkLoop(std::span<const std::uint8_t> source,
                                                std::size_t start, std::span<std::uint8_t> out,
                                                std::size_t count, StatusPort& port, Owner owner,
                                                std::size_t* covered) {
  std::size_t covered_here = 0;
  if (covered != nullptr) *covered = 0;
  if (start >= source.size()) return 0;
  count = std::min(count, source.size() - start);
  const std::uint8_t* s = source.data();
  const std::size_t end = start + count;
  // Only positions before this one have room for a match of the minimum length.
  const std::size_t match_end =
      count >= static_cast<std::size_t>(kKzpMinMatch) ? end - (kKzpMinMatch - 1) : start;
  std::size_t written = 0;
  std::size_t literals_from = start;

  MaskWindow masks;
  // Every match found here is at most 32 long and 32 back: the two-byte form.
  auto put_replicate = [&](Match match) {
    if (out.size() - written >= 2) {
      out[written] = static_cast<std::uint8_t>(kTagReplicate | (match.length - 1));
      out[written + 1] = static_cast<std::uint8_t>(match.distance);
      written += 2;
      covered_here += static_cast<std::size_t>(match.length);
    } else {
      const std::size_t n =
          PutReplicateTag(out.subspan(written), match.distance, match.length, port, owner);
      written += n;
      if (n != 0) covered_here += static_cast<std::size_t>(match.length);
    }
  };
  // Literal runs are far shorter than the write limit (a chunk is), so a tag written stands
  // for the whole run.
  auto put_literals = [&](std::size_t from, std::size_t n) {
    const std::size_t tag = PutWriteTag(source.subspan(from, n), out.subspan(written), port, owner);
    written += tag;
    if (tag != 0) covered_here += std::min(n, static_cast<std::size_t>(kKzpWriteLimit));
  };
  RecentWords words;
  bool words_cleared = false;
  bool skimming = false;
  int misses = 0;
  std::size_t p = start;
  masks.Load(s, p, end);
  const std::size_t window = static_cast<std::size_t>(kKzpWindow);
  const std::size_t slide_end = end >= 4 ? end - 4 : 0;

  // ---- The hot loop ----
  // One turn per match or literal. Three ways through it, fastest first: sliding the mask
  // window over literals while it shows no candidate (full window only); skimming by the word
  // table once literals have gone on for kSkimAfter positions; and at a candidate, measuring
  // it and writing the literals before it and the replicate tag. After a full-length match
  // the same distance is tried again without the masks (runs, repeated patterns).
  while (p < match_end) {
    if (!skimming && p >= window) {
      while (p < slide_end && masks.FourOrMore() == 0 && misses < kSkimAfter - 1) {
        masks.Slide(WindowMask(s, p + 4));
        ++p;
        ++misses;
      }
    }
    if (skimming) {
      while (p < match_end && !words.InsertAndProbe(s, p)) ++p;
      if (p == match_end) break;
      masks.Load(s, p, end);
    }
    const int cap = static_cast<int>(std::min(end - p, std::size_t{kKzpMaxMatch}));
    const std::uint32_t four_or_more = masks.FourOrMore() & ExistingCandidates(p);
    const Match match =
        four_or_more != 0 ? LongestOfCandidates(s, source.size(), p, cap, four_or_more) : Match{};
    if (match.length < kKzpMinMatch) {
      ++p;
      if (skimming) continue;
      if (++misses < kSkimAfter) {
        masks.Slide(MaskBefore(s, p + 3, end));
        continue;
      }
      // Long enough without a match: from here on every position goes into the word table,
      // which needs the last 32 positions in it first.
      if (!words_cleared) {
        words.Clear();
        words_cleared = true;
      }
      for (std::size_t q = p >= window ? p - window : 0; q < p; ++q) words.Insert(s, q);
      skimming = true;
      continue;
    }
    if (p > literals_from) {
      const std::size_t n = p - literals_from;
      if (n <= kShortLiterals && out.size() - written >= 1 + kShortLiterals &&
          source.size() - literals_from >= kShortLiterals) {
        // The common short run: its tag byte and a fixed-size copy that the next tag
        // overwrites past the run.
        out[written] = static_cast<std::uint8_t>(n);
        std::memcpy(out.data() + written + 1, s + literals_from, kShortLiterals);
        written += 1 + n;
        covered_here += n;
      } else {
        put_literals(literals_from, n);
      }
    }
    put_replicate(match);
    p += static_cast<std::size_t>(match.length);
    skimming = false;
    misses = 0;
    if (match.length == kKzpMaxMatch) {
      // After a full-length match the next is mostly the same distance again (a run, a
      // repeated pattern). When no smaller distance matches even the first byte and this one
      // reaches the cap, nothing can beat it, and the other three masks are not needed.
      while (p >= window && p < match_end) {
        const std::uint32_t here = WindowMask(s, p);
        const std::uint32_t same = DistanceBit(match.distance);
        if ((here & (SmallerDistances(match.distance) | same)) != same) break;
        const int cap_here = static_cast<int>(std::min(end - p, std::size_t{kKzpMaxMatch}));
        if (ExtendMatch(s, source.size(), p, match.distance, 1, cap_here) != cap_here) break;
        put_replicate({cap_here, match.distance});
        p += static_cast<std::size_t>(cap_here);
      }
    }
    literals_from = p;
    masks.Load(s, p, end);
  }
  if (end > literals_from) put_literals(literals_from, end - literals_from);
  if (covered != nullptr) *covered = covered_here;
  return written;
}

}  // namespace
}  // namespace zemlo
