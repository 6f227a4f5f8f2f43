#include "library/run/create/creation_run.h"

#include <cstdint>
#include <memory>

#include "core/status.h"
#include "core/working_state.h"
#include "files/file_helpers.h"
#include "library/run/create/block_transaction.h"
#include "library/run/create/icon_storing.h"
#include "library/run/create/icon_supply.h"
#include "library/store/block_store.h"
#include "library/store/checksum_file.h"
#include "library/store/stamping.h"

namespace zemlo {
namespace {

// One icon: its source chosen, converted, kept or dropped, and stored; the block closed
// when the icon is its last. False when the store failed.
bool ProcessIcon(int icon, IconSupply& supply, StoreContext& store, BlockTransaction& block,
                 RunTally& tally) {
  ProjectSettings& settings = store.settings;
  WorkingState& state = store.state;
  state.crop_lines.store(false);
  state.picture_shown.store(false);

  const SelectedSource source = supply.Select(icon);
  bool stored = true;
  switch (source.outcome) {
    case SourceOutcome::kConverted: {
      const StoreResult result = supply.Convert(icon, source);
      stored = result.outcome != StoreOutcome::kStoreFailed;
      if (stored) {
        ++tally.converted;
        tally.stored_bytes += static_cast<std::int64_t>(result.bytes);
      }
      if (stored) {
        block.Converted(icon, source.name, source.source_size, result,
                        SingleFilesOn(settings) ? settings.FSEP.data() : "");
      }
      break;
    }
    case SourceOutcome::kSkipped:
      SetStatusTitle(state, source.name, kSkippedStatus, 0);
      if (StampIconNumber(icon, settings.FSEP)) {
        if (SingleFilesOn(settings)) {
          RemoveLeftoverTemporary(settings.FSEP.data());
        } else {
          RemoveEntryFile(store);
        }
      }
      stored = Told(KeepEntry(icon, store), store);
      if (stored) ++tally.skipped;
      break;
    case SourceOutcome::kNotFound:
      StampIconNumber(icon, settings.FPCX);
      SetStatusTitle(state, settings.FPCX.data(),
                     settings.FPNG[0] != '\0' ? kNotFoundWithPngStatus : kNotFoundStatus, 0);
      if (StampIconNumber(icon, settings.FSEP)) RemoveEntryFile(store);
      stored = Told(DropEntry(icon, store), store);
      block.Dropped(icon);
      if (stored) ++tally.not_found;
      break;
  }
  if (!stored) return false;
  const bool rebuilt = source.outcome == SourceOutcome::kConverted;
  block.Stored(icon, rebuilt);
  if (settings.DVIE >= 1 && rebuilt) state.port.Repaint(false);
  if (!Told(CheckBlockEnd(icon, store), store)) return false;
  block.CommitIfClosed(icon);
  return true;
}

}  // namespace

void CreationRun(StoreContext& store, RunTally* tally) {
  RunTally unread;
  RunTally& counted = tally != nullptr ? *tally : unread;
  ProjectSettings& settings = store.settings;
  WorkingState& state = store.state;
  StatusPort& port = state.port;
  store.rewrite = RewriteState{};

  if (TempBlockLeftOver()) {
    // BLTEMP may be the only copy of a block: nothing is touched until the user sorted it.
    TellStoreProblem(store, TempBlockLeftOverProblem());
    state.stop_request.store(false);
    port.RunEnded();
    return;
  }

  const int run_start = settings.DSTA;
  const int run_end = settings.DEND;
  BlockTransaction block(store);
  if (block.SumsUnreadable()) {
    const auto name = ChecksumFileName(settings);
    ShowWarning(port, Owner::kMain, kSumsUnreadableFormat, name ? name->data() : "");
    counted.store_failed = true;
    state.stop_request.store(false);
    port.RunEnded();
    return;
  }
  auto supply = MakeSupply(store, state.current_icon.load(), run_end);
  bool store_failed = false;
  int last_icon = state.current_icon.load();
  for (;;) {
    const int icon = state.current_icon.load();
    last_icon = icon;
    if (!block.Begin(icon) || !ProcessIcon(icon, *supply, store, block, counted)) {
      store_failed = true;
      counted.store_failed = true;
      break;
    }
    counted.last_icon = icon;
    port.SetProgress(run_end > run_start ? (icon - run_start) * 100 / (run_end - run_start) : 100);
    state.current_icon.store(icon + 1);
    if (icon >= run_end || state.stop_request.load()) break;
    supply->Finished(icon);
  }
  // Icons prepared beyond the last one stored are dropped.
  supply.reset();
  state.stop_request.store(false);
  block.Finish(last_icon, store_failed);
  port.RunEnded();
}

}  // namespace zemlo
