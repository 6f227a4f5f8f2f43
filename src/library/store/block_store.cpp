#include "library/store/block_store.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>

#include "core/checked_math.h"
#include "core/status.h"
#include "files/file_helpers.h"
#include "files/file_layer.h"
#include "library/store/rewrite_recovery.h"
#include "library/store/stamping.h"
#include "library/store/tables_io.h"

namespace zemlo {
namespace {

constexpr std::size_t kCopyChunk = 64 * 1024;

constexpr const char* kBlockNotNamed =
    "Block %i cannot be named: the FBLK pattern is too short for its number, or the number "
    "is too large for it. The run stops.";
constexpr const char* kBadBlockSize =
    "The project cannot be used: BLKB is %i, but it must be at least 1.";
constexpr const char* kBlockNotMoved =
    "Block file %s could not be moved to BLTEMP. The run stops; nothing was changed.";
constexpr const char* kTempNotCreated =
    "The temporary block file %s could not be created or opened. The run stops; nothing was "
    "truncated.";
constexpr const char* kBlockNotCreated =
    "Block file %s could not be created. The run stops; nothing was truncated and the block "
    "keeps its previous content.";
constexpr const char* kBlockNotWritten =
    "Block file %s could not be written. The run stops; the block keeps its previous content.";
constexpr const char* kTempNotRead =
    "The temporary block file %s could not be read. The run stops; the block keeps its "
    "previous content.";
constexpr const char* kOffsetsNotWritten =
    "Offsets file %s could not be written. The run stops; the block keeps its previous "
    "content.";
constexpr const char* kRecordNotWritten =
    "The record %s of the block rewrite could not be written, or another run's record is "
    "there. The run stops; nothing was changed.";
constexpr const char* kTempNotRemoved =
    "The temporary block file %s could not be removed. The run stops.";
constexpr const char* kBlockTooLong =
    "Block file %s would grow past the 2 GiB that its offsets can address. The run stops; "
    "the block keeps its previous content.";
constexpr const char* kOutOfOrder =
    "Icon %i is not the next icon of the open block. The run stops; the block keeps its "
    "previous content.";

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

void Warn(StoreContext& c, const char* format, const char* name) {
  ShowWarning(c.state.port, Owner::kMain, format, name);
}

void WarnNumber(StoreContext& c, const char* format, std::int64_t number) {
  const auto shown = static_cast<int>(std::clamp<std::int64_t>(
      number, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
  ShowWarningNumber(c.state.port, Owner::kMain, format, shown);
}

// Puts the block back as it was before OpenBlock: the partial new block file goes, BLTEMP
// becomes the block file again (or goes, when it was made empty for a block without file),
// and the table in memory is read back from the offsets file, which was not written since.
// If BLTEMP cannot be moved back it stays, which is the complete old state.
void RestoreBlock(StoreContext& c) {
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
  ReadOffsetsFile(c.settings, c.state);
  r.open_block = -1;
  r.stopped = true;
}

// Moves the read position of BLTEMP past `length` old bytes (or to its end).
void SkipOld(RewriteState& r, std::int64_t length) {
  r.temp_position = std::min(r.temp_position + std::max<std::int64_t>(length, 0), r.temp_length);
}

bool WriteNew(StoreContext& c, const std::uint8_t* data, std::size_t length) {
  if (length == 0) return true;
  if (files::WriteBytes(c.rewrite.block.get(), data, length)) return true;
  Warn(c, kBlockNotWritten, c.rewrite.block_name.data());
  RestoreBlock(c);
  return false;
}

// Where an entry of `length` bytes goes in the new block file. The offsets are 32-bit numbers:
// an entry that would end past them cannot be recorded, so the run stops and the block keeps
// its old content rather than lose the entry.
std::optional<std::int32_t> NewOffsetFor(std::size_t length, StoreContext& c) {
  RewriteState& r = c.rewrite;
  if (length <= static_cast<std::size_t>(kInt32Max) &&
      RangeEnd(r.block_position, static_cast<std::int64_t>(length), kInt32Max)) {
    return static_cast<std::int32_t>(r.block_position);
  }
  Warn(c, kBlockTooLong, r.block_name.data());
  RestoreBlock(c);
  return std::nullopt;
}

// Carries the icon's old entry from BLTEMP into the new block file unchanged. An entry whose
// bytes BLTEMP does not hold (the block file was changed behind the offsets file) is dropped,
// so the records always describe the file being written.
bool CarryOver(int icon, StoreContext& c) {
  RewriteState& r = c.rewrite;
  OffsetsTable offsets = Offsets(c);
  const std::int32_t length = offsets.length(icon);
  if (length <= 0) {
    if (length < 0 || offsets.offset(icon) != 0) offsets.Set(icon, 0, 0);
    return true;
  }
  if (r.temp_length - r.temp_position < length) {
    RemoveRecord(icon, c.settings.BLKB, offsets);
    r.temp_position = r.temp_length;
    return true;
  }
  const auto offset = NewOffsetFor(static_cast<std::size_t>(length), c);
  if (!offset) return false;
  if (!files::SeekTo(r.temp.get(), r.temp_position)) {
    Warn(c, kTempNotRead, kTempBlockName);
    RestoreBlock(c);
    return false;
  }
  if (r.copy_buffer.size() < kCopyChunk) r.copy_buffer.resize(kCopyChunk);
  std::int64_t left = length;
  while (left > 0) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(left, kCopyChunk));
    if (files::ReadBytes(r.temp.get(), r.copy_buffer.data(), n) != n) {
      Warn(c, kTempNotRead, kTempBlockName);
      RestoreBlock(c);
      return false;
    }
    if (!WriteNew(c, r.copy_buffer.data(), n)) return false;
    left -= static_cast<std::int64_t>(n);
  }
  // The offset is where the bytes went, which earlier replacements have already made it.
  offsets.Set(icon, *offset, length);
  r.block_position += length;
  r.temp_position += length;
  return true;
}

// Brings the open block up to `icon`: the icons before it that the run did not hand over are
// carried unchanged, so each icon's old bytes are consumed exactly once and in order.
bool AdvanceTo(std::int64_t icon, StoreContext& c) {
  RewriteState& r = c.rewrite;
  const std::int64_t stop =
      std::min(icon, LastRecord(RangeOf(r.open_block, c.settings.BLKB).last) + 1);
  for (std::int64_t n = r.next_icon; n < stop; ++n) {
    if (!CarryOver(static_cast<int>(n), c)) return false;
  }
  r.next_icon = static_cast<int>(std::max<std::int64_t>(r.next_icon, std::min(icon, stop)));
  return true;
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
  std::int64_t end = 0;
  for (std::int64_t n = range.first; n <= LastRecord(range.last); ++n) {
    const int icon = static_cast<int>(n);
    const std::int32_t length = offsets.length(icon);
    if (length <= 0) continue;
    end += length;
    if (end > r.temp_length) r.lost_icons.push_back(icon);
  }
  if (r.lost_icons.empty()) return;
  Warn(c, kBlockShortFormat, r.block_name.data());
  for (int icon : r.lost_icons) offsets.Set(icon, 0, 0);
}

// The icon must be the next one (or a later one) of the open block.
bool ReadyFor(int icon, StoreContext& c) {
  RewriteState& r = c.rewrite;
  if (r.stopped) return false;
  if (r.open_block < 0 || c.settings.BLKB < 1 || icon < r.next_icon ||
      icon / c.settings.BLKB != r.open_block) {
    WarnNumber(c, kOutOfOrder, icon);
    if (r.open_block >= 0) {
      RestoreBlock(c);
    } else {
      r.stopped = true;
    }
    return false;
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
bool Refuse(StoreContext& c, const char* format, std::int64_t number) {
  WarnNumber(c, format, number);
  c.rewrite.stopped = true;
  return false;
}

bool BlockSizeUsable(StoreContext& c) {
  return c.settings.BLKB >= 1 || Refuse(c, kBadBlockSize, c.settings.BLKB);
}

// A leftover BLTEMP is the only copy of some block's old content: never overwrite it.
bool NoTempBlockLeftOver(StoreContext& c) {
  if (!TempBlockLeftOver()) return true;
  WarnTempBlockLeftOver(c.state);
  c.rewrite.stopped = true;
  return false;
}

// The record goes to disk before BLTEMP exists, so whoever finds BLTEMP knows its block and
// what the offsets file said of it before this rewrite.
bool RecordRewrite(int block, StoreContext& c) {
  const ProjectSettings& s = c.settings;
  const BlockRange range = RangeOf(block, s.BLKB);
  const auto first_icon = static_cast<std::int32_t>(range.first);
  const auto records = static_cast<std::int32_t>(
      std::max<std::int64_t>(LastRecord(range.last) - range.first + 1, 0));
  const TempBlockRecord record{s.FOFS.data(), c.rewrite.block_name.data(), first_icon,
                               RecordsOnDisk(s.FOFS.data(), first_icon, records)};
  if (WriteTempBlockRecord(record)) return true;
  Warn(c, kRecordNotWritten, kTempBlockRecordName);
  c.rewrite.stopped = true;
  return false;
}

// BLTEMP takes the block's old content: the block file itself, or a new empty file for a
// block that has none. On failure nothing is left of the attempt but the block file. The move
// is on the disk before the new block file takes the name.
bool MoveBlockAside(StoreContext& c) {
  RewriteState& r = c.rewrite;
  r.temp_was_block = files::RenameFile(r.block_name.data(), kTempBlockName).ok();
  if (r.temp_was_block) {
    // Both folders, BLTEMP's first: the block's may be another, and where a file system keeps
    // one folder's change without the other's, the block may then stay beside BLTEMP, but
    // never go without it. A flush that fails is not reported (it never was): it only leaves
    // the order of the two changes to the file system.
    (void)files::FlushFolderOf(kTempBlockName);
    (void)files::FlushFolderOf(r.block_name.data());
    return true;
  }
  if (files::Exists(r.block_name.data())) {
    Warn(c, kBlockNotMoved, r.block_name.data());
  } else if (!WriteZeroFile(kTempBlockName, 0)) {
    Warn(c, kTempNotCreated, kTempBlockName);
    (void)files::RemoveFile(kTempBlockName);  // tidying up after the failure just reported
  } else {
    (void)files::FlushFolderOf(kTempBlockName);  // as above: only the order is at stake
    return true;
  }
  RemoveTempBlockRecord();
  r.stopped = true;
  return false;
}

// BLTEMP for reading its old entries, the block file for writing the new ones.
bool OpenRewriteFiles(StoreContext& c) {
  RewriteState& r = c.rewrite;
  r.temp.reset(files::OpenFile(kTempBlockName, "rb").value_or(nullptr));
  if (r.temp == nullptr) {
    Warn(c, kTempNotCreated, kTempBlockName);
    RestoreBlock(c);
    return false;
  }
  r.block.reset(files::OpenFile(r.block_name.data(), "wb").value_or(nullptr));
  if (r.block == nullptr) {
    Warn(c, kBlockNotCreated, r.block_name.data());
    RestoreBlock(c);
    return false;
  }
  return true;
}

// Both files are open: the rewrite starts at the block's first icon and first old byte.
void StartRewrite(int block, StoreContext& c) {
  RewriteState& r = c.rewrite;
  r.temp_length = files::SeekToEnd(r.temp.get()).value_or(0);
  r.temp_position = 0;
  r.block_position = 0;
  r.open_block = block;
  r.next_icon = static_cast<int>(RangeOf(block, c.settings.BLKB).first);
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

bool TempBlockLeftOver() { return files::Exists(kTempBlockName); }

void WarnTempBlockLeftOver(WorkingState& state) {
  ShowWarning(state.port, Owner::kMain, kTempBlockLeftOverWarning, kTempBlockName);
}

bool OpenBlock(int icon, StoreContext& c) {
  RewriteState& r = c.rewrite;
  if (!BlockSizeUsable(c)) return false;
  const int block = icon / c.settings.BLKB;
  if (r.open_block == block && !r.stopped) return true;
  // Another block still open: finish it before the table is read afresh.
  if (r.open_block >= 0 && !CloseBlock(r.next_icon - 1, c)) return false;
  r.stopped = false;

  // The offsets file describes every block closed so far; this block's records start there.
  ReadOffsetsFile(c.settings, c.state);
  const bool named = StampBlockNumber(block, c.settings.FBLK);
  if (!BlockFilesOn(c.settings)) {
    // Block files are off: the block's file goes, if the pattern names one at all.
    // Most often there is none to remove.
    if (named) (void)files::RemoveFile(c.settings.FBLK.data());
    return true;
  }
  if (!named) return Refuse(c, kBlockNotNamed, block);
  r.block_name = c.settings.FBLK;
  if (!NoTempBlockLeftOver(c) || !RecordRewrite(block, c) || !MoveBlockAside(c) ||
      !OpenRewriteFiles(c)) {
    return false;
  }
  StartRewrite(block, c);
  return AdvanceTo(icon, c);
}

bool StoreEntry(int icon, std::span<const std::uint8_t> entry, StoreContext& c) {
  OffsetsTable offsets = Offsets(c);
  if (!BlockFilesOn(c.settings)) {
    RemoveRecord(icon, c.settings.BLKB, offsets);
    return true;
  }
  if (!ReadyFor(icon, c)) return false;
  RewriteState& r = c.rewrite;
  SkipOld(r, RemoveRecord(icon, c.settings.BLKB, offsets));
  // An icon beyond the table has no record to describe its bytes: they stay out of the block.
  if (OffsetsTable::InRange(icon) && !entry.empty()) {
    const auto offset = NewOffsetFor(entry.size(), c);
    if (!offset || !WriteNew(c, entry.data(), entry.size())) return false;
    const auto length = static_cast<std::int32_t>(entry.size());  // NewOffsetFor checked it
    InsertRecord(icon, length, *offset, c.settings.BLKB, offsets);
    r.block_position += length;
  }
  r.next_icon = icon + 1;
  return true;
}

bool KeepEntry(int icon, StoreContext& c) {
  if (!BlockFilesOn(c.settings)) {
    OffsetsTable offsets = Offsets(c);
    RemoveRecord(icon, c.settings.BLKB, offsets);
    return true;
  }
  if (!ReadyFor(icon, c) || !CarryOver(icon, c)) return false;
  c.rewrite.next_icon = icon + 1;
  return true;
}

bool DropEntry(int icon, StoreContext& c) {
  OffsetsTable offsets = Offsets(c);
  if (!BlockFilesOn(c.settings)) {
    RemoveRecord(icon, c.settings.BLKB, offsets);
    return true;
  }
  if (!ReadyFor(icon, c)) return false;
  SkipOld(c.rewrite, RemoveRecord(icon, c.settings.BLKB, offsets));
  c.rewrite.next_icon = icon + 1;
  return true;
}

bool CheckBlockEnd(int icon, StoreContext& c) {
  if (c.rewrite.stopped || c.settings.BLKB < 1) return false;
  if ((std::int64_t{icon} + 1) % c.settings.BLKB != 0) return true;
  return CloseBlock(icon, c);
}

bool CloseBlock(int last_icon, StoreContext& c) {
  RewriteState& r = c.rewrite;
  // After a failure the table in memory may not match any file: write nothing.
  if (r.stopped) return false;
  if (!BlockFilesOn(c.settings) || r.open_block < 0) {
    WriteOffsetsFile(c.settings, c.state);  // not reported: no block depends on it
    return true;
  }
  // Whatever the run did not hand over (from last_icon + 1 on) is carried unchanged.
  if (!AdvanceTo(RangeOf(r.open_block, c.settings.BLKB).last + 1, c)) return false;
  const bool flushed = files::FlushToDisk(r.block.get()).ok();
  const bool closed = files::CloseFile(r.block.release()).ok();
  if (!flushed || !closed) {
    Warn(c, kBlockNotWritten, r.block_name.data());
    RestoreBlock(c);
    return false;
  }
  r.temp.reset();
  // The new block file's name is on the disk before the offsets file that describes it.
  if (!files::FlushFolderOf(r.block_name.data())) {
    Warn(c, kBlockNotWritten, r.block_name.data());
    RestoreBlock(c);
    return false;
  }
  // The new offsets go to disk before BLTEMP goes: until then BLTEMP and the old offsets
  // file are the complete old state. (WriteOffsetsFile flushes the file and its folder.)
  if (!WriteOffsetsFile(c.settings, c.state)) {
    Warn(c, kOffsetsNotWritten, c.settings.FOFS.data());
    RestoreBlock(c);
    return false;
  }
  // An empty block file that stays holds nothing the offsets file points into: never reported.
  if (r.block_position == 0) (void)files::RemoveFile(r.block_name.data());
  r.open_block = -1;
  // BLTEMP before its record: a record without BLTEMP is known to be stale. Its removal is
  // on the disk before anything else happens, or the old content could come back beside the
  // next block's record. A BLTEMP that stays may yet be put back by the next command, so
  // this block's sources must not count as converted: the run stops as after any failure.
  if (!files::RemoveFile(kTempBlockName) || !files::FlushFolderOf(kTempBlockName)) {
    Warn(c, kTempNotRemoved, kTempBlockName);
    r.stopped = true;
    return false;
  }
  RemoveTempBlockRecord();
  return true;
}

}  // namespace zemlo
