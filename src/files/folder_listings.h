// Names in folders, matched ignoring letter case, without reading the whole folder for every
// name that is missing as written. A run looks up every icon's sources and output files, most
// of them missing, in folders of thousands of entries; reading such a folder for each lookup
// cost more than converting the icons.
//
// The listing of a folder of many entries is kept while the folder is the same one (device and
// inode) with the same modification and change times, which any added, removed or renamed
// entry moves on, and for kTrustSeconds at most. Changes made through the file layer are
// applied to the kept listing (when the folder's times still matched it just before). Times
// have a granularity (a clock tick; two seconds on FAT), so a change by another program within
// the same tick as the last change before the read, or as one of ours, leaves the times as
// they were: such a change is seen when the listing is next read, within kTrustSeconds. A run
// reads its sources ahead by a similar moment anyway.
// POSIX only: Windows matches names ignoring case by itself.
#pragma once

#include <functional>
#include <initializer_list>
#include <string>

namespace zemlo::files {

inline constexpr double kTrustSeconds = 1.0;

// The smallest entry name (by byte order) of `folder` ("" is the current folder) that equals
// `name` ignoring ASCII letter case, into `found`; false when none does or the folder cannot
// be read. Thread-safe.
bool FindIgnoringCase(const std::string& folder, const std::string& name, std::string& found);

// Calls `change`, which adds, removes or renames the entries at `paths` (names as Resolve
// gives them), and keeps the listings of their folders true; returns what `change` returned.
bool ChangeEntries(std::initializer_list<const std::string*> paths,
                   const std::function<bool()>& change);

}  // namespace zemlo::files
