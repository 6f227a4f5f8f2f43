// Packed streams of any content into an output buffer of bounded, exact size: the unpacker
// must say "malformed" rather than read or write outside either buffer. The walks over the
// tags, plain and under the packer's rules, must agree with it and with each other.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

#include "fuzz_assert.h"
#include "packer/kzp.h"
#include "packer/kzp_tag.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kOut = 1 << 16;
  static const std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[kOut]);
  // The first byte picks a tighter bound as well, so the "does not fit" path gets exercised.
  const std::size_t bound = size > 0 ? (std::size_t{data[0]} << 8) + 1 : kOut;
  const std::span<const std::uint8_t> packed(data, size);
  for (const std::size_t limit : {kOut, bound}) {
    const auto produced = zemlo::UnpackEntry(packed, std::span<std::uint8_t>(out.get(), limit));
    FUZZ_ASSERT_MSG(!produced || *produced <= limit, "unpacking stays inside its room");
    const zemlo::PackedStreamWalk walk = zemlo::WalkPackedStream(packed, limit);
    FUZZ_ASSERT_MSG(walk.fault.empty() == produced.has_value(),
                    "the walk finds a fault exactly when the stream does not unpack");
    FUZZ_ASSERT_MSG(!produced || *produced == walk.unpacked, "the walk counts what is unpacked");
    const zemlo::PackedStreamWalk as_packed =
        zemlo::WalkPackedStream(packed, limit, zemlo::KzpRules::kAsPacked);
    FUZZ_ASSERT_MSG(as_packed.fault.empty() ? as_packed.unpacked == walk.unpacked && produced
                                            : as_packed.unpacked == 0,
                    "the packer's rules only add faults to the plain walk");
  }
  FUZZ_ASSERT_MSG(zemlo::IsPackedEntry(packed) ==
                      (size >= 3 && data[0] == 'K' && data[1] == 'Z' && data[2] == 'P'),
                  "an entry is packed exactly when it starts with the magic");
  return 0;
}
