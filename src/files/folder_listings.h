// Names in folders, matched ignoring letter case, without reading the whole folder for every
// name that is missing as written. A run looks up every icon's sources and output files, most
// of them missing, in folders of thousands of entries; reading such a folder for each lookup
// cost more than converting the icons.
//
// The listing of a folder is kept while the folder is the same one (device and inode) with the
// same modification and change times, which any added, removed or renamed entry moves on, and
// for kTrustSeconds at most. Small folders are kept too: a run asks after a missing source
// folder in the project folder for every icon, and reading even a few entries costs five
// calls each time. Changes made through the file layer are
// applied to the kept listing (when the folder's times still matched it just before). Times
// have a granularity (a clock tick; two seconds on FAT), so a change by another program within
// the same tick as the last change before the read, or as one of ours, leaves the times as
// they were: such a change is seen when the listing is next read, within kTrustSeconds. A run
// reads its sources ahead by a similar moment anyway. A small folder changed within the last
// kSettleSeconds before its read is not kept at all: that is where a person or a test adds a
// file by hand right after a lookup, and reading a few entries again is cheap.
// POSIX only: Windows matches names ignoring case by itself.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>

namespace zemlo::files {

inline constexpr double kTrustSeconds = 1.0;
// Longer than a tick of the clock that stamps changes on the usual file systems.
inline constexpr double kSettleSeconds = 0.05;

// Folder listings read so far by this process: how a test tells a kept listing from one read
// again.
std::uint64_t FolderListingsRead();

// What the listing of a folder holds of a name.
struct NameMatch {
  bool exact = false;    // an entry of exactly this name
  std::string smallest;  // the smallest entry equal to it ignoring case; empty when none
};

// What the listing of `folder` ("" is the current folder) holds of `name`, matched ignoring
// ASCII letter case; nothing when the folder cannot be read. The caller has just looked at
// the folder: `folder_st` is what stat (following a link) said of it, and a folder that stat
// found is no folder holds nothing. Thread-safe.
NameMatch MatchName(const std::string& folder, const struct stat& folder_st,
                    const std::string& name);

// An entry a change concerns (its name as Resolve gives it), and what the change leaves at
// the name when it succeeds, where the caller knows that without looking.
struct ChangedEntry {
  enum class After : std::uint8_t {
    kLook,   // unknown: looked at after the change
    kThere,  // something stands at the name
    kGone,   // nothing stands at the name
  };
  // Implicit: a plain name is an entry to look at.
  ChangedEntry(const std::string* entry_path, After entry_after = After::kLook,  // NOLINT
               const struct stat* entry_folder = nullptr)
      : path(entry_path), after(entry_after), folder(entry_folder) {}
  const std::string* path;
  After after;
  // What stat said of the entry's folder a moment before, where the caller has just asked;
  // null: the folder is looked at here.
  const struct stat* folder;
};

// Calls `change`, which adds, removes or renames `entries`, and keeps the listings of their
// folders true; returns what `change` returned.
bool ChangeEntries(std::initializer_list<ChangedEntry> entries,
                   const std::function<bool()>& change);

}  // namespace zemlo::files
