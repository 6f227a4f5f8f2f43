// What a run killed inside a block rewrite leaves behind, and how the next command puts it
// right by itself (holding the library's lock):
//
// Before a block file is moved to BLTEMP, the rewrite writes a small record file beside it
// (durably, never over an existing one) that names the library's offsets file, the block file
// and the block's records as the offsets file held them then. The offsets file is replaced
// only after the new block file is complete on disk, and BLTEMP and then the record go only
// after that.
//
// Everything in the folder may have been put there by someone else, the record and BLTEMP
// included. So the record never chooses a file: the block file is the one this project's
// FBLK names for the recorded block, the record must be of this project's offsets file and
// of a whole block inside its table, and BLTEMP must be a regular file exactly as long as the
// recorded entries. The block name the record holds is only compared with that file. A
// record of another library is left to that library's project: nothing is touched and no
// other lock is taken. Besides BLTEMP and its record, only this library's block file is ever
// replaced or removed. When BLTEMP passes these checks:
// - the offsets file still holds the block's old records: it still describes BLTEMP, which
//   goes back over the block file (the library is as before the interrupted run);
// - it holds other records, and the block file agrees with them: the rewrite had finished
//   and BLTEMP is a surplus copy of the old content, which goes;
// - anything else was changed by someone else: nothing is touched.
// Without a readable record (a BLTEMP left by an older version, or damaged), the block is
// looked for among this project's blocks: moved back only when exactly one block disagrees
// with the offsets file and BLTEMP has the length its records describe; removed only when it
// is empty and every block agrees; otherwise nothing is touched.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/message_format.h"
#include "core/status_port.h"
#include "project/project_settings.h"

