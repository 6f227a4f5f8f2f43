// How many threads a creation run or an export takes: the front ends offer the choice, the
// run and the export keep to its bounds.
#pragma once

namespace zemlo {

// The most helper threads a run or an export takes, whatever is asked: each holds a few
// pictures' worth of buffers.
inline constexpr int kMaxJobs = 64;

// The machine's processors (at least 1, at most kMaxJobs): how many threads a run takes
// unless told otherwise.
int DefaultJobs();

}  // namespace zemlo
