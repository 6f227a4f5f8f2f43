// Whose bytes are gone. The walk keeps to the lengths so far, so a lost record or bytes cut
// out of a block would make every later entry look misplaced or damaged. Two things tell the
// icon whose bytes it was: the records' offsets, which still say where each entry started,
// and the entries themselves, which check clean only where their own bytes are.
//
// - A lost record leaves a gap before the next entry, whose record the entry after it (or the
//   block's end) confirms. The gap is the entry of an icon between them whose record is
//   empty: the one its bytes check clean as, or the only one there is.
// - A cut leaves the block shorter than its records account for. The entries before the cut
//   check clean where their records put them, the ones after it check clean that many bytes
//   earlier: counted from the block's end. The entry in between holds the cut and is named
//   as such; the later ones are whole but not where their records say, which is where the
//   game reads them, so each is named as lying past the cut and checked where it now lies.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "core/geometry.h"
#include "core/working_state.h"
#include "files/file_layer.h"
#include "library/codec/icon_encoder.h"
#include "library/run/check/deep_verify_walker.h"

namespace zemlo::deep_verify_walker {

namespace {

std::string Between(int before, int after) {
  if (after < 0) return Cat(" (after the entry of icon ", before, ")");
  if (before < 0) return Cat(" (before the entry of icon ", after, ")");
  return Cat(" (between the entries of icons ", before, " and ", after, ")");
}

}  // namespace

std::optional<std::span<const std::uint8_t>> Verifier::ReadAt(BlockWalk& walk, std::int64_t offset,
                                                              std::int64_t length) {
  if (walk.file == nullptr || offset < 0 || length <= 0 || offset + length > walk.length ||
      length > static_cast<std::int64_t>(kFileBufferSize)) {
    return std::nullopt;
  }
  const std::size_t size = static_cast<std::size_t>(length);
  if (!files::SeekTo(walk.file, offset) ||
      files::ReadBytes(walk.file, state_.file.data(), size) != size) {
    return std::nullopt;
  }
  return std::span<const std::uint8_t>(state_.file.span().first(size));
}

// Whether `stored` passes every check as `icon`'s entry; what the checks find is not kept.
bool Verifier::ChecksClean(int icon, std::span<const std::uint8_t> stored, const Workspace& work) {
  const std::size_t kept = outcome_.findings.size();
  const int icon_findings = icon_findings_;
  VerifiedIcon scratch = StartCopy(icon, "");
  CheckCoveredEntry(icon, stored, "", work, scratch);
  const bool clean = outcome_.findings.size() == kept;
  outcome_.findings.resize(kept);
  icon_findings_ = icon_findings;
  return clean;
}

// Whether `icon`'s entry, as long as its record says, checks clean at `offset`.
bool Verifier::FitsAt(int icon, BlockWalk& walk, std::int64_t offset) {
  const auto bytes = ReadAt(walk, offset, offsets_.length(icon));
  return bytes && ChecksClean(icon, *bytes, {state_.unpack.span(), state_.Picture()});
}

// Whether `icon`'s record leaves room for what follows: the next recorded entry of the block,
// or the block's end, lies at or after where the record says the entry ends. (Another lost
// record can leave a gap there too; a wrong offset makes the entry overlap what follows.)
bool Verifier::RecordConfirmed(int icon, const BlockWalk& walk) {
  const std::int64_t end = std::int64_t{offsets_.offset(icon)} + offsets_.length(icon);
  for (int n = icon + 1; n <= walk.last; ++n) {
    const EntryRecord next = offsets_.record(n);
    if (!next.none()) return next.offset >= end;
  }
  return walk.file != nullptr && walk.length >= end;
}

// Bytes `start` to `end` - 1 of the block are an entry no record describes: names the icon
// between the last placed entry and `after` (-1: the block's end) whose record was lost.
// False when no such icon is found (with `must_fit`, when the bytes fit none alone).
bool Verifier::NameLostEntry(std::int64_t start, std::int64_t end, int after, BlockWalk& walk,
                             bool must_fit) {
  const int from = walk.last_placed >= 0 ? walk.last_placed + 1 : walk.first;
  const int to = after >= 0 ? after - 1 : walk.last;
  std::vector<int> candidates, fitting;
  for (int n = from; n <= to; ++n) {
    if (offsets_.record(n).none()) candidates.push_back(n);
  }
  if (candidates.empty()) return false;
  if (const auto bytes = ReadAt(walk, start, end - start)) {
    const Workspace work{state_.unpack.span(), state_.Picture()};
    for (const int n : candidates) {
      if (ChecksClean(n, *bytes, work)) fitting.push_back(n);
    }
  }
  const std::string offsets_name = NameOf(settings_.FOFS);
  const std::string where =
      Cat("bytes ", start, " to ", end - 1, " of ", walk.name, Between(walk.last_placed, after));
  if (fitting.size() == 1) {
    const std::string record = OffsetsCover(fitting[0])
                                   ? "offsets record is empty"
                                   : "the offsets file ends before this icon's record";
    Add(fitting[0], offsets_name,
        Cat(record, ", but ", where, " check clean as its entry: its record was lost"));
    return true;
  }
  if (must_fit) return false;
  if (candidates.size() == 1) {
    Add(candidates[0], offsets_name,
        Cat("offsets record is empty, but ", where,
            " lie where its entry belongs (they do not check clean as it): its record was lost"));
    return true;
  }
  Add(-1, offsets_name,
      Cat("records of icons ", candidates.front(), " to ", candidates.back(), " are empty, but ",
          where, " are an entry whose record was lost; they check clean as ", fitting.size(),
          " of those icons, so which one cannot be told"));
  return true;
}

bool Verifier::AttributeGap(int after, std::int64_t start, BlockWalk& walk) {
  return NameLostEntry(start, offsets_.offset(after), after, walk, false);
}

// Bytes after the last entry are only taken for a lost entry when they fit exactly one icon:
// anything else may be bytes appended to the block.
bool Verifier::AttributeTrailingBytes(BlockWalk& walk) {
  if (walk.last_placed < 0) return false;
  return NameLostEntry(walk.expected(), walk.length, -1, walk, true);
}

// Which of `icons` (a block's entries) hold the cut, given that the first `leading` fit
// their records and those from `trailing_from` on fit `shift` bytes earlier. An intact entry
// fits at one of the two places, the cut one at most where its record puts it (its own rows
// may pass however their pixels shifted), so the cut lies in entries trailing_from - 1 to
// leading. A picture's header only fits where it was written: one that fits its record has
// no cut before it, one that fits earlier has the cut before it. Sounds pass anywhere.
std::pair<std::size_t, std::size_t> Verifier::CutRange(const std::vector<int>& icons,
                                                       std::size_t leading,
                                                       std::size_t trailing_from) {
  // The first entry cannot fit before the block's start, so trailing_from >= 1.
  if (leading + 1 < trailing_from) return {leading, trailing_from - 1};  // several entries cut
  const std::size_t first = trailing_from - 1, last = std::min(leading, icons.size() - 1);
  std::size_t lo = first, hi = last;
  for (std::size_t k = first; k < leading && k <= last; ++k) {
    if (!IsSoundNumber(icons[k])) lo = k;
  }
  for (std::size_t k = trailing_from; k < icons.size(); ++k) {
    if (IsSoundNumber(icons[k])) continue;
    if (k >= 1) hi = std::min(hi, k - 1);
    break;
  }
  if (lo > hi) return {first, last};
  return {lo, hi};
}

// Finds where bytes were cut when the block is shorter than its records, which otherwise
// agree, account for; entries after the cut are then read that many bytes earlier.
void Verifier::PlanCut(BlockWalk& walk) {
  if (walk.file == nullptr) return;
  std::vector<int> icons;
  std::int64_t position = 0;
  for (int n = walk.first; n <= walk.last; ++n) {
    const EntryRecord r = offsets_.record(n);
    if (r.none()) continue;
    if (r.length <= 0 || r.offset != position) return;  // such records are named on their own
    icons.push_back(n);
    position += r.length;
  }
  const std::int64_t shift = position - walk.length;
  if (icons.empty() || shift <= 0) return;
  // Leading entries that fit their records, trailing ones that fit `shift` bytes earlier.
  std::size_t leading = 0;
  while (leading < icons.size() && FitsAt(icons[leading], walk, offsets_.offset(icons[leading]))) {
    ++leading;
  }
  std::size_t trailing_from = icons.size();
  while (trailing_from > 0 && FitsAt(icons[trailing_from - 1], walk,
                                     offsets_.offset(icons[trailing_from - 1]) - shift)) {
    --trailing_from;
  }
  const auto [lo, hi] = CutRange(icons, leading, trailing_from);
  walk.shift = shift;
  if (hi + 1 < icons.size()) walk.shifted_from = icons[hi + 1];
  ReportCut(icons, lo, hi, lo < hi && leading + 1 >= trailing_from, walk);
}

void Verifier::ReportCut(const std::vector<int>& icons, std::size_t lo, std::size_t hi,
                         bool ambiguous, const BlockWalk& walk) {
  const std::string after =
      hi + 1 < icons.size()
          ? Cat("; the entries after the cut, of icons ", icons[hi + 1], " to ", icons.back(),
                ", lie ", walk.shift, " bytes before their records' offsets and are checked there")
          : std::string("; no entry follows the cut");
  if (ambiguous) {
    Add(-1, walk.name,
        Cat("is ", walk.shift, " bytes shorter than its records account for; the bytes were cut ",
            "from the entry of one of icons ", icons[lo], " to ", icons[hi],
            ", whose checks pass either way, so which one cannot be told", after));
    return;
  }
  for (std::size_t i = lo; i <= hi; ++i) {
    const std::int64_t offset = offsets_.offset(icons[i]);
    Add(icons[i], walk.name,
        Cat("the block file is ", walk.shift, " bytes shorter than its records account for, ",
            "and this entry (bytes ", offset, " to ", offset + offsets_.length(icons[i]) - 1,
            ") is where they were cut", after));
  }
}

}  // namespace zemlo::deep_verify_walker
