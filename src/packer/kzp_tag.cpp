#include "packer/kzp_tag.h"

#include <cstdint>

namespace zemlo {
namespace {

using std::to_string;

// The first form of `tag` that the packer never writes, or "". `at` is the tag's first byte
// in the stream, `size` its bytes there, `produced` the unpacked bytes before it.
std::string PackerFormFault(const KzpTag& tag, std::span<const std::uint8_t> packed, std::size_t at,
                            std::size_t size, std::uint64_t produced) {
  const std::string name =
      (tag.replicate ? "replicate tag at byte " : "write tag at byte ") + to_string(at);
  if (tag.replicate) {
    if (packed[at] & kTagExtended) {
      return name + " has a length extension byte; the packer writes replicate tags of 2 bytes";
    }
    if (size != 2) {
      return name + " has a distance extension byte; the packer writes replicate tags of 2 bytes";
    }
    const std::size_t copies = tag.produced();
    if (copies < static_cast<std::size_t>(kKzpMinMatch) ||
        copies > static_cast<std::size_t>(kKzpMaxMatch)) {
      return name + " copies " + to_string(copies) + " bytes; the packer copies " +
             to_string(kKzpMinMatch) + " to " + to_string(kKzpMaxMatch);
    }
    if (tag.distance > static_cast<std::size_t>(kKzpWindow)) {
      return name + " copies from " + to_string(tag.distance) +
             " bytes back; the packer looks back at most " + to_string(kKzpWindow);
    }
  }
  // Chunks are packed one by one, so no tag of the packer stands for bytes of two chunks.
  const std::uint64_t chunk_end = (produced / kKzpChunkSize + 1) * kKzpChunkSize;
  if (produced + tag.produced() > chunk_end) {
    return name + " reaches across the chunk boundary at unpacked byte " + to_string(chunk_end) +
           "; the packer ends every tag inside its chunk of " + to_string(kKzpChunkSize);
  }
  return {};
}

}  // namespace

PackedStreamWalk WalkPackedStream(std::span<const std::uint8_t> packed, std::size_t limit,
                                  KzpRules rules) {
  const bool as_packed = rules == KzpRules::kAsPacked;
  PackedStreamWalk walk;
  if (packed.size() < kKzpMagicSize) {
    walk.fault = "only " + to_string(packed.size()) + " bytes, shorter than its magic";
    return walk;
  }
  // Readers know a packed entry by "KZP" alone; only the packer's own form has its digit.
  const std::uint8_t version = packed[kKzpMagicSize - 1];
  if (as_packed && version != static_cast<std::uint8_t>(kKzpMagic[kKzpMagicSize - 1])) {
    walk.fault = "magic ends in byte " + to_string(version) + "; the packer writes KZP1";
    return walk;
  }
  ByteReader in(packed.subspan(kKzpMagicSize));
  std::uint64_t produced = 0;
  while (!in.empty()) {
    const std::size_t at = kKzpMagicSize + in.position();
    const auto tag = ReadKzpTag(in);
    if (!tag) {
      walk.fault = "ends inside the tag at byte " + to_string(at);
      return walk;
    }
    if (tag->replicate && tag->distance == 0) {
      walk.fault = "replicate tag at byte " + to_string(at) + " has distance 0";
      return walk;
    }
    if (tag->replicate && tag->distance > produced) {
      walk.fault = "replicate tag at byte " + to_string(at) + " copies from " +
                   to_string(tag->distance) + " bytes back, after only " + to_string(produced) +
                   " bytes";
      return walk;
    }
    if (as_packed) {
      const std::size_t size = kKzpMagicSize + in.position() - at;
      walk.fault = PackerFormFault(*tag, packed, at, size, produced);
      if (!walk.fault.empty()) return walk;
    }
    produced += tag->produced();
    if (produced > limit) {
      walk.fault = "unpacks to more than " + to_string(limit) + " bytes";
      return walk;
    }
  }
  walk.unpacked = static_cast<std::size_t>(produced);
  return walk;
}

}  // namespace zemlo
