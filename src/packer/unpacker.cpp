#include <algorithm>
#include <cstring>

#include "packer/kzp.h"
#include "packer/kzp_tag.h"

namespace zemlo {
namespace {

// Copies of up to this many bytes go as one fixed-size move when both sides have the room; the
// compressor's literal runs between matches and all of its copies are this short.
constexpr std::size_t kShortCopy = 32;

// out[i] = out[i - distance] for i in [0, n), exactly as a forward byte loop would, including
// overlaps where the copy repeats its own output. `slack` is the room after out + n.
void CopyBack(std::uint8_t* out, std::size_t distance, std::size_t n, std::size_t slack) {
  const std::uint8_t* from = out - distance;
  if (distance >= 8 && slack >= 8 && n <= kShortCopy) {
    // Each eight-byte step reads only bytes at least eight back, all produced already; the
    // last step may write up to seven bytes past n, which the slack allows and later output
    // overwrites. The compressor's copies are all this short: fixed-size moves, no call.
    for (std::size_t i = 0; i < n; i += 8) std::memcpy(out + i, from + i, 8);
    return;
  }
  if (distance < 8 && slack >= 8 && n <= kShortCopy) {
    // A short pattern repeated (a pixel: distance 3): the bytes up to the first multiple of
    // the distance that spans eight are taken one by one, the rest in eight-byte moves from
    // that far back, which hold the same pattern and are final already. A call per doubling
    // of the pattern cost more than the copy, most of all where the C library's copy is not
    // the system's own (under Wine).
    const std::size_t period = distance * ((8 + distance - 1) / distance);
    const std::size_t head = std::min(n, period);
    for (std::size_t i = 0; i < head; ++i) out[i] = from[i];
    for (std::size_t i = period; i < n; i += 8) std::memcpy(out + i, out + i - period, 8);
    return;
  }
  if (distance >= n) {
    std::memcpy(out, from, n);
    return;
  }
  if (distance == 1) {
    std::memset(out, *from, n);
    return;
  }
  if (distance >= 8 && slack >= 8) {
    for (std::size_t i = 0; i < n; i += 8) std::memcpy(out + i, from + i, 8);
    return;
  }
  // The pattern doubles with every step, each step copying bytes that are already final.
  std::size_t done = 0;
  while (done < n) {
    const std::size_t step = std::min(n - done, distance + done);
    std::memcpy(out + done, from, step);
    done += step;
  }
}

}  // namespace

bool IsPackedEntry(std::span<const std::uint8_t> entry) {
  return entry.size() >= kKzpRecognisedSize &&
         std::memcmp(entry.data(), kKzpMagic, kKzpRecognisedSize) == 0;
}

std::optional<std::size_t> UnpackEntry(std::span<const std::uint8_t> packed,
                                       std::span<std::uint8_t> out) {
  if (packed.size() < kKzpMagicSize) return std::nullopt;
  ByteReader in(packed.subspan(kKzpMagicSize));
  std::size_t produced = 0;
  while (!in.empty()) {
    const auto tag = ReadKzpTag(in);
    if (!tag) return std::nullopt;
    const std::size_t n = tag->produced();
    const std::size_t out_room = out.size() - produced;
    if (n > out_room) return std::nullopt;
    std::uint8_t* o = out.data() + produced;
    if (!tag->replicate) {
      // Short literal runs go as one fixed-size move when both sides have the room.
      const std::size_t in_room = tag->literals.size() + in.remaining();
      if (in_room >= kShortCopy && out_room >= kShortCopy && n <= kShortCopy) {
        std::memcpy(o, tag->literals.data(), kShortCopy);
      } else {
        std::memcpy(o, tag->literals.data(), n);
      }
    } else {
      if (tag->distance == 0 || tag->distance > produced) return std::nullopt;
      CopyBack(o, tag->distance, n, out_room - n);
    }
    produced += n;
  }
  return produced;
}

}  // namespace zemlo
