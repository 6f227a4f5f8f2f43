// All file access of the core goes through here. The Windows half calls the platform; the
// POSIX half behaves the same for project files written on Windows: "\" separates directories,
// a name that does not exist as written is matched case-insensitively component by component,
// a rename never replaces an existing file, and the archive attribute is emulated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "files/file_problem.h"

namespace zemlo::files {

// What a call that changes files gives back: nothing, or why it failed.
using FileStatus = Result<void, FileProblem>;

// The name as the platform should open it (on POSIX: separators mapped and existing
// components matched case-insensitively; on Windows unchanged).
[[nodiscard]] std::string Resolve(const char* name);

// fopen through Resolve; modes as for std::fopen ("rb", "wb", ...). The stream (never
// nullptr), or why not: anything that is not a regular file (a folder, a FIFO, a device) is
// refused without waiting, so opening never blocks, whatever stands at the name.
[[nodiscard]] Result<std::FILE*, FileProblem> OpenFile(const char* name, const char* mode);

// Positions in open streams, as 64-bit numbers on every platform: std::fseek and std::ftell
// take a long, which has 32 bits on Windows and would cut positions past 2 GiB.
// Moves to `position` bytes from the start; false for a negative position or when the stream
// refuses. A position past the end is allowed, as with std::fseek; reading there gives nothing.
[[nodiscard]] bool SeekTo(std::FILE* file, std::int64_t position);
// Where the stream stands, or nullopt when it cannot tell.
[[nodiscard]] std::optional<std::int64_t> Tell(std::FILE* file);
// Moves to the end of the stream and gives its length, or nullopt when it cannot.
[[nodiscard]] std::optional<std::int64_t> SeekToEnd(std::FILE* file);

// Reading and writing open streams (std::fread and std::fwrite through the layer's seam):
// the count of bytes read; a failure unless every byte was written.
[[nodiscard]] std::size_t ReadBytes(std::FILE* file, void* data, std::size_t length);
[[nodiscard]] FileStatus WriteBytes(std::FILE* file, const void* data, std::size_t length);
// std::fclose through the seam; a failure when buffered bytes could not be written. The stream
// is gone either way.
[[nodiscard]] FileStatus CloseFile(std::FILE* file);

// Pushes what was written to `file` through to the disk, so that a following
// ReplaceFileAtomically never exposes a half-written file after a crash.
[[nodiscard]] FileStatus FlushToDisk(std::FILE* file);

// The many files a commit relies on (a block's single entry files) reach the disk before it,
// the cheapest way the system has: FlushBeforeCommit is called with each file's stream before
// it is moved into place, FlushFilesToDisk with all their names before the commit. POSIX
// flushes nothing at the first and everything at the second (Linux: one syncfs per file
// system, for a hundred files). Windows flushes each file through its own stream at the first,
// since flushing it by name would open it once more, and at the second has only the folders'
// entries left, which NTFS logs in the order they change (see FlushFolderOf).
[[nodiscard]] FileStatus FlushBeforeCommit(std::FILE* file);
[[nodiscard]] bool FlushFilesToDisk(const std::vector<std::string>& names);

// A file or directory of that name exists.
[[nodiscard]] bool Exists(const char* name);
// The archive attribute: set when the file changed since its attributes were last set to
// normal. Where it cannot be known it counts as set, so the source is converted again.
[[nodiscard]] bool ArchiveAttributeSet(const char* name);
// Attributes to normal: clears the archive attribute.
[[nodiscard]] bool SetAttributesNormal(const char* name);

// Fails when `to` exists (kExists) or `from` is missing, as on Windows.
[[nodiscard]] FileStatus RenameFile(const char* from, const char* to);
// Moves `from` over `to` in one step, replacing `to`; used to replace whole files atomically.
[[nodiscard]] FileStatus ReplaceFileAtomically(const char* from, const char* to);

// A whole file written anew beside the one it replaces, under a temporary name of the
// library's own making: the folder may come from a stranger, who may have put a link there to
// have our bytes written wherever it points. Whatever stands at the name is removed first (a
// leftover of a killed run, or such a link: the link itself, never what it points to) and the
// file is created exclusively, so it is never opened through a link; a folder there is
// refused. The stream is open for writing.
[[nodiscard]] Result<std::FILE*, FileProblem> OpenReplacement(const char* name);
// Moves the file that `file` (from OpenReplacement of `from`) holds over `to` in one step, as
// ReplaceFileAtomically, and closes the stream, which is gone either way. Every byte written
// is in the file before it moves; when one could not be, nothing moves. (Windows moves it
// through the open stream: a move by name would open it once more.)
[[nodiscard]] FileStatus MoveOverAndClose(std::FILE* file, const char* from, const char* to);
// Fails (kNoSuchFile, kNoSuchFolder) when nothing stands at the name.
[[nodiscard]] FileStatus RemoveFile(const char* name);
// Makes the renames and deletions done so far in the folder that holds `name` survive a
// power loss. Where a later step relies on a rename or a removal (a new file in place, a
// temporary gone), this comes between them: without it a file system that does not keep
// its folders' changes in order may keep the later step and lose the earlier one.
[[nodiscard]] FileStatus FlushFolderOf(const char* name);
// Fails (kExists) when something stands at the name already.
[[nodiscard]] FileStatus MakeDirectory(const char* name);
[[nodiscard]] FileStatus ChangeDirectory(const char* name);
[[nodiscard]] std::string CurrentDirectory();

// This process's id, as the system's tools show it.
[[nodiscard]] std::uint64_t ProcessId();

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
  [[nodiscard]] Result Lock(const char* name);
  // Gives the lock up and closes the file; nothing happens when none is held.
  void Unlock();
  bool locked() const { return handle_ != kNoHandle; }
  // Replaces the locked file's content with `text` (false when it could not be written).
  [[nodiscard]] bool WriteContent(std::string_view text);
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

// The name itself is a symbolic link (on Windows any reparse point: a symbolic link or a
// junction), whether or not what it points to exists. Opening and the other calls follow
// such a link; callers that must never act through one ask first.
[[nodiscard]] bool IsSymbolicLink(const char* name);

}  // namespace zemlo::files

