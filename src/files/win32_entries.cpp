// Entries on Windows: renames that never replace, moves over a file, removals and folders.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "files/file_layer.h"
#include "files/file_seam.h"
#include "files/win32_listings.h"
#include "files/win32_problems.h"

namespace zemlo::files {
namespace {

Failure<FileProblem> Problem(FileProblem problem) { return ::zemlo::Fail(problem); }

bool Unnamed(const char* name) { return name == nullptr || name[0] == '\0'; }

}  // namespace

FileStatus RenameFile(const char* from, const char* to) {
  if (Unnamed(from) || Unnamed(to)) return Problem(FileProblem::kBadName);
  if (!seam::Allow(FileOp::kRename, from)) return Problem(FileProblem::kOther);
  // MoveFileA fails when the target exists.
  const BOOL moved = MoveFileA(from, to);
  EntriesChanged(from);
  EntriesChanged(to);
  if (moved == 0) return Problem(LastProblem());
  seam::Done(FileOp::kRename, from, to);
  return {};
}

FileStatus ReplaceFileAtomically(const char* from, const char* to) {
  if (Unnamed(from) || Unnamed(to)) return Problem(FileProblem::kBadName);
  if (!seam::Allow(FileOp::kReplace, from)) return Problem(FileProblem::kOther);
  const BOOL moved = MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  EntriesChanged(from);
  EntriesChanged(to);
  if (moved == 0) return Problem(LastProblem());
  seam::Done(FileOp::kReplace, from, to);
  return {};
}

FileStatus RemoveFile(const char* name) {
  if (Unnamed(name)) return Problem(FileProblem::kBadName);
  // Most removals find nothing (an entry file a run never wrote): no change to show.
  if (AttributesOf(name) == INVALID_FILE_ATTRIBUTES) return Problem(LastProblem());
  if (!seam::Allow(FileOp::kRemove, name)) return Problem(FileProblem::kOther);
  const BOOL removed = DeleteFileA(name);
  EntriesChanged(name);
  if (removed == 0) return Problem(LastProblem());
  seam::Done(FileOp::kRemove, name);
  return {};
}

// Windows has no call that flushes a folder's entries. NTFS logs the changes to its folders
// in the order they are made, and a FlushFileBuffers or a write-through move
// (ReplaceFileAtomically) commits that log up to itself, so a change to a folder is not lost
// while a later flushed one is kept. FAT media keep no log: there a power cut may lose any
// change not yet written back, whatever a program does.
FileStatus FlushFolderOf(const char* name) {
  if (Unnamed(name)) return Problem(FileProblem::kBadName);
  if (!seam::Allow(FileOp::kFolderFlush, name)) return Problem(FileProblem::kOther);
  seam::Done(FileOp::kFolderFlush, name);
  return {};
}

FileStatus MakeDirectory(const char* name) {
  if (Unnamed(name)) return Problem(FileProblem::kBadName);
  if (!seam::Allow(FileOp::kMakeFolder, name)) return Problem(FileProblem::kOther);
  const BOOL made = CreateDirectoryA(name, nullptr);
  EntriesChanged(name);
  if (made == 0) return Problem(LastProblem());
  seam::Done(FileOp::kMakeFolder, name);
  return {};
}

FileStatus ChangeDirectory(const char* name) {
  if (Unnamed(name)) return Problem(FileProblem::kBadName);
  if (SetCurrentDirectoryA(name) == 0) {
    // The name is meant to be a folder: missing, it is a missing folder.
    const FileProblem problem = LastProblem();
    return Problem(problem == FileProblem::kNoSuchFile ? FileProblem::kNoSuchFolder : problem);
  }
  return {};
}

}  // namespace zemlo::files
