// The checksum file of a library as it stands, for tests that need one before the run writes
// it or after changing the library by hand: every entry hashed from its block file (where the
// offsets records put it) or else its single entry file, its crop box from the coordinates
// file, every block file whole. The library is the current directory.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/content_hash.h"
#include "core/geometry.h"
#include "files/file_helpers.h"
#include "files/file_layer.h"
#include "library/store/checksum_file.h"
#include "library/store/stamping.h"
#include "library/store/tables.h"
#include "project/project_settings.h"

namespace zemlo::testing {

// The whole file through the file layer (project names use backslashes); empty when missing.
inline std::vector<std::uint8_t> LibraryFileBytes(const char* name) {
  if (!files::Exists(name)) return {};
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(FileLength(name)) + 1);
  const auto read = ReadWholeFile(name, bytes, bytes.size() - 1);
  bytes.resize(read ? *read : 0);
  return bytes;
}

inline ChecksumFile SumsOfLibrary(const ProjectSettings& settings, std::uint32_t generation = 1) {
  ChecksumFile sums;
  sums.generation = generation;
  sums.icons_per_block = static_cast<std::uint32_t>(settings.BLKB);
  const int records = std::clamp<std::int32_t>(settings.NSIZ, 0, kOffsetsCapacity);
  const int per_block = std::max<std::int32_t>(settings.BLKB, 1);
  auto offsets_bytes = LibraryFileBytes(settings.FOFS.data());
  offsets_bytes.resize(kOffsetsTableSize, 0);
  auto coordinates_bytes = LibraryFileBytes(settings.FCOO.data());
  coordinates_bytes.resize(kCoordinatesTableSize, 0);
  const OffsetsTable offsets(offsets_bytes);
  const CoordinatesTable coordinates(coordinates_bytes);
  sums.icons.resize(static_cast<std::size_t>(records));
  for (int first = 0; first < records; first += per_block) {
    Name block_name = settings.FBLK;
    std::vector<std::uint8_t> block;
    if (BlockFilesOn(settings) && StampBlockNumber(first / per_block, block_name) &&
        files::Exists(block_name.data())) {
      block = LibraryFileBytes(block_name.data());
      sums.blocks.push_back({block.size(), HashBytes(block), generation});
    } else {
      sums.blocks.push_back({});
    }
    for (int n = first; n < std::min(first + per_block, records); ++n) {
      IconSum& sum = sums.icons[static_cast<std::size_t>(n)];
      std::vector<std::uint8_t> stored;
      const auto offset = static_cast<std::size_t>(std::max(offsets.offset(n), 0));
      const auto length = static_cast<std::size_t>(std::max(offsets.length(n), 0));
      if (!block.empty() && length > 0 && offset + length <= block.size()) {
        sum.flags |= kSumInBlock;
        stored.assign(block.begin() + static_cast<std::ptrdiff_t>(offset),
                      block.begin() + static_cast<std::ptrdiff_t>(offset + length));
      }
      Name single = settings.FSEP;
      if (SingleFilesOn(settings) && StampIconNumber(n, single) && files::Exists(single.data())) {
        sum.flags |= kSumInSingleFile;
        if (stored.empty()) stored = LibraryFileBytes(single.data());
      }
      if (sum.flags == 0) continue;
      sum.length = static_cast<std::uint32_t>(stored.size());
      sum.hash = HashBytes(stored);
      sum.box = coordinates.Get(n);
      sum.generation = generation;
    }
  }
  return sums;
}

// SumsOfLibrary written beside the offsets file; false when it could not be.
inline bool WriteSumsOfLibrary(const ProjectSettings& settings, std::uint32_t generation = 1) {
  return WriteChecksumFile(settings, SumsOfLibrary(settings, generation)).ok();
}

}  // namespace zemlo::testing
