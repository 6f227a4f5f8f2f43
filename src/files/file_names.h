// When two names in project files name the same file: compared the way the file layer finds
// files, so that a name spelled differently cannot slip past a check of another spelling.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zemlo::files {

// The form in which names are compared: lower-case parts joined by "/", "\" and "/" alike,
// "." and empty parts dropped (a leading ".\" too), ".." taking back the part before it, "/"
// first for a name from the root.
std::string NameKey(std::string_view name);

// The parts of a relative name, "." and empty parts dropped, "\" and "/" alike, into `parts`;
// false for an empty or absolute name or one whose last part is "..".
bool SplitRelativeName(std::string_view name, std::vector<std::string>& parts);

inline bool NamesSameFile(std::string_view a, std::string_view b) {
  return NameKey(a) == NameKey(b);
}

}  // namespace zemlo::files
