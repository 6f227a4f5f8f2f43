// What a library's entries and blocks hash to as its files hold them now: the creation run
// hashes what it has just written, the recovery what an interrupted run left complete.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/content_hash.h"
#include "library/store/checksum_file.h"
#include "project/project_settings.h"

namespace zemlo {

struct HashedEntry {
  std::uint32_t length = 0;
  ContentHash hash = 0;
};

struct HashedBlock {
  BlockSum block;
  std::vector<HashedEntry> entries;  // one per record, in order; length 0 where none
};

// Streams the block file through the hash, entry by entry as `records` (the block's offsets
// records, 8 bytes each) lay them back to back from byte 0. nullopt when the file cannot be
// read or holds other than exactly those bytes. A missing file is an empty block. (The
// checksum file records a block without bytes with length and hash 0 and the run that
// found it so; a block sum of generation 0 is one nothing is known of.)
[[nodiscard]] std::optional<HashedBlock> HashBlockFile(const char* block_name,
                                                       std::span<const std::uint8_t> records);

// A single entry file whole; nullopt when it cannot be read or is too long to be an entry.
[[nodiscard]] std::optional<HashedEntry> HashSingleFile(const char* name);

// The blocks a checksum file has for these settings: one per BLKB icons of NSIZ.
[[nodiscard]] std::size_t SumBlockCount(const ProjectSettings& settings);
// Fits `sums` to these settings: NSIZ icons, their blocks; block sums of another BLKB are
// no longer of any block and are forgotten (generation 0: unknown).
void FitSums(ChecksumFile& sums, const ProjectSettings& settings);

// After a run that was stopped once its block rewrite had finished but perhaps before the
// checksum file described the block: the block's entries are hashed as its file holds them
// (the run flushed it before the offsets file that describes it) with their crop boxes as
// the coordinates file holds them, keeping each entry's sum where it still matches. Nothing
// happens without a checksum file or with a damaged one (the next run writes it anew). False
// when one is there but cannot be read, or it could not be brought up to date.
[[nodiscard]] bool RefreshBlockSums(const ProjectSettings& settings, int block,
                                    const char* block_name);

}  // namespace zemlo
