// The platform's own file calls; names are used exactly as the project file gives them.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "files/file_layer.h"
#include "files/file_names.h"
#include "files/file_seam.h"

namespace zemlo::files {

FileProblem ProblemOfSystemError(std::uint32_t code) {
  switch (code) {
    case ERROR_SUCCESS:
      return FileProblem::kNone;
    case ERROR_FILE_NOT_FOUND:
      return FileProblem::kNoSuchFile;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
      return FileProblem::kNoSuchFolder;
    case ERROR_DIRECTORY:
      return FileProblem::kNotAFolder;
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
      return FileProblem::kPermissionDenied;
    case ERROR_CANT_ACCESS_FILE:
    case ERROR_CANT_RESOLVE_FILENAME:
      return FileProblem::kLinkRefused;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return FileProblem::kExists;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return FileProblem::kDiskFull;
    case ERROR_FILE_TOO_LARGE:
      return FileProblem::kTooLarge;
    case ERROR_WRITE_PROTECT:
      return FileProblem::kReadOnly;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
      return FileProblem::kInUse;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW:
      return FileProblem::kNameTooLong;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
      return FileProblem::kBadName;
    case ERROR_TOO_MANY_OPEN_FILES:
      return FileProblem::kTooManyOpen;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
      return FileProblem::kBrokenPipe;
    case ERROR_CRC:
    case ERROR_IO_DEVICE:
    case ERROR_NOT_READY:
      return FileProblem::kInputOutput;
    default:
      return FileProblem::kOther;
  }
}

std::string Resolve(const char* name) { return name == nullptr ? std::string() : name; }

namespace {

// Notes `problem` where the caller asked for it and gives the failed result.
template <typename Result>
Result Fail(FileProblem* out, FileProblem problem, Result result) {
  if (out != nullptr) *out = problem;
  return result;
}

FileProblem LastProblem() { return ProblemOfSystemError(GetLastError()); }

}  // namespace

std::FILE* OpenFile(const char* name, const char* mode, FileProblem* problem) {
  if (name == nullptr || name[0] == '\0' || mode == nullptr) {
    return Fail(problem, FileProblem::kBadName, nullptr);
  }
  const bool update = std::strchr(mode, '+') != nullptr;
  DWORD access = 0;
  DWORD disposition = 0;
  int flags = _O_BINARY;
  switch (mode[0]) {
    case 'r':
      access = GENERIC_READ | (update ? GENERIC_WRITE : 0);
      disposition = OPEN_EXISTING;
      flags |= update ? _O_RDWR : _O_RDONLY;
      break;
    case 'w':
      access = GENERIC_WRITE | (update ? GENERIC_READ : 0);
      disposition = CREATE_ALWAYS;
      flags |= update ? _O_RDWR : _O_WRONLY;
      break;
    case 'a':
      access = GENERIC_WRITE | (update ? GENERIC_READ : 0);
      disposition = OPEN_ALWAYS;
      flags |= (update ? _O_RDWR : _O_WRONLY) | _O_APPEND;
      break;
    default:
      return Fail(problem, FileProblem::kOther, nullptr);
  }
  if (!seam::Allow(FileOp::kOpen, name)) return Fail(problem, FileProblem::kOther, nullptr);
  // Opened by hand rather than with fopen so that the kind of file is known before a byte
  // moves: a device ("CON", "NUL", "COM1", even with an extension), a pipe or a folder would
  // be read or written as if it held a library file, and a console or pipe read can wait
  // for good. Only files on disk are used. The sharing is what fopen grants.
  const HANDLE handle = CreateFileA(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    // A folder is refused as access denied; the user is better told what stands there.
    const DWORD attributes = GetFileAttributesA(name);
    const bool folder = error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
                        (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return Fail(problem, folder ? FileProblem::kIsAFolder : ProblemOfSystemError(error), nullptr);
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    return Fail(problem, FileProblem::kNotRegularFile, nullptr);
  }
  if (!GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    CloseHandle(handle);
    return Fail(problem, FileProblem::kIsAFolder, nullptr);
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
  if (fd == -1) {
    CloseHandle(handle);
    return Fail(problem, FileProblem::kTooManyOpen, nullptr);
  }
  std::FILE* file = _fdopen(fd, mode);
  if (file == nullptr) {
    _close(fd);  // closes the handle too
    return Fail(problem, FileProblem::kTooManyOpen, nullptr);
  }
  seam::Done(FileOp::kOpen, name, mode, file);
  return file;
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
bool FlushToDisk(std::FILE* file) {
  if (file == nullptr || !seam::Allow(FileOp::kFlush, {}, file)) return false;
  if (std::fflush(file) != 0 || _commit(_fileno(file)) != 0) return false;
  seam::Done(FileOp::kFlush, {}, {}, file);
  return true;
}

bool FlushFilesToDisk(const std::vector<std::string>& names) {
  bool flushed = true;
  for (const std::string& name : names) {
    if (name.empty() || !seam::Allow(FileOp::kFlushFile, name)) {
      flushed = false;
      continue;
    }
    // FlushFileBuffers needs a handle that may write; the file is not changed. A link (a
    // reparse point) is not followed: only what the library wrote is flushed.
    const HANDLE file =
        CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      flushed = false;
      continue;
    }
    const bool done = FlushFileBuffers(file) != 0;
    CloseHandle(file);
    if (!done) {
      flushed = false;
      continue;
    }
    seam::Done(FileOp::kFlushFile, name);
    // The folder's entries: see FlushFolderOf.
    seam::Done(FileOp::kFolderFlush, name);
  }
  return flushed;
}

bool Exists(const char* name) {
  if (name == nullptr || name[0] == '\0') return false;
  return GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES;
}

// Wine reports every regular file with the archive attribute (it keeps only hidden and
// system), so there every source counts as changed and is converted again.
bool ArchiveAttributeSet(const char* name) {
  if (name == nullptr || name[0] == '\0') return true;
  const DWORD attributes = GetFileAttributesA(name);
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  return (attributes & FILE_ATTRIBUTE_ARCHIVE) != 0;
}

bool SetAttributesNormal(const char* name) {
  if (name == nullptr || name[0] == '\0' || !seam::Allow(FileOp::kSetNormal, name)) return false;
  if (SetFileAttributesA(name, FILE_ATTRIBUTE_NORMAL) == 0) return false;
  seam::Done(FileOp::kSetNormal, name);
  return true;
}

bool RenameFile(const char* from, const char* to) {
  if (from == nullptr || to == nullptr || from[0] == '\0' || to[0] == '\0') return false;
  if (!seam::Allow(FileOp::kRename, from)) return false;
  // MoveFileA fails when the target exists.
  if (MoveFileA(from, to) == 0) return false;
  seam::Done(FileOp::kRename, from, to);
  return true;
}

bool ReplaceFileAtomically(const char* from, const char* to) {
  if (from == nullptr || to == nullptr || from[0] == '\0' || to[0] == '\0') return false;
  if (!seam::Allow(FileOp::kReplace, from)) return false;
  if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
    return false;
  }
  seam::Done(FileOp::kReplace, from, to);
  return true;
}

bool RemoveFile(const char* name) {
  if (name == nullptr || name[0] == '\0') return false;
  // Most removals find nothing (an entry file a run never wrote): no change to show.
  if (GetFileAttributesA(name) == INVALID_FILE_ATTRIBUTES) return false;
  if (!seam::Allow(FileOp::kRemove, name)) return false;
  if (DeleteFileA(name) == 0) return false;
  seam::Done(FileOp::kRemove, name);
  return true;
}

// Windows has no call that flushes a folder's entries. NTFS logs the changes to its folders
// in the order they are made, and a FlushFileBuffers or a write-through move
// (ReplaceFileAtomically) commits that log up to itself, so a change to a folder is not lost
// while a later flushed one is kept. FAT media keep no log: there a power cut may lose any
// change not yet written back, whatever a program does.
bool FlushFolderOf(const char* name) {
  if (name == nullptr || name[0] == '\0' || !seam::Allow(FileOp::kFolderFlush, name)) return false;
  seam::Done(FileOp::kFolderFlush, name);
  return true;
}

bool MakeDirectory(const char* name) {
  if (name == nullptr || name[0] == '\0' || !seam::Allow(FileOp::kMakeFolder, name)) return false;
  if (CreateDirectoryA(name, nullptr) == 0) return false;
  seam::Done(FileOp::kMakeFolder, name);
  return true;
}

bool ChangeDirectory(const char* name) {
  if (name == nullptr || name[0] == '\0') return false;
  return SetCurrentDirectoryA(name) != 0;
}

std::string CurrentDirectory() {
  const DWORD needed = GetCurrentDirectoryA(0, nullptr);
  if (needed == 0) return {};
  std::string path(needed, '\0');
  const DWORD written = GetCurrentDirectoryA(needed, path.data());
  if (written == 0 || written >= needed) return {};
  path.resize(written);
  return path;
}

std::uint64_t ProcessId() { return GetCurrentProcessId(); }

namespace {

// A byte range far beyond any content: locks on Windows are mandatory for the bytes they
// cover, so the holder's process id at the start of the file stays readable.
constexpr DWORD kLockOffsetHigh = 1;
constexpr DWORD kLockLength = 1;

OVERLAPPED LockRange() {
  OVERLAPPED range{};
  range.Offset = 0;
  range.OffsetHigh = kLockOffsetHigh;
  return range;
}

// The system's words for `error`, without the line end and full stop they come with.
std::string SystemReason(DWORD error) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string reason = text != nullptr ? std::string(text, length) : std::string();
  if (text != nullptr) LocalFree(text);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                             reason.back() == '.' || reason.back() == ' ')) {
    reason.pop_back();
  }
  return reason;
}

