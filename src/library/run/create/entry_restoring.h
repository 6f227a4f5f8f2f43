// Putting known-good bytes back into a block file: a repair's way of restoring an entry whose
// block copy was damaged from its other copy, with the same crash safety as a creation run.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "library/store/block_store.h"

namespace zemlo {

// Rewrites the block that holds the icons of `entries` (all of one block) through the
// block rewrite: each icon of `entries` gets the bytes given, every other entry of the block
// is carried over as it is. The coordinates and checksum files are written as a creation
// run writes them when the block commits; the icons' sums stay as they were, since the bytes
// put back are the ones the sums describe, and the block's sum becomes the new file's. False
// when the store failed (told through store.tell) or the checksum file could not be read;
// the block's previous content then stands.
bool RestoreBlockEntries(StoreContext& store,
                         const std::map<int, std::vector<std::uint8_t>>& entries);

}  // namespace zemlo
