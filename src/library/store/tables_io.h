// The offsets and coordinates files: exactly the first NSIZ records of their tables, read
// and written whole. NSIZ beyond a table's capacity (or below 0) is cut to it, so neither
// the tables nor the files are ever overrun whatever a project says.
#pragma once

#include <cstddef>

#include "core/working_state.h"
#include "project/project_settings.h"

namespace zemlo {

// Bytes of the offsets / coordinates file for these settings (NSIZ x 8, cut to capacity).
[[nodiscard]] std::size_t OffsetsFileBytes(const ProjectSettings& settings);
[[nodiscard]] std::size_t CoordinatesFileBytes(const ProjectSettings& settings);

// Reading replaces the front of the table with the file's bytes (at most the file bytes
// above) and zeroes the rest of the table: what the file does not cover is no record of this
// library. False when the file cannot be opened; the table is then unchanged.
[[nodiscard]] bool ReadOffsetsFile(const ProjectSettings& settings, WorkingState& state);
[[nodiscard]] bool ReadCoordinatesFile(const ProjectSettings& settings, WorkingState& state);

// Writing goes through ReplaceWholeFile: the old file stays whole until the new one is
// complete. False when it could not be written.
[[nodiscard]] bool WriteOffsetsFile(const ProjectSettings& settings, WorkingState& state);
[[nodiscard]] bool WriteCoordinatesFile(const ProjectSettings& settings, WorkingState& state);

// Set the whole table to zero: a table that cannot be read from this library's file starts
// empty, so no record of a project loaded before is ever taken for this one's.
void ClearCoordinates(WorkingState& state);
void ClearOffsets(WorkingState& state);

}  // namespace zemlo
