#include "files/file_names.h"

#include <vector>

namespace zemlo::files {
// One pass straight into the key, without a string per part: a project check keys every
// name of every icon, tens of thousands before a run can start.
std::string NameKey(std::string_view name) {
  const bool absolute = !name.empty() && (name.front() == '/' || name.front() == '\\');
  std::string key = absolute ? "/" : "";
  key.reserve(name.size() + 1);
  const std::size_t root = key.size();  // the "/" of an absolute name is never taken back
  // Where the last part of the key begins.
  const auto last_part = [&key, root] {
    const std::size_t slash = key.rfind('/');
    return slash == std::string::npos || slash < root ? root : slash + 1;
  };
  std::size_t from = 0;
  while (from <= name.size()) {
    std::size_t to = from;
    while (to < name.size() && name[to] != '/' && name[to] != '\\') ++to;
    const std::string_view part = name.substr(from, to - from);
    from = to + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      const std::size_t start = last_part();
      const bool has_part = key.size() > root;
      if (has_part && std::string_view(key).substr(start) != "..") {
        key.resize(start > root ? start - 1 : root);  // with the "/" before it
        continue;
      }
      if (absolute) continue;  // nothing above the root
    }
    if (key.size() > root) key.push_back('/');
    for (const char c : part) key.push_back(FoldCase(c));
  }
  return key;
}

bool SplitRelativeName(std::string_view name, std::vector<std::string>& parts) {
  if (name.empty() || name.front() == '/' || name.front() == '\\') return false;
  std::string part;
  for (const char c : name) {
    if (c == '/' || c == '\\') {
      if (!part.empty() && part != ".") parts.push_back(part);
      part.clear();
    } else {
      part.push_back(c);
    }
  }
  if (!part.empty() && part != ".") parts.push_back(part);
  return !parts.empty() && parts.back() != "..";
}

}  // namespace zemlo::files