// What a handle opened with FILE_FLAG_OPEN_REPARSE_POINT stands for, when it is not a plain
// file on disk: a symbolic link or junction itself, another reparse point (a placeholder of
// a file kept elsewhere), a folder, a device ("NUL.lock" is the null device) or a pipe.
FileLock::Refusal RefusalOf(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info)) {
    return FileLock::Refusal::kNotRegularFile;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    const bool tagged = GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag);
    const bool link = !tagged || tag.ReparseTag == IO_REPARSE_TAG_SYMLINK ||
                      tag.ReparseTag == IO_REPARSE_TAG_MOUNT_POINT;
    return link ? FileLock::Refusal::kSymbolicLink : FileLock::Refusal::kNotRegularFile;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return FileLock::Refusal::kNotRegularFile;
  }
  return FileLock::Refusal::kNone;
}

}  // namespace

FileLock::Result FileLock::Refuse(Refusal refusal, std::string system_reason) {
  refusal_ = refusal;
  system_reason_ = std::move(system_reason);
  return Result::kUnavailable;
}

FileLock::Result FileLock::Lock(const char* name) {
  Unlock();
  refusal_ = Refusal::kNone;
  system_reason_.clear();
  if (name == nullptr || name[0] == '\0') return Refuse(Refusal::kCannotOpen);
  constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  // FILE_FLAG_OPEN_REPARSE_POINT: a link planted at the name is opened itself, to be refused
  // below, never followed to a file it would empty or create elsewhere.
  constexpr DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
  HANDLE file = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, kShare, nullptr, OPEN_ALWAYS,
                            kFlags, nullptr);
  const DWORD open_error = file == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
  // A library on a read-only medium can still be locked for reading.
  if (file == INVALID_HANDLE_VALUE) {
    file = CreateFileA(name, GENERIC_READ, kShare, nullptr, OPEN_EXISTING, kFlags, nullptr);
  }
  if (file == INVALID_HANDLE_VALUE) {
    // A folder cannot be opened as a file at all; its attributes (the link's own, for a
    // link) say what stands there.
    const DWORD attributes = GetFileAttributesA(name);
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return Refuse(Refusal::kSymbolicLink);
      if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return Refuse(Refusal::kNotRegularFile);
    }
    return Refuse(Refusal::kCannotOpen, SystemReason(open_error));
  }
  if (const Refusal refusal = RefusalOf(file); refusal != Refusal::kNone) {
    CloseHandle(file);
    return Refuse(refusal);
  }
  OVERLAPPED range = LockRange();
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, kLockLength, 0,
                  &range)) {
    const DWORD error = GetLastError();
    CloseHandle(file);
    if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) return Result::kBusy;
    return Refuse(Refusal::kCannotLock, SystemReason(error));
  }
  handle_ = reinterpret_cast<std::intptr_t>(file);
  return Result::kLocked;
}

