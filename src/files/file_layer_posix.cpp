// Project files are written on Windows: names use "\" and their letter case rarely matches
// what is on disk. Here every name is mapped the way Windows would find it, renames never
// replace, and the archive attribute lives in an extended attribute of the file.
#include <dirent.h>
#include <fcntl.h>  // open flags; renameat2 and RENAME_NOREPLACE on Linux
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "files/file_layer.h"
#include "files/file_names.h"
#include "files/file_seam.h"
#include "files/folder_listings.h"

namespace zemlo::files {
namespace {

// Size and modification time (nanoseconds) of the file when its attributes were last set to
// normal; the archive attribute counts as set as soon as they no longer match.
constexpr const char* kArchiveAttribute = "user.zgl.archive";

bool PathExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

struct FileStamp {
  std::int64_t size = 0;
  std::int64_t mtime_ns = 0;
};

std::string StampText(const FileStamp& stamp) {
  return std::to_string(stamp.size) + " " + std::to_string(stamp.mtime_ns);
}

// A name resolved, with what resolving it learnt of the entry: a run asks after every icon's
// sources and outputs, most of them missing, and asking the system again what Resolve just
// found cost a quarter of the run's calls.
struct Resolved {
  enum class Entry : std::uint8_t {
    kUnknown,  // found ignoring case: not looked at itself
    kPresent,  // looked at where it stands: `st` (not following a link)
    kMissing,  // the very name that was looked for and not found
  };
  std::string path;
  Entry entry = Entry::kUnknown;
  struct stat st {};

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

Resolved ResolveName(const char* name);

bool StampOf(const Resolved& resolved, FileStamp& stamp) {
  struct stat st;
  if (!resolved.Stat(st)) return false;
  stamp.size = static_cast<std::int64_t>(st.st_size);
  stamp.mtime_ns = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 +
                   static_cast<std::int64_t>(st.st_mtim.tv_nsec);
  return true;
}

}  // namespace

std::string Resolve(const char* name) { return ResolveName(name).path; }

namespace {

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

std::string FolderOfPath(const std::string& path);

// ENOENT names no part: the file is missing where its folder stands, else the folder is.
FileProblem ProblemOfMissing(const std::string& path) {
  struct stat st;
  const std::string folder = FolderOfPath(path);
  if (::stat(folder.c_str(), &st) != 0) return FileProblem::kNoSuchFolder;
  return S_ISDIR(st.st_mode) ? FileProblem::kNoSuchFile : FileProblem::kNotAFolder;
}

FileProblem ProblemOf(int error, const std::string& path) {
  return error == ENOENT ? ProblemOfMissing(path) : ProblemOfErrno(error);
}

// Notes `problem` where the caller asked for it and gives the failed result.
template <typename Result>
Result Fail(FileProblem* out, FileProblem problem, Result result) {
  if (out != nullptr) *out = problem;
  return result;
}

}  // namespace

std::FILE* OpenFile(const char* name, const char* mode, FileProblem* problem) {
  const std::string path = Resolve(name);
  if (path.empty() || mode == nullptr) return Fail(problem, FileProblem::kBadName, nullptr);
  if (!seam::Allow(FileOp::kOpen, path)) return Fail(problem, FileProblem::kOther, nullptr);
  const bool update = std::strchr(mode, '+') != nullptr;
  int flags = O_CLOEXEC | O_NONBLOCK;
  switch (mode[0]) {
    case 'r':
      flags |= update ? O_RDWR : O_RDONLY;
      break;
    case 'w':
      flags |= (update ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC;
      break;
    case 'a':
      flags |= (update ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
      break;
    default:
      return Fail(problem, FileProblem::kOther, nullptr);
  }
  // Without O_NONBLOCK, opening a FIFO waits for its other end, for good if none comes; a
  // device or a folder would be read or written as if it held a library file. Only regular
  // files are used; O_TRUNC does nothing to anything else.
  int fd = -1;
  int error = 0;
  const auto open = [&] {
    fd = ::open(path.c_str(), flags, 0666);
    error = errno;
    return fd >= 0;
  };
  if (flags & O_CREAT) {
    ChangeEntries({&path}, open);
  } else {
    open();
  }
  if (fd < 0) return Fail(problem, ProblemOf(error, path), nullptr);
  struct stat st;
  const bool stated = ::fstat(fd, &st) == 0;
  const int status = stated && S_ISREG(st.st_mode) ? ::fcntl(fd, F_GETFL) : -1;
  if (status == -1 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
    ::close(fd);
    const FileProblem why = !stated                ? FileProblem::kOther
                            : S_ISDIR(st.st_mode)  ? FileProblem::kIsAFolder
                            : !S_ISREG(st.st_mode) ? FileProblem::kNotRegularFile
                                                   : FileProblem::kOther;
    return Fail(problem, why, nullptr);
  }
  std::FILE* file = ::fdopen(fd, mode);
  if (file == nullptr) {
    error = errno;
    ::close(fd);
    return Fail(problem, ProblemOfErrno(error), nullptr);
  }
  seam::Done(FileOp::kOpen, path, mode, file);
  return file;
}

bool SeekTo(std::FILE* file, std::int64_t position) {
  if (file == nullptr || position < 0 || position > std::numeric_limits<off_t>::max()) {
    return false;
  }
  return ::fseeko(file, static_cast<off_t>(position), SEEK_SET) == 0;
}

std::optional<std::int64_t> Tell(std::FILE* file) {
  if (file == nullptr) return std::nullopt;
  const off_t at = ::ftello(file);
  if (at < 0) return std::nullopt;
  return static_cast<std::int64_t>(at);
}

std::optional<std::int64_t> SeekToEnd(std::FILE* file) {
  if (file == nullptr || ::fseeko(file, 0, SEEK_END) != 0) return std::nullopt;
  return Tell(file);
}

bool FlushToDisk(std::FILE* file) {
  if (file == nullptr || !seam::Allow(FileOp::kFlush, {}, file)) return false;
  if (std::fflush(file) != 0 || ::fsync(::fileno(file)) != 0) return false;
  seam::Done(FileOp::kFlush, {}, {}, file);
  return true;
}

bool Exists(const char* name) {
  const Resolved resolved = ResolveName(name);
  if (resolved.path.empty()) return false;
  struct stat st;
  return resolved.Stat(st);
}

bool ArchiveAttributeSet(const char* name) {
  const Resolved resolved = ResolveName(name);
  const std::string& path = resolved.path;
  FileStamp now;
  if (path.empty() || !StampOf(resolved, now)) return true;
  char recorded[64] = {};
  const ssize_t n = ::getxattr(path.c_str(), kArchiveAttribute, recorded, sizeof recorded - 1);
  if (n <= 0) return true;  // never set to normal, or no extended attributes here
  return std::string(recorded, static_cast<std::size_t>(n)) != StampText(now);
}

bool SetAttributesNormal(const char* name) {
  const Resolved resolved = ResolveName(name);
  const std::string& path = resolved.path;
  FileStamp now;
  if (path.empty() || !StampOf(resolved, now) || !seam::Allow(FileOp::kSetNormal, path)) {
    return false;
  }
  const std::string text = StampText(now);
  if (::setxattr(path.c_str(), kArchiveAttribute, text.data(), text.size(), 0) != 0) return false;
  seam::Done(FileOp::kSetNormal, path);
  return true;
}

bool RenameFile(const char* from, const char* to) {
  const std::string source = Resolve(from);
  const std::string target = Resolve(to);
  if (source.empty() || target.empty() || !seam::Allow(FileOp::kRename, source)) return false;
  const bool renamed = ChangeEntries({&source, &target}, [&] {
#if defined(__linux__) && defined(RENAME_NOREPLACE)
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
      return true;
    }
    if (errno != EINVAL && errno != ENOSYS) return false;
#endif
    // Without an atomic no-replace rename: a hard link fails when the target exists.
    if (::link(source.c_str(), target.c_str()) == 0) {
      if (::unlink(source.c_str()) == 0) return true;
      ::unlink(target.c_str());
      return false;
    }
    if (errno == EEXIST || errno == ENOENT) return false;
    // File systems without hard links: check, then rename (only this process writes here).
    if (PathExists(target)) return false;
    return std::rename(source.c_str(), target.c_str()) == 0;
  });
  if (renamed) seam::Done(FileOp::kRename, source, target);
  return renamed;
}

bool ReplaceFileAtomically(const char* from, const char* to) {
  const std::string source = Resolve(from);
  const std::string target = Resolve(to);
  if (source.empty() || target.empty() || !seam::Allow(FileOp::kReplace, source)) return false;
  const bool moved = ChangeEntries(
      {&source, &target}, [&] { return std::rename(source.c_str(), target.c_str()) == 0; });
  if (moved) seam::Done(FileOp::kReplace, source, target);
  return moved;
}

bool RemoveFile(const char* name) {
  const Resolved resolved = ResolveName(name);
  const std::string& path = resolved.path;
  // Most removals find nothing (an entry file a run never wrote): no change to record.
  const bool there = resolved.entry == Resolved::Entry::kPresent ||
                     (resolved.entry == Resolved::Entry::kUnknown && PathExists(path));
  if (path.empty() || !there || !seam::Allow(FileOp::kRemove, path)) return false;
  const bool removed = ChangeEntries({&path}, [&] { return ::unlink(path.c_str()) == 0; });
  if (removed) seam::Done(FileOp::kRemove, path);
  return removed;
}

namespace {

std::string FolderOfPath(const std::string& path) {
  const auto cut = path.find_last_of('/');
  return cut == std::string::npos ? std::string(".") : path.substr(0, cut == 0 ? 1 : cut);
}

bool FlushFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool flushed = ::fsync(fd) == 0;
  ::close(fd);
  return flushed;
}

#if !defined(__linux__)
// fsync works on a descriptor opened for reading too; the file is opened without following
// a link, so only what the library itself wrote is flushed.
bool FlushNamedFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  const bool flushed = ::fsync(fd) == 0;
  ::close(fd);
  return flushed;
}
#endif

}  // namespace

bool FlushFolderOf(const char* name) {
  const std::string path = Resolve(name);
  if (path.empty() || !seam::Allow(FileOp::kFolderFlush, path)) return false;
  if (!FlushFolder(FolderOfPath(path))) return false;
  seam::Done(FileOp::kFolderFlush, path);
  return true;
}

// Where the system can flush a whole file system at once (Linux's syncfs), the files and
// folders on it are flushed with one call per file system rather than one per file and
// folder: a block's hundred entry files cost one journal commit instead of a hundred.
bool FlushFilesToDisk(const std::vector<std::string>& names) {
  std::vector<std::string> paths;
  for (const std::string& name : names) {
    const std::string path = Resolve(name.c_str());
    if (path.empty() || !seam::Allow(FileOp::kFlushFile, path)) return false;
    paths.push_back(path);
  }
  std::vector<std::string> folders;
  for (const std::string& path : paths) {
    const std::string folder = FolderOfPath(path);
    if (std::find(folders.begin(), folders.end(), folder) == folders.end()) {
      folders.push_back(folder);
    }
  }
  bool flushed = true;
#if defined(__linux__)
  std::vector<dev_t> synced;
  for (const std::string& folder : folders) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
      flushed = false;
    } else if (std::find(synced.begin(), synced.end(), st.st_dev) == synced.end()) {
      if (::syncfs(fd) == 0) {
        synced.push_back(st.st_dev);
      } else {
        flushed = false;
      }
    }
    if (fd >= 0) ::close(fd);
  }
