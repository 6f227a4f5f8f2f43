// The offsets and coordinates files: exactly the first NSIZ records of their tables, read
// and written whole. NSIZ beyond a table's capacity (or below 0) is cut to it, so neither
// the tables nor the files are ever overrun whatever a project says.
#pragma once

#include <cstddef>

#include "core/working_state.h"
#include "project/project_settings.h"

namespace zemlo {

// Bytes of the offsets / coordinates file for these settings (NSIZ x 8, cut to capacity).
std::size_t OffsetsFileBytes(const ProjectSettings& settings);
std::size_t CoordinatesFileBytes(const ProjectSettings& settings);

// Reading replaces the front of the table with the file's bytes (at most the file bytes
// above) and leaves the rest of the table as it was. False when the file cannot be opened;
// the table is then unchanged.
bool ReadOffsetsFile(const ProjectSettings& settings, WorkingState& state);
bool ReadCoordinatesFile(const ProjectSettings& settings, WorkingState& state);

// Writing goes through ReplaceWholeFile: the old file stays whole until the new one is
// complete. False when it could not be written.
bool WriteOffsetsFile(const ProjectSettings& settings, WorkingState& state);
bool WriteCoordinatesFile(const ProjectSettings& settings, WorkingState& state);

// Sets the records that the coordinates file covers to zero (a new coordinates file).
void ClearCoordinates(const ProjectSettings& settings, WorkingState& state);

}  // namespace zemlo
