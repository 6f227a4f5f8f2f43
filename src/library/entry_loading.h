// Loading one icon entry of a library (block files through the offsets table, or single
// entry files), unpacking it when packed and showing it in the working picture.
#pragma once

#include <cstddef>

#include "core/geometry.h"
#include "project/project_settings.h"

namespace zemlo {

struct WorkingState;

inline constexpr const char* kOffsetsMissingStatus = "offset file not found";
inline constexpr const char* kBlockMissingStatus = "ZGL block file not found";
inline constexpr const char* kEntryMissingStatus = "ZGL block entry not found:";
inline constexpr const char* kSingleMissingStatus = "file not found";

// A single entry file is read up to three picture allowances, as libraries always were.
inline constexpr std::size_t kSingleEntryReadLimit = 3 * std::size_t{kPictureAllowance};

// Failures are named in the title only; the picture then stays as it was (a missing offsets
// file or single entry file blanks it). Returns whether the entry was shown.
bool LoadEntry(int icon, ProjectSettings& settings, WorkingState& state);

}  // namespace zemlo