#else
  for (const std::string& path : paths) flushed = FlushNamedFile(path) && flushed;
  for (const std::string& folder : folders) flushed = FlushFolder(folder) && flushed;
#endif
  if (!flushed) return false;
  for (const std::string& path : paths) seam::Done(FileOp::kFlushFile, path);
  for (const std::string& path : paths) seam::Done(FileOp::kFolderFlush, path);
  return true;
}

bool MakeDirectory(const char* name) {
  const std::string path = Resolve(name);
  if (path.empty() || !seam::Allow(FileOp::kMakeFolder, path)) return false;
  const bool made = ChangeEntries({&path}, [&] { return ::mkdir(path.c_str(), 0777) == 0; });
  if (made) seam::Done(FileOp::kMakeFolder, path);
  return made;
}

bool ChangeDirectory(const char* name) {
  const std::string path = Resolve(name);
  if (path.empty()) return false;
  return ::chdir(path.c_str()) == 0;
}

std::string CurrentDirectory() {
  std::vector<char> buffer(4096);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return {};
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

std::uint64_t ProcessId() { return static_cast<std::uint64_t>(::getpid()); }

FileLock::Result FileLock::Refuse(Refusal refusal, std::string system_reason) {
  refusal_ = refusal;
  system_reason_ = std::move(system_reason);
  return Result::kUnavailable;
}

// flock: one lock per open file, so a second open of the same file in this process is refused
// too, and the kernel drops it with the last descriptor, which a killed process closes.
FileLock::Result FileLock::Lock(const char* name) {
  Unlock();
  refusal_ = Refusal::kNone;
  system_reason_.clear();
  const std::string path = Resolve(name);
  if (path.empty()) return Refuse(Refusal::kCannotOpen);
  // O_NOFOLLOW: a link planted at the name is refused, never followed to a file it would
  // empty or create elsewhere. O_NONBLOCK: a FIFO there is opened at once and refused below
  // instead of waited on; a regular file ignores it.
  constexpr int kFlags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
  int fd = -1;
  int open_error = 0;
  ChangeEntries({&path}, [&] {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | kFlags, 0666);
    open_error = errno;
    return fd >= 0;
  });
  // A library on a read-only medium can still be locked for reading.
  if (fd < 0) fd = ::open(path.c_str(), O_RDONLY | kFlags);
  if (fd < 0) {
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
      return Refuse(Refusal::kSymbolicLink);
    }
    return Refuse(Refusal::kCannotOpen, std::strerror(open_error));
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return Refuse(Refusal::kNotRegularFile);
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK) return Result::kBusy;
    return Refuse(Refusal::kCannotLock, std::strerror(error));
  }
  handle_ = fd;
  return Result::kLocked;
}

