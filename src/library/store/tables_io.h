// The offsets and coordinates files: exactly the first NSIZ records of their tables, read
// and written whole. NSIZ beyond a table's capacity (or below 0) is cut to it, so neither
// the tables nor the files are ever overrun whatever a project says.
#pragma once

#include <cstddef>
#include <optional>

#include "core/working_state.h"
#include "files/file_stamp.h"
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

// What a reader that keeps its offsets table to itself (nobody else writes it) knows of the
// file the table holds: its stamp when last read, and how much of it was taken.
struct KeptTable {
  std::optional<files::FileStamp> stamp;
  std::size_t limit = 0;
};
// ReadOffsetsFile for such a reader, which reads it for every icon: while the file is the one
// `kept` says the table holds (files/file_stamp.h), it is not read again.
[[nodiscard]] bool ReadOffsetsFileKept(const ProjectSettings& settings, WorkingState& state,
                                       KeptTable& kept);

// Writing goes through ReplaceWholeFile: the old file stays whole until the new one is
// complete. False when it could not be written.
[[nodiscard]] bool WriteOffsetsFile(const ProjectSettings& settings, WorkingState& state);
[[nodiscard]] bool WriteCoordinatesFile(const ProjectSettings& settings, WorkingState& state);

// Set the whole table to zero: a table that cannot be read from this library's file starts
// empty, so no record of a project loaded before is ever taken for this one's.
void ClearCoordinates(WorkingState& state);
void ClearOffsets(WorkingState& state);

}  // namespace zemlo
