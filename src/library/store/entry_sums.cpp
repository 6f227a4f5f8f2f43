#include "library/store/entry_sums.h"

#include <algorithm>
#include <limits>

#include "files/file_helpers.h"
#include "files/file_layer.h"
#include "files/file_stream.h"
#include "library/store/block_layout.h"
#include "library/store/rewrite_recovery.h"
#include "library/store/tables_io.h"

namespace zemlo {
namespace {

constexpr std::size_t kPiece = 1 << 16;

// Feeds `length` bytes of `file` to both hashers; false when the file ends first.
bool Feed(std::FILE* file, std::int64_t length, ContentHasher& entry, ContentHasher& block,
          std::vector<std::uint8_t>& buffer) {
  while (length > 0) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(length, kPiece));
    if (files::ReadBytes(file, buffer.data(), n) != n) return false;
    entry.Add(std::span(buffer).first(n));
    block.Add(std::span(buffer).first(n));
    length -= static_cast<std::int64_t>(n);
  }
  return true;
}

}  // namespace

std::optional<HashedBlock> HashBlockFile(const char* block_name,
                                         std::span<const std::uint8_t> records) {
  const RecordsView view(records);
  HashedBlock out;
  out.entries.resize(view.count());
  ContentHasher block_hash;
  if (!files::Exists(block_name)) {
    for (std::size_t i = 0; i < view.count(); ++i) {
      if (view.at(i).describes_bytes()) return std::nullopt;
    }
    out.block.hash = block_hash.Value();
    return out;
  }
  FileStream file(files::OpenFile(block_name, "rb").value_or(nullptr));
  if (file == nullptr) return std::nullopt;
  std::vector<std::uint8_t> buffer(kPiece);
  ContentHasher entry_hash;
  BlockCursor cursor;
  for (std::size_t i = 0; i < view.count(); ++i) {
    const EntryPlace place = cursor.Step(view.at(i));
    if (!place.record.describes_bytes()) continue;
    if (!place.in_place()) return std::nullopt;
    entry_hash.Reset();
    if (!Feed(file.get(), place.record.length, entry_hash, block_hash, buffer)) return std::nullopt;
    out.entries[i] = {static_cast<std::uint32_t>(place.record.length), entry_hash.Value()};
  }
  std::uint8_t extra = 0;
  if (files::ReadBytes(file.get(), &extra, 1) != 0) return std::nullopt;  // bytes after the last
  out.block = {static_cast<std::uint64_t>(cursor.position()), block_hash.Value(), 0};
  return out;
}

std::optional<HashedEntry> HashSingleFile(const char* name) {
  FileStream file(files::OpenFile(name, "rb").value_or(nullptr));
  if (file == nullptr) return std::nullopt;
  std::vector<std::uint8_t> buffer(kPiece);
  ContentHasher hash;
  std::uint64_t length = 0;
  for (;;) {
    const std::size_t n = files::ReadBytes(file.get(), buffer.data(), buffer.size());
    hash.Add(std::span(buffer).first(n));
    length += n;
    if (length > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
    if (n < buffer.size()) break;
  }
  return HashedEntry{static_cast<std::uint32_t>(length), hash.Value()};
}

std::size_t SumBlockCount(const ProjectSettings& settings) {
  const std::size_t icons = OffsetsFileBytes(settings) / kRecordSize;
  const std::size_t per_block = static_cast<std::size_t>(std::max(settings.BLKB, 1));
  return (icons + per_block - 1) / per_block;
}

void FitSums(ChecksumFile& sums, const ProjectSettings& settings) {
  const auto per_block = static_cast<std::uint32_t>(std::max(settings.BLKB, 1));
  if (sums.icons_per_block != per_block) sums.blocks.clear();
  sums.icons_per_block = per_block;
  sums.icons.resize(OffsetsFileBytes(settings) / kRecordSize);
  sums.blocks.resize(SumBlockCount(settings));
}

bool RefreshBlockSums(const ProjectSettings& settings, int block, const char* block_name) {
  auto sums = ReadChecksumFile(settings);
  // Without a file, or with one the next run refuses and writes anew, there is nothing to
  // bring up to date; only one that is there but cannot be read might yet describe the old
  // block, and must keep BLTEMP's record.
  if (!sums) return sums.error() != kSumUnreadable;
  FitSums(*sums, settings);
  const int per_block = std::max(settings.BLKB, 1);
  const std::int64_t first = std::int64_t{block} * per_block;
  const auto icons = static_cast<std::int64_t>(sums->icons.size());
  if (block < 0 || first >= icons) return false;
  const auto count = static_cast<std::int32_t>(std::min<std::int64_t>(per_block, icons - first));
  const auto records = RecordsOnDisk(settings.FOFS.data(), static_cast<std::int32_t>(first), count);
  const auto hashed = HashBlockFile(block_name, records);
  if (!hashed) return false;
  std::vector<std::uint8_t> coordinates(kCoordinatesTableSize + 1, 0);
  const auto read = ReadWholeFile(settings.FCOO.data(), coordinates, kCoordinatesTableSize);
  coordinates.resize(read ? *read : 0);
  coordinates.resize(kCoordinatesTableSize, 0);
  const CoordinatesTable boxes(coordinates);
  const std::uint32_t generation = ++sums->generation;
  for (std::int32_t i = 0; i < count; ++i) {
    const int n = static_cast<int>(first + i);
    const HashedEntry& found = hashed->entries[static_cast<std::size_t>(i)];
    IconSum& sum = sums->icons[static_cast<std::size_t>(n)];
    if (found.length == 0) {
      sum = {};
    } else if (sum.generation == 0 || sum.length != found.length || sum.hash != found.hash) {
      // The source it came from is most likely the one the sum named before.
      sum.length = found.length;
      sum.hash = found.hash;
      sum.flags = kSumAdopted | kSumInBlock | (SingleFilesOn(settings) ? kSumInSingleFile : 0);
      sum.box = boxes.Get(n);
      sum.generation = generation;
    }
  }
  sums->blocks[static_cast<std::size_t>(block)] =
      hashed->block.length > 0 ? BlockSum{hashed->block.length, hashed->block.hash, generation}
                               : BlockSum{0, 0, generation};
  return WriteChecksumFile(settings, *sums).ok();
}

}  // namespace zemlo
