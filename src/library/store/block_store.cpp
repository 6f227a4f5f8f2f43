#include "library/store/block_store.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>

#include "core/checked_math.h"
#include "files/file_helpers.h"
#include "files/file_layer.h"
#include "library/store/rewrite_recovery.h"
#include "library/store/stamping.h"
#include "library/store/tables_io.h"

namespace zemlo {
namespace {

constexpr std::size_t kCopyChunk = 64 * 1024;

// Icon numbers as 64-bit values: block * BLKB may pass the 32-bit range.
struct BlockRange {
  std::int64_t first;
  std::int64_t last;  // inclusive
};

BlockRange RangeOf(std::int64_t block, int icons_per_block) {
  const std::int64_t first = block * icons_per_block;
  return {first, first + icons_per_block - 1};
}

// Records exist only up to the table's capacity; beyond it every icon has no entry.
std::int64_t LastRecord(std::int64_t last) {
  return std::min<std::int64_t>(last, OffsetsTable::capacity() - 1);
}

OffsetsTable Offsets(StoreContext& c) { return OffsetsTable(c.state.offsets.span()); }

using Kind = StoreProblemKind;

Failure<StoreProblem> Problem(Kind kind, const char* name) {
  return Fail(StoreProblem{kind, name, 0});
}

Failure<StoreProblem> NumberProblem(Kind kind, std::int64_t number) {
  return Fail(StoreProblem{kind, {}, number});
}

Failure<StoreProblem> Stopped() { return Fail(StoreProblem{}); }

// The open block's records, as bytes of the offsets table.
std::span<std::uint8_t> BlockRecords(StoreContext& c, int block) {
  const auto table = c.state.offsets.span().first(kOffsetsTableSize);
  const std::int64_t first = std::int64_t{block} * c.settings.BLKB;
  const std::int64_t last = LastRecord(first + c.settings.BLKB - 1);
  if (first > last) return {};
  return table.subspan(static_cast<std::size_t>(first) * kRecordSize,
                       static_cast<std::size_t>(last - first + 1) * kRecordSize);
}

// Puts the block back as it was before OpenBlock: the partial new block file goes, BLTEMP
// becomes the block file again (or goes, when it was made empty for a block without file),
// and the table in memory is read back from the offsets file, which was not written since.
// Where that file cannot be read (removed or made unreadable meanwhile, or never written for
// a new library), the block's records go back as the rewrite found them, so the table never
// keeps records of a block file that is gone. If BLTEMP cannot be moved back it stays, which
// is the complete old state. Returns `problem`, the failure that made the rewrite stop.
Failure<StoreProblem> RestoreBlock(StoreContext& c, Failure<StoreProblem> problem) {
  RewriteState& r = c.rewrite;
  // The new block file exists once its stream was opened, closed or not.
  const bool had_new_file = r.block != nullptr || r.open_block >= 0;
  r.block.reset();
  r.temp.reset();
  // A new block file that cannot be removed makes the move back below fail, and BLTEMP then
  // stays with its record: nothing to report here.
  if (had_new_file) (void)files::RemoveFile(r.block_name.data());
  const bool put_back = r.temp_was_block
                            ? files::RenameFile(kTempBlockName, r.block_name.data()).ok()
                            : files::RemoveFile(kTempBlockName).ok();
  // A BLTEMP that stays keeps its record, by which the next command puts it back. The
  // record goes only once the block is back on the disk.
  if (put_back && files::FlushFolderOf(r.block_name.data()) &&
      files::FlushFolderOf(kTempBlockName)) {
    RemoveTempBlockRecord();
  }
  if (!ReadOffsetsFile(c.settings, c.state) && r.open_block >= 0) {
    const auto records = BlockRecords(c, r.open_block);
    if (records.size() == r.old_records.size()) {
      std::copy(r.old_records.begin(), r.old_records.end(), records.begin());
    }
  }
  r.open_block = -1;
  r.stopped = true;
  return problem;
}

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
  // The offset is where the bytes went, which earlier replacements have already made it.
  offsets.Set(icon, *offset, length);
  r.block_position += length;
  r.temp_position += length;
  return {};
}

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

// ---- The steps of OpenBlock ----

// Stops the run before anything was touched.
Failure<StoreProblem> Refuse(StoreContext& c, Failure<StoreProblem> problem) {
  c.rewrite.stopped = true;
  return problem;
}

StoreStatus BlockSizeUsable(StoreContext& c) {
  if (c.settings.BLKB >= 1) return {};
  return Refuse(c, NumberProblem(Kind::kBadBlockSize, c.settings.BLKB));
}

// A leftover BLTEMP is the only copy of some block's old content: never overwrite it.
StoreStatus NoTempBlockLeftOver(StoreContext& c) {
  if (!TempBlockLeftOver()) return {};
  return Refuse(c, Fail(TempBlockLeftOverProblem()));
}

// The offsets file describes every block closed so far: the block's records start there. A
// library without one yet keeps the table it was loaded with; one that is there but cannot
// be read leaves the table in memory unknown against the disk, so nothing is touched.
StoreStatus ReadBlockRecords(StoreContext& c) {
  if (ReadOffsetsFile(c.settings, c.state) || !files::Exists(c.settings.FOFS.data())) return {};
  return Refuse(c, Problem(Kind::kOffsetsNotRead, c.settings.FOFS.data()));
}

// The record goes to disk before BLTEMP exists, so whoever finds BLTEMP knows its block and
// what the offsets file said of it before this rewrite.
StoreStatus RecordRewrite(int block, StoreContext& c) {
  const ProjectSettings& s = c.settings;
  const BlockRange range = RangeOf(block, s.BLKB);
  const auto first_icon = static_cast<std::int32_t>(range.first);
  const auto records = static_cast<std::int32_t>(
      std::max<std::int64_t>(LastRecord(range.last) - range.first + 1, 0));
  const TempBlockRecord record{s.FOFS.data(), c.rewrite.block_name.data(), first_icon,
                               RecordsOnDisk(s.FOFS.data(), first_icon, records)};
  if (WriteTempBlockRecord(record)) return {};
  return Refuse(c, Problem(Kind::kRecordNotWritten, kTempBlockRecordName));
}

// BLTEMP takes the block's old content: the block file itself, or a new empty file for a
// block that has none. On failure nothing is left of the attempt but the block file. The move
// is on the disk before the new block file takes the name.
StoreStatus MoveBlockAside(StoreContext& c) {
  RewriteState& r = c.rewrite;
  r.temp_was_block = files::RenameFile(r.block_name.data(), kTempBlockName).ok();
  if (r.temp_was_block) {
    // Both folders, BLTEMP's first: the block's may be another, and where a file system keeps
    // one folder's change without the other's, the block may then stay beside BLTEMP, but
    // never go without it. A flush that fails is not reported (it never was): it only leaves
    // the order of the two changes to the file system.
    (void)files::FlushFolderOf(kTempBlockName);
    (void)files::FlushFolderOf(r.block_name.data());
    return {};
  }
  StoreProblem problem;
  if (files::Exists(r.block_name.data())) {
    problem = {Kind::kBlockNotMoved, r.block_name.data(), 0};
  } else if (!WriteZeroFile(kTempBlockName, 0)) {
    problem = {Kind::kTempNotCreated, kTempBlockName, 0};
    (void)files::RemoveFile(kTempBlockName);  // tidying up after the failure it reports
  } else {
    (void)files::FlushFolderOf(kTempBlockName);  // as above: only the order is at stake
    return {};
  }
  RemoveTempBlockRecord();
  return Refuse(c, Fail(std::move(problem)));
}

// BLTEMP for reading its old entries, the block file for writing the new ones.
StoreStatus OpenRewriteFiles(StoreContext& c) {
  RewriteState& r = c.rewrite;
  r.temp.reset(files::OpenFile(kTempBlockName, "rb").value_or(nullptr));
  if (r.temp == nullptr) return RestoreBlock(c, Problem(Kind::kTempNotCreated, kTempBlockName));
  r.block.reset(files::OpenFile(r.block_name.data(), "wb").value_or(nullptr));
  if (r.block == nullptr) {
    return RestoreBlock(c, Problem(Kind::kBlockNotCreated, r.block_name.data()));
  }
  return {};
}

// Both files are open: the rewrite starts at the block's first icon and first old byte.
void StartRewrite(int block, StoreContext& c) {
  RewriteState& r = c.rewrite;
  r.temp_length = files::SeekToEnd(r.temp.get()).value_or(0);
  r.temp_position = 0;
  r.block_position = 0;
  r.open_block = block;
  r.next_icon = static_cast<int>(RangeOf(block, c.settings.BLKB).first);
  const auto records = BlockRecords(c, block);
  r.old_records.assign(records.begin(), records.end());
  DropLostRecords(c);
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

void TellStoreProblem(StoreContext& context, const StoreProblem& problem) {
  if (context.tell) context.tell(problem);
}

bool TempBlockLeftOver() { return files::Exists(kTempBlockName); }

StoreProblem TempBlockLeftOverProblem() {
  return {StoreProblemKind::kTempBlockLeftOver, kTempBlockName, 0};
}

StoreStatus OpenBlock(int icon, StoreContext& c) {
  RewriteState& r = c.rewrite;
  ZGL_TRY(BlockSizeUsable(c));
  const int block = icon / c.settings.BLKB;
  if (r.open_block == block && !r.stopped) return {};
  // Another block still open: finish it before the table is read afresh.
  if (r.open_block >= 0) ZGL_TRY(CloseBlock(r.next_icon - 1, c));
  r.stopped = false;

  ZGL_TRY(ReadBlockRecords(c));
  const bool named = StampBlockNumber(block, c.settings.FBLK);
  if (!BlockFilesOn(c.settings)) {
    // Block files are off: the block's file goes, if the pattern names one at all.
    // Most often there is none to remove.
    if (named) (void)files::RemoveFile(c.settings.FBLK.data());
    return {};
  }
  if (!named) return Refuse(c, NumberProblem(Kind::kBlockNotNamed, block));
  r.block_name = c.settings.FBLK;
  ZGL_TRY(NoTempBlockLeftOver(c));
  ZGL_TRY(RecordRewrite(block, c));
  ZGL_TRY(MoveBlockAside(c));
  ZGL_TRY(OpenRewriteFiles(c));
  StartRewrite(block, c);
  return AdvanceTo(icon, c);
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

StoreStatus CloseBlock(int last_icon, StoreContext& c) {
  RewriteState& r = c.rewrite;
  // After a failure the table in memory may not match any file: write nothing.
  if (r.stopped) return Stopped();
  if (!BlockFilesOn(c.settings) || r.open_block < 0) {
    // Not reported: no block depends on it, and the entries are in their own files.
    static_cast<void>(WriteOffsetsFile(c.settings, c.state));
    return {};
  }
  // Whatever the run did not hand over (from last_icon + 1 on) is carried unchanged.
  ZGL_TRY(AdvanceTo(RangeOf(r.open_block, c.settings.BLKB).last + 1, c));
  const bool flushed = files::FlushToDisk(r.block.get()).ok();
  const bool closed = files::CloseFile(r.block.release()).ok();
  if (!flushed || !closed) {
    return RestoreBlock(c, Problem(Kind::kBlockNotWritten, r.block_name.data()));
  }
  r.temp.reset();
  // The new block file's name is on the disk before the offsets file that describes it.
  if (!files::FlushFolderOf(r.block_name.data())) {
    return RestoreBlock(c, Problem(Kind::kBlockNotWritten, r.block_name.data()));
  }
  // The new offsets go to disk before BLTEMP goes: until then BLTEMP and the old offsets
  // file are the complete old state. (WriteOffsetsFile flushes the file and its folder.)
  if (!WriteOffsetsFile(c.settings, c.state)) {
    return RestoreBlock(c, Problem(Kind::kOffsetsNotWritten, c.settings.FOFS.data()));
  }
  // An empty block file that stays holds nothing the offsets file points into: never reported.
  if (r.block_position == 0) (void)files::RemoveFile(r.block_name.data());
  r.open_block = -1;
  // BLTEMP before its record: a record without BLTEMP is known to be stale. Its removal is
  // on the disk before anything else happens, or the old content could come back beside the
  // next block's record. A BLTEMP that stays may yet be put back by the next command, so
  // this block's sources must not count as converted: the run stops as after any failure.
  if (!files::RemoveFile(kTempBlockName) || !files::FlushFolderOf(kTempBlockName)) {
    return Refuse(c, Problem(Kind::kTempNotRemoved, kTempBlockName));
  }
  RemoveTempBlockRecord();
  return {};
}

}  // namespace zemlo
