// The creation run: turns the numbered sources of a project into its library, on the
// session's worker thread, with helper threads preparing the icons ahead when it has them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/message_format.h"
#include "core/status_port.h"
#include "library/run/create/source_selection.h"
#include "library/run/run_tally.h"
#include "project/project_settings.h"

namespace zemlo {

struct StoreContext;
struct WorkingState;

inline constexpr TextFormat kWriteErrorFormat = "File %s write error!";
// Shown when a single entry file that no longer belongs to the library could not be removed.
inline constexpr TextFormat kEntryFileNotRemovedFormat =
    "Single entry file %s could not be removed, but the library no longer holds that entry.";
// Shown (with the first of them) when the single entry files of a block could not be flushed
// to the disk before its sources were marked as converted.
inline constexpr TextFormat kEntriesNotFlushedFormat =
    "Single entry files such as %s could not be flushed to the disk. Their sources stay "
    "marked as changed and are converted again by the next run.";
inline constexpr const char* kNotFoundStatus = "not found (neither IFF, PCX nor WAV)";
// The same for a project with PNG sources (FPNG); others keep the text above.
inline constexpr const char* kNotFoundWithPngStatus = "not found (neither IFF, PCX, PNG nor WAV)";
inline constexpr std::string_view kSkippedStatus = "skipped";
inline constexpr std::string_view kSoundStatus = "Wave-File";
// An icon whose entry its block file no longer held and that the run could not convert again
// (no usable source, or outside the run's range).
inline constexpr NumberFormat kLostIconFormat =
    "Icon %i is lost: its block file no longer held its entry, and no source converted it "
    "again.";

// The checksum file beside the tables: not written (with the reason), found but not usable
// (with the reason: the run wrote it anew), and gained by a library that had none.
inline constexpr TextFormat kSumsUnreadableFormat =
    "The checksum file %s is there but could not be read. The run stops; nothing was changed.";
inline constexpr TextFormat kSourceSizeUnknownFormat =
    "The size of source %s could not be read for the checksum file. It stays marked as changed "
    "and is converted again by the next run.";
inline constexpr TextFormat kBlockNotReadBackFormat =
    "Block file %s could not be read back for the checksum file. The sources of its new "
    "entries stay marked as changed and are converted again by the next run.";
inline constexpr TextFormat kBlockNotAsStoredFormat =
    "Block file %s does not hold the entries this run stored in it. Their sources stay marked "
    "as changed and are converted again by the next run.";
inline constexpr TextFormat kSumsNotWrittenFormat =
    "The checksum file could not be written: %s. Its sources stay marked as changed and are "
    "converted again by the next run.";
inline constexpr TextFormat kSumsRefusedFormat =
    "The checksum file could not be used: %s. It was written anew; the entries this run "
    "carried over were hashed as they are, so a verify cannot tell whether they had changed.";
inline constexpr NumberFormat kSumsAdoptedFormat =
    "The library had no checksum file; it has one now. %i entries this run carried over were "
    "hashed as they are: a verify checks everything else about them, but only later changes "
    "to their pixels show.";

// Entries longer than this are packed with DPAK 1.
inline constexpr std::size_t kPackThreshold = 500000;

// Whether the DPAK setting packs an entry of `length` bytes.
inline bool PacksEntry(std::uint8_t dpak, std::size_t length) {
  return dpak == 2 || (dpak == 1 && length > kPackThreshold);
}

// The run over state.current_icon .. settings.DEND, as "Create ZGL" prepared it; ends with
// the coordinates file written, the block closed and the idle buttons. Stops after the icon
// in hand when state.stop_request is set, or when the library store fails (its warning was
// shown). With store.jobs above 1, that many helper threads prepare the icons ahead; the
// files, titles and messages are the same as with one. What became of the icons is counted
// into `tally` where one is given.
void CreationRun(StoreContext& store, RunTally* tally = nullptr);

}  // namespace zemlo
