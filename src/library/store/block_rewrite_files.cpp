// The files of a block rewrite: the record of the rewrite and BLTEMP, which takes the block's
// old content as the block opens, goes back over the block file when the rewrite fails, and
// goes once the block's new file and the offsets file that describes it are on the disk.
#include <algorithm>
#include <cstdint>
#include <utility>

#include "files/file_helpers.h"
#include "files/file_layer.h"
#include "library/store/block_read_back.h"
#include "library/store/block_store.h"
#include "library/store/block_store_internal.h"
#include "library/store/rewrite_recovery.h"
#include "library/store/stamping.h"
#include "library/store/tables_io.h"

namespace zemlo {
namespace block_store_internal {

// Puts the block back as it was before OpenBlock: the partial new block file goes, BLTEMP
// becomes the block file again (or goes, when it was made empty for a block without file),
// and the table in memory is read back from the offsets file, which was not written since.
// Where that file cannot be read (removed or made unreadable meanwhile, or never written for
// a new library), the block's records go back as the rewrite found them, so the table never
// keeps records of a block file that is gone. If BLTEMP cannot be moved back it stays, which
// is the complete old state. Returns `problem`, the failure that made the rewrite stop.
Failure<StoreProblem> RestoreBlock(StoreContext& c, Failure<StoreProblem> problem) {
  RewriteState& r = c.rewrite;
  if (c.read_back != nullptr) c.read_back->LetGo();
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

}  // namespace block_store_internal

namespace {

using block_store_internal::AdvanceTo;
using block_store_internal::BlockRange;
using block_store_internal::BlockRecords;
using block_store_internal::DropLostRecords;
using block_store_internal::LastRecord;
using block_store_internal::NumberProblem;
using block_store_internal::Problem;
using block_store_internal::RangeOf;
using block_store_internal::RestoreBlock;
using block_store_internal::Stopped;
using Kind = StoreProblemKind;

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
  if (c.read_back != nullptr) {
    // Each entry is in the file once written, for the read-back to find.
    Unbuffered(r.block.get());
    c.read_back->Begin(r.block_name.data());
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
  const int committed = r.open_block;
  r.open_block = -1;
  if (c.block_committed) c.block_committed(committed);
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
