// Output files on POSIX, never written through a link.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "files/file_layer.h"
#include "files/file_names.h"
#include "files/file_seam.h"
#include "files/folder_listings.h"
#include "files/posix_names.h"

// ---- Outputs ----------------------------------------------------------------------------
// Walked one folder at a time from a descriptor of the base: every folder of the name is
// opened with O_NOFOLLOW relative to the one before, so no link on the way is ever followed,
// and the file is created with O_EXCL, which fails on anything standing at its name, a
// dangling link included. Names are matched ignoring case as Resolve matches them.

namespace zemlo::files {
namespace {

// Beside a file being replaced; the rename over it never crosses file systems.
constexpr const char* kOutputTemporarySuffix = ".zgl-out";

// The parts of a relative output name (SplitRelativeName).
bool SplitOutputName(const char* name, std::vector<std::string>& parts) {
  return name != nullptr && SplitRelativeName(name, parts);
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = ENOSPC;  // nothing taken and no error: no room left
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

class OutputWalk {
 public:
  enum class Kind { kMissing, kFile, kFolder, kLink, kOther, kError };

  OutputWalk() = default;
  OutputWalk(const OutputWalk&) = delete;
  OutputWalk& operator=(const OutputWalk&) = delete;
  ~OutputWalk() {
    if (fd_ >= 0) ::close(fd_);
  }

  // The base folder, followed as the system finds it: the user named it.
  bool Start(const char* base) {
    path_ = Resolve(base);
    if (path_.empty()) return false;
    fd_ = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) Note(errno == ENOENT ? FileProblem::kNoSuchFolder : ProblemOfErrno(errno));
    if (path_.back() != '/') path_ += '/';
    return fd_ >= 0;
  }

  // What stands at `part` in the current folder, and under which name (its case on disk).
  Kind Look(const std::string& part, std::string& found) {
    found = part;
    struct stat st;
    if (::fstatat(fd_, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) {
        Note(ProblemOfErrno(errno));
        return Kind::kError;
      }
      // The folder's times, kept for the change that most often follows (the file made).
      folder_seen_ = ::stat(path_.c_str(), &folder_st_) == 0;
      const NameMatch match = folder_seen_ ? MatchName(path_, folder_st_, part) : NameMatch{};
      if (match.smallest.empty() ||
          ::fstatat(fd_, match.smallest.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return Kind::kMissing;
      }
      found = match.smallest;
    }
    if (S_ISLNK(st.st_mode)) return Kind::kLink;
    if (S_ISDIR(st.st_mode)) return Kind::kFolder;
    if (S_ISREG(st.st_mode)) return Kind::kFile;
    return Kind::kOther;
  }

  // Into the folders of `parts` but the last (all of them with `all`), made when missing
  // and `make`. kWritten when there.
  OutputResult Folders(const std::vector<std::string>& parts, bool all, bool make,
                       std::string* blocker, bool* missing = nullptr) {
    const std::size_t count = all ? parts.size() : parts.size() - 1;
    for (std::size_t i = 0; i < count; ++i) {
      std::string found;
      Kind kind = Look(parts[i], found);
      if (kind == Kind::kMissing && make) {
        const std::string full = path_ + found;
        ChangeEntries({{&full, ChangedEntry::After::kThere, FolderSeen()}},
                      [&] { return ::mkdirat(fd_, found.c_str(), 0777) == 0 || errno == EEXIST; });
        kind = Look(parts[i], found);
      }
      switch (kind) {
        case Kind::kFolder:
          break;
        case Kind::kLink:
          if (blocker != nullptr) *blocker = relative_ + found;
          return OutputResult::kLinkInTheWay;
        case Kind::kMissing:
          if (missing != nullptr) *missing = true;
          Note(FileProblem::kNoSuchFolder);
          return OutputResult::kFailed;
        case Kind::kFile:
        case Kind::kOther:
          if (blocker != nullptr) *blocker = relative_ + found;
          return OutputResult::kExists;
        case Kind::kError:
          return OutputResult::kFailed;
      }
      const int next =
          ::openat(fd_, found.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (next < 0) {
        // Swapped for a link since the look, or gone.
        Note(errno == ENOENT ? FileProblem::kNoSuchFolder : ProblemOfErrno(errno));
        if (blocker != nullptr) *blocker = relative_ + found;
        return errno == ELOOP || errno == ENOTDIR ? OutputResult::kLinkInTheWay
                                                  : OutputResult::kFailed;
      }
      ::close(fd_);
      fd_ = next;
      folder_seen_ = false;
      path_ += found + "/";
      relative_ += found + "/";
    }
    return OutputResult::kWritten;
  }

  // `file` as a new file in the current folder holding the data.
  OutputResult Create(const std::string& file, const std::uint8_t* data, std::size_t size,
                      std::string* blocker) {
    const std::string full = path_ + file;
    int fd = -1;
    int error = 0;
    ChangeEntries({{&full, ChangedEntry::After::kThere, FolderSeen()}}, [&] {
      fd = ::openat(fd_, file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
      error = errno;
      return fd >= 0;
    });
    if (fd < 0) {
      if (error != EEXIST) {
        Note(error == ENOENT ? FileProblem::kNoSuchFolder : ProblemOfErrno(error));
        return OutputResult::kFailed;
      }
      if (blocker != nullptr) *blocker = relative_ + file;
      std::string found;
      return Look(file, found) == Kind::kLink ? OutputResult::kLinkInTheWay : OutputResult::kExists;
    }
    bool ok = WriteAll(fd, data, size);
    if (!ok) Note(ProblemOfErrno(errno));
    if (::close(fd) != 0) {
      if (ok) Note(ProblemOfErrno(errno));
      ok = false;
    }
    if (!ok) {
      Remove(file);
      return OutputResult::kFailed;
    }
    return OutputResult::kWritten;
  }

  // Moves `from` over `to`, both in the current folder.
  bool Rename(const std::string& from, const std::string& to) {
    const std::string source = path_ + from;
    const std::string target = path_ + to;
    return ChangeEntries({&source, {&target, ChangedEntry::After::kThere, FolderSeen()}}, [&] {
      if (::renameat(fd_, from.c_str(), fd_, to.c_str()) == 0) return true;
      Note(ProblemOfErrno(errno));
      return false;
    });
  }

  // Removes the entry `file` itself (a link is removed, never its target).
  void Remove(const std::string& file) {
    const std::string full = path_ + file;
    ChangeEntries({{&full, ChangedEntry::After::kGone, FolderSeen()}},
                  [&] { return ::unlinkat(fd_, file.c_str(), 0) == 0; });
  }

  const std::string& relative() const { return relative_; }
  // Why the last step that failed did; kOther where it did not say.
  FileProblem problem() const { return problem_; }

 private:
  void Note(FileProblem problem) { problem_ = problem; }

  // What stat said of the current folder when the last Look asked, once: a change moves its
  // times on.
  const struct stat* FolderSeen() {
    const bool seen = folder_seen_;
    folder_seen_ = false;
    return seen ? &folder_st_ : nullptr;
  }

  FileProblem problem_ = FileProblem::kOther;
  int fd_ = -1;
  std::string path_;      // of the current folder, ending in '/'
  std::string relative_;  // the same below the base
  bool folder_seen_ = false;
  struct stat folder_st_ {};
};

}  // namespace

OutputResult WriteOutputFile(const char* base, const char* name, const std::uint8_t* data,
                             std::size_t size, OutputMode mode, bool make_folders,
                             std::string* blocker, FileProblem* problem) {
  if (!seam::Allow(FileOp::kOpen, name == nullptr ? std::string() : name)) {
    return Noted(problem, FileProblem::kOther, OutputResult::kFailed);
  }
  std::vector<std::string> parts;
  if ((data == nullptr && size > 0) || !SplitOutputName(name, parts)) {
    return Noted(problem, FileProblem::kBadName, OutputResult::kFailed);
  }
  OutputWalk walk;
  const auto failed = [&] { return Noted(problem, walk.problem(), OutputResult::kFailed); };
  if (!walk.Start(base)) return failed();
  const OutputResult way = walk.Folders(parts, false, make_folders, blocker);
  if (way == OutputResult::kFailed) return failed();
  if (way != OutputResult::kWritten) return way;
  std::string file;
  switch (walk.Look(parts.back(), file)) {
    case OutputWalk::Kind::kMissing: {
      const OutputResult made = walk.Create(file, data, size, blocker);
      return made == OutputResult::kFailed ? failed() : made;
    }
    case OutputWalk::Kind::kLink:
      if (blocker != nullptr) *blocker = walk.relative() + file;
      return OutputResult::kLinkInTheWay;
    case OutputWalk::Kind::kFolder:
    case OutputWalk::Kind::kOther:
      if (blocker != nullptr) *blocker = walk.relative() + file;
      return OutputResult::kExists;
    case OutputWalk::Kind::kError:
      return failed();
    case OutputWalk::Kind::kFile:
      break;
  }
  if (mode == OutputMode::kCreateNew) {
    if (blocker != nullptr) *blocker = walk.relative() + file;
    return OutputResult::kExists;
  }
  // The new content under a temporary name, then moved over the file in one step: rename
  // replaces whatever entry stands at the name then (should it have become a link, the link
  // itself), never a link's target.
  const std::string temporary = file + kOutputTemporarySuffix;
  std::string leftover;
  if (walk.Look(temporary, leftover) != OutputWalk::Kind::kMissing) walk.Remove(leftover);
  const OutputResult made = walk.Create(temporary, data, size, nullptr);
  if (made != OutputResult::kWritten) return failed();
  if (!walk.Rename(temporary, file)) {
    walk.Remove(temporary);
    return failed();
  }
  return OutputResult::kWritten;
}

OutputResult MakeOutputFolder(const char* base, const char* name, std::string* blocker) {
  if (!seam::Allow(FileOp::kMakeFolder, name == nullptr ? std::string() : name)) {
    return OutputResult::kFailed;
  }
  std::vector<std::string> parts;
  if (!SplitOutputName(name, parts)) return OutputResult::kFailed;
  OutputWalk walk;
  if (!walk.Start(base)) return OutputResult::kFailed;
  return walk.Folders(parts, true, true, blocker);
}

OutputState ProbeOutput(const char* base, const char* name, std::string* blocker) {
  std::vector<std::string> parts;
  if (!SplitOutputName(name, parts)) return OutputState::kOther;
  OutputWalk walk;
  if (!walk.Start(base)) return OutputState::kMissing;
  bool missing = false;
  switch (walk.Folders(parts, false, false, blocker, &missing)) {
    case OutputResult::kWritten:
      break;
    case OutputResult::kLinkInTheWay:
      return OutputState::kLink;
    case OutputResult::kExists:
      return OutputState::kOther;
    case OutputResult::kFailed:
      return missing ? OutputState::kMissing : OutputState::kOther;
  }
  std::string file;
  const OutputWalk::Kind kind = walk.Look(parts.back(), file);
  if (kind != OutputWalk::Kind::kMissing && blocker != nullptr) {
    *blocker = walk.relative() + file;
  }
  switch (kind) {
    case OutputWalk::Kind::kMissing:
      return OutputState::kMissing;
    case OutputWalk::Kind::kFile:
      return OutputState::kFile;
    case OutputWalk::Kind::kLink:
      return OutputState::kLink;
    default:
      return OutputState::kOther;
  }
}

}  // namespace zemlo::files
