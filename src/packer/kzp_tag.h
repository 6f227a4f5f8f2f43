// Reading one tag of a KZP stream, for every reader of packed data: the unpacker, the
// verifier and the library checks. A tag that the stream cuts short is no tag.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "core/byte_reader.h"
#include "packer/kzp.h"

namespace zemlo {

struct KzpTag {
  bool replicate = false;
  // The tag's length field (iWLen or iRLen): literal bytes of a write tag; a replicate tag
  // produces one more byte than it says.
  std::size_t length = 0;
  std::size_t distance = 0;                // replicate tags only
  std::span<const std::uint8_t> literals;  // write tags only
  std::size_t produced() const { return replicate ? length + 1 : length; }
};

// Whether the next tag, whole or not, is a replicate tag; false at the end of the stream.
inline bool NextTagReplicates(const ByteReader& in) {
  return !in.empty() && (in.rest()[0] & kTagReplicate) != 0;
}

// The next tag, or nothing when the stream ends inside it (the stream is then done with:
// where the cursor stands is of no use).
[[nodiscard]] inline std::optional<KzpTag> ReadKzpTag(ByteReader& in) {
  const auto fail = []() -> std::optional<KzpTag> { return std::nullopt; };
  const auto tag = in.U8();
  if (!tag) return fail();
  KzpTag out;
  out.replicate = (*tag & kTagReplicate) != 0;
  out.length = *tag & kTagLowBits;
  if (*tag & kTagExtended) {
    const auto sixty_fours = in.U8();
    if (!sixty_fours) return fail();
    out.length += std::size_t{64} * *sixty_fours;
  }
  if (!out.replicate) {
    const auto literals = in.Bytes(out.length);
    if (!literals) return fail();
    out.literals = *literals;
    return out;
  }
  const auto distance = in.U8();
  if (!distance) return fail();
  out.distance = *distance;
  if (*distance & kOffsetExtended) {
    const auto one_twenty_eights = in.U8();
    if (!one_twenty_eights) return fail();
    out.distance = (*distance & kOffsetLowBits) + std::size_t{128} * *one_twenty_eights;
  }
  return out;
}

// What a walk holds against a stream: only what keeps it from unpacking, or also every form
// the packer never writes. The packer writes "KZP1"; it cuts its source into chunks of 8192
// bytes and ends every tag inside its chunk; each of its replicate tags is two bytes (no
// extension byte) and copies 4 to 32 bytes from 1 to 32 bytes back.
enum class KzpRules { kUnpackable, kAsPacked };

// The tags of a whole packed entry walked without unpacking it: the bytes the stream unpacks
// to, or the first fault ("" when none). Reads only within `packed` and stops counting beyond
// `limit` bytes of output.
struct PackedStreamWalk {
  std::size_t unpacked = 0;
  std::string fault;
};
PackedStreamWalk WalkPackedStream(std::span<const std::uint8_t> packed, std::size_t limit,
                                  KzpRules rules = KzpRules::kUnpackable);

}  // namespace zemlo
