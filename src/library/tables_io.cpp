#include "library/tables_io.h"

#include <algorithm>
#include <cstdio>

#include "files/file_layer.h"
#include "files/file_helpers.h"

namespace zemlo {
namespace {

std::size_t RecordBytes(std::int32_t records, int capacity) {
  const std::int64_t n = std::clamp<std::int64_t>(records, 0, capacity);
  return static_cast<std::size_t>(n) * kRecordSize;
}

// Not through ReadWholeFile: its terminating zero would land on the next record of the table,
// and a table must keep every byte that the file does not cover.
bool ReadTable(const char* name, std::span<std::uint8_t> table) {
  std::FILE* file = files::OpenFile(name, "rb");
  if (file == nullptr) return false;
  if (!table.empty()) std::fread(table.data(), 1, table.size(), file);
  std::fclose(file);
  return true;
}

}  // namespace

std::size_t OffsetsFileBytes(const ProjectSettings& settings) {
  return RecordBytes(settings.NSIZ, kOffsetsCapacity);
}

std::size_t CoordinatesFileBytes(const ProjectSettings& settings) {
  return RecordBytes(settings.NSIZ, kCoordinatesCapacity);
}

bool ReadOffsetsFile(const ProjectSettings& settings, WorkingState& state) {
  return ReadTable(settings.FOFS.data(), state.offsets.span().first(OffsetsFileBytes(settings)));
}

bool ReadCoordinatesFile(const ProjectSettings& settings, WorkingState& state) {
  return ReadTable(settings.FCOO.data(),
                   state.coordinates.span().first(CoordinatesFileBytes(settings)));
}

bool WriteOffsetsFile(const ProjectSettings& settings, WorkingState& state) {
  return ReplaceWholeFile(settings.FOFS.data(),
                          state.offsets.span().first(OffsetsFileBytes(settings)));
}

bool WriteCoordinatesFile(const ProjectSettings& settings, WorkingState& state) {
  return ReplaceWholeFile(settings.FCOO.data(),
                          state.coordinates.span().first(CoordinatesFileBytes(settings)));
}

void ClearCoordinates(const ProjectSettings& settings, WorkingState& state) {
  auto records = state.coordinates.span().first(CoordinatesFileBytes(settings));
  std::fill(records.begin(), records.end(), std::uint8_t{0});
}

}  // namespace zemlo
