#include "app/repair.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/store_messages.h"
#include "core/content_hash.h"
#include "core/status.h"
#include "core/working_state.h"
#include "files/file_helpers.h"
#include "files/file_layer.h"
#include "library/codec/icon_encoder.h"
#include "library/run/create/creation_run.h"
#include "library/run/create/entry_restoring.h"
#include "library/store/block_store.h"
#include "library/store/checksum_file.h"
#include "library/store/stamping.h"
#include "library/store/tables.h"
#include "library/store/tables_io.h"

namespace zemlo {
namespace {

inline constexpr TextFormat kRepairTablesFormat =
    "The offsets or coordinates file of %s could not be read: a repair would lose the entries "
    "or crop boxes they describe. zgl create builds the library again.";

// The file a pattern names for `icon` (or its block), "" when it names none.
std::string IconFile(int icon, Name pattern) {
  return StampIconNumber(icon, pattern) ? std::string(pattern.data()) : std::string();
}

std::string BlockFile(int icon, const ProjectSettings& settings) {
  Name pattern = settings.FBLK;
  const int block = icon / std::max<std::int32_t>(settings.BLKB, 1);
  return StampBlockNumber(block, pattern) ? std::string(pattern.data()) : std::string();
}

// The source a creation run would convert the icon from (the same order as its choice of
// source), "" when there is none.
std::string SourceOf(int icon, const ProjectSettings& settings) {
  const auto existing = [icon](const Name& pattern) {
    const std::string name = IconFile(icon, pattern);
    return !name.empty() && files::Exists(name.c_str()) ? name : std::string();
  };
  if (IsSoundNumber(icon)) return existing(settings.FWAV);
  for (const Name* pattern : {&settings.FPCX, &settings.FLBM}) {
    if (auto name = existing(*pattern); !name.empty()) return name;
  }
  return settings.FPNG[0] != '\0' ? existing(settings.FPNG) : std::string();
}

// Bytes of a copy that match the icon's sum, or nothing.
using GoodCopy = std::optional<std::vector<std::uint8_t>>;

bool MatchesSum(std::span<const std::uint8_t> bytes, const IconSum& sum) {
  return bytes.size() == sum.length && HashBytes(bytes) == sum.hash;
}

GoodCopy GoodBlockCopy(int icon, const IconSum& sum, const ProjectSettings& settings,
                       WorkingState& state) {
  const OffsetsTable offsets(state.offsets.span());
  const std::string name = BlockFile(icon, settings);
  if (name.empty() || offsets.length(icon) <= 0 ||
      static_cast<std::uint32_t>(offsets.length(icon)) != sum.length) {
    return std::nullopt;
  }
  std::FILE* file = files::OpenFile(name.c_str(), "rb").value_or(nullptr);
  if (file == nullptr) return std::nullopt;
  std::vector<std::uint8_t> bytes(sum.length);
  const bool read = files::SeekTo(file, offsets.offset(icon)) &&
                    files::ReadBytes(file, bytes.data(), bytes.size()) == bytes.size();
  (void)files::CloseFile(file);  // only read
  if (!read || !MatchesSum(bytes, sum)) return std::nullopt;
  return bytes;
}

GoodCopy GoodSingleCopy(int icon, const IconSum& sum, const ProjectSettings& settings) {
  const std::string name = IconFile(icon, settings.FSEP);
  if (name.empty() || FileLength(name.c_str()) != std::int64_t{sum.length}) {
    return std::nullopt;
  }
  // One spare byte: the reader ends what it read with a zero.
  std::vector<std::uint8_t> bytes(std::size_t{sum.length} + 1);
  const auto read = ReadWholeFile(name.c_str(), bytes, sum.length);
  if (!read || *read != sum.length) return std::nullopt;
  bytes.resize(*read);
  if (!MatchesSum(bytes, sum)) return std::nullopt;
  return bytes;
}

// An icon's empty sum means "no entry" only where its block was hashed when the sum was
// made: a block that could not be read back leaves its icons' sums unknown.
bool BlockKnown(int icon, const ChecksumFile& sums, const ProjectSettings& settings) {
  if (!BlockFilesOn(settings)) return true;
  const auto block = static_cast<std::size_t>(icon / std::max<std::int32_t>(settings.BLKB, 1));
  return block < sums.blocks.size() && sums.blocks[block].generation != 0;
}

// What the repair does with the damaged icons.
struct RepairPlan {
  std::map<int, std::vector<std::uint8_t>> single_from_block;
  std::map<int, std::map<int, std::vector<std::uint8_t>>> block_from_single;  // by block
  std::map<int, std::string> convert;                                         // the source
};

// With both layouts and a sum that records both copies, exactly one copy matching it is
// the one the other is restored from. Anything else is converted again where it can be.
void PlanIcon(int icon, const std::optional<ChecksumFile>& sums, Session& session, RepairPlan& plan,
              std::vector<RepairStep>& steps) {
  const ProjectSettings& settings = session.settings();
  const IconSum* sum = sums && icon < static_cast<int>(sums->icons.size())
                           ? &sums->icons[static_cast<std::size_t>(icon)]
                           : nullptr;
  constexpr std::uint32_t kBoth = kSumInBlock | kSumInSingleFile;
  // A sum taken over as the entry was found, when the library gained its checksum file, may
  // be of a copy that was damaged then: it chooses no copy over the other.
  const bool both = BlockFilesOn(settings) && SingleFilesOn(settings) && sum != nullptr &&
                    sum->length > 0 && sum->length <= kFileBufferSize &&
                    (sum->flags & kBoth) == kBoth && (sum->flags & kSumAdopted) == 0;
  if (both) {
    GoodCopy block = GoodBlockCopy(icon, *sum, settings, session.state());
    GoodCopy single = GoodSingleCopy(icon, *sum, settings);
    const int per_block = std::max<std::int32_t>(settings.BLKB, 1);
    if (block && !single) {
      plan.single_from_block[icon] = std::move(*block);
      return;
    }
    if (single && !block) {
      plan.block_from_single[icon / per_block][icon] = std::move(*single);
      return;
    }
  }
  if (std::string source = SourceOf(icon, settings); !source.empty()) {
    plan.convert[icon] = std::move(source);
    return;
  }
  // The checksum file says the icon has no entry, and it has no source: what the library
  // holds for it (an edited record, a stray file) goes, as a run drops an icon without one.
  if (sum != nullptr && sum->length == 0 && BlockKnown(icon, *sums, settings)) {
    plan.convert[icon] = "";
    return;
  }
  steps.push_back({icon, "", kNoGoodCopyText, false});
}

void RestoreSingleFiles(const RepairPlan& plan, const ProjectSettings& settings,
                        RepairOutcome& outcome) {
  for (const auto& [icon, bytes] : plan.single_from_block) {
    const std::string single = IconFile(icon, settings.FSEP);
    const std::string block = BlockFile(icon, settings);
    if (ReplaceWholeFile(single.c_str(), bytes)) {
      outcome.steps.push_back({icon, single, "restored from " + block, true});
    } else {
      outcome.steps.push_back({icon, single, "could not be written: left as it is", false});
    }
  }
}

void RestoreBlocks(const RepairPlan& plan, Session& session, RepairOutcome& outcome) {
  const ProjectSettings& settings = session.settings();
  for (const auto& [block, entries] : plan.block_from_single) {
    const bool restored = !outcome.store_failed && RestoreBlockEntries(session.store(), entries);
    if (!restored) outcome.store_failed = true;
    for (const auto& [icon, bytes] : entries) {
      const std::string file = BlockFile(icon, settings);
      outcome.steps.push_back({icon, file,
                               restored ? "restored from " + IconFile(icon, settings.FSEP)
                                        : std::string("could not be rewritten: left as it is"),
                               restored});
    }
  }
}

// Consecutive icons of one block are converted by one run; a run over a wider range would
// also drop icons between them whose sources are gone.
std::vector<std::pair<int, int>> RunRanges(const std::map<int, std::string>& icons, int per_block) {
  std::vector<std::pair<int, int>> ranges;
  for (const auto& entry : icons) {
    const int icon = entry.first;
    if (!ranges.empty() && ranges.back().second + 1 == icon &&
        ranges.back().second / per_block == icon / per_block) {
      ranges.back().second = icon;
    } else {
      ranges.emplace_back(icon, icon);
    }
  }
  return ranges;
}

void ConvertAgain(const RepairPlan& plan, Session& session, RepairOutcome& outcome) {
  ProjectSettings& settings = session.settings();
  StoreContext& store = session.store();
  std::set<int> forced;
  for (const auto& entry : plan.convert) forced.insert(entry.first);
  store.force_icons = &forced;
  store.convert_all = false;
  // The icons are few; helpers preparing icons ahead would buy nothing.
  store.jobs = 1;
  std::set<int> converted;
  for (const auto& [first, last] : RunRanges(plan.convert, std::max(settings.BLKB, 1))) {
    if (outcome.store_failed || outcome.stopped) break;
    settings.DSTA = first;
    settings.DEND = last;
    session.state().current_icon.store(first);
    RunTally tally;
    CreationRun(store, &tally);
    if (tally.store_failed) outcome.store_failed = true;
    if (tally.last_icon != last) outcome.stopped = !tally.store_failed;
    for (int icon = first; icon <= tally.last_icon && !tally.store_failed; ++icon) {
      converted.insert(icon);
    }
  }
  store.force_icons = nullptr;
  for (const auto& [icon, source] : plan.convert) {
    const bool done = converted.contains(icon);
    outcome.steps.push_back(
        {icon, BlockFilesOn(settings) ? BlockFile(icon, settings) : IconFile(icon, settings.FSEP),
         !done            ? std::string("was not converted again: left as it is")
         : source.empty() ? std::string(kDroppedText)
                          : "converted again from " + source,
         done});
  }
}

// The library is locked and put right after an interrupted run; its tables must be readable,
// since every rewrite writes them whole.
bool HoldForRepair(Session& session, const char* chosen_path, const char* chosen_name) {
  if (session.WorkerRunning()) return false;
  if (!LoadProject(session, chosen_path, chosen_name, ProjectUse::kCreate)) return false;
  StatusPort& port = session.state().port;
  if (TempBlockLeftOver()) {
    ShowStoreProblem(port, TempBlockLeftOverProblem());
    ReleaseLibrary(session);
    return false;
  }
  if (!ReadOffsetsFile(session.settings(), session.state()) ||
      !ReadCoordinatesFile(session.settings(), session.state())) {
    ShowWarning(port, Owner::kMain, kRepairTablesFormat, chosen_name);
    ReleaseLibrary(session);
    return false;
  }
  return true;
}

// A table file of another length than NSIZ records is written again whole from what it
// holds: records it lacks are no records, and records beyond NSIZ none of this library's.
void RefitTables(Session& session, RepairOutcome& outcome) {
  const ProjectSettings& settings = session.settings();
  WorkingState& state = session.state();
  const auto refit = [&](const Name& name, std::size_t bytes, bool written) {
    outcome.tables.push_back(
        {-1, name.data(),
         written ? "written again with its " + std::to_string(bytes / 8) + " records"
                 : std::string("could not be written: left as it is"),
         written});
  };
  if (FileLength(settings.FOFS.data()) != static_cast<std::int64_t>(OffsetsFileBytes(settings))) {
    refit(settings.FOFS, OffsetsFileBytes(settings), WriteOffsetsFile(settings, state));
  }
  if (FileLength(settings.FCOO.data()) !=
      static_cast<std::int64_t>(CoordinatesFileBytes(settings))) {
    refit(settings.FCOO, CoordinatesFileBytes(settings), WriteCoordinatesFile(settings, state));
  }
}

// One pass over the icons `findings` name that no earlier pass dealt with.
bool Repair(Session& session, const VerifyOutcome& findings, RepairOutcome& outcome) {
  std::set<int> damaged;
  for (const VerifyFinding& finding : findings.findings) {
    const bool dealt_with =
        std::any_of(outcome.steps.begin(), outcome.steps.end(),
                    [&finding](const RepairStep& step) { return step.icon == finding.icon; });
    if (finding.icon >= 0 && !dealt_with) damaged.insert(finding.icon);
  }
  if (damaged.empty()) return false;
  auto read = ReadChecksumFile(session.settings());
  const std::optional<ChecksumFile> sums =
      read ? std::optional<ChecksumFile>(std::move(*read)) : std::nullopt;
  RepairPlan plan;
  for (const int icon : damaged) PlanIcon(icon, sums, session, plan, outcome.steps);
  RestoreSingleFiles(plan, session.settings(), outcome);
  RestoreBlocks(plan, session, outcome);
  ConvertAgain(plan, session, outcome);
  return true;
}

constexpr int kRepairPasses = 3;

// A source that could not be loaded leaves its icon as it was, and only the walk afterwards
// tells: what was meant to repair an icon that is still named did not.
void MarkStillDamaged(RepairOutcome& outcome) {
  for (RepairStep& step : outcome.steps) {
    const bool named =
        std::any_of(outcome.after.findings.begin(), outcome.after.findings.end(),
                    [&step](const VerifyFinding& finding) { return finding.icon == step.icon; });
    if (step.done && named) {
      step.done = false;
      step.what += ", but it is still damaged";
    }
  }
}

}  // namespace

std::string RepairStepLine(const RepairStep& step) {
  if (step.icon < 0) return step.file + ": " + step.what;  // a table file
  const std::string head = "icon " + std::to_string(step.icon) + ": ";
  return step.file.empty() ? head + step.what : head + step.file + ": " + step.what;
}

RepairOutcome RepairLibrary(Session& session, const char* chosen_path, const char* chosen_name) {
  RepairOutcome outcome;
  if (!HoldForRepair(session, chosen_path, chosen_name)) return outcome;
  WorkingState& state = session.state();
  outcome.verified = true;
  outcome.before = DeepVerify(session.settings(), state);
  outcome.after = outcome.before;
  if (outcome.before.stopped) {
    outcome.stopped = true;
  } else {
    RefitTables(session, outcome);
    const auto done = [](const RepairStep& step) { return step.done; };
    bool changed = std::any_of(outcome.tables.begin(), outcome.tables.end(), done);
    // An entry whose record was damaged hid the ones after it from the first walk: once it is
    // mended, the next walk names them, and a further pass mends them.
    for (int pass = 0; pass < kRepairPasses; ++pass) {
      const std::size_t steps = outcome.steps.size();
      Repair(session, outcome.after, outcome);
      changed = changed || std::any_of(outcome.steps.begin() + static_cast<std::ptrdiff_t>(steps),
                                       outcome.steps.end(), done);
      if (!changed && !outcome.store_failed) break;
      outcome.after = DeepVerify(session.settings(), state);
      changed = false;
      if (outcome.store_failed || outcome.stopped || outcome.after.stopped) break;
    }
    std::stable_sort(outcome.steps.begin(), outcome.steps.end(),
                     [](const RepairStep& a, const RepairStep& b) { return a.icon < b.icon; });
    MarkStillDamaged(outcome);
  }
  ReleaseLibrary(session);
  return outcome;
}

bool Repaired(const RepairOutcome& outcome) {
  return outcome.verified && !outcome.store_failed && !outcome.stopped &&
         outcome.after.findings.empty() &&
         std::all_of(outcome.steps.begin(), outcome.steps.end(),
                     [](const RepairStep& step) { return step.done; }) &&
         std::all_of(outcome.tables.begin(), outcome.tables.end(),
                     [](const RepairStep& step) { return step.done; });
}

}  // namespace zemlo
