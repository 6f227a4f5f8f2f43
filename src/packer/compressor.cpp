#include <algorithm>
#include <bit>
#include <cstring>

#include "core/bit_count.h"
#include "packer/compressor_variants.h"
#include "packer/kzp.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "packer/compressor_loop.h"

namespace zemlo {

Match FindMatch(std::span<const std::uint8_t> source, std::size_t remaining, std::size_t position) {
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

std::size_t CompressChunkPortable(std::span<const std::uint8_t> source, std::size_t start,
                                  std::span<std::uint8_t> out, std::size_t count, StatusPort& port,
                                  Owner owner, std::size_t* covered) {
  return CompressChunkLoop(source, start, out, count, port, owner, covered);
}

std::size_t CompressChunk(std::span<const std::uint8_t> source, std::size_t start,
                          std::span<std::uint8_t> out, std::size_t count, StatusPort& port,
                          Owner owner, std::size_t* covered) {
  // Asked once: the answer cannot change while the program runs.
  static const bool avx2 = Avx2Compressor();
  return avx2 ? CompressChunkAvx2(source, start, out, count, port, owner, covered)
              : CompressChunkPortable(source, start, out, count, port, owner, covered);
}

std::size_t PutWriteTag(std::span<const std::uint8_t> literals, std::span<std::uint8_t> out,
                        StatusPort& port, Owner owner) {
  std::size_t n = literals.size();
  if (n > static_cast<std::size_t>(kKzpWriteLimit)) {
    port.ShowMessage(owner, kKzpCaption, "KZP ERROR: Write iWLen > 16383!!", MessageIcon::kWarning);
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

std::size_t PutReplicateTag(std::span<std::uint8_t> out, int offset, int length, StatusPort& port,
                            Owner owner) {
  int stored_length = length - 1;  // iRLen
  if (stored_length > kKzpReplicateLengthLimit) {
    port.ShowMessage(owner, kKzpCaption, "KZP ERROR: Rep iRLen > 16383!!", MessageIcon::kWarning);
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
  out[i++] =
      static_cast<std::uint8_t>((offset & kOffsetLowBits) | (long_offset ? kOffsetExtended : 0));
  if (long_offset) out[i++] = static_cast<std::uint8_t>(offset / 128);
  return i;
}

}  // namespace zemlo
