#include "library/store/tables_io.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "files/file_helpers.h"
#include "files/file_layer.h"
#include "files/file_stream.h"

namespace zemlo {
namespace {

std::size_t RecordBytes(std::int32_t records, int capacity) {
  const std::int64_t n = std::clamp<std::int64_t>(records, 0, capacity);
  return static_cast<std::size_t>(n) * kRecordSize;
}

// The first `limit` bytes of `table` come from the file and every byte after them is zero:
// records the file does not cover are no records of this library, whatever the table held
// before (another project's, in a window that checked that one first). A file that cannot be
// read whole leaves the table as it was: a failed read is no short file.
// With `kept`, a file whose stamp is the one kept is not read again; the stamp is kept for a
// file read whole and forgotten otherwise.
bool ReadTable(const char* name, std::span<std::uint8_t> table, std::size_t limit,
               KeptTable* kept = nullptr) {
  FileStream file(files::OpenFile(name, "rb").value_or(nullptr));
  std::optional<files::FileStamp> stamp;
  if (kept != nullptr) {
    // Taken before the read: a change made while it reads moves the stamp on for the next.
    stamp = files::StampOf(file.get());
    if (stamp && kept->stamp == stamp && kept->limit == limit) return true;
    kept->stamp.reset();
  }
  if (file == nullptr) return false;
  const auto length = files::SeekToEnd(file.get());
  if (!length || !files::SeekTo(file.get(), 0)) return false;
  const std::size_t wanted =
      std::min({limit, table.size(), static_cast<std::size_t>(std::max<std::int64_t>(*length, 0))});
  std::vector<std::uint8_t> bytes(wanted);
  if (files::ReadBytes(file.get(), bytes.data(), wanted) != wanted) return false;
  std::copy(bytes.begin(), bytes.end(), table.begin());
  std::fill(table.begin() + static_cast<std::ptrdiff_t>(wanted), table.end(), std::uint8_t{0});
  if (kept != nullptr) *kept = {stamp, limit};
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
  return ReadTable(settings.FOFS.data(), state.offsets.span().first(kOffsetsTableSize),
                   OffsetsFileBytes(settings));
}

bool ReadOffsetsFileKept(const ProjectSettings& settings, WorkingState& state, KeptTable& kept) {
  return ReadTable(settings.FOFS.data(), state.offsets.span().first(kOffsetsTableSize),
                   OffsetsFileBytes(settings), &kept);
}

bool ReadCoordinatesFile(const ProjectSettings& settings, WorkingState& state) {
  return ReadTable(settings.FCOO.data(), state.coordinates.span().first(kCoordinatesTableSize),
                   CoordinatesFileBytes(settings));
}

void ClearOffsets(WorkingState& state) {
  auto table = state.offsets.span().first(kOffsetsTableSize);
  std::fill(table.begin(), table.end(), std::uint8_t{0});
}

bool WriteOffsetsFile(const ProjectSettings& settings, WorkingState& state) {
  return ReplaceWholeFile(settings.FOFS.data(),
                          state.offsets.span().first(OffsetsFileBytes(settings)));
}

bool WriteCoordinatesFile(const ProjectSettings& settings, WorkingState& state) {
  return ReplaceWholeFile(settings.FCOO.data(),
                          state.coordinates.span().first(CoordinatesFileBytes(settings)));
}

void ClearCoordinates(WorkingState& state) {
  auto table = state.coordinates.span().first(kCoordinatesTableSize);
  std::fill(table.begin(), table.end(), std::uint8_t{0});
}

}  // namespace zemlo
