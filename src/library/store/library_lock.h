// Two runs on one library would tear it apart, and the recovery of an interrupted block
// rewrite must never run beside a live one. Every command that reads or writes a library
// therefore holds this lock: an exclusive system lock on a file beside the offsets file, which
// the system releases when the process ends however it ends, so it can never go stale.
#pragma once

#include <string>

#include "core/status_port.h"
#include "files/file_layer.h"

namespace zemlo {

// Appended to the offsets file's name for the lock file.
inline constexpr const char* kLockFileSuffix = ".lock";
// The lock file when a project names no offsets file.
inline constexpr const char* kDefaultLockFileName = "zgl.lock";

// Shown (with the offsets file's name and, where known, the holder's process id) when the
// library is locked by someone else.
inline constexpr const char* kLibraryBusyFormat =
    "Library %s: another run is working on this library%s. Nothing was changed.";
inline constexpr const char* kLibraryBusyProcessFormat = " (process %llu)";
// Shown (with the offsets file's name, the lock file's name and why) when the lock file is
// nothing that can be locked: the command does not go on, since a library nobody can lock is
// one that another run may be changing.
inline constexpr const char* kLibraryUnlockableFormat =
    "Library %s: cannot lock %s: %s. Nothing was changed.";
inline constexpr const char* kLockIsLinkReason = "it is a symbolic link";
inline constexpr const char* kLockNotRegularReason = "it is not a regular file";
inline constexpr const char* kLockCannotOpenReason = "it cannot be created or opened";
inline constexpr const char* kLockCannotLockReason = "the system cannot lock it";

[[nodiscard]] std::string LockFileNameOf(const char* offsets_name);

class LibraryLock {
 public:
  enum class Outcome {
    kHeld,        // this object holds the library
    kBusy,        // another run holds it
    kUnlockable,  // the lock file is a link, no regular file, or cannot be opened: refused
  };

  LibraryLock() = default;
  ~LibraryLock() { Release(); }
  LibraryLock(const LibraryLock&) = delete;
  LibraryLock& operator=(const LibraryLock&) = delete;

  // Locks the library whose offsets file is `offsets_name`, giving up a lock held before.
  // When it is busy and `port` is given, the warning naming the holder has been shown; when
  // it is unlockable, the one saying why.
  [[nodiscard]] Outcome Acquire(const char* offsets_name, StatusPort* port);
  // Empties the lock file and gives the lock up; nothing happens when none is held.
  void Release();
  [[nodiscard]] bool held() const { return lock_.locked(); }

 private:
  files::FileLock lock_;
};

}  // namespace zemlo
