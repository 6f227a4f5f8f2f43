// What tells one state of an open file from another without reading it: which file it is, its
// size and its times. A reader that keeps what it read of a file (a table read for every icon)
// reads it again only when the stamp moved on. Every change this program makes to such a file
// replaces it by a rename, which makes it another file; another program's change in place
// moves the size or the modification time on (times have the granularity of the file system's
// clock, so a change of the same size within one tick of the last read goes unseen until the
// next one).
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>

namespace zemlo::files {

struct FileStamp {
  std::uint64_t device = 0;  // the volume (0 on Windows)
  std::uint64_t file = 0;    // the file on it (inode, or Windows' file index)
  std::int64_t size = 0;
  std::int64_t modified = 0;  // in the system's own units
  std::int64_t changed = 0;   // the status change time (Windows' change time)

  friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

// The stamp of an open file; nullopt when the system cannot say.
[[nodiscard]] std::optional<FileStamp> StampOf(std::FILE* file);

}  // namespace zemlo::files
