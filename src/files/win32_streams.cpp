// Streams on Windows: opened by hand so that only files on disk are used, positioned with
// 64-bit offsets, and flushed through to the disk.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "files/file_layer.h"
#include "files/file_seam.h"
#include "files/win32_listings.h"
#include "files/win32_problems.h"

namespace zemlo::files {

namespace {

// How CreateFileA and the C library are asked for a stream of an fopen mode.
struct OpenMode {
  DWORD access = 0;
  DWORD disposition = 0;
  int flags = _O_BINARY;
};

std::optional<OpenMode> ModeOf(const char* mode) {
  const bool update = std::strchr(mode, '+') != nullptr;
  OpenMode m;
  switch (mode[0]) {
    case 'r':
      m.access = GENERIC_READ | (update ? GENERIC_WRITE : 0);
      m.disposition = OPEN_EXISTING;
      m.flags |= update ? _O_RDWR : _O_RDONLY;
      return m;
    case 'w':
      m.access = GENERIC_WRITE | (update ? GENERIC_READ : 0);
      m.disposition = CREATE_ALWAYS;
      m.flags |= update ? _O_RDWR : _O_WRONLY;
      return m;
    case 'a':
      m.access = GENERIC_WRITE | (update ? GENERIC_READ : 0);
      m.disposition = OPEN_ALWAYS;
      m.flags |= (update ? _O_RDWR : _O_WRONLY) | _O_APPEND;
      return m;
    default:
      return std::nullopt;
  }
}

Failure<FileProblem> Problem(FileProblem problem) { return ::zemlo::Fail(problem); }

}  // namespace

namespace {

Result<std::FILE*, FileProblem> OpenWith(const char* name, const char* mode, const OpenMode* how) {
  if (!seam::Allow(FileOp::kOpen, name)) return Problem(FileProblem::kOther);
  // A missing file is told from a kept listing of its folder where there is one: Wine would
  // read the whole folder to find it missing.
  if (how->disposition == OPEN_EXISTING) {
    if (const std::optional<DWORD> missing = ListedMissing(name)) {
      return Problem(ProblemOfSystemError(*missing));
    }
  }
  // Opened by hand rather than with fopen so that the kind of file is known before a byte
  // moves: a device ("CON", "NUL", "COM1", even with an extension), a pipe or a folder would
  // be read or written as if it held a library file, and a console or pipe read can wait
  // for good. Only files on disk are used. The sharing is what fopen grants.
  const HANDLE handle = CreateFileA(name, how->access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    how->disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (how->disposition != OPEN_EXISTING) EntriesChanged(name);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND && how->disposition == OPEN_EXISTING) FoundMissing(name);
    // A folder is refused as access denied; the user is better told what stands there. Only
    // then is the name looked up again: a missing name costs Wine a scan of its whole folder
    // (it matches names ignoring case), and a run asks after thousands of missing files.
    if (error == ERROR_ACCESS_DENIED) {
      const DWORD attributes = GetFileAttributesA(name);
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return Problem(FileProblem::kIsAFolder);
      }
    }
    return Problem(ProblemOfSystemError(error));
  }
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    return Problem(FileProblem::kNotRegularFile);
  }
  // The attributes alone: GetFileInformationByHandle also asks for the volume's serial
  // number, which Wine answers through its mount manager, another process, for every file
  // a run opens.
  FILE_BASIC_INFO basic{};
  if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) ||
      (basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    CloseHandle(handle);
    return Problem(FileProblem::kIsAFolder);
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), how->flags);
  if (fd == -1) {
    CloseHandle(handle);
    return Problem(FileProblem::kTooManyOpen);
  }
  std::FILE* file = _fdopen(fd, mode);
  if (file == nullptr) {
    _close(fd);  // closes the handle too
    return Problem(FileProblem::kTooManyOpen);
  }
  seam::Done(FileOp::kOpen, name, mode, file);
  return file;
}

// ERROR_SUCCESS once the file open as `handle` stands at `to`.
DWORD MoveOpenFile(HANDLE handle, const char* to) {
  const std::wstring wide = SystemName(to);
  if (wide.empty()) return ERROR_INVALID_NAME;
  const std::size_t bytes =
      offsetof(FILE_RENAME_INFO, FileName) + sizeof(WCHAR) * (wide.size() + 1);
  std::vector<std::uint64_t> storage((bytes + 7) / 8);  // aligned for the HANDLE it holds
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(storage.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(sizeof(WCHAR) * wide.size());
  std::copy(wide.begin(), wide.end(), info->FileName);
  info->FileName[wide.size()] = L'\0';
  if (!SetFileInformationByHandle(handle, FileRenameInfo, info, static_cast<DWORD>(bytes))) {
    return GetLastError();
  }
  return ERROR_SUCCESS;
}

}  // namespace

