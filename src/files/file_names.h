// When two names in project files name the same file: compared the way the file layer finds
// files, so that a name spelled differently cannot slip past a check of another spelling.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zemlo::files {

// The one rule for letters in names that name the same file: A to Z match a to z, and nothing
// else is folded, as the library's names and the file layer's lookups have always compared.
constexpr char FoldCase(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

// Whether `name` ends with `end` (given in lower case), letters compared by FoldCase.
constexpr bool EndsWithIgnoringCase(std::string_view name, std::string_view end) {
  if (name.size() < end.size()) return false;
  const std::string_view tail = name.substr(name.size() - end.size());
  for (std::size_t i = 0; i < end.size(); ++i) {
    if (FoldCase(tail[i]) != end[i]) return false;
  }
  return true;
}

// A name from the root ("/" or "\" first) or with a drive letter ("x:").
constexpr bool IsAbsolute(std::string_view name) {
  return (!name.empty() && (name[0] == '/' || name[0] == '\\')) ||
         (name.size() >= 2 && name[1] == ':');
}

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
