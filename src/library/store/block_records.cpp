// The offsets records of one block: which records a block has, how they move when an entry
// goes or comes, and the records whose bytes the block file does not hold.
#include <algorithm>
#include <cstdint>
#include <span>

#include "core/checked_math.h"
#include "library/store/block_layout.h"
#include "library/store/block_store.h"
#include "library/store/block_store_internal.h"

namespace zemlo {
namespace block_store_internal {

// The open block's records, as bytes of the offsets table.
std::span<std::uint8_t> BlockRecords(StoreContext& c, int block) {
  const auto table = c.state.offsets.span().first(kOffsetsTableSize);
  const std::int64_t first = std::int64_t{block} * c.settings.BLKB;
  const std::int64_t last = LastRecord(first + c.settings.BLKB - 1);
  if (first > last) return {};
  return table.subspan(static_cast<std::size_t>(first) * kRecordSize,
                       static_cast<std::size_t>(last - first + 1) * kRecordSize);
}

// Records whose bytes lie beyond the end of BLTEMP (the block file was deleted, cut short,
// or is another file since FBLK or BLKB changed) describe nothing that can be carried over:
// they are dropped, once, with one warning for the block, and their icons are remembered so
// the run converts them again whatever the archive test says. The entries are read back to
// back, so the lost ones are always the block's last.
void DropLostRecords(StoreContext& c) {
  RewriteState& r = c.rewrite;
  OffsetsTable offsets = Offsets(c);
  r.lost_icons.clear();
  const BlockRange range = RangeOf(r.open_block, c.settings.BLKB);
  BlockCursor cursor(static_cast<int>(range.first));
  for (std::int64_t n = range.first; n <= LastRecord(range.last); ++n) {
    const EntryPlace place = cursor.Step(offsets.record(cursor.icon()));
    if (place.record.describes_bytes() && place.end > r.temp_length) {
      r.lost_icons.push_back(place.icon);
    }
  }
  if (r.lost_icons.empty()) return;
  TellStoreProblem(c, StoreProblem{Kind::kBlockShort, r.block_name.data(), 0});
  for (int icon : r.lost_icons) offsets.Set(icon, 0, 0);
}

}  // namespace block_store_internal

namespace {

using block_store_internal::LastRecord;
using block_store_internal::RangeOf;

// Moves the records after `icon` in its block by `distance` bytes. An offset that the move
// would carry out of the 32-bit range addresses no byte of any block file, whatever the
// offsets file said: it stays as it is. The rewrite gives every entry it carries a new
// offset anyway, and checks that one (NewOffsetFor).
void MoveLaterRecords(int icon, int icons_per_block, std::int64_t distance, OffsetsTable& offsets) {
  const std::int64_t last = LastRecord(RangeOf(icon / icons_per_block, icons_per_block).last);
  for (std::int64_t n = std::int64_t{icon} + 1; n <= last; ++n) {
    const int i = static_cast<int>(n);
    if (offsets.length(i) == 0) continue;
    if (const auto moved = NarrowToInt32(CheckedAdd(offsets.offset(i), distance))) {
      offsets.Set(i, *moved, offsets.length(i));
    }
  }
}

}  // namespace

std::int32_t RemoveRecord(int icon, int icons_per_block, OffsetsTable& offsets) {
  const std::int32_t length = offsets.length(icon);
  if (icons_per_block < 1 || !OffsetsTable::InRange(icon)) return length;
  offsets.Set(icon, 0, 0);
  MoveLaterRecords(icon, icons_per_block, -std::int64_t{length}, offsets);
  return length;
}

void InsertRecord(int icon, std::int32_t length, std::int32_t offset, int icons_per_block,
                  OffsetsTable& offsets) {
  if (icons_per_block < 1 || !OffsetsTable::InRange(icon)) return;
  offsets.Set(icon, offset, length);
  MoveLaterRecords(icon, icons_per_block, length, offsets);
}

}  // namespace zemlo
