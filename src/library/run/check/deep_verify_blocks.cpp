// The block layout: each block's entries are read where the offsets records put them, back to
// back from its first byte, and nothing may follow the last.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "core/geometry.h"
#include "core/working_state.h"
#include "files/file_helpers.h"
#include "files/file_layer.h"
#include "library/run/check/deep_verify_walker.h"
#include "library/store/block_layout.h"
#include "library/store/stamping.h"

namespace zemlo::deep_verify_walker {

void Verifier::VerifyBlocks() {
  const int per_block = std::max<std::int32_t>(settings_.BLKB, 1);
  for (int first = 0; first < records_; first += per_block) {
    const int last = std::min(first + per_block, records_) - 1;
    const int block = first / per_block;
    Name stamped = settings_.FBLK;
    const bool named = StampBlockNumber(block, stamped);
    const std::string block_name = NameOf(named ? stamped : settings_.FBLK);
    bool recorded = false;
    for (int n = first; n <= last; ++n) {
      recorded = recorded || offsets_.offset(n) != 0 || offsets_.length(n) != 0;
    }
    if (!recorded) {
      if (named && files::Exists(stamped.data())) {
        Add(-1, block_name,
            Cat("holds ", FileLength(stamped.data()), " bytes, but no entry of icons ", first,
                " to ", last, " is recorded"));
      }
      for (int n = first; n <= last; ++n) {
        if (Stopped()) return;
        if (SingleFilesOn(settings_)) CheckLoneSingleFile(n);
        Progress(n);
      }
      continue;
    }
    if (!named) {
      Add(first, block_name, Cat("block ", block, " cannot be named from this pattern"));
    }
    std::FILE* file = named ? files::OpenFile(stamped.data(), "rb").value_or(nullptr) : nullptr;
    BlockWalk walk{file, named ? FileLength(stamped.data()) : 0, BlockCursor(first), block_name};
    for (int n = first; n <= last && !Stopped(); ++n) {
      VerifyBlockIcon(n, walk);
      Progress(n);
    }
    if (file != nullptr) {
      const std::int64_t accounted = walk.cursor.position();
      if (!outcome_.stopped && walk.length > accounted) {
        Add(-1, block_name,
            Cat("holds ", walk.length - accounted, " bytes after its last entry (", walk.length,
                " bytes, its records account for ", accounted, ")"));
      }
      (void)files::CloseFile(file);  // only read: nothing to lose
    }
    if (outcome_.stopped) return;
  }
}

// Reads the entry the records describe into the file buffer; nullopt after a finding.
std::optional<std::span<const std::uint8_t>> Verifier::ReadBlockEntry(int icon, BlockWalk& walk) {
  const std::int32_t offset = offsets_.offset(icon);
  const std::int32_t length = offsets_.length(icon);
  const std::string offsets_name = NameOf(settings_.FOFS);
  if (length == 0) {
    Add(icon, offsets_name, Cat("offsets record has length 0 but offset ", offset));
    return std::nullopt;
  }
  if (length < 0 || offset < 0) {
    Add(icon, offsets_name,
        Cat("offsets record is negative (offset ", offset, ", length ", length, ")"));
    return std::nullopt;
  }
  const EntryPlace place = walk.cursor.Step({offset, length});
  if (!place.in_place()) {
    Add(icon, walk.name,
        Cat("offsets record puts the entry at byte ", offset,
            ", but the entries before it end at byte ", place.start));
  }
  if (walk.file == nullptr) {
    Add(icon, walk.name, "the block file holding the entry cannot be opened");
    return std::nullopt;
  }
  const std::int64_t end = std::int64_t{offset} + length;
  if (end > walk.length) {
    Add(icon, walk.name,
        Cat("entry at bytes ", offset, " to ", end - 1, " runs past the end of the block file (",
            walk.length, " bytes)"));
    return std::nullopt;
  }
  const std::size_t size = static_cast<std::size_t>(length);
  if (size > kFileBufferSize) {
    Add(icon, walk.name, Cat("entry length ", length, " is more than any entry can be"));
    return std::nullopt;
  }
  if (!files::SeekTo(walk.file, offset) ||
      files::ReadBytes(walk.file, state_.file.data(), size) != size) {
    Add(icon, walk.name, "entry could not be read");
    return std::nullopt;
  }
  return std::span<const std::uint8_t>(state_.file.span().first(size));
}

void Verifier::VerifyBlockIcon(int icon, BlockWalk& walk) {
  if (offsets_.offset(icon) == 0 && offsets_.length(icon) == 0) {
    if (SingleFilesOn(settings_)) CheckLoneSingleFile(icon);
    return;
  }
  VerifiedIcon info = StartIcon(icon, walk.name);
  const Workspace primary{state_.unpack.span(), state_.Picture()};
  const auto stored = ReadBlockEntry(icon, walk);
  bool block_clean = false;
  if (stored) {
    info.stored_length = stored->size();
    CheckAgainstSum(icon, walk.name, *stored, SumCopy::kBlock);
    const int before = icon_findings_;
    CheckEntry(icon, *stored, walk.name, primary, info);
    block_clean = icon_findings_ == before;
  }
  if (SingleFilesOn(settings_)) CompareSingleCopy(icon, stored, walk.name, block_clean);
  Report(info, state_.Picture());
}

// DBLK 3 and no block record: a single entry file there is an entry the block lost.
void Verifier::CheckLoneSingleFile(int icon) {
  Name name = settings_.FSEP;
  if (!StampIconNumber(icon, name) || !files::Exists(name.data())) return;
  VerifiedIcon info = StartIcon(icon, NameOf(name));
  info.stored_length = static_cast<std::size_t>(FileLength(name.data()));
  Add(icon, info.file, "single entry file exists, but the offsets file records no entry");
  Report(info, state_.Picture());
}

}  // namespace zemlo::deep_verify_walker
