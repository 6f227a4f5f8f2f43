// The block rewrite: a block file is replaced entry by entry through the temporary file
// BLTEMP, which holds the block's previous content from OpenBlock until CloseBlock. At every
// moment either the old state (offsets file + BLTEMP) or the new state (offsets file + block
// file) is complete on disk, so an interrupted run loses nothing.
//
// Call order per block: OpenBlock(first icon the run processes in the block), then for each
// icon in increasing order one of StoreEntry / KeepEntry / DropEntry, then CheckBlockEnd;
// CloseBlock at the end of the run if a block is still open (rewrite.open_block != -1).
// Every function returns false when the run must stop; the warning has then been shown, no
// file was truncated and the block's previous content is intact (as BLTEMP or as its file).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <vector>

#include "core/working_state.h"
#include "files/file_stream.h"
#include "library/store/tables.h"
#include "project/project_settings.h"

namespace zemlo {

inline constexpr const char* kTempBlockName = "BLTEMP";

// Shown (with the name BLTEMP as its argument) when BLTEMP is found before a block is opened.
// The commands recover an interrupted rewrite before a run starts (rewrite_recovery.h), so a
// run meets BLTEMP only when that could not be done.
inline constexpr const char* kTempBlockLeftOverWarning =
    "%s is left over from an interrupted run and holds the previous content of a block. "
    "Nothing was written.";

// Shown once per block (with the block file's name) when the offsets file records entries
// that the block file does not hold; those icons are then converted again.
inline constexpr const char* kBlockShortFormat =
    "Block file %s does not hold every entry that the offsets file records (it is missing "
    "or shorter). Those icons are converted again from their sources.";

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
  // prepare the icons ahead (creation_run.h).
  int jobs = 1;
};

// Zeroes the icon's record and moves the later entries of its block down by its length;
// returns that length (0 when the icon had no entry). Here and in InsertRecord, a record whose
// offset the move would carry out of the 32-bit range stays as it is.
std::int32_t RemoveRecord(int icon, int icons_per_block, OffsetsTable& offsets);
// Sets the icon's record and moves the later entries of its block up by `length`.
void InsertRecord(int icon, std::int32_t length, std::int32_t offset, int icons_per_block,
                  OffsetsTable& offsets);

bool OpenBlock(int icon, StoreContext& context);
bool StoreEntry(int icon, std::span<const std::uint8_t> entry, StoreContext& context);
bool KeepEntry(int icon, StoreContext& context);
bool DropEntry(int icon, StoreContext& context);
bool CheckBlockEnd(int icon, StoreContext& context);
bool CloseBlock(int last_icon, StoreContext& context);

// BLTEMP exists in the current directory: a run must refuse to start (show
// kTempBlockLeftOverWarning with WarnTempBlockLeftOver) before touching anything.
bool TempBlockLeftOver();
void WarnTempBlockLeftOver(WorkingState& state);

}  // namespace zemlo
