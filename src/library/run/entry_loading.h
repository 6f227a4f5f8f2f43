// Loading one icon entry of a library (block files through the offsets table, or single
// entry files), unpacking it when packed and showing it in the working picture.
#pragma once

#include <cstddef>

#include "core/geometry.h"
#include "library/store/tables_io.h"
#include "project/project_settings.h"

namespace zemlo {

struct WorkingState;

inline constexpr const char* kOffsetsMissingStatus = "offset file not found";
inline constexpr const char* kBlockMissingStatus = "ZGL block file not found";
inline constexpr const char* kEntryMissingStatus = "ZGL block entry not found:";
inline constexpr const char* kSingleMissingStatus = "file not found";

// A single entry file is read up to three picture allowances, as libraries always were.
inline constexpr std::size_t kSingleEntryReadLimit = 3 * std::size_t{kPictureAllowance};

// What became of loading one icon.
enum class EntryLoad {
  kShown,    // the entry is in the working picture
  kNoEntry,  // the library holds nothing for the icon (a zero record, no single entry file)
  kFailed,   // the library claims an entry that could not be read or unpacked, or its
             // offsets file could not be read
};

// Failures are named in the title only; the picture then stays as it was (a missing offsets
// file or single entry file blanks it). `masked`, when given, tells whether a shown entry is
// a picture of a masked kind (0-masked, X-masked), whose black pixels the game never draws.
// `ink`, when given, holds the rows of the picture that may not be black (the caller knows the
// others to be black): a shown entry clears only those, and sets it to the rows outside which
// the picture is black now. Nothing else here changes the picture.
// `offsets_kept`, for a `state` whose offsets table nobody else writes, spares reading the
// offsets file again while it is the file last read (ReadOffsetsFileKept).
EntryLoad LoadIconEntry(int icon, ProjectSettings& settings, WorkingState& state,
                        bool* masked = nullptr, PictureRows* ink = nullptr,
                        KeptTable* offsets_kept = nullptr);

// The same; returns whether the entry was shown.
inline bool LoadEntry(int icon, ProjectSettings& settings, WorkingState& state) {
  return LoadIconEntry(icon, settings, state) == EntryLoad::kShown;
}

}  // namespace zemlo
