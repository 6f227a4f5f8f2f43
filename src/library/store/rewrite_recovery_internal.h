// What the files of the interrupted rewrite's recovery share: the size bounds of the record
// file's layout (temp_block_record.cpp), which the recovery reads the record within
// (rewrite_recovery.cpp), and the byte total of a block's records, which the decisions
// (recovery_decisions.cpp) and the recovery both weigh BLTEMP against. Only those include it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "library/store/tables.h"
#include "project/project_settings.h"

namespace zemlo::rewrite_recovery_internal {

inline constexpr std::size_t kMaxRecordName = kNameSize - 1;
// Magic, version, first icon, record count, two name lengths, checksum.
inline constexpr std::size_t kRecordFixedBytes = 4 + 2 + 4 + 4 + 2 + 2 + 4;
inline constexpr std::size_t kMaxRecordFileBytes =
    kRecordFixedBytes + 2 * kMaxRecordName + kOffsetsTableSize;

// The bytes the records describe, the entries laid back to back.
std::int64_t RecordsTotal(std::span<const std::uint8_t> records);

}  // namespace zemlo::rewrite_recovery_internal