void FileLock::Unlock() {
  if (handle_ == kNoHandle) return;
  ::close(static_cast<int>(handle_));  // closing the last descriptor releases the lock
  handle_ = kNoHandle;
}

bool FileLock::WriteContent(std::string_view text) {
  if (handle_ == kNoHandle) return false;
  const int fd = static_cast<int>(handle_);
  if (::ftruncate(fd, 0) != 0) return false;
  return text.empty() ||
         ::pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size());
}

bool IsSymbolicLink(const char* name) {
  const std::string path = Resolve(name);
  struct stat st;
  return !path.empty() && ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

}  // namespace zemlo::files

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
      std::string other;
      if (!FindIgnoringCase(path_, part, other) ||
          ::fstatat(fd_, other.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return Kind::kMissing;
      }
      found = other;
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
        ChangeEntries({&full},
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
    ChangeEntries({&full}, [&] {
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
    return ChangeEntries({&source, &target}, [&] {
      if (::renameat(fd_, from.c_str(), fd_, to.c_str()) == 0) return true;
      Note(ProblemOfErrno(errno));
      return false;
    });
  }

  // Removes the entry `file` itself (a link is removed, never its target).
  void Remove(const std::string& file) {
    const std::string full = path_ + file;
    ChangeEntries({&full}, [&] { return ::unlinkat(fd_, file.c_str(), 0) == 0; });
  }

  const std::string& relative() const { return relative_; }
  // Why the last step that failed did; kOther where it did not say.
  FileProblem problem() const { return problem_; }

 private:
  void Note(FileProblem problem) { problem_ = problem; }

  FileProblem problem_ = FileProblem::kOther;
  int fd_ = -1;
  std::string path_;      // of the current folder, ending in '/'
  std::string relative_;  // the same below the base
};

}  // namespace

OutputResult WriteOutputFile(const char* base, const char* name, const std::uint8_t* data,
                             std::size_t size, OutputMode mode, bool make_folders,
                             std::string* blocker, FileProblem* problem) {
  if (!seam::Allow(FileOp::kOpen, name == nullptr ? std::string() : name)) {
    return Fail(problem, FileProblem::kOther, OutputResult::kFailed);
  }
  std::vector<std::string> parts;
  if ((data == nullptr && size > 0) || !SplitOutputName(name, parts)) {
    return Fail(problem, FileProblem::kBadName, OutputResult::kFailed);
  }
  OutputWalk walk;
  const auto failed = [&] { return Fail(problem, walk.problem(), OutputResult::kFailed); };
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
