// What the Windows half of the file layer shares between its files: the reason of the call
// that just failed, and names as the system keeps them. Windows only.
#pragma once

#include <string>

#include "files/file_problem.h"

namespace zemlo::files {

// The problem GetLastError names for the call that just failed.
[[nodiscard]] FileProblem LastProblem();

// `name` in the system's own UTF-16, converted as the calls that take narrow names convert it
// (through the code page of the file calls); empty when it cannot be.
[[nodiscard]] std::wstring SystemName(const char* name);

// Notes `problem` where the caller asked for it and gives the failed result.
template <typename R>
R Noted(FileProblem* out, FileProblem problem, R result) {
  if (out != nullptr) *out = problem;
  return result;
}

}  // namespace zemlo::files
