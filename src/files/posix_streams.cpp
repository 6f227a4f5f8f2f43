// Streams on POSIX: opened without ever waiting on what stands at the name, positioned with
// 64-bit offsets, and flushed through to the disk.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "files/file_layer.h"
#include "files/file_seam.h"
#include "files/folder_listings.h"
#include "files/posix_names.h"

namespace zemlo::files {
namespace {

Failure<FileProblem> Problem(FileProblem problem) { return ::zemlo::Fail(problem); }

// Opens the resolved name with `flags` (O_CLOEXEC and O_NONBLOCK among them) as a stream of
// `mode`, refusing anything but a regular file.
Result<std::FILE*, FileProblem> OpenResolved(const Resolved& resolved, const char* mode,
                                             int flags) {
  const std::string& path = resolved.path;
  if (!seam::Allow(FileOp::kOpen, path)) return Problem(FileProblem::kOther);
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
    ChangeEntries({{&path, ChangedEntry::After::kThere, resolved.FolderStat()}}, open);
  } else {
    open();
  }
  if (fd < 0) return Problem(ProblemOf(error, resolved));
  struct stat st;
  const bool stated = ::fstat(fd, &st) == 0;
  // The status flags are those opened with but O_NONBLOCK: F_SETFL ignores the access mode
  // and the creation flags, so asking for them first (F_GETFL) would tell nothing new.
  const int status = flags & ~(O_NONBLOCK | O_CLOEXEC);
  if (!stated || !S_ISREG(st.st_mode) || ::fcntl(fd, F_SETFL, status) != 0) {
    ::close(fd);
    const FileProblem why = !stated                ? FileProblem::kOther
                            : S_ISDIR(st.st_mode)  ? FileProblem::kIsAFolder
                            : !S_ISREG(st.st_mode) ? FileProblem::kNotRegularFile
                                                   : FileProblem::kOther;
    return Problem(why);
  }
  std::FILE* file = ::fdopen(fd, mode);
  if (file == nullptr) {
    error = errno;
    ::close(fd);
    return Problem(ProblemOfErrno(error));
  }
  seam::Done(FileOp::kOpen, path, mode, file);
  return file;
}

}  // namespace

Result<std::FILE*, FileProblem> OpenFile(const char* name, const char* mode) {
  const Resolved resolved = ResolveName(name);
  if (resolved.path.empty() || mode == nullptr) return Problem(FileProblem::kBadName);
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
      return Problem(FileProblem::kOther);
  }
  return OpenResolved(resolved, mode, flags);
}

Result<std::FILE*, FileProblem> OpenReplacement(const char* name) {
  // O_EXCL fails on anything at the name, a link included, so nothing is opened through one.
  constexpr int kFlags = O_CLOEXEC | O_NONBLOCK | O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW;
  Resolved resolved = ResolveName(name);
  if (resolved.path.empty()) return Problem(FileProblem::kBadName);
  auto opened = OpenResolved(resolved, "wb", kFlags);
  if (opened || opened.error() != FileProblem::kExists) return opened;
  // A leftover or a planted link: the name itself goes (a folder stays, and is refused).
  if (const FileStatus removed = RemoveFile(name);
      !removed && removed.error() != FileProblem::kNoSuchFile) {
    return Problem(removed.error());
  }
  resolved = ResolveName(name);
  if (resolved.path.empty()) return Problem(FileProblem::kBadName);
  return OpenResolved(resolved, "wb", kFlags);
}

FileStatus MoveOverAndClose(std::FILE* file, const char* from, const char* to) {
  if (const FileStatus closed = CloseFile(file); !closed) return closed;
  return ReplaceFileAtomically(from, to);
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

FileStatus FlushToDisk(std::FILE* file) {
  if (file == nullptr || !seam::Allow(FileOp::kFlush, {}, file))
    return Problem(FileProblem::kOther);
  if (std::fflush(file) != 0 || ::fsync(::fileno(file)) != 0) {
    return Problem(errno != 0 ? ProblemOfErrno(errno) : FileProblem::kOther);
  }
  seam::Done(FileOp::kFlush, {}, {}, file);
  return {};
}

}  // namespace zemlo::files
