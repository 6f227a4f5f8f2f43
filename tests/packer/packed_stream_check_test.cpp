// The walk of a packed stream under the packer's own rules: what the packer writes passes, and
// each form it never writes is named with its tag's byte, while the plain walk lets it unpack.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "packer/kzp.h"
#include "packer/kzp_tag.h"
#include "support/packer_samples.h"
#include "support/recording_port.h"

namespace zemlo {
namespace {

using samples::Bytes;

// The magic, a write tag of `literals` bytes 0, 1, 2, ... (with its extension byte above 63),
// then `tags`.
Bytes LiteralsThen(std::size_t literals, std::initializer_list<std::uint8_t> tags) {
  Bytes out(std::begin(kKzpMagic), std::end(kKzpMagic));
  out.push_back(static_cast<std::uint8_t>((literals & kTagLowBits) |
                                          (literals > kTagLowBits ? kTagExtended : 0)));
  if (literals > kTagLowBits) out.push_back(static_cast<std::uint8_t>(literals / 64));
  for (std::size_t i = 0; i < literals; ++i) out.push_back(static_cast<std::uint8_t>(i));
  out.insert(out.end(), tags.begin(), tags.end());
  return out;
}

std::string AsPackedFault(const Bytes& packed) {
  // Every case still unpacks: the plain walk finds nothing to say.
  EXPECT_EQ(WalkPackedStream(packed, 1 << 20).fault, "");
  return WalkPackedStream(packed, 1 << 20, KzpRules::kAsPacked).fault;
}

TEST(KzpAsPacked, WhatThePackerWritesPasses) {
  testing::RecordingPort port;
  for (const Bytes& source :
       {Bytes{}, samples::Run(30000, 7), samples::RandomBytes(20000, 3),
        samples::ShortRepeats(25000, 3, 5), samples::ShortRepeats(17000, 29, 6)}) {
    Bytes packed(PackedBound(source.size()));
    packed.resize(PackEntry(source, packed, port, Owner::kNone, ""));
    const PackedStreamWalk walk = WalkPackedStream(packed, source.size(), KzpRules::kAsPacked);
    EXPECT_EQ(walk.fault, "") << source.size();
    EXPECT_EQ(walk.unpacked, source.size());
  }
}

TEST(KzpAsPacked, EachFormThePackerNeverWritesIsNamed) {
  const std::string tag = "replicate tag at byte 45";  // after 40 literals and their tag
  EXPECT_EQ(AsPackedFault(LiteralsThen(40, {0x83, 32})), "");
  EXPECT_EQ(AsPackedFault(LiteralsThen(40, {0x83, 35})),
            tag + " copies from 35 bytes back; the packer looks back at most 32");
  EXPECT_EQ(AsPackedFault(LiteralsThen(40, {0xC3, 0, 5})),
            tag + " has a length extension byte; the packer writes replicate tags of 2 bytes");
  EXPECT_EQ(AsPackedFault(LiteralsThen(40, {0x83, 0x85, 0})),
            tag + " has a distance extension byte; the packer writes replicate tags of 2 bytes");
  EXPECT_EQ(AsPackedFault(LiteralsThen(40, {0x9F, 5})), "");
  EXPECT_EQ(AsPackedFault(LiteralsThen(40, {0xA0, 5})),
            tag + " copies 33 bytes; the packer copies 4 to 32");
  EXPECT_EQ(AsPackedFault(LiteralsThen(40, {0x82, 5})),
            tag + " copies 3 bytes; the packer copies 4 to 32");
  Bytes version = LiteralsThen(4, {});
  version[3] = '2';
  EXPECT_EQ(AsPackedFault(version), "magic ends in byte 50; the packer writes KZP1");
  version[3] = '1';
  EXPECT_EQ(AsPackedFault(version), "");
}

TEST(KzpAsPacked, NoTagReachesAcrossAChunk) {
  // 8188 literals: a copy of 4 ends the chunk, the next starts the second one.
  EXPECT_EQ(AsPackedFault(LiteralsThen(8188, {0x83, 1, 0x83, 1})), "");
  EXPECT_EQ(AsPackedFault(LiteralsThen(8190, {0x83, 1})),
            "replicate tag at byte 8196 reaches across the chunk boundary at unpacked byte 8192;"
            " the packer ends every tag inside its chunk of 8192");
  EXPECT_EQ(AsPackedFault(LiteralsThen(8193, {})),
            "write tag at byte 4 reaches across the chunk boundary at unpacked byte 8192;"
            " the packer ends every tag inside its chunk of 8192");
}

}  // namespace
}  // namespace zemlo
