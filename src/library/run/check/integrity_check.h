// The integrity check of a block set over icons 3000 to 4999, on the session's worker thread.
#pragma once

#include "core/message_format.h"
#include "library/run/run_tally.h"
#include "project/project_settings.h"

namespace zemlo {

struct WorkingState;

inline constexpr int kCheckFirstIcon = 3000;
inline constexpr int kCheckEndIcon = 5000;  // one past the last icon checked
// The progress bar shows icon * 100 / 20000, as users know it from earlier versions.
inline constexpr int kCheckProgressDivisor = 20000;

inline constexpr const char* kOffsetsFileMissingText = "Offsets file not found";
inline constexpr const char* kCheckStartedName = "Integrity check started";
inline constexpr const char* kCheckStartedStatus = "all ZGLs";
inline constexpr const char* kCheckNotFoundStatus = "not found";
inline constexpr NumberFormat kLengthZeroFormat = "Entry of icon %i corrupt (length 0)";
inline constexpr NumberFormat kMaskedFormat = "Character icon %i is masked";
inline constexpr NumberFormat kDataMissingFormat = "Data for icon %i missing";
inline constexpr NumberFormat kPosValueFormat = "Pos entry = %i";
inline constexpr NumberFormat kLengthValueFormat = "Length entry = %i";
inline constexpr NumberFormat kIncorrectHeaderFormat = "Incorrect header of icon %i";
inline constexpr NumberFormat kPosIncorrectFormat = "Pos entry of icon %i incorrect";
// Bytes after the last entry of a block: the file does not belong to these records.
inline constexpr TextFormat kBlockLongerFormat = "Block file %s is longer than its entries";

// Reads the offsets file and walks the block files sequentially, reporting every finding;
// ends with the stop request cleared and the idle buttons. What it found of each icon is
// counted into `tally` where one is given.
void IntegrityCheck(ProjectSettings& settings, WorkingState& state, RunTally* tally = nullptr);

}  // namespace zemlo
