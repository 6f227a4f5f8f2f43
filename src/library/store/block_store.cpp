#include "library/store/block_store.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>

#include "core/checked_math.h"
#include "files/file_layer.h"
#include "library/store/block_read_back.h"
#include "library/store/block_store_internal.h"

namespace zemlo {
namespace {

using block_store_internal::AdvanceTo;
using block_store_internal::Offsets;
using block_store_internal::Problem;
using block_store_internal::RestoreBlock;
using block_store_internal::Stopped;
using Kind = StoreProblemKind;

constexpr std::size_t kCopyChunk = 64 * 1024;

// Moves the read position of BLTEMP past `length` old bytes (or to its end).
void SkipOld(RewriteState& r, std::int64_t length) {
  r.temp_position = std::min(r.temp_position + std::max<std::int64_t>(length, 0), r.temp_length);
}

StoreStatus WriteNew(StoreContext& c, const std::uint8_t* data, std::size_t length) {
  if (length == 0) return {};
  if (files::WriteBytes(c.rewrite.block.get(), data, length)) return {};
  return RestoreBlock(c, Problem(Kind::kBlockNotWritten, c.rewrite.block_name.data()));
}

// Where an entry of `length` bytes goes in the new block file. The offsets are 32-bit numbers:
// an entry that would end past them cannot be recorded, so the run stops and the block keeps
// its old content rather than lose the entry.
Result<std::int32_t, StoreProblem> NewOffsetFor(std::size_t length, StoreContext& c) {
  RewriteState& r = c.rewrite;
  if (length <= static_cast<std::size_t>(kInt32Max) &&
      RangeEnd(r.block_position, static_cast<std::int64_t>(length), kInt32Max)) {
    return static_cast<std::int32_t>(r.block_position);
  }
  return RestoreBlock(c, Problem(Kind::kBlockTooLong, r.block_name.data()));
}

// Carries the icon's old entry from BLTEMP into the new block file unchanged. An entry whose
// bytes BLTEMP does not hold (the block file was changed behind the offsets file) is dropped,
// so the records always describe the file being written.
StoreStatus CarryOver(int icon, StoreContext& c) {
  RewriteState& r = c.rewrite;
  OffsetsTable offsets = Offsets(c);
  const std::int32_t length = offsets.length(icon);
  if (length <= 0) {
    if (length < 0 || offsets.offset(icon) != 0) offsets.Set(icon, 0, 0);
    return {};
  }
  if (r.temp_length - r.temp_position < length) {
    RemoveRecord(icon, c.settings.BLKB, offsets);
    r.temp_position = r.temp_length;
    return {};
  }
  const auto offset = NewOffsetFor(static_cast<std::size_t>(length), c);
  if (!offset) return Fail(offset.error());
  if (!files::SeekTo(r.temp.get(), r.temp_position)) {
    return RestoreBlock(c, Problem(Kind::kTempNotRead, kTempBlockName));
  }
  if (r.copy_buffer.size() < kCopyChunk) r.copy_buffer.resize(kCopyChunk);
  std::int64_t left = length;
  while (left > 0) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(left, kCopyChunk));
    if (files::ReadBytes(r.temp.get(), r.copy_buffer.data(), n) != n) {
      return RestoreBlock(c, Problem(Kind::kTempNotRead, kTempBlockName));
    }
    ZGL_TRY(WriteNew(c, r.copy_buffer.data(), n));
    left -= static_cast<std::int64_t>(n);
  }
  if (c.read_back != nullptr) c.read_back->Wrote(*offset, std::int64_t{*offset} + length);
  // The offset is where the bytes went, which earlier replacements have already made it.
  offsets.Set(icon, *offset, length);
  r.block_position += length;
  r.temp_position += length;
  return {};
}

}  // namespace

