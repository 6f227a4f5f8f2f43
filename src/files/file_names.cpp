#include "files/file_names.h"

#include <vector>

namespace zemlo::files {
std::string NameKey(std::string_view name) {
  std::vector<std::string> parts;
  const bool absolute = !name.empty() && (name.front() == '/' || name.front() == '\\');
  std::string part;
  const auto finish = [&] {
    if (part == "..") {
      if (!parts.empty() && parts.back() != "..") {
        parts.pop_back();
      } else if (!absolute) {
        parts.push_back(part);
      }
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    part.clear();
  };
  for (const char c : name) {
    if (c == '/' || c == '\\') {
      finish();
    } else {
      part.push_back(FoldCase(c));
    }
  }
  finish();
  std::string key = absolute ? "/" : "";
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) key.push_back('/');
    key += parts[i];
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
