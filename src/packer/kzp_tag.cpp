#include "packer/kzp_tag.h"

#include <cstdint>

namespace zemlo {

PackedStreamWalk WalkPackedStream(std::span<const std::uint8_t> packed, std::size_t limit) {
  using std::to_string;
  PackedStreamWalk walk;
  if (packed.size() < kKzpMagicSize) {
    walk.fault = "only " + to_string(packed.size()) + " bytes, shorter than its magic";
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
