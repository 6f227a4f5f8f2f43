// Entries on POSIX: the archive attribute kept in an extended attribute of the file, renames
// that never replace, removals and folders, each change kept in the folder listings.
#include <fcntl.h>  // renameat2 and RENAME_NOREPLACE on Linux
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "files/file_layer.h"
#include "files/file_seam.h"
#include "files/folder_listings.h"
#include "files/posix_names.h"

namespace zemlo::files {
namespace {

// Size and modification time (nanoseconds) of the file when its attributes were last set to
// normal; the archive attribute counts as set as soon as they no longer match.
constexpr const char* kArchiveAttribute = "user.zgl.archive";

struct FileStamp {
  std::int64_t size = 0;
  std::int64_t mtime_ns = 0;
};

std::string StampText(const FileStamp& stamp) {
  return std::to_string(stamp.size) + " " + std::to_string(stamp.mtime_ns);
}

bool StampOf(const Resolved& resolved, FileStamp& stamp) {
  struct stat st;
  if (!resolved.Stat(st)) return false;
  stamp.size = static_cast<std::int64_t>(st.st_size);
  stamp.mtime_ns = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 +
                   static_cast<std::int64_t>(st.st_mtim.tv_nsec);
  return true;
}

Failure<FileProblem> Problem(FileProblem problem) { return ::zemlo::Fail(problem); }

}  // namespace

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

FileStatus RenameFile(const char* from, const char* to) {
  const std::string source = Resolve(from);
  const Resolved resolved_target = ResolveName(to);
  const std::string& target = resolved_target.path;
  if (source.empty() || target.empty()) return Problem(FileProblem::kBadName);
  if (!seam::Allow(FileOp::kRename, source)) return Problem(FileProblem::kOther);
  FileProblem problem = FileProblem::kOther;
  const auto failed = [&](int error) {
    problem = error == EEXIST ? FileProblem::kExists : ProblemOf(error, source);
    return false;
  };
  // A rename between two links to one file leaves both: the source is looked at.
  const ChangedEntry made{&target, ChangedEntry::After::kThere, resolved_target.FolderStat()};
  const bool renamed = ChangeEntries({&source, made}, [&] {
#if defined(__linux__) && defined(RENAME_NOREPLACE)
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
      return true;
    }
    if (errno != EINVAL && errno != ENOSYS) return failed(errno);
#endif
    // Without an atomic no-replace rename: a hard link fails when the target exists.
    if (::link(source.c_str(), target.c_str()) == 0) {
      if (::unlink(source.c_str()) == 0) return true;
      const int error = errno;
      ::unlink(target.c_str());
      return failed(error);
    }
    if (errno == EEXIST || errno == ENOENT) return failed(errno);
    // File systems without hard links: check, then rename (only this process writes here).
    if (PathExists(target)) return failed(EEXIST);
    return std::rename(source.c_str(), target.c_str()) == 0 || failed(errno);
  });
  if (!renamed) return Problem(problem);
  seam::Done(FileOp::kRename, source, target);
  return {};
}

FileStatus ReplaceFileAtomically(const char* from, const char* to) {
  const std::string source = Resolve(from);
  const Resolved resolved_target = ResolveName(to);
  const std::string& target = resolved_target.path;
  if (source.empty() || target.empty()) return Problem(FileProblem::kBadName);
  if (!seam::Allow(FileOp::kReplace, source)) return Problem(FileProblem::kOther);
  int error = 0;
  const ChangedEntry replaced{&target, ChangedEntry::After::kThere, resolved_target.FolderStat()};
  // A move onto another link of the same file leaves both; onto a name that was free, the
  // source's name is gone once the move succeeded.
  const ChangedEntry moved_away{&source, resolved_target.entry == Resolved::Entry::kMissing
                                             ? ChangedEntry::After::kGone
                                             : ChangedEntry::After::kLook};
  const bool moved = ChangeEntries({moved_away, replaced}, [&] {
    if (std::rename(source.c_str(), target.c_str()) == 0) return true;
    error = errno;
    return false;
  });
  if (!moved) return Problem(ProblemOf(error, source));
  seam::Done(FileOp::kReplace, source, target);
  return {};
}

FileStatus RemoveFile(const char* name) {
  const Resolved resolved = ResolveName(name);
  const std::string& path = resolved.path;
  if (path.empty()) return Problem(FileProblem::kBadName);
  // Most removals find nothing (an entry file a run never wrote): no change to record.
  const bool there = resolved.entry == Resolved::Entry::kPresent ||
                     (resolved.entry == Resolved::Entry::kUnknown && PathExists(path));
  if (!there) return Problem(ProblemOf(ENOENT, resolved));
  if (!seam::Allow(FileOp::kRemove, path)) return Problem(FileProblem::kOther);
  int error = 0;
  const bool removed = ChangeEntries({{&path, ChangedEntry::After::kGone}}, [&] {
    if (::unlink(path.c_str()) == 0) return true;
    error = errno;
    return false;
  });
  if (!removed) return Problem(ProblemOf(error, resolved));
  seam::Done(FileOp::kRemove, path);
  return {};
}

FileStatus MakeDirectory(const char* name) {
  const Resolved resolved = ResolveName(name);
  const std::string& path = resolved.path;
  if (path.empty()) return Problem(FileProblem::kBadName);
  if (!seam::Allow(FileOp::kMakeFolder, path)) return Problem(FileProblem::kOther);
  int error = 0;
  const bool made =
      ChangeEntries({{&path, ChangedEntry::After::kThere, resolved.FolderStat()}}, [&] {
        if (::mkdir(path.c_str(), 0777) == 0) return true;
        error = errno;
        return false;
      });
  if (!made) return Problem(error == EEXIST ? FileProblem::kExists : ProblemOf(error, resolved));
  seam::Done(FileOp::kMakeFolder, path);
  return {};
}

FileStatus ChangeDirectory(const char* name) {
  const std::string path = Resolve(name);
  if (path.empty()) return Problem(FileProblem::kBadName);
  // The name is meant to be a folder: missing, it is a missing folder.
  if (::chdir(path.c_str()) != 0) {
    return Problem(errno == ENOENT ? FileProblem::kNoSuchFolder : ProblemOfErrno(errno));
  }
  return {};
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

}  // namespace zemlo::files
