// The platform's own file calls; names are used exactly as the project file gives them.
#include "files/file_layer.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

namespace zemlo::files {

std::string Resolve(const char* name) { return name == nullptr ? std::string() : name; }

std::FILE* OpenFile(const char* name, const char* mode) {
  if (name == nullptr || name[0] == '\0' || mode == nullptr) return nullptr;
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
      return nullptr;
  }
  // Opened by hand rather than with fopen so that the kind of file is known before a byte
  // moves: a device ("CON", "NUL", "COM1", even with an extension), a pipe or a folder would
  // be read or written as if it held a library file, and a console or pipe read can wait
  // for good. Only files on disk are used. The sharing is what fopen grants.
  const HANDLE handle = CreateFileA(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    CloseHandle(handle);
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
  if (fd == -1) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, mode);
  if (file == nullptr) _close(fd);  // closes the handle too
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

bool FlushToDisk(std::FILE* file) {
  if (file == nullptr || std::fflush(file) != 0) return false;
  return _commit(_fileno(file)) == 0;
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
  if (name == nullptr || name[0] == '\0') return false;
  return SetFileAttributesA(name, FILE_ATTRIBUTE_NORMAL) != 0;
}

bool RenameFile(const char* from, const char* to) {
  if (from == nullptr || to == nullptr || from[0] == '\0' || to[0] == '\0') return false;
  // MoveFileA fails when the target exists.
  return MoveFileA(from, to) != 0;
}

bool ReplaceFileAtomically(const char* from, const char* to) {
  if (from == nullptr || to == nullptr || from[0] == '\0' || to[0] == '\0') return false;
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool RemoveFile(const char* name) {
  if (name == nullptr || name[0] == '\0') return false;
  return DeleteFileA(name) != 0;
}

// Renames and deletions reach the disk in their order through the file system's journal, and
// the moves that must survive a power loss are written through (ReplaceFileAtomically).
bool FlushFolderOf(const char* name) { return name != nullptr && name[0] != '\0'; }

bool MakeDirectory(const char* name) {
  if (name == nullptr || name[0] == '\0') return false;
  return CreateDirectoryA(name, nullptr) != 0;
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
  return text.empty() || (WriteFile(file, text.data(), static_cast<DWORD>(text.size()),
                                    &written, nullptr) &&
                          written == text.size());
}

}  // namespace zemlo::files
