// The deep verification over a small library whose files come from the input: offsets,
// coordinates, one block file and one single entry file. Nothing it reads may send it
// outside a buffer, however the lengths and records lie.
//
// Input: flags, BLKB - 1, the first icon of the record window (2 bytes, n % 64), the record
// count k, k offsets records for the window, k coordinates records for it, then the bytes of
// the window's block file (also the single entry file of its first icon). Flags: bit 0
// single entry files only; bit 1 an offsets file that ends after the window; bit 2 both
// layouts (the two copies are compared); bit 3 a checksum file for the window (see
// WriteSums); bit 4 one made for half the icons and another BLKB; bit 5 its crop boxes those
// of the coordinates file.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/byte_reader.h"
#include "core/content_hash.h"
#include "core/working_state.h"
#include "fuzz_assert.h"
#include "fuzz_folder.h"
#include "library/run/check/deep_verify.h"
#include "library/store/checksum_file.h"
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

// The checksum file of the window: each icon's length from its offsets record, its flags
// from the low bits of its coordinates record, its hash that of the block's first bytes, so
// that entries which agree, differ and are missing all occur; the window's block whole.
void WriteSums(const zemlo::ProjectSettings& settings, std::uint8_t flags, int first,
               std::span<const std::uint8_t> window, std::span<const std::uint8_t> boxes,
               std::span<const std::uint8_t> block) {
  zemlo::ChecksumFile sums;
  sums.generation = 3;
  const bool other_shape = (flags & 16) != 0;
  const int blkb = std::max<std::int32_t>(settings.BLKB, 1);
  sums.icons_per_block = static_cast<std::uint32_t>(other_shape ? blkb + 1 : blkb);
  sums.icons.resize(other_shape ? kRecords / 2 : kRecords);
  for (std::size_t i = 0; i * zemlo::kRecordSize < window.size(); ++i) {
    const std::size_t icon = static_cast<std::size_t>(first) + i;
    if (icon >= sums.icons.size()) break;
    const std::uint8_t* record = window.data() + i * zemlo::kRecordSize;
    const std::uint8_t* box = boxes.data() + i * zemlo::kRecordSize;
    zemlo::IconSum& sum = sums.icons[icon];
    sum.length = zemlo::LoadU32LE(record + 4);
    sum.flags = box[0] & 7u;
    sum.hash = zemlo::HashBytes(block.first(std::min<std::size_t>(sum.length, block.size())));
    if (flags & 32) {
      sum.box = {zemlo::LoadU16LE(box), zemlo::LoadU16LE(box + 2), zemlo::LoadU16LE(box + 4),
                 zemlo::LoadU16LE(box + 6)};
    }
    sum.generation = 2;
  }
  const int per_block = static_cast<int>(sums.icons_per_block);
  sums.blocks.resize(static_cast<std::size_t>((kRecords + per_block - 1) / per_block));
  sums.blocks[static_cast<std::size_t>(first / per_block)] = {block.size(), zemlo::HashBytes(block),
                                                              2};
  const auto name = zemlo::ChecksumFileName(settings);
  FUZZ_ASSERT_MSG(name.has_value(), "the harness's offsets file takes \".sum\"");
  const auto bytes = zemlo::EncodeChecksumFile(sums);
  WriteFile(name->data(), bytes.data(), bytes.size());
}

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

  if (flags & 8) {
    WriteSums(settings, flags, first, {window, window_records * zemlo::kRecordSize},
              {boxes, window_records * zemlo::kRecordSize}, {block, block_size});
  }

  fixture.state.stop_request.store(false);
  Reader reader;
  const zemlo::VerifyOutcome outcome = zemlo::DeepVerify(settings, fixture.state, &reader);
  for (const auto& finding : outcome.findings) {
    FUZZ_ASSERT_MSG(!zemlo::FindingLine(finding).empty(), "every finding has a line");
  }
  fixture.port.Clear();
  return 0;
}
