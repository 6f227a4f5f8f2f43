// Project files are written on Windows: names use "\" and their letter case rarely matches
// what is on disk. Here every name is mapped the way Windows would find it.
#include "files/posix_names.h"

#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <utility>

#include "files/file_layer.h"
#include "files/folder_listings.h"

namespace zemlo::files {

bool PathExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

std::string Resolve(const char* name) { return ResolveName(name).path; }

namespace {

// What the walk of ResolveName saw of a folder with stat (following a link).
struct FolderSeen {
  std::string name;  // as FolderOfPath names it; empty while nothing was seen
  int error = 0;     // stat's errno, 0 when `st` holds what it said
  struct stat st {};

  bool Look(std::string folder) {
    name = std::move(folder);
    error = ::stat(name.c_str(), &st) == 0 ? 0 : errno;
    return error == 0;
  }
};

// The folder that holds the entries of `out` (a walk's path so far, empty or ending in '/').
std::string HolderOf(const std::string& out) {
  if (out.empty()) return ".";
  return out.size() == 1 ? out : out.substr(0, out.size() - 1);
}

// The entry to take for `component` of the folder `out`, into `chosen`; false when nothing
// matches. `seen` describes the folder `out` when its name is set, and afterwards the folder
// chosen (unless `last`). `missing` tells that `out + component` was found missing already.
bool ChooseEntry(const std::string& out, const std::string& component, bool last, bool missing,
                 FolderSeen& seen, std::string& chosen) {
  const std::string candidate = out + component;
  FolderSeen next;
  chosen = component;
  if (!missing) {
    // A folder on the way is looked at once: whether it is there and, for the lookup in it
    // that follows, its times.
    if (!last && next.Look(candidate)) {
      seen = std::move(next);
      return true;
    }
    // Anything else standing there as written (a dangling link too) is taken as it is.
    if ((last || next.error != ENOENT) && PathExists(candidate)) {
      if (!last) seen = FolderSeen{};
      return true;
    }
  }
  if (seen.name.empty()) seen.Look(HolderOf(out));
  if (seen.error != 0) return false;
  const NameMatch match = MatchName(HolderOf(out), seen.st, component);
  if (match.smallest.empty()) return false;
  // Where stat alone found the folder missing as written, the listing tells whether something
  // stands at the name all the same (a link that leads nowhere): that is taken as written.
  const bool unchecked = !missing && !last && next.error == ENOENT;
  if (!unchecked || !match.exact) chosen = match.smallest;
  if (!last) seen = FolderSeen{};
  return true;
}

// Notes in `resolved` what `seen` saw of the folder of its path, where it saw that very folder.
void NoteFolder(const FolderSeen& seen, Resolved& resolved) {
  if (seen.name.empty() || seen.name != FolderOfPath(resolved.path)) return;
  if (seen.error != 0) {
    resolved.folder = Resolved::Folder::kMissing;
  } else if (!S_ISDIR(seen.st.st_mode)) {
    resolved.folder = Resolved::Folder::kNotAFolder;
  } else {
    resolved.folder = Resolved::Folder::kFolder;
    resolved.folder_st = seen.st;
  }
}

}  // namespace

Resolved ResolveName(const char* name) {
  Resolved resolved;
  if (name == nullptr) return resolved;
  std::string path(name);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  if (path.empty()) {
    resolved.path = std::move(path);
    return resolved;
  }
  if (::lstat(path.c_str(), &resolved.st) == 0) {
    resolved.entry = Resolved::Entry::kPresent;
    resolved.path = std::move(path);
    return resolved;
  }

  // Walk the components; each one that is missing as written is looked up ignoring case.
  // Once a component matches nothing, the rest stays as written (a name being created).
  std::string out;
  std::size_t pos = 0;
  if (path[0] == '/') {
    out = "/";
    pos = 1;
  }
  bool matching = true;
  FolderSeen seen;  // of the folder `out` names, or nothing
  while (pos <= path.size()) {
    std::size_t end = path.find('/', pos);
    if (end == std::string::npos) end = path.size();
    const std::string component = path.substr(pos, end - pos);
    const bool last = end == path.size();
    if (!component.empty()) {
      std::string chosen = component;
      if (matching && component != "." && component != "..") {
        // The whole name as written was found missing above.
        const bool missing = out + component == path;
        matching = ChooseEntry(out, component, last, missing, seen, chosen);
      } else if (!last) {
        seen = FolderSeen{};
      }
      out += chosen;
    }
    if (last) break;
    if (!out.empty() && out.back() != '/') out += '/';
    pos = end + 1;
  }
  // Found missing as written above, and nothing else was chosen.
  if (out == path) resolved.entry = Resolved::Entry::kMissing;
  resolved.path = std::move(out);
  NoteFolder(seen, resolved);
  return resolved;
}

std::string FolderOfPath(const std::string& path) {
  const auto cut = path.find_last_of('/');
  return cut == std::string::npos ? std::string(".") : path.substr(0, cut == 0 ? 1 : cut);
}

namespace {

// ENOENT names no part: the file is missing where its folder stands, else the folder is.
FileProblem ProblemOfMissing(const std::string& path) {
  struct stat st;
  const std::string folder = FolderOfPath(path);
  if (::stat(folder.c_str(), &st) != 0) return FileProblem::kNoSuchFolder;
  return S_ISDIR(st.st_mode) ? FileProblem::kNoSuchFile : FileProblem::kNotAFolder;
}

}  // namespace

FileProblem ProblemOf(int error, const std::string& path) {
  return error == ENOENT ? ProblemOfMissing(path) : ProblemOfErrno(error);
}

FileProblem ProblemOf(int error, const Resolved& resolved) {
  if (error != ENOENT) return ProblemOfErrno(error);
  switch (resolved.folder) {
    case Resolved::Folder::kFolder:
      return FileProblem::kNoSuchFile;
    case Resolved::Folder::kNotAFolder:
      return FileProblem::kNotAFolder;
    case Resolved::Folder::kMissing:
      return FileProblem::kNoSuchFolder;
    case Resolved::Folder::kUnknown:
      break;
  }
  return ProblemOfMissing(resolved.path);
}

bool Exists(const char* name) {
  const Resolved resolved = ResolveName(name);
  if (resolved.path.empty()) return false;
  struct stat st;
  return resolved.Stat(st);
}

bool IsSymbolicLink(const char* name) {
  const std::string path = Resolve(name);
  struct stat st;
  return !path.empty() && ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

}  // namespace zemlo::files
