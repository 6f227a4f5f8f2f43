// The words for the library store's problems (library/store/store_problem.h): each problem
// becomes one warning box owned by the main window, worded as the window has always shown it.
#pragma once

#include "core/message_format.h"
#include "core/status_port.h"
#include "library/store/store_problem.h"

namespace zemlo {

// Shown (with the name BLTEMP) when BLTEMP is found before a block is opened. The commands
// recover an interrupted rewrite before a run starts (rewrite_recovery.h), so a run meets
// BLTEMP only when that could not be done.
inline constexpr TextFormat kTempBlockLeftOverFormat =
    "%s is left over from an interrupted run and holds the previous content of a block. "
    "Nothing was written.";

// Shown once per block (with the block file's name) when the offsets file records entries
// that the block file does not hold; those icons are then converted again.
inline constexpr TextFormat kBlockShortFormat =
    "Block file %s does not hold every entry that the offsets file records (it is missing "
    "or shorter). Those icons are converted again from their sources.";

inline constexpr NumberFormat kBlockNotNamedFormat =
    "Block %i cannot be named: the FBLK pattern is too short for its number, or the number "
    "is too large for it. The run stops.";
inline constexpr NumberFormat kBadBlockSizeFormat =
    "The project cannot be used: BLKB is %i, but it must be at least 1.";
inline constexpr NumberFormat kOutOfOrderFormat =
    "Icon %i is not the next icon of the open block. The run stops; the block keeps its "
    "previous content.";
inline constexpr TextFormat kOffsetsNotReadFormat =
    "Offsets file %s is there but could not be read. The run stops; nothing was changed.";
inline constexpr TextFormat kBlockNotMovedFormat =
    "Block file %s could not be moved to BLTEMP. The run stops; nothing was changed.";
inline constexpr TextFormat kTempNotCreatedFormat =
    "The temporary block file %s could not be created or opened. The run stops; nothing was "
    "truncated.";
inline constexpr TextFormat kBlockNotCreatedFormat =
    "Block file %s could not be created. The run stops; nothing was truncated and the block "
    "keeps its previous content.";
inline constexpr TextFormat kBlockNotWrittenFormat =
    "Block file %s could not be written. The run stops; the block keeps its previous content.";
inline constexpr TextFormat kTempNotReadFormat =
    "The temporary block file %s could not be read. The run stops; the block keeps its "
    "previous content.";
inline constexpr TextFormat kOffsetsNotWrittenFormat =
    "Offsets file %s could not be written. The run stops; the block keeps its previous "
    "content.";
inline constexpr TextFormat kRecordNotWrittenFormat =
    "The record %s of the block rewrite could not be written, or another run's record is "
    "there. The run stops; nothing was changed.";
inline constexpr TextFormat kBlockTempNotRemovedFormat =
    "The temporary block file %s could not be removed. The run stops.";
inline constexpr TextFormat kBlockTooLongFormat =
    "Block file %s would grow past the 2 GiB that its offsets can address. The run stops; "
    "the block keeps its previous content.";

// Shows the problem's warning; a kStopped problem was told when it happened and shows nothing.
void ShowStoreProblem(StatusPort& port, const StoreProblem& problem);

}  // namespace zemlo
