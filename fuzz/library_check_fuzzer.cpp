// A small library whose offsets file and block file come from the input, loaded entry by
// entry and then walked by the integrity check, synchronously on this thread.
//
// Input: flags, BLKB - 1, the first icon of the record window (2 bytes, 3000 + n % 2000),
// the record count k, k offsets records for the window, then the block file of the window's
// block (also the single entry file of its first icon). Flags: bit 0 single entry files
// instead of block files; bit 1 an offsets file that ends right after the window.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/working_state.h"
#include "fuzz_assert.h"
#include "fuzz_folder.h"
#include "library/run/check/integrity_check.h"
#include "library/run/entry_loading.h"
#include "library/store/stamping.h"
#include "library/store/tables.h"
#include "project/project_settings.h"
#include "support/recording_port.h"

namespace {

using zemlo::fuzzing::WriteFile;

constexpr int kRecords = 5000;  // NSIZ: every icon the check walks has a record

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static zemlo::fuzzing::LibraryFixture fixture("zgl-fuzz-library-");
  if (size < 5) return 0;
  fixture.folder.Clear();
  const std::uint8_t flags = data[0];
  const int blkb = 1 + data[1];
  const int first = 3000 + (data[2] | data[3] << 8) % 2000;
  const std::size_t records = std::min<std::size_t>(data[4], (size - 5) / zemlo::kRecordSize);
  const std::uint8_t* const window = data + 5;
  const std::uint8_t* const block = window + records * zemlo::kRecordSize;
  const std::size_t block_size = static_cast<std::size_t>(data + size - block);

  zemlo::ProjectSettings settings;
  zemlo::fuzzing::NameLibraryFiles(settings);
  settings.NSIZ = kRecords;
  settings.BLKB = blkb;
  settings.DBLK = (flags & 1) ? 1 : 2;

  const std::size_t window_records =
      std::min<std::size_t>(records, static_cast<std::size_t>(kRecords - first));
  std::vector<std::uint8_t> offsets(kRecords * zemlo::kRecordSize, 0);
  std::memcpy(offsets.data() + first * zemlo::kRecordSize, window,
              window_records * zemlo::kRecordSize);
  const std::size_t offsets_size =
      (flags & 2) ? (first + window_records) * zemlo::kRecordSize : offsets.size();
  WriteFile(settings.FOFS.data(), offsets.data(), offsets_size);

  // Only the window's block has a file; every other block of the walk is missing. Small
  // BLKB give block numbers no pattern can carry: such a library has no block files at all.
  zemlo::Name name = settings.FBLK;
  if (zemlo::StampBlockNumber(first / blkb, name)) WriteFile(name.data(), block, block_size);
  name = settings.FSEP;
  FUZZ_ASSERT_MSG(zemlo::StampIconNumber(first, name), "the harness's entry name takes a number");
  WriteFile(name.data(), block, block_size);

  zemlo::WorkingState& state = fixture.state;
  std::memset(state.offsets.data(), 0, state.offsets.size());
  // The crop box of the window's icons: the window's records read as coordinates.
  std::memset(state.coordinates.data(), 0, state.coordinates.size());
  std::memcpy(state.coordinates.data() + first * zemlo::kRecordSize, window,
              window_records * zemlo::kRecordSize);
  state.stop_request.store(false);

  for (int icon = first; icon < first + 3; ++icon) zemlo::LoadEntry(icon, settings, state);
  zemlo::IntegrityCheck(settings, state);
  fixture.port.Clear();
  return 0;
}
