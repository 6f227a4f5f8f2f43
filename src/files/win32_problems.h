// What the Windows half of the file layer shares between its files: the reason of the call
// that just failed. Windows only.
#pragma once

#include "files/file_problem.h"

namespace zemlo::files {

// The problem GetLastError names for the call that just failed.
[[nodiscard]] FileProblem LastProblem();

// Notes `problem` where the caller asked for it and gives the failed result.
template <typename R>
R Noted(FileProblem* out, FileProblem problem, R result) {
  if (out != nullptr) *out = problem;
  return result;
}

}  // namespace zemlo::files
