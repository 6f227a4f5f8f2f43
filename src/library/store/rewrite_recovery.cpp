#include "library/store/rewrite_recovery.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/status.h"
#include "files/file_helpers.h"
#include "files/file_layer.h"
#include "files/file_names.h"
#include "files/file_stream.h"
#include "library/store/block_store.h"
#include "library/store/entry_sums.h"
#include "library/store/rewrite_recovery_internal.h"
#include "library/store/stamping.h"
#include "library/store/tables.h"
#include "library/store/tables_io.h"

namespace zemlo {

using files::NamesSameFile;
namespace {

using rewrite_recovery_internal::kMaxRecordFileBytes;
using rewrite_recovery_internal::RecordsTotal;

// The length of BLTEMP when it is a regular file (opening refuses anything else).
std::optional<std::int64_t> RegularFileLength(const char* name) {
  const FileStream file(files::OpenFile(name, "rb").value_or(nullptr));
  if (file == nullptr) return std::nullopt;
  return files::SeekToEnd(file.get());
}

std::vector<std::uint8_t> ReadSmallFile(const char* name, std::size_t limit) {
  if (!files::Exists(name)) return {};
  const auto length = static_cast<std::size_t>(std::min<std::int64_t>(FileLength(name), limit));
  std::vector<std::uint8_t> bytes(length + 1);
  const auto read = ReadWholeFile(name, bytes, length);
  bytes.resize(read ? *read : 0);
  return bytes;
}

std::optional<std::int64_t> LengthIfExists(const char* name) {
  if (!files::Exists(name)) return std::nullopt;
  return FileLength(name);
}

void Notice(StatusPort& port, TextFormat format, const std::string& name) {
  char text[kTextBufferSize];
  std::snprintf(text, sizeof text, format.c_str(), name.c_str());
  port.ShowMessage(Owner::kMain, kClassName, text, MessageIcon::kInformation);
}

void Warn(StatusPort& port, TextFormat format, const std::string& name) {
  ShowWarning(port, Owner::kMain, format, name);
}

// What recovery did to the block and to BLTEMP reaches the disk, in both their folders, before
// the record goes: the record alone tells what a BLTEMP still there after a power cut was.
// The block's folder first: where a file system keeps one folder's change without the
// other's, BLTEMP may then stay beside the block put back, but never go without it.
bool FlushBothFolders(const std::string& block_name) {
  return files::FlushFolderOf(block_name.c_str()) && files::FlushFolderOf(kTempBlockName);
}

// Puts BLTEMP back as `block_name`'s content: an empty BLTEMP stands for a block without file.
bool MoveBack(const std::string& block_name, std::int64_t temp_length) {
  if (temp_length == 0) {
    if (files::Exists(block_name.c_str()) && !files::RemoveFile(block_name.c_str())) return false;
    if (!files::RemoveFile(kTempBlockName)) return false;
  } else if (!files::ReplaceFileAtomically(kTempBlockName, block_name.c_str())) {
    return false;
  }
  return FlushBothFolders(block_name);
}

// The rewrite had finished: BLTEMP goes, and a block file left empty (the rewrite deletes
// those right after the offsets file) goes with it.
bool RemoveSurplus(const std::string& block_name, std::span<const std::uint8_t> records) {
  if (RecordsTotal(records) == 0 && files::Exists(block_name.c_str())) {
    // As when the rewrite itself removes it: an empty block file that stays is harmless.
    (void)files::RemoveFile(block_name.c_str());
  }
  return files::RemoveFile(kTempBlockName) && FlushBothFolders(block_name);
}

TextFormat RefusalFor(RecordDoubt doubt) {
  switch (doubt) {
    case RecordDoubt::kOtherLibrary:
      return kOtherLibraryFormat;
    case RecordDoubt::kNotBlockStart:
      return kRecordNotBlockStartFormat;
    case RecordDoubt::kOutsideTable:
      return kRecordOutsideTableFormat;
    case RecordDoubt::kWrongCount:
      return kRecordWrongCountFormat;
    case RecordDoubt::kOtherBlockFile:
      return kRecordOtherBlockFormat;
    case RecordDoubt::kBlockNamesOwnFile:
      return kBlockNamesOwnFileFormat;
    case RecordDoubt::kNone:
      break;
  }
  return kRecoveryRefusedFormat;
}

// The block file BLTEMP would go to: never through a symbolic link.
bool RefuseLinkedBlock(const char* block_name, StatusPort& port) {
  if (!files::IsSymbolicLink(block_name)) return false;
  Warn(port, kBlockIsLinkFormat, block_name);
  return true;
}

RecoveryResult RecoverRecorded(const TempBlockRecord& record, std::int64_t temp_length,
                               const ProjectSettings& settings, StatusPort& port) {
  const RecordedBlock found = BlockOfRecord(record, settings);
  if (found.doubt != RecordDoubt::kNone) {
    const bool about_block = found.doubt == RecordDoubt::kOtherBlockFile ||
                             found.doubt == RecordDoubt::kBlockNamesOwnFile;
    Warn(port, RefusalFor(found.doubt),
         about_block ? std::string(found.block_name.data()) : std::string(kTempBlockRecordName));
    return RecoveryResult::kRefused;
  }
  const std::string block_name = found.block_name.data();
  if (RefuseLinkedBlock(block_name.c_str(), port)) return RecoveryResult::kRefused;
  const auto count = static_cast<std::int32_t>(record.records.size() / kRecordSize);
  const auto now = RecordsOnDisk(settings.FOFS.data(), record.first_icon, count);
  const TempBlockDecision decision =
      DecideRecordedTempBlock(record.records, now, LengthIfExists(block_name.c_str()), temp_length);
  switch (decision.action) {
    case TempBlockAction::kMoveBack:
      if (!MoveBack(block_name, temp_length)) {
        Warn(port, kTempNotMovedBackFormat, block_name);
        return RecoveryResult::kRefused;
      }
      RemoveTempBlockRecord();
      Notice(port, kMovedBackFormat, block_name);
      return RecoveryResult::kRecovered;
    case TempBlockAction::kRemoveTemp:
      // The checksum file first, while BLTEMP and its record still say which block: the run
      // may have been stopped before it described the new block.
      if (!RefreshBlockSums(settings, found.block, block_name.c_str())) {
        Warn(port, kSumsNotRefreshedFormat, block_name);
        return RecoveryResult::kRefused;
      }
      if (!RemoveSurplus(block_name, now)) {
        Warn(port, kTempNotRemovedFormat, block_name);
        return RecoveryResult::kRefused;
      }
      RemoveTempBlockRecord();
      Notice(port, kRemovedFormat, block_name);
      return RecoveryResult::kRecovered;
    case TempBlockAction::kRefuse:
      break;
  }
  Warn(port, decision.refusal != nullptr ? *decision.refusal : kRecoveryRefusedFormat, block_name);
  return RecoveryResult::kRefused;
}

// Every block of the offsets file's records, checked against its file.
std::vector<DisagreeingBlock> DisagreeingBlocks(const ProjectSettings& settings) {
  std::vector<DisagreeingBlock> found;
  const int per_block = settings.BLKB;
  const auto records = static_cast<std::int32_t>(OffsetsFileBytes(settings) / kRecordSize);
  if (per_block < 1) return found;
  const auto table = RecordsOnDisk(settings.FOFS.data(), 0, records);
  Name pattern = settings.FBLK;
  for (std::int64_t first = 0; first < records; first += per_block) {
    const int block = static_cast<int>(first / per_block);
    if (!StampBlockNumber(block, pattern)) continue;
    const std::size_t from = static_cast<std::size_t>(first) * kRecordSize;
    const std::size_t to = std::min<std::size_t>(
        table.size(), from + static_cast<std::size_t>(per_block) * kRecordSize);
    const std::span<const std::uint8_t> block_records(table.data() + from, to - from);
    if (!BlockAgrees(block_records, LengthIfExists(pattern.data()))) {
      found.push_back({block, RecordsTotal(block_records)});
    }
  }
  return found;
}

RecoveryResult RecoverUnrecorded(const ProjectSettings& settings, std::int64_t temp_length,
                                 StatusPort& port) {
  const auto disagreeing = DisagreeingBlocks(settings);
  const auto decision = DecideUnrecordedTempBlock(disagreeing, temp_length);
  Name pattern = settings.FBLK;
  switch (decision.action) {
    case TempBlockAction::kMoveBack:
      // Only a file this project names for one of its blocks, and never through a link.
      if (!StampBlockNumber(decision.block, pattern)) break;
      if (BlockNamesOwnFile(pattern.data(), settings)) {
        Warn(port, kBlockNamesOwnFileFormat, pattern.data());
        return RecoveryResult::kRefused;
      }
      if (RefuseLinkedBlock(pattern.data(), port)) return RecoveryResult::kRefused;
      if (!MoveBack(pattern.data(), temp_length)) {
        Warn(port, kTempNotMovedBackFormat, pattern.data());
        return RecoveryResult::kRefused;
      }
      RemoveTempBlockRecord();
      Notice(port, kMovedBackFormat, pattern.data());
      return RecoveryResult::kRecovered;
    case TempBlockAction::kRemoveTemp:
      if (!files::RemoveFile(kTempBlockName)) break;
      RemoveTempBlockRecord();
      port.ShowMessage(Owner::kMain, kClassName, kEmptyRemovedText, MessageIcon::kInformation);
      return RecoveryResult::kRecovered;
    case TempBlockAction::kRefuse:
      break;
  }
  Warn(port, kUnrecordedRefusedFormat, kTempBlockName);
  return RecoveryResult::kRefused;
}

}  // namespace

std::vector<std::uint8_t> RecordsOnDisk(const char* offsets_name, std::int32_t first_icon,
                                        std::int32_t count) {
  std::vector<std::uint8_t> records(static_cast<std::size_t>(std::max(count, 0)) * kRecordSize, 0);
  if (records.empty() || first_icon < 0) return records;
  const auto file = ReadSmallFile(offsets_name, kOffsetsTableSize);
  const std::size_t from = static_cast<std::size_t>(first_icon) * kRecordSize;
  for (std::size_t i = 0; i < records.size() && from + i < file.size(); ++i) {
    records[i] = file[from + i];
  }
  return records;
}

RecoveryResult RecoverInterruptedRewrite(const ProjectSettings& settings, StatusPort& port) {
  // A link named BLTEMP counts as found even when it points nowhere: it is left alone.
  const bool temp_link = files::IsSymbolicLink(kTempBlockName);
  const bool temp = temp_link || files::Exists(kTempBlockName);
  const bool recorded = files::Exists(kTempBlockRecordName);
  if (!temp && !recorded) return RecoveryResult::kNothingFound;

  const auto record =
      DecodeTempBlockRecord(ReadSmallFile(kTempBlockRecordName, kMaxRecordFileBytes));
  // Another library's project in this folder shares BLTEMP and its record. Its run may be
  // working right now (its lock is not ours to look at), so they are left to that project.
  const bool ours = !record || NamesSameFile(record->offsets_name, settings.FOFS.data());
  if (!temp) {
    // Killed before BLTEMP was made or after it was gone: our record alone says nothing.
    if (ours) RemoveTempBlockRecord();
    return RecoveryResult::kNothingFound;
  }
  if (!ours) {
    Warn(port, kOtherLibraryFormat, record->offsets_name);
    return RecoveryResult::kRefused;
  }
  const auto temp_length = temp_link ? std::nullopt : RegularFileLength(kTempBlockName);
  if (!temp_length) {
    Warn(port, kTempNotRegularFormat, kTempBlockName);
    return RecoveryResult::kRefused;
  }
  if (record) return RecoverRecorded(*record, *temp_length, settings, port);
  return RecoverUnrecorded(settings, *temp_length, port);
}

void RemoveLeftoverTableTemporaries(const ProjectSettings& settings) {
  RemoveLeftoverTemporary(settings.FOFS.data());
  RemoveLeftoverTemporary(settings.FCOO.data());
  if (const auto sums = ChecksumFileName(settings)) RemoveLeftoverTemporary(sums->data());
  RemoveLeftoverTemporary(kTempBlockRecordName);
}

}  // namespace zemlo
