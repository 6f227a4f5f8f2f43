// Every regular file under a folder with its bytes, by its path relative to the folder
// ("pcx/p3_0_0_0.pcx"): what the tests compare before and after a run, or between two runs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace zemlo::testing {

using FolderFiles = std::map<std::string, std::vector<std::uint8_t>>;

// `keep`, when given, chooses the relative names to take; folders themselves are never taken.
inline FolderFiles SnapshotFolder(const std::filesystem::path& root,
                                  const std::function<bool(const std::string&)>& keep = {}) {
  FolderFiles files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    std::string name = entry.path().lexically_relative(root).generic_string();
    if (keep && !keep(name)) continue;
    files[std::move(name)] = ReadFileBytes(entry.path());
  }
  return files;
}

// Only the files directly in the folder, not those in folders below it.
inline bool AtTop(const std::string& name) { return name.find('/') == std::string::npos; }

}  // namespace zemlo::testing