namespace zemlo {

inline constexpr const char* kTempBlockRecordName = "BLTEMP.REC";

// The record file's layout: magic, version, first icon, record count, the two names (16-bit
// length and bytes), the records (8 bytes each), then an FNV-1a checksum of all before it.
inline constexpr char kTempBlockRecordMagic[4] = {'Z', 'B', 'T', 'R'};
inline constexpr std::uint16_t kTempBlockRecordVersion = 1;

inline constexpr TextFormat kMovedBackFormat =
    "BLTEMP was left by a run that was stopped while it rewrote block file %s. The block was "
    "put back as it was before that run.";
inline constexpr TextFormat kRemovedFormat =
    "BLTEMP was left by a run that was stopped after it had finished block file %s. The "
    "leftover copy of the block's old content was removed.";
inline constexpr const char* kEmptyRemovedText =
    "An empty BLTEMP was left by an interrupted run; it held no entry and was removed.";
inline constexpr TextFormat kRecoveryRefusedFormat =
    "BLTEMP is left over from an interrupted run that rewrote block file %s, but neither "
    "BLTEMP nor the block file agrees with the offsets file any more. Nothing was changed; "
    "BLTEMP holds the block's previous content.";
inline constexpr TextFormat kUnrecordedRefusedFormat =
    "%s is left over from an interrupted run, but the block it belongs to cannot be told "
    "for sure (its record is missing or damaged). Nothing was changed; BLTEMP holds the "
    "previous content of a block.";
inline constexpr TextFormat kTempNotMovedBackFormat =
    "BLTEMP could not be moved back over block file %s. Nothing was changed.";
inline constexpr TextFormat kSumsNotRefreshedFormat =
    "BLTEMP was left by a run that was stopped after it had finished block file %s, but the "
    "checksum file could not be brought up to date with that block. Nothing was changed.";
inline constexpr TextFormat kTempNotRemovedFormat =
    "BLTEMP, a leftover copy of block file %s, could not be removed. Nothing was changed.";
// Refusals before anything is looked at: each names the record's offsets file, BLTEMP, or
// the record file.
inline constexpr TextFormat kOtherLibraryFormat =
    "BLTEMP was left by a run on the library of %s, which is not this project's offsets file. "
    "Nothing was changed; that library's own project puts BLTEMP right.";
inline constexpr TextFormat kTempNotRegularFormat =
    "%s is a symbolic link, a folder or a device, not a file an interrupted run could have "
    "left. Nothing was changed.";
inline constexpr TextFormat kRecordNotBlockStartFormat =
    "The record %s of an interrupted block rewrite does not start at the first icon of a "
    "block of this project (BLKB). Nothing was changed; BLTEMP holds the previous content of "
    "a block.";
inline constexpr TextFormat kRecordOutsideTableFormat =
    "The record %s of an interrupted block rewrite names a block outside this project's "
    "table (NSIZ) or one that FBLK cannot name. Nothing was changed; BLTEMP holds the "
    "previous content of a block.";
inline constexpr TextFormat kRecordWrongCountFormat =
    "The record %s of an interrupted block rewrite does not hold the records of one whole "
    "block of this project (BLKB). Nothing was changed; BLTEMP holds the previous content of "
    "a block.";
// Refusals about the block file, which they name.
inline constexpr TextFormat kRecordOtherBlockFormat =
    "BLTEMP was left by a run that rewrote another file than this project's block file %s "
    "(FBLK was changed since, or the record is not genuine). Nothing was changed.";
inline constexpr TextFormat kBlockNamesOwnFileFormat =
    "Block file %s would be BLTEMP, its record or another file of the library. Nothing was "
    "changed.";
inline constexpr TextFormat kBlockIsLinkFormat =
    "Block file %s is a symbolic link; BLTEMP is not moved over it. Nothing was changed.";
inline constexpr TextFormat kTempLengthDiffersFormat =
    "BLTEMP is left over from an interrupted run that rewrote block file %s, but its length "
    "is not what the records of that block add up to. Nothing was changed.";

struct TempBlockRecord {
  std::string offsets_name;
  std::string block_name;
  std::int32_t first_icon = 0;
  // The offsets file's records of the block's icons (8 bytes each) when the rewrite began.
  std::vector<std::uint8_t> records;
};

[[nodiscard]] std::vector<std::uint8_t> EncodeTempBlockRecord(const TempBlockRecord& record);
// nullopt for anything but a whole record of this layout with a matching checksum.
[[nodiscard]] std::optional<TempBlockRecord> DecodeTempBlockRecord(
    std::span<const std::uint8_t> bytes);

// Written before BLTEMP is made; false when it could not be, or when a record already exists
// (another library's rewrite in this folder).
[[nodiscard]] bool WriteTempBlockRecord(const TempBlockRecord& record);
// False when a record stays: harmless, since a record without BLTEMP is known to be stale
// and goes silently with the next recovery.
bool RemoveTempBlockRecord();

// `count` records from `first_icon` as the named offsets file holds them; zeros where it
// holds none (missing or short).
[[nodiscard]] std::vector<std::uint8_t> RecordsOnDisk(const char* offsets_name,
                                                      std::int32_t first_icon, std::int32_t count);

// A block file holds exactly what its records describe: the entries back to back from 0 in
// icon order, and nothing after them. A missing file holds nothing.
[[nodiscard]] bool BlockAgrees(std::span<const std::uint8_t> records,
                               std::optional<std::int64_t> file_length);

// Why a record is not taken for one of this library's blocks.
enum class RecordDoubt {
  kNone,
  kOtherLibrary,       // of another offsets file
  kNotBlockStart,      // its first icon does not start a block (or BLKB is below 1)
  kOutsideTable,       // a block beyond NSIZ, or one FBLK cannot name
  kWrongCount,         // not the records of one whole block
  kOtherBlockFile,     // its block name is not the block file this project names
  kBlockNamesOwnFile,  // that block file would be BLTEMP, its record or a table file
};
struct RecordedBlock {
  RecordDoubt doubt = RecordDoubt::kNone;
  int block = -1;
  Name block_name{};  // FBLK stamped with `block` (when the doubt is none)
};
// The block of this project that `record` is about, worked out from the project alone.
[[nodiscard]] RecordedBlock BlockOfRecord(const TempBlockRecord& record,
                                          const ProjectSettings& settings);

// A block file name (FBLK stamped) that is BLTEMP, its record or that record's temporary, or
// this project's offsets or coordinates file: recovery must never move BLTEMP there.
[[nodiscard]] bool BlockNamesOwnFile(std::string_view block_name, const ProjectSettings& settings);

enum class TempBlockAction { kMoveBack, kRemoveTemp, kRefuse };
struct TempBlockDecision {
  TempBlockAction action = TempBlockAction::kRefuse;
  const TextFormat* refusal = nullptr;  // the warning (with the block file's name) when refused
};

// With a record: `old_records` from it, `now_records` from the offsets file now, the block
// file's length (nullopt when missing) and BLTEMP's. BLTEMP must hold exactly the entries the
// old records add up to, whatever is done with it.
[[nodiscard]] TempBlockDecision DecideRecordedTempBlock(std::span<const std::uint8_t> old_records,
                                                        std::span<const std::uint8_t> now_records,
                                                        std::optional<std::int64_t> block_length,
                                                        std::int64_t temp_length);

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
[[nodiscard]] UnrecordedDecision DecideUnrecordedTempBlock(
    std::span<const DisagreeingBlock> disagreeing, std::int64_t temp_length);

enum class RecoveryResult {
  kNothingFound,  // no BLTEMP (a stale record alone is removed silently)
  kRecovered,     // BLTEMP was moved back or removed; one notice says which
  kRefused,       // BLTEMP stays; a warning says why
};

// Must be called holding the lock of `settings`' library, before anything else touches it.
[[nodiscard]] RecoveryResult RecoverInterruptedRewrite(const ProjectSettings& settings,
                                                       StatusPort& port);

// Removes the temporary files that a killed run's whole-file replacements of the library's
// tables and of the record left behind. Also only under the lock.
void RemoveLeftoverTableTemporaries(const ProjectSettings& settings);

}  // namespace zemlo
