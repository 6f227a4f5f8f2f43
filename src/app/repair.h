// Repairing a damaged library without building it again: the library is locked and put
// right after an interrupted run as "Create ZGL" does, then verified; each icon the
// verification names is restored from its other, intact copy (both layouts at once), or
// converted again from its source whatever the archive test says, or left as it is when
// neither can be had. The library is verified again afterwards.
#pragma once

#include <string>
#include <vector>

#include "app/session.h"
#include "library/run/check/deep_verify.h"

namespace zemlo {

// What became of one damaged icon.
struct RepairStep {
  int icon = 0;
  std::string file;   // the copy put right; "" when nothing was done
  std::string what;   // "restored from s3_0_0_5.zgi", "converted again from p3_0_0_5.pcx", ...
  bool done = false;  // the icon was restored or converted (whether it verifies: `after`)
};

// "icon 3005: demo30.blk: restored from s3_0_0_5.zgi", "icon 3005: what" without a file;
// "demo.ofs: what" for a table file (icon -1).
std::string RepairStepLine(const RepairStep& step);

inline constexpr const char* kNoGoodCopyText = "no good copy and no source: left as it is";
inline constexpr const char* kDroppedText =
    "removed: the checksum file records no entry for it, and it has no source";

struct RepairOutcome {
  // The library was loaded, locked and verified; false when the command ended before
  // (its warning was shown).
  bool verified = false;
  std::vector<RepairStep> steps;   // one per damaged icon, in icon order
  std::vector<RepairStep> tables;  // the offsets and coordinates files, when written again
  // The verification before and after; `after` is `before` when nothing was changed.
  VerifyOutcome before;
  VerifyOutcome after;
  bool store_failed = false;  // a block rewrite or a creation run failed (told already)
  // A stop request ended the walk or a run before its last icon (or the run refused to
  // start, which it told): the repair did not finish.
  bool stopped = false;
};

// Repairs the library of the project at `chosen_path` (named `chosen_name` in messages; the
// project's folder is current). Runs on the caller's thread; refused while the session's
// worker runs. The lock is given up before it returns.
RepairOutcome RepairLibrary(Session& session, const char* chosen_path, const char* chosen_name);

// Nothing is left to repair: every damaged icon was dealt with and the library verifies.
bool Repaired(const RepairOutcome& outcome);

}  // namespace zemlo
