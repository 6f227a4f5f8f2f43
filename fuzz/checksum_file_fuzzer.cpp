// Checksum files of any content: the reader must refuse with a reason or give records that
// write back to the same records, and never read outside the bytes. Random bytes almost never
// carry their own check, so each input is also tried sealed with the right one: that way the
// fuzzer reaches the header's sizes, the records and the names.
#include <cstdint>
#include <span>
#include <vector>

#include "core/byte_reader.h"
#include "fuzz_assert.h"
#include "library/store/checksum_file.h"

namespace {

void Check(std::span<const std::uint8_t> bytes) {
  const auto sums = zemlo::DecodeChecksumFile(bytes);
  if (!sums) {
    FUZZ_ASSERT_MSG(!sums.error().text.empty(), "a refusal says why");
    return;
  }
  const auto again = zemlo::DecodeChecksumFile(zemlo::EncodeChecksumFile(*sums));
  FUZZ_ASSERT_MSG(again && *again == *sums, "what was read writes back to the same records");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Check(std::span(data, size));
  if (size >= zemlo::kSumCheckSize) {
    std::vector<std::uint8_t> sealed(data, data + size);
    const std::size_t body = size - zemlo::kSumCheckSize;
    zemlo::StoreU64LE(sealed.data() + body, zemlo::HashBytes(std::span(sealed).first(body)));
    Check(sealed);
  }
  return 0;
}
