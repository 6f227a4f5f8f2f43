// The lock on a library on POSIX: flock, which the kernel drops when the process ends.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "files/file_layer.h"
#include "files/folder_listings.h"

namespace zemlo::files {

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
  ChangeEntries({{&path, ChangedEntry::After::kThere}}, [&] {
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

}  // namespace zemlo::files
