// Durability on POSIX: what was written, renamed or removed pushed through to the disk.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "files/file_layer.h"
#include "files/file_seam.h"
#include "files/posix_names.h"

namespace zemlo::files {
namespace {

// 0 when the folder's entries are on the disk, else the errno value that says why not.
int FlushFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  const int error = ::fsync(fd) == 0 ? 0 : errno;
  ::close(fd);
  return error;
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

FileStatus FlushFolderOf(const char* name) {
  const std::string path = Resolve(name);
  if (path.empty()) return ::zemlo::Fail(FileProblem::kBadName);
  if (!seam::Allow(FileOp::kFolderFlush, path)) return ::zemlo::Fail(FileProblem::kOther);
  if (const int error = FlushFolder(FolderOfPath(path)); error != 0) {
    return ::zemlo::Fail(ProblemOf(error, path));
  }
  seam::Done(FileOp::kFolderFlush, path);
  return {};
}

// Nothing yet: FlushFilesToDisk takes the commit's files together.
FileStatus FlushBeforeCommit(std::FILE* file) {
  if (file == nullptr) return ::zemlo::Fail(FileProblem::kOther);
  return {};
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
  for (const std::string& folder : folders) flushed = FlushFolder(folder) == 0 && flushed;
#endif
  if (!flushed) return false;
  for (const std::string& path : paths) seam::Done(FileOp::kFlushFile, path);
  for (const std::string& path : paths) seam::Done(FileOp::kFolderFlush, path);
  return true;
}

}  // namespace zemlo::files
