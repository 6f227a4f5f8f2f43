#include <algorithm>
#include <cstring>

#include "packer/kzp.h"

namespace zemlo {
namespace {

// Copies of up to this many bytes go as one fixed-size move when both sides have the room; the
// compressor's literal runs between matches and all of its copies are this short.
constexpr std::size_t kShortCopy = 32;

// out[i] = out[i - distance] for i in [0, n), exactly as a forward byte loop would, including
// overlaps where the copy repeats its own output. `slack` is the room after out + n.
void CopyBack(std::uint8_t* out, std::size_t distance, std::size_t n, std::size_t slack) {
  const std::uint8_t* from = out - distance;
  if (distance >= n) {
    std::memcpy(out, from, n);
    return;
  }
  if (distance == 1) {
    std::memset(out, *from, n);
    return;
  }
  if (distance >= 8 && slack >= 8) {
    // Each eight-byte step reads only bytes at least eight back, all produced already; the
    // last step may write up to seven bytes past n, which the slack allows and later output
    // overwrites.
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
  const std::uint8_t* in = packed.data() + kKzpMagicSize;
  const std::uint8_t* const in_end = packed.data() + packed.size();
  std::uint8_t* const out_begin = out.data();
  std::uint8_t* o = out_begin;
  std::uint8_t* const out_end = out_begin + out.size();

  while (in != in_end) {
    const std::uint8_t tag = *in++;
    std::size_t length = tag & kTagLowBits;
    if (tag & kTagExtended) {
      if (in == in_end) return std::nullopt;
      length += std::size_t{64} * *in++;
    }
    const auto out_room = static_cast<std::size_t>(out_end - o);
    if (!(tag & kTagReplicate)) {
      const auto in_room = static_cast<std::size_t>(in_end - in);
      if (length > in_room || length > out_room) return std::nullopt;
      if (in_room >= kShortCopy && out_room >= kShortCopy && length <= kShortCopy) {
        std::memcpy(o, in, kShortCopy);
      } else {
        std::memcpy(o, in, length);
      }
      in += length;
      o += length;
      continue;
    }
    if (in == in_end) return std::nullopt;
    std::size_t distance = *in++;
    if (distance & kOffsetExtended) {
      if (in == in_end) return std::nullopt;
      distance = (distance & kOffsetLowBits) + std::size_t{128} * *in++;
    }
    const std::size_t n = length + 1;
    if (distance == 0 || distance > static_cast<std::size_t>(o - out_begin) || n > out_room) {
      return std::nullopt;
    }
    CopyBack(o, distance, n, out_room - n);
    o += n;
  }
  return static_cast<std::size_t>(o - out_begin);
}

}  // namespace zemlo
