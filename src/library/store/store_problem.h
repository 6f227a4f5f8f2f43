// What went wrong in the library store, with the file name or the number that its message
// needs. The store says no word to the user itself: a front end turns a problem into its
// message (app/store_messages.h), and the run hands it there when it happens, so the message
// keeps its place among the run's titles.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/result.h"

namespace zemlo {

enum class StoreProblemKind {
  // An earlier failure stopped the run and was told then: nothing more is written.
  kStopped,
  // The run stops before anything was touched.
  kBadBlockSize,       // number: BLKB
  kBlockNotNamed,      // number: the block FBLK cannot name
  kTempBlockLeftOver,  // name: BLTEMP, found before a block was opened
  kOffsetsNotRead,     // name: the offsets file, there but unreadable when a block opens
  kRecordNotWritten,   // name: the record of the block rewrite
  kBlockNotMoved,      // name: the block file that could not become BLTEMP
  kTempNotCreated,     // name: BLTEMP
  // The run stops; the block keeps its previous content.
  kOutOfOrder,         // number: the icon that is not the open block's next
  kBlockNotCreated,    // name: the block file
  kBlockNotWritten,    // name: the block file
  kTempNotRead,        // name: BLTEMP
  kOffsetsNotWritten,  // name: the offsets file
  kBlockTooLong,       // name: the block file
  kTempNotRemoved,     // name: BLTEMP, after the block was finished
  // No failure: the block's file holds fewer entries than its records; the run goes on and
  // converts those icons again.
  kBlockShort,  // name: the block file
};

struct StoreProblem {
  StoreProblemKind kind = StoreProblemKind::kStopped;
  std::string name;         // the file the message names, when it names one
  std::int64_t number = 0;  // the block, icon or BLKB, when it names a number
  friend bool operator==(const StoreProblem&, const StoreProblem&) = default;
};

using StoreStatus = Result<void, StoreProblem>;

// Where problems are told the moment they happen; empty: nobody is told.
using StoreProblemSink = std::function<void(const StoreProblem&)>;

}  // namespace zemlo
