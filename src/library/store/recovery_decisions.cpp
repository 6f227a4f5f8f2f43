// The recovery's decisions: which of this project's blocks a record is about, whether a block
// file agrees with its records, and what becomes of BLTEMP. They look at names and numbers
// only; rewrite_recovery.cpp reads the disk for them and carries them out.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "files/file_helpers.h"
#include "files/file_names.h"
#include "library/store/block_layout.h"
#include "library/store/block_store.h"
#include "library/store/checksum_file.h"
#include "library/store/rewrite_recovery.h"
#include "library/store/rewrite_recovery_internal.h"
#include "library/store/stamping.h"
#include "library/store/tables.h"
#include "library/store/tables_io.h"

namespace zemlo {

using files::NamesSameFile;

namespace rewrite_recovery_internal {

// The bytes the records describe, the entries laid back to back.
std::int64_t RecordsTotal(std::span<const std::uint8_t> records) {
  const RecordsView view(records);
  BlockCursor cursor;
  for (std::size_t i = 0; i < view.count(); ++i) cursor.Step(view.at(i));
  return cursor.position();
}

}  // namespace rewrite_recovery_internal

using rewrite_recovery_internal::RecordsTotal;

bool BlockAgrees(std::span<const std::uint8_t> records, std::optional<std::int64_t> file_length) {
  const RecordsView view(records);
  BlockCursor cursor;
  for (std::size_t i = 0; i < view.count(); ++i) {
    const EntryPlace place = cursor.Step(view.at(i));
    if (place.record.length == 0) {
      if (!place.record.none()) return false;
      continue;
    }
    if (place.record.length < 0 || !place.in_place()) return false;
  }
  return cursor.position() == file_length.value_or(0);
}

RecordedBlock BlockOfRecord(const TempBlockRecord& record, const ProjectSettings& settings) {
  RecordedBlock found;
  const auto doubt = [&found](RecordDoubt why) {
    found.doubt = why;
    return found;
  };
  if (!NamesSameFile(record.offsets_name, settings.FOFS.data())) {
    return doubt(RecordDoubt::kOtherLibrary);
  }
  const int per_block = settings.BLKB;
  if (per_block < 1 || record.first_icon < 0 || record.first_icon % per_block != 0) {
    return doubt(RecordDoubt::kNotBlockStart);
  }
  const auto table_records = static_cast<std::int64_t>(OffsetsFileBytes(settings) / kRecordSize);
  if (record.first_icon >= table_records) return doubt(RecordDoubt::kOutsideTable);
  // What the rewrite records for a block: its icons up to the end of the offsets table.
  const std::int64_t whole =
      std::min<std::int64_t>(per_block, std::int64_t{OffsetsTable::capacity()} - record.first_icon);
  if (record.records.size() % kRecordSize != 0 ||
      static_cast<std::int64_t>(record.records.size() / kRecordSize) != whole) {
    return doubt(RecordDoubt::kWrongCount);
  }
  found.block = record.first_icon / per_block;
  found.block_name = settings.FBLK;
  if (!StampBlockNumber(found.block, found.block_name)) return doubt(RecordDoubt::kOutsideTable);
  if (!NamesSameFile(record.block_name, found.block_name.data())) {
    return doubt(RecordDoubt::kOtherBlockFile);
  }
  if (BlockNamesOwnFile(found.block_name.data(), settings)) {
    return doubt(RecordDoubt::kBlockNamesOwnFile);
  }
  return found;
}

bool BlockNamesOwnFile(std::string_view block_name, const ProjectSettings& settings) {
  const std::string record_temporary = TemporaryNameOf(kTempBlockRecordName);
  const auto sums = ChecksumFileName(settings);
  for (const std::string_view other :
       {std::string_view(kTempBlockName), std::string_view(kTempBlockRecordName),
        std::string_view(record_temporary), std::string_view(settings.FOFS.data()),
        std::string_view(settings.FCOO.data()), std::string_view(sums ? sums->data() : "")}) {
    if (!other.empty() && NamesSameFile(block_name, other)) return true;
  }
  return false;
}

TempBlockDecision DecideRecordedTempBlock(std::span<const std::uint8_t> old_records,
                                          std::span<const std::uint8_t> now_records,
                                          std::optional<std::int64_t> block_length,
                                          std::int64_t temp_length) {
  // BLTEMP is the block's old content: anything else is not what the rewrite left, and is
  // neither put back nor thrown away.
  if (temp_length != RecordsTotal(old_records)) {
    return {TempBlockAction::kRefuse, &kTempLengthDiffersFormat};
  }
  // The offsets file was not replaced since the rewrite began (or replaced by the same
  // records): it describes BLTEMP. The new block file may even be complete, but nothing
  // tells that its bytes reached the disk.
  if (std::equal(old_records.begin(), old_records.end(), now_records.begin(), now_records.end())) {
    return {TempBlockAction::kMoveBack};
  }
  // Replaced: that happens only after the new block file was flushed, so it must agree.
  if (BlockAgrees(now_records, block_length)) return {TempBlockAction::kRemoveTemp};
  return {TempBlockAction::kRefuse, &kRecoveryRefusedFormat};
}

UnrecordedDecision DecideUnrecordedTempBlock(std::span<const DisagreeingBlock> disagreeing,
                                             std::int64_t temp_length) {
  if (disagreeing.size() == 1 && disagreeing.front().records_total == temp_length) {
    return {TempBlockAction::kMoveBack, disagreeing.front().block};
  }
  // An empty BLTEMP holds nothing that could be lost; a full one may be the only copy of a
  // block whose new file happens to have the old length, so it stays.
  if (disagreeing.empty() && temp_length == 0) return {TempBlockAction::kRemoveTemp, -1};
  return {};
}

}  // namespace zemlo
