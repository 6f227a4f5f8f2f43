// The block a creation run writes into, as one transaction (see BlockTransaction).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "library/run/create/icon_storing.h"
#include "library/run/create/run_sums.h"
#include "library/store/block_read_back.h"
#include "library/store/block_store.h"
#include "library/store/tables.h"

namespace zemlo {

// Coordinates records of one block, as they were before the run touched the block.
struct CoordinatesSnapshot {
  int first = 0;
  std::vector<CoordinatesRecord> records;

  void Take(int icon, int icons_per_block, const CoordinatesTable& table);
  void Restore(CoordinatesTable& table) const;
};

// The block the run writes into, as one transaction: begun when the run reaches the block,
// committed once the block is closed and the coordinates and checksum files describe it
// (both written while the block's rewrite record still stands), rolled
// back when the store fails. Archive attributes of the sources converted into the block are
// cleared only on commit, so a cleared attribute always means "entry and crop box stored"; a
// run that fails or is killed before that converts them again. What the commit relies on is
// on the disk before it: the block file and the offsets file (the store flushes them), the
// coordinates file, and the single entry files, which the system flushes its cheapest way,
// together here or each as it is written (files::FlushBeforeCommit), so a power cut cannot
// leave a cleared attribute over a lost entry.
class BlockTransaction {
 public:
  explicit BlockTransaction(StoreContext& store);
  ~BlockTransaction();
  BlockTransaction(const BlockTransaction&) = delete;
  BlockTransaction& operator=(const BlockTransaction&) = delete;

  // The checksum file is there but could not be read: the run must not start.
  bool SumsUnreadable() const { return sums_.unreadable(); }
  // Opens the block of `icon` unless one is open; false when the store failed.
  bool Begin(int icon);
  // `icon` was converted from `source` (of `source_size` bytes as its load read it, where
  // known) and stored as `result` says; `entry_file` is the single entry file it was written
  // to, "" when none.
  void Converted(int icon, const std::string& source, std::optional<std::uint64_t> source_size,
                 const StoreResult& result, const std::string& entry_file);
  // No source was found for `icon`: its entry is gone.
  void Dropped(int icon);
  // The icon is stored: a lost icon that it did not convert again stays lost.
  void Stored(int icon, bool rebuilt);
  // After CheckBlockEnd for `icon`: commits when that closed the block.
  void CommitIfClosed(int icon);
  // The run's end: a block still open is closed (commit) unless the store failed, in which
  // case the block rolls back. Lost icons the run did not reach are named.
  void Finish(int last_icon, bool store_failed);

 private:
  void RollBack();
  // The coordinates and checksum files for the icons first to last; false when either failed.
  bool WriteTables(int first, int last);
  bool WriteCoordinates();
  bool WriteSums();
  void TellSums();
  void Settle(bool written);
  // Icons whose entries their block file no longer held (the store dropped their records):
  // converted again by the run, or named.
  template <typename Named>
  void NameLost(Named&& named);

  StoreContext& store_;
  CoordinatesTable coordinates_;
  const int icons_per_block_;
  CoordinatesSnapshot snapshot_;
  bool in_hand_ = false;  // the block layout's block is open: its coordinates are in snapshot_
  std::vector<std::string> pending_sources_;
  std::vector<std::string> pending_entry_files_;
  std::vector<int> lost_icons_;
  bool coordinates_warned_ = false;
  bool sums_warned_ = false;
  RunSums sums_;
  // Reads each new block file back while the run writes it, where helpers prepare the icons.
  std::unique_ptr<BlockReadBack> read_back_;
  // Set by the store's commit of a block: whether the tables reached the disk.
  bool tables_written_ = true;
};

}  // namespace zemlo