namespace zemlo::files {

// ---- Outputs ----------------------------------------------------------------------------
// The files made for the user (exported pictures, a saved picture, a font, a report) are
// only ever created as new regular files: never written through a link, whether the link
// stands at the file's name or at a folder on the way to it. `base` is a folder the user
// named on the command line or in a dialog and is used as the system finds it; `name` is
// relative to it ('/' or '\\' between folders) and comes from a project or from us, so none
// of its folders is followed when it is a link. "." and ".." are taken as they stand (".."
// reaches a real folder above, never a link's target); an absolute `name` is refused.

enum class OutputResult {
  kWritten,       // the file now holds the data
  kExists,        // something stands at the name (replacing: something that is no file)
  kLinkInTheWay,  // a link stands at the name or at a folder on the way
  kFailed,        // a folder is missing or no folder, the name is unusable, or a write failed
};

enum class OutputMode {
  kCreateNew,  // only where nothing stands yet
  kReplace,    // also over an existing regular file: written beside it, then moved over it
};

// Writes `size` bytes at `data` as the file `name` under `base`. With `make_folders` the
// missing folders on the way are made (never through a link either). On kExists and
// kLinkInTheWay `blocker` (if given) receives the part of `name` up to what stands in the
// way, so that the message can name it; on kFailed `problem` (if given) says why. Nothing is
// left behind when the result is not kWritten.
[[nodiscard]] OutputResult WriteOutputFile(const char* base, const char* name,
                                           const std::uint8_t* data, std::size_t size,
                                           OutputMode mode, bool make_folders = false,
                                           std::string* blocker = nullptr,
                                           FileProblem* problem = nullptr);

// Makes the folder `name` under `base` and every folder on the way; folders that exist are
// fine, links are not. kWritten when the folder stands at the end.
[[nodiscard]] OutputResult MakeOutputFolder(const char* base, const char* name,
                                            std::string* blocker = nullptr);

// What stands at `name` under `base`, looking at no link's target on the way.
enum class OutputState {
  kMissing,  // nothing (also when a folder on the way is missing)
  kFile,     // a regular file
  kLink,     // a link, at the name or at a folder on the way
  kOther,    // a folder, a device, or a folder on the way that is no folder
};
[[nodiscard]] OutputState ProbeOutput(const char* base, const char* name,
                                      std::string* blocker = nullptr);

}  // namespace zemlo::files