namespace block_store_internal {

// Brings the open block up to `icon`: the icons before it that the run did not hand over are
// carried unchanged, so each icon's old bytes are consumed exactly once and in order.
StoreStatus AdvanceTo(std::int64_t icon, StoreContext& c) {
  RewriteState& r = c.rewrite;
  const std::int64_t stop =
      std::min(icon, LastRecord(RangeOf(r.open_block, c.settings.BLKB).last) + 1);
  for (std::int64_t n = r.next_icon; n < stop; ++n) {
    ZGL_TRY(CarryOver(static_cast<int>(n), c));
  }
  r.next_icon = static_cast<int>(std::max<std::int64_t>(r.next_icon, std::min(icon, stop)));
  return {};
}

}  // namespace block_store_internal

namespace {

using block_store_internal::NumberProblem;

// The icon must be the next one (or a later one) of the open block.
StoreStatus ReadyFor(int icon, StoreContext& c) {
  RewriteState& r = c.rewrite;
  if (r.stopped) return Stopped();
  if (r.open_block < 0 || c.settings.BLKB < 1 || icon < r.next_icon ||
      icon / c.settings.BLKB != r.open_block) {
    if (r.open_block >= 0) return RestoreBlock(c, NumberProblem(Kind::kOutOfOrder, icon));
    r.stopped = true;
    return NumberProblem(Kind::kOutOfOrder, icon);
  }
  return AdvanceTo(icon, c);
}

}  // namespace

void TellStoreProblem(StoreContext& context, const StoreProblem& problem) {
  if (context.tell) context.tell(problem);
}

StoreStatus StoreEntry(int icon, std::span<const std::uint8_t> entry, StoreContext& c) {
  OffsetsTable offsets = Offsets(c);
  if (!BlockFilesOn(c.settings)) {
    RemoveRecord(icon, c.settings.BLKB, offsets);
    return {};
  }
  ZGL_TRY(ReadyFor(icon, c));
  RewriteState& r = c.rewrite;
  SkipOld(r, RemoveRecord(icon, c.settings.BLKB, offsets));
  // An icon beyond the table has no record to describe its bytes: they stay out of the block.
  if (OffsetsTable::InRange(icon) && !entry.empty()) {
    const auto offset = NewOffsetFor(entry.size(), c);
    if (!offset) return Fail(offset.error());
    ZGL_TRY(WriteNew(c, entry.data(), entry.size()));
    const auto length = static_cast<std::int32_t>(entry.size());  // NewOffsetFor checked it
    if (c.read_back != nullptr) c.read_back->Wrote(*offset, std::int64_t{*offset} + length);
    InsertRecord(icon, length, *offset, c.settings.BLKB, offsets);
    r.block_position += length;
  }
  r.next_icon = icon + 1;
  return {};
}

StoreStatus KeepEntry(int icon, StoreContext& c) {
  if (!BlockFilesOn(c.settings)) {
    OffsetsTable offsets = Offsets(c);
    RemoveRecord(icon, c.settings.BLKB, offsets);
    return {};
  }
  ZGL_TRY(ReadyFor(icon, c));
  ZGL_TRY(CarryOver(icon, c));
  c.rewrite.next_icon = icon + 1;
  return {};
}

StoreStatus DropEntry(int icon, StoreContext& c) {
  OffsetsTable offsets = Offsets(c);
  if (!BlockFilesOn(c.settings)) {
    RemoveRecord(icon, c.settings.BLKB, offsets);
    return {};
  }
  ZGL_TRY(ReadyFor(icon, c));
  SkipOld(c.rewrite, RemoveRecord(icon, c.settings.BLKB, offsets));
  c.rewrite.next_icon = icon + 1;
  return {};
}

StoreStatus CheckBlockEnd(int icon, StoreContext& c) {
  if (c.rewrite.stopped || c.settings.BLKB < 1) return Stopped();
  if ((std::int64_t{icon} + 1) % c.settings.BLKB != 0) return {};
  return CloseBlock(icon, c);
}

}  // namespace zemlo
