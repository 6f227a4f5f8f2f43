// Reading a deep verification's findings in tests: all of them as lines, and how many name
// an icon in a file with a text.
#pragma once

#include <string>

#include "library/run/check/deep_verify.h"

namespace zemlo::testing {

inline std::string Lines(const VerifyOutcome& outcome) {
  std::string text;
  for (const auto& finding : outcome.findings) text += FindingLine(finding) + "\n";
  return text;
}

// Findings of `icon` in files whose name contains `file`, with `what` in their text.
inline int Count(const VerifyOutcome& outcome, int icon, const std::string& file,
                 const std::string& what = "") {
  int n = 0;
  for (const auto& f : outcome.findings) {
    n += f.icon == icon && f.file.find(file) != std::string::npos &&
         f.what.find(what) != std::string::npos;
  }
  return n;
}

}  // namespace zemlo::testing
