// Project files are written on Windows: names use "\" and their letter case rarely matches
// what is on disk. Here every name is mapped the way Windows would find it, renames never
// replace, and the archive attribute lives in an extended attribute of the file.
#include "files/file_layer.h"

#include "files/folder_listings.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>  // open flags; renameat2 and RENAME_NOREPLACE on Linux

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

bool StampOf(const std::string& path, FileStamp& stamp) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  stamp.size = static_cast<std::int64_t>(st.st_size);
  stamp.mtime_ns = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 +
                   static_cast<std::int64_t>(st.st_mtim.tv_nsec);
  return true;
}

std::string StampText(const FileStamp& stamp) {
  return std::to_string(stamp.size) + " " + std::to_string(stamp.mtime_ns);
}

}  // namespace

std::string Resolve(const char* name) {
  if (name == nullptr) return {};
  std::string path(name);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  if (path.empty() || PathExists(path)) return path;

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
  return out;
}

std::FILE* OpenFile(const char* name, const char* mode) {
  const std::string path = Resolve(name);
  if (path.empty() || mode == nullptr) return nullptr;
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
      return nullptr;
  }
  // Without O_NONBLOCK, opening a FIFO waits for its other end, for good if none comes; a
  // device or a folder would be read or written as if it held a library file. Only regular
  // files are used; O_TRUNC does nothing to anything else.
  int fd = -1;
  const auto open = [&] { return (fd = ::open(path.c_str(), flags, 0666)) >= 0; };
  if (flags & O_CREAT) {
    ChangeEntries({&path}, open);
  } else {
    open();
  }
  if (fd < 0) return nullptr;
  struct stat st;
  const int status = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? ::fcntl(fd, F_GETFL) : -1;
  if (status == -1 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
    ::close(fd);
    return nullptr;
  }
  std::FILE* file = ::fdopen(fd, mode);
  if (file == nullptr) ::close(fd);
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
  if (file == nullptr || std::fflush(file) != 0) return false;
  return ::fsync(::fileno(file)) == 0;
}

bool Exists(const char* name) {
  const std::string path = Resolve(name);
  if (path.empty()) return false;
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool ArchiveAttributeSet(const char* name) {
  const std::string path = Resolve(name);
  FileStamp now;
  if (path.empty() || !StampOf(path, now)) return true;
  char recorded[64] = {};
  const ssize_t n = ::getxattr(path.c_str(), kArchiveAttribute, recorded, sizeof recorded - 1);
  if (n <= 0) return true;  // never set to normal, or no extended attributes here
  return std::string(recorded, static_cast<std::size_t>(n)) != StampText(now);
}

bool SetAttributesNormal(const char* name) {
  const std::string path = Resolve(name);
  FileStamp now;
  if (path.empty() || !StampOf(path, now)) return false;
  const std::string text = StampText(now);
  return ::setxattr(path.c_str(), kArchiveAttribute, text.data(), text.size(), 0) == 0;
}

bool RenameFile(const char* from, const char* to) {
  const std::string source = Resolve(from);
  const std::string target = Resolve(to);
  if (source.empty() || target.empty()) return false;
  return ChangeEntries({&source, &target}, [&] {
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
}

bool ReplaceFileAtomically(const char* from, const char* to) {
  const std::string source = Resolve(from);
  const std::string target = Resolve(to);
  if (source.empty() || target.empty()) return false;
  return ChangeEntries({&source, &target},
                       [&] { return std::rename(source.c_str(), target.c_str()) == 0; });
}

bool RemoveFile(const char* name) {
  const std::string path = Resolve(name);
  // Most removals find nothing (an entry file a run never wrote): no change to record.
  if (path.empty() || !PathExists(path)) return false;
  return ChangeEntries({&path}, [&] { return ::unlink(path.c_str()) == 0; });
}

bool FlushFolderOf(const char* name) {
  const std::string path = Resolve(name);
  if (path.empty()) return false;
  const auto cut = path.find_last_of('/');
  const std::string folder =
      cut == std::string::npos ? std::string(".") : path.substr(0, cut == 0 ? 1 : cut);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool flushed = ::fsync(fd) == 0;
  ::close(fd);
  return flushed;
}

bool MakeDirectory(const char* name) {
  const std::string path = Resolve(name);
  if (path.empty()) return false;
  return ChangeEntries({&path}, [&] { return ::mkdir(path.c_str(), 0777) == 0; });
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

}  // namespace zemlo::files