void FileLock::Unlock() {
  if (handle_ == kNoHandle) return;
  HANDLE file = reinterpret_cast<HANDLE>(handle_);
  OVERLAPPED range = LockRange();
  UnlockFileEx(file, 0, kLockLength, 0, &range);
  CloseHandle(file);
  handle_ = kNoHandle;
}

bool FileLock::WriteContent(std::string_view text) {
  if (handle_ == kNoHandle) return false;
  HANDLE file = reinterpret_cast<HANDLE>(handle_);
  if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
      !SetEndOfFile(file)) {
    return false;
  }
  DWORD written = 0;
  return text.empty() ||
         (WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
          written == text.size());
}

bool IsSymbolicLink(const char* name) {
  if (name == nullptr || name[0] == '\0') return false;
  const DWORD attributes = GetFileAttributesA(name);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace zemlo::files

#include <algorithm>
#include <vector>

// ---- Outputs ----------------------------------------------------------------------------
// Each folder on the way is looked at before it is used: one that is a reparse point (a
// symbolic link or a junction) is refused. The file is created with CREATE_NEW, which fails
// on anything standing at its name, and FILE_FLAG_OPEN_REPARSE_POINT, so that nothing is
// opened through a link. Unlike the POSIX half this looks at each folder by its whole name,
// so a folder swapped for a link between the look and the use is not noticed.

namespace zemlo::files {
namespace {

// Beside a file being replaced; the move over it never crosses volumes.
constexpr const char* kOutputTemporarySuffix = ".zgl-out";

// The parts of a relative output name (SplitRelativeName); a name on a drive or naming a
// stream of a file (a ":" anywhere) is no relative name here.
bool SplitOutputName(const char* name, std::vector<std::string>& parts) {
  return name != nullptr && std::strchr(name, ':') == nullptr && SplitRelativeName(name, parts);
}

enum class Kind { kMissing, kFile, kFolder, kLink, kError };

Kind KindAt(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Kind::kMissing
                                                                          : Kind::kError;
  }
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return Kind::kLink;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return Kind::kFolder;
  return Kind::kFile;
}

std::string BaseOf(const char* base) {
  std::string path = base == nullptr ? std::string() : base;
  if (!path.empty() && path.back() != '\\' && path.back() != '/') path += '\\';
  return path;
}

// Through the folders of `parts` but the last (all with `all`), made when missing and `make`;
// `path` ends up naming the last folder reached (ending in '\\'), `relative` the same below
// the base.
OutputResult WalkFolders(const std::vector<std::string>& parts, bool all, bool make,
                         std::string& path, std::string& relative, std::string* blocker,
                         bool* missing = nullptr, FileProblem* problem = nullptr) {
  const std::size_t count = all ? parts.size() : parts.size() - 1;
  for (std::size_t i = 0; i < count; ++i) {
    const std::string folder = path + parts[i];
    Kind kind = KindAt(folder);
    if (kind == Kind::kMissing && make) {
      CreateDirectoryA(folder.c_str(), nullptr);
      kind = KindAt(folder);
    }
    switch (kind) {
      case Kind::kFolder:
        break;
      case Kind::kLink:
        if (blocker != nullptr) *blocker = relative + parts[i];
        return OutputResult::kLinkInTheWay;
      case Kind::kMissing:
        if (missing != nullptr) *missing = true;
        return Fail(problem, FileProblem::kNoSuchFolder, OutputResult::kFailed);
      case Kind::kFile:
        if (blocker != nullptr) *blocker = relative + parts[i];
        return OutputResult::kExists;
      case Kind::kError:
        return Fail(problem, LastProblem(), OutputResult::kFailed);
    }
    path = folder + "\\";
    relative += parts[i] + "\\";
  }
  return OutputResult::kWritten;
}

OutputResult CreateOutput(const std::string& path, const std::uint8_t* data, std::size_t size,
                          FileProblem* problem) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
      return Fail(problem, ProblemOfSystemError(error), OutputResult::kFailed);
    }
    return KindAt(path) == Kind::kLink ? OutputResult::kLinkInTheWay : OutputResult::kExists;
  }
  // A device name ("NUL", "COM1.pcx") opens the device: nothing is written there.
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return Fail(problem, FileProblem::kNotRegularFile, OutputResult::kFailed);
  }
  bool ok = true;
  FileProblem why = FileProblem::kOther;
  while (ok && size > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    DWORD written = 0;
    ok = WriteFile(file, data, chunk, &written, nullptr) && written == chunk;
    if (!ok)
      why = written < chunk && GetLastError() == ERROR_SUCCESS ? FileProblem::kDiskFull
                                                               : LastProblem();
    data += chunk;
    size -= chunk;
  }
  if (!CloseHandle(file) && ok) {
    why = LastProblem();
    ok = false;
  }
  if (!ok) DeleteFileA(path.c_str());
  return ok ? OutputResult::kWritten : Fail(problem, why, OutputResult::kFailed);
}

}  // namespace

