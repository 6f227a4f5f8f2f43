// The block layout: each block's entries are read where the offsets records put them, back to
// back from its first byte, and nothing may follow the last. Where a record was lost or bytes
// were cut, the walk names the icon whose bytes they were and goes on past them
// (deep_verify_placement.cpp), so that the entries after it are not blamed.
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
      VerifyUnrecordedBlock(first, last, stamped, named, block_name);
      if (outcome_.stopped) return;
      continue;
    }
    if (!named) {
      Add(first, block_name, Cat("block ", block, " cannot be named from this pattern"));
    }
    std::FILE* file = named ? files::OpenFile(stamped.data(), "rb").value_or(nullptr) : nullptr;
    BlockWalk walk{file, named ? FileLength(stamped.data()) : 0, BlockCursor(first), block_name};
    walk.first = first;
    walk.last = last;
    PlanCut(walk);
    for (int n = first; n <= last && !Stopped(); ++n) {
      VerifyBlockIcon(n, walk);
      Progress(n);
    }
    if (file != nullptr) {
      if (!outcome_.stopped) CheckBlockEnd(walk);
      (void)files::CloseFile(file);  // only read: nothing to lose
    }
    if (outcome_.stopped) return;
  }
}

void Verifier::VerifyUnrecordedBlock(int first, int last, const Name& stamped, bool named,
                                     const std::string& block_name) {
  if (named && files::Exists(stamped.data())) {
    const std::int64_t length = FileLength(stamped.data());
    if (last >= offsets_covered_) {
      NameUncoveredIcons(std::max(first, offsets_covered_), last, block_name, length);
    } else {
      Add(-1, block_name,
          Cat("holds ", length, " bytes, but no entry of icons ", first, " to ", last,
              " is recorded"));
    }
  }
  for (int n = first; n <= last; ++n) {
    if (Stopped()) return;
    if (SingleFilesOn(settings_)) CheckLoneSingleFile(n);
    Progress(n);
  }
}

// Nothing may follow the block's last entry; bytes that do are an entry whose record was lost
// when they check clean as one, and icons a short offsets file no longer covers when it is.
void Verifier::CheckBlockEnd(BlockWalk& walk) {
  const std::int64_t accounted = walk.expected();
  if (walk.length <= accounted) return;
  if (AttributeTrailingBytes(walk) || NameUncoveredInBlock(walk)) return;
  Add(-1, walk.name,
      Cat("holds ", walk.length - accounted, " bytes after its last entry (", walk.length,
          " bytes, its records account for ", accounted, ")"));
}

// Checks the record of `icon` and steps the walk over it; false after a finding that leaves
// nothing to read.
bool Verifier::PlaceBlockEntry(int icon, std::int32_t offset, std::int32_t length,
                               BlockWalk& walk) {
  const std::string offsets_name = NameOf(settings_.FOFS);
  if (length == 0) {
    Add(icon, offsets_name, Cat("offsets record has length 0 but offset ", offset));
    return false;
  }
  if (length < 0 || offset < 0) {
    Add(icon, offsets_name,
        Cat("offsets record is negative (offset ", offset, ", length ", length, ")"));
    return false;
  }
  const std::int64_t start = walk.expected();
  (void)walk.cursor.Step({offset, length});
  // A gap before an entry whose record the next one confirms is the entry of an icon whose
  // record was lost; it is named, and the walk goes on from this entry's record. Otherwise
  // this record is the wrong one, and the walk keeps to the lengths so far.
  const bool lost_record =
      offset > start && RecordConfirmed(icon, walk) && AttributeGap(icon, start, walk);
  if (lost_record) {
    walk.skipped += offset - start;
  } else if (offset != start) {
    Add(icon, walk.name,
        Cat("offsets record puts the entry at byte ", offset,
            ", but the entries before it end at byte ", start));
  }
  walk.last_placed = icon;
  return true;
}

// Reads the entry the records describe into the file buffer; nullopt after a finding.
std::optional<std::span<const std::uint8_t>> Verifier::ReadBlockEntry(int icon, BlockWalk& walk) {
  const std::int32_t length = offsets_.length(icon);
  if (!PlaceBlockEntry(icon, offsets_.offset(icon), length, walk)) return std::nullopt;
  // Past a cut the entry is read where it now lies (PlanCut said so, once for the block).
  const bool shifted = icon >= walk.shifted_from;
  const std::int64_t offset = offsets_.offset(icon) - (shifted ? walk.shift : 0);
  if (shifted && walk.file != nullptr) {
    // Whole, but not where its record says: the game and the viewer read other bytes there.
    Add(icon, walk.name,
        Cat("entry lies ", walk.shift, " bytes before its record's offset ", offsets_.offset(icon),
            ", past the cut: read where the record puts it, it shows other bytes"));
  }
  if (walk.file == nullptr) {
    Add(icon, walk.name, "the block file holding the entry cannot be opened");
    return std::nullopt;
  }
  const std::int64_t end = offset + length;
  if (end > walk.length) {
    Add(icon, walk.name,
        Cat("entry at bytes ", offset, " to ", end - 1, " runs past the end of the block file (",
            walk.length, " bytes)"));
    return std::nullopt;
  }
  if (static_cast<std::size_t>(length) > kFileBufferSize) {
    Add(icon, walk.name, Cat("entry length ", length, " is more than any entry can be"));
    return std::nullopt;
  }
  const auto read = ReadAt(walk, offset, length);
  if (!read) Add(icon, walk.name, "entry could not be read");
  return read;
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
    CheckCoveredEntry(icon, *stored, walk.name, primary, info);
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
  Add(icon, info.file,
      OffsetsCover(icon)
          ? "single entry file exists, but the offsets file records no entry"
          : Cat("single entry file exists, but the offsets file ends before its record (it "
                "holds records for ",
                offsets_covered_, " icons)"));
  Report(info, state_.Picture());
}

}  // namespace zemlo::deep_verify_walker
