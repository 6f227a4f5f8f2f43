// What the block store fuzzer asks of the checksum file once a run is over: each block the
// run finished, and each of its entries, hashes as the file says; blocks it did not finish
// keep the sums they had before, none. Each check returns what is wrong, nullptr when nothing.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "core/content_hash.h"
#include "library/store/checksum_file.h"
#include "project/project_settings.h"

namespace zemlo::fuzzing {

// The checksum file of `settings`, when it decodes to `icons` icons in `blocks` blocks.
inline std::optional<ChecksumFile> SumsOfLibrary(const ProjectSettings& settings, std::size_t icons,
                                                 std::size_t blocks) {
  auto sums = ReadChecksumFile(settings);
  if (!sums || sums->icons.size() != icons || sums->blocks.size() != blocks) return std::nullopt;
  return *sums;
}

// Icons first to end - 1 make the block; `entries` holds the bytes each must have, by icon.
inline const char* CheckFinishedBlock(const ChecksumFile& sums, int block, int first, int end,
                                      const std::vector<std::uint8_t>& file,
                                      const std::map<int, std::vector<std::uint8_t>>& entries) {
  const BlockSum& sum = sums.blocks[static_cast<std::size_t>(block)];
  // A block without bytes has no file to hash: its sum holds 0.
  const ContentHash expected = file.empty() ? 0 : HashBytes(file);
  if (sum.length != file.size() || sum.hash != expected || sum.generation == 0) {
    return "the block's sum is not that of its file";
  }
  for (int n = first; n < end; ++n) {
    const IconSum& icon = sums.icons[static_cast<std::size_t>(n)];
    const auto entry = entries.find(n);
    const std::size_t length = entry == entries.end() ? 0 : entry->second.size();
    if (icon.length != length || (length != 0 && icon.hash != HashBytes(entry->second))) {
      return "an entry's sum is not that of its bytes";
    }
  }
  return nullptr;
}

inline const char* CheckUnfinishedBlock(const ChecksumFile& sums, int block, int first, int end) {
  if (sums.blocks[static_cast<std::size_t>(block)] != BlockSum{}) {
    return "a block no run finished has a sum";
  }
  for (int n = first; n < end; ++n) {
    if (sums.icons[static_cast<std::size_t>(n)] != IconSum{}) {
      return "an entry no run stored has a sum";
    }
  }
  return nullptr;
}

}  // namespace zemlo::fuzzing
