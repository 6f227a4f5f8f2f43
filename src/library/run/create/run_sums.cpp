#include "library/run/create/run_sums.h"

#include <algorithm>
#include <cstdint>

#include "core/geometry.h"
#include "core/status.h"
#include "core/working_state.h"
#include "files/file_helpers.h"
#include "files/file_layer.h"
#include "library/run/create/creation_run.h"
#include "library/store/block_read_back.h"
#include "library/store/entry_sums.h"
#include "library/store/stamping.h"
#include "library/store/tables.h"

namespace zemlo {

RunSums::RunSums(StoreContext& store) : store_(store) {
  auto found = ReadChecksumFile(store.settings);
  if (found) {
    sums_ = std::move(*found);
  } else if (found.error() == kSumUnreadable) {
    unreadable_ = true;
  } else if (found.error() == kSumNoName) {
    // An offsets file whose name leaves no room for ".sum": such a library has no checksum
    // file, as verify says, and the run writes none.
    nameless_ = true;
  } else if (found.error() != kSumMissing) {
    refused_ = found.error();
  }
  // Each run is a generation of its own, so a block or an entry tells which run wrote it.
  ++sums_.generation;
  FitSums(sums_, store.settings);
}

void RunSums::Converted(int icon, const std::string& source,
                        std::optional<std::uint64_t> source_size, std::uint32_t length,
                        ContentHash hash, bool in_single_file) {
  converted_[icon] = {source, source_size, length, hash, in_single_file};
  dropped_.erase(icon);
}

void RunSums::Dropped(int icon) {
  dropped_.insert(icon);
  converted_.erase(icon);
}

IconSum RunSums::Fresh(int icon, const Conversion& conversion, ContentHash hash) {
  const ProjectSettings& settings = store_.settings;
  IconSum sum;
  sum.length = conversion.length;
  sum.flags = (BlockFilesOn(settings) ? kSumInBlock : 0) |
              (conversion.in_single_file ? kSumInSingleFile : 0);
  sum.hash = hash;
  sum.box = CoordinatesTable(store_.state.coordinates.span()).Get(icon);
  sum.source = conversion.source;
  // A source it was converted from has bytes: a size of 0 is one that could not be read, and
  // the sum is then not whole. The length the load found is the one of the bytes converted
  // (and asking again opened every source a second time).
  const std::int64_t size =
      conversion.source_size
          ? static_cast<std::int64_t>(std::min<std::uint64_t>(*conversion.source_size, INT64_MAX))
          : FileLength(conversion.source.c_str());
  if (size <= 0) {
    incomplete_ = true;
    ShowWarning(store_.state.port, Owner::kMain, kSourceSizeUnknownFormat, conversion.source);
  }
  sum.source_size = static_cast<std::uint64_t>(std::max<std::int64_t>(size, 0));
  sum.generation = sums_.generation;
  return sum;
}

// An entry the run did not convert. Its sum stays while its length does: whether its bytes
// still match is verify's to say, and a damaged entry must not be blessed by being carried.
// `sums_` holds what the library's file held until the run updates the icon.
IconSum RunSums::Carried(int icon, std::uint32_t length_now, std::optional<ContentHash> found) {
  if (length_now == 0) return {};
  const IconSum& known = sums_.icons[static_cast<std::size_t>(icon)];
  if (known.generation != 0 && known.length == length_now) return known;
  IconSum sum;
  if (!found) return sum;  // generation 0: nothing known of it
  const ProjectSettings& settings = store_.settings;
  sum.length = length_now;
  sum.hash = *found;
  sum.flags = kSumAdopted | (BlockFilesOn(settings) ? kSumInBlock : 0);
  Name single = settings.FSEP;
  if (SingleFilesOn(settings) && StampIconNumber(icon, single) && files::Exists(single.data())) {
    sum.flags |= kSumInSingleFile;
  }
  sum.box = CoordinatesTable(store_.state.coordinates.span()).Get(icon);
  sum.generation = sums_.generation;
  ++adopted_;
  return sum;
}

bool RunSums::UpdateBlockLayout(int first, int last) {
  const ProjectSettings& settings = store_.settings;
  const int per_block = std::max(settings.BLKB, 1);
  const int block = first / per_block;
  Name name = settings.FBLK;
  const OffsetsTable offsets(store_.state.offsets.span());
  const auto records =
      offsets.bytes().subspan(static_cast<std::size_t>(first) * kRecordSize,
                              static_cast<std::size_t>(last - first + 1) * kRecordSize);
  BlockReadBack* const read_back = store_.read_back;
  const auto hashed = !StampBlockNumber(block, name) ? std::nullopt
                      : read_back != nullptr         ? read_back->Finish(name.data(), records)
                                                     : HashBlockFile(name.data(), records);
  if (!hashed) ShowWarning(store_.state.port, Owner::kMain, kBlockNotReadBackFormat, name.data());
  if (static_cast<std::size_t>(block) < sums_.blocks.size()) {
    sums_.blocks[static_cast<std::size_t>(block)] =
        !hashed ? BlockSum{}  // could not be read back: nothing known (generation 0)
        : hashed->block.length > 0
            ? BlockSum{hashed->block.length, hashed->block.hash, sums_.generation}
            : BlockSum{0, 0, sums_.generation};  // no block file: nothing to hash
  }
  bool agrees = hashed.has_value();
  bool as_stored = true;
  for (int n = first; n <= last; ++n) {
    const auto i = static_cast<std::size_t>(n - first);
    const std::uint32_t length = hashed ? hashed->entries[i].length : 0;
    const std::optional<ContentHash> found =
        hashed ? std::optional(hashed->entries[i].hash) : std::nullopt;
    IconSum& sum = sums_.icons[static_cast<std::size_t>(n)];
    if (const auto c = converted_.find(n); c != converted_.end()) {
      // What the run stored; the block file must hold exactly that.
      sum = Fresh(n, c->second, c->second.hash);
      as_stored = as_stored && (!found || (*found == c->second.hash && length == c->second.length));
    } else {
      sum = Carried(n, static_cast<std::uint32_t>(std::max(offsets.length(n), 0)), found);
    }
  }
  if (!as_stored)
    ShowWarning(store_.state.port, Owner::kMain, kBlockNotAsStoredFormat, name.data());
  return agrees && as_stored;
}

void RunSums::UpdateSingleLayout(int first, int last) {
  Name name = store_.settings.FSEP;
  for (int n = first; n <= last; ++n) {
    IconSum& sum = sums_.icons[static_cast<std::size_t>(n)];
    if (const auto c = converted_.find(n); c != converted_.end()) {
      sum = c->second.in_single_file ? Fresh(n, c->second, c->second.hash) : IconSum{};
      continue;
    }
    if (dropped_.count(n) != 0) {
      sum = {};
      continue;
    }
    if (sum.generation != 0) continue;  // as the file had it
    // No sum yet: its file, if it has one, is hashed as it is.
    const auto found = StampIconNumber(n, name) && files::Exists(name.data())
                           ? HashSingleFile(name.data())
                           : std::nullopt;
    sum = Carried(n, found ? found->length : 0, found ? std::optional(found->hash) : std::nullopt);
  }
}

bool RunSums::Update(int first, int last) {
  last = std::min<int>(last, static_cast<int>(sums_.icons.size()) - 1);
  if (first < 0 || first > last) return true;
  incomplete_ = false;
  bool agrees = true;
  if (BlockFilesOn(store_.settings)) {
    agrees = UpdateBlockLayout(first, last);
  } else {
    UpdateSingleLayout(first, last);
  }
  for (int n = first; n <= last; ++n) {
    converted_.erase(n);
    dropped_.erase(n);
  }
  return agrees && !incomplete_;
}

Status RunSums::Write() {
  if (nameless_) return {};
  return WriteChecksumFile(store_.settings, sums_);
}

}  // namespace zemlo
