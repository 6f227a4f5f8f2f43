// All file access of the core goes through here. The Windows half calls the platform; the
// POSIX half behaves the same for project files written on Windows: "\" separates directories,
// a name that does not exist as written is matched case-insensitively component by component,
// a rename never replaces an existing file, and the archive attribute is emulated.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace zemlo::files {

// The name as the platform should open it (on POSIX: separators mapped and existing
// components matched case-insensitively; on Windows unchanged).
std::string Resolve(const char* name);

// fopen through Resolve; modes as for std::fopen ("rb", "wb", ...). nullptr on failure, and
// for anything that is not a regular file (a folder, a FIFO, a device), which is refused
// without waiting: opening never blocks, whatever stands at the name.
std::FILE* OpenFile(const char* name, const char* mode);

// Positions in open streams, as 64-bit numbers on every platform: std::fseek and std::ftell
// take a long, which has 32 bits on Windows and would cut positions past 2 GiB.
// Moves to `position` bytes from the start; false for a negative position or when the stream
// refuses. A position past the end is allowed, as with std::fseek; reading there gives nothing.
bool SeekTo(std::FILE* file, std::int64_t position);
// Where the stream stands, or nullopt when it cannot tell.
std::optional<std::int64_t> Tell(std::FILE* file);
// Moves to the end of the stream and gives its length, or nullopt when it cannot.
std::optional<std::int64_t> SeekToEnd(std::FILE* file);

// Pushes what was written to `file` through to the disk, so that a following
// ReplaceFileAtomically never exposes a half-written file after a crash.
bool FlushToDisk(std::FILE* file);

// A file or directory of that name exists.
bool Exists(const char* name);
// The archive attribute: set when the file changed since its attributes were last set to
// normal. Where it cannot be known it counts as set, so the source is converted again.
bool ArchiveAttributeSet(const char* name);
// Attributes to normal: clears the archive attribute.
bool SetAttributesNormal(const char* name);

// Fails when `to` exists or `from` is missing, as on Windows.
bool RenameFile(const char* from, const char* to);
// Moves `from` over `to` in one step, replacing `to`; used to replace whole files atomically.
bool ReplaceFileAtomically(const char* from, const char* to);
bool RemoveFile(const char* name);
// Makes the renames and deletions done so far in the folder that holds `name` survive a
// power loss (where the platform does not already do so when they happen).
bool FlushFolderOf(const char* name);
bool MakeDirectory(const char* name);
bool ChangeDirectory(const char* name);
std::string CurrentDirectory();

// This process's id, as the system's tools show it.
std::uint64_t ProcessId();

// An exclusive lock on a file, which the system gives up by itself when the process ends,
// however it ends, so a lock is never left behind. Only one FileLock holds a file at a time,
// also within one process. The file's content stays readable by others while it is locked.
class FileLock {
 public:
  enum class Result {
    kLocked,       // this object holds the lock
    kBusy,         // someone else holds it
    kUnavailable,  // refused: see refusal()
  };
  // Why the last Lock gave kUnavailable. The lock is never taken through a symbolic link (or
  // another reparse point) nor on anything but a regular file: a planted link would have the
  // holder's words written, or a file created, wherever it points.
  enum class Refusal {
    kNone,
    kSymbolicLink,    // the name is a symbolic link; nothing was opened through it
    kNotRegularFile,  // a folder, a FIFO, a device
    kCannotOpen,      // can be neither created nor opened; system_reason() may say why
    kCannotLock,      // opened, but the system cannot lock it there; system_reason() says why
  };

  FileLock() = default;
  ~FileLock() { Unlock(); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Opens the file (creating it when missing) and locks it without waiting. The name's last
  // part must be a regular file or nothing; a symbolic link there is never followed.
  Result Lock(const char* name);
  // Gives the lock up and closes the file; nothing happens when none is held.
  void Unlock();
  bool locked() const { return handle_ != kNoHandle; }
  // Replaces the locked file's content with `text` (false when it could not be written).
  bool WriteContent(std::string_view text);
  Refusal refusal() const { return refusal_; }
  // The system's words for kCannotOpen or kCannotLock ("No such file or directory"); empty
  // when unknown.
  const std::string& system_reason() const { return system_reason_; }

 private:
  static constexpr std::intptr_t kNoHandle = -1;
  // Notes why and returns kUnavailable.
  Result Refuse(Refusal refusal, std::string system_reason = {});

  std::intptr_t handle_ = kNoHandle;
  Refusal refusal_ = Refusal::kNone;
  std::string system_reason_;
};

}  // namespace zemlo::files