Result<std::FILE*, FileProblem> OpenFile(const char* name, const char* mode) {
  if (name == nullptr || name[0] == '\0' || mode == nullptr) return Problem(FileProblem::kBadName);
  const std::optional<OpenMode> how = ModeOf(mode);
  if (!how) return Problem(FileProblem::kOther);
  return OpenWith(name, mode, &*how);
}

Result<std::FILE*, FileProblem> OpenReplacement(const char* name) {
  if (name == nullptr || name[0] == '\0') return Problem(FileProblem::kBadName);
  // CREATE_NEW fails on anything at the name, a link included, so nothing is opened through
  // one. DELETE lets MoveOverAndClose move the file through this handle; while it is open,
  // another program's open of the temporary must share that right to be let in.
  const OpenMode how{GENERIC_WRITE | DELETE, CREATE_NEW, _O_BINARY | _O_WRONLY};
  auto opened = OpenWith(name, "wb", &how);
  if (opened || opened.error() != FileProblem::kExists) return opened;
  // A leftover or a planted link: the name itself goes (a folder stays, and is refused).
  if (const FileStatus removed = RemoveFile(name);
      !removed && removed.error() != FileProblem::kNoSuchFile) {
    return Problem(removed.error());
  }
  return OpenWith(name, "wb", &how);
}

FileStatus MoveOverAndClose(std::FILE* file, const char* from, const char* to) {
  if (file == nullptr) return Problem(FileProblem::kOther);
  if (from == nullptr || from[0] == '\0' || to == nullptr || to[0] == '\0') {
    (void)CloseFile(file);
    return Problem(FileProblem::kBadName);
  }
  // Every byte into the file before it moves: the close after the move has nothing left to
  // write, so it cannot lose any.
  errno = 0;
  if (std::fflush(file) != 0) {
    const FileProblem problem = errno != 0 ? ProblemOfErrno(errno) : FileProblem::kOther;
    (void)CloseFile(file);
    return Problem(problem);
  }
  // The observer hears of the close first, as POSIX makes the two (close, then move by name).
  const bool close_allowed = seam::Allow(FileOp::kClose, {}, file);
  seam::Done(FileOp::kClose, {}, {}, file);
  if (!close_allowed || !seam::Allow(FileOp::kReplace, from)) {
    std::fclose(file);
    return Problem(FileProblem::kOther);
  }
  const DWORD error = MoveOpenFile(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))), to);
  EntriesChanged(from);
  EntriesChanged(to);
  std::fclose(file);
  if (error != ERROR_SUCCESS) return Problem(ProblemOfSystemError(error));
  seam::Done(FileOp::kReplace, from, to);
  return {};
}

bool SeekTo(std::FILE* file, std::int64_t position) {
  if (file == nullptr || position < 0) return false;
  return _fseeki64(file, position, SEEK_SET) == 0;
}

std::optional<std::int64_t> Tell(std::FILE* file) {
  if (file == nullptr) return std::nullopt;
  const __int64 at = _ftelli64(file);
  if (at < 0) return std::nullopt;
  return static_cast<std::int64_t>(at);
}

std::optional<std::int64_t> SeekToEnd(std::FILE* file) {
  if (file == nullptr || _fseeki64(file, 0, SEEK_END) != 0) return std::nullopt;
  return Tell(file);
}

// _commit is FlushFileBuffers on the stream's handle.
FileStatus FlushToDisk(std::FILE* file) {
  if (file == nullptr || !seam::Allow(FileOp::kFlush, {}, file))
    return Problem(FileProblem::kOther);
  errno = 0;
  if (std::fflush(file) != 0 || _commit(_fileno(file)) != 0) {
    return Problem(errno != 0 ? ProblemOfErrno(errno) : FileProblem::kOther);
  }
  seam::Done(FileOp::kFlush, {}, {}, file);
  return {};
}

FileStatus FlushBeforeCommit(std::FILE* file) { return FlushToDisk(file); }

// Each file's bytes went to the disk through its own stream (FlushBeforeCommit) before it
// moved into place; the moves are in NTFS's log, in order (see FlushFolderOf).
bool FlushFilesToDisk(const std::vector<std::string>& names) {
  bool flushed = true;
  for (const std::string& name : names) flushed = FlushFolderOf(name.c_str()) && flushed;
  return flushed;
}

}  // namespace zemlo::files
