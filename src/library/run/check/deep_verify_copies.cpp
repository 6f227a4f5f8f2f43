// DBLK 3 keeps every entry twice, in its block and in its own file: the two must agree.
#include <algorithm>
#include <optional>
#include <span>
#include <string>

#include "core/geometry.h"
#include "files/file_layer.h"
#include "library/codec/icon_encoder.h"
#include "library/run/check/deep_verify_walker.h"

namespace zemlo::deep_verify_walker {

void Verifier::AllocateCopyBuffers() {
  copy_.resize(kFileBufferSize + kReadSpare);
  copy_unpack_.resize(kUnpackBufferSize);
  copy_picture_.resize(kPictureBytes);
}

// Both layouts are written: the single entry file must be the block copy byte for byte.
// Nothing records a checksum of either copy, so each is judged on its own by the entry
// checks (packed stream, header, rows against the crop box, the encoder's bytes): copies
// that differ are blamed on the one that fails them while the other passes (`block_clean`:
// the block copy did). Where both pass or both fail, the finding names both files and blames
// neither.
void Verifier::CompareSingleCopy(int icon, std::optional<std::span<const std::uint8_t>> block_copy,
                                 const std::string& block_name, bool block_clean) {
  const auto name = SingleName(icon);
  if (!name) return;
  if (!files::Exists(name->c_str())) {
    Add(icon, *name, "single entry file is missing; DBLK 3 keeps every entry in both layouts");
    return;
  }
  const auto copy = ReadSingleFile(icon, *name, copy_);
  if (!copy) return;
  CheckAgainstSum(icon, *name, *copy, SumCopy::kSingle);
  const Workspace spare{copy_unpack_, copy_picture_};
  VerifiedIcon scratch = StartCopy(icon, *name);
  if (!block_copy) {
    // The block copy could not be read; the single copy is judged on its own.
    CheckCoveredEntry(icon, *copy, *name, spare, scratch);
    return;
  }
  if (std::equal(copy->begin(), copy->end(), block_copy->begin(), block_copy->end())) return;
  const auto mismatch =
      std::mismatch(copy->begin(), copy->end(), block_copy->begin(), block_copy->end());
  const std::string where =
      Cat(" bytes, first difference at byte ", mismatch.first - copy->begin(), ")");
  // The single copy's own findings come under its name, then which copy is blamed.
  const int before = icon_findings_;
  CheckCoveredEntry(icon, *copy, *name, spare, scratch);
  const bool single_clean = icon_findings_ == before;
  if (block_clean && !single_clean) {
    Add(icon, *name,
        Cat("differs from the block copy in ", block_name, " (", copy->size(), " and ",
            block_copy->size(), where, "; the block copy checks clean, this copy is damaged"));
  } else if (single_clean && !block_clean) {
    Add(icon, block_name,
        Cat("differs from the single entry file ", *name, " (", block_copy->size(), " and ",
            copy->size(), where, "; that copy checks clean, the block copy is damaged"));
  } else if (!SumsJudgedBothCopies(icon)) {  // else the checksums have named the changed copy
    Add(icon, Cat(block_name, " and ", *name),
        Cat("the two copies differ (", block_copy->size(), " and ", copy->size(), where, "; ",
            single_clean ? "both check clean on their own" : "neither checks clean",
            ", and without a checksum verify cannot tell which was damaged"));
  }
}

VerifiedIcon Verifier::StartCopy(int icon, const std::string& name) {
  VerifiedIcon info;
  info.icon = icon;
  info.sound = IsSoundNumber(icon);
  info.file = name;
  if (!info.sound) info.box = coordinates_.Get(icon);
  return info;
}

}  // namespace zemlo::deep_verify_walker
