// Tables shorter than NSIZ records. The records past a short file's end read as empty, so the
// icons they described would only show as bytes nobody records: they are named here, by the
// evidence that they had something (their crop box, their block's bytes, their single entry
// file, the rows of their entry).
#include <algorithm>
#include <cstdint>
#include <span>
#include <string>

#include "core/geometry.h"
#include "library/codec/entry_format.h"
#include "library/codec/icon_encoder.h"
#include "library/run/check/deep_verify_walker.h"

namespace zemlo::deep_verify_walker {

namespace {

std::string CoveredText(std::int32_t covered) {
  return covered == 0 ? std::string("it holds no whole record")
                      : Cat("it holds the records of icons 0 to ", covered - 1);
}

}  // namespace

// A picture past the end of a short coordinates file has no crop box to be held against; its
// entry is checked on its own, and CheckCovered names it when it holds rows.
void Verifier::CheckCoveredEntry(int icon, std::span<const std::uint8_t> stored,
                                 const std::string& file, const Workspace& work,
                                 VerifiedIcon& info) {
  const bool known = coordinates_known_;
  if (!info.sound && !CoordinatesCover(icon)) coordinates_known_ = false;
  CheckEntry(icon, stored, file, work, info);
  coordinates_known_ = known;
}

// Only an entry of the bare header (a picture without a non-black pixel) goes with an empty
// crop box record; any other lost its record with the end of the file.
void Verifier::CheckCovered(VerifiedIcon& info) {
  if (!coordinates_known_ || info.sound || CoordinatesCover(info.icon)) return;
  if (info.entry_length <= kEntryHeaderSize) return;
  Add(info.icon, NameOf(settings_.FCOO),
      Cat("ends before this icon's crop box record (", CoveredText(coordinates_covered_),
          "), but its entry holds ", info.entry_length - kEntryHeaderSize, " bytes of rows"));
}

// Bytes after the entries a short offsets file still records belong to the icons past its end.
bool Verifier::NameUncoveredInBlock(BlockWalk& walk) {
  if (walk.last < offsets_covered_) return false;
  NameUncoveredIcons(std::max(walk.first, offsets_covered_), walk.last, walk.name,
                     walk.length - walk.expected());
  return true;
}

// Icons `first` to `last` lie past the offsets file's end, and their block holds `extra` bytes
// no record covers. Pictures whose crop box says they have pixels are named one by one; when
// none does (sounds, black pictures) the range is.
void Verifier::NameUncoveredIcons(int first, int last, const std::string& block_name,
                                  std::int64_t extra) {
  const std::string offsets_name = NameOf(settings_.FOFS);
  const std::string why =
      Cat("ends before this icon's record (", CoveredText(offsets_covered_), "), and ", block_name,
          " holds ", extra, " bytes after the entries it records");
  bool named = false;
  for (int icon = first; icon <= last && coordinates_known_; ++icon) {
    if (IsSoundNumber(icon) || coordinates_.Get(icon) == CoordinatesRecord{}) continue;
    Add(icon, offsets_name, why + "; the crop box record says this picture has an entry");
    named = true;
  }
  if (named) return;
  Add(-1, offsets_name,
      Cat("icons ", first, " to ", last, ": their records lie past the file's end (",
          CoveredText(offsets_covered_), "), but ", block_name, " holds ", extra,
          " bytes after the entries it records; their entries are among those bytes"));
}

}  // namespace zemlo::deep_verify_walker
