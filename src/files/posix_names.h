// How the POSIX half of the file layer finds a name written on Windows, and what it learnt of
// the entry on the way. Shared by the POSIX half's files only.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "files/file_problem.h"

namespace zemlo::files {

// A name resolved, with what resolving it learnt of the entry: a run asks after every icon's
// sources and outputs, most of them missing, and asking the system again what Resolve just
// found cost a quarter of the run's calls.
struct Resolved {
  enum class Entry : std::uint8_t {
    kUnknown,  // found ignoring case: not looked at itself
    kPresent,  // looked at where it stands: `st` (not following a link)
    kMissing,  // the very name that was looked for and not found
  };
  // The folder that holds `path` (FolderOfPath), where resolving looked at it with stat.
  enum class Folder : std::uint8_t {
    kUnknown,
    kFolder,
    kNotAFolder,
    kMissing,  // stat failed, for whatever reason
  };
  std::string path;
  Entry entry = Entry::kUnknown;
  Folder folder = Folder::kUnknown;
  struct stat st {};
  struct stat folder_st {};  // with kFolder

  // What stat said of the folder that holds `path`, where resolving asked; else null.
  const struct stat* FolderStat() const { return folder == Folder::kFolder ? &folder_st : nullptr; }

  // What stat (following a link) says of the entry, without asking again where Resolve saw
  // anything but a link; false when it is not there.
  bool Stat(struct stat& out) const {
    if (entry == Entry::kMissing) return false;
    if (entry == Entry::kPresent && !S_ISLNK(st.st_mode)) {
      out = st;
      return true;
    }
    return ::stat(path.c_str(), &out) == 0;
  }
};

// Resolve, keeping what was learnt of the entry.
[[nodiscard]] Resolved ResolveName(const char* name);

// Something (a link too) stands at `path`.
[[nodiscard]] bool PathExists(const std::string& path);

// The folder that holds `path` ("." for a bare name).
[[nodiscard]] std::string FolderOfPath(const std::string& path);

// The problem `error` (an errno value) stands for at `path`: ENOENT tells a missing file from
// a missing folder by looking at the folder.
[[nodiscard]] FileProblem ProblemOf(int error, const std::string& path);
// The same for a resolved name, without asking again about a folder resolving looked at.
[[nodiscard]] FileProblem ProblemOf(int error, const Resolved& resolved);

// Notes `problem` where the caller asked for it and gives the failed result.
template <typename R>
R Noted(FileProblem* out, FileProblem problem, R result) {
  if (out != nullptr) *out = problem;
  return result;
}

}  // namespace zemlo::files
