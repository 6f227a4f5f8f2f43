// WAV files of any content encoded as sound entries. The entry must be the bytes that follow
// the first "data" and its size field, never more than were loaded or than the output takes;
// the coordinates table is not touched by sounds.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "core/working_state.h"
#include "fuzz_assert.h"
#include "library/codec/icon_encoder.h"
#include "library/store/tables.h"

namespace {

void CheckSound(int icon, const std::uint8_t* data, std::size_t size, std::size_t out_size) {
  static std::vector<std::uint8_t> table(zemlo::kCoordinatesTableSize, 0);
  std::vector<std::uint8_t> source(data, data + size);
  std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[out_size ? out_size : 1]);
  zemlo::CoordinatesTable coordinates(table);
  zemlo::CropBox box{1, 2, 3, 4};
  const std::size_t length = zemlo::EncodeIcon(
      icon, source, std::span<std::uint8_t>(out.get(), out_size), coordinates, box);
  FUZZ_ASSERT(length <= out_size);
  FUZZ_ASSERT_MSG(size == 0 || std::memcmp(source.data(), data, size) == 0,
                  "the source is kept as loaded");
  FUZZ_ASSERT_MSG(box.top == 1 && box.bottom == 2 && box.left == 3 && box.right == 4,
                  "a sound keeps its box");
  FUZZ_ASSERT_MSG(coordinates.Get(icon) == zemlo::CoordinatesRecord{},
                  "a sound has no coordinates");
  if (length == 0) return;
  static const std::uint8_t kData[4] = {'d', 'a', 't', 'a'};
  const auto* at = std::search(data, data + size, kData, kData + 4);
  const std::size_t start = static_cast<std::size_t>(at - data) + 8;
  FUZZ_ASSERT_MSG(at != data + size && start + length <= size,
                  "the stored sound lies inside the input");
  FUZZ_ASSERT_MSG(std::memcmp(out.get(), data + start, length) == 0,
                  "the sound is stored as it came");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const int icon = 9000 + (size > 0 ? data[0] * 7 % 1000 : 0);
  // The file buffer always has room; a small buffer must cut the entry, not overrun.
  CheckSound(icon, data, size, size + 16);
  CheckSound(icon, data, size, size / 3);
  return 0;
}
