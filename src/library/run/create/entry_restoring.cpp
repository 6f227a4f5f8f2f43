#include "library/run/create/entry_restoring.h"

#include "library/run/create/block_transaction.h"

namespace zemlo {

bool RestoreBlockEntries(StoreContext& store,
                         const std::map<int, std::vector<std::uint8_t>>& entries) {
  if (entries.empty()) return true;
  store.rewrite = RewriteState{};
  if (TempBlockLeftOver()) {
    // BLTEMP may be the only copy of a block: nothing is touched until it is sorted out.
    TellStoreProblem(store, TempBlockLeftOverProblem());
    return false;
  }
  BlockTransaction block(store);
  // Written anew from nothing, it would lose the sums the restored bytes were judged by.
  if (block.SumsUnreadable()) return false;
  const int first = entries.begin()->first;
  const int last = entries.rbegin()->first;
  bool failed = false;
  for (int icon = first; icon <= last; ++icon) {
    if (!block.Begin(icon)) {
      failed = true;
      break;
    }
    const auto given = entries.find(icon);
    const StoreStatus stored =
        given != entries.end() ? StoreEntry(icon, given->second, store) : KeepEntry(icon, store);
    if (!Told(stored, store)) {
      failed = true;
      break;
    }
    // Not rebuilt from a source: an entry the block file had lost stays lost, and is named.
    block.Stored(icon, false);
    if (!Told(CheckBlockEnd(icon, store), store)) {
      failed = true;
      break;
    }
    block.CommitIfClosed(icon);
  }
  block.Finish(last, failed);
  return !failed;
}

}  // namespace zemlo
