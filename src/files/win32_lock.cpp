// The lock on a library on Windows: a byte range locked on the file, which the system gives
// up when the process ends.
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
  EntriesChanged(name);
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

}  // namespace zemlo::files
