// The block rewrite: a block file is replaced entry by entry through the temporary file
// BLTEMP, which holds the block's previous content from OpenBlock until CloseBlock. At every
// moment either the old state (offsets file + BLTEMP) or the new state (offsets file + block
// file) is complete on disk, so an interrupted run loses nothing.
//
// Call order per block: OpenBlock(first icon the run processes in the block), then for each
// icon in increasing order one of StoreEntry / KeepEntry / DropEntry, then CheckBlockEnd;
// CloseBlock at the end of the run if a block is still open (rewrite.open_block != -1).
// Every function returns the problem when the run must stop (store_problem.h); nothing was
// shown then, no file was truncated and the block's previous content is intact (as BLTEMP or
// as its file). The caller tells the problem (TellStoreProblem). The one thing the store
// tells by itself, while it goes on, is a block whose file is short of its records.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <set>
#include <span>
#include <vector>

#include "core/message_format.h"
#include "core/working_state.h"
#include "files/file_stream.h"
#include "library/store/store_problem.h"
#include "library/store/tables.h"
#include "project/project_settings.h"

namespace zemlo {

class BlockReadBack;

inline constexpr const char* kTempBlockName = "BLTEMP";

// The rewrite state of one run. Destroying it with a block still open closes the streams
// and leaves BLTEMP on disk, which is the complete old state of that block.
struct RewriteState {
  int open_block = -1;              // block being rewritten, -1 when none
  std::int64_t block_position = 0;  // bytes written to the new block file
  int next_icon = 0;                // next icon of the open block whose old bytes are unread
  std::int64_t temp_position = 0;   // read position in BLTEMP
  std::int64_t temp_length = 0;     // bytes in BLTEMP
  Name block_name{};                // the open block's file name (FBLK stamped)
  bool temp_was_block = false;      // BLTEMP is the renamed block file (not a new empty one)
  bool stopped = false;             // a failure stopped the run; nothing more is written
  // Icons of the open block whose records claimed bytes its file did not hold: OpenBlock
  // dropped their records (and warned), so the run converts them again.
  std::vector<int> lost_icons;
  // The open block's records as the table held them before its rewrite: put back when the
  // rewrite fails and the offsets file cannot be read back.
  std::vector<std::uint8_t> old_records;
  FileStream temp;   // BLTEMP, read
  FileStream block;  // the new block file, written
  std::vector<std::uint8_t> copy_buffer;
};

struct StoreContext {
  ProjectSettings& settings;
  WorkingState& state;
  RewriteState rewrite;
  // The run must convert every source whatever DARC says: set by "Create ZGL" when it starts
  // a new coordinates file, since skipped icons would otherwise lose their crop boxes.
  bool convert_all = false;
  // Threads the run converts on: 1 is the run's own thread alone; more start helpers that
  // prepare the icons ahead (library/run/jobs.h).
  int jobs = 1;
  // Where the store's problems are told when they happen (the front end's messages); the
  // store itself calls it only for kBlockShort, the run for the failures it is handed.
  StoreProblemSink tell = nullptr;
  // Called by CloseBlock with the block's number once the offsets file describes the new
  // block, while BLTEMP and its record still stand: whatever else must describe the block
  // (its crop boxes, its checksums) is written here, so that after a kill the recovery finds
  // either all of it written or the record that says which block to bring up to date.
  std::function<void(int block)> block_committed = nullptr;
  // Reads each new block file back as its entries are written, for the commit's checksums
  // (set by a run whose helpers prepare the icons, the run's thread being the one they wait
  // for). Null: the commit reads the block back itself.
  BlockReadBack* read_back = nullptr;
  // Icons the run converts whatever DARC says, the others taking the archive test as usual:
  // set by a repair for the icons whose entries it found damaged. Null: none.
  const std::set<int>* force_icons = nullptr;
};

// Hands `problem` to context.tell, if there is one.
void TellStoreProblem(StoreContext& context, const StoreProblem& problem);
// For the run's calls into the store: a failure is told when it happens, among the run's
// titles. True when `status` is a success.
inline bool Told(const StoreStatus& status, StoreContext& context) {
  if (status.ok()) return true;
  TellStoreProblem(context, status.error());
  return false;
}

// Zeroes the icon's record and moves the later entries of its block down by its length;
// returns that length (0 when the icon had no entry). Here and in InsertRecord, a record whose
// offset the move would carry out of the 32-bit range stays as it is.
std::int32_t RemoveRecord(int icon, int icons_per_block, OffsetsTable& offsets);
// Sets the icon's record and moves the later entries of its block up by `length`.
void InsertRecord(int icon, std::int32_t length, std::int32_t offset, int icons_per_block,
                  OffsetsTable& offsets);

[[nodiscard]] StoreStatus OpenBlock(int icon, StoreContext& context);
[[nodiscard]] StoreStatus StoreEntry(int icon, std::span<const std::uint8_t> entry,
                                     StoreContext& context);
[[nodiscard]] StoreStatus KeepEntry(int icon, StoreContext& context);
[[nodiscard]] StoreStatus DropEntry(int icon, StoreContext& context);
[[nodiscard]] StoreStatus CheckBlockEnd(int icon, StoreContext& context);
[[nodiscard]] StoreStatus CloseBlock(int last_icon, StoreContext& context);

// BLTEMP exists in the current directory: a run must refuse to start (the problem is
// TempBlockLeftOverProblem()) before touching anything.
[[nodiscard]] bool TempBlockLeftOver();
[[nodiscard]] StoreProblem TempBlockLeftOverProblem();

}  // namespace zemlo
