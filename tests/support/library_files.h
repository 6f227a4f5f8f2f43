// Comparing the files of two libraries made from different sources of the same pictures: every
// file must be byte for byte the same, except that the checksum file names other sources.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "library/store/checksum_file.h"

namespace zemlo::testing {

// The checksum file's sums with the sources' names and sizes left out; nothing when it is
// no readable checksum file.
inline std::optional<ChecksumFile> SumsBesidesSources(const std::vector<std::uint8_t>& bytes) {
  auto sums = DecodeChecksumFile(bytes);
  if (!sums) return std::nullopt;
  for (IconSum& icon : sums->icons) {
    icon.source.clear();
    icon.source_size = 0;
  }
  return *sums;
}

// The checksum file as two libraries of the same entries share it, whatever runs made them:
// which run wrote what (the generations), and whether an entry's sum was taken over from the
// files as they were, are left out. Bytes that are no checksum file stay as they are.
inline std::vector<std::uint8_t> SumsBesidesRuns(const std::vector<std::uint8_t>& bytes) {
  auto sums = DecodeChecksumFile(bytes);
  if (!sums) return bytes;
  sums->generation = 0;
  for (IconSum& icon : sums->icons) {
    icon.generation = 0;
    icon.flags &= ~kSumAdopted;
  }
  for (BlockSum& block : sums->blocks) block.generation = 0;
  return EncodeChecksumFile(*sums);
}

inline bool SameLibraryFile(const std::string& name, const std::vector<std::uint8_t>& a,
                            const std::vector<std::uint8_t>& b) {
  if (!name.ends_with(kSumSuffix)) return a == b;
  const auto x = SumsBesidesSources(a), y = SumsBesidesSources(b);
  return x && y && *x == *y;
}

}  // namespace zemlo::testing
