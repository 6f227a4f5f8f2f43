// What a run killed inside a block rewrite leaves behind, and how the next command puts it
// right by itself (holding the library's lock):
//
// Before a block file is moved to BLTEMP, the rewrite writes a small record file beside it
// (durably, never over an existing one) that names the library's offsets file, the block file
// and the block's records as the offsets file held them then. The offsets file is replaced
// only after the new block file is complete on disk, and BLTEMP and then the record go only
// after that. So when BLTEMP is found:
// - the offsets file still holds the block's old records: it still describes BLTEMP, which
//   goes back over the block file (the library is as before the interrupted run);
// - it holds other records, and the block file agrees with them: the rewrite had finished
//   and BLTEMP is a surplus copy of the old content, which goes;
// - anything else was changed by someone else: nothing is touched.
// Without a readable record (a BLTEMP left by an older version, or damaged), the block is
// looked for among all blocks: moved back only when exactly one block disagrees with the
// offsets file and BLTEMP has the length its records describe; removed only when it is
// empty and every block agrees; otherwise nothing is touched.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/status_port.h"
#include "project/project_settings.h"

namespace zemlo {

inline constexpr const char* kTempBlockRecordName = "BLTEMP.REC";

// The record file's layout: magic, version, first icon, record count, the two names (16-bit
// length and bytes), the records (8 bytes each), then an FNV-1a checksum of all before it.
inline constexpr char kTempBlockRecordMagic[4] = {'Z', 'B', 'T', 'R'};
inline constexpr std::uint16_t kTempBlockRecordVersion = 1;

inline constexpr const char* kMovedBackNotice =
    "BLTEMP was left by a run that was stopped while it rewrote block file %s. The block was "
    "put back as it was before that run.";
inline constexpr const char* kRemovedNotice =
    "BLTEMP was left by a run that was stopped after it had finished block file %s. The "
    "leftover copy of the block's old content was removed.";
inline constexpr const char* kEmptyRemovedNotice =
    "An empty BLTEMP was left by an interrupted run; it held no entry and was removed.";
inline constexpr const char* kRecoveryRefusedFormat =
    "BLTEMP is left over from an interrupted run that rewrote block file %s, but neither "
    "BLTEMP nor the block file agrees with the offsets file any more. Nothing was changed; "
    "BLTEMP holds the block's previous content.";
inline constexpr const char* kUnrecordedRefusedFormat =
    "%s is left over from an interrupted run, but the block it belongs to cannot be told "
    "for sure (its record is missing or damaged). Nothing was changed; BLTEMP holds the "
    "previous content of a block.";
inline constexpr const char* kTempNotMovedBackFormat =
    "BLTEMP could not be moved back over block file %s. Nothing was changed.";
inline constexpr const char* kTempNotRemovedFormat =
    "BLTEMP, a leftover copy of block file %s, could not be removed. Nothing was changed.";
inline constexpr const char* kForeignRunFormat =
    "BLTEMP belongs to a run that is still working on the library of %s. Nothing was changed.";

struct TempBlockRecord {
  std::string offsets_name;
  std::string block_name;
  std::int32_t first_icon = 0;
  // The offsets file's records of the block's icons (8 bytes each) when the rewrite began.
  std::vector<std::uint8_t> records;
};

std::vector<std::uint8_t> EncodeTempBlockRecord(const TempBlockRecord& record);
// nullopt for anything but a whole record of this layout with a matching checksum.
std::optional<TempBlockRecord> DecodeTempBlockRecord(std::span<const std::uint8_t> bytes);

// Written before BLTEMP is made; false when it could not be, or when a record already exists
// (another library's rewrite in this folder).
bool WriteTempBlockRecord(const TempBlockRecord& record);
bool RemoveTempBlockRecord();

// `count` records from `first_icon` as the named offsets file holds them; zeros where it
// holds none (missing or short).
std::vector<std::uint8_t> RecordsOnDisk(const char* offsets_name, std::int32_t first_icon,
                                        std::int32_t count);

// A block file holds exactly what its records describe: the entries back to back from 0 in
// icon order, and nothing after them. A missing file holds nothing.
bool BlockAgrees(std::span<const std::uint8_t> records, std::optional<std::int64_t> file_length);

enum class TempBlockAction { kMoveBack, kRemoveTemp, kRefuse };

// With a record: `old_records` from it, `now_records` from the offsets file now.
TempBlockAction DecideRecordedTempBlock(std::span<const std::uint8_t> old_records,
                                        std::span<const std::uint8_t> now_records,
                                        std::optional<std::int64_t> block_length);

// Without a record: the blocks that disagree with the offsets file, each with the byte
// total of its records.
struct DisagreeingBlock {
  int block = 0;
  std::int64_t records_total = 0;
};
struct UnrecordedDecision {
  TempBlockAction action = TempBlockAction::kRefuse;
  int block = -1;  // the block BLTEMP goes back to
};
UnrecordedDecision DecideUnrecordedTempBlock(std::span<const DisagreeingBlock> disagreeing,
                                             std::int64_t temp_length);

enum class RecoveryResult {
  kNothingFound,  // no BLTEMP (a stale record alone is removed silently)
  kRecovered,     // BLTEMP was moved back or removed; one notice says which
  kRefused,       // BLTEMP stays; a warning says why
};

// Must be called holding the lock of `settings`' library, before anything else touches it.
RecoveryResult RecoverInterruptedRewrite(const ProjectSettings& settings, StatusPort& port);

// Removes the temporary files that a killed run's whole-file replacements of the library's
// tables and of the record left behind. Also only under the lock.
void RemoveLeftoverTableTemporaries(const ProjectSettings& settings);

}  // namespace zemlo
