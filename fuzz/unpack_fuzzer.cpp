// Packed streams of any content into an output buffer of bounded, exact size: the unpacker
// must say "malformed" rather than read or write outside either buffer.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

#include "fuzz_assert.h"
#include "packer/kzp.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kOut = 1 << 16;
  static const std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[kOut]);
  // The first byte picks a tighter bound as well, so the "does not fit" path gets exercised.
  const std::size_t bound = size > 0 ? (std::size_t{data[0]} << 8) + 1 : kOut;
  const std::span<const std::uint8_t> packed(data, size);
  for (const std::size_t limit : {kOut, bound}) {
    const auto produced = zemlo::UnpackEntry(packed, std::span<std::uint8_t>(out.get(), limit));
    FUZZ_ASSERT_MSG(!produced || *produced <= limit, "unpacking stays inside its room");
  }
  FUZZ_ASSERT_MSG(zemlo::IsPackedEntry(packed) ==
                      (size >= 3 && data[0] == 'K' && data[1] == 'Z' && data[2] == 'P'),
                  "an entry is packed exactly when it starts with the magic");
  return 0;
}
