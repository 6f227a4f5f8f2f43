// The checksum file: every copy of an entry is hashed as the walk reads it and compared with
// what the run stored, each copy on its own, so that a changed pixel, two swapped entries of
// one length or an old block file are named even where every entry still decodes and fits.
// The crop boxes and the block files as a whole are compared too. Without the file the walk
// is what it was, with a note that pixel changes escape it.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "core/content_hash.h"
#include "core/working_state.h"
#include "files/file_helpers.h"
#include "files/file_layer.h"
#include "library/run/check/deep_verify_walker.h"
#include "library/run/entry_loading.h"
#include "library/store/checksum_file.h"
#include "library/store/stamping.h"

namespace zemlo::deep_verify_walker {

namespace {

// Which run the icon's hash came from, for the findings that compare with it.
std::string SumRunText(const IconSum& sum) {
  if ((sum.flags & kSumAdopted) != 0) {
    return Cat("as run ", sum.generation, " found it when the library gained its checksum file");
  }
  return Cat("stored by run ", sum.generation);
}

bool HasCopy(const IconSum& sum, SumCopy copy) {
  return (sum.flags & static_cast<std::uint32_t>(copy)) != 0;
}

}  // namespace

void Verifier::ReadSums() {
  const auto name = ChecksumFileName(settings_);
  sums_name_ = name ? NameOf(*name) : NameOf(settings_.FOFS) + kSumSuffix;
  auto read = ReadChecksumFile(settings_);
  if (!read) {
    // An offsets file whose name leaves no room for ".sum" cannot have one either.
    if (read.error() == kSumMissing || read.error() == kSumNoName) {
      outcome_.sums_note = kNoSumsNote;
    } else {
      Add(-1, sums_name_,
          Cat(read.error().text, "; the library is verified without its checksums"));
    }
    return;
  }
  sums_ = std::move(*read);
  // The reader takes no more icons than a library can hold.
  const int covered = static_cast<int>(sums_->icons.size());
  if (covered != records_) {
    Add(-1, sums_name_,
        Cat("holds checksums of ", covered, " icons, but NSIZ is ", settings_.NSIZ,
            "; only the first ", std::min(covered, records_), " icons are compared with it"));
  }
  sum_icons_ = std::min(covered, records_);
  icon_visited_.assign(static_cast<std::size_t>(std::max(sum_icons_, 0)), false);
  const int per_block = std::max<std::int32_t>(settings_.BLKB, 1);
  const int blocks = (records_ + per_block - 1) / per_block;
  block_entry_differs_.assign(static_cast<std::size_t>(blocks), false);
  if (sums_->icons_per_block != static_cast<std::uint32_t>(settings_.BLKB)) {
    Add(-1, sums_name_,
        Cat("was written for ", sums_->icons_per_block, " icons a block, but BLKB is ",
            settings_.BLKB, "; the block files are not compared with it"));
    return;
  }
  sum_blocks_ = static_cast<int>(std::min<std::size_t>(sums_->blocks.size(), blocks));
}

const IconSum* Verifier::SumOf(int icon) const {
  if (!sums_ || icon < 0 || icon >= sum_icons_) return nullptr;
  return &sums_->icons[static_cast<std::size_t>(icon)];
}

std::string Verifier::SumsRun() const {
  return Cat("its checksums are from run ", sums_ ? sums_->generation : 0);
}

// One copy as the walk read it. A copy the flags do not record is left to CheckCopiesPresent.
void Verifier::CheckAgainstSum(int icon, const std::string& file,
                               std::span<const std::uint8_t> stored, SumCopy copy) {
  const IconSum* sum = SumOf(icon);
  if (sum == nullptr) return;
  copies_hashed_ |= static_cast<std::uint32_t>(copy);
  if (!HasCopy(*sum, copy)) return;
  bool differs = true;
  if (stored.size() != sum->length) {
    Add(icon, file,
        Cat("entry is ", stored.size(), " bytes; the checksum file recorded ", sum->length, " (",
            SumRunText(*sum), ")"));
  } else if (HashBytes(stored) != sum->hash) {
    Add(icon, file, Cat("entry differs from its checksum (", SumRunText(*sum), ")"));
  } else {
    differs = false;
  }
  const auto block = static_cast<std::size_t>(icon / std::max<std::int32_t>(settings_.BLKB, 1));
  if (differs && copy == SumCopy::kBlock && block < block_entry_differs_.size()) {
    block_entry_differs_[block] = true;
  }
}

// Both copies were judged on their own: whichever differs from its checksum has been named.
bool Verifier::SumsJudgedBothCopies(int icon) const {
  const IconSum* sum = SumOf(icon);
  constexpr std::uint32_t kBoth = kSumInBlock | kSumInSingleFile;
  return sum != nullptr && (sum->flags & kBoth) == kBoth && (copies_hashed_ & kBoth) == kBoth;
}

// Before an icon is reported: its source for the report, its copies and its crop box.
void Verifier::CheckIconSums(VerifiedIcon& info) {
  const IconSum* sum = SumOf(info.icon);
  if (sum == nullptr) return;
  icon_visited_[static_cast<std::size_t>(info.icon)] = true;
  info.source = sum->source;
  info.source_size = sum->source_size;
  HashLoneSingleCopy(info.icon, *sum);
  CheckCopiesPresent(info.icon, *sum);
  if (!info.sound && coordinates_known_ && sum->length != 0 && !(info.box == sum->box)) {
    Add(info.icon, NameOf(settings_.FCOO),
        Cat("crop box ", CropBoxText(info.box), " differs from the checksum file's ",
            CropBoxText(sum->box), " (", SumRunText(*sum), ")"));
  }
}

// A single entry file without a block record is only noticed by the walk, not read: read it
// here, so that a copy the checksum file records is compared all the same.
void Verifier::HashLoneSingleCopy(int icon, const IconSum& sum) {
  if (!BlockFilesOn(settings_) || !SingleFilesOn(settings_) || !HasCopy(sum, SumCopy::kSingle) ||
      (copies_hashed_ & kSumInSingleFile) != 0) {
    return;
  }
  Name name = settings_.FSEP;
  if (!StampIconNumber(icon, name) || !files::Exists(name.data())) return;
  if (copy_.empty()) copy_.resize(kFileBufferSize + kReadSpare);
  const auto read = ReadWholeFile(name.data(), copy_, kSingleEntryReadLimit);
  if (!read || static_cast<std::int64_t>(*read) != FileLength(name.data())) {
    Add(icon, NameOf(name), "single entry file could not be read to compare with its checksum");
    return;
  }
  CheckAgainstSum(icon, NameOf(name), std::span(copy_).first(*read), SumCopy::kSingle);
}

// Copies where the checksum file records none, and copies it records that are not there.
// Where the walk has said so already (DBLK 3's missing or lone single file), nothing is added.
void Verifier::CheckCopiesPresent(int icon, const IconSum& sum) {
  const bool blocks = BlockFilesOn(settings_);
  const bool in_block = offsets_.offset(icon) != 0 || offsets_.length(icon) != 0;
  if (blocks && offsets_known_ && in_block != HasCopy(sum, SumCopy::kBlock)) {
    Name stamped = settings_.FBLK;
    const int block = icon / std::max<std::int32_t>(settings_.BLKB, 1);
    const std::string block_name =
        NameOf(StampBlockNumber(block, stamped) ? stamped : settings_.FBLK);
    if (in_block) {
      Add(icon, block_name,
          Cat("holds an entry of the icon, but the checksum file records none in the block files (",
              SumsRun(), ")"));
    } else {
      Add(icon, block_name,
          Cat("the offsets file records no entry, but the checksum file recorded one of ",
              sum.length, " bytes (", SumRunText(sum), ")"));
    }
  }
  Name name = settings_.FSEP;
  if (!SingleFilesOn(settings_) || !StampIconNumber(icon, name)) return;
  const bool present = files::Exists(name.data());
  if (present == HasCopy(sum, SumCopy::kSingle)) return;
  // With both layouts the walk names a single copy missing beside a block record and a
  // single copy present without one.
  if (blocks && offsets_known_ && in_block != present) return;
  if (present) {
    Add(icon, NameOf(name),
        Cat("single entry file exists, but the checksum file records none for the icon (",
            SumsRun(), ")"));
  } else {
    Add(icon, NameOf(name),
        Cat("single entry file is missing, but the checksum file recorded one of ", sum.length,
            " bytes (", SumRunText(sum), ")"));
  }
}

// Icons the walk found no copy of at all: the checksum file may still record an entry.
void Verifier::CheckUnvisitedIcons() {
  for (int icon = 0; icon < sum_icons_; ++icon) {
    const IconSum& sum = sums_->icons[static_cast<std::size_t>(icon)];
    if (icon_visited_[static_cast<std::size_t>(icon)] || sum.length == 0) continue;
    icon_findings_ = 0;
    CheckCopiesPresent(icon, sum);
  }
}

void Verifier::CheckBlockSums() {
  if (!sums_ || !BlockFilesOn(settings_)) return;
  for (int block = 0; block < sum_blocks_ && !Stopped(); ++block) {
    CheckBlockSum(block, sums_->blocks[static_cast<std::size_t>(block)]);
  }
}

// The block file whole, read once more in pieces through the file buffer: its bytes outside
// the entries, and which copy of the block it is, show only here.
void Verifier::CheckBlockSum(int block, const BlockSum& sum) {
  Name name = settings_.FBLK;
  if (!StampBlockNumber(block, name)) return;  // the walk says so
  const std::string shown = NameOf(name);
  const bool exists = files::Exists(name.data());
  if (sum.length == 0) {
    const std::int64_t length = exists ? FileLength(name.data()) : 0;
    if (length > 0) {
      Add(-1, shown,
          Cat("holds ", length, " bytes, but the checksum file records no block file here (",
              SumsRun(), ")"));
    }
    return;
  }
  if (!exists) {
    Add(-1, shown,
        Cat("is missing; its checksum from run ", sum.generation, " recorded ", sum.length,
            " bytes"));
    return;
  }
  std::FILE* file = files::OpenFile(name.data(), "rb").value_or(nullptr);
  if (file == nullptr) {
    Add(-1, shown, "could not be opened to compare with its checksum");
    return;
  }
  ContentHasher hasher;
  std::uint64_t length = 0;
  const std::span<std::uint8_t> buffer = state_.file.span();
  for (std::size_t got; (got = files::ReadBytes(file, buffer.data(), buffer.size())) > 0;) {
    hasher.Add(buffer.first(got));
    length += got;
  }
  (void)files::CloseFile(file);  // only read: nothing to lose
  const bool entries_differ = block_entry_differs_[static_cast<std::size_t>(block)];
  const std::string entries =
      entries_differ ? "" : "; no entry read from it differs from its own checksum";
  if (length != sum.length) {
    Add(-1, shown,
        Cat("is ", length, " bytes; its checksum from run ", sum.generation, " recorded ",
            sum.length, ": an older or newer copy of the block, or bytes added or cut", entries));
  } else if (hasher.Value() != sum.hash) {
    Add(-1, shown,
        Cat("does not match its checksum from run ", sum.generation,
            ": an older or newer copy of the block, or bytes changed", entries));
  }
}

}  // namespace zemlo::deep_verify_walker
