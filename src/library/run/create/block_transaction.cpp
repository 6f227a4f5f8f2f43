#include "library/run/create/block_transaction.h"

#include <cstdint>

#include "core/status.h"
#include "core/working_state.h"
#include "files/file_layer.h"
#include "library/run/create/creation_run.h"
#include "library/store/tables_io.h"

namespace zemlo {

void CoordinatesSnapshot::Take(int icon, int icons_per_block, const CoordinatesTable& table) {
  first = icon / icons_per_block * icons_per_block;
  records.clear();
  for (int n = first; n < first + icons_per_block && CoordinatesTable::InRange(n); ++n) {
    records.push_back(table.Get(n));
  }
}

void CoordinatesSnapshot::Restore(CoordinatesTable& table) const {
  for (std::size_t i = 0; i < records.size(); ++i) {
    table.Set(first + static_cast<int>(i), records[i]);
  }
}

BlockTransaction::BlockTransaction(StoreContext& store)
    : store_(store),
      coordinates_(store.state.coordinates.span()),
      icons_per_block_(store.settings.BLKB > 0 ? store.settings.BLKB : 1),
      sums_(store) {
  store_.block_committed = [this](int block) {
    const int first = block * icons_per_block_;
    tables_written_ = WriteTables(first, first + icons_per_block_ - 1);
  };
  // With helpers the run's thread is the one everything waits for, and a commit that reads
  // its block back whole keeps them waiting for their slots: the run reads each entry back
  // while it waits for the next icon instead. Alone, it reads the block back at the commit.
  if (store_.jobs > 1 && BlockFilesOn(store_.settings)) {
    read_back_ = std::make_unique<BlockReadBack>();
    store_.read_back = read_back_.get();
  }
}

BlockTransaction::~BlockTransaction() {
  store_.block_committed = nullptr;
  store_.read_back = nullptr;
}

template <typename Named>
void BlockTransaction::NameLost(Named&& named) {
  std::erase_if(lost_icons_, [&](int n) {
    if (!named(n)) return false;
    ShowWarningNumber(store_.state.port, Owner::kMain, kLostIconFormat, n);
    return true;
  });
}

bool BlockTransaction::Begin(int icon) {
  if (store_.rewrite.open_block != -1) return true;
  if (BlockFilesOn(store_.settings)) {
    snapshot_.Take(icon, icons_per_block_, coordinates_);
    in_hand_ = true;
  }
  if (!Told(OpenBlock(icon, store_), store_)) return false;
  lost_icons_ = store_.rewrite.lost_icons;
  // Those before the run's first icon were carried over already, as nothing.
  NameLost([icon](int n) { return n < icon; });
  return true;
}

void BlockTransaction::Converted(int icon, const std::string& source,
                                 std::optional<std::uint64_t> source_size,
                                 const StoreResult& result, const std::string& entry_file) {
  sums_.Converted(icon, source, source_size, static_cast<std::uint32_t>(result.bytes), result.hash,
                  result.outcome == StoreOutcome::kAll && !entry_file.empty());
  // A source whose single entry file is missing stays marked as changed.
  if (result.outcome != StoreOutcome::kAll) return;
  pending_sources_.push_back(source);
  if (!entry_file.empty()) pending_entry_files_.push_back(entry_file);
}

void BlockTransaction::Dropped(int icon) { sums_.Dropped(icon); }

void BlockTransaction::Stored(int icon, bool rebuilt) {
  NameLost([icon, rebuilt](int n) { return n == icon && !rebuilt; });
  std::erase(lost_icons_, icon);
}

void BlockTransaction::CommitIfClosed(int icon) {
  const bool closed = BlockFilesOn(store_.settings)
                          ? store_.rewrite.open_block == -1
                          : (std::int64_t{icon} + 1) % icons_per_block_ == 0;
  if (!closed) return;
  in_hand_ = false;
  if (BlockFilesOn(store_.settings)) {
    // The store's commit wrote the tables already.
    Settle(tables_written_);
  } else {
    const int first = icon / icons_per_block_ * icons_per_block_;
    Settle(WriteTables(first, icon));
  }
  NameLost([](int) { return true; });
}

void BlockTransaction::Finish(int last_icon, bool store_failed) {
  // The open block is closed before the coordinates file is written, so that a block the
  // store could not finish has its coordinates put back first.
  if (!store_failed && store_.rewrite.open_block != -1) {
    store_failed = !Told(CloseBlock(last_icon, store_), store_);
  }
  if (store_failed) RollBack();
  NameLost([](int) { return true; });
  if (BlockFilesOn(store_.settings)) {
    // The store's commit of each block wrote its tables. After a failure the block's old
    // content stands (or BLTEMP does), which the checksum file still describes; only the
    // crop boxes, put back above, are written.
    const bool coordinates = WriteCoordinates();
    Settle(coordinates && (store_failed || tables_written_));
  } else {
    const int first = last_icon / icons_per_block_ * icons_per_block_;
    Settle(WriteTables(first, last_icon));
  }
  TellSums();
}

// The store kept the block's previous content (BLTEMP or its file) and the offsets file that
// describes it; the block's coordinates go back to match them, and its sources stay marked as
// changed. A BLTEMP that stays is put right by the next command.
void BlockTransaction::RollBack() {
  if (in_hand_) snapshot_.Restore(coordinates_);
  store_.rewrite = RewriteState{};
  pending_sources_.clear();
  pending_entry_files_.clear();
}

bool BlockTransaction::WriteTables(int first, int last) {
  const bool coordinates = WriteCoordinates();
  const bool agrees = sums_.Update(first, last);
  return WriteSums() && coordinates && agrees;
}

bool BlockTransaction::WriteSums() {
  const Status written = sums_.Write();
  if (written) return true;
  if (!sums_warned_) {
    ShowWarning(store_.state.port, Owner::kMain, kSumsNotWrittenFormat, written.error().text);
  }
  sums_warned_ = true;
  return false;
}

// Once a run, what became of a checksum file that could not be used, and of entries that
// had no sum before.
void BlockTransaction::TellSums() {
  StatusPort& port = store_.state.port;
  if (sums_.nameless()) return;
  if (sums_.refused()) {
    ShowWarning(port, Owner::kMain, kSumsRefusedFormat, sums_.refused()->text);
  } else if (sums_.adopted() > 0) {
    ShowNoticeNumber(port, Owner::kMain, kSumsAdoptedFormat, sums_.adopted());
  }
}

bool BlockTransaction::WriteCoordinates() {
  if (WriteCoordinatesFile(store_.settings, store_.state)) return true;
  if (!coordinates_warned_) {
    ShowWarning(store_.state.port, Owner::kMain, kWriteErrorFormat, store_.settings.FCOO.data());
  }
  coordinates_warned_ = true;
  return false;
}

void BlockTransaction::Settle(bool written) {
  if (written && !pending_entry_files_.empty() && !files::FlushFilesToDisk(pending_entry_files_)) {
    // Their sources stay marked as changed: the next run writes them again.
    ShowWarning(store_.state.port, Owner::kMain, kEntriesNotFlushedFormat,
                pending_entry_files_.front());
    written = false;
  }
  if (written) {
    // A source whose attribute stays set is only converted again by the next run.
    for (const auto& name : pending_sources_) (void)files::SetAttributesNormal(name.c_str());
  }
  pending_sources_.clear();
  pending_entry_files_.clear();
}

}  // namespace zemlo
