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
  while (pos <= path.size()) {
    std::size_t end = path.find('/', pos);
    if (end == std::string::npos) end = path.size();
    const std::string component = path.substr(pos, end - pos);
    const bool last = end == path.size();
    if (!component.empty()) {
      std::string chosen = component;
      if (matching && component != "." && component != "..") {
        const std::string candidate = out + component;
        // The whole name as written was found missing above.
        if (candidate == path || !PathExists(candidate)) {
          std::string found;
          if (FindIgnoringCase(out, component, found)) {
            chosen = found;
          } else {
            matching = false;
          }
        }
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
