// The lines zgl ends create and check with: what the run did, counted by the run itself, and
// where a stop request from outside ended it. They are zgl's own (on stderr, "zgl: "), apart
// from the titles and messages, which stay the window's.
#pragma once

#include <chrono>
#include <string>

#include "library/run/run_tally.h"

namespace zemlo::console {

// "2000 icons: 41 converted (327741 bytes stored), 0 skipped, 1959 not found; 0 warnings;
// 1.3 s"; a run that ended early says "418 of 2000 icons". `first` to `last` is the run's
// range.
std::string CreationSummary(const RunTally& tally, int first, int last, int warnings,
                            std::chrono::steady_clock::duration took);

// "2000 icons checked (3000 to 4999): 41 intact, 0 damaged, 1959 without entry; 0 warnings;
// 0.1 s", block files longer than their entries named where there are any.
std::string CheckSummary(const RunTally& tally, int first, int last, int warnings,
                         std::chrono::steady_clock::duration took);

// The last line after a stop request: where the run stopped and what that left.
std::string StoppedLine(const RunTally& tally, bool create);

}  // namespace zemlo::console
