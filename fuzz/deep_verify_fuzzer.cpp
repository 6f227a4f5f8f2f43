// The deep verification over a small library whose files come from the input: offsets,
// coordinates, one block file and one single entry file. Nothing it reads may send it
// outside a buffer, however the lengths and records lie.
//
// Input: flags, BLKB - 1, the first icon of the record window (2 bytes, n % 64), the record
// count k, k offsets records for the window, k coordinates records for it, then the bytes of
// the window's block file (also the single entry file of its first icon). Flags: bit 0
// single entry files only; bit 1 an offsets file that ends after the window; bit 2 both
// layouts (the two copies are compared).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/working_state.h"
#include "fuzz_assert.h"
#include "fuzz_folder.h"
#include "library/run/check/deep_verify.h"
#include "library/store/stamping.h"
#include "project/project_settings.h"
#include "support/recording_port.h"

namespace {

using zemlo::fuzzing::WriteFile;

// NSIZ: small, so that each input costs few file look-ups (every icon without a record
// still has its single entry file looked for).
constexpr int kRecords = 128;
constexpr int kWindowStarts = 64;

// Reads every byte of every drawn picture, as the report does.
struct Reader : zemlo::VerifyObserver {
  void IconVerified(const zemlo::VerifiedIcon& icon,
                    std::span<const std::uint8_t> picture) override {
    if (!icon.drawn) return;
    for (std::uint8_t b : picture) sum += b;
  }
  unsigned sum = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static zemlo::fuzzing::LibraryFixture fixture("zgl-fuzz-verify-");
  if (size < 5) return 0;
  fixture.folder.Clear();
  const std::uint8_t flags = data[0];
  const int blkb = 1 + data[1];
  const int first = (data[2] | data[3] << 8) % kWindowStarts;
  const std::size_t records = std::min<std::size_t>(data[4], (size - 5) / (2 * zemlo::kRecordSize));
  const std::uint8_t* const window = data + 5;
  const std::uint8_t* const boxes = window + records * zemlo::kRecordSize;
  const std::uint8_t* const block = boxes + records * zemlo::kRecordSize;
  const std::size_t block_size = static_cast<std::size_t>(data + size - block);

  zemlo::ProjectSettings settings;
  zemlo::fuzzing::NameLibraryFiles(settings);
  settings.NSIZ = kRecords;
  settings.BLKB = blkb;
  settings.DBLK = (flags & 4) ? 3 : (flags & 1) ? 1 : 2;

  const std::size_t window_records =
      std::min<std::size_t>(records, static_cast<std::size_t>(kRecords - first));
  std::vector<std::uint8_t> table(kRecords * zemlo::kRecordSize, 0);
  std::memcpy(table.data() + first * zemlo::kRecordSize, window,
              window_records * zemlo::kRecordSize);
  const std::size_t offsets_size =
      (flags & 2) ? (first + window_records) * zemlo::kRecordSize : table.size();
  WriteFile(settings.FOFS.data(), table.data(), offsets_size);
  std::memcpy(table.data() + first * zemlo::kRecordSize, boxes,
              window_records * zemlo::kRecordSize);
  WriteFile(settings.FCOO.data(), table.data(), table.size());

  zemlo::Name name = settings.FBLK;
  if (zemlo::StampBlockNumber(first / blkb, name)) WriteFile(name.data(), block, block_size);
  name = settings.FSEP;
  FUZZ_ASSERT_MSG(zemlo::StampIconNumber(first, name), "the harness's entry name takes a number");
  WriteFile(name.data(), block, block_size);

  fixture.state.stop_request.store(false);
  Reader reader;
  const zemlo::VerifyOutcome outcome = zemlo::DeepVerify(settings, fixture.state, &reader);
  for (const auto& finding : outcome.findings) {
    FUZZ_ASSERT_MSG(!zemlo::FindingLine(finding).empty(), "every finding has a line");
  }
  fixture.port.Clear();
  return 0;
}