OutputResult WriteOutputFile(const char* base, const char* name, const std::uint8_t* data,
                             std::size_t size, OutputMode mode, bool make_folders,
                             std::string* blocker, FileProblem* problem) {
  if (!seam::Allow(FileOp::kOpen, name == nullptr ? std::string() : name)) {
    return Fail(problem, FileProblem::kOther, OutputResult::kFailed);
  }
  std::vector<std::string> parts;
  std::string path = BaseOf(base);
  if (path.empty() || (data == nullptr && size > 0) || !SplitOutputName(name, parts)) {
    return Fail(problem, FileProblem::kBadName, OutputResult::kFailed);
  }
  std::string relative;
  const OutputResult way =
      WalkFolders(parts, false, make_folders, path, relative, blocker, nullptr, problem);
  if (way != OutputResult::kWritten) return way;
  const std::string target = path + parts.back();
  const auto blocked = [&](OutputResult result) {
    if (blocker != nullptr) *blocker = relative + parts.back();
    return result;
  };
  switch (KindAt(target)) {
    case Kind::kMissing: {
      const OutputResult made = CreateOutput(target, data, size, problem);
      return made == OutputResult::kWritten || made == OutputResult::kFailed ? made : blocked(made);
    }
    case Kind::kLink:
      return blocked(OutputResult::kLinkInTheWay);
    case Kind::kFolder:
      return blocked(OutputResult::kExists);
    case Kind::kError:
      return Fail(problem, LastProblem(), OutputResult::kFailed);
    case Kind::kFile:
      break;
  }
  if (mode == OutputMode::kCreateNew) return blocked(OutputResult::kExists);
  // Moved over the file in one step; MoveFileEx replaces the entry at the name (should it
  // have become a link, the link itself), never a link's target.
  const std::string temporary = target + kOutputTemporarySuffix;
  DeleteFileA(temporary.c_str());
  FileProblem why = FileProblem::kOther;
  if (CreateOutput(temporary, data, size, &why) != OutputResult::kWritten) {
    return Fail(problem, why, OutputResult::kFailed);
  }
  if (!MoveFileExA(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    why = LastProblem();
    DeleteFileA(temporary.c_str());
    return Fail(problem, why, OutputResult::kFailed);
  }
  return OutputResult::kWritten;
}

OutputResult MakeOutputFolder(const char* base, const char* name, std::string* blocker) {
  if (!seam::Allow(FileOp::kMakeFolder, name == nullptr ? std::string() : name)) {
    return OutputResult::kFailed;
  }
  std::vector<std::string> parts;
  std::string path = BaseOf(base);
  if (path.empty() || !SplitOutputName(name, parts)) return OutputResult::kFailed;
  std::string relative;
  return WalkFolders(parts, true, true, path, relative, blocker);
}

OutputState ProbeOutput(const char* base, const char* name, std::string* blocker) {
  std::vector<std::string> parts;
  std::string path = BaseOf(base);
  if (path.empty() || !SplitOutputName(name, parts)) return OutputState::kOther;
  std::string relative;
  bool missing = false;
  switch (WalkFolders(parts, false, false, path, relative, blocker, &missing)) {
    case OutputResult::kWritten:
      break;
    case OutputResult::kLinkInTheWay:
      return OutputState::kLink;
    case OutputResult::kExists:
      return OutputState::kOther;
    case OutputResult::kFailed:
      return missing ? OutputState::kMissing : OutputState::kOther;
  }
  const Kind kind = KindAt(path + parts.back());
  if (kind != Kind::kMissing && blocker != nullptr) *blocker = relative + parts.back();
  switch (kind) {
    case Kind::kMissing:
      return OutputState::kMissing;
    case Kind::kFile:
      return OutputState::kFile;
    case Kind::kLink:
      return OutputState::kLink;
    default:
      return OutputState::kOther;
  }
}

}  // namespace zemlo::files
