// A converted icon shown and stored: its title, its picture drawn back, its entry packed where
// the project packs it, then written into its single entry file and its block. Converted on
// the run's own thread or prepared by a helper, it goes through the same steps.
#pragma once

#include <cstddef>

#include "core/content_hash.h"
#include "library/run/create/creation_pipeline.h"
#include "library/run/create/source_selection.h"
#include "library/store/block_store.h"

namespace zemlo {

// What became of a converted icon.
enum class StoreOutcome {
  kAll,          // its entry is where the layout puts it
  kNoEntryFile,  // in the block, but its single entry file could not be written
  kStoreFailed,  // the block store failed: the run stops
};

struct StoreResult {
  StoreOutcome outcome;
  std::size_t bytes = 0;  // the entry as stored
  ContentHash hash = 0;   // of those bytes
};

// The icon's single entry file (FSEP stamped) goes: the icon has none in this library, or
// not in this layout. A file that stays is named, as it would be taken for the icon's entry.
void RemoveEntryFile(StoreContext& store);

// Converts the selected source of `icon` on the run's own thread, in the shared buffers, and
// stores it.
StoreResult ConvertAndStore(int icon, const SelectedSource& source, StoreContext& store);

// Stores an icon a helper converted: the shared state, titles and messages as
// ConvertAndStore leaves and shows them.
StoreResult StorePrepared(int icon, const SelectedSource& source, const PreparedIcon& job,
                          StoreContext& store);

}  // namespace zemlo
