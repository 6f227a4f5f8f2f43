// The block rewrite's helpers shared by the files that hold it: the records of a block and
// their arithmetic (block_records.cpp), BLTEMP moved aside as a block opens and back or away
// as it closes or fails (block_rewrite_files.cpp), and the entries carried, stored and dropped
// one by one (block_store.cpp). Only those include it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>

#include "core/result.h"
#include "library/store/block_store.h"
#include "library/store/store_problem.h"
#include "library/store/tables.h"

namespace zemlo::block_store_internal {

// Icon numbers as 64-bit values: block * BLKB may pass the 32-bit range.
struct BlockRange {
  std::int64_t first;
  std::int64_t last;  // inclusive
};

inline BlockRange RangeOf(std::int64_t block, int icons_per_block) {
  const std::int64_t first = block * icons_per_block;
  return {first, first + icons_per_block - 1};
}

// Records exist only up to the table's capacity; beyond it every icon has no entry.
inline std::int64_t LastRecord(std::int64_t last) {
  return std::min<std::int64_t>(last, OffsetsTable::capacity() - 1);
}

inline OffsetsTable Offsets(StoreContext& c) { return OffsetsTable(c.state.offsets.span()); }

using Kind = StoreProblemKind;

inline Failure<StoreProblem> Problem(Kind kind, const char* name) {
  return Fail(StoreProblem{kind, name, 0});
}

inline Failure<StoreProblem> NumberProblem(Kind kind, std::int64_t number) {
  return Fail(StoreProblem{kind, {}, number});
}

inline Failure<StoreProblem> Stopped() { return Fail(StoreProblem{}); }

// ---- block_records.cpp ----

// The open block's records, as bytes of the offsets table.
std::span<std::uint8_t> BlockRecords(StoreContext& c, int block);
// Drops the open block's records whose bytes BLTEMP does not hold, remembering their icons.
void DropLostRecords(StoreContext& c);

// ---- block_rewrite_files.cpp ----

// Puts the block back as it was before OpenBlock; returns `problem`.
Failure<StoreProblem> RestoreBlock(StoreContext& c, Failure<StoreProblem> problem);

// ---- block_store.cpp ----

// Carries the icons of the open block before `icon` that the run did not hand over.
StoreStatus AdvanceTo(std::int64_t icon, StoreContext& c);

}  // namespace zemlo::block_store_internal
